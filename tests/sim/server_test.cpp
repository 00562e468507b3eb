// The simulator on a real pty: exchanges through the driver (the path a real
// register takes), faults as the driver sees them, and the line behaviour
// (NAK, SYN, pacing, links, idling) seen by a raw client.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "common/cp1251.h"
#include "sim/codec.h"
#include "sim/register_model.h"
#include "sim/simulator.h"
#include "tests/sim/driver_on_sim.h"

namespace km4410r::sim {
namespace {

// ---------------------------------------------------------------- driver

class SimDriverTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = new Simulator(Unpaced());
    ASSERT_EQ(OpenThroughDriver(*sim_), "");
  }
  static void TearDownTestSuite() {
    CloseThroughDriver();
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override {
    sim_->setOptions(Unpaced());
    sim_->withModel([](RegisterModel& m) { m = RegisterModel(); });
    sim_->clearFaults();
    sim_->clearJournal();
    SetNoTranslation(1);
  }
  void TearDown() override { SetNoTranslation(1); }
  static void Translate() {
    sim_->withModel([](RegisterModel& m) { m.setSwitches("00000000"); });
    SetNoTranslation(0);
  }
  static RetData& R() { return DriverRetData(); }
  static std::string Field(int i) { return i < R().FieldCount ? R().Fields[i] : "<none>"; }
  static uint32_t Errors() { return R().ErrorFlags & ~(kReady | kFlagFiscalOpen | kFlagReturnReceipt | kFlagNonFiscalOpen); }
  static Simulator* sim_;
};
Simulator* SimDriverTest::sim_ = nullptr;

TEST_F(SimDriverTest, DiagnosticAnswerGivesTheFieldsTheToolReads) {
  ASSERT_EQ(GetDiagnosticInfo(LEAD, 1), 0);
  EXPECT_EQ(R().ErrorFlags, kReady);
  EXPECT_EQ(R().FieldCount, 8);
  EXPECT_EQ(Field(0), "1.04");
  EXPECT_EQ(Field(4), "00101100");
  EXPECT_EQ(Field(6), "VT00012345");
  EXPECT_EQ(Field(7), "3000123456");
  EXPECT_EQ(R().StatusBytes[3], 0x34);  // Sw3, Sw5, Sw6
  ASSERT_EQ(GetTaxNumber(LEAD), 0);
  EXPECT_EQ(Field(1), "0");
}

TEST_F(SimDriverTest, ClockReadsBackAsDateAndTimeFields) {
  ASSERT_EQ(SetDateTime(LEAD, "05-11-26", "14:07"), 0);
  EXPECT_EQ(Errors(), 0u);
  ASSERT_EQ(GetDateTime(LEAD), 0);
  EXPECT_EQ(Field(0), "05-11-26");
  EXPECT_EQ(Field(1).substr(0, 6), "14:07:");
}

TEST_F(SimDriverTest, TranslatedTextsReachTheModelAndComeBack) {
  Translate();
  std::string name = CP1251(u8"ПЕТРОВ ЄЇ");
  ASSERT_EQ(SetOperatorName(LEAD, 4, "9162", name.c_str()), 0);
  EXPECT_EQ(Errors(), 0u);
  auto j = sim_->journal();
  ASSERT_FALSE(j.empty());
  EXPECT_EQ(j.back().hostData, "4,9162," + name);
  EXPECT_EQ(j.back().data, "4,9162,\x8F\x85\x92\x90\x8E\x82 \xC0\xC2");
  sim_->withModel([&](RegisterModel& m) { EXPECT_EQ(m.op(4).name, name); });
  ASSERT_EQ(GetOperatorInfo(LEAD, 4), 0);
  EXPECT_EQ(Field(6), name);
}

TEST_F(SimDriverTest, CustomerDisplayShowsWhatWasSent) {
  ASSERT_EQ(DisplayLowerLine(LEAD, CP1251(u8"Шок")), 0);
  ASSERT_EQ(DisplayUpperLine(LEAD, "ABCDEFGHIJKLMNOPQRSTUVWXY"), 0);
  sim_->withModel([](RegisterModel& m) {
    EXPECT_EQ(m.displayText(1), "Шок");
    EXPECT_EQ(m.displayLine(0), "ABCDEFGHIJKLMNOPQRST");
  });
  Translate();
  const char* sample = CP1251(u8"ї Ґ АБВГДЕЖЗЄабвгд");
  ASSERT_EQ(DisplayUpperLine(LEAD, sample), 0);
  ASSERT_EQ(DisplayLowerLine(LEAD, ""), 0);
  sim_->withModel([&](RegisterModel& m) {
    EXPECT_EQ(m.displayText(0), "ї Ґ AБBГIEi3ЄAБBГI");
    EXPECT_EQ(m.displayText(1), "");
  });
  ASSERT_EQ(ClearDisplay(LEAD), 0);
  sim_->withModel([](RegisterModel& m) { EXPECT_EQ(m.displayLine(0), std::string(20, ' ')); });
}

TEST_F(SimDriverTest, ConditionsShowAsTheirFlags) {
  sim_->withModel([](RegisterModel& m) { m.setPaperOut(true); });
  ASSERT_EQ(OpenNonFiscalReceipt(LEAD), 0);
  EXPECT_EQ(R().ErrorFlags, kReady | kFlagNoPaper);
  sim_->withModel([](RegisterModel& m) {
    EXPECT_EQ(m.receiptKind(), ReceiptKind::None);
    m.setPaperOut(false);
    m.setCoverOpen(true);
  });
  ASSERT_EQ(GetStatus(LEAD, 0), 0);
  EXPECT_EQ(R().ErrorFlags, kReady | kFlagCoverOpen);
  sim_->withModel([](RegisterModel& m) {
    m.setCoverOpen(false);
    m.setFiscalMemoryStatus(0, 0x02);
  });
  ASSERT_EQ(SendCommand(LEAD, 0x31, ""), 0);
  EXPECT_EQ(R().ErrorFlags, kFlagFmFormatted | kFlagBadCommand | kFlagGeneral);
}

TEST_F(SimDriverTest, InjectedFaultsAsTheDriverSeesThem) {
  sim_->injectFault({Fault::Nak});
  ASSERT_EQ(GetStatus(LEAD, 0), 0);
  EXPECT_EQ(R().ErrorFlags, kFlagNak);
  sim_->injectFault({Fault::BadChecksum, 2});
  ASSERT_EQ(GetStatus(LEAD, 0), 0);
  EXPECT_EQ(R().ErrorFlags, kFlagChecksum);
  ASSERT_EQ(GetStatus(LEAD, 0), 0);
  EXPECT_EQ(R().ErrorFlags, kFlagChecksum);
  ASSERT_EQ(GetStatus(LEAD, 0), 0);  // the fault was used up
  EXPECT_EQ(R().ErrorFlags, kReady);

  for (Fault f : {Fault::ForeignSeq, Fault::ForeignCmd, Fault::SplitFrame}) {
    sim_->injectFault({f, 1, 150});
    ASSERT_EQ(GetDiagnosticInfo(LEAD, 1), 0);
    EXPECT_EQ(R().ErrorFlags, kReady) << static_cast<int>(f);
    EXPECT_EQ(Field(4), "00101100") << static_cast<int>(f);
  }

  sim_->injectFault({Fault::TooManyFields, -1});
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(GetTaxRates(LEAD), 0);
    EXPECT_EQ(R().FieldCount, 20);
  }
  sim_->injectFault({Fault::LongText});
  ASSERT_EQ(GetTaxRates(LEAD), 0);
  EXPECT_EQ(std::strlen(R().AnswerText), 128u);
  sim_->clearFaults();
  ASSERT_EQ(GetTaxRates(LEAD), 0);
  EXPECT_STREQ(R().AnswerText, "20.00,0.00,0.00,0.00");
}

