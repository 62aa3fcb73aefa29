#include "ui/picker_entries.h"

#include <cmath>

#include <QComboBox>
#include <QSignalBlocker>

namespace quillmark {

namespace {

constexpr double kFreewheelChoices[] = {0.0, 0.5, 1.0, 2.0, 5.0, 10.0};

QString secondsTitle(double seconds) {
  if (seconds == 0) return QStringLiteral("Off");
  return QString::number(seconds, 'g', 6) + QStringLiteral(" s");
}

std::vector<PickerEntry> comboEntries(const QComboBox* combo) {
  std::vector<PickerEntry> entries;
  for (int i = 0; i < combo->count(); ++i) {
    // How QComboBox::insertSeparator marks its dividers.
    const bool separator =
        combo->itemData(i, Qt::AccessibleDescriptionRole).toString() == QStringLiteral("separator");
    if (separator) {
      entries.push_back(PickerEntry::divider());
    } else {
      entries.push_back(PickerEntry{combo->itemText(i), combo->itemData(i), false});
    }
  }
  return entries;
}

}  // namespace

QString rawText(FrameRate rate) {
  const auto raw = rawValue(rate);
  return QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));
}

std::optional<FrameRate> rateFromData(const QVariant& data) {
  return frameRateFromRaw(data.toString().toStdString());
}

std::vector<PickerEntry> inputChannelEntries(int channels) {
  std::vector<PickerEntry> entries;
  for (int c = 0; c < channels; ++c) entries.push_back({QStringLiteral("Input %1").arg(c + 1), qint64{c}});
  return entries;
}

std::vector<PickerEntry> outputChannelEntries(int channels) {
  std::vector<PickerEntry> entries;
  for (int c = 0; c < channels; ++c) entries.push_back({QStringLiteral("Output %1").arg(c + 1), qint64{c}});
  if (channels >= 2) {
    entries.push_back(PickerEntry::divider());
    for (int c = 0; c + 1 < channels; c += 2) {
      entries.push_back({QStringLiteral("Outputs %1+%2").arg(c + 1).arg(c + 2), qint64{-(c + 1)}});
    }
  }
  return entries;
}

std::int64_t outputChannelTag(const Settings& settings) noexcept {
  return settings.ltcOutPair ? -(settings.ltcOutChannel + 1) : settings.ltcOutChannel;
}

void setOutputChannelTag(Settings& settings, std::int64_t tag) noexcept {
  settings.ltcOutPair = tag < 0;
  settings.ltcOutChannel = tag >= 0 ? tag : -tag - 1;
}

QString autoRateTitle(const std::optional<FrameRate>& setting, const std::optional<FrameRate>& liveRate) {
  if (!setting && liveRate) return QStringLiteral("Auto (") + rawText(*liveRate) + QStringLiteral(")");
  return QStringLiteral("Auto");
}

std::vector<PickerEntry> inputRateEntries(const std::optional<FrameRate>& autoRate) {
  std::vector<PickerEntry> entries{{autoRateTitle(std::nullopt, autoRate), QString()},
                                   PickerEntry::divider()};
  for (FrameRate rate : kAllFrameRates) entries.push_back({rawText(rate), rawText(rate)});
  return entries;
}

std::vector<PickerEntry> rateEntries() {
  std::vector<PickerEntry> entries;
  for (FrameRate rate : kAllFrameRates) entries.push_back({rawText(rate), rawText(rate)});
  return entries;
}

std::vector<PickerEntry> freewheelEntries(double current) {
  std::vector<PickerEntry> entries;
  bool listed = false;
  for (double seconds : kFreewheelChoices) {
    entries.push_back({secondsTitle(seconds), seconds});
    listed = listed || seconds == current;
  }
  if (!listed && std::isfinite(current)) entries.push_back({secondsTitle(current), current});
  return entries;
}

void setPickerEntries(QComboBox* combo, const std::vector<PickerEntry>& entries) {
  if (comboEntries(combo) == entries) return;
  const QSignalBlocker blocker(combo);
  const QVariant selected = combo->currentData();
  combo->clear();
  for (const PickerEntry& entry : entries) {
    if (entry.separator) {
      combo->insertSeparator(combo->count());
    } else {
      combo->addItem(entry.title, entry.data);
    }
  }
  combo->setCurrentIndex(selected.isValid() ? combo->findData(selected) : -1);
}

void selectPickerData(QComboBox* combo, const QVariant& data) {
  const QSignalBlocker blocker(combo);
  int index = -1;
  for (int i = 0; i < combo->count(); ++i) {
    if (combo->itemData(i).isValid() && combo->itemData(i) == data) {
      index = i;
      break;
    }
  }
  combo->setCurrentIndex(index);
}

}  // namespace quillmark
