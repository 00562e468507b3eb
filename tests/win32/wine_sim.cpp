// km_wine_sim: the register for the Windows exchange test under Wine. The
// simulator on a pty, linked at PATH, with two commands answered wrongly for
// good: 0x3E (date and time) with a bad checksum, 0x21 (clear display) not at
// all. Every host frame it receives is appended to JOURNAL as hex, one frame
// a line, so that the test on the Windows side can look at the bytes on the
// line.
//
//   km_wine_sim --link PATH --journal FILE
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/simulator.h"

namespace {
volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }
}  // namespace

int main(int argc, char** argv) {
  std::string link, journalPath;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--link")) link = argv[i + 1];
    else if (!std::strcmp(argv[i], "--journal")) journalPath = argv[i + 1];
  }
  if (link.empty() || journalPath.empty()) {
    std::fprintf(stderr, "usage: km_wine_sim --link PATH --journal FILE\n");
    return 2;
  }
  std::FILE* journal = std::fopen(journalPath.c_str(), "w");
  if (!journal) {
    std::perror(journalPath.c_str());
    return 1;
  }
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);

  km4410r::sim::Options opts;
  opts.workTimeMs = 5;
  km4410r::sim::Simulator sim(opts);
  km4410r::sim::FaultSpec bad;
  bad.fault = km4410r::sim::Fault::BadChecksum;
  bad.count = -1;
  bad.onlyCommand = 0x3E;
  sim.addFault(bad);
  km4410r::sim::FaultSpec silent;
  silent.fault = km4410r::sim::Fault::Silence;
  silent.count = -1;
  silent.onlyCommand = 0x21;
  sim.addFault(silent);

  std::string error;
  if (!sim.start(&error) || !sim.linkAt(link, &error)) {
    std::fprintf(stderr, "km_wine_sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("km_wine_sim: serving %s at %s\n", sim.slavePath().c_str(), link.c_str());
  std::fflush(stdout);

  size_t written = 0;
  while (!gStop) {
    if (!sim.waitForFrames(written + 1, 100)) continue;
    const size_t count = sim.journalCount();
    const auto entries = sim.journal();
    // The newest count - written entries, oldest first.
    const size_t fresh = count - written < entries.size() ? count - written : entries.size();
    for (size_t i = entries.size() - fresh; i < entries.size(); ++i) {
      for (uint8_t b : entries[i].raw) std::fprintf(journal, "%02X", b);
      std::fputc('\n', journal);
    }
    std::fflush(journal);
    written = count;
  }
  sim.stop();
  std::fclose(journal);
  return 0;
}
