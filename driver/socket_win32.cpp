// Winsock behind the network ports. Winsock's errors are worded by the
// port layer's SystemPortError, as the system's own.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include "driver/port.h"
#include "driver/socket.h"
#include "driver/socket_connect.h"

namespace km_driver::sock {
namespace {

bool Started() {
  static bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

// select() on one socket for reading, writing or both; its result.
int WaitFor(SOCKET s, bool read, bool write, int waitMs, bool* failed) {
  fd_set r, w, e;
  FD_ZERO(&r);
  FD_ZERO(&w);
  FD_ZERO(&e);
  if (read) FD_SET(s, &r);
  if (write) FD_SET(s, &w);
  FD_SET(s, &e);
  timeval tv = {waitMs / 1000, (waitMs % 1000) * 1000};
  const int n = select(0, &r, &w, &e, &tv);
  if (failed) *failed = n > 0 && FD_ISSET(s, &e);
  return n;
}

Socket ConnectOne(const addrinfo* a, int64_t deadline, PortError* error) {
  SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
  if (s == INVALID_SOCKET) {
    *error = port::SystemPortError(WSAGetLastError());
    return kNoSocket;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  const BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&one), sizeof one);
  if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) return static_cast<Socket>(s);
  const int wsa = WSAGetLastError();
  if (wsa != WSAEWOULDBLOCK && wsa != WSAEINPROGRESS) {
    *error = port::SystemPortError(wsa);
    closesocket(s);
    return kNoSocket;
  }
  const int64_t left = deadline - port::MonotonicMs();
  bool failed = false;
  // A refused connection shows in the exception set on Windows.
  const int n = left > 0 ? WaitFor(s, false, true, static_cast<int>(left), &failed) : 0;
  if (n <= 0 || failed) {
    int so = 0;
    int len = sizeof so;
    if (n > 0) getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so), &len);
    *error = n == 0 ? PortError::kConnectTimeout : (so ? port::SystemPortError(so) : PortError::kConnectionRefused);
    closesocket(s);
    return kNoSocket;
  }
  return static_cast<Socket>(s);
}

}  // namespace

Socket Connect(const char* host, int port, int timeoutMs, PortError* error) {
  PortError ignored = PortError::kNone;
  if (!error) error = &ignored;
  if (!Started()) {
    *error = PortError::kNetworkUnreachable;
    return kNoSocket;
  }
  const Socket s = detail::ConnectWithin(
      host, port, timeoutMs, error, [](int, int) { return PortError::kHostUnknown; }, ConnectOne);
  if (s != kNoSocket) {
    // Every segment acknowledged at once (Windows 10 and later), not after
    // the delayed acknowledgement's 200 ms: a server that sends an answer in
    // pieces with Nagle's algorithm on waits for it before each next piece.
    DWORD everySegment = 1, returned = 0;
    WSAIoctl(static_cast<SOCKET>(s), SIO_TCP_SET_ACK_FREQUENCY, &everySegment, sizeof everySegment, nullptr, 0,
             &returned, nullptr, nullptr);
  }
  return s;
}

int Send(Socket s, const uint8_t* data, int length, int waitMs, PortError* error) {
  if (length <= 0) return 0;
  const SOCKET so = static_cast<SOCKET>(s);
  for (;;) {
    const int n = send(so, reinterpret_cast<const char*>(data), length, 0);
    if (n >= 0) return n;
    const int wsa = WSAGetLastError();
    if (wsa != WSAEWOULDBLOCK) {
      *error = port::SystemPortError(wsa);
      return -1;
    }
    const int r = WaitFor(so, false, true, waitMs, nullptr);
    if (r < 0) {
      *error = port::SystemPortError(WSAGetLastError());
      return -1;
    }
    if (r == 0) return 0;
    waitMs = 0;
  }
}

int Receive(Socket s, uint8_t* buffer, int size, int waitMs, PortError* error) {
  const SOCKET so = static_cast<SOCKET>(s);
  const int r = WaitFor(so, true, false, waitMs, nullptr);
  if (r < 0) {
    *error = port::SystemPortError(WSAGetLastError());
    return -1;
  }
  if (r == 0) return 0;
  const int n = recv(so, reinterpret_cast<char*>(buffer), size, 0);
  if (n > 0) return n;
  if (n == 0) {
    *error = PortError::kConnectionClosed;
    return -1;
  }
  const int wsa = WSAGetLastError();
  if (wsa == WSAEWOULDBLOCK) return 0;
  *error = port::SystemPortError(wsa);
  return -1;
}

void Close(Socket s) {
  if (s != kNoSocket) closesocket(static_cast<SOCKET>(s));
}

}  // namespace km_driver::sock
