// The Windows-1251 code page, once: its characters as Unicode code points,
// a code point to its CP1251 byte, and the UTF-8 decoding both directions
// of common/utf8.h and the compile-time CP1251 texts below are built on.
//
// CP1251(u8"Таймаут") is a const char* to the CP1251 bytes of the literal,
// with static storage duration; a character CP1251 lacks does not compile.
#pragma once
#include <cstddef>

namespace km_text {

// Unicode code points of CP1251 0x80..0xBF (0xC0..0xFF are U+0410..U+044F);
// 0 = unassigned.
inline constexpr char16_t kCp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457};

// The code point of one CP1251 byte; 0 for a byte CP1251 leaves unassigned.
constexpr unsigned Cp1251CodePoint(unsigned char c) {
  if (c < 0x80) return c;
  if (c >= 0xC0) return 0x0410 + (c - 0xC0);
  return kCp1251High[c - 0x80];
}

// The CP1251 byte of one code point; -1 when CP1251 lacks it.
constexpr int Cp1251FromCodePoint(unsigned cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<int>(cp - 0x0410 + 0xC0);
  for (int k = 0; k < 64; ++k)
    if (kCp1251High[k] == cp) return 0x80 + k;
  return -1;
}

// One UTF-8 sequence at the start of `text` (`size` bytes left, at least
// one): its code point and in *length the bytes it takes. A malformed lead
// or continuation byte gives -1 with *length 1; a sequence cut off by the
// end gives -1 with *length `size`.
template <typename Char>
constexpr long DecodeUtf8(const Char* text, std::size_t size, std::size_t* length) {
  const unsigned char c = static_cast<unsigned char>(text[0]);
  unsigned long cp = 0;
  std::size_t n = 1;
  if (c < 0x80) { cp = c; }
  else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
  else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
  else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; n = 4; }
  else { *length = 1; return -1; }
  if (n > size) { *length = size; return -1; }
  for (std::size_t k = 1; k < n; ++k) {
    const unsigned char d = static_cast<unsigned char>(text[k]);
    if ((d & 0xC0) != 0x80) { *length = 1; return -1; }
    cp = (cp << 6) | (d & 0x3F);
  }
  *length = n;
  return static_cast<long>(cp);
}

namespace cp1251_literal {

// Not constexpr: reaching it during constant evaluation is a compile error.
inline void CharacterOutsideCp1251() {}

template <std::size_t N>
struct Text {
  char s[N]{};
  consteval Text(const char8_t (&u)[N]) {
    std::size_t o = 0;
    for (std::size_t i = 0; i < N && u[i] != 0;) {
      std::size_t length = 0;
      const long cp = DecodeUtf8(u + i, N - 1 - i, &length);
      const int b = cp < 0 ? -1 : Cp1251FromCodePoint(static_cast<unsigned>(cp));
      if (b < 0) CharacterOutsideCp1251();
      s[o++] = static_cast<char>(b);
      i += length;
    }
    s[o] = 0;
  }
};

template <Text T>
constexpr const char* Get() { return T.s; }

}  // namespace cp1251_literal
}  // namespace km_text

#define CP1251(lit) (::km_text::cp1251_literal::Get<::km_text::cp1251_literal::Text(lit)>())
