#include "sim/register_model.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "common/utf8.h"
#include "sim/status.h"

namespace km4410r::sim {

namespace {

constexpr int64_t kMaxAmount = 999999999;  // 9 999 999.99
// When the network module was personalised (the modem report tells).
constexpr const char* kPersonalisedDate = "01-03-25";
constexpr const char* kPersonalisedTime = "12:00";

// Splits at commas into at most maxParts pieces; the last piece keeps the rest.
std::vector<std::string> split(const std::string& s, size_t maxParts = 64) {
  std::vector<std::string> out;
  size_t start = 0;
  while (out.size() + 1 < maxParts) {
    size_t c = s.find(',', start);
    if (c == std::string::npos) break;
    out.push_back(s.substr(start, c - start));
    start = c + 1;
  }
  out.push_back(s.substr(start));
  return out;
}

bool allDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool parseInt(const std::string& s, long long& v, long long lo, long long hi) {
  if (!allDigits(s) || s.size() > 12) return false;
  v = std::stoll(s);
  return v >= lo && v <= hi;
}

// A decimal number with an optional sign and at most `decimals` fraction
// digits, scaled by 10^decimals.
bool parseFixed(const std::string& s, int decimals, int64_t& out) {
  size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  int64_t v = 0;
  int intDigits = 0, frac = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++intDigits) {
    if (intDigits > 12) return false;
    v = v * 10 + (s[i] - '0');
  }
  if (i < s.size() && s[i] == '.') {
    for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++frac) {
      if (frac >= decimals) return false;
      v = v * 10 + (s[i] - '0');
    }
  }
  if (i != s.size() || (intDigits == 0 && frac == 0)) return false;
  for (; frac < decimals; ++frac) v *= 10;
  out = neg ? -v : v;
  return true;
}

std::string money(int64_t v) {
  char b[32];
  std::snprintf(b, sizeof b, "%s%lld.%02lld", v < 0 ? "-" : "", static_cast<long long>((v < 0 ? -v : v) / 100),
                static_cast<long long>((v < 0 ? -v : v) % 100));
  return b;
}

std::string two(int v) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

// "DD-MM-YY" (or with another one-character separator) and "DDMMYY".
bool parseDate(const std::string& s, std::tm& t, bool separators) {
  std::string d = s;
  if (separators) {
    if (d.size() != 8 || d[2] != d[5] || (d[2] != '-' && d[2] != '.' && d[2] != '/')) return false;
    d = d.substr(0, 2) + d.substr(3, 2) + d.substr(6, 2);
  }
  if (d.size() != 6 || !allDigits(d)) return false;
  int day = std::stoi(d.substr(0, 2)), mon = std::stoi(d.substr(2, 2)), year = 2000 + std::stoi(d.substr(4, 2));
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (mon < 1 || mon > 12 || day < 1 || day > kDays[mon - 1]) return false;
  bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (mon == 2 && day == 29 && !leap) return false;
  t.tm_mday = day;
  t.tm_mon = mon - 1;
  t.tm_year = year - 1900;
  return true;
}

bool parseTime(const std::string& s, std::tm& t) {
  if (s.size() != 5 && s.size() != 8) return false;
  if (s[2] != ':' || (s.size() == 8 && s[5] != ':')) return false;
  std::string h = s.substr(0, 2), m = s.substr(3, 2), sec = s.size() == 8 ? s.substr(6, 2) : "00";
  if (!allDigits(h) || !allDigits(m) || !allDigits(sec)) return false;
  t.tm_hour = std::stoi(h);
  t.tm_min = std::stoi(m);
  t.tm_sec = std::stoi(sec);
  return t.tm_hour < 24 && t.tm_min < 60 && t.tm_sec < 60;
}

std::string dateText(const std::tm& t) {
  return two(t.tm_mday) + "-" + two(t.tm_mon + 1) + "-" + two(t.tm_year % 100);
}

long long localNaive(std::time_t t) {
  std::tm lt{};
  localtime_r(&t, &lt);
  return static_cast<long long>(timegm(&lt));
}

std::string trimLeft(const std::string& s) {
  size_t i = s.find_first_not_of(' ');
  return i == std::string::npos ? std::string() : s.substr(i);
}

bool isHexUpper(const std::string& s, size_t n) {
  return s.size() == n && std::all_of(s.begin(), s.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
         });
}

std::string hex(uint32_t v, int digits) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*X", digits, v);
  return b;
}

// Display escape sequences (display codes).
const std::string kGlyphGe("\x10\x5B\x26\x20\x10\x4B\xD0\x84\x21\x10\x40", 11);
const std::string kGlyphYe("\x10\x5B\x26\x21\x74\x61\xC8\x45\xC0", 9);
const std::string kLowerStart("\x10\x5B\x48\x10\x54\x10\x58", 7);
const std::string kUpperStart("\x10\x5B\x48\x10\x40\x10\x58", 7);
const std::string kSwitchIn("\x10\x5B\x25\x10\x41", 5);
const std::string kSwitchBack("\x10\x5B\x25\x10\x40", 5);

// On the translated path the tool's display codes pass its host-to-register
// table once more; the display reads them back. Д (0xB2) and Ж (0xB3) arrive
// as 'I' and 'i' and cannot be told from those letters.
uint8_t lineToDisplayCode(uint8_t b) {
  if (b >= 0x80 && b <= 0x8A) return static_cast<uint8_t>(b + 0x40);
  switch (b) {
    case 0x90: return 0xD0;
    case 0x98: return 0xD8;
    case 0xA5: return 0xB8;
    case 0xC1: return 0xBA;
    case 0xC3: return 0xBF;
    default: return b;
  }
}

// What the display shows for a display code (UTF-8).
std::string glyph(uint8_t c) {
  if (c >= 0x20 && c < 0x7F) return std::string(1, static_cast<char>(c));
  switch (c) {
    case 0xB0: return "Б";
    case 0xB1: return "Г";
    case 0xB2: return "Д";
    case 0xB3: return "Ж";
    case 0xB8: return "И";
    case 0xB9: return "Й";
    case 0xBA: return "Л";
    case 0xBB: return "П";
    case 0xBC: return "У";
    case 0xBF: return "Ф";
    case 0xC0: return "Ц";
    case 0xC1: return "Ч";
    case 0xC2: return "Ш";
    case 0xC3: return "Щ";
    case 0xC4: return "Ъ";
    case 0xC5: return "Ы";
    case 0xC8: return "Э";
    case 0xC9: return "Ю";
    case 0xCA: return "Я";
    case 0xD8: return "Ї";
    case 0x8C: return "ї";
    default: return "?";
  }
}

int taxIndex(uint8_t c) {
  if (c >= 0xC0 && c <= 0xC4) return c - 0xC0;
  if (c >= 0x80 && c <= 0x84) return c - 0x80;
  return -1;
}

bool receiptOpen(const Receipt& r) { return r.kind != ReceiptKind::None; }
bool fiscalOpen(const Receipt& r) { return r.kind == ReceiptKind::Sale || r.kind == ReceiptKind::Return; }

