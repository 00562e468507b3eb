// Links that come back: the register's route goes away in the middle of a
// run and returns under the same name (the simulator restarted behind the
// same COM link, its TCP relay restarted on the same port, ser2net
// restarted). The exchange that finds it gone fails; the next ones wait for
// it within the open deadline, and the one waiting when it returns is
// answered; a route that never returns leaves every exchange failing within
// today's time, and at once after six open deadlines. The observer is told of
// the drop and of the return.
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "driver/printer.h"
#include "driver/testing.h"
#include "driver/trace.h"
#include "sim/simulator.h"
#include "sim/tcprelay.h"
#include "tests/driver/driver_fixture.h"
#include "tests/driver/ser2net_peer.h"

namespace {

using km4410r::sim::Simulator;
using km4410r::sim::TcpRelay;
using km_test::Clock;
using km_test::MsSince;
using km_test::Ser2net;

void Ignore(RetData&) {}

constexpr uint32_t kLinkFlags = kFlagTimeout | kFlagChecksum | kFlagNak;

struct Seen {
  int returned = 0, dropped = 0;
  PortError dropError = PortError::kNone;
};
void Watch(const ExchangeTrace& t, void* context) {
  auto* seen = static_cast<Seen*>(context);
  seen->returned += t.linkReturned;
  seen->dropped += t.linkDropped;
  if (t.linkDropped) seen->dropError = t.linkError;
}

// One route from the tool to a register: the port name it goes by, and its
// server stopped and started again under that name.
struct Route {
  std::string name;
  std::function<std::string()> start;  // the port name
  std::function<void()> stop;
  std::function<void()> restart;
  PortError dropError;    // what the exchange that finds it gone says
  PortError absentError;  // what opening it again says while it is away
  int failuresWhileComing = 0;  // exchanges that may fail while it starts again
};

constexpr int kDeadlineMs = 300;  // the open deadline of these tests

// The simulator (the register) and what stands between it and the tool.
struct Bench {
  std::string folder;
  std::unique_ptr<Simulator> sim;
  std::unique_ptr<TcpRelay> relay;
  int relayPort = 0;
  Ser2net ser2net;

  Bench() {
    char tmpl[] = "/tmp/km-comeback.XXXXXX";
    folder = mkdtemp(tmpl);
    StartSim();
  }
  ~Bench() {
    relay.reset();
    ser2net.stop();
    sim.reset();
    rmdir(folder.c_str());
  }
  std::string Link() const { return folder + "/COM7"; }
  void StartSim() {
    km4410r::sim::Options o;
    o.baud = 0;
    sim = std::make_unique<Simulator>(o);
    ASSERT_TRUE(sim->start());
    ASSERT_TRUE(sim->linkAt(Link()));
  }
  void StartRelay() {
    relay = std::make_unique<TcpRelay>();
    std::string error;
    for (int tries = 0; tries < 40; ++tries) {  // the port may linger a moment after a stop
      if (relay->start(sim->slavePath(), "127.0.0.1", relayPort, &error)) break;
      usleep(50 * 1000);
    }
    ASSERT_TRUE(relay->running()) << error;
    relayPort = relay->port();
  }
};

std::vector<Route> Routes(Bench& b) {
  std::vector<Route> routes = {
      {"the simulator restarted behind the same COM link",
       [&] { return b.Link(); }, [&] { b.sim.reset(); }, [&] { b.StartSim(); }, PortError::kDeviceGone,
       PortError::kNoDevice},
      {"its TCP relay restarted on the same port",
       [&] {
         b.StartRelay();
         return "tcp://127.0.0.1:" + std::to_string(b.relayPort);
       },
       [&] { b.relay->stop(); }, [&] { b.StartRelay(); }, PortError::kConnectionClosed,
       PortError::kConnectionRefused},
  };
  if (!Ser2net::Installed()) {
    if (getenv("KM_REQUIRE_SER2NET")) ADD_FAILURE() << "ser2net is not installed";
    return routes;
  }
  routes.push_back({"ser2net (RFC 2217) restarted",
                    [&] {
                      EXPECT_TRUE(b.ser2net.start(b.sim->slavePath()));
                      return b.ser2net.rfc2217();
                    },
                    [&] { b.ser2net.stop(); }, [&] { EXPECT_TRUE(b.ser2net.start(b.sim->slavePath())); },
                    PortError::kConnectionClosed, PortError::kConnectionRefused, 10});
  return routes;
}

class ComebackTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    km_driver::ResetDriverForTests();
    km_driver::SetOpenDeadlineForTests(kDeadlineMs);
  }
  void TearDown() override {
    km_driver::ResetDriverForTests();
    km_driver::SetOpenDeadlineForTests(0);
  }
  // One diagnostic request: whether it was answered, and how long it took.
  static bool Diagnose(double* ms = nullptr) {
    const auto start = Clock::now();
    SendCommand(nullptr, Ignore, 0, kCmdDiagnosticInfo, "1");
    if (ms) *ms = MsSince(start);
    return (DriverRetData().ErrorFlags & kLinkFlags) == 0;
  }
};

