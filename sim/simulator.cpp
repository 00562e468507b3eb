#include "sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "common/comports.h"
#include "common/utf8.h"
#include "sim/codec.h"
#include "sim/register_model.h"
#include "sim/serving_thread.h"

namespace km4410r::sim {

namespace {

using Clock = std::chrono::steady_clock;

std::string describe(const std::string& text) {
  std::string out;
  for (char c : text) {
    uint8_t b = static_cast<uint8_t>(c);
    if (b < 0x20 || b == 0x7F) {
      char h[8];
      std::snprintf(h, sizeof h, "\\x%02X", b);
      out += h;
    } else {
      out += km_text::Cp1251CharToUtf8(b);
    }
  }
  return out;
}

void setError(std::string* error, const std::string& what) {
  if (error) *error = what;
}

}  // namespace

namespace {

// The COM links this process made, with the pty each points at. A process
// that ends by exit() without destroying its simulators (the window's
// toolkit does that when the display goes away) removes them there too, so
// that no link is left to point at a pty that a later program gets.
std::mutex gLinksMu;
std::vector<std::pair<std::string, std::string>> gLinks;

bool LinkPointsAt(const std::string& link, const std::string& slave) {
  char target[4096];
  ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  if (n < 0) return false;
  target[n] = 0;
  return slave == target;
}

void RemoveLinksAtExit() {
  std::lock_guard<std::mutex> l(gLinksMu);
  for (const auto& [link, slave] : gLinks)
    if (LinkPointsAt(link, slave)) unlink(link.c_str());
  gLinks.clear();
}

void RememberLink(const std::string& link, const std::string& slave) {
  static const bool registered = std::atexit(RemoveLinksAtExit) == 0;
  (void)registered;
  std::lock_guard<std::mutex> l(gLinksMu);
  gLinks.emplace_back(link, slave);
}

void ForgetLink(const std::string& link) {
  std::lock_guard<std::mutex> l(gLinksMu);
  gLinks.erase(std::remove_if(gLinks.begin(), gLinks.end(),
                              [&](const auto& entry) { return entry.first == link; }),
               gLinks.end());
}

}  // namespace

struct Simulator::Impl {
  mutable std::mutex optMu;
  Options opts;

  std::mutex modelMu;
  RegisterModel model;

  mutable std::mutex faultMu;
  std::vector<FaultSpec> faults;

  // The journal is a ring: once full, each new frame takes the slot of the
  // oldest one, so its memory stays as it was after the first `limit` frames.
  mutable std::mutex journalMu;
  mutable std::condition_variable journalCv;
  std::vector<JournalEntry> ring;
  size_t oldest = 0;  // index of the oldest entry once the ring is full
  size_t count = 0;   // frames since the start or the last clear

  void record(JournalEntry&& e, size_t limit) {
    std::lock_guard<std::mutex> l(journalMu);
    limit = std::max<size_t>(limit, 1);
    if (ring.size() > limit) {  // the limit was lowered: keep the newest
      std::vector<JournalEntry> kept = ordered();
      kept.erase(kept.begin(), kept.end() - static_cast<long>(limit));
      ring = std::move(kept);
      oldest = 0;
    }
    if (ring.size() < limit) {
      ring.push_back(std::move(e));
    } else {
      ring[oldest] = std::move(e);
      oldest = (oldest + 1) % ring.size();
    }
    ++count;
  }

  // The entries oldest first; journalMu held.
  std::vector<JournalEntry> ordered() const {
    std::vector<JournalEntry> out;
    out.reserve(ring.size());
    for (size_t i = 0; i < ring.size(); ++i) out.push_back(ring[(oldest + i) % ring.size()]);
    return out;
  }

  std::function<void(const std::string&)> log;

  int master = -1;
  int slaveHold = -1;  // keeps the pty alive while the tool closes and reopens it
  std::string slave;
  std::string link;
  ServingThread worker;

  Options options() {
    std::lock_guard<std::mutex> l(optMu);
    return opts;
  }

  // Sleeps ms milliseconds; false when the simulator is stopping.
  bool sleepMs(int ms) {
    if (ms <= 0) return !worker.stopping();
    pollfd p{worker.wakeFd(), POLLIN, 0};
    poll(&p, 1, ms);
    return !worker.stopping();
  }

  // Writes all bytes unless the simulator stops or nobody listens.
  void writeAll(const uint8_t* p, size_t n) {
    while (n > 0 && !worker.stopping()) {
      ssize_t w = ::write(master, p, n);
      if (w > 0) {
        p += w;
        n -= static_cast<size_t>(w);
      } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
        pollfd f[2] = {{master, POLLOUT, 0}, {worker.wakeFd(), POLLIN, 0}};
        poll(f, 2, 100);
      } else {
        return;  // EIO: the tool closed the port; the answer is lost as on a real line
      }
    }
  }

