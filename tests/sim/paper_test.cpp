// The paper and the customer display of the simulator, driven over a real pty
// by the driver's command functions with the data the register test sends.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "common/cp1251.h"
#include "sim/paper.h"
#include "sim/register_model.h"
#include "sim/simulator.h"
#include "tests/sim/driver_on_sim.h"

namespace km4410r::sim {
namespace {

// The 240-character display sample of the register test (CP1251 bytes).
const std::string& DisplaySample() {
  static const std::string sample = [] {
    const std::string series = CP1251(
        u8"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
        u8"АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩьЫЪЭЮЯЄЇ"
        u8"абвгдежзийклмнопрстуфхцчшщьыъэюяєї");
    return series + series;
  }();
  return sample;
}

// The expected paper with its repeated blocks named: <head> the header lines
// of the pass, <ids> the rule and the register's numbers, <no sales> a day
// without receipts, <z end> the end of a Z report.
std::string Expand(std::string text) {
  const std::pair<std::string, std::string> blocks[] = {
      {"<z end>\n", "<ids>\n        ОБНУЛЕНИЕ ДНЕВНЫХ ИТОГОВ\n" + cutLine() + "\n"},
      {"<head>\n", "             У К Р А Ї Н А\n               м. К и ї в\n          АТ \"ВАНТОР УКРАЇНА\"\n"
                   "          тел. (044) 123-45-67\n"},
      {"<ids>\n", std::string(40, '-') + "\nЗН VT00012345              ФН 3000123456\n"},
      {"<no sales>\n", "ПРОДАЖИ\nВСЕГО ПРОДАЖ                        0.00\nВОЗВРАТЫ\n"
                       "ВСЕГО ВОЗВРАТОВ                     0.00\nЧЕКОВ ПРОДАЖИ                          0\n"
                       "ЧЕКОВ ВОЗВРАТА                         0\n"}};
  for (const auto& [name, lines] : blocks)
    for (size_t at; (at = text.find(name)) != std::string::npos;) text.replace(at, name.size(), lines);
  return text;
}

class PaperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = std::make_unique<Simulator>(Unpaced());
    // The PC clock stands still: the register's clock shows what it was set to.
    sim_->withModel([](RegisterModel& m) { m.setPcClock([] { return std::time_t(1700000000); }); });
    ASSERT_EQ(OpenThroughDriver(*sim_), "");
  }
  void TearDown() override {
    CloseThroughDriver();
    sim_.reset();
  }
  static uint32_t Errors() {
    return DriverRetData().ErrorFlags & ~(kReady | kFlagFiscalOpen | kFlagReturnReceipt | kFlagNonFiscalOpen);
  }
  // Both display rows, sent as the register test sends them.
  void DisplayTest() {
    for (int i = 0; i < 120; ++i) ASSERT_EQ(DisplayLowerLine(LEAD, DisplaySample().substr(i, 20).c_str()), 0);
    for (int i = 0; i < 120; ++i) ASSERT_EQ(DisplayUpperLine(LEAD, DisplaySample().substr(i, 20).c_str()), 0);
  }
  std::unique_ptr<Simulator> sim_;
};

