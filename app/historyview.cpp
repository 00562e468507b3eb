#include "app/historyview.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <QUrl>

#include "history/queries.h"

namespace {

QString RateText(const std::optional<double>& rate, const std::optional<double>& resolution) {
  if (!rate) return QStringLiteral("—");
  QString text = QString::number(*rate, 'f', 2);
  if (resolution) text += QStringLiteral(" ± ") + QString::number(*resolution, 'f', 2);
  return text;
}

HistoryTable RunsTable(const QList<history::RunRow>& runs) {
  HistoryTable t;
  t.columns = {QStringLiteral("Дата и время"), QStringLiteral("Станция"), QStringLiteral("Порт"),
               QStringLiteral("Прошивка"),     QStringLiteral("Проходов"), QStringLiteral("Ошибок"),
               QStringLiteral("Итог"),         QStringLiteral("Ход часов, с/сутки")};
  for (const history::RunRow& r : runs) {
    const QString firmware = r.firmwareChanged ? QStringLiteral("%1 (новая)").arg(r.firmware) : r.firmware;
    t.rows << QStringList{LocalTimeText(r.startMs, r.utcOffsetMin),
                          r.station,
                          r.port,
                          firmware,
                          QStringLiteral("%1 из %2").arg(r.passesDone).arg(r.passesAsked),
                          QString::number(r.errors),
                          VerdictText(r.verdict),
                          RateText(r.clockRate, r.clockResolution)};
    t.marked << r.firmwareChanged;
  }
  return t;
}

HistoryTable FaultsTable(const QList<history::Fault>& faults) {
  HistoryTable t;
  t.columns = {QStringLiteral("Сбой"), QStringLiteral("Прогонов"), QStringLiteral("Раз"),
               QStringLiteral("Как в прошлый раз")};
  for (const history::Fault& f : faults) {
    const QString what = f.command ? QStringLiteral("команда 0x%1 %2").arg(f.code, 2, 16, QLatin1Char('0')).arg(f.name)
                                   : QStringLiteral("флаг %1").arg(f.name);
    t.rows << QStringList{what, QString::number(f.runs), QString::number(f.times),
                          f.asLastTime ? QStringLiteral("да") : QString()};
    t.marked << f.asLastTime;
  }
  return t;
}

HistoryTable JournalTable(const QList<history::ServiceEvent>& events) {
  HistoryTable t;
  t.columns = {QStringLiteral("Дата и время"), QStringLiteral("Станция"), QStringLiteral("Команда"),
               QStringLiteral("Данные"), QStringLiteral("Итог")};
  for (const history::ServiceEvent& e : events) {
    const bool ok = e.outcome == QLatin1String("ok");
    t.rows << QStringList{LocalTimeText(e.atMs, e.utcOffsetMin), e.station,
                          QStringLiteral("0x%1 %2").arg(e.code, 2, 16, QLatin1Char('0')).arg(e.command), e.data,
                          ok ? QStringLiteral("выполнено") : QStringLiteral("ошибка: %1").arg(e.message)};
    t.marked << !ok;
  }
  return t;
}

// The plots run oldest first; the runs come newest first.
void Plots(const QList<history::RunRow>& runs, HistoryView* v) {
  v->clock.title = QStringLiteral("Ход часов, с/сутки");
  v->errors.title = QStringLiteral("Ошибок за прогон");
  v->errors.columns = true;
  for (auto r = runs.crbegin(); r != runs.crend(); ++r) {
    PlotPoint clock;
    clock.known = r->clockRate.has_value();
    clock.value = r->clockRate.value_or(0);
    clock.bar = r->clockResolution.value_or(0);
    v->clock.points << clock;
    PlotPoint errors;
    errors.known = true;
    errors.value = r->errors;
    v->errors.points << errors;
  }
}

QString Escaped(const QString& text) { return text.toHtmlEscaped(); }

QString TableHtml(const QString& title, const HistoryTable& t) {
  QString html = QStringLiteral("<h2>%1</h2>").arg(Escaped(title));
  if (t.rows.isEmpty()) return html + QStringLiteral("<p>Нет записей.</p>");
  html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\"><tr>");
  for (const QString& c : t.columns) html += QStringLiteral("<th>%1</th>").arg(Escaped(c));
  html += QStringLiteral("</tr>");
  for (int i = 0; i < t.rows.size(); ++i) {
    html += t.marked.value(i) ? QStringLiteral("<tr style=\"background-color:#FFF2CC\">") : QStringLiteral("<tr>");
    for (const QString& cell : t.rows[i]) html += QStringLiteral("<td>%1</td>").arg(Escaped(cell));
    html += QStringLiteral("</tr>");
  }
  return html + QStringLiteral("</table>");
}

