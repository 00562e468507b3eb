// Ports on the network. Raw TCP passes the bytes as they are. RFC 2217 is
// Telnet: the client offers COM port control and binary transmission both
// ways, waits (within the open deadline) for the server's consent, sets the
// remote port to the speed and 8N1, and from then on doubles every 0xFF it
// sends and undoes the doubling, and every Telnet command, in what it
// receives. The server's control answers are taken when they come and never
// waited for, except the consent itself and, briefly, the speed's
// acknowledgement (a server on a pty never acknowledges modem line requests,
// so none are sent).
#include "driver/netport.h"

#include <errno.h>

#include "driver/printer.h"
#include "driver/serial.h"
#include "driver/socket.h"

namespace km_driver::net {
namespace {

// Telnet (RFC 854, 855) and COM Port Control (RFC 2217).
constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr uint8_t kOptBinary = 0, kOptSuppressGoAhead = 3, kOptComPort = 44;
constexpr uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4;
constexpr uint8_t kServerOffset = 100;  // a server's answer to command n is n + 100
constexpr uint8_t kParityNone = 1, kStopBitsOne = 1;

constexpr int kDefaultOpenDeadlineMs = 5000;
int gOpenDeadlineMs = kDefaultOpenDeadlineMs;
constexpr int kSpeedAckWaitMs = 1000;
constexpr int kReadWaitMs = 100;
constexpr int kWriteMarginMs = 1000;
constexpr int kReplyWaitMs = 200;

// Where the Telnet decoder is within a command.
enum TelnetState : uint8_t { kData, kAfterIac, kAfterVerb, kInSub, kInSubAfterIac };

struct Connection {
  sock::Socket socket = sock::kNoSocket;  // kNoSocket: a free slot
  bool telnet = false;
  int baud = 0;
  int broken = 0;  // the errno value that ended the connection, 0 while it lasts
  // The Telnet decoder and the options.
  TelnetState state = kData;
  uint8_t verb = 0;
  uint8_t sub[16];
  int subLength = 0;
  bool myOption[256] = {};   // options we have on (or asked for)
  bool hisOption[256] = {};  // options the server has on (or we asked it for)
  bool comPortAgreed = false;
  bool comPortRefused = false;
  bool speedAcknowledged = false;
  // Data bytes received and not yet handed out.
  uint8_t ahead[1024];
  int aheadPos = 0;
  int aheadLength = 0;
};
constexpr int kMaxConnections = 8;
Connection gConnections[kMaxConnections];

Connection* Lookup(int handle) {
  const int slot = handle - kFirstHandle;
  if (slot < 0 || slot >= kMaxConnections || gConnections[slot].socket == sock::kNoSocket) return nullptr;
  return &gConnections[slot];
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The length of the scheme prefix ("tcp://", "rfc2217://") the text starts
// with, 0 for none.
int SchemeLength(const char* text, Scheme* scheme) {
  static const struct {
    const char* prefix;
    Scheme scheme;
  } kSchemes[] = {{"tcp://", kRawTcp}, {"rfc2217://", kRfc2217}};
  if (!text) return 0;
  for (const auto& s : kSchemes) {
    int i = 0;
    while (s.prefix[i] && Lower(text[i]) == s.prefix[i]) ++i;
    if (!s.prefix[i]) {
      if (scheme) *scheme = s.scheme;
      return i;
    }
  }
  return 0;
}

bool HostChar(char c, bool inBrackets) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
      c == '_')
    return true;
  return inBrackets && (c == ':' || c == '%');
}

// Sends all bytes within waitMs; false when the connection ended or the
// time ran out (errno ETIMEDOUT).
bool SendAll(Connection& c, const uint8_t* data, int length, int waitMs) {
  if (c.broken) {
    errno = c.broken;
    return false;
  }
  const int64_t deadline = serial::MonotonicMs() + waitMs;
  int done = 0;
  while (done < length) {
    const int64_t left = deadline - serial::MonotonicMs();
    const int n = sock::Send(c.socket, data + done, length - done, static_cast<int>(left > 0 ? left : 0));
    if (n < 0) {
      c.broken = errno;
      return false;
    }
    if (n == 0 && left <= 0) {
      errno = ETIMEDOUT;
      return false;
    }
    done += n;
  }
  return true;
}

void SendOption(Connection& c, uint8_t verb, uint8_t option) {
  const uint8_t command[3] = {kIac, verb, option};
  SendAll(c, command, 3, kReplyWaitMs);
}

// A request to turn an option on: agreed to once (a repeat changes nothing
// and is not answered, so that no loop can start), refused when unwanted.
void TurnOn(Connection& c, bool& on, bool wanted, uint8_t agree, uint8_t refuse, uint8_t option) {
  if (!wanted) {
    SendOption(c, refuse, option);
  } else if (!on) {
    on = true;
    SendOption(c, agree, option);
  }
}

// A request to turn an option off: acknowledged when it was on.
void TurnOff(Connection& c, bool& on, uint8_t acknowledge, uint8_t option) {
  if (!on) return;
  on = false;
  SendOption(c, acknowledge, option);
}

// The server asks (DO, DONT) about our side of an option or tells (WILL,
// WONT) about its own. We take binary transmission both ways, suppressed
// go-ahead from the server and COM port control on our side, and refuse the
// rest (the server's echo among them: it would send our frames back).
void HandleOption(Connection& c, uint8_t verb, uint8_t option) {
  switch (verb) {
    case kDo:
      if (option == kOptComPort) c.comPortAgreed = true;
      TurnOn(c, c.myOption[option], option == kOptBinary || option == kOptComPort, kWill, kWont, option);
      break;
    case kDont:
      if (option == kOptComPort) c.comPortRefused = true;
      TurnOff(c, c.myOption[option], kWont, option);
      break;
    case kWill:
      TurnOn(c, c.hisOption[option], option == kOptBinary || option == kOptSuppressGoAhead, kDo, kDont, option);
      break;
    case kWont:
      TurnOff(c, c.hisOption[option], kDont, option);
      break;
    default:
      break;
  }
}

void HandleSub(Connection& c) {
  if (c.subLength < 2 || c.sub[0] != kOptComPort) return;
  c.comPortAgreed = true;  // a server that answers COM port commands has agreed to them
  if (c.sub[1] == kServerOffset + kSetBaudRate) c.speedAcknowledged = true;
}

// Takes what the socket has (waiting at most waitMs), decodes it and keeps
// the data bytes in the read-ahead. The number of data bytes now waiting, or
// -1 (errno set) when the connection ended.
int Fill(Connection& c, int waitMs) {
  if (c.broken) {
    errno = c.broken;
    return -1;
  }
  if (c.aheadPos == c.aheadLength) c.aheadPos = c.aheadLength = 0;
  // Room for the worst case: every byte received a data byte.
  uint8_t raw[sizeof c.ahead];
  const int room = static_cast<int>(sizeof c.ahead) - c.aheadLength;
  if (room <= 0) return c.aheadLength - c.aheadPos;
  const int n = sock::Receive(c.socket, raw, room, waitMs);
  if (n < 0) {
    c.broken = errno;
    return -1;
  }
  for (int i = 0; i < n; ++i) {
    const uint8_t b = raw[i];
    if (!c.telnet) {
      c.ahead[c.aheadLength++] = b;
      continue;
    }
    switch (c.state) {
      case kData:
        if (b == kIac)
          c.state = kAfterIac;
        else
          c.ahead[c.aheadLength++] = b;
        break;
      case kAfterIac:
        if (b == kIac) {
          c.ahead[c.aheadLength++] = b;  // a doubled 0xFF is one data byte
          c.state = kData;
        } else if (b >= kWill && b <= kDont) {
          c.verb = b;
          c.state = kAfterVerb;
        } else if (b == kSb) {
          c.subLength = 0;
          c.state = kInSub;
        } else {
          c.state = kData;  // NOP, go-ahead and the other one-byte commands
        }
        break;
      case kAfterVerb:
        HandleOption(c, c.verb, b);
        c.state = kData;
        break;
      case kInSub:
        if (b == kIac)
          c.state = kInSubAfterIac;
        else if (c.subLength < static_cast<int>(sizeof c.sub))
          c.sub[c.subLength++] = b;
        break;
      case kInSubAfterIac:
        if (b == kIac) {
          if (c.subLength < static_cast<int>(sizeof c.sub)) c.sub[c.subLength++] = b;
          c.state = kInSub;
        } else {
          if (b == kSe) HandleSub(c);
          c.state = kData;
        }
        break;
    }
    if (c.broken) {
      errno = c.broken;
      return -1;
    }
  }
  return c.aheadLength - c.aheadPos;
}

// Decodes what comes until `done` holds or the deadline passes; false when
// the connection ended.
template <typename Done>
bool AwaitServer(Connection& c, int64_t deadline, Done done) {
  while (!done()) {
    const int64_t left = deadline - serial::MonotonicMs();
    if (left <= 0) return true;
    if (Fill(c, static_cast<int>(left > 50 ? 50 : left)) < 0) return false;
  }
  return true;
}

// A COM port control command with a value of `size` bytes, most
// significant first, the value's 0xFF bytes doubled.
bool SendComCommand(Connection& c, uint8_t command, uint32_t value, int size) {
  uint8_t buffer[16];
  int n = 0;
  buffer[n++] = kIac;
  buffer[n++] = kSb;
  buffer[n++] = kOptComPort;
  buffer[n++] = command;
  for (int i = size - 1; i >= 0; --i) {
    const uint8_t b = static_cast<uint8_t>(value >> (8 * i));
    buffer[n++] = b;
    if (b == kIac) buffer[n++] = kIac;
  }
  buffer[n++] = kIac;
  buffer[n++] = kSe;
  return SendAll(c, buffer, n, kReplyWaitMs);
}

// Telnet's start: our offers, the server's consent to COM port control, the
// line settings, and the speed's acknowledgement.
int StartTelnet(Connection& c, int64_t deadline) {
  c.telnet = true;
  c.myOption[kOptBinary] = c.myOption[kOptComPort] = true;
  c.hisOption[kOptBinary] = true;
  const uint8_t offers[] = {kIac, kWill, kOptBinary, kIac, kDo, kOptBinary, kIac, kWill, kOptComPort};
  if (!SendAll(c, offers, sizeof offers, kReplyWaitMs)) return errno;
  if (!AwaitServer(c, deadline, [&] { return c.comPortAgreed || c.comPortRefused; })) return c.broken;
  if (!c.comPortAgreed || c.comPortRefused) return kPortErrorNoComControl;
  if (!SendComCommand(c, kSetBaudRate, static_cast<uint32_t>(c.baud), 4) ||
      !SendComCommand(c, kSetDataSize, 8, 1) || !SendComCommand(c, kSetParity, kParityNone, 1) ||
      !SendComCommand(c, kSetStopSize, kStopBitsOne, 1))
    return errno;
  int64_t ackDeadline = serial::MonotonicMs() + kSpeedAckWaitMs;
  if (ackDeadline > deadline) ackDeadline = deadline;
  if (!AwaitServer(c, ackDeadline, [&] { return c.speedAcknowledged; })) return c.broken;
  return 0;
}

}  // namespace

