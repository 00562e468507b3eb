// Registers on the network: the simulator behind its own raw TCP relay and
// behind ser2net (raw TCP and Telnet with COM port control), 0xFF bytes both
// ways, and every way a connection fails: refused, unknown, unanswered, no
// COM port control, closed in the middle of an exchange, a slow register.
#include <netinet/in.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "driver/netport.h"
#include "driver/printer.h"
#include "driver/testing.h"
#include "sim/register_model.h"
#include "sim/simulator.h"
#include "sim/tcprelay.h"
#include "tests/driver/driver_fixture.h"
#include "tests/driver/ser2net_peer.h"

namespace {

using km_test::FreePort;
using km_test::Ser2net;
using km4410r::sim::RegisterModel;
using km4410r::sim::Simulator;
using km4410r::sim::TcpRelay;
using km_test::Clock;
using km_test::MsSince;

void Ignore(RetData&) {}

constexpr uint32_t kLinkFlags = kFlagTimeout | kFlagChecksum | kFlagNak;

// The speed the pty is set to now.
speed_t PtySpeed(const std::string& device) {
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios tio{};
  tcgetattr(fd, &tio);
  close(fd);
  return cfgetospeed(&tio);
}

class NetworkPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    km_driver::ResetDriverForTests();
    km4410r::sim::Options o;
    o.baud = 0;
    sim_.setOptions(o);
    // "я" is 0xFF in CP1251: Telnet's command byte in the serial number.
    sim_.withModel([](RegisterModel& m) { m.setSerialNumber("\xFFN\xFF"); });
    ASSERT_TRUE(sim_.start());
  }
  void TearDown() override {
    ClosePort();
    km_driver::SetOpenDeadlineForTests(0);
    km_driver::ResetDriverForTests();
  }
  // One diagnostic request; the answer record.
  const RetData& Diagnose() {
    SendCommand(nullptr, Ignore, 0, 0x5A, "");
    return DriverRetData();
  }
  Simulator sim_;
};

TEST_F(NetworkPortTest, FramesPassBothWaysWithTheirFfBytes) {
  // Each route in turn: the pty has one reader at a time.
  auto relay = std::make_unique<TcpRelay>();
  ASSERT_TRUE(relay->start(sim_.slavePath(), "127.0.0.1", 0, nullptr));
  auto ser2net = std::make_unique<Ser2net>();
  struct Route {
    std::string port;
    bool setsSpeed;
  };
  std::vector<Route> routes = {{relay->address(), false}};
  if (Ser2net::Installed())
    routes.insert(routes.end(), {{"ser2net raw", false}, {"ser2net rfc2217", true}});
  else if (getenv("KM_REQUIRE_SER2NET"))
    FAIL() << "ser2net is not installed";
  else
    std::fprintf(stderr, "ser2net is not installed: only the simulator's own relay is tried\n");
  for (Route& r : routes) {
    if (r.port.rfind("ser2net", 0) == 0) {
      if (relay) {
        relay.reset();
        ASSERT_TRUE(ser2net->start(sim_.slavePath()));
      }
      r.port = r.setsSpeed ? ser2net->rfc2217() : ser2net->raw();
    }
    SCOPED_TRACE(r.port);
    // ser2net refuses a client while it still closes the device after the
    // one before.
    int handle = -1;
    for (int tries = 0; tries < 20 && handle < 0; ++tries) {
      if (tries) usleep(50 * 1000);
      handle = OpenPortByName(r.port.c_str(), 19200);
    }
    ASSERT_GE(handle, 0) << GetLastPortErrorText();
    if (r.setsSpeed) {
      EXPECT_EQ(PtySpeed(sim_.slavePath()), static_cast<speed_t>(B19200));
    }
    DiagnosticInfo info{};
    EXPECT_TRUE(ParseDiagnosticInfo(Diagnose(), &info));
    EXPECT_EQ(DriverRetData().ErrorFlags & kLinkFlags, 0u);
    EXPECT_STREQ(info.serialNumber, "\xFFN\xFF");
    sim_.clearJournal();
    EXPECT_EQ(DisplayLowerLine(nullptr, Ignore, 0, "\xFF\xFF \xFF"), 0);
    EXPECT_EQ(DriverRetData().ErrorFlags & kLinkFlags, 0u);
    const auto journal = sim_.journal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].data, "\xFF\xFF \xFF");
    EXPECT_TRUE(journal[0].checksumOk);
    ClosePort();
  }
}

