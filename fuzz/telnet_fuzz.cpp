// The RFC 2217 receive side fed what a hostile or broken server might send:
// IAC escapes, option negotiation, COM port subnegotiations of any code and
// length, a subnegotiation that never ends. The first byte picks how the
// stream is cut into reads. Besides the sanitizers' checks: the data bytes
// never outnumber the bytes received, how the stream is cut never changes
// them, and a server's doubled 0xFF bytes come back as the data it escaped.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "driver/testing.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// The data bytes of `stream` taken `piece` bytes a read.
std::vector<uint8_t> Received(const std::vector<uint8_t>& stream, int piece) {
  std::vector<uint8_t> out(stream.size() + 1);
  const int n = km_driver::net::TelnetReceiveForTests(stream.data(), static_cast<int>(stream.size()), piece,
                                                      out.data());
  Check(n >= 0 && static_cast<size_t>(n) <= stream.size());
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 65536) return 0;
  const int piece = 1 + data[0] % 64;
  const std::vector<uint8_t> stream(data + 1, data + size);
  const std::vector<uint8_t> whole = Received(stream, static_cast<int>(stream.size()) + 1);
  Check(Received(stream, piece) == whole);
  Check(Received(stream, 1) == whole);
  if (!memchr(stream.data(), 0xFF, stream.size())) Check(whole == stream);

  // The same bytes as data, escaped as a server escapes them.
  std::vector<uint8_t> escaped;
  for (uint8_t b : stream) {
    escaped.push_back(b);
    if (b == 0xFF) escaped.push_back(0xFF);
  }
  Check(Received(escaped, piece) == stream);
  return 0;
}