bool HasNetworkScheme(const char* text) { return SchemeLength(text, nullptr) > 0; }

bool ParseAddress(const char* text, Address* out) {
  Address a;
  const int skip = SchemeLength(text, &a.scheme);
  if (!skip) return false;
  const char* p = text + skip;
  const bool bracketed = *p == '[';
  if (bracketed) ++p;
  int n = 0;
  while (HostChar(p[n], bracketed)) {
    if (n + 1 >= static_cast<int>(sizeof a.host)) return false;
    a.host[n] = p[n];
    ++n;
  }
  a.host[n] = 0;
  if (n == 0) return false;
  p += n;
  if (bracketed && *p++ != ']') return false;
  if (*p++ != ':') return false;
  if (*p < '1' || *p > '9') return false;
  long port = 0;
  while (*p >= '0' && *p <= '9' && port <= 65535) port = port * 10 + (*p++ - '0');
  if (*p || port > 65535) return false;
  a.port = static_cast<int>(port);
  if (out) *out = a;
  return true;
}

void SetOpenDeadlineForTests(int ms) { gOpenDeadlineMs = ms > 0 ? ms : kDefaultOpenDeadlineMs; }

int Open(const char* address, int baud) {
  Address a;
  if (!ParseAddress(address, &a)) {
    errno = kPortErrorName;
    return -1;
  }
  int slot = 0;
  while (slot < kMaxConnections && gConnections[slot].socket != sock::kNoSocket) ++slot;
  if (slot == kMaxConnections) {
    errno = EMFILE;
    return -1;
  }
  const int64_t deadline = serial::MonotonicMs() + gOpenDeadlineMs;
  int error = 0;
  const sock::Socket s = sock::Connect(a.host, a.port, gOpenDeadlineMs, &error);
  if (s == sock::kNoSocket) {
    errno = error;
    return -1;
  }
  Connection& c = gConnections[slot];
  c = Connection{};
  c.socket = s;
  c.baud = baud;
  if (a.scheme == kRfc2217) {
    const int failed = StartTelnet(c, deadline);
    if (failed) {
      sock::Close(s);
      c = Connection{};
      errno = failed;
      return -1;
    }
  }
  c.aheadPos = c.aheadLength = 0;  // nothing received before the settings counts
  return kFirstHandle + slot;
}

