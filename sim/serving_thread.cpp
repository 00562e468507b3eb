#include "sim/serving_thread.h"

#include <fcntl.h>
#include <unistd.h>

namespace km4410r::sim {

bool ServingThread::open() { return pipe_[0] >= 0 || pipe2(pipe_, O_NONBLOCK | O_CLOEXEC) == 0; }

void ServingThread::start(std::function<void()> body) {
  stopping_ = false;
  running_ = true;
  thread_ = std::thread(std::move(body));
}

void ServingThread::stop() {
  stopping_ = true;
  if (thread_.joinable()) {
    wake();
    thread_.join();
  }
  for (int& fd : pipe_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  running_ = false;
}

void ServingThread::wake() {
  if (pipe_[1] >= 0 && ::write(pipe_[1], "x", 1) < 0) { /* full: a wake is waiting already */ }
}

void ServingThread::drain() {
  char buf[16];
  while (pipe_[0] >= 0 && ::read(pipe_[0], buf, sizeof buf) > 0) {
  }
}

}  // namespace km4410r::sim
