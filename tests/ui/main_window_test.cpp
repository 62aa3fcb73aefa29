// The main window and the display window driven as a user would (clicks, key presses, picker choices) on
// the real store, with an isolated JACK server and a settings file of the test's own. Every wait
// processes the Qt events and has a deadline.

#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "app/persistence.h"
#include "tests/app/store_world.h"
#include "tests/support/jack_server.h"
#include "ui/application.h"
#include "ui/artnet_sections.h"
#include "ui/detail_rows.h"
#include "ui/display_window.h"
#include "ui/generator_section.h"
#include "ui/info_line.h"
#include "ui/input_sections.h"
#include "ui/live_views.h"
#include "ui/log_section.h"
#include "ui/output_section.h"
#include "ui/rate_picker.h"
#include "ui/state_badge.h"
#include "ui/style_editor.h"
#include "ui/system_colors.h"

namespace quillmark {
namespace {

using test::processUntil;

// Chooses the entry titled `title` in a picker as the user does, and says whether it was there.
bool choose(QComboBox* picker, const QString& title) {
  const int index = picker->findText(title);
  if (index >= 0) picker->setCurrentIndex(index), emit picker->activated(index);
  return index >= 0;
}

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = test::JackServer::start(); }
  static void TearDownTestSuite() { server_.reset(); }
  void TearDown() override {
    app_.reset();
    test::settle(0.1);  // drops queued work of the store that is gone
  }

  void makeApp() {
    ASSERT_TRUE(dir_.isValid());
    auto persistence =
        std::make_unique<Persistence>(std::nullopt, dir_.filePath("quillmark.conf").toStdString());
    app_ = std::make_unique<QuillmarkApp>(std::make_unique<TimecodeStore>(std::move(persistence)));
    window().show();
    QApplication::setActiveWindow(&window());
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window()));
  }
  TimecodeStore& store() { return app_->store(); }
  MainWindow& window() { return app_->mainWindow(); }
  QString badge() { return window().infoLine()->badge()->look().text; }
  void chooseSource(SourceKind source) { QTest::mouseClick(window().sourceButton(source), Qt::LeftButton); }

  static inline std::unique_ptr<test::JackServer> server_;
  QTemporaryDir dir_;
  std::unique_ptr<QuillmarkApp> app_;
};

// Each source shows its section, whose fields start on one line with the others whichever section's labels
// are longest. A second instance's MIDI client gets a numbered name from JACK; the footer shows the one it
// got.
TEST_F(MainWindowTest, ChoosingEachSourceShowsItsSectionWithItsFieldsInLine) {
  const test::TestClient first("Quillmark");
  makeApp();
  EXPECT_EQ(window().portsCaption()->text(), QString::fromUtf8("MIDI ports: \u201CQuillmark-01\u201D"));
  EXPECT_EQ(MainWindow::titleFor(std::string("stage left")), "Quillmark (stage left)");
  auto fieldX = [&](QWidget* field) { return field->mapTo(&window(), QPoint()).x(); };
  const int outputs = fieldX(window().outputSection()->mtcOutSwitch());

  chooseSource(SourceKind::mtc);
  EXPECT_EQ(store().settings().source, SourceKind::mtc);
  EXPECT_TRUE(window().mtcSection()->isVisible());
  EXPECT_FALSE(window().ltcSection()->isVisible());
  EXPECT_TRUE(window().detailsSection()->isVisible());
  QApplication::processEvents();
  EXPECT_EQ(fieldX(window().mtcSection()->sourcePicker()), outputs);

  chooseSource(SourceKind::generator);
  EXPECT_TRUE(window().generatorSection()->isVisible());
  EXPECT_FALSE(window().mtcSection()->isVisible());
  EXPECT_FALSE(window().detailsSection()->isVisible());
  EXPECT_TRUE(processUntil([&] { return badge() == "STOPPED"; }));
  EXPECT_EQ(window().generatorSection()->locateText(), "01:00:00:00");  // filled in on first showing
  QApplication::processEvents();
  EXPECT_EQ(fieldX(window().generatorSection()->ratePicker()), outputs);

  chooseSource(SourceKind::ltc);
  EXPECT_TRUE(window().ltcSection()->isVisible());
  EXPECT_FALSE(window().generatorSection()->isVisible());
  EXPECT_TRUE(processUntil([&] { return badge() == "NO TIMECODE"; }));
  EXPECT_EQ(fieldX(window().ltcSection()->devicePicker()), outputs);

  // Art-Net, on loopback only: the input listens on 127.0.0.1, and the output is pointed at an address
  // that does not exist before it is switched on, so nothing is ever sent.
  Settings loopback = store().settings();
  loopback.artnetInAddress = "127.0.0.1";
  loopback.artnetInPort = 0;
  loopback.artnetOutAddress = "127.0.0.256";
  store().setSettings(loopback);
  chooseSource(SourceKind::artnet);
  ArtNetInputSection* in = window().artnetInputSection();
  EXPECT_TRUE(in->isVisible());
  EXPECT_FALSE(window().ltcSection()->isVisible());
  EXPECT_EQ(in->addressField()->text(), "127.0.0.1");
  EXPECT_EQ(fieldX(in->addressField()), outputs);
  EXPECT_EQ(window().detailRows()->value("Damaged packets"), "0");
  ArtNetOutputSection* out = window().artnetOutputSection();
  EXPECT_TRUE(out->isVisible()) << "the output shows whatever the source";
  EXPECT_FALSE(out->addressField()->isVisible()) << "its rows show only while it is on";
  QTest::mouseClick(out->artnetOutSwitch(), Qt::LeftButton);
  EXPECT_TRUE(store().settings().artnetOutEnabled);
  EXPECT_TRUE(out->addressField()->isVisible());
  EXPECT_EQ(fieldX(out->addressField()), outputs);
  EXPECT_TRUE(out->errorCaption()->isVisible());
  EXPECT_TRUE(out->errorCaption()->text().contains("127.0.0.256"))
      << out->errorCaption()->text().toStdString();
  // What the user types reaches the output's own settings, not the input's.
  out->portField()->setValue(6455);
  out->addressField()->setText(" 127.0.0.257 ");
  emit out->addressField()->editingFinished();
  EXPECT_EQ(store().settings().artnetOutPort, 6455);
  EXPECT_EQ(store().settings().artnetOutAddress, "127.0.0.257");
  EXPECT_EQ(store().settings().artnetInAddress, "127.0.0.1");
}

