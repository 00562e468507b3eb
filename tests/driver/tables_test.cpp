// The driver's fixed tables, each compared whole with its values written out
// here: the code-page translation both ways, the customer display table and
// the command names and the flag table. The simulator has
// its own copies of the code pages and of the status bits, written out too;
// they are held against the driver's here, every entry.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/cp1251.h"
#include "driver/flags.h"
#include "driver/printer.h"
#include "driver/testing.h"
#include "sim/codec.h"
#include "sim/status.h"
#include "tests/driver/driver_fixture.h"
#include "tests/driver/pty_peer.h"

namespace {

using km_test::AnswerTo;
using km_test::HostFrame;
using km_test::PtyPeer;
using km_test::Script;
using km_test::Step;

std::string Hex(uint8_t b) {
  char s[8];
  std::snprintf(s, sizeof s, "0x%02X", b);
  return s;
}

// ---- Code page ---------------------------------------------------------------

// Host (Windows-1251) byte 0x80 + i to the register's byte.
// clang-format off
const uint8_t kHostToRegisterUpper[128] = {
  0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F,
  0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F,
  // 0xA8 Ё, 0xAA Є, 0xAF Ї
  0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0x85, 0xA9, 0xC0, 0xAB, 0xAC, 0xAD, 0xAE, 0xC2,
  // 0xB2 І, 0xB3 і, 0xB8 ё, 0xBA є, 0xBF ї
  0xB0, 0xB1, 0x49, 0x69, 0xB4, 0xB5, 0xB6, 0xB7, 0xA5, 0xB9, 0xC1, 0xBB, 0xBC, 0xBD, 0xBE, 0xC3,
  // А..я
  0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F,
  0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F,
  0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
  0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
};

// Register byte 0x80 + i to the host's byte.
const uint8_t kRegisterToHostUpper[128] = {
  // А..Я
  0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
  0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
  0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xC0, 0xAB, 0xAC, 0xAD, 0xAE, 0xC2,
  0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
  // Є є Ї ї
  0xAA, 0xBA, 0xAF, 0xBF, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
  0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
  0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
  0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
};
// clang-format on

TEST(CodePageTables, EveryByteBothWaysInTheDriverAndTheSimulator) {
  for (int i = 0; i < 256; ++i) {
    const uint8_t b = static_cast<uint8_t>(i);
    const uint8_t toRegister = b < 0x80 ? b : kHostToRegisterUpper[b - 0x80];
    const uint8_t toHost = b < 0x80 ? b : kRegisterToHostUpper[b - 0x80];
    EXPECT_EQ(Hex(km_driver::kHostToRegister[b]), Hex(toRegister)) << "driver, host " << Hex(b);
    EXPECT_EQ(Hex(km_driver::kRegisterToHost[b]), Hex(toHost)) << "driver, register " << Hex(b);
    EXPECT_EQ(Hex(km4410r::sim::hostToRegister(b)), Hex(toRegister)) << "simulator, host " << Hex(b);
    EXPECT_EQ(Hex(km4410r::sim::registerToHost(b)), Hex(toHost)) << "simulator, register " << Hex(b);
  }
}

// The compile-time converter that writes the driver's Russian texts: every
// character those texts may hold, against its Windows-1251 byte.
TEST(CodePageTables, Cp1251TextsInTheSource) {
  EXPECT_STREQ(CP1251(u8"АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"),
               "\xC0\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF"
               "\xD0\xD1\xD2\xD3\xD4\xD5\xD6\xD7\xD8\xD9\xDA\xDB\xDC\xDD\xDE\xDF");
  EXPECT_STREQ(CP1251(u8"абвгдежзийклмнопрстуфхцчшщъыьэюя"),
               "\xE0\xE1\xE2\xE3\xE4\xE5\xE6\xE7\xE8\xE9\xEA\xEB\xEC\xED\xEE\xEF"
               "\xF0\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF");
  EXPECT_STREQ(CP1251(u8"ЁёЄєЇїІіҐґ№«»°\u00A0–—"),
               "\xA8\xB8\xAA\xBA\xAF\xBF\xB2\xB3\xA5\xB4\xB9\xAB\xBB\xB0\xA0\x96\x97");
  EXPECT_STREQ(CP1251(u8" !09AZaz-(),./;"), " !09AZaz-(),./;");
}

// ---- Through the link ----------------------------------------------------------

using LinkTables = km_test::DriverTest;

TEST_F(LinkTables, TextsAreTranslatedWithTheTablesBothWays) {
  std::string upper;
  for (int b = 0x80; b <= 0xFF; ++b) upper.push_back(static_cast<char>(b));
  PtyPeer peer([&](const HostFrame& f) { return Script{Step{AnswerTo(f, upper)}}; });
  ASSERT_GE(OpenPortPath(peer.slavePath().c_str(), 19200), 0) << GetLastPortErrorText();
  SetNoTranslation(0);
  ASSERT_EQ(SendCommand(nullptr, km_test::Record, 0, 0x2A, upper.c_str()), 0);
  ASSERT_EQ(km_test::gDelivered, 1);
  auto frames = peer.frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].data(), std::string(reinterpret_cast<const char*>(kHostToRegisterUpper), 128));
  const RetData& rd = DriverRetData();
  EXPECT_EQ(rd.ErrorFlags, 0u);
  EXPECT_STREQ(rd.SentData, upper.c_str());  // as the caller gave it
  EXPECT_EQ(std::string(rd.AnswerText), std::string(reinterpret_cast<const char*>(kRegisterToHostUpper), 128));
}

