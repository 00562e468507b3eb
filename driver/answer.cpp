// Judging an answer: checksum, status bytes to error flags, translation,
// per-command corrections, splitting into fields; and the command names.
#include <string.h>

#include "driver/cp1251.h"
#include "driver/flags.h"
#include "driver/link_internal.h"

namespace {

RetData gRetData{};

const char* const kInvalidCommand = CP1251(u8"Неверная команда");

// Names of the commands 0x21..0x77; null where a code has none.
const char* const kCommandNames[0x77 - 0x21 + 1] = {
    CP1251(u8"Очистка дисплея"),                                    // 0x21
    nullptr,                                                         // 0x22
    CP1251(u8"Дисплей - нижний ряд"),                               // 0x23
    nullptr,                                                         // 0x24
    nullptr,                                                         // 0x25
    CP1251(u8"Открыть нефискальный чек"),                           // 0x26
    CP1251(u8"Закрыть нефискальный чек"),                           // 0x27
    nullptr,                                                         // 0x28
    nullptr,                                                         // 0x29
    CP1251(u8"Печать нефискального текста"),                        // 0x2A
    CP1251(u8"Установить Header, Footer и опции печати"),           // 0x2B
    CP1251(u8"Пропустить строки на принтере"),                      // 0x2C
    CP1251(u8"Отрезать чек"),                                       // 0x2D
    nullptr,                                                         // 0x2E
    CP1251(u8"Дисплей - верхний ряд"),                              // 0x2F
    CP1251(u8"Открыть фискальный чек"),                             // 0x30
    nullptr,                                                         // 0x31
    CP1251(u8"Печать налоговых ставок за период"),                  // 0x32
    CP1251(u8"Подсумма"),                                           // 0x33
    CP1251(u8"Регистрация продажи  и вывод на дисплей"),            // 0x34
    CP1251(u8"Общая сумма чека (Total)"),                           // 0x35
    CP1251(u8"Печать строк в фискальном чеке"),                     // 0x36
    nullptr,                                                         // 0x37
    CP1251(u8"Закрыть фискальный чек"),                             // 0x38
    CP1251(u8"Аннулировать чек"),                                   // 0x39
    CP1251(u8"Регистрация продажи"),                                // 0x3A
    nullptr,                                                         // 0x3B
    nullptr,                                                         // 0x3C
    CP1251(u8"Установить дату и время"),                            // 0x3D
    CP1251(u8"Получить дату и время"),                              // 0x3E
    CP1251(u8"Вывести дату и время на дисплее"),                    // 0x3F
    CP1251(u8"Информация о последнем Z-отчете"),                    // 0x40
    CP1251(u8"Суммы за день"),                                      // 0x41
    nullptr,                                                         // 0x42
    CP1251(u8"Суммы коррекций за день"),                            // 0x43
    CP1251(u8"Размер фискальной памяти"),                           // 0x44
    CP1251(u8"X- или Z- отчет"),                                    // 0x45
    CP1251(u8"Служебный внос/вынос суммы"),                         // 0x46
    CP1251(u8"Печать диагностической информации"),                  // 0x47
    CP1251(u8"Фискализация"),                                       // 0x48
    CP1251(u8"Полный периодический отчет по номеру"),               // 0x49
    CP1251(u8"Получить состояние регистратора"),                    // 0x4A
    nullptr,                                                         // 0x4B
    CP1251(u8"Состояние фискальной транзакции"),                    // 0x4C
    nullptr,                                                         // 0x4D
    nullptr,                                                         // 0x4E
    CP1251(u8"Сокращенный периодический отчет (по дате)"),          // 0x4F
    CP1251(u8"Звуковой сигнал"),                                    // 0x50
    nullptr,                                                         // 0x51
    nullptr,                                                         // 0x52
    CP1251(u8"Установить множитель, запятую, валюту и количество групп налогов"),  // 0x53
    CP1251(u8"Режим продаж"),                                       // 0x54
    CP1251(u8"Открыть чек возврата"),                               // 0x55
    nullptr,                                                         // 0x56
    nullptr,                                                         // 0x57
    nullptr,                                                         // 0x58
    CP1251(u8"Программирование тестовой области"),                  // 0x59
    CP1251(u8"Запрос диагностической информации"),                  // 0x5A
    CP1251(u8"Установить заводской номер"),                         // 0x5B
    CP1251(u8"Установить фискальный номер"),                        // 0x5C
    nullptr,                                                         // 0x5D
    CP1251(u8"Полный периодический отчет по дате"),                 // 0x5E
    CP1251(u8"Сокращенный периодический отчет по номеру"),          // 0x5F
    nullptr,                                                         // 0x60
    CP1251(u8"Ставки налогов"),                                     // 0x61
    CP1251(u8"Установить налоговый или иденификационный номер"),    // 0x62
    CP1251(u8"Прочитать налоговый или иденификационный номер"),     // 0x63
    CP1251(u8"Управление дисплеем"),                                // 0x64
    CP1251(u8"Задать пароль оператора"),                            // 0x65
    CP1251(u8"Задать имя оператора"),                               // 0x66
    CP1251(u8"Информация о текущем чеке"),                          // 0x67
    CP1251(u8"Обнулить данные оператора"),                          // 0x68
    CP1251(u8"Отчет оператора"),                                    // 0x69
    CP1251(u8"Открыть денежный ящик"),                              // 0x6A
    CP1251(u8"Программирование артикулов и получение информации о них"),  // 0x6B
    nullptr,                                                         // 0x6C
    CP1251(u8"Печать копии чека"),                                  // 0x6D
    CP1251(u8"Дополнительная информация по типам оплаты"),          // 0x6E
    CP1251(u8"Отчет товаров"),                                      // 0x6F
    CP1251(u8"Информация об операторе"),                            // 0x70
    CP1251(u8"Номер последнего чека"),                              // 0x71
    CP1251(u8"Получение информации из фискальной памяти"),          // 0x72
    CP1251(u8"Загрузка логотипа"),                                  // 0x73
    nullptr,                                                         // 0x74
    nullptr,                                                         // 0x75
    CP1251(u8"Пароль администратора"),                              // 0x76
    CP1251(u8"Обнулить операторские пароли"),                       // 0x77
};

// Inserts a comma after the first character of the answer data.
void InsertCommaAfterFirst(char* data, size_t length) {
  memmove(data + 2, data + 1, length);  // moves the rest and the terminating zero
  data[1] = ',';
}

}  // namespace

