#include <signal.h>
#include <unistd.h>

#include <QProcess>

#include "station/platform.h"

namespace station {

namespace {
volatile sig_atomic_t gStop = 0;
volatile sig_atomic_t gParentStop = 0;
void OnStop(int) { gStop = 1; }
void OnParentStop(int) { gParentStop = 1; }
void OnIgnoredInterrupt(int) {}
}  // namespace

void UseParentConsole() {}

void InstallStopRequest() {
  struct sigaction sa {};
  sa.sa_handler = OnStop;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  // A reader of stdout that goes away (| head) must not end the test before
  // its log and record are written.
  signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() { return gStop != 0; }

void InstallParentStopRequest() {
  struct sigaction sa {};
  sa.sa_handler = OnParentStop;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  struct sigaction interrupt {};
  interrupt.sa_handler = OnIgnoredInterrupt;
  sigemptyset(&interrupt.sa_mask);
  sigaction(SIGINT, &interrupt, nullptr);
}

bool ParentStopRequested() { return gParentStop != 0; }

bool StderrIsTerminal() { return isatty(2) != 0; }

void AskChildToStop(QProcess& child) { child.terminate(); }

}  // namespace station
