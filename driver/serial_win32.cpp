// Win32 backend of the serial port: the communications calls on \\.\COMn.
//
// The driver knows a port by a small int; this backend keeps the HANDLEs in
// a table and hands out their slot numbers, as the termios backend does with
// its file descriptors. Errors are turned into the errno
// values the termios backend reports, so that the driver says the same on
// every platform (access denied: the port is in use; file not found: no such
// device). Besides the unshared open, a port is claimed by a named object
// for as long as it is open (see ClaimPort).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <errno.h>
#include <string.h>

#include "driver/printer.h"
#include "driver/serial.h"

namespace km_driver::serial {
namespace {

// Open ports; a free slot holds null (INVALID_HANDLE_VALUE is never kept).
constexpr int kMaxPorts = 8;
HANDLE gPorts[kMaxPorts] = {};
HANDLE gClaims[kMaxPorts] = {};
int gBaud[kMaxPorts] = {};

// Margin beyond the bytes' own time on the line for a write or a drain.
constexpr DWORD kWriteMarginMs = 1000;
// Queue sizes asked of the port driver.
constexpr DWORD kQueueBytes = 1024;

HANDLE Lookup(int handle) {
  if (handle < 0 || handle >= kMaxPorts) return nullptr;
  return gPorts[handle];
}

// Milliseconds one byte takes on the line (10 bits), rounded up.
DWORD ByteTimeMs(int baud) { return static_cast<DWORD>((10 * 1000 + baud - 1) / baud); }

int ErrnoFor(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
      return ENOENT;
    // A COM port cannot be shared: "access denied" is another program
    // holding it.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return EBUSY;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
      return EINVAL;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_SEM_TIMEOUT:
    case WAIT_TIMEOUT:
      return ETIMEDOUT;
    default:  // ERROR_GEN_FAILURE, ERROR_DEVICE_NOT_CONNECTED, ...: the adapter went away
      return EIO;
  }
}

// Takes the error of a failed call, clears the port's error state so that
// the next call can succeed, and sets errno.
void FailWith(HANDLE h, DWORD error) {
  DWORD lineErrors = 0;
  ClearCommError(h, &lineErrors, nullptr);
  errno = ErrnoFor(error);
}

// Windows itself refuses a second open of a COM port, but not every system
// that runs Windows programs does (Wine opens a device as often as asked).
// So an open port is also claimed by a named object of its own: it exists as
// long as a handle to it is open, and the system closes that handle when the
// holder ends in any way, so a killed program never leaves the port claimed.
// Null with errno set when another holder has the claim.
HANDLE ClaimPort(const char* device) {
  char name[MAX_PATH] = "Global\\km4410r-port-";
  size_t n = strlen(name);
  const char* p = device;
  if (strncmp(p, "\\\\.\\", 4) == 0) p += 4;
  for (; *p && n + 1 < sizeof name; ++p) {
    char c = *p;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == '\\' || c == '/') c = '_';
    name[n++] = c;
  }
  name[n] = 0;
  HANDLE claim = CreateMutexA(nullptr, FALSE, name);
  if (!claim) {
    errno = ErrnoFor(GetLastError());
    return nullptr;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(claim);
    errno = EBUSY;
    return nullptr;
  }
  return claim;
}

}  // namespace

