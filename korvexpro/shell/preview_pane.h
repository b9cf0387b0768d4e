#pragma once

// The preview pane: draws the shapefiles a row was converted to (lines, regions with their holes,
// points, annotation texts at their places) in the colours their KVX_ fields or legend codes hold,
// with mouse pan and zoom and a scale bar, so a user sees at once whether a conversion is right.
// It reads the outputs through shapelib, never the MapGIS files.

#include <QColor>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace Kvx {

// The colour a feature's table gives it: the first colour of its legend code ("KVX_LEGEND", RGB),
// else its packed-RGB colour field, else none.
std::optional<QColor> ColourOfLegendCode(const QString& code);
QColor ColourOfPackedRgb(long long packed);

class CPreviewPane : public QWidget {
  Q_OBJECT

 public:
  explicit CPreviewPane(QWidget* parent = nullptr);

  // One output: the shapefile set "<base>.shp", or, when `geoPackage` is given, the table of that
  // GeoPackage named after the base's file name.
  struct Source {
    std::filesystem::path base;
    std::filesystem::path geoPackage;
  };
  // Shows the outputs (regions first, then lines, points and texts), fitted into the pane. Outputs
  // that cannot be read are left out; the texts say why. At most kMaxVertices vertices are
  // loaded; beyond that the preview says it shows a part.
  void ShowOutputs(const std::vector<Source>& sources);
  void ShowOutputs(const std::vector<std::filesystem::path>& bases);
  void Clear();

  static constexpr std::size_t kMaxVertices = 2'000'000;

  // What is shown, for tests and the status line.
  int FeatureCount() const { return static_cast<int>(features_.size()); }
  int TextCount() const;
  QRectF Extent() const { return extent_; }
  bool Truncated() const { return truncated_; }
  const QStringList& Problems() const { return problems_; }
  // Map units per pixel now, and the scale bar's length in map units and its label.
  double UnitsPerPixel() const { return unitsPerPixel_; }
  double ScaleBarLength() const;
  QString ScaleBarLabel() const;
  // Where a map point is drawn now.
  QPointF ToScreen(const QPointF& map) const;
  // Fits the whole extent into the pane again.
  void ZoomToExtent();
  // Zooms by `factor` (> 1: closer) keeping the map point under `screen` in place.
  void ZoomAt(const QPointF& screen, double factor);

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void wheelEvent(QWheelEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void mouseDoubleClickEvent(QMouseEvent*) override;

 private:
  enum class Kind { Region, Line, Point, Text };
  struct Feature {
    Kind kind = Kind::Line;
    QPainterPath path;  // map coordinates (regions and lines)
    QPointF at;         // points and texts
    QColor colour;
    QString text;
  };
  void Load(const std::filesystem::path& base, std::size_t layer, std::size_t& vertices);
  void LoadTable(const std::filesystem::path& geoPackage, const std::filesystem::path& base, std::size_t layer,
                 std::size_t& vertices);
  // The colour and text a feature's fields give it.
  struct Look {
    QString legend;
    std::optional<long long> colour;
    std::optional<QString> text;
    std::optional<long long> textColour;
  };
  static void Apply(const Look& look, Feature& f);
  void Add(Feature f, const QRectF& box);

  std::vector<Feature> features_;
  QRectF extent_;
  bool geographic_ = false;
  bool truncated_ = false;
  QStringList problems_;
  double unitsPerPixel_ = 1.0;
  QPointF centre_;  // map point at the pane's centre
  std::optional<QPointF> dragFrom_;
};

}  // namespace Kvx
