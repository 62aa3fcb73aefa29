#pragma once
// savePng: writes a grabbed picture for the screenshot tools and names the file on standard output, or says
// on standard error that it could not.

#include <QDir>
#include <QPixmap>
#include <QString>
#include <cstdio>

namespace quillmark {

inline bool savePng(const QPixmap& pixmap, const QDir& directory, const QString& name) {
  const QString path = directory.filePath(name);
  if (!pixmap.save(path)) {
    std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace quillmark