// ---- Customer display ------------------------------------------------------------

// Host byte 0x80 + i to the display's character.
// clang-format off
const uint8_t kDisplayUpper[128] = {
  0x20, 0x20, 0x20, 0x20, 0x22, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
  0x20, 0x27, 0x27, 0x22, 0x22, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
  0x20, 0x20, 0x20, 0x20, 0x20, 0xA5, 0x20, 0x20, 0x20, 0x20, 0xAA, 0x20, 0x20, 0x20, 0x20, 0xD8,
  0x20, 0x20, 0x49, 0x69, 0xB4, 0x20, 0x20, 0x20, 0x20, 0x20, 0xBA, 0x20, 0x20, 0x20, 0x20, 0x8C,
  0x41, 0xB0, 0x42, 0xB1, 0xB2, 0x45, 0xB3, 0x33, 0xB8, 0xB9, 0x4B, 0xBA, 0x4D, 0x48, 0x4F, 0xBB,
  0x50, 0x43, 0x54, 0xBC, 0xBF, 0x58, 0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0x62, 0xC8, 0xC9, 0xCA,
  0x41, 0xB0, 0x42, 0xB1, 0xB2, 0x45, 0xB3, 0x33, 0xB8, 0xB9, 0x4B, 0xBA, 0x4D, 0x48, 0x4F, 0xBB,
  0x50, 0x43, 0x54, 0xBC, 0xBF, 0x58, 0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0x62, 0xC8, 0xC9, 0xCA,
};
// clang-format on

TEST(DisplayTable, EveryUpperByte) {
  for (int i = 0; i < 128; ++i)
    EXPECT_EQ(Hex(km_driver::kDisplayTable[i]), Hex(kDisplayUpper[i])) << "host " << Hex(static_cast<uint8_t>(0x80 + i));
}

// ---- Command names ---------------------------------------------------------------

struct Name {
  int code;
  const char* text;  // Windows-1251
};

