#include "driver/flags.h"

#include <bit>

// clang-format off
const FlagInfo kFlagTable[kFlagCount] = {
    {kFlagSyntax,            "syntax_error",                "Синтаксическая ошибка", nullptr},
    {kFlagBadCommand,        "invalid_command",             "Неверная команда", nullptr},
    {kFlagDateTime,          "date_time_invalid",           "Дата и время неверны", nullptr},
    {kFlagPrinter,           "print_error",                 "Ошибка печати", nullptr},
    {kFlagOverflow,          "arithmetic_overflow",         "Арифметическое переполнение", nullptr},
    {kFlagNotAllowed,        "command_not_allowed",         "Команда не разрешена", nullptr},
    {kFlagRamReset,          "ram_reset",                   "Обнуление ОЗУ", nullptr},
    {kFlagReturnReceipt,     "return_receipt",              nullptr, "чек возврата"},
    {kFlagRamDestroyed,      "ram_destroyed",               "Обнуление ОЗУ", nullptr},
    {kFlagNoPaper,           "no_paper",                    "Нет бумаги", nullptr},
    {kFlagFiscalOpen,        "fiscal_receipt_open",         nullptr, "фиск. чек"},
    {kFlagNonFiscalOpen,     "non_fiscal_receipt_open",     nullptr, "нефиск. чек"},
    {kFlagCoverOpen,         "cover_open",                  nullptr, "крышка открыта"},
    {kFlagNoFiscalModule,    "no_fiscal_memory_module",     "Не модуля фиск. памяти", nullptr},
    {kFlagNumbersProgrammed, "numbers_programmed",          nullptr, "номера заданы"},
    {kFlagFmWriteError,      "fiscal_memory_write_error",   "Ошибка записи в фиск. память", nullptr},
    {kFlagFmFull,            "fiscal_memory_full",          "Фиск. память переполнена", nullptr},
    {kFlagFmReadOnly,        "fiscal_memory_read_only",     "Запись в фиск. память запрещена", nullptr},
    {kFlagLastZError,        "last_z_report_error",         "Ошибка последнего Z-отчета", nullptr},
    {kFlagFmLittleRoom,      "fiscal_memory_little_room",   "В фиск. памяти мало места", nullptr},
    {kFlagFmFormatted,       "fiscal_memory_formatted",     nullptr, "ФП сформ."},
    {kFlagFiscalized,        "fiscalized",                  nullptr, "фискализирован"},
    {kFlagTaxRatesDefined,   "tax_rates_defined",           nullptr, "ставки заданы"},
    {kFlagChecksum,          "checksum_error",              "Ошибка протокола", nullptr},
    {kFlagNak,               "refused",                     "Ошибка приема команды", nullptr},
    {kFlagTimeout,           "timeout",                     "Таймаут", nullptr},
    {kFlagGeneral,           "general_error",               "Общая ошибка", nullptr},
    {kFlagFmGeneral,         "fiscal_memory_general_error", "Общая ошибка фиск. памяти", nullptr},
};
// clang-format on

// The six status bytes, bit 0x01 first: what each bit means (in English,
// as km4410r-cmd prints it) and the flag it sets. Little room in the fiscal
// memory (4.0x08) sets no flag.
// clang-format off
const StatusBitInfo kStatusBits[kStatusByteCount][kStatusBitCount] = {
    {{"syntax error", kFlagSyntax},
     {"invalid command code", kFlagBadCommand},
     {"date and time not set", kFlagDateTime},
     {"display not connected", 0},
     {"printing mechanism faulty", kFlagPrinter},
     {"general error", kFlagGeneral},
     {"reserved", 0}},
    {{"arithmetic overflow", kFlagOverflow},
     {"command not allowed in this fiscal mode", kFlagNotAllowed},
     {"RAM reset took place", kFlagRamReset},
     {"return receipt (with 2.3)", kFlagReturnReceipt},
     {"RAM contents destroyed", kFlagRamDestroyed},
     {"printer cover open", kFlagCoverOpen},
     {"reserved", 0}},
    {{"paper ran out", kFlagNoPaper},
     {"paper running out", 0},
     {"no journal paper", 0},
     {"fiscal receipt open", kFlagFiscalOpen},
     {"journal running out", 0},
     {"non-fiscal receipt open", kFlagNonFiscalOpen},
     {"reserved", 0}},
    {{"Sw1 serial speed", 0},
     {"Sw2 serial speed", 0},
     {"Sw3 automatic cut", 0},
     {"Sw4 transparent display", 0},
     {"Sw5 printer code page DOS/Win", 0},
     {"Sw6 display code page 1251", 0},
     {"Sw7 reduced journal font", 0}},
    {{"fiscal memory write error", kFlagFmWriteError},
     {"fiscal memory data error", 0},
     {"no fiscal memory module", kFlagNoFiscalModule},
     {"room for only 50 Z reports", 0},
     {"fiscal memory full", kFlagFmFull},
     {"general fiscal memory error", kFlagFmGeneral},
     {"reserved", 0}},
    {{"fiscal memory read-only", kFlagFmReadOnly},
     {"fiscal memory formatted", kFlagFmFormatted},
     {"last fiscal record erroneous", kFlagLastZError},
     {"fiscalized", kFlagFiscalized},
     {"tax rates defined", kFlagTaxRatesDefined},
     {"fiscal and serial numbers programmed", kFlagNumbersProgrammed},
     {"reserved", 0}},
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

uint32_t StatusFlags(const uint8_t* status) {
  uint32_t flags = 0;
  for (int byte = 0; byte < kStatusByteCount; ++byte) {
    // The bits that are set, lowest first.
    for (unsigned bits = status[byte] & 0x7Fu; bits != 0; bits &= bits - 1)
      flags |= kStatusBits[byte][std::countr_zero(bits)].flag;
  }
  return flags;
}

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
