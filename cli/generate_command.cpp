// quillmark-ltc generate: renders LTC to an audio file with the same encoder the LTC output uses.

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/sound_file.h"
#include "core/timecode.h"
#include "ltc/ltc_encoder.h"

namespace quillmark::cli {

const char* const kGenerateHelp =
    "Usage: quillmark-ltc generate --rate RATE --start LABEL (--seconds S | --frames N)\n"
    "                              [--sample-rate SR] [--level DBFS] [--user-bits HEX] [--speed X] OUT\n"
    "\n"
    "Renders LTC to an audio file; the file type follows OUT's extension (.wav, .aiff, .flac, ...).\n"
    "\n"
    "Options:\n"
    "  --rate RATE         23.976, 24, 25, 29.97 DF, 29.97 ND or 30 (quote the ones with a space)\n"
    "  --start LABEL       first label, HH:MM:SS:FF, valid at RATE\n"
    "  --seconds S         length of the file in seconds (up to 86400)\n"
    "  --frames N          length of the file in frames of code (up to one day of frames)\n"
    "  --sample-rate SR    samples per second, 8000 to 384000 (default 48000)\n"
    "  --level DBFS        peak level, -96 to 0 dBFS (default -6)\n"
    "  --user-bits HEX     user bits in every frame, up to 8 hexadecimal digits (default 0)\n"
    "  --speed X           play speed, 0.1 to 10 (default 1.0; 0.5 renders the same code at half speed)\n"
    "  --help              show this help\n";

namespace {

constexpr std::int64_t kChunk = 8192;

volatile std::sig_atomic_t gInterrupted = 0;
extern "C" void onInterrupt(int) {
  gInterrupted = 1;
}

int fail(const std::string& message, int status) {
  std::fprintf(stderr, "quillmark-ltc: %s\n", message.c_str());
  return status;
}

struct Request {
  FrameRate rate = FrameRate::fps25;
  Timecode start;
  std::int64_t samples = 0;
  int sampleRate = 48000;
  float amplitude = 0.5f;
  std::uint32_t userBits = 0;
  double speed = 1.0;
  std::string out;
};

// Reads and checks every option; on failure `error` holds the message.
std::optional<Request> readRequest(const Options& options, std::string& error) {
  Request r;
  // An optional number within [low, high]; `range` says so in the message.
  const auto number = [&](const char* name, double low, double high, double fallback,
                          const char* range) -> std::optional<double> {
    const auto text = options.value(name);
    if (!text) return fallback;
    const auto v = parseFinite(*text);
    if (!v || *v < low || *v > high) {
      error = std::string(name) + " must be a number from " + range + ", not '" + *text + "'";
      return std::nullopt;
    }
    return *v;
  };

  const auto rateText = options.value("--rate");
  if (!rateText) return error = "generate needs --rate", std::nullopt;
  const auto rate = frameRateFromRaw(*rateText);
  if (!rate) {
    error = "unknown rate '" + *rateText + "' (use 23.976, 24, 25, 29.97 DF, 29.97 ND or 30)";
    return std::nullopt;
  }
  r.rate = *rate;

  const auto startText = options.value("--start");
  if (!startText) return error = "generate needs --start", std::nullopt;
  const auto start = Timecode::parse(*startText);
  if (!start) return error = "--start '" + *startText + "' is not a timecode (HH:MM:SS:FF)", std::nullopt;
  if (!start->isValid(r.rate)) {
    error = "--start " + start->text(isDropFrame(r.rate)) + " is not a valid label at " + *rateText + " fps";
    return std::nullopt;
  }
  r.start = *start;

  const auto sampleRate = options.value("--sample-rate");
  if (sampleRate) {
    const auto v = parseInteger(*sampleRate);
    if (!v || *v < 8000 || *v > 384000) {
      error = "--sample-rate must be a whole number from 8000 to 384000, not '" + *sampleRate + "'";
      return std::nullopt;
    }
    r.sampleRate = static_cast<int>(*v);
  }
  const auto level = number("--level", -96, 0, -6, "-96 to 0");
  if (!level) return std::nullopt;
  r.amplitude = static_cast<float>(std::pow(10.0, *level / 20.0));
  const auto speed = number("--speed", 0.1, 10, 1.0, "0.1 to 10");
  if (!speed) return std::nullopt;
  r.speed = *speed;
  if (const auto bits = options.value("--user-bits")) {
    const auto v = parseHex32(*bits);
    if (!v) return error = "--user-bits must be 1 to 8 hexadecimal digits, not '" + *bits + "'", std::nullopt;
    r.userBits = *v;
  }

  const bool bySeconds = options.has("--seconds"), byFrames = options.has("--frames");
  if (bySeconds == byFrames) return error = "give exactly one of --seconds and --frames", std::nullopt;
  double seconds = 0;
  if (bySeconds) {
    const auto v = parseFinite(*options.value("--seconds"));
    if (!v || *v <= 0 || *v > 86400) {
      error = "--seconds must be a number above 0 and up to 86400, not '" + *options.value("--seconds") + "'";
      return std::nullopt;
    }
    seconds = *v;
  } else {
    const auto v = parseInteger(*options.value("--frames"));
    if (!v || *v < 1 || *v > framesPerDay(r.rate)) {
      error = "--frames must be a whole number from 1 to " + std::to_string(framesPerDay(r.rate)) +
              ", not '" + *options.value("--frames") + "'";
      return std::nullopt;
    }
    seconds = static_cast<double>(*v) / (realFramesPerSecond(r.rate) * r.speed);
  }
  r.samples = std::llround(seconds * r.sampleRate);
  if (r.samples < 1) return error = "the file would hold no samples", std::nullopt;

  if (options.positional().size() != 1) {
    error =
        options.positional().empty() ? "generate needs an output file OUT" : "generate takes one output file";
    return std::nullopt;
  }
  r.out = options.positional().front();
  return r;
}

// Writes the whole file under a temporary name beside OUT and renames it into place only when complete,
// so that a failure or an interruption never leaves a partial OUT behind (nor replaces an existing one).
int writeFile(const Request& r, int format) {
  std::string temp = r.out + ".partial-XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return fail("cannot write " + r.out + ": " + std::strerror(errno), kExitFailure);
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);  // mkstemp makes 0600; give the file the mode any new file would get

