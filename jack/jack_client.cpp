#include "jack/jack_client.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace quillmark {
namespace {

// How many times a server was found gone; a client opened before the latest time belongs to a dead server.
std::atomic<std::uint64_t> serversGone{0};

std::mutex abandonedStatesMutex;
std::vector<std::shared_ptr<void>> abandonedStates;  // guarded by abandonedStatesMutex; see ~JackClient

std::mutex ownNamesMutex;
std::vector<std::string> ownNames;  // guarded by ownNamesMutex

constexpr std::string_view kBase = "Quillmark";
// The longest role (" LTC out", " devices") and the "-NN" JACK may append.
constexpr std::size_t kRoleRoom = 8 + 4;

}  // namespace

std::unique_ptr<JackClient> JackClient::open(const std::string& name) {
  jack_status_t status{};
  jack_client_t* client = openJackClient(name, &status);
  if (!client) return nullptr;
  std::string actual = jack_get_client_name(client);
  {
    std::lock_guard<std::mutex> guard(ownNamesMutex);
    ownNames.push_back(actual);
  }
  return std::unique_ptr<JackClient>(new JackClient(client, std::move(actual)));
}

JackClient::JackClient(jack_client_t* client, std::string name)
    : client_(client), name_(std::move(name)), serverEpoch_(serversGone.load()) {}

void JackClient::noteServerGoneForAllOpen() noexcept {
  serversGone.fetch_add(1);
}

JackClient::~JackClient() {
  // jack_client_close deactivates first and waits for the process thread.
  if (serverGone_->load() || serverEpoch_ != serversGone.load()) {
    waitForCycleToEnd();
    // libjack's threads of an abandoned client live on, and its shutdown notice may still be on its way:
    // what the handlers use stays where they can reach it (a few bytes per server loss).
    std::lock_guard<std::mutex> guard(abandonedStatesMutex);
    for (auto& state : keptForCallbacks_) abandonedStates.push_back(std::move(state));
  } else {
    jack_client_close(client_);
  }
  std::lock_guard<std::mutex> guard(ownNamesMutex);
  auto it = std::find(ownNames.begin(), ownNames.end(), name_);
  if (it != ownNames.end()) ownNames.erase(it);
}

int JackClient::setProcessCallback(JackProcessCallback callback, void* arg) noexcept {
  callback_ = callback;
  callbackArgument_ = arg;
  return jack_set_process_callback(client_, &JackClient::process, this);
}

int JackClient::process(jack_nframes_t frames, void* self) noexcept {
  auto* client = static_cast<JackClient*>(self);
  client->inCycle_.store(true);
  const int result = client->callback_(frames, client->callbackArgument_);
  client->inCycle_.store(false);  // publishes everything the cycle did to waitForCycleToEnd
  return result;
}

void JackClient::waitForCycleToEnd() const noexcept {
  // With the server gone no new cycle begins; one that was running when it went finishes promptly. The
  // deadline is for a process thread that hangs inside the callback: better a late free than a hang.
  for (int waited = 0; inCycle_.load() && waited < 500; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool jackIsPipeWire() {
  static const bool onPipeWire = [] {
    const char* version = jack_get_version_string();
    return version && std::strstr(version, "PipeWire") != nullptr;
  }();
  return onPipeWire;
}

std::optional<std::string> pipeWirePropsWithUnlockedCallbacks(std::string_view current) {
  constexpr std::string_view kKey = "jack.locked-process";
  if (current.find(kKey) != std::string_view::npos) return std::nullopt;
  // PipeWire takes the value as an object, with or without its braces; ours goes first, inside them.
  const auto first = current.find_first_not_of(" \t\n");
  const auto last = current.find_last_not_of(" \t\n");
  std::string_view inner =
      first == std::string_view::npos ? std::string_view() : current.substr(first, last - first + 1);
  if (inner.size() >= 2 && inner.front() == '{' && inner.back() == '}')
    inner = inner.substr(1, inner.size() - 2);
  std::string props = "{ " + std::string(kKey) + " = false ";
  props += inner;
  props += " }";
  return props;
}

jack_client_t* openJackClient(const std::string& name, jack_status_t* status) {
  // Only PipeWire's libjack reads the variable; with jackd's, the environment is left as it was.
  if (jackIsPipeWire()) {
    const char* current = std::getenv("PIPEWIRE_PROPS");
    if (const auto props = pipeWirePropsWithUnlockedCallbacks(current ? current : ""))
      ::setenv("PIPEWIRE_PROPS", props->c_str(), 1);
  }
  return jack_client_open(name.c_str(), JackNoStartServer, status);
}

std::optional<std::uint64_t> jackServerIdentity() {
  if (!jackIsPipeWire()) return 0;
  const char* remote = std::getenv("PIPEWIRE_REMOTE");
  std::string path = remote && *remote ? remote : "pipewire-0";
  if (path.front() != '/') {
    const char* dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
    if (!dir || !*dir) dir = std::getenv("XDG_RUNTIME_DIR");
    if (!dir || !*dir) return 0;  // nowhere to look: trust libjack
    path = std::string(dir) + "/" + path;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  struct stat status {};
  if (path.size() >= sizeof address.sun_path || ::stat(path.c_str(), &status) != 0) return std::nullopt;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  const bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  if (!answers) return std::nullopt;
  // A new daemon's socket may get the inode of the old one's; its time of creation tells them apart.
  return static_cast<std::uint64_t>(status.st_ino) * 1000003u ^
         static_cast<std::uint64_t>(status.st_mtim.tv_sec) * 1000000000u ^
         static_cast<std::uint64_t>(status.st_mtim.tv_nsec);
}

std::string jackClientBase(const std::optional<std::string>& profile) {
  std::string base(kBase);
  if (profile && !profile->empty()) {
    std::string part = *profile;
    std::replace(part.begin(), part.end(), ':', '-');
    const auto limit = static_cast<std::size_t>(std::max(jack_client_name_size() - 1, 32));
    const std::size_t room = limit - std::min(limit, kBase.size() + 1 + kRoleRoom);
    if (part.size() > room) {
      part.resize(room);
      // Never end inside a UTF-8 sequence: drop continuation bytes and the lead byte they follow.
      while (!part.empty() && (static_cast<unsigned char>(part.back()) & 0xC0) == 0x80) part.pop_back();
      if (!part.empty() && (static_cast<unsigned char>(part.back()) & 0x80) != 0) part.pop_back();
    }
    if (!part.empty()) base += "-" + part;
  }
  return base;
}

bool isQuillmarkJackClient(std::string_view clientName) {
  if (clientName.substr(0, kBase.size()) != kBase) return false;
  return clientName.size() == kBase.size() || clientName[kBase.size()] == ' ' ||
         clientName[kBase.size()] == '-';
}

bool isOwnJackClient(std::string_view clientName) {
  std::lock_guard<std::mutex> guard(ownNamesMutex);
  return std::find(ownNames.begin(), ownNames.end(), clientName) != ownNames.end();
}

}  // namespace quillmark
