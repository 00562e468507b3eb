// The history from the command line: the store a run writes to, the upload
// at a run's end, and --history-show, --history-sync, --history-init.
#include <stdio.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "history/queries.h"
#include "station/protocol.h"
#include "station/station.h"

namespace station {

namespace {

void Say(FILE* to, const QString& text) {
  fprintf(to, "%s\n", OneLine(text).toUtf8().constData());
  fflush(to);
}

QString Clock(const history::RunRow& r) {
  if (!r.clockRate) return QStringLiteral("-");
  return QStringLiteral("%1 ±%2").arg(*r.clockRate, 0, 'f', 0).arg(r.clockResolution.value_or(0), 0, 'f', 0);
}

QJsonObject RunJson(const history::RunRow& r) {
  QJsonObject o;
  o[QStringLiteral("id")] = r.id;
  o[QStringLiteral("start_ms")] = r.startMs;
  o[QStringLiteral("end_ms")] = r.endMs ? QJsonValue(r.endMs) : QJsonValue();
  o[QStringLiteral("utc_offset_min")] = r.utcOffsetMin;
  o[QStringLiteral("station")] = r.station;
  o[QStringLiteral("port")] = r.port;
  o[QStringLiteral("speed")] = r.speed;
  o[QStringLiteral("kind")] = r.kind;
  o[QStringLiteral("firmware")] = r.firmware;
  o[QStringLiteral("firmware_changed")] = r.firmwareChanged;
  o[QStringLiteral("passes_asked")] = r.passesAsked;
  o[QStringLiteral("passes_done")] = r.passesDone;
  o[QStringLiteral("errors")] = r.errors;
  o[QStringLiteral("verdict")] = r.verdict;
  if (r.clockRate) {
    o[QStringLiteral("clock_rate_s_per_day")] = *r.clockRate;
    o[QStringLiteral("clock_resolution_s_per_day")] = r.clockResolution.value_or(0);
  }
  return o;
}

int Show(history::Reader& reader, const QString& serial, bool json) {
  const history::RegisterHeader h = reader.Header(serial);
  const QList<history::RunRow> runs = reader.Runs(serial);
  if (!reader.ok()) {
    Say(stderr, reader.error());
    return kExitFailed;
  }
  if (!h.found) {
    Say(stderr, QStringLiteral("history: no register %1 is kept").arg(serial));
    return kExitNotReady;
  }
  if (json) {
    QJsonObject o;
    o[QStringLiteral("serial")] = h.serial;
    o[QStringLiteral("fiscal_number")] = h.fiscalNumber;
    o[QStringLiteral("tax_number")] = h.taxNumber;
    o[QStringLiteral("firmware")] = h.firmware;
    o[QStringLiteral("first_seen_ms")] = h.firstSeenMs;
    o[QStringLiteral("last_seen_ms")] = h.lastSeenMs;
    o[QStringLiteral("visits")] = h.visits;
    o[QStringLiteral("stations")] = QJsonArray::fromStringList(h.stations);
    QJsonArray list;
    for (const history::RunRow& r : runs) list.append(RunJson(r));
    o[QStringLiteral("runs")] = list;
    fputs(QJsonDocument(o).toJson(QJsonDocument::Indented).constData(), stdout);
    return kExitPassed;
  }
  // One arg() for all: a "%5" in a register's text stays as it is.
  Say(stdout, QStringLiteral("register %1, fiscal number %2, tax number %3, firmware %4; %5 visit(s) at %6")
                  .arg(h.serial, h.fiscalNumber, h.taxNumber, h.firmware, QString::number(h.visits),
                       h.stations.join(QStringLiteral(", "))));
  for (const history::RunRow& r : runs)
    Say(stdout, QStringLiteral("%1  %2  %3  %4%5  %6/%7  errors %8  %9  clock %10")
                    .arg(HistoryTime(r.startMs, r.utcOffsetMin), r.station, r.port, r.firmware,
                         r.firmwareChanged ? QStringLiteral(" (new)") : QString(), QString::number(r.passesDone),
                         QString::number(r.passesAsked), QString::number(r.errors), r.verdict, Clock(r)));
  return kExitPassed;
}

}  // namespace

QString HistoryTime(qint64 ms, int offsetMin) {
  return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offsetMin * 60).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

std::unique_ptr<history::Store> OpenHistory(const RunOptions& o) {
  history::Location location;
  QString refusal;
  if (!history::ChooseLocation(o.history, QString(), &location, &refusal)) {
    Say(stderr, refusal + QStringLiteral("; the run is not kept"));
    return nullptr;
  }
  auto store = std::make_unique<history::Store>(location);
  store->SetProblemHandler([](const QString& text) { Say(stderr, text); });
  store->Open();
  return store;
}

void UploadAtEnd(history::Store* store) {
  if (!store || !store->usable() || store->location().remoteUrl.isEmpty()) return;
  // A short try: a server away keeps the runs waiting for the next one.
  const history::Store::SyncResult r = store->Sync(5000);
  if (!r.ok) Say(stderr, history::SyncText(r, store->location().remoteUrl));
}

int HistoryCommand(const RunOptions& o) {
  if (!o.historyInit.isEmpty()) {
    history::Location location;
    history::ParseLocation(o.historyInit, &location, nullptr);
    QString message;
    const bool ok = history::InitServer(location.remoteUrl, &message);
    Say(ok ? stdout : stderr, message);
    return ok ? kExitPassed : kExitFailed;
  }
  std::unique_ptr<history::Store> store = OpenHistory(o);
  if (!store) return kExitUsage;
  if (o.historySync) {
    if (store->location().remoteUrl.isEmpty()) {
      Say(stderr, QStringLiteral("history: no shared server is named (--history postgresql://USER@HOST/DB or %1)")
                      .arg(QLatin1String(history::kEnvironmentVariable)));
      return kExitUsage;
    }
    const history::Store::SyncResult r = store->Sync();
    Say(r.ok ? stdout : stderr, history::SyncText(r, store->location().remoteUrl));
    return r.ok ? kExitPassed : kExitFailed;
  }
  // The shared server shows every station's runs; the local file when it is away.
  QString fallback;
  const std::unique_ptr<history::Reader> reader = history::OpenReader(*store, &fallback);
  if (!fallback.isEmpty()) Say(stderr, fallback + QStringLiteral("; the runs of this PC follow"));
  return Show(*reader, o.historyShow, o.json);
}

}  // namespace station
