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

// Feeds one byte per packet; returns the number of bytes fed when each event completed.
std::vector<std::size_t> completionPoints(MTCDecoder& decoder, const Bytes& stream) {
  std::vector<std::size_t> points;
  for (std::size_t i = 0; i < stream.size(); ++i) {
    if (!decoder.feed(std::span(&stream[i], 1), 0.0).empty()) points.push_back(i + 1);
  }
  return points;
}

// A clock running forward or backward at `rate` from quarter-frame index `first`, sent as single-byte
// packets with timing clock bytes around and inside every message, one packet per real-time instant.
TEST(MTCDecoder, DecodesOneSequencePerTwoFramesFollowingTheSendersFramesBothWays) {
  for (FrameRate rate : kAllFrameRates) {
    for (int direction : {1, -1}) {
      const std::int64_t perDay = 4 * framesPerDay(rate);
      const std::int64_t first = perDay - 37 * direction;  // crosses midnight, starts mid-group
      const auto timeOf = [&](std::int64_t index) { return 100.0 + index / (4 * realFramesPerSecond(rate)); };
      MTCDecoder decoder;
      std::vector<Event> got;
      for (std::int64_t step = 0; step < 200; ++step) {
        const std::int64_t index = first + direction * step;
        const auto qf = MTC::quarterFrame(index, rate);
        for (std::uint8_t byte : {std::uint8_t{0xF8}, qf[0], std::uint8_t{0xF8}, qf[1]}) {
          decoder.feed(std::span(&byte, 1), timeOf(index), [&](const Event& e) { got.push_back(e); });
        }
      }
      // Expected: every group all of whose pieces were sent, except in reverse the one the stream
      // started in (a fresh decoder needs one descending step to learn the direction).
      std::vector<Event> want;
      for (std::int64_t step = 0; step < 200; ++step) {
        const std::int64_t index = first + direction * step, base = index - ((index % 8) + 8) % 8;
        const bool groupEnd = direction > 0 ? index == base + 7 : index == base;
        const bool whole = direction > 0 ? base >= first : base + 7 < first;
        if (!groupEnd || !whole) continue;
        std::array<double, 8> times{};
        for (int k = 0; k < 8; ++k) times[k] = timeOf(base + k);
        const Timecode label = Timecode::fromFrame(base / 4, rate);
        want.push_back(Event::sequence(label, MTC::rateFromCode(MTC::rateCode(rate)), times, direction < 0));
      }
      EXPECT_EQ(want.size(), 24u);
      EXPECT_EQ(got, want) << rawValue(rate) << " direction " << direction;
    }
  }
}

TEST(MTCDecoder, RunsNeedEightInOrderPiecesEndingOnTheGroupsLastPiece) {
  MTCDecoder d;  // forward from fresh: the eighth byte pair completes, then only the next piece 7
  EXPECT_EQ(completionPoints(d, pieces({0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7})),
            (std::vector<std::size_t>{16, 32}));
  const auto events = MTCDecoder{}.feed(pieces({0, 1, 2, 3, 4, 5, 6, 7}, 24), 5.0);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].asSequence()->timecode, (Timecode{1, 0, 0, 24}));
  EXPECT_EQ(events[0].asSequence()->rate, FrameRate::fps25);
  EXPECT_FALSE(events[0].asSequence()->reverse);
  EXPECT_TRUE(MTCDecoder{}.feed(pieces({0, 1, 2, 3, 4, 5, 6, 7}, 25), 0).empty());  // no frame 25 at 25 fps

  MTCDecoder fromThree;  // a partial first group is not enough
  EXPECT_EQ(completionPoints(fromThree, pieces({3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7})),
            (std::vector<std::size_t>{26}));
  MTCDecoder backward;  // the first descending step restarts the count
  EXPECT_EQ(completionPoints(backward, pieces({7, 6, 5, 4, 3, 2, 1, 0, 7, 6, 5, 4, 3, 2, 1, 0})),
            (std::vector<std::size_t>{32}));
  MTCDecoder repeated;  // a repeated piece and a turn-around each break the run
  EXPECT_TRUE(
      completionPoints(repeated, pieces({0, 1, 2, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 3, 4, 5, 6, 7})).empty());
  MTCDecoder lost;  // F1 90 25: the status byte swallows piece 2, and 0x25 is not taken for it
  Bytes stream = pieces({0, 1});
  stream.insert(stream.end(), {0xF1, 0x90, 0x25});
  const Bytes rest = pieces({3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7});
  stream.insert(stream.end(), rest.begin(), rest.end());
  EXPECT_EQ(completionPoints(lost, stream).size(), 1u);
  EXPECT_EQ(completionPoints(lost, pieces({0, 1, 2, 3, 4, 5, 6})).size(), 0u);
}

