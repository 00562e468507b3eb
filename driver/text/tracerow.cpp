#include "driver/text/tracerow.h"

#include <stdio.h>
#include <time.h>

#include "common/utf8.h"
#include "driver/flags.h"

namespace km_text {

namespace {

// A pause between two received bytes that starts a new line of the bytes.
constexpr uint32_t kRunGapMs = 10;
constexpr int kBytesPerLine = 24;

std::string Hex2(unsigned value) {
  char b[4];
  snprintf(b, sizeof b, "%02X", value & 0xFF);
  return b;
}

void AppendHexBytes(std::string& out, const uint8_t* bytes, int n) {
  for (int i = 0; i < n; ++i) {
    out += ' ';
    out += Hex2(bytes[i]);
  }
}

std::string HexLines(const ExchangeTrace& t) {
  std::string lines = t.written ? "    →" : "    ×";
  AppendHexBytes(lines, t.frame, t.frame ? t.frameLength : 0);
  if (!t.written) lines += "  (не отправлен)";
  lines += '\n';

  const int kept = t.received ? t.receivedLength : 0;
  for (int i = 0; i < kept;) {
    int end = i + 1;
    while (end < kept && end - i < kBytesPerLine &&
           t.receivedAtMs[end] - t.receivedAtMs[end - 1] < kRunGapMs)
      ++end;
    lines += "    ← +" + std::to_string(t.receivedAtMs[i]) + " мс:";
    AppendHexBytes(lines, t.received + i, end - i);
    lines += '\n';
    i = end;
  }
  if (t.receivedTotal > kept) {
    lines += "    ← ещё " + std::to_string(t.receivedTotal - kept) + " байт не сохранено (всего " +
             std::to_string(t.receivedTotal) + ")\n";
  }
  char flags[32];
  snprintf(flags, sizeof flags, "    флаги 0x%08X\n", t.answer ? t.answer->ErrorFlags : 0u);
  lines += flags;
  return lines;
}

}  // namespace

std::string TraceTime(int64_t msSince1970) {
  const time_t seconds = static_cast<time_t>(msSince1970 / 1000);
  struct tm local {};
  localtime_r(&seconds, &local);
  char b[16];
  snprintf(b, sizeof b, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
           static_cast<int>(msSince1970 % 1000));
  return b;
}

const char* TraceVerdictText(TraceVerdict verdict) {
  switch (verdict) {
    case kTraceAnswer: return "ответ";
    case kTraceChecksum: return "ошибка КС";
    case kTraceRefused: return "NAK";
    default: return "тишина";
  }
}

std::string TraceFlagNames(uint32_t flags) {
  std::string out;
  uint32_t named = 0;
  auto add = [&out](const char* name) {
    if (!out.empty()) out += ", ";
    out += name;
  };
  // Errors first, in the order they are reported; two flags share
  // "Обнуление ОЗУ": it is named once.
  const char* last = nullptr;
  for (uint32_t flag : kErrorReportOrder) {
    named |= flag;
    if (!(flags & flag)) continue;
    const char* text = FlagInfoOf(flag)->text;
    if (!last || std::string(last) != text) add(text);
    last = text;
  }
  // Then the register's state, in bit order.
  for (const FlagInfo& f : kFlagTable) {
    if (f.text) continue;
    named |= f.flag;
    if (flags & f.flag) add(f.state);
  }
  for (uint32_t bit = 1; bit; bit <<= 1) {
    if ((flags & bit) && !(named & bit)) {
      char b[16];
      snprintf(b, sizeof b, "0x%08X", bit);
      add(b);
    }
  }
  return out;
}

std::string TraceVisibleText(const char* cp1251) {
  std::string out = "\"";
  for (const char* p = cp1251 ? cp1251 : ""; *p; ++p) {
    const uint8_t c = static_cast<uint8_t>(*p);
    // Control bytes, DEL, the unassigned 0x98, the no-break blank and the
    // soft hyphen would not be seen (or would break the line).
    if (c < 0x20 || c == 0x7F || c == 0x98 || c == 0xA0 || c == 0xAD) {
      out += "\\x" + Hex2(c);
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else {
      out += Cp1251CharToUtf8(c);
    }
  }
  out += '"';
  return out;
}

TraceRow MakeTraceRow(const ExchangeTrace& t) {
  TraceRow row;
  row.time = TraceTime(t.sentAtMs);
  row.direction = !t.written ? "×" : t.verdict == kTraceSilence ? "→" : "→←";
  row.seq = Hex2(t.seq);
  row.command = Hex2(static_cast<unsigned>(t.command));
  const RetData* rd = t.answer;
  if (rd && rd->CommandName) row.command += " " + Cp1251ToUtf8(rd->CommandName);
  row.sent = TraceVisibleText(rd ? rd->SentData : nullptr);
  row.answer = TraceVerdictText(t.verdict);
  const char* answer = rd ? rd->AnswerText : nullptr;
  // A complete frame always has its text, empty or not; after a NAK or
  // silence only what came of a frame is shown.
  if (t.verdict == kTraceAnswer || t.verdict == kTraceChecksum || (answer && *answer))
    row.answer += " " + TraceVisibleText(answer);
  // The link: opened again before this exchange, found gone by it, or still
  // gone (opening it again failed, nothing went out).
  const std::string why = PortErrorText(t.linkError, kPortTextRussian);
  if (t.linkDropped)
    row.answer += "; связь потеряна: " + why;
  else if (!t.linkReturned && t.linkError != PortError::kNone)
    row.answer += "; связи нет: " + why;
  if (t.linkReturned) row.answer = "связь восстановлена; " + row.answer;
  row.flags = TraceFlagNames(rd ? rd->ErrorFlags : 0);
  row.durationMs = t.durationMs;
  row.hex = HexLines(t);
  return row;
}

std::string TraceRowLine(const TraceRow& row) {
  return row.time + " | " + row.direction + " | " + row.seq + " | " + row.command + " | " +
         row.sent + " | " + row.answer + " | " + (row.flags.empty() ? "—" : row.flags) + " | " +
         std::to_string(row.durationMs) + " мс";
}

}  // namespace km_text