  // Sends bytes at the configured line speed (10 bits a byte).
  void send(const std::vector<uint8_t>& bytes) {
    int baud = options().baud;
    if (baud <= 0) {
      writeAll(bytes.data(), bytes.size());
      return;
    }
    auto start = Clock::now();
    size_t sent = 0;
    while (sent < bytes.size() && !worker.stopping()) {
      // A chunk is handed over when its last byte would have left the line.
      size_t chunk = std::min<size_t>(8, bytes.size() - sent);
      auto due = start + std::chrono::microseconds(static_cast<long long>(sent + chunk) * 10'000'000LL / baud);
      auto left = std::chrono::duration_cast<std::chrono::microseconds>(due - Clock::now()).count();
      if (left > 0) std::this_thread::sleep_for(std::chrono::microseconds(left));
      writeAll(bytes.data() + sent, chunk);
      sent += chunk;
    }
  }

  // The register is busy for ms milliseconds, sending SYN at intervals.
  void busy(int ms) {
    int every = options().synEveryMs;
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!worker.stopping()) {
      if (Clock::now() >= end) return;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      if (every <= 0 || left <= every) {
        std::this_thread::sleep_until(end);
        return;
      }
      sleepMs(every);
      send({kSyn});
    }
  }

  FaultSpec takeFault(uint8_t cmd) {
    std::lock_guard<std::mutex> l(faultMu);
    FaultSpec taken;
    for (auto it = faults.begin(); it != faults.end();) {
      FaultSpec& f = *it;
      if (f.onlyCommand >= 0 && f.onlyCommand != cmd) {
        ++it;
        continue;
      }
      if (f.skip > 0) {
        --f.skip;
        ++it;
        continue;
      }
      if (taken.fault != Fault::None) {
        ++it;
        continue;
      }
      taken = f;
      if (f.count > 0 && --f.count == 0) {
        it = faults.erase(it);
        continue;
      }
      ++it;
    }
    return taken;
  }

  // Puts the frame in the journal and the log.
  void note(const HostFrame& frame) {
    JournalEntry e;
    e.raw = frame.raw;
    e.seq = frame.seq;
    e.cmd = frame.cmd;
    e.data = frame.data;
    e.checksumOk = frame.checksumOk;
    bool translate;
    {
      std::lock_guard<std::mutex> l(modelMu);
      translate = model.translates();
    }
    e.hostData = translate ? fromRegisterPage(frame.data) : frame.data;
    if (log) {
      char head[64];
      std::snprintf(head, sizeof head, "<- seq %02X cmd %02X%s ", frame.seq, frame.cmd,
                    frame.checksumOk ? "" : " BAD FRAME");
      log(head + describe(e.hostData));
    }
    record(std::move(e), options().journalLimit);
    journalCv.notify_all();
  }

  // The model's reply, or a refusal the model never sees; *translate tells
  // whether its text goes on the line in the register's code page.
  Reply replyTo(const HostFrame& frame, Fault fault, bool* translate) {
    std::lock_guard<std::mutex> l(modelMu);
    Reply rep;
    if (fault == Fault::Refuse) {
      rep.status = model.status();
      rep.status[1] |= 0x02;  // command not allowed
    } else {
      rep = model.receive(frame.cmd, frame.data);
    }
    *translate = model.translates();
    return rep;
  }

  // The answer text as a fault that spoils it makes it.
  static std::string spoiled(Fault fault, const std::string& text) {
    std::string out;
    if (fault == Fault::TooManyFields) {
      for (int i = 1; i <= 25; ++i) out += (i > 1 ? "," : "") + std::to_string(i);
    } else if (fault == Fault::LongText) {
      for (int i = 0; i < 150; ++i) out += static_cast<char>('A' + i % 26);
    } else {
      out = text;
    }
    if (out.size() > 212) out.resize(212);  // what LEN can announce
    return out;
  }

  // Sends the answer frame as the fault has it go on the line.
  void deliver(const HostFrame& frame, const FaultSpec& f, const std::vector<uint8_t>& answer,
               const StatusBytes& status) {
    switch (f.fault) {
      case Fault::NoiseBefore: {
        auto end = Clock::now() + std::chrono::milliseconds(f.noiseMs);
        do {
          send({f.noiseByte});
          if (!sleepMs(std::max(1, f.pauseMs))) return;
        } while (Clock::now() < end);
        send(answer);
        break;
      }
      case Fault::ForeignSeq:
      case Fault::ForeignCmd: {
        uint8_t seq = frame.seq, cmd = frame.cmd;
        if (f.fault == Fault::ForeignSeq) seq = static_cast<uint8_t>(seq >= 0x7E ? 0x20 : seq + 1);
        else cmd = static_cast<uint8_t>(cmd == 0x4A ? 0x5A : 0x4A);
        send(buildAnswerFrame(seq, cmd, "", status));
        send(answer);
        break;
      }
      case Fault::SplitFrame: {
        const long third = static_cast<long>(answer.size() / 3);
        send(std::vector<uint8_t>(answer.begin(), answer.begin() + third));
        if (!sleepMs(f.pauseMs)) return;
        send(std::vector<uint8_t>(answer.begin() + third, answer.begin() + 2 * third));
        if (!sleepMs(f.pauseMs)) return;
        send(std::vector<uint8_t>(answer.begin() + 2 * third, answer.end()));
        break;
      }
      default:
        send(answer);
    }
  }

  void handle(const HostFrame& frame) {
    note(frame);
    if (!frame.checksumOk) {
      send({kNak});
      if (log) log("-> NAK");
      return;
    }
    const FaultSpec f = takeFault(frame.cmd);
    if (f.fault == Fault::Silence) {
      if (log) log("-> (silence)");
      return;
    }
    if (f.fault == Fault::Nak) {
      send({kNak});
      if (log) log("-> NAK (injected)");
      return;
    }
    bool translate = false;
    const Reply rep = replyTo(frame, f.fault, &translate);
    const Options o = options();
    busy(o.workTimeMs + (rep.printing ? o.reportTimeMs : 0));
    const std::string text = spoiled(f.fault, rep.text);
    const auto answer = buildAnswerFrame(frame.seq, frame.cmd, translate ? toRegisterPage(text) : text, rep.status,
                                         f.fault == Fault::BadChecksum);
    if (log) {
      char s[64];
      std::snprintf(s, sizeof s, "-> seq %02X cmd %02X status %02X %02X %02X %02X %02X %02X ", frame.seq,
                    frame.cmd, rep.status[0], rep.status[1], rep.status[2], rep.status[3], rep.status[4],
                    rep.status[5]);
      log(s + describe(text));
    }
    deliver(frame, f, answer, rep.status);
  }

  void serve() {
    HostFrameParser parser;
    auto lastByte = Clock::now();
    uint8_t buf[512];
    while (!worker.stopping()) {
      pollfd f[2] = {{master, POLLIN, 0}, {worker.wakeFd(), POLLIN, 0}};
      int n = poll(f, 2, 200);
      if (n < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (worker.stopping() || f[1].revents) break;
      if (f[0].revents & POLLIN) {
        ssize_t r = ::read(master, buf, sizeof buf);
        if (r <= 0) {
          if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
          sleepMs(50);  // nobody has the port open
          continue;
        }
        auto now = Clock::now();
        // A frame that stalls for a second is abandoned.
        if (parser.inFrame() && now - lastByte > std::chrono::seconds(1)) parser.reset();
        lastByte = now;
        for (ssize_t i = 0; i < r && !worker.stopping(); ++i)
          if (auto frame = parser.feed(buf[i])) handle(*frame);
      } else if (f[0].revents & (POLLHUP | POLLERR)) {
        sleepMs(50);
      }
    }
  }

  void removeLink() {
    if (link.empty()) return;
    if (LinkPointsAt(link, slave)) unlink(link.c_str());
    ForgetLink(link);
    link.clear();
  }
};

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>()) { impl_->opts = options; }

