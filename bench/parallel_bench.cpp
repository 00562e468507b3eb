// The register test without a screen on one simulated register, then on
// eight at once: one km4410r process per register (the driver has one port
// and static state per process), each against a simulator of its own on a
// pty in this process. Per register: the wall time from start to end of its
// process and the CPU it used (user and system, from wait4's rusage).
//
//   km_parallel_bench [registers, default 8] [passes, default 3] [timer wait ms, default 200]
//
// The simulators answer at 115200 Bd after 2 ms of work a command; the test
// runs with --fiscal, pause 0 and the timer check's minute shortened to the
// given wait (idle time: it adds wall time, not CPU).
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"

namespace {

namespace sim = km4410r::sim;
using Clock = std::chrono::steady_clock;

struct Figures {
  int com = 0;
  int status = -1;
  double wall = 0, user = 0, sys = 0;  // seconds
};

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

// Runs `count` registers at once; false when a simulator or a run failed.
bool RunAtOnce(int count, int passes, int timerMs, std::vector<Figures>* out, double* simCpu) {
  std::vector<std::unique_ptr<sim::Simulator>> sims;
  for (int i = 1; i <= count; ++i) {
    sim::Options o;
    o.baud = 115200;
    o.workTimeMs = 2;
    o.reportTimeMs = 0;
    o.journalLimit = 16;
    auto s = std::make_unique<sim::Simulator>(o);
    std::string error;
    if (!s->start(&error) || !s->registerCom(i, &error)) {
      fprintf(stderr, "km_parallel_bench: simulator COM%d: %s\n", i, error.c_str());
      return false;
    }
    sims.push_back(std::move(s));
  }
  rusage selfBefore{};
  getrusage(RUSAGE_SELF, &selfBefore);

  const std::string passesText = std::to_string(passes);
  const std::string timer = std::to_string(timerMs);
  std::map<pid_t, std::pair<int, Clock::time_point>> running;
  for (int i = 1; i <= count; ++i) {
    const std::string port = "COM" + std::to_string(i);
    fflush(nullptr);  // nothing buffered here may be written again by a child
    const Clock::time_point started = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
      perror("km_parallel_bench: fork");
      return false;
    }
    if (pid == 0) {
      setenv("KM4410R_TEST_TIMER_MS", timer.c_str(), 1);
      const int null = open("/dev/null", O_WRONLY);  // the log lines are not measured here
      if (null < 0 || dup2(null, 1) < 0) _exit(127);
      execl(KM_APP_PATH, "km4410r", "--run-test", "--port", port.c_str(), "--passes", passesText.c_str(),
            "--pause-ms", "0", "--fiscal", static_cast<char*>(nullptr));
      _exit(127);
    }
    running[pid] = {i, started};
  }
  bool ok = true;
  while (!running.empty()) {
    int status = 0;
    rusage ru{};
    const pid_t pid = wait4(-1, &status, 0, &ru);
    if (pid < 0) {
      perror("km_parallel_bench: wait4");
      return false;
    }
    auto it = running.find(pid);
    if (it == running.end()) continue;
    Figures f;
    f.com = it->second.first;
    f.wall = std::chrono::duration<double>(Clock::now() - it->second.second).count();
    f.user = Seconds(ru.ru_utime);
    f.sys = Seconds(ru.ru_stime);
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (f.status != 0) ok = false;
    out->push_back(f);
    running.erase(it);
  }
  rusage selfAfter{};
  getrusage(RUSAGE_SELF, &selfAfter);
  *simCpu = Seconds(selfAfter.ru_utime) - Seconds(selfBefore.ru_utime) + Seconds(selfAfter.ru_stime) -
            Seconds(selfBefore.ru_stime);
  return ok;
}

struct Summary {
  double wall = 0, wallMax = 0, cpu = 0, cpuMax = 0;
};

Summary Print(const char* what, std::vector<Figures> figures, double simCpu) {
  std::sort(figures.begin(), figures.end(), [](const Figures& a, const Figures& b) { return a.com < b.com; });
  printf("\n%s\n%-6s %6s %9s %8s %8s %8s\n", what, "port", "exit", "wall s", "user s", "sys s", "cpu s");
  Summary s;
  for (const Figures& f : figures) {
    const double cpu = f.user + f.sys;
    printf("COM%-3d %6d %9.2f %8.2f %8.2f %8.2f\n", f.com, f.status, f.wall, f.user, f.sys, cpu);
    s.wall += f.wall;
    s.cpu += cpu;
    s.wallMax = std::max(s.wallMax, f.wall);
    s.cpuMax = std::max(s.cpuMax, cpu);
  }
  const double n = static_cast<double>(figures.size());
  s.wall /= n;
  s.cpu /= n;
  printf("mean   %6s %9.2f %17s %8.2f   (max wall %.2f, max cpu %.2f; simulators in this process: %.2f s cpu)\n",
         "", s.wall, "", s.cpu, s.wallMax, s.cpuMax, simCpu);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? atoi(argv[1]) : 8;
  const int passes = argc > 2 ? atoi(argv[2]) : 3;
  const int timerMs = argc > 3 ? atoi(argv[3]) : 200;
  if (count < 1 || count > 20 || passes < 1 || timerMs < 1) {
    fprintf(stderr, "usage: km_parallel_bench [registers 1..20, default 8] [passes >= 1, default 3] "
                    "[timer wait ms >= 1, default 200]\n");
    return 2;
  }
  // Virtual ports of this benchmark alone: a private runtime folder.
  char runtime[] = "/tmp/km-parallel-bench-XXXXXX";
  if (!mkdtemp(runtime)) {
    perror("km_parallel_bench: mkdtemp");
    return 1;
  }
  chmod(runtime, 0700);
  setenv("XDG_RUNTIME_DIR", runtime, 1);
  unsetenv("QT_QPA_PLATFORM");  // the program picks the offscreen platform itself

  printf("km4410r --run-test --passes %d --pause-ms 0 --fiscal, timer check %d ms, one process per\n"
         "register, simulators at 115200 Bd with 2 ms work a command; %ld processors online.\n",
         passes, timerMs, sysconf(_SC_NPROCESSORS_ONLN));
  std::vector<Figures> one, many;
  double simOne = 0, simMany = 0;
  bool ok = RunAtOnce(1, passes, timerMs, &one, &simOne);
  const Summary a = Print("one register:", one, simOne);
  ok = RunAtOnce(count, passes, timerMs, &many, &simMany) && ok;
  char title[64];
  snprintf(title, sizeof title, "%d registers at once:", count);
  const Summary b = Print(title, many, simMany);
  printf("\n%d against one: mean wall %.2f (max %.2f), mean cpu %.2f per register\n", count, b.wall / a.wall,
         b.wallMax / a.wall, b.cpu / a.cpu);
  rmdir((std::string(runtime) + "/km4410r").c_str());
  rmdir(runtime);
  if (!ok) fprintf(stderr, "km_parallel_bench: a run did not end with exit status 0\n");
  return ok ? 0 : 1;
}
