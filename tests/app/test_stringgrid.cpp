// The string grid's select-cell question: asked by clicks (every click, on
// the current cell too) and by the keys that move the current cell; a refused
// cell neither becomes current nor gets edited; fixed cells are never asked.
#include <QLineEdit>

#include "app/stringgrid.h"
#include "tests/app/harness.h"

using namespace km::test;

class TestStringGrid : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void clicksAndKeysAskBeforeACellBecomesCurrent();
  void editingFollowsTheAnswer();
};

namespace {

struct Grid {
  StringGrid grid;
  QList<QPoint> asked;
  QList<QPoint> refused;  // cells whose question is answered "no"
  Grid() {
    grid.setFixed(1, 1);
    grid.setRowCount(4);
    grid.setColumnCount(4);
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) grid.setCells(c, r, QStringLiteral("%1.%2").arg(c).arg(r));
    grid.setSelectCellHandler([this](int col, int row, bool& canSelect) {
      asked << QPoint(col, row);
      if (refused.contains(QPoint(col, row))) canSelect = false;
    });
    grid.resize(400, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    asked.clear();  // the focus made the first free cell current
  }
  // The text of the open cell editor, or a null string when none is open.
  QString editorText() const {
    for (QLineEdit* editor : grid.findChildren<QLineEdit*>())
      if (editor->isVisible()) return editor->text();
    return QString();
  }
  void clickCell(int col, int row) {
    const QRect r = grid.visualRect(grid.model()->index(row, col));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, r.center());
  }
  QPoint current() const { return {grid.currentColumn(), grid.currentRow()}; }
};

}  // namespace

void TestStringGrid::clicksAndKeysAskBeforeACellBecomesCurrent() {
  Grid g;
  g.refused << QPoint(2, 1);
  g.clickCell(1, 1);
  QCOMPARE(g.current(), QPoint(1, 1));
  g.clickCell(1, 1);  // the current cell again: asked again
  QCOMPARE(g.asked, (QList<QPoint>{{1, 1}, {1, 1}}));

  g.asked.clear();
  g.clickCell(2, 1);  // refused: the current cell stays, nothing selected there
  QCOMPARE(g.current(), QPoint(1, 1));
  QVERIFY(!g.grid.item(1, 2)->isSelected());
  QTest::keyClick(&g.grid, Qt::Key_Right);  // the keys are refused alike
  QCOMPARE(g.current(), QPoint(1, 1));
  QTest::keyClick(&g.grid, Qt::Key_Down);
  QCOMPARE(g.current(), QPoint(1, 2));
  QCOMPARE(g.asked, (QList<QPoint>{{2, 1}, {2, 1}, {1, 2}}));

  g.asked.clear();
  g.clickCell(0, 2);  // fixed cells: never current, never asked
  g.clickCell(3, 0);
  QTest::keyClick(&g.grid, Qt::Key_Left);
  QCOMPARE(g.current(), QPoint(1, 2));
  QVERIFY(g.asked.isEmpty());
}

void TestStringGrid::editingFollowsTheAnswer() {
  Grid g;
  g.refused << QPoint(3, 2);
  g.clickCell(1, 2);
  g.grid.setEditing(false);  // switched off: typing opens no editor
  QTest::keyClicks(&g.grid, "y");
  QVERIFY(g.editorText().isNull());
  g.grid.setEditing(true);
  QTest::keyClicks(&g.grid, "x");  // typing starts an edit of the allowed cell
  QCOMPARE(g.editorText(), QStringLiteral("x"));
  g.grid.closePersistentEditor(g.grid.item(2, 1));

  // A refused cell cannot be edited, not even by the program's own request.
  g.asked.clear();
  g.grid.editItem(g.grid.item(2, 3));
  QCOMPARE(g.asked, (QList<QPoint>{{3, 2}}));
  QCOMPARE(g.current(), QPoint(1, 2));
}

KM_WINDOW_TEST_MAIN(TestStringGrid)
#include "test_stringgrid.moc"
