// Raw TCP in front of a serial device, as an Ethernet-serial converter offers
// it: the bytes of one TCP client go to the device unchanged and the device's
// bytes back to the client. km4410r-sim --tcp puts one in front of its pty;
// tests do the same in-process.
#pragma once
#include <memory>
#include <string>

namespace km4410r::sim {

class TcpRelay {
 public:
  TcpRelay();
  ~TcpRelay();  // stops
  TcpRelay(const TcpRelay&) = delete;
  TcpRelay& operator=(const TcpRelay&) = delete;

  // Opens device as a raw 8N1 line, listens on bindHost:port (an empty
  // bindHost is 127.0.0.1; port 0: the system picks one) and starts the
  // serving thread. false with *error set on failure, e.g.
  // "tcp port 4001 on 127.0.0.1: address already in use".
  //
  // One client at a time, as the device has one line: a connection that comes
  // while a client is connected is closed at once, and so is one that comes
  // while another program holds the device (flock, as the tool takes it); the
  // relay holds that lock itself while its client is connected. What the
  // device sent while no client was connected is discarded.
  bool start(const std::string& device, const std::string& bindHost, int port, std::string* error = nullptr);
  // Closes the listener and the client's connection and joins the thread.
  void stop();
  bool running() const;

  // The port and address actually bound; address() is the name the tool opens,
  // e.g. "tcp://127.0.0.1:4001" ("tcp://[::1]:4001" for IPv6). 0 and "" when
  // not running.
  int port() const;
  std::string address() const;

  // Closes the current client's connection (if any) and keeps listening.
  // Returns when it is closed: a connection made afterwards is the next client.
  void dropClient();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace km4410r::sim
