// termios backend of the serial port.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "driver/serial.h"

namespace km_driver::serial {
namespace {

// Read-ahead: bytes already taken from the device but not yet handed out.
// One port at a time, like the driver itself.
uint8_t gAhead[256];
int gAheadPos = 0;
int gAheadLen = 0;

speed_t SpeedConstant(int baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
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
  // Non-blocking open so that a port without carrier does not hang us.
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
      // Raw 8N1; flow control stays as the port had it.
      tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                            ICRNL | IXANY);
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
    ::ioctl(fd, TIOCEXCL);  // like the unshared open of other systems; root bypasses it
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    ::tcflush(fd, TCIOFLUSH);
    gAheadPos = gAheadLen = 0;
    return fd;
  }
  ::close(fd);
  errno = fail;
  return -1;
}

bool Close(int handle) {
  gAheadPos = gAheadLen = 0;
  if (handle < 0) {
    errno = EBADF;
    return false;
  }
  ::ioctl(handle, TIOCNXCL);
  return ::close(handle) == 0;
}

void Purge(int handle) {
  gAheadPos = gAheadLen = 0;
  if (handle >= 0) ::tcflush(handle, TCIOFLUSH);
}

void Drain(int handle) {
  if (handle >= 0) ::tcdrain(handle);
}

bool Write(int handle, const uint8_t* data, int length) {
  int done = 0;
  while (done < length) {
    ssize_t n = ::write(handle, data + done, static_cast<size_t>(length - done));
    if (n > 0) {
      done += static_cast<int>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      struct pollfd p = {handle, POLLOUT, 0};
      if (::poll(&p, 1, 1000) <= 0) return false;
    } else {
      return false;
    }
  }
  return true;
}

int ReadByte(int handle, uint8_t* byte) {
  if (gAheadPos < gAheadLen) {
    *byte = gAhead[gAheadPos++];
    return 1;
  }
  if (handle < 0) {
    errno = EBADF;
    return -1;
  }
  struct pollfd p = {handle, POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, 100);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return -1;
  if (r == 0) return 0;
  if (p.revents & POLLIN) {
    ssize_t n;
    do {
      n = ::read(handle, gAhead, sizeof gAhead);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
      gAheadPos = 1;
      gAheadLen = static_cast<int>(n);
      *byte = gAhead[0];
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
  errno = (p.revents & POLLNVAL) ? EBADF : EIO;
  return -1;
}

}  // namespace km_driver::serial
