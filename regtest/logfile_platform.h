// The log's safe write as each platform's source does it (logfile_posix.cpp,
// logfile_win32.cpp) and logfile.cpp calls it; no part of the library's
// interface.
#pragma once
#include <QByteArray>
#include <QString>
#include <functional>

#include "regtest/logfile.h"

namespace regtest::detail {

// The platform's safe write of `bytes` to `target` (a link already followed,
// not a folder), its data written through WriteAll. False with the error (and
// the system's own words for an unexpected one).
bool WriteReplacing(const QString& target, const QByteArray& bytes, SaveError* error, QString* other);

// One write of the platform: up to `size` bytes; how many went, or -1 with
// *error set.
using PlatformWrite = std::function<long long(const char* data, long long size, SaveError* error)>;
// Writes every byte through `write`, or through the test's writer when one is
// set (regtest/testing.h). False with *error (a write that takes nothing: the
// disk is full).
bool WriteAll(const QByteArray& bytes, const PlatformWrite& write, SaveError* error);

}  // namespace regtest::detail
