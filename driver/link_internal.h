// Driver internals shared by its own sources, its tests and the fuzz target.
#pragma once
#include <array>
#include <cstdint>

#include "driver/printer.h"

namespace km_driver {

// Translation tables of the serial link (CP1251 <-> register code page).
extern const std::array<uint8_t, 256> kHostToRegister;
extern const std::array<uint8_t, 256> kRegisterToHost;

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
// The silence wait: consecutive empty reads of 100 ms before an exchange ends
// as a timeout (50, that is 5 s, unless a test sets fewer; 0: back to 50).
void SetSilenceWaitForTests(int emptyReads);

}  // namespace km_driver

namespace km_driver {

// What the receive machine collects of one answer frame.
struct ReceiveBuffer {
  uint8_t status[6];
  uint8_t seq;   // received SEQ less 0x20
  uint8_t cmd;   // received command byte
  char data[216];  // answer data (at most 212 bytes), room for one inserted comma and the zero
};

// The driver's static state, shared by its sources.
struct LinkState {
  int handle = -1;
  uint8_t ready = 0;            // 1: no exchange in progress / answer complete
  uint8_t frameEnded = 0;       // the answer frame ended on its 0x03 (not a NAK)
  uint8_t sequence = 0;         // sequence counter, 0..255
  uint8_t linkErrors = 0;       // 0x01 checksum mismatch, 0x04 NAK
  uint8_t state = 0;            // receive machine state 0..9
  uint8_t current = 0;          // byte just read
  uint8_t index = 0;
  uint8_t dataLength = 0;
  uint32_t sum = 0;             // running sum of the covered bytes
  uint32_t receivedChecksum = 0;
  ReceiveBuffer rx{};
  char answerText[200]{};
  char sentData[kMaxDataText + 1]{};
  int emptyReads = 0;
  ResultHandler handler = nullptr;
  WindowHandle window = nullptr;
  int lastCommand = 0;
  uint8_t noTranslation = 1;
};

extern LinkState gLink;

}  // namespace km_driver