TEST_F(PaperTest, OneRegisterTestPassPrintsItsReceiptsAndReports) {
  // The start: the header lines 0 to 7.
  ASSERT_EQ(GetDiagnosticInfo(LEAD, 1), 0);
  const char* header[] = {CP1251(u8"У К Р А Ї Н А"), CP1251(u8"м. К и ї в"), CP1251(u8"АТ \"ВАНТОР УКРАЇНА\""),
                          CP1251(u8"тел. (044) 123-45-67"), "", "", "", ""};
  for (int line = 0; line < 8; ++line) ASSERT_EQ(SetHeaderFooter(LEAD, line, header[line]), 0);
  // Phase one.
  ASSERT_EQ(GetStatus(LEAD, 0), 0);
  ASSERT_EQ(SetDateTime(LEAD, "05-03-02", "14:07"), 0);
  ASSERT_EQ(PrintDiagnostics(LEAD), 0);
  ASSERT_EQ(GetDiagnosticInfo(LEAD, 1), 0);
  ASSERT_EQ(GetDateTime(LEAD), 0);
  ASSERT_EQ(GetTaxNumber(LEAD), 0);
  ASSERT_EQ(PrintDailyReport(LEAD, "9162", '2'), 0);
  ASSERT_EQ(OpenNonFiscalReceipt(LEAD), 0);
  for (int indent : {0, 3, 6, 8, 11})
    ASSERT_EQ(PrintNonFiscalText(LEAD, (std::string(indent, ' ') + CP1251(u8"НеФиСкАлЬнЫй  Текст")).c_str()), 0);
  ASSERT_EQ(CloseNonFiscalReceipt(LEAD), 0);
  DisplayTest();
  EXPECT_EQ(Errors(), 0u);
  // Phase two.
  ASSERT_EQ(PrintDailyReport(LEAD, "9162", '0'), 0);
  ASSERT_EQ(ServiceCashInOut(LEAD, 10), 0);
  ASSERT_EQ(ServiceCashInOut(LEAD, -10), 0);
  EXPECT_EQ(Errors(), 0u);
  ASSERT_EQ(ProgramArticle(LEAD, '\xC0', 100, 1, 1.25, "9162", CP1251(u8"Кулебяка")), 0);
  EXPECT_EQ(Errors(), 0u);
  const RetData& r = DriverRetData();
  for (bool sale : {true, false}) {
    ASSERT_EQ(sale ? OpenFiscalReceipt(LEAD, 1, "9162", 1) : OpenReturnReceipt(LEAD, 1, "9162", 1), 0);
    EXPECT_EQ(r.ErrorFlags & (kFlagFiscalOpen | kFlagReturnReceipt),
              sale ? kFlagFiscalOpen : kFlagFiscalOpen | kFlagReturnReceipt);
    ASSERT_EQ(PrintFiscalText(LEAD, CP1251(u8"Фискальный  ТеКсТ")), 0);
    ASSERT_EQ(RegisterSale(LEAD, 1, 100, sale ? 4 : 2, sale ? -5 : 0, sale ? 0 : -1), 0);
    EXPECT_EQ(Errors(), 0u);
    if (sale) {
      ASSERT_EQ(Subtotal(LEAD, 1, 1, 0, -1), 0);
    }
    ASSERT_EQ(ReceiptTotal(LEAD, "", 'P', sale ? 10 : 5), 0);
    EXPECT_STREQ(r.AnswerText, sale ? "R6.25" : "R3.50");
    ASSERT_GT(r.FieldCount, 1);
    EXPECT_STREQ(r.Fields[1], sale ? "6.25" : "3.50");
    ASSERT_EQ(CloseFiscalReceipt(LEAD), 0);
    EXPECT_EQ(r.ErrorFlags, kReady);
  }
  ASSERT_EQ(PrintArticleReport(LEAD, "9162", 'S'), 0);
  ASSERT_EQ(PrintDailyReport(LEAD, "9162", '0'), 0);
  EXPECT_STREQ(r.AnswerText, "2,3.75,1.50");
  // The timer check.
  ASSERT_EQ(GetDateTime(LEAD), 0);
  ASSERT_EQ(GetDateTime(LEAD), 0);
  EXPECT_EQ(Errors(), 0u);

  // Four at 1.25 with 5 % off (4.75), 1.00 off the subtotal: 3.75, 6.25 back
  // from 10.00; two returned with 1.00 off: 1.50, 3.50 back from 5.00. The
  // second Z report has them all, and the cash: 10.00 in and out, 3.75 less 1.50.
  const std::string expected = R"(ДИАГНОСТИКА            05-03-02 14:07:00
ВЕРСИЯ ПО            1.04 12-03-25 10:15
ПЕРЕКЛЮЧАТЕЛИ                   00101100
МОДУЛЬ ФП                           ЕСТЬ
ЗН                            VT00012345
ФН                            3000123456
НН                          123456789012
СТАВКИ НАЛОГОВ
  А                               20.00%
  Б                                0.00%
  В                                0.00%
  Г                                0.00%
- - - - - - - - - 8< - - - - - - - - - -
<head>
НН 123456789012
X-ОТЧЕТ                05-03-02 14:07:00
<no sales>
НЕФИСКАЛЬНЫХ ЧЕКОВ                     0
СЛУЖЕБНЫЙ ВНОС                      0.00
СЛУЖЕБНЫЙ ВЫНОС                     0.00
НАЛИЧНЫХ В КАССЕ                    0.00
<ids>
- - - - - - - - - 8< - - - - - - - - - -
<head>
НЕФИСКАЛЬНЫЙ ЧЕК № 1   05-03-02 14:07:00
НеФиСкАлЬнЫй  Текст
   НеФиСкАлЬнЫй  Текст
      НеФиСкАлЬнЫй  Текст
        НеФиСкАлЬнЫй  Текст
           НеФиСкАлЬнЫй  Текст
            НЕФИСКАЛЬНЫЙ ЧЕК
- - - - - - - - - 8< - - - - - - - - - -
<head>
НН 123456789012
Z-ОТЧЕТ № 1            05-03-02 14:07:00
<no sales>
НЕФИСКАЛЬНЫХ ЧЕКОВ                     1
СЛУЖЕБНЫЙ ВНОС                      0.00
СЛУЖЕБНЫЙ ВЫНОС                     0.00
НАЛИЧНЫХ В КАССЕ                    0.00
<z end>
<head>
СЛУЖЕБНЫЙ ВНОС         05-03-02 14:07:00
СУММА                              10.00
В КАССЕ                            10.00
- - - - - - - - - 8< - - - - - - - - - -
<head>
СЛУЖЕБНЫЙ ВЫНОС        05-03-02 14:07:00
СУММА                              10.00
В КАССЕ                             0.00
- - - - - - - - - 8< - - - - - - - - - -
<head>
НН 123456789012
КАССИР Оператор 1                КАССА 1
ЧЕК № 2                05-03-02 14:07:00
Фискальный  ТеКсТ
Кулебяка
  4.000 x 1.25                    5.00 А
  СКИДКА 5.00%                   -0.25
ПРОМЕЖУТОЧНЫЙ ИТОГ                4.75
СКИДКА                           -1.00
----------------------------------------
ИТОГО                             3.75
НАЛИЧНЫЕ                         10.00
СДАЧА                             6.25
НДС А 20.00%                      0.63
<ids>
             ФИСКАЛЬНЫЙ ЧЕК
- - - - - - - - - 8< - - - - - - - - - -
<head>
НН 123456789012
КАССИР Оператор 1                КАССА 1
ЧЕК ВОЗВРАТА № 3       05-03-02 14:07:00
Фискальный  ТеКсТ
Кулебяка
  2.000 x 1.25                    2.50 А
  СКИДКА                         -1.00
----------------------------------------
ИТОГО                             1.50
НАЛИЧНЫЕ                          5.00
СДАЧА                             3.50
НДС А 20.00%                      0.25
<ids>
        ФИСКАЛЬНЫЙ ЧЕК ВОЗВРАТА
- - - - - - - - - 8< - - - - - - - - - -
<head>
ОТЧЕТ О ПРОДАННЫХ ТОВАРАХ
05-03-02 14:07:00
100 Кулебяка
  ПРОДАНО 4.000                     4.75
----------------------------------------
ТОВАРОВ                                1
- - - - - - - - - 8< - - - - - - - - - -
<head>
НН 123456789012
Z-ОТЧЕТ № 2            05-03-02 14:07:00
ПРОДАЖИ
  А 20.00%                          3.75
  НДС А                             0.63
ВСЕГО ПРОДАЖ                        3.75
ВОЗВРАТЫ
  А 20.00%                          1.50
  НДС А                             0.25
ВСЕГО ВОЗВРАТОВ                     1.50
ЧЕКОВ ПРОДАЖИ                          1
ЧЕКОВ ВОЗВРАТА                         1
НЕФИСКАЛЬНЫХ ЧЕКОВ                     0
СЛУЖЕБНЫЙ ВНОС                     10.00
СЛУЖЕБНЫЙ ВЫНОС                    10.00
НАЛИЧНЫХ В КАССЕ                    2.25
<z end>
)";
  std::string paper;
  PrintedFeed feed;
  for (const auto& item : feed.take(*sim_)) paper += paperText(item);
  EXPECT_EQ(paper, Expand(expected));
  ASSERT_EQ(Subtotal(LEAD, 1, 1, 0, 0), 0);  // no receipt open
  EXPECT_EQ(r.ErrorFlags, kReady | kFlagNotAllowed);
}

