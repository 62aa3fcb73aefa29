#pragma once
// The option lists of the main window's pickers and the mapping of the output channel picker's one
// integer tag to the two settings it stands for, kept apart from the widgets so they can be checked
// directly. setPickerEntries fills a combo box with such a list, leaving it alone when it already holds
// it, so that a picker whose list is refreshed while its popup is open does not lose its place.
// Threads: main thread (the combo helpers); the list functions are pure.

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>
#include <QVariant>

#include "app/settings.h"
#include "core/frame_rate.h"

class QComboBox;

namespace quillmark {

struct PickerEntry {
  QString title;
  QVariant data;           // the value the entry stands for
  bool separator = false;  // a divider line instead of an entry

  bool operator==(const PickerEntry&) const = default;
  static PickerEntry divider() { return PickerEntry{{}, {}, true}; }
};

// "Input 1" ... "Input n", tagged with the channel counted from 0.
std::vector<PickerEntry> inputChannelEntries(int channels);

// "Output 1" ... "Output n" tagged 0 ... n-1; with two or more channels a divider and "Outputs 1+2",
// "Outputs 3+4" ... for each pair starting at an odd channel number that has a following channel, tagged
// -(first + 1) with the first channel counted from 0.
std::vector<PickerEntry> outputChannelEntries(int channels);

// The tag of the settings' output channel choice, and the settings for a chosen tag.
std::int64_t outputChannelTag(const Settings& settings) noexcept;
void setOutputChannelTag(Settings& settings, std::int64_t tag) noexcept;

// "Auto" (or "Auto (25)" when the setting is Auto and the live status has a rate), a divider, the six
// rates by raw value. The data is the raw value, the empty text for Auto.
std::vector<PickerEntry> inputRateEntries(const std::optional<FrameRate>& liveRate);
QString autoRateTitle(const std::optional<FrameRate>& setting, const std::optional<FrameRate>& liveRate);

// The six rates by raw value, for the generator.
std::vector<PickerEntry> rateEntries();

// "Off", "0.5 s", "1 s", "2 s", "5 s", "10 s" with their seconds; a stored value not among them (a
// hand-edited record) gets an entry of its own at the end, so the picker never reads blank.
std::vector<PickerEntry> freewheelEntries(double current);

QString rawText(FrameRate rate);
std::optional<FrameRate> rateFromData(const QVariant& data);

// Replaces the combo's items with `entries` unless it already holds exactly them; signals blocked.
void setPickerEntries(QComboBox* combo, const std::vector<PickerEntry>& entries);
// Selects the entry whose data equals `data`; none (index -1) when no entry has it. Signals blocked.
void selectPickerData(QComboBox* combo, const QVariant& data);

}  // namespace quillmark
