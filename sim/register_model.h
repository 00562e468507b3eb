// The state of a working KM4410R register and its answer to every command.
//
// Texts at this interface are CP1251 (the PC's code page): the simulator
// translates the line's bytes before and after. Amounts are kept in hundredths,
// quantities in thousandths.
//
// Default state: formatted fiscal memory, fiscalized, serial and fiscal numbers
// programmed, tax rates defined (А 20.00, Б..Г 0.00, all four groups enabled),
// clock running at the PC's local time, no receipt open, paper in, cover shut,
// operators 1..15 with password "9162" and names "Оператор N", administrator
// password "0000", switches "00101100" (texts in CP1251, no translation).
#pragma once
#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/codec.h"
#include "sim/status.h"

namespace km4410r::sim {

// Bounds that keep the model's memory flat however long it runs.
inline constexpr size_t kMaxReceiptLines = 500;  // sale lines of one receipt; more are not allowed
inline constexpr size_t kMaxReceiptTexts = 500;  // text lines a receipt keeps (all of them are printed)
inline constexpr size_t kMaxArticles = 10000;    // programmed articles; a new number beyond is not allowed
inline constexpr size_t kZReportsKept = 1000;    // latest Z reports kept; their numbers keep counting
inline constexpr size_t kPrintoutKept = 5000;    // printed lines kept
inline constexpr size_t kPrintedItemsKept = 2000;  // printed items and display changes kept (a ring)

struct Reply {
  std::string text;     // answer data text, CP1251
  StatusBytes status{};  // bit 7 set in each
  bool printing = false;  // a report or printout that keeps the register busy longer
};

enum class ReceiptKind { None, NonFiscal, Sale, Return };

struct Operator {
  std::string password = "9162";
  std::string name;
  int receipts = 0;
  int64_t sales = 0;      // hundredths
  int returns = 0;
  int64_t returnsSum = 0;
};

struct Article {
  int taxGroup = 0;  // 0..4 = А..Д
  int group = 1;
  int64_t price = 0;  // hundredths
  std::string name;
  int64_t soldQty = 0;  // thousandths, since the last Z report
  int64_t soldSum = 0;  // hundredths, since the last Z report
};

struct ReceiptLine {
  int article = 0;
  int64_t qty = 0;     // thousandths; negative for a void
  int64_t amount = 0;  // hundredths after the line's adjustment
  int taxGroup = 0;
};

struct Receipt {
  ReceiptKind kind = ReceiptKind::None;
  int number = 0;
  int op = 0;
  std::vector<ReceiptLine> lines;
  std::vector<std::string> texts;  // printed text lines, the first kMaxReceiptTexts
  int64_t adjustment = 0;  // subtotal adjustments, hundredths
  int64_t paid = 0;
  int64_t cashPaid = 0;  // of which in cash ('P')
  bool paying = false;  // a payment was taken: no more sales
  int64_t total() const;
};

struct DayTotals {
  std::array<int64_t, 5> sales{};    // per tax group А..Д, hundredths
  std::array<int64_t, 5> returns{};
  int saleReceipts = 0;
  int returnReceipts = 0;
  int nonFiscalReceipts = 0;
  int64_t cashIn = 0;   // service cash in
  int64_t cashOut = 0;  // service cash out (positive)
  int64_t cashSales = 0;    // payments in cash ('P') less change
  int64_t cashReturns = 0;
  int64_t cash() const { return cashSales - cashReturns + cashIn - cashOut; }
  bool empty() const { return saleReceipts == 0 && returnReceipts == 0; }
};

struct ZRecord {
  int number = 0;
  std::tm date{};
  int64_t sales = 0;
  int64_t returns = 0;
};

// What the register printed, item by item, and each change of its customer
// display, as the model saw them; sim/paper.h lays them out on paper. Texts
// are CP1251, the display rows UTF-8 (as displayLine gives them). Amounts in
// hundredths, quantities in thousandths, percentages in hundredths of a
// percent. The fields each kind fills:
enum class PrintKind {
  ReceiptOpen,       // receipt, number, op, name (the operator's), till, the document head
  ReceiptText,       // text, a line printed in a non-fiscal or fiscal receipt
  Sale,              // number (article), name, qty, price, value (qty x price), adjustment,
                     // percent (0: the adjustment is an amount), amount (the line), taxGroup, flag: a void
  Subtotal,          // value (before), adjustment, percent, amount (after), flag: printed
  Payment,           // option (P, N, C, D), amount, total, change (< 0: still due), flag: the first payment
  ReceiptClose,      // receipt, number, total, change, groups (amounts by tax group), rates, the head's ids
  ReceiptCancel,     // receipt, number
  CashInOut,         // amount (> 0 in, < 0 out), total (cash in the drawer), the head
  DailyReport,       // flag: a Z report, number (the Z report's), day, rates, the head
  ArticleReport,     // option (S sold, P programmed, G groups), the head
  ArticleLine,       // option, number (article; G: group), name, group, taxGroup, price, qty (sold),
                     // amount (sold)
  ArticleReportEnd,  // option, count (lines)
  PeriodicReport,    // flag: full, option ('N' by number, 'D' by date), from, to (as sent), the head
  PeriodicLine,      // full reports, one per Z report in the range: number, date, sales, returns
  PeriodicEnd,       // count (Z reports), sales, returns
  Diagnostic,        // name (firmware version, date and time), text (switches), flag: fiscal memory
                     // module present, rates, groups, the head's ids
  ModemReport,       // number (state), text (first undelivered document), name (personalisation), value (device id)
  Cut,
  Feed,              // count (lines)
  Display,           // rows (upper, lower)
};

struct PrintedItem {
  PrintKind kind = PrintKind::Cut;
  uint64_t id = 0;  // 1 for the first item since the model was made
  std::tm time{};   // the register's clock
  ReceiptKind receipt = ReceiptKind::None;
  int number = 0, op = 0, till = 0, group = 0, taxGroup = 0, count = 0;
  char option = 0;
  bool flag = false;
  int64_t qty = 0, price = 0, value = 0, adjustment = 0, percent = 0, amount = 0, total = 0, change = 0;
  int64_t sales = 0, returns = 0;
  std::string name, text, from, to;
  std::tm date{};
  // The document head: the programmed header lines that are not empty, and
  // the register's numbers.
  std::vector<std::string> header;
  std::string serial, fiscal, taxNumber;
  std::array<int64_t, 5> groups{};
  std::array<int64_t, 4> rates{};
  std::string enabledGroups;
  DayTotals day;
  std::array<std::string, 2> rows;
};

struct NetworkSettings {
  bool dhcp = true;
  std::array<uint32_t, 4> address{0xC0A80064u, 0xFFFFFF00u, 0xC0A80001u, 0x0A000005u};  // ip, mask, gateway, destination
  uint16_t port = 8080;
  uint16_t period = 60;  // minutes
  uint16_t retry = 30;   // seconds
};

class RegisterModel {
 public:
  RegisterModel();

