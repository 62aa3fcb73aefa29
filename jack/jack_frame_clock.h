#pragma once
// JackFrameClock maps a JACK client's frame counter to host time through a line it fits itself, instead of
// through the cycle times jack_get_cycle_times() reports.
//
// Why: the server's cycle times come out of a delay-locked loop driven by the moments the server woke up.
// Wake-ups are only ever late (scheduling, virtual-machine stalls, the clients earlier in the graph), so a
// burst of late ones drags the loop late for seconds: on the test machines its frame-to-time mapping
// wanders by a millisecond against the frames with periods of a few seconds. Received MIDI stamped
// through it then looks up to 0.1 % fast or slow over a one-second window, which is all it takes to make a
// 30 fps source read as 29.97. The frames themselves are exact, and the earliest wake-ups lie on a straight
// line: a cycle cannot begin before its frames exist. So the clock keeps, per half second, the wake-up that
// came earliest against the current line, and fits a line through those minima over the last ten seconds.
//
// A wake-up more than kDiscontinuity earlier than the line, or a quarter second of wake-ups all at least
// that much later (an xrun, a server that stopped and went on), or a changed sample rate starts the line
// afresh. Until the minima span a second, the slope is the nominal one.
//
// Threads: one instance belongs to one JACK process thread; nothing here allocates, locks or blocks.

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace quillmark {

class JackFrameClock {
 public:
  static constexpr double kBucketSeconds = 0.5;
  static constexpr std::size_t kBuckets = 20;  // ten seconds of history
  static constexpr double kDiscontinuity = 0.002;
  static constexpr double kLateRunSeconds = 0.25;
  // A half second's earliest wake-up this far above the line fitted through all of them was late throughout.
  static constexpr double kLateMinimum = 100e-6;

  // Feeds one cycle: the JACK frame counter at the cycle's first frame (it wraps at 32 bits), the host time
  // in seconds at which the process callback began, and the server's sample rate.
  void observe(std::uint32_t cycleFrame, double wakeHost, double sampleRate) noexcept {
    if (!started_ || sampleRate != sampleRate_) {
      restart(cycleFrame, wakeHost, sampleRate);
      return;
    }
    frame_ += static_cast<std::uint32_t>(cycleFrame - lastRawFrame_);  // unsigned difference unwraps
    lastRawFrame_ = cycleFrame;
    const double residual = wakeHost - lineAt(frame_);
    if (residual < -kDiscontinuity) {
      restart(cycleFrame, wakeHost, sampleRate);  // frames came before their time: the line is wrong
      return;
    }
    if (residual > kDiscontinuity) {
      // One late wake-up is scheduling; a quarter second of nothing but late ones is a shifted line.
      if (lateCycles_++ == 0) lateSince_ = wakeHost;
      if (lateCycles_ >= 3 && wakeHost - lateSince_ >= kLateRunSeconds) {
        restart(cycleFrame, wakeHost, sampleRate);
        return;
      }
    } else {
      lateCycles_ = 0;
    }

    if (wakeHost - current_.firstHost >= kBucketSeconds) {
      // The half second is over: its earliest wake-up joins the fit, and only then does the line move,
      // so a late wake-up never tilts it.
      newest_ = (newest_ + 1) % kBuckets;
      done_[newest_] = current_;
      if (doneCount_ < kBuckets) ++doneCount_;
      current_ = Bucket{frame_, wakeHost, wakeHost};
      refit();
    } else if (residual < current_.host - lineAt(current_.frame)) {
      current_.frame = frame_;
      current_.host = wakeHost;
      if (doneCount_ == 0) anchor(frame_, wakeHost);  // the first half second follows its earliest wake-up
    }
  }

  // The host time in seconds of the frame `cycleFrame + offset`, where cycleFrame is the counter most
  // recently observed. REQUIRES: valid().
  double hostSeconds(std::uint32_t cycleFrame, double offset) const noexcept {
    const auto ahead = static_cast<std::int32_t>(cycleFrame - lastRawFrame_);
    return lineAt(frame_ + ahead) + offset * secondsPerFrame_;
  }

  // Host seconds per frame, as fitted.
  double secondsPerFrame() const noexcept { return secondsPerFrame_; }
  bool valid() const noexcept { return started_; }
  // How often the line started afresh after the first time (xruns, stopped servers).
  std::uint64_t restarts() const noexcept { return restarts_; }

 private:
  struct Bucket {
    std::int64_t frame = 0;  // of the earliest wake-up against the line
    double host = 0.0;
    double firstHost = 0.0;  // when the bucket began
  };

  double lineAt(std::int64_t frame) const noexcept {
    return anchorHost_ + static_cast<double>(frame - anchorFrame_) * secondsPerFrame_;
  }

  void anchor(std::int64_t frame, double host) noexcept {
    anchorFrame_ = frame;
    anchorHost_ = host;
  }

  void restart(std::uint32_t cycleFrame, double wakeHost, double sampleRate) noexcept {
    if (started_) ++restarts_;
    started_ = true;
    sampleRate_ = sampleRate;
    secondsPerFrame_ = 1.0 / sampleRate;
    lastRawFrame_ = cycleFrame;
    frame_ = 0;
    anchor(0, wakeHost);
    current_ = Bucket{0, wakeHost, wakeHost};
    newest_ = 0;
    doneCount_ = 0;
    lateCycles_ = 0;
  }

  // Least squares through the completed buckets' minima, on offsets from the newest one to keep precision;
  // then once more without the minima that lie well above that line: a half second in which every wake-up
  // came late would otherwise pull the line late. With the minima less than a second apart the slope stays
  // nominal and only the phase follows them.
  void refit() noexcept {
    double slope = 1.0 / sampleRate_;
    double centreX = 0.0, centreY = 0.0;
    fitThrough(std::numeric_limits<double>::infinity(), slope, centreX, centreY);
    const Bucket& newest = done_[newest_];
    fitThrough(newest.host + centreY - centreX * slope + kLateMinimum, slope, centreX, centreY);
    secondsPerFrame_ = slope;
    // The line passes through the centroid; anchor it at a whole frame near it.
    const auto whole = static_cast<std::int64_t>(centreX);
    anchor(newest.frame + whole, newest.host + centreY - (centreX - static_cast<double>(whole)) * slope);
  }

  // Fits the minima that lie on or below the bound line (host time `bound` at the newest bucket, rising
  // with `slope`); the centre comes out in offsets from the newest bucket. Leaves the line as it is when no
  // minimum qualifies.
  void fitThrough(double bound, double& slope, double& centreX, double& centreY) const noexcept {
    const Bucket& newest = done_[newest_];
    const double boundSlope = slope;
    // Kept: minima on or below the bound, a line through `bound` at the newest bucket with the given slope.
    auto isKept = [&](const Bucket& b) {
      return b.host <= bound + static_cast<double>(b.frame - newest.frame) * boundSlope;
    };
    double sumX = 0.0, sumY = 0.0, n = 0.0;
    std::int64_t oldestFrame = newest.frame;
    for (std::size_t i = 0; i < doneCount_; ++i) {
      const Bucket& b = done_[(newest_ + kBuckets - i) % kBuckets];
      if (!isKept(b)) continue;
      sumX += static_cast<double>(b.frame - newest.frame);
      sumY += b.host - newest.host;
      n += 1.0;
      if (b.frame < oldestFrame) oldestFrame = b.frame;
    }
    if (n < 1.0) return;
    const double mx = sumX / n, my = sumY / n;
    double fittedSlope = 1.0 / sampleRate_;
    if (static_cast<double>(newest.frame - oldestFrame) >= sampleRate_) {
      double sxx = 0.0, sxy = 0.0;
      for (std::size_t i = 0; i < doneCount_; ++i) {
        const Bucket& b = done_[(newest_ + kBuckets - i) % kBuckets];
        if (!isKept(b)) continue;
        const double dx = static_cast<double>(b.frame - newest.frame) - mx;
        sxx += dx * dx;
        sxy += dx * (b.host - newest.host - my);
      }
      const double fitted = sxy / sxx;
      // A device clock is off by parts per million, never by a percent: such a slope is a glitch.
      if (fitted > 0.99 * fittedSlope && fitted < 1.01 * fittedSlope) fittedSlope = fitted;
    }
    slope = fittedSlope;
    centreX = mx;
    centreY = my;
  }

  bool started_ = false;
  double sampleRate_ = 48000.0;
  double secondsPerFrame_ = 1.0 / 48000.0;
  std::uint32_t lastRawFrame_ = 0;
  std::int64_t frame_ = 0;  // lastRawFrame_ unwrapped, counted from the last restart
  std::int64_t anchorFrame_ = 0;
  double anchorHost_ = 0.0;
  Bucket current_{};
  std::array<Bucket, kBuckets> done_{};
  std::size_t newest_ = 0;
  std::size_t doneCount_ = 0;
  int lateCycles_ = 0;
  double lateSince_ = 0.0;
  std::uint64_t restarts_ = 0;
};

}  // namespace quillmark
