// km4410r-cmd: sends one command to the register and prints the decoded answer.
//
//   km4410r-cmd [--port PORT] [--baud 19200] [--translate|--no-translate]
//               [--trace [--hex]] CMD [DATA]
//
// CMD is the command code in hex (0x4A) or decimal (74; "074" is refused, not
// read as octal); DATA is the data text in the terminal's UTF-8. Without
// --translate/--no-translate the register's switches decide, as in the main
// window (a diagnostic request first; a register that does not answer it is
// not sent the command). --trace prints a row per exchange on stderr
// (driver/text/tracerow.h), --hex adds the bytes as on the line.
// Exit status: 0 an answer without error flags, 1 a register or link error,
// 2 bad usage.
#include <stdio.h>
#include <sys/stat.h>
#include <string.h>

#include <string>

#include "common/utf8.h"
#include "driver/flags.h"
#include "driver/printer.h"
#include "driver/text/portrows.h"
#include "driver/text/tracerow.h"
#include "driver/trace.h"

namespace {

RetData gAnswer{};
bool gDelivered = false;
void Keep(RetData& rd) {
  gAnswer = rd;
  gDelivered = true;
}

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

// The line speeds as a list: "9600, 19200, 57600 or 115200".
std::string SpeedList() {
  std::string list;
  for (int i = 0; i < kLineSpeedCount; ++i) {
    if (i > 0) list += i + 1 < kLineSpeedCount ? ", " : " or ";
    list += std::to_string(kLineSpeeds[i]);
  }
  return list;
}

void Usage() {
  printf("usage: km4410r-cmd [--port PORT] [--baud 19200] [--translate|--no-translate]\n"
         "                   [--trace [--hex]] CMD [DATA]\n"
         "       km4410r-cmd --list-ports [--json] [--sysfs DIR]\n"
         "  --list-ports  the serial ports of this machine, one a line, tab-separated: path,\n"
         "           name, kind, driver, maker, product, vendor and product id, serial,\n"
         "           description (--json: an array of objects with those fields);\n"
         "           --sysfs DIR: the ports of a sysfs tree at DIR instead of /sys\n"
         "  --port COM<n> (%d..%d), a device path, or a register on the network:\n"
         "         tcp://HOST:PORT (raw TCP) or rfc2217://HOST:PORT (Telnet, RFC 2217)\n"
         "  --baud %s\n"
         "  --trace  a row per exchange on stderr (time, direction, SEQ, command, data,\n"
         "           verdict and answer, flags, ms); --hex adds the bytes as on the line\n"
         "  CMD   command code 0x21..0xFF: hex (0x4A) or decimal without leading zeros (74)\n"
         "  DATA  data text (UTF-8; sent in the register's code page)\n"
         "exit status: 0 answer without error flags, 1 register or link error, 2 bad usage\n",
         kMinComPort, kMaxComPort, SpeedList().c_str());
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

void PrintAnswer(const RetData& rd) {
  auto u = [](const char* cp) { return km_text::Cp1251ToUtf8(cp ? cp : ""); };
  printf("command     0x%02X %s\n", rd.Command & 0xFF, u(rd.CommandName).c_str());
  printf("sent        \"%s\"\n", u(rd.SentData).c_str());
  printf("flags       0x%08X\n", rd.ErrorFlags);
  bool first = true;
  for (uint32_t flag : kErrorReportOrder) {
    if (rd.ErrorFlags & flag) {
      printf("  error     0x%08X %s%s\n", flag, FlagInfoOf(flag)->text, first ? "   <- reported" : "");
      first = false;
    }
  }
  for (const FlagInfo& f : kFlagTable)
    if (!f.text && (rd.ErrorFlags & f.flag)) printf("  state     0x%08X %s\n", f.flag, f.name);
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
  const unsigned long fastest = static_cast<unsigned long>(kLineSpeeds[kLineSpeedCount - 1]);
  int translate = -1;  // -1: as the register's switches say
  bool trace = false;
  bool hex = false;
  bool listPorts = false;
  bool json = false;
  const char* sysRoot = nullptr;  // --sysfs: another sysfs tree than /sys
  const char* positional[2] = {nullptr, nullptr};
  int npos = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const bool takesValue = !strcmp(a, "--port") || !strcmp(a, "--baud") || !strcmp(a, "--sysfs");
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
      if (!ParseDecimal(argv[++i], fastest, &baud) || !IsLineSpeed(static_cast<int>(baud))) {
        fprintf(stderr, "km4410r-cmd: bad speed '%s' (%s)\n", argv[i], SpeedList().c_str());
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
    } else if (!strcmp(a, "--list-ports")) {
      listPorts = true;
    } else if (!strcmp(a, "--json")) {
      json = true;
    } else if (!strcmp(a, "--sysfs")) {
      sysRoot = argv[++i];
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
  if ((json || sysRoot) && !listPorts) {
    fprintf(stderr, "km4410r-cmd: option %s needs --list-ports\n", json ? "--json" : "--sysfs");
    return 2;
  }
  if (listPorts) {
    if (npos > 0) {
      fprintf(stderr, "km4410r-cmd: --list-ports takes no command\n");
      return 2;
    }
    struct stat st;
    if (sysRoot && (stat(sysRoot, &st) != 0 || !S_ISDIR(st.st_mode))) {
      fprintf(stderr, "km4410r-cmd: --sysfs %s: no such folder\n", sysRoot);
      return 2;
    }
    fputs(km_text::ListPortRows(json, sysRoot).c_str(), stdout);
    return 0;
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
  if (!ParsePortName(port.c_str(), nullptr)) {
    fprintf(stderr,
            "km4410r-cmd: --port takes COM%d..COM%d, a device path, tcp://HOST:PORT or rfc2217://HOST:PORT, not "
            "'%s'\n",
            kMinComPort,
            kMaxComPort, port.c_str());
    return 2;
  }
  std::string data = km_text::Utf8ToCp1251(positional[1] ? positional[1] : "");
  if (data.size() > 189) {
    fprintf(stderr, "km4410r-cmd: DATA is %zu bytes; a frame holds 189 at most\n", data.size());
    return 2;
  }

  if (OpenPortByName(port.c_str(), static_cast<int>(baud)) < 0) {
    if (port == GetLastPortDevice())
      fprintf(stderr, "km4410r-cmd: cannot open %s: %s\n", port.c_str(), GetLastPortErrorText());
    else
      fprintf(stderr, "km4410r-cmd: cannot open %s (%s): %s\n", port.c_str(), GetLastPortDevice(),
              GetLastPortErrorText());
    return 1;
  }

  if (trace) SetExchangeObserver(PrintTrace, hex ? &hex : nullptr);

  if (translate < 0) {
    // The register's switches (field 4 of the diagnostic answer) decide. A
    // register that does not answer would only keep the command waiting as
    // long again.
    translate = 0;
    gAnswer = RetData{};
    if (GetDiagnosticInfo(nullptr, Keep, 0, 1) == 0 && (gAnswer.ErrorFlags & kFlagTimeout)) {
      fprintf(stderr, "km4410r-cmd: no answer from the register on %s (%s) to the switch probe; command not sent\n",
              port.c_str(), GetLastPortDevice());
      ClosePort();
      return 1;
    }
    DiagnosticInfo info;
    ParseDiagnosticInfo(gAnswer, &info);
    if (!IsError(gAnswer.ErrorFlags) && gAnswer.FieldCount > 4) translate = !SwitchesMeanNoTranslation(info.switches);
  }
  SetNoTranslation(translate ? 0 : 1);

  gDelivered = false;
  if (SendCommand(nullptr, Keep, 0, static_cast<int>(command), data.c_str()) != 0 || !gDelivered) {
    const char* why = RefusalMessage(GetLastRefusal());
    fprintf(stderr, "km4410r-cmd: the driver refused the command%s%s\n", why ? ": " : "", why ? why : "");
    ClosePort();
    return 1;
  }
  PrintAnswer(gAnswer);
  ClosePort();
  return IsError(gAnswer.ErrorFlags) ? 1 : 0;
}