const Name kNames[] = {
    {0x21, CP1251(u8"Очистка дисплея")},
    {0x23, CP1251(u8"Дисплей - нижний ряд")},
    {0x26, CP1251(u8"Открыть нефискальный чек")},
    {0x27, CP1251(u8"Закрыть нефискальный чек")},
    {0x2A, CP1251(u8"Печать нефискального текста")},
    {0x2B, CP1251(u8"Установить Header, Footer и опции печати")},
    {0x2C, CP1251(u8"Пропустить строки на принтере")},
    {0x2D, CP1251(u8"Отрезать чек")},
    {0x2F, CP1251(u8"Дисплей - верхний ряд")},
    {0x30, CP1251(u8"Открыть фискальный чек")},
    {0x32, CP1251(u8"Печать налоговых ставок за период")},
    {0x33, CP1251(u8"Подсумма")},
    {0x34, CP1251(u8"Регистрация продажи  и вывод на дисплей")},
    {0x35, CP1251(u8"Общая сумма чека (Total)")},
    {0x36, CP1251(u8"Печать строк в фискальном чеке")},
    {0x38, CP1251(u8"Закрыть фискальный чек")},
    {0x39, CP1251(u8"Аннулировать чек")},
    {0x3A, CP1251(u8"Регистрация продажи")},
    {0x3D, CP1251(u8"Установить дату и время")},
    {0x3E, CP1251(u8"Получить дату и время")},
    {0x3F, CP1251(u8"Вывести дату и время на дисплее")},
    {0x40, CP1251(u8"Информация о последнем Z-отчете")},
    {0x41, CP1251(u8"Суммы за день")},
    {0x43, CP1251(u8"Суммы коррекций за день")},
    {0x44, CP1251(u8"Размер фискальной памяти")},
    {0x45, CP1251(u8"X- или Z- отчет")},
    {0x46, CP1251(u8"Служебный внос/вынос суммы")},
    {0x47, CP1251(u8"Печать диагностической информации")},
    {0x48, CP1251(u8"Фискализация")},
    {0x49, CP1251(u8"Полный периодический отчет по номеру")},
    {0x4A, CP1251(u8"Получить состояние регистратора")},
    {0x4C, CP1251(u8"Состояние фискальной транзакции")},
    {0x4F, CP1251(u8"Сокращенный периодический отчет (по дате)")},
    {0x50, CP1251(u8"Звуковой сигнал")},
    {0x53, CP1251(u8"Установить множитель, запятую, валюту и количество групп налогов")},
    {0x54, CP1251(u8"Режим продаж")},
    {0x55, CP1251(u8"Открыть чек возврата")},
    {0x59, CP1251(u8"Программирование тестовой области")},
    {0x5A, CP1251(u8"Запрос диагностической информации")},
    {0x5B, CP1251(u8"Установить заводской номер")},
    {0x5C, CP1251(u8"Установить фискальный номер")},
    {0x5E, CP1251(u8"Полный периодический отчет по дате")},
    {0x5F, CP1251(u8"Сокращенный периодический отчет по номеру")},
    {0x61, CP1251(u8"Ставки налогов")},
    {0x62, CP1251(u8"Установить налоговый или иденификационный номер")},
    {0x63, CP1251(u8"Прочитать налоговый или иденификационный номер")},
    {0x64, CP1251(u8"Управление дисплеем")},
    {0x65, CP1251(u8"Задать пароль оператора")},
    {0x66, CP1251(u8"Задать имя оператора")},
    {0x67, CP1251(u8"Информация о текущем чеке")},
    {0x68, CP1251(u8"Обнулить данные оператора")},
    {0x69, CP1251(u8"Отчет оператора")},
    {0x6A, CP1251(u8"Открыть денежный ящик")},
    {0x6B, CP1251(u8"Программирование артикулов и получение информации о них")},
    {0x6D, CP1251(u8"Печать копии чека")},
    {0x6E, CP1251(u8"Дополнительная информация по типам оплаты")},
    {0x6F, CP1251(u8"Отчет товаров")},
    {0x70, CP1251(u8"Информация об операторе")},
    {0x71, CP1251(u8"Номер последнего чека")},
    {0x72, CP1251(u8"Получение информации из фискальной памяти")},
    {0x73, CP1251(u8"Загрузка логотипа")},
    {0x76, CP1251(u8"Пароль администратора")},
    {0x77, CP1251(u8"Обнулить операторские пароли")},
};