// The rows after each change, with the register's time, and nothing on the
// paper from them.
TEST_F(PaperTest, DisplayRowsFollowTheDisplayTest) {
  ASSERT_EQ(SetDateTime(LEAD, "05-03-02", "14:07"), 0);
  DisplayTest();
  PrintedFeed feed;
  const auto items = feed.take(*sim_);
  ASSERT_EQ(items.size(), 240u);  // one change a window
  std::string paper;
  for (const auto& item : items) paper += paperText(item);
  EXPECT_EQ(paper, "");
  EXPECT_EQ(displayText(items[0]),
            "ДИСПЛЕЙ 14:07:00 |                    |\n"
            "                 |ABCDEFGHIJKLMNOPQRST|\n");
  EXPECT_EQ(displayText(items[70]),
            "ДИСПЛЕЙ 14:07:00 |                    |\n"
            "                 |ТУФХЦЧШЩьЫЪЭЮЯЄЇабвг|\n");
  EXPECT_EQ(displayText(items[120]),
            "ДИСПЛЕЙ 14:07:00 |ABCDEFGHIJKLMNOPQRST|\n"
            "                 |їABCDEFGHIJKLMNOPQRS|\n");
  EXPECT_EQ(displayText(items[239]),
            "ДИСПЛЕЙ 14:07:00 |їABCDEFGHIJKLMNOPQRS|\n"
            "                 |їABCDEFGHIJKLMNOPQRS|\n");
  EXPECT_TRUE(feed.take(*sim_).empty());  // each item is handed out once
}