TEST_F(SimDriverTest, NoiseKeepsTheExchangeAliveAndSilenceTimesOut) {
  sim_->injectFault({Fault::NoiseBefore, 1, 100, 1500});
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(GetDiagnosticInfo(LEAD, 1), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1400));
  EXPECT_EQ(R().ErrorFlags, kReady);

  sim_->injectFault({Fault::Silence});
  ASSERT_EQ(GetStatus(LEAD, 0), 0);
  EXPECT_EQ(R().ErrorFlags, kFlagTimeout);
  EXPECT_EQ(sim_->journal().back().cmd, 0x4A);  // it was received, just not answered
}

TEST_F(SimDriverTest, JournalKeepsTheLatestFramesAndCountsAll) {
  Options o = sim_->options();
  o.journalLimit = 8;
  sim_->setOptions(o);
  for (int i = 1; i <= 20; ++i) ASSERT_EQ(GetOperatorInfo(LEAD, i), 0);
  auto Data = [] {
    std::vector<std::string> d;
    for (const auto& e : sim_->journal()) d.push_back(e.data);
    return d;
  };
  EXPECT_EQ(Data(), (std::vector<std::string>{"13", "14", "15", "16", "17", "18", "19", "20"}));
  EXPECT_EQ(sim_->journalCount(), 20u);
  EXPECT_TRUE(sim_->waitForFrames(20, 0));
  EXPECT_FALSE(sim_->waitForFrames(21, 50));

  // A lower limit keeps the newest frames.
  o.journalLimit = 3;
  sim_->setOptions(o);
  ASSERT_EQ(GetOperatorInfo(LEAD, 21), 0);
  EXPECT_EQ(Data(), (std::vector<std::string>{"19", "20", "21"}));
  EXPECT_EQ(sim_->journalCount(), 21u);

  // Clearing starts the count again; frames after it are waited for as before.
  sim_->clearJournal();
  EXPECT_EQ(sim_->journalCount(), 0u);
  EXPECT_TRUE(sim_->journal().empty());
  ASSERT_EQ(GetOperatorInfo(LEAD, 22), 0);
  EXPECT_TRUE(sim_->waitForFrames(1, 0));
  EXPECT_EQ(Data(), (std::vector<std::string>{"22"}));
}

