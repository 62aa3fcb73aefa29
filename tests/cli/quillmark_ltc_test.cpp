// Runs the quillmark-ltc tool as a process on files made in a temporary directory.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/timecode.h"
#include "tests/ltc/ltc_signal.h"

namespace quillmark::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

struct ToolRun {
  int status = -1;
  std::string out, err;
};

class QuillmarkLtc : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_); }
  void TearDown() override { fs::remove_all(dir_); }

  ToolRun run(const std::vector<std::string>& args) const {
    std::string command = "'" QUILLMARK_LTC_PATH "'";
    for (const auto& a : args) command += " '" + a + "'";  // no argument holds a single quote
    const int raw =
        std::system((command + " >" + path("stdout") + " 2>" + path("stderr") + " </dev/null").c_str());
    std::ifstream out(path("stdout")), err(path("stderr"));
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw),
            std::string(std::istreambuf_iterator<char>(out), {}),
            std::string(std::istreambuf_iterator<char>(err), {})};
  }
  ToolRun ok(const std::vector<std::string>& args) const {  // a run that must succeed
    ToolRun r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r;
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  SF_INFO infoOf(const std::string& name) const {
    SF_INFO info{};
    SNDFILE* file = sf_open(path(name).c_str(), SFM_READ, &info);
    EXPECT_NE(file, nullptr) << name;
    sf_close(file);
    return info;
  }

  const fs::path dir_ =
      fs::temp_directory_path() / ("quillmark-ltc-test-" + std::to_string(getpid()) + "-" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_F(QuillmarkLtc, DecodesWhatItGeneratedAsFiveFieldLinesOrJson) {
  ok({"generate", "--rate", "29.97 DF", "--start", "00:00:59;20", "--frames", "40", "--user-bits", "c0ffee",
      "--level", "-12", path("df.wav")});

  const ToolRun decoded = ok({"decode", path("df.wav")});
  const auto text = lines(decoded.out);
  ASSERT_GE(text.size(), 38u);
  const std::int64_t first = Timecode{0, 0, 59, 20}.frameNumber(FrameRate::fps29_97DF);
  for (const auto& line : text) {
    // "<sample> <label> F 00C0FFEE 29.97 DF", nothing more.
    const auto space = line.find(' ');
    ASSERT_TRUE(space != std::string::npos && space > 0 && line.find_first_not_of("0123456789") == space)
        << line;
    ASSERT_EQ(line.substr(space + 12), " F 00C0FFEE 29.97 DF") << line;
    ASSERT_EQ(line[space + 9], ';') << line;
    const std::int64_t n =
        Timecode::parse(line.substr(space + 1, 11)).value().frameNumber(FrameRate::fps29_97DF);
    // The start sample is the frame's real position in the file, rounded: a label out of turn, or the
    // drop-frame skip at 00:01:00;00 missed, shows as a frame a whole frame away from where it should be.
    EXPECT_NEAR(std::stod(line), static_cast<double>(n - first) * 48000.0 * 1001.0 / 30000.0, 1.0) << line;
  }
  EXPECT_NE(decoded.err.find("frames decoded: " + std::to_string(text.size())), std::string::npos)
      << decoded.err;
  EXPECT_NE(decoded.err.find("decoder errors: 0"), std::string::npos);
  EXPECT_NE(decoded.err.find("file length:"), std::string::npos);

  const ToolRun json = ok({"decode", "--json", path("df.wav")});
  ASSERT_EQ(lines(json.out).size(), text.size());
  const std::string& t = text.front();  // the same frame as JSON, its sample and label as checked above
  EXPECT_EQ(lines(json.out).front(), R"({"sample":)" + t.substr(0, t.find(' ')) + R"(,"timecode":")" +
                                         t.substr(t.find(' ') + 1, 11) +
                                         R"(","reverse":false,"userBits":"00C0FFEE","rate":"29.97 DF"})");
}

TEST_F(QuillmarkLtc, GeneratesAtTheRequestedSpeedRateAndFileType) {
  // Ten frames at 0.8 speed last 0.5 s, and frames are 2400 samples apart.
  ok({"generate", "--rate", "25", "--start", "1:00:00:00", "--frames", "10", "--speed", "0.8",
      path("slow.aiff")});
  SF_INFO info = infoOf("slow.aiff");
  EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_AIFF);
  EXPECT_EQ(info.frames, 24000);
  const auto slow = lines(ok({"decode", path("slow.aiff")}).out);
  ASSERT_GE(slow.size(), 7u);
  EXPECT_NEAR(std::stod(slow[1]) - std::stod(slow[0]), 2400, 1);

  ok({"generate", "--rate", "24", "--start", "00:00:00:00", "--seconds", "1.5", "--sample-rate", "96000",
      path("fast.flac")});
  info = infoOf("fast.flac");
  EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_FLAC);
  EXPECT_EQ(info.samplerate, 96000);
  EXPECT_EQ(info.frames, 144000);
  EXPECT_NE(ok({"decode", path("fast.flac")}).err.find("detected rate: 24\n"), std::string::npos);
}