TEST(MTCDecoder, AcceptsOnlyWellFormedValidFullFramesEvenWhenSplitAcrossPackets) {
  MTCDecoder d;
  EXPECT_TRUE(d.feed(Bytes{0xF0, 0x7F, 0x7F, 0x01}, 1.0).empty());
  EXPECT_EQ(d.feed(Bytes{0x01, 0x61, 0x02, 0x03, 0x04, 0xF7}, 2.0),
            (std::vector<Event>{Event::fullFrame({1, 2, 3, 4}, FrameRate::fps30, 2.0)}));
  EXPECT_EQ(d.feed(Bytes{0xF0, 0x7F, 0x05, 0x01, 0x01, 0x20, 0, 0, 0, 0xF7}, 3.0),
            (std::vector<Event>{Event::fullFrame({0, 0, 0, 0}, FrameRate::fps25, 3.0)}));
  const Bytes ignored[] = {
      {0xF0, 0x7E, 0x7F, 0x01, 0x01, 0x20, 0, 0, 0, 0xF7},        // non-real-time
      {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x40, 0x01, 0, 0, 0xF7},     // 00:01:00:00 does not exist at DF
      {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x38, 0, 0, 0, 0xF7},        // hour 24
      {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x20, 0, 0, 25, 0xF7},       // frame 25 at 25 fps
      {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x20, 0, 0, 0, 0, 0xF7},     // one byte too many
      {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x20, 0, 0, 0xF7},           // one byte short
      {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x20, 0, 0x90, 0, 0, 0xF7},  // cut short by a status byte
      {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x20, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF7}};  // 17 body bytes
  for (const Bytes& message : ignored) EXPECT_TRUE(d.feed(message, 4.0).empty()) << message.size();
  // The decoder is ready again straight after each of them.
  EXPECT_EQ(d.feed(pieces({0, 1, 2, 3, 4, 5, 6, 7}), 5.0).size(), 1u);
  EXPECT_EQ(d.feed(Bytes{0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x40, 0x0A, 0, 0, 0xF7}, 6.0),
            (std::vector<Event>{Event::fullFrame({0, 10, 0, 0}, FrameRate::fps29_97DF, 6.0)}));
}

TEST(MTCDecoder, RealTimeBytesAnywhereChangeNothing) {
  Bytes stream = pieces({5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7});
  const Bytes full = {0xF0, 0x7F, 0x7F, 0x01, 0x01, 0x21, 0x02, 0x03, 0x04, 0xF7};
  stream.insert(stream.begin() + 6, full.begin(), full.end());
  const auto plain = MTCDecoder{}.feed(stream, 1.0);
  ASSERT_EQ(plain.size(), 2u);
  for (std::uint8_t rt = 0xF8; rt != 0; ++rt) {
    for (std::size_t at = 0; at <= stream.size(); ++at) {
      Bytes with = stream;
      with.insert(with.begin() + static_cast<std::ptrdiff_t>(at), rt);
      EXPECT_EQ(MTCDecoder{}.feed(with, 1.0), plain) << int(rt) << " at " << at;
    }
  }
}

TEST(MTCDecoder, RecoversFromArbitraryGarbage) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 200; ++trial) {
    MTCDecoder d;
    Bytes garbage(random() % 40);
    for (auto& b : garbage) b = static_cast<std::uint8_t>(random());
    d.feed(garbage, 0.0);
    // Whatever it was left inside, one message may be lost to it, never two.
    EXPECT_GE(d.feed(pieces({0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7}), 1.0).size(), 1u) << trial;
  }
}

TEST(MTCDecoder, FeedingBytesDoesNotAllocate) {
  if (!test::allocationCountingAvailable()) GTEST_SKIP() << "allocation counting unavailable";
  Bytes stream = pieces({0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7});
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
