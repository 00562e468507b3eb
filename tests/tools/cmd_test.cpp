// km4410r-cmd end to end: the program against a scripted register on a pty.
#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/driver/pty_peer.h"

using namespace km_test;

namespace {

struct CmdRun {
  int status;
  std::string out;
};

CmdRun Cmd(const std::string& args) {
  std::string line = std::string(KM_CMD_PATH) + " " + args + " 2>&1";
  FILE* p = popen(line.c_str(), "r");
  CmdRun r{-1, ""};
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

bool Has(const CmdRun& r, const std::string& text) { return r.out.find(text) != std::string::npos; }

TEST(CmdTool, BadUsageExitsWith2) {
  EXPECT_EQ(Cmd("").status, 2);
  EXPECT_EQ(Cmd("0x10").status, 2);         // below the command range
  EXPECT_EQ(Cmd("hello").status, 2);
  EXPECT_EQ(Cmd("--port LPT1 0x4A").status, 2);
  EXPECT_EQ(Cmd("--bogus 0x4A").status, 2);
  EXPECT_EQ(Cmd("0x2A " + std::string(190, 'x')).status, 2);
}

TEST(CmdTool, MissingPortIsALinkErrorWithItsReason) {
  CmdRun r = Cmd("--port /dev/km4410r-missing 0x4A W");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r, "/dev/km4410r-missing")) << r.out;
  EXPECT_TRUE(Has(r, "no such device")) << r.out;
}

TEST(CmdTool, PrintsTheDecodedAnswer) {
  PtyPeer peer([](const HostFrame& f) {
    if (f.cmd() == 0x4A) return Script{Step{AnswerTo(f, "A,B,,C")}};
    return Script{Step{AnswerTo(f, "")}};
  });
  CmdRun r = Cmd("--port " + peer.slavePath() + " --no-translate 74 W");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Has(r, "0x4A Получить состояние регистратора")) << r.out;
  EXPECT_TRUE(Has(r, "fields      4")) << r.out;
  EXPECT_TRUE(Has(r, "[3] \"C\"")) << r.out;
  EXPECT_TRUE(Has(r, "status 0    0x80")) << r.out;
  auto frames = peer.frames();
  ASSERT_EQ(frames.size(), 1u);  // no switch probe with --no-translate
  EXPECT_EQ(frames[0].data(), "W");
}

TEST(CmdTool, RegisterErrorExitsWith1AndNamesTheError) {
  const uint8_t paperOut[6] = {0x80, 0x80, 0x81, 0x80, 0x80, 0x80};
  PtyPeer peer([&](const HostFrame& f) { return Script{Step{AnswerTo(f, "", paperOut)}}; });
  CmdRun r = Cmd("--port " + peer.slavePath() + " --no-translate 0x2D");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r, "Нет бумаги")) << r.out;
  EXPECT_TRUE(Has(r, "[x] 0x01 paper ran out")) << r.out;
}

TEST(CmdTool, SwitchesDecideTheTranslation) {
  // Switch text with 1011 in the middle: texts pass unchanged; otherwise translated.
  for (const char* sw : {"00101100", "00000000"}) {
    PtyPeer peer([&](const HostFrame& f) {
      if (f.cmd() == 0x5A) return Script{Step{AnswerTo(f, std::string("1.0,a,b,c,") + sw)}};
      return Script{Step{AnswerTo(f, "\x80")}};
    });
    CmdRun r = Cmd("--port " + peer.slavePath() + " 0x2A Я");
    EXPECT_EQ(r.status, 0) << r.out;
    auto frames = peer.frames();
    ASSERT_EQ(frames.size(), 2u);
    bool plain = std::string(sw) == "00101100";
    EXPECT_EQ(frames[1].data(), plain ? std::string("\xDF") : std::string("\x9F")) << sw;
    EXPECT_TRUE(Has(r, plain ? "\"Ђ\"" : "\"А\"")) << r.out;
  }
}

}  // namespace
