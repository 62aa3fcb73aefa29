#pragma once
// ChildProcess: a program run as a child process ("quillmark --headless", a stand-in source) with its own
// user settings directory (XDG_CONFIG_HOME) and this process's JACK server (JACK_DEFAULT_SERVER is
// inherited). Its standard output
// and standard error are collected so a test can wait for the lines it logs. The child is killed when the
// object goes away (SIGKILL, at whatever instant it is in), so a failing test leaves nothing behind.
// Threads: test thread only.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace quillmark::test {

class ChildProcess {
 public:
  // Starts command[0] with the rest as its arguments; throws std::runtime_error when it cannot be spawned.
  ChildProcess(std::vector<std::string> command, const std::string& configDir);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Everything written so far.
  const std::string& output();
  // Waits (with a deadline) until the output holds `text` at or after byte `from`; its end offset, or
  // none when it did not come in time.
  std::optional<std::size_t> waitForText(const std::string& text, double seconds, std::size_t from = 0);
  // Still running: not exited and not killed by a signal.
  bool running();
  // Sends SIGTERM and waits up to `seconds` for the end; the wait status, or none when it did not end.
  std::optional<int> terminate(double seconds);

 private:
  void drain();
  bool reap(bool block);

  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
  std::optional<int> status_;
};

}  // namespace quillmark::test
