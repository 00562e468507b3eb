// A string grid: a table of texts addressed as Cells(column, row) with fixed
// (heading) rows and columns that belong to the grid, as row 0 and column 0.
#pragma once
#include <QPersistentModelIndex>
#include <QTableWidget>
#include <functional>

class StringGrid : public QTableWidget {
  Q_OBJECT
 public:
  // Asked before a cell becomes the current one: by a mouse click on it, by
  // the keys that move the current cell, and when the program moves it. Set
  // canSelect to false to refuse: the current cell stays where it was and
  // the refused cell cannot be edited. Fixed cells never become current and
  // are not asked about (a grid entered from the keyboard starts at the first
  // cell that is not fixed). Every mouse click asks, on the current cell too.
  // Editing the current cell needs no new question: the answer given when it
  // was selected holds.
  using SelectCellHandler = std::function<void(int col, int row, bool& canSelect)>;

  explicit StringGrid(QWidget* parent = nullptr);

  QString Cells(int col, int row) const;
  void setCells(int col, int row, const QString& text);
  int FixedRows() const { return fixedRows_; }
  int FixedCols() const { return fixedCols_; }
  void setFixed(int rows, int cols);
  void setSelectCellHandler(SelectCellHandler handler) { selectCell_ = std::move(handler); }
  // Cell editing on or off (on at first); the select-cell handler switches
  // it as the cell it is asked about needs.
  void setEditing(bool on) { editing_ = on; }
  bool editing() const { return editing_; }
  // A mouse press is being handled: a click asks about its cell even when
  // that cell is already the current one.
  bool pressing() const { return pressing_; }

  // The select rule of the program's grids: a cell of an `editable` column
  // below the heading row is typed in (canSelect set); any other is not, and
  // a click on one of column `toggleCol` below the headings switches its
  // text between `one` and `other`.
  void typeOrToggle(int col, int row, bool editable, bool& canSelect, int toggleCol,
                    const QString& one, const QString& other);

  // For the selection model: may `index` become the current cell (asks the
  // handler)? And the cell to go to for `wanted`: with no current cell yet
  // (the grid first entered from the keyboard) a fixed cell stands for the
  // first cell that is not fixed, as a grid starts there.
  bool mayBecomeCurrent(const QModelIndex& index);
  QModelIndex firstCellFor(const QModelIndex& wanted, const QModelIndex& current) const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;

 private:
  void styleCell(QTableWidgetItem* item, int col, int row) const;
  bool isFixed(const QModelIndex& index) const;
  bool ask(const QModelIndex& index);

  int fixedRows_ = 1;
  int fixedCols_ = 1;
  SelectCellHandler selectCell_;
  QPersistentModelIndex allowed_;  // the cell last allowed to become current
  bool editing_ = true;
  bool pressing_ = false;
};
