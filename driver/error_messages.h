// The twenty ErrorFlags that are errors, in the order they are reported, with
// the message shown for each (UTF-8). The other flags describe the register's
// state and are never reported as errors.
#pragma once
#include <cstdint>

#include "driver/printer.h"

struct ErrorMessage {
  uint32_t flag;
  const char* text;  // UTF-8
};

inline constexpr ErrorMessage kErrorMessages[20] = {
    {kFlagSyntax, "Синтаксическая ошибка"},
    {kFlagBadCommand, "Неверная команда"},
    {kFlagDateTime, "Дата и время неверны"},
    {kFlagPrinter, "Ошибка печати"},
    {kFlagOverflow, "Арифметическое переполнение"},
    {kFlagNotAllowed, "Команда не разрешена"},
    {kFlagRamReset, "Обнуление ОЗУ"},
    {kFlagRamDestroyed, "Обнуление ОЗУ"},
    {kFlagNoPaper, "Нет бумаги"},
    {kFlagNoFiscalModule, "Не модуля фиск. памяти"},
    {kFlagFmLittleRoom, "В фиск. памяти мало места"},
    {kFlagFmWriteError, "Ошибка записи в фиск. память"},
    {kFlagFmFull, "Фиск. память переполнена"},
    {kFlagFmReadOnly, "Запись в фиск. память запрещена"},
    {kFlagLastZError, "Ошибка последнего Z-отчета"},
    {kFlagChecksum, "Ошибка протокола"},
    {kFlagNak, "Ошибка приема команды"},
    {kFlagTimeout, "Таймаут"},
    {kFlagGeneral, "Общая ошибка"},
    {kFlagFmGeneral, "Общая ошибка фиск. памяти"},
};

// The first error flag set in `flags`, or null when the answer has none.
inline const ErrorMessage* FirstError(uint32_t flags) {
  for (const ErrorMessage& e : kErrorMessages)
    if (flags & e.flag) return &e;
  return nullptr;
}
