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

TEST_F(ModelTest, UnknownCommandAndBadDataSetTheGeneralError) {
  auto r = Do(0x31);
  EXPECT_EQ(r.status[0], 0x80 | 0x22);
  r = Do(0x4A, "Q");
  EXPECT_EQ(r.status[0], 0x80 | 0x21);
  EXPECT_TRUE(Syntax(Do(0x3D, "32-01-26 10:00")));
  EXPECT_TRUE(Syntax(Do(0x45, "9162,7")));
}

TEST_F(ModelTest, ReceiptsOpenOneAtATime) {
  EXPECT_TRUE(NotAllowed(Do(0x2A, "x")));      // text outside a receipt
  EXPECT_TRUE(NotAllowed(Do(0x27)));
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

TEST_F(ModelTest, CashierMustExistAndKnowThePassword) {
  EXPECT_TRUE(NotAllowed(Do(0x30, "00001,1111,00001,I")));
  EXPECT_TRUE(Syntax(Do(0x30, "00000,9162,00001,I")));  // no cashier chosen
  EXPECT_TRUE(Syntax(Do(0x30, "00014,9162,00001,I")));  // not a cashier
  EXPECT_EQ(m.receiptKind(), ReceiptKind::None);
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
  EXPECT_TRUE(NotAllowed(Do(0x39)));  // nothing open
}

TEST_F(ModelTest, DailyReportsAndServiceCash) {
  EXPECT_TRUE(NotAllowed(Do(0x45, "1111,2")));  // wrong reports password
  auto x = Do(0x45, "9162,2");
  ASSERT_TRUE(Ok(x));
  EXPECT_TRUE(x.printing);
  EXPECT_TRUE(NotAllowed(Do(0x46, "-0.01")));  // an empty drawer
  ASSERT_TRUE(Ok(Do(0x46, "10.00")));
  auto out = Do(0x46, "-10.00");
  ASSERT_TRUE(Ok(out));
  EXPECT_EQ(out.text, "P,0.00,10.00,10.00");
  EXPECT_TRUE(Syntax(Do(0x46, "1,5")));
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

TEST_F(ModelTest, PeriodicAndArticleReports) {
  EXPECT_TRUE(Ok(Do(0x5F, "9162,0001,0012")));
  EXPECT_TRUE(Ok(Do(0x49, "9162,0001,0012")));
  EXPECT_TRUE(Syntax(Do(0x49, "9162,0012,0001")));
  EXPECT_TRUE(Ok(Do(0x4F, "9162,010304,310304")));
  EXPECT_TRUE(Ok(Do(0x5E, "9162,010304,310304")));
  EXPECT_TRUE(Syntax(Do(0x4F, "9162,310304,010304")));
  EXPECT_TRUE(Syntax(Do(0x4F, "9162,310204,010304")));  // no 31 February
  for (const char* k : {"S", "P", "G"}) EXPECT_TRUE(Ok(Do(0x6F, std::string("9162,") + k))) << k;
  EXPECT_TRUE(Syntax(Do(0x6F, "9162,X")));
}

TEST_F(ModelTest, ArticlesProgrammedAndDeleted) {
  EXPECT_TRUE(Syntax(Do(0x6B, "PX100,1,1.25,9162,A")));      // tax group letter
  EXPECT_TRUE(NotAllowed(Do(0x6B, "P\xC0" "100,1,1.25,1,A")));  // programming password
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
  EXPECT_TRUE(NotAllowed(Do(0x65, "2,0000,1234")));
  ASSERT_TRUE(Ok(Do(0x65, "2,9162,1234")));
  EXPECT_TRUE(NotAllowed(Do(0x30, "00002,9162,00001,I")));
  EXPECT_TRUE(Syntax(Do(0x65, "16,9162,1234")));
  EXPECT_TRUE(NotAllowed(Do(0x77, "2,9162")));  // not the administrator's
  ASSERT_TRUE(Ok(Do(0x77, "2,0000")));
  EXPECT_EQ(m.op(2).password, "9162");
  std::string name = CP1251(u8"Петренко, О.");
  ASSERT_TRUE(Ok(Do(0x66, "5,9162," + name)));
  auto info = Do(0x70, "5");
  EXPECT_EQ(info.text, "5,0,0.00,0,0.00,0," + name);
  EXPECT_EQ(Do(0x70, "13").text.substr(19), CP1251(u8"Оператор 13"));
  EXPECT_TRUE(Syntax(Do(0x66, "5,9162," + std::string(25, 'x'))));
}

TEST_F(ModelTest, ClockTaxesAndIdentity) {
  ASSERT_TRUE(Ok(Do(0x3D, "05-03-02 14:07")));
  EXPECT_EQ(Do(0x3E).text.substr(0, 15), "05-03-02 14:07:");
  m.setClockInvalid(true);
  EXPECT_EQ(m.status()[0] & 0x04, 0x04);
  ASSERT_TRUE(Ok(Do(0x3D, "29-02-24 23:59:30")));
  EXPECT_EQ(m.status()[0] & 0x04, 0);
  EXPECT_TRUE(Syntax(Do(0x3D, "29-02-25 10:00")));

  EXPECT_EQ(Do(0x53).text, "2,1111,20.00,0.00,0.00,0.00");
  EXPECT_EQ(Do(0x61).text, "20.00,0.00,0.00,0.00");
  EXPECT_TRUE(NotAllowed(Do(0x53, "1,2,1100,20.00,7.00,0.00,0.00")));
  ASSERT_TRUE(Ok(Do(0x53, "9162,2,1100,20.00,7.00,0.00,0.00")));
  EXPECT_EQ(Do(0x53).text, "2,1100,20.00,7.00,0.00,0.00");
  EXPECT_TRUE(Syntax(Do(0x53, "9162,2,11,20.00,7.00,0.00,0.00")));
  EXPECT_EQ(Do(0x63).text, "123456789012,0");
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
  EXPECT_TRUE(Syntax(Do(0x24, "1,c0a8000a,FFFFFF00,C0A80001,0A000005,901F,3C00,1E00")));
  EXPECT_TRUE(Syntax(Do(0x24, "1,C0A8000A,FFFFFF00")));
  m.setModemState(0x9A);
  auto modem = Do(0x6C, "0");
  EXPECT_EQ(modem.text.substr(0, 3), "9A,");
  EXPECT_FALSE(modem.printing);
  EXPECT_TRUE(Do(0x6C, "1").printing);
  m.setDeviceId(255);
  EXPECT_EQ(Do(0xFF).text, "255");
}

TEST_F(ModelTest, ModuleAnswersCanBeReplaced) {
  m.setModuleAnswer(0x25, "1,c0a8000a");
  m.setModuleAnswer(0x6C, "9A,01-02-26");
  m.setModuleAnswer(0xFF, "");
  EXPECT_EQ(Do(0x25).text, "1,c0a8000a");
  const size_t printed = m.printout().size();
  const Reply modem = Do(0x6C, "1");
  EXPECT_EQ(modem.text, "9A,01-02-26");
  EXPECT_TRUE(modem.printing);  // the report is still printed
  EXPECT_EQ(m.printout().size(), printed + 1);
  EXPECT_EQ(Do(0xFF).text, "");
  EXPECT_TRUE(Syntax(Do(0x6C, "2")));  // a refused command keeps its empty answer
  EXPECT_EQ(Do(0x6C, "2").text, "");
  m.clearModuleAnswers();
  EXPECT_EQ(Do(0x25).text, "1,C0A80064,FFFFFF00,C0A80001,0A000005,901F,3C00,1E00");
  EXPECT_EQ(Do(0xFF).text, "305419896");
}

TEST_F(ModelTest, InformationAnswersCanBeReplaced) {
  m.setInformationAnswer(0x5A, "1.04 12-03-25");
  m.setInformationAnswer(0x63, "123456789012");
  m.setInformationAnswer(0x61, "");
  m.setInformationAnswer(0x3E, "05-11-26");
  m.setInformationAnswer(0x53, "2");
  EXPECT_EQ(Do(0x5A, "1").text, "1.04 12-03-25");
  EXPECT_EQ(Do(0x63).text, "123456789012");
  EXPECT_EQ(Do(0x61).text, "");
  EXPECT_EQ(Do(0x3E).text, "05-11-26");
  EXPECT_EQ(Do(0x53).text, "2");
  EXPECT_TRUE(Syntax(Do(0x5A, "7")));  // a refused request keeps its empty answer
  EXPECT_EQ(Do(0x5A, "7").text, "");
  // Programming the rates is no information request: its own answer.
  ASSERT_TRUE(Ok(Do(0x53, "9162,2,1100,20.00,7.00,0.00,0.00")));
  EXPECT_EQ(Do(0x53, "9162,2,1100,20.00,7.00,0.00,0.00").text, "2,1100,20.00,7.00,0.00,0.00");
  m.clearInformationAnswers();
  EXPECT_EQ(Do(0x63).text, "123456789012,0");
  EXPECT_EQ(Do(0x61).text, "20.00,7.00,0.00,0.00");
  EXPECT_EQ(Do(0x53).text, "2,1100,20.00,7.00,0.00,0.00");
}

}  // namespace
}  // namespace km4410r::sim
