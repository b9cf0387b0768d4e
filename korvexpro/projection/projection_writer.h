#pragma once

// Projection output: the ESRI well-known text (WKT) written beside every shapefile set as
// "<base>.prj", built from the layer's MAP_PARAstruct, and the projection step of a conversion,
// which ties the ExportProjection setting to that file and to the scale of the output coordinates.
//
// The texts are plain ASCII on one line, with no line break at the end. Numbers are printed with
// two decimals and a '.' whatever the process locale is. Nothing here throws; failures are results.

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "projection/reprojection.h"
#include "vordex/geometry.h"

namespace Kvx {

// ---- Codes of the projection record -------------------------------------------------------------

// Coordinate-system kinds (MAP_PARAstruct::coordKind).
inline constexpr std::int8_t kPrjKindUserDefined = 0;     // local system: the "PRJ_UNKNOWN" text
inline constexpr std::int8_t kPrjKindGeographic = 1;      // geographic, in the record's unit
inline constexpr std::int8_t kPrjKindNoText = 2;          // the .prj is created empty
inline constexpr std::int8_t kPrjKindProjected = 3;       // projected, by the record's projection type
inline constexpr std::int8_t kPrjKindGeographicDeg = 4;   // geographic, always in degrees

inline constexpr std::int8_t kPrjUnitMetre = 2;
inline constexpr std::int8_t kPrjUnitDegree = 4;

// Number of valid codes of each table (codes run from 0).
inline constexpr int kPrjKindCount = 5;
inline constexpr int kPrjUnitCount = 17;
inline constexpr int kPrjProjectionCount = 21;
inline constexpr int kPrjEllipsoidCount = 15;

// ---- Tables ----------------------------------------------------------------------------------

// One unit: the UNIT clause that closes a text, and the size of one unit in metres (linear units)
// or radians (angular units), the very value the clause prints.
struct PrjUnit {
  std::string_view clause;
  double factor;
  bool linear;
};

// Where the value of one "%.2f" slot of a projection template comes from.
enum class PrjSlot : std::uint8_t {
  FalseEasting,       // 500 km in the record's unit: 500000 / unit factor
  CentralMeridian,    // packed DMS, printed in degrees
  OriginLatitude,     // packed DMS, printed in degrees
  StandardParallel1,  // packed DMS, printed in degrees
  StandardParallel2,  // packed DMS, printed in degrees
  Height,             // perspective height, put through the same DMS conversion
};

// One projection type. Types without a text of their own (0 and 19) have an empty head: their
// records are written as a local system.
struct PrjProjection {
  std::string_view head;      // "PROJCS[\"PRJ_...\","
  std::string_view format;    // PROJECTION and PARAMETER clauses, each "%.2f" a slot, ends with ','
  std::array<PrjSlot, 4> slots;
  int slotCount;
};

// The unit table, indexed by unit code (0 to 16; 0 is millimetres like 1).
std::span<const PrjUnit, kPrjUnitCount> PrjUnitTable();
// The geographic clauses, indexed by ellipsoid code (0 to 14): "GEOGCS[...],PRIMEM[...]," up to
// and including the comma after the prime meridian; the angular unit and "]" follow.
std::span<const std::string_view, kPrjEllipsoidCount> PrjEllipsoidTable();
// The projection table, indexed by projection type (0 to 20).
std::span<const PrjProjection, kPrjProjectionCount> PrjProjectionTable();

// The head and the template of a local (user-defined) system; the template has no slots.
inline constexpr std::string_view kPrjLocalHead = "PROJCS[\"PRJ_UNKNOWN\",";
inline constexpr std::string_view kPrjLocalFormat =
    "PROJECTION[\"Local\"],PARAMETER[\"False_Easting\",0.0],PARAMETER[\"False_Northing\",0.0],"
    "PARAMETER[\"Scale_Factor\",1.0],PARAMETER[\"Azimuth\",0.0],PARAMETER[\"Longitude_Of_Center\",0.0],"
    "PARAMETER[\"Latitude_Of_Center\",0.0],";

// ---- The writer ------------------------------------------------------------------------------

// Status results of WriteProjectionFile (the Vordex status codes).
inline constexpr std::int32_t kPrjWritten = 99999;
inline constexpr std::int32_t kPrjCannotCreate = -9996;  // the file could not be created
inline constexpr std::int32_t kPrjWriteFailed = -9982;   // created, but the text could not be written

// Holds no data; one object serves one conversion (or any number of them).
class ProjectionWriter {
 public:
  // With a linear unit other than metre (codes 0, 1, 6, 10 to 16) the record's scale is multiplied
  // by the unit's factor and the unit becomes metre, so that scaled coordinates come out in
  // metres. Every other unit code, out-of-range ones included, leaves the record as it is.
  void NormaliseUnitToMeter(MapGis::MAP_PARAstruct& para) const;