TEST_F(MainWindowTest, SpaceBarWorksTheTransportAndLocateRefusesBadTextAndNormalisesGoodText) {
  makeApp();
  chooseSource(SourceKind::generator);
  GeneratorSection* generator = window().generatorSection();
  QLineEdit* field = generator->startField();
  QTest::keyClick(&window(), Qt::Key_Space);
  EXPECT_TRUE(processUntil([&] { return badge() == "RUNNING"; }));
  EXPECT_EQ(generator->transportButton()->text(), "Stop");
  field->setFocus();
  QTest::keyClick(field, Qt::Key_Space);
  EXPECT_TRUE(field->text().endsWith(' '));  // typed into the field, transport untouched
  QTest::mouseClick(window().centralWidget(), Qt::LeftButton, {}, QPoint(5, 5));  // empty space
  EXPECT_TRUE(processUntil([&] { return !field->hasFocus(); }));
  QTest::keyClick(&window(), Qt::Key_Space);
  EXPECT_TRUE(processUntil([&] { return badge() == "STOPPED"; }));

  // On the computer's clock the generator always runs; the transport says so and cannot stop it.
  QPushButton* transport = generator->transportButton();
  QTest::mouseClick(generator->timeOfDaySwitch(), Qt::LeftButton);
  EXPECT_TRUE(processUntil([&] { return badge() == "RUNNING"; }));
  EXPECT_EQ(transport->text(), "Stop");
  EXPECT_FALSE(transport->isEnabled());
  QTest::mouseClick(generator->timeOfDaySwitch(), Qt::LeftButton);
  EXPECT_TRUE(processUntil([&] { return badge() == "STOPPED"; }));
  EXPECT_TRUE(transport->isEnabled());
  EXPECT_EQ(transport->text(), "Play");

  field->setText("10:00:00:25");  // no frame 25 at 25 fps
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_TRUE(generator->isInvalid());
  field->setText("1:2:3:4");
  QTest::mouseClick(generator->locateButton(), Qt::LeftButton);
  EXPECT_FALSE(generator->isInvalid());
  EXPECT_EQ(field->text(), "01:02:03:04");
}

