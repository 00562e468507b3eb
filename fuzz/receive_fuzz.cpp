// The receive machine and the answer decoding fed arbitrary byte streams.
// The first byte picks the command of the exchange and the translation switch.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "driver/testing.h"

namespace {
const int kCommands[] = {0x32, 0x35, 0x3E, 0x5A, 0x4A, 0x25, 0x6C, 0xFF};

void Check(bool ok) {
  if (!ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int command = kCommands[data[0] & 7];
  SetNoTranslation((data[0] & 8) ? 0 : 1);
  km_driver::BeginAnswer(command);
  for (size_t i = 1; i < size; ++i) km_driver::FeedByte(data[i]);
  km_driver::FinishAnswer();

  const RetData& rd = DriverRetData();
  Check(rd.FieldCount >= 0 && rd.FieldCount <= 20);
  Check(strnlen(rd.AnswerText, 200) <= 128);
  size_t buffer = 0;
  const char* lo = km_driver::AnswerBuffer(&buffer);
  const char* hi = lo + buffer;
  for (int i = 0; i < rd.FieldCount; ++i) {
    Check(rd.Fields[i] >= lo && rd.Fields[i] < hi);
    Check(memchr(rd.Fields[i], 0, static_cast<size_t>(hi - rd.Fields[i])) != nullptr);
  }
  if (!km_driver::AnswerComplete()) Check(rd.ErrorFlags == kFlagTimeout);
  for (int i = 0; i < 6; ++i) Check(rd.StatusBytes[i] < 0x80);
  return 0;
}
