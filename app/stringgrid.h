// A string grid: a table of texts addressed as Cells(column, row) with fixed
// (heading) rows and columns that belong to the grid, as row 0 and column 0.
#pragma once
#include <QTableWidget>
#include <functional>

class StringGrid : public QTableWidget {
  Q_OBJECT
 public:
  // Asked before a cell is edited: set canSelect to false to refuse.
  using SelectCellHandler = std::function<void(int col, int row, bool& canSelect)>;

  explicit StringGrid(QWidget* parent = nullptr);

  QString Cells(int col, int row) const;
  void setCells(int col, int row, const QString& text);
  int FixedRows() const { return fixedRows_; }
  int FixedCols() const { return fixedCols_; }
  void setFixed(int rows, int cols);
  void setSelectCellHandler(SelectCellHandler handler) { selectCell_ = std::move(handler); }

 protected:
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;

 private:
  void styleCell(QTableWidgetItem* item, int col, int row) const;

  int fixedRows_ = 1;
  int fixedCols_ = 1;
  SelectCellHandler selectCell_;
};
