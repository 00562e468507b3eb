#include "tests/driver/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

namespace km_test {

std::vector<uint8_t> RegisterFrame(uint8_t seq, uint8_t cmd, const std::string& data,
                                   const uint8_t status[6], int checksumDelta) {
  static const uint8_t kClear[6] = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
  if (!status) status = kClear;
  std::vector<uint8_t> f(4 + data.size());
  f[0] = 0x01;
  f[1] = static_cast<uint8_t>(0x2B + data.size());
  f[2] = seq;
  f[3] = cmd;
  for (size_t i = 0; i < data.size(); ++i) f[4 + i] = static_cast<uint8_t>(data[i]);
  f.push_back(0x04);
  for (int i = 0; i < 6; ++i) f.push_back(status[i]);
  f.push_back(0x05);
  uint32_t sum = 0;
  for (size_t i = 1; i < f.size(); ++i) sum += f[i];
  sum = static_cast<uint32_t>(static_cast<int64_t>(sum) + checksumDelta);
  for (int shift = 12; shift >= 0; shift -= 4) f.push_back(static_cast<uint8_t>(0x30 + ((sum >> shift) & 0xF)));
  f.push_back(0x03);
  return f;
}

std::vector<uint8_t> AnswerTo(const HostFrame& frame, const std::string& data, const uint8_t status[6]) {
  return RegisterFrame(frame.seq(), frame.cmd(), data, status);
}

PtyPeer::PtyPeer(Responder responder, bool rawSlave) : responder_(std::move(responder)) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  grantpt(master_);
  unlockpt(master_);
  slave_ = ptsname(master_);
  if (rawSlave) {  // termios set on the master is the slave's
    struct termios tio;
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
  }
  // Holding the slave open ourselves keeps the master from seeing a hang-up
  // while the driver has the port closed.
  keepSlave_ = open(slave_.c_str(), O_RDWR | O_NOCTTY);
  thread_ = std::thread([this] { Run(); });
}

PtyPeer::~PtyPeer() {
  stop_ = true;
  thread_.join();
  if (keepSlave_ >= 0) close(keepSlave_);
  if (master_ >= 0) close(master_);
}

std::vector<HostFrame> PtyPeer::frames() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

void PtyPeer::setResponder(Responder responder) {
  std::lock_guard<std::mutex> lock(mutex_);
  responder_ = std::move(responder);
}

void PtyPeer::Run() {
  std::vector<uint8_t> pending;
  while (!stop_) {
    if (master_ < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    struct pollfd p = {master_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) {
      if (p.revents & (POLLHUP | POLLERR)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    uint8_t buf[512];
    ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] == 0x01) pending.clear();
      pending.push_back(buf[i]);
      if (buf[i] != 0x03 || pending.front() != 0x01) continue;
      HostFrame frame{pending};
      pending.clear();
      Responder responder;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back(frame);
        responder = responder_;
      }
      Script script = responder ? responder(frame) : Script{};
      for (const Step& step : script) {
        if (step.delayMsBefore > 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMsBefore));
        if (stop_) return;
        if (!step.bytes.empty() && master_ >= 0) {
          size_t done = 0;
          while (done < step.bytes.size()) {
            ssize_t w = write(master_, step.bytes.data() + done, step.bytes.size() - done);
            if (w <= 0) break;
            done += static_cast<size_t>(w);
          }
        }
        if (step.hangUp) {
          close(keepSlave_);
          keepSlave_ = -1;
          close(master_);
          master_ = -1;
        }
      }
    }
  }
}

}  // namespace km_test
