// What a real X screen shows: the information page's "Ждите !!!" is on the
// X server's screen while the first exchange holds the window. Runs on an
// Xvfb of its own (or the display given when Xvfb is missing) and captures
// the screen with ImageMagick's import from another thread while the
// simulator works on the request; skipped without an X server or import.
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/app/harness.h"

extern char** environ;

using namespace km::test;

namespace {

// Starts a program found on PATH, its output discarded; `fd` (>= 0) is
// passed on as its descriptor 3. 0 when it did not start.
pid_t spawn(std::vector<const char*> argv, int fd = -1) {
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (fd >= 0) posix_spawn_file_actions_adddup2(&actions, fd, 3);  // the copy stays open across exec
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv.data()), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : 0;
}

// Its exit status, or -1.
int finish(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// An Xvfb of this process on the first free display number, which the server
// reports on a pipe (-displayfd) once it accepts connections.
class XServer {
 public:
  bool start() {
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) return false;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    pid_ = spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, fds[1]);
    ::close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (pid_ > 0 && poll(&p, 1, 5000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    display_ = ":" + number;
    return !number.empty();
  }
  ~XServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    finish(pid_);
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = 0;
  std::string display_;
};

bool gOnX = false;  // the windows run on an X server

// Pixels of pure-ish red (the progress text) inside `area` of the image.
int redPixels(const QImage& image, const QRect& area) {
  int n = 0;
  const QRect r = area & image.rect();
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) {
      const QRgb p = image.pixel(x, y);
      if (qRed(p) >= 200 && qGreen(p) <= 60 && qBlue(p) <= 60) ++n;
    }
  return n;
}

}  // namespace

class TestScreen : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void waitTextIsOnTheScreenDuringTheExchange();
};

void TestScreen::waitTextIsOnTheScreenDuringTheExchange() {
  if (!gOnX) QSKIP("no X server (Xvfb is not installed and DISPLAY is not set)");
  if (QStandardPaths::findExecutable(QStringLiteral("import")).isEmpty())
    QSKIP("ImageMagick's import is not installed");
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const std::string shot = QFile::encodeName(dir.filePath(QStringLiteral("screen.png"))).toStdString();

  Session s;
  QVERIFY(QTest::qWaitForWindowExposed(&s.main()));
  QVERIFY(s.connect());
  QTest::qWait(100);  // the connected window painted, as the user sees it before the click
  // The register works on the request long enough for a capture.
  const sim::Options fast = s.simulator->options();
  sim::Options slow = fast;
  slow.workTimeMs = 2000;
  s.simulator->setOptions(slow);
  s.clearFrames();

  // The capture starts when the register has the first request (the window
  // is held from then on) and must end before the window sends the next.
  std::atomic<int> captured{-1};
  std::atomic<bool> inTime{false};
  std::thread capture([&] {
    if (!s.simulator->waitForFrames(1, 5000)) return;
    const pid_t import = spawn({"import", "-window", "root", shot.c_str()});
    captured = import > 0 ? finish(import) : -1;
    inTime = s.simulator->journalCount() == 1;
    s.simulator->setOptions(fast);  // the requests that follow are answered at once
  });
  clickTab(s.form().PageControl1, 3);
  capture.join();
  QCOMPARE(sent(s), (QStringList{"5A[1]", "63[]", "61[]"}));
  QCOMPARE(captured.load(), 0);
  QVERIFY2(inTime, "the capture ended after the first exchange");

  const QImage screen(QString::fromStdString(shot));
  QVERIFY(!screen.isNull());
  // Only the progress text is red on the connected window (the indicator is green).
  const QRect window(s.main().mapToGlobal(QPoint(0, 0)), s.main().size());
  const int red = redPixels(screen, window);
  QVERIFY2(red >= 30, qPrintable(QStringLiteral("%1 red pixels in the main window").arg(red)));
}

int main(int argc, char** argv) {
  XServer x;
  if (x.start()) {
    qputenv("DISPLAY", QByteArray::fromStdString(x.display()));
    qputenv("QT_QPA_PLATFORM", "xcb");
    gOnX = true;
  } else if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    gOnX = true;
  } else {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  return runWindowTests(argc, argv, [](int c, char** v) {
    TestScreen test;
    return QTest::qExec(&test, c, v);
  });
}

#include "test_screen.moc"
