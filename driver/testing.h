// The driver's entry points for tests, benchmarks and fuzz targets: the
// receive machine without a port, the silence wait, the start state, the
// code-page tables and the port layer's own calls. Not for the program
// itself; the driver's internal headers are not reachable from other folders,
// so what a test needs of them is declared here.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "driver/printer.h"

namespace km_driver {

// Feeds one byte to the receive machine as if it had been read from the port.
void FeedByte(uint8_t byte);
// Prepares the receive machine and the result record for an answer to
// `command` without a port: what SendCommand does before it writes the frame
// (an exchange is running from then on until the answer is complete).
void BeginAnswer(int command);
// True once the receive machine has a complete answer (ready flag).
bool AnswerComplete();
// Judges the answer fed so far and fills RetData, as at the end of an exchange.
void FinishAnswer();
// The receive buffer the fields of RetData point into, and its size.
const char* AnswerBuffer(size_t* size);

// Puts the driver back into its start state (closes the port, sequence
// counter 0, no-translation switch 1, no stored handler, no observer).
void ResetDriverForTests();
// The sequence counter (0..255) of the last exchange.
uint8_t SequenceCounter();
// Posted-message delivery: when no result handler is stored, the answer is
// posted to the window given to SendCommand through this hook (the window
// message of the original platform). No poster registered: nothing is posted.
using MessagePoster = void (*)(WindowHandle window, unsigned message, uintptr_t wParam,
                               intptr_t lParam);
constexpr unsigned WM_REGISTER_ANSWER = 0x1099;
void SetMessagePoster(MessagePoster poster);

// Limit of one exchange while bytes keep arriving, in milliseconds.
void SetExchangeLimitForTests(int ms);
// The silence wait: consecutive empty reads of 100 ms before an exchange ends
// as a timeout (50, that is 5 s, unless a test sets fewer; 0: back to 50).
void SetSilenceWaitForTests(int emptyReads);
// How long opening a network port may take in all (lookup, connect and, for
// RFC 2217, the server's consent to COM port control); <= 0: back to 5 s.
void SetOpenDeadlineForTests(int ms);

// Translation tables of the serial link (CP1251 <-> register code page).
extern const std::array<uint8_t, 256> kHostToRegister;
extern const std::array<uint8_t, 256> kRegisterToHost;
// Display table: the customer display's character for host bytes 0x80..0xFF.
extern const uint8_t kDisplayTable[128];
// The port error of a failed folder check (kFolder...).
PortError FolderPortError(int check);

namespace net {
// The RFC 2217 receive side without a server: `size` bytes as a server sent
// them, taken `piece` bytes a read, by a connection that has agreed to COM
// port control (its answers go nowhere). The data bytes go to `out` (room
// for `size`); their count, or -1 when the connection ended.
int TelnetReceiveForTests(const uint8_t* data, int size, int piece, uint8_t* out);
}  // namespace net

namespace port {
// Opens the device (a network port for "tcp://" and "rfc2217://", else a
// serial device) at the given speed, 8N1, raw, software flow control off, for
// this program alone. The handle (>= 0), or -1 with *error set.
int Open(const char* device, int baud, PortError* error);
// Discards unsent output and closes the port; true on success. Never waits.
bool Close(int handle);
// A system error (errno on POSIX, GetLastError or a Winsock code on Windows)
// as a port error; the one place each platform words its errors.
PortError SystemPortError(int64_t code);
// A system error of a read or a write on an open serial port: the device
// went away (kDeviceGone), whatever the code, unless the line only stalled.
PortError ExchangePortError(int64_t code);
}  // namespace port

}  // namespace km_driver
