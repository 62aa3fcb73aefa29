#include "ui/system_colors.h"

#include <utility>
#include <vector>

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace quillmark {

namespace {

QColor withAlpha(QColor color, double alpha) {
  color.setAlphaF(static_cast<float>(alpha));
  return color;
}

// Keeps a widget's named colours resolved. A widget given its own palette keeps those entries when the
// application's palette changes (Qt resolves only the entries it was not given), so every change of the
// inherited palette re-resolves them here. Owned by the widget it serves.
class PaletteFollower : public QObject {
 public:
  explicit PaletteFollower(QWidget* widget) : QObject(widget), widget_(widget) {
    setObjectName(QStringLiteral("quillmark-palette-follower"));
    widget->installEventFilter(this);
  }

  static PaletteFollower* of(QWidget* widget, bool create) {
    auto* follower = widget->findChild<PaletteFollower*>(QStringLiteral("quillmark-palette-follower"),
                                                         Qt::FindDirectChildrenOnly);
    if (!follower && create) follower = new PaletteFollower(widget);
    return follower;
  }

  void set(QPalette::ColorRole target, std::optional<ColorRole> role) {
    std::erase_if(entries_, [&](const auto& entry) { return entry.first == target; });
    if (role) entries_.emplace_back(target, *role);
    apply();
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == widget_ && event->type() == QEvent::PaletteChange) apply();
    return false;
  }

 private:
  // Rebuilds the widget's own palette from its entries alone, over what it inherits: setting an equal
  // palette sends no change event, so resolving from within that event ends there.
  void apply() {
    if (applying_) return;
    applying_ = true;
    const QWidget* parent = widget_->isWindow() ? nullptr : widget_->parentWidget();
    const QPalette inherited = parent ? parent->palette() : QApplication::palette(widget_);
    QPalette own;
    own.setResolveMask(0);
    for (const auto& [target, role] : entries_) own.setColor(target, systemColor(role, inherited));
    widget_->setPalette(own);
    applying_ = false;
  }

  QWidget* widget_;  // the parent
  std::vector<std::pair<QPalette::ColorRole, ColorRole>> entries_;
  bool applying_ = false;
};

}  // namespace

QColor systemColor(ColorRole role, const QPalette& palette) {
  const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
  switch (role) {
    case ColorRole::label:
      return text;
    case ColorRole::secondaryLabel:
      return withAlpha(text, 0.62);
    case ColorRole::tertiaryLabel:
      return withAlpha(text, 0.38);
    case ColorRole::red:
      return QColor(0xe0, 0x1b, 0x24);
    case ColorRole::orange:
      return QColor(0xff, 0x78, 0x00);
    case ColorRole::yellow:
      return QColor(0xf6, 0xd3, 0x2d);
    case ColorRole::green:
      return QColor(0x33, 0xd1, 0x7a);
    case ColorRole::accent:
      return palette.color(QPalette::Active, QPalette::Highlight);
    case ColorRole::onAccent:
      return palette.color(QPalette::Active, QPalette::HighlightedText);
  }
  return text;
}

void setTextColor(QWidget* widget, ColorRole role, QPalette::ColorRole target) {
  PaletteFollower::of(widget, true)->set(target, role);
}

void clearTextColor(QWidget* widget, QPalette::ColorRole target) {
  if (PaletteFollower* follower = PaletteFollower::of(widget, false)) follower->set(target, std::nullopt);
}

QFont captionFont(const QFont& base) {
  QFont font = base;
  font.setPointSizeF(base.pointSizeF() * 0.85);
  return font;
}

}  // namespace quillmark
