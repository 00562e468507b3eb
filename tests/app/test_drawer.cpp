#include "tests/app/harness.h"

using namespace km::test;

class TestDrawer : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void placeholder() {}
};

KM_WINDOW_TEST_MAIN(TestDrawer)
#include "test_drawer.moc"
