#include "ui/big_timecode_content.h"

#include <string>

namespace quillmark {

const char* stateWord(const DisplayedStatus& status, bool generator) noexcept {
  if (generator) return status.generatorRunning ? "RUNNING" : "STOPPED";
  switch (status.state) {
    case TimecodeClock::State::locked:
      return "LOCKED";
    case TimecodeClock::State::freewheel:
      return "FREEWHEEL";
    case TimecodeClock::State::acquiring:
      return "ACQUIRING";
    case TimecodeClock::State::stopped:
      return status.timecode ? "STOPPED" : "NO TIMECODE";
  }
  return "STOPPED";
}

BigTimecodeView::Content bigTimecodeContent(const DisplayedStatus& status, const DisplayStyle& style,
                                            bool generator) {
  BigTimecodeView::Content content;
  if (status.timecode) {
    content.text = status.timecode->text(status.rate == FrameRate::fps29_97DF);
  } else {
    content.text = "--:--:--:--";
  }
  if (!style.showFrames && content.text.size() > 8) content.text.resize(8);

  content.info = stateWord(status, generator);
  if (status.rate) {
    content.info += kInfoSeparator;
    content.info += rawValue(*status.rate);
    content.info += " fps";
  }
  content.state = status.state;
  content.held = status.held;
  content.running = status.generatorRunning;
  content.generator = generator;
  return content;
}

}  // namespace quillmark
