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
#include <string.h>

#include <string>

#include "common/utf8.h"
#include "driver/flags.h"
#include "driver/hexdigit.h"
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

bool IsError(uint32_t flags) { return FirstError(flags) != nullptr; }

// --trace: one row per exchange on stderr; `context` says whether the raw
// bytes follow.
void PrintTrace(const ExchangeTrace& trace, void* context) {
  const km_text::TraceRow row = km_text::MakeTraceRow(trace);
  fprintf(stderr, "%s\n", km_text::TraceRowLine(row).c_str());
  if (context) fputs(row.hex.c_str(), stderr);
  fflush(stderr);
}

void Usage() {
  printf("usage: km4410r-cmd [--port PORT] [--baud %d] [--translate|--no-translate]\n"
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
         kDefaultLineSpeed, kMinComPort, kMaxComPort, LineSpeedsText(kPortTextEnglish));
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
  for (int b = 0; b < kStatusByteCount; ++b) {
    printf("status %d    0x%02X\n", b, rd.StatusBytes[b] | 0x80);
    for (int bit = 0; bit < kStatusBitCount; ++bit)
      printf("   [%c] 0x%02X %s\n", (rd.StatusBytes[b] >> bit) & 1 ? 'x' : ' ', 1 << bit,
             kStatusBits[b][bit].meaning);
  }
  printf("answer      \"%s\"\n", u(rd.AnswerText).c_str());
  printf("fields      %d\n", rd.FieldCount);
  for (int i = 0; i < rd.FieldCount && i < kMaxFields; ++i) printf("  [%d] \"%s\"\n", i, u(rd.Fields[i]).c_str());
}

// ---- The command line ------------------------------------------------------
// Every refusal of the command line is one line on stderr that names the
// argument at fault, and exit status 2.

struct Options {
  std::string port = "COM1";
  unsigned long baud = kDefaultLineSpeed;
  int translate = -1;  // -1: as the register's switches say
  bool trace = false;
  bool hex = false;
  bool listPorts = false;
  bool json = false;
  const char* sysRoot = nullptr;  // --sysfs: another sysfs tree than /sys
  const char* positional[2] = {nullptr, nullptr};
  int npos = 0;
};

// A flag without a value; false for any other argument.
bool TakeFlag(const char* a, Options* o) {
  const struct {
    const char* name;
    bool* flag;
  } flags[] = {{"--trace", &o->trace}, {"--hex", &o->hex}, {"--list-ports", &o->listPorts}, {"--json", &o->json}};
  for (const auto& f : flags) {
    if (strcmp(a, f.name) == 0) {
      *f.flag = true;
      return true;
    }
  }
  if (strcmp(a, "--translate") == 0 || strcmp(a, "--no-translate") == 0) {
    o->translate = strcmp(a, "--translate") == 0 ? 1 : 0;
    return true;
  }
  return false;
}

// Reads the arguments into *o: -1 when they are fine, else the exit status
// (--help: 0 after the usage text).
int ParseArguments(int argc, char** argv, Options* o) {
  const unsigned long fastest = static_cast<unsigned long>(kLineSpeeds[kLineSpeedCount - 1]);
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
      o->port = argv[++i];
    } else if (!strcmp(a, "--baud")) {
      if (!ParseDecimal(argv[++i], fastest, &o->baud) || !IsLineSpeed(static_cast<int>(o->baud))) {
        fprintf(stderr, "km4410r-cmd: bad speed '%s' (%s)\n", argv[i], LineSpeedsText(kPortTextEnglish));
        return 2;
      }
    } else if (!strcmp(a, "--sysfs")) {
      o->sysRoot = argv[++i];
    } else if (TakeFlag(a, o)) {
    } else if (a[0] == '-' && a[1] == '-') {
      fprintf(stderr, "km4410r-cmd: unknown option '%s' (see --help)\n", a);
      return 2;
    } else if (o->npos < 2) {
      o->positional[o->npos++] = a;
    } else {
      fprintf(stderr, "km4410r-cmd: too many arguments at '%s' (quote DATA that has blanks)\n", a);
      return 2;
    }
  }
  if ((o->json || o->sysRoot) && !o->listPorts) {
    fprintf(stderr, "km4410r-cmd: option %s needs --list-ports\n", o->json ? "--json" : "--sysfs");
    return 2;
  }
  return -1;
}

