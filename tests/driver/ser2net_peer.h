// ser2net from the system as a register's network server, for the network
// port tests and the exchange benchmark: it serves a device (the simulator's
// pty) on two loopback ports, Telnet with COM port control (the device set to
// 9600 baud to begin with) and raw TCP.
#pragma once
#include <sys/types.h>

#include <string>

namespace km_test {

// A loopback port that nothing listened on a moment ago.
int FreePort();

class Ser2net {
 public:
  static bool Installed();
  ~Ser2net();
  // Starts it and waits (3 s at most) until both ports listen; started again
  // after stop(), on the same ports.
  bool start(const std::string& device);
  void stop();
  std::string rfc2217() const;  // rfc2217://127.0.0.1:PORT
  std::string raw() const;      // tcp://localhost:PORT

 private:
  pid_t pid_ = 0;
  int rfc2217_ = 0, raw_ = 0;
  std::string config_;
};

}  // namespace km_test
