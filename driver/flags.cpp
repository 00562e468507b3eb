#include "driver/flags.h"

// clang-format off
const FlagInfo kFlagTable[kFlagCount] = {
    {kFlagSyntax,            "syntax_error",              "Синтаксическая ошибка",          "Синтаксическая ошибка",          0, 0x01},
    {kFlagBadCommand,        "invalid_command",           "Неверная команда",               "Неверная команда",               0, 0x02},
    {kFlagDateTime,          "date_time_invalid",         "Дата и время неверны",           "Дата и время неверны",           0, 0x04},
    {kFlagPrinter,           "print_error",               "Ошибка печати",                  "Ошибка печати",                  0, 0x10},
    {kFlagOverflow,          "arithmetic_overflow",       "Арифметическое переполнение",    "Арифметическое переполнение",    1, 0x01},
    {kFlagNotAllowed,        "command_not_allowed",       "Команда не разрешена",           "Команда не разрешена",           1, 0x02},
    {kFlagRamReset,          "ram_reset",                 "Обнуление ОЗУ",                  "Обнуление ОЗУ",                  1, 0x04},
    {kFlagReturnReceipt,     "return_receipt",            nullptr,                          "чек возврата",                   1, 0x08},
    {kFlagRamDestroyed,      "ram_destroyed",             "Обнуление ОЗУ",                  "Обнуление ОЗУ",                  1, 0x10},
    {kFlagNoPaper,           "no_paper",                  "Нет бумаги",                     "Нет бумаги",                     2, 0x01},
    {kFlagFiscalOpen,        "fiscal_receipt_open",       nullptr,                          "фиск. чек",                      2, 0x08},
    {kFlagNonFiscalOpen,     "non_fiscal_receipt_open",   nullptr,                          "нефиск. чек",                    2, 0x20},
    {kFlagCoverOpen,         "cover_open",                nullptr,                          "крышка открыта",                 1, 0x20},
    {kFlagNoFiscalModule,    "no_fiscal_memory_module",   "Не модуля фиск. памяти",         "Не модуля фиск. памяти",         4, 0x04},
    {kFlagNumbersProgrammed, "numbers_programmed",        nullptr,                          "номера заданы",                  5, 0x20},
    {kFlagFmWriteError,      "fiscal_memory_write_error", "Ошибка записи в фиск. память",   "Ошибка записи в фиск. память",   4, 0x01},
    {kFlagFmFull,            "fiscal_memory_full",        "Фиск. память переполнена",       "Фиск. память переполнена",       4, 0x10},
    {kFlagFmReadOnly,        "fiscal_memory_read_only",   "Запись в фиск. память запрещена", "Запись в фиск. память запрещена", 5, 0x01},
    {kFlagLastZError,        "last_z_report_error",       "Ошибка последнего Z-отчета",     "Ошибка последнего Z-отчета",     5, 0x04},
    // Reported like any error, but no status bit sets it.
    {kFlagFmLittleRoom,      "fiscal_memory_little_room", "В фиск. памяти мало места",      "В фиск. памяти мало места",      -1, 0},
    {kFlagFmFormatted,       "fiscal_memory_formatted",   nullptr,                          "ФП сформ.",                      5, 0x02},
    {kFlagFiscalized,        "fiscalized",                nullptr,                          "фискализирован",                 5, 0x08},
    {kFlagTaxRatesDefined,   "tax_rates_defined",         nullptr,                          "ставки заданы",                  5, 0x10},
    {kFlagChecksum,          "checksum_error",            "Ошибка протокола",               "Ошибка протокола",               -1, 0},
    {kFlagNak,               "refused",                   "Ошибка приема команды",          "Ошибка приема команды",          -1, 0},
    {kFlagTimeout,           "timeout",                   "Таймаут",                        "Таймаут",                        -1, 0},
    {kFlagGeneral,           "general_error",             "Общая ошибка",                   "Общая ошибка",                   0, 0x20},
    {kFlagFmGeneral,         "fiscal_memory_general_error", "Общая ошибка фиск. памяти",    "Общая ошибка фиск. памяти",      4, 0x20},
};
// clang-format on

const uint32_t kErrorReportOrder[kErrorCount] = {
    kFlagSyntax,       kFlagBadCommand,   kFlagDateTime,     kFlagPrinter,    kFlagOverflow,
    kFlagNotAllowed,   kFlagRamReset,     kFlagRamDestroyed, kFlagNoPaper,    kFlagNoFiscalModule,
    kFlagFmLittleRoom, kFlagFmWriteError, kFlagFmFull,       kFlagFmReadOnly, kFlagLastZError,
    kFlagChecksum,     kFlagNak,          kFlagTimeout,      kFlagGeneral,    kFlagFmGeneral,
};

namespace {

const char* const kRefusalMessages[] = {
    nullptr,                                                     // kRefusalNone
    "Команда не отправлена: порт не открыт",                     // kRefusalPortClosed
    "Команда не отправлена: идёт другой обмен с регистратором",  // kRefusalBusy
    "Команда не отправлена: неверные или слишком длинные данные",  // kRefusalBadData
};

}  // namespace

const FlagInfo* FlagInfoOf(uint32_t flag) {
  for (const FlagInfo& f : kFlagTable)
    if (f.flag == flag) return &f;
  return nullptr;
}

const FlagInfo* FirstError(uint32_t flags) {
  for (uint32_t flag : kErrorReportOrder)
    if (flags & flag) return FlagInfoOf(flag);
  return nullptr;
}

const char* RefusalMessage(int refusal) {
  if (refusal < 0 || refusal >= static_cast<int>(sizeof kRefusalMessages / sizeof kRefusalMessages[0]))
    return nullptr;
  return kRefusalMessages[refusal];
}
