// The ErrorFlags word, one row per flag: its machine name, the message the
// result handlers show for an error and the short state text of the trace;
// the meaning of every status bit and the flag it sets. Also the messages of
// a command the driver refused. Texts here are UTF-8.
#pragma once
#include <cstdint>

#include "driver/printer.h"

struct FlagInfo {
  uint32_t flag;
  const char* name;   // machine name, as a run record writes it ("no_paper")
  const char* text;   // the error's message; null for a flag that describes a state
  const char* state;  // the trace's short text of a state; null for an error (its text serves)
};

// Every flag the driver knows, in bit order: bits 0..28 except 0x00008000,
// which nothing sets.
constexpr int kFlagCount = 28;
extern const FlagInfo kFlagTable[kFlagCount];

// Bits 0x01..0x40 of the six status bytes (bit 7 is always set).
constexpr int kStatusByteCount = 6;
constexpr int kStatusBitCount = 7;
struct StatusBitInfo {
  const char* meaning;  // in English; "reserved" for a bit the register does not use
  uint32_t flag;        // the ErrorFlags bit it sets; 0 for none
};
extern const StatusBitInfo kStatusBits[kStatusByteCount][kStatusBitCount];
// The flags the six status bytes set.
uint32_t StatusFlags(const uint8_t* status);

// The twenty error flags (those with a text) in the order the handlers look
// for the one to report: bit order, except that little room in the fiscal
// memory comes before the other fiscal memory errors.
constexpr int kErrorCount = 20;
extern const uint32_t kErrorReportOrder[kErrorCount];

// The first error flag set in `flags` in that order, or null when none is set.
const FlagInfo* FirstError(uint32_t flags);
// The row of one flag; null for a bit that is no flag.
const FlagInfo* FlagInfoOf(uint32_t flag);

// The message for a refusal (GetLastRefusal); null for kRefusalNone.
const char* RefusalMessage(int refusal);
