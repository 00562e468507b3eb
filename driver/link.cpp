// The serial link: opening the port, one exchange, the receive machine.
#include <stdio.h>
#include <string.h>

#include <chrono>

#include "driver/link_internal.h"
#include "driver/port.h"
#include "driver/trace.h"

namespace km_driver {

LinkState gLink;

namespace {

constexpr int kDefaultEmptyReads = 50;      // 50 reads of 100 ms: 5 s of silence
int gMaxEmptyReads = kDefaultEmptyReads;
int gExchangeLimitMs = 5 * 60 * 1000;       // bytes that keep coming: 5 minutes at most
MessagePoster gPoster = nullptr;

PortError gLastError = PortError::kNone;
char gLastDevice[256] = "";

// The link of the open port: its drops and returns since it was opened
// (whether it is up is the port's own state: GetLinkStatus).
LinkStatus gLinkStatus;
// What the exchange under way did with the link, for its trace.
struct LinkChange {
  bool returned = false;
  bool dropped = false;
  PortError error = PortError::kNone;
};

// The exchange trace: what one exchange received, kept only while an
// observer is set.
ExchangeObserver gObserver = nullptr;
void* gObserverContext = nullptr;
struct TraceBuffer {
  int64_t startMs = 0;  // monotonic time of the send
  uint8_t bytes[kTraceMaxReceived];
  uint32_t atMs[kTraceMaxReceived];
  int kept = 0;
  int total = 0;
};
TraceBuffer gTrace;
bool gTracing = false;  // this exchange is being recorded

int64_t NowMs() { return port::MonotonicMs(); }

void SetDevice(const char* device) {
  snprintf(gLastDevice, sizeof gLastDevice, "%s", device ? device : "");
}

// The receive machine: one handler per state, each for the current byte.
void WaitForStart() {
  gLink.sum = 0;
  if (gLink.current == kSoh) {
    gLink.state = kRxLength;
    gLink.frameEnded = 0;
  }
}

// A header byte at or above `floor` is summed, kept in *out less the floor,
// and leads to `next`; a lower one drops the frame (*out stays).
void TakeHeaderByte(uint8_t floor, uint8_t* out, ReceiveState next) {
  if (gLink.current < floor) {
    gLink.state = kRxStart;
    return;
  }
  *out = static_cast<uint8_t>(gLink.current - floor);
  gLink.sum += gLink.current;
  gLink.state = next;
}

void TakeCommand() {
  gLink.rx.cmd = gLink.current;
  gLink.index = 0;
  gLink.sum += gLink.current;
  gLink.rx.data[0] = 0;
  gLink.state = gLink.dataLength == 0 ? kRxSeparator : kRxData;
}

void TakeData() {
  if (gLink.index < gLink.dataLength) {
    gLink.rx.data[gLink.index] = static_cast<char>(gLink.current);
    gLink.index++;
    gLink.rx.data[gLink.index] = 0;
    gLink.sum += gLink.current;
  }
  if (gLink.index >= gLink.dataLength) gLink.state = kRxSeparator;
}

// The separator and the postamble: the one byte expected starts the part
// that follows (`next`); anything else drops the frame.
bool TakeMark(uint8_t mark, ReceiveState next) {
  if (gLink.current != mark) {
    gLink.state = kRxStart;
    return false;
  }
  gLink.index = 0;
  gLink.sum += gLink.current;
  gLink.state = next;
  return true;
}

void TakeStatus() {
  if (gLink.index < 6) {
    gLink.rx.status[gLink.index] = gLink.current;
    gLink.index++;
    gLink.sum += gLink.current;
  }
  if (gLink.index >= 6) gLink.state = kRxPostamble;
}

void TakeChecksumDigit() {
  if (gLink.index < 4) {
    gLink.receivedChecksum = gLink.receivedChecksum * 16u + (gLink.current - uint32_t{kDigitBase});
    gLink.index++;
  }
  if (gLink.index >= 4) gLink.state = kRxEnd;
}

void TakeEnd() {
  if (gLink.current == kEtx) {
    gLink.ready = 1;
    gLink.frameEnded = 1;
  }
  gLink.state = kRxStart;
}

void RunState() {
  switch (gLink.state) {
    case kRxStart: WaitForStart(); break;
    case kRxLength: TakeHeaderByte(kMinAnswerLen, &gLink.dataLength, kRxSeq); break;
    case kRxSeq: TakeHeaderByte(kHeaderOffset, &gLink.rx.seq, kRxCommand); break;
    case kRxCommand: TakeCommand(); break;
    case kRxData: TakeData(); break;
    case kRxSeparator: TakeMark(kSeparator, kRxStatus); break;
    case kRxStatus: TakeStatus(); break;
    case kRxPostamble:
      if (TakeMark(kPostamble, kRxChecksum)) gLink.receivedChecksum = 0;
      break;
    case kRxChecksum: TakeChecksumDigit(); break;
    case kRxEnd: TakeEnd(); break;
  }
}

// Builds the host frame for the (already translated) data into `frame`;
// returns its length.
int BuildFrame(uint8_t* frame, uint8_t seq, uint8_t cmd, const uint8_t* data, int n) {
  int p = 0;
  frame[p++] = kSoh;
  // LEN counts itself, SEQ, CMD, the data and the postamble.
  frame[p++] = static_cast<uint8_t>(n + 4 + kHeaderOffset);
  frame[p++] = seq;
  frame[p++] = cmd;
  memcpy(frame + p, data, static_cast<size_t>(n));
  p += n;
  frame[p++] = kPostamble;
  uint32_t sum = 0;
  for (int i = 1; i < p; ++i) sum += frame[i];
  for (int shift = 12; shift >= 0; shift -= 4)
    frame[p++] = static_cast<uint8_t>(kDigitBase + ((sum >> shift) & 0x0F));
  frame[p++] = kEtx;
  return p;
}

bool AnswerToThisRequest(uint8_t seq, uint8_t cmd) {
  return gLink.frameEnded && gLink.rx.seq == static_cast<uint8_t>(seq - kHeaderOffset) &&
         gLink.rx.cmd == cmd;
}

}  // namespace

// ---- receive machine ---------------------------------------------------

void FeedByte(uint8_t byte) {
  gLink.emptyReads = 0;
  gLink.current = byte;
  // A start byte always starts a new frame and an end byte always ends the
  // answer, wherever they come; a NAK ends it as a refusal. Every other byte
  // (printable ones, the separator and the postamble too) goes to the
  // handler of the current state.
  if (byte >= kHeaderOffset) {
    RunState();
  } else if (byte == kSoh) {
    gLink.state = kRxStart;
    WaitForStart();
  } else if (byte == kEtx) {
    gLink.state = kRxEnd;
    TakeEnd();
  } else if (byte == kNak) {
    gLink.state = kRxStart;
    gLink.linkErrors |= kLinkNak;
    gLink.ready = 1;
  } else {
    RunState();
  }
}

int ReceiveByte() {
  uint8_t byte = 0;
  int r = port::ReadByte(gLink.handle, &byte, &gLastError);
  if (r != 1) {
    if (r < 0) {
      // A read error (kept in gLastError): start over with the next frame.
      gLink.state = kRxStart;
    }
    return 0;
  }
  if (gTracing) {
    if (gTrace.kept < kTraceMaxReceived) {
      gTrace.bytes[gTrace.kept] = byte;
      const int64_t at = NowMs() - gTrace.startMs;
      gTrace.atMs[gTrace.kept] = at > 0 ? static_cast<uint32_t>(at) : 0;
      gTrace.kept++;
    }
    gTrace.total++;
  }
  FeedByte(byte);
  return 1;
}

void BeginAnswer(int command) {
  gLink.lastCommand = command;
  RetData& rd = DriverRetData();
  rd.Command = command;
  gLink.linkErrors = 0;
  gLink.ready = 0;
  gLink.frameEnded = 0;
  gLink.state = kRxStart;
  gLink.index = 0;
  gLink.dataLength = 0;
  gLink.sum = 0;
  gLink.receivedChecksum = 0;
  memset(gLink.rx.status, 0, sizeof gLink.rx.status);
  gLink.rx.seq = 0xFF;
  gLink.rx.cmd = 0;
  gLink.rx.data[0] = 0;
  rd.FieldCount = 0;
  rd.ErrorFlags = 0;
}

bool AnswerComplete() { return gLink.ready != 0; }

const char* AnswerBuffer(size_t* size) {
  if (size) *size = sizeof gLink.rx.data;
  return gLink.rx.data;
}

int Refuse(SendRefusal reason, int result) {
  gLink.refusal = reason;
  return result;
}

uint8_t SequenceCounter() { return gLink.sequence; }

void SetExchangeLimitForTests(int ms) { gExchangeLimitMs = ms; }

void SetMessagePoster(MessagePoster poster) { gPoster = poster; }

void SetSilenceWaitForTests(int emptyReads) {
  gMaxEmptyReads = emptyReads > 0 ? emptyReads : kDefaultEmptyReads;
}

void ResetDriverForTests() {
  if (gLink.handle >= 0) port::Close(gLink.handle);
  gLink = LinkState{};
  gLinkStatus = LinkStatus{};
  gPoster = nullptr;
  gObserver = nullptr;
  gObserverContext = nullptr;
  gTracing = false;
  gExchangeLimitMs = 5 * 60 * 1000;
  gMaxEmptyReads = kDefaultEmptyReads;
  RetData& rd = DriverRetData();
  rd = RetData{};
}

}  // namespace km_driver

