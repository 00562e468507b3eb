// km4410r-sim: serves a simulated KM4410R register on a pty, and on TCP with --tcp.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "common/comports.h"
#include "sim/paper.h"
#include "sim/register_model.h"
#include "sim/simulator.h"
#include "sim/tcprelay.h"
#ifdef KM_SIM_WINDOW
#include "sim/simwindow.h"
#endif

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: km4410r-sim [--com N | --link PATH] [--tcp [HOST:]PORT] [--baud B] [--work-ms MS]\n"
               "                   [--switches XXXXXXXX] [--report-ms MS] [--paper FILE|-] [--display FILE]\n"
               "                   [--window] [--verbose]\n"
               "Serves a simulated KM4410R register on a pty, registered as COM N (1..255, default COM1\n"
               "unless --tcp is given alone) in %s, or linked at PATH.\n"
               "  --tcp [HOST:]PORT\n"
               "                  serve it on raw TCP as well, one client at a time, as an Ethernet-serial\n"
               "                  converter does (PORT 1..65535; HOST default 127.0.0.1, [ADDR] for IPv6)\n"
               "  --baud B        pace the answers at B baud (0: no pacing; default 19200)\n"
               "  --work-ms MS    work time per command before the answer (default 20)\n"
               "  --report-ms MS  extra work time of reports and printouts (default 1500)\n"
               "  --switches S    switch settings, eight 0/1 characters Sw1..Sw8 (default 00101100:\n"
               "                  texts in CP1251; e.g. 00000000 makes the tool translate)\n"
               "  --paper FILE    append what the register prints to FILE (UTF-8, %d columns; - for\n"
               "                  standard output), with the display's changes unless --display\n"
               "  --display FILE  append the customer display's rows, as they change, to FILE\n"
               "  --window        show the paper, the display, the state and fault buttons in a window\n"
               "  --verbose       log every frame to standard error\n",
               km4410r::sim::Simulator::portFolder().c_str(), km4410r::sim::kPaperWidth);
}

// Writes the printed items and display changes to the --paper and --display
// files as they come.
class Outputs {
 public:
  bool open(const std::string& paper, const std::string& display, std::string* error) {
    if (!paper.empty()) {
      paper_ = paper == "-" ? stdout : std::fopen(paper.c_str(), "a");
      if (!paper_) return fail(paper, error);
    }
    if (!display.empty()) {
      display_ = display == "-" ? stdout : std::fopen(display.c_str(), "a");
      if (!display_) return fail(display, error);
    }
    return true;
  }
  ~Outputs() {
    for (FILE* f : {paper_, display_})
      if (f && f != stdout) std::fclose(f);
  }
  bool any() const { return paper_ || display_; }
  // Writes what came since the last call.
  void write(km4410r::sim::Simulator& sim) {
    if (!any()) return;
    uint64_t missed = 0;
    const auto items = feed_.take(sim, &missed);
    FILE* shown = display_ ? display_ : paper_;
    if (missed)
      for (FILE* f : {paper_, display_})
        if (f) std::fputs(km4410r::sim::missedText(missed).c_str(), f);
    for (const auto& item : items) {
      if (item.kind == km4410r::sim::PrintKind::Display) {
        if (shown) std::fputs(km4410r::sim::displayText(item).c_str(), shown);
      } else if (paper_) {
        std::fputs(km4410r::sim::paperText(item).c_str(), paper_);
      }
    }
    if (!items.empty() || missed)
      for (FILE* f : {paper_, display_})
        if (f) std::fflush(f);
  }

 private:
  static bool fail(const std::string& path, std::string* error) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  FILE* paper_ = nullptr;
  FILE* display_ = nullptr;
  km4410r::sim::PrintedFeed feed_;
};

bool number(const char* s, int& out) {
  char* end = nullptr;
  long v = std::strtol(s, &end, 10);
  if (!*s || *end || v < 0 || v > 100000000) return false;
  out = static_cast<int>(v);
  return true;
}

// --tcp's value: PORT, HOST:PORT or [IPV6]:PORT.
bool tcpAddress(const std::string& s, std::string& host, int& port) {
  std::string p = s;
  host = "127.0.0.1";
  if (!s.empty() && s[0] == '[') {
    const size_t close = s.find("]:");
    if (close == std::string::npos || close < 2) return false;
    host = s.substr(1, close - 1);
    p = s.substr(close + 2);
  } else if (const size_t colon = s.rfind(':'); colon != std::string::npos) {
    host = s.substr(0, colon);
    p = s.substr(colon + 1);
    if (host.empty() || host.find(':') != std::string::npos) return false;
  }
  if (p.empty() || p.size() > 5 || p[0] == '0' || std::strspn(p.c_str(), "0123456789") != p.size()) return false;
  port = std::atoi(p.c_str());
  return port >= 1 && port <= 65535;
}

// What the command line asks for.
struct Settings {
  km4410r::sim::Options opts;
  int com = 0;
  std::string link, switches, paper, display, tcpHost;
  int tcpPort = 0;
  bool verbose = false, window = false;
};