  // The complete WKT of the record. A record that cannot be described as it stands is written as a
  // local system and its kind is set to 0 here: a kind, unit, projection type or ellipsoid code out
  // of range, a projected record of type 0 or 19 (types whose parameters the record does not hold),
  // or a projected record whose parameters are not finite numbers. Kind 2 gives the empty text.
  std::string BuildProjectionText(MapGis::MAP_PARAstruct& para) const;

  // Builds the text and writes it to "<base>.prj" (the base path with ".prj" added, never
  // replacing an extension), truncating an existing file. Returns kPrjWritten, or kPrjCannotCreate /
  // kPrjWriteFailed; a file that could not be written whole is removed again.
  std::int32_t WriteProjectionFile(MapGis::MAP_PARAstruct& para, const std::filesystem::path& base) const;
  // Writes a text made elsewhere (a target system's WKT) the same way.
  static std::int32_t WriteProjectionText(std::string_view text, const std::filesystem::path& base);

  // "<base>.prj".
  static std::filesystem::path ProjectionPath(const std::filesystem::path& base);
};

// ---- The projection step of a conversion -----------------------------------------------------

// Log lines of the step (UTF-8, each with its line break).
inline constexpr std::string_view kLogUserDefinedSystem = "W__文件采用用户自定义坐标系\n";
inline constexpr std::string_view kLogProjectionWritten = "I__输出投影信息文件\n";
inline constexpr std::string_view kLogProjectionFailed = "E__投影信息文件输出失败\n";

struct ProjectionStepResult {
  // Every output coordinate is multiplied by this factor (with MapGis::ReScaleGeometry).
  double coordinateScale = 1.0;
  // A .prj was asked for (ExportProjection is not 0).
  bool projectionRequested = false;
  // WriteProjectionFile's status when a .prj was asked for; 0 when none was.
  std::int32_t projectionStatus = 0;
  // Lines for the conversion's log, in order.
  std::vector<std::string> logLines;
  // With a target system: the transformation every output coordinate goes through after the
  // scale, or, when it could not be made, reprojectionFailed (the reason is in logLines and no
  // .prj is written): the conversion then writes nothing in a wrong place.
  std::unique_ptr<Reprojection> reprojection;
  bool reprojectionFailed = false;

  // The coordinate system of the output as text (the record's WKT, or the target system's), for an
  // output that keeps it inside instead of a .prj; empty for a local system or none.
  std::string systemText;

  bool ProjectionWritten() const { return projectionStatus == kPrjWritten; }
};

// The step that a conversion runs right after reading the layer's projection record into its own
// copy `para`, before the first feature is written. `exportProjection` is the setting's value:
//  0     nothing happens: no .prj, coordinate scale 1.0;
//  kind 0 (user-defined): warning line, coordinate scale 1.0, the record's scale becomes 1.0;
//  else  with 2, a linear unit is folded into the scale first (not for kind 4, whose coordinates
//        are degrees whatever the unit says); the coordinate scale takes the record's scale (a scale
//        that is not a finite number counts as 1.0) and the record's scale becomes 1.0.
// With 0 an existing "<outputBase>.prj" (of an earlier conversion) is removed, since it would
// describe the unscaled coordinates wrongly. In both non-zero cases the .prj for the record as it then stands is written to "<outputBase>.prj"
// and the information line is logged, or, when the file could not be written, the error line.
// The step itself only reports; the conversion treats a .prj that could not be written like any
// other output file that could not be created (an error line and a failure result).
//
// With a target system (`reprojection.Active()`), ExportProjection 0 counts as 1, the record's text
// is the source of the transformation (or the user's source system), and the .prj holds the target
// system instead.
//
// With `prjFile` false the output keeps its system inside: no .prj is written or removed, the text
// goes into systemText, and the step logs as though the .prj had been written.
ProjectionStepResult RunProjectionStep(MapGis::MAP_PARAstruct& para, const std::filesystem::path& outputBase,
                                       std::int32_t exportProjection, const ReprojectionSettings& reprojection = {},
                                       bool prjFile = true);

}  // namespace Kvx
