#include "ltc/ltc_phase_tracker.h"

#include <algorithm>
#include <cmath>

namespace quillmark {

LTCPhaseTracker::Run LTCPhaseTracker::next(double target, double step, std::int64_t count) noexcept {
  if (!std::isfinite(target) || !std::isfinite(step) || count <= 0) {
    expected_.reset();
    return Run{target, step};
  }
  Run run{target, step};
  if (expected_ && std::abs(target - *expected_) < kJumpFrames) {
    // Continue the phase; spread the parting over this buffer, at most kMaxSteer of the speed.
    const double samples = static_cast<double>(count);
    const double limit = std::abs(step) * kMaxSteer;
    run.start = *expected_;
    run.step = step + std::clamp((target - *expected_) / samples, -limit, limit);
  }
  expected_ = run.start + run.step * static_cast<double>(count);
  return run;
}

}  // namespace quillmark
