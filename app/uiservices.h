// The ui services seam: everything the windows ask of the desktop besides
// their own controls. The windows call only these; tests install fakes.
//
// Activation: the program's windows are stacked as they are shown modally
// (the main window at the bottom). The seam runs the top window's
// FormActivate when it is first shown and again after each of the program's
// own modal windows closes (a message box, a dialog). Switching to another
// program and back is no activation.
#pragma once
#include <QDateTime>
#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace ui {

// The application's title, the caption of every message box.
QString applicationTitle();

class Services {
 public:
  virtual ~Services() = default;
  // A modal message box with one OK button; returns when it is closed.
  virtual void message(const QString& text) = 0;
  // The same box with the error sign, for an exception that reached the
  // message loop.
  virtual void error(const QString& text) = 0;
  // Lets the windows process their pending messages (input included).
  virtual void processMessages() = 0;
  // Blocks for ms milliseconds; the windows stay painted, user input waits
  // for the next processMessages().
  virtual void sleep(int ms) = 0;
  // The PC clock.
  virtual QDateTime now() = 0;
  // A save-file dialog; the chosen path, or an empty text when cancelled.
  virtual QString chooseSaveFile(QWidget* parent, const QString& caption,
                                 const QString& filter) = 0;
  // Ends the application (the message loop returns).
  virtual void endApplication() = 0;
  // Shows a dialog modally and returns its result when it is closed. `shown`
  // runs once the dialog is on the screen (its first activation).
  virtual int execModal(QDialog& dialog, const std::function<void()>& shown) = 0;
};

// Installs other services (nullptr: back to the production ones: Qt message
// boxes, dialogs and clock); returns the previous. The services in use are
// reached only through the functions below, so that every box goes through
// the activation that follows it.
Services* install(Services* services);

// A window of the program with an activation handler.
class Activatable {
 public:
  virtual ~Activatable() = default;
  // Each time the window is shown, before its first activation.
  virtual void FormShow() {}
  // Each activation of the window.
  virtual void FormActivate() = 0;
};

// The main window, at the bottom of the activation stack (nullptr: none).
void setMainWindow(Activatable* window);
// Runs the activation of the topmost of the program's windows.
void activateTop();

// Shows a message; when it is closed, the window below it is activated again.
void showMessage(const QString& text);
// Shows an error box (an exception that reached the message loop); when it
// is closed, the window below it is activated again.
void showError(const QString& text);
// Shows one of the program's dialogs modally: FormShow and FormActivate run
// when it appears; when it closes, the window below it is activated again.
int showModal(QDialog& dialog, Activatable& window);

void processMessages();
void sleep(int ms);
QDateTime now();
QString chooseSaveFile(QWidget* parent, const QString& caption, const QString& filter);
void endApplication();

}  // namespace ui
