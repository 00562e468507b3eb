// The register's command functions: each formats the data text of its
// command, checks its ranges and runs the exchange through SendCommand.
// Data texts are built on the stack with a bounded writer; a text that does
// not fit a frame, like a parameter out of range, is refused with -1 (bad
// data) before anything is sent.
#include <charconv>
#include <cmath>
#include <cstring>

#include "driver/commands_internal.h"
#include "driver/printer.h"

namespace km_driver {

TextWriter::TextWriter(char* buffer, size_t capacity)
    : buf_(buffer), cap_(capacity), ok_(buffer != nullptr && capacity > 0) {
  if (ok_) buf_[0] = 0;
}

bool TextWriter::Room(size_t n) {
  if (!ok_) return false;
  if (n > cap_ - 1 - len_) {
    ok_ = false;
    return false;
  }
  return true;
}

TextWriter& TextWriter::Char(char c) {
  if (c == 0 || !Room(1)) return *this;
  buf_[len_++] = c;
  buf_[len_] = 0;
  return *this;
}

TextWriter& TextWriter::TextPrefix(const char* s, size_t max) {
  if (s == nullptr) return *this;
  size_t n = 0;
  while (n < max && s[n] != 0) ++n;
  if (!Room(n)) return *this;
  std::memcpy(buf_ + len_, s, n);
  len_ += n;
  buf_[len_] = 0;
  return *this;
}

TextWriter& TextWriter::Text(const char* s) { return TextPrefix(s, static_cast<size_t>(-1)); }

TextWriter& TextWriter::TextRight(const char* s, int width) {
  size_t n = s ? std::strlen(s) : 0;
  for (size_t i = n; static_cast<long long>(i) < width; ++i) Char(' ');
  return Text(s);
}

TextWriter& TextWriter::Int(long long value, int zeroWidth) {
  if (!ok_) return *this;
  char digits[24];
  unsigned long long magnitude =
      value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, magnitude);
  (void)ec;  // 24 bytes hold any 64-bit value
  int count = static_cast<int>(end - digits);
  int sign = value < 0 ? 1 : 0;
  int zeros = zeroWidth - sign - count;
  if (zeros < 0) zeros = 0;
  if (!Room(static_cast<size_t>(sign + zeros + count))) return *this;
  if (sign) buf_[len_++] = '-';
  for (int i = 0; i < zeros; ++i) buf_[len_++] = '0';
  std::memcpy(buf_ + len_, digits, static_cast<size_t>(count));
  len_ += static_cast<size_t>(count);
  buf_[len_] = 0;
  return *this;
}

TextWriter& TextWriter::Fixed(double value, int decimals, int width) {
  if (!ok_) return *this;
  if (!std::isfinite(value)) {
    ok_ = false;
    return *this;
  }
  // Written straight into the free part of the buffer; std::to_chars reports
  // when it does not fit (1e300 needs over 300 characters).
  char* first = buf_ + len_;
  char* last = buf_ + cap_ - 1;
  auto [end, ec] = std::to_chars(first, last, value, std::chars_format::fixed, decimals);
  if (ec != std::errc()) {
    buf_[len_] = 0;
    ok_ = false;
    return *this;
  }
  size_t n = static_cast<size_t>(end - first);
  if (decimals == 0) {  // the '#' flag: a decimal point even without decimals
    if (n + 1 > cap_ - 1 - len_) {
      buf_[len_] = 0;
      ok_ = false;
      return *this;
    }
    first[n++] = '.';
  }
  size_t fill = width > 0 && n < static_cast<size_t>(width) ? static_cast<size_t>(width) - n : 0;
  if (fill > 0) {
    if (fill > cap_ - 1 - len_ - n) {
      buf_[len_] = 0;
      ok_ = false;
      return *this;
    }
    std::memmove(first + fill, first, n);
    std::memset(first, ' ', fill);
  }
  len_ += n + fill;
  buf_[len_] = 0;
  return *this;
}

}  // namespace km_driver

using km_driver::DataText;
using km_driver::Refuse;

