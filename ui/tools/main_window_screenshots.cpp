// Renders the main window to PNG files, once with each source, for the documentation. It runs the real
// store on a settings file of its own (the user's settings are never touched) and on whatever JACK server
// JACK_DEFAULT_SERVER names (scripts/screenshots.sh starts a private one), on Qt's offscreen platform
// unless told otherwise.
// Usage: quillmark-main-screenshots [output directory]   (default: docs)

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <jack/jack.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPalette>
#include <QTemporaryDir>

#include "app/persistence.h"
#include "app/timecode_store.h"
#include "ltc/ltc_encoder.h"
#include "ui/application.h"
#include "ui/log_section.h"
#include "ui/main_window.h"
#include "ui/tools/save_png.h"

namespace {

using namespace quillmark;

// Lets the store refresh and the window lay out and paint before grabbing.
void settle(int milliseconds) {
  QDeadlineTimer deadline(milliseconds);
  while (!deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A studio machine's LTC source: a JACK client "LTC source" playing 25 fps LTC from 10:24:37:00 with
// some user bits, which Quillmark lists as an input device.
class LTCSource {
 public:
  LTCSource() : client_(jack_client_open("LTC source", JackNoStartServer, nullptr)) {
    if (client_ == nullptr) return;
    encoder_ = std::make_unique<LTCEncoder>(jack_get_sample_rate(client_));
    encoder_->setRate(FrameRate::fps25);
    encoder_->setUserBits(0x20240611);
    out_ = jack_port_register(client_, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client_, &LTCSource::process, this);
    jack_activate(client_);
  }
  ~LTCSource() {
    if (client_ != nullptr) jack_client_close(client_);
  }
  std::string name() const { return client_ != nullptr ? jack_get_client_name(client_) : std::string(); }

 private:
  static int process(jack_nframes_t frames, void* self) {
    auto* source = static_cast<LTCSource*>(self);
    const double step = 25.0 / jack_get_sample_rate(source->client_);
    auto* out = static_cast<float*>(jack_port_get_buffer(source->out_, frames));
    source->encoder_->render(out, frames, source->position_, step);
    source->position_ += step * frames;
    return 0;
  }

  jack_client_t* client_;
  jack_port_t* out_ = nullptr;
  std::unique_ptr<LTCEncoder> encoder_;
  double position_ = Timecode{10, 24, 37, 0}.frameNumber(FrameRate::fps25);  // process thread
};

// Grabs the window as tall as its form needs, so that every group shows whole.
bool save(MainWindow& window, const QDir& directory, const QString& name) {
  window.resize(MainWindow::kWidth, window.fittingHeight());
  settle(200);
  return savePng(window.grab(), directory, name);
}

// A dark desktop theme: the colours GNOME's dark style gives Qt applications.
QPalette darkPalette() {
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(0x24, 0x24, 0x24));
  dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
  dark.setColor(QPalette::AlternateBase, QColor(0x2a, 0x2a, 0x2a));
  dark.setColor(QPalette::Button, QColor(0x30, 0x30, 0x30));
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText})
    dark.setColor(role, QColor(0xf2, 0xf2, 0xf2));
  dark.setColor(QPalette::ToolTipBase, QColor(0x30, 0x30, 0x30));
  dark.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0x9a));
  dark.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
  dark.setColor(QPalette::HighlightedText, Qt::white);
  dark.setColor(QPalette::Light, QColor(0x40, 0x40, 0x40));
  dark.setColor(QPalette::Midlight, QColor(0x38, 0x38, 0x38));
  dark.setColor(QPalette::Mid, QColor(0x28, 0x28, 0x28));
  dark.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x18));
  dark.setColor(QPalette::Shadow, Qt::black);
  dark.setColor(QPalette::Link, QColor(0x78, 0xae, 0xed));
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    dark.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
  return dark;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  const QDir directory(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs"));
  QTemporaryDir settingsDir;
  if (!QDir().mkpath(directory.path()) || !settingsDir.isValid()) {
    std::fprintf(stderr, "could not prepare %s\n", qPrintable(directory.path()));
    return 1;
  }

  auto persistence = std::make_unique<Persistence>(
      std::nullopt, settingsDir.filePath(QStringLiteral("quillmark.conf")).toStdString());
  QuillmarkApp app(std::make_unique<TimecodeStore>(std::move(persistence)));
  TimecodeStore& store = app.store();
  MainWindow& window = app.mainWindow();
  window.show();
  settle(300);

  bool ok = true;
  // LTC in from the LTC source, locked, with the LTC output on beside it.
  LTCSource source;
  store.refreshDevices();
  Settings settings = store.settings();
  settings.source = SourceKind::ltc;
  if (!source.name().empty()) settings.ltcInputUID.emplace(source.name());
  settings.ltcOutEnabled = true;
  settings.mtcOutEnabled = false;
  store.setSettings(settings);
  settle(2500);
  ok = save(window, directory, QStringLiteral("main-window-ltc.png")) && ok;

  // The same on a dark desktop, switched while the window is open.
  const QPalette light = QApplication::palette();
  QApplication::setPalette(darkPalette());
  settle(300);
  ok = save(window, directory, QStringLiteral("main-window-dark.png")) && ok;
  QApplication::setPalette(light);

  // MTC in, with MTC out on our own virtual port.
  settings = store.settings();
  settings.source = SourceKind::mtc;
  settings.ltcOutEnabled = false;
  settings.mtcOutEnabled = true;
  store.setSettings(settings);
  settle(800);
  ok = save(window, directory, QStringLiteral("main-window-mtc.png")) && ok;

  // Art-Net in, listening on the loopback interface only, with Art-Net out on beside MTC out; pointed
  // at this computer, so making pictures never sends a packet to a network.
  settings = store.settings();
  settings.source = SourceKind::artnet;
  settings.artnetInAddress = "127.0.0.1";
  settings.artnetOutEnabled = true;
  settings.artnetOutAddress = "127.0.0.1";
  store.setSettings(settings);
  settle(800);
  ok = save(window, directory, QStringLiteral("main-window-artnet.png")) && ok;
  settings.artnetOutEnabled = false;
  store.setSettings(settings);

  // The generator running, both outputs on, the log open.
  settings = store.settings();
  settings.source = SourceKind::generator;
  settings.ltcOutEnabled = true;
  settings.generatorStart = "10:00:00:00";
  store.setSettings(settings);
  store.locate("10:00:00:00");
  store.play();
  window.logSection()->setExpanded(true);
  settle(1500);
  ok = save(window, directory, QStringLiteral("main-window-generator.png")) && ok;

  store.stop();
  store.shutdown();
  return ok ? 0 : 1;
}
