// The page control of the main window: every caption visible at once in
// several rows, changing pages by its captions, and the change handler.
#include <QSignalSpy>

#include "tests/app/harness.h"

using namespace km::test;

class TestPageControl : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void allCaptionsVisibleAtOnce();
  void captionsChangeThePage();
  void rowsFollowTheWidth();
};

void TestPageControl::allCaptionsVisibleAtOnce() {
  Session s({.simulator = false});
  PageControl* pages = s.form().PageControl1;
  const QStringList captions = {"Тест РРО", "Индикаторы клиента",
                                "Денежный ящик, внос-вынос, обнуление артикулов",
                                "Общая информация", "Дополнительные функции", "О программе",
                                "Обрезка чека и звуковой сигнал", "Пароли",
                                "Управление параметрами сети", "Чтение ID_DEV и состояние модема",
                                "Установка даты-времени и налоги", "Кассиры", "История"};
  QCOMPARE(pages->count(), 13);
  MultiRowTabBar* bar = pages->tabBar();
  QVERIFY(bar->rowCount() > 1);
  QRegion used;
  for (int i = 0; i < pages->count(); ++i) {
    QCOMPARE(pages->tabText(i), captions[i]);
    QCOMPARE(pages->widget(i)->objectName(), QStringLiteral("TabSheet%1").arg(i + 1));
    PageTab* tab = bar->tab(i);
    QVERIFY(tab->isVisible());
    // Inside the bar, not clipped, not overlapping another caption.
    QVERIFY2(bar->rect().contains(tab->geometry()), qPrintable(captions[i]));
    QVERIFY2(tab->width() >= tab->sizeHint().width(), qPrintable(captions[i]));
    QVERIFY(!used.intersects(tab->geometry()));
    used += tab->geometry();
  }
  QVERIFY(bar->height() >= bar->rowCount() * bar->tab(0)->height());
  // The window is at least its documented client size, grows only as far as
  // the pages need with this system's fonts, and stays within a 1024x768 screen.
  const QSize size = s.main().size();
  QVERIFY2(size.width() >= 536 && size.height() >= 444, qPrintable(QString::number(size.width())));
  QVERIFY2(size.width() <= 1024 && size.height() <= 768, qPrintable(QString::number(size.width())));
  for (int i = 0; i < pages->count(); ++i) {
    QWidget* page = pages->widget(i);
    const QSize needed = page->minimumSizeHint();
    QVERIFY2(needed.width() <= pages->currentWidget()->width() &&
                 needed.height() <= pages->currentWidget()->height(),
             qPrintable(captions[i]));
  }
}

void TestPageControl::captionsChangeThePage() {
  Session s;
  PageControl* pages = s.form().PageControl1;
  QSignalSpy changes(pages, &PageControl::currentChanged);
  // Disabled while disconnected: a click on the caption changes nothing.
  QVERIFY(!pages->tabBar()->tab(3)->isEnabled());
  QTest::mouseClick(pages->tabBar()->tab(3), Qt::LeftButton);
  QCOMPARE(pages->currentIndex(), 0);
  QCOMPARE(changes.count(), 0);

  QVERIFY(s.connect());
  const int rowOfFirst = pages->tabBar()->rowOf(0);
  clickTab(pages, 10);
  QCOMPARE(pages->currentWidget(), s.main().TabSheet(11));
  QVERIFY(pages->tabBar()->tab(10)->isChecked());
  QVERIFY(!pages->tabBar()->tab(0)->isChecked());
  QCOMPARE(changes.count(), 1);
  QCOMPARE(changes.at(0).at(0).toInt(), 10);
  clickTab(pages, 10);  // the page in front: no change
  QCOMPARE(changes.count(), 1);
  QCOMPARE(pages->tabBar()->rowOf(0), rowOfFirst);  // rows stay where they are

  // The program may change the page as well.
  pages->setCurrentIndex(5);
  QCOMPARE(pages->currentWidget(), s.main().TabSheet(6));
  QVERIFY(pages->tabBar()->tab(5)->isChecked());
  QCOMPARE(changes.count(), 2);

  // Ctrl+Tab and Ctrl+Shift+Tab step through the pages, round the ends.
  QTest::keyClick(pages, Qt::Key_Tab, Qt::ControlModifier);
  QCOMPARE(pages->currentIndex(), 6);
  pages->setCurrentIndex(0);
  QTest::keyClick(pages, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  QCOMPARE(pages->currentIndex(), pages->count() - 1);
}

void TestPageControl::rowsFollowTheWidth() {
  Session s({.simulator = false});
  MultiRowTabBar* bar = s.form().PageControl1->tabBar();
  const int narrow = bar->heightForWidth(400);
  const int wide = bar->heightForWidth(3000);
  QVERIFY(narrow > wide);
  QCOMPARE(wide, bar->tab(0)->sizeHint().height());  // one row when there is room
  s.main().resize(1800, s.main().height());
  QCoreApplication::processEvents();
  QCOMPARE(bar->rowCount(), bar->heightForWidth(bar->width()) / bar->tab(0)->sizeHint().height());
  for (int i = 0; i < 12; ++i) QVERIFY(bar->rect().contains(bar->tab(i)->geometry()));
}

KM_WINDOW_TEST_MAIN(TestPageControl)
#include "test_pagecontrol.moc"