std::string FileText(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// km4410r-sim appends the paper to one file and the display to another, and
// writes what came before it stops.
TEST(SimProgram, PaperAndDisplayGoToTheirFiles) {
  char dir[] = "/tmp/km-sim-paper-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string link = std::string(dir) + "/port", paper = std::string(dir) + "/paper.txt",
                    display = std::string(dir) + "/display.txt";
  std::ofstream(paper) << "earlier\n";
  const char* argv[] = {KM_SIM_PATH, "--link", link.c_str(), "--baud", "0", "--work-ms", "0", "--report-ms", "0",
                        "--paper", paper.c_str(), "--display", display.c_str(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, KM_SIM_PATH, nullptr, nullptr, const_cast<char* const*>(argv), environ), 0);
  for (int i = 0; i < 100 && access(link.c_str(), F_OK) != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  km_driver::ResetDriverForTests();
  ASSERT_GE(OpenPortPath(link.c_str(), 115200), 0) << GetLastPortErrorText();
  ASSERT_EQ(OpenNonFiscalReceipt(LEAD), 0);
  ASSERT_EQ(PrintNonFiscalText(LEAD, "hello"), 0);
  ASSERT_EQ(CloseNonFiscalReceipt(LEAD), 0);
  ASSERT_EQ(DisplayLowerLine(LEAD, "lower"), 0);
  EXPECT_EQ(DriverRetData().ErrorFlags & kFlagTimeout, 0u);
  ClosePort();
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  const std::string p = FileText(paper);
  EXPECT_EQ(p.rfind("earlier\nНЕФИСКАЛЬНЫЙ ЧЕК № 1", 0), 0u) << p;
  EXPECT_NE(p.find("\nhello\n            НЕФИСКАЛЬНЫЙ ЧЕК\n" + cutLine() + "\n"), std::string::npos) << p;
  EXPECT_EQ(p.find("ДИСПЛЕЙ"), std::string::npos) << p;
  const std::string d = FileText(display);
  EXPECT_NE(d.find("|                    |\n                 |lower               |\n"), std::string::npos) << d;
  for (const auto& f : {link, paper, display}) unlink(f.c_str());
  rmdir(dir);
}

// The items are a ring: a long run keeps the latest, and a reader that fell
// behind learns how many it missed.
TEST(PrintedItems, TheLatestAreKeptAndTheMissedCounted) {
  RegisterModel m;
  const size_t total = kPrintedItemsKept + 500;
  for (size_t i = 0; i < total; ++i) m.execute(0x2D, "");
  uint64_t missed = 0;
  auto items = m.printedSince(0, &missed);
  ASSERT_EQ(items.size(), kPrintedItemsKept);
  EXPECT_EQ(missed, 500u);
  EXPECT_EQ(items.front().id, 501u);
  EXPECT_EQ(items.back().id, total);
  items = m.printedSince(total - 3, &missed);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(missed, 0u);
  EXPECT_EQ(items.front().id, total - 2);
  EXPECT_EQ(items.front().kind, PrintKind::Cut);
  EXPECT_TRUE(m.printedSince(total).empty());
}

}  // namespace
}  // namespace km4410r::sim
