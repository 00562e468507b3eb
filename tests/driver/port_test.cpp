// The port as a user meets it: a line that never freezes the program, a port
// that is never left locked, a virtual port folder that nobody else controls,
// the port names and line speeds it takes, and the switch rule that decides
// the translation.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/testing.h"
#include "tests/driver/driver_fixture.h"
#include "tests/driver/pty_peer.h"

using namespace km_test;

namespace {

constexpr uid_t kNobody = 65534;

// Runs `body` in a child process as an unprivileged user (nobody when the
// test runs as root, else the test's own user) and returns its exit status,
// or -1 when it did not exit normally.
int RunUnprivileged(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) {
    if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(90);
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class PortTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    savedRuntime_ = runtime ? runtime : "";
    hadRuntime_ = runtime != nullptr;
  }
  void TearDown() override {
    DriverTest::TearDown();
    if (hadRuntime_) setenv("XDG_RUNTIME_DIR", savedRuntime_.c_str(), 1);
    else unsetenv("XDG_RUNTIME_DIR");
  }
  std::string savedRuntime_;
  bool hadRuntime_ = false;
};

// ---- a line that never freezes ----------------------------------------------

TEST_F(PortTest, XonXoffBytesFromTheLineAreDataAndStopNothing) {
  // A tty the driver has never opened has XON/XOFF on. The register answers
  // with 0x11 and 0x13 inside its data and sends a lone 0x13 between answers:
  // were software flow control left on, that 0x13 would stop our output for
  // good and the bytes would vanish from the answers.
  const std::string data("A\x11" "B\x13" "C", 5);
  PtyPeer peer(
      [&](const HostFrame& f) {
        return Script{Step{{0x13}}, Step{AnswerTo(f, data)}, Step{{0x13}, 5}};
      },
      /*rawSlave=*/false);
  {
    int probe = open(peer.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(probe, 0);
    struct termios tio;
    ASSERT_EQ(tcgetattr(probe, &tio), 0);
    EXPECT_TRUE(tio.c_iflag & IXON) << "the pty should start with the default termios";
    close(probe);
  }
  ASSERT_GE(OpenPortPath(peer.slavePath().c_str(), 19200), 0) << GetLastPortErrorText();
  const auto t0 = Clock::now();
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(SendCommand(nullptr, Record, 0, 0x4A, "W"), 0);
    EXPECT_EQ(gLast.ErrorFlags, 0u) << "exchange " << i;
    EXPECT_EQ(std::string(gLast.AnswerText), data) << "exchange " << i;
  }
  EXPECT_EQ(peer.frames().size(), 6u);
  EXPECT_LT(MsSince(t0), 3000.0);  // six answers, no write waiting for an XON
  const auto t1 = Clock::now();
  EXPECT_NE(ClosePort(), 0);
  EXPECT_LT(MsSince(t1), 500.0);
}

