// The driver's entry points for tests, benchmarks and fuzz targets: the
// receive machine without a port, the silence wait, the start state. Not for
// the program itself.
#pragma once
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

}  // namespace km_driver
