#include "shell/preview_pane.h"

#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>
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
struct DatasetCloser {
  void operator()(void* d) const { GDALClose(d); }
};
struct FeatureDeleter {
  void operator()(void* f) const { OGR_F_Destroy(static_cast<OGRFeatureH>(f)); }
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
  std::vector<Source> sources;
  for (const auto& base : bases) sources.push_back({base, {}});
  ShowOutputs(sources);
}

void CPreviewPane::ShowOutputs(const std::vector<Source>& sources) {
  Clear();
  std::size_t vertices = 0;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (sources[i].geoPackage.empty()) {
      Load(sources[i].base, i, vertices);
    } else {
      LoadTable(sources[i].geoPackage, sources[i].base, i, vertices);
    }
  }
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
      Look look;
      if (legend >= 0) look.legend = text(DBFReadStringAttribute(dbf.get(), i, legend));
      if (colour >= 0 && !DBFIsAttributeNULL(dbf.get(), i, colour))
        look.colour = static_cast<long long>(DBFReadDoubleAttribute(dbf.get(), i, colour));
      if (label >= 0) look.text = text(DBFReadStringAttribute(dbf.get(), i, label));
      if (labelColour >= 0) look.textColour = static_cast<long long>(DBFReadDoubleAttribute(dbf.get(), i, labelColour));
      Apply(look, f);
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
    Add(std::move(f), box);
  }
  if (count == 0) problems_ << QStringLiteral("%1 没有要素").arg(name);
}

void CPreviewPane::Apply(const Look& look, Feature& f) {
  if (!look.legend.isEmpty()) {
    if (auto c = ColourOfLegendCode(look.legend)) f.colour = *c;
  } else if (look.colour) {
    f.colour = ColourOfPackedRgb(*look.colour);
  }
  if (look.text) {
    f.text = *look.text;
    if (look.textColour) f.colour = ColourOfPackedRgb(*look.textColour);
  }
}

void CPreviewPane::Add(Feature f, const QRectF& box) {
  extent_ = extent_.isNull() ? box.normalized() : extent_.united(box.normalized());
  if (extent_.isNull()) extent_ = QRectF(box.topLeft(), QSizeF(0, 0));
  features_.push_back(std::move(f));
}

