#include "app/stringgrid.h"

#include <QHeaderView>

StringGrid::StringGrid(QWidget* parent) : QTableWidget(parent) {
  horizontalHeader()->hide();
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
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

bool StringGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  if (index.isValid() && (trigger & editTriggers())) {
    bool canSelect = true;
    if (selectCell_) selectCell_(index.column(), index.row(), canSelect);
    if (!canSelect) return false;
  }
  return QTableWidget::edit(index, trigger, event);
}