// The log shows its fifty newest lines and clears; then switching the desktop between light and dark
// restyles every caption, label, field and icon at once, the log's rows among them, and the start field
// is red in the new palette while its text is refused and takes the new ink once a good one is located.
TEST_F(MainWindowTest, LogShowsTheFiftyNewestLinesAndClearsAndEveryColourFollowsAPaletteChange) {
  makeApp();
  LogSection* log = window().logSection();
  store().setLog({});
  log->disclosureButton()->click();
  EXPECT_TRUE(log->isEmptyNoteShown());
  for (int i = 1; i <= 60; ++i) store().log("line " + std::to_string(i));
  EXPECT_EQ(log->title(), "Log (60)");
  const QStringList shown = log->shownLines();
  ASSERT_EQ(shown.size(), 50);
  EXPECT_EQ(shown.front(), "line 60");
  EXPECT_EQ(shown.back(), "line 11");
  QApplication::processEvents();  // lays out the rows that just appeared
  QTest::mouseClick(log->clearButton(), Qt::LeftButton);
  EXPECT_TRUE(store().log().empty());
  EXPECT_EQ(log->title(), "Log (0)");
  EXPECT_TRUE(log->isEmptyNoteShown());
  EXPECT_FALSE(log->clearButton()->isVisibleTo(log));

  chooseSource(SourceKind::generator);
  store().log("locked");
  GeneratorSection* generator = window().generatorSection();
  generator->startField()->setText("nonsense");
  generator->locate();  // red while invalid

  const QPalette light = QApplication::palette();
  QPalette dark = light;
  dark.setColor(QPalette::Window, QColor(0x24, 0x24, 0x24));
  dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    dark.setColor(role, QColor(0xf2, 0xf2, 0xf2));
  dark.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
  dark.setColor(QPalette::Link, QColor(0x78, 0xae, 0xed));
  QApplication::setPalette(dark);
  QApplication::processEvents();

  const QColor ink = dark.color(QPalette::WindowText);
  for (QLabel* label : window().findChildren<QLabel*>()) {
    const QColor color = label->palette().color(QPalette::WindowText);
    const bool stateColour = color == systemColor(ColorRole::red, dark) ||
                             color == systemColor(ColorRole::orange, dark) ||
                             color == systemColor(ColorRole::green, dark);
    EXPECT_TRUE(stateColour || color.rgb() == ink.rgb())
        << label->text().toStdString() << " keeps " << color.name().toStdString();
  }
  EXPECT_EQ(window().portsCaption()->palette().color(QPalette::WindowText),
            systemColor(ColorRole::tertiaryLabel, dark));
  QLineEdit* field = generator->startField();
  EXPECT_EQ(field->palette().color(QPalette::Text), systemColor(ColorRole::red, dark));
  field->setText("1:0:0:0");
  generator->locate();
  EXPECT_EQ(field->palette().color(QPalette::Text), dark.color(QPalette::Text));
  EXPECT_EQ(generator->transportButton()->palette().color(QPalette::Button), dark.color(QPalette::Highlight));
  EXPECT_TRUE(window().donateLink()->text().contains(dark.color(QPalette::Link).name()));
  // The pop-out icon is drawn again in the new ink.
  const QImage icon =
      window().popOutButton()->icon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
  QColor strongest(Qt::transparent);
  for (int y = 0; y < icon.height(); ++y)
    for (int x = 0; x < icon.width(); ++x)
      if (icon.pixelColor(x, y).alpha() > strongest.alpha()) strongest = icon.pixelColor(x, y);
  EXPECT_LE(std::abs(strongest.lightness() - ink.lightness()), 8) << strongest.name().toStdString();
  QApplication::setPalette(light);
}

// Everything the stored settings show fits the window as it opens: LTC in with its details, both outputs.
// Outputs 3 and 4 are then stored as channel 2 and a pair, and shown again by a window made afresh.
TEST_F(MainWindowTest, OpensWithoutAScrollBarAndStoresOutputs3And4AsChannel2AndAPair) {
  const auto desk = test::audioDevice("desk", 4, test::DeviceKind::output);
  Settings settings;
  settings.source = SourceKind::ltc;
  settings.mtcOutEnabled = settings.ltcOutEnabled = true;
  ASSERT_TRUE(
      Persistence(std::nullopt, dir_.filePath("quillmark.conf").toStdString()).saveSettings(settings));
  makeApp();
  QApplication::processEvents();
  OutputSection* outputs = window().outputSection();
  const QScrollArea* form = window().findChild<QScrollArea*>();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(outputs->isRowShown(outputs->channelPicker()));
  EXPECT_TRUE(window().detailsSection()->isVisible());
  EXPECT_FALSE(form->verticalScrollBar()->isVisible())
      << window().height() << " < " << window().fittingHeight();

  ASSERT_TRUE(processUntil([&] { return outputs->audioOutputPicker()->findText("desk") >= 0; }));
  ASSERT_TRUE(choose(outputs->audioOutputPicker(), "desk"));
  ASSERT_TRUE(choose(outputs->channelPicker(), "Outputs 3+4"));
  EXPECT_EQ(store().settings().ltcOutChannel, 2);
  EXPECT_TRUE(store().settings().ltcOutPair);
  MainWindow again(store());  // a window made afresh over the same store shows the same entry
  EXPECT_EQ(again.outputSection()->channelPicker()->currentText(), "Outputs 3+4");

  QTest::mouseClick(outputs->ltcOutSwitch(), Qt::LeftButton);
  EXPECT_FALSE(store().settings().ltcOutEnabled);
  EXPECT_FALSE(outputs->isRowShown(outputs->channelPicker()));
  EXPECT_FALSE(outputs->isRowShown(outputs->errorCaption()));
}

