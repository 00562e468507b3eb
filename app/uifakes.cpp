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

void FakeServices::processMessages() {
  ++processed;
  QCoreApplication::processEvents();
}

void FakeServices::sleep(int ms) { sleeps << ms; }

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
