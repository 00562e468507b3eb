// BSD sockets behind the network ports.
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "driver/port.h"
#include "driver/socket.h"
#include "driver/socket_connect.h"

namespace km_driver::sock {
namespace {

// A failed lookup: an unknown name (or a name server that did not answer),
// else what the system said.
PortError LookupError(int rc, int lookupErrno) {
  if (rc == EAI_MEMORY) return PortError::kOutOfMemory;
  if (rc == EAI_SYSTEM) return lookupErrno ? port::SystemPortError(lookupErrno) : PortError::kDeviceGone;
  return PortError::kHostUnknown;
}

// A failed connection: the system's own connect timeout too is the host not
// answering.
PortError ConnectError(int error) {
  return error == ETIMEDOUT ? PortError::kConnectTimeout : port::SystemPortError(error);
}

// Waits for the socket to become ready for `events`; the poll result.
int WaitFor(Socket s, short events, int waitMs) {
  struct pollfd p = {static_cast<int>(s), events, 0};
  const int64_t deadline = port::MonotonicMs() + (waitMs > 0 ? waitMs : 0);
  for (;;) {
    const int64_t left = deadline - port::MonotonicMs();
    const int r = ::poll(&p, 1, static_cast<int>(left > 0 ? left : 0));
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

Socket ConnectOne(const addrinfo* a, int64_t deadline, PortError* error) {
  const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
  if (fd < 0) {
    *error = port::SystemPortError(errno);
    return kNoSocket;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) return fd;
  if (errno != EINPROGRESS && errno != EINTR) {
    *error = ConnectError(errno);
    ::close(fd);
    return kNoSocket;
  }
  const int64_t left = deadline - port::MonotonicMs();
  const int r = left > 0 ? WaitFor(fd, POLLOUT, static_cast<int>(left)) : 0;
  if (r <= 0) {
    *error = r == 0 ? PortError::kConnectTimeout : port::SystemPortError(errno);
    ::close(fd);
    return kNoSocket;
  }
  int so = 0;
  socklen_t len = sizeof so;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so, &len) != 0) so = errno;
  if (so != 0) {
    *error = ConnectError(so);
    ::close(fd);
    return kNoSocket;
  }
  return fd;
}

// -1 with the error of the call that failed.
int Failed(PortError* error) {
  *error = port::SystemPortError(errno);
  return -1;
}

}  // namespace

Socket Connect(const char* host, int port, int timeoutMs, PortError* error) {
  PortError ignored = PortError::kNone;
  return detail::ConnectWithin(host, port, timeoutMs, error ? error : &ignored, LookupError, ConnectOne);
}

int Send(Socket s, const uint8_t* data, int length, int waitMs, PortError* error) {
  if (length <= 0) return 0;
  for (;;) {
    const ssize_t n = ::send(static_cast<int>(s), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Failed(error);
    const int r = WaitFor(s, POLLOUT, waitMs);
    if (r < 0) return Failed(error);
    if (r == 0) return 0;
    waitMs = 0;  // one wait only: the caller keeps the deadline
  }
}

int Receive(Socket s, uint8_t* buffer, int size, int waitMs, PortError* error) {
  const int r = WaitFor(s, POLLIN, waitMs);
  if (r < 0) return Failed(error);
  if (r == 0) return 0;
  ssize_t n;
  do {
    n = ::recv(static_cast<int>(s), buffer, static_cast<size_t>(size), 0);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
#ifdef TCP_QUICKACK
    // Acknowledged at once, not 40 ms later: a server that sends an answer in
    // pieces with Nagle's algorithm on waits for that acknowledgement before
    // each next piece.
    const int one = 1;
    ::setsockopt(static_cast<int>(s), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#endif
    return static_cast<int>(n);
  }
  if (n == 0) {
    *error = PortError::kConnectionClosed;  // the other side closed the connection
    return -1;
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
  return Failed(error);
}

void Close(Socket s) {
  if (s != kNoSocket) ::close(static_cast<int>(s));
}

}  // namespace km_driver::sock
