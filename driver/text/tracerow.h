// One exchange of the trace as text: the row the trace window shows and
// km4410r-cmd --trace prints, and the raw bytes under it on demand. UTF-8,
// no Qt; allocates (it runs in the observer, not in the driver).
//
// A row, its fields joined by " | ":
//   14:03:27.512 | →← | 21 | 4A Получить состояние регистратора | "W" | ответ "1,2,,3" | — | 12 мс
// time of the send (local, hh:mm:ss.mmm); direction: →← answered (a frame,
// a broken frame or a NAK came back), → sent and not answered, × not sent
// (the line took no bytes: output stopped, a hung adapter); SEQ in hex;
// command code in hex and its name; the data sent and the answer text in quotes, decoded from CP1251
// with control bytes and invisible characters written \xNN (and \" \\), so
// a row is always one line; the answer field starts with the verdict
// ("ответ", "ошибка КС", "NAK", "тишина"), then the link's change, if any
// ("связь восстановлена; " before it, "; связь потеряна: REASON" or
// "; связи нет: REASON" after it); the flags set: errors by their
// message (capitalised), the register's state in lower case, "—" for none;
// the duration.
//
// The raw bytes, each line indented by four blanks:
//     → 01 25 21 4A 57 05 30 30 3D 37 03         the frame written (× when not)
//     ← +3 мс: 16                                 bytes read, as on the line,
//     ← +58 мс: 01 2B 21 4A 04 80 ...             a line per run (a new one
//                                                 after a pause of 10 ms or
//                                                 more, or 24 bytes), with the
//                                                 time after the send
//     ← ещё 1000 байт не сохранено (всего 5096)   more came than were kept
//     флаги 0x00000000
#pragma once
#include <cstdint>
#include <string>

#include "driver/trace.h"

namespace km_text {

struct TraceRow {
  std::string time;       // hh:mm:ss.mmm
  std::string direction;  // "→←", "→" or "×"
  std::string seq;        // two hex digits
  std::string command;    // "4A Получить состояние регистратора"
  std::string sent;       // quoted, escaped
  std::string answer;     // verdict, then the quoted answer when there is one
  std::string flags;      // names joined by ", "; empty when none is set
  int durationMs = 0;
  // The raw-byte lines, each indented and ended by '\n' (one text, not a
  // text per line: a busy register's SYN makes many short lines).
  std::string hex;
};

TraceRow MakeTraceRow(const ExchangeTrace& trace);
// The row as one line (no line end).
std::string TraceRowLine(const TraceRow& row);

// Pieces, for those who show the fields apart.
std::string TraceTime(int64_t msSince1970);  // local time hh:mm:ss.mmm
const char* TraceVerdictText(TraceVerdict verdict);
std::string TraceFlagNames(uint32_t flags);
// A CP1251 text in quotes, as the row shows it (null: "").
std::string TraceVisibleText(const char* cp1251);

}  // namespace km_text
