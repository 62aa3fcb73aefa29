#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/timecode_store.h"
#include "ui/artnet_sections.h"
#include "ui/detail_rows.h"
#include "ui/generator_section.h"
#include "ui/info_line.h"
#include "ui/input_sections.h"
#include "ui/live_views.h"
#include "ui/log_section.h"
#include "ui/output_section.h"
#include "ui/section_support.h"
#include "ui/segmented_picker.h"
#include "ui/system_colors.h"

namespace quillmark {

namespace {

// A window with an arrow leaving it: "show this in a window of its own".
QIcon popOutIcon(const QColor& ink) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QPen pen(ink, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter.setPen(pen);
  painter.drawPolyline(QPolygonF{{14, 6}, {6, 6}, {6, 26}, {26, 26}, {26, 18}});
  painter.drawLine(QPointF(15, 17), QPointF(26, 6));
  painter.drawPolyline(QPolygonF{{18, 6}, {26, 6}, {26, 14}});
  painter.end();
  return QIcon(pixmap);
}

}  // namespace

MainWindow::MainWindow(TimecodeStore& store, QWidget* parent) : QMainWindow(parent), store_(&store) {
  setWindowTitle(titleFor(store.profile()));
  setObjectName(QStringLiteral("main"));

  content_ = new QWidget(this);
  content_->setFocusPolicy(Qt::ClickFocus);  // a click on empty space takes focus from the controls
  content_->installEventFilter(this);
  auto* column = new QVBoxLayout(content_);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(makeSourcePicker());
  column->addWidget(makeTimecodeDisplay());
  column->addWidget(makeForm(), 1);
  auto* divider = new QFrame(content_);
  divider->setFrameShape(QFrame::HLine);
  divider->setFrameShadow(QFrame::Sunken);
  column->addWidget(divider);
  column->addWidget(makeFooter());
  setCentralWidget(content_);
  makeMenus();

  setFixedWidth(kWidth);
  setMinimumHeight(kMinimumHeight);
  resize(kWidth, kIdealHeight);

  connect(&store, &TimecodeStore::settingsChanged, this, &MainWindow::showSource);
  connect(&store, &TimecodeStore::statusChanged, this, &MainWindow::showDetails);
  connect(&store.details(), &DetailStatus::statusChanged, this, &MainWindow::showDetails);
  // The MIDI client is opened again, perhaps under another name, when a JACK server comes back.
  connect(&store, &TimecodeStore::midiSourcesChanged, this, &MainWindow::showPortsName);
  timecode_->follow(&store.live());
  showSource();
  showPaletteInks();
}

QString MainWindow::titleFor(const std::optional<std::string>& profile) {
  if (!profile) return QStringLiteral("Quillmark");
  return QStringLiteral("Quillmark (") + QString::fromStdString(*profile) + QStringLiteral(")");
}

QAbstractButton* MainWindow::sourceButton(SourceKind source) const {
  return sources_->button(static_cast<int>(source));
}

QWidget* MainWindow::makeSourcePicker() {
  auto* row = new QWidget(content_);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(24, 16, 24, 0);
  layout->setSpacing(0);
  auto* picker = new SegmentedPicker(row);
  for (SourceKind kind : kAllSourceKinds) {
    const auto raw = rawValue(kind);
    picker->addSegment(QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size())),
                       static_cast<int>(kind));
  }
  sources_ = picker->group();
  layout->addWidget(picker);
  connect(sources_, &QButtonGroup::idClicked, this, [this](int id) {
    if (!store_) return;
    Settings settings = store_->settings();
    settings.source = static_cast<SourceKind>(id);
    store_->setSettings(settings);
  });
  return row;
}

