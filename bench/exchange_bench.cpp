// Exchange time against the simulator over a pty, per line speed.
//
// The simulator paces the bytes it sends at the line speed (10 bits a byte)
// and works for a fixed time per command; a pty does not pace the host's own
// frame. So an exchange cannot be shorter than the answer's bytes on the line
// plus the work: the rest is the overhead of the driver and the link.
//
// The same over the network, on loopback: the simulator's raw TCP relay to
// its pty, or ser2net to the pty with Telnet and COM port control (or raw).
//
//   km_exchange_bench [exchanges per speed, default 200] [work ms, default 5]
//                     [pty | tcp | rfc2217 | ser2net-raw, default pty]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "driver/printer.h"
#include "sim/simulator.h"
#include "sim/tcprelay.h"
#include "tests/driver/ser2net_peer.h"

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
  const std::string route = argc > 3 ? argv[3] : "pty";
  if (route != "pty" && route != "tcp" && route != "rfc2217" && route != "ser2net-raw") {
    fprintf(stderr, "route: pty, tcp, rfc2217 or ser2net-raw\n");
    return 2;
  }
  printf("route: %s\n", route.c_str());
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
    km4410r::sim::TcpRelay relay;
    km_test::Ser2net ser2net;
    std::string port = sim.slavePath();
    if (route == "tcp") {
      if (!relay.start(sim.slavePath(), "127.0.0.1", 0, &error)) {
        fprintf(stderr, "relay: %s\n", error.c_str());
        return 1;
      }
      port = relay.address();
    } else if (route != "pty") {
      if (!ser2net.start(sim.slavePath())) {
        fprintf(stderr, "ser2net (%s) did not start\n", km_test::Ser2net::Installed() ? "installed" : "not installed");
        return 1;
      }
      port = route == "rfc2217" ? ser2net.rfc2217() : ser2net.raw();
    }
    if (OpenPortPath(port.c_str(), baud) < 0) {
      fprintf(stderr, "open %s: %s\n", port.c_str(), GetLastPortErrorText());
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
