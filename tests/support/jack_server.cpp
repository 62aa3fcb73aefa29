#include "tests/support/jack_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

namespace quillmark::test {
namespace {

constexpr int kSampleRate = 48000;
constexpr int kPeriod = 1024;

// jackd2 keeps at most eight servers in its shared registry and only reclaims the entry of a server
// that died without unregistering when a server of the same name starts again. Unique names per test
// process would leak an entry per crashed test until no server starts anywhere; a small pool of names,
// each held through a lock file while in use, keeps the leak bounded to the pool and self-healing.
constexpr int kNameSlots = 6;

void silent(const char*) {}

// Starts `args` as a child that dies with this process (a crashed or killed test must not leave a server
// holding its name and its registry entry), its output dropped unless QUILLMARK_JACK_VERBOSE asks for it
// (servers talk a lot on start and stop); `env` is added to its environment.
pid_t spawn(std::vector<std::string> args, const std::vector<std::pair<std::string, std::string>>& env = {}) {
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("JackServer: fork failed");
  if (pid > 0) return pid;
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (!std::getenv("QUILLMARK_JACK_VERBOSE")) {
    const int devnull = ::open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
      ::dup2(devnull, STDOUT_FILENO);
      ::dup2(devnull, STDERR_FILENO);
    }
  }
  for (const auto& [key, value] : env) ::setenv(key.c_str(), value.c_str(), 1);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execvp(argv[0], argv.data());
  ::_exit(127);
}

// The private PipeWire's one device: a null node that is sink and source at once, described as "system",
// so that a client of that name offers two channels each way like jackd's dummy back end
// ("system:playback_AUX0", "system:capture_AUX0", ...). PipeWire marks its ports as not physical.
constexpr const char* kPipeWireNodes = R"(context.objects = [
  { factory = adapter
    args = { factory.name = support.null-audio-sink node.name = "null-duplex" node.description = "system"
             media.class = Audio/Duplex audio.position = [ AUX0 AUX1 ] node.driver = true } }
]
)";

// Whether the server's "system" device offers ports in both directions.
bool hasSystemPorts(jack_client_t* client) {
  bool both = true;
  for (unsigned long flags : {JackPortIsOutput, JackPortIsInput}) {
    const char** ports = jack_get_ports(client, "^system:", JACK_DEFAULT_AUDIO_TYPE, flags);
    both = both && ports && ports[0];
    jack_free(ports);
  }
  return both;
}

}  // namespace

