#include "cli/sound_file.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace quillmark::cli {
namespace {

std::string lowerExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  // Common spellings libsndfile's own table does not list.
  if (ext == "aif") return "aiff";
  if (ext == "oga") return "ogg";
  return ext;
}

}  // namespace

int SoundFile::close() {
  if (!handle_) return 0;
  const int result = sf_close(handle_);
  handle_ = nullptr;
  return result;
}

std::optional<int> formatForPath(const std::string& path, int sampleRate) {
  const std::string ext = lowerExtension(path);
  if (ext.empty()) return std::nullopt;

  int majorCount = 0;
  sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &majorCount, sizeof majorCount);
  for (int i = 0; i < majorCount; ++i) {
    SF_FORMAT_INFO info{};
    info.format = i;
    if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) != 0) continue;
    if (!info.extension || ext != info.extension) continue;
    // 24-bit PCM keeps the shaped edges clean; otherwise the best encoding the type accepts.
    const int encodings[] = {SF_FORMAT_PCM_24, SF_FORMAT_PCM_16, SF_FORMAT_FLOAT,
                             SF_FORMAT_VORBIS, SF_FORMAT_OPUS,   SF_FORMAT_MPEG_LAYER_III};
    for (int encoding : encodings) {
      SF_INFO probe{};
      probe.channels = 1;
      probe.samplerate = sampleRate;
      probe.format = info.format | encoding;
      if (sf_format_check(&probe)) return probe.format;
    }
  }
  return std::nullopt;
}

}  // namespace quillmark::cli
