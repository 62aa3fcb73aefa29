#pragma once
// Quillmark's icon, drawn rather than loaded, so the window icon needs no image plugin or resource file:
// slanted amber segment digits over an LTC square wave on a dark rounded square. The installed PNGs are
// made from the same drawing (tools/make_icons.cpp).
// Threads: main thread (QPainter on a QImage is fine anywhere, QIcon is not).

#include <QIcon>
#include <QImage>

namespace quillmark {

QImage appIconImage(int size);
// The icon at the sizes a desktop asks for.
QIcon appIcon();

}  // namespace quillmark