TEST_F(SimDriverTest, ToolMayCloseAndReopenThePort) {
  for (int i = 0; i < 3; ++i) {
    ClosePort();
    ASSERT_GE(OpenPortPath(sim_->slavePath().c_str(), 9600), 0) << GetLastPortErrorText();
    ASSERT_EQ(GetStatus(LEAD, 1), 0);
    EXPECT_EQ(R().ErrorFlags, kReady);
  }
}

// ---------------------------------------------------------------- raw line

class RawClient {
 public:
  explicit RawClient(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
  }
  ~RawClient() { close(fd_); }
  bool ok() const { return fd_ >= 0; }
  void send(const std::vector<uint8_t>& b) { ASSERT_EQ(write(fd_, b.data(), b.size()), ssize_t(b.size())); }

  struct Got {
    std::optional<AnswerFrame> frame;
    bool nak = false;
    int outside = 0;  // bytes outside a frame (SYN)
    double ms = 0;
  };
  Got receive(int timeoutMs) {
    Got g;
    AnswerParser p;
    auto t0 = std::chrono::steady_clock::now();
    auto end = t0 + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      pollfd f{fd_, POLLIN, 0};
      if (poll(&f, 1, 20) <= 0) continue;
      uint8_t b;
      if (read(fd_, &b, 1) != 1) continue;
      if (b == kNak) {
        g.nak = true;
        break;
      }
      if ((g.frame = p.feed(b))) break;
    }
    g.outside = p.bytesOutsideFrames();
    g.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    return g;
  }

 private:
  int fd_ = -1;
};

Options Opts(int baud, int work, int syn, int report = 0) {
  Options o;
  o.baud = baud;
  o.workTimeMs = work;
  o.synEveryMs = syn;
  o.reportTimeMs = report;
  return o;
}

TEST(SimLineTest, BadHostChecksumIsRefusedWithNak) {
  Simulator sim(Opts(0, 0, 50));
  ASSERT_TRUE(sim.start());
  RawClient c(sim.slavePath());
  ASSERT_TRUE(c.ok());
  auto f = buildHostFrame(0x21, 0x26, "");
  f[f.size() - 2] ^= 1;
  c.send(f);
  EXPECT_TRUE(c.receive(1000).nak);
  ASSERT_TRUE(sim.waitForFrames(1, 1000));
  EXPECT_FALSE(sim.journal()[0].checksumOk);
  sim.withModel([](RegisterModel& m) { EXPECT_EQ(m.receiptKind(), ReceiptKind::None); });

  c.send(buildHostFrame(0x22, 0x26, ""));  // the same command, intact
  auto g = c.receive(1000);
  ASSERT_TRUE(g.frame);
  EXPECT_EQ(g.frame->seq, 0x22);
  EXPECT_EQ(g.frame->cmd, 0x26);
  EXPECT_TRUE(g.frame->checksumOk);
  EXPECT_EQ(g.frame->status[2], 0x80 | 0x20);
  EXPECT_FALSE(sim.waitForFrames(3, 100));
}

