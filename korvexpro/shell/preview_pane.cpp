#include "shell/preview_pane.h"

#include <shapefil.h>

#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "vordex/text_encoding.h"
#include "wendle/fonts.h"

namespace Kvx {

namespace {

struct ShpCloser {
  void operator()(SHPHandle h) const { SHPClose(h); }
};
struct DbfCloser {
  void operator()(DBFHandle h) const { DBFClose(h); }
};
struct ObjectDeleter {
  void operator()(SHPObject* o) const { SHPDestroyObject(o); }
};

// Colours of layers whose table says nothing about them, one per layer in turn.
const QColor kLayerColours[] = {QColor(90, 120, 170), QColor(200, 110, 60), QColor(80, 150, 90),
                                QColor(150, 90, 160), QColor(120, 120, 120)};

QString FileText(const std::filesystem::path& path) {
  QFile f(QString::fromStdString(path.string()));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.read(4096)).trimmed();
}

// A table's text in UTF-8: GBK unless its .cpg says UTF-8.
class TableText {
 public:
  explicit TableText(const std::filesystem::path& base) {
    const QString cpg = FileText(std::filesystem::path(base.native() + ".cpg")).toUpper();
    utf8_ = cpg == "UTF-8" || cpg == "UTF8" || cpg == "65001";
  }
  QString operator()(const char* raw) const {
    if (!raw) return {};
    return QString::fromStdString(utf8_ ? std::string(raw) : MapGis::GbkToUtf8(raw)).trimmed();
  }

 private:
  bool utf8_ = false;
};

double NiceLength(double atMost) {
  if (!(atMost > 0) || !std::isfinite(atMost)) return 0;
  const double power = std::pow(10.0, std::floor(std::log10(atMost)));
  for (const double step : {5.0, 2.0, 1.0})
    if (step * power <= atMost) return step * power;
  return power;
}

}  // namespace

std::optional<QColor> ColourOfLegendCode(const QString& code) {
  // Symbol (4 hex digits), then the colour as packed RGB (8).
  if (code.size() < 12) return std::nullopt;
  bool ok = false;
  const unsigned long long packed = code.mid(4, 8).toULongLong(&ok, 16);
  if (!ok) return std::nullopt;
  return ColourOfPackedRgb(static_cast<long long>(packed));
}

QColor ColourOfPackedRgb(long long packed) {
  return QColor(static_cast<int>(packed & 0xFF), static_cast<int>((packed >> 8) & 0xFF),
                static_cast<int>((packed >> 16) & 0xFF));
}

CPreviewPane::CPreviewPane(QWidget* parent) : QWidget(parent) {
  setMinimumSize(200, 150);
  setMouseTracking(false);
  setAutoFillBackground(false);
  setCursor(Qt::OpenHandCursor);
}

int CPreviewPane::TextCount() const {
  return static_cast<int>(std::count_if(features_.begin(), features_.end(),
                                        [](const Feature& f) { return f.kind == Kind::Text; }));
}

void CPreviewPane::Clear() {
  features_.clear();
  extent_ = QRectF();
  truncated_ = false;
  geographic_ = false;
  problems_.clear();
  update();
}

void CPreviewPane::ShowOutputs(const std::vector<std::filesystem::path>& bases) {
  Clear();
  std::size_t vertices = 0;
  for (std::size_t i = 0; i < bases.size(); ++i) Load(bases[i], i, vertices);
  // Regions under lines under points under texts.
  std::stable_sort(features_.begin(), features_.end(),
                   [](const Feature& a, const Feature& b) { return static_cast<int>(a.kind) < static_cast<int>(b.kind); });
  ZoomToExtent();
}