// Reads the command line into *s: -1 to go on, else the exit status (after
// --help, or a bad argument).
int parseArguments(int argc, char** argv, Settings* s) {
  s->opts.workTimeMs = 20;
  s->opts.reportTimeMs = 1500;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    bool ok = true;
    if (a == "--com") ok = (v = value()) && ParseComNumber(v, &s->com);  // 1..255, as the tool reads COMn
    else if (a == "--link") ok = (v = value()) && (s->link = v, true);
    else if (a == "--tcp") ok = (v = value()) && tcpAddress(v, s->tcpHost, s->tcpPort);
    else if (a == "--baud") ok = (v = value()) && number(v, s->opts.baud);
    else if (a == "--work-ms") ok = (v = value()) && number(v, s->opts.workTimeMs);
    else if (a == "--report-ms") ok = (v = value()) && number(v, s->opts.reportTimeMs);
    else if (a == "--switches") {
      ok = (v = value()) && std::strlen(v) == 8 && std::strspn(v, "01") == 8;
      if (ok) s->switches = v;
    } else if (a == "--paper") ok = (v = value()) && *v && (s->paper = v, true);
    else if (a == "--display") ok = (v = value()) && *v && (s->display = v, true);
    else if (a == "--window") s->window = true;
    else if (a == "--verbose") s->verbose = true;
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
  return -1;
}

// Checks the settings together: -1 when they go, else the exit status.
int checkSettings(Settings* s) {
  if (s->com && !s->link.empty()) {
    std::fprintf(stderr, "km4410r-sim: give --com or --link, not both\n");
    return 2;
  }
  if (!s->com && s->link.empty() && !s->tcpPort) s->com = 1;  // with --tcp alone, the pty needs no name
#ifndef KM_SIM_WINDOW
  if (s->window) {
    std::fprintf(stderr,
                 "km4410r-sim: --window is not available: this build has no Qt 6 Widgets (built without them or "
                 "with -DKM_BUILD_APP=OFF)\n");
    return 2;
  }
#else
  if (s->window && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
    std::fprintf(stderr, "km4410r-sim: --window needs a display: DISPLAY is not set (try xvfb-run)\n");
    return 2;
  }
#endif
  return -1;
}

void logLine(const std::string& line) {
  std::timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm t{};
  localtime_r(&ts.tv_sec, &t);
  std::fprintf(stderr, "%02d:%02d:%02d.%03ld %s\n", t.tm_hour, t.tm_min, t.tm_sec, ts.tv_nsec / 1000000,
               line.c_str());
}

// Starts the simulator and the relay as the settings say, and tells where
// they serve. false with *error set on failure.
bool serve(const Settings& s, km4410r::sim::Simulator& sim, km4410r::sim::TcpRelay& relay, std::string* error) {
  if (!s.switches.empty()) sim.withModel([&](km4410r::sim::RegisterModel& m) { m.setSwitches(s.switches); });
  if (s.verbose) sim.setLogger(logLine);
  if (!sim.start(error)) return false;
  if (!(s.com ? sim.registerCom(s.com, error) : sim.linkAt(s.link, error))) return false;
  if (s.tcpPort && !relay.start(sim.slavePath(), s.tcpHost, s.tcpPort, error)) return false;
  std::string sw;
  sim.withModel([&](km4410r::sim::RegisterModel& m) { sw = m.switches(); });
  std::string served;
  if (s.com || !s.link.empty())
    served = "as " + (s.com ? "COM" + std::to_string(s.com) + " at " : std::string()) + sim.linkPath();
  if (s.tcpPort) served += (served.empty() ? "on " : " and on ") + relay.address();
  std::printf("km4410r-sim: serving %s %s (switches %s, %d baud)\n", sim.slavePath().c_str(), served.c_str(),
              sw.c_str(), s.opts.baud);
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  if (const int rc = parseArguments(argc, argv, &s); rc >= 0) return rc;
  if (const int rc = checkSettings(&s); rc >= 0) return rc;
  Outputs outputs;
  std::string error;
  if (!outputs.open(s.paper, s.display, &error)) {
    std::fprintf(stderr, "km4410r-sim: %s\n", error.c_str());
    return 1;
  }

  // The serving thread inherits the blocked signals; main waits for them.
  sigset_t sigs;
  sigemptyset(&sigs);
  sigaddset(&sigs, SIGINT);
  sigaddset(&sigs, SIGTERM);
  sigaddset(&sigs, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

  km4410r::sim::Simulator sim(s.opts);
  // Declared after the simulator: it ends before the pty behind it does.
  km4410r::sim::TcpRelay relay;
  if (!serve(s, sim, relay, &error)) {
    std::fprintf(stderr, "km4410r-sim: %s\n", error.c_str());
    return 1;
  }
  int rc = 0;
  std::string why;
#ifdef KM_SIM_WINDOW
  if (s.window) {
    rc = km4410r::sim::runSimWindow(argc, argv, sim, sigs, [&] { outputs.write(sim); });
    why = "window closed or signal";
  }
#endif
  if (!s.window) {
    // The printed items are written every 100 ms, off the serving thread.
    int sig = 0;
    const timespec tick{0, 100 * 1000 * 1000};
    while ((sig = sigtimedwait(&sigs, nullptr, &tick)) <= 0) outputs.write(sim);
    why = strsignal(sig);
  }
  relay.stop();
  sim.stop();
  outputs.write(sim);
  std::printf("km4410r-sim: stopped (%s)\n", why.c_str());
  return rc;
}
