// The customer display's two lines.
//
// Without translation the register takes the text as it stands (the line
// commands). With translation the display is driven through its control
// command: the glyphs for Ґ and Є are loaded into the display's alternate
// character set when the text needs them, the cursor is put at the start of
// the line, and the line is sent in display characters, switching to the
// alternate set for Ґ and Є. Every piece still passes through SendCommand and
// so through the link's host-to-register table like any other data text.
#include <cstring>

#include "driver/commands_internal.h"
#include "driver/printer.h"

namespace km_driver {

// clang-format off
const uint8_t kDisplayTable[128] = {
  // 0x80
  0x20, 0x20, 0x20, 0x20, 0x22, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
  // 0x90
  0x20, 0x27, 0x27, 0x22, 0x22, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
  // 0xA0
  0x20, 0x20, 0x20, 0x20, 0x20, 0xA5, 0x20, 0x20, 0x20, 0x20, 0xAA, 0x20, 0x20, 0x20, 0x20, 0xD8,
  // 0xB0
  0x20, 0x20, 0x49, 0x69, 0xB4, 0x20, 0x20, 0x20, 0x20, 0x20, 0xBA, 0x20, 0x20, 0x20, 0x20, 0x8C,
  // 0xC0 (А..П)
  0x41, 0xB0, 0x42, 0xB1, 0xB2, 0x45, 0xB3, 0x33, 0xB8, 0xB9, 0x4B, 0xBA, 0x4D, 0x48, 0x4F, 0xBB,
  // 0xD0 (Р..Я)
  0x50, 0x43, 0x54, 0xBC, 0xBF, 0x58, 0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0x62, 0xC8, 0xC9, 0xCA,
  // 0xE0 (а..п), as upper case
  0x41, 0xB0, 0x42, 0xB1, 0xB2, 0x45, 0xB3, 0x33, 0xB8, 0xB9, 0x4B, 0xBA, 0x4D, 0x48, 0x4F, 0xBB,
  // 0xF0 (р..я), as upper case
  0x50, 0x43, 0x54, 0xBC, 0xBF, 0x58, 0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0x62, 0xC8, 0xC9, 0xCA,
};
// clang-format on

}  // namespace km_driver

namespace {

constexpr int kLineChars = 20;  // characters of one display line

// Display control sequences, the data of kCmdDisplayControl.
constexpr char kGheGlyph[] = "\x10\x5B\x26\x20\x10\x4B\xD0\x84\x21\x10\x40";
constexpr char kYeGlyph[] = "\x10\x5B\x26\x21\x74\x61\xC8\x45\xC0";
constexpr char kLowerLineStart[] = "\x10\x5B\x48\x10\x54\x10\x58";
constexpr char kUpperLineStart[] = "\x10\x5B\x48\x10\x40\x10\x58";
constexpr char kSwitchIn[] = "\x10\x5B\x25\x10\x41";
constexpr char kSwitchBack[] = "\x10\x5B\x25\x10\x40";
// A line in display characters: each character at most a switch and itself,
// and a switch-back at the end.
static_assert(kLineChars * sizeof kSwitchIn + sizeof kSwitchBack <= kMaxDataText);

bool IsGhe(unsigned char c) { return c == 0xA5 || c == 0xB4; }  // Ґ ґ
bool IsYe(unsigned char c) { return c == 0xAA || c == 0xBA; }   // Є є

unsigned char DisplayForm(unsigned char c) {
  return c < 0x80 ? c : km_driver::kDisplayTable[c - 0x80];
}

int DisplayLine(WindowHandle window, ResultHandler handler, int param, int plainCommand,
                const char* lineStart, const char* text) {
  // The first characters of the text, as many as the line shows.
  char shown[kLineChars + 1];
  km_driver::TextWriter(shown, sizeof shown).TextPrefix(text, kLineChars);
  const size_t n = std::strlen(shown);

  if (GetNoTranslation()) return SendCommand(window, handler, param, plainCommand, shown);

  bool ghe = false;
  bool ye = false;
  for (size_t i = 0; i < n; ++i) {
    ghe = ghe || IsGhe(static_cast<unsigned char>(shown[i]));
    ye = ye || IsYe(static_cast<unsigned char>(shown[i]));
  }

  // Every exchange runs even when an earlier one failed; a refusal by the
  // driver (port not open) is reported, with the reason of the first.
  int refusal = kRefusalNone;
  auto send = [&](const char* data) {
    if (SendCommand(window, handler, param, kCmdDisplayControl, data) == -1 && refusal == kRefusalNone)
      refusal = GetLastRefusal();
  };
  if (ghe) send(kGheGlyph);
  if (ye) send(kYeGlyph);
  send(lineStart);

  // At most a line of characters, each at most a switch (5 bytes) and one
  // byte, and a final switch-back: always well inside a data text.
  km_driver::DataText line;
  bool alternate = false;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(shown[i]);
    if (c == ' ' || c == '!') {
      if (alternate) {
        line.w.Text(kSwitchBack);
        alternate = false;
      }
      line.w.Char(static_cast<char>(c));
    } else if (IsGhe(c) || IsYe(c)) {
      if (!alternate) {
        line.w.Text(kSwitchIn);
        alternate = true;
      }
      line.w.Char(IsGhe(c) ? 0x20 : 0x21);
    } else {
      line.w.Char(static_cast<char>(DisplayForm(c)));
    }
  }
  if (alternate) line.w.Text(kSwitchBack);
  if (line.w.size() > 0) send(line.buffer);
  if (refusal == kRefusalNone) return 0;
  return km_driver::Refuse(static_cast<SendRefusal>(refusal));
}

}  // namespace

int DisplayLowerLine(WindowHandle window, ResultHandler handler, int param, const char* text) {
  return DisplayLine(window, handler, param, kCmdDisplayLowerLine, kLowerLineStart, text);
}

int DisplayUpperLine(WindowHandle window, ResultHandler handler, int param, const char* text) {
  return DisplayLine(window, handler, param, kCmdDisplayUpperLine, kUpperLineStart, text);
}
