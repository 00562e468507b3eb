// A scripted peer on a pty for the link tests: it reads the host's frames and
// answers each with whatever bytes, pauses and hang-ups the test asks for.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace km_test {

struct Step {
  std::vector<uint8_t> bytes;
  int delayMsBefore = 0;
  bool hangUp = false;  // close the master: the device is gone
};
using Script = std::vector<Step>;

// Host frame received by the peer.
struct HostFrame {
  std::vector<uint8_t> raw;
  uint8_t seq() const { return raw.size() > 2 ? raw[2] : 0; }
  uint8_t cmd() const { return raw.size() > 3 ? raw[3] : 0; }
  std::string data() const {
    if (raw.size() < 10) return std::string();
    return std::string(reinterpret_cast<const char*>(raw.data()) + 4, raw.size() - 10);
  }
};

// Register frame: 0x01 LEN SEQ CMD data 0x04 status(6) 0x05 digits(4) 0x03.
std::vector<uint8_t> RegisterFrame(uint8_t seq, uint8_t cmd, const std::string& data,
                                   const uint8_t status[6] = nullptr, int checksumDelta = 0);
// The answer a working register gives to `frame`: same SEQ and CMD.
std::vector<uint8_t> AnswerTo(const HostFrame& frame, const std::string& data,
                              const uint8_t status[6] = nullptr);

class PtyPeer {
 public:
  using Responder = std::function<Script(const HostFrame&)>;
  // rawSlave false: the slave keeps the termios a fresh tty has (echo,
  // canonical mode, XON/XOFF on), as a serial device the driver has never
  // opened before.
  explicit PtyPeer(Responder responder, bool rawSlave = true);
  ~PtyPeer();
  const std::string& slavePath() const { return slave_; }
  std::vector<HostFrame> frames();
  void setResponder(Responder responder);

 private:
  void Run();
  int master_ = -1;
  int keepSlave_ = -1;
  std::string slave_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  Responder responder_;
  std::vector<HostFrame> frames_;
  std::thread thread_;
};

}  // namespace km_test