// A percentage (hundredths of a percent) of an amount, rounded half away from zero.
int64_t percentOf(int64_t amount, int64_t percent) {
  const int64_t v = amount * percent;
  return (v + (v >= 0 ? 5000 : -5000)) / 10000;
}

// Amounts separated by commas: "20.00,0.00,...".
template <size_t N>
std::string moneyList(const std::array<int64_t, N>& amounts) {
  std::string t;
  for (size_t i = 0; i < N; ++i) t += (i ? "," : "") + money(amounts[i]);
  return t;
}

// Sets status bits in a status record.
template <class... Bits>
void set(StatusBytes& s, const Bits&... bits) {
  ((s[bits.byte] = static_cast<uint8_t>(s[bits.byte] | bits.mask)), ...);
}

}  // namespace

int64_t Receipt::total() const {
  int64_t t = adjustment;
  for (const auto& l : lines) t += l.amount;
  return t;
}

RegisterModel::RegisterModel() {
  const std::string name = km_text::Utf8ToCp1251("Оператор ");
  for (int i = 1; i <= 15; ++i) operators_[static_cast<size_t>(i - 1)].name = name + std::to_string(i);
  for (auto& row : display_) row.fill(" ");
  shown_ = display_;
}

void RegisterModel::setSwitches(const std::string& s) { switches_ = s; }

bool RegisterModel::translates() const {
  // Sw3..Sw6 at 1011 (the printer and the display take CP1251 as it stands)
  // let texts pass unchanged. A switch text of other than 6 to 8 characters
  // (only tests set one) translates, as the tool reads it.
  const size_t n = switches_.size();
  return n < 6 || n > 8 || switches_.compare(2, 4, "1011") != 0;
}

void RegisterModel::setFirmware(const std::string& version, const std::string& date, const std::string& time) {
  fwVersion_ = version;
  fwDate_ = date;
  fwTime_ = time;
}

StatusBytes RegisterModel::status() const {
  StatusBytes s{};
  if (clockInvalid_) set(s, kClockNotSet);
  if (!displayConnected_) set(s, kDisplayNotConnected);
  if (printerFault_) set(s, kPrinterFault, kGeneralError);
  if (coverOpen_) set(s, kCoverOpen);
  if (paperOut_) set(s, kPaperOut);
  if (receipt_.kind == ReceiptKind::Sale || receipt_.kind == ReceiptKind::Return) set(s, kFiscalReceiptOpen);
  if (receipt_.kind == ReceiptKind::Return) set(s, kReturnReceipt);
  if (receipt_.kind == ReceiptKind::NonFiscal) set(s, kNonFiscalReceiptOpen);
  for (size_t i = 0; i < 7 && i < switches_.size(); ++i)
    if (switches_[i] == '1') s[3] |= static_cast<uint8_t>(1u << i);
  s[4] = s4_ & 0x7F;
  s[5] = s5_ & 0x7F;
  for (size_t i = 0; i < 6; ++i) s[i] = static_cast<uint8_t>(s[i] | extra_[i] | 0x80);
  return s;
}

std::string RegisterModel::diagnosticText() const {
  // Blanks separate version, date and time (all within the first 20
  // characters); the host reads them as fields 0..2.
  // 0 version, 1 firmware date, 2 firmware time, 3 firmware checksum,
  // 4 switches, 5 fiscal memory module present, 6 serial number, 7 fiscal number.
  return fwVersion_ + " " + fwDate_ + " " + fwTime_ + ",5A3F," + switches_ + "," +
         ((s4_ & kNoFmModule.mask) ? "0" : "1") + "," + serial_ + "," + fiscal_;
}

std::tm RegisterModel::clock() const {
  std::time_t t = static_cast<std::time_t>(localNaive(pcNow()) + clockOffset_);
  std::tm r{};
  gmtime_r(&t, &r);
  return r;
}

std::string RegisterModel::clockText() const {
  std::tm t = clock();
  return dateText(t) + " " + two(t.tm_hour) + ":" + two(t.tm_min) + ":" + two(t.tm_sec);
}

void RegisterModel::setClock(const std::tm& t) {
  std::tm c = t;
  clockOffset_ = static_cast<long long>(timegm(&c)) - localNaive(pcNow());
}

void RegisterModel::setTaxRates(const std::array<int64_t, 4>& rates, const std::string& groups) {
  rates_ = rates;
  groups_ = groups;
}

void RegisterModel::print(const std::string& line) {
  // Dropped in blocks, so that a line costs no move of the whole printout.
  if (printout_.size() >= kPrintoutKept)
    printout_.erase(printout_.begin(), printout_.begin() + static_cast<long>(kPrintoutKept / 5));
  printout_.push_back(line);
}

PrintedItem& RegisterModel::addItem(PrintKind kind) {
  PrintedItem item;
  item.kind = kind;
  item.id = ++printedCount_;
  item.time = clock();
  if (printed_.size() < kPrintedItemsKept) {
    printed_.push_back(std::move(item));
    return printed_.back();
  }
  // Full: the new item takes the oldest one's slot.
  PrintedItem& slot = printed_[printedNext_];
  printedNext_ = (printedNext_ + 1) % printed_.size();
  slot = std::move(item);
  return slot;
}

void RegisterModel::ids(PrintedItem& p) const {
  p.serial = serial_;
  p.fiscal = fiscal_;
  p.taxNumber = taxNumber_;
}

void RegisterModel::head(PrintedItem& p) const {
  for (const auto& h : header_)
    if (!h.empty()) p.header.push_back(h);
  ids(p);
}

std::vector<PrintedItem> RegisterModel::printedSince(uint64_t after, uint64_t* missed) const {
  std::vector<PrintedItem> out;
  const uint64_t first = printedCount_ - printed_.size() + 1;  // id of the oldest kept
  const uint64_t from = std::max(after + 1, first);
  if (missed) *missed = from > after + 1 ? from - after - 1 : 0;
  if (from > printedCount_) return out;
  const size_t oldest = printed_.size() < kPrintedItemsKept ? 0 : printedNext_;
  out.reserve(static_cast<size_t>(printedCount_ - from + 1));
  for (uint64_t id = from; id <= printedCount_; ++id)
    out.push_back(printed_[(oldest + static_cast<size_t>(id - first)) % printed_.size()]);
  return out;
}

bool RegisterModel::reportsPassword(const std::string& p) const { return p == operators_[14].password; }
bool RegisterModel::programmingPassword(const std::string& p) const { return p == operators_[13].password; }

// ---------------------------------------------------------------- display

std::string RegisterModel::displayLine(int row) const {
  std::string s;
  for (const auto& c : display_.at(static_cast<size_t>(row))) s += c;
  return s;
}

