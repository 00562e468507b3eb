// Start and end of the program's windows.
#pragma once
#include <QApplication>
#include <memory>

namespace history {
class Store;
}

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

// The history of the window's runs and service visits, set as the shared
// store: `option` (--history WHERE) or KM4410R_HISTORY for this run, else the
// choice saved on the history page, else the default file. Null when nothing
// is kept or the history cannot be used; `problem` then says why.
std::unique_ptr<history::Store> OpenWindowHistory(const QString& option, QString* problem);

// km4410r --history-report SERIAL FILE [--history WHERE]: one register's
// history as a PDF (FILE ending in .pdf) or HTML file; the exit status.
int HistoryReportCommand(int argc, char** argv);
