// The page "Общая информация": filled by the page change from the register's
// diagnostic answer, tax number and tax rates; the receipt state check
// boxes; a failing request stops the filling; short answers; other pages
// send nothing.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "base/cp1251text.h"
#include "tests/app/harness.h"

using namespace km::test;

namespace {

constexpr int kInfoPage = 3;
const QString kInfoError = QStringLiteral("Ошибка получения информации");

// Edit12, Edit13, Edit14, Edit15, Edit16, Edit8.
QStringList edits(Session& s) {
  Ui::TabSheet4& t = s.main().tab4;
  return {shown(t.Edit12), shown(t.Edit13), shown(t.Edit14),
          shown(t.Edit15), shown(t.Edit16), shown(t.Edit8)};
}

// CheckBox2..5 as "1"/"0".
QString boxes(Session& s) {
  Ui::TabSheet4& t = s.main().tab4;
  QString out;
  for (QCheckBox* b : {t.CheckBox2, t.CheckBox3, t.CheckBox4, t.CheckBox5}) out += b->isChecked() ? '1' : '0';
  return out;
}

// Brings the info page to the front from the first page.
void visit(Session& s) {
  PageControl* pages = s.form().PageControl1;
  if (pages->currentIndex() == kInfoPage) clickTab(pages, 0);
  forget(s);
  clickTab(pages, kInfoPage);
}

const QStringList kDefaultEdits = {"VT00012345", "3000123456", "ПН123456789012",
                                   "1.04",       "20.00,0.00,0.00,0.00", "00101100"};

}  // namespace

class TestInfopage : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void pageAtStart();
  void fillsOnEveryVisit();
  void taxNumberKind_data();
  void taxNumberKind();
  void receiptStateBoxes_data();
  void receiptStateBoxes();
  void failingRequestStopsTheFilling_data();
  void failingRequestStopsTheFilling();
  void silentRegister();
  void shortAnswersLeaveFieldsEmpty();
  void otherPagesSendNothing();
};

