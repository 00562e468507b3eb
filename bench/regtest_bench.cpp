// The register test (page "Тест РРО") run offscreen against the simulator,
// and the same test run without a screen (km4410r --run-test, in this process
// through the station's own scenario adapter).
//
// 1. One run of one pass with both phases at 19200 and 115200 Bd, through the
//    page and through the run without a screen, the simulator working a fixed
//    time per command. The simulator paces only the bytes it sends (10 bits a
//    byte); the host's frames go over the pty unpaced. So the run cannot be
//    shorter than the answer frames on the line plus the work of every
//    command: the run's time is held against that sum. The answers' sizes are
//    those of a second register model fed the frames the simulator received,
//    checked against the answers the simulator logged.
// 2. A long run without fiscal receipts on an unpaced simulator without work:
//    the time of a pass early and late in the run, and the resident memory and
//    the log's size every fifty passes.
//
// Message boxes, the timer check's minute and the pauses go through the ui
// fakes: recorded, not shown or slept.
//
//   km_regtest_bench [passes of the long run, default 200] [work ms, default 5]
#include <fcntl.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextDocument>
#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/Mainform.h"
#include "app/program.h"
#include "app/uifakes.h"
#include "driver/testing.h"
#include "history/history.h"
#include "common/utf8.h"
#include "regtest/scenario.h"
#include "regtest/testing.h"
#include "sim/register_model.h"
#include "sim/simulator.h"
#include "station/protocol.h"
#include "station/station.h"

namespace {

namespace sim = km4410r::sim;
using Clock = std::chrono::steady_clock;

constexpr int kTimerWaitMs = 60 * 1000;  // the timer check's wait, once a pass
constexpr int kStationTimerMs = 1;       // that wait in the run without a screen, which sleeps it
constexpr size_t kAnswerFrame = 17;      // answer frame bytes around the data text
constexpr size_t kMaxAnswerText = 212;   // what the answer's LEN can announce

// Where the runs are kept: an SQLite file of the bench's own (the window's
// shared store and the station's --history), never the user's.
QString gHistoryFile;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

long RssKb() {
  FILE* f = fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  while (fgets(line, sizeof line, f))
    if (strncmp(line, "VmRSS:", 6) == 0) kb = atol(line + 6);
  fclose(f);
  return kb;
}

// Prints what the fakes recorded and tells the caller to give up.
bool Fail(const FakeServices& ui, const char* what) {
  fprintf(stderr, "km_regtest_bench: %s\n", what);
  for (const QString& m : ui.messages) fprintf(stderr, "  message: %s\n", qPrintable(m));
  for (const QString& e : ui.errors) fprintf(stderr, "  error box: %s\n", qPrintable(e));
  for (const QString& d : ui.dialogsShown) fprintf(stderr, "  dialog: %s\n", qPrintable(d));
  return false;
}

// The simulator's log line of an answer (the simulator writes it just before
// it sends the frame).
std::string AnswerLogLine(uint8_t seq, uint8_t cmd, const sim::Reply& r, const std::string& text) {
  char head[64];
  snprintf(head, sizeof head, "-> seq %02X cmd %02X status %02X %02X %02X %02X %02X %02X ", seq, cmd,
           r.status[0], r.status[1], r.status[2], r.status[3], r.status[4], r.status[5]);
  std::string out = head;
  for (char c : text) {
    const uint8_t b = static_cast<uint8_t>(c);
    if (b < 0x20 || b == 0x7F) {
      char h[8];
      snprintf(h, sizeof h, "\\x%02X", b);
      out += h;
    } else {
      out += km_text::Cp1251CharToUtf8(b);
    }
  }
  return out;
}

// What the simulator said it did, with the time it said it.
struct SimLog {
  std::mutex mu;
  std::vector<std::pair<Clock::time_point, std::string>> lines;
  void add(const std::string& line) {
    const auto now = Clock::now();
    std::lock_guard<std::mutex> l(mu);
    lines.emplace_back(now, line);
  }
};

// The windows created and connected to a simulator registered as COM1, as a
// user has them after Подключить; torn down again by the destructor.
class Bench {
 public:
  explicit Bench(FakeServices& ui) : ui_(ui) {}
  ~Bench() {
    if (windows_) DestroyWindows();
    km_driver::ResetDriverForTests();
    if (simulator) simulator->stop();
  }

