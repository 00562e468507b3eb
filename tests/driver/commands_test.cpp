// Command functions against the simulator over a real pty: the command code
// and the data text of every function as they appear on the line, the range
// checks (nothing sent), the multi-command sequences and the customer display
// sequences in both modes. Numbers are checked under comma locales as well.
#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "driver/printer.h"
#include "driver/testing.h"
#include "sim/simulator.h"

namespace {

using km4410r::sim::Simulator;

int gDeliveries = 0;
void Counting(RetData&) { ++gDeliveries; }

#define LEAD nullptr, Counting, 0

struct Frame {
  int cmd;
  std::string data;
  bool operator==(const Frame&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Frame& f) {
  char head[16];
  std::snprintf(head, sizeof head, "0x%02X [", f.cmd);
  os << head;
  for (unsigned char c : f.data) {
    char b[8];
    std::snprintf(b, sizeof b, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02X", c);
    os << b;
  }
  return os << "]";
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

class CommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    km_driver::ResetDriverForTests();
    km4410r::sim::Options options;
    options.baud = 0;  // no pacing: the bytes are what matters here
    sim_ = new Simulator(options);
    std::string error;
    ASSERT_TRUE(sim_->start(&error)) << error;
    ASSERT_GE(OpenPortPath(sim_->slavePath().c_str(), 115200), 0) << GetLastPortErrorText();
  }
  static void TearDownTestSuite() {
    ClosePort();
    delete sim_;
    sim_ = nullptr;
    km_driver::ResetDriverForTests();
  }
  void SetUp() override {
    ASSERT_NE(sim_, nullptr);
    SetNoTranslation(1);
    sim_->clearJournal();
    gDeliveries = 0;
  }
  void TearDown() override { SetNoTranslation(1); }

  // The frames the simulator received since the test (or the last Take) began.
  static std::vector<Frame> Take() {
    std::vector<Frame> frames;
    for (const auto& e : sim_->journal()) frames.push_back({e.cmd, e.data});
    sim_->clearJournal();
    return frames;
  }

  static Simulator* sim_;
};
Simulator* CommandTest::sim_ = nullptr;

// ---- Data texts -----------------------------------------------------------

struct TextCase {
  const char* what;
  std::function<int()> call;
  int cmd;
  std::string data;
};

std::vector<TextCase> TextCases() {
  const std::string pw184(184, 'n');
  return {
      {"ClearDisplay", [] { return ClearDisplay(LEAD); }, 0x21, ""},
      {"ReadNetworkSettings", [] { return ReadNetworkSettings(LEAD); }, 0x25, ""},
      {"OpenNonFiscalReceipt", [] { return OpenNonFiscalReceipt(LEAD); }, 0x26, ""},
      {"CloseNonFiscalReceipt", [] { return CloseNonFiscalReceipt(LEAD); }, 0x27, ""},
      {"PrintNonFiscalText", [] { return PrintNonFiscalText(LEAD, CP1251(u8"Тест, 1")); }, 0x2A,
       CP1251(u8"Тест, 1")},
      {"CutPaper", [] { return CutPaper(LEAD); }, 0x2D, ""},
      {"OpenFiscalReceipt", [] { return OpenFiscalReceipt(LEAD, 3, "0003", 1); }, 0x30,
       "00003,0003,00001,I"},
      {"OpenFiscalReceipt wide", [] { return OpenFiscalReceipt(LEAD, 4294967295u, "", 123456); },
       0x30, "4294967295,,123456,I"},
      {"PrintFiscalText", [] { return PrintFiscalText(LEAD, "x"); }, 0x36, "x"},
      {"CancelReceipt", [] { return CancelReceipt(LEAD); }, 0x39, ""},
      {"SetDateTime", [] { return SetDateTime(LEAD, "07.12.26", "14:05:00"); }, 0x3D,
       "07.12.26 14:05:00"},
      {"GetDateTime", [] { return GetDateTime(LEAD); }, 0x3E, ""},
      {"PrintDailyReport Z", [] { return PrintDailyReport(LEAD, "0000", '0'); }, 0x45, "0000,0"},
      {"PrintDailyReport X", [] { return PrintDailyReport(LEAD, "0000", '2'); }, 0x45, "0000,2"},
      {"PrintDiagnostics", [] { return PrintDiagnostics(LEAD); }, 0x47, ""},
      {"PrintArticleReport S", [] { return PrintArticleReport(LEAD, "0000", 'S'); }, 0x6F,
       "0000,S"},
      {"PrintArticleReport P", [] { return PrintArticleReport(LEAD, "1", 'P'); }, 0x6F, "1,P"},
      {"PrintArticleReport G", [] { return PrintArticleReport(LEAD, "1", 'G'); }, 0x6F, "1,G"},
      {"PrintFullReportByNumber", [] { return PrintFullReportByNumber(LEAD, "0000", 1, 25); },
       0x49, "0000,0001,0025"},
      {"PrintShortReportByNumber",
       [] { return PrintShortReportByNumber(LEAD, "0000", -5, 12345); }, 0x5F,
       "0000,-005,12345"},
      {"GetStatus 0", [] { return GetStatus(LEAD, 0); }, 0x4A, "W"},
      {"GetStatus 7", [] { return GetStatus(LEAD, 7); }, 0x4A, "X"},
      {"PrintShortReportByDate",
       [] { return PrintShortReportByDate(LEAD, "0000", "010126", "311226"); }, 0x4F,
       "0000,010126,311226"},
      {"Beep", [] { return Beep(LEAD); }, 0x50, ""},
      {"SetDecimalsAndTaxRates",
       [] { return SetDecimalsAndTaxRates(LEAD, "0000", 2, "1100", 20, 7.5, 0, 100); }, 0x53,
       "0000,2,1100,20.00,7.50,0.00,100.00"},
      {"SetDecimalsAndTaxRates negative",
       [] { return SetDecimalsAndTaxRates(LEAD, "0", 2, "1", -1, 0.004, 0.005, 99.999); }, 0x53,
       "0,2,1,-1.00,0.00,0.01,100.00"},
      {"ReadDecimalsAndTaxRates", [] { return ReadDecimalsAndTaxRates(LEAD); }, 0x53, ""},
      {"OpenReturnReceipt", [] { return OpenReturnReceipt(LEAD, 12, "4321", 1); }, 0x55,
       "00012,4321,00001,I"},
      {"GetDiagnosticInfo 1", [] { return GetDiagnosticInfo(LEAD, -3); }, 0x5A, "1"},
      {"GetDiagnosticInfo 0", [] { return GetDiagnosticInfo(LEAD, 0); }, 0x5A, "0"},
      {"PrintFullReportByDate",
       [] { return PrintFullReportByDate(LEAD, "0000", "10126", "311226"); }, 0x5E,
       "0000, 10126,311226"},
      {"PrintFullReportByDate long and empty",
       [] { return PrintFullReportByDate(LEAD, "0000", "01012026", ""); }, 0x5E,
       "0000,01012026,      "},
      {"GetTaxRates", [] { return GetTaxRates(LEAD); }, 0x61, ""},
      {"GetTaxNumber", [] { return GetTaxNumber(LEAD); }, 0x63, ""},
      {"SetOperatorPassword", [] { return SetOperatorPassword(LEAD, 2, "0002", "1234"); }, 0x65,
       "2,0002,1234"},
      {"SetOperatorName", [] { return SetOperatorName(LEAD, 2, "0002", CP1251(u8"Іванко")); },
       0x66, CP1251(u8"2,0002,Іванко")},
      {"SetOperatorName 189 bytes", [pw184] { return SetOperatorName(LEAD, 1, "pw", pw184.c_str()); },
       0x66, "1,pw," + pw184},
      {"GetOperatorInfo", [] { return GetOperatorInfo(LEAD, 15); }, 0x70, "15"},
      {"ReadDeviceId", [] { return ReadDeviceId(LEAD); }, 0xFF, ""},
      {"SetHeaderFooter 0", [] { return SetHeaderFooter(LEAD, 0, CP1251(u8"Магазин")); }, 0x2B,
       CP1251(u8"0Магазин")},
      {"SetHeaderFooter 7", [] { return SetHeaderFooter(LEAD, 7, "end"); }, 0x2B, "7end"},
      {"SetHeaderFooter C", [] { return SetHeaderFooter(LEAD, 67, "1"); }, 0x2B, "C1"},
      {"SetHeaderFooter I", [] { return SetHeaderFooter(LEAD, 73, "1"); }, 0x2B, "I1"},
      {"SetHeaderFooter J", [] { return SetHeaderFooter(LEAD, 74, "0"); }, 0x2B, "J0"},
      {"SetHeaderFooter L", [] { return SetHeaderFooter(LEAD, 'L', ""); }, 0x2B, "L"},
      {"RegisterSale", [] { return RegisterSale(LEAD, 1, 100, 4, -5, 0); }, 0x34,
       "100*4.000,-5.00"},
      {"RegisterSale return, amount only", [] { return RegisterSale(LEAD, 0, 7, 0, 0, 12.5); },
       0x34, "-7;12.50"},
      {"RegisterSale small quantity", [] { return RegisterSale(LEAD, 1, 1, 0.001, 0, 0); }, 0x34,
       "1*0.001"},
      {"RegisterSale percent limits", [] { return RegisterSale(LEAD, 2, 5, 1.5, 99.99, 0); },
       0x34, "5*1.500,99.99"},
      {"RegisterSale lower limit", [] { return RegisterSale(LEAD, 1, 5, 0, -99.99, 0); }, 0x34,
       "5,-99.99"},
      {"RegisterSale quantity and amount",
       [] { return RegisterSale(LEAD, 1, 3, 2.0005, 0, -0.5); }, 0x34, "3*2.001;-0.50"},
      {"Subtotal plain", [] { return Subtotal(LEAD, 0, 0, 0, 0); }, 0x33, "00"},
      {"Subtotal percent", [] { return Subtotal(LEAD, 5, 0, 10, 0); }, 0x33, "10,10.00"},
      {"Subtotal amount", [] { return Subtotal(LEAD, 0, 1, 0, -3.5); }, 0x33, "01;-3.50"},
      {"ReceiptTotal", [] { return ReceiptTotal(LEAD, "", 'P', 10); }, 0x35, "\tP10.00"},
      {"ReceiptTotal text, default payment",
       [] { return ReceiptTotal(LEAD, CP1251(u8"Итог"), 0, 2.675); }, 0x35,
       CP1251(u8"Итог\tP2.67")},  // 2.675 is 2.67499.. in binary
      {"ReceiptTotal zero", [] { return ReceiptTotal(LEAD, "", 'N', 0); }, 0x35, "\tN0.00"},
      {"ServiceCashInOut in", [] { return ServiceCashInOut(LEAD, 100); }, 0x46, "100.00"},
      {"ServiceCashInOut out", [] { return ServiceCashInOut(LEAD, -25.5); }, 0x46, "-25.50"},
      {"ServiceCashInOut zero", [] { return ServiceCashInOut(LEAD, 0); }, 0x46, ""},
      {"ServiceCashInOut large", [] { return ServiceCashInOut(LEAD, 1e20); }, 0x46,
       "100000000000000000000.00"},
      {"ServiceCashInOut rounding", [] { return ServiceCashInOut(LEAD, 1234567.895); }, 0x46,
       "1234567.90"},
      {"OpenCashDrawer 4", [] { return OpenCashDrawer(LEAD, 4); }, 0x6A, ""},
      {"OpenCashDrawer 5", [] { return OpenCashDrawer(LEAD, 5); }, 0x6A, "5"},
      {"OpenCashDrawer 200", [] { return OpenCashDrawer(LEAD, 200); }, 0x6A, "200"},
      {"ProgramArticle", [] {
         return ProgramArticle(LEAD, '\xC0', 1, 1, 9.99, "0000", CP1251(u8"Хлеб"));
       }, 0x6B, CP1251(u8"PА1,1,9.99,0000,Хлеб")},
      {"ProgramArticle register code page",
       [] { return ProgramArticle(LEAD, '\x84', 250, 99, 0.01, "9", "x"); }, 0x6B,
       "P\x84" "250,99,0.01,9,x"},
      {"DeleteArticles all", [] { return DeleteArticles(LEAD, 0, "0000"); }, 0x6B, "DA,0000"},
      {"DeleteArticles one", [] { return DeleteArticles(LEAD, 12, "0000"); }, 0x6B, "D12,0000"},
      {"ResetOperatorPassword 1", [] { return ResetOperatorPassword(LEAD, 1, "9999"); }, 0x77,
       "1,9999"},
      {"ResetOperatorPassword 15", [] { return ResetOperatorPassword(LEAD, 15, ""); }, 0x77,
       "15,"},
  };
}

// The data texts under the C locale and under locales that write a decimal
// comma: the numbers must keep their point.
class CommandTextTest : public CommandTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    if (std::setlocale(LC_ALL, GetParam()) == nullptr) {
      GTEST_SKIP() << "locale " << GetParam() << " is not installed";
    }
  }
  void TearDown() override {
    std::setlocale(LC_ALL, "C");
    CommandTest::TearDown();
  }
};

