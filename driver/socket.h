// The network sockets behind the network ports (netport.cpp): one source per
// platform (BSD sockets in socket_posix.cpp, Winsock in socket_win32.cpp).
// Failures are port errors, the same on every platform.
#pragma once
#include <cstdint>

#include "driver/printer.h"

namespace km_driver::sock {

using Socket = intptr_t;
constexpr Socket kNoSocket = -1;

// Looks the host up and connects to it, all within timeoutMs (the lookup of
// a name runs on a thread of its own, so that a slow name server cannot hold
// the caller past the deadline). The socket is non-blocking, without Nagle's
// delay. On failure kNoSocket with *error: kHostUnknown, kConnectTimeout,
// kConnectionRefused, kHostUnreachable, kNetworkUnreachable, ...
Socket Connect(const char* host, int port, int timeoutMs, PortError* error);
// Sends what the socket takes now, waiting at most waitMs for room. Returns
// the bytes sent (0: no room within the wait), or -1 with *error set
// (kConnectionClosed: the other side is gone).
int Send(Socket s, const uint8_t* data, int length, int waitMs, PortError* error);
// Receives what has come, waiting at most waitMs for it. Returns the bytes
// received, 0 when none came within the wait, or -1 with *error set
// (kConnectionClosed also when the other side closed the connection).
int Receive(Socket s, uint8_t* buffer, int size, int waitMs, PortError* error);
void Close(Socket s);

}  // namespace km_driver::sock
