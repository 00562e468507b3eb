// Result handlers: which answers count as errors, which message each shows,
// which window they write to; and the CP1251 boundary of the windows.
#include "base/cp1251text.h"
#include "tests/app/harness.h"

using namespace km::test;

namespace {

// The error flags with a message, in the order the handlers test them.
const std::vector<std::pair<uint32_t, QString>> kOrder = {
    {0x00000001, "Синтаксическая ошибка"},
    {0x00000002, "Неверная команда"},
    {0x00000004, "Дата и время неверны"},
    {0x00000008, "Ошибка печати"},
    {0x00000010, "Арифметическое переполнение"},
    {0x00000020, "Команда не разрешена"},
    {0x00000040, "Обнуление ОЗУ"},
    {0x00000100, "Обнуление ОЗУ"},
    {0x00000200, "Нет бумаги"},
    {0x00002000, "Не модуля фиск. памяти"},
    {0x00100000, "В фиск. памяти мало места"},
    {0x00010000, "Ошибка записи в фиск. память"},
    {0x00020000, "Фиск. память переполнена"},
    {0x00040000, "Запись в фиск. память запрещена"},
    {0x00080000, "Ошибка последнего Z-отчета"},
    {0x01000000, "Ошибка протокола"},
    {0x02000000, "Ошибка приема команды"},
    {0x04000000, "Таймаут"},
    {0x08000000, "Общая ошибка"},
    {0x10000000, "Общая ошибка фиск. памяти"},
};

// Flags that describe the register's state and are never errors.
constexpr uint32_t kStateFlags = 0x00000080 | 0x00000400 | 0x00000800 | 0x00001000 |
                                 0x00004000 | 0x00008000 | 0x00200000 | 0x00400000 |
                                 0x00800000;

RetData answer(uint32_t flags, int command = 0x4A) {
  static const char* fields[20] = {"a", "b"};
  RetData d{};
  d.FieldCount = 2;
  d.Command = command;
  d.ErrorFlags = flags;
  d.AnswerText = "a,b";
  for (int i = 0; i < 20; ++i) d.Fields[i] = fields[i];
  d.StatusBytes[2] = 0x08;
  return d;
}

}  // namespace

class TestHandlers : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void firstErrorInOrderDecidesTheMessage();
  void stateFlagsAreNoErrors();
  void everyHandlerCopiesAndCounts_data();
  void everyHandlerCopiesAndCounts();
  void countsAddUpUntilReset();
  void dialogHandlerLeavesMainWindowAlone();
  void textsCrossTheBoundaryAsCp1251();
};

void TestHandlers::firstErrorInOrderDecidesTheMessage() {
  // With every error flag from position i on set, the message is the one of
  // position i: the order is exactly the documented one.
  for (size_t i = 0; i < kOrder.size(); ++i) {
    uint32_t flags = kStateFlags;
    for (size_t j = i; j < kOrder.size(); ++j) flags |= kOrder[j].first;
    QCOMPARE(FirstErrorMessage(flags), kOrder[i].second);
    QCOMPARE(FirstErrorMessage(kOrder[i].first), kOrder[i].second);
  }
  // The named pairs: syntax with general error, both RAM flags, little room
  // before the write error.
  QCOMPARE(FirstErrorMessage(0x00000001 | 0x08000000), QString("Синтаксическая ошибка"));
  QCOMPARE(FirstErrorMessage(0x00000040 | 0x00000100), QString("Обнуление ОЗУ"));
  QCOMPARE(FirstErrorMessage(0x00100000 | 0x00010000), QString("В фиск. памяти мало места"));
}

void TestHandlers::stateFlagsAreNoErrors() {
  Session s({.simulator = false});
  for (uint32_t flag = 1; flag; flag <<= 1) {
    if (!(kStateFlags & flag)) continue;
    RetData d = answer(flag);
    PrinterResults(d);
  }
  RetData all = answer(kStateFlags);
  PrinterResults(all);
  QCOMPARE(s.state().ErrorCounter, 0);
  QVERIFY(s.ui.messages.isEmpty());
  QCOMPARE(s.state().LastAnswer.ErrorFlags, kStateFlags);
}