QWidget* MainWindow::makeTimecodeDisplay() {
  auto* display = new QWidget(content_);
  auto* column = new QVBoxLayout(display);
  column->setContentsMargins(0, 14, 0, 14);
  column->setSpacing(2);
  timecode_ = new LiveTimecodeLabel(display);
  column->addWidget(timecode_);
  auto* infoRow = new QHBoxLayout;
  infoRow->setContentsMargins(24, 0, 24, 0);
  info_ = new InfoLine(display);
  popOut_ = new QToolButton(display);
  popOut_->setAutoRaise(true);
  popOut_->setIconSize(QSize(16, 16));
  popOut_->setToolTip(QStringLiteral("Open the timecode display"));
  popOut_->setAccessibleName(QStringLiteral("Timecode Display"));
  popOut_->setFocusPolicy(Qt::TabFocus);
  connect(popOut_, &QToolButton::clicked, this, &MainWindow::displayRequested);
  infoRow->addWidget(info_, 1);
  infoRow->addWidget(popOut_, 0, Qt::AlignVCenter);
  column->addLayout(infoRow);
  return display;
}

QWidget* MainWindow::makeForm() {
  auto* scroll = new QScrollArea(content_);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setWidgetResizable(true);
  scroll->viewport()->setAutoFillBackground(false);

  scroll_ = scroll;
  auto* form = new QWidget(scroll);
  form_ = form;
  form->setAutoFillBackground(false);
  form->installEventFilter(this);
  auto* column = new QVBoxLayout(form);
  column->setContentsMargins(16, 4, 16, 12);
  column->setSpacing(12);
  ltc_ = new LTCInputSection(*store_, form);
  mtc_ = new MTCInputSection(*store_, form);
  generator_ = new GeneratorSection(*store_, form);
  outputs_ = new OutputSection(*store_, form);
  artnetIn_ = new ArtNetInputSection(*store_, form);
  artnetOut_ = new ArtNetOutputSection(*store_, form);
  details_ = new QGroupBox(QStringLiteral("Details"), form);
  auto* detailsLayout = new QVBoxLayout(details_);
  detailRows_ = new DetailRows(details_);
  detailsLayout->addWidget(detailRows_);
  auto* logBox = new QGroupBox(form);
  auto* logLayout = new QVBoxLayout(logBox);
  logLayout->setContentsMargins(6, 6, 6, 6);
  log_ = new LogSection(*store_, logBox);
  logLayout->addWidget(log_);
  for (QWidget* section : std::initializer_list<QWidget*>{ltc_, mtc_, artnetIn_, generator_, outputs_,
                                                          artnetOut_, details_, logBox}) {
    section->installEventFilter(this);
    column->addWidget(section);
  }
  alignLabelColumns({ltc_, mtc_, artnetIn_, generator_, outputs_, artnetOut_});
  column->addStretch(1);
  scroll->setWidget(form);
  return scroll;
}

QWidget* MainWindow::makeFooter() {
  auto* footer = new QWidget(content_);
  auto* row = new QHBoxLayout(footer);
  row->setContentsMargins(16, 8, 16, 8);
  ports_ = new QLabel(footer);
  ports_->setFont(captionFont(font()));
  showPortsName();
  setTextColor(ports_, ColorRole::tertiaryLabel);
  donate_ = new QLabel(footer);
  donate_->setFont(captionFont(font()));
  donate_->setTextFormat(Qt::RichText);
  donate_->setToolTip(QStringLiteral("Quillmark is free. Support its development."));
  donate_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  connect(donate_, &QLabel::linkActivated, this,
          [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });
  row->addWidget(ports_);
  row->addStretch(1);
  row->addWidget(donate_);
  return footer;
}

void MainWindow::makeMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* quit = file->addAction(QStringLiteral("&Quit"));
  quit->setShortcut(QKeySequence::Quit);
  quit->setMenuRole(QAction::QuitRole);
  connect(quit, &QAction::triggered, qApp, &QApplication::closeAllWindows);

  QMenu* window = menuBar()->addMenu(QStringLiteral("&Window"));
  QAction* minimize = window->addAction(QStringLiteral("Mi&nimize"));
  minimize->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
  connect(minimize, &QAction::triggered, this, &QWidget::showMinimized);
  window->addSeparator();
  displayAction_ = window->addAction(QStringLiteral("Timecode Display"));
  displayAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
  displayAction_->setShortcutContext(Qt::ApplicationShortcut);
  connect(displayAction_, &QAction::triggered, this, &MainWindow::displayRequested);
}