TEST_F(PortTest, AStoppedLineEndsTheExchangeAsNoAnswerAndClosesAtOnce) {
  // Output stopped on the tty, as by hardware flow control that never lets go:
  // nothing can be written. The exchange ends at the write's deadline (the
  // frame's line time and about a second), not after the 5 s silence wait,
  // and closing does not wait for the unsent frame.
  PtyPeer peer([](const HostFrame& f) { return Script{Step{AnswerTo(f, "")}}; });
  ASSERT_GE(OpenPortPath(peer.slavePath().c_str(), 9600), 0) << GetLastPortErrorText();
  ASSERT_EQ(SendCommand(nullptr, Record, 0, 0x4A, "W"), 0);
  ASSERT_EQ(gLast.ErrorFlags, 0u);

  int line = open(peer.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(line, 0);
  ASSERT_EQ(tcflow(line, TCOOFF), 0);
  // Fill what the tty still takes, so that the driver's frame finds no room.
  const std::vector<uint8_t> fill(4096, 'x');
  while (write(line, fill.data(), fill.size()) > 0) {
  }

  const std::string text(150, 'T');
  auto t0 = Clock::now();
  ASSERT_EQ(SendCommand(nullptr, Record, 0, 0x2A, text.c_str()), 0);
  const double took = MsSince(t0);
  EXPECT_EQ(gLast.ErrorFlags, kFlagTimeout);
  EXPECT_EQ(gDelivered, 2);
  EXPECT_GE(took, 900.0);
  EXPECT_LT(took, 2500.0);  // 160 bytes at 9600 baud: 167 ms, plus the margin

  t0 = Clock::now();
  EXPECT_NE(ClosePort(), 0);
  EXPECT_LT(MsSince(t0), 300.0);
  tcflow(line, TCOON);
  close(line);

  // The port opens again and works once the line runs.
  ASSERT_GE(OpenPortPath(peer.slavePath().c_str(), 9600), 0) << GetLastPortErrorText();
  ASSERT_EQ(SendCommand(nullptr, Record, 0, 0x4A, "W"), 0);
  EXPECT_EQ(gLast.ErrorFlags, 0u);
}

// ---- a port that is never left locked ------------------------------------------

TEST_F(PortTest, APortIsFreeAgainAtOnceWhenItsHolderIsKilled) {
  PtyPeer peer([](const HostFrame& f) { return Script{Step{AnswerTo(f, "")}}; });
  const std::string port = peer.slavePath();
  ASSERT_EQ(chmod(port.c_str(), 0666), 0);  // the unprivileged users below may open it

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    close(ready[0]);
    if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(90);
    char ok = OpenPortPath(port.c_str(), 19200) >= 0 ? 'y' : 'n';
    if (write(ready[1], &ok, 1) != 1) _exit(91);
    for (;;) pause();  // holds the port until killed
  }
  close(ready[1]);
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  close(ready[0]);
  ASSERT_EQ(ok, 'y') << "the first program could not open " << port;

  // A second program while the first holds the port: busy, with its reason.
  EXPECT_EQ(RunUnprivileged([&] {
              if (OpenPortPath(port.c_str(), 19200) >= 0) return 1;
              if (GetLastPortError() != PortError::kInUse) return 2;
              return strstr(GetLastPortErrorText(), "in use by another program") ? 0 : 3;
            }),
            0);

  // The holder dies without closing anything: the next open succeeds at once.
  ASSERT_EQ(kill(holder, SIGKILL), 0);
  ASSERT_EQ(waitpid(holder, nullptr, 0), holder);
  EXPECT_EQ(RunUnprivileged([&] {
              if (OpenPortPath(port.c_str(), 19200) < 0) return 1;
              if (SendCommand(nullptr, Record, 0, 0x4A, "W") != 0) return 2;
              return gLast.ErrorFlags == 0 ? 0 : 3;
            }),
            0);
}

// ---- the virtual port folder ----------------------------------------------------