// The badge's word for each state is the StateBadge test's, the order of the states the StatusRefresh
// test's: here the badge, the detected rate and the level meter follow a real LTC input.
TEST_F(MainWindowTest, BadgeRatePickerAndLevelMeterFollowTheLTCInputUntilItsCableIsPulled) {
  auto player = test::ltcPlayer(FrameRate::fps25, 90000.0, 25.0);
  makeApp();
  Settings settings = store().settings();
  settings.source = SourceKind::ltc;
  settings.ltcInputUID.emplace(player->name());
  settings.freewheel = 0.5;
  store().setSettings(settings);
  ASSERT_TRUE(processUntil([&] { return badge() == "LOCKED"; }));
  EXPECT_EQ(window().ltcSection()->ratePicker()->itemText(0), "Auto (25)");
  EXPECT_GT(window().ltcSection()->levelMeter()->reading().fraction, 0.0);

  player.reset();  // the cable is pulled
  EXPECT_TRUE(processUntil([&] { return badge() == "STOPPED"; }));
}

TEST_F(MainWindowTest, DisplayWindowOpensFromTheMenuAndPopOutAndKeepsItsStyleInTheStore) {
  makeApp();
  for (bool fromMenu : {true, false}) {
    if (fromMenu) window().displayAction()->trigger();
    if (!fromMenu) QTest::mouseClick(window().popOutButton(), Qt::LeftButton);
    DisplayWindow* display = app_->displayWindow();
    ASSERT_NE(display, nullptr);
    display->close();
    EXPECT_TRUE(processUntil([&] { return app_->displayWindow() == nullptr; }));
  }

  // The generator's content reaches the display, which opens at the stored window level, and a preset
  // chosen there is stored (that a preset keeps the level is the DisplayStyle test's).
  chooseSource(SourceKind::generator);
  DisplayStyle onTop = store().displayStyle();
  onTop.alwaysOnTop = true;
  store().setDisplayStyle(onTop);
  DisplayWindow* display = app_->openDisplay();
  EXPECT_TRUE(processUntil([&] { return display->view()->content().info == "STOPPED  \u00B7  25 fps"; }));
  EXPECT_TRUE(display->isAlwaysOnTop());
  display->editor()->choosePreset("Broadcast");
  EXPECT_EQ(store().displayStyle().typeface, DisplayStyle::preset("Broadcast")->typeface);
}

// With no JACK server the window still opens: the LTC input says why it has nothing, and the generator
// runs.
TEST_F(MainWindowTest, WorksWithoutAJackServer) {
  const std::string server = std::getenv("JACK_DEFAULT_SERVER");
  ::setenv("JACK_DEFAULT_SERVER", "quillmark-no-such-server", 1);
  makeApp();
  ::setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  chooseSource(SourceKind::ltc);
  QLabel* error = window().ltcSection()->errorCaption();
  EXPECT_TRUE(processUntil([&] { return error->isVisibleTo(&window()); }));
  EXPECT_EQ(error->text(), "No audio input found.");

  chooseSource(SourceKind::generator);
  QTest::mouseClick(window().generatorSection()->transportButton(), Qt::LeftButton);
  EXPECT_TRUE(processUntil([&] { return badge() == "RUNNING"; }));
  EXPECT_TRUE(processUntil([&] { return window().timecodeLabel()->shown().emphasis == Emphasis::live; }));
  EXPECT_NE(app_->openDisplay(), nullptr);
}

}  // namespace
}  // namespace quillmark