namespace {

constexpr int kMoneyDecimals = 2;     // decimals of amounts, percents and prices
constexpr int kQuantityDecimals = 3;  // decimals of quantities

int Send(WindowHandle window, ResultHandler handler, int param, int command, const DataText& t) {
  if (!t.w.ok()) return Refuse(kRefusalBadData);
  return SendCommand(window, handler, param, command, t.buffer);
}

int SendEmpty(WindowHandle window, ResultHandler handler, int param, int command) {
  return SendCommand(window, handler, param, command, "");
}

int SendText(WindowHandle window, ResultHandler handler, int param, int command, const char* text) {
  return SendCommand(window, handler, param, command, text ? text : "");
}

// "%05lu,%s,%05lu" and ",I": opening a sale or a return receipt.
int OpenReceipt(WindowHandle window, ResultHandler handler, int param, int command, uint32_t op,
                const char* password, uint32_t till) {
  DataText t;
  t.w.Int(op, 5).Char(',').Text(password).Char(',').Int(till, 5).Text(",I");
  return Send(window, handler, param, command, t);
}

// "%s,%04d,%04d": the reports by number.
int ReportByNumber(WindowHandle window, ResultHandler handler, int param, int command,
                   const char* password, int first, int last) {
  DataText t;
  t.w.Text(password).Char(',').Int(first, 4).Char(',').Int(last, 4);
  return Send(window, handler, param, command, t);
}

// "%d,%s,%s": the operator commands.
int OperatorText(WindowHandle window, ResultHandler handler, int param, int command, int op,
                 const char* first, const char* second) {
  DataText t;
  t.w.Int(op).Char(',').Text(first).Char(',').Text(second);
  return Send(window, handler, param, command, t);
}

}  // namespace

#define KM_LEAD WindowHandle window, ResultHandler handler, int param
#define KM_PASS window, handler, param

// ---- Commands with an empty or a passed-through data text ----------------

int ClearDisplay(KM_LEAD) { return SendEmpty(KM_PASS, kCmdClearDisplay); }
int ReadNetworkSettings(KM_LEAD) { return SendEmpty(KM_PASS, kCmdReadNetworkSettings); }
int OpenNonFiscalReceipt(KM_LEAD) { return SendEmpty(KM_PASS, kCmdOpenNonFiscalReceipt); }
int CloseNonFiscalReceipt(KM_LEAD) { return SendEmpty(KM_PASS, kCmdCloseNonFiscalReceipt); }
int PrintNonFiscalText(KM_LEAD, const char* text) { return SendText(KM_PASS, kCmdPrintNonFiscalText, text); }
int CutPaper(KM_LEAD) { return SendEmpty(KM_PASS, kCmdCutPaper); }
int PrintFiscalText(KM_LEAD, const char* text) { return SendText(KM_PASS, kCmdPrintFiscalText, text); }
int CancelReceipt(KM_LEAD) { return SendEmpty(KM_PASS, kCmdCancelReceipt); }
int GetDateTime(KM_LEAD) { return SendEmpty(KM_PASS, kCmdGetDateTime); }
int PrintDiagnostics(KM_LEAD) { return SendEmpty(KM_PASS, kCmdPrintDiagnostics); }
int Beep(KM_LEAD) { return SendEmpty(KM_PASS, kCmdBeep); }
int ReadDecimalsAndTaxRates(KM_LEAD) { return SendEmpty(KM_PASS, kCmdDecimalsAndTaxRates); }
int GetTaxRates(KM_LEAD) { return SendEmpty(KM_PASS, kCmdTaxRates); }
int GetTaxNumber(KM_LEAD) { return SendEmpty(KM_PASS, kCmdGetTaxNumber); }
int ReadDeviceId(KM_LEAD) { return SendEmpty(KM_PASS, kCmdReadDeviceId); }

int GetStatus(KM_LEAD, int flag) { return SendText(KM_PASS, kCmdGetStatus, flag ? "X" : "W"); }
int GetDiagnosticInfo(KM_LEAD, int flag) { return SendText(KM_PASS, kCmdDiagnosticInfo, flag ? "1" : "0"); }

