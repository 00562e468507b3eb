// Windows-1251 texts written as UTF-8 literals in the source and turned into
// CP1251 bytes at compile time: CP1251(u8"Таймаут") is a const char* to the
// CP1251 bytes, with static storage duration.
#pragma once
#include <cstddef>

namespace cp1251 {

// One Unicode code point to its CP1251 byte; -1 when CP1251 lacks it.
constexpr int FromCodePoint(unsigned cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<int>(cp - 0x0410 + 0xC0);
  switch (cp) {
    case 0x0401: return 0xA8;  // Ё
    case 0x0451: return 0xB8;  // ё
    case 0x0404: return 0xAA;  // Є
    case 0x0454: return 0xBA;  // є
    case 0x0407: return 0xAF;  // Ї
    case 0x0457: return 0xBF;  // ї
    case 0x0406: return 0xB2;  // І
    case 0x0456: return 0xB3;  // і
    case 0x0490: return 0xA5;  // Ґ
    case 0x0491: return 0xB4;  // ґ
    case 0x2116: return 0xB9;  // №
    case 0x00AB: return 0xAB;  // «
    case 0x00BB: return 0xBB;  // »
    case 0x00A0: return 0xA0;
    case 0x00B0: return 0xB0;  // °
    case 0x2013: return 0x96;
    case 0x2014: return 0x97;
    default: return -1;
  }
}

// Not constexpr: reaching it during constant evaluation is a compile error.
inline void CharacterOutsideCp1251() {}

template <std::size_t N>
struct Text {
  char s[N]{};
  consteval Text(const char8_t (&u)[N]) {
    std::size_t o = 0;
    for (std::size_t i = 0; i < N && u[i] != 0;) {
      unsigned c = u[i];
      unsigned cp = 0;
      int extra = 0;
      if (c < 0x80) { cp = c; }
      else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
      else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
      else { CharacterOutsideCp1251(); }
      for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (u[i + k] & 0x3F);
      i += 1 + extra;
      int b = FromCodePoint(cp);
      if (b < 0) CharacterOutsideCp1251();
      s[o++] = static_cast<char>(b);
    }
    s[o] = 0;
  }
};

template <Text T>
constexpr const char* Get() { return T.s; }

}  // namespace cp1251

#define CP1251(lit) (::cp1251::Get<::cp1251::Text(lit)>())
