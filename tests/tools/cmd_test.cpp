// km4410r-cmd end to end: the program against a scripted register on a pty.
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "sim/simulator.h"
#include "tests/driver/pty_peer.h"

using namespace km_test;

namespace {

struct CmdRun {
  int status;
  std::string out;
};

// Both streams by default; `redirect` picks others.
CmdRun Cmd(const std::string& args, const char* redirect = "2>&1") {
  std::string line = std::string(KM_CMD_PATH) + " " + args + " " + redirect;
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

// stderr alone (stdout dropped), to count its lines.
CmdRun CmdStderr(const std::string& args) { return Cmd(args, "2>&1 >/dev/null"); }

TEST(CmdTool, ArgumentsAreReadStrictly) {
  // Each refusal: status 2 and exactly one line on stderr naming the argument.
  const struct {
    std::string args;
    const char* named;
  } refusals[] = {
      {"", "CMD missing"},
      {"0x10", "'0x10'"},                        // below the command range
      {"hello", "'hello'"},
      {"--port LPT1 0x4A", "'LPT1'"},
      {"0x2A " + std::string(190, 'x'), "190 bytes"},
      {"--list-ports 0x4A", "takes no command"},
      {"--json", "--json needs --list-ports"},
      {"--sysfs /tmp 0x4A", "--sysfs needs --list-ports"},
      {"074", "'074'"},                          // would be octal 0x3C
      {"0x100", "'0x100'"},                      // more than a byte
      {"256", "'256'"},
      {"0x", "'0x'"},
      {"+60", "'+60'"},
      {"--port COM4294967297 0x4A", "'COM4294967297'"},  // 2^32 + 1 would wrap to COM1
      {"--port COM256 0x4A", "'COM256'"},                // one past the highest
      {"--port COM0 0x4A", "'COM0'"},
      {"--port COM01 0x4A", "'COM01'"},
      {"--baud 09600 0x4A", "'09600'"},
      {"--baud 38400 0x4A", "'38400'"},
      {"--baud ' 9600' 0x4A", "' 9600'"},
      {"0x4A --port", "--port needs a value"},
      {"0x4A --baud", "--baud needs a value"},
      {"--bogus 0x4A", "'--bogus'"},
      {"--hex 0x4A", "--hex needs --trace"},
  };
  for (const auto& c : refusals) {
    CmdRun r = CmdStderr(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_TRUE(Has(r, c.named)) << c.args << ": " << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << c.args << ": " << r.out;
    EXPECT_TRUE(!r.out.empty() && r.out.back() == '\n') << c.args;
  }
}

TEST(CmdTool, ListsThePortsOfASysfsTree) {
  // One USB adapter in a tree of the test's own.
  namespace fs = std::filesystem;
  const fs::path sys = fs::temp_directory_path() / ("km-cmd-sysfs-" + std::to_string(getpid()));
  const fs::path usb = sys / "devices/usb1/1-1";
  fs::create_directories(usb / "1-1:1.0/ttyUSB0");
  fs::create_directories(sys / "bus/drivers/ftdi_sio");
  fs::create_symlink(sys / "bus/drivers/ftdi_sio", usb / "1-1:1.0/ttyUSB0/driver");
  for (auto [file, text] : {std::pair{"idVendor", "0403"}, {"idProduct", "6001"}, {"product", "FT232R USB UART"}})
    std::ofstream(usb / file) << text << "\n";
  fs::create_directories(sys / "class/tty/ttyUSB0");
  fs::create_symlink(usb / "1-1:1.0/ttyUSB0", sys / "class/tty/ttyUSB0/device");
  CmdRun r = Cmd("--list-ports --sysfs " + sys.string(), "2>/dev/null");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "/dev/ttyUSB0\tttyUSB0\tusb\tftdi_sio\t\tFT232R USB UART\t0403\t6001\t\t"
                   "/dev/ttyUSB0 \xE2\x80\x94 FT232R USB UART (0403:6001)\n");
  r = Cmd("--list-ports --json --sysfs " + sys.string(), "2>/dev/null");
  EXPECT_TRUE(Has(r, "\"path\": \"/dev/ttyUSB0\"")) << r.out;
  fs::remove_all(sys);
  r = Cmd("--list-ports --sysfs " + sys.string());
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r, "no such folder")) << r.out;
}

// A register that answers `cmd` with `text` and every other command with
// `other`, under the status bytes `status`.
PtyPeer::Responder Answering(int cmd, std::string text, std::string other = "", const uint8_t* status = nullptr) {
  return [=](const HostFrame& f) { return Script{Step{AnswerTo(f, f.cmd() == cmd ? text : other, status)}}; };
}

