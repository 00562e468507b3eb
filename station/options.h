// The command line of the register test without a screen.
#pragma once
#include <QString>
#include <QStringList>

#include "driver/printer.h"
#include "regtest/scenario.h"

namespace station {

// What the command line asks for.
struct RunOptions {
  bool help = false;
  bool runTest = false;
  bool progress = false;  // machine-readable progress lines on stderr (for --ports)
  QString port;           // "COMn", a device path or tcp://HOST:PORT, rfc2217://HOST:PORT
  QStringList ports;      // --ports
  int baud = kDefaultLineSpeed;
  QString passesText;     // as typed into ComboBox2
  QString pauseText = QString::fromLatin1(regtest::kDefaultPause);  // as typed into Edit1
  int passes = 0;
  int pause = 0;
  bool fiscal = false;
  QString log;
  bool logUtf8 = false;
  QString record;
  QString junit;
  int cashier = 1;
  QString cashierPassword = QString::fromLatin1(regtest::kDefaultPassword);
  QString programmingPassword = QString::fromLatin1(regtest::kDefaultPassword);
  QString reportsPassword = QString::fromLatin1(regtest::kDefaultPassword);
  // The history: --history WHERE (empty: KM4410R_HISTORY or the default file).
  QString history;
  QString historyShow;   // --history-show SERIAL
  bool json = false;     // --json, of --history-show
  bool historySync = false;
  QString historyInit;   // --history-init URL
};

// True when the command line asks for the program without its window (its
// first argument is an option of the form --name).
bool Wanted(int argc, char** argv);

// Reads the arguments (without the program's name). False with a one-line
// reason on bad usage; the page's own message when passes or pause break its
// rules.
bool ParseOptions(const QStringList& args, RunOptions* options, QString* error);
QString HelpText();
// A text on one line: each line break with the blanks around it becomes one blank.
QString OneLine(const QString& text);

// FILE with the port's name inserted before its extension: run.log and COM3
// give run-COM3.log; a device path gives its last part (ttyUSB0).
QString PerPortFile(const QString& file, const QString& port);
// The port's name as a file name: COM3, ttyUSB0.
QString PortFileName(const QString& port);

}  // namespace station
