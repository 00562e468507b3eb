#include "app/program.h"

#include <cstdio>
#include <exception>

#include "app/Mainform.h"
#include "app/Status.h"
#include "app/Unit5.h"
#include "app/systemfont.h"

void CreateWindows() {
  Form1 = new TForm1;
  ui::setMainWindow(Form1);
  Form4 = new TForm4;
  Form5 = new TForm5;
}

void DestroyWindows() {
  delete Form5;
  Form5 = nullptr;
  delete Form4;
  Form4 = nullptr;
  ui::setMainWindow(nullptr);
  delete Form1;
  Form1 = nullptr;
}

KmApplication::KmApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setOrganizationName(QStringLiteral("KM4410R"));  // where the window's settings are kept
  setApplicationName(QStringLiteral("km4410r"));
  setApplicationVersion(QStringLiteral(KM_VERSION));
  UseSystemUiFont();
}

bool KmApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowException(e.what());
  } catch (...) {
    ShowException("unknown error");
  }
  return false;
}

void ShowException(const char* what) {
  // Called from notify's catch: nothing may escape from here, not even from
  // the activation that follows the box.
  try {
    ui::showError(QString::fromLocal8Bit(what ? what : ""));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "km4410r: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "km4410r: unknown error\n");
  }
}
