#include "station/record.h"

#include <QDate>
#include <algorithm>
#include <QSysInfo>
#include <QTime>
#include <QXmlStreamWriter>

#include "base/cp1251text.h"
#include "driver/flags.h"
#include "station/protocol.h"

namespace station {

namespace {

QJsonArray FlagNames(uint32_t flags) {
  QJsonArray names;
  for (const FlagInfo& f : kFlagTable)
    if (flags & f.flag) names.append(QLatin1String(f.name));
  return names;
}

// ISO 8601 with the offset written out (+00:00 rather than Z).
QString Iso(const QDateTime& t) {
  const int offset = t.offsetFromUtc();
  const int minutes = (offset < 0 ? -offset : offset) / 60;
  return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
         QStringLiteral("%1%2:%3")
             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
             .arg(minutes / 60, 2, 10, QLatin1Char('0'))
             .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString Hex(uint32_t v, int digits) {
  return QStringLiteral("0x") + QStringLiteral("%1").arg(v, digits, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

// ---- collecting ---------------------------------------------------------------------

void Recorder::Attach() { hook_.Attach(&Recorder::OnExchange, this); }

void Recorder::Detach() { hook_.Detach(); }

void Recorder::OnExchange(const ExchangeTrace& t, void* context) {
  Recorder* r = static_cast<Recorder*>(context);
  r->Exchange(t);
  r->hook_.Forward(t);
}

Recorder::StepRecord* Recorder::OpenStep() {
  if (passes_.empty() || passes_.back().steps.empty() || passes_.back().steps.back().ended) return nullptr;
  return &passes_.back().steps.back();
}

void Recorder::StepBegun(const regtest::StepInfo& step) {
  if (passes_.empty() || passes_.back().number != step.pass) {
    if (!passes_.empty()) passes_.back().completed = true;
    PassRecord p;
    p.number = step.pass;
    passes_.push_back(p);
  }
  StepRecord s;
  s.kind = step.kind;
  s.title = step.title;
  s.started = SteadyClock::now();
  s.errorsBefore = step.errorsBefore;
  passes_.back().steps.push_back(s);
}

void Recorder::StepEnded(const regtest::StepInfo&, int errorsAfter) {
  StepRecord* s = OpenStep();
  if (!s) return;
  s->durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - s->started).count();
  s->errorsAfter = errorsAfter;
  s->ended = true;
}

void Recorder::RunEnded(regtest::RunEnd end, int errors) {
  if (end == regtest::RunEnd::Completed && !passes_.empty()) passes_.back().completed = true;
  end_ = end;
  errors_ = errors;
}

void Recorder::Link(const regtest::LinkEvent& e) {
  switch (e.kind) {
    case regtest::LinkEvent::Dropped: drops_.push_back({e, QDateTime(), 0}); break;
    case regtest::LinkEvent::Returned:
      if (!drops_.empty()) {
        drops_.back().back = e.at;
        drops_.back().failedCommands = e.failedCommands;
      }
      break;
    case regtest::LinkEvent::Lost:
      if (!linkLost_) linkLost_ = e;
      break;
  }
}

void Recorder::Exchange(const ExchangeTrace& t) {
  CommandRecord c;
  c.code = t.command;
  c.flags = t.answer ? t.answer->ErrorFlags : 0;
  c.durationMs = t.durationMs;
  StepRecord* step = OpenStep();
  (step ? step->commands : startCommands_).push_back(c);
  if (!t.answer) return;
  const RetData& a = *t.answer;
  const bool ok = FirstError(a.ErrorFlags) == nullptr;
  const auto field = [&a](int i) { return AnswerField(a, i); };
  // The identity comes from the answers the connection and the test ask
  // for anyway: the first diagnostic answer and the tax number step.
  if (t.command == kCmdDiagnosticInfo && ok && !identityDiagnostic_) {
    identityDiagnostic_ = true;
    identity_[QStringLiteral("firmware")] = field(0);
    identity_[QStringLiteral("firmware_date")] = field(1);
    identity_[QStringLiteral("firmware_time")] = field(2);
    identity_[QStringLiteral("switches")] = field(4);
    identity_[QStringLiteral("serial_number")] = field(6);
    identity_[QStringLiteral("fiscal_number")] = field(7);
    identity_[QStringLiteral("diagnostic_answer")] = fromCp1251(a.AnswerText);
  }
  if (t.command == kCmdGetTaxNumber && ok && !identityTax_) {
    identityTax_ = true;
    identity_[QStringLiteral("tax_number")] = field(0);
    identity_[QStringLiteral("tax_number_kind")] = field(1);
  }
  if (t.command == kCmdGetDateTime && step && step->kind == regtest::StepKind::Timer) {
    passes_.back().readings.push_back(history::ReadClock(&a, ok, t.sentAtMs + t.durationMs));
  }
}

QJsonArray Recorder::Commands(const std::vector<CommandRecord>& commands) {
  QJsonArray out;
  for (const CommandRecord& c : commands) {
    QJsonObject o;
    o[K(key::kCode)] = c.code;
    o[K(key::kCodeHex)] = Hex(static_cast<uint32_t>(c.code), 2);
    o[K(key::kName)] = fromCp1251(GetCommandName(c.code));
    o[K(key::kFlags)] = static_cast<qint64>(c.flags);
    o[K(key::kFlagsHex)] = Hex(c.flags, 8);
    o[K(key::kFlagNames)] = FlagNames(c.flags);
    if (const FlagInfo* e = FirstError(c.flags)) o[K(key::kError)] = QString::fromUtf8(e->text);
    o[K(key::kDurationMs)] = c.durationMs;
    out.append(o);
  }
  return out;
}

QJsonArray Recorder::Steps(const PassRecord& p) const {
  QJsonArray steps;
  for (const StepRecord& s : p.steps) {
    // A step still open when the record is written ended with the run.
    const int after = s.ended ? s.errorsAfter : std::max(s.errorsBefore, errors_);
    QJsonObject step;
    step[K(key::kTitle)] = s.title;
    step[K(key::kStep)] = QLatin1String(StepKindName(s.kind));
    step[K(key::kOutcome)] = K(after > s.errorsBefore ? kFailed : kStepOk);
    step[K(key::kErrors)] = after - s.errorsBefore;
    step[K(key::kDurationMs)] = s.durationMs;
    step[K(key::kCommands)] = Commands(s.commands);
    steps.append(step);
  }
  return steps;
}

QJsonObject Recorder::PassClock(const PassRecord& p, history::RateSum* sum) {
  QJsonObject clock;
  QJsonArray readings;
  for (const Reading& rd : p.readings) {
    QJsonObject o;
    o[K(key::kOk)] = rd.ok;
    o[K(key::kRegister)] = rd.text;
    o[K(key::kPc)] = Iso(rd.pc);
    readings.append(o);
  }
  clock[K(key::kReadings)] = readings;
  const history::PassRate p2 = history::RateOfPass(p.readings);
  if (!p2.rate.valid) return clock;
  clock[K(key::kRegisterSeconds)] = static_cast<double>(p2.registerSecs);
  clock[K(key::kPcSeconds)] = p2.pcSecs;
  clock[K(key::kRate)] = p2.rate.rate;
  clock[K(key::kResolution)] = p2.rate.resolution;
  sum->Add(p2.rate);
  return clock;
}

QJsonObject Recorder::Json(const QString& verdict, int exitStatus) const {
  QJsonObject r;
  r[K(key::kProgram)] = QStringLiteral("km4410r " KM_VERSION);
  if (!runId_.isEmpty()) r[K(key::kRunId)] = runId_;
  r[K(key::kStation)] = station_.isEmpty() ? QSysInfo::machineHostName() : station_;
  r[K(key::kPort)] = o_.port;
  r[K(key::kDevice)] = device_;
  r[K(key::kSpeed)] = o_.baud;
  r[K(key::kRegister)] = identity_;
  r[K(key::kStart)] = Iso(started_);
  r[K(key::kEnd)] = Iso(ended_.isValid() ? ended_ : QDateTime::currentDateTime());
  QJsonObject inputs;
  inputs[K(key::kPasses)] = o_.passes;
  inputs[K(key::kPauseMs)] = o_.pause;
  inputs[K(key::kFiscal)] = o_.fiscal;
  inputs[K(key::kCashier)] = o_.cashier;
  r[K(key::kInputs)] = inputs;
  r[K(key::kStartCommands)] = Commands(startCommands_);

  QJsonArray passes;
  int done = 0;
  history::RateSum sum;
  for (const PassRecord& p : passes_) {
    QJsonObject pass;
    pass[K(key::kPass)] = p.number;
    pass[K(key::kCompleted)] = p.completed;
    if (p.completed) ++done;
    pass[K(key::kSteps)] = Steps(p);
    pass[K(key::kClock)] = PassClock(p, &sum);
    passes.append(pass);
  }
  r[K(key::kPasses)] = passes;
  r[K(key::kPassesDone)] = done;
  QJsonObject clock;
  clock[K(key::kPassesMeasured)] = sum.measured;
  if (const history::ClockRate mean = sum.Mean(); mean.valid) {
    clock[K(key::kRate)] = mean.rate;
    clock[K(key::kResolution)] = mean.resolution;
  }
  r[K(key::kClock)] = clock;
  // Where the link went and why.
  const auto place = [](const regtest::LinkEvent& e) {
    QJsonObject o;
    o[K(key::kPass)] = e.pass;
    o[K(key::kStep)] = e.stepTitle;
    o[K(key::kStepKind)] = QString::fromLatin1(StepKindName(e.step));
    o[K(key::kReason)] = e.reason;
    return o;
  };
  QJsonArray drops;
  for (const Drop& d : drops_) {
    QJsonObject o = place(d.went);
    o[K(key::kLost)] = d.went.at.toString(Qt::ISODateWithMs);
    if (d.back.isValid()) {
      o[K(key::kBack)] = d.back.toString(Qt::ISODateWithMs);
      o[K(key::kFailedCommands)] = d.failedCommands;
    }
    drops.append(o);
  }
  r[K(key::kLinkDrops)] = drops;
  if (linkLost_) r[K(key::kLinkLost)] = place(*linkLost_);
  r[K(key::kVerdict)] = verdict;
  r[K(key::kErrors)] = errors_;
  r[K(key::kExitStatus)] = exitStatus;
  r[K(key::kMessages)] = QJsonArray::fromStringList(messages_);
  return r;
}

// ---- JUnit ------------------------------------------------------------------------------

namespace {

QString Seconds(qint64 ms) { return QString::number(ms / 1000.0, 'f', 3); }

// XML 1.0 has no place for most control characters (a register's answer may
// carry them): each becomes \xNN.
QString Clean(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xFFFE || u == 0xFFFF)
      out += QStringLiteral("\\x%1").arg(static_cast<int>(u), 2, 16, QLatin1Char('0'));
    else
      out += c;
  }
  return out;
}

struct Case {
  QString name;
  qint64 ms = 0;
  bool failed = false;
  QString message;  // the failure's message
  QString detail;   // the failure's text
};

QString FailureOfStep(const QJsonObject& step) {
  const QJsonArray commands = step.value(K(key::kCommands)).toArray();
  for (const QJsonValue& v : commands) {
    const QJsonObject c = v.toObject();
    if (c.contains(K(key::kError)))
      return QStringLiteral("%1 %2: %3")
          .arg(c.value(K(key::kCodeHex)).toString(), c.value(K(key::kName)).toString(),
               c.value(K(key::kError)).toString());
  }
  return QStringLiteral("%1 error(s) in the step").arg(step.value(K(key::kErrors)).toInt());
}

// The test cases of one record: a case per step of every pass, or one for
// the connection and the start when no step ran.
QList<Case> CasesOf(const QJsonObject& r) {
  QList<Case> cases;
  for (const QJsonValue& pv : r.value(K(key::kPasses)).toArray()) {
    const QJsonObject pass = pv.toObject();
    const int number = pass.value(K(key::kPass)).toInt();
    for (const QJsonValue& sv : pass.value(K(key::kSteps)).toArray()) {
      const QJsonObject step = sv.toObject();
      Case c;
      c.name = QStringLiteral("pass %1: %2").arg(number).arg(step.value(K(key::kTitle)).toString());
      c.ms = step.value(K(key::kDurationMs)).toInteger();
      c.failed = step.value(K(key::kOutcome)).toString() != QLatin1String(kStepOk);
      if (c.failed) {
        c.message = FailureOfStep(step);
        QStringList lines;
        for (const QJsonValue& cv : step.value(K(key::kCommands)).toArray()) {
          const QJsonObject cmd = cv.toObject();
          lines << QStringLiteral("%1 %2 flags %3 %4")
                       .arg(cmd.value(K(key::kCodeHex)).toString(), cmd.value(K(key::kName)).toString(),
                            cmd.value(K(key::kFlagsHex)).toString(), cmd.value(K(key::kError)).toString());
        }
        c.detail = lines.join(QLatin1Char('\n'));
      }
      cases << c;
    }
  }
  const QString verdict = r.value(K(key::kVerdict)).toString();
  const QJsonObject lost = r.value(K(key::kLinkLost)).toObject();
  if (verdict == QLatin1String(kLinkLost) && !lost.isEmpty()) {
    // The step where the link went fails for that reason.
    const QString name = QStringLiteral("pass %1: %2")
                             .arg(lost.value(K(key::kPass)).toInt())
                             .arg(lost.value(K(key::kStep)).toString());
    for (Case& c : cases) {
      if (c.name != name) continue;
      c.failed = true;
      c.message = QStringLiteral("link lost: %1").arg(lost.value(K(key::kReason)).toString());
      break;
    }
  }
  if (cases.isEmpty()) {
    // Nothing of the scenario ran: the connection or the start failed.
    Case c;
    c.name = QStringLiteral("connection and start");
    c.failed = verdict != QLatin1String(kPassed);
    c.message = verdict;
    QStringList messages;
    for (const QJsonValue& m : r.value(K(key::kMessages)).toArray()) messages << m.toString();
    c.detail = messages.join(QLatin1Char('\n'));
    cases << c;
  } else if (verdict != QLatin1String(kPassed) &&
             std::none_of(cases.begin(), cases.end(), [](const Case& c) { return c.failed; })) {
    // A run that stopped, aborted or could not keep its files fails in its
    // last step even when no command of it had an error.
    Case& last = cases.last();
    last.failed = true;
    last.message = QStringLiteral("the run ended: %1").arg(verdict);
  }
  return cases;
}

// The counts of "tests", "failures", "errors" (and "skipped" for a suite)
// and the "time" of cases.
void WriteCounts(QXmlStreamWriter& xml, const QList<Case>& cases, bool suite) {
  int failures = 0;
  qint64 ms = 0;
  for (const Case& c : cases) {
    if (c.failed) ++failures;
    ms += c.ms;
  }
  xml.writeAttribute(QStringLiteral("tests"), QString::number(cases.size()));
  xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
  xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
  if (suite) xml.writeAttribute(QStringLiteral("skipped"), QStringLiteral("0"));
  xml.writeAttribute(QStringLiteral("time"), Seconds(ms));
}

void WriteSuite(QXmlStreamWriter& xml, const QJsonObject& r, const QList<Case>& cases) {
  const QString port = r.value(K(key::kPort)).toString();
  xml.writeStartElement(QStringLiteral("testsuite"));
  xml.writeAttribute(QStringLiteral("name"), Clean(port));
  WriteCounts(xml, cases, true);
  const QString start = r.value(K(key::kStart)).toString();
  xml.writeAttribute(QStringLiteral("timestamp"), start.left(19));
  xml.writeAttribute(QStringLiteral("hostname"), QSysInfo::machineHostName());
  xml.writeStartElement(QStringLiteral("properties"));
  const auto property = [&xml](const QString& name, const QString& value) {
    xml.writeStartElement(QStringLiteral("property"));
    xml.writeAttribute(QStringLiteral("name"), name);
    xml.writeAttribute(QStringLiteral("value"), Clean(value));
    xml.writeEndElement();
  };
  property(QStringLiteral("device"), r.value(K(key::kDevice)).toString());
  property(QStringLiteral("speed"), QString::number(r.value(K(key::kSpeed)).toInt()));
  property(QStringLiteral("verdict"), r.value(K(key::kVerdict)).toString());
  property(QStringLiteral("run_id"), r.value(K(key::kRunId)).toString());
  property(QStringLiteral("station"), r.value(K(key::kStation)).toString());
  const QJsonObject identity = r.value(K(key::kRegister)).toObject();
  for (auto it = identity.begin(); it != identity.end(); ++it) property(it.key(), it.value().toString());
  xml.writeEndElement();  // properties
  const QString classname = QStringLiteral("km4410r.") + port;
  for (const Case& c : cases) {
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("classname"), Clean(classname));
    xml.writeAttribute(QStringLiteral("name"), Clean(c.name));
    xml.writeAttribute(QStringLiteral("time"), Seconds(c.ms));
    if (c.failed) {
      xml.writeStartElement(QStringLiteral("failure"));
      xml.writeAttribute(QStringLiteral("message"), Clean(c.message));
      xml.writeAttribute(QStringLiteral("type"), QStringLiteral("register"));
      xml.writeCharacters(Clean(c.detail));
      xml.writeEndElement();
    }
    xml.writeEndElement();  // testcase
  }
  xml.writeEndElement();  // testsuite
}

}  // namespace

QByteArray JUnitXml(const QList<QJsonObject>& records) {
  QByteArray out;
  QXmlStreamWriter xml(&out);
  xml.setAutoFormatting(true);
  xml.writeStartDocument();
  QList<QList<Case>> suites;
  QList<Case> all;
  for (const QJsonObject& r : records) {
    suites << CasesOf(r);
    all += suites.last();
  }
  xml.writeStartElement(QStringLiteral("testsuites"));
  xml.writeAttribute(QStringLiteral("name"), QStringLiteral("km4410r register test"));
  WriteCounts(xml, all, false);
  for (qsizetype i = 0; i < records.size(); ++i) WriteSuite(xml, records[i], suites[i]);
  xml.writeEndElement();  // testsuites
  xml.writeEndDocument();
  return out;
}

}  // namespace station
