#include "sim/codec.h"

namespace km4410r::sim {

void appendChecksum(std::vector<uint8_t>& out, uint32_t sum) {
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(static_cast<uint8_t>(0x30 + ((sum >> shift) & 0x0F)));
}

std::vector<uint8_t> buildHostFrame(uint8_t seq, uint8_t cmd, std::string_view data) {
  std::vector<uint8_t> f;
  f.reserve(data.size() + 10);
  f.push_back(kSoh);
  f.push_back(static_cast<uint8_t>(data.size() + 0x24));
  f.push_back(seq);
  f.push_back(cmd);
  for (char c : data) f.push_back(static_cast<uint8_t>(c));
  f.push_back(kPost);
  uint32_t sum = 0;
  for (size_t i = 1; i < f.size(); ++i) sum += f[i];
  appendChecksum(f, sum);
  f.push_back(kEtx);
  return f;
}

std::vector<uint8_t> buildAnswerFrame(uint8_t seq, uint8_t cmd, std::string_view data,
                                      const StatusBytes& status, bool badChecksum) {
  std::vector<uint8_t> f;
  f.reserve(data.size() + 17);
  f.push_back(kSoh);
  f.push_back(static_cast<uint8_t>(0x2B + data.size()));
  f.push_back(seq);
  f.push_back(cmd);
  for (char c : data) f.push_back(static_cast<uint8_t>(c));
  f.push_back(kSep);
  for (uint8_t s : status) f.push_back(static_cast<uint8_t>(s | 0x80));
  f.push_back(kPost);
  uint32_t sum = 0;
  for (size_t i = 1; i < f.size(); ++i) sum += f[i];
  if (badChecksum) sum ^= 0x0101;
  appendChecksum(f, sum);
  f.push_back(kEtx);
  return f;
}

void HostFrameParser::reset() {
  state_ = State::Idle;
  cur_ = HostFrame{};
}

std::optional<HostFrame> HostFrameParser::feed(uint8_t b) {
  if (state_ != State::Idle) cur_.raw.push_back(b);
  switch (state_) {
    case State::Idle:
      if (b == kSoh) {
        cur_ = HostFrame{};
        cur_.raw.push_back(b);
        sum_ = 0;
        broken_ = false;
        state_ = State::Len;
      }
      return std::nullopt;
    case State::Len:
      if (b < 0x24) {  // not a frame after all
        if (b == kSoh) {
          cur_ = HostFrame{};
          cur_.raw.push_back(b);
          return std::nullopt;
        }
        reset();
        return std::nullopt;
      }
      need_ = b - 0x24u;
      sum_ += b;
      state_ = State::Seq;
      return std::nullopt;
    case State::Seq:
      cur_.seq = b;
      sum_ += b;
      state_ = State::Cmd;
      return std::nullopt;
    case State::Cmd:
      cur_.cmd = b;
      sum_ += b;
      state_ = need_ ? State::Data : State::Post;
      return std::nullopt;
    case State::Data:
      cur_.data.push_back(static_cast<char>(b));
      sum_ += b;
      if (cur_.data.size() == need_) state_ = State::Post;
      return std::nullopt;
    case State::Post:
      if (b != kPost) broken_ = true;
      sum_ += b;
      received_ = 0;
      digits_ = 0;
      state_ = State::Digits;
      return std::nullopt;
    case State::Digits:
      if (b < 0x30 || b > 0x3F) broken_ = true;
      received_ = received_ * 16 + ((b - 0x30) & 0x0F);
      if (++digits_ == 4) state_ = State::End;
      return std::nullopt;
    case State::End: {
      if (b != kEtx) broken_ = true;
      HostFrame done = std::move(cur_);
      done.checksumOk = !broken_ && received_ == (sum_ & 0xFFFF);
      reset();
      return done;
    }
  }
  return std::nullopt;
}

std::optional<AnswerFrame> AnswerParser::feed(uint8_t b) {
  if (buf_.empty()) {
    if (b == kSoh) buf_.push_back(b);
    else ++outside_;
    return std::nullopt;
  }
  buf_.push_back(b);
  if (buf_.size() == 2 && b < 0x2B) {
    buf_.clear();
    if (b == kSoh) buf_.push_back(b);
    return std::nullopt;
  }
  if (buf_.size() < 2) return std::nullopt;
  size_t n = buf_[1] - 0x2Bu;
  size_t total = n + 17;
  if (buf_.size() < total) return std::nullopt;
  AnswerFrame a;
  a.seq = buf_[2];
  a.cmd = buf_[3];
  a.data.assign(buf_.begin() + 4, buf_.begin() + 4 + static_cast<long>(n));
  for (size_t i = 0; i < 6; ++i) a.status[i] = buf_[5 + n + i];
  uint32_t sum = 0;
  for (size_t i = 1; i <= 11 + n; ++i) sum += buf_[i];
  uint32_t got = 0;
  for (size_t i = 12 + n; i < 16 + n; ++i) got = got * 16 + ((buf_[i] - 0x30) & 0x0F);
  a.checksumOk = buf_[4 + n] == kSep && buf_[11 + n] == kPost && buf_[16 + n] == kEtx &&
                 got == (sum & 0xFFFF);
  buf_.clear();
  return a;
}

namespace {

// The code page tables of the tool as the register expects them, written
// out: bytes below 0x80 pass unchanged both ways, these are 0x80..0xFF.
// clang-format off
const uint8_t kHostToRegisterHigh[128] = {
  0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F,
  0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F,
  0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0x85, 0xA9, 0xC0, 0xAB, 0xAC, 0xAD, 0xAE, 0xC2,  // Ё Є Ї
  0xB0, 0xB1, 0x49, 0x69, 0xB4, 0xB5, 0xB6, 0xB7, 0xA5, 0xB9, 0xC1, 0xBB, 0xBC, 0xBD, 0xBE, 0xC3,  // І і ё є ї
  0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F,  // А..П
  0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F,  // Р..Я
  0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,  // а..п
  0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,  // р..я
};
const uint8_t kRegisterToHostHigh[128] = {
  0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,  // А..П
  0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,  // Р..Я
  0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xC0, 0xAB, 0xAC, 0xAD, 0xAE, 0xC2,
  0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
  0xAA, 0xBA, 0xAF, 0xBF, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,  // Є є Ї ї
  0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
  0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
  0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
};
// clang-format on

}  // namespace

uint8_t hostToRegister(uint8_t b) { return b < 0x80 ? b : kHostToRegisterHigh[b - 0x80]; }

uint8_t registerToHost(uint8_t b) { return b < 0x80 ? b : kRegisterToHostHigh[b - 0x80]; }

uint8_t registerToCp1251(uint8_t b) {
  if (b >= 0x80 && b <= 0xBF) return static_cast<uint8_t>(b + 0x40);  // А..я win over Ё, ё, Ґ ...
  switch (b) {
    case 0xC0: return 0xAA;
    case 0xC1: return 0xBA;
    case 0xC2: return 0xAF;
    case 0xC3: return 0xBF;
    default: return b;  // 'I' and 'i' stay Latin
  }
}

std::string toRegisterPage(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(hostToRegister(static_cast<uint8_t>(c)));
  return r;
}

std::string fromRegisterPage(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(registerToCp1251(static_cast<uint8_t>(c)));
  return r;
}

std::string hostReading(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(registerToHost(static_cast<uint8_t>(c)));
  return r;
}

}  // namespace km4410r::sim
