#include "common/utf8.h"

#include "common/cp1251.h"

namespace km_text {
namespace {

void AppendUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string Cp1251CharToUtf8(uint8_t byte) {
  std::string out;
  unsigned cp = Cp1251CodePoint(byte);
  AppendUtf8(out, cp ? cp : '?');
  return out;
}

std::string Cp1251ToUtf8(std::string_view text) {
  std::string out;
  for (char c : text) out += Cp1251CharToUtf8(static_cast<uint8_t>(c));
  return out;
}

std::string Utf8ToCp1251(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t length = 0;
    const long cp = DecodeUtf8(text.data() + i, text.size() - i, &length);
    const int b = cp < 0 ? -1 : Cp1251FromCodePoint(static_cast<unsigned>(cp));
    out += b < 0 ? '?' : static_cast<char>(b);
    i += length;
  }
  return out;
}

}  // namespace km_text