using namespace km_driver;

// ---- port --------------------------------------------------------------

namespace {

// Every open starts by closing the port opened before. The ready flag is set
// even when opening fails (nothing runs on the port then: a command is
// refused as long as no port is open).
void BeginOpen(const char* device) {
  gLink.ready = 1;
  if (gLink.handle >= 0) {
    port::Close(gLink.handle);
    gLink.handle = -1;
  }
  SetDevice(device);
  gLastError = PortError::kNone;
}

int OpenDevice(const char* path, int baud) {
  if (!IsLineSpeed(baud)) {
    gLastError = PortError::kSpeed;
    return -1;
  }
  if (!path || !path[0]) {
    gLastError = PortError::kNoDevice;
    return -1;
  }
  int handle = port::Open(path, baud, &gLastError);
  if (handle < 0) return -1;
  gLinkStatus = LinkStatus{};
  // The receive code stays in memory while the port is open, so that no
  // page fault holds up a byte (where the system offers that).
  port::LockInMemory(reinterpret_cast<const void*>(&ReceiveByte), 8192);
  gLink.handle = handle;
  return handle;
}

}  // namespace

int OpenPortPath(const char* path, int baud) {
  BeginOpen(path);
  return OpenDevice(path, baud);
}

int OpenPort(int port, int baud) {
  char device[256];
  if (ResolveComPort(port, device, sizeof device)) return OpenPortPath(device, baud);
  BeginOpen("");
  if (GetLastPortFolderCheck() < 0) {
    gLastError = FolderPortError(GetLastPortFolderCheck());
    VirtualPortFolder(gLastDevice, sizeof gLastDevice);
  } else {
    gLastError = PortError::kNoDevice;  // no such port
    snprintf(gLastDevice, sizeof gLastDevice, "COM%d", port);
  }
  return -1;
}