TEST_P(ComebackTest, OnlyTheExchangesWhileAwayFail) {
  Bench bench;
  std::vector<Route> routes = Routes(bench);
  if (GetParam() >= static_cast<int>(routes.size())) GTEST_SKIP() << "ser2net is not installed";
  Route& r = routes[static_cast<size_t>(GetParam())];
  SCOPED_TRACE(r.name);
  Seen seen;
  SetExchangeObserver(Watch, &seen);
  const std::string port = r.start();
  int handle = -1;
  for (int tries = 0; tries < 20 && handle < 0; ++tries) {
    if (tries) usleep(50 * 1000);
    handle = OpenPortByName(port.c_str(), 19200);
  }
  ASSERT_GE(handle, 0) << GetLastPortErrorText();
  ASSERT_TRUE(Diagnose());
  EXPECT_TRUE(GetLinkStatus().up);

  // Away: the exchange that finds it gone fails at once; the next one keeps
  // trying to open it again until the open deadline, and fails then.
  r.stop();
  double ms = 0;
  EXPECT_FALSE(Diagnose(&ms));
  EXPECT_LT(ms, 1500);
  EXPECT_FALSE(Diagnose(&ms));
  EXPECT_GE(ms, kDeadlineMs / 2);
  EXPECT_LT(ms, kDeadlineMs + 1000);
  LinkStatus s = GetLinkStatus();
  EXPECT_FALSE(s.up);
  EXPECT_EQ(s.drops, 1);
  EXPECT_EQ(s.returns, 0);
  EXPECT_EQ(s.error, r.absentError) << PortErrorText(s.error, kPortTextEnglish);
  EXPECT_EQ(seen.dropped, 1);
  EXPECT_EQ(seen.dropError, r.dropError) << PortErrorText(seen.dropError, kPortTextEnglish);

  // Back while an exchange waits for it: that exchange is answered, and so
  // are the rest.
  std::thread back([&] {
    usleep(100 * 1000);
    r.restart();
  });
  int failed = 0;
  bool answered = false;
  for (int tries = 0; tries < 30 && !answered; ++tries) failed += !(answered = Diagnose());
  back.join();
  EXPECT_TRUE(answered) << GetLastPortErrorText();
  EXPECT_LE(failed, r.failuresWhileComing);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Diagnose()) << i;
  s = GetLinkStatus();
  EXPECT_TRUE(s.up);
  EXPECT_EQ(s.drops, 1);
  EXPECT_EQ(s.returns, 1);
  EXPECT_EQ(seen.returned, 1);

  // Never back: the exchanges wait for it while it has been gone less than
  // six open deadlines, then fail at once.
  r.stop();
  const auto start = Clock::now();
  for (int i = 0; i < 25; ++i) EXPECT_FALSE(Diagnose(&ms));
  EXPECT_LT(MsSince(start), kDeadlineMs * 7 + 1500);
  EXPECT_LT(ms, 200);
  s = GetLinkStatus();
  EXPECT_FALSE(s.up);
  EXPECT_EQ(s.drops, 2);
  EXPECT_EQ(s.returns, 1);

  // Disconnecting ends it for good: nothing is opened again.
  EXPECT_EQ(ClosePort(), 1);
  EXPECT_FALSE(GetLinkStatus().up);
  EXPECT_EQ(SendCommand(nullptr, Ignore, 0, kCmdDiagnosticInfo, "1"), -1);
  SetExchangeObserver(nullptr, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Routes, ComebackTest, ::testing::Values(0, 1, 2));

}  // namespace
