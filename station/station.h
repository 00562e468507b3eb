// The register test without a screen: `km4410r --run-test` on one port and
// `km4410r --ports` on many at once, a process per port, with a progress
// line per port and a summary table.
#pragma once
#include <QDateTime>
#include <QString>
#include <memory>

#include "history/history.h"

#include "station/options.h"

namespace station {

// Runs what the command line asks for (see HelpText); the exit status.
int Main(int argc, char** argv);

// One register (needs the application object); the exit status.
int RunOne(const RunOptions& options);
// One child process of `program` per port; the exit status.
int RunPorts(const RunOptions& options, const QString& program);

// The history a run writes to, as --history or KM4410R_HISTORY say (its
// problems said on stderr); null when none is kept.
std::unique_ptr<history::Store> OpenHistory(const RunOptions& options);
// A short try to send what waits to the shared server; a failure said on stderr.
void UploadAtEnd(history::Store* store);
// A time of the history as the PC where it was kept saw it: yyyy-MM-dd HH:mm.
QString HistoryTime(qint64 ms, int offsetMin);
// --history-show, --history-sync, --history-init; the exit status.
int HistoryCommand(const RunOptions& options);

// Makes the folder of a --ports run in `parent`: km4410r-run-YYYYMMDD-hhmmss
// (with -2, -3 ... when that is taken). Its path, or empty with a reason.
QString MakeRunFolder(const QString& parent, const QDateTime& when, QString* reason);

}  // namespace station