TEST(CommandNameTable, EveryCode) {
  ASSERT_EQ(std::size(kNames), 63u);
  const char* invalid = CP1251(u8"Неверная команда");
  for (int code = 0; code <= 0xFF; ++code) {
    const char* expected = invalid;
    for (const Name& n : kNames)
      if (n.code == code) expected = n.text;
    EXPECT_STREQ(GetCommandName(code), expected) << Hex(static_cast<uint8_t>(code));
  }
  // Codes outside a byte are no command either, whatever their low byte.
  for (int code : {-1, -0xDF, 0x100, 0x121, 0x177, INT_MIN, INT_MAX})
    EXPECT_STREQ(GetCommandName(code), invalid) << code;
}

// ---- Flags -------------------------------------------------------------------

struct FlagRow {
  uint32_t flag;
  const char* name;
  const char* text;   // an error's message; null for a state
  const char* state;  // a state's text in the trace; an error shows its message
};

const FlagRow kFlags[] = {
    {0x00000001, "syntax_error", "Синтаксическая ошибка", nullptr},
    {0x00000002, "invalid_command", "Неверная команда", nullptr},
    {0x00000004, "date_time_invalid", "Дата и время неверны", nullptr},
    {0x00000008, "print_error", "Ошибка печати", nullptr},
    {0x00000010, "arithmetic_overflow", "Арифметическое переполнение", nullptr},
    {0x00000020, "command_not_allowed", "Команда не разрешена", nullptr},
    {0x00000040, "ram_reset", "Обнуление ОЗУ", nullptr},
    {0x00000080, "return_receipt", nullptr, "чек возврата"},
    {0x00000100, "ram_destroyed", "Обнуление ОЗУ", nullptr},
    {0x00000200, "no_paper", "Нет бумаги", nullptr},
    {0x00000400, "fiscal_receipt_open", nullptr, "фиск. чек"},
    {0x00000800, "non_fiscal_receipt_open", nullptr, "нефиск. чек"},
    {0x00001000, "cover_open", nullptr, "крышка открыта"},
    {0x00002000, "no_fiscal_memory_module", "Не модуля фиск. памяти", nullptr},
    {0x00004000, "numbers_programmed", nullptr, "номера заданы"},
    {0x00010000, "fiscal_memory_write_error", "Ошибка записи в фиск. память", nullptr},
    {0x00020000, "fiscal_memory_full", "Фиск. память переполнена", nullptr},
    {0x00040000, "fiscal_memory_read_only", "Запись в фиск. память запрещена", nullptr},
    {0x00080000, "last_z_report_error", "Ошибка последнего Z-отчета", nullptr},
    {0x00100000, "fiscal_memory_little_room", "В фиск. памяти мало места", nullptr},
    {0x00200000, "fiscal_memory_formatted", nullptr, "ФП сформ."},
    {0x00400000, "fiscalized", nullptr, "фискализирован"},
    {0x00800000, "tax_rates_defined", nullptr, "ставки заданы"},
    {0x01000000, "checksum_error", "Ошибка протокола", nullptr},
    {0x02000000, "refused", "Ошибка приема команды", nullptr},
    {0x04000000, "timeout", "Таймаут", nullptr},
    {0x08000000, "general_error", "Общая ошибка", nullptr},
    {0x10000000, "fiscal_memory_general_error", "Общая ошибка фиск. памяти", nullptr},
};