// The report's body; the plots as images at `clockSrc` and `errorsSrc`.
QString ReportHtml(const HistoryView& v, const QString& clockSrc, const QString& errorsSrc) {
  QString html = QStringLiteral(
                     "<html><head><meta charset=\"utf-8\"><title>%1</title></head>"
                     "<body style=\"font-family:'DejaVu Sans',Arial,sans-serif\"><h1>%1</h1>")
                     .arg(Escaped(QStringLiteral("История регистратора %1").arg(v.serial)));
  html += QStringLiteral("<p>Отчёт составлен %1.</p>")
              .arg(Escaped(QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm"))));
  html += QStringLiteral("<table cellpadding=\"2\">");
  for (const auto& [label, value] : v.header)
    html += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>").arg(Escaped(label), Escaped(value));
  html += QStringLiteral("</table>");
  html += QStringLiteral("<p><img src=\"%1\" width=\"480\" height=\"200\"></p>").arg(clockSrc);
  html += QStringLiteral("<p><img src=\"%1\" width=\"480\" height=\"200\"></p>").arg(errorsSrc);
  html += TableHtml(QStringLiteral("Прогоны"), v.runs);
  html += TableHtml(QStringLiteral("Повторяющиеся сбои"), v.faults);
  html += TableHtml(QStringLiteral("Журнал обслуживания"), v.journal);
  return html + QStringLiteral("</body></html>");
}

QByteArray Png(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

}  // namespace

QString VerdictText(const QString& verdict) {
  if (verdict == QLatin1String("passed")) return QStringLiteral("пройден");
  if (verdict == QLatin1String("failed")) return QStringLiteral("не пройден");
  if (verdict == QLatin1String("aborted")) return QStringLiteral("прерван");
  if (verdict == QLatin1String("not ready")) return QStringLiteral("не готов");
  if (verdict == QLatin1String("link lost")) return QStringLiteral("связь потеряна");
  return verdict;
}

QString LocalTimeText(qint64 utcMs, int utcOffsetMin) {
  if (utcMs <= 0) return QStringLiteral("—");
  return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::OffsetFromUTC, utcOffsetMin * 60)
      .toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}

HistoryView LoadHistoryView(history::Reader& reader, const QString& serial) {
  HistoryView v;
  v.serial = serial;
  const history::RegisterHeader h = reader.Header(serial);
  v.found = h.found;
  if (!reader.error().isEmpty()) {
    v.error = reader.error();
    return v;
  }
  if (!h.found) return v;
  const auto when = [](qint64 ms) { return LocalTimeText(ms, QDateTime::currentDateTime().offsetFromUtc() / 60); };
  v.header = {{QStringLiteral("Заводской номер"), h.serial},
              {QStringLiteral("Фискальный номер"), h.fiscalNumber},
              {QStringLiteral("Налоговый номер"), h.taxNumber},
              {QStringLiteral("Прошивка"), h.firmwareDate.isEmpty() ? h.firmware
                                                                      : QStringLiteral("%1 от %2").arg(h.firmware, h.firmwareDate)},
              {QStringLiteral("Впервые"), when(h.firstSeenMs)},
              {QStringLiteral("Последний раз"), when(h.lastSeenMs)},
              {QStringLiteral("Визитов"), QString::number(h.visits)},
              {QStringLiteral("Станции"), h.stations.join(QStringLiteral(", "))}};
  const QList<history::RunRow> runs = reader.Runs(serial);
  v.runs = RunsTable(runs);
  v.faults = FaultsTable(reader.Faults(serial));
  v.journal = JournalTable(reader.Journal(serial));
  Plots(runs, &v);
  if (!reader.error().isEmpty()) v.error = reader.error();
  return v;
}

bool WriteHistoryReport(const HistoryView& v, const QString& path, QString* error) {
  const QImage clock = PlotImage(v.clock, QSize(960, 400));
  const QImage errors = PlotImage(v.errors, QSize(960, 400));
  const bool pdf = path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    *error = QStringLiteral("не удалось создать файл %1: %2").arg(path, file.errorString());
    return false;
  }
  if (pdf) {
    QTextDocument doc;
    doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("plot:clock")), clock);
    doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("plot:errors")), errors);
    doc.setHtml(ReportHtml(v, QStringLiteral("plot:clock"), QStringLiteral("plot:errors")));
    QPdfWriter writer(&file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(150);
    writer.setTitle(QStringLiteral("История регистратора %1").arg(v.serial));
    writer.setCreator(QStringLiteral("km4410r"));
    doc.print(&writer);
  } else {
    const auto src = [](const QImage& image) {
      return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(Png(image).toBase64());
    };
    file.write(ReportHtml(v, src(clock), src(errors)).toUtf8());
  }
  if (!file.commit()) {
    *error = QStringLiteral("не удалось записать файл %1: %2").arg(path, file.errorString());
    return false;
  }
  return true;
}
