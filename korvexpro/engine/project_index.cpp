#include "engine/project_index.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "engine/logger.h"
#include "engine/shape_output.h"
#include "projection/projection_writer.h"
#include "vordex/layer_reader.h"
#include "vordex/project_file.h"
#include "vordex/windows_names.h"

namespace Kvx {
namespace {

struct IndexField {
  const char* name;
  DBFFieldType type;
  int width;
  int decimals;
};

enum IndexColumn { MatchID, DataType, DataName, DataName2, DataDesc, DispOrder, DispMin, DispMax, State, Scale, Tag };

constexpr std::array<IndexField, 11> kIndexFields{{
    {"MatchID", FTInteger, 8, 0},
    {"DataType", FTString, 16, 0},
    {"DataName", FTString, 254, 0},
    {"DataName2", FTString, 254, 0},
    {"DataDesc", FTString, 254, 0},
    {"DispOrder", FTInteger, 8, 0},
    {"DispMin", FTDouble, 8, 3},
    {"DispMax", FTDouble, 8, 3},
    {"State", FTInteger, 8, 0},
    {"Scale", FTDouble, 8, 3},
    {"Tag", FTString, 254, 0},
}};

// A layer or project extent: min x, min y, max x, max y.
struct Extent {
  double xMin = MapGis::kBoundMin;
  double yMin = MapGis::kBoundMin;
  double xMax = MapGis::kBoundMax;
  double yMax = MapGis::kBoundMax;

  bool Empty() const { return xMin > xMax || yMin > yMax; }
  void Widen(const Extent& e) {
    xMin = std::min(xMin, e.xMin);
    yMin = std::min(yMin, e.yMin);
    xMax = std::max(xMax, e.xMax);
    yMax = std::max(yMax, e.yMax);
  }
};

struct ShapeDeleter {
  void operator()(SHPObject* o) const { SHPDestroyObject(o); }
};

// The extent as a rectangle, clockwise from the lower left, its coordinates multiplied by
// `scale` and, with a target system, the box that holds its image there; a null shape for an empty
// extent or one that has no place in the target system. False when it could not be written.
bool AppendRectangle(FeatureSink& shp, const Extent& e, double scale, const Reprojection* reprojection) {
  std::unique_ptr<SHPObject, ShapeDeleter> shape;
  double x0 = e.xMin * scale, y0 = e.yMin * scale, x1 = e.xMax * scale, y1 = e.yMax * scale;
  const bool placed = e.Empty() || !reprojection || reprojection->TransformBox(x0, y0, x1, y1);
  if (e.Empty() || !placed) {
    shape.reset(SHPCreateSimpleObject(SHPT_NULL, 0, nullptr, nullptr, nullptr));
  } else {
    const double x[5] = {x0, x0, x1, x1, x0};
    const double y[5] = {y0, y1, y1, y0, y0};
    const double z[5] = {0, 0, 0, 0, 0};
    const int partStart[1] = {0};
    const int partType[1] = {SHPP_RING};
    shape.reset(SHPCreateObject(SHPT_POLYGON, -1, 1, partStart, partType, 5, x, y, z, nullptr));
  }
  return shape && shp.Append(shape.get());
}

// Writes the texts of one row, GBK (`gbk`) or program text, cut to the field width.
class IndexRow {
 public:
  IndexRow(FeatureSink& dbf, DbfTextEncoder& encoder, int row) : dbf_(dbf), encoder_(encoder), row_(row) {}
  void Gbk(int field, const std::string& gbk) {
    char text[kDbfTextMax + 1];
    dbf_.WriteString(row_, field, encoder_.EncodeDbfText(gbk, text, dbf_.FieldWidth(field)));
  }
  void Utf8(int field, const std::string& utf8) {
    char text[kDbfTextMax + 1];
    dbf_.WriteString(row_, field, encoder_.EncodeDbfTextW(utf8, text, dbf_.FieldWidth(field) + 1));
  }
  void Integer(int field, std::int64_t value) { dbf_.WriteInteger(row_, field, value); }
  void Real(int field, double value) { dbf_.WriteDouble(row_, field, value); }