  // Executes one command; data is the data text in CP1251.
  Reply execute(uint8_t cmd, const std::string& data);
  // Executes one command as its data came on the line (the register's code
  // page when the switches ask the tool to translate).
  Reply receive(uint8_t cmd, const std::string& lineData);

  // ---- switches and translation
  // Eight '0'/'1' characters, Sw1 first. Status byte 3 carries Sw1..Sw7.
  void setSwitches(const std::string& s);
  const std::string& switches() const { return switches_; }
  // True when the tool translates texts for these switches (Sw3..Sw6 not 1011).
  bool translates() const;

  // ---- injectable conditions and status bits
  void setPaperOut(bool on) { paperOut_ = on; }
  void setCoverOpen(bool on) { coverOpen_ = on; }
  bool paperOut() const { return paperOut_; }
  bool coverOpen() const { return coverOpen_; }
  void setPrinterFault(bool on) { printerFault_ = on; }
  void setDisplayConnected(bool on) { displayConnected_ = on; }
  // Extra bits OR-ed into status byte i (0..5) of every answer.
  void setExtraStatus(int i, uint8_t bits) { extra_.at(static_cast<size_t>(i)) = bits; }
  void clearExtraStatus() { extra_ = {}; }
  // Fiscal-memory bytes S4 and S5 (without bit 7). Default S4 0, S5 0x3A.
  void setFiscalMemoryStatus(uint8_t s4, uint8_t s5) { s4_ = s4; s5_ = s5; }
  uint8_t fiscalMemoryS4() const { return s4_; }
  uint8_t fiscalMemoryS5() const { return s5_; }
  // S0 0x04 until the clock is set by command 0x3D.
  void setClockInvalid(bool on) { clockInvalid_ = on; }
  // Status of the current state, as the next answer without error would carry it.
  StatusBytes status() const;