int Open(const char* device, int baud) {
  if (!device || !IsLineSpeed(baud)) {
    errno = EINVAL;
    return -1;
  }
  int slot = 0;
  while (slot < kMaxPorts && gPorts[slot]) ++slot;
  if (slot == kMaxPorts) {
    errno = EMFILE;
    return -1;
  }
  HANDLE claim = ClaimPort(device);
  if (!claim) return -1;
  // No sharing: the port is ours alone until it is closed; no overlapped I/O.
  HANDLE h = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    errno = ErrnoFor(GetLastError());
    CloseHandle(claim);
    return -1;
  }
  SetupComm(h, kQueueBytes, kQueueBytes);  // a hint to the port driver only

  int fail = 0;
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(h, &dcb)) {
    fail = ENOTTY;  // a file or a device that is no serial port
  } else {
    // 8N1, binary. Software flow control is off: the frames are binary, and a
    // 0x13 from the line would stop our output. Hardware flow control stays
    // as the port had it. A line error must not block the reads that follow.
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(h, &dcb)) {
      fail = EINVAL;
    } else {
      // Each read waits at most 100 ms for its byte. A write may take its
      // bytes' time on the line and a second; past that it returns short.
      COMMTIMEOUTS timeouts;
      timeouts.ReadIntervalTimeout = 0;
      timeouts.ReadTotalTimeoutMultiplier = 0;
      timeouts.ReadTotalTimeoutConstant = 100;
      timeouts.WriteTotalTimeoutMultiplier = ByteTimeMs(baud);
      timeouts.WriteTotalTimeoutConstant = kWriteMarginMs;
      if (!SetCommTimeouts(h, &timeouts)) fail = EINVAL;
    }
  }
  if (fail != 0) {
    CloseHandle(h);
    CloseHandle(claim);
    errno = fail;
    return -1;
  }
  PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  gPorts[slot] = h;
  gClaims[slot] = claim;
  gBaud[slot] = baud;
  return slot;
}

bool Close(int handle) {
  HANDLE h = Lookup(handle);
  if (!h) {
    errno = EBADF;
    return false;
  }
  // Unsent output is discarded first: a close never waits on a stopped line.
  PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  gPorts[handle] = nullptr;
  CloseHandle(gClaims[handle]);
  gClaims[handle] = nullptr;
  if (!CloseHandle(h)) {
    errno = ErrnoFor(GetLastError());
    return false;
  }
  return true;
}

void Purge(int handle) {
  HANDLE h = Lookup(handle);
  if (h) PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR);
}

bool Drain(int handle) {
  HANDLE h = Lookup(handle);
  if (!h) return true;
  // FlushFileBuffers has no timeout and would wait for ever on a stopped
  // line: watch the output queue instead, for as long as its bytes need on
  // the line and the margin, and flush only once it is empty.
  DWORD lineErrors = 0;
  COMSTAT st;
  if (!ClearCommError(h, &lineErrors, &st)) return true;
  if (st.cbOutQue > 0) {
    const int64_t deadline = MonotonicMs() + static_cast<int64_t>(st.cbOutQue) * ByteTimeMs(gBaud[handle]) +
                             kWriteMarginMs;
    for (;;) {
      if (!ClearCommError(h, &lineErrors, &st) || st.cbOutQue == 0) break;
      if (MonotonicMs() >= deadline) {
        errno = ETIMEDOUT;
        return false;
      }
      Sleep(2);
    }
  }
  FlushFileBuffers(h);
  return true;
}

bool Write(int handle, const uint8_t* data, int length) {
  HANDLE h = Lookup(handle);
  if (!h) {
    errno = EBADF;
    return false;
  }
  if (length <= 0) return true;
  // One synchronous write; the write timeouts end it at the deadline with
  // what went out so far.
  DWORD written = 0;
  if (!WriteFile(h, data, static_cast<DWORD>(length), &written, nullptr)) {
    FailWith(h, GetLastError());
    return false;
  }
  if (written < static_cast<DWORD>(length)) {
    errno = ETIMEDOUT;
    return false;
  }
  return true;
}

int ReadByte(int handle, uint8_t* byte) {
  HANDLE h = Lookup(handle);
  if (!h) {
    errno = EBADF;
    return -1;
  }
  DWORD got = 0;
  if (ReadFile(h, byte, 1, &got, nullptr)) return got == 1 ? 1 : 0;  // 0: the 100 ms passed
  FailWith(h, GetLastError());
  return -1;
}

void LockInMemory(const void* start, unsigned bytes) {
  VirtualLock(const_cast<void*>(start), bytes);
}

int64_t MonotonicMs() {
  static LARGE_INTEGER frequency = {};
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<int64_t>(now.QuadPart / frequency.QuadPart * 1000 +
                              now.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart);
}

}  // namespace km_driver::serial