 private:
  FeatureSink& dbf_;
  DbfTextEncoder& encoder_;
  int row_;
};

// The extent of a layer that opens and holds attribute records.
std::optional<Extent> UsableLayerExtent(const std::filesystem::path& file) {
  MapGis::MapGis_FastReader reader;
  if (reader.Open(file.c_str()) < 0) return std::nullopt;
  std::optional<Extent> extent;
  if (reader.GetRecordCount() > 0) {
    Extent e;
    reader.GetExtentInfo(&e.xMin, &e.yMin, &e.xMax, &e.yMax);
    extent = e;
  }
  reader.Close();
  return extent;
}

}  // namespace

std::int32_t ConvertMPJ2SHP(const std::filesystem::path& project, const std::filesystem::path& outputBase,
                            Notifier& notifier, const FrameSettings& settings, const GeoPackageTarget* geoPackage) {
  CLogger log(LogPathFor(outputBase));
  MapGis::MapGis_Prj prj;
  const std::int32_t layers = std::max(prj.LoadProject(project), 0);

  // The map scale and the projection step.
  MapGis::MAP_PARAstruct para{};
  prj.GetProjectionInfo(&para);
  double mapScale = para.scale;
  const bool userDefined = para.coordKind == kPrjKindUserDefined;
  if (settings.exportProjection != 0 && userDefined) mapScale = 1.0;
  const bool inGeoPackage = settings.outputFormat == 1;
  const ProjectionStepResult projection =
      RunProjectionStep(para, outputBase, settings.exportProjection, settings.reprojection, !inGeoPackage);
  for (std::string_view line : projection.logLines) log.WriteString(line);
  if (projection.reprojectionFailed) return kConvertNotReprojected;
  const double scale = projection.coordinateScale;
  const Reprojection* reprojection = projection.reprojection.get();

  // The table and the shapes.
  DbfTextEncoder encoder(settings.codePage);
  std::unique_ptr<FeatureSink> sink;
  std::filesystem::path tablePath = WithExtension(outputBase, ".dbf");
  if (inGeoPackage) {
    const GeoPackageTarget target = geoPackage ? *geoPackage : OwnGeoPackage(outputBase);
    tablePath = target.file;
    sink = OpenGeoPackageSink(target, {SHPT_POLYGON, !encoder.Utf8(), projection.systemText, false});
  } else {
    sink = CreateShapefileSink(outputBase, encoder.CodePageText(), SHPT_POLYGON);
  }
  if (!sink) {
    log.WriteFormat(kLogCannotCreate.data(), tablePath.c_str());
    return kConvertOutputFailed;
  }
  FeatureSink& dbf = *sink;
  for (const IndexField& field : kIndexFields) {
    char name[16];
    encoder.EncodeDbfTextW(field.name, name, 12);
    if (dbf.AddField(DbfField(name, field.name, field.type, field.width, field.decimals)) < 0) {
      log.WriteFormat(kLogFieldRefused.data(), field.name);
      return kConvertOutputFailed;
    }
  }
  log.WriteString(kLogIndexFields);
  if (!dbf.BeginFeatures()) {
    log.WriteFormat(kLogCannotCreate.data(), dbf.ShapePath().c_str());
    return kConvertOutputFailed;
  }
  FeatureSink& shp = dbf;
  const auto cannotWrite = [&] {
    log.WriteFormat(kLogCannotWrite.data(), dbf.ShapePath().c_str());
    return kConvertOutputFailed;
  };

  // One row per usable layer.
  const std::filesystem::path folder = project.parent_path().empty() ? std::filesystem::path(".") : project.parent_path();
  Extent whole;
  std::int32_t written = 0;
  std::int32_t missing = 0;
  std::int64_t lastPercent = -1;
  MapGis::FolderNames listed;
  for (int n = 0; n < layers; ++n) {
    double displayMin = 0.0, displayMax = 0.0;
    prj.GetItemInfo(n, nullptr, &displayMin, &displayMax);
    const std::optional<std::filesystem::path> file = MapGis::ResolveProjectItemPath(prj.GetItemName(n), folder, &listed);
    if (!file) {
      ++missing;
      log.WriteFormat(kLogLayerMissing.data(), n);
    } else if (const std::optional<Extent> extent = UsableLayerExtent(*file)) {
      whole.Widen(*extent);
      if (!AppendRectangle(shp, *extent, scale, reprojection)) return cannotWrite();
      IndexRow row(dbf, encoder, written);
      row.Integer(MatchID, n);
      row.Utf8(DataType, file->extension().string());
      row.Utf8(DataName, file->filename().string());
      row.Gbk(DataDesc, prj.GetItemDescription(n));
      row.Integer(DispOrder, written);
      row.Real(DispMin, displayMin);
      row.Real(DispMax, displayMax);
      row.Integer(State, 1);
      row.Real(Scale, mapScale);
      row.Utf8(Tag, "");
      ++written;
    }
    const std::int64_t percent = 100 * static_cast<std::int64_t>(n + 1) / layers;
    if (percent != lastPercent) {
      lastPercent = percent;
      notifier.Progress(percent, 100);
    }
  }

  // The project row: a null shape when no layer gave an extent.
  if (!AppendRectangle(shp, whole, scale, reprojection)) return cannotWrite();
  IndexRow row(dbf, encoder, written);
  row.Integer(MatchID, layers);
  row.Utf8(DataType, project.extension().string());
  row.Utf8(DataName, outputBase.filename().string());
  row.Gbk(DataDesc, prj.GetDescription());
  row.Integer(DispOrder, 1);
  row.Real(Scale, mapScale);
  row.Utf8(Tag, "");

  if (!dbf.Close(false)) {
    log.WriteFormat(kLogCannotWrite.data(), dbf.FailedPath().c_str());
    return kConvertOutputFailed;
  }
  std::int32_t result = kConvertSuccess;
  if (missing == 0) {
    log.WriteFormat(kLogAllConverted.data(), written + 1, layers + 1);
  } else {
    log.WriteFormat(kLogReadErrors.data(), written + 1, layers + 1);
    result = kConvertReadErrors;
  }
  const bool projectionFailed = projection.projectionRequested && !projection.ProjectionWritten();
  return projectionFailed ? kConvertOutputFailed : result;
}

}  // namespace Kvx
