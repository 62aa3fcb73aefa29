#include "audio/jack_client.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace quillmark {
namespace {

std::mutex ownNamesMutex;
std::vector<std::string> ownNames;  // guarded by ownNamesMutex

}  // namespace

std::unique_ptr<JackClient> JackClient::open(const std::string& name) {
  jack_status_t status{};
  jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
  if (!client) return nullptr;
  std::string actual = jack_get_client_name(client);
  {
    std::lock_guard<std::mutex> guard(ownNamesMutex);
    ownNames.push_back(actual);
  }
  return std::unique_ptr<JackClient>(new JackClient(client, std::move(actual)));
}

JackClient::JackClient(jack_client_t* client, std::string name) : client_(client), name_(std::move(name)) {}

JackClient::~JackClient() {
  // jack_client_close deactivates first and waits for the process thread; it also copes with a client
  // whose server has gone away.
  if (!serverGone_.load()) jack_client_close(client_);
  std::lock_guard<std::mutex> guard(ownNamesMutex);
  auto it = std::find(ownNames.begin(), ownNames.end(), name_);
  if (it != ownNames.end()) ownNames.erase(it);
}

bool isOwnJackClient(std::string_view clientName) {
  std::lock_guard<std::mutex> guard(ownNamesMutex);
  return std::find(ownNames.begin(), ownNames.end(), clientName) != ownNames.end();
}

}  // namespace quillmark