  // The simulator registered as COM1, no window yet.
  bool startSimulator(const sim::Options& options, SimLog* log) {
    km_driver::ResetDriverForTests();
    simulator = std::make_unique<sim::Simulator>(options);
    if (log) simulator->setLogger([log](const std::string& line) { log->add(line); });
    std::string error;
    if (simulator->start(&error) && simulator->registerCom(1, &error)) return true;
    fprintf(stderr, "km_regtest_bench: simulator: %s\n", error.c_str());
    return false;
  }

  bool connect(const sim::Options& options, int speedIndex, SimLog* log) {
    if (!startSimulator(options, log)) return false;
    CreateWindows();
    windows_ = true;
    Form1->show();
    QCoreApplication::processEvents();
    Form1->ui.ComboBox1->setCurrentIndex(0);  // COM1
    Form1->ui.ComboBox3->setCurrentIndex(speedIndex);
    Form1->Button2Click();
    QCoreApplication::processEvents();
    if (!Form1->isConnected() || !ui_.messages.isEmpty()) return Fail(ui_, "the window did not connect to COM1");
    return true;
  }

  // The page as the user fills it in before Старт.
  void setUp(int passes, bool withoutReceipts) {
    Form1->tab1.Edit1->setText(QStringLiteral("0"));
    Form1->tab1.ComboBox2->setEditText(QString::number(passes));
    Form1->tab1.CheckBox1->setChecked(withoutReceipts);
  }

  // Clicks Старт and returns how long the run took, in ms; < 0 when the run
  // showed a message or did not end with its summary of no errors.
  double run() {
    started = Clock::now();
    Form1->Button3Click();
    ended = Clock::now();
    const double ms = Ms(ended - started);
    const QStringList lines = Form1->LogLines();
    const bool clean = lines.contains(QStringLiteral("Общее количество ошибок: 0"));
    if (!ui_.messages.isEmpty() || !ui_.errors.isEmpty() || !ui_.dialogsShown.isEmpty()) {
      Fail(ui_, "the run showed a message or a dialog");
      return -1;
    }
    if (!clean) {
      fprintf(stderr, "km_regtest_bench: the run did not end without errors; its last lines:\n");
      for (qsizetype i = std::max<qsizetype>(0, lines.size() - 12); i < lines.size(); ++i)
        fprintf(stderr, "  %s\n", qPrintable(lines[i]));
      return -1;
    }
    return ms;
  }

  // The run without a screen of one pass with both phases on COM1, pause 0,
  // its log lines (on stdout) dropped; as run().
  double runStation(int baud, bool keep) {
    station::RunOptions o;
    o.history = keep ? gHistoryFile : QStringLiteral("none");
    o.runTest = true;
    o.port = QStringLiteral("COM1");
    o.baud = baud;
    o.passesText = QStringLiteral("1");
    o.pauseText = QStringLiteral("0");
    o.passes = 1;
    o.fiscal = true;
    regtest::SetTimerWaitForTests(kStationTimerMs);
    fflush(stdout);
    const int saved = dup(1), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    started = Clock::now();
    const int status = station::RunOne(o);
    ended = Clock::now();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(null);
    regtest::SetTimerWaitForTests(0);
    if (status == station::kExitPassed) return Ms(ended - started);
    fprintf(stderr, "km_regtest_bench: the run without a screen ended with exit status %d\n", status);
    return -1;
  }

  std::unique_ptr<sim::Simulator> simulator;
  Clock::time_point started, ended;  // of the last run

