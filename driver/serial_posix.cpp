// termios backend of the serial port.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "driver/printer.h"
#include "driver/serial.h"

namespace km_driver::serial {
namespace {

// The open ports, by handle. Each has its read-ahead: bytes already taken
// from the device but not yet handed out.
struct Port {
  int fd = -1;  // -1: a free slot
  int baud = 0;  // for the deadlines of writes and drains
  uint8_t ahead[256];
  int aheadPos = 0;
  int aheadLen = 0;
};
constexpr int kMaxPorts = 8;
Port gPorts[kMaxPorts];

Port* Lookup(int handle) {
  if (handle < 0 || handle >= kMaxPorts || gPorts[handle].fd < 0) return nullptr;
  return &gPorts[handle];
}

// Margin beyond the bytes' own time on the line for a write or a drain.
constexpr int kWriteMarginMs = 1000;

// The time `bytes` take on the line (10 bits a byte), rounded up, plus the margin.
int64_t LineDeadlineMs(int bytes, int baud) {
  const int64_t bits = static_cast<int64_t>(bytes > 0 ? bytes : 0) * 10;
  return (bits * 1000 + baud - 1) / baud + kWriteMarginMs;
}

// The termios constant of each of the register's line speeds; B0 for any
// other speed.
speed_t SpeedConstant(int baud) {
  if (!IsLineSpeed(baud)) return B0;
  switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

}  // namespace

int Open(const char* device, int baud) {
  speed_t speed = SpeedConstant(baud);
  if (speed == B0) {
    errno = EINVAL;
    return -1;
  }
  int slot = 0;
  while (slot < kMaxPorts && gPorts[slot].fd >= 0) ++slot;
  if (slot == kMaxPorts) {
    errno = EMFILE;
    return -1;
  }
  // Non-blocking, and it stays so: no open, write or close may wait on a line
  // without carrier or with its output stopped.
  int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  int fail = 0;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    fail = (errno == EWOULDBLOCK) ? EBUSY : errno;
  } else {
    struct termios tio;
    if (::tcgetattr(fd, &tio) != 0) {
      fail = errno;
    } else {
      // Raw 8N1. The frames are binary: software flow control is off (a 0x13
      // from the line would otherwise stop our output for good, and 0x11 and
      // 0x13 would vanish from answers); hardware flow control stays as the
      // port had it.
      tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                            ICRNL | IXON | IXOFF | IXANY);
      tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
      tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
      tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
      tio.c_cflag |= CS8 | CLOCAL | CREAD;
      tio.c_cc[VMIN] = 0;
      tio.c_cc[VTIME] = 1;
      cfsetispeed(&tio, speed);
      cfsetospeed(&tio, speed);
      if (::tcsetattr(fd, TCSANOW, &tio) != 0) fail = errno;
    }
  }
  if (fail == 0) {
    // Exclusive use rests on the flock alone, which the kernel releases with
    // the process however it ends (TIOCEXCL would outlive a crash and lock
    // the user out of the port).
    ::tcflush(fd, TCIOFLUSH);
    Port& p = gPorts[slot];
    p.fd = fd;
    p.baud = baud;
    p.aheadPos = p.aheadLen = 0;
    return slot;
  }
  ::close(fd);
  errno = fail;
  return -1;
}

bool Close(int handle) {
  Port* p = Lookup(handle);
  if (!p) {
    errno = EBADF;
    return false;
  }
  const int fd = p->fd;
  *p = Port{};
  // Unsent output is discarded first: a close never waits on a stopped line.
  ::tcflush(fd, TCOFLUSH);
  return ::close(fd) == 0;
}

void Purge(int handle) {
  Port* p = Lookup(handle);
  if (!p) return;
  p->aheadPos = p->aheadLen = 0;
  ::tcflush(p->fd, TCIOFLUSH);
}

bool Drain(int handle) {
  Port* p = Lookup(handle);
  if (!p) return true;
  // tcdrain would wait for ever on a stopped line: watch the output queue
  // instead, for as long as its bytes need on the line and the margin.
  int queued = 0;
  if (::ioctl(p->fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
  const int64_t deadline = MonotonicMs() + LineDeadlineMs(queued, p->baud);
  for (;;) {
    if (::ioctl(p->fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
    if (MonotonicMs() >= deadline) {
      errno = ETIMEDOUT;
      return false;
    }
    struct timespec pause = {0, 2 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
  }
}

bool Write(int handle, const uint8_t* data, int length) {
  Port* p = Lookup(handle);
  if (!p) {
    errno = EBADF;
    return false;
  }
  const int64_t deadline = MonotonicMs() + LineDeadlineMs(length, p->baud);
  int done = 0;
  while (done < length) {
    ssize_t n = ::write(p->fd, data + done, static_cast<size_t>(length - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    // The line takes no more for now (output stopped, buffer full): wait for
    // room, but not beyond the deadline.
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) {
      errno = ETIMEDOUT;
      return false;
    }
    struct pollfd out = {p->fd, POLLOUT, 0};
    int r = ::poll(&out, 1, static_cast<int>(left < 50 ? left : 50));
    if (r < 0 && errno != EINTR) return false;
    if (r > 0) {  // room announced but the write may still find none: no busy loop
      struct timespec pause = {0, 1000 * 1000};
      ::nanosleep(&pause, nullptr);
    }
  }
  return true;
}

int64_t MonotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int ReadByte(int handle, uint8_t* byte) {
  Port* p = Lookup(handle);
  if (!p) {
    errno = EBADF;
    return -1;
  }
  if (p->aheadPos < p->aheadLen) {
    *byte = p->ahead[p->aheadPos++];
    return 1;
  }
  struct pollfd in = {p->fd, POLLIN, 0};
  int r;
  do {
    r = ::poll(&in, 1, 100);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return -1;
  if (r == 0) return 0;
  if (in.revents & POLLIN) {
    ssize_t n;
    do {
      n = ::read(p->fd, p->ahead, sizeof p->ahead);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
      p->aheadPos = 1;
      p->aheadLen = static_cast<int>(n);
      *byte = p->ahead[0];
      return 1;
    }
    if (n == 0) {
      // Readable yet nothing to read: the other side is gone.
      errno = EIO;
      return -1;
    }
    return -1;
  }
  // POLLHUP / POLLERR / POLLNVAL without data: the device went away.
  errno = (in.revents & POLLNVAL) ? EBADF : EIO;
  return -1;
}

void LockInMemory(const void*, unsigned) {
  // The receive code is not locked here: a page fault costs far less than
  // the 100 ms a read may wait.
}

}  // namespace km_driver::serial
