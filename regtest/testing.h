// What tests and benchmarks change in the register test library: the timer
// check's minute and the log saver's write. No program of the tool's uses
// these but for a test's sake.
#pragma once
#include "regtest/logfile.h"

namespace regtest {

// The timer check's wait between its two clock readings (60 s). Tests and
// benchmarks shorten it; ms <= 0 restores the minute.
void SetTimerWaitForTests(int ms);

// The write the log saver uses: it writes up to `size` bytes and returns how
// many went, or -1 with *error set. Tests put in one that fails (nullptr: back
// to the real one).
using LogWriter = long long (*)(const char* data, long long size, SaveError* error);
void SetLogWriterForTests(LogWriter writer);

}  // namespace regtest