// The command, its data and the port as the options give them: -1 when they
// are fine, else the exit status.
int CheckCommand(const Options& o, unsigned long* command, std::string* data) {
  if (o.hex && !o.trace) {
    fprintf(stderr, "km4410r-cmd: option --hex needs --trace\n");
    return 2;
  }
  if (!o.positional[0]) {
    fprintf(stderr, "km4410r-cmd: CMD missing (see --help)\n");
    return 2;
  }
  if (!ParseByte(o.positional[0], command)) {
    fprintf(stderr, "km4410r-cmd: bad command code '%s' (hex 0x21..0xFF, or decimal 33..255 without leading zeros)\n",
            o.positional[0]);
    return 2;
  }
  if (*command < static_cast<unsigned long>(kFirstCommandCode)) {
    fprintf(stderr, "km4410r-cmd: command code '%s' is below 0x21\n", o.positional[0]);
    return 2;
  }
  if (!ParsePortName(o.port.c_str(), nullptr)) {
    fprintf(stderr, "km4410r-cmd: --port takes %s, not '%s'\n", PortNameRuleText(kPortTextEnglish), o.port.c_str());
    return 2;
  }
  *data = km_text::Utf8ToCp1251(o.positional[1] ? o.positional[1] : "");
  if (data->size() > static_cast<size_t>(kMaxDataText)) {
    fprintf(stderr, "km4410r-cmd: DATA is %zu bytes; a frame holds %d at most\n", data->size(), kMaxDataText);
    return 2;
  }
  return -1;
}

// ---- The exchange -----------------------------------------------------------

bool OpenRegisterPort(const Options& o) {
  if (OpenPortByName(o.port.c_str(), static_cast<int>(o.baud)) >= 0) return true;
  if (o.port == GetLastPortDevice())
    fprintf(stderr, "km4410r-cmd: cannot open %s: %s\n", o.port.c_str(), GetLastPortErrorText());
  else
    fprintf(stderr, "km4410r-cmd: cannot open %s (%s): %s\n", o.port.c_str(), GetLastPortDevice(),
            GetLastPortErrorText());
  return false;
}

// The register's switches (field 4 of the diagnostic answer) decide whether
// texts are translated: 1 or 0, or -1 when the register does not answer (a
// register that does not answer would only keep the command waiting as long
// again).
int SwitchProbe(const Options& o) {
  gAnswer = RetData{};
  if (GetDiagnosticInfo(nullptr, Keep, 0, 1) == 0 && (gAnswer.ErrorFlags & kFlagTimeout)) {
    fprintf(stderr, "km4410r-cmd: no answer from the register on %s (%s) to the switch probe; command not sent\n",
            o.port.c_str(), GetLastPortDevice());
    return -1;
  }
  DiagnosticInfo info;
  ParseDiagnosticInfo(gAnswer, &info);
  return !IsError(gAnswer.ErrorFlags) && gAnswer.FieldCount > 4 ? !SwitchesMeanNoTranslation(info.switches) : 0;
}

// One command on the open port: the exit status.
int RunCommand(const Options& o, unsigned long command, const std::string& data) {
  const int translate = o.translate >= 0 ? o.translate : SwitchProbe(o);
  if (translate < 0) return 1;
  SetNoTranslation(translate ? 0 : 1);
  gDelivered = false;
  if (SendCommand(nullptr, Keep, 0, static_cast<int>(command), data.c_str()) != 0 || !gDelivered) {
    const char* why = RefusalMessage(GetLastRefusal());
    fprintf(stderr, "km4410r-cmd: the driver refused the command%s%s\n", why ? ": " : "", why ? why : "");
    return 1;
  }
  PrintAnswer(gAnswer);
  return IsError(gAnswer.ErrorFlags) ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  int status = ParseArguments(argc, argv, &o);
  if (status >= 0) return status;
  if (o.listPorts) {
    if (o.npos > 0) {
      fprintf(stderr, "km4410r-cmd: --list-ports takes no command\n");
      return 2;
    }
    return km_text::PrintPortList("km4410r-cmd", o.json, o.sysRoot);
  }
  unsigned long command = 0;
  std::string data;
  status = CheckCommand(o, &command, &data);
  if (status >= 0) return status;
  if (!OpenRegisterPort(o)) return 1;
  if (o.trace) SetExchangeObserver(PrintTrace, o.hex ? &o.hex : nullptr);
  status = RunCommand(o, command, data);
  ClosePort();
  return status;
}
