// The ErrorFlags word, one row per flag: where the flag comes from, its
// machine name, the message the result handlers show for an error and the
// short state text of the trace. Also the messages of a command the driver
// refused. Texts here are UTF-8.
#pragma once
#include <cstdint>

#include "driver/printer.h"

struct FlagInfo {
  uint32_t flag;
  const char* name;   // machine name, as a run record writes it ("no_paper")
  const char* text;   // the error's message; null for a flag that describes a state
  const char* state;  // what the trace shows: the message of an error, else a short state text
  int8_t statusByte;  // the status byte (0..5) that sets the flag; -1: set by the link or by nothing
  uint8_t statusBit;  // the bit of that status byte
};

// Every flag the driver knows, in bit order: bits 0..28 except 0x00008000,
// which nothing sets.
constexpr int kFlagCount = 28;
extern const FlagInfo kFlagTable[kFlagCount];

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
