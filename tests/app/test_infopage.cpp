#include "tests/app/harness.h"

using namespace km::test;

class TestInfopage : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void placeholder() {}
};

KM_WINDOW_TEST_MAIN(TestInfopage)
#include "test_infopage.moc"
