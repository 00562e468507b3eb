// The serial port behind the driver: a tiny interface with one backend per
// platform (termios in serial_posix.cpp, the Win32 communications calls in
// serial_win32.cpp; the build picks one). Both keep their state per handle:
// a handle is a small slot number the backend hands out, not a system
// handle. Errors are reported through errno with the same values on every
// platform, so that the driver's messages are the same everywhere.
#pragma once
#include <cstdint>

namespace km_driver::serial {

// Opens the device at the given speed, 8N1, raw, software flow control off,
// for this program alone (flock; on Windows no sharing and a claim of the
// port by name). Returns the handle (>= 0) or -1 with errno set: ENOENT no
// such device, EBUSY in use by another program, EACCES no permission, EINVAL
// a speed that is not one of kLineSpeeds or settings refused, EMFILE no free
// slot.
int Open(const char* device, int baud);
// Discards unsent output and closes the port; true on success. Never waits.
bool Close(int handle);
// Discards what is waiting in both directions (and the backend's read-ahead).
void Purge(int handle);
// Waits until everything written has left, at most the bytes' time on the
// line plus a margin of a second; false (errno ETIMEDOUT) past that.
bool Drain(int handle);
// Writes all bytes within their time on the line plus a margin of a second;
// false on an error or past that deadline (errno ETIMEDOUT).
bool Write(int handle, const uint8_t* data, int length);
// Reads one byte, waiting at most 100 ms. 1: a byte came; 0: none within the
// wait; -1: a read error (errno set), e.g. the device went away.
int ReadByte(int handle, uint8_t* byte);
// A monotonic clock in milliseconds, for the deadlines.
int64_t MonotonicMs();
// Keeps `bytes` of code from `start` in physical memory, where the system
// offers that (Windows); elsewhere nothing. Whether it is granted does not
// matter.
void LockInMemory(const void* start, unsigned bytes);

}  // namespace km_driver::serial
