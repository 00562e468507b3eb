// What the driver's tests share: the driver as it starts around each test,
// the last answer record delivered and how many were, and time since a moment.
#pragma once
#include <chrono>

#include <gtest/gtest.h>

#include "driver/testing.h"

namespace km_test {

using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

inline int gDelivered = 0;
inline RetData gLast{};
inline void Record(RetData& rd) {
  ++gDelivered;
  gLast = rd;
}

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    km_driver::ResetDriverForTests();
    gDelivered = 0;
    gLast = RetData{};
  }
  void TearDown() override { km_driver::ResetDriverForTests(); }
};

}  // namespace km_test
