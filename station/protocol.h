// What a `--ports` parent and its `--run-test` children say to each other:
// the progress line a child writes on stderr and the keys of the record it
// leaves, which the parent reads for its table and its JUnit file.
#pragma once
#include <QString>

namespace station {

// "@progress PASS PASSES ERRORS TITLE" on a line of its own.
QString ProgressLine(int pass, int passes, int errors, const QString& title);
struct Progress {
  int pass = 0, passes = 0, errors = 0;
  QString title;
};
// False when `line` is no progress line.
bool ParseProgressLine(const QString& line, Progress* progress);

// The record's keys.
namespace key {
inline constexpr char kProgram[] = "program";
inline constexpr char kRunId[] = "run_id";    // the run's id in the history
inline constexpr char kStation[] = "station";  // the PC's host name
inline constexpr char kPort[] = "port";
inline constexpr char kDevice[] = "device";
inline constexpr char kSpeed[] = "speed";
inline constexpr char kRegister[] = "register";
inline constexpr char kStart[] = "start";
inline constexpr char kEnd[] = "end";
inline constexpr char kInputs[] = "inputs";
inline constexpr char kPasses[] = "passes";
inline constexpr char kPauseMs[] = "pause_ms";
inline constexpr char kFiscal[] = "fiscal";
inline constexpr char kCashier[] = "cashier";
inline constexpr char kStartCommands[] = "start_commands";
inline constexpr char kPass[] = "pass";
inline constexpr char kCompleted[] = "completed";
inline constexpr char kSteps[] = "steps";
inline constexpr char kTitle[] = "title";
inline constexpr char kStep[] = "step";
inline constexpr char kOutcome[] = "outcome";
inline constexpr char kErrors[] = "errors";
inline constexpr char kDurationMs[] = "duration_ms";
inline constexpr char kCommands[] = "commands";
inline constexpr char kCode[] = "code";
inline constexpr char kCodeHex[] = "code_hex";
inline constexpr char kName[] = "name";
inline constexpr char kFlags[] = "flags";
inline constexpr char kFlagsHex[] = "flags_hex";
inline constexpr char kFlagNames[] = "flag_names";
inline constexpr char kError[] = "error";
inline constexpr char kClock[] = "clock";
inline constexpr char kReadings[] = "readings";
inline constexpr char kOk[] = "ok";
inline constexpr char kPc[] = "pc";
inline constexpr char kRegisterSeconds[] = "register_seconds";
inline constexpr char kPcSeconds[] = "pc_seconds";
inline constexpr char kRate[] = "rate_s_per_day";
inline constexpr char kResolution[] = "resolution_s_per_day";
inline constexpr char kPassesDone[] = "passes_done";
inline constexpr char kPassesMeasured[] = "passes_measured";
inline constexpr char kVerdict[] = "verdict";
inline constexpr char kExitStatus[] = "exit_status";
inline constexpr char kMessages[] = "messages";
// The link's drops: when it went and came back, the pass and step, why.
inline constexpr char kLinkDrops[] = "link_drops";
inline constexpr char kLost[] = "lost";
inline constexpr char kBack[] = "back";
inline constexpr char kStepKind[] = "step_kind";
inline constexpr char kReason[] = "reason";
inline constexpr char kFailedCommands[] = "failed_commands";
// A run whose link stayed away to the end of a pass: where it went.
inline constexpr char kLinkLost[] = "link_lost";
}  // namespace key

// A key or a verdict as a QString (QJsonObject's operator[] takes one).
inline QString K(const char* key) { return QString::fromLatin1(key); }

// Verdicts: of a run in its record and the summary table (the last two only
// the parent gives, for a child that left no record).
inline constexpr char kPassed[] = "passed";
inline constexpr char kFailed[] = "failed";
inline constexpr char kStopped[] = "stopped";
inline constexpr char kAborted[] = "aborted";
inline constexpr char kNotReady[] = "not ready";
inline constexpr char kLinkLost[] = "link lost";
inline constexpr char kBadUsage[] = "bad usage";
inline constexpr char kPortNotOpened[] = "port not opened";
inline constexpr char kCrashed[] = "crashed";
inline constexpr char kNoRecord[] = "no record";
// A step's outcome: kStepOk or kFailed.
inline constexpr char kStepOk[] = "ok";

// Exit statuses.
constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotReady = 3;

}  // namespace station