int OpenPortByName(const char* name, int baud) {
  int com = 0;
  if (!ParsePortName(name, &com)) {
    BeginOpen(name);
    gLastError = PortError::kName;
    return -1;
  }
  return com > 0 ? OpenPort(com, baud) : OpenPortPath(name, baud);
}

int ClosePort() {
  // Every frame sent has been answered or given up on by now; what is still
  // unsent is discarded rather than waited for.
  if (gLink.handle >= 0) port::Purge(gLink.handle);
  bool ok = port::Close(gLink.handle);
  gLink.handle = -1;
  return ok ? 1 : 0;
}

LinkStatus GetLinkStatus() {
  LinkStatus s = gLinkStatus;
  s.up = gLink.handle >= 0 && !port::IsLost(gLink.handle);
  return s;
}

PortError GetLastPortError() { return gLastError; }
const char* GetLastPortDevice() { return gLastDevice; }

const char* GetLastPortErrorText(PortTextLanguage lang) { return PortErrorText(gLastError, lang); }

void SetNoTranslation(uint8_t flag) { gLink.noTranslation = flag; }

bool SwitchesMeanNoTranslation(const char* switches) {
  if (!switches) return false;
  // The field is copied into a zero-filled buffer of 20 bytes (the register's
  // rule, not the field limit), switches 1, 2, 7 and 8 are masked (also
  // beyond the end of a shorter text) and the rest must read 1011: 6 to 8
  // characters match, 5 or 9 never do.
  char buffer[20] = {};
  const size_t length = strnlen(switches, sizeof buffer);
  if (length >= sizeof buffer) return false;  // does not fit: no match
  memcpy(buffer, switches, length);
  buffer[0] = buffer[1] = buffer[6] = buffer[7] = 'X';
  return strcmp(buffer, "XX1011XX") == 0;
}
uint8_t GetNoTranslation() { return gLink.noTranslation; }
int GetLastRefusal() { return gLink.refusal; }

