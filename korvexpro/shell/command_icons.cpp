#include "shell/command_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>
#include <QLinearGradient>
#include <QTransform>

#include <cstdlib>
#include <functional>

#include <QImage>

namespace Kvx {
namespace {

// Every pictogram is drawn on a 32 by 32 grid and scaled to the icon's size.
constexpr double kGrid = 32.0;

const QColor kInk(0x33, 0x3d, 0x4a);
const QColor kBlue(0x2f, 0x6f, 0xb8);
const QColor kGreen(0x2e, 0x8b, 0x57);
const QColor kRed(0xc8, 0x3a, 0x32);
const QColor kAmber(0xe0, 0x9a, 0x1f);
const QColor kPaper(0xfb, 0xfb, 0xf8);
const QColor kPurple(0x7b, 0x4f, 0xa8);

QPen Pen(const QColor& colour, double width) {
  QPen pen(colour, width);
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  return pen;
}

// A sheet of paper with a folded corner in the rectangle (x, y, w, h).
void Sheet(QPainter& p, double x, double y, double w, double h, const QColor& edge = kInk) {
  const double fold = w * 0.3;
  QPainterPath path;
  path.moveTo(x, y);
  path.lineTo(x + w - fold, y);
  path.lineTo(x + w, y + fold);
  path.lineTo(x + w, y + h);
  path.lineTo(x, y + h);
  path.closeSubpath();
  p.setPen(Pen(edge, 1.5));
  p.setBrush(kPaper);
  p.drawPath(path);
  p.drawPolyline(QPolygonF({QPointF(x + w - fold, y), QPointF(x + w - fold, y + fold), QPointF(x + w, y + fold)}));
}

void FolderShape(QPainter& p, double x, double y, double w, double h) {
  QPainterPath path;
  path.moveTo(x, y + 3);
  path.lineTo(x + w * 0.38, y + 3);
  path.lineTo(x + w * 0.48, y);
  path.lineTo(x + w, y);
  path.lineTo(x + w, y + h);
  path.lineTo(x, y + h);
  path.closeSubpath();
  p.setPen(Pen(QColor(0xa8, 0x74, 0x10), 1.5));
  p.setBrush(QColor(0xf4, 0xc4, 0x4e));
  p.drawPath(path);
}

void Badge(QPainter& p, const QColor& fill, double cx, double cy, double r) {
  p.setPen(Pen(Qt::white, 1.2));
  p.setBrush(fill);
  p.drawEllipse(QPointF(cx, cy), r, r);
}

void Plus(QPainter& p, double cx, double cy, double r) {
  p.setPen(Pen(Qt::white, 2.2));
  p.drawLine(QPointF(cx - r, cy), QPointF(cx + r, cy));
  p.drawLine(QPointF(cx, cy - r), QPointF(cx, cy + r));
}

void Check(QPainter& p, double x, double y, double s, const QColor& colour) {
  p.setPen(Pen(colour, 2.4));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF({QPointF(x, y + s * 0.5), QPointF(x + s * 0.38, y + s * 0.88), QPointF(x + s, y)}));
}

void Cross(QPainter& p, double cx, double cy, double r, const QColor& colour, double width = 2.4) {
  p.setPen(Pen(colour, width));
  p.drawLine(QPointF(cx - r, cy - r), QPointF(cx + r, cy + r));
  p.drawLine(QPointF(cx - r, cy + r), QPointF(cx + r, cy - r));
}

// List rows: three lines with boxes in front.
void ListRows(QPainter& p, const QColor& boxes) {
  for (int i = 0; i < 3; ++i) {
    const double y = 7 + i * 8;
    p.setPen(Pen(kInk, 1.2));
    p.setBrush(boxes);
    p.drawRect(QRectF(4, y - 2.5, 5, 5));
    p.setPen(Pen(kInk, 2));
    p.drawLine(QPointF(12, y), QPointF(27, y));
  }
}

void Window(QPainter& p, double x, double y, double w, double h) {
  p.setPen(Pen(kInk, 1.5));
  p.setBrush(kPaper);
  p.drawRect(QRectF(x, y, w, h));
  p.setBrush(kBlue);
  p.drawRect(QRectF(x, y, w, 4));
}

void PointSymbols(QPainter& p) {
  p.setPen(Pen(Qt::white, 1.2));
  p.setBrush(kRed);
  p.drawEllipse(QPointF(9, 10), 4, 4);
  p.setBrush(kBlue);
  p.drawEllipse(QPointF(22, 14), 4, 4);
  p.setBrush(kGreen);
  p.drawEllipse(QPointF(12, 23), 4, 4);
}

void LineSymbols(QPainter& p, const QColor& colour) {
  p.setPen(Pen(colour, 2.6));
  p.setBrush(Qt::NoBrush);
  QPainterPath path;
  path.moveTo(3, 24);
  path.cubicTo(10, 4, 16, 30, 29, 8);
  p.drawPath(path);
}

void RegionShape(QPainter& p, const QColor& fill, bool hole) {
  QPainterPath path;
  path.moveTo(5, 8);
  path.lineTo(20, 4);
  path.lineTo(28, 14);
  path.lineTo(24, 27);
  path.lineTo(7, 26);
  path.closeSubpath();
  if (hole) path.addEllipse(QPointF(16, 16), 4, 4);
  path.setFillRule(Qt::OddEvenFill);
  p.setPen(Pen(kInk, 1.5));
  p.setBrush(fill);
  p.drawPath(path);
}

void Globe(QPainter& p) {
  p.setPen(Pen(kBlue, 1.8));
  p.setBrush(QColor(0xdd, 0xea, 0xf8));
  p.drawEllipse(QPointF(16, 16), 12, 12);
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(16, 16), 5, 12);
  p.drawLine(QPointF(4, 16), QPointF(28, 16));
  p.drawLine(QPointF(6, 10), QPointF(26, 10));
  p.drawLine(QPointF(6, 22), QPointF(26, 22));
}

