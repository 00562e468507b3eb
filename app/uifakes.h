// Fakes of the ui services for tests and the screenshot tool: messages are
// recorded instead of shown, a sleep only records and moves the fake clock
// on, dialogs "open" and close at once after running a script the test gave.
//
// Long runs (loops with pauses, timed waits, Stop pressed in between) are
// driven through the hooks: onSleep and onProcess run inside every sleep and
// every processing of pending messages, where the user could act meanwhile.
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
  QStringList errors;       // every error box (exceptions at top level), in order
  QList<int> sleeps;        // every sleep, in ms
  int processed = 0;        // calls of processMessages
  int endRequests = 0;      // calls of endApplication
  QStringList dialogsShown; // object names of the dialogs shown modally

  // ---- behaviour ----
  // What now() returns. Each sleep moves it on by its milliseconds, so a
  // loop that sleeps until now() passes a deadline ends without real time.
  QDateTime clock;
  QString saveFileAnswer;                // what chooseSaveFile returns
  // Runs when a message is shown (the box is "open" meanwhile).
  std::function<void(const QString&)> onMessage;
  // Runs in every sleep, after the clock has moved on by `ms`.
  std::function<void(int ms)> onSleep;
  // Runs in every processMessages, before the pending events are handled
  // (what it posts is handled in the same call).
  std::function<void()> onProcess;
  // Runs while a dialog with this object name is open (shown, not modal),
  // after its first activation; when it returns the dialog closes.
  std::map<QString, std::function<void(QDialog&)>> dialogScripts;

  void message(const QString& text) override;
  void error(const QString& text) override;
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
  // A hook that sleeps or processes messages itself does not run again
  // inside itself.
  bool inSleepHook_ = false;
  bool inProcessHook_ = false;
};
