// Win32 backend of the serial port: the communications calls on \\.\COMn;
// and the Windows side of the port layer: the clock, the pause, the memory
// lock and the words for the system's and Winsock's error codes. Besides the
// unshared open, a port is claimed by a named object for as long as it is
// open (see ClaimPort).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <windows.h>

#include <string.h>

#include "driver/port.h"

namespace km_driver::port {
namespace {

struct SerialState {
  HANDLE h = nullptr;
  HANDLE claim = nullptr;
};

SerialState& State(Port& p) { return p.BackendState<SerialState>(); }

// Queue sizes asked of the port driver.
constexpr DWORD kQueueBytes = 1024;

// Takes the error of a failed read or write and clears the port's error
// state so that the next call can succeed.
PortError Failed(HANDLE h, DWORD error) {
  DWORD lineErrors = 0;
  ClearCommError(h, &lineErrors, nullptr);
  return ExchangePortError(error);
}

// Windows itself refuses a second open of a COM port, but not every system
// that runs Windows programs does (Wine opens a device as often as asked).
// So an open port is also claimed by a named object of its own: it exists as
// long as a handle to it is open, and the system closes that handle when the
// holder ends in any way, so a killed program never leaves the port claimed.
// Null with *error set when another holder has the claim.
HANDLE ClaimPort(const char* device, PortError* error) {
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
    *error = SystemPortError(GetLastError());
    return nullptr;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(claim);
    *error = PortError::kInUse;
    return nullptr;
  }
  return claim;
}

// 8N1, binary, and the deadlines of reads and writes.
PortError Configure(HANDLE h, int baud) {
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(h, &dcb)) return PortError::kNotSerial;  // a file or a device that is no serial port
  // Software flow control is off: the frames are binary, and a 0x13 from the
  // line would stop our output. Hardware flow control stays as the port had
  // it. A line error must not block the reads that follow.
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
  if (!SetCommState(h, &dcb)) return PortError::kBadSettings;
  // Each read waits at most the read wait for its byte. A write may take its
  // bytes' time on the line and the margin; past that it returns short.
  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = kReadWaitMs;
  timeouts.WriteTotalTimeoutMultiplier = static_cast<DWORD>(LineTimeMs(1, baud));
  timeouts.WriteTotalTimeoutConstant = kWriteMarginMs;
  return SetCommTimeouts(h, &timeouts) ? PortError::kNone : PortError::kBadSettings;
}

PortError OpenSerial(Port& p, const char* device, int64_t) {
  PortError error = PortError::kNone;
  HANDLE claim = ClaimPort(device, &error);
  if (!claim) return error;
  // No sharing: the port is ours alone until it is closed; no overlapped I/O.
  HANDLE h = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = SystemPortError(GetLastError());
    CloseHandle(claim);
    return error;
  }
  SetupComm(h, kQueueBytes, kQueueBytes);  // a hint to the port driver only
  error = Configure(h, p.baud);
  if (error != PortError::kNone) {
    CloseHandle(h);
    CloseHandle(claim);
    return error;
  }
  PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  SerialState& s = p.NewState<SerialState>();
  s.h = h;
  s.claim = claim;
  return PortError::kNone;
}

bool CloseSerial(Port& p) {
  // Unsent output is discarded first: a close never waits on a stopped line.
  PurgeComm(State(p).h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  CloseHandle(State(p).claim);
  return CloseHandle(State(p).h) != 0;
}

void PurgeSerial(Port& p) { PurgeComm(State(p).h, PURGE_TXCLEAR | PURGE_RXCLEAR); }

// FlushFileBuffers has no timeout and would wait for ever on a stopped line:
// it is called only once the output queue is empty.
int QueuedSerial(Port& p) {
  DWORD lineErrors = 0;
  COMSTAT st;
  if (!ClearCommError(State(p).h, &lineErrors, &st)) return 0;
  if (st.cbOutQue == 0) FlushFileBuffers(State(p).h);
  return static_cast<int>(st.cbOutQue);
}

// One synchronous write; the write timeouts end it at the deadline with what
// went out so far.
PortError WriteSerial(Port& p, const uint8_t* data, int length, int64_t) {
  DWORD written = 0;
  if (!WriteFile(State(p).h, data, static_cast<DWORD>(length), &written, nullptr))
    return Failed(State(p).h, GetLastError());
  return written < static_cast<DWORD>(length) ? PortError::kLineStalled : PortError::kNone;
}

// One byte at a time: the read timeout is the read wait, whatever waitMs says.
int ReadSerial(Port& p, uint8_t* buffer, int, int, PortError* error) {
  DWORD got = 0;
  if (ReadFile(State(p).h, buffer, 1, &got, nullptr)) return got == 1 ? 1 : 0;  // 0: the wait passed
  *error = Failed(State(p).h, GetLastError());
  return -1;
}

}  // namespace

const Backend kSerialBackend = {OpenSerial, CloseSerial, PurgeSerial, QueuedSerial, WriteSerial, ReadSerial};

void LockInMemory(const void* start, unsigned bytes) { VirtualLock(const_cast<void*>(start), bytes); }

void Pause(int ms) { Sleep(static_cast<DWORD>(ms)); }

int64_t MonotonicMs() {
  static LARGE_INTEGER frequency = {};
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<int64_t>(now.QuadPart / frequency.QuadPart * 1000 +
                              now.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart);
}

bool MayComeBack(const char*) { return true; }

// A USB adapter pulled out fails the calls on its open handle with
// ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND, ERROR_DEVICE_NOT_CONNECTED,
// ERROR_GEN_FAILURE, ERROR_OPERATION_ABORTED or ERROR_INVALID_HANDLE, by
// driver: on a port already open none of them means anything but that.
PortError ExchangePortError(int64_t code) {
  return code == ERROR_SEM_TIMEOUT || code == WAIT_TIMEOUT ? PortError::kLineStalled : PortError::kDeviceGone;
}

PortError SystemPortError(int64_t code) {
  switch (code) {
    case 0: return PortError::kNone;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST: return PortError::kNoDevice;
    // A COM port cannot be shared: "access denied" is another program
    // holding it.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return PortError::kInUse;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED: return PortError::kBadSettings;
    case ERROR_SEM_TIMEOUT:
    case WAIT_TIMEOUT: return PortError::kLineStalled;
    case WSAECONNREFUSED: return PortError::kConnectionRefused;
    case WSAETIMEDOUT: return PortError::kConnectTimeout;
    case WSAEHOSTUNREACH:
    case WSAEHOSTDOWN: return PortError::kHostUnreachable;
    case WSAENETUNREACH:
    case WSAENETDOWN: return PortError::kNetworkUnreachable;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETRESET:
    case WSAESHUTDOWN: return PortError::kConnectionClosed;
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
    case WSANO_RECOVERY:
    case WSATRY_AGAIN: return PortError::kHostUnknown;
    case WSAEMFILE: return PortError::kTooManyPorts;
    case WSAENOBUFS: return PortError::kOutOfMemory;
    default:  // ERROR_GEN_FAILURE, ERROR_DEVICE_NOT_CONNECTED, ERROR_INVALID_HANDLE, ...: the adapter went away
      return PortError::kDeviceGone;
  }
}

}  // namespace km_driver::port
