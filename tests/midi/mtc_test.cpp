// MTC messages as the sender builds them, and the decoder that reads them back from any byte stream.
#include "midi/mtc_decoder.h"

#include <gtest/gtest.h>

#include <random>

#include "midi/mtc.h"
#include "tests/support/alloc_counter.h"

namespace quillmark {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Event = MTCDecoder::Event;

Bytes pieces(std::initializer_list<int> order, int frames = 0) {  // quarter frames of 01:00:00:ff at 25
  const int nibble[] = {frames & 0xF, frames >> 4, 0, 0, 0, 0, 1, 2};
  Bytes out;
  for (int p : order) out.insert(out.end(), {0xF1, static_cast<std::uint8_t>(p << 4 | nibble[p])});
  return out;
}
const Bytes kTwoGroups = pieces({0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7});

// Feeds one byte per packet; returns how many bytes had been fed each time an event completed.
std::vector<std::size_t> completionPoints(const Bytes& stream) {
  MTCDecoder decoder;
  std::vector<std::size_t> points;
  for (std::size_t i = 0; i < stream.size(); ++i) {
    if (!decoder.feed(std::span(&stream[i], 1), 0.0).empty()) points.push_back(i + 1);
  }
  return points;
}

TEST(MTC, QuarterFramesOfAGroupCarryTheFrameAtWhichItsPieceZeroIsDue) {
  // Indexes 4 * 2591998 + 0 ... 7 span frames 2591998 and 2591999, yet all carry the first, 23:59:59:28
  // at 30 fps; piece 7 carries code 3 and the top bit of hour 23.
  const std::uint8_t late[] = {0x0C, 0x11, 0x2B, 0x33, 0x4B, 0x53, 0x67, 0x77};
  for (int piece = 0; piece < 8; ++piece) {
    EXPECT_EQ(MTC::quarterFrame(4 * 2591998 + piece, FrameRate::fps30),
              (MTC::QuarterFrameMessage{0xF1, late[piece]}));
  }
  EXPECT_EQ(MTC::quarterFrame(15, FrameRate::fps25), (MTC::QuarterFrameMessage{0xF1, 0x72}));
  EXPECT_EQ(MTC::quarterFrame(8, FrameRate::fps25), (MTC::QuarterFrameMessage{0xF1, 0x02}));
  // Negative indexes fold: -8 ... -1 are the group of frame -2, 23:59:59:23 at 25 fps.
  EXPECT_EQ(MTC::quarterFrame(-8, FrameRate::fps25), (MTC::QuarterFrameMessage{0xF1, 0x07}));
  EXPECT_EQ(MTC::quarterFrame(-1, FrameRate::fps25), (MTC::QuarterFrameMessage{0xF1, 0x73}));
}

TEST(MTC, FullFrameCarriesTheRateCodeInTheHoursByteAndNeverAStatusByteInItsBody) {
  EXPECT_EQ(MTC::fullFrame({23, 59, 59, 29}, FrameRate::fps29_97ND),
            (MTC::FullFrameMessage{0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x77, 0x3B, 0x3B, 0x1D, 0xF7}));
  const std::uint8_t hoursByte[] = {0x01, 0x01, 0x21, 0x41, 0x61, 0x61};
  for (std::size_t i = 0; i < kAllFrameRates.size(); ++i)
    EXPECT_EQ(MTC::fullFrame({1, 0, 0, 0}, kAllFrameRates[i])[5], hoursByte[i]) << i;
  const auto wild = MTC::fullFrame({-1, 200, -5, 1000}, FrameRate::fps30);
  for (std::size_t i = 1; i + 1 < wild.size(); ++i) EXPECT_LT(wild[i], 0x80) << i;
}

// A clock running forward or backward through midnight, one quarter frame per packet instant, each byte
// its own packet with timing clock bytes before the status and between status and data.
TEST(MTCDecoder, DecodesOneSequencePerTwoFramesFollowingTheSendersFramesBothWays) {
  for (FrameRate rate : kAllFrameRates) {
    for (int direction : {1, -1}) {
      const std::int64_t first = 4 * framesPerDay(rate) - 37 * direction;  // starts mid-group
      const auto timeOf = [&](std::int64_t index) { return 100.0 + index / (4 * realFramesPerSecond(rate)); };
      MTCDecoder decoder;
      std::vector<Event> got, want;
      for (std::int64_t step = 0; step < 200; ++step) {
        const std::int64_t index = first + direction * step, base = index - ((index % 8) + 8) % 8;
        const auto qf = MTC::quarterFrame(index, rate);
        for (std::uint8_t byte : {std::uint8_t{0xF8}, qf[0], std::uint8_t{0xF8}, qf[1]}) {
          decoder.feed(std::span(&byte, 1), timeOf(index), [&](const Event& e) { got.push_back(e); });
        }
        // Every group sent whole, except in reverse the one the stream began in: a fresh decoder needs
        // one descending step to learn the direction.
        if (direction > 0 ? index != base + 7 || base < first : index != base || base + 7 >= first) continue;
        std::array<double, 8> times{};
        for (int k = 0; k < 8; ++k) times[k] = timeOf(base + k);
        const FrameRate wire = rate == FrameRate::fps23_976    ? FrameRate::fps24
                               : rate == FrameRate::fps29_97ND ? FrameRate::fps30
                                                               : rate;
        want.push_back(Event::sequence(Timecode::fromFrame(base / 4, rate), wire, times, direction < 0));
      }
      EXPECT_EQ(want.size(), 24u);
      EXPECT_EQ(got, want) << rawValue(rate) << " direction " << direction;
    }
  }
}

TEST(MTCDecoder, RunsNeedEightInOrderPiecesEndingOnTheGroupsLastPiece) {
  EXPECT_EQ(completionPoints(kTwoGroups), (std::vector<std::size_t>{16, 32}));
  EXPECT_EQ(completionPoints(pieces({3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7})),
            (std::vector<std::size_t>{26}));
  EXPECT_EQ(completionPoints(pieces({7, 6, 5, 4, 3, 2, 1, 0, 7, 6, 5, 4, 3, 2, 1, 0})),
            (std::vector<std::size_t>{32}));
  // Months of unbroken code: the count stops at a group's worth instead of growing until it overflows,
  // and every group end still completes a run.
  MTCDecoder longRun;
  std::size_t completed = 0;
  for (int group = 0; group < 2000; ++group) completed += longRun.feed(kTwoGroups, 0.0).size();
  EXPECT_EQ(longRun.run, MTCDecoder::kCompleteRun);
  EXPECT_EQ(completed, 4000u);
  // A repeated piece, then a turn-around, each restart the count.
  EXPECT_TRUE(completionPoints(pieces({0, 1, 2, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 3, 4, 5, 6, 7})).empty());
  // F1 90 25: the status byte swallows piece 2, and 0x25 is not taken for it.
  Bytes lost = pieces({0, 1});
  lost.insert(lost.end(), {0xF1, 0x90, 0x25});
  const Bytes rest = pieces({3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7});
  lost.insert(lost.end(), rest.begin(), rest.end());
  EXPECT_EQ(completionPoints(lost), (std::vector<std::size_t>{lost.size()}));
  EXPECT_TRUE(MTCDecoder{}.feed(pieces({0, 1, 2, 3, 4, 5, 6, 7}, 25), 0).empty());  // no frame 25 at 25 fps
}

TEST(MTCDecoder, AcceptsOnlyWellFormedValidFullFramesEvenWhenSplitAcrossPackets) {
  MTCDecoder d;
  EXPECT_TRUE(d.feed(Bytes{0xF0, 0x7F, 0x7F, 0x01}, 1.0).empty());
  EXPECT_EQ(d.feed(Bytes{0x01, 0x61, 0x02, 0x03, 0x04, 0xF7}, 2.0),
            (std::vector<Event>{Event::fullFrame({1, 2, 3, 4}, FrameRate::fps30, 2.0)}));
  EXPECT_EQ(d.feed(Bytes{0xF0, 0x7F, 0x05, 0x01, 0x01, 0x40, 0x0A, 0, 0, 0xF7}, 3.0),
            (std::vector<Event>{Event::fullFrame({0, 10, 0, 0}, FrameRate::fps29_97DF, 3.0)}));
  const Bytes ignored[] = {
      {0xF0, 0x7E, 0x7F, 0x01, 0x01, 0x20, 0, 0, 0, 0xF7},        // non-real-time
      {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x40, 0x01, 0, 0, 0xF7},     // 00:01:00:00 does not exist at DF
      {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x38, 0, 0, 0, 0xF7},        // hour 24
      {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x20, 0, 0, 25, 0xF7},       // frame 25 at 25 fps
      {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x20, 0, 0, 0, 0, 0xF7},     // one byte too many
      {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x20, 0, 0, 0xF7},           // one byte short
      {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x20, 0, 0x90, 0, 0, 0xF7},  // cut short by a status byte
      {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x20, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF7}};  // 17 body bytes
  for (const Bytes& message : ignored) {
    EXPECT_TRUE(d.feed(message, 4.0).empty()) << message.size();
    EXPECT_EQ(d.feed(pieces({0, 1, 2, 3, 4, 5, 6, 7}), 5.0).size(), 1u) << message.size();
  }
}

TEST(MTCDecoder, RealTimeBytesAnywhereChangeNothingAndGarbageCostsAtMostOneMessage) {
  Bytes stream = pieces({5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7});
  const Bytes full = {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x21, 0x02, 0x03, 0x04, 0xF7};
  stream.insert(stream.begin() + 6, full.begin(), full.end());
  const auto plain = MTCDecoder{}.feed(stream, 1.0);
  ASSERT_EQ(plain.size(), 2u);
  for (int rt = 0xF8; rt <= 0xFF; ++rt) {
    for (std::size_t at = 0; at <= stream.size(); ++at) {
      Bytes with = stream;
      with.insert(with.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(rt));
      EXPECT_EQ(MTCDecoder{}.feed(with, 1.0), plain) << rt << " at " << at;
    }
  }
  // After arbitrary garbage, at most one message is lost.
  std::mt19937 random(7);
  for (int trial = 0; trial < 200; ++trial) {
    Bytes garbage(random() % 40);
    for (auto& b : garbage) b = static_cast<std::uint8_t>(random());
    MTCDecoder d;
    d.feed(garbage, 0.0);
    EXPECT_GE(d.feed(kTwoGroups, 1.0).size(), 1u) << "after garbage, trial " << trial;
  }
}

TEST(MTCDecoder, FeedingBytesDoesNotAllocate) {
  if (!test::allocationCountingAvailable()) GTEST_SKIP() << "allocation counting unavailable";
  Bytes stream = kTwoGroups;
  stream.insert(stream.end(), {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x21, 0, 0, 0, 0xF7, 0xF0, 1, 2, 3, 0xF7});
  MTCDecoder d;
  int events = 0;
  test::resetRealtimeAllocations();
  {
    test::RealtimeScope realtime;
    for (int i = 0; i < 100; ++i) d.feed(stream, i, [&](const Event&) { ++events; });
  }
  EXPECT_EQ(test::realtimeAllocations(), 0u);
  EXPECT_EQ(events, 300);
}

}  // namespace
}  // namespace quillmark
