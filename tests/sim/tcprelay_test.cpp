// The simulator on raw TCP through TcpRelay: bytes unchanged both ways, one
// client at a time, a dropped or stopped connection, and the line shared with
// a program that opens the pty itself.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "driver/printer.h"
#include "sim/codec.h"
#include "sim/register_model.h"
#include "sim/simulator.h"
#include "sim/tcprelay.h"
#include "tests/sim/driver_on_sim.h"

namespace km4410r::sim {
namespace {

class TcpClient {
 public:
  explicit TcpClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~TcpClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  void send(const std::vector<uint8_t>& b) {
    ASSERT_EQ(::send(fd_, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size()));
  }
  // The first answer frame within the time (SYN and other bytes outside a
  // frame skipped); nothing when the connection ended or the time ran out.
  std::optional<AnswerFrame> answer(int timeoutMs = 1000) {
    AnswerParser p;
    for (uint8_t b; readByte(b, timeoutMs);)
      if (auto f = p.feed(b)) return f;
    return std::nullopt;
  }
  // True when the server ended the connection within the time.
  bool ended(int timeoutMs = 1000) {
    for (uint8_t b; readByte(b, timeoutMs);) {
    }
    return ended_;
  }

 private:
  bool readByte(uint8_t& b, int timeoutMs) {
    pollfd f{fd_, POLLIN, 0};
    if (ended_ || poll(&f, 1, timeoutMs) <= 0) return false;
    const ssize_t r = recv(fd_, &b, 1, 0);
    ended_ = r <= 0;
    return r == 1;
  }
  int fd_ = -1;
  bool ended_ = false;
};

// The driver's open of the pty, tried for a while: the relay lets go of the
// line when it sees its client gone.
int OpenLocally(const std::string& path) {
  int port = -1;
  for (int i = 0; i < 50 && (port = OpenPortPath(path.c_str(), 19200)) < 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return port;
}

TEST(SimTcpTest, OneClientAtATimeWithBytesUnchanged) {
  Simulator sim(Unpaced());
  // Bytes a telnet or a tty in between would change or swallow.
  const std::string odd = "\xFF\x13\x11\x7F\xFF";
  sim.withModel([&](RegisterModel& m) { m.setSerialNumber(odd); });
  ASSERT_TRUE(sim.start());
  TcpRelay relay;
  std::string error;
  ASSERT_TRUE(relay.start(sim.slavePath(), "127.0.0.1", 0, &error)) << error;
  ASSERT_GT(relay.port(), 0);
  EXPECT_EQ(relay.address(), "tcp://127.0.0.1:" + std::to_string(relay.port()));

  TcpRelay second;
  EXPECT_FALSE(second.start(sim.slavePath(), "127.0.0.1", relay.port(), &error));
  EXPECT_EQ(error, "tcp port " + std::to_string(relay.port()) + " on 127.0.0.1: address already in use");

  TcpClient a(relay.port());
  ASSERT_TRUE(a.ok());
  const auto upper = buildHostFrame(0x21, 0x2F, odd);
  a.send(upper);
  auto got = a.answer();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->seq, 0x21);
  ASSERT_EQ(sim.journal().size(), 1u);
  EXPECT_EQ(sim.journal()[0].raw, upper);

  TcpClient b(relay.port());  // the line is taken
  EXPECT_TRUE(b.ended());
  a.send(buildHostFrame(0x22, 0x5A, "1"));
  got = a.answer();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->cmd, 0x5A);
  EXPECT_TRUE(got->checksumOk);
  EXPECT_NE(got->data.find(odd), std::string::npos) << got->data;

  // Held by a TCP client, the pty is in use for a program that opens it; held
  // by such a program, it refuses TCP clients.
  EXPECT_LT(OpenPortPath(sim.slavePath().c_str(), 19200), 0);

  // Dropped while the register works: the answer made meanwhile does not
  // reach the next client.
  sim.setOptions(Unpaced(300));
  a.send(buildHostFrame(0x23, 0x4A, "W"));
  ASSERT_TRUE(sim.waitForFrames(3, 1000));
  relay.dropClient();
  EXPECT_TRUE(a.ended(100));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  sim.setOptions(Unpaced());
  {
    TcpClient c(relay.port());
    c.send(buildHostFrame(0x24, 0x4A, "W"));
    got = c.answer();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->seq, 0x24);
  }  // and gone by itself

  ASSERT_GE(OpenLocally(sim.slavePath()), 0) << GetLastPortErrorText();
  TcpClient refused(relay.port());
  EXPECT_TRUE(refused.ended());
  ClosePort();

  TcpClient d(relay.port());
  d.send(buildHostFrame(0x25, 0x4A, "W"));
  ASSERT_TRUE(d.answer());
  const int port = relay.port();
  relay.stop();  // the server stops mid-exchange
  EXPECT_TRUE(d.ended(100));
  EXPECT_FALSE(TcpClient(port).ok());
  EXPECT_EQ(sim.journalCount(), 5u);
}

}  // namespace
}  // namespace km4410r::sim
