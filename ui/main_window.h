#pragma once
// MainWindow: where Quillmark is operated. From top to bottom: the source picker ("LTC in", "MTC in",
// "Generator"), the running timecode with the info line and the pop-out button, then a scrolling form
// with the section of the selected source, the outputs, the details (not for the generator) and the event
// log, and a footer naming the MIDI ports (under the name JACK gave this instance's MIDI client) with a
// donation link. The menu bar carries "Timecode Display"
// (Ctrl+Shift+D) in its Window menu.
//
// The window is a view over the store: every control shows and writes the store's settings or calls one
// of its operations, and every readout shows its published status. The running timecode and the level
// meter follow the live status and repaint alone; the form changes only when the store publishes a
// settings, list or coarse status change, and the details and info line twice a second.
// Fixed width 520; at least 640 high, at first 760 or as tall as the form needs (within the screen),
// unbounded above.
// Threads: main thread only.

#include <optional>
#include <string>

#include <QMainWindow>
#include <QPointer>

#include "core/source_kind.h"

class QAbstractButton;
class QAction;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QScrollArea;
class QToolButton;

namespace quillmark {

class ArtNetInputSection;
class ArtNetOutputSection;
class DetailRows;
class GeneratorSection;
class InfoLine;
class LTCInputSection;
class LiveTimecodeLabel;
class LogSection;
class MTCInputSection;
class OutputSection;
class TimecodeStore;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kWidth = 520;
  static constexpr int kMinimumHeight = 640;
  static constexpr int kIdealHeight = 760;
  // Where the donation link leads.
  static constexpr const char* kDonateAddress = "https://quillmark.app/donate";

  explicit MainWindow(TimecodeStore& store, QWidget* parent = nullptr);

  // "Quillmark", or "Quillmark (name)" with a settings profile.
  static QString titleFor(const std::optional<std::string>& profile);

  QAbstractButton* sourceButton(SourceKind source) const;
  LiveTimecodeLabel* timecodeLabel() const { return timecode_; }
  InfoLine* infoLine() const { return info_; }
  QToolButton* popOutButton() const { return popOut_; }
  LTCInputSection* ltcSection() const { return ltc_; }
  MTCInputSection* mtcSection() const { return mtc_; }
  GeneratorSection* generatorSection() const { return generator_; }
  OutputSection* outputSection() const { return outputs_; }
  ArtNetInputSection* artnetInputSection() const { return artnetIn_; }
  ArtNetOutputSection* artnetOutputSection() const { return artnetOut_; }
  QGroupBox* detailsSection() const { return details_; }
  DetailRows* detailRows() const { return detailRows_; }
  LogSection* logSection() const { return log_; }
  QLabel* portsCaption() const { return ports_; }
  QLabel* donateLink() const { return donate_; }
  // The height at which the whole form shows without scrolling, at least the minimum.
  int fittingHeight() const;
  // "Timecode Display" in the Window menu.
  QAction* displayAction() const { return displayAction_; }

 signals:
  // The user asked for the display window (menu, shortcut or pop-out button).
  void displayRequested();

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* makeSourcePicker();
  QWidget* makeTimecodeDisplay();
  QWidget* makeForm();
  QWidget* makeFooter();
  void makeMenus();
  void showSource();
  void showDetails();
  void dropFocus();
  void showPortsName();
  void showPaletteInks();

  QPointer<TimecodeStore> store_;
  QButtonGroup* sources_ = nullptr;  // the source picker's; the widgets below are parent-owned
  LiveTimecodeLabel* timecode_ = nullptr;
  InfoLine* info_ = nullptr;
  QToolButton* popOut_ = nullptr;
  LTCInputSection* ltc_ = nullptr;
  MTCInputSection* mtc_ = nullptr;
  GeneratorSection* generator_ = nullptr;
  OutputSection* outputs_ = nullptr;
  ArtNetInputSection* artnetIn_ = nullptr;
  ArtNetOutputSection* artnetOut_ = nullptr;
  QGroupBox* details_ = nullptr;
  DetailRows* detailRows_ = nullptr;
  LogSection* log_ = nullptr;
  QLabel* ports_ = nullptr;
  QLabel* donate_ = nullptr;
  QAction* displayAction_ = nullptr;
  QWidget* content_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  QWidget* form_ = nullptr;  // the scroll area's content
  bool shownBefore_ = false;
};

}  // namespace quillmark
