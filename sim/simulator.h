// KM4410R register simulator: a register model served over a pty.
//
// Tests use it in-process (a thread serves the pty); people use the
// km4410r-sim program, which wraps the same Simulator.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace km4410r::sim {

class RegisterModel;  // sim/register_model.h

// One host frame as the simulator received it.
struct JournalEntry {
  std::vector<uint8_t> raw;  // the whole frame, 0x01 .. 0x03 (or what arrived of it)
  uint8_t seq = 0;           // SEQ byte as sent (0x20..0x7E)
  uint8_t cmd = 0;           // command code
  std::string data;          // data text as it came on the line (register code page)
  std::string hostData;      // data text translated back to CP1251 as the model read it
  bool checksumOk = false;
};

// Faults the simulator can inject into its next answers.
enum class Fault {
  None,
  Silence,        // no answer at all
  Nak,            // answer 0x15 instead of a frame
  BadChecksum,    // the frame with a wrong checksum
  NoiseBefore,    // noise bytes (outside a frame) before the frame
  SplitFrame,     // the frame in pieces with pauses between them
  ForeignSeq,     // a frame with another SEQ first, then the right one
  ForeignCmd,     // a frame with another CMD first, then the right one
  TooManyFields,  // an answer text with more than 20 fields
  LongText,       // an answer text longer than 128 characters
  Refuse,         // the command is not carried out: "command not allowed" in the status
};

struct FaultSpec {
  Fault fault = Fault::None;
  int count = 1;           // how many answers it applies to; < 0: until cleared
  int pauseMs = 200;       // SplitFrame: pause between pieces; NoiseBefore: gap between noise bytes
  int noiseMs = 0;         // NoiseBefore: for how long noise is sent before the frame
  uint8_t noiseByte = 0x16;
  int onlyCommand = -1;    // >= 0: only answers to this command code get the fault
  int skip = 0;            // answers that would get it, passed over first
};

struct Options {
  int baud = 19200;     // pacing of the bytes sent (10 bits a byte); 0 = no pacing
  int workTimeMs = 0;   // simulated work per command before the answer
  int synEveryMs = 50;  // SYN (0x16) interval while busy
  int reportTimeMs = 0;  // extra work for reports and other printouts
  // How many of the latest frames the journal keeps (at least 1); older ones
  // are dropped but still counted by journalCount().
  size_t journalLimit = 4096;
};

class Simulator {
 public:
  explicit Simulator(Options options = {});
  ~Simulator();  // stops and removes any link it made
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Opens a pty and starts the serving thread. false with *error set on failure.
  bool start(std::string* error = nullptr);
  void stop();
  bool running() const;

  // The pty's slave device (/dev/pts/N) the tool opens.
  std::string slavePath() const;
  // Registers the pty as COMn in the virtual port folder (a symlink), or at an
  // arbitrary path. Removed again by stop() and the destructor.
  bool registerCom(int n, std::string* error = nullptr);
  bool linkAt(const std::string& path, std::string* error = nullptr);
  std::string linkPath() const;

  void setOptions(const Options& options);
  Options options() const;

  // Replaces the faults waiting by this one.
  void injectFault(const FaultSpec& spec);
  // Adds a fault beside those waiting: each answer gets the first waiting
  // fault that applies to it (in the order added); a fault's skip counts
  // only the answers it applies to.
  void addFault(const FaultSpec& spec);
  void clearFaults();
  // How many answers the waiting faults of this kind still apply to (-1: one
  // of them applies until cleared).
  int faultsWaiting(Fault fault) const;

  // The journal: the last Options::journalLimit host frames received, oldest
  // first. A test that reads it clears it first.
  std::vector<JournalEntry> journal() const;
  // Empties the journal and sets journalCount() back to 0.
  void clearJournal();
  // Frames received since the start or the last clearJournal(), including
  // those the journal no longer holds.
  size_t journalCount() const;
  // Waits until journalCount() is at least n (true) or the time ran out.
  bool waitForFrames(size_t n, int timeoutMs) const;

  // Runs f with the register model locked; the serving thread waits meanwhile.
  void withModel(const std::function<void(RegisterModel&)>& f);

  // Receives one line per frame received and sent (for --verbose); called on
  // the serving thread. Set before start().
  void setLogger(std::function<void(const std::string&)> log);
  // The virtual port folder: $XDG_RUNTIME_DIR/km4410r, or /tmp/km4410r-<uid>.
  static std::string portFolder();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace km4410r::sim
