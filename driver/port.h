// The port layer: one table of open ports, each an object of the layer that
// holds its slot, its speed, its read-ahead and the state of the backend
// that drives it. A backend is a set of operations: the serial one of the
// platform (termios in serial_posix.cpp, the Win32 communications calls in
// serial_win32.cpp; the build picks one) and the network one (netport.cpp),
// chosen by the name at opening. The timing rules live here, for all of them,
// and every failure is a PortError, the same on every platform.
#pragma once
#include <cstddef>
#include <cstdint>
#include <new>

#include "driver/printer.h"
#include "driver/testing.h"

// Opening a network port takes at most this many seconds (the number also
// stands in the texts of ports.cpp).
#define KM_OPEN_DEADLINE_S 5

namespace km_driver::port {

// ---- the timing rules -----------------------------------------------------
constexpr int kMaxPorts = 8;           // ports open at the same time
constexpr int kReadWaitMs = 100;       // a read waits at most this long for its byte
constexpr int kWriteMarginMs = 1000;   // a write or a drain: the bytes' time on the line and this
constexpr int kBitsPerByte = 10;       // 8N1: a start bit, 8 data bits, a stop bit
constexpr int kOpenDeadlineMs = KM_OPEN_DEADLINE_S * 1000;

// The time `bytes` take on the line at `baud`, rounded up to a millisecond.
constexpr int64_t LineTimeMs(int bytes, int baud) {
  const int64_t bits = static_cast<int64_t>(bytes > 0 ? bytes : 0) * kBitsPerByte;
  return (bits * 1000 + baud - 1) / baud;
}
// How long writing or draining `bytes` may take.
constexpr int64_t LineDeadlineMs(int bytes, int baud) { return LineTimeMs(bytes, baud) + kWriteMarginMs; }

// ---- the driver's side ------------------------------------------------------
// Open and Close: driver/testing.h, where the tests reach them too.
// Discards what is waiting in both directions, the read-ahead included.
void Purge(int handle);
// Waits until everything written has left, at most the bytes' time on the
// line and the margin; false (kLineStalled) past that.
bool Drain(int handle, PortError* error);
// Writes all bytes within their time on the line and the margin; false on an
// error or past that deadline (kLineStalled).
bool Write(int handle, const uint8_t* data, int length, PortError* error);
// Reads one byte, waiting at most kReadWaitMs. 1: a byte came; 0: none within
// the wait; -1: the port failed (*error set), e.g. the device went away.
int ReadByte(int handle, uint8_t* byte, PortError* error);

// A link that comes back. A read or a write that fails for any reason but a
// stalled line means the link is gone (a closed or reset connection, a
// serial device that went away): the layer closes the device at once and
// keeps the slot, its name and its speed. Until Reopen succeeds, a write or
// a read fails at once with what the failing call said, and a purge or a
// drain does nothing.
bool IsLost(int handle);
// Opens a lost port's device again by the name and speed it was opened with
// (the lock taken again; for RFC 2217 the speed and 8N1 set again). While the
// link has been gone for less than kReopenPatience open deadlines, it tries
// again every kReopenPauseMs until the open deadline (a USB adapter coming
// back, a server restarting); after that, once, and at most once an open
// deadline (a host that never answers costs one wait, not one a call).
// kNone once it is open again (or was never lost), else why it could not be
// opened (the port stays lost).
PortError Reopen(int handle);
// Whether a device of this name can come back once gone. Not a pty named by
// its own path (/dev/pts/N): one that closed never returns, and the next pty
// to take its number is another program's. A link to a pty (a COM link) can.
bool MayComeBack(const char* device);
constexpr int kReopenPauseMs = 100;
constexpr int kReopenPatience = 6;

// ---- the platform ---------------------------------------------------------
// A monotonic clock in milliseconds, for the deadlines.
int64_t MonotonicMs();
// Sleeps for ms milliseconds.
void Pause(int ms);
// Keeps `bytes` of code from `start` in physical memory, where the system
// offers that (Windows); elsewhere nothing. Whether it is granted does not
// matter.
void LockInMemory(const void* start, unsigned bytes);
// SystemPortError: driver/testing.h.

// ---- the backends' side -----------------------------------------------------
struct Port;

// What a backend does with an open port. A failing operation tells why.
struct Backend {
  // Opens the device into `port` (its speed is set) by `deadline` (a
  // MonotonicMs time); on failure nothing stays open.
  PortError (*open)(Port& port, const char* device, int64_t deadline);
  // Discards unsent output and closes; true on success.
  bool (*close)(Port& port);
  // Discards what the system holds in both directions.
  void (*purge)(Port& port);
  // Bytes written and not yet on the line (0: none, or not known).
  int (*queued)(Port& port);
  // Writes all bytes by `deadline`.
  PortError (*write)(Port& port, const uint8_t* data, int length, int64_t deadline);
  // Reads what has come into `buffer`, waiting at most waitMs for it: the
  // bytes read, 0 only once the wait has passed without one, -1 on failure.
  int (*read)(Port& port, uint8_t* buffer, int size, int waitMs, PortError* error);
};
extern const Backend kSerialBackend;   // serial_posix.cpp or serial_win32.cpp
extern const Backend kNetworkBackend;  // netport.cpp

// One open port.
struct Port {
  const Backend* backend = nullptr;  // null: a free slot
  int slot = 0;
  int baud = 0;
  // The link is gone: the device is closed until Reopen (see IsLost), and
  // what the failing read or write said.
  bool lost = false;
  PortError lostError = PortError::kNone;
  int64_t lostAtMs = 0;   // MonotonicMs when it went
  int64_t triedAtMs = 0;  // when Reopen last tried, and what it met
  PortError triedError = PortError::kNone;
  // The name the device was opened by, for Reopen (a longer name is not
  // opened at all).
  char device[1024] = {};
  // Bytes taken from the device and not yet handed out.
  uint8_t ahead[1024];
  int aheadPos = 0;
  int aheadLength = 0;
  // The backend's own state (BackendState).
  alignas(std::max_align_t) unsigned char state[640];

  // The backend's state, made anew at opening.
  template <typename T>
  T& NewState() {
    static_assert(sizeof(T) <= sizeof state, "the backend's state does not fit a port");
    return *new (state) T{};
  }
  template <typename T>
  T& BackendState() {
    return *std::launder(reinterpret_cast<T*>(state));
  }
};

}  // namespace km_driver::port
