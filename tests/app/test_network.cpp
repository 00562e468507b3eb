#include "tests/app/harness.h"

using namespace km::test;

class TestNetwork : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void placeholder() {}
};

KM_WINDOW_TEST_MAIN(TestNetwork)
#include "test_network.moc"