 private:
  FakeServices& ui_;
  bool windows_ = false;
};

// ---- 1. one pass against the line's limit ----------------------------------

// Through the page (connected first, the run from Старт) or without a
// screen (the run from the port's opening).
enum class Through { Page, Station, StationWithoutHistory };


bool OnePass(FakeServices& ui, Through through, int baud, int speedIndex, int workMs) {
  sim::Options options;
  options.baud = baud;
  options.workTimeMs = workMs;
  options.reportTimeMs = 0;
  options.journalLimit = 1u << 20;  // every frame since the start, for the replay
  SimLog log;
  Bench bench(ui);
  const bool page = through == Through::Page;
  if (page ? !bench.connect(options, speedIndex, &log) : !bench.startSimulator(options, &log)) return false;
  if (page) bench.setUp(1, false);
  const size_t before = bench.simulator->journalCount();
  size_t logBefore;
  {
    std::lock_guard<std::mutex> l(log.mu);
    logBefore = log.lines.size();
  }
  const double ms = page ? bench.run() : bench.runStation(baud, through == Through::Station);
  if (ms < 0) return false;

  const std::vector<sim::JournalEntry> frames = bench.simulator->journal();
  if (frames.size() != bench.simulator->journalCount()) {
    fprintf(stderr, "km_regtest_bench: the journal dropped frames; the replay needs them all\n");
    return false;
  }
  std::vector<std::pair<Clock::time_point, std::string>> received, answered;
  {
    std::lock_guard<std::mutex> l(log.mu);
    for (size_t i = 0; i < log.lines.size(); ++i) {
      auto& to = log.lines[i].second.rfind("<- ", 0) == 0 ? received : answered;
      if (i >= logBefore) to.push_back(log.lines[i]);
    }
  }

  // A model of its own, fed every frame the simulator received since its
  // start, answers as the simulator did: the same texts, and so the same
  // sizes. Only the clock's digits may differ (it reads the PC's time).
  sim::RegisterModel model;
  size_t exchanges = 0, answerBytes = 0, hostBytes = 0, same = 0, clockOnly = 0, differing = 0;
  // The run without a screen sleeps the timer check's wait; the page's fakes do not.
  double limitMs = page ? 0 : kStationTimerMs, hostLineMs = 0, workTotalMs = 0;
  std::vector<double> lineMs;  // each answer's line time
  for (size_t i = 0; i < frames.size(); ++i) {
    const sim::JournalEntry& f = frames[i];
    size_t bytes = 1;  // a NAK for a broken frame, with no work
    double work = 0;
    std::string expected = "-> NAK";
    if (f.checksumOk) {
      const sim::Reply r = model.receive(f.cmd, f.data);
      const std::string text = r.text.substr(0, kMaxAnswerText);
      bytes = kAnswerFrame + text.size();  // the code page change keeps one byte a character
      work = workMs + (r.printing ? options.reportTimeMs : 0);
      expected = AnswerLogLine(f.seq, f.cmd, r, text);
    }
    if (i < before) continue;
    ++exchanges;
    answerBytes += bytes;
    hostBytes += f.raw.size();
    const double line = bytes * 10000.0 / baud;
    lineMs.push_back(line);
    limitMs += line + work;
    workTotalMs += work;
    hostLineMs += f.raw.size() * 10000.0 / baud;
    const size_t k = i - before;
    const std::string& logged = k < answered.size() ? answered[k].second : std::string();
    if (logged == expected) ++same;
    else if (logged.size() == expected.size()) ++clockOnly;
    else ++differing;
  }
  if (differing > 0 || received.size() != exchanges || answered.size() != exchanges) {
    fprintf(stderr,
            "km_regtest_bench: the replayed answers do not match the simulator's (%zu of %zu differ in "
            "size; %zu frames and %zu answers logged)\n",
            differing, exchanges, received.size(), answered.size());
    return false;
  }

  // Where the time went, from the simulator's side of the line: from a frame's
  // arrival to its answer leaving (the work), the answer on the line, and from
  // the moment the answer's last byte was due to the next frame's arrival (the
  // rest: the click before the first frame and after the last answer count
  // too). Together they make up the run's time.
  double inSim = 0, hostGap = 0, worstGap = 0;
  size_t worstAt = 0;
  for (size_t k = 0; k <= exchanges; ++k) {
    if (k < exchanges) inSim += Ms(answered[k].first - received[k].first);
    const Clock::time_point from = k == 0 ? bench.started : answered[k - 1].first;
    const Clock::time_point to = k == exchanges ? bench.ended : received[k].first;
    const double gap = Ms(to - from) - (k == 0 ? 0 : lineMs[k - 1]);
    hostGap += gap;
    if (gap > worstGap) {
      worstGap = gap;
      worstAt = k;
    }
  }

  const double registerLimitMs = limitMs - workTotalMs + inSim;
  printf("%-8s %-7d %9zu %8zu %7zu %10.1f %10.1f %7.3f %9.3f %8.1f %9.1f %9.1f %8.2f %8.1f\n",
         page ? "page" : through == Through::Station ? "station" : "st-none", baud, exchanges, answerBytes, hostBytes, ms, limitMs, ms / limitMs,
         ms / registerLimitMs, workTotalMs, inSim, hostGap, worstGap, hostLineMs);
  const auto command = [&](size_t k) {
    char name[16] = "(none)";
    if (k < exchanges) snprintf(name, sizeof name, "0x%02X", frames[before + k].cmd);
    return std::string(name);
  };
  printf("         replay: %zu answers as logged, %zu differing only in characters (clock); longest gap\n"
         "         between the answers to %s and %s\n",
         same, clockOnly, worstAt == 0 ? "(the click)" : command(worstAt - 1).c_str(),
         command(worstAt).c_str());
  return true;
}

// ---- 2. the long run ----------------------------------------------------------

struct Checkpoint {
  int passes;
  long rssKb;
  int logChars;
  int logLines;
};

bool LongRun(FakeServices& ui, int passes) {
  sim::Options options;
  options.baud = 0;
  options.workTimeMs = 0;
  options.journalLimit = 1;  // the simulator's journal stays out of the memory figures
  Bench bench(ui);
  if (!bench.connect(options, 3, nullptr)) return false;
  bench.setUp(passes, true);

  const QTextDocument* log = Form1->tab1.RichEdit1->document();
  std::vector<Clock::time_point> waits;  // the timer check's wait of each pass
  waits.reserve(static_cast<size_t>(passes) + 1);
  std::vector<Checkpoint> points;
  points.reserve(static_cast<size_t>(passes / 50) + 2);
  points.push_back({0, RssKb(), log->characterCount(), log->blockCount()});
  long long sleepsSeen = 0;
  ui.onSleep = [&](int ms) {
    if (ms != kTimerWaitMs) return;
    waits.push_back(Clock::now());
    // The fakes' own record of the sleeps would grow too.
    sleepsSeen += ui.sleeps.size();
    ui.sleeps.clear();
    const int done = static_cast<int>(waits.size());
    if (done % 50 == 0 || done == passes)
      points.push_back({done, RssKb(), log->characterCount(), log->blockCount()});
  };
  const double ms = bench.run();
  ui.onSleep = nullptr;
  if (ms < 0) return false;
  if (static_cast<int>(waits.size()) != passes) {
    fprintf(stderr, "km_regtest_bench: %zu timer waits for %d passes\n", waits.size(), passes);
    return false;
  }
  if (points.back().passes != passes) points.push_back({passes, RssKb(), log->characterCount(), log->blockCount()});

  // A pass is timed from one timer wait to the next: each span holds the
  // second half of a timer check and the first of the next pass, that is one
  // pass's commands and log lines.
  std::vector<double> span;
  for (size_t i = 1; i < waits.size(); ++i) span.push_back(Ms(waits[i] - waits[i - 1]));
  const size_t n = std::min<size_t>(10, span.size() / 2);
  if (n == 0) {
    fprintf(stderr, "km_regtest_bench: too few passes to compare (at least 3)\n");
    return false;
  }
  double first = 0, last = 0;
  for (size_t i = 0; i < n; ++i) {
    first += span[i];
    last += span[span.size() - n + i];
  }
  first /= n;
  last /= n;
  const size_t exchanges = bench.simulator->journalCount();
  printf("run: %d passes in %.0f ms, %zu frames since connecting, %lld pauses and waits recorded\n",
         passes, ms, exchanges, sleepsSeen + ui.sleeps.size());
  std::vector<double> sorted = span;
  std::sort(sorted.begin(), sorted.end());
  printf("pass time (timer wait to timer wait): first %zu %.2f ms, last %zu %.2f ms, last/first %.3f\n", n,
         first, n, last, last / first);
  printf("all %zu spans: min %.2f, median %.2f, max %.2f ms\n", sorted.size(), sorted.front(),
         sorted[sorted.size() / 2], sorted.back());
  printf("\n%7s %10s %11s %9s %12s %13s %12s\n", "passes", "VmRSS kB", "log chars", "log lines",
         "+VmRSS kB", "+log chars", "bytes/char");
  for (size_t i = 0; i < points.size(); ++i) {
    const Checkpoint& p = points[i];
    if (i == 0) {
      printf("%7d %10ld %11d %9d\n", p.passes, p.rssKb, p.logChars, p.logLines);
      continue;
    }
    const Checkpoint& q = points[i - 1];
    const long dRss = p.rssKb - q.rssKb;
    const int dChars = p.logChars - q.logChars;
    printf("%7d %10ld %11d %9d %12ld %13d %12.1f\n", p.passes, p.rssKb, p.logChars, p.logLines, dRss, dChars,
           dChars > 0 ? dRss * 1024.0 / dChars : 0.0);
  }
  // The same lines in a bare editor of the same kind: what the widget itself
  // needs for this text.
  {
    const QStringList lines = Form1->LogLines();
    const long before = RssKb();
    QPlainTextEdit bare;
    bare.setReadOnly(true);
    bare.setLineWrapMode(QPlainTextEdit::NoWrap);
    bare.resize(Form1->tab1.RichEdit1->size());
    bare.show();
    for (qsizetype i = 0; i < lines.size(); ++i) {
      bare.appendPlainText(lines[i]);
      if (i % 50 == 0) QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    const long grown = RssKb() - before;
    printf("the same %lld lines in a bare QPlainTextEdit: %+ld kB (%.1f bytes/char); undo %s in the log\n",
           static_cast<long long>(lines.size()), grown, grown * 1024.0 / bare.document()->characterCount(),
           log->isUndoRedoEnabled() ? "recorded" : "off");
  }
  // Whatever the log held goes back once it is cleared (Очистить) and the
  // allocator hands free memory back.
  Form1->Button6Click();
  QCoreApplication::processEvents();
  malloc_trim(0);
  const long cleared = RssKb();
  printf("log cleared, free memory returned: VmRSS %ld kB (%+ld kB against the start of the run)\n", cleared,
         cleared - points.front().rssKb);
  return true;
}

// The offscreen platform says on every window shown that it cannot pass on
// size hints; that is no news here.
void QuietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text == QLatin1String("This plugin does not support propagateSizeHints()")) return;
  fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

}  // namespace

