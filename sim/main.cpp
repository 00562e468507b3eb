// km4410r-sim: serves a simulated KM4410R register on a pty.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "sim/register_model.h"
#include "sim/simulator.h"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: km4410r-sim [--com N | --link PATH] [--baud B] [--work-ms MS] [--switches XXXXXXXX]\n"
               "                   [--report-ms MS] [--verbose]\n"
               "Serves a simulated KM4410R register on a pty, registered as COM N (default COM1)\n"
               "in %s, or linked at PATH.\n"
               "  --baud B        pace the answers at B baud (0: no pacing; default 19200)\n"
               "  --work-ms MS    work time per command before the answer (default 20)\n"
               "  --report-ms MS  extra work time of reports and printouts (default 1500)\n"
               "  --switches S    switch settings, eight 0/1 characters Sw1..Sw8 (default 00101100:\n"
               "                  texts in CP1251; e.g. 00000000 makes the tool translate)\n"
               "  --verbose       log every frame to standard error\n",
               km4410r::sim::Simulator::portFolder().c_str());
}

bool number(const char* s, int& out) {
  char* end = nullptr;
  long v = std::strtol(s, &end, 10);
  if (!*s || *end || v < 0 || v > 100000000) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  km4410r::sim::Options opts;
  opts.workTimeMs = 20;
  opts.reportTimeMs = 1500;
  int com = 0;
  std::string link, switches;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    bool ok = true;
    if (a == "--com") ok = (v = value()) && number(v, com) && com >= 1 && com <= 255;
    else if (a == "--link") ok = (v = value()) && (link = v, true);
    else if (a == "--baud") ok = (v = value()) && number(v, opts.baud);
    else if (a == "--work-ms") ok = (v = value()) && number(v, opts.workTimeMs);
    else if (a == "--report-ms") ok = (v = value()) && number(v, opts.reportTimeMs);
    else if (a == "--switches") {
      ok = (v = value()) && std::strlen(v) == 8 && std::strspn(v, "01") == 8;
      if (ok) switches = v;
    } else if (a == "--verbose") verbose = true;
    else if (a == "--help" || a == "-h") {
      usage();
      return 0;
    } else ok = false;
    if (!ok) {
      std::fprintf(stderr, "km4410r-sim: bad argument %s%s%s\n", a.c_str(), v ? " " : "", v ? v : "");
      usage();
      return 2;
    }
  }
  if (com && !link.empty()) {
    std::fprintf(stderr, "km4410r-sim: give --com or --link, not both\n");
    return 2;
  }
  if (!com && link.empty()) com = 1;

  // The serving thread inherits the blocked signals; main waits for them.
  sigset_t sigs;
  sigemptyset(&sigs);
  sigaddset(&sigs, SIGINT);
  sigaddset(&sigs, SIGTERM);
  sigaddset(&sigs, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

  km4410r::sim::Simulator sim(opts);
  if (!switches.empty()) sim.withModel([&](km4410r::sim::RegisterModel& m) { m.setSwitches(switches); });
  if (verbose)
    sim.setLogger([](const std::string& line) {
      std::timespec ts{};
      clock_gettime(CLOCK_REALTIME, &ts);
      std::tm t{};
      localtime_r(&ts.tv_sec, &t);
      std::fprintf(stderr, "%02d:%02d:%02d.%03ld %s\n", t.tm_hour, t.tm_min, t.tm_sec, ts.tv_nsec / 1000000,
                   line.c_str());
    });
  std::string error;
  if (!sim.start(&error)) {
    std::fprintf(stderr, "km4410r-sim: %s\n", error.c_str());
    return 1;
  }
  bool linked = com ? sim.registerCom(com, &error) : sim.linkAt(link, &error);
  if (!linked) {
    std::fprintf(stderr, "km4410r-sim: %s\n", error.c_str());
    return 1;
  }
  std::string sw;
  sim.withModel([&](km4410r::sim::RegisterModel& m) { sw = m.switches(); });
  std::printf("km4410r-sim: serving %s as %s%s (switches %s, %d baud)\n", sim.slavePath().c_str(),
              com ? ("COM" + std::to_string(com) + " at ").c_str() : "", sim.linkPath().c_str(), sw.c_str(),
              opts.baud);
  std::fflush(stdout);
  int sig = 0;
  sigwait(&sigs, &sig);
  sim.stop();
  std::printf("km4410r-sim: stopped (%s)\n", strsignal(sig));
  return 0;
}
