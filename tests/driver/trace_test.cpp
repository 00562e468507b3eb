// The exchange trace against a scripted register on a pty: what the observer
// is told of each exchange, and the rows made of it.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/cp1251.h"
#include "driver/text/tracerow.h"
#include "driver/trace.h"
#include "driver/testing.h"
#include "tests/driver/driver_fixture.h"
#include "tests/driver/pty_peer.h"

using namespace km_test;

namespace {

// What one exchange's trace held, copied out during the call.
struct Seen {
  km_text::TraceRow row;
  std::vector<std::string> hex;  // row.hex, line by line
  std::vector<uint8_t> received;
  std::vector<uint32_t> at;
  int total = 0;
  int64_t sentAtMs = 0;
  TraceVerdict verdict = kTraceAnswer;
};

void Keep(const ExchangeTrace& t, void* context) {
  Seen s;
  s.row = km_text::MakeTraceRow(t);
  for (size_t at = 0, end; (end = s.row.hex.find('\n', at)) != std::string::npos; at = end + 1)
    s.hex.push_back(s.row.hex.substr(at, end - at));
  EXPECT_EQ(s.row.hex.back(), '\n');
  s.received.assign(t.received, t.received + t.receivedLength);
  s.at.assign(t.receivedAtMs, t.receivedAtMs + t.receivedLength);
  s.total = t.receivedTotal;
  s.sentAtMs = t.sentAtMs;
  s.verdict = t.verdict;
  static_cast<std::vector<Seen>*>(context)->push_back(std::move(s));
}

void Ignore(RetData&) {}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char b[4];
  for (uint8_t c : bytes) {
    snprintf(b, sizeof b, " %02X", c);
    out += b;
  }
  return out;
}

// The row with its two varying fields, the time of the send and the
// duration, replaced by T and D.
std::string Masked(const km_text::TraceRow& row) {
  return std::regex_replace(std::regex_replace(km_text::TraceRowLine(row),
                                               std::regex("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d"), "T"),
                            std::regex("\\| \\d+ мс$"), "| D мс");
}

Script Steps(std::vector<Step> steps) { return steps; }

class TraceTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    SetExchangeObserver(Keep, &seen);
  }
  void Open(PtyPeer& peer) { ASSERT_GE(OpenPortPath(peer.slavePath().c_str(), 115200), 0); }
  int Send(int cmd, const char* data) { return SendCommand(nullptr, Ignore, 0, cmd, data); }

  std::vector<Seen> seen;
};

