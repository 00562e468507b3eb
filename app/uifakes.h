// Fakes of the ui services for tests and the screenshot tool: messages are
// recorded instead of shown, a sleep only records, the clock stands still,
// dialogs "open" and close at once after running a script the test gave.
#pragma once
#include <QDateTime>
#include <QStringList>
#include <functional>
#include <map>

#include "app/uiservices.h"

class FakeServices : public ui::Services {
 public:
  FakeServices();
  ~FakeServices() override;  // uninstalls itself when installed

  void installSelf();

  // ---- recorded ----
  QStringList messages;     // every message, in order
  QList<int> sleeps;        // every sleep, in ms
  int processed = 0;        // calls of processMessages
  int endRequests = 0;      // calls of endApplication
  QStringList dialogsShown; // object names of the dialogs shown modally

  // ---- behaviour ----
  QDateTime clock;                       // what now() returns
  QString saveFileAnswer;                // what chooseSaveFile returns
  // Runs when a message is shown (the box is "open" meanwhile).
  std::function<void(const QString&)> onMessage;
  // Runs while a dialog with this object name is open (shown, not modal),
  // after its first activation; when it returns the dialog closes.
  std::map<QString, std::function<void(QDialog&)>> dialogScripts;

  void message(const QString& text) override;
  void processMessages() override;
  void sleep(int ms) override;
  QDateTime now() override;
  QString chooseSaveFile(QWidget* parent, const QString& caption,
                         const QString& filter) override;
  void endApplication() override;
  int execModal(QDialog& dialog, const std::function<void()>& shown) override;

 private:
  ui::Services* previous_ = nullptr;
  bool installed_ = false;
};
