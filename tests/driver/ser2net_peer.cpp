#include "tests/driver/ser2net_peer.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace km_test {
namespace {

constexpr char kSer2net[] = "/usr/sbin/ser2net";

// True once something listens on the loopback port, found without connecting
// to it: ser2net would take a probe for a client and stay busy with it.
bool Listening(int port) {
  std::ifstream tcp("/proc/net/tcp");
  char local[32];
  std::snprintf(local, sizeof local, "0100007F:%04X", port);
  std::string line;
  while (std::getline(tcp, line))
    if (line.find(local) != std::string::npos && line.find(" 0A ") != std::string::npos) return true;
  return false;
}

}  // namespace

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

bool Ser2net::Installed() { return access(kSer2net, X_OK) == 0; }

bool Ser2net::start(const std::string& device) {
  if (rfc2217_ == 0) {  // a start after a stop keeps the ports
    rfc2217_ = FreePort();
    raw_ = FreePort();
  }
  const char* tmp = getenv("TMPDIR");
  config_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/km_ser2net_" + std::to_string(getpid()) + ".yaml";
  std::ofstream(config_) << "connection: &rfc\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << rfc2217_
                         << "\n  connector: serialdev," << device << ",9600n81,local\n"
                         << "connection: &raw\n  accepter: tcp,127.0.0.1," << raw_ << "\n  connector: serialdev,"
                         << device << ",9600n81,local\n";
  pid_ = fork();
  if (pid_ == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    execl(kSer2net, "ser2net", "-n", "-d", "-c", config_.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 100; ++i) {
    if (Listening(rfc2217_) && Listening(raw_)) return true;
    usleep(30 * 1000);
  }
  return false;
}

void Ser2net::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
}

Ser2net::~Ser2net() {
  stop();
  if (!config_.empty()) unlink(config_.c_str());
}

std::string Ser2net::rfc2217() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc2217_); }
std::string Ser2net::raw() const { return "tcp://localhost:" + std::to_string(raw_); }

}  // namespace km_test