TEST_F(PortTest, TheVirtualPortFolderIsPrivateOrRefused) {
  char folder[256];
  // Without an absolute XDG_RUNTIME_DIR the folder is /tmp/km4410r-<uid>.
  unsetenv("XDG_RUNTIME_DIR");
  ASSERT_TRUE(VirtualPortFolder(folder, sizeof folder));
  EXPECT_EQ(std::string(folder), "/tmp/km4410r-" + std::to_string(getuid()));
  setenv("XDG_RUNTIME_DIR", "relative/run", 1);
  ASSERT_TRUE(VirtualPortFolder(folder, sizeof folder));
  EXPECT_EQ(std::string(folder), "/tmp/km4410r-" + std::to_string(getuid()));
  EXPECT_FALSE(VirtualPortFolder(folder, 8));

  char base[] = "/tmp/km-port-test-XXXXXX";
  ASSERT_NE(mkdtemp(base), nullptr);
  setenv("XDG_RUNTIME_DIR", base, 1);
  const std::string dir = std::string(base) + "/km4410r";
  const std::string elsewhere = std::string(base) + "/elsewhere";
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);

  EXPECT_EQ(CheckVirtualPortFolder(false), kFolderAbsent);
  EXPECT_EQ(CheckVirtualPortFolder(true), kFolderUsable);
  struct stat st;
  ASSERT_EQ(lstat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Writable by others: refused, and COM n is not looked up past it.
  ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  EXPECT_EQ(CheckVirtualPortFolder(true), kFolderOpenToOthers);
  EXPECT_EQ(OpenPort(1, 19200), -1);
  EXPECT_EQ(GetLastPortError(), PortError::kFolderOpenToOthers);
  EXPECT_EQ(GetLastPortFolderCheck(), kFolderOpenToOthers);
  EXPECT_EQ(std::string(GetLastPortDevice()), dir);
  EXPECT_NE(strstr(GetLastPortErrorText(), "writable by other users"), nullptr);
  rmdir(dir.c_str());

  // A planted link, even to a folder of our own.
  ASSERT_EQ(symlink(elsewhere.c_str(), dir.c_str()), 0);
  EXPECT_EQ(CheckVirtualPortFolder(true), kFolderNotADirectory);
  EXPECT_EQ(OpenPort(2, 19200), -1);
  EXPECT_EQ(GetLastPortError(), PortError::kFolderNotADirectory);
  EXPECT_NE(strstr(GetLastPortErrorText(), "link"), nullptr);
  char device[256];
  EXPECT_FALSE(ResolveComPort(2, device, sizeof device));
  unlink(dir.c_str());

  // A usable folder again: a COM number resolves to its link in the folder,
  // else to the serial port of that number.
  ASSERT_EQ(CheckVirtualPortFolder(true), kFolderUsable);
  PtyPeer peer([](const HostFrame& f) { return Script{Step{AnswerTo(f, "")}}; });
  ASSERT_EQ(symlink(peer.slavePath().c_str(), (dir + "/COM7").c_str()), 0);
  ASSERT_TRUE(ResolveComPort(7, device, sizeof device));
  EXPECT_EQ(std::string(device), dir + "/COM7");
  ASSERT_TRUE(ResolveComPort(4, device, sizeof device));
  EXPECT_STREQ(device, "/dev/ttyS3");
  EXPECT_FALSE(ResolveComPort(0, device, sizeof device));
  ASSERT_GE(OpenPort(7, 9600), 0) << GetLastPortErrorText();
  ASSERT_EQ(SendCommand(nullptr, Record, 0, 0x4A, "W"), 0);
  EXPECT_EQ(gLast.ErrorFlags, 0u);
  EXPECT_NE(ClosePort(), 0);
  unlink((dir + "/COM7").c_str());
  rmdir(dir.c_str());
  rmdir(elsewhere.c_str());
  rmdir(base);
}

