// The register model's state transitions, driven by data texts as the tool
// formats them.
#include <gtest/gtest.h>

#include <string>

#include "common/cp1251.h"
#include "sim/register_model.h"

namespace km4410r::sim {
namespace {

class ModelTest : public ::testing::Test {
 protected:
  Reply Do(int cmd, const std::string& data = "") { return m.execute(static_cast<uint8_t>(cmd), data); }
  // True when the answer carries no error bit.
  static bool Ok(const Reply& r) {
    return !(r.status[0] & 0x37) && !(r.status[1] & 0x13) && !(r.status[2] & 0x01);
  }
  static bool NotAllowed(const Reply& r) { return (r.status[1] & 0x02) != 0; }
  static bool Syntax(const Reply& r) { return (r.status[0] & 0x21) == 0x21; }
  void ProgramArticle100() {
    ASSERT_TRUE(Ok(Do(0x6B, std::string("P\xC0") + "100,1,1.25,9162," + CP1251(u8"Кулебяка"))));
  }
  RegisterModel m;
};

TEST_F(ModelTest, DefaultStateLetsTheRegisterTestRun) {
  StatusBytes s = m.status();
  for (uint8_t b : s) EXPECT_EQ(b & 0x80, 0x80);
  EXPECT_EQ(s[5], 0x80 | 0x3A);  // formatted, fiscalized, rates defined, numbers programmed
  EXPECT_EQ(s[3], 0x80 | 0x04 | 0x10 | 0x20);  // Sw3, Sw5, Sw6 of "00101100"
  EXPECT_EQ(s[2], 0x80);
  EXPECT_FALSE(m.translates());
  m.setSwitches("00000000");
  EXPECT_TRUE(m.translates());
  m.setSwitches("001011");  // the tool's rule: characters 3..6 of 6 to 8
  EXPECT_FALSE(m.translates());
  m.setSwitches("001011000");
  EXPECT_TRUE(m.translates());
}

// What a fresh register answers to one command: refusals leave no receipt
// open and no answer text.
TEST_F(ModelTest, OneCommandOnAFreshRegister) {
  enum Expect { kOk, kSyntax, kNotAllowed, kBadCommand };
  const struct {
    int cmd;
    std::string data;
    Expect expect;
    const char* text = nullptr;  // the answer text, when not empty
  } cases[] = {
      {0x31, "", kBadCommand}, {0x4A, "Q", kSyntax}, {0x45, "9162,7", kSyntax},
      {0x3D, "32-01-26 10:00", kSyntax}, {0x3D, "29-02-25 10:00", kSyntax},  // no such days
      {0x45, "1111,2", kNotAllowed},                       // wrong reports password
      {0x46, "-0.01", kNotAllowed}, {0x46, "1,5", kSyntax},  // an empty drawer, a bad amount
      {0x2A, "x", kNotAllowed}, {0x27, "", kNotAllowed}, {0x39, "", kNotAllowed},  // no receipt open
      {0x30, "00001,1111,00001,I", kNotAllowed},  // wrong cashier password
      {0x30, "00000,9162,00001,I", kSyntax}, {0x30, "00014,9162,00001,I", kSyntax},  // not a cashier
      {0x5F, "9162,0001,0012", kOk}, {0x49, "9162,0001,0012", kOk}, {0x49, "9162,0012,0001", kSyntax},
      {0x4F, "9162,010304,310304", kOk}, {0x5E, "9162,010304,310304", kOk},
      {0x4F, "9162,310304,010304", kSyntax}, {0x4F, "9162,310204,010304", kSyntax},  // no 31 February
      {0x6F, "9162,S", kOk}, {0x6F, "9162,P", kOk}, {0x6F, "9162,G", kOk}, {0x6F, "9162,X", kSyntax},
      {0x6B, "PX100,1,1.25,9162,A", kSyntax},               // tax group letter
      {0x6B, "P\xC0" "100,1,1.25,1,A", kNotAllowed},        // programming password
      {0x65, "2,0000,1234", kNotAllowed}, {0x65, "16,9162,1234", kSyntax},
      {0x66, "5,9162," + std::string(25, 'x'), kSyntax},  // name too long
      {0x77, "2,9162", kNotAllowed},                      // not the administrator's
      {0x53, "", kOk, "2,1111,20.00,0.00,0.00,0.00"}, {0x61, "", kOk, "20.00,0.00,0.00,0.00"},
      {0x53, "1,2,1100,20.00,7.00,0.00,0.00", kNotAllowed}, {0x53, "9162,2,11,20.00,7.00,0.00,0.00", kSyntax},
      {0x63, "", kOk, "123456789012,0"}, {0xFF, "", kOk, "305419896"},
      {0x25, "", kOk, "1,C0A80064,FFFFFF00,C0A80001,0A000005,901F,3C00,1E00"},
      {0x24, "1,c0a8000a,FFFFFF00,C0A80001,0A000005,901F,3C00,1E00", kSyntax}, {0x24, "1,C0A8000A,FFFFFF00", kSyntax},
  };
  for (const auto& c : cases) {
    RegisterModel fresh;
    const Reply r = fresh.execute(static_cast<uint8_t>(c.cmd), c.data);
    SCOPED_TRACE(testing::Message() << std::hex << c.cmd << " " << c.data);
    switch (c.expect) {
      case kOk: EXPECT_TRUE(Ok(r)); break;
      case kSyntax: EXPECT_EQ(r.status[0], 0x80 | 0x21); break;
      case kNotAllowed: EXPECT_TRUE(NotAllowed(r)); break;
      case kBadCommand: EXPECT_EQ(r.status[0], 0x80 | 0x22); break;
    }
    EXPECT_EQ(r.text, c.text ? c.text : "");  // a refused command answers nothing
    EXPECT_EQ(fresh.receiptKind(), ReceiptKind::None);
  }
}

TEST_F(ModelTest, ReceiptsOpenOneAtATime) {
  ASSERT_TRUE(Ok(Do(0x26)));
  EXPECT_EQ(m.status()[2], 0x80 | 0x20);
  EXPECT_TRUE(NotAllowed(Do(0x26)));
  EXPECT_TRUE(NotAllowed(Do(0x30, "00001,9162,00001,I")));
  EXPECT_TRUE(NotAllowed(Do(0x45, "9162,2")));  // no report in a receipt
  EXPECT_TRUE(Ok(Do(0x2A, CP1251(u8"НеФиСкАлЬнЫй  Текст"))));
  auto close = Do(0x27);
  ASSERT_TRUE(Ok(close));
  EXPECT_EQ(close.text, "1");
  EXPECT_EQ(m.receiptKind(), ReceiptKind::None);

  ASSERT_TRUE(Ok(Do(0x55, "00002,9162,00001,I")));
  EXPECT_EQ(m.status()[2], 0x80 | 0x08);
  EXPECT_EQ(m.status()[1], 0x80 | 0x08);  // a return receipt
  EXPECT_TRUE(NotAllowed(Do(0x26)));
  EXPECT_TRUE(NotAllowed(Do(0x38)));  // not paid
  EXPECT_TRUE(Ok(Do(0x39)));
  EXPECT_EQ(m.status()[2], 0x80);
  EXPECT_EQ(m.lastReceiptNumber(), 2);
}

// The fiscal and return receipts of the register test, with the totals they leave.
TEST_F(ModelTest, SaleAndReturnReceiptsOfTheRegisterTest) {
  ProgramArticle100();
  EXPECT_TRUE(NotAllowed(Do(0x34, "100*4.000,-5.00")));  // no receipt open
  ASSERT_TRUE(Ok(Do(0x30, "00001,9162,00001,I")));
  ASSERT_TRUE(Ok(Do(0x36, CP1251(u8"Фискальный  ТеКсТ"))));
  ASSERT_TRUE(Ok(Do(0x34, "100*4.000,-5.00")));
  EXPECT_EQ(m.receipt().total(), 475);
  EXPECT_EQ(m.displayText(0), "Кулебяка");
  EXPECT_EQ(m.displayText(1), "                4.75");
  auto sub = Do(0x33, "11;-1.00");
  ASSERT_TRUE(Ok(sub));
  EXPECT_EQ(sub.text, "3.75");
  EXPECT_TRUE(NotAllowed(Do(0x38)));
  auto part = Do(0x35, "\tP2.00");
  EXPECT_EQ(part.text, "D1.75");
  EXPECT_TRUE(NotAllowed(Do(0x34, "100")));  // no sale once payment began
  auto pay = Do(0x35, "\tP10.00");
  ASSERT_TRUE(Ok(pay));
  EXPECT_EQ(pay.text, "R8.25");
  EXPECT_TRUE(NotAllowed(Do(0x39)));  // paid: it can only be closed
  ASSERT_TRUE(Ok(Do(0x21)));
  ASSERT_TRUE(Ok(Do(0x38)));
  EXPECT_EQ(m.day().sales[0], 375);
  EXPECT_EQ(m.day().cash(), 375);
  EXPECT_EQ(m.articles().at(100).soldQty, 4000);
  EXPECT_EQ(m.op(1).receipts, 1);

  ASSERT_TRUE(Ok(Do(0x55, "00001,9162,00001,I")));
  ASSERT_TRUE(Ok(Do(0x34, "100*2.000;-1.00")));
  EXPECT_EQ(Do(0x35, "\tP5.00").text, "R3.50");
  ASSERT_TRUE(Ok(Do(0x38)));
  EXPECT_EQ(m.day().returns[0], 150);
  EXPECT_EQ(m.day().cash(), 225);
  EXPECT_EQ(m.articles().at(100).soldQty, 4000);  // a return is no sale
}

TEST_F(ModelTest, SaleLinesAreChecked) {
  ProgramArticle100();
  ASSERT_TRUE(Ok(Do(0x30, "00001,9162,00001,I")));
  EXPECT_TRUE(NotAllowed(Do(0x34, "101")));             // not programmed
  EXPECT_TRUE(Syntax(Do(0x34, "100*4.000,-5.00;1.00")));  // percent and amount
  EXPECT_TRUE(Syntax(Do(0x34, "100*abc")));
  EXPECT_TRUE(NotAllowed(Do(0x34, "100;-2.00")));       // discount above the price
  EXPECT_TRUE(NotAllowed(Do(0x34, "-100")));            // void of nothing sold
  ASSERT_TRUE(Ok(Do(0x34, "100*2.000")));
  ASSERT_TRUE(Ok(Do(0x34, "-100")));                    // void one of them
  EXPECT_EQ(m.receipt().total(), 125);
  EXPECT_EQ(Do(0x34, "100*99999.999").status[1] & 0x01, 0);  // 124 999.99 fits
  EXPECT_TRUE(Do(0x34, "100*99999.999;99999999.00").status[1] & 0x01);  // overflow
}

TEST_F(ModelTest, ZeroReceiptAndCancellation) {
  ASSERT_TRUE(Ok(Do(0x30, "00001,9162,00001,I")));
  ASSERT_TRUE(Ok(Do(0x33, "11")));
  EXPECT_EQ(Do(0x35, "\tP0.00").text, "R0.00");
  ASSERT_TRUE(Ok(Do(0x38)));
  EXPECT_EQ(m.day().saleReceipts, 1);
}

TEST_F(ModelTest, DailyReportsAndServiceCash) {
  auto x = Do(0x45, "9162,2");
  ASSERT_TRUE(Ok(x));
  EXPECT_TRUE(x.printing);
  ASSERT_TRUE(Ok(Do(0x46, "10.00")));
  auto out = Do(0x46, "-10.00");
  ASSERT_TRUE(Ok(out));
  EXPECT_EQ(out.text, "P,0.00,10.00,10.00");
  ProgramArticle100();
  ASSERT_TRUE(Ok(Do(0x30, "00003,9162,00001,I")));
  ASSERT_TRUE(Ok(Do(0x34, "100")));
  ASSERT_TRUE(Ok(Do(0x35, "\tP1.25")));
  ASSERT_TRUE(Ok(Do(0x38)));
  auto z = Do(0x45, "9162,0");
  ASSERT_TRUE(Ok(z));
  EXPECT_EQ(z.text, "1,1.25,0.00");
  EXPECT_EQ(m.zReports().size(), 1u);
  EXPECT_EQ(m.xReports(), 1);
  EXPECT_TRUE(m.day().empty());
  EXPECT_EQ(m.day().cash(), 0);
  EXPECT_EQ(m.articles().at(100).soldQty, 0);
  EXPECT_EQ(m.op(3).receipts, 0);
  m.setFiscalMemoryStatus(0x10, 0x3A);  // fiscal memory full
  EXPECT_TRUE(NotAllowed(Do(0x45, "9162,0")));
  EXPECT_EQ(m.zReports().size(), 1u);
}

// A register kept running for days: what it keeps stays bounded, the
// numbers keep counting.
TEST_F(ModelTest, LongRunsKeepTheStateBounded) {
  for (size_t i = 1; i <= kZReportsKept + 5; ++i) ASSERT_TRUE(Ok(Do(0x45, "9162,0")));
  const int last = static_cast<int>(kZReportsKept) + 5;
  EXPECT_EQ(m.zReports().size(), kZReportsKept);
  EXPECT_EQ(m.zReports().front().number, 6);
  EXPECT_EQ(m.zReports().back().number, last);
  EXPECT_EQ(m.zReportCount(), last);
  EXPECT_EQ(Do(0x40).text, std::to_string(last) + ",0.00,0.00");
  EXPECT_EQ(Do(0x45, "9162,2").text, std::to_string(last + 1) + ",0.00,0.00");  // X: the next number

  ProgramArticle100();
  ASSERT_TRUE(Ok(Do(0x30, "00001,9162,00001,I")));
  for (size_t i = 0; i < kMaxReceiptLines; ++i) ASSERT_TRUE(Ok(Do(0x34, "100"))) << i;
  EXPECT_TRUE(NotAllowed(Do(0x34, "100")));  // the receipt is full
  for (size_t i = 0; i < kPrintoutKept + 10; ++i) ASSERT_TRUE(Ok(Do(0x36, "t")));  // all printed
  EXPECT_EQ(m.receipt().lines.size(), kMaxReceiptLines);
  EXPECT_EQ(m.receipt().texts.size(), kMaxReceiptTexts);
  EXPECT_TRUE(Ok(Do(0x39)));

  EXPECT_LE(m.printout().size(), kPrintoutKept);
  EXPECT_EQ(m.printout().back(), "CANCELLED 1");

  for (size_t n = m.articles().size(); n < kMaxArticles; ++n)
    ASSERT_TRUE(Ok(Do(0x6B, "P\xC0" + std::to_string(1000 + n) + ",1,1.00,9162,x")));
  EXPECT_TRUE(NotAllowed(Do(0x6B, "P\xC0" "999999,1,1.00,9162,x")));  // no room for a new one
  EXPECT_TRUE(Ok(Do(0x6B, "P\xC1" "100,2,2.00,9162,y")));            // an existing one may change
  EXPECT_EQ(m.articles().size(), kMaxArticles);
}

TEST_F(ModelTest, ArticlesProgrammedAndDeleted) {
  ASSERT_TRUE(Ok(Do(0x6B, "P\x81" "7,2,3.00,9162,B")));       // the register's own letter Б
  EXPECT_EQ(m.articles().at(7).taxGroup, 1);
  ProgramArticle100();
  ASSERT_TRUE(Ok(Do(0x30, "00001,9162,00001,I")));
  ASSERT_TRUE(Ok(Do(0x34, "100")));
  ASSERT_TRUE(Ok(Do(0x35, "\tP")));
  ASSERT_TRUE(Ok(Do(0x38)));
  EXPECT_TRUE(NotAllowed(Do(0x6B, "P\xC0" "100,1,2.00,9162,A")));  // sold: price fixed till Z
  EXPECT_TRUE(NotAllowed(Do(0x6B, "D100,9162")));
  EXPECT_TRUE(NotAllowed(Do(0x6B, "DA,1")));
  auto all = Do(0x6B, "DA,9162");
  ASSERT_TRUE(Ok(all));
  EXPECT_EQ(all.text, "1");  // article 7 went; 100 was sold
  EXPECT_EQ(m.articles().count(100), 1u);
}

TEST_F(ModelTest, OperatorsPasswordsAndNames) {
  ASSERT_TRUE(Ok(Do(0x65, "2,9162,1234")));
  EXPECT_TRUE(NotAllowed(Do(0x30, "00002,9162,00001,I")));
  ASSERT_TRUE(Ok(Do(0x77, "2,0000")));
  EXPECT_EQ(m.op(2).password, "9162");
  std::string name = CP1251(u8"Петренко, О.");
  ASSERT_TRUE(Ok(Do(0x66, "5,9162," + name)));
  auto info = Do(0x70, "5");
  EXPECT_EQ(info.text, "5,0,0.00,0,0.00,0," + name);
  EXPECT_EQ(Do(0x70, "13").text.substr(19), CP1251(u8"Оператор 13"));
}

TEST_F(ModelTest, ClockTaxesAndIdentity) {
  ASSERT_TRUE(Ok(Do(0x3D, "05-03-02 14:07")));
  EXPECT_EQ(Do(0x3E).text.substr(0, 15), "05-03-02 14:07:");
  m.setClockInvalid(true);
  EXPECT_EQ(m.status()[0] & 0x04, 0x04);
  ASSERT_TRUE(Ok(Do(0x3D, "29-02-24 23:59:30")));
  EXPECT_EQ(m.status()[0] & 0x04, 0);

  ASSERT_TRUE(Ok(Do(0x53, "9162,2,1100,20.00,7.00,0.00,0.00")));
  EXPECT_EQ(Do(0x53).text, "2,1100,20.00,7.00,0.00,0.00");
}

TEST_F(ModelTest, InjectedConditions) {
  m.setPaperOut(true);
  auto r = Do(0x26);
  EXPECT_EQ(r.status[2], 0x80 | 0x01);
  EXPECT_EQ(m.receiptKind(), ReceiptKind::None);  // refused
  EXPECT_FALSE(Ok(Do(0x5A, "1")));  // the bit is in every answer
  EXPECT_FALSE(Do(0x5A, "1").text.empty());        // but the query is answered
  m.setPaperOut(false);
  m.setCoverOpen(true);
  r = Do(0x45, "9162,2");
  EXPECT_EQ(r.status[1] & 0x20, 0x20);
  EXPECT_EQ(r.status[0] & 0x30, 0x30);
  EXPECT_EQ(m.xReports(), 0);
  m.setCoverOpen(false);
  m.setExtraStatus(4, 0x08);
  EXPECT_EQ(Do(0x4A, "W").status[4], 0x88);
}

TEST_F(ModelTest, NetworkModemAndDeviceId) {
  const std::string wire = "1,C0A8000A,FFFFFF00,C0A80001,0A000005,901F,3C00,1E00";
  ASSERT_TRUE(Ok(Do(0x24, wire)));
  EXPECT_EQ(m.network().port, 8080);
  EXPECT_EQ(m.network().address[0], 0xC0A8000Au);
  EXPECT_EQ(Do(0x25).text, wire);
  m.setModemState(0x9A);
  auto modem = Do(0x6C, "0");
  EXPECT_EQ(modem.text.substr(0, 3), "9A,");
  EXPECT_FALSE(modem.printing);
  EXPECT_TRUE(Do(0x6C, "1").printing);
  m.setDeviceId(255);
  EXPECT_EQ(Do(0xFF).text, "255");
}

// Answers replaced as a register or module answering short or malformed
// would give them; clearing brings the model's own back.
TEST_F(ModelTest, AnswersCanBeReplaced) {
  const struct {
    int cmd;
    const char* data;
    const char* replaced;
    const char* own;  // after clearing (the rates programmed below)
    bool module;
  } cases[] = {
      {0x25, "", "1,c0a8000a", "1,C0A80064,FFFFFF00,C0A80001,0A000005,901F,3C00,1E00", true},
      {0xFF, "", "", "305419896", true},
      {0x5A, "1", "1.04 12-03-25", "1.04 12-03-25 10:15,5A3F,00101100,1,VT00012345,3000123456", false},
      {0x63, "", "123456789012", "123456789012,0", false},
      {0x61, "", "", "20.00,7.00,0.00,0.00", false},
      {0x3E, "", "05-11-26", nullptr, false},  // the clock runs
      {0x53, "", "2", "2,1100,20.00,7.00,0.00,0.00", false},
  };
  for (const auto& c : cases) {
    if (c.module) m.setModuleAnswer(static_cast<uint8_t>(c.cmd), c.replaced);
    else m.setInformationAnswer(static_cast<uint8_t>(c.cmd), c.replaced);
  }
  for (const auto& c : cases) EXPECT_EQ(Do(c.cmd, c.data).text, c.replaced) << c.cmd;
  // The module's report is still printed.
  m.setModuleAnswer(0x6C, "9A,01-02-26");
  const size_t printed = m.printout().size();
  const Reply modem = Do(0x6C, "1");
  EXPECT_EQ(modem.text, "9A,01-02-26");
  EXPECT_TRUE(modem.printing);
  EXPECT_EQ(m.printout().size(), printed + 1);
  // A refused command keeps its empty answer.
  for (const auto& [cmd, data] : {std::pair{0x6C, "2"}, std::pair{0x5A, "7"}}) {
    const Reply r = Do(cmd, data);
    EXPECT_TRUE(Syntax(r)) << cmd;
    EXPECT_EQ(r.text, "") << cmd;
  }
  // Programming the rates is no information request: its own answer.
  EXPECT_EQ(Do(0x53, "9162,2,1100,20.00,7.00,0.00,0.00").text, "2,1100,20.00,7.00,0.00,0.00");
  m.clearModuleAnswers();
  m.clearInformationAnswers();
  for (const auto& c : cases) {
    if (!c.own) continue;
    EXPECT_EQ(Do(c.cmd, c.data).text, c.own) << c.cmd;
  }
}

}  // namespace
}  // namespace km4410r::sim