void Glyph(QPainter& p, const QString& text, const QRectF& box, const QColor& colour, double size, bool bold = true) {
  QFont font = p.font();
  font.setPixelSize(static_cast<int>(size));
  font.setBold(bold);
  p.setFont(font);
  p.setPen(colour);
  p.drawText(box, Qt::AlignCenter, text);
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& colour) {
  p.setPen(Pen(colour, 2.4));
  p.drawLine(from, to);
  const QLineF line(to, from);
  QLineF a = line;
  a.setLength(6);
  a.setAngle(line.angle() + 35);
  QLineF b = line;
  b.setLength(6);
  b.setAngle(line.angle() - 35);
  p.drawLine(a);
  p.drawLine(b);
}

void Draw(QPainter& p, Pictogram pictogram) {
  switch (pictogram) {
    case Pictogram::Folder:
      FolderShape(p, 3, 7, 26, 19);
      p.setPen(Pen(kInk, 2));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QPointF(17, 17), 4, 4);
      p.drawLine(QPointF(20, 20), QPointF(24, 24));
      break;
    case Pictogram::AddFile:
      Sheet(p, 5, 3, 18, 24);
      Badge(p, kGreen, 23, 23, 7);
      Plus(p, 23, 23, 3.5);
      break;
    case Pictogram::SelectAll:
      ListRows(p, QColor(0xbf, 0xe3, 0xc8));
      Check(p, 17, 17, 11, kGreen);
      break;
    case Pictogram::SelectNone:
      ListRows(p, kPaper);
      Cross(p, 23, 23, 4, kInk, 2);
      break;
    case Pictogram::Invert:
      ListRows(p, kPaper);
      Arrow(p, QPointF(27, 26), QPointF(18, 26), kBlue);
      break;
    case Pictogram::RemoveSel:
      ListRows(p, QColor(0xf6, 0xc9, 0xc4));
      Badge(p, kRed, 23, 23, 7);
      p.setPen(Pen(Qt::white, 2.2));
      p.drawLine(QPointF(19.5, 23), QPointF(26.5, 23));
      break;
    case Pictogram::ClearAll:
      p.setPen(Pen(kInk, 1.5));
      p.setBrush(QColor(0xd9, 0xdd, 0xe3));
      p.drawRect(QRectF(8, 9, 16, 19));
      p.drawLine(QPointF(5, 9), QPointF(27, 9));
      p.drawRect(QRectF(13, 5, 6, 4));
      for (double x : {12.0, 16.0, 20.0}) p.drawLine(QPointF(x, 13), QPointF(x, 24));
      break;
    case Pictogram::ExportList:
      Sheet(p, 4, 3, 18, 24);
      p.setPen(Pen(kInk, 1.4));
      for (double y : {12.0, 16.0, 20.0}) p.drawLine(QPointF(8, y), QPointF(18, y));
      Arrow(p, QPointF(18, 24), QPointF(29, 24), kGreen);
      break;
    case Pictogram::Settings: {
      p.setPen(Pen(kInk, 1.5));
      p.setBrush(QColor(0xc7, 0xcf, 0xda));
      QPainterPath gear;
      for (int i = 0; i < 8; ++i) {
        QTransform t;
        t.translate(16, 16);
        t.rotate(i * 45.0);
        gear.addPolygon(t.map(QPolygonF(QRectF(-2.5, -13, 5, 6))));
      }
      gear.addEllipse(QPointF(16, 16), 9, 9);
      gear = gear.simplified();
      QPainterPath hole;
      hole.addEllipse(QPointF(16, 16), 3.5, 3.5);
      p.drawPath(gear.subtracted(hole));
      break;
    }
    case Pictogram::InfoPane:
      Window(p, 3, 5, 26, 22);
      Badge(p, kBlue, 16, 17, 6.5);
      Glyph(p, QStringLiteral("i"), QRectF(10, 11, 12, 12), Qt::white, 10);
      break;
    case Pictogram::LogPane:
      Window(p, 3, 5, 26, 22);
      p.setPen(Pen(kInk, 1.4));
      for (double y : {14.0, 18.0, 22.0}) {
        p.drawLine(QPointF(6, y), QPointF(11, y));
        p.drawLine(QPointF(13, y), QPointF(26, y));
      }
      break;
    case Pictogram::Restore:
      Window(p, 3, 5, 26, 22);
      p.setPen(Pen(kInk, 1.2));
      p.setBrush(QColor(0xdd, 0xea, 0xf8));
      p.drawRect(QRectF(3, 19, 26, 8));
      Arrow(p, QPointF(16, 11), QPointF(16, 19), kGreen);
      break;
    case Pictogram::Points:
      PointSymbols(p);
      break;
    case Pictogram::Lines:
      LineSymbols(p, kBlue);
      break;
    case Pictogram::Regions:
      RegionShape(p, QColor(0x9c, 0xcf, 0x8f), false);
      break;
    case Pictogram::AllLayers:
      RegionShape(p, QColor(0xf2, 0xd6, 0x8c), false);
      LineSymbols(p, kBlue);
      p.setPen(Pen(Qt::white, 1.2));
      p.setBrush(kRed);
      p.drawEllipse(QPointF(22, 22), 3.5, 3.5);
      break;
    case Pictogram::Texts:
      Glyph(p, QStringLiteral("文"), QRectF(2, 2, 28, 28), kInk, 22);
      p.setPen(Pen(kRed, 2));
      p.drawLine(QPointF(5, 29), QPointF(27, 29));
      break;
    case Pictogram::Arcs:
      RegionShape(p, QColor(0xe8, 0xee, 0xf4), false);
      p.setPen(Pen(kRed, 3));
      p.drawLine(QPointF(20, 4), QPointF(28, 14));
      p.drawLine(QPointF(28, 14), QPointF(24, 27));
      p.setBrush(kRed);
      for (QPointF v : {QPointF(20, 4), QPointF(28, 14), QPointF(24, 27)}) p.drawEllipse(v, 1.6, 1.6);
      break;
    case Pictogram::NetNodes:
      p.setPen(Pen(kInk, 1.8));
      p.drawLine(QPointF(7, 8), QPointF(24, 9));
      p.drawLine(QPointF(7, 8), QPointF(10, 25));
      p.drawLine(QPointF(24, 9), QPointF(25, 24));
      p.drawLine(QPointF(10, 25), QPointF(25, 24));
      p.setPen(Pen(Qt::white, 1.2));
      p.setBrush(kPurple);
      for (QPointF v : {QPointF(7, 8), QPointF(24, 9), QPointF(10, 25), QPointF(25, 24)}) p.drawEllipse(v, 3.6, 3.6);
      break;
    case Pictogram::Spreadsheet:
      p.setPen(Pen(QColor(0x1e, 0x6e, 0x3c), 1.5));
      p.setBrush(kPaper);
      p.drawRect(QRectF(4, 5, 24, 22));
      p.setBrush(QColor(0x2e, 0x8b, 0x57));
      p.drawRect(QRectF(4, 5, 24, 5));
      p.setPen(Pen(QColor(0x1e, 0x6e, 0x3c), 1));
      for (double y : {15.0, 20.0}) p.drawLine(QPointF(4, y), QPointF(28, y));
      for (double x : {12.0, 20.0}) p.drawLine(QPointF(x, 10), QPointF(x, 27));
      break;
    case Pictogram::LegendTable:
      p.setPen(Pen(kInk, 1.2));
      for (int i = 0; i < 3; ++i) {
        const double y = 5 + i * 8;
        p.setBrush(i == 0 ? kRed : i == 1 ? kAmber : kGreen);
        p.drawRect(QRectF(4, y, 8, 6));
        p.setPen(Pen(kInk, 1.8));
        p.drawLine(QPointF(15, y + 3), QPointF(28, y + 3));
        p.setPen(Pen(kInk, 1.2));
      }
      break;
    case Pictogram::LegendCode:
      p.setPen(Pen(kInk, 1.2));
      p.setBrush(kAmber);
      p.drawRect(QRectF(3, 4, 12, 10));
      Glyph(p, QStringLiteral("01"), QRectF(12, 14, 18, 16), kBlue, 12);
      break;
    case Pictogram::Avl:
      Sheet(p, 4, 3, 22, 26);
      p.setPen(Pen(kInk, 1));
      p.setBrush(kRed);
      p.drawRect(QRectF(8, 11, 5, 4));
      p.setBrush(kGreen);
      p.drawRect(QRectF(8, 18, 5, 4));
      p.setPen(Pen(kInk, 1.4));
      p.drawLine(QPointF(15, 13), QPointF(22, 13));
      p.drawLine(QPointF(15, 20), QPointF(22, 20));
      Glyph(p, QStringLiteral("AVL"), QRectF(4, 22, 22, 8), kBlue, 7);
      break;
    case Pictogram::WebHome:
      Globe(p);
      break;
    case Pictogram::Tutorial:
      p.setPen(Pen(kInk, 1.5));
      p.setBrush(QColor(0xdd, 0xea, 0xf8));
      p.drawPolygon(QPolygonF({QPointF(3, 8), QPointF(16, 11), QPointF(16, 28), QPointF(3, 25)}));
      p.setBrush(QColor(0xf6, 0xe7, 0xc1));
      p.drawPolygon(QPolygonF({QPointF(29, 8), QPointF(16, 11), QPointF(16, 28), QPointF(29, 25)}));
      break;
    case Pictogram::Help:
      Badge(p, kBlue, 16, 16, 13);
      Glyph(p, QStringLiteral("?"), QRectF(3, 3, 26, 26), Qt::white, 20);
      break;
    case Pictogram::Update: {
      p.setPen(Pen(kGreen, 3));
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(5, 5, 22, 22), 30 * 16, 280 * 16);
      Arrow(p, QPointF(26, 9), QPointF(26.5, 11), kGreen);
      break;
    }
    case Pictogram::About:
      Badge(p, kBlue, 16, 16, 13);
      Glyph(p, QStringLiteral("i"), QRectF(3, 3, 26, 26), Qt::white, 20);
      break;
    case Pictogram::Exit:
      p.setPen(Pen(kInk, 1.6));
      p.setBrush(QColor(0xe3, 0xd5, 0xc3));
      p.drawRect(QRectF(5, 4, 13, 24));
      Arrow(p, QPointF(13, 16), QPointF(29, 16), kRed);
      break;
    case Pictogram::Expand:
      ListRows(p, kPaper);
      Badge(p, kBlue, 23, 23, 6);
      Plus(p, 23, 23, 3);
      break;
    case Pictogram::Collapse:
      ListRows(p, kPaper);
      Badge(p, kBlue, 23, 23, 6);
      p.setPen(Pen(Qt::white, 2.2));
      p.drawLine(QPointF(20, 23), QPointF(26, 23));
      break;
    case Pictogram::Reveal:
      FolderShape(p, 3, 9, 24, 18);
      Arrow(p, QPointF(16, 3), QPointF(16, 18), kBlue);
      break;
    case Pictogram::Preview:
      Window(p, 3, 5, 26, 22);
      RegionShape(p, QColor(0x9c, 0xcf, 0x8f), true);
      break;
  }
}

