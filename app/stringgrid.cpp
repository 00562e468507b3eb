#include "app/stringgrid.h"

#include <QHeaderView>
#include <QItemSelectionModel>

namespace {

// Changes of the current cell pass the grid's question first, whoever makes
// them: the mouse, the keys, the program. A refused cell does not get the
// selection either, which the view sets right after the current cell.
class SelectCellGate final : public QItemSelectionModel {
 public:
  SelectCellGate(QAbstractItemModel* model, StringGrid* grid)
      : QItemSelectionModel(model, grid), grid_(grid) {}

  void setCurrentIndex(const QModelIndex& wanted, SelectionFlags command) override {
    const QModelIndex index = grid_->firstCellFor(wanted, currentIndex());
    if (index.isValid() && (index != currentIndex() || grid_->pressing()) &&
        !grid_->mayBecomeCurrent(index)) {
      refused_ = wanted;
      return;
    }
    refused_ = QPersistentModelIndex();
    QItemSelectionModel::setCurrentIndex(index, command);
  }
  void select(const QModelIndex& index, SelectionFlags command) override {
    if (index.isValid() && index == refused_) return;
    QItemSelectionModel::select(index, command);
  }
  void select(const QItemSelection& selection, SelectionFlags command) override {
    if (refused_.isValid() && selection.contains(refused_)) return;
    QItemSelectionModel::select(selection, command);
  }

 private:
  StringGrid* grid_;
  QPersistentModelIndex refused_;
};

}  // namespace

StringGrid::StringGrid(QWidget* parent) : QTableWidget(parent) {
  horizontalHeader()->hide();
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  QItemSelectionModel* own = selectionModel();
  setSelectionModel(new SelectCellGate(model(), this));
  delete own;
}

void StringGrid::setFixed(int rows, int cols) {
  fixedRows_ = rows;
  fixedCols_ = cols;
  for (int r = 0; r < rowCount(); ++r)
    for (int c = 0; c < columnCount(); ++c)
      if (QTableWidgetItem* it = item(r, c)) styleCell(it, c, r);
}

QString StringGrid::Cells(int col, int row) const {
  const QTableWidgetItem* it = item(row, col);
  return it ? it->text() : QString();
}

void StringGrid::setCells(int col, int row, const QString& text) {
  if (row < 0 || col < 0) return;
  if (row >= rowCount()) setRowCount(row + 1);
  if (col >= columnCount()) setColumnCount(col + 1);
  QTableWidgetItem* it = item(row, col);
  if (!it) {
    it = new QTableWidgetItem;
    styleCell(it, col, row);
    setItem(row, col, it);
  }
  it->setText(text);
}

void StringGrid::styleCell(QTableWidgetItem* it, int col, int row) const {
  if (row < fixedRows_ || col < fixedCols_) {
    it->setFlags(Qt::ItemIsEnabled);
    it->setBackground(palette().color(QPalette::Active, QPalette::Button));
  } else {
    it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
  }
}

bool StringGrid::isFixed(const QModelIndex& index) const {
  return index.row() < fixedRows_ || index.column() < fixedCols_;
}

bool StringGrid::ask(const QModelIndex& index) {
  bool canSelect = true;
  if (selectCell_) selectCell_(index.column(), index.row(), canSelect);
  return canSelect;
}

QModelIndex StringGrid::firstCellFor(const QModelIndex& wanted, const QModelIndex& current) const {
  if (current.isValid() || !wanted.isValid() || !isFixed(wanted)) return wanted;
  const QModelIndex first = model()->index(fixedRows_, fixedCols_);
  return first.isValid() ? first : wanted;
}

bool StringGrid::mayBecomeCurrent(const QModelIndex& index) {
  if (isFixed(index)) return false;
  if (!ask(index)) return false;
  allowed_ = index;
  return true;
}

void StringGrid::mousePressEvent(QMouseEvent* event) {
  pressing_ = true;
  try {
    QTableWidget::mousePressEvent(event);
  } catch (...) {
    pressing_ = false;
    throw;
  }
  pressing_ = false;
}

bool StringGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  if (index.isValid() && (trigger & editTriggers())) {
    if (!editing_) return false;
    // The current cell was allowed when it was selected; any other cell (an
    // edit the program starts elsewhere) is asked now.
    const bool allowed = (index == allowed_ && index == currentIndex()) || ask(index);
    if (!allowed) return false;
  }
  return QTableWidget::edit(index, trigger, event);
}

void StringGrid::typeOrToggle(int col, int row, bool editable, bool& canSelect, int toggleCol,
                              const QString& one, const QString& other) {
  if (row > 0 && editable) {
    canSelect = true;
    setEditing(true);
    return;
  }
  setEditing(false);
  if (col != toggleCol || row == 0) return;
  const QString text = Cells(col, row);
  if (text == one) setCells(col, row, other);
  else if (text == other) setCells(col, row, one);
}
