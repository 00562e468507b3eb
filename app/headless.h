// The register test without a screen: `km4410r --run-test` runs the page
// "Тест РРО" in the main window on the offscreen platform, with ui services
// that write message boxes to standard error instead of waiting for OK, every
// log line to standard output and the log and a record of the run to files.
// `km4410r --ports` runs one such process per port in parallel and sums them
// up in a table.
#pragma once
#include <QString>
#include <QStringList>

namespace headless {

// What the command line asks for.
struct RunOptions {
  bool help = false;
  bool runTest = false;
  bool progress = false;  // machine-readable progress lines on stderr (for --ports)
  QString port;           // "COMn" or a device path
  QStringList ports;      // --ports
  int baud = 19200;
  QString passesText;     // as typed into ComboBox2
  QString pauseText = QStringLiteral("1500");  // as typed into Edit1
  int passes = 0;
  int pause = 0;
  bool fiscal = false;
  QString log;
  bool logUtf8 = false;
  QString record;
  int cashier = 1;
  QString cashierPassword = QStringLiteral("9162");
  QString programmingPassword = QStringLiteral("9162");
  QString reportsPassword = QStringLiteral("9162");
};

// Exit statuses.
constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotReady = 3;

// True when the command line asks for the program without its window (its
// first argument is an option of the form --name).
bool Wanted(int argc, char** argv);
// Runs what the command line asks for; the exit status.
int Main(int argc, char** argv);

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

// One register (needs the application object); the exit status.
int RunOne(const RunOptions& options);
// One child process of `program` per port; the exit status.
int RunPorts(const RunOptions& options, const QString& program);

// The clock's rate from the two readings of a pass: register seconds against
// PC seconds between them, in seconds per day, and its resolution with
// whole-second readings (±1 s over the PC's interval).
struct ClockRate {
  bool valid = false;
  double rate = 0;        // s/day, positive: the register's clock runs fast
  double resolution = 0;  // ± s/day
};
ClockRate RateOf(long long registerSeconds, double pcSeconds);

}  // namespace headless