// The errors in the order the handlers look for the one to report.
const uint32_t kReportOrder[] = {
    0x00000001, 0x00000002, 0x00000004, 0x00000008, 0x00000010, 0x00000020, 0x00000040,
    0x00000100, 0x00000200, 0x00002000, 0x00100000, 0x00010000, 0x00020000, 0x00040000,
    0x00080000, 0x01000000, 0x02000000, 0x04000000, 0x08000000, 0x10000000,
};

TEST(FlagTable, EveryFlagItsNamesAndTheReportingOrder) {
  ASSERT_EQ(static_cast<size_t>(kFlagCount), std::size(kFlags));
  for (size_t i = 0; i < std::size(kFlags); ++i) {
    const FlagRow& want = kFlags[i];
    SCOPED_TRACE(want.name);
    const FlagInfo& got = kFlagTable[i];
    EXPECT_EQ(got.flag, want.flag);
    EXPECT_STREQ(got.name, want.name);
    EXPECT_STREQ(got.text, want.text);
    EXPECT_STREQ(got.state, want.state);
    EXPECT_EQ(FlagInfoOf(want.flag), &got);
  }
  EXPECT_EQ(FlagInfoOf(0x00008000), nullptr);
  EXPECT_EQ(FlagInfoOf(0x20000000), nullptr);

  ASSERT_EQ(static_cast<size_t>(kErrorCount), std::size(kReportOrder));
  for (size_t i = 0; i < std::size(kReportOrder); ++i) EXPECT_EQ(kErrorReportOrder[i], kReportOrder[i]) << i;
  // Each bit on its own: its error, or none for a state and for no flag.
  for (int bit = 0; bit < 32; ++bit) {
    const uint32_t flag = 1u << bit;
    const FlagRow* row = nullptr;
    for (const FlagRow& r : kFlags)
      if (r.flag == flag) row = &r;
    const FlagInfo* got = FirstError(flag);
    if (row && row->text) {
      ASSERT_NE(got, nullptr) << "bit " << bit;
      EXPECT_STREQ(got->text, row->text);
    } else {
      EXPECT_EQ(got, nullptr) << "bit " << bit;
    }
  }
  // Two at once: the earlier in the order is reported, whatever their bits.
  for (size_t i = 0; i < std::size(kReportOrder); ++i)
    for (size_t j = i + 1; j < std::size(kReportOrder); ++j)
      EXPECT_EQ(FirstError(kReportOrder[i] | kReportOrder[j])->flag, kReportOrder[i]) << i << " " << j;
}

// Each status bit as the simulator sets it, through the driver's receive
// machine: the flag of the same name, or no flag at all.
TEST(FlagTable, EveryStatusBitOfTheSimulator) {
  uint32_t reached = 0;
  for (const km4410r::sim::StatusBit& bit : km4410r::sim::kStatusBits) {
    SCOPED_TRACE(std::string(bit.name) + " " + std::to_string(bit.byte) + "." + Hex(bit.mask));
    km4410r::sim::StatusBytes status{};
    status[bit.byte] = bit.mask;
    km_driver::BeginAnswer(0x4A);
    for (uint8_t b : km4410r::sim::buildAnswerFrame(0x21, 0x4A, "", status)) km_driver::FeedByte(b);
    km_driver::FinishAnswer();
    const RetData& rd = DriverRetData();
    const FlagInfo* named = nullptr;
    for (const FlagInfo& f : kFlagTable)
      if (std::string(f.name) == bit.name) named = &f;
    EXPECT_EQ(rd.ErrorFlags, named ? named->flag : 0u);
    EXPECT_EQ(rd.StatusBytes[bit.byte], bit.mask);  // bit 7 cleared
    EXPECT_EQ(reached & rd.ErrorFlags, 0u) << "a second bit sets the same flag";
    reached |= rd.ErrorFlags;
  }
  // Every flag comes from exactly one status bit, but little room in the
  // fiscal memory (from none) and the link's three.
  EXPECT_EQ(reached, 0x18EF7FFFu);
}

}  // namespace
