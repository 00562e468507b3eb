// termios backend of the serial port, and the POSIX side of the port layer:
// the clock, the pause and the words for errno.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "driver/port.h"

namespace km_driver::port {
namespace {

struct SerialState {
  int fd = -1;
};

int Fd(Port& p) { return p.BackendState<SerialState>().fd; }

// The termios constant of each of the register's line speeds; B0 for any
// other speed.
speed_t SpeedConstant(int baud) {
  switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

// Raw 8N1 at `speed`. The frames are binary: software flow control is off (a
// 0x13 from the line would otherwise stop our output for good, and 0x11 and
// 0x13 would vanish from answers); hardware flow control stays as the port
// had it. 0: done, else the errno value.
int SetRaw(int fd, speed_t speed) {
  struct termios tio;
  if (::tcgetattr(fd, &tio) != 0) return errno;
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                        IXANY);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 1;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  return ::tcsetattr(fd, TCSANOW, &tio) != 0 ? errno : 0;
}

PortError OpenSerial(Port& p, const char* device, int64_t) {
  const speed_t speed = SpeedConstant(p.baud);
  if (speed == B0) return PortError::kBadSettings;
  // Non-blocking, and it stays so: no open, write or close may wait on a line
  // without carrier or with its output stopped.
  const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return SystemPortError(errno);
  // Exclusive use rests on the flock alone, which the kernel releases with
  // the process however it ends (TIOCEXCL would outlive a crash and lock the
  // user out of the port).
  int fail = 0;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
    fail = errno == EWOULDBLOCK ? EBUSY : errno;
  else
    fail = SetRaw(fd, speed);
  if (fail != 0) {
    ::close(fd);
    return SystemPortError(fail);
  }
  ::tcflush(fd, TCIOFLUSH);
  p.NewState<SerialState>().fd = fd;
  return PortError::kNone;
}

bool CloseSerial(Port& p) {
  // Unsent output is discarded first: a close never waits on a stopped line.
  ::tcflush(Fd(p), TCOFLUSH);
  return ::close(Fd(p)) == 0;
}

void PurgeSerial(Port& p) { ::tcflush(Fd(p), TCIOFLUSH); }

int QueuedSerial(Port& p) {
  int queued = 0;
  return ::ioctl(Fd(p), TIOCOUTQ, &queued) == 0 ? queued : 0;
}

PortError WriteSerial(Port& p, const uint8_t* data, int length, int64_t deadline) {
  int done = 0;
  while (done < length) {
    const ssize_t n = ::write(Fd(p), data + done, static_cast<size_t>(length - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return ExchangePortError(errno);
    // The line takes no more for now (output stopped, buffer full): wait for
    // room, but not beyond the deadline.
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) return PortError::kLineStalled;
    struct pollfd out = {Fd(p), POLLOUT, 0};
    const int r = ::poll(&out, 1, static_cast<int>(left < 50 ? left : 50));
    if (r < 0 && errno != EINTR) return ExchangePortError(errno);
    if (r > 0) Pause(1);  // room announced but the write may still find none: no busy loop
  }
  return PortError::kNone;
}

int ReadSerial(Port& p, uint8_t* buffer, int size, int waitMs, PortError* error) {
  struct pollfd in = {Fd(p), POLLIN, 0};
  int r;
  do {
    r = ::poll(&in, 1, waitMs);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return 0;
  if (r > 0 && (in.revents & POLLIN)) {
    ssize_t n;
    do {
      n = ::read(Fd(p), buffer, static_cast<size_t>(size));
    } while (n < 0 && errno == EINTR);
    if (n > 0) return static_cast<int>(n);
    // Readable yet nothing to read: the other side is gone.
    *error = n == 0 ? PortError::kDeviceGone : ExchangePortError(errno);
    return -1;
  }
  // A failed poll, or POLLHUP / POLLERR / POLLNVAL without data: the device
  // went away.
  *error = r < 0 ? ExchangePortError(errno) : PortError::kDeviceGone;
  return -1;
}

}  // namespace

const Backend kSerialBackend = {OpenSerial, CloseSerial, PurgeSerial, QueuedSerial, WriteSerial, ReadSerial};

int64_t MonotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Pause(int ms) {
  struct timespec pause = {ms / 1000, (ms % 1000) * 1000L * 1000L};
  ::nanosleep(&pause, nullptr);
}

void LockInMemory(const void*, unsigned) {
  // The receive code is not locked here: a page fault costs far less than
  // the 100 ms a read may wait.
}

bool MayComeBack(const char* device) { return strncmp(device, "/dev/pts/", 9) != 0; }

// EIO, ENXIO and ENODEV are what a pulled USB adapter or a closed pty
// gives; on a port already open every error but a timeout means the same.
PortError ExchangePortError(int64_t code) {
  return code == ETIMEDOUT ? PortError::kLineStalled : PortError::kDeviceGone;
}

PortError SystemPortError(int64_t code) {
  switch (code) {
    case 0: return PortError::kNone;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return PortError::kNoDevice;
    case EACCES:
    case EPERM:
    case EROFS: return PortError::kNoPermission;
    case EBUSY:
    case EWOULDBLOCK: return PortError::kInUse;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN: return PortError::kInUse;
#endif
    case ENOTTY:
    case EISDIR: return PortError::kNotSerial;
    case EINVAL: return PortError::kBadSettings;
    case ETIMEDOUT: return PortError::kLineStalled;
    case EMFILE:
    case ENFILE: return PortError::kTooManyPorts;
    case ENOMEM:
    case ENOBUFS: return PortError::kOutOfMemory;
    case ECONNREFUSED: return PortError::kConnectionRefused;
    case EHOSTUNREACH:
    case EHOSTDOWN: return PortError::kHostUnreachable;
    case ENETUNREACH:
    case ENETDOWN: return PortError::kNetworkUnreachable;
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE: return PortError::kConnectionClosed;
    default: return PortError::kDeviceGone;  // EIO, EBADF and the rest: the device went away
  }
}

}  // namespace km_driver::port