void SetExchangeObserver(ExchangeObserver observer, void* context) {
  gObserver = observer;
  gObserverContext = context;
}

ExchangeObserver GetExchangeObserver(void** context) {
  if (context) *context = gObserverContext;
  return gObserver;
}

namespace {

int64_t WallClockMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void ReportExchange(int64_t sentAtMs, uint8_t seq, bool written, const uint8_t* frame,
                    int length, const LinkChange& link) {
  ExchangeTrace t{};
  t.sentAtMs = sentAtMs;
  t.durationMs = static_cast<int>(NowMs() - gTrace.startMs);
  t.command = gLink.lastCommand;
  t.seq = seq;
  t.written = written;
  t.frame = frame;
  t.frameLength = length;
  t.received = gTrace.bytes;
  t.receivedAtMs = gTrace.atMs;
  t.receivedLength = gTrace.kept;
  t.receivedTotal = gTrace.total;
  const uint32_t flags = DriverRetData().ErrorFlags;
  t.verdict = (flags & kFlagTimeout)    ? kTraceSilence
              : (flags & kFlagNak)      ? kTraceRefused
              : (flags & kFlagChecksum) ? kTraceChecksum
                                        : kTraceAnswer;
  t.answer = &DriverRetData();
  t.linkReturned = link.returned;
  t.linkDropped = link.dropped;
  t.linkError = link.error;
  gObserver(t, gObserverContext);
}

}  // namespace

// ---- one exchange -------------------------------------------------------

namespace {

// Receives until the answer to this request is complete, or until the first
// empty read after any other completion, or 5 s of silence. An answer that
// keeps coming past the exchange limit ends as no answer; with `nothing`
// (the line stalled, the link down) nothing is waited for.
void ReceiveAnswer(uint8_t seq, uint8_t cmd, bool nothing) {
  const int64_t start = NowMs();
  gLink.emptyReads = nothing ? gMaxEmptyReads : 0;
  while (gLink.emptyReads < gMaxEmptyReads) {
    while (ReceiveByte() == 1) {
      if (AnswerToThisRequest(seq, cmd)) return;
      if (NowMs() - start > gExchangeLimitMs) {
        gLink.ready = 0;  // reported as no answer
        return;
      }
    }
    if (gLink.ready) return;
    gLink.emptyReads++;
  }
}

// Opens a lost port again before an exchange.
LinkChange ReviveLink() {
  LinkChange change;
  if (!port::IsLost(gLink.handle)) return change;
  change.error = port::Reopen(gLink.handle);
  if (change.error == PortError::kNone) {
    change.returned = true;
    gLinkStatus.returns++;
  } else {
    gLastError = change.error;
    gLinkStatus.error = change.error;
  }
  return change;
}

// After an exchange: whether it found the link gone (a link that was
// already down before it, one that could not be opened again, does not go
// again).
LinkChange NoteDrop(LinkChange change) {
  if (change.error != PortError::kNone || !port::IsLost(gLink.handle)) return change;
  change.dropped = true;
  change.error = gLastError;
  gLinkStatus.drops++;
  gLinkStatus.error = gLastError;
  return change;
}

}  // namespace

