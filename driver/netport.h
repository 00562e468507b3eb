// Ports on the network: "tcp://HOST:PORT" (raw TCP, as Ethernet-serial
// converters in TCP server mode and ser2net offer) and "rfc2217://HOST:PORT"
// (Telnet with COM Port Control: the remote serial port is set to the speed
// and 8N1 here, and 0xFF bytes are escaped both ways). The port layer
// (port.h) drives them through kNetworkBackend; here are their names.
#pragma once

namespace km_driver::net {

enum Scheme { kNotNetwork = 0, kRawTcp = 1, kRfc2217 = 2 };

struct Address {
  Scheme scheme = kNotNetwork;
  char host[256] = "";  // a name, an IPv4 address, or an IPv6 address without its brackets
  int port = 0;         // 1..65535
};

// True for "tcp://HOST:PORT" or "rfc2217://HOST:PORT" (the scheme in any
// case; an IPv6 host in brackets; PORT decimal 1..65535, nothing after it).
bool ParseAddress(const char* text, Address* out);
// True when the text starts with one of the two schemes, well formed or not.
bool HasNetworkScheme(const char* text);

}  // namespace km_driver::net