Simulator::~Simulator() { stop(); }

bool Simulator::start(std::string* error) {
  Impl& s = *impl_;
  if (s.worker.running()) return true;
  auto fail = [&](const char* what) {
    setError(error, std::string(what) + ": " + std::strerror(errno));
    for (int* fd : {&s.master, &s.slaveHold}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
    return false;
  };
  s.master = posix_openpt(O_RDWR | O_NOCTTY);
  if (s.master < 0 || grantpt(s.master) != 0 || unlockpt(s.master) != 0) return fail("cannot open a pty");
  char name[128];
  if (ptsname_r(s.master, name, sizeof name) != 0) return fail("ptsname");
  s.slave = name;
  fcntl(s.master, F_SETFL, fcntl(s.master, F_GETFL) | O_NONBLOCK);
  s.slaveHold = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios t{};
  if (tcgetattr(s.master, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(s.master, TCSANOW, &t);
  }
  if (!s.worker.open()) return fail("pipe");
  s.worker.start([&s] { s.serve(); });
  return true;
}

void Simulator::stop() {
  Impl& s = *impl_;
  if (s.worker.running()) {
    s.worker.stop();
    if (s.slaveHold >= 0) close(s.slaveHold);
    close(s.master);
    s.master = s.slaveHold = -1;
  }
  s.removeLink();
}

bool Simulator::running() const { return impl_->worker.running(); }
std::string Simulator::slavePath() const { return impl_->slave; }
std::string Simulator::linkPath() const { return impl_->link; }

std::string Simulator::portFolder() {
  char folder[256];
  return VirtualPortFolder(folder, sizeof folder) ? std::string(folder) : std::string();
}

bool Simulator::registerCom(int n, std::string* error) {
  char link[512];
  if (!VirtualComLink(n, link, sizeof link)) {
    setError(error, "COM" + std::to_string(n) + ": not a COM port number (" + std::to_string(kMinComPort) +
                        ".." + std::to_string(kMaxComPort) + ") or no virtual port folder");
    return false;
  }
  // The folder the tool looks in, used only when it is safe: links in a
  // folder that someone else controls could point anywhere.
  const std::string dir = portFolder();
  switch (CheckVirtualPortFolder(true)) {
    case kFolderUsable:
      return linkAt(link, error);
    case kFolderNotADirectory:
      setError(error, dir + " is a link or not a folder: remove it");
      return false;
    case kFolderNotOwned:
      setError(error, dir + " belongs to another user: remove it or set XDG_RUNTIME_DIR");
      return false;
    case kFolderOpenToOthers:
      setError(error, dir + " is writable by other users: chmod 700 it");
      return false;
    default:
      setError(error, "cannot create " + dir + ": " + std::strerror(errno));
      return false;
  }
}

bool Simulator::linkAt(const std::string& path, std::string* error) {
  Impl& s = *impl_;
  if (s.slave.empty()) {
    setError(error, "the simulator is not started");
    return false;
  }
  if (path == s.link) return true;
  struct stat st{};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      setError(error, path + " exists and is not a link");
      return false;
    }
    struct stat target{};
    if (stat(path.c_str(), &target) == 0) {  // points at a live device
      setError(error, path + " is in use by another device");
      return false;
    }
    unlink(path.c_str());  // left over from a simulator that did not stop cleanly
  }
  if (symlink(s.slave.c_str(), path.c_str()) != 0) {
    setError(error, "cannot link " + path + ": " + std::strerror(errno));
    return false;
  }
  s.removeLink();
  s.link = path;
  RememberLink(path, s.slave);
  return true;
}

