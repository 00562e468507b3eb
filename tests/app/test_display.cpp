#include "tests/app/harness.h"

using namespace km::test;

class TestDisplay : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void placeholder() {}
};

KM_WINDOW_TEST_MAIN(TestDisplay)
#include "test_display.moc"