std::string RegisterModel::displayText(int row) const {
  std::string s = displayLine(row);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

void RegisterModel::showText(int row, const std::string& cp1251) {
  auto& r = display_[static_cast<size_t>(row)];
  r.fill(" ");
  for (size_t i = 0; i < cp1251.size() && i < 20; ++i) r[i] = km_text::Cp1251CharToUtf8(static_cast<uint8_t>(cp1251[i]));
  displayRow_ = row;
  displayCol_ = static_cast<int>(std::min<size_t>(cp1251.size(), 20));
}

void RegisterModel::displayBytes(const std::string& d) {
  // The escapes are matched as they come on the line (translated, when the
  // tool translates); the characters are read back into display codes.
  const bool tr = translates();
  auto onLine = [tr](const std::string& seq) { return tr ? toRegisterPage(seq) : seq; };
  const std::string ge = onLine(kGlyphGe), ye = onLine(kGlyphYe), lower = onLine(kLowerStart),
                    upper = onLine(kUpperStart), in = onLine(kSwitchIn), back = onLine(kSwitchBack);
  for (size_t i = 0; i < d.size();) {
    if (d[i] == '\x10') {
      auto at = [&](const std::string& seq) { return d.compare(i, seq.size(), seq) == 0; };
      if (at(ge)) { glyphGe_ = true; i += ge.size(); continue; }
      if (at(ye)) { glyphYe_ = true; i += ye.size(); continue; }
      if (at(lower) || at(upper)) {
        displayRow_ = at(lower) ? 1 : 0;
        display_[static_cast<size_t>(displayRow_)].fill(" ");
        displayCol_ = 0;
        altSet_ = false;
        i += lower.size();
        continue;
      }
      if (at(in)) { altSet_ = true; i += in.size(); continue; }
      if (at(back)) { altSet_ = false; i += back.size(); continue; }
      ++i;  // an escape the display does not know
      continue;
    }
    uint8_t c = static_cast<uint8_t>(d[i++]);
    if (tr) c = lineToDisplayCode(c);
    std::string g;
    if (altSet_ && c == 0x20) g = glyphGe_ ? "Ґ" : "?";
    else if (altSet_ && c == 0x21) g = glyphYe_ ? "Є" : "?";
    else g = glyph(c);
    if (displayCol_ < 20) display_[static_cast<size_t>(displayRow_)][static_cast<size_t>(displayCol_++)] = g;
  }
}

// ---------------------------------------------------------------- commands

Reply RegisterModel::execute(uint8_t cmd, const std::string& data) {
  line_ = translates() ? toRegisterPage(data) : data;
  return answer(cmd, data);
}

Reply RegisterModel::receive(uint8_t cmd, const std::string& lineData) {
  line_ = lineData;
  return answer(cmd, translates() ? fromRegisterPage(lineData) : lineData);
}

Reply RegisterModel::answer(uint8_t cmd, const std::string& data) {
  Reply r;
  Result res = run(cmd, data, r);
  if (display_ != shown_) {
    shown_ = display_;
    addItem(PrintKind::Display).rows = {displayLine(0), displayLine(1)};
  }
  r.status = status();
  switch (res) {
    case Result::Ok: case Result::NoPaper: break;
    case Result::Syntax: set(r.status, kSyntaxError, kGeneralError); break;
    case Result::BadCommand: set(r.status, kInvalidCommand, kGeneralError); break;
    case Result::NotAllowed: set(r.status, kNotAllowed); break;
    case Result::Overflow: set(r.status, kOverflow); break;
    case Result::PrintFault: set(r.status, kPrinterFault, kGeneralError); break;
  }
  if (res != Result::Ok) {
    r.text.clear();
    r.printing = false;
  }
  return r;
}

RegisterModel::Result RegisterModel::paperReady() const {
  if (paperOut_) return Result::NoPaper;
  if (coverOpen_ || printerFault_) return Result::PrintFault;
  return Result::Ok;
}

RegisterModel::Result RegisterModel::run(uint8_t cmd, const std::string& d, Reply& r) {
  // Each command code, whether it moves paper (and so needs paper in and the
  // cover shut), and the member that carries it out.
  struct Entry {
    uint8_t cmd;
    bool prints;
    Command run;
  };
  static constexpr Entry kCommands[] = {
      {0x21, false, &RegisterModel::display},              // clear the display
      {0x23, false, &RegisterModel::display},              // the lower display row
      {0x24, false, &RegisterModel::writeNetwork},         // write the network settings
      {0x25, false, &RegisterModel::module},               // read the network settings
      {0x26, true, &RegisterModel::nonFiscal},             // open a non-fiscal receipt
      {0x27, true, &RegisterModel::nonFiscal},             // close the non-fiscal receipt
      {0x2A, true, &RegisterModel::receiptText},           // non-fiscal text
      {0x2B, false, &RegisterModel::setHeader},            // header lines and print options
      {0x2C, true, &RegisterModel::devices},               // feed lines
      {0x2D, true, &RegisterModel::devices},               // cut
      {0x2F, false, &RegisterModel::display},              // the upper display row
      {0x30, true, &RegisterModel::openFiscal},            // open a sale receipt
      {0x33, true, &RegisterModel::subtotal},              // subtotal
      {0x34, true, &RegisterModel::sale},                  // sale, shown on the display
      {0x35, true, &RegisterModel::total},                 // total and payment
      {0x36, true, &RegisterModel::receiptText},           // fiscal text
      {0x38, true, &RegisterModel::closeFiscal},           // close the fiscal receipt
      {0x39, true, &RegisterModel::cancel},                // cancel the fiscal receipt
      {0x3A, true, &RegisterModel::sale},                  // sale
      {0x3D, false, &RegisterModel::setDateTime},          // set the clock
      {0x3E, false, &RegisterModel::information},          // read the clock
      {0x3F, false, &RegisterModel::display},              // date and time on the display
      {0x40, false, &RegisterModel::information},          // last Z report
      {0x41, false, &RegisterModel::information},          // day totals
      {0x45, true, &RegisterModel::dailyReport},           // X and Z reports
      {0x46, true, &RegisterModel::serviceCash},           // service cash in and out
      {0x47, true, &RegisterModel::printDiagnostic},       // print the diagnostic
      {0x49, true, &RegisterModel::periodic},              // full periodic report by numbers
      {0x4A, false, &RegisterModel::information},          // status
      {0x4C, false, &RegisterModel::information},          // fiscal transaction state
      {0x4F, true, &RegisterModel::periodic},              // short periodic report by dates
      {0x50, false, &RegisterModel::devices},              // beep
      {0x53, false, &RegisterModel::taxSetting},           // read or program the tax rates
      {0x55, true, &RegisterModel::openFiscal},            // open a return receipt
      {0x5A, false, &RegisterModel::information},          // diagnostic information
      {0x5E, true, &RegisterModel::periodic},              // full periodic report by dates
      {0x5F, true, &RegisterModel::periodic},              // short periodic report by numbers
      {0x61, false, &RegisterModel::information},          // tax rates
      {0x62, false, &RegisterModel::programTaxNumber},     // program the tax number
      {0x63, false, &RegisterModel::information},          // tax number
      {0x64, false, &RegisterModel::display},              // display control
      {0x65, false, &RegisterModel::setPassword},          // operator password
      {0x66, false, &RegisterModel::setName},              // operator name
      {0x6A, false, &RegisterModel::devices},              // open the drawer
      {0x6B, false, &RegisterModel::programArticles},      // program or delete articles
      {0x6C, false, &RegisterModel::module},               // modem report (printed with "1")
      {0x6F, true, &RegisterModel::articleReport},         // article report
      {0x70, false, &RegisterModel::operatorInfo},         // operator information
      {0x71, false, &RegisterModel::information},          // last receipt number
      {0x76, false, &RegisterModel::changeAdminPassword},  // administrator password
      {0x77, false, &RegisterModel::resetPassword},        // reset an operator password
      {0xFF, false, &RegisterModel::module},               // device id
  };
  const auto* e =
      std::find_if(std::begin(kCommands), std::end(kCommands), [cmd](const Entry& c) { return c.cmd == cmd; });
  if (e == std::end(kCommands)) return Result::BadCommand;
  if (e->prints)
    if (const Result ready = paperReady(); ready != Result::Ok) return ready;
  return (this->*(e->run))(cmd, d, r);
}

// ---------------------------------------------------------------- display, paper, devices

RegisterModel::Result RegisterModel::display(uint8_t cmd, const std::string& d, Reply&) {
  switch (cmd) {
    case 0x21:  // clear display
      for (auto& row : display_) row.fill(" ");
      displayRow_ = 1;
      displayCol_ = 0;
      altSet_ = false;
      break;
    case 0x23: showText(1, d); break;       // lower row
    case 0x2F: showText(0, d); break;       // upper row
    case 0x64: displayBytes(line_); break;  // display control: display codes, read from the line bytes
    default:                                // 0x3F: date and time on the display
      showText(0, dateText(clock()));
      showText(1, clockText().substr(9));
  }
  return Result::Ok;
}

void RegisterModel::showAmount(int64_t amount) {
  const std::string amt = money(amount);
  showText(1, std::string(20 - std::min<size_t>(20, amt.size()), ' ') + amt);
}

RegisterModel::Result RegisterModel::devices(uint8_t cmd, const std::string& d, Reply&) {
  switch (cmd) {
    case 0x2C: {  // feed lines
      long long n = 1;
      if (!d.empty() && !parseInt(d, n, 1, 99)) return Result::Syntax;
      linesFed_ += static_cast<int>(n);
      addItem(PrintKind::Feed).count = static_cast<int>(n);
      break;
    }
    case 0x2D:
      ++cuts_;
      addItem(PrintKind::Cut);
      break;
    case 0x50:
      ++beeps_;
      break;
    default: {  // 0x6A: the drawer
      long long pulse = 20;
      if (!d.empty() && !parseInt(d, pulse, 5, 150)) return Result::Syntax;
      ++drawerOpenings_;
      lastPulse_ = static_cast<int>(pulse);
    }
  }
  return Result::Ok;
}

RegisterModel::Result RegisterModel::setHeader(uint8_t, const std::string& d, Reply&) {
  if (d.empty()) return Result::Syntax;
  char o = d[0];
  std::string text = d.substr(1);
  if (text.size() > 38) return Result::Syntax;
  if (receiptOpen(receipt_)) return Result::NotAllowed;
  if (o >= '0' && o <= '7') header_[static_cast<size_t>(o - '0')] = text;
  else if (o == 'C' || o == 'I' || o == 'J' || o == 'L') options_[o] = text;
  else return Result::Syntax;
  return Result::Ok;
}

// ---------------------------------------------------------------- receipts

RegisterModel::Result RegisterModel::nonFiscal(uint8_t cmd, const std::string&, Reply& r) {
  if (cmd == 0x26) {  // open
    if (receiptOpen(receipt_)) return Result::NotAllowed;
    receipt_ = Receipt{};
    receipt_.kind = ReceiptKind::NonFiscal;
    receipt_.number = receiptNumber_ + 1;
    print("--- " + std::to_string(receipt_.number));
    PrintedItem& p = addItem(PrintKind::ReceiptOpen);
    p.receipt = ReceiptKind::NonFiscal;
    p.number = receipt_.number;
    head(p);
    r.text = std::to_string(receipt_.number);
    return Result::Ok;
  }
  // 0x27: close
  if (receipt_.kind != ReceiptKind::NonFiscal) return Result::NotAllowed;
  receiptNumber_ = receipt_.number;
  ++day_.nonFiscalReceipts;
  PrintedItem& p = addItem(PrintKind::ReceiptClose);
  p.receipt = ReceiptKind::NonFiscal;
  p.number = receiptNumber_;
  receipt_ = Receipt{};
  r.text = std::to_string(receiptNumber_);
  return Result::Ok;
}

RegisterModel::Result RegisterModel::receiptText(uint8_t cmd, const std::string& d, Reply&) {
  // 0x2A in a non-fiscal receipt, 0x36 in a fiscal one.
  if (cmd == 0x2A ? receipt_.kind != ReceiptKind::NonFiscal : !fiscalOpen(receipt_)) return Result::NotAllowed;
  if (receipt_.texts.size() < kMaxReceiptTexts) receipt_.texts.push_back(d);
  print(d.substr(0, 42));
  addItem(PrintKind::ReceiptText).text = d.substr(0, 42);
  return Result::Ok;
}

RegisterModel::Result RegisterModel::openFiscal(uint8_t cmd, const std::string& d, Reply& r) {
  const ReceiptKind kind = cmd == 0x55 ? ReceiptKind::Return : ReceiptKind::Sale;
  auto f = split(d);
  if (f.size() < 3 || f.size() > 4 || (f.size() == 4 && f[3] != "I")) return Result::Syntax;
  long long opNo = 0, till = 0;
  if (!parseInt(f[0], opNo, 1, 13) || !parseInt(f[2], till, 1, 99999)) return Result::Syntax;
  if (receiptOpen(receipt_)) return Result::NotAllowed;
  if (op(static_cast<int>(opNo)).password != f[1]) return Result::NotAllowed;
  if (!(s5_ & kTaxRatesDefined.mask) || !(s5_ & kFmFormatted.mask)) return Result::NotAllowed;  // no tax rates / no fiscal memory
  receipt_ = Receipt{};
  receipt_.kind = kind;
  receipt_.op = static_cast<int>(opNo);
  receipt_.number = receiptNumber_ + 1;
  print(std::string(kind == ReceiptKind::Return ? "RETURN " : "RECEIPT ") + std::to_string(receipt_.number));
  PrintedItem& p = addItem(PrintKind::ReceiptOpen);
  p.receipt = kind;
  p.number = receipt_.number;
  p.op = receipt_.op;
  p.name = op(receipt_.op).name;
  p.till = static_cast<int>(till);
  head(p);
  r.text = std::to_string(receipt_.number);
  return Result::Ok;
}

namespace {

// A sale line as sent: [-]article[*qty][,percent][;amount].
struct SaleData {
  bool isVoid = false;
  long long article = 0;
  int64_t qty = 1000, percent = 0, amount = 0;
  bool hasPercent = false, hasAmount = false;
};

bool parseSale(const std::string& d, SaleData& s) {
  size_t i = 0;
  s.isVoid = !d.empty() && d[0] == '-';
  if (s.isVoid) ++i;
  size_t a = i;
  while (i < d.size() && d[i] >= '0' && d[i] <= '9') ++i;
  if (!parseInt(d.substr(a, i - a), s.article, 1, 999999)) return false;
  auto piece = [&](size_t from) {
    size_t e = d.find_first_of("*,;", from);
    return d.substr(from, (e == std::string::npos ? d.size() : e) - from);
  };
  if (i < d.size() && d[i] == '*') {
    std::string q = piece(i + 1);
    if (!parseFixed(q, 3, s.qty) || s.qty <= 0 || s.qty > 99999999) return false;
    i += 1 + q.size();
  }
  if (i < d.size() && d[i] == ',') {
    std::string p = piece(i + 1);
    if (!parseFixed(p, 2, s.percent) || s.percent < -9999 || s.percent > 9999) return false;
    s.hasPercent = true;
    i += 1 + p.size();
  }
  if (i < d.size() && d[i] == ';') {
    std::string m = piece(i + 1);
    if (!parseFixed(m, 2, s.amount)) return false;
    s.hasAmount = true;
    i += 1 + m.size();
  }
  return i == d.size() && !(s.hasPercent && s.hasAmount);
}

}  // namespace

RegisterModel::Result RegisterModel::sale(uint8_t cmd, const std::string& d, Reply&) {
  SaleData s;
  if (!parseSale(d, s)) return Result::Syntax;
  if (!fiscalOpen(receipt_) || receipt_.paying) return Result::NotAllowed;
  auto it = articles_.find(static_cast<int>(s.article));
  if (it == articles_.end()) return Result::NotAllowed;
  const Article& art = it->second;
  if (art.taxGroup < 4 && groups_[static_cast<size_t>(art.taxGroup)] != '1') return Result::NotAllowed;
  int64_t value = (art.price * s.qty + 500) / 1000;
  if (value > kMaxAmount) return Result::Overflow;
  int64_t adj = s.hasPercent ? percentOf(value, s.percent) : s.amount;
  int64_t qty = s.qty, line = value + adj;
  if (line < 0) return Result::NotAllowed;
  if (s.isVoid) {
    int64_t have = 0, haveSum = 0;
    for (const auto& l : receipt_.lines)
      if (l.article == s.article) { have += l.qty; haveSum += l.amount; }
    if (have < qty || haveSum < line) return Result::NotAllowed;
    qty = -qty;
    line = -line;
  }
  if (receipt_.total() + line > kMaxAmount) return Result::Overflow;
  if (receipt_.lines.size() >= kMaxReceiptLines) return Result::NotAllowed;  // the receipt is full
  receipt_.lines.push_back({static_cast<int>(s.article), qty, line, art.taxGroup});
  print((s.isVoid ? "VOID " : "") + art.name + " " + money(line));
  PrintedItem& p = addItem(PrintKind::Sale);
  p.number = static_cast<int>(s.article);
  p.name = art.name;
  p.qty = qty;
  p.price = art.price;
  p.value = s.isVoid ? -value : value;
  p.adjustment = s.isVoid ? -adj : adj;
  p.percent = s.hasPercent ? s.percent : 0;
  p.amount = line;
  p.taxGroup = art.taxGroup;
  p.flag = s.isVoid;
  if (cmd == 0x34) {  // 0x3A sells without showing it
    showText(0, art.name);
    showAmount(line);
  }
  return Result::Ok;
}

RegisterModel::Result RegisterModel::subtotal(uint8_t, const std::string& d, Reply& r) {
  if (d.size() < 2 || (d[0] != '0' && d[0] != '1') || (d[1] != '0' && d[1] != '1')) return Result::Syntax;
  int64_t adj = 0;
  bool percent = false;
  if (d.size() > 2) {
    std::string v = d.substr(3);
    if (d[2] == ',') {
      if (!parseFixed(v, 2, adj) || adj < -9999 || adj > 9999) return Result::Syntax;
      percent = true;
    } else if (d[2] == ';') {
      if (!parseFixed(v, 2, adj)) return Result::Syntax;
    } else {
      return Result::Syntax;
    }
  }
  if (!fiscalOpen(receipt_) || receipt_.paying) return Result::NotAllowed;
  int64_t sub = receipt_.total();
  const int64_t pct = percent ? adj : 0;
  if (percent) adj = percentOf(sub, adj);
  if (sub + adj < 0) return Result::NotAllowed;
  receipt_.adjustment += adj;
  PrintedItem& p = addItem(PrintKind::Subtotal);
  p.value = sub;
  p.adjustment = adj;
  p.percent = pct;
  p.amount = sub + adj;
  p.flag = d[0] == '1';
  sub += adj;
  if (d[0] == '1') print("SUBTOTAL " + money(sub));
  if (d[1] == '1') showAmount(sub);
  r.text = money(sub);
  return Result::Ok;
}

RegisterModel::Result RegisterModel::total(uint8_t, const std::string& d, Reply& r) {
  size_t tab = d.find('\t');
  if (tab == std::string::npos) return Result::Syntax;
  std::string rest = d.substr(tab + 1);
  char pay = rest.empty() ? 'P' : rest[0];
  if (pay != 'P' && pay != 'N' && pay != 'C' && pay != 'D') return Result::Syntax;
  int64_t amount = -1;
  if (rest.size() > 1 && (!parseFixed(rest.substr(1), 2, amount) || amount < 0)) return Result::Syntax;
  if (!fiscalOpen(receipt_)) return Result::NotAllowed;
  int64_t tot = receipt_.total();
  if (receipt_.paying && receipt_.paid >= tot) return Result::NotAllowed;
  int64_t due = tot - receipt_.paid;
  if (amount < 0) amount = due;
  if (amount > kMaxAmount) return Result::Overflow;
  const bool first = !receipt_.paying;
  receipt_.paying = true;
  receipt_.paid += amount;
  if (pay == 'P') receipt_.cashPaid += amount;
  print("TOTAL " + money(tot) + " " + pay + money(amount));
  PrintedItem& p = addItem(PrintKind::Payment);
  p.option = pay;
  p.amount = amount;
  p.total = tot;
  p.change = receipt_.paid - tot;
  p.flag = first;
  // 'D' and what is still due, or 'R' and the change.
  r.text = receipt_.paid < tot ? "D" + money(tot - receipt_.paid) : "R" + money(receipt_.paid - tot);
  return Result::Ok;
}

RegisterModel::Result RegisterModel::closeFiscal(uint8_t, const std::string&, Reply& r) {
  if (!fiscalOpen(receipt_)) return Result::NotAllowed;
  int64_t tot = receipt_.total();
  if (!receipt_.paying || receipt_.paid < tot) return Result::NotAllowed;
  bool ret = receipt_.kind == ReceiptKind::Return;
  std::array<int64_t, 5> byGroup{};
  for (const auto& l : receipt_.lines) {
    byGroup[static_cast<size_t>(l.taxGroup)] += l.amount;
    auto it = articles_.find(l.article);
    if (it != articles_.end() && !ret) {
      it->second.soldQty += l.qty;
      it->second.soldSum += l.amount;
    }
  }
  // Subtotal adjustments fall to the group of the first line (or А).
  size_t g = receipt_.lines.empty() ? 0 : static_cast<size_t>(receipt_.lines.front().taxGroup);
  byGroup[g] += receipt_.adjustment;
  int64_t cash = std::min(receipt_.cashPaid, tot);
  Operator& o = op(receipt_.op);
  for (size_t i = 0; i < 5; ++i) (ret ? day_.returns : day_.sales)[i] += byGroup[i];
  if (ret) {
    ++day_.returnReceipts;
    day_.cashReturns += cash;
    ++o.returns;
    o.returnsSum += tot;
  } else {
    ++day_.saleReceipts;
    day_.cashSales += cash;
    ++o.receipts;
    o.sales += tot;
  }
  receiptNumber_ = receipt_.number;
  print("END " + std::to_string(receiptNumber_));
  PrintedItem& p = addItem(PrintKind::ReceiptClose);
  p.receipt = receipt_.kind;
  p.number = receiptNumber_;
  p.total = tot;
  p.change = receipt_.paid - tot;
  p.groups = byGroup;
  p.rates = rates_;
  ids(p);
  receipt_ = Receipt{};
  r.text = std::to_string(receiptNumber_) + "," + std::to_string(day_.saleReceipts + day_.returnReceipts);
  return Result::Ok;
}

RegisterModel::Result RegisterModel::cancel(uint8_t, const std::string&, Reply&) {
  if (!fiscalOpen(receipt_)) return Result::NotAllowed;
  if (receipt_.paying && receipt_.paid >= receipt_.total()) return Result::NotAllowed;  // paid: close it
  receiptNumber_ = receipt_.number;
  print("CANCELLED " + std::to_string(receiptNumber_));
  PrintedItem& p = addItem(PrintKind::ReceiptCancel);
  p.receipt = receipt_.kind;
  p.number = receiptNumber_;
  receipt_ = Receipt{};
  return Result::Ok;
}

// ---------------------------------------------------------------- clock, information

RegisterModel::Result RegisterModel::setDateTime(uint8_t, const std::string& d, Reply&) {
  size_t sp = d.find(' ');
  if (sp == std::string::npos) return Result::Syntax;
  std::tm t{};
  if (!parseDate(d.substr(0, sp), t, true) || !parseTime(d.substr(sp + 1), t)) return Result::Syntax;
  if (receiptOpen(receipt_)) return Result::NotAllowed;
  setClock(t);
  clockInvalid_ = false;
  return Result::Ok;
}

void RegisterModel::informationAnswer(uint8_t cmd, Reply& r) const {
  if (const auto a = informationAnswers_.find(cmd); a != informationAnswers_.end()) r.text = a->second;
}

RegisterModel::Result RegisterModel::information(uint8_t cmd, const std::string& d, Reply& r) {
  switch (cmd) {
    case 0x4A:  // status
      if (!d.empty() && d != "W" && d != "X") return Result::Syntax;
      return Result::Ok;
    case 0x40:  // last Z report
      if (zReports_.empty()) r.text = "0,0.00,0.00";
      else r.text = std::to_string(zReports_.back().number) + "," + money(zReports_.back().sales) + "," +
                    money(zReports_.back().returns);
      return Result::Ok;
    case 0x41:  // day totals per tax group
      r.text = moneyList(day_.sales);
      return Result::Ok;
    case 0x4C:  // fiscal transaction state
      r.text = std::string(fiscalOpen(receipt_) ? "1" : "0") + "," + std::to_string(receipt_.lines.size()) + "," +
               money(receipt_.total()) + "," + money(receipt_.paid);
      return Result::Ok;
    case 0x71:
      r.text = std::to_string(receiptNumber_);
      return Result::Ok;
    // The answers below a test may replace (setInformationAnswer).
    case 0x3E:
      r.text = clockText();
      break;
    case 0x5A:
      if (!d.empty() && d != "0" && d != "1") return Result::Syntax;
      r.text = diagnosticText();
      break;
    case 0x61:
      r.text = moneyList(rates_);
      break;
    default:  // 0x63
      r.text = taxNumber_ + "," + std::string(1, taxKind_);
  }
  informationAnswer(cmd, r);
  return Result::Ok;
}

RegisterModel::Result RegisterModel::taxSetting(uint8_t cmd, const std::string& d, Reply& r) {
  auto answer = [&] { r.text = std::to_string(decimals_) + "," + groups_ + "," + moneyList(rates_); };
  if (d.empty()) {
    answer();
    informationAnswer(cmd, r);
    return Result::Ok;
  }
  auto f = split(d);
  if (f.size() != 7) return Result::Syntax;
  long long dec = 0;
  if (!parseInt(f[1], dec, 0, 2) || dec == 1) return Result::Syntax;
  if (f[2].size() != 4 || f[2].find_first_not_of("01") != std::string::npos) return Result::Syntax;
  std::array<int64_t, 4> rates{};
  for (size_t i = 0; i < 4; ++i)
    if (!parseFixed(trimLeft(f[3 + i]), 2, rates[i]) || rates[i] < 0 || rates[i] > 9999) return Result::Syntax;
  if (!programmingPassword(f[0])) return Result::NotAllowed;
  if (receiptOpen(receipt_) || !day_.empty()) return Result::NotAllowed;  // a Z report first
  decimals_ = static_cast<int>(dec);
  groups_ = f[2];
  rates_ = rates;
  s5_ |= kTaxRatesDefined.mask;
  answer();
  return Result::Ok;
}

RegisterModel::Result RegisterModel::programTaxNumber(uint8_t, const std::string& d, Reply&) {
  auto f = split(d);
  if (f.size() != 2 || !allDigits(f[0]) || f[0].size() > 12 || (f[1] != "0" && f[1] != "1")) return Result::Syntax;
  if (receiptOpen(receipt_) || !day_.empty()) return Result::NotAllowed;
  taxNumber_ = f[0];
  taxKind_ = f[1][0];
  return Result::Ok;
}

// ---------------------------------------------------------------- reports

RegisterModel::Result RegisterModel::dailyReport(uint8_t, const std::string& d, Reply& r) {
  auto f = split(d);
  if (f.size() != 2 || f[1].size() != 1 || f[1][0] < '0' || f[1][0] > '3') return Result::Syntax;
  if (!reportsPassword(f[0])) return Result::NotAllowed;
  if (receiptOpen(receipt_)) return Result::NotAllowed;
  bool z = f[1][0] == '0' || f[1][0] == '1';
  int64_t sales = 0, returns = 0;
  for (size_t i = 0; i < 5; ++i) {
    sales += day_.sales[i];
    returns += day_.returns[i];
  }
  r.printing = true;
  auto report = [&](int number) {
    PrintedItem& p = addItem(PrintKind::DailyReport);
    p.flag = z;
    p.number = number;
    p.day = day_;
    p.rates = rates_;
    head(p);
  };
  if (!z) {
    ++xReports_;
    print("X REPORT " + money(sales) + " " + money(returns));
    report(0);
    r.text = std::to_string(zCount_ + 1) + "," + money(sales) + "," + money(returns);
    return Result::Ok;
  }
  if ((s4_ & kFmFull.mask) || (s5_ & kFmReadOnly.mask) || !(s5_ & kFmFormatted.mask))
    return Result::NotAllowed;  // no room / read-only / unformatted
  ZRecord z_;
  z_.number = ++zCount_;
  z_.date = clock();
  z_.sales = sales;
  z_.returns = returns;
  if (zReports_.size() >= kZReportsKept) zReports_.erase(zReports_.begin());
  zReports_.push_back(z_);
  print("Z REPORT " + std::to_string(z_.number) + " " + money(sales) + " " + money(returns));
  report(z_.number);
  day_ = DayTotals{};
  for (auto& [n, a] : articles_) {
    a.soldQty = 0;
    a.soldSum = 0;
  }
  for (auto& o : operators_) {
    o.receipts = o.returns = 0;
    o.sales = o.returnsSum = 0;
  }
  r.text = std::to_string(z_.number) + "," + money(sales) + "," + money(returns);
  return Result::Ok;
}

RegisterModel::Result RegisterModel::serviceCash(uint8_t, const std::string& d, Reply& r) {
  int64_t amount = 0;
  if (!d.empty() && !parseFixed(d, 2, amount)) return Result::Syntax;
  if (amount != 0) {
    if (receiptOpen(receipt_)) return Result::NotAllowed;
    if (amount < 0 && -amount > day_.cash()) return Result::NotAllowed;  // not that much in the drawer
    if (amount > kMaxAmount || day_.cash() + amount > kMaxAmount) return Result::Overflow;
    if (amount > 0) day_.cashIn += amount;
    else day_.cashOut -= amount;
    print((amount > 0 ? "CASH IN " : "CASH OUT ") + money(amount < 0 ? -amount : amount));
    PrintedItem& p = addItem(PrintKind::CashInOut);
    p.amount = amount;
    p.total = day_.cash();
    head(p);
  }
  r.text = "P," + money(day_.cash()) + "," + money(day_.cashIn) + "," + money(day_.cashOut);
  return Result::Ok;
}

RegisterModel::Result RegisterModel::printDiagnostic(uint8_t, const std::string&, Reply& r) {
  if (receiptOpen(receipt_)) return Result::NotAllowed;
  print("DIAGNOSTIC " + diagnosticText());
  PrintedItem& p = addItem(PrintKind::Diagnostic);
  p.name = fwVersion_ + " " + fwDate_ + " " + fwTime_;
  p.text = switches_;
  p.flag = !(s4_ & kNoFmModule.mask);
  p.rates = rates_;
  p.enabledGroups = groups_;
  ids(p);
  r.printing = true;
  return Result::Ok;
}

RegisterModel::Result RegisterModel::periodic(uint8_t cmd, const std::string& d, Reply&) {
  // 0x49 full and 0x5F short by Z report numbers, 0x5E full and 0x4F short by dates.
  const bool byDate = cmd == 0x4F || cmd == 0x5E, full = cmd == 0x49 || cmd == 0x5E;
  auto f = split(d);
  if (f.size() != 3) return Result::Syntax;
  std::string from = f[1], to = f[2];
  std::function<bool(const ZRecord&)> inRange;
  if (byDate) {
    from = trimLeft(from);
    to = trimLeft(to);
    std::tm a{}, b{};
    if (!parseDate(from, a, false) || !parseDate(to, b, false) || timegm(&a) > timegm(&b)) return Result::Syntax;
    auto day = [](const std::tm& t) { return (t.tm_year * 12 + t.tm_mon) * 31 + t.tm_mday; };
    inRange = [day, a, b](const ZRecord& z) { return day(z.date) >= day(a) && day(z.date) <= day(b); };
  } else {
    long long first = 0, last = 0;
    if (!parseInt(from, first, 1, 9999) || !parseInt(to, last, 1, 9999) || first > last) return Result::Syntax;
    inRange = [first, last](const ZRecord& z) { return z.number >= first && z.number <= last; };
  }
  if (!reportsPassword(f[0]) || receiptOpen(receipt_)) return Result::NotAllowed;
  print("PERIODIC " + f[1] + "-" + f[2]);
  {
    PrintedItem& p = addItem(PrintKind::PeriodicReport);
    p.flag = full;
    p.option = byDate ? 'D' : 'N';
    p.from = from;
    p.to = to;
    head(p);
  }
  int count = 0;
  int64_t sales = 0, returns = 0;
  for (const auto& z : zReports_) {
    if (!inRange(z)) continue;
    ++count;
    sales += z.sales;
    returns += z.returns;
    if (!full) continue;
    PrintedItem& p = addItem(PrintKind::PeriodicLine);
    p.number = z.number;
    p.date = z.date;
    p.sales = z.sales;
    p.returns = z.returns;
  }
  PrintedItem& p = addItem(PrintKind::PeriodicEnd);
  p.count = count;
  p.sales = sales;
  p.returns = returns;
  return Result::Ok;
}

RegisterModel::Result RegisterModel::articleReport(uint8_t, const std::string& d, Reply&) {
  auto f = split(d);
  if (f.size() != 2 || (f[1] != "S" && f[1] != "P" && f[1] != "G")) return Result::Syntax;
  if (!reportsPassword(f[0]) || receiptOpen(receipt_)) return Result::NotAllowed;
  for (const auto& [n, a] : articles_)
    if (f[1] != "S" || a.soldQty != 0) print(std::to_string(n) + " " + a.name + " " + money(a.soldSum));
  const char kind = f[1][0];
  {
    PrintedItem& p = addItem(PrintKind::ArticleReport);
    p.option = kind;
    head(p);
  }
  int lines = 0;
  if (kind == 'G') {
    std::map<int, std::pair<int64_t, int64_t>> byGroup;  // group: quantity, sum sold
    for (const auto& [n, a] : articles_) {
      auto& g = byGroup[a.group];
      g.first += a.soldQty;
      g.second += a.soldSum;
    }
    for (const auto& [group, sold] : byGroup) {
      PrintedItem& p = addItem(PrintKind::ArticleLine);
      p.option = kind;
      p.number = p.group = group;
      p.qty = sold.first;
      p.amount = sold.second;
      ++lines;
    }
  } else {
    for (const auto& [n, a] : articles_) {
      if (kind == 'S' && a.soldQty == 0) continue;
      PrintedItem& p = addItem(PrintKind::ArticleLine);
      p.option = kind;
      p.number = n;
      p.name = a.name;
      p.group = a.group;
      p.taxGroup = a.taxGroup;
      p.price = a.price;
      p.qty = a.soldQty;
      p.amount = a.soldSum;
      ++lines;
    }
  }
  PrintedItem& end = addItem(PrintKind::ArticleReportEnd);
  end.option = kind;
  end.count = lines;
  return Result::Ok;
}

// ---------------------------------------------------------------- articles, operators

RegisterModel::Result RegisterModel::programArticles(uint8_t, const std::string& d, Reply& r) {
  if (d.empty()) return Result::Syntax;
  if (d[0] == 'P') {
    // P<tax group><article>,<group>,<price>,<password>,<name>
    if (d.size() < 3) return Result::Syntax;
    int tax = taxIndex(static_cast<uint8_t>(d[1]));
    auto f = split(d.substr(2), 5);
    long long number = 0, group = 0;
    int64_t price = 0;
    if (tax < 0 || f.size() != 5 || !parseInt(f[0], number, 1, 999999) || !parseInt(f[1], group, 1, 99) ||
        !parseFixed(f[2], 2, price) || price <= 0 || price > kMaxAmount || f[4].empty() || f[4].size() > 24)
      return Result::Syntax;
    if (!programmingPassword(f[3]) || receiptOpen(receipt_)) return Result::NotAllowed;
    auto it = articles_.find(static_cast<int>(number));
    if (it == articles_.end() && articles_.size() >= kMaxArticles) return Result::NotAllowed;  // no room
    if (it != articles_.end() && it->second.soldQty != 0 &&
        (it->second.price != price || it->second.taxGroup != tax))
      return Result::NotAllowed;  // sold since the last Z report
    Article& a = articles_[static_cast<int>(number)];
    a.taxGroup = tax;
    a.group = static_cast<int>(group);
    a.price = price;
    a.name = f[4];
    return Result::Ok;
  }
  if (d[0] != 'D') return Result::Syntax;
  // D<article>,<password> or DA,<password>: every article not sold since the last Z report
  auto f = split(d.substr(1));
  if (f.size() != 2) return Result::Syntax;
  long long number = 0;
  if (f[0] != "A" && !parseInt(f[0], number, 1, 999999)) return Result::Syntax;
  if (!programmingPassword(f[1]) || receiptOpen(receipt_)) return Result::NotAllowed;
  if (f[0] == "A") {
    int removed = 0;
    for (auto it = articles_.begin(); it != articles_.end();) {
      if (it->second.soldQty == 0) { it = articles_.erase(it); ++removed; }
      else ++it;
    }
    r.text = std::to_string(removed);
    return Result::Ok;
  }
  auto it = articles_.find(static_cast<int>(number));
  if (it == articles_.end() || it->second.soldQty != 0) return Result::NotAllowed;
  articles_.erase(it);
  return Result::Ok;
}

Operator* RegisterModel::namedOperator(const std::vector<std::string>& f) {
  long long n = 0;
  return f.size() == 3 && parseInt(f[0], n, 1, 15) ? &op(static_cast<int>(n)) : nullptr;
}

RegisterModel::Result RegisterModel::setPassword(uint8_t, const std::string& d, Reply&) {
  auto f = split(d, 3);
  Operator* o = namedOperator(f);
  if (!o || !allDigits(f[2]) || f[2].size() > 8) return Result::Syntax;
  if (o->password != f[1]) return Result::NotAllowed;
  o->password = f[2];
  return Result::Ok;
}

RegisterModel::Result RegisterModel::setName(uint8_t, const std::string& d, Reply&) {
  auto f = split(d, 3);
  Operator* o = namedOperator(f);
  if (!o || f[2].size() > 24) return Result::Syntax;
  if (o->password != f[1]) return Result::NotAllowed;
  o->name = f[2];
  return Result::Ok;
}

RegisterModel::Result RegisterModel::operatorInfo(uint8_t, const std::string& d, Reply& r) {
  long long n = 0;
  if (!parseInt(d, n, 1, 15)) return Result::Syntax;
  const Operator& o = op(static_cast<int>(n));
  // 0 number, 1 receipts, 2 sales, 3 return receipts, 4 returns, 5 reserved, 6 name
  r.text = std::to_string(n) + "," + std::to_string(o.receipts) + "," + money(o.sales) + "," +
           std::to_string(o.returns) + "," + money(o.returnsSum) + ",0," + o.name;
  return Result::Ok;
}

RegisterModel::Result RegisterModel::resetPassword(uint8_t, const std::string& d, Reply&) {
  auto f = split(d, 2);
  long long n = 0;
  if (f.size() != 2 || !parseInt(f[0], n, 1, 15)) return Result::Syntax;
  if (f[1] != adminPassword_) return Result::NotAllowed;
  op(static_cast<int>(n)).password = "9162";
  return Result::Ok;
}

RegisterModel::Result RegisterModel::changeAdminPassword(uint8_t, const std::string& d, Reply&) {
  auto f = split(d, 2);
  if (f.size() != 2 || !allDigits(f[1]) || f[1].size() > 8) return Result::Syntax;
  if (f[0] != adminPassword_) return Result::NotAllowed;
  adminPassword_ = f[1];
  return Result::Ok;
}

// ---------------------------------------------------------------- network module

RegisterModel::Result RegisterModel::writeNetwork(uint8_t, const std::string& d, Reply&) {
  auto f = split(d);
  if (f.size() != 8 || (f[0] != "0" && f[0] != "1")) return Result::Syntax;
  for (size_t i = 1; i <= 7; ++i)
    if (!isHexUpper(f[i], i <= 4 ? 8 : 4)) return Result::Syntax;
  auto le16 = [](const std::string& s) {
    return static_cast<uint16_t>(std::stoul(s.substr(2, 2), nullptr, 16) << 8 | std::stoul(s.substr(0, 2), nullptr, 16));
  };
  network_.dhcp = f[0] == "1";
  for (size_t i = 0; i < 4; ++i) network_.address[i] = static_cast<uint32_t>(std::stoul(f[i + 1], nullptr, 16));
  network_.port = le16(f[5]);
  network_.period = le16(f[6]);
  network_.retry = le16(f[7]);
  return Result::Ok;
}

RegisterModel::Result RegisterModel::module(uint8_t cmd, const std::string& d, Reply& r) {
  Result res = Result::Ok;
  if (cmd == 0x25) {  // the network settings, as 0x24 writes them
    const auto& n = network_;
    auto le16 = [](uint16_t v) { return hex(v & 0xFFu, 2) + hex(v >> 8, 2); };
    r.text = std::string(n.dhcp ? "1" : "0");
    for (uint32_t a : n.address) r.text += "," + hex(a, 8);
    r.text += "," + le16(n.port) + "," + le16(n.period) + "," + le16(n.retry);
  } else if (cmd == 0x6C) {
    res = modemReport(d, r);
  } else {  // 0xFF
    r.text = std::to_string(deviceId_);
  }
  if (const auto a = moduleAnswers_.find(cmd); a != moduleAnswers_.end() && res == Result::Ok) r.text = a->second;
  return res;
}

RegisterModel::Result RegisterModel::modemReport(const std::string& d, Reply& r) {
  if (d != "0" && d != "1") return Result::Syntax;
  // state, first undelivered document (date, time), personalisation (date, time)
  const std::tm t = clock();
  const std::string state = hex(modemState_, 2), time = two(t.tm_hour) + ":" + two(t.tm_min);
  if (d == "1") {  // printed
    if (const Result ready = paperReady(); ready != Result::Ok) return ready;
    if (receiptOpen(receipt_)) return Result::NotAllowed;
    print("MODEM " + state);
    r.printing = true;
    PrintedItem& p = addItem(PrintKind::ModemReport);
    p.number = modemState_;
    p.text = dateText(t) + " " + time;
    p.name = std::string(kPersonalisedDate) + " " + kPersonalisedTime;
    p.value = deviceId_;
  }
  r.text = state + "," + dateText(t) + "," + time + "," + kPersonalisedDate + "," + kPersonalisedTime;
  return Result::Ok;
}

}  // namespace km4410r::sim