void CPreviewPane::Load(const std::filesystem::path& base, std::size_t layer, std::size_t& vertices) {
  const QString name = QString::fromStdString(base.filename().string());
  // A table's output has no shapes to draw.
  std::error_code ec;
  if (!std::filesystem::exists(base.native() + ".shp", ec) && !std::filesystem::exists(base.native() + ".SHP", ec) &&
      std::filesystem::exists(base.native() + ".dbf", ec)) {
    return;
  }
  std::unique_ptr<SHPInfo, ShpCloser> shp(SHPOpen(base.c_str(), "rb"));
  if (!shp) {
    problems_ << QStringLiteral("无法打开 %1.shp").arg(name);
    return;
  }
  std::unique_ptr<DBFInfo, DbfCloser> dbf(DBFOpen(base.c_str(), "rb"));
  const TableText text(base);
  if (FileText(std::filesystem::path(base.native() + ".prj")).startsWith("GEOGCS")) geographic_ = true;

  // The fields that say how a feature looks.
  int legend = -1, colour = -1, label = -1, labelColour = -1;
  const int fields = dbf ? DBFGetFieldCount(dbf.get()) : 0;
  for (int f = 0; f < fields; ++f) {
    char raw[XBASE_FLDNAME_LEN_READ + 1] = {0};
    DBFGetFieldInfo(dbf.get(), f, raw, nullptr, nullptr);
    const QString field = text(raw);
    if (field == "KVX_LEGEND") legend = f;
    else if (field == "KVX_LCOLR" || field == "KVX_RCOLR" || field == "KVX_SCOLR") colour = f;
    else if (field == "KVX_ACLR") labelColour = f;
    else if (field.startsWith(QStringLiteral("注释文"))) label = f;
  }
  const int records = dbf ? DBFGetRecordCount(dbf.get()) : 0;
  const QColor layerColour = kLayerColours[layer % std::size(kLayerColours)];

  int count = 0, type = 0;
  SHPGetInfo(shp.get(), &count, &type, nullptr, nullptr);
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<SHPObject, ObjectDeleter> o(SHPReadObject(shp.get(), i));
    if (!o || o->nVertices <= 0) continue;
    if (vertices + static_cast<std::size_t>(o->nVertices) > kMaxVertices) {
      truncated_ = true;
      return;
    }
    vertices += static_cast<std::size_t>(o->nVertices);
    Feature f;
    f.colour = layerColour;
    if (dbf && i < records) {
      if (legend >= 0) {
        if (auto c = ColourOfLegendCode(text(DBFReadStringAttribute(dbf.get(), i, legend)))) f.colour = *c;
      } else if (colour >= 0 && !DBFIsAttributeNULL(dbf.get(), i, colour)) {
        f.colour = ColourOfPackedRgb(static_cast<long long>(DBFReadDoubleAttribute(dbf.get(), i, colour)));
      }
      if (label >= 0) {
        f.text = text(DBFReadStringAttribute(dbf.get(), i, label));
        if (labelColour >= 0) f.colour = ColourOfPackedRgb(static_cast<long long>(DBFReadDoubleAttribute(dbf.get(), i, labelColour)));
      }
    }
    const QRectF box(QPointF(o->dfXMin, o->dfYMin), QPointF(o->dfXMax, o->dfYMax));
    switch (o->nSHPType) {
      case SHPT_POINT:
      case SHPT_POINTZ:
      case SHPT_POINTM:
      case SHPT_MULTIPOINT:
        f.kind = label >= 0 ? Kind::Text : Kind::Point;
        f.at = QPointF(o->padfX[0], o->padfY[0]);
        break;
      case SHPT_POLYGON:
      case SHPT_POLYGONZ:
      case SHPT_POLYGONM:
      case SHPT_ARC:
      case SHPT_ARCZ:
      case SHPT_ARCM: {
        const bool region = o->nSHPType == SHPT_POLYGON || o->nSHPType == SHPT_POLYGONZ || o->nSHPType == SHPT_POLYGONM;
        f.kind = region ? Kind::Region : Kind::Line;
        f.path.setFillRule(Qt::OddEvenFill);  // holes stay open
        const int parts = std::max(o->nParts, 1);
        for (int p = 0; p < parts; ++p) {
          const int start = o->nParts > 0 ? std::clamp(o->panPartStart[p], 0, o->nVertices) : 0;
          const int end = p + 1 < o->nParts ? std::clamp(o->panPartStart[p + 1], start, o->nVertices) : o->nVertices;
          for (int v = start; v < end; ++v) {
            const QPointF q(o->padfX[v], o->padfY[v]);
            if (v == start) f.path.moveTo(q);
            else f.path.lineTo(q);
          }
          if (region && end > start) f.path.closeSubpath();
        }
        break;
      }
      default: continue;
    }
    extent_ = extent_.isNull() ? box.normalized() : extent_.united(box.normalized());
    if (extent_.isNull()) extent_ = QRectF(box.topLeft(), QSizeF(0, 0));
    features_.push_back(std::move(f));
  }
  if (count == 0) problems_ << QStringLiteral("%1 没有要素").arg(name);
}

QPointF CPreviewPane::ToScreen(const QPointF& map) const {
  return QPointF(width() / 2.0 + (map.x() - centre_.x()) / unitsPerPixel_,
                 height() / 2.0 - (map.y() - centre_.y()) / unitsPerPixel_);
}

void CPreviewPane::ZoomToExtent() {
  if (features_.empty()) {
    unitsPerPixel_ = 1.0;
    centre_ = QPointF();
    update();
    return;
  }
  centre_ = extent_.center();
  const double w = std::max(extent_.width(), 1e-9), h = std::max(extent_.height(), 1e-9);
  // A margin of 5 % on every side; a single point gets a view of its own size.
  const double fit = std::max(w / std::max(width() * 0.9, 1.0), h / std::max(height() * 0.9, 1.0));
  unitsPerPixel_ = extent_.width() <= 0 && extent_.height() <= 0 ? 1.0 : fit;
  update();
}

