// The run without a screen on Windows: Ctrl+C, Ctrl+Break and the console's
// closing are the Stop button (SetConsoleCtrlHandler); a --ports child, which
// has no console of its own, is asked to stop through its standard input.
#include <windows.h>
#include <io.h>
#include <stdio.h>

#include <QProcess>
#include <atomic>
#include <thread>

#include "station/platform.h"

namespace station {

namespace {
std::atomic<bool> gStop{false};
std::atomic<bool> gParentStop{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      gStop = true;
      gParentStop = true;
      return TRUE;  // handled: the test ends at its next stop check
    default:
      return FALSE;
  }
}
}  // namespace

void UseParentConsole() {
  const auto missing = [](DWORD which) {
    HANDLE h = GetStdHandle(which);
    return h == nullptr || h == INVALID_HANDLE_VALUE || GetFileType(h) == FILE_TYPE_UNKNOWN;
  };
  const bool out = missing(STD_OUTPUT_HANDLE), err = missing(STD_ERROR_HANDLE);
  if (!out && !err) return;  // redirected: keep the files or pipes given
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (out) freopen("CONOUT$", "w", stdout);
  if (err) freopen("CONOUT$", "w", stderr);
  SetConsoleOutputCP(CP_UTF8);
}

void InstallStopRequest() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  // A --ports child: "stop" on its standard input, or the parent gone.
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (in != nullptr && in != INVALID_HANDLE_VALUE && GetFileType(in) == FILE_TYPE_PIPE) {
    std::thread([in] {
      char buffer[64];
      DWORD n = 0;
      while (ReadFile(in, buffer, sizeof buffer, &n, nullptr) && n > 0)
        for (DWORD i = 0; i < n; ++i)
          if (buffer[i] == 's') gStop = true;
      gStop = true;  // the parent closed the pipe or ended
    }).detach();
  }
}

bool StopRequested() { return gStop; }

void InstallParentStopRequest() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool ParentStopRequested() { return gParentStop; }

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void AskChildToStop(QProcess& child) { child.write("stop\n"); }

}  // namespace station
