// The serial link and the answer decoding, against a scripted register on a pty.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/cp1251.h"
#include "driver/flags.h"
#include "driver/testing.h"
#include "tests/driver/driver_fixture.h"
#include "tests/driver/pty_peer.h"

using namespace km_test;

namespace {

std::string Field(const RetData& rd, int i) { return i < rd.FieldCount ? rd.Fields[i] : "<none>"; }

Script Reply(std::vector<uint8_t> bytes, int delay = 0) { return Script{Step{std::move(bytes), delay}}; }

class LinkTest : public DriverTest {
 protected:
  void Open(PtyPeer& peer) { ASSERT_GE(OpenPortPath(peer.slavePath().c_str(), 115200), 0); }

  int Send(int cmd, const char* data = "") { return SendCommand(nullptr, Record, 0, cmd, data); }
};

// ---- frames the host sends ------------------------------------------------

TEST_F(LinkTest, HostFramesCarryLengthSequenceAndChecksumDigits) {
  PtyPeer peer([](const HostFrame& f) { return Reply(AnswerTo(f, "")); });
  Open(peer);
  ASSERT_EQ(Send(0x4A, ""), 0);
  ASSERT_EQ(Send(0x5A, "1"), 0);
  for (int i = 2; i < 257; ++i) ASSERT_EQ(Send(0x4A), 0);
  auto frames = peer.frames();
  ASSERT_EQ(frames.size(), 257u);
  EXPECT_EQ(gDelivered, 257);
  // Empty data: 10 bytes, LEN 0x24, first SEQ 0x21; sum 0x24+0x21+0x4A+0x05 = 0x94.
  EXPECT_EQ(frames[0].raw, (std::vector<uint8_t>{0x01, 0x24, 0x21, 0x4A, 0x05, '0', '0', '9', '4', 0x03}));
  // "1": LEN 0x25, SEQ 0x22; sum 0x25+0x22+0x5A+0x31+0x05 = 0xD7 -> digits 0 0 = 7 (':'..'?' above 9).
  EXPECT_EQ(frames[1].raw, (std::vector<uint8_t>{0x01, 0x25, 0x22, 0x5A, '1', 0x05, '0', '0', '=', '7', 0x03}));
  // The sequence repeats every 95 frames and its counter wraps at 256.
  EXPECT_EQ(frames[93].seq(), 0x7E);   // counter 94
  EXPECT_EQ(frames[94].seq(), 0x20);   // counter 95
  EXPECT_EQ(frames[254].seq(), 255 % 95 + 0x20);
  EXPECT_EQ(frames[255].seq(), 0x20);  // counter wrapped to 0
  EXPECT_EQ(frames[256].seq(), 0x21);
}

TEST_F(LinkTest, DataIsTranslatedOnTheWayOutOnlyWhenAsked) {
  PtyPeer peer([](const HostFrame& f) { return Reply(AnswerTo(f, "")); });
  Open(peer);
  const char* text = CP1251(u8"Аяё ЁЄєЇїІі");
  ASSERT_EQ(Send(0x2A, text), 0);  // the switch starts at 1: no translation
  SetNoTranslation(0);
  ASSERT_EQ(Send(0x2A, text), 0);
  auto frames = peer.frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].data(), std::string(text));
  EXPECT_EQ(frames[1].data(), std::string("\x80\xBF\xA5\x20\x85\xC0\xC1\xC2\xC3\x49\x69"));
  // The record keeps the untranslated text.
  EXPECT_STREQ(gLast.SentData, text);
}

// ---- refusals ---------------------------------------------------------------