void CPreviewPane::LoadTable(const std::filesystem::path& geoPackage, const std::filesystem::path& base,
                             std::size_t layer, std::size_t& vertices) {
  const std::string table = base.filename().string();
  const QString name = QString::fromStdString(geoPackage.filename().string() + ":" + table);
  GDALAllRegister();
  const char* const drivers[] = {"GPKG", nullptr};
  std::unique_ptr<void, DatasetCloser> ds(
      GDALOpenEx(geoPackage.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr));
  if (!ds) {
    problems_ << QStringLiteral("无法打开 %1").arg(QString::fromStdString(geoPackage.filename().string()));
    return;
  }
  OGRLayerH l = GDALDatasetGetLayerByName(ds.get(), table.c_str());
  // An attribute table's output stays a .dbf of its own beside the GeoPackage: nothing to draw.
  std::error_code ec;
  if (l == nullptr && std::filesystem::exists(base.native() + ".dbf", ec)) return;
  if (l == nullptr) {
    problems_ << QStringLiteral("%1 中没有表 %2").arg(QString::fromStdString(geoPackage.filename().string()),
                                                    QString::fromStdString(table));
    return;
  }
  // A table without geometry (an attribute table's output) has nothing to draw.
  if (OGR_L_GetGeomType(l) == wkbNone) return;
  if (OGRSpatialReferenceH srs = OGR_L_GetSpatialRef(l); srs != nullptr && OSRIsGeographic(srs)) geographic_ = true;

  OGRFeatureDefnH defn = OGR_L_GetLayerDefn(l);
  int legend = -1, colour = -1, label = -1, labelColour = -1;
  for (int i = 0; i < OGR_FD_GetFieldCount(defn); ++i) {
    const QString field = QString::fromUtf8(OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(defn, i)));
    if (field == "KVX_LEGEND") legend = i;
    else if (field == "KVX_LCOLR" || field == "KVX_RCOLR" || field == "KVX_SCOLR") colour = i;
    else if (field == "KVX_ACLR") labelColour = i;
    else if (label < 0 && field.startsWith(QStringLiteral("注释文"))) label = i;
  }
  const QColor layerColour = kLayerColours[layer % std::size(kLayerColours)];

  int count = 0;
  OGR_L_ResetReading(l);
  for (;;) {
    std::unique_ptr<void, FeatureDeleter> feature(OGR_L_GetNextFeature(l));
    if (!feature) break;
    ++count;
    OGRGeometryH g = OGR_F_GetGeometryRef(feature.get());
    if (g == nullptr || OGR_G_IsEmpty(g)) continue;
    const std::size_t points = static_cast<std::size_t>(std::max(0, OGR_G_GetPointCount(g)));
    Feature f;
    f.colour = layerColour;
    Look look;
    if (legend >= 0 && OGR_F_IsFieldSetAndNotNull(feature.get(), legend))
      look.legend = QString::fromUtf8(OGR_F_GetFieldAsString(feature.get(), legend)).trimmed();
    if (colour >= 0 && OGR_F_IsFieldSetAndNotNull(feature.get(), colour))
      look.colour = OGR_F_GetFieldAsInteger64(feature.get(), colour);
    if (label >= 0) look.text = QString::fromUtf8(OGR_F_GetFieldAsString(feature.get(), label)).trimmed();
    if (labelColour >= 0 && OGR_F_IsFieldSetAndNotNull(feature.get(), labelColour))
      look.textColour = OGR_F_GetFieldAsInteger64(feature.get(), labelColour);
    Apply(look, f);

    OGREnvelope env;
    OGR_G_GetEnvelope(g, &env);
    const QRectF box(QPointF(env.MinX, env.MinY), QPointF(env.MaxX, env.MaxY));
    std::size_t used = points;
    const OGRwkbGeometryType type = wkbFlatten(OGR_G_GetGeometryType(g));
    if (type == wkbPoint || type == wkbMultiPoint) {
      OGRGeometryH p = type == wkbPoint ? g : OGR_G_GetGeometryRef(g, 0);
      if (p == nullptr) continue;
      f.kind = label >= 0 ? Kind::Text : Kind::Point;
      f.at = QPointF(OGR_G_GetX(p, 0), OGR_G_GetY(p, 0));
      used = 1;
    } else if (type == wkbLineString || type == wkbMultiLineString || type == wkbPolygon || type == wkbMultiPolygon) {
      const bool region = type == wkbPolygon || type == wkbMultiPolygon;
      f.kind = region ? Kind::Region : Kind::Line;
      f.path.setFillRule(Qt::OddEvenFill);  // holes stay open
      // Every ring or line string of the geometry, each a subpath.
      std::vector<OGRGeometryH> strings;
      const auto collect = [&strings](OGRGeometryH geometry, auto&& self) -> void {
        const OGRwkbGeometryType t = wkbFlatten(OGR_G_GetGeometryType(geometry));
        if (t == wkbLineString || t == wkbLinearRing) {
          strings.push_back(geometry);
          return;
        }
        for (int i = 0; i < OGR_G_GetGeometryCount(geometry); ++i) self(OGR_G_GetGeometryRef(geometry, i), self);
      };
      collect(g, collect);
      used = 0;
      for (OGRGeometryH s : strings) used += static_cast<std::size_t>(std::max(0, OGR_G_GetPointCount(s)));
      if (vertices + used > kMaxVertices) {
        truncated_ = true;
        return;
      }
      for (OGRGeometryH s : strings) {
        const int n = OGR_G_GetPointCount(s);
        for (int v = 0; v < n; ++v) {
          const QPointF q(OGR_G_GetX(s, v), OGR_G_GetY(s, v));
          if (v == 0) f.path.moveTo(q);
          else f.path.lineTo(q);
        }
        if (region && n > 0) f.path.closeSubpath();
      }
    } else {
      continue;
    }
    vertices += used;
    Add(std::move(f), box);
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
