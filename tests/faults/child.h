#pragma once
// The headless executable (or another program) run as a child process, for the tests that drive
// Quillmark from outside; the including test defines QM_QUILLMARK, the executable's path. Threads: the
// test's main thread only.

#include <signal.h>

#include <QProcess>
#include <QRegularExpression>
#include <optional>
#include <string>

#include "tests/support/wait_for.h"

namespace quillmark::test {

// A program run as a child process with its own user settings directory and this process's JACK server,
// its output collected; killed (SIGKILL, at whatever instant it is in) when the object goes.
class Child {
 public:
  Child(const QString& program, const QString& configDir, QStringList arguments = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", configDir);
    // The test server unlocks PipeWire's callbacks for the tests' own clients; Quillmark, as in a user's
    // session, must see to its own.
    env.remove("PIPEWIRE_PROPS");
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    if (program == QM_QUILLMARK) arguments.prepend("--headless");
    process_.start(program, arguments);
  }
  // What it printed so far, and how it ended if it did.
  const std::string& output() {
    output_ += process_.readAll().toStdString();
    if (process_.state() == QProcess::NotRunning && output_.find("[ended") == std::string::npos) {
      output_ +=
          "[ended: " + std::string(process_.exitStatus() == QProcess::CrashExit ? "crashed" : "exited") +
          ", code " + std::to_string(process_.exitCode()) + "]\n";
    }
    return output_;
  }
  // Waits until the output holds `text` at or after byte `from`; its end offset, or none in time.
  std::optional<std::size_t> waitForText(const std::string& text, double seconds, std::size_t from = 0) {
    std::size_t at = std::string::npos;
    waitFor(
        [&] {
          process_.waitForReadyRead(20);
          return (at = output().find(text, from)) != std::string::npos;
        },
        seconds);
    return at == std::string::npos ? std::nullopt : std::optional<std::size_t>(at + text.size());
  }
  // The lines of its output so far that carry no time stamp: the headless application stamps every line
  // it prints, so any such line is someone else's noise (libjack's, a crash report).
  std::string untimedLines() {
    static const QRegularExpression timed(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  \S)");
    std::string untimed;
    for (const QString& line : QString::fromStdString(output()).split('\n', Qt::SkipEmptyParts)) {
      if (!timed.match(line).hasMatch()) untimed += line.toStdString() + "\n";
    }
    return untimed;
  }
  bool running() {
    process_.waitForFinished(0);
    return process_.state() != QProcess::NotRunning;
  }
  // Ends the child as a user would (`signal`: SIGTERM or SIGINT) and checks it left cleanly.
  void expectCleanEnd(int signal = SIGTERM) {
    ::kill(static_cast<pid_t>(process_.processId()), signal);
    ASSERT_TRUE(process_.waitForFinished(15000)) << "did not end on signal " << signal << "\n" << output();
    EXPECT_TRUE(process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0) << output();
    EXPECT_NE(output().find("Outputs stopped, settings saved"), std::string::npos) << output();
  }

 private:
  QProcess process_;
  std::string output_;
};

}  // namespace quillmark::test