int main(int argc, char** argv) {
  const int passes = argc > 1 ? atoi(argv[1]) : 200;
  const int workMs = argc > 2 ? atoi(argv[2]) : 5;
  if (passes < 3 || workMs < 0) {
    fprintf(stderr, "usage: km_regtest_bench [passes >= 3, default 200] [work ms >= 0, default 5]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Virtual ports of this process alone: a private runtime folder.
  QTemporaryDir runtime(QDir::tempPath() + QStringLiteral("/km-regtest-bench-XXXXXX"));
  if (!runtime.isValid()) {
    fprintf(stderr, "km_regtest_bench: cannot create a runtime folder below %s\n", qPrintable(QDir::tempPath()));
    return 1;
  }
  ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
  qInstallMessageHandler(QuietOffscreen);
  KmApplication app(argc, argv);
  FakeServices ui;
  ui.installSelf();

  printf("Register test: one run of one pass with both phases (the run's start included: 2 diagnostics,\n"
         "8 header lines), pause 0, simulator work %d ms a command, report time 0: through the page\n"
         "(Старт on the connected window) and without a screen (station: km4410r --run-test in this\n"
         "process, from the port's opening: one diagnostic more; its timer wait %d ms, in its limit),\n"
         "each run kept in an SQLite history of the bench's own; st-none: the station keeping nothing.\n"
         "limit = every answer frame at the line speed (10 bits a byte) + the work per command. The\n"
         "simulator paces only its own answers; the host's frames cross the pty unpaced and are not in\n"
         "the limit (host line ms: what they would add on a real line).\n"
         "Seen from the simulator: sim ms = frame in to answer out (work, model); host gaps = from the\n"
         "answer's last byte due on the line to the next frame in, and the click before the first frame\n"
         "and after the last answer (pacing slack, pty, driver, the test's log, the window); run ms =\n"
         "sim ms + the answers' line time + host gaps. reg ratio: against the limit with the register's\n"
         "work as it took it (sim ms for work ms). Goals: ratio within 1.05 (page), 1.02 (station).\n\n",
         workMs, kStationTimerMs);
  printf("%-8s %-7s %9s %8s %7s %10s %10s %7s %9s %8s %9s %9s %8s %8s\n", "run", "baud", "exchanges", "ans B",
         "host B", "run ms", "limit ms", "ratio", "reg ratio", "work ms", "sim ms", "host gaps", "max gap",
         "host line");
  gHistoryFile = runtime.filePath(QStringLiteral("history.sqlite"));
  history::Location where;
  where.localPath = gHistoryFile;
  history::Store store(where);
  if (!store.Open()) {
    fprintf(stderr, "km_regtest_bench: %s\n", qPrintable(store.problem()));
    return 1;
  }
  history::Store::SetShared(&store);
  for (const Through through : {Through::Page, Through::Station, Through::StationWithoutHistory})
    if (!OnePass(ui, through, 19200, 1, workMs) || !OnePass(ui, through, 115200, 3, workMs)) return 1;

  printf("\nRegister test: %d passes without fiscal receipts and Z reports, pause 0, unpaced simulator\n"
         "without work. VmRSS and the log's size every fifty passes.\n\n",
         passes);
  if (!LongRun(ui, passes)) return 1;
  return 0;
}
