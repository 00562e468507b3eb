// The receive machine and the answer decoding, fed byte by byte.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/testing.h"
#include "tests/driver/pty_peer.h"

using km_test::RegisterFrame;

namespace {

class AnswerTest : public ::testing::Test {
 protected:
  void SetUp() override { km_driver::ResetDriverForTests(); }

  // Runs one answer through the receive machine and FinishAnswer.
  const RetData& Decode(int command, const std::vector<uint8_t>& bytes) {
    km_driver::BeginAnswer(command);
    for (uint8_t b : bytes) km_driver::FeedByte(b);
    km_driver::FinishAnswer();
    return DriverRetData();
  }
  const RetData& Answer(int command, const std::string& data, const uint8_t* status = nullptr) {
    return Decode(command, RegisterFrame(0x21, static_cast<uint8_t>(command), data, status));
  }
  static std::vector<std::string> Fields(const RetData& rd) {
    std::vector<std::string> v;
    for (int i = 0; i < rd.FieldCount; ++i) v.emplace_back(rd.Fields[i]);
    return v;
  }
};

using V = std::vector<std::string>;

TEST_F(AnswerTest, FieldsSplitAtEveryCommaAfterEachCommandsCorrection) {
  const struct {
    int command;
    const char* data;
    V fields;
  } cases[] = {
      {0x4A, "1,2,,3", {"1", "2", "", "3"}},
      {0x4A, "A,", {"A", ""}},
      {0x4A, ",", {"", ""}},
      {0x4A, "", {}},
      {0x4A, "X", {"X"}},
      {0x4A, "A B", {"A B"}},  // other commands keep their blanks
      {0x32, "F123", {"F", "123"}},
      {0x35, "P10.00", {"P", "10.00"}},
      {0x3E, "07-12-26 10:15:00", {"07-12-26", "10:15:00"}},
      // One character is never corrected; short date answers are left alone.
      {0x32, "F", {"F"}},
      {0x3E, "07-12-26", {"07-12-26"}},
      // 0x5A: blanks among the first 20 characters only.
      {0x5A, "1.00 07-12-26 10:15,A B", {"1.00", "07-12-26", "10:15", "A B"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Fields(Answer(c.command, c.data)), c.fields) << c.command << " " << c.data;
  // The text before correction stays in AnswerText.
  EXPECT_STREQ(Answer(0x32, "F123").AnswerText, "F123");
}

TEST_F(AnswerTest, TwentyFieldsAtMostTheLastKeepsTheRest) {
  std::string text;
  for (int i = 0; i < 25; ++i) text += std::to_string(i) + ",";
  const RetData& rd = Answer(0x4A, text);
  ASSERT_EQ(rd.FieldCount, 20);
  EXPECT_STREQ(rd.Fields[18], "18");
  EXPECT_STREQ(rd.Fields[19], "19,20,21,22,23,24,");
}

TEST_F(AnswerTest, LongestAnswerWithInsertedCommaStaysInBounds) {
  std::string text(212, '7');
  const RetData& rd = Answer(0x35, text);
  EXPECT_EQ(rd.ErrorFlags, 0u);
  ASSERT_EQ(rd.FieldCount, 2);
  EXPECT_EQ(std::strlen(rd.Fields[1]), 211u);
  EXPECT_EQ(std::string(rd.AnswerText), std::string(128, '7'));  // only the first 128 characters
}

TEST_F(AnswerTest, LinkOutcomesTakePrecedenceOverStatus) {
  uint8_t status[6] = {0xA1, 0x80, 0x81, 0x80, 0x80, 0x80};
  // No 0x03: incomplete, a timeout even though error status arrived.
  auto frame = RegisterFrame(0x21, 0x4A, "1", status);
  frame.pop_back();
  const RetData& rd = Decode(0x4A, frame);
  EXPECT_EQ(rd.ErrorFlags, 0x04000000u);
  EXPECT_EQ(rd.StatusBytes[0], 0x21);
  EXPECT_EQ(Decode(0x4A, RegisterFrame(0x21, 0x4A, "1", status, 5)).ErrorFlags, 0x01000000u);
  auto nak = RegisterFrame(0x21, 0x4A, "1", status);
  nak.push_back(0x15);
  EXPECT_EQ(Decode(0x4A, nak).ErrorFlags, 0x02000000u);
  EXPECT_EQ(Decode(0x4A, {}).ErrorFlags, 0x04000000u);
}

TEST_F(AnswerTest, MalformedHeadersSendTheMachineBackToTheStart) {
  // LEN below 0x2B, SEQ below 0x20: the bytes that follow are not a frame.
  std::vector<uint8_t> shortLen = {0x01, 0x2A, 0x21, 0x4A};
  auto good = RegisterFrame(0x21, 0x4A, "OK");
  shortLen.insert(shortLen.end(), good.begin(), good.end());
  EXPECT_STREQ(Decode(0x4A, shortLen).Fields[0], "OK");
  EXPECT_EQ(DriverRetData().ErrorFlags, 0u);

  EXPECT_EQ(Decode(0x4A, {0x01, 0x2C, 0x1F, 0x4A, 'A', 0x04}).ErrorFlags, 0x04000000u);
  // An early 0x03 ends the answer; the checksum test then judges it.
  EXPECT_EQ(Decode(0x4A, {0x01, 0x2C, 0x21, 0x4A, 'A', 0x03}).ErrorFlags, 0x01000000u);
}

TEST_F(AnswerTest, EmptyDataGoesStraightToTheSeparator) {
  auto frame = RegisterFrame(0x21, 0x4A, "");
  EXPECT_EQ(frame[1], 0x2B);
  const RetData& rd = Decode(0x4A, frame);
  EXPECT_EQ(rd.ErrorFlags, 0u);
  EXPECT_EQ(rd.FieldCount, 0);
}

TEST_F(AnswerTest, AnswerIsTranslatedBackWhenTranslationIsOn) {
  SetNoTranslation(0);
  const RetData& rd = Answer(0x4A, std::string("\x80\x9F\xC0,\xAA\xAF\xA5"));
  EXPECT_STREQ(rd.Fields[0], "\xC0\xDF\xAA");
  EXPECT_STREQ(rd.Fields[1], "\xC0\xC2\xA5");
  SetNoTranslation(1);
  EXPECT_STREQ(Answer(0x4A, std::string("\x80")).Fields[0], "\x80");
}

TEST_F(AnswerTest, DiagnosticFieldsNeverPastTheFieldCount) {
  DiagnosticInfo d{};
  // Blanks among the first 20 characters separate version, date and time.
  EXPECT_TRUE(ParseDiagnosticInfo(Answer(0x5A, "1.04 12-03-25 10:15,5A3F,00101100,1,VT01,3001"), &d));
  const std::vector<std::string> full = {d.firmware, d.firmwareDate, d.firmwareTime,
                                         d.switches, d.serialNumber, d.fiscalNumber};
  EXPECT_EQ(full, (V{"1.04", "12-03-25", "10:15", "00101100", "VT01", "3001"}));
  // Five fields: the switches are there, the numbers are not.
  EXPECT_FALSE(ParseDiagnosticInfo(Answer(0x5A, "1.0,a,b,c,00101100"), &d));
  EXPECT_STREQ(d.switches, "00101100");
  EXPECT_STREQ(d.serialNumber, "");
  EXPECT_STREQ(d.fiscalNumber, "");
  // An answer to another command has none of them, however many fields.
  EXPECT_FALSE(ParseDiagnosticInfo(Answer(0x4A, "a,b,c,d,e,f,g,h"), &d));
  EXPECT_STREQ(d.firmware, "");
  EXPECT_STREQ(d.switches, "");
}

}  // namespace
