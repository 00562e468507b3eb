// Driver internals shared by its own sources and its own tests. Tests of
// other parts, benchmarks and fuzz targets use driver/testing.h.
#pragma once
#include <array>
#include <cstdint>

#include "driver/printer.h"
#include "driver/testing.h"

namespace km_driver {


// Reads one byte through the receive machine; 1 when a byte came, else 0.
int ReceiveByte();

// True for a device path as this system writes one (ports_posix.cpp,
// ports_win32.cpp).
bool IsDevicePath(const char* text);

// Records why a command is refused and returns `result` (-1, or -2..-4 for
// the range checks of ProgramArticle).
int Refuse(SendRefusal reason, int result = -1);

// Bytes of the frames.
constexpr uint8_t kSoh = 0x01;        // start of a frame
constexpr uint8_t kEtx = 0x03;        // end of a frame
constexpr uint8_t kSeparator = 0x04;  // between an answer's data and its status bytes
constexpr uint8_t kPostamble = 0x05;  // end of the part the checksum covers
constexpr uint8_t kNak = 0x15;        // the register refuses the frame
constexpr uint8_t kSyn = 0x16;        // the register is busy (outside a frame)
// Header bytes are offset by 0x20; an answer's LEN counts at least the 11
// bytes of an empty answer (LEN, SEQ, CMD, separator, six status bytes,
// postamble) besides that offset.
constexpr uint8_t kHeaderOffset = 0x20;
constexpr uint8_t kMinAnswerLen = 0x2B;
// Checksum digits are 0x30 + nibble ('0'..'9', ':'..'?').
constexpr uint8_t kDigitBase = 0x30;

// Link error bits of an exchange.
constexpr uint8_t kLinkChecksum = 0x01;  // the checksum of the answer is wrong
constexpr uint8_t kLinkNak = 0x04;       // the register answered NAK

// What the receive machine collects of one answer frame.
struct ReceiveBuffer {
  uint8_t status[6];
  uint8_t seq;   // received SEQ less 0x20
  uint8_t cmd;   // received command byte
  char data[216];  // answer data (at most 212 bytes), room for one inserted comma and the zero
};

// The states of the receive machine, in the order of an answer frame's parts.
enum ReceiveState : uint8_t {
  kRxStart,      // waiting for the start byte
  kRxLength,     // LEN
  kRxSeq,        // SEQ
  kRxCommand,    // CMD
  kRxData,       // the data bytes LEN announced
  kRxSeparator,  // the separator before the status bytes
  kRxStatus,     // the six status bytes
  kRxPostamble,  // the postamble
  kRxChecksum,   // the four checksum digits
  kRxEnd,        // the end byte
};

// The driver's static state, shared by its sources.
struct LinkState {
  int handle = -1;
  uint8_t ready = 0;            // 1: no exchange in progress / answer complete
  uint8_t frameEnded = 0;       // the answer frame ended on its 0x03 (not a NAK)
  uint8_t sequence = 0;         // sequence counter, 0..255
  uint8_t linkErrors = 0;       // kLinkChecksum, kLinkNak
  ReceiveState state = kRxStart;
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
  int refusal = kRefusalNone;   // why the last refused command was refused
};

extern LinkState gLink;

}  // namespace km_driver
