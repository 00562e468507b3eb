// km4410r-cmd: sends one command to the register and prints the decoded answer.
//
//   km4410r-cmd [--port COM1|PATH] [--baud 19200] [--translate|--no-translate]
//               [--trace [--hex]] CMD [DATA]
//
// CMD is the command code in hex (0x4A) or decimal (74; "074" is refused, not
// read as octal); DATA is the data text in the terminal's UTF-8. Without
// --translate/--no-translate the register's switches decide, as in the main
// window (a diagnostic request first). --trace prints a row per exchange on
// stderr (driver/text/tracerow.h), --hex adds the bytes as on the line.
// Exit status: 0 an answer without error flags, 1 a register or link error,
// 2 bad usage.
#include <stdio.h>
#include <string.h>

#include <limits>
#include <string>

#include "driver/error_messages.h"
#include "driver/printer.h"
#include "driver/text/tracerow.h"
#include "driver/text/utf8.h"
#include "driver/trace.h"

namespace {

RetData gAnswer{};
bool gDelivered = false;
void Keep(RetData& rd) {
  gAnswer = rd;
  gDelivered = true;
}

// State flags: not errors.
const ErrorMessage kStates[] = {
    {0x00000080, "return receipt (with fiscal receipt open)"}, {0x00000400, "fiscal receipt open"},
    {0x00000800, "non-fiscal receipt open"}, {0x00001000, "printer cover open"},
    {0x00004000, "fiscal and serial numbers programmed"}, {0x00200000, "fiscal memory formatted"},
    {0x00400000, "fiscalized"}, {0x00800000, "tax rates defined"},
};

// Bit meanings of the six status bytes, bit 0x01 first.
const char* const kBits[6][7] = {
    {"syntax error", "invalid command code", "date and time not set", "display not connected",
     "printing mechanism faulty", "general error", "reserved"},
    {"arithmetic overflow", "command not allowed in this fiscal mode", "RAM reset took place",
     "return receipt (with 2.3)", "RAM contents destroyed", "printer cover open", "reserved"},
    {"paper ran out", "paper running out", "no journal paper", "fiscal receipt open",
     "journal running out", "non-fiscal receipt open", "reserved"},
    {"Sw1 serial speed", "Sw2 serial speed", "Sw3 automatic cut", "Sw4 transparent display",
     "Sw5 printer code page DOS/Win", "Sw6 display code page 1251", "Sw7 reduced journal font"},
    {"fiscal memory write error", "fiscal memory data error", "no fiscal memory module",
     "room for only 50 Z reports", "fiscal memory full", "general fiscal memory error", "reserved"},
    {"fiscal memory read-only", "fiscal memory formatted", "last fiscal record erroneous",
     "fiscalized", "tax rates defined", "fiscal and serial numbers programmed", "reserved"},
};

bool IsError(uint32_t flags) { return FirstError(flags) != nullptr; }

// --trace: one row per exchange on stderr; `context` says whether the raw
// bytes follow.
void PrintTrace(const ExchangeTrace& trace, void* context) {
  const km_text::TraceRow row = km_text::MakeTraceRow(trace);
  fprintf(stderr, "%s\n", km_text::TraceRowLine(row).c_str());
  if (context) fputs(row.hex.c_str(), stderr);
  fflush(stderr);
}

// The highest COM number: OpenPort takes an int and ResolveComPort sets no
// bound of its own beyond that.
constexpr unsigned long kMaxComPort = std::numeric_limits<int>::max();

void Usage() {
  printf("usage: km4410r-cmd [--port COM1|PATH] [--baud 19200] [--translate|--no-translate]\n"
         "                   [--trace [--hex]] CMD [DATA]\n"
         "  --port COM<n> (1..%lu) or a device path; --baud 9600, 19200, 57600 or 115200\n"
         "  --trace  a row per exchange on stderr (time, direction, SEQ, command, data,\n"
         "           verdict and answer, flags, ms); --hex adds the bytes as on the line\n"
         "  CMD   command code 0x21..0xFF: hex (0x4A) or decimal without leading zeros (74)\n"
         "  DATA  data text (UTF-8; sent in the register's code page)\n"
         "exit status: 0 answer without error flags, 1 register or link error, 2 bad usage\n",
         kMaxComPort);
}

// Numbers on the command line are read strictly, by hand: strtol would take
// "074" as octal, skip blanks and signs and wrap "COM4294967297" round to COM1.

// Decimal digits only, no leading zero ("0" alone is fine), at most `max`.
bool ParseDecimal(const char* text, unsigned long max, unsigned long* out) {
  if (!text || !*text || (text[0] == '0' && text[1])) return false;
  unsigned long v = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    unsigned digit = static_cast<unsigned>(*p - '0');
    if (digit > max || v > (max - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *out = v;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A byte: 0x followed by one or two hex digits (0x00..0xFF), or decimal 0..255.
bool ParseByte(const char* text, unsigned long* out) {
  if (!text) return false;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    const char* p = text + 2;
    if (!*p || (p[1] && p[2])) return false;  // no digits, or more than two
    unsigned long v = 0;
    for (; *p; ++p) {
      int d = HexDigit(*p);
      if (d < 0) return false;
      v = v * 16 + static_cast<unsigned long>(d);
    }
    *out = v;
    return true;
  }
  return ParseDecimal(text, 0xFF, out);
}

bool IsSpeed(unsigned long baud) { return baud == 9600 || baud == 19200 || baud == 57600 || baud == 115200; }

void PrintAnswer(const RetData& rd) {
  auto u = [](const char* cp) { return km_text::Cp1251ToUtf8(cp ? cp : ""); };
  printf("command     0x%02X %s\n", rd.Command & 0xFF, u(rd.CommandName).c_str());
  printf("sent        \"%s\"\n", u(rd.SentData).c_str());
  printf("flags       0x%08X\n", rd.ErrorFlags);
  bool first = true;
  for (const ErrorMessage& e : kErrorMessages) {
    if (rd.ErrorFlags & e.flag) {
      printf("  error     0x%08X %s%s\n", e.flag, e.text, first ? "   <- reported" : "");
      first = false;
    }
  }
  for (const ErrorMessage& s : kStates)
    if (rd.ErrorFlags & s.flag) printf("  state     0x%08X %s\n", s.flag, s.text);
  for (int b = 0; b < 6; ++b) {
    printf("status %d    0x%02X\n", b, rd.StatusBytes[b] | 0x80);
    for (int bit = 0; bit < 7; ++bit)
      printf("   [%c] 0x%02X %s\n", (rd.StatusBytes[b] >> bit) & 1 ? 'x' : ' ', 1 << bit, kBits[b][bit]);
  }
  printf("answer      \"%s\"\n", u(rd.AnswerText).c_str());
  printf("fields      %d\n", rd.FieldCount);
  for (int i = 0; i < rd.FieldCount && i < 20; ++i) printf("  [%d] \"%s\"\n", i, u(rd.Fields[i]).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  // Every refusal of the command line is one line on stderr that names the
  // argument at fault, and exit status 2.
  std::string port = "COM1";
  unsigned long baud = 19200;
  int translate = -1;  // -1: as the register's switches say
  bool trace = false;
  bool hex = false;
  const char* positional[2] = {nullptr, nullptr};
  int npos = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const bool takesValue = !strcmp(a, "--port") || !strcmp(a, "--baud");
    if (takesValue && i + 1 >= argc) {
      fprintf(stderr, "km4410r-cmd: option %s needs a value\n", a);
      return 2;
    }
    if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
      Usage();
      return 0;
    } else if (!strcmp(a, "--port")) {
      port = argv[++i];
    } else if (!strcmp(a, "--baud")) {
      if (!ParseDecimal(argv[++i], 115200, &baud) || !IsSpeed(baud)) {
        fprintf(stderr, "km4410r-cmd: bad speed '%s' (9600, 19200, 57600 or 115200)\n", argv[i]);
        return 2;
      }
    } else if (!strcmp(a, "--translate")) {
      translate = 1;
    } else if (!strcmp(a, "--no-translate")) {
      translate = 0;
    } else if (!strcmp(a, "--trace")) {
      trace = true;
    } else if (!strcmp(a, "--hex")) {
      hex = true;
    } else if (a[0] == '-' && a[1] == '-') {
      fprintf(stderr, "km4410r-cmd: unknown option '%s' (see --help)\n", a);
      return 2;
    } else if (npos < 2) {
      positional[npos++] = a;
    } else {
      fprintf(stderr, "km4410r-cmd: too many arguments at '%s' (quote DATA that has blanks)\n", a);
      return 2;
    }
  }
  if (hex && !trace) {
    fprintf(stderr, "km4410r-cmd: option --hex needs --trace\n");
    return 2;
  }
  if (!positional[0]) {
    fprintf(stderr, "km4410r-cmd: CMD missing (see --help)\n");
    return 2;
  }
  unsigned long command = 0;
  if (!ParseByte(positional[0], &command)) {
    fprintf(stderr, "km4410r-cmd: bad command code '%s' (hex 0x21..0xFF, or decimal 33..255 without leading zeros)\n",
            positional[0]);
    return 2;
  }
  if (command < 0x21) {
    fprintf(stderr, "km4410r-cmd: command code '%s' is below 0x21\n", positional[0]);
    return 2;
  }
  unsigned long com = 0;
  if (port[0] != '/' && ((port.rfind("COM", 0) != 0 && port.rfind("com", 0) != 0) ||
                         !ParseDecimal(port.c_str() + 3, kMaxComPort, &com) || com < 1)) {
    fprintf(stderr, "km4410r-cmd: --port takes COM1..COM%lu or a device path, not '%s'\n", kMaxComPort,
            port.c_str());
    return 2;
  }
  std::string data = km_text::Utf8ToCp1251(positional[1] ? positional[1] : "");
  if (data.size() > 189) {
    fprintf(stderr, "km4410r-cmd: DATA is %zu bytes; a frame holds 189 at most\n", data.size());
    return 2;
  }

  int handle = port[0] == '/' ? OpenPortPath(port.c_str(), static_cast<int>(baud))
                              : OpenPort(static_cast<int>(com), static_cast<int>(baud));
  if (handle < 0) {
    fprintf(stderr, "km4410r-cmd: cannot open %s (%s): %s\n", port.c_str(), GetLastPortDevice(),
            GetLastPortErrorText());
    return 1;
  }

  if (trace) SetExchangeObserver(PrintTrace, hex ? &hex : nullptr);

  if (translate < 0) {
    // The register's switches (field 4 of the diagnostic answer) decide.
    translate = 0;
    if (GetDiagnosticInfo(nullptr, Keep, 0, 1) == 0 && !IsError(gAnswer.ErrorFlags) && gAnswer.FieldCount > 4) {
      translate = !SwitchesMeanNoTranslation(gAnswer.Fields[4]);
    }
  }
  SetNoTranslation(translate ? 0 : 1);

  gDelivered = false;
  if (SendCommand(nullptr, Keep, 0, static_cast<int>(command), data.c_str()) != 0 || !gDelivered) {
    fprintf(stderr, "km4410r-cmd: the driver refused the command\n");
    ClosePort();
    return 1;
  }
  PrintAnswer(gAnswer);
  ClosePort();
  return IsError(gAnswer.ErrorFlags) ? 1 : 0;
}
