// Ports on the network: "tcp://HOST:PORT" (raw TCP, as Ethernet-serial
// converters in TCP server mode and ser2net offer) and "rfc2217://HOST:PORT"
// (Telnet with COM Port Control: the remote serial port is set to the speed
// and 8N1 here, and 0xFF bytes are escaped both ways). The functions keep
// the serial backend's rules (serial.h); port.cpp sends a handle to the
// backend that owns it.
#pragma once
#include <cstdint>

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

// Handles of network ports start here, above every serial handle.
constexpr int kFirstHandle = 64;

int Open(const char* address, int baud);
bool Close(int handle);
void Purge(int handle);
bool Drain(int handle);
bool Write(int handle, const uint8_t* data, int length);
int ReadByte(int handle, uint8_t* byte);

// How long opening may take in all (lookup, connect and, for RFC 2217, the
// server's consent to COM port control). Tests shorten it; <= 0 restores 5 s.
void SetOpenDeadlineForTests(int ms);

}  // namespace km_driver::net