void TestInfopage::pageAtStart() {
  Session s;
  Ui::TabSheet4& t = s.main().tab4;
  const QList<std::pair<QLineEdit*, QString>> labelled = {
      {t.Edit12, "Заводской номер:"}, {t.Edit13, "Фискальный номер:"}, {t.Edit14, "Налоговый номер:"},
      {t.Edit15, "Версия ПО:"},       {t.Edit16, "Налоговые ставки:"}, {t.Edit8, "Переключатели:"}};
  for (const auto& [edit, caption] : labelled) {
    auto* label = s.main().TabSheet(4)->findChild<QLabel*>("Label" + edit->objectName());
    QVERIFY2(label, qPrintable(edit->objectName()));
    QCOMPARE(label->text(), caption);
    QCOMPARE(label->buddy(), edit);
    QVERIFY2(!edit->isEnabled(), qPrintable(edit->objectName()));
    QCOMPARE(edit->text(), QString());
  }
  const QList<std::pair<QCheckBox*, QString>> boxCaptions = {
      {t.CheckBox2, "Фискализирован"}, {t.CheckBox3, "Открыт фискальный чек"},
      {t.CheckBox4, "Открыт чек возврата"}, {t.CheckBox5, "Открыт нефискальный чек"}};
  for (const auto& [box, caption] : boxCaptions) {
    QCOMPARE(box->text(), caption);
    QVERIFY(!box->isEnabled());
    QVERIFY(!box->isChecked());
  }
  QCOMPARE(shown(t.Label26), QString("         "));
  QCOMPARE(t.Label26->font().pixelSize(), 15);
  QCOMPARE(t.Label26->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  QVERIFY(!t.Label26->accessibleDescription().isEmpty());
  QCOMPARE(s.main().TabSheet(4)->windowTitle(), QString("Общая информация"));
}

void TestInfopage::fillsOnEveryVisit() {
  Session s;
  QVERIFY(s.connect());
  Ui::TabSheet4& t = s.main().tab4;
  // The progress text while the register is asked: seen in a box shown
  // from inside the exchange.
  QStringList progress;
  s.ui.onMessage = [&](const QString&) { progress << shown(t.Label26); };

  visit(s);
  QCOMPARE(sent(s), (QStringList{"5A[1]", "63[]", "61[]"}));
  QCOMPARE(edits(s), kDefaultEdits);
  QCOMPARE(boxes(s), QString("1000"));  // fiscalized, no receipt open
  QCOMPARE(shown(t.Label26), QString());
  QVERIFY(s.ui.messages.isEmpty());

  // Every visit asks again and shows what the register says now.
  s.model([](km4410r::sim::RegisterModel& m) {
    m.setSerialNumber("VT00099999");
    m.setFiscalNumber("3000777777");
    m.setFirmware("2.10", "01-06-26", "08:00");
    m.setSwitches("11101111");  // still untranslated texts: 1011 in Sw3..Sw6
    m.setTaxRates({1500, 700, 0, 2500}, "1011");
  });
  visit(s);
  QCOMPARE(sent(s), (QStringList{"5A[1]", "63[]", "61[]"}));
  QCOMPARE(edits(s), (QStringList{"VT00099999", "3000777777", "ПН123456789012", "2.10",
                                  "15.00,7.00,0.00,25.00", "11101111"}));

  // Leaving the page sends nothing and keeps what it shows.
  clickTab(s.form().PageControl1, 0);
  QCOMPARE(sent(s), (QStringList{"5A[1]", "63[]", "61[]"}));
  QCOMPARE(shown(t.Edit12), QString("VT00099999"));

  // A failure mid-way: the progress text is up while the boxes show.
  s.simulator->injectFault({.fault = Fault::Refuse, .onlyCommand = 0x61});
  visit(s);
  QCOMPARE(s.ui.messages, (QStringList{"Команда не разрешена", kInfoError}));
  QCOMPARE(progress, (QStringList{"Ждите !!!", "Ждите !!!"}));
  QCOMPARE(shown(t.Label26), QString());
}

void TestInfopage::taxNumberKind_data() {
  QTest::addColumn<QString>("number");
  QTest::addColumn<char>("kind");
  QTest::addColumn<QString>("expected");
  QTest::newRow("tax payer") << "123456789012" << '0' << "ПН123456789012";
  QTest::newRow("identification") << "1234567890" << '1' << "IД1234567890";
}

void TestInfopage::taxNumberKind() {
  QFETCH(QString, number);
  QFETCH(char, kind);
  QFETCH(QString, expected);
  Session s;
  QVERIFY(s.connect());
  s.model([&](km4410r::sim::RegisterModel& m) { m.setTaxNumber(number.toStdString(), kind); });
  visit(s);
  QCOMPARE(shown(s.main().tab4.Edit14), expected);
  // A Latin I and a Cyrillic Д, no blank before the number.
  if (expected.startsWith("I")) QCOMPARE(expected.left(2).toUtf8(), QByteArray("I\xD0\x94"));
}

void TestInfopage::receiptStateBoxes_data() {
  // Extra bits of status bytes 1 and 2 and the fiscal-memory byte 5;
  // CheckBox2..5 (fiscalized, sale receipt, refund receipt, non-fiscal).
  QTest::addColumn<int>("s1");
  QTest::addColumn<int>("s2");
  QTest::addColumn<int>("s5");
  QTest::addColumn<QString>("expected");
  QTest::newRow("none open") << 0 << 0 << 0x3A << "1000";
  QTest::newRow("sale receipt") << 0 << 0x08 << 0x3A << "1100";
  QTest::newRow("refund receipt") << 0x08 << 0x08 << 0x3A << "1010";
  QTest::newRow("refund bit without receipt") << 0x08 << 0 << 0x3A << "1000";
  QTest::newRow("non-fiscal receipt") << 0 << 0x20 << 0x3A << "1001";
  QTest::newRow("not fiscalized") << 0 << 0 << 0x32 << "0000";
}

void TestInfopage::receiptStateBoxes() {
  QFETCH(int, s1);
  QFETCH(int, s2);
  QFETCH(int, s5);
  QFETCH(QString, expected);
  Session s;
  QVERIFY(s.connect());
  // Ticked from an earlier visit, so that a clear box is seen to clear.
  for (QCheckBox* b : {s.main().tab4.CheckBox2, s.main().tab4.CheckBox3, s.main().tab4.CheckBox4,
                       s.main().tab4.CheckBox5})
    b->setChecked(true);
  s.model([&](km4410r::sim::RegisterModel& m) {
    m.setExtraStatus(1, uint8_t(s1));
    m.setExtraStatus(2, uint8_t(s2));
    m.setFiscalMemoryStatus(0, uint8_t(s5));
  });
  visit(s);
  QVERIFY(s.ui.messages.isEmpty());  // state bits are no errors
  QCOMPARE(boxes(s), expected);
}

void TestInfopage::failingRequestStopsTheFilling_data() {
  QTest::addColumn<int>("command");
  QTest::addColumn<QStringList>("frames");
  QTest::addColumn<QStringList>("edits");
  QTest::addColumn<QString>("boxes");
  // What the page shows from an earlier visit.
  const QStringList old = {"old12", "old13", "old14", "old15", "old16", "old8"};
  QTest::newRow("0x5A") << 0x5A << QStringList{"5A[1]"} << old << "0110";
  QTest::newRow("0x63") << 0x63 << QStringList{"5A[1]", "63[]"}
                        << QStringList{"VT00012345", "3000123456", "old14", "1.04", "old16", "00101100"}
                        << "0110";
  QTest::newRow("0x61") << 0x61 << QStringList{"5A[1]", "63[]", "61[]"}
                        << QStringList{"VT00012345", "3000123456", "ПН123456789012", "1.04", "old16",
                                       "00101100"}
                        << "0110";
}

void TestInfopage::failingRequestStopsTheFilling() {
  QFETCH(int, command);
  QFETCH(QStringList, frames);
  QFETCH(QStringList, edits);
  QFETCH(QString, boxes);
  Session s;
  QVERIFY(s.connect());
  Ui::TabSheet4& t = s.main().tab4;
  const QStringList old = {"old12", "old13", "old14", "old15", "old16", "old8"};
  QLineEdit* const all[] = {t.Edit12, t.Edit13, t.Edit14, t.Edit15, t.Edit16, t.Edit8};
  for (int i = 0; i < 6; ++i) all[i]->setText(old[i]);
  t.CheckBox3->setChecked(true);
  t.CheckBox4->setChecked(true);

  s.simulator->injectFault({.fault = Fault::Refuse, .onlyCommand = command});
  visit(s);
  QCOMPARE(sent(s), frames);
  QCOMPARE(s.ui.messages, (QStringList{"Команда не разрешена", kInfoError}));
  QCOMPARE(::edits(s), edits);
  QCOMPARE(::boxes(s), boxes);
  QCOMPARE(shown(t.Label26), QString());
}

void TestInfopage::silentRegister() {
  Session s({.silenceReads = 1});
  QVERIFY(s.connect());
  s.simulator->injectFault({.fault = Fault::Silence, .count = -1});
  visit(s);
  QCOMPARE(sent(s), QStringList{"5A[1]"});
  QCOMPARE(s.ui.messages, (QStringList{"Таймаут", kInfoError}));
  QCOMPARE(edits(s), QStringList(6, QString()));
  s.simulator->clearFaults();
  visit(s);
  QCOMPARE(edits(s), kDefaultEdits);
  QVERIFY(s.ui.messages.isEmpty());
}

void TestInfopage::shortAnswersLeaveFieldsEmpty() {
  Session s;
  QVERIFY(s.connect());
  // Filled once in full, then the register answers short.
  visit(s);
  QCOMPARE(edits(s), kDefaultEdits);
  s.model([](km4410r::sim::RegisterModel& m) {
    m.setInformationAnswer(0x5A, "1.05 12-03-25 10:15,5A3F,00101100");  // fields 0..4
    m.setInformationAnswer(0x63, "123456789012");                       // no kind
  });
  visit(s);
  QCOMPARE(sent(s), (QStringList{"5A[1]", "63[]", "61[]"}));
  QVERIFY(s.ui.messages.isEmpty());
  QCOMPARE(edits(s), (QStringList{"", "", "", "1.05", "20.00,0.00,0.00,0.00", "00101100"}));

  // Nothing at all: every field empty, the page goes on to the end.
  s.model([](km4410r::sim::RegisterModel& m) {
    m.setInformationAnswer(0x5A, "");
    m.setInformationAnswer(0x63, "");
    m.setInformationAnswer(0x61, "");
  });
  visit(s);
  QCOMPARE(sent(s), (QStringList{"5A[1]", "63[]", "61[]"}));
  QCOMPARE(edits(s), QStringList(6, QString()));
  QCOMPARE(boxes(s), QString("1000"));
  QVERIFY(s.ui.messages.isEmpty());
}

void TestInfopage::otherPagesSendNothing() {
  Session s;
  QVERIFY(s.connect());
  PageControl* pages = s.form().PageControl1;
  auto* cash = Form1->findChild<QComboBox*>("ComboBox6");
  QVERIFY(cash);
  s.clearFrames();
  for (int page : {1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 0}) {
    cash->setCurrentIndex(1);
    pages->setCurrentIndex(page);
    QCOMPARE(pages->currentIndex(), page);
    // The service cash choice is back at "cash in" after every change.
    QCOMPARE(cash->currentIndex(), 0);
    QCOMPARE(cash->currentText(), QString("Служебный внос"));
  }
  // None of the page's requests went out (other pages may ask their own).
  for (const auto& f : s.frames())
    QVERIFY2(f.cmd != 0x5A && f.cmd != 0x63 && f.cmd != 0x61, qPrintable(QString::number(f.cmd, 16)));
  QCOMPARE(s.main().tab4.Edit12->text(), QString());
}

KM_WINDOW_TEST_MAIN(TestInfopage)
#include "test_infopage.moc"
