// A thread that serves until it is stopped, and a pipe that wakes it: the
// thread polls the pipe's read end beside its own descriptors, and stop() or
// wake() write a byte to it.
#pragma once
#include <atomic>
#include <functional>
#include <thread>

namespace km4410r::sim {

class ServingThread {
 public:
  ServingThread() = default;
  ~ServingThread() { stop(); }
  ServingThread(const ServingThread&) = delete;
  ServingThread& operator=(const ServingThread&) = delete;

  // Makes the wake pipe (non-blocking). false with errno set on failure.
  bool open();
  // Runs body on the thread; stopping() is false until stop().
  void start(std::function<void()> body);
  // Raises stopping(), wakes the thread, joins it and closes the pipe.
  void stop();
  // Makes the thread's next poll of wakeFd() return.
  void wake();
  // Reads what wake() wrote.
  void drain();

  int wakeFd() const { return pipe_[0]; }
  bool stopping() const { return stopping_; }
  bool running() const { return running_; }

 private:
  int pipe_[2] = {-1, -1};
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> running_{false};
};

}  // namespace km4410r::sim