TEST(CmdTool, RunsAgainstARegister) {
  static const uint8_t paperOut[6] = {0x80, 0x80, 0x81, 0x80, 0x80, 0x80};
  const struct {
    const char* what;
    PtyPeer::Responder reply;  // null: no register, the arguments name the port
    std::string args;          // after "--port <the register's pty>"
    int status;
    std::vector<std::string> texts;  // on stdout or stderr
    std::vector<std::pair<int, std::string>> sent;  // the frames the register got
  } cases[] = {
      {"the decoded answer; no switch probe with --no-translate", Answering(0x4A, "A,B,,C"),
       "--no-translate 74 W", 0,
       {"0x4A Получить состояние регистратора", "fields      4", "[3] \"C\"", "status 0    0x80"},
       {{0x4A, "W"}}},
      {"a register error exits with 1 and names the error", Answering(0, "", "", paperOut), "--no-translate 0x2D",
       1, {"Нет бумаги", "[x] 0x01 paper ran out"}, {{0x2D, ""}}},
      // Switch text with 1011 in the middle: texts pass unchanged; otherwise translated.
      {"switches 00101100", Answering(0x5A, "1.0,a,b,c,00101100", "\x80"), "0x2A Я", 0, {"\"Ђ\""},
       {{0x5A, "1"}, {0x2A, "\xDF"}}},
      {"switches 00000000", Answering(0x5A, "1.0,a,b,c,00000000", "\x80"), "0x2A Я", 0, {"\"А\""},
       {{0x5A, "1"}, {0x2A, "\x9F"}}},
      // Hex and decimal name the same code on the line; the four speeds are taken.
      {"0x3C at 9600", Answering(0, ""), "--baud 9600 --no-translate 0x3C", 0, {}, {{0x3C, ""}}},
      {"60 at 115200", Answering(0, ""), "--baud 115200 --no-translate 60", 0, {}, {{0x3C, ""}}},
      {"0x3c at 57600", Answering(0, ""), "--baud 57600 --no-translate 0x3c", 0, {}, {{0x3C, ""}}},
      {"a missing port is a link error with its reason", nullptr, "--port /dev/km4410r-missing 0x4A W", 1,
       {"/dev/km4410r-missing", "no such device"}, {}},
      {"the highest COM number passes the check and fails only to open", nullptr, "--port COM255 0x4A", 1, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<PtyPeer> peer;
    if (c.reply) peer = std::make_unique<PtyPeer>(c.reply);
    const CmdRun r = Cmd((peer ? "--port " + peer->slavePath() + " " : "") + c.args);
    EXPECT_EQ(r.status, c.status) << r.out;
    for (const std::string& text : c.texts) EXPECT_TRUE(Has(r, text)) << text << " in " << r.out;
    if (!peer) continue;
    std::vector<std::pair<int, std::string>> sent;
    for (const HostFrame& f : peer->frames()) sent.emplace_back(f.cmd(), f.data());
    EXPECT_EQ(sent, c.sent);
  }
}

TEST(CmdTool, ASilentRegisterCostsOneWait) {
  // The switch probe gets no answer: the command is not sent after it, so a
  // register that is not there is waited for once (5 s), not twice.
  km4410r::sim::Options options;
  options.baud = 0;
  km4410r::sim::Simulator sim(options);
  ASSERT_TRUE(sim.start());
  sim.injectFault({km4410r::sim::Fault::Silence, -1});
  const auto t0 = std::chrono::steady_clock::now();
  const CmdRun r = CmdStderr("--port " + sim.slavePath() + " 0x4A W");
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r, "no answer from the register")) << r.out;
  EXPECT_LT(ms, 8000.0);
  const auto journal = sim.journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].cmd, 0x5A);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

TEST(CmdTool, TracePrintsARowPerExchangeOnStderr) {
  km4410r::sim::Options options;
  options.baud = 0;
  km4410r::sim::Simulator sim(options);
  ASSERT_TRUE(sim.start());
  const std::string port = "--port " + sim.slavePath() + " ";

  // What stdout says does not change with the trace.
  const CmdRun plain = Cmd(port + "0x4A W", "2>/dev/null");
  const CmdRun traced = Cmd(port + "--trace 0x4A W", "2>/dev/null");
  EXPECT_EQ(plain.status, 0) << plain.out;
  EXPECT_EQ(traced.out, plain.out);

  // The switch probe and the command: a row each, nothing else.
  const CmdRun rows = CmdStderr(port + "--trace 0x4A W");
  EXPECT_EQ(rows.status, 0);
  const std::vector<std::string> lines = Lines(rows.out);
  ASSERT_EQ(lines.size(), 2u) << rows.out;
  const std::string t = "^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\| →← \\| ";
  EXPECT_TRUE(std::regex_search(lines[0], std::regex(t + "21 \\| 5A Запрос диагностической информации \\| \"1\" \\| ответ \".+\" \\| .+ \\| \\d+ мс$")))
      << lines[0];
  EXPECT_TRUE(std::regex_search(lines[1], std::regex(t + "22 \\| 4A Получить состояние регистратора \\| \"W\" \\| ответ \".*\" \\| .+ \\| \\d+ мс$")))
      << lines[1];

  // --hex: the frame exactly as the register got it, the answer after it.
  sim.clearJournal();
  const CmdRun hex = CmdStderr(port + "--trace --hex --translate 0x2A 'Я \"ё\"'");
  EXPECT_EQ(hex.status, 1);  // no receipt open: not allowed
  const std::vector<std::string> h = Lines(hex.out);
  const auto journal = sim.journal();
  ASSERT_EQ(journal.size(), 1u);
  std::string frame = "    →";
  char b[4];
  for (uint8_t c : journal[0].raw) {
    snprintf(b, sizeof b, " %02X", c);
    frame += b;
  }
  ASSERT_GE(h.size(), 4u) << hex.out;
  EXPECT_NE(h[0].find(" | 2A Печать нефискального текста | \"Я \\\"ё\\\"\" | ответ \"\" | Команда не разрешена, "), std::string::npos) << h[0];
  EXPECT_EQ(h[1], frame);
  EXPECT_EQ(h[1].rfind("    → 01 29 21 2A 9F 20 22 A5 22 05 ", 0), 0u) << h[1];
  EXPECT_EQ(h[2].rfind("    ← +", 0), 0u) << h[2];
  EXPECT_TRUE(std::regex_match(h.back(), std::regex("    флаги 0x[0-9A-F]{8}"))) << h.back();
}

}  // namespace
