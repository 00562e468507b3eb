#include "app/program.h"

#include <QMessageBox>
#include <exception>

#include "app/Mainform.h"
#include "app/Status.h"
#include "app/Unit5.h"

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
  setApplicationName(QStringLiteral("km4410r"));
  setApplicationVersion(QStringLiteral(KM_VERSION));
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
  QMessageBox box(QMessageBox::Critical, ui::applicationTitle(), QString::fromLocal8Bit(what),
                  QMessageBox::Ok);
  box.exec();
}
