// What connecting is on every platform: the name lookup on a thread of its
// own, waited for no longer than the deadline (a slow name server cannot
// hold the caller past it), then the host's addresses tried in turn within
// the same deadline. Included by socket_posix.cpp and socket_win32.cpp.
#pragma once
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif
#include <errno.h>
#include <stdio.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "driver/port.h"
#include "driver/socket.h"

namespace km_driver::sock::detail {

// One name lookup, shared by the caller and the lookup thread; the last of
// the two to let go frees it (a caller past its deadline leaves the thread
// to finish on its own).
struct Lookup {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  int refs = 2;
  int rc = 0;
  int lookupErrno = 0;  // the lookup thread's errno, for a system error
  char host[256];
  char service[8];
  addrinfo* result = nullptr;
};

inline void Release(Lookup* lookup) {
  bool last;
  {
    std::lock_guard<std::mutex> lock(lookup->mutex);
    last = --lookup->refs == 0;
  }
  if (!last) return;
  if (lookup->result) freeaddrinfo(lookup->result);
  delete lookup;
}

inline void RunLookup(Lookup* lookup) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  const int rc = getaddrinfo(lookup->host, lookup->service, &hints, &result);
  const int lookupErrno = errno;
  {
    std::lock_guard<std::mutex> lock(lookup->mutex);
    lookup->rc = rc;
    lookup->lookupErrno = lookupErrno;
    lookup->result = result;
    lookup->finished = true;
  }
  lookup->done.notify_all();
  Release(lookup);
}

// lookupError(rc, errno of the lookup) words a failed lookup as a port error;
// connectOne(address, deadline, error) connects to one address or returns
// kNoSocket with *error set.
template <typename LookupError, typename ConnectOne>
Socket ConnectWithin(const char* host, int portNumber, int timeoutMs, PortError* error, LookupError lookupError,
                     ConnectOne connectOne) {
  const int64_t deadline = port::MonotonicMs() + timeoutMs;
  Lookup* lookup = new Lookup;
  snprintf(lookup->host, sizeof lookup->host, "%s", host ? host : "");
  snprintf(lookup->service, sizeof lookup->service, "%d", portNumber);
  std::thread(RunLookup, lookup).detach();
  bool finished;
  {
    std::unique_lock<std::mutex> lock(lookup->mutex);
    finished = lookup->done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return lookup->finished; });
  }
  if (!finished) {
    Release(lookup);
    *error = PortError::kConnectTimeout;
    return kNoSocket;
  }
  if (lookup->rc != 0 || !lookup->result) {
    *error = lookup->rc != 0 ? lookupError(lookup->rc, lookup->lookupErrno) : PortError::kHostUnknown;
    Release(lookup);
    return kNoSocket;
  }
  Socket s = kNoSocket;
  *error = PortError::kHostUnknown;
  for (const addrinfo* a = lookup->result; a && s == kNoSocket; a = a->ai_next) {
    if (port::MonotonicMs() >= deadline) {
      *error = PortError::kConnectTimeout;
      break;
    }
    s = connectOne(a, deadline, error);
  }
  Release(lookup);
  return s;
}

}  // namespace km_driver::sock::detail