TEST_F(LinkTest, RefusalsSendNothingDeliverNothingAndSayWhy) {
  const auto refused = [](int result, int reason) {
    return result == -1 && GetLastRefusal() == reason && gDelivered == 0;
  };
  // No port: before any open, after a failed open, after closing. Nothing is
  // tried on the line and nothing is delivered.
  EXPECT_TRUE(refused(Send(0x4A), kRefusalPortClosed));
  EXPECT_EQ(OpenPortPath("/dev/km4410r-no-such-device", 19200), -1);
  EXPECT_TRUE(refused(Send(0x4A), kRefusalPortClosed));
  EXPECT_TRUE(refused(CutPaper(nullptr, Record, 0), kRefusalPortClosed));

  PtyPeer peer([](const HostFrame& f) { return Reply(AnswerTo(f, "")); });
  Open(peer);
  ASSERT_EQ(Send(0x4A), 0);
  EXPECT_EQ(GetLastRefusal(), kRefusalNone);
  gDelivered = 0;
  // Data that does not fit a frame (189 bytes do), a parameter out of range.
  EXPECT_TRUE(refused(Send(0x2A, std::string(190, 'x').c_str()), kRefusalBadData));
  EXPECT_TRUE(refused(ResetOperatorPassword(nullptr, Record, 0, 16, "9162"), kRefusalBadData));
  ASSERT_EQ(Send(0x2A, std::string(189, 'x').c_str()), 0);
  gDelivered = 0;
  EXPECT_EQ(ProgramArticle(nullptr, Record, 0, 'A', 1, 1, 1.0, "9162", "x"), -2);
  EXPECT_EQ(GetLastRefusal(), kRefusalBadData);
  // An exchange running: refused until its answer is complete.
  km_driver::BeginAnswer(0x4A);
  EXPECT_TRUE(refused(Send(0x4A), kRefusalBusy));
  for (uint8_t b : RegisterFrame(0x21, 0x4A, "")) km_driver::FeedByte(b);
  ASSERT_TRUE(km_driver::AnswerComplete());
  EXPECT_EQ(Send(0x4A), 0);
  EXPECT_EQ(GetLastRefusal(), kRefusalNone);
  // Disconnected in the middle of a loop of commands.
  EXPECT_NE(ClosePort(), 0);
  gDelivered = 0;
  EXPECT_TRUE(refused(Beep(nullptr, Record, 0), kRefusalPortClosed));
  auto frames = peer.frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[1].raw.size(), 199u);
  EXPECT_EQ(frames[1].raw[1], 189 + 4 + 0x20);
  EXPECT_STREQ(RefusalMessage(kRefusalPortClosed), "Команда не отправлена: порт не открыт");
  EXPECT_STREQ(RefusalMessage(kRefusalBusy), "Команда не отправлена: идёт другой обмен с регистратором");
  EXPECT_STREQ(RefusalMessage(kRefusalBadData), "Команда не отправлена: неверные или слишком длинные данные");
  EXPECT_EQ(RefusalMessage(kRefusalNone), nullptr);
}

// ---- answers --------------------------------------------------------------

TEST_F(LinkTest, ACompleteAnswerEndsTheExchangeAtOnce) {
  PtyPeer peer([](const HostFrame& f) { return Reply(AnswerTo(f, "1,2,,3")); });
  Open(peer);
  auto t0 = Clock::now();
  ASSERT_EQ(Send(0x4A, "W"), 0);
  EXPECT_LT(MsSince(t0), 95.0) << "no extra read wait after the answer";
  EXPECT_EQ(gLast.ErrorFlags, 0u);
  EXPECT_EQ(gLast.Command, 0x4A);
  EXPECT_EQ(gLast.FieldCount, 4);
  EXPECT_EQ(Field(gLast, 0), "1");
  EXPECT_EQ(Field(gLast, 1), "2");
  EXPECT_EQ(Field(gLast, 2), "");
  EXPECT_EQ(Field(gLast, 3), "3");
  EXPECT_STREQ(gLast.AnswerText, "1,2,,3");
  EXPECT_STREQ(gLast.CommandName, CP1251(u8"Получить состояние регистратора"));
}

