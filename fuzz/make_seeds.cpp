// Writes the small seed corpus of every fuzz target: LTC made by the encoder (forward, backward, at
// several rates, with a NaN and with silence), MTC made by the message builders, typed labels, and the
// JSON the encoders write for default and preset values. Run once by hand after a change of a session
// layout: make_seeds <corpus directory>. The seeds are committed.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "app/display_style.h"
#include "app/settings.h"
#include "core/timecode.h"
#include "fuzz/ltc_session.h"
#include "ltc/ltc_encoder.h"
#include "midi/artnet_timecode.h"
#include "midi/mtc.h"

using namespace quillmark;
using namespace quillmark::fuzz;

namespace {

namespace fs = std::filesystem;

void write(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write(const fs::path& path, const std::string& text) {
  write(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

template <class T>
void put(std::vector<std::uint8_t>& out, T value) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
  out.insert(out.end(), p, p + sizeof(T));
}

std::vector<float> encode(double sampleRate, FrameRate rate, const Timecode& from, int frames) {
  LTCEncoder encoder(sampleRate);
  encoder.setRate(rate);
  const double samplesPerFrame = sampleRate / realFramesPerSecond(rate);
  std::vector<float> samples(static_cast<std::size_t>(std::ceil(samplesPerFrame * frames)));
  encoder.render(samples.data(), static_cast<std::int64_t>(samples.size()), from.frameNumber(rate),
                 1.0 / samplesPerFrame);
  return samples;
}

std::vector<std::uint8_t> ltcSession(double sampleRate, const std::vector<float>& samples,
                                     std::uint16_t bufferLength) {
  std::vector<std::uint8_t> out;
  const auto rateIndex =
      std::find(kSampleRates.begin(), kSampleRates.end(), sampleRate) - kSampleRates.begin();
  put<std::uint8_t>(out, static_cast<std::uint8_t>(rateIndex));
  put<std::uint32_t>(out, 12345);
  for (std::size_t at = 0; at < samples.size(); at += bufferLength) {
    const std::size_t n = std::min<std::size_t>(bufferLength, samples.size() - at);
    put<std::uint16_t>(out, static_cast<std::uint16_t>(n));
    for (std::size_t i = 0; i < n; ++i) put<float>(out, samples[at + i]);
  }
  return out;
}

void ltcSeeds(const fs::path& dir) {
  write(dir / "forward_25_16k", ltcSession(16000, encode(16000, FrameRate::fps25, {10, 0, 0, 0}, 4), 256));
  write(dir / "drop_frame_minute_22k",
        ltcSession(22050, encode(22050, FrameRate::fps29_97DF, {0, 0, 59, 28}, 4), 100));
  std::vector<float> backward = encode(16000, FrameRate::fps24, {1, 2, 3, 4}, 5);
  std::reverse(backward.begin(), backward.end());
  write(dir / "reverse_24_16k", ltcSession(16000, backward, 1000));
  std::vector<float> broken = encode(16000, FrameRate::fps30, {23, 59, 59, 26}, 8);
  broken[700] = std::numeric_limits<float>::quiet_NaN();
  broken[1300] = std::numeric_limits<float>::infinity();
  write(dir / "non_finite_30_16k", ltcSession(16000, broken, 333));
  std::vector<float> gap = encode(16000, FrameRate::fps23_976, {0, 0, 0, 0}, 4);
  std::fill(gap.begin() + 500, gap.begin() + 900, 0.0f);
  write(dir / "silence_gap_23976_16k", ltcSession(16000, gap, 64));
}

std::vector<std::uint8_t> mtcSession(const std::vector<std::vector<std::uint8_t>>& packets) {
  std::vector<std::uint8_t> out;
  for (const auto& packet : packets) {
    put<std::uint8_t>(out, static_cast<std::uint8_t>(packet.size()));
    put<std::uint8_t>(out, 10);
    out.insert(out.end(), packet.begin(), packet.end());
  }
  return out;
}

std::vector<std::vector<std::uint8_t>> quarterFrames(std::int64_t first, int count, FrameRate rate,
                                                     int step) {
  std::vector<std::vector<std::uint8_t>> packets;
  for (int i = 0; i < count; ++i) {
    const auto message = MTC::quarterFrame(first + i * step, rate);
    packets.emplace_back(message.begin(), message.end());
  }
  return packets;
}

void mtcSeeds(const fs::path& dir) {
  const Timecode beforeMidnight{23, 59, 59, 20};
  const auto full = MTC::fullFrame(beforeMidnight, FrameRate::fps25);
  auto forward = quarterFrames(beforeMidnight.frameNumber(FrameRate::fps25) * 4, 24, FrameRate::fps25, 1);
  forward.insert(forward.begin(), std::vector<std::uint8_t>(full.begin(), full.end()));
  write(dir / "full_then_quarters_25", mtcSession(forward));
  write(dir / "reverse_df", mtcSession(quarterFrames(17982 * 4 + 7, 17, FrameRate::fps29_97DF, -1)));
  write(dir / "interleaved_clock", mtcSession({{0xF1, 0xF8, 0x00},
                                               {0xF1, 0x10, 0xF1},
                                               {0x20, 0xF1, 0x30, 0xF1, 0x40},
                                               {0xF1, 0x50, 0xF1, 0x60, 0xF1, 0x76},
                                               {0xF0, 0x7F, 0x7F, 0x01},
                                               {0x01, 0x61, 0x02, 0x03, 0x04, 0xF7}}));
  std::vector<std::uint8_t> longSysEx = {0xF0};
  for (int i = 0; i < 20; ++i) longSysEx.push_back(0x7F);
  longSysEx.push_back(0xF7);
  write(dir / "long_sysex_then_quarters", mtcSession({longSysEx, {0x90, 0x40, 0x7F, 0xF1, 0x00}}));
}

void timecodeSeeds(const fs::path& dir) {
  const char* texts[] = {"01:02:03:04",
                         "00:00:59;29",
                         "23:59:59:29",
                         "1234",
                         "1h 2m",
                         "-1:00:00:00",
                         "99999999999999999999:0:0:0",
                         ":1.2,3;4:"};
  int i = 0;
  for (const char* text : texts) write(dir / ("label_" + std::to_string(i++)), std::string(text));
}

void jsonSeeds(const fs::path& settingsDir, const fs::path& displayDir) {
  write(settingsDir / "default", *Settings{}.toJSON());
  Settings full;
  full.source = SourceKind::mtc;
  full.inputRate = FrameRate::fps29_97DF;
  full.ltcInputUID = "system:capture_1";
  full.ltcOutUID = "system:playback_1";
  full.mtcLeadMilliseconds = -12.5;
  full.offsetFrames = -3;
  full.artnetOutEnabled = true;
  full.artnetOutAddress = "2.255.255.255";
  full.artnetLeadMilliseconds = 4;
  full.artnetInAddress = "10.0.0.2";
  write(settingsDir / "all_fields", *full.toJSON());
  full.source = SourceKind::artnet;
  write(settingsDir / "artnet_source", *full.toJSON());
  int i = 0;
  for (const auto& preset : DisplayStyle::presets())
    write(displayDir / ("preset_" + std::to_string(i++)), *preset.style.toJSON());
}

// Datagrams as the Art-Net input receives them: a packet at every rate, a longer packet of a later
// revision, a packet of another kind and a short one.
void artnetSeeds(const fs::path& dir) {
  std::vector<std::uint8_t> session;
  const auto add = [&](std::vector<std::uint8_t> datagram) {
    session.push_back(static_cast<std::uint8_t>(datagram.size() & 0xFF));
    session.push_back(static_cast<std::uint8_t>(datagram.size() >> 8));
    session.insert(session.end(), datagram.begin(), datagram.end());
  };
  for (const FrameRate rate : kAllFrameRates) {
    const auto packet = ArtNet::timeCode({23, 59, 59, 20}, rate);
    add({packet.begin(), packet.end()});
  }
  const auto packet = ArtNet::timeCode({1, 2, 3, 4}, FrameRate::fps25);
  std::vector<std::uint8_t> longer(packet.begin(), packet.end());
  longer.resize(40, 0);
  add(longer);
  std::vector<std::uint8_t> dmx(packet.begin(), packet.end());
  dmx[9] = 0x50;
  add(dmx);
  add({packet.begin(), packet.begin() + 12});
  write(dir / "every_rate_and_strays", session);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <corpus directory>\n");
    return 2;
  }
  const fs::path root = argv[1];
  ltcSeeds(root / "ltc_decoder_fuzz");
  mtcSeeds(root / "mtc_decoder_fuzz");
  artnetSeeds(root / "artnet_timecode_fuzz");
  timecodeSeeds(root / "timecode_parse_fuzz");
  jsonSeeds(root / "settings_json_fuzz", root / "display_style_json_fuzz");
  return 0;
}
