#include "projection/projection_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "vordex/conversions.h"

namespace Kvx {
namespace {

using MapGis::MAP_PARAstruct;

constexpr std::array<PrjUnit, kPrjUnitCount> kUnits{{
    {R"(UNIT["Millimeters",0.001])", 0.001, true},
    {R"(UNIT["Millimeters",0.001])", 0.001, true},
    {R"(UNIT["Meter",1.0])", 1.0, true},
    {R"(UNIT["Second",4.8481368110953598e-006])", 4.8481368110953598e-006, false},
    {R"(UNIT["Degree",0.017453292519943299])", 0.017453292519943299, false},
    {R"(UNIT["DMS",1.0])", 1.0, false},
    {R"(UNIT["Foot",0.3048])", 0.3048, true},
    {R"(UNIT["Minute",0.00029088820866572158])", 0.00029088820866572158, false},
    {R"(UNIT["Radian",1.0])", 1.0, false},
    {R"(UNIT["Grad",0.015707963267948967])", 0.015707963267948967, false},
    {R"(UNIT["Kilometer",1000.0])", 1000.0, true},
    {R"(UNIT["DeciMeter",0.1])", 0.1, true},
    {R"(UNIT["CentiMeter",0.01])", 0.01, true},
    {R"(UNIT["Inch",0.0254])", 0.0254, true},
    {R"(UNIT["Yard",0.9144])", 0.9144, true},
    {R"(UNIT["SeaMile",1852.00001])", 1852.00001, true},
    {R"(UNIT["Mile",1609.34721869444])", 1609.34721869444, true},
}};

constexpr std::array<std::string_view, kPrjEllipsoidCount> kEllipsoids{{
    R"(GEOGCS["GCS_UnDefine",DATUM["D_UnDefine",SPHEROID["UnDefine",6370997,298.3]],PRIMEM["Greenwich",0.0],)",
    R"(GEOGCS["GCS_Beijing_1954",DATUM["D_Beijing_1954",SPHEROID["Krasovsky_1940",6378245,298.3]],PRIMEM["Greenwich",0],)",
    R"(GEOGCS["GCS_Xian_1980",DATUM["D_Xian_1980",SPHEROID["Xian_1980",6378140.0,298.257]],PRIMEM["Greenwich",0.0],)",
    R"(GEOGCS["GCS_IUGG_1979",DATUM["D_IUGG_1979",SPHEROID["IUGG_1979",6378137.0,298.257]],PRIMEM["Greenwich",0.0],)",
    R"(GEOGCS["GCS_IUGG_1983",DATUM["D_IUGG_1983",SPHEROID["IUGG_1983",6378136.0,298.257]],PRIMEM["Greenwich",0.0],)",
    R"(GEOGCS["GCS_CGCS_2000",DATUM["D_CGCS_2000",SPHEROID["CGCS_2000",6378137.0,298.257222101]],PRIMEM["Greenwich",0.0],)",
    R"(GEOGCS["GCS_IUGG_1967",DATUM["D_IUGG_1967",SPHEROID["IUGG_1967",6378160.0,298.257]],PRIMEM["Greenwich",0.0],)",
    R"(GEOGCS["GCS_WGS_1984",DATUM["D_WGS_1984",SPHEROID["WGS_1984",6378137,298.257223563]],PRIMEM["Greenwich",0],)",
    R"(GEOGCS["GCS_GRS_1980",DATUM["D_GRS_1980",SPHEROID["GRS_1980",6378137,298.257222101]],PRIMEM["Greenwich",0],)",
    R"(GEOGCS["GCS_WGS_1972",DATUM["D_WGS_1972",SPHEROID["WGS_1972",6378135,298.26]],PRIMEM["Greenwich",0],)",
    R"(GEOGCS["GCS_Anna_1_1965",DATUM["D_Anna_1_1965",SPHEROID["Australian",6378160,298.25]],PRIMEM["Greenwich",0],)",
    R"(GEOGCS["GCS_Hayford_1910",DATUM["D_Hayford_1910",SPHEROID["Hayford_1910",6378388,297]],PRIMEM["Greenwich",0.0],)",
    R"(GEOGCS["GCS_Clarke_1880",DATUM["D_Clarke_1880",SPHEROID["Clarke_1880",6378249.138,293.466307656]],PRIMEM["Greenwich",0],)",
    R"(GEOGCS["GCS_Clarke_1866",DATUM["D_Clarke_1866",SPHEROID["Clarke_1866",6378206.4,294.9786982]],PRIMEM["Greenwich",0],)",
    R"(GEOGCS["GCS_Bessel_1841",DATUM["D_Bessel_1841",SPHEROID["Bessel_1841",6377397.155,299.1528128]],PRIMEM["Greenwich",0],)",
}};

using S = PrjSlot;

// Types 1 to 5 have no TAB characters; from type 6 on every PARAMETER is preceded by one.
constexpr std::array<PrjProjection, kPrjProjectionCount> kProjections{{
    // 0: no parameters in the record; written as a local system.
    {"", "", {}, 0},
    // 1
    {R"(PROJCS["PRJ_UTM",)",
     R"(PROJECTION["Transverse_Mercator"],PARAMETER["False_Easting",%.2f],PARAMETER["False_Northing",0.0],)"
     R"(PARAMETER["Central_Meridian",%.2f],PARAMETER["Scale_Factor",0.9996],PARAMETER["Latitude_Of_Origin",0.0],)",
     {S::FalseEasting, S::CentralMeridian},
     2},
    // 2
    {R"(PROJCS["PRJ_Albers_Conical_EQ_Area",)",
     R"(PROJECTION["Albers"],PARAMETER["False_Easting",0.0],PARAMETER["False_Northing",0.0],)"
     R"(PARAMETER["Central_Meridian",%.2f],PARAMETER["Standard_Parallel_1",%.2f],)"
     R"(PARAMETER["Standard_Parallel_2",%.2f],PARAMETER["Latitude_Of_Origin",%.2f],)",
     {S::CentralMeridian, S::StandardParallel1, S::StandardParallel2, S::OriginLatitude},
     4},
    // 3
    {R"(PROJCS["PRJ_Lambert_Conformal_Conic",)",
     R"(PROJECTION["Lambert_Conformal_Conic"],PARAMETER["False_Easting",0.0],PARAMETER["False_Northing",0.0],)"
     R"(PARAMETER["Central_Meridian",%.2f],PARAMETER["Standard_Parallel_1",%.2f],)"
     R"(PARAMETER["Standard_Parallel_2",%.2f],PARAMETER["Latitude_Of_Origin",%.2f],)",
     {S::CentralMeridian, S::StandardParallel1, S::StandardParallel2, S::OriginLatitude},
     4},
    // 4
    {R"(PROJCS["PRJ_Mercator",)",
     R"(PROJECTION["Mercator"],PARAMETER["False_Easting",0.0],PARAMETER["False_Northing",0.0],)"
     R"(PARAMETER["Central_Meridian",%.2f],PARAMETER["Standard_Parallel_1",%.2f],)",
     {S::CentralMeridian, S::OriginLatitude},
     2},
    // 5
    {R"(PROJCS["PRJ_Gauss_Kruger",)",
     R"(PROJECTION["Gauss_Kruger"],PARAMETER["False_Easting",%.2f],PARAMETER["False_Northing",0.0],)"
     R"(PARAMETER["Central_Meridian",%.2f],PARAMETER["Scale_Factor",1.0],PARAMETER["Latitude_Of_Origin",0.0],)",
     {S::FalseEasting, S::CentralMeridian},
     2},
    // 6
    {R"(PROJCS["PRJ_Polyconic",)",
     "PROJECTION[\"Polyconic\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],"
     "\tPARAMETER[\"Central_Meridian\",%.2f],\tPARAMETER[\"Latitude_Of_Origin\",%.2f],",
     {S::CentralMeridian, S::OriginLatitude},
     2},
    // 7
    {R"(PROJCS["PRJ_EQ_Dist_Conic",)",
     "PROJECTION[\"Equidistant_Conic\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],"
     "\tPARAMETER[\"Central_Meridian\",%.2f],\tPARAMETER[\"Standard_Parallel_1\",%.2f],"
     "\tPARAMETER[\"Standard_Parallel_2\",%.2f],\tPARAMETER[\"Latitude_Of_Origin\",%.2f],",
     {S::CentralMeridian, S::StandardParallel1, S::StandardParallel2, S::OriginLatitude},
     4},
    // 8 ("Transverse_Mecator" as the MapGIS name has it, unlike type 1)
    {R"(PROJCS["PRJ_Transverse_Mecator",)",
     "PROJECTION[\"Transverse_Mecator\"],\tPARAMETER[\"False_Easting\",%.2f],\tPARAMETER[\"False_Northing\",0.0],"
     "\tPARAMETER[\"Central_Meridian\",%.2f],\tPARAMETER[\"Scale_Factor\",0.9996],"
     "\tPARAMETER[\"Latitude_Of_Origin\",%.2f],",
     {S::FalseEasting, S::CentralMeridian, S::OriginLatitude},
     3},
    // 9
    {R"(PROJCS["PRJ_StereoGraphic",)",
     "PROJECTION[\"Stereographic\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],"
     "\tPARAMETER[\"Central_Meridian\",%.2f],\tPARAMETER[\"Scale_Factor\",1.0],"
     "\tPARAMETER[\"Latitude_Of_Origin\",%.2f],",
     {S::CentralMeridian, S::OriginLatitude},
     2},
    // 10
    {R"(PROJCS["PRJ_Lambert_Azimuthal_EQ_Area",)",
     "PROJECTION[\"Lambert_Azimuthal_Equal_Area\"],\tPARAMETER[\"False_Easting\",0.0],"
     "\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Central_Meridian\",%.2f],"
     "\tPARAMETER[\"Latitude_Of_Origin\",%.2f],",
     {S::CentralMeridian, S::OriginLatitude},
     2},
    // 11
    {R"(PROJCS["PRJ_Azimuthal_EQ_Dist",)",
     "PROJECTION[\"Azimuthal_Equidistant\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],"
     "\tPARAMETER[\"Central_Meridian\",%.2f],\tPARAMETER[\"Latitude_Of_Origin\",%.2f],",
     {S::CentralMeridian, S::OriginLatitude},
     2},
    // 12
    {R"(PROJCS["PRJ_Gnomonic",)",
     "PROJECTION[\"Gnomonic\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],"
     "\tPARAMETER[\"Longitude_Of_Center\",%.2f],\tPARAMETER[\"Latitude_Of_Center\",%.2f],",
     {S::CentralMeridian, S::OriginLatitude},
     2},
    // 13
    {R"(PROJCS["PRJ_Orthographic",)",
     "PROJECTION[\"Orthographic\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],"
     "\tPARAMETER[\"Longitude_Of_Center\",%.2f],\tPARAMETER[\"Latitude_Of_Center\",%.2f],",
     {S::CentralMeridian, S::OriginLatitude},
     2},
    // 14
    {R"(PROJCS["PRJ_General_VER_NS_Perspective",)",
     "PROJECTION[\"Vertical_Near_Side_Perspective\"],\tPARAMETER[\"False_Easting\",0.0],"
     "\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Longitude_Of_Center\",%.2f],"
     "\tPARAMETER[\"Latitude_Of_Center\",%.2f],\tPARAMETER[\"Height\",%.2f],",
     {S::CentralMeridian, S::OriginLatitude, S::Height},
     3},
    // 15
    {R"(PROJCS["PRJ_Sinusoidal",)",
     "PROJECTION[\"Sinusoidal\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],"
     "\tPARAMETER[\"Central_Meridian\",%.2f],",
     {S::CentralMeridian},
     1},
    // 16: equirectangular (plate carree) with the latitude of origin as its standard parallel.
    {R"(PROJCS["PRJ_Equirectangular",)",
     "PROJECTION[\"Equirectangular\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],"
     "\tPARAMETER[\"Central_Meridian\",%.2f],\tPARAMETER[\"Standard_Parallel_1\",%.2f],",
     {S::CentralMeridian, S::OriginLatitude},
     2},
    // 17
    {R"(PROJCS["PRJ_Miller_Cylindrical",)",
     "PROJECTION[\"Miller_Cylindrical\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],"
     "\tPARAMETER[\"Central_Meridian\",%.2f],",
     {S::CentralMeridian},
     1},
    // 18
    {R"(PROJCS["PRJ_V_D_Grinten_I",)",
     "PROJECTION[\"Van_der_Grinten_I\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],"
     "\tPARAMETER[\"Central_Meridian\",%.2f],",
     {S::CentralMeridian},
     1},
    // 19: oblique Mercator; the record lacks its azimuth and centre, so it is written as a local system.
    {"", "", {}, 0},
    // 20
    {R"(PROJCS["PRJ_Polar_Srereographic",)",
     "PROJECTION[\"Stereographic_South_Pole\"],\tPARAMETER[\"False_Easting\",0.0],"
     "\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Central_Meridian\",%.2f],"
     "\tPARAMETER[\"Standard_Parallel_1\",%.2f],",
     {S::CentralMeridian, S::OriginLatitude},
     2},
}};

constexpr std::string_view kSlotMark = "%.2f";
constexpr double kFalseEastingMetres = 500000.0;

bool InRange(std::int8_t code, int count) { return code >= 0 && code < count; }

bool IsLinearUnitToFold(std::int8_t unit) {
  return InRange(unit, kPrjUnitCount) && unit != kPrjUnitMetre && kUnits[static_cast<std::size_t>(unit)].linear;
}

double SlotValue(const MAP_PARAstruct& para, PrjSlot slot) {
  switch (slot) {
    case PrjSlot::FalseEasting:
      return kFalseEastingMetres / kUnits[static_cast<std::size_t>(para.unit)].factor;
    case PrjSlot::CentralMeridian:
      return MapGis::DMS2Degree(para.centralMeridian);
    case PrjSlot::OriginLatitude:
      return MapGis::DMS2Degree(para.originLatitude);
    case PrjSlot::StandardParallel1:
      return MapGis::DMS2Degree(para.standardParallel1);
    case PrjSlot::StandardParallel2:
      return MapGis::DMS2Degree(para.standardParallel2);
    case PrjSlot::Height:
      return MapGis::DMS2Degree(para.height);
  }
  return 0.0;
}

// "%.2f" in the C locale. printf would follow LC_NUMERIC, which a GUI toolkit may have set to a
// locale with a decimal comma.
void AppendFixed2(std::string& out, double value) {
  char buffer[400];  // the largest double has 309 integer digits
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
  if (ec == std::errc()) out.append(buffer, end);
}

// The template with its slots filled; false when a slot value is not a finite number (the text
// would carry "nan" or "inf", which is not WKT).
bool FillTemplate(const MAP_PARAstruct& para, const PrjProjection& projection, std::string& out) {
  std::string_view rest = projection.format;
  int slot = 0;
  for (std::size_t mark = rest.find(kSlotMark); mark != std::string_view::npos; mark = rest.find(kSlotMark)) {
    if (slot >= projection.slotCount) return false;
    const double value = SlotValue(para, projection.slots[static_cast<std::size_t>(slot++)]);
    if (!std::isfinite(value)) return false;
    out.append(rest.substr(0, mark));
    AppendFixed2(out, value);
    rest.remove_prefix(mark + kSlotMark.size());
  }
  out.append(rest);
  return slot == projection.slotCount;
}

// The record's own unit clause; metre for a unit code outside the table.
std::string_view UnitClause(std::int8_t unit) {
  return kUnits[static_cast<std::size_t>(InRange(unit, kPrjUnitCount) ? unit : kPrjUnitMetre)].clause;
}

std::string LocalText(std::int8_t unit) {
  std::string text;
  text.append(kPrjLocalHead);
  text.append(kEllipsoids[0]);
  text.append(kUnits[kPrjUnitDegree].clause);
  text.append("],");
  text.append(kPrjLocalFormat);
  text.append(UnitClause(unit));
  text.append("]");
  return text;
}

}  // namespace

std::span<const PrjUnit, kPrjUnitCount> PrjUnitTable() { return kUnits; }
std::span<const std::string_view, kPrjEllipsoidCount> PrjEllipsoidTable() { return kEllipsoids; }
std::span<const PrjProjection, kPrjProjectionCount> PrjProjectionTable() { return kProjections; }

void ProjectionWriter::NormaliseUnitToMeter(MAP_PARAstruct& para) const {
  if (!IsLinearUnitToFold(para.unit)) return;
  para.scale *= kUnits[static_cast<std::size_t>(para.unit)].factor;
  para.unit = kPrjUnitMetre;
}

std::string ProjectionWriter::BuildProjectionText(MAP_PARAstruct& para) const {
  const bool valid = InRange(para.coordKind, kPrjKindCount) && InRange(para.unit, kPrjUnitCount) &&
                     InRange(para.projType, kPrjProjectionCount) && InRange(para.ellipsoid, kPrjEllipsoidCount);
  if (!valid) para.coordKind = kPrjKindUserDefined;

  const auto degree = kUnits[kPrjUnitDegree].clause;
  switch (para.coordKind) {
    case kPrjKindGeographic: {
      std::string text(kEllipsoids[static_cast<std::size_t>(para.ellipsoid)]);
      text.append(UnitClause(para.unit));
      text.append("]");
      return text;
    }
    case kPrjKindNoText:
      return {};
    case kPrjKindProjected: {
      const PrjProjection& projection = kProjections[static_cast<std::size_t>(para.projType)];
      if (projection.head.empty()) break;  // a type without parameters in the record
      std::string text(projection.head);
      text.append(kEllipsoids[static_cast<std::size_t>(para.ellipsoid)]);
      text.append(degree);
      text.append("],");
      if (!FillTemplate(para, projection, text)) break;
      text.append(UnitClause(para.unit));
      text.append("]");
      return text;
    }
    case kPrjKindGeographicDeg: {
      std::string text(kEllipsoids[static_cast<std::size_t>(para.ellipsoid)]);
      text.append(degree);
      text.append("]");
      return text;
    }
    default:
      return LocalText(para.unit);
  }
  // A projected record that cannot be written as such.
  para.coordKind = kPrjKindUserDefined;
  return LocalText(para.unit);
}

std::filesystem::path ProjectionWriter::ProjectionPath(const std::filesystem::path& base) {
  std::filesystem::path path = base;
  path += ".prj";
  return path;
}

std::int32_t ProjectionWriter::WriteProjectionFile(MAP_PARAstruct& para, const std::filesystem::path& base) const {
  return WriteProjectionText(BuildProjectionText(para), base);
}

std::int32_t ProjectionWriter::WriteProjectionText(std::string_view text, const std::filesystem::path& base) {
  if (base.empty()) return kPrjCannotCreate;
  const std::filesystem::path path = ProjectionPath(base);

  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return kPrjCannotCreate;
  bool ok = text.empty() || std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = (std::fclose(file) == 0) && ok;
  if (!ok) {
    std::error_code ec;
    std::filesystem::remove(path, ec);  // no half-written text is left behind
    return kPrjWriteFailed;
  }
  return kPrjWritten;
}

ProjectionStepResult RunProjectionStep(MAP_PARAstruct& para, const std::filesystem::path& outputBase,
                                       std::int32_t exportProjection, const ReprojectionSettings& reprojection,
                                       bool prjFile) {
  ProjectionStepResult result;
  // Reprojection needs the coordinates on the ground, so it scales them even when no .prj of the
  // layer's own system is asked for.
  if (reprojection.Active() && exportProjection == 0) exportProjection = 1;
  if (exportProjection == 0) {
    // Coordinates go out unscaled: a .prj left from an earlier conversion would describe them wrongly.
    std::error_code ec;
    if (prjFile) std::filesystem::remove(ProjectionWriter::ProjectionPath(outputBase), ec);
    return result;
  }

  const ProjectionWriter writer;
  if (para.coordKind == kPrjKindUserDefined) {
    result.logLines.emplace_back(kLogUserDefinedSystem);
    para.scale = 1.0;
  } else {
    // Kind 4 states its coordinates in degrees whatever the unit code says; folding a linear unit
    // into its scale would shrink or stretch degree values.
    if (exportProjection == 2 && para.coordKind != kPrjKindGeographicDeg) writer.NormaliseUnitToMeter(para);
    if (std::isfinite(para.scale)) result.coordinateScale = para.scale;
    para.scale = 1.0;
  }

  result.projectionRequested = true;
  if (!reprojection.Active()) {
    if (!prjFile) {
      const std::string text = writer.BuildProjectionText(para);
      if (para.coordKind != kPrjKindUserDefined && para.coordKind != kPrjKindNoText) result.systemText = text;
      result.projectionStatus = kPrjWritten;
      result.logLines.emplace_back(kLogProjectionWritten);
      return result;
    }
    result.projectionStatus = writer.WriteProjectionFile(para, outputBase);
    result.logLines.emplace_back(result.ProjectionWritten() ? kLogProjectionWritten : kLogProjectionFailed);
    return result;
  }

  // The layer's own system, as its .prj would state it, is the source of the transformation.
  const std::string source = writer.BuildProjectionText(para);
  const bool local = para.coordKind == kPrjKindUserDefined || para.coordKind == kPrjKindNoText;
  Reprojection::Created created = Reprojection::Create(source, local, reprojection);
  if (!created.transform) {
    std::error_code ec;
    if (prjFile) std::filesystem::remove(ProjectionWriter::ProjectionPath(outputBase), ec);
    result.logLines.push_back(std::move(created.errorLine));
    result.projectionRequested = false;
    result.reprojectionFailed = true;
    return result;
  }
  result.logLines.push_back(std::move(created.infoLine));
  if (!created.warningLine.empty()) result.logLines.push_back(std::move(created.warningLine));
  if (prjFile) {
    result.projectionStatus = ProjectionWriter::WriteProjectionText(created.transform->TargetEsriWkt(), outputBase);
  } else {
    // The target as the user named it keeps its authority code.
    result.systemText = reprojection.targetCrs;
    result.projectionStatus = kPrjWritten;
  }
  result.logLines.emplace_back(result.ProjectionWritten() ? kLogProjectionWritten : kLogProjectionFailed);
  result.reprojection = std::move(created.transform);
  return result;
}

}  // namespace Kvx