  // ---- identity
  void setSerialNumber(const std::string& s) { serial_ = s; }
  void setFiscalNumber(const std::string& s) { fiscal_ = s; }
  void setFirmware(const std::string& version, const std::string& date, const std::string& time);
  void setTaxNumber(const std::string& number, char kind) { taxNumber_ = number; taxKind_ = kind; }
  const std::string& serialNumber() const { return serial_; }
  const std::string& fiscalNumber() const { return fiscal_; }
  const std::string& taxNumber() const { return taxNumber_; }
  char taxKind() const { return taxKind_; }
  std::string diagnosticText() const;  // the answer text of 0x5A

  // ---- clock
  // The PC clock the register's clock runs on (std::time unless set; tests
  // fix it).
  void setPcClock(std::function<std::time_t()> now) { pcClock_ = std::move(now); }
  // The register's clock as "DD-MM-YY HH:MM:SS"; it runs from the last setting.
  std::string clockText() const;
  std::tm clock() const;
  void setClock(const std::tm& t);

  // ---- taxes
  int decimals() const { return decimals_; }
  const std::array<int64_t, 4>& taxRates() const { return rates_; }  // hundredths of a percent
  const std::string& enabledGroups() const { return groups_; }        // "1111"
  void setTaxRates(const std::array<int64_t, 4>& rates, const std::string& groups);
  // The answer text of an information request (0x5A, 0x63, 0x61, 0x3E, or
  // 0x53 with empty data) replaced by this one: a register answering short
  // or malformed. clearInformationAnswers goes back to the model's own.
  void setInformationAnswer(uint8_t cmd, const std::string& text) { informationAnswers_[cmd] = text; }
  void clearInformationAnswers() { informationAnswers_.clear(); }

  // ---- operators (1..15), administrator
  Operator& op(int n) { return operators_.at(static_cast<size_t>(n - 1)); }
  const Operator& op(int n) const { return operators_.at(static_cast<size_t>(n - 1)); }
  void setAdminPassword(const std::string& p) { adminPassword_ = p; }
  const std::string& adminPassword() const { return adminPassword_; }

  // ---- receipts, articles, totals
  const Receipt& receipt() const { return receipt_; }
  ReceiptKind receiptKind() const { return receipt_.kind; }
  int lastReceiptNumber() const { return receiptNumber_; }
  const std::map<int, Article>& articles() const { return articles_; }
  void programArticle(int number, const Article& a) { articles_[number] = a; }
  const DayTotals& day() const { return day_; }
  // The latest kZReportsKept Z reports, oldest first; zReportCount() is the
  // number of the last one made.
  const std::vector<ZRecord>& zReports() const { return zReports_; }
  int zReportCount() const { return zCount_; }
  int xReports() const { return xReports_; }
  const std::vector<std::string>& headerLines() const { return header_; }  // lines 0..7
  const std::map<char, std::string>& printOptions() const { return options_; }

