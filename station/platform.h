// What the run without a screen needs of the operating system, one source
// per platform: the stop request from the console, the terminal test.
#pragma once

class QProcess;

namespace station {

// A Windows GUI program started from a console with options writes to that
// console (AttachConsole), unless its output is redirected; elsewhere nothing.
void UseParentConsole();

// A run's stop request: SIGINT or SIGTERM (Ctrl+C, Ctrl+Break or the
// console closing on Windows) sets it; the test sees it at its next stop
// check. A closed standard output does not end the program.
void InstallStopRequest();
bool StopRequested();

// The --ports parent: a terminate request sets the flag (the children are
// then asked to stop); an interrupt from the terminal reaches the children
// by itself and leaves the parent to write its table.
void InstallParentStopRequest();
bool ParentStopRequested();

// Asks a --ports child to end its test at the next stop check (SIGTERM on
// POSIX; "stop" on its standard input on Windows, where a child has no console).
void AskChildToStop(QProcess& child);

// True when standard error is a terminal (progress redrawn in place).
bool StderrIsTerminal();

}  // namespace station
