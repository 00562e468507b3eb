#include "app/uifakes.h"

#include <QCoreApplication>
#include <QDialog>

FakeServices::FakeServices()
    : clock(QDate(2026, 11, 5), QTime(14, 7, 30)) {}

FakeServices::~FakeServices() {
  if (installed_) ui::install(previous_);
}

void FakeServices::installSelf() {
  if (installed_) return;
  previous_ = ui::install(this);
  installed_ = true;
}

void FakeServices::message(const QString& text) {
  messages << text;
  if (onMessage) onMessage(text);
}

void FakeServices::error(const QString& text) { errors << text; }

namespace {

// Runs a hook unless it is already running further up the stack.
template <class... Args>
void runHook(bool& running, const std::function<void(Args...)>& hook, Args... args) {
  if (!hook || running) return;
  running = true;
  try {
    hook(args...);
  } catch (...) {
    running = false;
    throw;
  }
  running = false;
}

}  // namespace

void FakeServices::processMessages() {
  ++processed;
  runHook(inProcessHook_, onProcess);
  QCoreApplication::processEvents();
}

void FakeServices::sleep(int ms) {
  sleeps << ms;
  if (ms > 0) clock = clock.addMSecs(ms);
  runHook(inSleepHook_, onSleep, ms);
}

QDateTime FakeServices::now() { return clock; }

QString FakeServices::chooseSaveFile(QWidget*, const QString&, const QString&) {
  return saveFileAnswer;
}

void FakeServices::endApplication() { ++endRequests; }

int FakeServices::execModal(QDialog& dialog, const std::function<void()>& shown) {
  // The dialog is on the screen (not modal) while its script runs.
  dialogsShown << dialog.objectName();
  dialog.setResult(QDialog::Rejected);
  dialog.show();
  shown();
  auto it = dialogScripts.find(dialog.objectName());
  if (it != dialogScripts.end() && it->second && dialog.isVisible()) it->second(dialog);
  dialog.hide();
  return dialog.result();
}