  // ---- devices
  // The customer display: rows 0 (upper) and 1 (lower) as UTF-8, 20 characters
  // each, blank-padded; displayText trims the trailing blanks.
  std::string displayLine(int row) const;
  std::string displayText(int row) const;
  int drawerOpenings() const { return drawerOpenings_; }
  int lastDrawerPulse() const { return lastPulse_; }
  int beeps() const { return beeps_; }
  int cuts() const { return cuts_; }
  int linesFed() const { return linesFed_; }
  // What was printed, one entry per line (CP1251), oldest first: at most the
  // last kPrintoutKept lines.
  const std::vector<std::string>& printout() const { return printout_; }
  // The printed items and display changes after item `after` (0: all kept),
  // oldest first, at most the last kPrintedItemsKept; *missed is set to the
  // number of those after `after` that are no longer kept.
  std::vector<PrintedItem> printedSince(uint64_t after, uint64_t* missed = nullptr) const;
  // The id of the last item (0: none yet).
  uint64_t printedCount() const { return printedCount_; }

  // ---- network module
  NetworkSettings& network() { return network_; }
  void setModemState(uint8_t s) { modemState_ = s; }
  void setDeviceId(uint32_t id) { deviceId_ = id; }
  uint32_t deviceId() const { return deviceId_; }
  // The answer text of the module's commands 0x25, 0x6C or 0xFF replaced by
  // this one (a module answering short or malformed); the command still does
  // what it does. clearModuleAnswers goes back to the model's own answers.
  void setModuleAnswer(uint8_t cmd, const std::string& text) { moduleAnswers_[cmd] = text; }
  void clearModuleAnswers() { moduleAnswers_.clear(); }

 private:
  enum class Result { Ok, Syntax, BadCommand, NotAllowed, Overflow, PrintFault, NoPaper };
  // A command's member: the code it was sent with, its data (CP1251) and the
  // reply to fill. run() looks the code up in its table.
  using Command = Result (RegisterModel::*)(uint8_t cmd, const std::string& d, Reply& r);
  Reply answer(uint8_t cmd, const std::string& data);
  Result run(uint8_t cmd, const std::string& data, Reply& r);
  Result paperReady() const;  // Ok, or why nothing can be printed now
  void print(const std::string& line);
  PrintedItem& addItem(PrintKind kind);  // a new item in the ring, valid until the next one
  void head(PrintedItem& p) const;    // fills the document head
  void ids(PrintedItem& p) const;     // fills the head's serial, fiscal and tax numbers
  std::time_t pcNow() const { return pcClock_ ? pcClock_() : std::time(nullptr); }

  // The commands, by area.
  Result display(uint8_t cmd, const std::string& d, Reply& r);
  Result devices(uint8_t cmd, const std::string& d, Reply& r);
  Result setHeader(uint8_t cmd, const std::string& d, Reply& r);
  Result nonFiscal(uint8_t cmd, const std::string& d, Reply& r);
  Result receiptText(uint8_t cmd, const std::string& d, Reply& r);
  Result openFiscal(uint8_t cmd, const std::string& d, Reply& r);
  Result sale(uint8_t cmd, const std::string& d, Reply& r);
  Result subtotal(uint8_t cmd, const std::string& d, Reply& r);
  Result total(uint8_t cmd, const std::string& d, Reply& r);
  Result closeFiscal(uint8_t cmd, const std::string& d, Reply& r);
  Result cancel(uint8_t cmd, const std::string& d, Reply& r);
  Result setDateTime(uint8_t cmd, const std::string& d, Reply& r);
  Result information(uint8_t cmd, const std::string& d, Reply& r);
  Result taxSetting(uint8_t cmd, const std::string& d, Reply& r);
  Result programTaxNumber(uint8_t cmd, const std::string& d, Reply& r);
  Result dailyReport(uint8_t cmd, const std::string& d, Reply& r);
  Result serviceCash(uint8_t cmd, const std::string& d, Reply& r);
  Result printDiagnostic(uint8_t cmd, const std::string& d, Reply& r);
  Result periodic(uint8_t cmd, const std::string& d, Reply& r);
  Result articleReport(uint8_t cmd, const std::string& d, Reply& r);
  Result programArticles(uint8_t cmd, const std::string& d, Reply& r);
  Result setPassword(uint8_t cmd, const std::string& d, Reply& r);
  Result setName(uint8_t cmd, const std::string& d, Reply& r);
  Result operatorInfo(uint8_t cmd, const std::string& d, Reply& r);
  Result resetPassword(uint8_t cmd, const std::string& d, Reply& r);
  Result changeAdminPassword(uint8_t cmd, const std::string& d, Reply& r);
  Result writeNetwork(uint8_t cmd, const std::string& d, Reply& r);
  Result module(uint8_t cmd, const std::string& d, Reply& r);  // 0x25, 0x6C, 0xFF

