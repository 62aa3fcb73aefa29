#include "app/headless.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <string>

#include "app/timecode_store.h"

namespace quillmark {
namespace {

int signalPipe[2] = {-1, -1};

// Only writes a byte: the event loop does the rest (a signal handler may call nothing else of ours).
void onTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

bool installSignalHandlers() {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return false;
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

void printLine(const QDateTime& date, const std::string& text) {
  const QByteArray time = date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8();
  std::fprintf(stdout, "%s  %s\n", time.constData(), text.c_str());
  std::fflush(stdout);
}

// Prints the lines logged since the newest one printed, oldest first.
class LogPrinter {
 public:
  explicit LogPrinter(const TimecodeStore& store) : store_(store) {}

  void printNew() {
    const std::vector<LogEvent>& log = store_.log();
    std::size_t fresh = 0;
    while (fresh < log.size() && log[fresh].id != newest_) ++fresh;
    for (std::size_t i = fresh; i-- > 0;) printLine(log[i].date, log[i].text);
    if (!log.empty()) newest_ = log.front().id;
  }

 private:
  const TimecodeStore& store_;
  QUuid newest_;
};

// Prints an error when it differs from the one printed last (the store signals every assignment).
class ErrorPrinter {
 public:
  explicit ErrorPrinter(std::string what) : what_(std::move(what)) {}

  void print(const std::optional<std::string>& error) {
    if (error == last_) return;
    last_ = error;
    printLine(QDateTime::currentDateTime(), what_ + ": " + (error ? *error : std::string("ok")));
  }

 private:
  std::string what_;
  std::optional<std::string> last_;
};

}  // namespace

int runHeadless(int argc, char** argv, const std::optional<std::string>& profile) {
  QCoreApplication app(argc, argv);
  if (!installSignalHandlers()) {
    std::perror("quillmark: cannot install the signal handlers");
    return 1;
  }

  printLine(QDateTime::currentDateTime(),
            "Quillmark headless" + (profile ? ", profile \"" + *profile + "\"" : std::string()));

  TimecodeStore store(profile);
  LogPrinter logPrinter(store);
  ErrorPrinter inputPrinter("LTC input");
  ErrorPrinter artnetInPrinter("Art-Net in");
  ErrorPrinter outputPrinter("Outputs");
  ErrorPrinter artnetOutPrinter("Art-Net out");
  // The input error belongs to whichever input the source uses; the other sources have none.
  const auto printInputError = [&] {
    if (store.settings().source == SourceKind::artnet) {
      artnetInPrinter.print(store.inputError());
    } else {
      inputPrinter.print(store.inputError());
    }
  };
  const auto printArtNetOutError = [&] {
    if (store.settings().artnetOutEnabled) artnetOutPrinter.print(store.artnetOutError());
  };
  printLine(QDateTime::currentDateTime(), "Source: " + std::string(rawValue(store.settings().source)));
  logPrinter.printNew();
  if (store.settings().source == SourceKind::ltc || store.settings().source == SourceKind::artnet) {
    printInputError();
  }
  outputPrinter.print(store.outputError());
  printArtNetOutError();
  QObject::connect(&store, &TimecodeStore::logChanged, &app, [&] { logPrinter.printNew(); });
  QObject::connect(&store, &TimecodeStore::inputErrorChanged, &app, printInputError);
  QObject::connect(&store, &TimecodeStore::outputErrorChanged, &app,
                   [&] { outputPrinter.print(store.outputError()); });
  QObject::connect(&store, &TimecodeStore::artnetOutErrorChanged, &app, printArtNetOutError);

  QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
    char byte = 0;
    [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
    notifier.setEnabled(false);
    store.shutdown();
    printLine(QDateTime::currentDateTime(), "Outputs stopped, settings saved");
    app.quit();
  });

  return app.exec() == 0 ? 0 : 1;
}

}  // namespace quillmark
