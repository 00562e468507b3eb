// Driver internals shared by its own sources, its tests and the fuzz target.
#pragma once
#include <cstdint>

#include "driver/printer.h"

namespace km_driver {

// Translation tables of the serial link (CP1251 <-> register code page).
extern const uint8_t kHostToRegister[256];
extern const uint8_t kRegisterToHost[256];

// Longest data text that fits a host frame.
constexpr int kMaxDataText = 189;

// Reads one byte through the receive machine; 1 when a byte came, else 0.
int ReceiveByte();
// Judges the exchange and fills RetData.
void FinishAnswer();

// Feeds one byte to the receive machine as if it had been read from the port
// (fuzzing and tests).
void FeedByte(uint8_t byte);
// Prepares the receive machine and the result record for an answer to
// `command` without a port (fuzzing and tests): what SendCommand does before
// it writes the frame.
void BeginAnswer(int command);
// True once the receive machine has a complete answer (ready flag).
bool AnswerComplete();
// Puts the driver back into its start state (closes the port, sequence
// counter 0, no-translation switch 1, no stored handler). Tests only.
void ResetDriverForTests();
// The sequence counter (0..255) of the last exchange.
uint8_t SequenceCounter();

// Limit of one exchange while bytes keep arriving, in milliseconds.
void SetExchangeLimitForTests(int ms);

}  // namespace km_driver
