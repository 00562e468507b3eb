// The TCP relay: one thread polls the listener, the client and the device; a
// pipe wakes it for stop() and dropClient(). Each direction holds at most one
// read's worth of bytes: nothing more is read from a side until the other side
// took them, so a slow reader slows the writer instead of filling memory.
#include "sim/tcprelay.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "sim/serving_thread.h"

namespace km4410r::sim {
namespace {

constexpr int kPollMs = 50;
constexpr size_t kChunk = 4096;

void setError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// An error text as it reads inside a sentence: "address already in use".
std::string inSentence(std::string s) {
  if (!s.empty() && s[0] >= 'A' && s[0] <= 'Z' && (s.size() < 2 || !(s[1] >= 'A' && s[1] <= 'Z')))
    s[0] = static_cast<char>(s[0] - 'A' + 'a');
  return s;
}

std::string errorText(int err) { return inSentence(std::strerror(err)); }

// Bytes on their way from one side to the other.
struct Pending {
  uint8_t buf[kChunk];
  size_t pos = 0, len = 0;
  bool empty() const { return pos == len; }
  void clear() { pos = len = 0; }
};

}  // namespace

struct TcpRelay::Impl {
  int listenFd = -1;
  int device = -1;
  int client = -1;
  int boundPort = 0;
  std::string boundAddress;
  ServingThread worker;
  bool deviceGone = false;  // the device hung up (the simulator stopped)
  Pending toClient, toDevice;

  // dropClient(): the caller raises `asked`, the thread answers with `done`.
  std::mutex dropMu;
  std::condition_variable dropCv;
  uint64_t dropAsked = 0, dropDone = 0;
  bool serving = false;  // the thread is in its loop

  void closeClient() {
    if (client < 0) return;
    ::close(client);
    client = -1;
    toClient.clear();
    toDevice.clear();
    if (device >= 0) flock(device, LOCK_UN);
  }

  void loseDevice() {
    deviceGone = true;
    closeClient();
  }

  // A client of ours still there? (false when it closed or reset)
  bool clientAlive() {
    if (client < 0) return false;
    uint8_t b;
    ssize_t r = ::recv(client, &b, 1, MSG_PEEK | MSG_DONTWAIT);
    return r > 0 || (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
  }

  void acceptOne() {
    int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: the connection stays queued; do not spin on it.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        pollfd w{worker.wakeFd(), POLLIN, 0};
        poll(&w, 1, kPollMs);
      }
      return;
    }
    // The one line is taken: by our client (unless it has just gone), by
    // another program, or there is no device any more.
    if (client >= 0 && !clientAlive()) closeClient();
    if (client >= 0 || deviceGone || flock(device, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // frames are small
    client = fd;
    toClient.clear();
    toDevice.clear();
    tcflush(device, TCIOFLUSH);
  }

  // Reads the device; its bytes go to the client, or nowhere without one.
  void readDevice() {
    ssize_t r = ::read(device, toClient.buf, sizeof toClient.buf);
    if (r > 0) {
      if (client >= 0) {
        toClient.pos = 0;
        toClient.len = static_cast<size_t>(r);
      }
    } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
      loseDevice();  // EIO: the other end of the pty closed
    }
  }

  void readClient() {
    ssize_t r = ::recv(client, toDevice.buf, sizeof toDevice.buf, MSG_DONTWAIT);
    if (r > 0) {
      toDevice.pos = 0;
      toDevice.len = static_cast<size_t>(r);
    } else if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      closeClient();  // gone, or reset
    }
  }

  void writeDevice() {
    ssize_t w = ::write(device, toDevice.buf + toDevice.pos, toDevice.len - toDevice.pos);
    if (w > 0) toDevice.pos += static_cast<size_t>(w);
    else if (w < 0 && errno != EAGAIN && errno != EINTR) loseDevice();
  }

