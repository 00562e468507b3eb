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

#include "driver/port.h"
#include "driver/socket.h"

namespace km_driver::net {
namespace {

using port::MonotonicMs;
using port::Port;

// Telnet (RFC 854, 855) and COM Port Control (RFC 2217).
constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr uint8_t kOptBinary = 0, kOptSuppressGoAhead = 3, kOptComPort = 44;
constexpr uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4;
constexpr uint8_t kServerOffset = 100;  // a server's answer to command n is n + 100
constexpr uint8_t kParityNone = 1, kStopBitsOne = 1;

constexpr int kSpeedAckWaitMs = 1000;
constexpr int kReplyWaitMs = 200;

// Where the Telnet decoder is within a command.
enum TelnetState : uint8_t { kData, kAfterIac, kAfterVerb, kInSub, kInSubAfterIac };

// The state of one open network port.
struct Connection {
  sock::Socket socket = sock::kNoSocket;
  bool telnet = false;
  PortError broken = PortError::kNone;  // what ended the connection, kNone while it lasts
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
};

Connection& Of(Port& p) { return p.BackendState<Connection>(); }

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

// Sends all bytes by the deadline: kNone, what ended the connection, or
// kLineStalled when the time ran out.
PortError SendAll(Connection& c, const uint8_t* data, int length, int64_t deadline) {
  if (c.broken != PortError::kNone) return c.broken;
  if (c.socket == sock::kNoSocket) return PortError::kNone;  // the tests' receive side: sent into nothing
  int done = 0;
  while (done < length) {
    const int64_t left = deadline - MonotonicMs();
    const int n = sock::Send(c.socket, data + done, length - done, static_cast<int>(left > 0 ? left : 0), &c.broken);
    if (n < 0) return c.broken;
    if (n == 0 && left <= 0) return PortError::kLineStalled;
    done += n;
  }
  return PortError::kNone;
}

PortError SendAll(Connection& c, const uint8_t* data, int length) {
  return SendAll(c, data, length, MonotonicMs() + kReplyWaitMs);
}

// An answer to the server's negotiation is sent only when the socket takes it
// at once: a server that floods requests and never reads must not hold a read
// (a well-behaved one never fills the socket's buffer).
void SendOption(Connection& c, uint8_t verb, uint8_t option) {
  const uint8_t command[3] = {kIac, verb, option};
  SendAll(c, command, 3, MonotonicMs());
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

// Takes one byte received: a data byte goes to out[*n], Telnet's commands
// are carried out.
void Decode(Connection& c, uint8_t b, uint8_t* out, int* n) {
  switch (c.state) {
    case kData:
      if (b == kIac)
        c.state = kAfterIac;
      else
        out[(*n)++] = b;
      break;
    case kAfterIac:
      if (b == kIac) {
        out[(*n)++] = b;  // a doubled 0xFF is one data byte
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
}

// Decodes `got` bytes received: the data bytes now in `out` (never more than
// `got`), or -1 when the connection ended meanwhile (an answer could not be
// sent).
int DecodeAll(Connection& c, const uint8_t* raw, int got, uint8_t* out) {
  int n = 0;
  for (int i = 0; i < got && c.broken == PortError::kNone; ++i) Decode(c, raw[i], out, &n);
  return c.broken == PortError::kNone ? n : -1;
}

// Takes what the socket has (waiting at most waitMs, at most `size` bytes)
// and decodes it: the data bytes now in `out`, or -1 when the connection
// ended (c.broken tells why).
int Fill(Connection& c, uint8_t* out, int size, int waitMs) {
  if (c.broken != PortError::kNone) return -1;
  // Room for the worst case: every byte received a data byte.
  uint8_t raw[1024];
  const int got = sock::Receive(c.socket, raw, size < 1024 ? size : 1024, waitMs, &c.broken);
  if (got < 0) return -1;
  if (!c.telnet) {
    for (int i = 0; i < got; ++i) out[i] = raw[i];
    return got;
  }
  return DecodeAll(c, raw, got, out);
}

// Decodes what comes, its data dropped, until `done` holds or the deadline
// passes; false when the connection ended.
template <typename Done>
bool AwaitServer(Connection& c, int64_t deadline, Done done) {
  uint8_t dropped[1024];
  while (!done()) {
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) return true;
    if (Fill(c, dropped, sizeof dropped, static_cast<int>(left > 50 ? 50 : left)) < 0) return false;
  }
  return true;
}

// A COM port control command with a value of `size` bytes, most
// significant first, the value's 0xFF bytes doubled.
PortError SendComCommand(Connection& c, uint8_t command, uint32_t value, int size) {
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
  return SendAll(c, buffer, n);
}

// Telnet's start: our offers, the server's consent to COM port control, the
// line settings, and the speed's acknowledgement.
PortError StartTelnet(Connection& c, int baud, int64_t deadline) {
  c.telnet = true;
  c.myOption[kOptBinary] = c.myOption[kOptComPort] = true;
  c.hisOption[kOptBinary] = true;
  const uint8_t offers[] = {kIac, kWill, kOptBinary, kIac, kDo, kOptBinary, kIac, kWill, kOptComPort};
  PortError error = SendAll(c, offers, sizeof offers);
  if (error != PortError::kNone) return error;
  if (!AwaitServer(c, deadline, [&] { return c.comPortAgreed || c.comPortRefused; })) return c.broken;
  if (!c.comPortAgreed || c.comPortRefused) return PortError::kNoComControl;
  const struct {
    uint8_t command;
    uint32_t value;
    int size;
  } settings[] = {{kSetBaudRate, static_cast<uint32_t>(baud), 4},
                  {kSetDataSize, 8, 1},
                  {kSetParity, kParityNone, 1},
                  {kSetStopSize, kStopBitsOne, 1}};
  for (const auto& setting : settings) {
    error = SendComCommand(c, setting.command, setting.value, setting.size);
    if (error != PortError::kNone) return error;
  }
  int64_t ackDeadline = MonotonicMs() + kSpeedAckWaitMs;
  if (ackDeadline > deadline) ackDeadline = deadline;
  if (!AwaitServer(c, ackDeadline, [&] { return c.speedAcknowledged; })) return c.broken;
  return PortError::kNone;
}

PortError OpenNetwork(Port& p, const char* address, int64_t deadline) {
  Address a;
  if (!ParseAddress(address, &a)) return PortError::kName;
  PortError error = PortError::kNone;
  const int64_t left = deadline - MonotonicMs();
  const sock::Socket s = sock::Connect(a.host, a.port, static_cast<int>(left > 0 ? left : 0), &error);
  if (s == sock::kNoSocket) return error;
  Connection& c = p.NewState<Connection>();
  c.socket = s;
  if (a.scheme != kRfc2217) return PortError::kNone;
  error = StartTelnet(c, p.baud, deadline);
  if (error != PortError::kNone) sock::Close(s);
  return error;
}

bool CloseNetwork(Port& p) {
  sock::Close(Of(p).socket);
  return true;
}

void PurgeNetwork(Port& p) {
  // What has come so far, not what keeps coming: a server that never stops
  // sending does not hold the caller here.
  uint8_t dropped[1024];
  for (int i = 0; i < 16 && Fill(Of(p), dropped, sizeof dropped, 0) > 0; ++i) {
  }
}

// Bytes handed to the socket are on their way: the system keeps them until
// the other side has them, and a write's own deadline covers a stall.
int QueuedNetwork(Port&) { return 0; }

PortError WriteNetwork(Port& p, const uint8_t* data, int length, int64_t deadline) {
  Connection& c = Of(p);
  uint8_t buffer[512];
  int n = 0;
  for (int i = 0; i < length; ++i) {
    if (n + 2 > static_cast<int>(sizeof buffer)) {
      const PortError error = SendAll(c, buffer, n, deadline);
      if (error != PortError::kNone) return error;
      n = 0;
    }
    buffer[n++] = data[i];
    if (c.telnet && data[i] == kIac) buffer[n++] = kIac;
  }
  return SendAll(c, buffer, n, deadline);
}

int ReadNetwork(Port& p, uint8_t* buffer, int size, int waitMs, PortError* error) {
  Connection& c = Of(p);
  const int64_t deadline = MonotonicMs() + waitMs;
  for (;;) {
    const int64_t left = deadline - MonotonicMs();
    // Telnet commands alone take from the wait but give no byte: read on.
    const int n = Fill(c, buffer, size, static_cast<int>(left > 0 ? left : 0));
    if (n < 0) *error = c.broken;
    if (n != 0 || left <= 0) return n;
  }
}

}  // namespace

int TelnetReceiveForTests(const uint8_t* data, int size, int piece, uint8_t* out) {
  Connection c;  // no socket: its answers go nowhere
  c.telnet = true;
  c.myOption[kOptBinary] = c.myOption[kOptComPort] = true;
  c.hisOption[kOptBinary] = true;
  if (piece < 1) piece = 1;
  int n = 0;
  for (int at = 0; at < size; at += piece) {
    const int got = DecodeAll(c, data + at, size - at < piece ? size - at : piece, out + n);
    if (got < 0) return -1;
    n += got;
  }
  return n;
}

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

}  // namespace km_driver::net

namespace km_driver::port {
const Backend kNetworkBackend = {net::OpenNetwork, net::CloseNetwork, net::PurgeNetwork,
                                 net::QueuedNetwork, net::WriteNetwork, net::ReadNetwork};
}  // namespace km_driver::port
