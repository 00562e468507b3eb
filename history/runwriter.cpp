#include <QDateTime>
#include <QSysInfo>
#include <chrono>

#include "base/cp1251text.h"
#include "driver/command_codes.h"
#include "driver/flags.h"
#include "history/history.h"
#include "history/store_internal.h"

namespace history {

namespace {

qint64 SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

qint64 NowMs() { return QDateTime::currentMSecsSinceEpoch(); }


}  // namespace

RunWriter::RunWriter(Store* store) : store_(store && store->usable() ? store : nullptr) {}

RunWriter::~RunWriter() { Detach(); }

void RunWriter::Start(const StationInfo& station, int passesAsked, RunKind kind) {
  runId_ = NewId();
  startMs_ = NowMs();
  if (!store_) return;
  StoreImpl& s = *store_->impl();
  const QString stationId = s.StationId(station);
  // Aborted until the end is written: a run cut short stays so.
  s.Write(InsertOnce("runs", sql::kRunColumns),
          {runId_, QVariant(), stationId, NonNull(station.port), station.speed, QLatin1String(RunKindName(kind)), startMs_,
           QVariant(), UtcOffsetMinutes(), passesAsked, 0, 0, QLatin1String(kVerdictAborted), QVariant(), QVariant(),
           QVariant(), QVariant(), QVariant(), QVariant()});
}

void RunWriter::Attach() { hook_.Attach(&RunWriter::OnExchange, this); }

void RunWriter::Detach() { hook_.Detach(); }

void RunWriter::OnExchange(const ExchangeTrace& t, void* context) {
  RunWriter* w = static_cast<RunWriter*>(context);
  w->Exchange(t);
  w->hook_.Forward(t);
}

void RunWriter::Exchange(const ExchangeTrace& t) {
  const RetData* a = t.answer;
  const uint32_t flags = a ? a->ErrorFlags : 0;
  const FlagInfo* error = FirstError(flags);
  const bool ok = a && t.written && !error;
  if (a) flagsEnd_ = flags;
  if (store_ && !ok) {
    Failed f{t.command, flags, error ? QString::fromUtf8(error->text) : QStringLiteral("no answer")};
    if (stepOpen_)
      failed_.push_back(f);
    else  // before the first step (the connection's commands): pass 0, step 0
      store_->impl()->Write(InsertOnce("failed_commands", sql::kFailedColumns),
                            {runId_, 0, 0, failedSeq_++, f.code, static_cast<qint64>(f.flags), f.message});
  }
  if (!ok) return;
  if (t.command == kCmdDiagnosticInfo && !identityRead_ && ReadDiagnosticIdentity(*a, &identity_)) {
    identityRead_ = true;
    if (store_) {
      store_->impl()->SeeRegister(identity_, NowMs());
      store_->impl()->Write(QStringLiteral("UPDATE runs SET serial = ?, firmware = ?, firmware_date = ?, flags_start = ? WHERE id = ?"),
                            {identity_.serial, identity_.firmware, identity_.firmwareDate, static_cast<qint64>(flags), runId_});
    }
  }
  if (t.command == kCmdGetTaxNumber && !taxRead_) {
    taxRead_ = true;
    identity_.taxNumber = AnswerField(*a, 0);
    if (store_ && identityRead_) store_->impl()->SeeRegister({identity_.serial, {}, identity_.taxNumber, {}, {}}, NowMs());
  }
  if (t.command == kCmdGetDateTime && stepOpen_ && stepKind_ == regtest::StepKind::Timer)
    clock_.Add(pass_, ReadClock(a, true, t.sentAtMs + t.durationMs));
}

void RunWriter::StepBegun(const regtest::StepInfo& step) {
  if (step.pass != pass_) {
    pass_ = step.pass;
    stepIndex_ = 0;
  }
  ++stepIndex_;
  stepOpen_ = true;
  stepKind_ = step.kind;
  stepErrorsBefore_ = step.errorsBefore;
  stepStartedMs_ = SteadyMs();
  failed_.clear();
}

void RunWriter::WriteStep(int errors) {
  stepOpen_ = false;
  if (!store_) return;
  std::vector<std::pair<QString, QVariantList>> rows;
  rows.push_back({InsertOnce("steps", sql::kStepColumns),
                  {runId_, pass_, stepIndex_, QLatin1String(StepKindName(stepKind_)),
                   QLatin1String(errors > 0 ? "failed" : "ok"), errors, SteadyMs() - stepStartedMs_}});
  int seq = 0;
  for (const Failed& f : failed_)
    rows.push_back({InsertOnce("failed_commands", sql::kFailedColumns),
                    {runId_, pass_, stepIndex_, seq++, f.code, static_cast<qint64>(f.flags), f.message}});
  failed_.clear();
  // A step without failed commands is one statement (its own transaction).
  if (rows.size() == 1)
    store_->impl()->Write(rows[0].first, rows[0].second);
  else
    store_->impl()->WriteAll(rows);
}

void RunWriter::StepEnded(const regtest::StepInfo& step, int errorsAfter) {
  if (stepOpen_) WriteStep(errorsAfter - step.errorsBefore);
}

void RunWriter::Ended(regtest::RunEnd end, int errors) {
  // A step still open ended with the run.
  if (stepOpen_) WriteStep(std::max(0, errors - stepErrorsBefore_));
  const int done = end == regtest::RunEnd::Completed ? pass_ : std::max(0, pass_ - 1);
  Finish(linkLost_ && regtest::LinkLostDecides(end) ? kVerdictLinkLost : VerdictOf(end, errors), errors, done);
}

void RunWriter::EndedWith(const char* verdict, int errors) {
  if (stepOpen_) WriteStep(std::max(0, errors - stepErrorsBefore_));
  Finish(verdict, errors, std::max(0, pass_ - 1));
}

void RunWriter::Finish(const char* verdict, int errors, int passesDone) {
  if (ended_ || runId_.isEmpty()) return;
  ended_ = true;
  if (!store_) return;
  const ClockRate rate = clock_.Mean();
  store_->impl()->Write(
      QStringLiteral("UPDATE runs SET end_ms = ?, passes_done = ?, errors = ?, verdict = ?, clock_rate = ?,"
                     " clock_resolution = ?, flags_end = ? WHERE id = ?"),
      {NowMs(), passesDone, errors, QLatin1String(verdict), rate.valid ? QVariant(rate.rate) : QVariant(),
       rate.valid ? QVariant(rate.resolution) : QVariant(), static_cast<qint64>(flagsEnd_), runId_});
}

}  // namespace history
