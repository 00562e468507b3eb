// `km4410r --run-test`: the register test on one port without a window. It
// connects as the window's "Подключить" does and runs the same scenario as
// the page's "Старт", with every log line on standard output as it is
// written, every message box as one line on standard error, and the log, the
// record and the JUnit file written at the end.
#include <stdio.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <chrono>
#include <exception>
#include <functional>
#include <thread>

#include "base/cp1251text.h"
#include "driver/flags.h"
#include "regtest/connection.h"
#include "regtest/logfile.h"
#include "regtest/scenario.h"
#include "station/platform.h"
#include "station/protocol.h"
#include "station/record.h"
#include "station/station.h"

namespace station {

namespace {

using SteadyClock = std::chrono::steady_clock;

void PrintErr(const QString& text) {
  fprintf(stderr, "km4410r: %s\n", OneLine(text).toUtf8().constData());
  fflush(stderr);
}

// The scenario without a window: the inputs from the command line, the log
// on stdout and in memory, messages on stderr, answers counted as the main
// window's result handlers count them.
class Console final : public regtest::Source, public regtest::Output {
 public:
  Console(const RunOptions& o, Recorder& recorder, history::RunWriter& writer)
      : o_(o), recorder_(recorder), writer_(writer) {
    current_ = this;
  }
  ~Console() override { current_ = nullptr; }

  regtest::Inputs Read() override {
    return {o_.passesText,      o_.pauseText,           o_.fiscal,         o_.cashier,
            o_.cashierPassword, o_.programmingPassword, o_.reportsPassword};
  }

  bool Command(const std::function<int(ResultHandler)>& send, bool silent) override {
    errorCounter_ = 0;
    if (send(silent ? &Console::Silent : &Console::Results) != 0) {
      // Nothing went on the line: the operation fails as with an erroneous answer.
      ++errorCounter_;
      Message(regtest::RefusalText());
    }
    return errorCounter_ < 1;
  }
  const RetData& LastAnswer() const override { return last_; }

  void Log(const QString& line) override {
    // The page's log holds a line per paragraph: a line break in a text
    // (an answer's) starts a new one, in the file as on the screen.
    QString text = line;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    for (const QString& piece : text.split(QLatin1Char('\n'))) {
      lines_ << piece;
      const QByteArray bytes = piece.toUtf8();
      fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
      fputc('\n', stdout);
    }
    fflush(stdout);
  }
  void Message(const QString& text) override {
    PrintErr(text);
    recorder_.Message(OneLine(text));
  }
  // The diagnostic request of "Подключить" and of the invalid-state dialog;
  // false (and its message) when it failed.
  bool AskDiagnostics() {
    if (Command([](ResultHandler h) { return GetDiagnosticInfo(nullptr, h, 0, 1); }, false)) return true;
    Message(regtest::InfoErrorText());
    return false;
  }
  void ShowInvalidState() override {
    // What the invalid-state dialog does when it appears: it asks the
    // register again and lists the reasons.
    QStringList lines;
    if (AskDiagnostics()) lines = regtest::ReadinessProblems(last_.ErrorFlags);
    const QString title = regtest::InvalidStateTitle();
    Message(lines.isEmpty() ? title : title + QStringLiteral(": ") + lines.join(QStringLiteral("; ")));
  }
  bool StopRequested() override {
    QCoreApplication::processEvents();
    return station::StopRequested();
  }
  void Sleep(int ms) override {
    // A real sleep; a stop request cuts it short (the run stops right after).
    const auto until = SteadyClock::now() + std::chrono::milliseconds(ms);
    while (!station::StopRequested()) {
      const auto left = until - SteadyClock::now();
      if (left <= SteadyClock::duration::zero()) break;
      std::this_thread::sleep_for(std::min<SteadyClock::duration>(left, std::chrono::milliseconds(100)));
    }
  }
  QDateTime Now() override { return QDateTime::currentDateTime(); }
  void StepBegun(const regtest::StepInfo& s) override {
    recorder_.StepBegun(s);
    writer_.StepBegun(s);
    if (o_.progress) {
      fprintf(stderr, "%s\n", ProgressLine(s.pass, s.passes, s.errorsBefore, s.title).toUtf8().constData());
      fflush(stderr);
    }
  }
  void StepEnded(const regtest::StepInfo& s, int errorsAfter) override {
    recorder_.StepEnded(s, errorsAfter);
    writer_.StepEnded(s, errorsAfter);
  }
  void Link(const regtest::LinkEvent& e) override {
    recorder_.Link(e);
    writer_.Link(e);
  }
  void Ended(regtest::RunEnd end, int errors, int) override {
    recorder_.RunEnded(end, errors);
    writer_.Ended(end, errors);
  }

  int errorCounter() const { return errorCounter_; }
  const QStringList& lines() const { return lines_; }

 private:
  // The main window's result handlers, for this console: a copy of the
  // answer, the first error's message (not for the silent one) and a count.
  static void Deliver(RetData& data, bool silent) {
    if (!current_) return;
    current_->last_ = data;
    const FlagInfo* error = FirstError(data.ErrorFlags);
    if (!error) return;
    if (!silent) current_->Message(QString::fromUtf8(error->text));
    current_->errorCounter_++;
  }
  static void Results(RetData& data) { Deliver(data, false); }
  static void Silent(RetData& data) { Deliver(data, true); }