TEST_F(PortTest, AFolderPlantedUnderTmpByAnotherUserIsRefused) {
  if (getuid() != 0) GTEST_SKIP() << "planting a folder for another user needs root";
  // The victim is nobody: its folder would be /tmp/km4410r-65534, and root
  // (another user to it) creates that first, as a folder and as a link.
  const std::string planted = "/tmp/km4410r-" + std::to_string(kNobody);
  rmdir(planted.c_str());
  unlink(planted.c_str());
  auto victim = [] {
    unsetenv("XDG_RUNTIME_DIR");
    const int check = CheckVirtualPortFolder(true);
    if (OpenPort(1, 19200) != -1 || GetLastPortError() != km_driver::FolderPortError(check)) return 10;
    return -check;  // 1: not a folder, 2: not owned, 3: open to others
  };

  ASSERT_EQ(mkdir(planted.c_str(), 0755), 0);
  EXPECT_EQ(RunUnprivileged(victim), -kFolderNotOwned);
  ASSERT_EQ(chmod(planted.c_str(), 0777), 0);
  EXPECT_EQ(RunUnprivileged(victim), -kFolderNotOwned);
  rmdir(planted.c_str());

  char target[] = "/tmp/km-port-target-XXXXXX";
  ASSERT_NE(mkdtemp(target), nullptr);
  ASSERT_EQ(chown(target, kNobody, kNobody), 0);  // even a folder the victim owns
  ASSERT_EQ(symlink(target, planted.c_str()), 0);
  EXPECT_EQ(RunUnprivileged(victim), -kFolderNotADirectory);
  unlink(planted.c_str());
  rmdir(target);

  // Nothing planted: the victim makes its own private folder.
  EXPECT_EQ(RunUnprivileged([] {
              unsetenv("XDG_RUNTIME_DIR");
              return CheckVirtualPortFolder(true) == kFolderUsable ? 0 : 1;
            }),
            0);
  struct stat st;
  ASSERT_EQ(lstat(planted.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kNobody);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  rmdir(planted.c_str());
}

// ---- port names and line speeds -------------------------------------------------

TEST(PortNameRule, ComNumbersAndPaths) {
  const struct {
    const char* text;
    bool port;
    int com;  // 0: a path
  } cases[] = {
      {"COM1", true, 1},           {"COM255", true, 255},       {"com7", true, 7},
      {"/dev/ttyUSB0", true, 0},   {"/tmp/km4410r-0/COM3", true, 0},
      {"COM0", false, 0},          {"COM256", false, 0},        {"COM01", false, 0},
      {"COM", false, 0},           {"COM+1", false, 0},         {"COM 1", false, 0},
      {"COM1 ", false, 0},         {"COM4294967297", false, 0}, {"COMx", false, 0},
      {"LPT1", false, 0},          {"dev/ttyS0", false, 0},     {"", false, 0},
      {"\\\\.\\COM5", false, 0},  // the Windows form is no path here
  };
  for (const auto& c : cases) {
    int com = -1;
    EXPECT_EQ(ParsePortName(c.text, &com), c.port) << '"' << c.text << '"';
    if (c.port) {
      EXPECT_EQ(com, c.com) << '"' << c.text << '"';
    }
  }
  EXPECT_FALSE(ParsePortName(nullptr, nullptr));

  // What is no port name is refused before any device is looked at.
  for (const char* name : {"LPT1", "COM256", ""}) {
    EXPECT_EQ(OpenPortByName(name, 19200), -1) << name;
    EXPECT_EQ(GetLastPortError(), PortError::kName) << name;
    EXPECT_STREQ(GetLastPortDevice(), name);
    EXPECT_STREQ(GetLastPortErrorText(),
                 "not a port name: COM1..COM255, a device path, tcp://HOST:PORT or rfc2217://HOST:PORT");
    EXPECT_STREQ(GetLastPortErrorText(kPortTextRussian),
                 "не имя порта: COM1..COM255, путь к устройству, tcp://адрес:порт или rfc2217://адрес:порт");
  }
}

TEST_F(PortTest, TheFourLineSpeedsAndNoOther) {
  EXPECT_EQ(std::vector<int>(kLineSpeeds, kLineSpeeds + kLineSpeedCount), (std::vector<int>{9600, 19200, 57600, 115200}));
  PtyPeer peer([](const HostFrame& f) { return Script{Step{AnswerTo(f, "")}}; });
  const std::string port = peer.slavePath();
  const struct {
    int baud;
    speed_t constant;
  } speeds[] = {{9600, B9600}, {19200, B19200}, {57600, B57600}, {115200, B115200}};
  for (const auto& s : speeds) {
    ASSERT_GE(OpenPortByName(port.c_str(), s.baud), 0) << s.baud << ": " << GetLastPortErrorText();
    struct termios tio;
    int probe = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(probe, 0);
    ASSERT_EQ(tcgetattr(probe, &tio), 0);
    close(probe);
    EXPECT_EQ(cfgetospeed(&tio), s.constant) << s.baud;
    ASSERT_EQ(SendCommand(nullptr, Record, 0, 0x4A, "W"), 0);
    EXPECT_EQ(gLast.ErrorFlags, 0u) << s.baud;
  }
  // Speeds a serial port knows but the register does not: refused by the
  // driver with its reason, and by the backend on its own.
  for (int baud : {38400, 230400, 4800, 1200, 0, -9600}) {
    EXPECT_FALSE(IsLineSpeed(baud)) << baud;
    EXPECT_EQ(OpenPortPath(port.c_str(), baud), -1) << baud;
    EXPECT_EQ(GetLastPortError(), PortError::kSpeed) << baud;
    EXPECT_STREQ(GetLastPortErrorText(), "unsupported speed: 9600, 19200, 57600 or 115200 baud");
    PortError error = PortError::kNone;
    EXPECT_EQ(km_driver::port::Open(port.c_str(), baud, &error), -1) << baud;
    EXPECT_EQ(error, PortError::kBadSettings) << baud;
  }
}

// ---- why a port failed ------------------------------------------------------------

TEST(PortErrors, EveryErrorHasItsOwnEnglishAndRussianWords) {
  for (int i = 0; i < kPortErrorCount; ++i) {
    const char* english = PortErrorText(static_cast<PortError>(i), kPortTextEnglish);
    const char* russian = PortErrorText(static_cast<PortError>(i), kPortTextRussian);
    ASSERT_TRUE(english && russian) << i;
    EXPECT_GT(strlen(english), 0u) << i;
    EXPECT_STRNE(russian, english) << i;  // worded in Russian, not the English shown again
    EXPECT_GT(strlen(russian), 0u) << i;
  }
}

TEST(PortErrors, PosixErrorsAsPortErrors) {
  using E = PortError;
  const struct {
    int code;
    PortError error;
  } cases[] = {
      {0, E::kNone},                    {ENOENT, E::kNoDevice},          {ENODEV, E::kNoDevice},
      {ENXIO, E::kNoDevice},            {EACCES, E::kNoPermission},      {EPERM, E::kNoPermission},
      {EBUSY, E::kInUse},               {EWOULDBLOCK, E::kInUse},        {ENOTTY, E::kNotSerial},
      {EISDIR, E::kNotSerial},          {EINVAL, E::kBadSettings},       {EIO, E::kDeviceGone},
      {EBADF, E::kDeviceGone},          {EPROTO, E::kDeviceGone},        {ETIMEDOUT, E::kLineStalled},
      {EMFILE, E::kTooManyPorts},       {ENOMEM, E::kOutOfMemory},       {ECONNREFUSED, E::kConnectionRefused},
      {EHOSTUNREACH, E::kHostUnreachable}, {ENETUNREACH, E::kNetworkUnreachable},
      {ECONNRESET, E::kConnectionClosed},  {EPIPE, E::kConnectionClosed},
  };
  for (const auto& c : cases)
    EXPECT_EQ(km_driver::port::SystemPortError(c.code), c.error) << c.code << ": " << strerror(c.code);
  // On a port already open: the device went away, unless the line stalled.
  for (int code : {EIO, ENXIO, ENODEV, EBADF, EACCES})
    EXPECT_EQ(km_driver::port::ExchangePortError(code), E::kDeviceGone) << strerror(code);
  EXPECT_EQ(km_driver::port::ExchangePortError(ETIMEDOUT), E::kLineStalled);
}

// ---- the switch rule ----------------------------------------------------------

TEST(SwitchRule, CharactersThreeToSixDecideInFieldsOfSixToEight) {
  struct Case {
    const char* field;
    bool noTranslation;
  };
  const Case cases[] = {
      {"00101100", true},  {"11101111", true},  {"XY1011ZW", true},
      {"00111100", false}, {"00100100", false}, {"00101000", false},
      {"001011", true},    {"0010110", true},   {"001011001", false},
      {"00101", false},    {"0010", false},     {"", false},
      {"1011", false},     {"1011XXXX", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SwitchesMeanNoTranslation(c.field), c.noTranslation) << '"' << c.field << '"';
  EXPECT_FALSE(SwitchesMeanNoTranslation(nullptr));
  // Longer than the 20-byte buffer takes, whatever it holds.
  EXPECT_FALSE(SwitchesMeanNoTranslation("001011000000000000000"));
  EXPECT_FALSE(SwitchesMeanNoTranslation("00101100000000000000"));
  std::string huge(100000, '0');
  huge.replace(2, 4, "1011");
  EXPECT_FALSE(SwitchesMeanNoTranslation(huge.c_str()));
}

}  // namespace
