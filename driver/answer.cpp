// Judging an answer: checksum, status bytes to error flags, translation,
// per-command corrections, splitting into fields; and the command names.
#include <string.h>

#include <array>

#include "common/cp1251.h"
#include "driver/flags.h"
#include "driver/link_internal.h"

namespace {

RetData gRetData{};

const char* const kInvalidCommand = CP1251(u8"Неверная команда");

// The command names; a code not listed has none.
struct CommandName {
  int code;
  const char* name;
};
constexpr CommandName kCommandNames[] = {
    {kCmdClearDisplay, CP1251(u8"Очистка дисплея")},
    {kCmdDisplayLowerLine, CP1251(u8"Дисплей - нижний ряд")},
    {kCmdOpenNonFiscalReceipt, CP1251(u8"Открыть нефискальный чек")},
    {kCmdCloseNonFiscalReceipt, CP1251(u8"Закрыть нефискальный чек")},
    {kCmdPrintNonFiscalText, CP1251(u8"Печать нефискального текста")},
    {kCmdSetHeaderFooter, CP1251(u8"Установить Header, Footer и опции печати")},
    {kCmdFeedPaper, CP1251(u8"Пропустить строки на принтере")},
    {kCmdCutPaper, CP1251(u8"Отрезать чек")},
    {kCmdDisplayUpperLine, CP1251(u8"Дисплей - верхний ряд")},
    {kCmdOpenFiscalReceipt, CP1251(u8"Открыть фискальный чек")},
    {kCmdPrintTaxRatesForPeriod, CP1251(u8"Печать налоговых ставок за период")},
    {kCmdSubtotal, CP1251(u8"Подсумма")},
    {kCmdRegisterSale, CP1251(u8"Регистрация продажи  и вывод на дисплей")},
    {kCmdReceiptTotal, CP1251(u8"Общая сумма чека (Total)")},
    {kCmdPrintFiscalText, CP1251(u8"Печать строк в фискальном чеке")},
    {kCmdCloseFiscalReceipt, CP1251(u8"Закрыть фискальный чек")},
    {kCmdCancelReceipt, CP1251(u8"Аннулировать чек")},
    {kCmdRegisterSaleNoDisplay, CP1251(u8"Регистрация продажи")},
    {kCmdSetDateTime, CP1251(u8"Установить дату и время")},
    {kCmdGetDateTime, CP1251(u8"Получить дату и время")},
    {kCmdDisplayDateTime, CP1251(u8"Вывести дату и время на дисплее")},
    {kCmdLastZReportInfo, CP1251(u8"Информация о последнем Z-отчете")},
    {kCmdDailyTotals, CP1251(u8"Суммы за день")},
    {kCmdDailyCorrectionTotals, CP1251(u8"Суммы коррекций за день")},
    {kCmdFiscalMemorySize, CP1251(u8"Размер фискальной памяти")},
    {kCmdDailyReport, CP1251(u8"X- или Z- отчет")},
    {kCmdServiceCashInOut, CP1251(u8"Служебный внос/вынос суммы")},
    {kCmdPrintDiagnostics, CP1251(u8"Печать диагностической информации")},
    {kCmdFiscalize, CP1251(u8"Фискализация")},
    {kCmdFullReportByNumber, CP1251(u8"Полный периодический отчет по номеру")},
    {kCmdGetStatus, CP1251(u8"Получить состояние регистратора")},
    {kCmdFiscalTransactionState, CP1251(u8"Состояние фискальной транзакции")},
    {kCmdShortReportByDate, CP1251(u8"Сокращенный периодический отчет (по дате)")},
    {kCmdBeep, CP1251(u8"Звуковой сигнал")},
    {kCmdDecimalsAndTaxRates, CP1251(u8"Установить множитель, запятую, валюту и количество групп налогов")},
    {kCmdSalesMode, CP1251(u8"Режим продаж")},
    {kCmdOpenReturnReceipt, CP1251(u8"Открыть чек возврата")},
    {kCmdProgramTestArea, CP1251(u8"Программирование тестовой области")},
    {kCmdDiagnosticInfo, CP1251(u8"Запрос диагностической информации")},
    {kCmdSetSerialNumber, CP1251(u8"Установить заводской номер")},
    {kCmdSetFiscalNumber, CP1251(u8"Установить фискальный номер")},
    {kCmdFullReportByDate, CP1251(u8"Полный периодический отчет по дате")},
    {kCmdShortReportByNumber, CP1251(u8"Сокращенный периодический отчет по номеру")},
    {kCmdTaxRates, CP1251(u8"Ставки налогов")},
    {kCmdSetTaxNumber, CP1251(u8"Установить налоговый или иденификационный номер")},
    {kCmdGetTaxNumber, CP1251(u8"Прочитать налоговый или иденификационный номер")},
    {kCmdDisplayControl, CP1251(u8"Управление дисплеем")},
    {kCmdSetOperatorPassword, CP1251(u8"Задать пароль оператора")},
    {kCmdSetOperatorName, CP1251(u8"Задать имя оператора")},
    {kCmdCurrentReceiptInfo, CP1251(u8"Информация о текущем чеке")},
    {kCmdClearOperatorData, CP1251(u8"Обнулить данные оператора")},
    {kCmdOperatorReport, CP1251(u8"Отчет оператора")},
    {kCmdOpenCashDrawer, CP1251(u8"Открыть денежный ящик")},
    {kCmdArticles, CP1251(u8"Программирование артикулов и получение информации о них")},
    {kCmdPrintReceiptCopy, CP1251(u8"Печать копии чека")},
    {kCmdPaymentTypesInfo, CP1251(u8"Дополнительная информация по типам оплаты")},
    {kCmdArticleReport, CP1251(u8"Отчет товаров")},
    {kCmdOperatorInfo, CP1251(u8"Информация об операторе")},
    {kCmdLastReceiptNumber, CP1251(u8"Номер последнего чека")},
    {kCmdFiscalMemoryRecords, CP1251(u8"Получение информации из фискальной памяти")},
    {kCmdLoadLogo, CP1251(u8"Загрузка логотипа")},
    {kCmdAdminPassword, CP1251(u8"Пароль администратора")},
    {kCmdResetOperatorPasswords, CP1251(u8"Обнулить операторские пароли")},
};

// The names by code, for a lookup without a search.
constexpr std::array<const char*, 256> IndexByCode() {
  std::array<const char*, 256> byCode{};
  for (const CommandName& c : kCommandNames) byCode[static_cast<size_t>(c.code)] = c.name;
  return byCode;
}
constexpr std::array<const char*, 256> kNameByCode = IndexByCode();

// The diagnostic answer's blanks become commas within its first 20
// characters; later blanks stay.
constexpr size_t kDiagnosticBlankSpan = 20;

// Inserts a comma after the first character of the answer data.
void InsertCommaAfterFirst(char* data, size_t length) {
  memmove(data + 2, data + 1, length);  // moves the rest and the terminating zero
  data[1] = ',';
}

}  // namespace