TEST_F(QuillmarkLtc, ReadsTheChosenChannel) {
  // A stereo file: silence on channel 0, 25 fps code on channel 1.
  const std::vector<float> code = renderCode(FrameRate::fps25, 48000, 250, 1.0);
  std::vector<float> stereo(2 * 48000, 0.0f);
  for (std::size_t i = 0; i < code.size(); ++i) stereo[2 * i + 1] = code[i];
  SF_INFO info{0, 48000, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
  SNDFILE* file = sf_open(path("stereo.wav").c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr);
  sf_writef_float(file, stereo.data(), 48000);
  sf_close(file);

  const ToolRun right = ok({"decode", path("stereo.wav"), "--channel", "1"});
  ASSERT_GE(lines(right.out).size(), 23u);
  EXPECT_EQ(lines(right.out).front().substr(right.out.find(' ') + 1), "00:00:10:01 F 00000000 25");
  const ToolRun left = ok({"decode", path("stereo.wav")});
  EXPECT_EQ(left.out, "");
  EXPECT_NE(left.err.find("detected rate: none"), std::string::npos);
  const ToolRun missing = run({"decode", path("stereo.wav"), "--channel", "2"});
  EXPECT_TRUE(missing.status != 0 && lines(missing.err).size() == 1) << missing.err;
}

TEST_F(QuillmarkLtc, RefusesBadInputWithOneLineAndNoOutputFileButHelpsOnStandardOutput) {
  std::ofstream(path("text.wav")) << "not audio";
  SF_INFO mono{0, 48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
  sf_close(sf_open(path("empty.wav").c_str(), SFM_WRITE, &mono));
  const std::string out = path("out.wav");
  const std::vector<std::vector<std::string>> cases = {
      {"decode", path("missing.wav")},
      {"decode", path("text.wav")},
      {"decode", path("empty.wav")},
      {"decode", path("text.wav"), "--channel", "-1"},
      {"decode"},
      {"frobnicate"},
      {"generate", "--rate", "29.97", "--start", "10:00:00:00", "--seconds", "1", out},
      {"generate", "--rate", "25", "--start", "10:00:00:25", "--seconds", "1", out},
      {"generate", "--rate", "25", "--start", "99999999999999999999:0:0:0", "--seconds", "1", out},
      {"generate", "--rate", "25", "--start", "10:00:00:00", out},
      {"generate", "--rate", "25", "--start", "10:00:00:00", "--seconds", "1", "--frames", "10", out},
      {"generate", "--rate", "25", "--start", "10:00:00:00", "--seconds", "nan", out},
      {"generate", "--rate", "25", "--start", "10:00:00:00", "--seconds", "-1", out},
      {"generate", "--rate", "25", "--start", "10:00:00:00", "--seconds", "1", "--sample-rate", "1e9", out},
      {"generate", "--rate", "25", "--start", "10:00:00:00", "--seconds", "1", "--level", "3", out},
      {"generate", "--rate", "25", "--start", "10:00:00:00", "--seconds", "1", "--speed", "0", out},
      {"generate", "--rate", "25", "--start", "10:00:00:00", "--seconds", "1", "--user-bits", "xyz", out},
      {"generate", "--rate", "25", "--start", "10:00:00:00", "--seconds", "1", "--colour", out},
      {"generate", "--rate", "25", "--start", "10:00:00:00", "--seconds", "1", path("out.unknown")},
      {"generate", "--rate", "25", "--start", "10:00:00:00", "--seconds", "1", path("no-such-dir/out.wav")},
      {"generate", "--rate", "25", "--start", "10:00:00:00", "--seconds", "1"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const ToolRun r = run(args);
    EXPECT_TRUE(r.status > 0 && r.status < 128) << "status " << r.status;
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("quillmark-ltc: ", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 4)
        << "a file was left behind";  // besides stdout and stderr
  }
  for (const std::vector<std::string>& help :  // help is no error
       {std::vector<std::string>{"--help"}, {"decode", "--help"}, {"generate", "--help"}}) {
    const ToolRun r = ok(help);
    EXPECT_EQ(r.out.rfind("Usage: quillmark-ltc", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
  }
}

}  // namespace
}  // namespace quillmark::test