// ---- Receipts -----------------------------------------------------------

int OpenFiscalReceipt(KM_LEAD, uint32_t op, const char* password, uint32_t till) {
  return OpenReceipt(KM_PASS, kCmdOpenFiscalReceipt, op, password, till);
}

int OpenReturnReceipt(KM_LEAD, uint32_t op, const char* password, uint32_t till) {
  return OpenReceipt(KM_PASS, kCmdOpenReturnReceipt, op, password, till);
}

int RegisterSale(KM_LEAD, uint8_t sale, int article, double quantity, double percent,
                 double amount) {
  // Written so that a NaN fails the checks as well.
  if (percent != 0 && amount != 0) return Refuse(kRefusalBadData);
  if (!(quantity >= 0)) return Refuse(kRefusalBadData);
  if (!(percent >= -99.99 && percent <= 99.99)) return Refuse(kRefusalBadData);
  DataText t;
  if (sale == 0) t.w.Char('-');
  t.w.Int(article);
  if (quantity > 0) t.w.Char('*').Fixed(quantity, kQuantityDecimals);
  if (percent != 0) t.w.Char(',').Fixed(percent, kMoneyDecimals);
  if (amount != 0) t.w.Char(';').Fixed(amount, kMoneyDecimals);
  return Send(KM_PASS, kCmdRegisterSale, t);
}

int Subtotal(KM_LEAD, int first, int second, double percent, double amount) {
  if (percent != 0 && amount != 0) return Refuse(kRefusalBadData);
  DataText t;
  t.w.Char(first ? '1' : '0').Char(second ? '1' : '0');
  if (percent != 0) {
    t.w.Char(',').Fixed(percent, kMoneyDecimals);
  } else if (amount != 0) {
    t.w.Char(';').Fixed(amount, kMoneyDecimals);
  }
  return Send(KM_PASS, kCmdSubtotal, t);
}

int ReceiptTotal(KM_LEAD, const char* text, char payment, double amount) {
  DataText t;
  t.w.Text(text).Char('\t').Char(payment ? payment : 'P').Fixed(amount, kMoneyDecimals);
  return Send(KM_PASS, kCmdReceiptTotal, t);
}

int CloseFiscalReceipt(KM_LEAD) {
  // The customer display is cleared first; its outcome does not stop the close.
  SendEmpty(KM_PASS, kCmdClearDisplay);
  return SendEmpty(KM_PASS, kCmdCloseFiscalReceipt);
}

// ---- Cash, drawer, articles ---------------------------------------------

int ServiceCashInOut(KM_LEAD, double amount) {
  DataText t;
  if (amount != 0) t.w.Fixed(amount, kMoneyDecimals);
  return Send(KM_PASS, kCmdServiceCashInOut, t);
}

int OpenCashDrawer(KM_LEAD, int pulse) {
  DataText t;
  if (pulse > 4) t.w.Int(pulse);
  return Send(KM_PASS, kCmdOpenCashDrawer, t);
}

int ProgramArticle(KM_LEAD, char taxGroup, int article, int group, double price,
                   const char* password, const char* name) {
  if (article <= 0) return Refuse(kRefusalBadData);
  auto g = static_cast<unsigned char>(taxGroup);
  if (!((g >= 0xC0 && g <= 0xC4) || (g >= 0x80 && g <= 0x84))) return Refuse(kRefusalBadData, -2);
  if (group < 1 || group > 99) return Refuse(kRefusalBadData, -3);
  if (!(price > 0) || !std::isfinite(price)) return Refuse(kRefusalBadData, -4);
  DataText t;
  t.w.Char('P').Char(taxGroup).Int(article).Char(',').Int(group).Char(',');
  t.w.Fixed(price, kMoneyDecimals).Char(',').Text(password).Char(',').Text(name);
  return Send(KM_PASS, kCmdArticles, t);
}