std::unique_ptr<JackServer> JackServer::start() {
  std::string lastError = "JackServer: all test server names are in use by other test processes";
  for (int slot = 0; slot < kNameSlots; ++slot) {
    const std::string name = "quillmark-test-" + std::to_string(slot);
    const int fd = ::open(("/tmp/" + name + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      continue;
    }
    std::unique_ptr<JackServer> server(new JackServer(name));
    server->lockFd_ = fd;
    try {
      server->launch();
      return server;
    } catch (const std::runtime_error& e) {
      // A server of this name left running by something outside the pool: take the next name.
      lastError = e.what();
    }
  }
  throw std::runtime_error(lastError);
}

JackServer::~JackServer() {
  stop();
  if (registryEntryLeaked_) {
    // A killed server keeps its entry in jackd's shared registry until a server of the same name starts
    // again; do that once, briefly, so the next test finds the registry as it was.
    try {
      launch();
      stop();
    } catch (const std::runtime_error&) {
    }
  }
  if (lockFd_ >= 0) ::close(lockFd_);
  for (auto it = environmentBefore_.rbegin(); it != environmentBefore_.rend(); ++it) {
    if (it->second) {
      ::setenv(it->first.c_str(), it->second->c_str(), 1);
    } else {
      ::unsetenv(it->first.c_str());
    }
  }
}

void JackServer::setEnvironment(const char* key, const std::string& value) {
  const bool kept = std::any_of(environmentBefore_.begin(), environmentBefore_.end(),
                                [&](const auto& entry) { return entry.first == key; });
  if (!kept) {
    const char* before = std::getenv(key);
    environmentBefore_.emplace_back(key, before ? std::optional<std::string>(before) : std::nullopt);
  }
  ::setenv(key, value.c_str(), 1);
}

bool JackServer::onPipeWire() {
  const char* server = std::getenv("QUILLMARK_TEST_SERVER");
  return server && std::string_view(server) == "pipewire";
}

void JackServer::launchPipeWire() {
  const std::string dir = "/tmp/" + name_ + "-pipewire";
  const std::string run = dir + "/run";
  const std::string conf = dir + "/config/pipewire/pipewire.conf.d";
  for (const std::string& d : {dir, run, dir + "/config", dir + "/config/pipewire", conf})
    ::mkdir(d.c_str(), 0700);
  if (FILE* f = std::fopen((conf + "/quillmark-test.conf").c_str(), "w")) {
    std::fputs(kPipeWireNodes, f);
    std::fprintf(f,
                 "context.properties = { default.clock.rate = %d default.clock.quantum = %d "
                 "default.clock.min-quantum = %d default.clock.max-quantum = %d }\n",
                 kSampleRate, kPeriod, kPeriod, kPeriod);
    std::fclose(f);
  }
  const std::string bus = run + "/bus";
  ::unlink(bus.c_str());
  setEnvironment("XDG_RUNTIME_DIR", run);
  setEnvironment("PIPEWIRE_RUNTIME_DIR", run);
  setEnvironment("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + bus);
  // The tests' own players and recorders keep every cycle while their notification callbacks run, as on
  // jackd: PipeWire's libjack would otherwise skip a cycle of theirs now and then as the graph changes,
  // and a recorder that skips one hears a gap Quillmark did not make (Quillmark's clients see to it
  // themselves, see openJackClient).
  setEnvironment("PIPEWIRE_PROPS", "{ jack.locked-process = false }");
  const std::vector<std::pair<std::string, std::string>> env = {{"XDG_CONFIG_HOME", dir + "/config"}};
  companions_.push_back(spawn({"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + bus}));
  waitFor([&] { return ::access(bus.c_str(), F_OK) == 0; }, 5.0);
  pid_ = spawn({"pipewire"}, env);
  waitFor([&] { return ::access((run + "/pipewire-0").c_str(), F_OK) == 0; }, 5.0);
  companions_.push_back(spawn({"wireplumber"}, env));
}

void JackServer::launch() {
  setEnvironment("JACK_DEFAULT_SERVER", name_);
  setEnvironment("JACK_NO_START_SERVER", "1");
  if (onPipeWire()) {
    launchPipeWire();
  } else {
    pid_ = spawn({"jackd", "-n", name_, "--no-realtime", "-p", "128", "-d", "dummy", "-r",
                  std::to_string(kSampleRate), "-p", std::to_string(kPeriod)});
  }
  waitUntilReachable();
}

void JackServer::waitUntilReachable() {
  jack_set_error_function(silent);
  jack_set_info_function(silent);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("JackServer: jackd exited during start-up (is jackd2 installed?)");
    }
    jack_status_t status{};
    if (jack_client_t* probe =
            jack_client_open("quillmark-probe", JackNoStartServer, &status, name_.c_str())) {
      // jackd's dummy back end owns its "system" ports before any client can connect; PipeWire shows its
      // null node to JACK clients a moment after the server accepts them (once the session manager has
      // set it up). Ready means ready with its device, as the tests expect of either server.
      while (!hasSystemPorts(probe) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      const bool ready = hasSystemPorts(probe);
      jack_client_close(probe);
      if (!ready) break;
      // The probe may have reached another process's server of the same name while ours failed to
      // start; only our own, still running, counts.
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        throw std::runtime_error("JackServer: the name " + name_ + " is served by another jackd");
      }
      registryEntryLeaked_ = false;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  stop();
  throw std::runtime_error("JackServer: no client could connect, or no system ports, within 10 s");
}

void JackServer::waitForExit() {
  for (pid_t pid : companions_) ::kill(pid, SIGKILL);
  for (pid_t pid : companions_) ::waitpid(pid, nullptr, 0);
  companions_.clear();
  if (pid_ <= 0) return;
  if (!waitFor([&] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; }, 5.0)) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

void JackServer::kill() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    registryEntryLeaked_ = !onPipeWire();  // PipeWire keeps no registry of servers
  }
  waitForExit();
}

void JackServer::stop() {
  if (pid_ > 0) ::kill(pid_, SIGTERM);
  waitForExit();
}

void JackServer::restart() {
  stop();
  launch();
}

}  // namespace quillmark::test
