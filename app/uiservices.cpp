#include "app/uiservices.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <vector>

namespace ui {

QString applicationTitle() {
  return QStringLiteral("Тест регистратора расчетных операций KM4410R");
}

namespace {

class Production final : public Services {
 public:
  void message(const QString& text) override {
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
  }
  void error(const QString& text) override {
    QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
  }
  void processMessages() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
  void sleep(int ms) override {
    if (ms <= 0) return;
    // A local loop that paints and serves timers but leaves keyboard and mouse
    // input queued until the next processMessages().
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  QDateTime now() override { return QDateTime::currentDateTime(); }
  QString chooseSaveFile(QWidget* parent, const QString& caption,
                         const QString& filter) override {
    // An existing file is replaced without a question, as the log's Save
    // promises; the dialog would otherwise ask.
    return QFileDialog::getSaveFileName(parent, caption, QString(), filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
  }
  void endApplication() override {
    QCoreApplication::exit(0);
    // Also close the windows, so that no modal loop keeps the program alive.
    QApplication::closeAllWindows();
  }
  int execModal(QDialog& dialog, const std::function<void()>& shown) override {
    QTimer::singleShot(0, &dialog, [shown] { shown(); });
    return dialog.exec();
  }
};

Services* gServices = nullptr;
Activatable* gMain = nullptr;
std::vector<Activatable*> gModal;  // the program's modal windows, innermost last

Services& services() {
  static Production production;
  return gServices ? *gServices : production;
}

}  // namespace

Services* install(Services* s) {
  Services* previous = gServices;
  gServices = s;
  return previous;
}

void setMainWindow(Activatable* window) {
  gMain = window;
  if (!window) gModal.clear();
}

void activateTop() {
  Activatable* top = gModal.empty() ? gMain : gModal.back();
  if (top) top->FormActivate();
}

void showMessage(const QString& text) {
  services().message(text);
  activateTop();
}

void showError(const QString& text) {
  services().error(text);
  activateTop();
}

void processMessages() { services().processMessages(); }
void sleep(int ms) { services().sleep(ms); }
QDateTime now() { return services().now(); }
QString chooseSaveFile(QWidget* parent, const QString& caption, const QString& filter) {
  return services().chooseSaveFile(parent, caption, filter);
}
void endApplication() { services().endApplication(); }

int showModal(QDialog& dialog, Activatable& window) {
  gModal.push_back(&window);
  const int result = services().execModal(dialog, [&window] {
    window.FormShow();
    window.FormActivate();
  });
  // Remove this window (and anything left above it by an unbalanced exit).
  for (size_t i = gModal.size(); i-- > 0;) {
    if (gModal[i] == &window) {
      gModal.resize(i);
      break;
    }
  }
  activateTop();
  return result;
}

}  // namespace ui