TEST_F(TraceTest, AnswerAfterSynBytesRowByRow) {
  // The register is busy: two SYN bytes 60 ms apart, then its answer, whose
  // text holds a Cyrillic letter, control bytes, a quote and a backslash.
  // Paper out with a fiscal receipt open.
  const uint8_t status[6] = {0x80, 0x80, 0x89, 0x80, 0x80, 0x80};
  std::vector<uint8_t> answer;
  PtyPeer peer([&](const HostFrame& f) {
    answer = RegisterFrame(f.seq(), f.cmd(), "\x80,\x05\x10\"\\", status);
    return Steps({Step{{0x16}}, Step{{0x16}, 60}, Step{answer, 60}});
  });
  Open(peer);
  SetNoTranslation(0);
  const int64_t before = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch()).count();
  ASSERT_EQ(Send(0x2A, CP1251(u8"Я\x05")), 0);

  ASSERT_EQ(seen.size(), 1u);
  const Seen& s = seen[0];
  EXPECT_EQ(Masked(s.row),
            "T | →← | 21 | 2A Печать нефискального текста | \"Я\\x05\" | "
            "ответ \"А,\\x05\\x10\\\"\\\\\" | Нет бумаги, фиск. чек | D мс");
  EXPECT_NEAR(static_cast<double>(s.sentAtMs), static_cast<double>(before), 1000.0);
  EXPECT_EQ(s.row.time, km_text::TraceTime(s.sentAtMs));
  EXPECT_GE(s.row.durationMs, 110);

  // The bytes exactly as on the line both ways, the received ones in a line
  // per run with the time after the send.
  std::vector<uint8_t> received = {0x16, 0x16};
  received.insert(received.end(), answer.begin(), answer.end());
  EXPECT_EQ(s.received, received);
  EXPECT_EQ(s.total, static_cast<int>(received.size()));
  ASSERT_EQ(s.hex.size(), 5u);
  auto frames = peer.frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(s.hex[0], "    →" + Hex(frames[0].raw));
  EXPECT_EQ(s.hex[0], "    → 01 26 21 2A 9F 05 05 30 31 31 3A 03");  // translated, no escaping on the line
  std::smatch m[3];
  const std::regex run("    ← \\+(\\d+) мс:(.*)");
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(std::regex_match(s.hex[1 + i], m[i], run)) << s.hex[1 + i];
  EXPECT_EQ(m[0][2].str(), " 16");
  EXPECT_EQ(m[1][2].str(), " 16");
  EXPECT_EQ(m[2][2].str(), Hex(answer));
  const int t0 = std::stoi(m[0][1]), t1 = std::stoi(m[1][1]), t2 = std::stoi(m[2][1]);
  EXPECT_LT(t0, 50);
  EXPECT_GE(t1 - t0, 55);
  EXPECT_GE(t2 - t1, 55);
  EXPECT_EQ(static_cast<int>(s.at.front()), t0);
  EXPECT_EQ(s.hex[4], "    флаги 0x00000600");
}

TEST_F(TraceTest, ChecksumErrorNakSilenceAndNotSent) {
  int answer = 0;
  PtyPeer peer([&](const HostFrame& f) {
    switch (answer++) {
      case 0: return Steps({Step{RegisterFrame(f.seq(), f.cmd(), "12", nullptr, 1)}});
      case 1: return Steps({Step{{0x15}}});
      default: return Script{};
    }
  });
  Open(peer);
  km_driver::SetSilenceWaitForTests(3);
  ASSERT_EQ(Send(0x4A, "W"), 0);
  ASSERT_EQ(Send(0x4A, "W"), 0);
  ASSERT_EQ(Send(0x3E, ""), 0);
  // Output stopped on the line and its queue full: the frame cannot go out.
  const int line = open(peer.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(line, 0);
  ASSERT_EQ(tcflow(line, TCOOFF), 0);
  const std::vector<uint8_t> fill(4096, 'x');
  while (write(line, fill.data(), fill.size()) > 0) {
  }
  ASSERT_EQ(Send(0x4A, "W"), 0);
  tcflow(line, TCOON);
  close(line);
  // No port at all: refused, and the trace is told of nothing.
  ClosePort();
  EXPECT_EQ(Send(0x4A, "W"), -1);

  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(Masked(seen[0].row),
            "T | →← | 21 | 4A Получить состояние регистратора | \"W\" | ошибка КС \"12\" | "
            "Ошибка протокола | D мс");
  EXPECT_EQ(Masked(seen[1].row),
            "T | →← | 22 | 4A Получить состояние регистратора | \"W\" | NAK | "
            "Ошибка приема команды | D мс");
  EXPECT_EQ(Masked(seen[2].row),
            "T | → | 23 | 3E Получить дату и время | \"\" | тишина | Таймаут | D мс");
  EXPECT_EQ(Masked(seen[3].row),
            "T | × | 24 | 4A Получить состояние регистратора | \"W\" | тишина | Таймаут | D мс");
  EXPECT_EQ(seen[0].verdict, kTraceChecksum);
  EXPECT_EQ(seen[1].verdict, kTraceRefused);
  EXPECT_EQ(seen[1].received, std::vector<uint8_t>{0x15});
  // Silence: three reads of 100 ms, nothing received.
  EXPECT_EQ(seen[2].verdict, kTraceSilence);
  EXPECT_GE(seen[2].row.durationMs, 250);
  EXPECT_EQ(seen[2].hex,
            (std::vector<std::string>{"    → 01 24 23 3E 05 30 30 38 3A 03", "    флаги 0x04000000"}));
  EXPECT_EQ(seen[3].hex.front(), "    × 01 25 24 4A 57 05 30 30 3E 3F 03  (не отправлен)");
}

TEST_F(TraceTest, TheRowSaysWhenTheLinkWentAndThatItIsStillGone) {
  km_driver::SetOpenDeadlineForTests(200);
  {
    PtyPeer peer([](const HostFrame&) { return Steps({Step{{}, 0, true}}); });
    Open(peer);
    ASSERT_EQ(Send(0x4A, "W"), 0);  // the register's end closes: the device is gone
  }
  // A pty named by its own path is not opened again (its number may be
  // another program's by now): nothing goes out.
  ASSERT_EQ(Send(0x4A, "W"), 0);
  km_driver::SetOpenDeadlineForTests(0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(Masked(seen[0].row),
            "T | → | 21 | 4A Получить состояние регистратора | \"W\" | тишина; связь потеряна: устройство "
            "перестало отвечать (отключено?) | Таймаут | D мс");
  EXPECT_EQ(Masked(seen[1].row),
            "T | × | 22 | 4A Получить состояние регистратора | \"W\" | тишина; связи нет: устройство перестало "
            "отвечать (отключено?) | Таймаут | D мс");
}

TEST_F(TraceTest, EndlessNoiseKeepsTheFirstBytesAndCountsTheRest) {
  std::vector<uint8_t> noise(5000, 0x16);
  PtyPeer peer([&](const HostFrame& f) { return Steps({Step{noise}, Step{AnswerTo(f, "")}}); });
  Open(peer);
  ASSERT_EQ(Send(0x4A, "W"), 0);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].verdict, kTraceAnswer);
  EXPECT_EQ(seen[0].received.size(), static_cast<size_t>(kTraceMaxReceived));
  EXPECT_EQ(seen[0].total, 5000 + 17);
  const auto& hex = seen[0].hex;
  ASSERT_GE(hex.size(), 2u);
  EXPECT_EQ(hex[hex.size() - 2], "    ← ещё 921 байт не сохранено (всего 5017)");
}