TEST(SimLineTest, WorkTimeSendsSynAndBytesArePacedAtTheBaudRate) {
  Simulator sim(Opts(9600, 300, 50));
  ASSERT_TRUE(sim.start());
  RawClient c(sim.slavePath());
  c.send(buildHostFrame(0x21, 0x5A, "1"));
  auto g = c.receive(3000);
  ASSERT_TRUE(g.frame);
  size_t bytes = g.frame->data.size() + 17;
  double line = bytes * 10.0 * 1000 / 9600;
  // Six SYNs are due in the 300 ms; a loaded machine may delay some.
  EXPECT_GE(g.outside, 2);
  EXPECT_GE(g.ms, 300 + line * 0.9);
  EXPECT_LT(g.ms, 300 + line + 250);

  sim.setOptions(Opts(0, 0, 50, 400));
  c.send(buildHostFrame(0x22, 0x4A, "W"));
  g = c.receive(1000);
  ASSERT_TRUE(g.frame);
  EXPECT_LT(g.ms, 100);
  EXPECT_EQ(g.outside, 0);
  c.send(buildHostFrame(0x23, 0x45, "9162,2"));  // a report prints for a while
  g = c.receive(2000);
  ASSERT_TRUE(g.frame);
  EXPECT_GE(g.ms, 390);
  EXPECT_GE(g.outside, 6);
}

TEST(SimLineTest, TranslatesAnswersForTheRegisterCodePage) {
  Simulator sim(Opts(0, 0, 50));
  sim.withModel([](RegisterModel& m) {
    m.setSwitches("00000000");
    m.setSerialNumber(CP1251(u8"ЗН123"));
  });
  ASSERT_TRUE(sim.start());
  RawClient c(sim.slavePath());
  c.send(buildHostFrame(0x21, 0x5A, "1"));
  auto g = c.receive(1000);
  ASSERT_TRUE(g.frame);
  EXPECT_NE(g.frame->data.find("\x87\x8D" "123"), std::string::npos);  // ЗН123
}

TEST(SimLineTest, LinksInThePortFolderComeAndGo) {
  char tmpl[] = "/tmp/km4410r-simtest-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  std::string saved = old ? old : "";
  setenv("XDG_RUNTIME_DIR", tmpl, 1);
  std::string link = std::string(tmpl) + "/km4410r/COM3";
  {
    Simulator a, b;
    ASSERT_TRUE(a.start());
    ASSERT_TRUE(b.start());
    std::string error;
    ASSERT_TRUE(a.registerCom(3, &error)) << error;
    EXPECT_EQ(a.linkPath(), link);
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(a.slavePath(), target);
    struct stat st{};
    ASSERT_EQ(stat((std::string(tmpl) + "/km4410r").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_FALSE(b.registerCom(3, &error));  // in use
    a.stop();
    struct stat ls{};
    EXPECT_NE(lstat(link.c_str(), &ls), 0);

    ASSERT_EQ(symlink("/dev/pts/no-such", link.c_str()), 0);  // left by a crash
    ASSERT_TRUE(b.registerCom(3, &error)) << error;
    std::string other = std::string(tmpl) + "/ttyKM";
    ASSERT_TRUE(b.linkAt(other, &error)) << error;
    EXPECT_NE(lstat(link.c_str(), &ls), 0);  // one link at a time
  }
  struct stat ls{};
  EXPECT_NE(lstat((std::string(tmpl) + "/ttyKM").c_str(), &ls), 0);  // the destructor removed it
  if (old) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else unsetenv("XDG_RUNTIME_DIR");
  rmdir((std::string(tmpl) + "/km4410r").c_str());
  rmdir(tmpl);
}

// The windowed simulator's toolkit calls exit() when its display goes away,
// with the simulator still running: its link must not outlive it, or a later
// pty of the same number would look like a device in use.
Simulator* gKeptByTheChild = nullptr;

TEST(SimLineTest, LinkIsRemovedWhenTheProcessExitsWithTheSimulatorRunning) {
  char tmpl[] = "/tmp/km4410r-simexit-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string link = std::string(tmpl) + "/COM1";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    gKeptByTheChild = new Simulator;
    std::string error;
    const bool linked = gKeptByTheChild->start() && gKeptByTheChild->linkAt(link, &error);
    std::exit(linked ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  struct stat ls{};
  EXPECT_NE(lstat(link.c_str(), &ls), 0) << link << " left behind";
  unlink(link.c_str());
  rmdir(tmpl);
}

double CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

TEST(SimLineTest, IdleServerDoesNotSpin) {
  Simulator sim;
  ASSERT_TRUE(sim.start());
  {
    RawClient c(sim.slavePath());  // a tool that came and went
    c.send(buildHostFrame(0x21, 0x4A, "W"));
    ASSERT_TRUE(c.receive(1000).frame);
  }
  double before = CpuMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_LT(CpuMs() - before, 50.0);
  RawClient again(sim.slavePath());
  again.send(buildHostFrame(0x22, 0x4A, "W"));
  EXPECT_TRUE(again.receive(1000).frame);
}

}  // namespace
}  // namespace km4410r::sim
