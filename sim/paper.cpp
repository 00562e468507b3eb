#include "sim/paper.h"

#include <cstdio>
#include <cstdlib>

#include "common/utf8.h"
#include "sim/simulator.h"

namespace km4410r::sim {

namespace {

constexpr int kAmountEnd = kPaperWidth - 2;  // amounts end here; a tax group letter may follow
const char* const kTaxLetters[] = {"А", "Б", "В", "Г", "Д"};

size_t width(const std::string& utf8) {
  size_t n = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string utf8(const std::string& cp1251) { return km_text::Cp1251ToUtf8(cp1251); }

std::string money(int64_t v) {
  char b[32];
  const long long a = std::llabs(static_cast<long long>(v));
  std::snprintf(b, sizeof b, "%s%lld.%02lld", v < 0 ? "-" : "", a / 100, a % 100);
  return b;
}

std::string quantity(int64_t q) {
  char b[32];
  const long long a = std::llabs(static_cast<long long>(q));
  std::snprintf(b, sizeof b, "%lld.%03lld", a / 1000, a % 1000);
  return b;
}

std::string two(int v) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

std::string date(const std::tm& t) { return two(t.tm_mday) + "-" + two(t.tm_mon + 1) + "-" + two(t.tm_year % 100); }
std::string clock(const std::tm& t) { return two(t.tm_hour) + ":" + two(t.tm_min) + ":" + two(t.tm_sec); }
std::string stamp(const std::tm& t) { return date(t) + " " + clock(t); }

std::string taxLetter(int group) { return group >= 0 && group < 5 ? kTaxLetters[group] : "?"; }

std::string rate(int64_t r) { return money(r) + "%"; }

// Tax within an amount at a rate (hundredths of a percent), rounded half away from zero.
int64_t taxIn(int64_t amount, int64_t r) {
  const int64_t den = 10000 + r;
  const int64_t num = amount * r * 2;
  return (num + (num >= 0 ? den : -den)) / (2 * den);
}

// A whole paper: text lines of at most kPaperWidth characters.
class Paper {
 public:
  // A text as it comes, wrapped at the paper's width.
  void text(const std::string& s) {
    if (s.empty()) {
      out_ += "\n";
      return;
    }
    std::string line;
    size_t n = 0;
    for (size_t i = 0; i < s.size();) {
      size_t len = 1;
      const unsigned char c = static_cast<unsigned char>(s[i]);
      if (c >= 0xF0) len = 4;
      else if (c >= 0xE0) len = 3;
      else if (c >= 0xC0) len = 2;
      if (n == static_cast<size_t>(kPaperWidth)) {
        out_ += line + "\n";
        line.clear();
        n = 0;
      }
      line += s.substr(i, len);
      ++n;
      i += len;
    }
    out_ += line + "\n";
  }
  void centred(const std::string& s) {
    const size_t w = width(s);
    text(w >= static_cast<size_t>(kPaperWidth) ? s : std::string((kPaperWidth - w) / 2, ' ') + s);
  }
  // left, then right ending at column `end` (and a suffix after it); right
  // goes to a line of its own when both do not fit.
  void pair(const std::string& left, const std::string& right, int end = kAmountEnd, const std::string& suffix = "") {
    const size_t l = width(left), r = width(right);
    if (l + 1 + r > static_cast<size_t>(end)) {
      text(left);
      out_ += std::string(r < static_cast<size_t>(end) ? end - r : 0, ' ') + right + suffix + "\n";
      return;
    }
    out_ += left + std::string(end - l - r, ' ') + right + suffix + "\n";
  }
  void full(const std::string& left, const std::string& right) { pair(left, right, kPaperWidth); }
  void rule(char c = '-') { out_ += std::string(kPaperWidth, c) + "\n"; }
  void cut() { out_ += cutLine() + "\n"; }
  void head(const PrintedItem& p) {
    for (const auto& h : p.header) centred(utf8(h));
  }
  void ids(const PrintedItem& p) { full("ЗН " + p.serial, "ФН " + p.fiscal); }
  std::string str() const { return out_; }

 private:
  std::string out_;
};

std::string receiptTitle(ReceiptKind k, int number) {
  switch (k) {
    case ReceiptKind::NonFiscal: return "НЕФИСКАЛЬНЫЙ ЧЕК № " + std::to_string(number);
    case ReceiptKind::Return: return "ЧЕК ВОЗВРАТА № " + std::to_string(number);
    default: return "ЧЕК № " + std::to_string(number);
  }
}

std::string adjustmentLabel(int64_t adjustment, int64_t percent) {
  std::string s = adjustment < 0 ? "СКИДКА" : "НАДБАВКА";
  if (percent != 0) s += " " + rate(std::llabs(static_cast<long long>(percent)));
  return s;
}

std::string paymentName(char kind) {
  switch (kind) {
    case 'N': return "КРЕДИТ";
    case 'C': return "ЧЕК";
    case 'D': return "КАРТА";
    default: return "НАЛИЧНЫЕ";
  }
}

// The tax within the amounts of each tax group (a receipt), or the amounts
// by tax group and their tax (a report, at the paper's full width).
void taxGroups(Paper& out, const std::array<int64_t, 5>& amounts, const std::array<int64_t, 4>& rates, bool report) {
  const int end = report ? kPaperWidth : kAmountEnd;
  for (size_t g = 0; g < amounts.size(); ++g) {
    if (amounts[g] == 0) continue;
    const std::string letter = taxLetter(static_cast<int>(g));
    const std::string percent = g < rates.size() ? " " + rate(rates[g]) : "";
    if (report) out.pair("  " + letter + percent, money(amounts[g]), end);
    if (g < rates.size() && rates[g] > 0)
      out.pair(report ? "  НДС " + letter : "НДС " + letter + percent, money(taxIn(amounts[g], rates[g])), end);
  }
}

std::string periodDate(const std::string& ddmmyy) {
  if (ddmmyy.size() != 6) return ddmmyy;
  return ddmmyy.substr(0, 2) + "-" + ddmmyy.substr(2, 2) + "-" + ddmmyy.substr(4, 2);
}

}  // namespace

const std::string& cutLine() {
  static const std::string line = [] {
    std::string s;
    while (s.size() < static_cast<size_t>(kPaperWidth / 2 - 2)) s += "- ";
    s += "8<";
    while (s.size() < static_cast<size_t>(kPaperWidth)) s += " -";
    return s.substr(0, kPaperWidth);
  }();
  return line;
}

bool endsWithCut(const PrintedItem& p) {
  switch (p.kind) {
    case PrintKind::ReceiptClose: case PrintKind::ReceiptCancel: case PrintKind::CashInOut:
    case PrintKind::DailyReport: case PrintKind::ArticleReportEnd: case PrintKind::PeriodicEnd:
    case PrintKind::Diagnostic: case PrintKind::ModemReport: case PrintKind::Cut:
      return true;
    default:
      return false;
  }
}

namespace {

void receiptOpen(Paper& out, const PrintedItem& p) {
  out.head(p);
  if (p.receipt != ReceiptKind::NonFiscal) {
    out.text("НН " + p.taxNumber);
    out.full("КАССИР " + utf8(p.name), "КАССА " + std::to_string(p.till));
  }
  out.full(receiptTitle(p.receipt, p.number), stamp(p.time));
}

void sale(Paper& out, const PrintedItem& p) {
  const std::string letter = " " + taxLetter(p.taxGroup);
  const std::string name = (p.flag ? "СТОРНО " : "") + utf8(p.name);
  if ((p.qty == 1000 || p.qty == -1000) && p.adjustment == 0) {
    out.pair(name, money(p.amount), kAmountEnd, letter);
    return;
  }
  out.text(name);
  out.pair("  " + quantity(p.qty) + " x " + money(p.price), money(p.value), kAmountEnd, letter);
  if (p.adjustment != 0) out.pair("  " + adjustmentLabel(p.adjustment, p.percent), money(p.adjustment));
}

void subtotal(Paper& out, const PrintedItem& p) {
  if (p.flag) out.pair("ПРОМЕЖУТОЧНЫЙ ИТОГ", money(p.value));
  if (p.adjustment != 0) out.pair(adjustmentLabel(p.adjustment, p.percent), money(p.adjustment));
}

void payment(Paper& out, const PrintedItem& p) {
  if (p.flag) {
    out.rule();
    out.pair("ИТОГО", money(p.total));
  }
  out.pair(paymentName(p.option), money(p.amount));
  if (p.change >= 0) out.pair("СДАЧА", money(p.change));
  else out.pair("К ОПЛАТЕ", money(-p.change));
}

void receiptClose(Paper& out, const PrintedItem& p) {
  if (p.receipt == ReceiptKind::NonFiscal) {
    out.centred("НЕФИСКАЛЬНЫЙ ЧЕК");
  } else {
    taxGroups(out, p.groups, p.rates, false);
    out.rule();
    out.ids(p);
    out.centred(p.receipt == ReceiptKind::Return ? "ФИСКАЛЬНЫЙ ЧЕК ВОЗВРАТА" : "ФИСКАЛЬНЫЙ ЧЕК");
  }
}

void cashInOut(Paper& out, const PrintedItem& p) {
  out.head(p);
  out.full(p.amount > 0 ? "СЛУЖЕБНЫЙ ВНОС" : "СЛУЖЕБНЫЙ ВЫНОС", stamp(p.time));
  out.full("СУММА", money(std::llabs(static_cast<long long>(p.amount))));
  out.full("В КАССЕ", money(p.total));
}

void dailyReport(Paper& out, const PrintedItem& p) {
  const DayTotals& d = p.day;
  int64_t sales = 0, returns = 0;
  for (size_t g = 0; g < 5; ++g) {
    sales += d.sales[g];
    returns += d.returns[g];
  }
  out.head(p);
  out.text("НН " + p.taxNumber);
  out.full(p.flag ? "Z-ОТЧЕТ № " + std::to_string(p.number) : "X-ОТЧЕТ", stamp(p.time));
  out.text("ПРОДАЖИ");
  taxGroups(out, d.sales, p.rates, true);
  out.full("ВСЕГО ПРОДАЖ", money(sales));
  out.text("ВОЗВРАТЫ");
  taxGroups(out, d.returns, p.rates, true);
  out.full("ВСЕГО ВОЗВРАТОВ", money(returns));
  out.full("ЧЕКОВ ПРОДАЖИ", std::to_string(d.saleReceipts));
  out.full("ЧЕКОВ ВОЗВРАТА", std::to_string(d.returnReceipts));
  out.full("НЕФИСКАЛЬНЫХ ЧЕКОВ", std::to_string(d.nonFiscalReceipts));
  out.full("СЛУЖЕБНЫЙ ВНОС", money(d.cashIn));
  out.full("СЛУЖЕБНЫЙ ВЫНОС", money(d.cashOut));
  out.full("НАЛИЧНЫХ В КАССЕ", money(d.cash()));
  out.rule();
  out.ids(p);
  if (p.flag) out.centred("ОБНУЛЕНИЕ ДНЕВНЫХ ИТОГОВ");
}

void articleReport(Paper& out, const PrintedItem& p) {
  out.head(p);
  out.text(p.option == 'S'   ? "ОТЧЕТ О ПРОДАННЫХ ТОВАРАХ"
           : p.option == 'P' ? "ОТЧЕТ О ЗАПРОГРАММИРОВАННЫХ ТОВАРАХ"
                             : "ОТЧЕТ ПО ГРУППАМ ТОВАРОВ");
  out.text(stamp(p.time));
}

void articleLine(Paper& out, const PrintedItem& p) {
  if (p.option == 'G') {
    out.text("ГРУППА " + std::to_string(p.group));
    out.full("  ПРОДАНО " + quantity(p.qty), money(p.amount));
    return;
  }
  out.text(std::to_string(p.number) + " " + utf8(p.name));
  if (p.option == 'S') out.full("  ПРОДАНО " + quantity(p.qty), money(p.amount));
  else out.full("  ГРУППА " + std::to_string(p.group) + ", НДС " + taxLetter(p.taxGroup), money(p.price));
}

void articleReportEnd(Paper& out, const PrintedItem& p) {
  out.rule();
  out.full(p.option == 'G' ? "ГРУПП" : "ТОВАРОВ", std::to_string(p.count));
}

void periodicReport(Paper& out, const PrintedItem& p) {
  out.head(p);
  out.text(p.flag ? "ПОЛНЫЙ ПЕРИОДИЧЕСКИЙ ОТЧЕТ" : "СОКРАЩЕННЫЙ ПЕРИОДИЧЕСКИЙ ОТЧЕТ");
  if (p.option == 'D') {
    out.text("ПО ДАТАМ");
    out.text("С " + periodDate(p.from) + " ПО " + periodDate(p.to));
  } else {
    out.text("ПО НОМЕРАМ Z-ОТЧЕТОВ");
    out.text("С " + p.from + " ПО " + p.to);
  }
  out.text(stamp(p.time));
}

void periodicLine(Paper& out, const PrintedItem& p) {
  out.full("Z-ОТЧЕТ № " + std::to_string(p.number), date(p.date));
  out.full("  ПРОДАЖИ", money(p.sales));
  out.full("  ВОЗВРАТЫ", money(p.returns));
}

void periodicEnd(Paper& out, const PrintedItem& p) {
  out.rule();
  out.full("Z-ОТЧЕТОВ", std::to_string(p.count));
  out.full("ПРОДАЖИ", money(p.sales));
  out.full("ВОЗВРАТЫ", money(p.returns));
}

void diagnostic(Paper& out, const PrintedItem& p) {
  out.full("ДИАГНОСТИКА", stamp(p.time));
  out.full("ВЕРСИЯ ПО", p.name);
  out.full("ПЕРЕКЛЮЧАТЕЛИ", p.text);
  out.full("МОДУЛЬ ФП", p.flag ? "ЕСТЬ" : "НЕТ");
  out.full("ЗН", p.serial);
  out.full("ФН", p.fiscal);
  out.full("НН", p.taxNumber);
  out.text("СТАВКИ НАЛОГОВ");
  for (size_t g = 0; g < p.rates.size(); ++g)
    out.full("  " + taxLetter(static_cast<int>(g)),
             g < p.enabledGroups.size() && p.enabledGroups[g] == '1' ? rate(p.rates[g]) : "ЗАПРЕЩЕНА");
}

void modemReport(Paper& out, const PrintedItem& p) {
  char state[8];
  std::snprintf(state, sizeof state, "%02X", static_cast<unsigned>(p.number) & 0xFFu);
  out.full("ОТЧЕТ МОДЕМА", stamp(p.time));
  out.full("СОСТОЯНИЕ", state);
  out.full("ID_DEV", std::to_string(p.value));
  out.full("НЕПЕРЕДАННЫЙ ДОКУМЕНТ", p.text);
  out.full("ПЕРСОНАЛИЗАЦИЯ", p.name);
}

void feed(Paper& out, const PrintedItem& p) {
  for (int i = 0; i < p.count && i < 99; ++i) out.text("");
}

}  // namespace

std::string paperText(const PrintedItem& p) {
  Paper out;
  switch (p.kind) {
    case PrintKind::ReceiptOpen: receiptOpen(out, p); break;
    case PrintKind::ReceiptText: out.text(utf8(p.text)); break;
    case PrintKind::Sale: sale(out, p); break;
    case PrintKind::Subtotal: subtotal(out, p); break;
    case PrintKind::Payment: payment(out, p); break;
    case PrintKind::ReceiptClose: receiptClose(out, p); break;
    case PrintKind::ReceiptCancel: out.centred(receiptTitle(p.receipt, p.number) + " АННУЛИРОВАН"); break;
    case PrintKind::CashInOut: cashInOut(out, p); break;
    case PrintKind::DailyReport: dailyReport(out, p); break;
    case PrintKind::ArticleReport: articleReport(out, p); break;
    case PrintKind::ArticleLine: articleLine(out, p); break;
    case PrintKind::ArticleReportEnd: articleReportEnd(out, p); break;
    case PrintKind::PeriodicReport: periodicReport(out, p); break;
    case PrintKind::PeriodicLine: periodicLine(out, p); break;
    case PrintKind::PeriodicEnd: periodicEnd(out, p); break;
    case PrintKind::Diagnostic: diagnostic(out, p); break;
    case PrintKind::ModemReport: modemReport(out, p); break;
    case PrintKind::Feed: feed(out, p); break;
    case PrintKind::Cut: case PrintKind::Display: break;
  }
  if (endsWithCut(p)) out.cut();  // the cutter after a document, and the cut command
  return out.str();
}

std::string displayText(const PrintedItem& p) {
  if (p.kind != PrintKind::Display) return std::string();
  const std::string lead = "ДИСПЛЕЙ " + clock(p.time) + " ";
  return lead + "|" + p.rows[0] + "|\n" + std::string(width(lead), ' ') + "|" + p.rows[1] + "|\n";
}

std::string missedText(uint64_t count) { return "[не показано записей: " + std::to_string(count) + "]\n"; }

std::vector<PrintedItem> PrintedFeed::take(Simulator& sim, uint64_t* missed) {
  std::vector<PrintedItem> items;
  uint64_t lost = 0;
  sim.withModel([&](RegisterModel& m) {
    if (m.printedCount() < seen_) seen_ = 0;  // a new model: its items start again at 1
    items = m.printedSince(seen_, &lost);
    seen_ = m.printedCount();
  });
  if (missed) *missed = lost;
  return items;
}

}  // namespace km4410r::sim