RetData& DriverRetData() { return gRetData; }

const char* GetCommandName(int command) {
  if (command < 0 || command >= static_cast<int>(kNameByCode.size())) return kInvalidCommand;
  const char* name = kNameByCode[static_cast<size_t>(command)];
  return name ? name : kInvalidCommand;
}

namespace km_driver {

namespace {

// The flags of the answer: the link's verdict, or the status bits.
uint32_t AnswerFlags(const LinkState& s) {
  if (!s.ready) return kFlagTimeout;
  if (s.linkErrors & kLinkNak) return kFlagNak;
  if (s.linkErrors & kLinkChecksum) return kFlagChecksum;
  return StatusFlags(s.rx.status);
}

// The corrections some commands' answers need before they split into
// fields (the buffer has room for one more character).
void CorrectAnswer(int command, char* data) {
  const size_t length = strlen(data);
  if (length <= 1) return;
  switch (command) {
    case kCmdPrintTaxRatesForPeriod:
    case kCmdReceiptTotal:
      InsertCommaAfterFirst(data, length);
      break;
    case kCmdGetDateTime:
      if (length > 8) data[8] = ',';
      break;
    case kCmdDiagnosticInfo:
      for (size_t i = 0; i < kDiagnosticBlankSpan && i < length; ++i)
        if (data[i] == ' ') data[i] = ',';
      break;
    default:
      break;
  }
}

// Splits the data at commas into the fields; the last field takes the rest.
void SplitFields(char* data, RetData& rd) {
  if (data[0] == 0) {
    rd.FieldCount = 0;
    return;
  }
  int count = 1;
  rd.Fields[0] = data;
  for (char* p = data; *p && count < kMaxFields; ++p) {
    if (*p == ',') {
      *p = 0;
      rd.Fields[count++] = p + 1;
    }
  }
  rd.FieldCount = count;
}

}  // namespace

void FinishAnswer() {
  LinkState& s = gLink;
  RetData& rd = gRetData;
  if (s.ready && s.sum != s.receivedChecksum) s.linkErrors |= kLinkChecksum;

  for (int i = 0; i < kStatusByteCount; ++i) rd.StatusBytes[i] = static_cast<uint8_t>(s.rx.status[i] & 0x7F);
  rd.ErrorFlags = AnswerFlags(s);

  // The receive machine keeps the data zero-terminated within its buffer.
  char* data = s.rx.data;
  data[sizeof s.rx.data - 3] = 0;
  if (!s.noTranslation) {
    for (char* p = data; *p; ++p) *p = static_cast<char>(kRegisterToHost[static_cast<uint8_t>(*p)]);
  }

  // Only the first 128 characters reach AnswerText; the bytes after them stay zero.
  for (size_t i = 0; i < 128; ++i) {
    s.answerText[i] = data[i];
    if (data[i] == 0) break;
  }

  CorrectAnswer(s.lastCommand, data);
  rd.CommandName = GetCommandName(s.lastCommand);
  rd.SentData = s.sentData;
  rd.AnswerText = s.answerText;
  SplitFields(data, rd);
}

}  // namespace km_driver

bool ParseDiagnosticInfo(const RetData& answer, DiagnosticInfo* out) {
  const bool diagnostic = answer.Command == kCmdDiagnosticInfo;
  const int count = diagnostic ? answer.FieldCount : 0;
  const auto field = [&answer, count](int i) -> const char* {
    return i < count && i < kMaxFields && answer.Fields[i] ? answer.Fields[i] : "";
  };
  if (out) {
    out->firmware = field(0);
    out->firmwareDate = field(1);
    out->firmwareTime = field(2);
    out->switches = field(4);
    out->serialNumber = field(6);
    out->fiscalNumber = field(7);
  }
  return diagnostic && count >= 8;
}