  const auto abandon = [&](const std::string& message) {
    unlink(temp.c_str());
    return fail(message, kExitFailure);
  };

  SF_INFO info{};
  info.channels = 1;
  info.samplerate = r.sampleRate;
  info.format = format;
  SoundFile file(sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE));
  if (!file) {
    const std::string reason = sf_strerror(nullptr);
    close(fd);
    return abandon("cannot write " + r.out + ": " + reason);
  }
  sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);

  LTCEncoder encoder(r.sampleRate);
  encoder.setRate(r.rate);
  encoder.setAmplitude(r.amplitude);
  encoder.setUserBits(r.userBits);
  const double step = realFramesPerSecond(r.rate) * r.speed / r.sampleRate;
  const auto first = static_cast<double>(r.start.frameNumber(r.rate));

  std::vector<float> buffer(kChunk);
  for (std::int64_t done = 0; done < r.samples; done += kChunk) {
    if (gInterrupted) {
      file.close();
      return abandon("interrupted; " + r.out + " was not written");
    }
    const std::int64_t n = std::min(kChunk, r.samples - done);
    // Each chunk starts from its own exact position, so rounding does not accumulate over long files.
    encoder.render(buffer.data(), n, first + static_cast<double>(done) * step, step);
    if (sf_writef_float(file.get(), buffer.data(), n) != n) {
      const std::string reason = sf_strerror(file.get());
      file.close();
      return abandon("cannot write " + r.out + ": " + reason);
    }
  }
  if (file.close() != 0) return abandon("cannot finish " + r.out);
  if (std::rename(temp.c_str(), r.out.c_str()) != 0) {
    return abandon("cannot write " + r.out + ": " + std::strerror(errno));
  }
  return 0;
}

}  // namespace

int generateCommand(const std::vector<std::string_view>& args) {
  const Options options(
      args,
      {"--rate", "--start", "--seconds", "--frames", "--sample-rate", "--level", "--user-bits", "--speed"},
      {"--help"});
  if (!options.ok()) return fail(options.error() + " (see quillmark-ltc generate --help)", kExitUsage);
  if (options.has("--help")) {
    std::fputs(kGenerateHelp, stdout);
    return 0;
  }
  std::string error;
  const auto request = readRequest(options, error);
  if (!request) return fail(error, kExitUsage);
  const auto format = formatForPath(request->out, request->sampleRate);
  if (!format) {
    return fail("cannot tell a file type libsndfile writes at " + std::to_string(request->sampleRate) +
                    " Hz from the name " + request->out + " (try .wav, .aiff or .flac)",
                kExitUsage);
  }

  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return writeFile(*request, *format);
}

}  // namespace quillmark::cli
