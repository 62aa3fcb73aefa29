// quillmark-ltc decode: prints every LTC frame found in one channel of an audio file.

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/sound_file.h"
#include "ltc/ltc_decoder.h"
#include "ltc/ltc_rate_detector.h"

namespace quillmark::cli {

const char* const kDecodeHelp =
    "Usage: quillmark-ltc decode FILE [--channel N] [--json]\n"
    "\n"
    "Decodes the LTC in one channel of an audio file (WAV, AIFF, FLAC, or anything libsndfile reads)\n"
    "and prints one line per frame, five fields separated by spaces:\n"
    "  the sample of the file where the frame starts, the label (HH:MM:SS:FF, with ';' before the\n"
    "  frames when the drop-frame flag is set), F or R (read forwards or backwards), the user bits as\n"
    "  8 hexadecimal digits, and the detected frame rate (24, 25, 29.97 DF or 30).\n"
    "A summary goes to standard error at the end.\n"
    "\n"
    "Options:\n"
    "  --channel N   channel to read, counting from 0 (default 0)\n"
    "  --json        print one JSON object per frame and line instead\n"
    "  --help        show this help\n";

namespace {

// Frames further apart than this are a break in the code: rate detection starts over, as in the app.
constexpr double kBreakSeconds = 0.5;
// Samples read per call; large enough that libsndfile's per-call cost disappears.
constexpr sf_count_t kChunkFrames = 1 << 16;

struct Printer {
  bool json = false;
  LTCRateDetector detector;
  double sampleRate = 48000;
  std::optional<double> lastStart;
  std::int64_t frames = 0;
  std::optional<FrameRate> rate;

  void operator()(const LTCDecoder::Frame& found) {
    const double seconds = found.start / sampleRate;
    if (lastStart && seconds - *lastStart > kBreakSeconds) detector.reset();
    lastStart = seconds;
    rate = detector.observe(found.frame, found.length / sampleRate);

    const std::string label = found.frame.timecode.text(found.frame.dropFrame);
    const std::string rateText(rate ? rawValue(*rate) : "-");
    const long long sample = std::llround(found.start);
    if (json) {
      std::printf("{\"sample\":%lld,\"timecode\":\"%s\",\"reverse\":%s,\"userBits\":\"%08" PRIX32
                  "\",\"rate\":\"%s\"}\n",
                  sample, label.c_str(), found.reverse ? "true" : "false", found.frame.userBits,
                  rateText.c_str());
    } else {
      std::printf("%lld %s %c %08" PRIX32 " %s\n", sample, label.c_str(), found.reverse ? 'R' : 'F',
                  found.frame.userBits, rateText.c_str());
    }
    ++frames;
  }
};

// A bar on standard error, redrawn only when the whole percentage changes.
class Progress {
 public:
  explicit Progress(bool enabled) : enabled_(enabled) {}
  void update(sf_count_t done, sf_count_t total) {
    if (!enabled_ || total <= 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == shown_) return;
    shown_ = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################",
                 kWidth - filled, "", percent);
    std::fflush(stderr);
  }
  void finish() {
    if (enabled_ && shown_ >= 0) std::fprintf(stderr, "\r%*s\r", 48, "");
  }

 private:
  bool enabled_;
  int shown_ = -1;
};

int fail(const std::string& message, int status) {
  std::fprintf(stderr, "quillmark-ltc: %s\n", message.c_str());
  return status;
}

}  // namespace

int decodeCommand(const std::vector<std::string_view>& args) {
  const Options options(args, {"--channel"}, {"--json", "--help"});
  if (!options.ok()) return fail(options.error() + " (see quillmark-ltc decode --help)", kExitUsage);
  if (options.has("--help")) {
    std::fputs(kDecodeHelp, stdout);
    return 0;
  }
  if (options.positional().size() != 1) {
    return fail(options.positional().empty() ? "decode needs a FILE (see quillmark-ltc decode --help)"
                                             : "decode takes one FILE",
                kExitUsage);
  }
  const std::string& path = options.positional().front();
  std::int64_t channel = 0;
  if (const auto text = options.value("--channel")) {
    const auto parsed = parseInteger(*text);
    if (!parsed || *parsed < 0)
      return fail("--channel must be a whole number from 0, not '" + *text + "'", kExitUsage);
    channel = *parsed;
  }

  // The system's own reason for a missing or unreadable file reads better than libsndfile's.
  const int probe = open(path.c_str(), O_RDONLY);
  if (probe < 0) return fail("cannot read " + path + ": " + std::strerror(errno), kExitFailure);
  struct stat status {};
  const bool isDirectory = fstat(probe, &status) == 0 && S_ISDIR(status.st_mode);
  close(probe);
  if (isDirectory) return fail("cannot read " + path + ": it is a directory", kExitFailure);
  SF_INFO info{};
  SoundFile file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) return fail("cannot read " + path + ": " + sf_strerror(nullptr), kExitFailure);
  if (info.frames <= 0 || info.channels <= 0 || info.samplerate <= 0) {
    return fail(path + " holds no audio", kExitFailure);
  }
  if (channel >= info.channels) {
    return fail(path + " has " + std::to_string(info.channels) +
                    (info.channels == 1 ? " channel" : " channels") + "; there is no channel " +
                    std::to_string(channel) + " (channels count from 0)",
                kExitUsage);
  }

  Printer printer;
  printer.json = options.has("--json");
  printer.sampleRate = info.samplerate;
  LTCDecoder decoder(info.samplerate);
  Progress progress(info.frames > sf_count_t{60} * info.samplerate && isatty(STDERR_FILENO));

  std::vector<float> interleaved(static_cast<std::size_t>(kChunkFrames * info.channels));
  std::vector<float> mono(static_cast<std::size_t>(kChunkFrames));
  sf_count_t position = 0;
  while (position < info.frames) {
    const sf_count_t got = sf_readf_float(file.get(), interleaved.data(), kChunkFrames);
    if (got <= 0) break;
    for (sf_count_t i = 0; i < got; ++i) mono[i] = interleaved[i * info.channels + channel];
    decoder.process(mono.data(), got, position, printer);
    position += got;
    progress.update(position, info.frames);
  }
  progress.finish();
  std::fflush(stdout);
  if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
    return fail("error reading " + path + ": " + sf_strerror(file.get()), kExitFailure);
  }

  std::fprintf(stderr, "frames decoded: %" PRId64 "\n", printer.frames);
  std::fprintf(stderr, "decoder errors: %" PRId64 "\n", decoder.errors());
  std::fprintf(stderr, "detected rate: %s\n",
               printer.rate ? std::string(rawValue(*printer.rate)).c_str() : "none");
  std::fprintf(stderr, "file length: %.3f s (%lld samples at %d Hz, %d %s)\n",
               static_cast<double>(position) / info.samplerate, static_cast<long long>(position),
               info.samplerate, info.channels, info.channels == 1 ? "channel" : "channels");
  if (position < info.frames) {
    return fail(
        path + " ended after " + std::to_string(position) + " of " + std::to_string(info.frames) + " samples",
        kExitFailure);
  }
  return 0;
}

}  // namespace quillmark::cli