QPixmap Render(double size, const std::function<void(QPainter&)>& body) {
  QPixmap pixmap(static_cast<int>(size), static_cast<int>(size));
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.scale(size / kGrid, size / kGrid);
  body(p);
  return pixmap;
}

// The pixmap with its ink lines (and their anti-aliased edges) drawn in a light grey instead.
QPixmap LightInk(const QPixmap& pixmap) {
  QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
  const QColor light(0xd8, 0xdd, 0xe3);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const QRgb px = line[x];
      if (qAlpha(px) == 0) continue;
      if (std::abs(qRed(px) - kInk.red()) + std::abs(qGreen(px) - kInk.green()) + std::abs(qBlue(px) - kInk.blue()) < 40)
        line[x] = qRgba(light.red(), light.green(), light.blue(), qAlpha(px));
    }
  }
  return QPixmap::fromImage(image);
}

QIcon IconOf(const std::function<void(QPainter&)>& body, std::initializer_list<int> sizes, bool onDark = false) {
  QIcon icon;
  for (int size : sizes) icon.addPixmap(onDark ? LightInk(Render(size, body)) : Render(size, body));
  return icon;
}

}  // namespace

QIcon CommandIcon(Pictogram pictogram, bool onDark) {
  return IconOf([pictogram](QPainter& p) { Draw(p, pictogram); }, {16, 24, 32, 48}, onDark);
}