RetData& DriverRetData() { return gRetData; }

const char* GetCommandName(int command) {
  if (command < 0x21 || command > 0x77) return kInvalidCommand;
  const char* name = kCommandNames[command - 0x21];
  return name ? name : kInvalidCommand;
}

namespace km_driver {

void FinishAnswer() {
  LinkState& s = gLink;
  RetData& rd = gRetData;
  const bool complete = s.ready != 0;

  if (complete && s.sum != s.receivedChecksum) s.linkErrors |= kLinkChecksum;

  for (int i = 0; i < 6; ++i) rd.StatusBytes[i] = static_cast<uint8_t>(s.rx.status[i] & 0x7F);

  uint32_t flags = 0;
  if (!complete) {
    flags = kFlagTimeout;
  } else if (s.linkErrors & kLinkNak) {
    flags = kFlagNak;
  } else if (s.linkErrors & kLinkChecksum) {
    flags = kFlagChecksum;
  } else {
    // Each flag's status bit, tested on its own; all that are set count.
    for (const FlagInfo& f : kFlagTable)
      if (f.statusByte >= 0 && (s.rx.status[f.statusByte] & f.statusBit)) flags |= f.flag;
  }

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

  size_t length = strlen(data);
  if (length > 1) {
    switch (s.lastCommand) {
      case 0x32:
      case 0x35:
        InsertCommaAfterFirst(data, length);
        length++;
        break;
      case 0x3E:
        if (length > 8) data[8] = ',';
        break;
      case 0x5A:
        for (size_t i = 0; i < 20 && i < length; ++i)
          if (data[i] == ' ') data[i] = ',';
        break;
      default:
        break;
    }
  }

  rd.ErrorFlags = flags;
  rd.CommandName = GetCommandName(s.lastCommand);
  rd.SentData = s.sentData;
  rd.AnswerText = s.answerText;

  if (length == 0) {
    rd.FieldCount = 0;
    return;
  }
  // Split at commas; the 20th field takes the rest of the text.
  int count = 1;
  rd.Fields[0] = data;
  for (char* p = data; *p && count < 20; ++p) {
    if (*p == ',') {
      *p = 0;
      rd.Fields[count++] = p + 1;
    }
  }
  rd.FieldCount = count;
}

}  // namespace km_driver

bool ParseDiagnosticInfo(const RetData& answer, DiagnosticInfo* out) {
  const bool diagnostic = answer.Command == 0x5A;
  const int count = diagnostic ? answer.FieldCount : 0;
  const auto field = [&answer, count](int i) -> const char* {
    return i < count && i < 20 && answer.Fields[i] ? answer.Fields[i] : "";
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
