// Code-page tables of the serial link: the host's Windows-1251 and the
// register's own code page.
#include <array>

#include "driver/link_internal.h"

namespace km_driver {
namespace {

constexpr std::array<uint8_t, 256> MakeHostToRegister() {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(i);
  for (int i = 0xC0; i <= 0xFF; ++i) t[i] = static_cast<uint8_t>(i - 0x40);  // А..я
  t[0xA8] = 0x85;  // Ё
  t[0xB8] = 0xA5;  // ё
  t[0xAA] = 0xC0;  // Є
  t[0xBA] = 0xC1;  // є
  t[0xAF] = 0xC2;  // Ї
  t[0xBF] = 0xC3;  // ї
  t[0xB2] = 0x49;  // І -> I
  t[0xB3] = 0x69;  // і -> i
  return t;
}

constexpr std::array<uint8_t, 256> MakeRegisterToHost() {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(i);
  for (int i = 0x80; i <= 0x9F; ++i) t[i] = static_cast<uint8_t>(i + 0x40);  // А..Я
  t[0xAA] = 0xC0;
  t[0xAF] = 0xC2;
  t[0xC0] = 0xAA;  // Є
  t[0xC1] = 0xBA;  // є
  t[0xC2] = 0xAF;  // Ї
  t[0xC3] = 0xBF;  // ї
  return t;
}

}  // namespace

const std::array<uint8_t, 256> kHostToRegister = MakeHostToRegister();
const std::array<uint8_t, 256> kRegisterToHost = MakeRegisterToHost();

}  // namespace km_driver
