#include "ui/system_colors.h"

#include <optional>
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

  void set(QPalette::ColorGroup group, QPalette::ColorRole target, std::optional<ColorRole> role,
           double opacity) {
    std::erase_if(entries_, [&](const Entry& e) { return e.group == group && e.target == target; });
    if (role) entries_.push_back({group, target, *role, opacity});
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
    // Entries for every group first, so that an entry for one group refines them.
    for (bool allGroups : {true, false}) {
      for (const Entry& e : entries_) {
        if ((e.group == QPalette::All) != allGroups) continue;
        QColor color = systemColor(e.role, inherited);
        color.setAlphaF(static_cast<float>(color.alphaF() * e.opacity));
        own.setColor(e.group, e.target, color);
      }
    }
    widget_->setPalette(own);
    applying_ = false;
  }

  struct Entry {
    QPalette::ColorGroup group;
    QPalette::ColorRole target;
    ColorRole role;
    double opacity;
  };
  QWidget* widget_;  // the parent
  std::vector<Entry> entries_;
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
  PaletteFollower::of(widget, true)->set(QPalette::All, target, role, 1.0);
}

void setDisabledColor(QWidget* widget, ColorRole role, double opacity, QPalette::ColorRole target) {
  PaletteFollower::of(widget, true)->set(QPalette::Disabled, target, role, opacity);
}

void clearTextColor(QWidget* widget, QPalette::ColorRole target) {
  if (PaletteFollower* follower = PaletteFollower::of(widget, false))
    follower->set(QPalette::All, target, std::nullopt, 1.0);
}

QFont captionFont(const QFont& base) {
  QFont font = base;
  font.setPointSizeF(base.pointSizeF() * 0.85);
  return font;
}

}  // namespace quillmark
