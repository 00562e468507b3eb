// The history in a build whose Qt has no Qt SQL (the Windows build, until
// its Qt for Windows gains the SQL drivers): every call is there, nothing is
// kept, and opening a store says so once.
#include <QDateTime>
#include <QUuid>

#include "history/history.h"
#include "history/queries.h"

namespace history {

namespace {

Store* gShared = nullptr;

const QString& Unavailable() {
  static const QString text = QStringLiteral("history: this build keeps no history (its Qt has no Qt SQL)");
  return text;
}

}  // namespace

struct StoreImpl {
  Location location;
  QString problem;
  std::function<void(const QString&)> handler;
};

struct ReaderImpl {};

Store::Store(const Location& location) : d_(std::make_unique<StoreImpl>()) { d_->location = location; }
Store::~Store() {
  if (gShared == this) gShared = nullptr;
}

bool Store::Open() {
  if (d_->location.none() || !d_->problem.isEmpty()) return false;
  d_->problem = Unavailable();
  if (d_->handler) d_->handler(d_->problem);
  return false;
}

bool Store::usable() const { return false; }
const Location& Store::location() const { return d_->location; }
QString Store::problem() const { return d_->problem; }
void Store::SetProblemHandler(std::function<void(const QString&)> handler) { d_->handler = std::move(handler); }
Store* Store::Shared() { return gShared; }
void Store::SetShared(Store* store) { gShared = store; }
Store::Waiting Store::Queue() const { return {}; }

Store::SyncResult Store::Sync(int) {
  SyncResult r;
  r.failure = Unavailable();
  return r;
}

bool InitServer(const QString&, QString* message) {
  *message = Unavailable();
  return false;
}

QString SyncText(const Store::SyncResult& r, const QString&) { return r.failure; }

RunWriter::RunWriter(Store*) : store_(nullptr) {}
RunWriter::~RunWriter() { Detach(); }

void RunWriter::Start(const StationInfo&, int, RunKind) {
  runId_ = QUuid::createUuid().toString(QUuid::WithoutBraces);
  startMs_ = QDateTime::currentMSecsSinceEpoch();
}

void RunWriter::Attach() { hook_.Attach(&RunWriter::OnExchange, this); }

void RunWriter::Detach() { hook_.Detach(); }

void RunWriter::OnExchange(const ExchangeTrace& t, void* context) {
  RunWriter* w = static_cast<RunWriter*>(context);
  w->hook_.Forward(t);
}

void RunWriter::Exchange(const ExchangeTrace&) {}
void RunWriter::StepBegun(const regtest::StepInfo&) {}
void RunWriter::StepEnded(const regtest::StepInfo&, int) {}
void RunWriter::Ended(regtest::RunEnd end, int errors) { Finish(VerdictOf(end, errors), errors, 0); }
void RunWriter::EndedWith(const char* verdict, int errors) { Finish(verdict, errors, 0); }
void RunWriter::WriteStep(int) {}
void RunWriter::Finish(const char*, int, int) { ended_ = true; }

ServiceJournal::ServiceJournal(Store*, const StationInfo& station) : store_(nullptr), station_(station) {}
ServiceJournal::~ServiceJournal() { Detach(); }

void ServiceJournal::Attach() { hook_.Attach(&ServiceJournal::OnExchange, this); }

void ServiceJournal::Detach() { hook_.Detach(); }

void ServiceJournal::SetRegister(const Identity& identity) { serial_ = identity.serial; }
bool ServiceJournal::Changes(int, const QString&) { return false; }
QString ServiceJournal::Redacted(int, const QString& sentData) { return sentData; }

void ServiceJournal::OnExchange(const ExchangeTrace& t, void* context) {
  ServiceJournal* j = static_cast<ServiceJournal*>(context);
  j->hook_.Forward(t);
}

void ServiceJournal::Exchange(const ExchangeTrace&) {}

Reader::Reader(Store&) : d_(std::make_unique<ReaderImpl>()) {}
Reader::Reader(const QString&) : d_(std::make_unique<ReaderImpl>()) {}
Reader::~Reader() = default;

std::unique_ptr<Reader> OpenReader(Store& store, QString* fallback) {
  fallback->clear();
  return std::make_unique<Reader>(store);
}
bool Reader::ok() const { return false; }
QString Reader::error() const { return Unavailable(); }
QList<RegisterSeen> Reader::Registers(int) { return {}; }
RegisterHeader Reader::Header(const QString&) { return {}; }
QList<RunRow> Reader::Runs(const QString&, int) { return {}; }
std::optional<RunRow> Reader::RunBefore(const QString&, const QString&) { return std::nullopt; }
QList<Fault> Reader::Faults(const QString&) { return {}; }
QList<ServiceEvent> Reader::Journal(const QString&) { return {}; }
QList<FirmwareWeek> Reader::FailureRates(qint64) { return {}; }

}  // namespace history