int SendCommand(WindowHandle window, ResultHandler handler, int param, int command,
                const char* data) {
  if (gLink.handle < 0) return Refuse(kRefusalPortClosed);
  if (!gLink.ready) return Refuse(kRefusalBusy);
  if (!data) data = "";
  size_t n = strnlen(data, kMaxDataText + 1);
  if (n > static_cast<size_t>(kMaxDataText)) return Refuse(kRefusalBadData);  // does not fit a frame
  gLink.refusal = kRefusalNone;

  memcpy(gLink.sentData, data, n + 1);
  RetData& rd = DriverRetData();
  rd.Param = param;
  gLink.sequence = static_cast<uint8_t>(gLink.sequence + 1);
  BeginAnswer(command);
  gLink.ready = 0;
  gLink.window = window;
  if (!window) gLink.handler = handler;

  uint8_t payload[kMaxDataText];
  for (size_t i = 0; i < n; ++i) {
    uint8_t b = static_cast<uint8_t>(data[i]);
    payload[i] = gLink.noTranslation ? b : kHostToRegister[b];
  }
  // SEQ runs 0x20..0x7E: the counter modulo 95 above the header offset.
  const uint8_t seq = static_cast<uint8_t>(gLink.sequence % 95 + kHeaderOffset);
  const uint8_t cmd = static_cast<uint8_t>(command);
  uint8_t frame[200];
  int length = BuildFrame(frame, seq, cmd, payload, static_cast<int>(n));

  const ExchangeObserver observer = gObserver;
  int64_t sentAtMs = 0;
  if (observer) {
    sentAtMs = WallClockMs();
    gTrace.startMs = NowMs();
    gTrace.kept = 0;
    gTrace.total = 0;
  }
  gTracing = observer != nullptr;

  // A line that takes no bytes (output stopped, a hung adapter) ends the
  // exchange like a silent register once the deadline of the drain or of the
  // write has passed. A device that went away fails the write and then
  // every read at once, and that too ends as no answer.
  // A link found gone by an earlier exchange is opened again first; while it
  // cannot be, nothing goes out and every read fails at once.
  const LinkChange link = ReviveLink();
  const bool linkUp = link.error == PortError::kNone;
  PortError failure = link.error;
  bool sent = linkUp && port::Drain(gLink.handle, &failure);
  if (linkUp) port::Purge(gLink.handle);
  if (sent) sent = port::Write(gLink.handle, frame, length, &failure);
  const bool stalled = !sent && failure == PortError::kLineStalled;
  if (!sent) gLastError = failure;

  ReceiveAnswer(seq, cmd, stalled || !linkUp);
  FinishAnswer();
  const LinkChange change = NoteDrop(link);
  gLink.ready = 1;
  gTracing = false;
  if (observer && gObserver) ReportExchange(sentAtMs, seq, sent, frame, length, change);

  if (gLink.handler && reinterpret_cast<uintptr_t>(gLink.handler) > 0xFFFF) {
    gLink.handler(rd);
  } else if (gPoster) {
    gPoster(gLink.window, WM_REGISTER_ANSWER, static_cast<uintptr_t>(command),
            reinterpret_cast<intptr_t>(&rd));
  }
  return 0;
}