bool Close(int handle) {
  Connection* c = Lookup(handle);
  if (!c) {
    errno = EBADF;
    return false;
  }
  sock::Close(c->socket);
  *c = Connection{};
  return true;
}

void Purge(int handle) {
  Connection* c = Lookup(handle);
  if (!c) return;
  c->aheadPos = c->aheadLength = 0;
  // What has come so far, not what keeps coming: a server that never stops
  // sending does not hold the caller here.
  for (int i = 0; i < 16 && Fill(*c, 0) > 0; ++i) c->aheadPos = c->aheadLength = 0;
  c->aheadPos = c->aheadLength = 0;
}

bool Drain(int) {
  // Bytes handed to the socket are on their way: the system keeps them until
  // the other side has them, and a write's own deadline covers a stall.
  return true;
}

bool Write(int handle, const uint8_t* data, int length) {
  Connection* c = Lookup(handle);
  if (!c) {
    errno = EBADF;
    return false;
  }
  uint8_t buffer[512];
  const int64_t bits = static_cast<int64_t>(length > 0 ? length : 0) * 10;
  const int waitMs = static_cast<int>((bits * 1000 + c->baud - 1) / c->baud) + kWriteMarginMs;
  int n = 0;
  for (int i = 0; i < length; ++i) {
    if (n + 2 > static_cast<int>(sizeof buffer)) {
      if (!SendAll(*c, buffer, n, waitMs)) return false;
      n = 0;
    }
    buffer[n++] = data[i];
    if (c->telnet && data[i] == kIac) buffer[n++] = kIac;
  }
  return SendAll(*c, buffer, n, waitMs);
}

int ReadByte(int handle, uint8_t* byte) {
  Connection* c = Lookup(handle);
  if (!c) {
    errno = EBADF;
    return -1;
  }
  const int64_t deadline = serial::MonotonicMs() + kReadWaitMs;
  for (;;) {
    if (c->aheadPos < c->aheadLength) {
      *byte = c->ahead[c->aheadPos++];
      return 1;
    }
    const int64_t left = deadline - serial::MonotonicMs();
    // Telnet commands alone take from the wait but give no byte: read on.
    if (Fill(*c, static_cast<int>(left > 0 ? left : 0)) < 0) return -1;
    if (c->aheadPos == c->aheadLength && left <= 0) return 0;
  }
}

}  // namespace km_driver::net
