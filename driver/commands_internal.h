// Data-text building for the command functions: a bounded writer that never
// overruns its buffer, never allocates and writes numbers the same way
// whatever the C locale says (always a decimal point).
#pragma once
#include <cstddef>
#include <cstdint>

#include "driver/link_internal.h"

namespace km_driver {

// Writes into a caller-owned buffer of `capacity` bytes (terminating zero
// included). Once something does not fit, the writer is marked failed, keeps
// a valid (shorter) text and ignores everything after.
class TextWriter {
 public:
  TextWriter(char* buffer, size_t capacity);

  TextWriter& Char(char c);  // a zero byte ends nothing: it is skipped
  TextWriter& Text(const char* s);  // null writes nothing
  // The first `max` bytes of s (or fewer when it ends earlier).
  TextWriter& TextPrefix(const char* s, size_t max);
  // "%*s": s filled on the left with blanks to `width` characters.
  TextWriter& TextRight(const char* s, int width);
  // "%d" and "%0<width>d" (zero fill after the sign, the sign counts).
  TextWriter& Int(long long value, int zeroWidth = 0);
  // "%-#.<decimals>f" for width 0, "%#<width>.<decimals>f" otherwise: fixed
  // notation with a decimal point, blank fill on the left up to `width`.
  // A NaN or an infinity fails the writer: the register has no text for them.
  TextWriter& Fixed(double value, int decimals, int width = 0);

  bool ok() const { return ok_; }
  size_t size() const { return len_; }
  const char* c_str() const { return buf_; }

 private:
  bool Room(size_t n);
  char* buf_;
  size_t cap_;
  size_t len_ = 0;
  bool ok_;
};

// A data text for one command: room for the longest text a frame carries.
struct DataText {
  DataText() = default;
  DataText(const DataText&) = delete;
  DataText& operator=(const DataText&) = delete;
  char buffer[kMaxDataText + 1];
  TextWriter w{buffer, sizeof buffer};
};


}  // namespace km_driver
