#include "tests/faults/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "tests/support/wait_for.h"

extern char** environ;

namespace quillmark::test {

ChildProcess::ChildProcess(std::vector<std::string> command, const std::string& configDir) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  // The environment is built before spawning: nothing but exec runs in the child of a threaded process.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0) env.emplace_back(*e);
  }
  env.push_back("XDG_CONFIG_HOME=" + configDir);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (auto& a : command) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  const int spawned =
      ::posix_spawn(&pid_, command.at(0).c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  out_ = pipeFds[0];
  ::fcntl(out_, F_SETFL, ::fcntl(out_, F_GETFL) | O_NONBLOCK);
  if (spawned != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + command[0] + ": " + std::strerror(spawned));
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    reap(true);
  }
  if (out_ >= 0) ::close(out_);
}

void ChildProcess::drain() {
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(out_, buffer, sizeof buffer);
    if (got <= 0) return;
    output_.append(buffer, static_cast<std::size_t>(got));
  }
}

bool ChildProcess::reap(bool block) {
  if (status_) return true;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  if (done == pid_) status_ = status;
  return status_.has_value();
}

const std::string& ChildProcess::output() {
  drain();
  return output_;
}

std::optional<std::size_t> ChildProcess::waitForText(const std::string& text, double seconds,
                                                     std::size_t from) {
  std::size_t at = std::string::npos;
  waitFor(
      [&] {
        drain();
        at = output_.find(text, from);
        return at != std::string::npos;
      },
      seconds);
  if (at == std::string::npos) return std::nullopt;
  return at + text.size();
}

bool ChildProcess::running() {
  return !reap(false);
}

std::optional<int> ChildProcess::terminate(double seconds) {
  if (!status_) ::kill(pid_, SIGTERM);
  waitFor([&] { return reap(false); }, seconds);
  drain();
  return status_;
}

}  // namespace quillmark::test
