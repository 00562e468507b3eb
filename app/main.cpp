// km4410r: the service and test tool for the KM4410R register.
#include <exception>

#include "app/Mainform.h"
#include "app/program.h"

int main(int argc, char** argv) {
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
