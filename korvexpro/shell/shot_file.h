#pragma once

// Saves a widget as the documentation pictures show it: grabbed, under a plain caption bar with
// its window title (the virtual display the pictures are made on has no window manager to draw
// one). Used by the picture programs only.

#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include "wendle/fonts.h"

namespace Kvx {

inline bool SaveShot(QWidget& widget, const QDir& out, const QString& name, bool caption, const char* program) {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  const QPixmap body = widget.grab();
  const int top = caption ? 30 : 0;
  QPixmap shot(body.width(), body.height() + top);
  shot.fill(QColor(0xd8, 0xdc, 0xe2));
  QPainter painter(&shot);
  if (caption) {
    QFont font = Wendle::ChineseFont();
    font.setPixelSize(14);
    font.setWeight(QFont::Bold);
    painter.setFont(font);
    painter.setPen(QColor(0x20, 0x20, 0x20));
    painter.drawText(QRect(10, 0, body.width() - 20, top), Qt::AlignVCenter | Qt::AlignLeft, widget.windowTitle());
  }
  painter.drawPixmap(0, top, body);
  painter.end();
  const QString file = out.filePath(name);
  if (!shot.save(file, "PNG")) {
    std::fprintf(stderr, "%s: cannot write %s\n", program, qUtf8Printable(file));
    return false;
  }
  std::printf("%s\n", qUtf8Printable(file));
  return true;
}

}  // namespace Kvx
