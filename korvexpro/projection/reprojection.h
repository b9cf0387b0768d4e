#pragma once

// Reprojection of a conversion's output to a target coordinate system, through PROJ.
//
// The source system is the one the layer's projection record describes (the text of its .prj), or
// the one the user names instead. A seven-parameter shift given by the user takes the source datum
// to the target's datum (position-vector rotations in arc-seconds, scale in parts per million);
// without one, PROJ may only be able to join the two datums by a ballpark offset, which the caller
// reports. Nothing here throws; failures are results with a sentence for the log.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "projection/program_module.h"
#include "vordex/geometry.h"

namespace Kvx {

// What a run asks for. An empty target means no reprojection.
struct ReprojectionSettings {
  std::string targetCrs;      // authority code ("EPSG:4490"), WKT or PROJ string
  std::string sourceCrs;      // replaces the layer's own system when not empty
  std::string toWgs84;        // "dx,dy,dz,rx,ry,rz,ds", empty for none
  bool requireDatumShift = false;

  bool Active() const { return !targetCrs.empty(); }
  bool operator==(const ReprojectionSettings&) const = default;
};

// The seven numbers of "dx,dy,dz,rx,ry,rz,ds" (metres, arc-seconds, ppm), or nothing when the text
// is not seven finite numbers separated by commas.
std::optional<std::array<double, 7>> ParseSevenParameters(std::string_view text);

// `format` (one %s) with `value` (its first 400 bytes): a log line naming a system.
std::string ReprojectionLogLine(const char* format, std::string_view value);

// Empty when PROJ knows `text` as a coordinate system, else a sentence saying why not.
std::string CheckCrsText(std::string_view text);

// One transformation from a source to a target system, for one conversion (one thread). PROJ does
// the work, from the module kvx_reprojection.so, loaded the first time a run needs it.
class Reprojection {
 public:
  struct Created;
  // `layerSystem`: the layer's .prj text; `layerIsLocal`: the record describes a user-defined
  // system, or none. The log lines of the result are complete lines with their line break.
  static Created Create(std::string_view layerSystem, bool layerIsLocal, const ReprojectionSettings& settings);

  virtual ~Reprojection() = default;

  // Transforms every vertex in place and sets the bounds anew: exactly, or through kilometre cells
  // checked against the exact transformation to 0.01 mm (see transform_cells.h). False when a
  // vertex has no place in the target system; the geometry is then not to be written.
  virtual bool Transform(MapGis::Geometry* geometry) const = 0;
  // Tells how dense the layer is before its vertices come: about `vertices` of them within the
  // box (source units). Cells pay off where a cell holds many vertices; a sparse layer (scattered
  // points over a province) would build a cell for nearly every vertex, at 13 exact
  // transformations each, so its vertices go through the exact transformation instead.
  virtual void ExpectLayer(double xMin, double yMin, double xMax, double yMax, double vertices) = 0;
  // Whether vertices are interpolated in cells.
  virtual bool UsesCells() const = 0;
  // Transforms a box (xmin, ymin, xmax, ymax) to the box that holds its image, edges densified.
  virtual bool TransformBox(double& xMin, double& yMin, double& xMax, double& yMax) const = 0;
  // The target system as ESRI WKT, the text of the output's .prj.
  virtual const std::string& TargetEsriWkt() const = 0;
  // True when the datums are joined by a ballpark offset only (no datum shift).
  virtual bool WithoutDatumShift() const = 0;
};

struct Reprojection::Created {
  std::unique_ptr<Reprojection> transform;  // null on failure
  std::string errorLine;                    // "E__..." when transform is null
  std::string warningLine;                  // "W__..." when the datums are joined without a shift
  std::string infoLine;                     // "I__..." naming the systems
};

// What the module gives: one C entry returning this table (built with the program from the same
// sources, so it may carry C++ types).
struct ReprojectionModule {
  static constexpr ModuleName kName{"kvx_reprojection.so", "kvx_reprojection_module", "KORVEXPRO_REPROJECTION_MODULE", 1};
  int version;
  Reprojection::Created (*create)(std::string_view layerSystem, bool layerIsLocal, const ReprojectionSettings& settings);
  std::string (*checkCrsText)(std::string_view text);
};

// Log lines.
inline constexpr std::string_view kLogNoSourceSystem =
    "E__图层为用户自定义坐标系或没有坐标系，无法转换到目标坐标系，请指定源坐标系\n";
inline constexpr std::string_view kLogNoDatumShift =
    "W__源坐标系与目标坐标系之间没有基准面转换参数，坐标只做了近似转换，可能偏差上百米；请给出七参数\n";
inline constexpr std::string_view kLogDatumShiftRequired =
    "E__源坐标系与目标坐标系之间没有基准面转换参数，要求基准面转换时不能输出\n";
inline constexpr std::string_view kLogNoReprojectionModule = "E__坐标转换模块无法载入：%s\n";
inline constexpr std::string_view kLogFeatureNotTransformed = "E__第%d个要素的坐标无法转换到目标坐标系\n";

}  // namespace Kvx
