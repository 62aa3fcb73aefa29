#include "ui/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "ui/seven_segment.h"

namespace quillmark {

QImage appIconImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 256.0, size / 256.0);

  // The tile: a dark rounded square with a faint top light, inset like the desktop's own app icons.
  const QRectF tile(16, 16, 224, 224);
  QLinearGradient shade(tile.topLeft(), tile.bottomLeft());
  shade.setColorAt(0, QColor(0x3a, 0x3d, 0x46));
  shade.setColorAt(1, QColor(0x1c, 0x1d, 0x22));
  QPainterPath body;
  body.addRoundedRect(tile, 44, 44);
  painter.fillPath(body, shade);
  painter.setPen(QPen(QColor(255, 255, 255, 28), 2));
  painter.drawPath(body);

  // Two slanted segment digits, lit amber over their unlit ghosts. The geometry works upwards from a
  // bottom-left origin; flip it into the tile.
  const QRectF digits(40, 52, 176, 112);
  const auto layout = sevensegment::layoutSegments(QRectF(0, 0, digits.width(), digits.height()), "10", true);
  const auto outlines = sevensegment::segmentPaths("10", layout, true);
  painter.save();
  painter.translate(digits.left(), digits.bottom());
  painter.scale(1, -1);
  painter.fillPath(outlines.ghost, QColor(0xff, 0xb0, 0x20, 40));
  painter.fillPath(outlines.lit, QColor(0xff, 0xb0, 0x20));
  painter.restore();

  // An LTC-like biphase square wave along the bottom.
  QPainterPath wave;
  const double low = 206, high = 186;
  const double edges[] = {44, 62, 71, 80, 98, 116, 125, 134, 152, 170, 179, 188, 212};
  double y = low;
  wave.moveTo(edges[0], y);
  for (std::size_t i = 1; i < std::size(edges); ++i) {
    wave.lineTo(edges[i], y);
    if (i + 1 < std::size(edges)) {
      y = y == low ? high : low;
      wave.lineTo(edges[i], y);
    }
  }
  painter.setPen(QPen(QColor(0x5b, 0xc8, 0xd8), 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(wave);
  painter.end();
  return image;
}

QIcon appIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(appIconImage(size)));
  return icon;
}

}  // namespace quillmark
