// Memory over a long run: many exchanges through the driver against the
// simulator without pacing. The simulator keeps only the latest frames in its
// journal and counts the rest, so the process should stop growing once the
// journal ring is full; the resident size is printed every fifth of the run.
//
//   km_sim_memory_bench [exchanges, default 100000] [journal limit, default 4096]
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <string>

#include "driver/printer.h"
#include "sim/simulator.h"

namespace {

// VmRSS of this process in kB, -1 when /proc does not tell.
long ResidentKb() {
  FILE* f = fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  while (fgets(line, sizeof line, f)) {
    if (strncmp(line, "VmRSS:", 6) == 0) {
      kb = strtol(line + 6, nullptr, 10);
      break;
    }
  }
  fclose(f);
  return kb;
}

bool ParseCount(const char* text, unsigned long* out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  unsigned long v = strtoul(text, &end, 10);
  if (*end || text[0] == '-' || v == 0) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long total = 100000;
  unsigned long limit = km4410r::sim::Options{}.journalLimit;
  if ((argc > 1 && !ParseCount(argv[1], &total)) || (argc > 2 && !ParseCount(argv[2], &limit)) || argc > 3) {
    fprintf(stderr, "usage: km_sim_memory_bench [exchanges] [journal limit]\n");
    return 2;
  }
  const unsigned long step = total >= 5 ? total / 5 : 1;

  km4410r::sim::Options options;
  options.baud = 0;  // no pacing: the run measures memory, not the line
  options.journalLimit = limit;
  km4410r::sim::Simulator sim(options);
  std::string error;
  if (!sim.start(&error)) {
    fprintf(stderr, "simulator: %s\n", error.c_str());
    return 1;
  }
  if (OpenPortPath(sim.slavePath().c_str(), 115200) < 0) {
    fprintf(stderr, "open %s: %s\n", sim.slavePath().c_str(), GetLastPortErrorText());
    return 1;
  }
  SetNoTranslation(1);

  printf("exchanges %lu, journal limit %lu, command 0x70 (operator 1)\n", total, limit);
  printf("%10s %10s %10s %14s %8s %10s\n", "exchanges", "VmRSS kB", "journal", "journalCount", "errors",
         "seconds");
  long rssFirst = -1, rssLast = -1;
  unsigned long errors = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (unsigned long i = 1; i <= total; ++i) {
    // 0x70 only reads the operator's record: the model does not grow with it.
    if (GetOperatorInfo(nullptr, nullptr, 0, 1) != 0 ||
        (DriverRetData().ErrorFlags & (kFlagTimeout | kFlagNak | kFlagChecksum)))
      ++errors;
    if (i % step == 0 || i == total) {
      const long rss = ResidentKb();
      // journal() hands out a copy of the whole ring (some 400 kB at 4096
      // frames); the allocator would keep those pages and the next reading
      // would count them, so they go back at once.
      const size_t kept = sim.journal().size();
      malloc_trim(0);
      const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      if (rssFirst < 0) rssFirst = rss;
      rssLast = rss;
      printf("%10lu %10ld %10zu %14zu %8lu %10.1f\n", i, rss, kept, sim.journalCount(), errors, s);
      fflush(stdout);
    }
  }
  ClosePort();
  sim.stop();
  printf("VmRSS growth from %lu to %lu exchanges: %ld kB\n", step, total, rssLast - rssFirst);
  return errors ? 1 : 0;
}