TEST_F(NetworkPortTest, FailuresNameTheHostAndNeverHang) {
  km_driver::SetOpenDeadlineForTests(400);
  TcpRelay relay;  // raw TCP: no COM port control
  ASSERT_TRUE(relay.start(sim_.slavePath(), "127.0.0.1", 0, nullptr));
  // A listener whose queue is full: the next connection is never answered.
  const int full = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(full, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(full, 0), 0);
  getsockname(full, reinterpret_cast<sockaddr*>(&a), &len);
  const int fullPort = ntohs(a.sin_port);
  int queued[4];
  for (int& q : queued) {
    q = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(q, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  const struct {
    std::string port;
    PortError error;
    const char* russian;
  } cases[] = {
      {"tcp://127.0.0.1:" + std::to_string(FreePort()), PortError::kConnectionRefused,
       "соединение отклонено: этот порт никто не слушает (проверьте номер порта и сервер)"},
      {"tcp://no-such-register.invalid:4001", PortError::kHostUnknown,
       "неизвестный адрес: имя не найдено (проверьте имя или укажите IP-адрес)"},
      {"tcp://127.0.0.1:" + std::to_string(fullPort), PortError::kConnectTimeout,
       "адрес не ответил за 5 с (проверьте адрес, сеть и брандмауэр)"},
      {"rfc2217://127.0.0.1:" + std::to_string(relay.port()), PortError::kNoComControl,
       "сервер не поддерживает управление портом RFC 2217 (для простого TCP-порта укажите tcp://)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    const auto start = Clock::now();
    EXPECT_EQ(OpenPortByName(c.port.c_str(), 19200), -1);
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(GetLastPortError(), c.error) << GetLastPortErrorText();
    EXPECT_EQ(GetLastPortDevice(), c.port);
    EXPECT_STREQ(GetLastPortErrorText(kPortTextRussian), c.russian);
    EXPECT_EQ(SendCommand(nullptr, Ignore, 0, 0x5A, ""), -1);  // no port: refused
  }
  for (int q : queued) close(q);
  close(full);

  // The server stops while the register works on a request: the exchange
  // ends as no answer as soon as the connection closes, and so does the next.
  km4410r::sim::Options slow;
  slow.baud = 0;
  slow.workTimeMs = 1500;
  sim_.setOptions(slow);
  ASSERT_GE(OpenPortByName(relay.address().c_str(), 19200), 0) << GetLastPortErrorText();
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    relay.stop();
  });
  auto start = Clock::now();
  EXPECT_NE(Diagnose().ErrorFlags & kFlagTimeout, 0u);
  EXPECT_LT(MsSince(start), 1000);
  stopper.join();
  EXPECT_EQ(GetLastPortError(), PortError::kConnectionClosed);
  EXPECT_STREQ(GetLastPortErrorText(kPortTextRussian), "сервер закрыл соединение");
  start = Clock::now();
  EXPECT_NE(Diagnose().ErrorFlags & kFlagTimeout, 0u);
  EXPECT_LT(MsSince(start), 500);
  ClosePort();

  // A slow register behind the network is waited for like a local one.
  ASSERT_TRUE(relay.start(sim_.slavePath(), "127.0.0.1", 0, nullptr));
  ASSERT_GE(OpenPortByName(relay.address().c_str(), 19200), 0) << GetLastPortErrorText();
  EXPECT_EQ(Diagnose().ErrorFlags & kLinkFlags, 0u);
}

// A hostile RFC 2217 server: it agrees to COM port control, then floods
// requests and never reads again. An exchange ends as silence, as with a
// register that does not answer, however full the socket gets.
TEST(HostileServer, FloodingRequestsWithoutReadingHoldsNoExchange) {
  km_driver::ResetDriverForTests();
  km_driver::SetSilenceWaitForTests(30);
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  const int small = 4096;  // the server's receive buffer: our answers soon fill it
  setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  std::atomic<bool> stop{false};
  std::thread server([&] {
    const int c = accept(listener, nullptr, nullptr);
    const uint8_t consent[] = {255, 253, 44, 255, 250, 44, 101, 0, 0, 0x4B, 0, 255, 240};
    send(c, consent, sizeof consent, MSG_NOSIGNAL);
    std::vector<uint8_t> flood;
    for (int i = 0; i < 4000; ++i) flood.insert(flood.end(), {255, 251, static_cast<uint8_t>(5 + i % 2)});
    fcntl(c, F_SETFL, O_NONBLOCK);
    while (!stop) {
      if (send(c, flood.data(), flood.size(), MSG_NOSIGNAL) < 0) usleep(1000);
    }
    close(c);
  });
  const std::string port = "rfc2217://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  ASSERT_GE(OpenPortByName(port.c_str(), 19200), 0) << GetLastPortErrorText();
  const auto start = Clock::now();
  SendCommand(nullptr, Ignore, 0, 0x5A, "1");
  EXPECT_NE(DriverRetData().ErrorFlags & kFlagTimeout, 0u);
  EXPECT_LT(MsSince(start), 6000);
  ClosePort();
  stop = true;
  server.join();
  close(listener);
  km_driver::ResetDriverForTests();
}

TEST(NetworkPortName, SchemesHostsAndPorts) {
  const struct {
    const char* text;
    bool ok;
    const char* host;
    int port;
  } cases[] = {
      {"tcp://192.168.1.20:4001", true, "192.168.1.20", 4001},
      {"TCP://till1.shop.example:65535", true, "till1.shop.example", 65535},
      {"rfc2217://[fe80::1%eth0]:2217", true, "fe80::1%eth0", 2217},
      {"tcp://host:0", false, "", 0},      {"tcp://host:65536", false, "", 0},
      {"tcp://host:04001", false, "", 0},  {"tcp://host", false, "", 0},
      {"tcp://:4001", false, "", 0},       {"tcp://host:4001/", false, "", 0},
      {"tcp://a b:1", false, "", 0},       {"tcp://[::1:1", false, "", 0},
      {"udp://host:1", false, "", 0},      {"tcp://fe80::1:1", false, "", 0},
      {"tcp://host:99999999999999999999", false, "", 0},
  };
  for (const auto& c : cases) {
    km_driver::net::Address a;
    EXPECT_EQ(km_driver::net::ParseAddress(c.text, &a), c.ok) << c.text;
    if (c.ok) {
      EXPECT_STREQ(a.host, c.host);
      EXPECT_EQ(a.port, c.port);
    }
    int com = -1;
    EXPECT_EQ(ParsePortName(c.text, &com), c.ok) << c.text;
  }
}

}  // namespace
