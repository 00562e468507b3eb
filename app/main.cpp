// km4410r: the service and test tool for the KM4410R register. Without
// arguments it opens its window; with options (--run-test, --ports, --help)
// it runs the register test without a screen (station/station.h).
#include <exception>

#include "app/Mainform.h"
#include "app/program.h"
#include "station/station.h"

int main(int argc, char** argv) {
  if (station::Wanted(argc, argv)) return station::Main(argc, argv);
  KmApplication app(argc, argv);
  try {
    CreateWindows();
  } catch (const std::exception& e) {
    ShowException(e.what());
    return 0;
  }
  Form1->show();
  app.exec();
  return 0;
}