TEST_P(CommandTextTest, EachFunctionSendsItsCodeAndDataText) {
  if (std::string(GetParam()) != "C") {
    // The locale really writes a comma: a printf-based formatting would fail below.
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.2f", 12.5);
    ASSERT_STREQ(probe, "12,50");
  }
  for (const auto& c : TextCases()) {
    SCOPED_TRACE(c.what);
    gDeliveries = 0;
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(gDeliveries, 1);
    EXPECT_EQ(Take(), std::vector<Frame>({{c.cmd, c.data}}));
  }
}

INSTANTIATE_TEST_SUITE_P(Locales, CommandTextTest,
                         ::testing::Values("C", "ru_RU.UTF-8", "uk_UA.UTF-8"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

TEST_F(CommandTest, CloseFiscalReceiptClearsTheDisplayThenCloses) {
  EXPECT_EQ(CloseFiscalReceipt(LEAD), 0);
  EXPECT_EQ(Take(), std::vector<Frame>({{0x21, ""}, {0x38, ""}}));
  EXPECT_EQ(gDeliveries, 2);
}

// ---- Range checks and texts that do not fit --------------------------------

struct RefusalCase {
  const char* what;
  std::function<int()> call;
  int rc;
};

TEST_F(CommandTest, RangeChecksRefuseWithoutSending) {
  const std::string long300(300, '7');
  const std::string long190(190, 'a');
  const RefusalCase cases[] = {
      {"article report kind X", [] { return PrintArticleReport(LEAD, "0000", 'X'); }, -1},
      {"article report kind s", [] { return PrintArticleReport(LEAD, "0000", 's'); }, -1},
      {"header option 8", [] { return SetHeaderFooter(LEAD, 8, "x"); }, -1},
      {"header option A", [] { return SetHeaderFooter(LEAD, 'A', "x"); }, -1},
      {"header option -1", [] { return SetHeaderFooter(LEAD, -1, "x"); }, -1},
      {"header option '0'", [] { return SetHeaderFooter(LEAD, '0', "x"); }, -1},
      {"sale percent and amount", [] { return RegisterSale(LEAD, 1, 1, 1, 5, 5); }, -1},
      {"sale negative quantity", [] { return RegisterSale(LEAD, 1, 1, -1, 0, 0); }, -1},
      {"sale percent 100.5", [] { return RegisterSale(LEAD, 1, 1, 1, 100.5, 0); }, -1},
      {"sale percent -99.995", [] { return RegisterSale(LEAD, 1, 1, 1, -99.995, 0); }, -1},
      {"sale NaN quantity", [] { return RegisterSale(LEAD, 1, 1, kNaN, 0, 0); }, -1},
      {"sale NaN percent", [] { return RegisterSale(LEAD, 1, 1, 1, kNaN, 0); }, -1},
      {"sale huge amount", [] { return RegisterSale(LEAD, 1, 1, 1, 0, 1e300); }, -1},
      {"subtotal percent and amount", [] { return Subtotal(LEAD, 1, 1, 5, 5); }, -1},
      {"article 0", [] { return ProgramArticle(LEAD, '\xC0', 0, 1, 1, "0", "x"); }, -1},
      {"article 0 before tax group",
       [] { return ProgramArticle(LEAD, 'A', 0, 0, 0, "0", "x"); }, -1},
      {"tax group Latin A", [] { return ProgramArticle(LEAD, 'A', 1, 1, 1, "0", "x"); }, -2},
      {"tax group Е (0xC5)", [] { return ProgramArticle(LEAD, '\xC5', 1, 1, 1, "0", "x"); }, -2},
      {"tax group 0x85", [] { return ProgramArticle(LEAD, '\x85', 1, 1, 1, "0", "x"); }, -2},
      {"tax group before group",
       [] { return ProgramArticle(LEAD, '\xBF', 1, 0, 0, "0", "x"); }, -2},
      {"group 0", [] { return ProgramArticle(LEAD, '\xC0', 1, 0, 1, "0", "x"); }, -3},
      {"group 100", [] { return ProgramArticle(LEAD, '\xC4', 1, 100, 1, "0", "x"); }, -3},
      {"group before price", [] { return ProgramArticle(LEAD, '\x80', 1, 0, 0, "0", "x"); }, -3},
      {"price 0", [] { return ProgramArticle(LEAD, '\xC0', 1, 1, 0, "0", "x"); }, -4},
      {"price negative", [] { return ProgramArticle(LEAD, '\xC0', 1, 1, -2, "0", "x"); }, -4},
      {"price NaN", [] { return ProgramArticle(LEAD, '\xC0', 1, 1, kNaN, "0", "x"); }, -4},
      {"price infinite", [] { return ProgramArticle(LEAD, '\xC0', 1, 1, kInf, "0", "x"); }, -4},
      {"delete article -1", [] { return DeleteArticles(LEAD, -1, "0000"); }, -1},
      {"reset operator 0", [] { return ResetOperatorPassword(LEAD, 0, "0000"); }, -1},
      {"reset operator 16", [] { return ResetOperatorPassword(LEAD, 16, "0000"); }, -1},
      {"receipt with 300-character password",
       [&] { return OpenFiscalReceipt(LEAD, 1, long300.c_str(), 1); }, -1},
      {"operator name one byte too long",
       [] {
         const std::string name(185, 'n');
         return SetOperatorName(LEAD, 1, "pw", name.c_str());
       },
       -1},
      {"non-fiscal text of 190 bytes",
       [&] { return PrintNonFiscalText(LEAD, long190.c_str()); }, -1},
      {"header of 190 bytes", [&] { return SetHeaderFooter(LEAD, 1, long190.c_str()); }, -1},
      {"cash 1e300", [] { return ServiceCashInOut(LEAD, 1e300); }, -1},
      {"cash NaN", [] { return ServiceCashInOut(LEAD, kNaN); }, -1},
      {"cash infinite", [] { return ServiceCashInOut(LEAD, -kInf); }, -1},
      {"total NaN", [] { return ReceiptTotal(LEAD, "", 'P', kNaN); }, -1},
      {"tax rate NaN",
       [] { return SetDecimalsAndTaxRates(LEAD, "0", 2, "1111", 1, 2, 3, kNaN); }, -1},
      {"tax rate 1e300",
       [] { return SetDecimalsAndTaxRates(LEAD, "0", 2, "1111", 1e300, 2, 3, 4); }, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(), c.rc);
  }
  EXPECT_EQ(Take(), std::vector<Frame>{});
  EXPECT_EQ(gDeliveries, 0);
}

// ---- Customer display -------------------------------------------------------

const std::string kGheGlyph = Bytes({0x10, 0x5B, 0x26, 0x20, 0x10, 0x4B, 0xD0, 0x84, 0x21, 0x10, 0x40});
const std::string kYeGlyph = Bytes({0x10, 0x5B, 0x26, 0x21, 0x74, 0x61, 0xC8, 0x45, 0xC0});
const std::string kLowerStart = Bytes({0x10, 0x5B, 0x48, 0x10, 0x54, 0x10, 0x58});
const std::string kUpperStart = Bytes({0x10, 0x5B, 0x48, 0x10, 0x40, 0x10, 0x58});
const std::string kIn = Bytes({0x10, 0x5B, 0x25, 0x10, 0x41});
const std::string kBack = Bytes({0x10, 0x5B, 0x25, 0x10, 0x40});

// The link's host-to-register translation that every piece passes in
// translation mode, written out here on its own.
std::string OnTheLine(const std::string& host) {
  std::string out;
  for (unsigned char c : host) {
    int r = c;
    if (c >= 0xC0) r = c - 0x40;
    else if (c == 0xA8) r = 0x85;
    else if (c == 0xB8) r = 0xA5;
    else if (c == 0xAA) r = 0xC0;
    else if (c == 0xBA) r = 0xC1;
    else if (c == 0xAF) r = 0xC2;
    else if (c == 0xBF) r = 0xC3;
    else if (c == 0xB2) r = 0x49;
    else if (c == 0xB3) r = 0x69;
    out.push_back(static_cast<char>(r));
  }
  return out;
}

Frame Control(const std::string& displayBytes) { return {0x64, OnTheLine(displayBytes)}; }

TEST_F(CommandTest, DisplayWithoutTranslationSendsTheTextAsItStands) {
  EXPECT_EQ(DisplayLowerLine(LEAD, CP1251(u8"Ґ Привет!")), 0);
  EXPECT_EQ(DisplayUpperLine(LEAD, "abcdefghijklmnopqrstuvwxy"), 0);
  EXPECT_EQ(DisplayUpperLine(LEAD, ""), 0);
  EXPECT_EQ(Take(), std::vector<Frame>({{0x23, CP1251(u8"Ґ Привет!")},
                                        {0x2F, "abcdefghijklmnopqrst"},
                                        {0x2F, ""}}));
  EXPECT_EQ(gDeliveries, 3);
}

TEST_F(CommandTest, DisplayWithTranslationLoadsGlyphsAndSwitchesSets) {
  SetNoTranslation(0);
  struct Case {
    const char* what;
    std::function<int()> call;
    std::vector<Frame> frames;
  };
  const Case cases[] = {
      {"Ґ А: the alternate set stays on over a letter",
       [] { return DisplayLowerLine(LEAD, CP1251(u8"ҐА")); },
       {Control(kGheGlyph), Control(kLowerStart), Control(kIn + "\x20\x41" + kBack)}},
      {"є, blank and '!' switch back",
       [] { return DisplayUpperLine(LEAD, CP1251(u8"Є є!x")); },
       {Control(kYeGlyph), Control(kUpperStart),
        Control(kIn + "\x21" + kBack + " " + kIn + "\x21" + kBack + "!x")}},
      {"both glyphs, Ґ first; ґ and Є share one switch",
       [] { return DisplayLowerLine(LEAD, CP1251(u8"1єґ")); },
       {Control(kGheGlyph), Control(kYeGlyph), Control(kLowerStart),
        Control("1" + kIn + "\x21\x20" + kBack)}},
      {"empty text: the line start only", [] { return DisplayUpperLine(LEAD, ""); },
       {Control(kUpperStart)}},
      {"Ґ after the twentieth character is not shown",
       [] { return DisplayLowerLine(LEAD, "12345678901234567890 \xA5"); },
       {Control(kLowerStart), Control("12345678901234567890")}},
      {"letters through the display table",
       [] { return DisplayLowerLine(LEAD, CP1251(u8"АБВЖИЯабжия\"Ї")); },
       {Control(kLowerStart),
        Control(Bytes({0x41, 0xB0, 0x42, 0xB3, 0xB8, 0xCA, 0x41, 0xB0, 0xB3, 0xB8, 0xCA, 0x22,
                       0xD8}))}},
      {"punctuation of the upper half", [] { return DisplayUpperLine(LEAD, "\x84\x91\x93\x80"); },
       {Control(kUpperStart), Control("\x22\x27\x22\x20")}},
      // Written out as the register receives them: display byte 0xD0 of the Ґ glyph
      // leaves as 0x90, 0xC0 of the Є glyph as 0x80, 0xB8 (И) as 0xA5.
      {"the link's translation on the way", [] { return DisplayLowerLine(LEAD, CP1251(u8"ҐЄИ")); },
       {{0x64, Bytes({0x10, 0x5B, 0x26, 0x20, 0x10, 0x4B, 0x90, 0x84, 0x21, 0x10, 0x40})},
        {0x64, Bytes({0x10, 0x5B, 0x26, 0x21, 0x74, 0x61, 0x88, 0x45, 0x80})},
        {0x64, kLowerStart},
        {0x64, kIn + "\x20\x21\xA5" + kBack}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    gDeliveries = 0;
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(Take(), c.frames);
    EXPECT_EQ(gDeliveries, static_cast<int>(c.frames.size()));
  }
}

}  // namespace

// Without an open port every exchange is refused, in both display modes too.
TEST(CommandRefusedTest, NothingOpenIsMinusOne) {
  km_driver::ResetDriverForTests();
  gDeliveries = 0;
  EXPECT_EQ(GetStatus(LEAD, 0), -1);
  EXPECT_EQ(CloseFiscalReceipt(LEAD), -1);
  EXPECT_EQ(DisplayLowerLine(LEAD, "abc"), -1);
  SetNoTranslation(0);
  EXPECT_EQ(DisplayUpperLine(LEAD, CP1251(u8"ҐА")), -1);
  SetNoTranslation(1);
  EXPECT_EQ(gDeliveries, 0);
}
