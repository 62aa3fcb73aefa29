// Runs the quillmark-ltc tool as a process on files made in a temporary directory.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/timecode.h"
#include "ltc/ltc_encoder.h"

namespace quillmark::test {
namespace {

namespace fs = std::filesystem;

// One or more decimal digits and nothing else. (The line checks do without std::regex: GCC 12 warns
// falsely inside <regex> when building with the sanitizers, and -Werror turns that into a failed build.)
bool isDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<std::string> outLines() const { return lines(out); }
  std::vector<std::string> errLines() const { return lines(err); }
  static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  }
};

std::string quoted(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class QuillmarkLtc : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quillmark-ltc-test-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  ToolRun run(const std::vector<std::string>& args) const {
    std::string command = quoted(QUILLMARK_LTC_PATH);
    for (const auto& a : args) command += " " + quoted(a);
    command += " >" + quoted(dir_ / "stdout") + " 2>" + quoted(dir_ / "stderr") + " </dev/null";
    const int raw = std::system(command.c_str());
    ToolRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    r.out = slurp(dir_ / "stdout");
    r.err = slurp(dir_ / "stderr");
    fs::remove(dir_ / "stdout");
    fs::remove(dir_ / "stderr");
    return r;
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::size_t fileCount() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }

  fs::path dir_;
};

TEST_F(QuillmarkLtc, DecodesWhatItGeneratedAsFiveFieldLinesOrJson) {
  const std::string wav = path("df.wav");
  const ToolRun generated = run({"generate", "--rate", "29.97 DF", "--start", "00:00:59;20", "--frames", "40",
                                 "--user-bits", "c0ffee", "--level", "-12", wav});
  ASSERT_EQ(generated.status, 0) << generated.err;
  EXPECT_EQ(generated.out, "");

  const ToolRun decoded = run({"decode", wav});
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  const auto lines = decoded.outLines();
  ASSERT_GE(lines.size(), 38u);
  std::int64_t previous = -1;
  for (const auto& line : lines) {
    // "<sample> <label> F 00C0FFEE 29.97 DF", nothing more.
    const auto space = line.find(' ');
    ASSERT_NE(space, std::string::npos) << line;
    const std::string sample = line.substr(0, space);
    const std::string labelText = line.substr(space + 1, 11);
    ASSERT_TRUE(isDigits(sample)) << line;
    ASSERT_EQ(line.substr(space + 12), " F 00C0FFEE 29.97 DF") << line;
    ASSERT_EQ(labelText[8], ';') << line;
    const auto label = Timecode::parse(labelText);
    ASSERT_TRUE(label);
    const std::int64_t n = label->frameNumber(FrameRate::fps29_97DF);
    if (previous >= 0) {
      EXPECT_EQ(n, previous + 1) << line;  // 00:00:59;29 is followed by 00:01:00;02
    }
    previous = n;
    // The start sample is the frame's real position in the file, rounded.
    const double expected =
        static_cast<double>(n - Timecode{0, 0, 59, 20}.frameNumber(FrameRate::fps29_97DF)) * 48000.0 *
        1001.0 / 30000.0;
    EXPECT_NEAR(std::stod(sample), expected, 1.0) << line;
  }
  EXPECT_NE(decoded.err.find("frames decoded: " + std::to_string(lines.size())), std::string::npos);
  EXPECT_NE(decoded.err.find("decoder errors: 0"), std::string::npos);
  EXPECT_NE(decoded.err.find("detected rate: 29.97 DF"), std::string::npos);
  EXPECT_NE(decoded.err.find("file length:"), std::string::npos);

  const ToolRun json = run({"decode", "--json", wav});
  ASSERT_EQ(json.status, 0);
  ASSERT_EQ(json.outLines().size(), lines.size());
  const std::string first = json.outLines().front();
  const std::string head = R"({"sample":)";
  const auto comma = first.find(',');
  ASSERT_EQ(first.rfind(head, 0), 0u) << first;
  ASSERT_NE(comma, std::string::npos) << first;
  EXPECT_TRUE(isDigits(first.substr(head.size(), comma - head.size()))) << first;
  const std::string rest = first.substr(comma);
  const std::string labelHead = R"(,"timecode":"00:00:59;2)";
  ASSERT_EQ(rest.rfind(labelHead, 0), 0u) << first;
  EXPECT_TRUE(isDigits(rest.substr(labelHead.size(), 1))) << first;
  EXPECT_EQ(rest.substr(labelHead.size() + 1),
            R"(","reverse":false,"userBits":"00C0FFEE","rate":"29.97 DF"})")
      << first;
}

