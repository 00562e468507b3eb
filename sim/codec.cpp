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

uint8_t hostToRegister(uint8_t b) {
  if (b >= 0xC0) return static_cast<uint8_t>(b - 0x40);
  switch (b) {
    case 0xA8: return 0x85;
    case 0xB8: return 0xA5;
    case 0xAA: return 0xC0;
    case 0xBA: return 0xC1;
    case 0xAF: return 0xC2;
    case 0xBF: return 0xC3;
    case 0xB2: return 0x49;
    case 0xB3: return 0x69;
    default: return b;
  }
}

uint8_t registerToHost(uint8_t b) {
  if (b >= 0x80 && b <= 0x9F) return static_cast<uint8_t>(b + 0x40);
  switch (b) {
    case 0xAA: return 0xC0;
    case 0xAF: return 0xC2;
    case 0xC0: return 0xAA;
    case 0xC1: return 0xBA;
    case 0xC2: return 0xAF;
    case 0xC3: return 0xBF;
    default: return b;
  }
}

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

namespace {

// Code points of CP1251 0x80..0xBF (0xC0..0xFF are U+0410..U+044F); 0 = unassigned.
constexpr uint16_t kHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

unsigned codePoint(uint8_t b) {
  if (b < 0x80) return b;
  if (b >= 0xC0) return 0x0410u + (b - 0xC0u);
  return kHigh[b - 0x80];
}

void appendUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::string cp1251Char(uint8_t b) {
  std::string s;
  unsigned cp = codePoint(b);
  appendUtf8(s, cp ? cp : '?');
  return s;
}

std::string cp1251ToUtf8(std::string_view s) {
  std::string out;
  for (char c : s) out += cp1251Char(static_cast<uint8_t>(c));
  return out;
}

std::string utf8ToCp1251(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    unsigned c = static_cast<uint8_t>(s[i]);
    unsigned cp = c;
    int extra = 0;
    if (c >= 0xF0) { cp = c & 0x07; extra = 3; }
    else if (c >= 0xE0) { cp = c & 0x0F; extra = 2; }
    else if (c >= 0xC0) { cp = c & 0x1F; extra = 1; }
    for (int k = 1; k <= extra && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3F);
    i += 1 + extra;
    if (cp < 0x80) { out.push_back(static_cast<char>(cp)); continue; }
    char found = '?';
    for (unsigned b = 0x80; b <= 0xFF; ++b)
      if (codePoint(static_cast<uint8_t>(b)) == cp) { found = static_cast<char>(b); break; }
    out.push_back(found);
  }
  return out;
}

}  // namespace km4410r::sim
