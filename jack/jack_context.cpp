#include "jack/jack_context.h"

#include "jack/jack_client.h"

namespace quillmark {

JackContext JackContext::forProfile(const std::optional<std::string>& profile, MainThreadPoster poster) {
  return JackContext{jackClientBase(profile), std::move(poster)};
}

std::string JackContext::clientName(std::string_view role) const {
  if (role.empty()) return clientBase;
  return clientBase + " " + std::string(role);
}

}  // namespace quillmark
