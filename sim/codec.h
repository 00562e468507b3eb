// Frame codec and code pages of the KM4410R serial protocol, register side.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace km4410r::sim {

inline constexpr uint8_t kSoh = 0x01;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kSep = 0x04;
inline constexpr uint8_t kPost = 0x05;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kSyn = 0x16;

using StatusBytes = std::array<uint8_t, 6>;

// Appends the four checksum digits (0x30 + nibble, most significant first) of
// the low 16 bits of sum.
void appendChecksum(std::vector<uint8_t>& out, uint32_t sum);

// A host-to-register frame: 0x01, LEN, SEQ, CMD, data, 0x05, checksum, 0x03.
std::vector<uint8_t> buildHostFrame(uint8_t seq, uint8_t cmd, std::string_view data);

// A register-to-host frame: 0x01, LEN = 0x2B + n, SEQ, CMD, data, 0x04, six
// status bytes (bit 7 forced on), 0x05, checksum, 0x03. With badChecksum the
// checksum digits are those of a different sum.
std::vector<uint8_t> buildAnswerFrame(uint8_t seq, uint8_t cmd, std::string_view data,
                                      const StatusBytes& status, bool badChecksum = false);

// A frame as the host sent it.
struct HostFrame {
  std::vector<uint8_t> raw;
  uint8_t seq = 0;
  uint8_t cmd = 0;
  std::string data;
  bool checksumOk = false;  // false also for a frame whose trailer is broken
};

// Byte-by-byte parser of host frames. Bytes outside a frame are ignored; the
// frame is taken by its LEN, so any byte may occur in the data.
class HostFrameParser {
 public:
  // Returns a frame when byte completes one (well formed or not).
  std::optional<HostFrame> feed(uint8_t byte);
  void reset();
  bool inFrame() const { return state_ != State::Idle; }

 private:
  enum class State { Idle, Len, Seq, Cmd, Data, Post, Digits, End };
  State state_ = State::Idle;
  HostFrame cur_;
  size_t need_ = 0;
  uint32_t sum_ = 0;
  uint32_t received_ = 0;
  int digits_ = 0;
  bool broken_ = false;
};

// A register answer as a host sees it (used by tests and bench clients).
struct AnswerFrame {
  uint8_t seq = 0;
  uint8_t cmd = 0;
  std::string data;
  StatusBytes status{};
  bool checksumOk = false;
};

// Parses register answers; SYN and other bytes outside a frame are counted.
class AnswerParser {
 public:
  std::optional<AnswerFrame> feed(uint8_t byte);
  int bytesOutsideFrames() const { return outside_; }

 private:
  std::vector<uint8_t> buf_;
  int outside_ = 0;
};

// Code pages. hostToRegister is the tool's translation of a CP1251 byte into the
// register's code page; registerToHost is the tool's table for the way back
// (not an exact inverse: lower-case letters do not survive it). registerToCp1251
// is the register's own reading of a translated byte (the inverse of
// hostToRegister, preferring the letter where two host bytes share a code).
uint8_t hostToRegister(uint8_t b);
uint8_t registerToHost(uint8_t b);
uint8_t registerToCp1251(uint8_t b);
std::string toRegisterPage(std::string_view cp1251);
std::string fromRegisterPage(std::string_view registerText);   // registerToCp1251
std::string hostReading(std::string_view registerText);        // registerToHost


}  // namespace km4410r::sim