void TestHandlers::everyHandlerCopiesAndCounts_data() {
  QTest::addColumn<int>("handler");  // 0 PrinterResults, 1 x, 2 y
  QTest::addColumn<uint32_t>("flags");
  QTest::addColumn<QString>("message");  // empty: none shown
  const uint32_t timeout = 0x04000000, receipt = 0x00000400;
  for (int h = 0; h < 3; ++h) {
    const char* name = h == 0 ? "PrinterResults" : h == 1 ? "PrinterResultsx" : "PrinterResultsy";
    const QString shownText = h == 2 ? QString() : QStringLiteral("Таймаут");
    QTest::addRow("%s timeout", name) << h << timeout << shownText;
    QTest::addRow("%s receipt open", name) << h << receipt << QString();
  }
}

void TestHandlers::everyHandlerCopiesAndCounts() {
  QFETCH(int, handler);
  QFETCH(uint32_t, flags);
  QFETCH(QString, message);
  Session s({.simulator = false});
  ResultHandler handlers[] = {PrinterResults, PrinterResultsx, PrinterResultsy};
  // The message box is open while the last answer is already stored.
  uint32_t seenWhileOpen = 0;
  s.ui.onMessage = [&](const QString&) { seenWhileOpen = MainWindowProbe(*Form1).LastAnswer.ErrorFlags; };
  RetData d = answer(flags, 0x5A);
  handlers[handler](d);

  const bool error = flags & 0x04000000;
  QCOMPARE(s.state().ErrorCounter, error ? 1 : 0);
  QCOMPARE(s.ui.messages, message.isEmpty() ? QStringList() : QStringList{message});
  if (!message.isEmpty()) QCOMPARE(seenWhileOpen, flags);
  const RetData& last = s.state().LastAnswer;
  QCOMPARE(last.Command, 0x5A);
  QCOMPARE(last.ErrorFlags, flags);
  QCOMPARE(last.FieldCount, 2);
  QCOMPARE(last.Fields[1], d.Fields[1]);  // a plain copy: same pointers
  QCOMPARE(last.StatusBytes[2], uint8_t(0x08));
}

void TestHandlers::countsAddUpUntilReset() {
  Session s({.simulator = false});
  RetData nak = answer(0x02000000), ok = answer(0);
  PrinterResults(nak);
  PrinterResultsx(ok);
  PrinterResultsy(nak);
  QCOMPARE(s.state().ErrorCounter, 2);
  QCOMPARE(s.ui.messages, QStringList{"Ошибка приема команды"});
}

void TestHandlers::dialogHandlerLeavesMainWindowAlone() {
  Session s({.simulator = false});
  RetData mine = answer(0, 0x4A);
  PrinterResults(mine);
  s.state().ErrorCounter = 3;

  RetData theirs = answer(0x00000200, 0x5A);
  PrinterResults3(theirs);
  QCOMPARE(Form4->ErrorCounter, 1);
  QCOMPARE(Form4->LastAnswer.Command, 0x5A);
  QCOMPARE(s.ui.messages, QStringList{"Нет бумаги"});
  QCOMPARE(s.state().ErrorCounter, 3);
  QCOMPARE(s.state().LastAnswer.Command, 0x4A);
  QCOMPARE(s.state().LastAnswer.ErrorFlags, 0u);
}

void TestHandlers::textsCrossTheBoundaryAsCp1251() {
  const QString cyrillic = QStringLiteral("АЯая ЁёЄєЇїІіҐґ №");
  const QByteArray bytes = toCp1251(cyrillic);
  QCOMPARE(bytes, QByteArray("\xC0\xDF\xE0\xFF \xA8\xB8\xAA\xBA\xAF\xBF\xB2\xB3\xA5\xB4 \xB9"));
  QCOMPARE(fromCp1251(bytes.constData()), cyrillic);
  // Characters CP1251 lacks become '?', one for each, whatever their width.
  QCOMPARE(toCp1251(QStringLiteral("aλ日😀b")), QByteArray("a???b"));
  QCOMPARE(toCp1251(QString()), QByteArray());
  QCOMPARE(fromCp1251(nullptr), QString());
  QCOMPARE(fromCp1251("12.50"), QStringLiteral("12.50"));
}

KM_WINDOW_TEST_MAIN(TestHandlers)
#include "test_handlers.moc"