  static Console* current_;
  const RunOptions& o_;
  Recorder& recorder_;
  history::RunWriter& writer_;
  RetData last_{};
  int errorCounter_ = 0;
  QStringList lines_;
};

Console* Console::current_ = nullptr;

// A run's verdict and exit status.
struct Outcome {
  const char* verdict;
  int status;
};
constexpr Outcome kRunFailed = {kFailed, kExitFailed};

// The outcome of a run that reached the register test. A link that stayed
// away to the end of a pass makes it "link lost", unless it was stopped.
Outcome Judge(const std::optional<regtest::RunEnd>& end, int errors, bool linkLost) {
  using regtest::RunEnd;
  if (!end) return kRunFailed;
  if (linkLost && regtest::LinkLostDecides(*end)) return {kLinkLost, kExitFailed};
  switch (*end) {
    case RunEnd::Completed: return errors == 0 ? Outcome{kPassed, kExitPassed} : kRunFailed;
    case RunEnd::Stopped: return {kStopped, kExitFailed};
    case RunEnd::Aborted: return {kAborted, kExitFailed};
    case RunEnd::NoInformation:
    case RunEnd::NotReady: return {kNotReady, kExitNotReady};
    case RunEnd::BadInput: return {kBadUsage, kExitUsage};
    case RunEnd::HeaderRefused: return kRunFailed;
  }
  return kRunFailed;
}

// Runs `work`; an exception that escapes it is said as a message, and false.
bool Guarded(Console& console, const std::function<void()>& work) {
  try {
    work();
    return true;
  } catch (const std::exception& e) {
    console.Message(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    console.Message(QStringLiteral("unknown error"));
  }
  return false;
}

// "Подключить" (the port, the diagnostic request, the switch check) and
// then "Старт". Whether the port was opened; the outcome in `out`. An
// exception that escapes ends the test as failed.
bool ConnectAndRun(const RunOptions& o, Console& console, Recorder& recorder, Outcome* out) {
  bool opened = false;
  bool answered = false;
  const bool connected = Guarded(console, [&] {
    if (regtest::OpenNamedPort(o.port, o.baud) == -1) {
      console.Message(regtest::PortOpenFailure());
      return;
    }
    opened = true;
    answered = console.AskDiagnostics();
    if (answered) regtest::ApplySwitchSettings(console.LastAnswer());
  });
  recorder.setDevice(QFile::decodeName(GetLastPortDevice()));
  if (!connected)
    *out = kRunFailed;
  else if (!opened)
    *out = {kPortNotOpened, kExitNotReady};
  else if (!answered)
    *out = {kNotReady, kExitNotReady};
  else if (Guarded(console, [&] { regtest::Scenario(console, console).Run(); }))
    *out = Judge(recorder.end(), recorder.errors(), recorder.linkLost().has_value());
  else
    *out = kRunFailed;
  return opened;
}

// Writes bytes through the log's safe writer; false (and a message) when it
// could not.
bool Save(const QString& path, const QByteArray& bytes) {
  QString reason;
  if (regtest::SaveFileBytes(path, bytes, &reason)) return true;
  PrintErr(QStringLiteral("%1: %2").arg(path, reason));
  return false;
}

// The log, the record and the JUnit file the command line asks for. A file
// that cannot be written makes a passed run fail; the verdict in them is the
// test's own. The exit status.
int SaveFiles(const RunOptions& o, const Console& console, const Recorder& recorder, Outcome outcome) {
  int status = outcome.status;
  const auto save = [&status](const QString& path, const QByteArray& bytes) {
    if (!Save(path, bytes) && status == kExitPassed) status = kExitFailed;
  };
  // The log as "Сохранить" writes it.
  if (!o.log.isEmpty())
    save(o.log, o.logUtf8 ? regtest::LogFileBytesUtf8(console.lines()) : regtest::LogFileBytes(console.lines()));
  const QJsonObject record = recorder.Json(QString::fromLatin1(outcome.verdict), outcome.status);
  if (!o.record.isEmpty()) save(o.record, QJsonDocument(record).toJson(QJsonDocument::Indented));
  if (!o.junit.isEmpty()) save(o.junit, JUnitXml({record}));
  return status;
}

}  // namespace

int RunOne(const RunOptions& o) {
  InstallStopRequest();
  // The run is kept as it goes; a history that fails is said once and the test goes on.
  const std::unique_ptr<history::Store> store = OpenHistory(o);
  history::RunWriter writer(store.get());
  const history::StationInfo station = history::ThisStation(QStringLiteral("km4410r " KM_VERSION), o.port, o.baud);
  // A --ports parent asks for progress lines: the child is one of its registers.
  writer.Start(station, o.passes, o.progress ? history::RunKind::Ports : history::RunKind::RunTest);
  Recorder recorder(o);
  recorder.setHistory(writer.runId(), station.host);
  recorder.Attach();
  writer.Attach();
  Console console(o, recorder, writer);
  Outcome outcome = kRunFailed;
  if (ConnectAndRun(o, console, recorder, &outcome)) ClosePort();
  writer.Detach();
  recorder.Detach();
  recorder.setEnded();
  // A run that never reached the scenario ends here.
  if (!recorder.end())
    writer.EndedWith(outcome.status == kExitNotReady ? history::kVerdictNotReady : history::kVerdictFailed,
                     recorder.errors());
  const int status = SaveFiles(o, console, recorder, outcome);
  UploadAtEnd(store.get());
  return status;
}

}  // namespace station
