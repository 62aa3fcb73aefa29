#pragma once
// What the display window shows for a status: the timecode text (drop-frame separator at 29.97 DF, frames
// cut off when the style hides them), and the status line of state word and rate. The store's Status
// carries more; the caller copies the few fields the display reads into a DisplayedStatus.
// Threads: a pure function; main thread in practice.

#include <optional>

#include "app/display_style.h"
#include "core/frame_rate.h"
#include "core/timecode.h"
#include "core/timecode_clock.h"
#include "ui/big_timecode_view.h"

namespace quillmark {

// The fields of the store's Status that the big display reads, under the same names.
struct DisplayedStatus {
  std::optional<Timecode> timecode;
  std::optional<FrameRate> rate;
  TimecodeClock::State state = TimecodeClock::State::stopped;
  bool held = false;
  bool generatorRunning = false;
};

// The separator between the state word and the rate in the status line: two spaces, a middle dot, two
// spaces.
inline constexpr const char* kInfoSeparator = "  \u00B7  ";

// "RUNNING" / "STOPPED" for the generator; "LOCKED", "FREEWHEEL", "ACQUIRING", and for a stopped input
// "NO TIMECODE" without a timecode, else "STOPPED".
const char* stateWord(const DisplayedStatus& status, bool generator) noexcept;

BigTimecodeView::Content bigTimecodeContent(const DisplayedStatus& status, const DisplayStyle& style,
                                            bool generator);

}  // namespace quillmark
