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
  Console(const RunOptions& o, Recorder& recorder) : o_(o), recorder_(recorder) { current_ = this; }
  ~Console() override { current_ = nullptr; }

  regtest::Inputs Read() override {
    regtest::Inputs in;
    in.passesText = o_.passesText;
    in.pauseText = o_.pauseText;
    in.secondPhase = o_.fiscal;
    in.cashier = o_.cashier;
    in.cashierPassword = o_.cashierPassword;
    in.programmingPassword = o_.programmingPassword;
    in.reportsPassword = o_.reportsPassword;
    return in;
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
  void ShowInvalidState() override {
    // What the invalid-state dialog does when it appears: it asks the
    // register again and lists the reasons.
    QStringList lines;
    if (Command([](ResultHandler h) { return GetDiagnosticInfo(nullptr, h, 0, 1); }, false))
      lines = regtest::ReadinessProblems(last_.ErrorFlags);
    else
      Message(QStringLiteral("Ошибка получения информации"));
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
    if (o_.progress) {
      fprintf(stderr, "%s\n", ProgressLine(s.pass, s.passes, s.errorsBefore, s.title).toUtf8().constData());
      fflush(stderr);
    }
  }
  void StepEnded(const regtest::StepInfo& s, int errorsAfter) override { recorder_.StepEnded(s, errorsAfter); }
  void Ended(regtest::RunEnd end, int errors, int) override { recorder_.RunEnded(end, errors); }

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
  RetData last_{};
  int errorCounter_ = 0;
  QStringList lines_;
};

Console* Console::current_ = nullptr;

// Verdict and exit status of a run that reached the register test.
void Judge(const std::optional<regtest::RunEnd>& end, int errors, QString* verdict, int* status) {
  using regtest::RunEnd;
  *verdict = QStringLiteral("failed");
  *status = kExitFailed;
  if (!end) return;
  switch (*end) {
    case RunEnd::Completed:
      *verdict = errors == 0 ? QString::fromLatin1(kPassed) : QStringLiteral("failed");
      *status = errors == 0 ? kExitPassed : kExitFailed;
      return;
    case RunEnd::Stopped:
      *verdict = QStringLiteral("stopped");
      return;
    case RunEnd::Aborted:
      *verdict = QStringLiteral("aborted");
      return;
    case RunEnd::NoInformation:
    case RunEnd::NotReady:
      *verdict = QStringLiteral("not ready");
      *status = kExitNotReady;
      return;
    case RunEnd::BadInput:
      *verdict = QStringLiteral("bad usage");
      *status = kExitUsage;
      return;
    case RunEnd::HeaderRefused:
      return;
  }
}

// Writes bytes through the log's safe writer; false (and a message) when it
// could not.
bool Save(const QString& path, const QByteArray& bytes) {
  QString reason;
  if (regtest::SaveFileBytes(path, bytes, &reason)) return true;
  PrintErr(QStringLiteral("%1: %2").arg(path, reason));
  return false;
}

}  // namespace

int RunOne(const RunOptions& o) {
  InstallStopRequest();
  Recorder recorder(o);
  recorder.Attach();
  Console console(o, recorder);

  QString verdict;
  int status = kExitPassed;
  // An exception that escapes ends the test as failed, with its files.
  const auto guarded = [&](const std::function<void()>& work) {
    try {
      work();
      return true;
    } catch (const std::exception& e) {
      console.Message(QString::fromLocal8Bit(e.what()));
    } catch (...) {
      console.Message(QStringLiteral("unknown error"));
    }
    verdict = QStringLiteral("failed");
    status = kExitFailed;
    return false;
  };

  // "Подключить": the port, the diagnostic request, the switch check.
  bool opened = false;
  bool answered = false;
  const bool connected = guarded([&] {
    if (regtest::OpenNamedPort(o.port, o.baud) == -1) {
      console.Message(regtest::PortOpenFailure());
      return;
    }
    opened = true;
    answered = console.Command([](ResultHandler h) { return GetDiagnosticInfo(nullptr, h, 0, 1); }, false);
    if (!answered) {
      console.Message(QStringLiteral("Ошибка получения информации"));
      return;
    }
    regtest::ApplySwitchSettings(console.LastAnswer());
  });
  recorder.setDevice(QFile::decodeName(GetLastPortDevice()));

  if (!connected) {
    // verdict and status set by the guard
  } else if (!opened) {
    verdict = QStringLiteral("port not opened");
    status = kExitNotReady;
  } else if (!answered) {
    verdict = QStringLiteral("not ready");
    status = kExitNotReady;
  } else {
    // "Старт".
    if (guarded([&] { regtest::Scenario(console, console).Run(); }))
      Judge(recorder.end(), recorder.errors(), &verdict, &status);
  }
  if (opened) ClosePort();
  recorder.Detach();
  recorder.setEnded();

  // The log as "Сохранить" writes it.
  if (!o.log.isEmpty()) {
    const QByteArray bytes =
        o.logUtf8 ? regtest::LogFileBytesUtf8(console.lines()) : regtest::LogFileBytes(console.lines());
    if (!Save(o.log, bytes) && status == kExitPassed) status = kExitFailed;
  }
  // A record or JUnit file that cannot be written makes the run fail; the
  // verdict in them is the test's own.
  const QJsonObject record = recorder.Json(verdict, status);
  if (!o.record.isEmpty() && !Save(o.record, QJsonDocument(record).toJson(QJsonDocument::Indented)) &&
      status == kExitPassed)
    status = kExitFailed;
  if (!o.junit.isEmpty() && !Save(o.junit, JUnitXml({record})) && status == kExitPassed) status = kExitFailed;
  return status;
}

}  // namespace station