  Result modemReport(const std::string& d, Reply& r);
  void informationAnswer(uint8_t cmd, Reply& r) const;  // a replaced answer text, if any
  // The operator "n,password,value" names (n 1..15), or null when it names none.
  Operator* namedOperator(const std::vector<std::string>& f);
  void displayBytes(const std::string& bytes);  // 0x64 data
  void showText(int row, const std::string& cp1251);
  void showAmount(int64_t amount);  // right-aligned in the lower row
  bool reportsPassword(const std::string& p) const;
  bool programmingPassword(const std::string& p) const;

  std::string switches_ = "00101100";
  bool paperOut_ = false, coverOpen_ = false, printerFault_ = false, displayConnected_ = true;
  bool clockInvalid_ = false;
  StatusBytes extra_{};
  uint8_t s4_ = 0;
  uint8_t s5_ = kFmFormatted.mask | kFiscalized.mask | kTaxRatesDefined.mask | kNumbersProgrammed.mask;

  std::string serial_ = "VT00012345";
  std::string fiscal_ = "3000123456";
  std::string fwVersion_ = "1.04", fwDate_ = "12-03-25", fwTime_ = "10:15";
  std::string taxNumber_ = "123456789012";
  char taxKind_ = '0';

  long long clockOffset_ = 0;  // seconds between the register's clock and the PC's local time
  std::function<std::time_t()> pcClock_;

  int decimals_ = 2;
  std::array<int64_t, 4> rates_{2000, 0, 0, 0};
  std::string groups_ = "1111";
  std::map<uint8_t, std::string> informationAnswers_;

  std::array<Operator, 15> operators_;
  std::string adminPassword_ = "0000";

  Receipt receipt_;
  int receiptNumber_ = 0;
  std::map<int, Article> articles_;
  DayTotals day_;
  std::vector<ZRecord> zReports_;
  int zCount_ = 0;
  int xReports_ = 0;
  std::vector<std::string> header_ = std::vector<std::string>(8);
  std::map<char, std::string> options_;

  std::string line_;  // the current command's data as it came on the line
  std::array<std::array<std::string, 20>, 2> display_;
  bool altSet_ = false;
  int displayRow_ = 1;
  int displayCol_ = 0;
  bool glyphGe_ = false, glyphYe_ = false;
  int drawerOpenings_ = 0, lastPulse_ = 0, beeps_ = 0, cuts_ = 0, linesFed_ = 0;
  std::vector<std::string> printout_;
  std::vector<PrintedItem> printed_;  // a ring once full: printedNext_ is the oldest slot
  size_t printedNext_ = 0;
  uint64_t printedCount_ = 0;
  std::array<std::array<std::string, 20>, 2> shown_;  // the display as the last Display item had it

  NetworkSettings network_;
  uint8_t modemState_ = 0x78;
  uint32_t deviceId_ = 305419896;
  std::map<uint8_t, std::string> moduleAnswers_;
};

}  // namespace km4410r::sim