// What the register sends (or does not) and what the exchange makes of it:
// the flags, the answer text and how long it took.
TEST_F(LinkTest, AnswersThatAreNotPlain) {
  const uint8_t paperOut[6] = {0x80, 0x80, 0x81, 0x80, 0x80, 0x80};
  const auto noise = [](int steps, std::vector<uint8_t> bytes, int gapMs) {
    Script s;
    for (int i = 0; i < steps; ++i) s.push_back(Step{bytes, gapMs});
    return s;
  };
  const struct {
    const char* what;
    PtyPeer::Responder reply;
    uint32_t flags;
    const char* answer;  // null: not checked
    double minMs = 0, maxMs = 0;  // maxMs 0: not checked
    int limitMs = 0;              // the exchange limit; 0: the default
    int exchanges = 1;            // the next ones alike (a dead port stays dead)
  } cases[] = {
      {"a late answer to an earlier request (old SEQ), one with another CMD, then the real one "
       "after a pause longer than one read wait",
       [](const HostFrame& f) {
         return Script{Step{RegisterFrame(static_cast<uint8_t>(f.seq() - 1), f.cmd(), "OLD")},
                       Step{RegisterFrame(f.seq(), 0x21, "CMD")}, Step{AnswerTo(f, "NEW"), 50}};
       },
       0, "NEW"},
      {"a start byte inside an answer restarts reception",
       [](const HostFrame& f) {
         auto good = AnswerTo(f, "GOOD");
         std::vector<uint8_t> bytes = {0x01, 0x2F, f.seq(), f.cmd(), 'B', 'A'};  // cut short
         bytes.insert(bytes.end(), good.begin(), good.end());
         return Reply(bytes);
       },
       0, "GOOD"},
      {"a NAK is a refusal whatever else came",
       [](const HostFrame& f) {
         auto bytes = AnswerTo(f, "DATA");
         bytes.insert(bytes.begin() + 5, 0x15);
         return Reply(bytes);
       },
       kFlagNak, nullptr},
      {"a foreign answer alone is taken at the first empty read",
       [](const HostFrame& f) { return Reply(RegisterFrame(f.seq(), 0x21, "X")); }, 0, "X", 90, 400},
      {"silence is a timeout after five seconds", [](const HostFrame&) { return Script{}; }, kFlagTimeout,
       nullptr, 4900, 6500},
      {"a busy register's SYN every second for longer than the 5 s wait keeps the exchange alive",
       [&](const HostFrame& f) {
         Script s = noise(8, {0x16}, 1000);
         s.push_back(Step{AnswerTo(f, "OK"), 500});
         return s;
       },
       0, "OK"},
      {"endless noise is cut off by the exchange limit",
       [&](const HostFrame&) { return noise(60, {0x16, 0x16}, 50); }, kFlagTimeout, nullptr, 0, 2500, 1500},
      {"an unplugged device ends the exchange quickly, and every later one (a pty named by its path does not "
       "come back)",
       [](const HostFrame& f) {
         auto part = AnswerTo(f, "PARTIAL");
         part.resize(6);
         Script s{Step{part}};
         s.back().hangUp = true;
         return s;
       },
       kFlagTimeout, nullptr, 0, 1500, 0, 2},
      {"a wrong checksum is a protocol error: the status bits are not decoded",
       [&](const HostFrame& f) { return Reply(RegisterFrame(f.seq(), f.cmd(), "1", paperOut, 1)); }, kFlagChecksum,
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    km_driver::ResetDriverForTests();
    if (c.limitMs) km_driver::SetExchangeLimitForTests(c.limitMs);
    PtyPeer peer(c.reply);
    Open(peer);
    for (int i = 0; i < c.exchanges; ++i) {
      gDelivered = 0;
      const auto t0 = Clock::now();
      ASSERT_EQ(Send(0x4A, "W"), 0);
      const double ms = MsSince(t0);
      EXPECT_EQ(gDelivered, 1);
      EXPECT_EQ(gLast.ErrorFlags, c.flags);
      if (c.flags == kFlagTimeout && c.exchanges == 1) {
        EXPECT_EQ(gLast.FieldCount, 0);  // no frame began
      }
      if (c.answer) {
        EXPECT_STREQ(gLast.AnswerText, c.answer);
      }
      EXPECT_GE(ms, c.minMs);
      if (c.maxMs > 0) {
        EXPECT_LT(ms, c.maxMs);
      }
    }
    EXPECT_EQ(GetLastPortError() != PortError::kNone, c.exchanges > 1);
  }
  EXPECT_EQ(gLast.StatusBytes[2], 0x01);  // the bytes of the broken frame are kept
}

int gInner = 1;
int gCalls = 0;
void Chain(RetData&) {
  if (gCalls++ == 0) gInner = SendCommand(nullptr, Chain, 0, 0x50, "");
}

TEST_F(LinkTest, SendCommandFromInsideAResultHandlerIsAccepted) {
  PtyPeer peer([](const HostFrame& f) { return Reply(AnswerTo(f, "")); });
  Open(peer);
  gCalls = 0;
  ASSERT_EQ(SendCommand(nullptr, Chain, 0, 0x4A, ""), 0);
  EXPECT_EQ(gInner, 0);
  EXPECT_EQ(gCalls, 2);
  auto frames = peer.frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].cmd(), 0x50);
}

