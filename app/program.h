// Start and end of the program's windows.
#pragma once
#include <QApplication>

// Creates the three windows in their order (main window, invalid-state
// dialog, status-byte viewer) and sets Form1, Form4 and Form5. The main window
// is not shown yet.
void CreateWindows();
// Destroys them again (tests create fresh windows for every case).
void DestroyWindows();

// The application object: an exception escaping an event handler is shown in
// an error box with the application's title, and the message loop goes on.
class KmApplication : public QApplication {
 public:
  KmApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Shows an error box with the exception's text (through the ui services).
void ShowException(const char* what);
