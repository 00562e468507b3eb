#include <QDateTime>

#include "base/cp1251text.h"
#include "driver/command_codes.h"
#include "driver/flags.h"
#include "history/history.h"
#include "history/store_internal.h"

namespace history {

namespace {

// The fields (comma-separated) of a command's data that are passwords.
struct Secret {
  int code;
  int fields[2];  // -1: none; both -1 with `all`: the whole data
  bool all;
};
const Secret kSecrets[] = {
    {kCmdDecimalsAndTaxRates, {0, -1}, false},   {kCmdSetOperatorPassword, {1, 2}, false},
    {kCmdSetOperatorName, {1, -1}, false},        {kCmdResetOperatorPasswords, {1, -1}, false},
    {kCmdDailyReport, {0, -1}, false},            {kCmdFullReportByNumber, {0, -1}, false},
    {kCmdShortReportByNumber, {0, -1}, false},    {kCmdShortReportByDate, {0, -1}, false},
    {kCmdFullReportByDate, {0, -1}, false},       {kCmdClearOperatorData, {-1, -1}, true},
    {kCmdAdminPassword, {-1, -1}, true},          {kCmdFiscalize, {-1, -1}, true},
};

// The data a frame carried: after SOH, LEN, SEQ and CMD, before the postamble,
// the checksum and ETX.
QString FrameData(const ExchangeTrace& t) {
  if (!t.frame || t.frameLength < 10) return {};
  return fromCp1251(QByteArray(reinterpret_cast<const char*>(t.frame) + 4, t.frameLength - 10).constData());
}

}  // namespace

bool ServiceJournal::Changes(int code, const QString& data) {
  switch (code) {
    case kCmdSetDateTime:
    case kCmdSetOperatorPassword:
    case kCmdSetOperatorName:
    case kCmdClearOperatorData:
    case kCmdAdminPassword:
    case kCmdResetOperatorPasswords:
    case kCmdWriteNetworkSettings:
    case kCmdOpenCashDrawer:
    case kCmdCancelReceipt:
    case kCmdFullReportByNumber:
    case kCmdShortReportByNumber:
    case kCmdShortReportByDate:
    case kCmdFullReportByDate:
    case kCmdSetHeaderFooter:
    case kCmdFiscalize:
    case kCmdSetSerialNumber:
    case kCmdSetFiscalNumber:
    case kCmdSetTaxNumber:
      return true;
    // Empty data reads them.
    case kCmdDecimalsAndTaxRates:
    case kCmdServiceCashInOut:
      return !data.isEmpty();
    // P programs an article, D deletes them; the rest reads.
    case kCmdArticles:
      return data.startsWith(QLatin1Char('P')) || data.startsWith(QLatin1Char('D'));
    // "PASSWORD,0" is the Z report; the others are X reports.
    case kCmdDailyReport:
      return data.section(QLatin1Char(','), 1, 1).startsWith(QLatin1Char('0'));
    default:
      return false;
  }
}

QString ServiceJournal::Redacted(int code, const QString& data) {
  QStringList fields = data.split(QLatin1Char(','));
  for (const Secret& s : kSecrets) {
    if (s.code != code) continue;
    if (s.all) return data.isEmpty() ? data : QStringLiteral("***");
    for (int f : s.fields)
      if (f >= 0 && f < fields.size()) fields[f] = QStringLiteral("***");
    return fields.join(QLatin1Char(','));
  }
  if (code == kCmdArticles && fields.size() >= 2) {
    // P...,GROUP,PRICE,PASSWORD,NAME and D...,PASSWORD
    fields[data.startsWith(QLatin1Char('P')) && fields.size() >= 4 ? 3 : 1] = QStringLiteral("***");
    return fields.join(QLatin1Char(','));
  }
  return data;
}

ServiceJournal::ServiceJournal(Store* store, const StationInfo& station)
    : store_(store && store->usable() ? store : nullptr), station_(station) {}

ServiceJournal::~ServiceJournal() { Detach(); }

void ServiceJournal::Attach() { hook_.Attach(&ServiceJournal::OnExchange, this); }

void ServiceJournal::Detach() { hook_.Detach(); }

void ServiceJournal::SetRegister(const Identity& identity) {
  serial_ = identity.serial;
  if (store_) store_->impl()->SeeRegister(identity, QDateTime::currentMSecsSinceEpoch());
}

void ServiceJournal::OnExchange(const ExchangeTrace& t, void* context) {
  ServiceJournal* j = static_cast<ServiceJournal*>(context);
  j->Exchange(t);
  j->hook_.Forward(t);
}

void ServiceJournal::Exchange(const ExchangeTrace& t) {
  const RetData* a = t.answer;
  Identity identity;
  if (a && t.command == kCmdDiagnosticInfo && ReadDiagnosticIdentity(*a, &identity)) SetRegister(identity);
  const QString data = a && a->SentData ? fromCp1251(a->SentData) : FrameData(t);
  if (!store_ || !Changes(t.command, data)) return;
  const uint32_t flags = a ? a->ErrorFlags : 0;
  const FlagInfo* error = FirstError(flags);
  const bool ok = a && t.written && !error;
  StoreImpl& s = *store_->impl();
  s.Write(InsertOnce("service_events", sql::kEventColumns),
          {NewId(), TextOrNull(serial_), s.StationId(station_), static_cast<qint64>(t.sentAtMs), UtcOffsetMinutes(), t.command,
           NonNull(fromCp1251(GetCommandName(t.command))), NonNull(Redacted(t.command, data)), QLatin1String(ok ? "ok" : "failed"),
           static_cast<qint64>(flags),
           ok ? QStringLiteral("") : error ? QString::fromUtf8(error->text) : QStringLiteral("no answer")});
}

}  // namespace history