// ---- delivery -------------------------------------------------------------

struct Posted {
  WindowHandle window;
  unsigned message;
  uintptr_t wParam;
  intptr_t lParam;
  int count;
} gPosted;
void Poster(WindowHandle w, unsigned m, uintptr_t wp, intptr_t lp) {
  gPosted = {w, m, wp, lp, gPosted.count + 1};
}

TEST_F(LinkTest, DeliveryGoesToTheStoredHandlerOrIsPosted) {
  PtyPeer peer([](const HostFrame& f) { return Reply(AnswerTo(f, "")); });
  Open(peer);
  gPosted = {};
  int window = 0;
  // No handler stored and no poster: nothing happens.
  EXPECT_EQ(SendCommand(&window, nullptr, 0, 0x4A, ""), 0);
  km_driver::SetMessagePoster(Poster);
  EXPECT_EQ(SendCommand(&window, nullptr, 7, 0x4A, ""), 0);
  EXPECT_EQ(gPosted.count, 1);
  EXPECT_EQ(gPosted.window, &window);
  EXPECT_EQ(gPosted.message, 0x1099u);
  EXPECT_EQ(gPosted.wParam, 0x4Au);
  EXPECT_EQ(reinterpret_cast<RetData*>(gPosted.lParam), &DriverRetData());
  EXPECT_EQ(DriverRetData().Param, 7);
  // A null window stores the handler; a later call with a window keeps it.
  EXPECT_EQ(SendCommand(nullptr, Record, 0, 0x4A, ""), 0);
  EXPECT_EQ(SendCommand(&window, nullptr, 0, 0x50, ""), 0);
  EXPECT_EQ(gDelivered, 2);
  EXPECT_EQ(gLast.Command, 0x50);
  EXPECT_EQ(gPosted.count, 1);
}

// ---- opening the port -----------------------------------------------------

TEST_F(LinkTest, OpenFailuresKeepTheReason) {
  EXPECT_EQ(OpenPortPath("/dev/km4410r-no-such-device", 19200), -1);
  EXPECT_EQ(GetLastPortError(), PortError::kNoDevice);
  EXPECT_STREQ(GetLastPortDevice(), "/dev/km4410r-no-such-device");
  EXPECT_EQ(OpenPort(0, 19200), -1);  // a typed text that is not a port
  EXPECT_EQ(GetLastPortError(), PortError::kNoDevice);
  EXPECT_EQ(OpenPortPath("/dev/null", 19200), -1);  // not a serial port
  EXPECT_EQ(GetLastPortError(), PortError::kNotSerial);

  PtyPeer peer([](const HostFrame& f) { return Reply(AnswerTo(f, "")); });
  // A port that another program holds is busy.
  int other = open(peer.slavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(OpenPortPath(peer.slavePath().c_str(), 19200), -1);
  EXPECT_EQ(GetLastPortError(), PortError::kInUse);
  close(other);
  EXPECT_EQ(ClosePort(), 0);
}

}  // namespace
