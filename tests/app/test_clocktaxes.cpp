#include "tests/app/harness.h"

using namespace km::test;

class TestClocktaxes : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void placeholder() {}
};

KM_WINDOW_TEST_MAIN(TestClocktaxes)
#include "test_clocktaxes.moc"