TEST_F(QuillmarkLtc, GeneratesAtTheRequestedSpeedRateAndFileType) {
  // Ten frames at 0.8 speed last 0.5 s, and frames are 2400 samples apart.
  ASSERT_EQ(run({"generate", "--rate", "25", "--start", "1:00:00:00", "--frames", "10", "--speed", "0.8",
                 path("slow.aiff")})
                .status,
            0);
  SF_INFO info{};
  SNDFILE* file = sf_open(path("slow.aiff").c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  sf_close(file);
  EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_AIFF);
  EXPECT_EQ(info.frames, 24000);
  const auto lines = run({"decode", path("slow.aiff")}).outLines();
  ASSERT_GE(lines.size(), 7u);
  EXPECT_NEAR(std::stod(lines[1]) - std::stod(lines[0]), 2400, 1);

  ASSERT_EQ(run({"generate", "--rate", "24", "--start", "00:00:00:00", "--seconds", "1.5", "--sample-rate",
                 "96000", path("fast.flac")})
                .status,
            0);
  file = sf_open(path("fast.flac").c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  sf_close(file);
  EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_FLAC);
  EXPECT_EQ(info.samplerate, 96000);
  EXPECT_EQ(info.frames, 144000);
  const ToolRun decoded = run({"decode", path("fast.flac")});
  EXPECT_NE(decoded.err.find("detected rate: 24\n"), std::string::npos) << decoded.err;
}

TEST_F(QuillmarkLtc, ReadsTheChosenChannel) {
  // A stereo file: silence on channel 0, 25 fps code on channel 1.
  std::vector<float> code(48000), stereo(2 * 48000, 0.0f);
  LTCEncoder encoder(48000);
  encoder.render(code.data(), 48000, 250, 25.0 / 48000);
  for (std::size_t i = 0; i < code.size(); ++i) stereo[2 * i + 1] = code[i];
  SF_INFO info{};
  info.channels = 2;
  info.samplerate = 48000;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path("stereo.wav").c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr);
  sf_writef_float(file, stereo.data(), 48000);
  sf_close(file);

  const ToolRun right = run({"decode", path("stereo.wav"), "--channel", "1"});
  EXPECT_EQ(right.status, 0);
  EXPECT_GE(right.outLines().size(), 23u);
  EXPECT_EQ(right.outLines().front().substr(right.outLines().front().find(' ') + 1),
            "00:00:10:01 F 00000000 25");
  const ToolRun left = run({"decode", path("stereo.wav")});
  EXPECT_EQ(left.status, 0);
  EXPECT_EQ(left.out, "");
  EXPECT_NE(left.err.find("detected rate: none"), std::string::npos);
  const ToolRun missing = run({"decode", path("stereo.wav"), "--channel", "2"});
  EXPECT_NE(missing.status, 0);
  EXPECT_EQ(missing.errLines().size(), 1u);
}

TEST_F(QuillmarkLtc, RefusesBadInputWithOneLineAndNoOutputFile) {
  std::ofstream(path("text.wav")) << "not audio";
  {
    SF_INFO info{};
    info.channels = 1;
    info.samplerate = 48000;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    sf_close(sf_open(path("empty.wav").c_str(), SFM_WRITE, &info));
  }
  const std::string out = path("out.wav");
  const std::vector<std::string> ok = {"generate",    "--rate",    "25", "--start",
                                       "10:00:00:00", "--seconds", "1"};
  const auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = ok;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  const std::vector<std::vector<std::string>> cases = {
      {"decode", path("missing.wav")},
      {"decode", path("text.wav")},
      {"decode", path("empty.wav")},
      {"decode", path("text.wav"), "--channel", "-1"},
      {"decode"},
      {"frobnicate"},
      {"generate", "--rate", "29.97", "--start", "10:00:00:00", "--seconds", "1", out},
      {"generate", "--rate", "25", "--start", "10:00:00:25", "--seconds", "1", out},
      {"generate", "--rate", "29.97 DF", "--start", "10:01:00;00", "--seconds", "1", out},
      {"generate", "--rate", "25", "--start", "ten o'clock", "--seconds", "1", out},
      {"generate", "--rate", "25", "--start", "99999999999999999999:0:0:0", "--seconds", "1", out},
      {"generate", "--rate", "25", "--start", "10:00:00:00", out},
      with({"--frames", "10", out}),
      with({"--seconds", "nan", out}),
      with({"--seconds", "inf", out}),
      with({"--seconds", "-1", out}),
      with({"--sample-rate", "1e9", out}),
      with({"--level", "3", out}),
      with({"--speed", "0", out}),
      with({"--user-bits", "123456789", out}),
      with({"--user-bits", "xyz", out}),
      with({"--colour", out}),
      with({path("out.unknown")}),
      with({path("no-such-dir/out.wav")}),
      ok,
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    SCOPED_TRACE(shown);
    const ToolRun r = run(args);
    EXPECT_NE(r.status, 0);
    EXPECT_LT(r.status, 128) << "crashed";
    EXPECT_EQ(r.errLines().size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("quillmark-ltc: ", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(fileCount(), 2u) << "a partial file was left behind";
  }
}

TEST_F(QuillmarkLtc, HelpGoesToStandardOutput) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"decode", "--help"}, {"generate", "--help"}}) {
    const ToolRun r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: quillmark-ltc", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
  }
}

}  // namespace
}  // namespace quillmark::test