int DeleteArticles(KM_LEAD, int article, const char* password) {
  if (article < 0) return Refuse(kRefusalBadData);
  DataText t;
  if (article == 0) {
    t.w.Text("DA,").Text(password);
  } else {
    t.w.Char('D').Int(article).Char(',').Text(password);
  }
  return Send(KM_PASS, kCmdArticles, t);
}

// ---- Reports ------------------------------------------------------------

int PrintDailyReport(KM_LEAD, const char* password, char option) {
  DataText t;
  t.w.Text(password).Char(',').Char(option);
  return Send(KM_PASS, kCmdDailyReport, t);
}

int PrintArticleReport(KM_LEAD, const char* password, char kind) {
  if (kind != 'S' && kind != 'P' && kind != 'G') return Refuse(kRefusalBadData);
  DataText t;
  t.w.Text(password).Char(',').Char(kind);
  return Send(KM_PASS, kCmdArticleReport, t);
}

int PrintFullReportByNumber(KM_LEAD, const char* password, int first, int last) {
  return ReportByNumber(KM_PASS, kCmdFullReportByNumber, password, first, last);
}

int PrintShortReportByNumber(KM_LEAD, const char* password, int first, int last) {
  return ReportByNumber(KM_PASS, kCmdShortReportByNumber, password, first, last);
}

int PrintShortReportByDate(KM_LEAD, const char* password, const char* start, const char* end) {
  DataText t;
  t.w.Text(password).Char(',').Text(start).Char(',').Text(end);
  return Send(KM_PASS, kCmdShortReportByDate, t);
}

int PrintFullReportByDate(KM_LEAD, const char* password, const char* start, const char* end) {
  DataText t;
  t.w.Text(password).Char(',').TextRight(start, 6).Char(',').TextRight(end, 6);
  return Send(KM_PASS, kCmdFullReportByDate, t);
}

// ---- Settings -----------------------------------------------------------

int SetHeaderFooter(KM_LEAD, int option, const char* text) {
  char code;
  if (option >= 0 && option <= 7) {
    code = static_cast<char>('0' + option);
  } else if (option == 'C' || option == 'I' || option == 'J' || option == 'L') {
    code = static_cast<char>(option);
  } else {
    return Refuse(kRefusalBadData);
  }
  DataText t;
  t.w.Char(code).Text(text);
  return Send(KM_PASS, kCmdSetHeaderFooter, t);
}

int SetDateTime(KM_LEAD, const char* date, const char* time) {
  DataText t;
  t.w.Text(date).Char(' ').Text(time);
  return Send(KM_PASS, kCmdSetDateTime, t);
}

int SetDecimalsAndTaxRates(KM_LEAD, const char* password, int decimals, const char* groups,
                           double rate1, double rate2, double rate3, double rate4) {
  DataText t;
  t.w.Text(password).Char(',').Int(decimals).Char(',').Text(groups);
  const double rates[] = {rate1, rate2, rate3, rate4};
  for (double rate : rates) t.w.Char(',').Fixed(rate, kMoneyDecimals, 4);
  return Send(KM_PASS, kCmdDecimalsAndTaxRates, t);
}

int SetOperatorPassword(KM_LEAD, int op, const char* oldPassword, const char* newPassword) {
  return OperatorText(KM_PASS, kCmdSetOperatorPassword, op, oldPassword, newPassword);
}

int SetOperatorName(KM_LEAD, int op, const char* password, const char* name) {
  return OperatorText(KM_PASS, kCmdSetOperatorName, op, password, name);
}

int GetOperatorInfo(KM_LEAD, int op) {
  DataText t;
  t.w.Int(op);
  return Send(KM_PASS, kCmdOperatorInfo, t);
}

int ResetOperatorPassword(KM_LEAD, int op, const char* password) {
  if (op < 1 || op > 15) return Refuse(kRefusalBadData);
  DataText t;
  t.w.Int(op).Char(',').Text(password);
  return Send(KM_PASS, kCmdResetOperatorPasswords, t);
}