TEST_F(TraceTest, NothingIsRecordedWithoutAnObserver) {
  PtyPeer peer([](const HostFrame& f) { return Steps({Step{AnswerTo(f, "")}}); });
  Open(peer);
  ASSERT_EQ(Send(0x4A, "W"), 0);
  void* context = nullptr;
  EXPECT_EQ(GetExchangeObserver(&context), &Keep);
  EXPECT_EQ(context, &seen);
  SetExchangeObserver(nullptr, nullptr);
  EXPECT_EQ(GetExchangeObserver(&context), nullptr);
  ASSERT_EQ(Send(0x4A, "W"), 0);
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(peer.frames().size(), 2u);
}

TEST(TraceText, TimeFlagsAndInvisibleCharacters) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(km_text::TraceTime(86399999), "23:59:59.999");
  EXPECT_EQ(km_text::TraceTime(1000 * 3600 * 5 + 7), "05:00:00.007");
  // Both RAM flags carry the same message: it is named once. A bit without
  // a name shows as its value.
  EXPECT_EQ(km_text::TraceFlagNames(0x00000140 | 0x00400000 | 0x00008000),
            "Обнуление ОЗУ, фискализирован, 0x00008000");
  EXPECT_EQ(km_text::TraceFlagNames(0), "");
  EXPECT_EQ(km_text::TraceVisibleText("\x7F\x98\xA0\xAD\xA8\xB9\x01"), "\"\\x7F\\x98\\xA0\\xADЁ№\\x01\"");
  EXPECT_EQ(km_text::TraceVisibleText(nullptr), "\"\"");
}

}  // namespace