QIcon RowKindIcon(RowKind kind) {
  const auto body = [kind](QPainter& p) {
    switch (kind) {
      case RowKind::Project:
        FolderShape(p, 2, 6, 28, 22);
        p.setPen(Pen(kInk, 1.4));
        p.setBrush(kPaper);
        p.drawRect(QRectF(8, 12, 16, 12));
        p.setPen(Pen(kBlue, 2));
        p.drawLine(QPointF(10, 21), QPointF(22, 15));
        break;
      case RowKind::Point: PointSymbols(p); break;
      case RowKind::Line: LineSymbols(p, kBlue); break;
      case RowKind::Region: RegionShape(p, QColor(0x9c, 0xcf, 0x8f), true); break;
      case RowKind::Table:
        Draw(p, Pictogram::Spreadsheet);
        break;
      case RowKind::Network: Draw(p, Pictogram::NetNodes); break;
      case RowKind::None: Sheet(p, 6, 3, 20, 26); break;
    }
  };
  return IconOf(body, {16, 32});
}

QIcon ApplicationIcon() {
  const auto body = [](QPainter& p) {
    QLinearGradient back(0, 0, 0, kGrid);
    back.setColorAt(0, QColor(0x3c, 0x86, 0xd0));
    back.setColorAt(1, QColor(0x1d, 0x4f, 0x8c));
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    RegionShape(p, QColor(0xf2, 0xd6, 0x8c), false);
    p.setPen(Pen(Qt::white, 2.6));
    p.drawLine(QPointF(9, 20), QPointF(23, 12));
    Arrow(p, QPointF(9, 20), QPointF(23, 12), Qt::white);
  };
  return IconOf(body, {16, 24, 32, 48, 64, 128, 256});
}

}  // namespace Kvx