void CPreviewPane::ZoomAt(const QPointF& screen, double factor) {
  if (!(factor > 0) || !std::isfinite(factor)) return;
  const QPointF before((screen.x() - width() / 2.0) * unitsPerPixel_ + centre_.x(),
                       (height() / 2.0 - screen.y()) * unitsPerPixel_ + centre_.y());
  const double next = unitsPerPixel_ / factor;
  if (!(next > 1e-12) || !std::isfinite(next) || next > 1e15) return;
  unitsPerPixel_ = next;
  centre_ = QPointF(before.x() - (screen.x() - width() / 2.0) * unitsPerPixel_,
                    before.y() - (height() / 2.0 - screen.y()) * unitsPerPixel_);
  update();
}

double CPreviewPane::ScaleBarLength() const { return NiceLength(unitsPerPixel_ * 120.0); }

QString CPreviewPane::ScaleBarLabel() const {
  const double length = ScaleBarLength();
  if (geographic_) return QStringLiteral("%1°").arg(length);
  if (length >= 1000) return QStringLiteral("%1 km").arg(length / 1000);
  return QStringLiteral("%1 m").arg(length);
}

void CPreviewPane::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.setRenderHint(QPainter::Antialiasing);
  p.setFont(Wendle::ChineseFont());
  if (features_.empty()) {
    p.setPen(Qt::darkGray);
    p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
               problems_.isEmpty() ? QStringLiteral("选择一行转换成功的结果即可预览") : problems_.join('\n'));
    return;
  }
  const QTransform toScreen = QTransform::fromTranslate(width() / 2.0, height() / 2.0)
                                  .scale(1.0 / unitsPerPixel_, -1.0 / unitsPerPixel_)
                                  .translate(-centre_.x(), -centre_.y());
  const QTransform toMap = QTransform::fromTranslate(centre_.x(), centre_.y())
                               .scale(unitsPerPixel_, -unitsPerPixel_)
                               .translate(-width() / 2.0, -height() / 2.0);
  const QRectF visible = toMap.mapRect(QRectF(rect()));
  QFont label = Wendle::ChineseFont();
  label.setPixelSize(13);
  for (const Feature& f : features_) {
    switch (f.kind) {
      case Kind::Region:
      case Kind::Line: {
        // A straight horizontal or vertical line has a box without area: widen it by a pixel.
        const QRectF box = f.path.controlPointRect().adjusted(-unitsPerPixel_, -unitsPerPixel_, unitsPerPixel_, unitsPerPixel_);
        if (!box.intersects(visible)) break;
        p.setTransform(toScreen);
        QPen pen(f.kind == Kind::Region ? QColor(60, 60, 60) : f.colour, f.kind == Kind::Region ? 0.8 : 1.6);
        pen.setCosmetic(true);
        p.setPen(pen);
        p.setBrush(f.kind == Kind::Region ? QBrush(f.colour) : Qt::NoBrush);
        p.drawPath(f.path);
        p.resetTransform();
        break;
      }
      case Kind::Point:
        p.setPen(Qt::NoPen);
        p.setBrush(f.colour);
        p.drawEllipse(ToScreen(f.at), 3.0, 3.0);
        break;
      case Kind::Text:
        p.setFont(label);
        p.setPen(f.colour);
        p.drawText(ToScreen(f.at), f.text);
        break;
    }
  }

  // The scale bar, bottom left.
  const double length = ScaleBarLength();
  if (length > 0) {
    const double pixels = length / unitsPerPixel_;
    const QPointF at(12, height() - 14);
    p.setFont(Wendle::ChineseFont());
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(at, at + QPointF(pixels, 0));
    p.drawLine(at, at + QPointF(0, -6));
    p.drawLine(at + QPointF(pixels, 0), at + QPointF(pixels, -6));
    p.drawText(at + QPointF(4, -8), ScaleBarLabel());
  }
  if (truncated_) {
    p.setPen(Qt::darkRed);
    p.drawText(QPointF(10, 20), QStringLiteral("要素太多，预览只显示了一部分"));
  }
}

void CPreviewPane::resizeEvent(QResizeEvent*) { update(); }

void CPreviewPane::wheelEvent(QWheelEvent* e) {
  const double steps = e->angleDelta().y() / 120.0;
  if (steps != 0) ZoomAt(e->position(), std::pow(1.25, steps));
  e->accept();
}

void CPreviewPane::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) {
    dragFrom_ = e->position();
    setCursor(Qt::ClosedHandCursor);
  }
}

void CPreviewPane::mouseMoveEvent(QMouseEvent* e) {
  if (!dragFrom_) return;
  const QPointF d = e->position() - *dragFrom_;
  centre_ -= QPointF(d.x() * unitsPerPixel_, -d.y() * unitsPerPixel_);
  dragFrom_ = e->position();
  update();
}

void CPreviewPane::mouseReleaseEvent(QMouseEvent*) {
  dragFrom_.reset();
  setCursor(Qt::OpenHandCursor);
}

void CPreviewPane::mouseDoubleClickEvent(QMouseEvent*) { ZoomToExtent(); }

}  // namespace Kvx
