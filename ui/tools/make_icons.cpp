// Writes Quillmark's icon as PNG files in the freedesktop icon theme layout:
// <directory>/hicolor/<N>x<N>/apps/quillmark.png for the usual sizes.
// Usage: quillmark-make-icons [directory]   (default: data/icons)

#include <cstdio>
#include <cstdlib>

#include <QDir>
#include <QGuiApplication>

#include "ui/app_icon.h"

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("data/icons");
  for (int size : {16, 24, 32, 48, 64, 128, 256, 512}) {
    const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(root).arg(size);
    const QString path = dir + QStringLiteral("/quillmark.png");
    if (!QDir().mkpath(dir) || !quillmark::appIconImage(size).save(path)) {
      std::fprintf(stderr, "could not write %s\n", qPrintable(path));
      return 1;
    }
    std::printf("%s\n", qPrintable(path));
  }
  return 0;
}
