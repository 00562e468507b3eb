// Frame codec and code pages of the simulator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/cp1251.h"
#include "common/utf8.h"
#include "sim/codec.h"

namespace km4410r::sim {
namespace {

std::vector<HostFrame> ParseAll(const std::vector<uint8_t>& bytes) {
  HostFrameParser p;
  std::vector<HostFrame> out;
  for (uint8_t b : bytes)
    if (auto f = p.feed(b)) out.push_back(*f);
  return out;
}

TEST(HostFrameTest, BuildsTheFrameTheToolSends) {
  // 0x5A "1": LEN 0x25, sum 0x25+0x21+0x5A+0x31+0x05 = 0xD6.
  std::vector<uint8_t> expect = {0x01, 0x25, 0x21, 0x5A, '1', 0x05, '0', '0', '=', '6', 0x03};
  EXPECT_EQ(buildHostFrame(0x21, 0x5A, "1"), expect);
  auto empty = buildHostFrame(0x20, 0x21, "");
  EXPECT_EQ(empty.size(), 10u);
  EXPECT_EQ(empty[1], 0x24);
}

TEST(HostFrameTest, ParsesByLengthAndJudgesTheChecksum) {
  std::string data("\x10\x5B\x48\x01\x03\x15", 6);  // control bytes inside the data
  auto frame = buildHostFrame(0x33, 0x64, data);
  std::vector<uint8_t> line = {0x16, 0x03, 'x'};  // noise before the frame
  line.insert(line.end(), frame.begin(), frame.end());
  auto got = ParseAll(line);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(got[0].checksumOk);
  EXPECT_EQ(got[0].seq, 0x33);
  EXPECT_EQ(got[0].cmd, 0x64);
  EXPECT_EQ(got[0].data, data);
  EXPECT_EQ(got[0].raw, frame);

  auto bad = frame;
  bad[bad.size() - 2] ^= 0x01;  // last checksum digit
  got = ParseAll(bad);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_FALSE(got[0].checksumOk);

  auto noEnd = frame;
  noEnd.back() = 0x02;
  EXPECT_FALSE(ParseAll(noEnd).at(0).checksumOk);
  auto noPost = buildHostFrame(0x21, 0x4A, "W");
  noPost[5] = 0x06;
  EXPECT_FALSE(ParseAll(noPost).at(0).checksumOk);
}

TEST(HostFrameTest, ShortLengthIsNoFrameAndASecondStartRestarts) {
  auto frame = buildHostFrame(0x22, 0x4A, "W");
  std::vector<uint8_t> line = {0x01, 0x10, 0x01};  // LEN below 0x24, then a start
  line.insert(line.end(), frame.begin() + 1, frame.end());
  auto got = ParseAll(line);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(got[0].checksumOk);
  EXPECT_EQ(got[0].data, "W");
}

TEST(AnswerFrameTest, LayoutStatusBitAndChecksum) {
  StatusBytes st = {0x00, 0x02, 0x08, 0x2C, 0x00, 0x3A};
  auto f = buildAnswerFrame(0x2A, 0x30, "12", st);
  ASSERT_EQ(f.size(), 19u);
  EXPECT_EQ(f[1], 0x2B + 2);
  EXPECT_EQ(f[6], kSep);
  for (int i = 7; i < 13; ++i) EXPECT_EQ(f[i] & 0x80, 0x80) << i;
  EXPECT_EQ(f[13], kPost);
  for (int i = 14; i < 18; ++i) EXPECT_TRUE(f[i] >= 0x30 && f[i] <= 0x3F);
  EXPECT_EQ(f[18], kEtx);

  AnswerParser p;
  std::optional<AnswerFrame> a;
  for (uint8_t b : f) a = p.feed(b);
  ASSERT_TRUE(a);
  EXPECT_TRUE(a->checksumOk);
  EXPECT_EQ(a->data, "12");
  EXPECT_EQ(a->status[3], 0xAC);

  auto bad = buildAnswerFrame(0x2A, 0x30, "12", st, true);
  AnswerParser q;
  for (uint8_t b : bad) a = q.feed(b);
  EXPECT_FALSE(a->checksumOk);
}

TEST(CodePageTest, LineBytesAndTheirReadings) {
  // А Я а я Ё ё Є є Ї ї І і Ґ, then plain ASCII.
  const std::string host("\xC0\xDF\xE0\xFF\xA8\xB8\xAA\xBA\xAF\xBF\xB2\xB3\xA5 1,x");
  const std::string line("\x80\x9F\xA0\xBF\x85\xA5\xC0\xC1\xC2\xC3\x49\x69\xA5 1,x");
  EXPECT_EQ(toRegisterPage(host), line);
  // The register reads the letters back; Ё, ё and Ґ share codes with Е and е,
  // І and і with the Latin letters.
  EXPECT_EQ(fromRegisterPage(line), "\xC0\xDF\xE0\xFF\xC5\xE5\xAA\xBA\xAF\xBF\x49\x69\xE5 1,x");
  // The tool's table for answers restores only the capitals and the Ukrainian letters.
  EXPECT_EQ(hostReading(line), "\xC0\xDF\xA0\xBF\xC5\xA5\xAA\xBA\xAF\xBF\x49\x69\xA5 1,x");
}

TEST(CodePageTest, Cp1251AndUtf8) {
  const char* cp = CP1251(u8"Оператор ЄЇІҐ №5");
  EXPECT_EQ(km_text::Cp1251ToUtf8(cp), "Оператор ЄЇІҐ №5");
  EXPECT_EQ(km_text::Utf8ToCp1251(km_text::Cp1251ToUtf8(cp)), cp);
  EXPECT_EQ(km_text::Utf8ToCp1251("\xE2\x82\xBD"), "?");  // ruble sign: not in CP1251
}

}  // namespace
}  // namespace km4410r::sim