  void writeClient() {
    ssize_t w = ::send(client, toClient.buf + toClient.pos, toClient.len - toClient.pos, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w > 0) toClient.pos += static_cast<size_t>(w);
    else if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) closeClient();
  }

  void answerDrops() {
    std::lock_guard<std::mutex> l(dropMu);
    if (dropDone == dropAsked) return;
    closeClient();
    dropDone = dropAsked;
    dropCv.notify_all();
  }

  void serve() {
    while (!worker.stopping()) {
      answerDrops();
      pollfd f[4] = {{worker.wakeFd(), POLLIN, 0}, {listenFd, POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}};
      if (!deviceGone) {
        f[2].fd = device;
        f[2].events = static_cast<short>((toDevice.empty() ? 0 : POLLOUT) | (toClient.empty() ? POLLIN : 0));
      }
      if (client >= 0) {
        f[3].fd = client;
        f[3].events = static_cast<short>((toClient.empty() ? 0 : POLLOUT) | (toDevice.empty() ? POLLIN : 0));
      }
      if (poll(f, 4, kPollMs) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (f[0].revents) {
        worker.drain();
        continue;  // stop or drop: seen at the top
      }
      if (f[2].fd >= 0 && f[2].revents) {
        if (f[2].revents & POLLIN) readDevice();
        else if (f[2].revents & (POLLHUP | POLLERR | POLLNVAL)) loseDevice();
        if (!deviceGone && (f[2].revents & POLLOUT) && !toDevice.empty()) writeDevice();
      }
      // The client after the device, so that a client that has gone is
      // closed before a new connection is looked at.
      if (client >= 0 && f[3].fd == client && f[3].revents) {
        const short ev = f[3].revents;
        if (ev & POLLERR) {
          closeClient();  // reset
        } else {
          if ((ev & POLLOUT) && !toClient.empty()) writeClient();
          if (client >= 0 && (ev & (POLLIN | POLLHUP))) {
            if (toDevice.empty()) readClient();
            else if (ev & POLLHUP) closeClient();  // gone both ways: nothing left to deliver to
          }
        }
      }
      if (f[1].revents & POLLIN) acceptOne();
    }
    std::lock_guard<std::mutex> l(dropMu);
    serving = false;
    dropCv.notify_all();
  }

  void closeAll() {
    closeClient();
    for (int* fd : {&listenFd, &device}) {
      if (*fd >= 0) ::close(*fd);
      *fd = -1;
    }
    boundPort = 0;
    boundAddress.clear();
    deviceGone = false;
  }

  bool openDevice(const std::string& path, std::string* error) {
    device = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (device < 0) {
      setError(error, "cannot open " + path + ": " + errorText(errno));
      return false;
    }
    // Raw 8N1 with software flow control off: the frames are binary.
    termios t{};
    if (tcgetattr(device, &t) != 0) {
      setError(error, path + " is not a serial line: " + errorText(errno));
      return false;
    }
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(device, TCSANOW, &t) != 0) {
      setError(error, "cannot set up " + path + ": " + errorText(errno));
      return false;
    }
    return true;
  }

  bool listenOn(const std::string& host, int port, std::string* error) {
    const std::string where = "tcp port " + std::to_string(port) + " on " + host + ": ";
    if (port < 0 || port > 65535) {
      setError(error, where + "no such port");
      return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const int gai = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (gai != 0) {
      setError(error, where + inSentence(gai_strerror(gai)));
      return false;
    }
    int err = EADDRNOTAVAIL;
    for (addrinfo* a = list; a && listenFd < 0; a = a->ai_next) {
      int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
      if (fd < 0) {
        err = errno;
        continue;
      }
      int one = 1;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 4) != 0) {
        err = errno;
        ::close(fd);
        continue;
      }
      listenFd = fd;
    }
    freeaddrinfo(list);
    if (listenFd < 0) {
      setError(error, where + errorText(err));
      return false;
    }
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    char num[NI_MAXHOST] = {}, serv[NI_MAXSERV] = {};
    if (getsockname(listenFd, reinterpret_cast<sockaddr*>(&ss), &len) != 0 ||
        getnameinfo(reinterpret_cast<sockaddr*>(&ss), len, num, sizeof num, serv, sizeof serv,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
      setError(error, where + "cannot read the address bound");
      return false;
    }
    boundPort = std::atoi(serv);
    const std::string h = num;
    boundAddress = "tcp://" + (h.find(':') != std::string::npos ? "[" + h + "]" : h) + ":" + serv;
    return true;
  }
};

TcpRelay::TcpRelay() : impl_(std::make_unique<Impl>()) {}

TcpRelay::~TcpRelay() { stop(); }

bool TcpRelay::start(const std::string& device, const std::string& bindHost, int port, std::string* error) {
  Impl& s = *impl_;
  if (s.worker.running()) {
    setError(error, "the tcp relay is already running on " + s.boundAddress);
    return false;
  }
  const std::string host = bindHost.empty() ? "127.0.0.1" : bindHost;
  if (!s.openDevice(device, error) || !s.listenOn(host, port, error)) {
    s.closeAll();
    return false;
  }
  if (!s.worker.open()) {
    setError(error, std::string("pipe: ") + errorText(errno));
    s.closeAll();
    return false;
  }
  s.serving = true;
  s.worker.start([&s] { s.serve(); });
  return true;
}

void TcpRelay::stop() {
  Impl& s = *impl_;
  if (!s.worker.running()) return;
  s.worker.stop();
  s.closeAll();
}

bool TcpRelay::running() const { return impl_->worker.running(); }

int TcpRelay::port() const { return impl_->boundPort; }

std::string TcpRelay::address() const { return impl_->boundAddress; }

void TcpRelay::dropClient() {
  Impl& s = *impl_;
  if (!s.worker.running()) return;
  std::unique_lock<std::mutex> l(s.dropMu);
  const uint64_t ticket = ++s.dropAsked;
  s.worker.wake();
  s.dropCv.wait(l, [&] { return s.dropDone >= ticket || !s.serving; });
}

}  // namespace km4410r::sim
