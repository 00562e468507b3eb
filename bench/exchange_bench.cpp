// Exchange time against the simulator over a pty, per line speed.
//
// The simulator paces the bytes it sends at the line speed (10 bits a byte)
// and works for a fixed time per command; a pty does not pace the host's own
// frame. So an exchange cannot be shorter than the answer's bytes on the line
// plus the work: the rest is the overhead of the driver and the link.
//
//   km_exchange_bench [exchanges per speed, default 200] [work ms, default 5]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "driver/printer.h"
#include "sim/simulator.h"

namespace {

RetData gLast{};
void Keep(RetData& rd) { gLast = rd; }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? atoi(argv[1]) : 200;
  const int workMs = argc > 2 ? atoi(argv[2]) : 5;
  printf("%-8s %6s %12s %12s %12s %12s %10s\n", "baud", "bytes", "median ms", "line+work ms",
         "overhead ms", "p90 ms", "errors");
  for (int baud : kLineSpeeds) {
    km4410r::sim::Options options;
    options.baud = baud;
    options.workTimeMs = workMs;
    km4410r::sim::Simulator sim(options);
    std::string error;
    if (!sim.start(&error)) {
      fprintf(stderr, "simulator: %s\n", error.c_str());
      return 1;
    }
    if (OpenPortPath(sim.slavePath().c_str(), baud) < 0) {
      fprintf(stderr, "open %s: %s\n", sim.slavePath().c_str(), GetLastPortErrorText());
      return 1;
    }
    SetNoTranslation(1);
    std::vector<double> times;
    int errors = 0;
    size_t answerBytes = 0;
    for (int i = 0; i < count + 5; ++i) {
      auto t0 = std::chrono::steady_clock::now();
      GetDiagnosticInfo(nullptr, Keep, 0, 1);  // 0x5A "1": a typical answer with fields
      double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      if (gLast.ErrorFlags & (kFlagTimeout | kFlagNak | kFlagChecksum)) ++errors;
      answerBytes = 17 + strlen(gLast.AnswerText);  // frame around the data
      if (i >= 5) times.push_back(ms);              // the first few warm up
    }
    ClosePort();
    sim.stop();
    double line = answerBytes * 10.0 * 1000.0 / baud + workMs;
    double median = Median(times);
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    double p90 = sorted.empty() ? 0 : sorted[sorted.size() * 9 / 10];
    printf("%-8d %6zu %12.3f %12.3f %12.3f %12.3f %10d\n", baud, answerBytes, median, line, median - line, p90,
           errors);
  }
  return 0;
}