void Simulator::setOptions(const Options& options) {
  std::lock_guard<std::mutex> l(impl_->optMu);
  impl_->opts = options;
}

Options Simulator::options() const { return impl_->options(); }

void Simulator::injectFault(const FaultSpec& spec) {
  std::lock_guard<std::mutex> l(impl_->faultMu);
  impl_->faults.clear();
  if (spec.fault != Fault::None && spec.count != 0) impl_->faults.push_back(spec);
}

void Simulator::addFault(const FaultSpec& spec) {
  std::lock_guard<std::mutex> l(impl_->faultMu);
  if (spec.fault != Fault::None && spec.count != 0) impl_->faults.push_back(spec);
}

void Simulator::clearFaults() {
  std::lock_guard<std::mutex> l(impl_->faultMu);
  impl_->faults.clear();
}

int Simulator::faultsWaiting(Fault fault) const {
  std::lock_guard<std::mutex> l(impl_->faultMu);
  int n = 0;
  for (const auto& f : impl_->faults) {
    if (f.fault != fault) continue;
    if (f.count < 0) return -1;
    n += f.count;
  }
  return n;
}

std::vector<JournalEntry> Simulator::journal() const {
  std::lock_guard<std::mutex> l(impl_->journalMu);
  return impl_->ordered();
}

void Simulator::clearJournal() {
  std::lock_guard<std::mutex> l(impl_->journalMu);
  impl_->ring.clear();
  impl_->oldest = 0;
  impl_->count = 0;
}

size_t Simulator::journalCount() const {
  std::lock_guard<std::mutex> l(impl_->journalMu);
  return impl_->count;
}

bool Simulator::waitForFrames(size_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> l(impl_->journalMu);
  return impl_->journalCv.wait_for(l, std::chrono::milliseconds(timeoutMs),
                                   [&] { return impl_->count >= n; });
}

void Simulator::withModel(const std::function<void(RegisterModel&)>& f) {
  std::lock_guard<std::mutex> l(impl_->modelMu);
  f(impl_->model);
}

void Simulator::setLogger(std::function<void(const std::string&)> log) { impl_->log = std::move(log); }

}  // namespace km4410r::sim