void MainWindow::showSource() {
  if (!store_) return;
  const SourceKind source = store_->settings().source;
  if (QAbstractButton* button = sourceButton(source); !button->isChecked()) button->setChecked(true);
  ltc_->setVisible(source == SourceKind::ltc);
  mtc_->setVisible(source == SourceKind::mtc);
  artnetIn_->setVisible(source == SourceKind::artnet);
  generator_->setVisible(source == SourceKind::generator);
  details_->setVisible(source != SourceKind::generator);
  showDetails();
}

void MainWindow::showDetails() {
  if (!store_) return;
  const SourceKind source = store_->settings().source;
  info_->show(source, store_->details().status());
  if (source != SourceKind::generator) detailRows_->show(source, store_->details().status());
}

void MainWindow::showPortsName() {
  // The name other programs list Quillmark's MIDI ports under; a second instance gets a numbered one.
  const QString name =
      store_ ? QString::fromStdString(store_->midiClientName()) : QStringLiteral("Quillmark");
  ports_->setText(QStringLiteral("MIDI ports: \u201C%1\u201D").arg(name));
}

void MainWindow::showPaletteInks() {
  popOut_->setIcon(popOutIcon(systemColor(ColorRole::secondaryLabel, palette())));
  // A rich-text label keeps the link colour it was given its text with, so the text is given again.
  donate_->setText(QStringLiteral("<a href=\"%1\" style=\"text-decoration:none; color:%2\">\u2665 Donate</a>")
                       .arg(QString::fromLatin1(kDonateAddress), palette().color(QPalette::Link).name()));
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::PaletteChange && popOut_ && donate_) showPaletteInks();
}

int MainWindow::fittingHeight() const {
  // The window's height less the form's visible part, plus all the form needs at the viewport's width.
  const int viewport = scroll_->viewport()->height();
  const int width = scroll_->viewport()->width();
  const int form = form_->hasHeightForWidth() ? form_->heightForWidth(width) : form_->sizeHint().height();
  return std::max(kMinimumHeight, height() - viewport + form);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shownBefore_) return;
  shownBefore_ = true;
  // The window opens tall enough for everything the settings show (both outputs on, the LTC details),
  // as far as the screen allows; content that grows later scrolls.
  // Layouts settle bottom-up on posted events; the sections' own ones are settled first here, so that the
  // form's size hint already counts every row it shows.
  for (QWidget* widget : form_->findChildren<QWidget*>())
    if (widget->layout()) widget->layout()->activate();
  form_->layout()->activate();
  layout()->activate();
  // The title bar and frame come out of the screen's height too, as far as the window system has said.
  const int frame = frameGeometry().height() - geometry().height();
  const int available = screen() ? screen()->availableGeometry().height() - frame : kIdealHeight;
  const int fitting = std::min(fittingHeight(), std::max(height(), available));
  if (fitting > height()) resize(width(), fitting);
  // Queued, so that it runs after Qt has given the first control focus on activation.
  QTimer::singleShot(0, this, &MainWindow::dropFocus);
}

void MainWindow::dropFocus() {
  // Focus moves to the window's background, which is no text field: the space bar then reaches the
  // transport.
  content_->setFocus(Qt::OtherFocusReason);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // A click on an empty part of the window (the background, the form's margins or a section's frame)
  // takes focus from whatever control holds it.
  if (event->type() == QEvent::MouseButtonPress) QTimer::singleShot(0, this, &MainWindow::dropFocus);
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace quillmark
