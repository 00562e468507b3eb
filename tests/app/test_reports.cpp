#include "tests/app/harness.h"

using namespace km::test;

class TestReports : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void placeholder() {}
};

KM_WINDOW_TEST_MAIN(TestReports)
#include "test_reports.moc"
