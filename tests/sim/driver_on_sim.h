// The simulator on a pty the driver has open, for the tests of this folder
// that speak to it through the driver.
#pragma once
#include <string>

#include "driver/printer.h"
#include "driver/testing.h"
#include "sim/simulator.h"

namespace km4410r::sim {

#define LEAD nullptr, nullptr, 0

// The flags of a register ready for work (formatted, fiscalized, tax rates and
// numbers programmed).
constexpr uint32_t kReady = kFlagFmFormatted | kFlagFiscalized | kFlagTaxRatesDefined | kFlagNumbersProgrammed;

// Options without pacing (the bytes are what matters) and with this work time.
inline Options Unpaced(int workMs = 0) {
  Options o;
  o.baud = 0;
  o.workTimeMs = workMs;
  return o;
}

// Starts sim and opens its pty through a reset driver that does not translate
// texts. Empty, or what failed.
inline std::string OpenThroughDriver(Simulator& sim) {
  km_driver::ResetDriverForTests();
  std::string error;
  if (!sim.start(&error)) return error;
  if (OpenPortPath(sim.slavePath().c_str(), 115200) < 0) return GetLastPortErrorText();
  SetNoTranslation(1);
  return std::string();
}

inline void CloseThroughDriver() {
  ClosePort();
  km_driver::ResetDriverForTests();
}

}  // namespace km4410r::sim
