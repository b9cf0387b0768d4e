#include "projection/projection_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings.h"
#include "temp_config.h"
#include "vordex/conversions.h"

namespace {

namespace fs = std::filesystem;
using namespace Kvx;
using KvxTest::ReadText;
using KvxTest::ScratchDir;
using KvxTest::WriteText;
using MapGis::MAP_PARAstruct;

// ---- Reference texts, as the MapGIS projection names and clauses read ------------------------------

constexpr std::string_view kMetre = R"(UNIT["Meter",1.0])";
constexpr std::string_view kMillimetre = R"(UNIT["Millimeters",0.001])";
constexpr std::string_view kDegree = R"(UNIT["Degree",0.017453292519943299])";
constexpr std::string_view kWgs84 =
    R"(GEOGCS["GCS_WGS_1984",DATUM["D_WGS_1984",SPHEROID["WGS_1984",6378137,298.257223563]],PRIMEM["Greenwich",0],)";
constexpr std::string_view kUnDefine =
    R"(GEOGCS["GCS_UnDefine",DATUM["D_UnDefine",SPHEROID["UnDefine",6370997,298.3]],PRIMEM["Greenwich",0.0],)";
constexpr std::string_view kLocalBody =
    R"(PROJECTION["Local"],PARAMETER["False_Easting",0.0],PARAMETER["False_Northing",0.0],)"
    R"(PARAMETER["Scale_Factor",1.0],PARAMETER["Azimuth",0.0],PARAMETER["Longitude_Of_Center",0.0],)"
    R"(PARAMETER["Latitude_Of_Center",0.0],)";

std::string LocalText(std::string_view unitClause) {
  return std::string(R"(PROJCS["PRJ_UNKNOWN",)") + std::string(kUnDefine) + std::string(kDegree) + "]," +
         std::string(kLocalBody) + std::string(unitClause) + "]";
}

std::string GaussKrugerWgs84(std::string_view falseEasting, std::string_view centralMeridian, std::string_view unit) {
  return std::string(R"(PROJCS["PRJ_Gauss_Kruger",)") + std::string(kWgs84) + std::string(kDegree) + "]," +
         R"(PROJECTION["Gauss_Kruger"],PARAMETER["False_Easting",)" + std::string(falseEasting) +
         R"(],PARAMETER["False_Northing",0.0],PARAMETER["Central_Meridian",)" + std::string(centralMeridian) +
         R"(],PARAMETER["Scale_Factor",1.0],PARAMETER["Latitude_Of_Origin",0.0],)" + std::string(unit) + "]";
}

struct Codes {
  int kind = 3;
  int unit = 2;
  int type = 5;
  int ellipsoid = 7;
};

// Angles in packed DMS chosen so that every slot prints a different number.
constexpr double kCentralMeridian = 1173015.5;  // 117.50
constexpr double kOriginLatitude = 301500.0;    // 30.25
constexpr double kParallel1 = 250000.0;         // 25.00
constexpr double kParallel2 = 470000.0;         // 47.00
constexpr double kHeight = 354500.0;            // 35.75

MAP_PARAstruct Record(Codes c, double scale = 1.0) {
  MAP_PARAstruct p{};
  p.coordKind = static_cast<std::int8_t>(c.kind);
  p.unit = static_cast<std::int8_t>(c.unit);
  p.projType = static_cast<std::int8_t>(c.type);
  p.ellipsoid = static_cast<std::int8_t>(c.ellipsoid);
  p.scale = scale;
  p.centralMeridian = kCentralMeridian;
  p.originLatitude = kOriginLatitude;
  p.standardParallel1 = kParallel1;
  p.standardParallel2 = kParallel2;
  p.height = kHeight;
  p.factor141 = p.factor153 = p.factor161 = 1.0;
  return p;
}

std::string Text(MAP_PARAstruct p) { return ProjectionWriter().BuildProjectionText(p); }

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::size_t Count(std::string_view text, std::string_view what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string Printf2(double v) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%.2f", v);
  return buffer;
}

// ---- Tables ---------------------------------------------------------------------------------

TEST(ProjectionTables, UnitsAsPrintedWithFactorsEqualToTheirClauses) {
  const struct {
    const char* clause;
    double printedFactor;  // the factor column; may be a shorter rounding of the clause's number
    bool linear;
  } expected[kPrjUnitCount] = {
      {"UNIT[\"Millimeters\",0.001]", 0.001, true},
      {"UNIT[\"Millimeters\",0.001]", 0.001, true},
      {"UNIT[\"Meter\",1.0]", 1.0, true},
      {"UNIT[\"Second\",4.8481368110953598e-006]", 4.84813681109536e-06, false},
      {"UNIT[\"Degree\",0.017453292519943299]", 0.0174532925199433, false},
      {"UNIT[\"DMS\",1.0]", 1.0, false},
      {"UNIT[\"Foot\",0.3048]", 0.3048, true},
      {"UNIT[\"Minute\",0.00029088820866572158]", 0.000290888208665722, false},
      {"UNIT[\"Radian\",1.0]", 1.0, false},
      {"UNIT[\"Grad\",0.015707963267948967]", 0.015707963267948967, false},
      {"UNIT[\"Kilometer\",1000.0]", 1000.0, true},
      {"UNIT[\"DeciMeter\",0.1]", 0.1, true},
      {"UNIT[\"CentiMeter\",0.01]", 0.01, true},
      {"UNIT[\"Inch\",0.0254]", 0.0254, true},
      {"UNIT[\"Yard\",0.9144]", 0.9144, true},
      {"UNIT[\"SeaMile\",1852.00001]", 1852.00001, true},
      {"UNIT[\"Mile\",1609.34721869444]", 1609.34721869444, true},
  };
  const auto table = PrjUnitTable();
  for (int code = 0; code < kPrjUnitCount; ++code) {
    SCOPED_TRACE(code);
    const PrjUnit& unit = table[static_cast<std::size_t>(code)];
    EXPECT_EQ(unit.clause, expected[code].clause);
    EXPECT_EQ(unit.linear, expected[code].linear);
    // The factor is the very number the clause prints.
    const std::string_view clause = unit.clause;
    const std::size_t comma = clause.find(',');
    double printed = 0.0;
    const auto [end, ec] = std::from_chars(clause.data() + comma + 1, clause.data() + clause.size() - 1, printed);
    ASSERT_EQ(ec, std::errc());
    EXPECT_EQ(end, clause.data() + clause.size() - 1);
    EXPECT_EQ(unit.factor, printed);
    EXPECT_NEAR(unit.factor, expected[code].printedFactor, expected[code].printedFactor * 1e-14);
  }
  // The writer's own table: packed DMS counts 1.0 here, unlike the library's unit scale.
  EXPECT_EQ(table[5].factor, 1.0);
  EXPECT_NE(MapGis::QueryUnitScale(5), 1.0);
}

TEST(ProjectionTables, EllipsoidsAsPrinted) {
  const char* expected[kPrjEllipsoidCount] = {
      "GEOGCS[\"GCS_UnDefine\",DATUM[\"D_UnDefine\",SPHEROID[\"UnDefine\",6370997,298.3]],PRIMEM[\"Greenwich\",0.0],",
      "GEOGCS[\"GCS_Beijing_1954\",DATUM[\"D_Beijing_1954\",SPHEROID[\"Krasovsky_1940\",6378245,298.3]],PRIMEM[\"Greenwich\",0],",
      "GEOGCS[\"GCS_Xian_1980\",DATUM[\"D_Xian_1980\",SPHEROID[\"Xian_1980\",6378140.0,298.257]],PRIMEM[\"Greenwich\",0.0],",
      "GEOGCS[\"GCS_IUGG_1979\",DATUM[\"D_IUGG_1979\",SPHEROID[\"IUGG_1979\",6378137.0,298.257]],PRIMEM[\"Greenwich\",0.0],",
      "GEOGCS[\"GCS_IUGG_1983\",DATUM[\"D_IUGG_1983\",SPHEROID[\"IUGG_1983\",6378136.0,298.257]],PRIMEM[\"Greenwich\",0.0],",
      "GEOGCS[\"GCS_CGCS_2000\",DATUM[\"D_CGCS_2000\",SPHEROID[\"CGCS_2000\",6378137.0,298.257222101]],PRIMEM[\"Greenwich\",0.0],",
      "GEOGCS[\"GCS_IUGG_1967\",DATUM[\"D_IUGG_1967\",SPHEROID[\"IUGG_1967\",6378160.0,298.257]],PRIMEM[\"Greenwich\",0.0],",
      "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137,298.257223563]],PRIMEM[\"Greenwich\",0],",
      "GEOGCS[\"GCS_GRS_1980\",DATUM[\"D_GRS_1980\",SPHEROID[\"GRS_1980\",6378137,298.257222101]],PRIMEM[\"Greenwich\",0],",
      "GEOGCS[\"GCS_WGS_1972\",DATUM[\"D_WGS_1972\",SPHEROID[\"WGS_1972\",6378135,298.26]],PRIMEM[\"Greenwich\",0],",
      "GEOGCS[\"GCS_Anna_1_1965\",DATUM[\"D_Anna_1_1965\",SPHEROID[\"Australian\",6378160,298.25]],PRIMEM[\"Greenwich\",0],",
      "GEOGCS[\"GCS_Hayford_1910\",DATUM[\"D_Hayford_1910\",SPHEROID[\"Hayford_1910\",6378388,297]],PRIMEM[\"Greenwich\",0.0],",
      "GEOGCS[\"GCS_Clarke_1880\",DATUM[\"D_Clarke_1880\",SPHEROID[\"Clarke_1880\",6378249.138,293.466307656]],PRIMEM[\"Greenwich\",0],",
      "GEOGCS[\"GCS_Clarke_1866\",DATUM[\"D_Clarke_1866\",SPHEROID[\"Clarke_1866\",6378206.4,294.9786982]],PRIMEM[\"Greenwich\",0],",
      "GEOGCS[\"GCS_Bessel_1841\",DATUM[\"D_Bessel_1841\",SPHEROID[\"Bessel_1841\",6377397.155,299.1528128]],PRIMEM[\"Greenwich\",0],",
  };
  const auto table = PrjEllipsoidTable();
  for (int code = 0; code < kPrjEllipsoidCount; ++code) {
    EXPECT_EQ(table[static_cast<std::size_t>(code)], expected[code]) << code;
  }
}

// Where each "%.2f" of a projected text takes its value from.
enum Slot { FE, CM, LAT, SP1, SP2, H };

struct ProjectedType {
  int type;
  const char* head;
  const char* format;
  std::vector<Slot> slots;
};

const std::vector<ProjectedType>& ProjectedTypes() {
  static const std::vector<ProjectedType> types = {
      {1, "PROJCS[\"PRJ_UTM\",",
       "PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",%.2f],PARAMETER[\"False_Northing\",0.0],PARAMETER[\"Central_Meridian\",%.2f],PARAMETER[\"Scale_Factor\",0.9996],PARAMETER[\"Latitude_Of_Origin\",0.0],",
       {FE, CM}},
      {2, "PROJCS[\"PRJ_Albers_Conical_EQ_Area\",",
       "PROJECTION[\"Albers\"],PARAMETER[\"False_Easting\",0.0],PARAMETER[\"False_Northing\",0.0],PARAMETER[\"Central_Meridian\",%.2f],PARAMETER[\"Standard_Parallel_1\",%.2f],PARAMETER[\"Standard_Parallel_2\",%.2f],PARAMETER[\"Latitude_Of_Origin\",%.2f],",
       {CM, SP1, SP2, LAT}},
      {3, "PROJCS[\"PRJ_Lambert_Conformal_Conic\",",
       "PROJECTION[\"Lambert_Conformal_Conic\"],PARAMETER[\"False_Easting\",0.0],PARAMETER[\"False_Northing\",0.0],PARAMETER[\"Central_Meridian\",%.2f],PARAMETER[\"Standard_Parallel_1\",%.2f],PARAMETER[\"Standard_Parallel_2\",%.2f],PARAMETER[\"Latitude_Of_Origin\",%.2f],",
       {CM, SP1, SP2, LAT}},
      {4, "PROJCS[\"PRJ_Mercator\",",
       "PROJECTION[\"Mercator\"],PARAMETER[\"False_Easting\",0.0],PARAMETER[\"False_Northing\",0.0],PARAMETER[\"Central_Meridian\",%.2f],PARAMETER[\"Standard_Parallel_1\",%.2f],",
       {CM, LAT}},
      {5, "PROJCS[\"PRJ_Gauss_Kruger\",",
       "PROJECTION[\"Gauss_Kruger\"],PARAMETER[\"False_Easting\",%.2f],PARAMETER[\"False_Northing\",0.0],PARAMETER[\"Central_Meridian\",%.2f],PARAMETER[\"Scale_Factor\",1.0],PARAMETER[\"Latitude_Of_Origin\",0.0],",
       {FE, CM}},
      {6, "PROJCS[\"PRJ_Polyconic\",",
       "PROJECTION[\"Polyconic\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Central_Meridian\",%.2f],\tPARAMETER[\"Latitude_Of_Origin\",%.2f],",
       {CM, LAT}},
      {7, "PROJCS[\"PRJ_EQ_Dist_Conic\",",
       "PROJECTION[\"Equidistant_Conic\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Central_Meridian\",%.2f],\tPARAMETER[\"Standard_Parallel_1\",%.2f],\tPARAMETER[\"Standard_Parallel_2\",%.2f],\tPARAMETER[\"Latitude_Of_Origin\",%.2f],",
       {CM, SP1, SP2, LAT}},
      {8, "PROJCS[\"PRJ_Transverse_Mecator\",",
       "PROJECTION[\"Transverse_Mecator\"],\tPARAMETER[\"False_Easting\",%.2f],\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Central_Meridian\",%.2f],\tPARAMETER[\"Scale_Factor\",0.9996],\tPARAMETER[\"Latitude_Of_Origin\",%.2f],",
       {FE, CM, LAT}},
      {9, "PROJCS[\"PRJ_StereoGraphic\",",
       "PROJECTION[\"Stereographic\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Central_Meridian\",%.2f],\tPARAMETER[\"Scale_Factor\",1.0],\tPARAMETER[\"Latitude_Of_Origin\",%.2f],",
       {CM, LAT}},
      {10, "PROJCS[\"PRJ_Lambert_Azimuthal_EQ_Area\",",
       "PROJECTION[\"Lambert_Azimuthal_Equal_Area\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Central_Meridian\",%.2f],\tPARAMETER[\"Latitude_Of_Origin\",%.2f],",
       {CM, LAT}},
      {11, "PROJCS[\"PRJ_Azimuthal_EQ_Dist\",",
       "PROJECTION[\"Azimuthal_Equidistant\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Central_Meridian\",%.2f],\tPARAMETER[\"Latitude_Of_Origin\",%.2f],",
       {CM, LAT}},
      {12, "PROJCS[\"PRJ_Gnomonic\",",
       "PROJECTION[\"Gnomonic\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Longitude_Of_Center\",%.2f],\tPARAMETER[\"Latitude_Of_Center\",%.2f],",
       {CM, LAT}},
      {13, "PROJCS[\"PRJ_Orthographic\",",
       "PROJECTION[\"Orthographic\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Longitude_Of_Center\",%.2f],\tPARAMETER[\"Latitude_Of_Center\",%.2f],",
       {CM, LAT}},
      {14, "PROJCS[\"PRJ_General_VER_NS_Perspective\",",
       "PROJECTION[\"Vertical_Near_Side_Perspective\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Longitude_Of_Center\",%.2f],\tPARAMETER[\"Latitude_Of_Center\",%.2f],\tPARAMETER[\"Height\",%.2f],",
       {CM, LAT, H}},
      {15, "PROJCS[\"PRJ_Sinusoidal\",",
       "PROJECTION[\"Sinusoidal\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Central_Meridian\",%.2f],",
       {CM}},
      {16, "PROJCS[\"PRJ_Equirectangular\",",
       "PROJECTION[\"Equirectangular\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Central_Meridian\",%.2f],\tPARAMETER[\"Standard_Parallel_1\",%.2f],",
       {CM, LAT}},
      {17, "PROJCS[\"PRJ_Miller_Cylindrical\",",
       "PROJECTION[\"Miller_Cylindrical\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Central_Meridian\",%.2f],",
       {CM}},
      {18, "PROJCS[\"PRJ_V_D_Grinten_I\",",
       "PROJECTION[\"Van_der_Grinten_I\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Central_Meridian\",%.2f],",
       {CM}},
      {20, "PROJCS[\"PRJ_Polar_Srereographic\",",
       "PROJECTION[\"Stereographic_South_Pole\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_Northing\",0.0],\tPARAMETER[\"Central_Meridian\",%.2f],\tPARAMETER[\"Standard_Parallel_1\",%.2f],",
       {CM, LAT}},
  };
  return types;
}

TEST(ProjectionTables, ProjectionHeadsAndTemplatesAsPrinted) {
  const auto table = PrjProjectionTable();
  std::set<int> described;
  for (const ProjectedType& t : ProjectedTypes()) {
    SCOPED_TRACE(t.type);
    described.insert(t.type);
    const PrjProjection& p = table[static_cast<std::size_t>(t.type)];
    EXPECT_EQ(p.head, t.head);
    EXPECT_EQ(p.format, t.format);
    EXPECT_EQ(p.slotCount, static_cast<int>(t.slots.size()));
    EXPECT_EQ(Count(p.format, "%.2f"), t.slots.size());
    EXPECT_TRUE(EndsWith(p.format, ","));
    // Types 1 to 5 have no TAB; from 6 on every PARAMETER follows one.
    if (t.type <= 5) {
      EXPECT_EQ(Count(p.format, "\t"), 0u);
    } else {
      EXPECT_EQ(Count(p.format, "\tPARAMETER"), Count(p.format, "PARAMETER"));
    }
  }
  // Types 0 and 19 have no projected text of their own.
  for (int type : {0, 19}) {
    EXPECT_FALSE(described.contains(type));
    EXPECT_TRUE(table[static_cast<std::size_t>(type)].head.empty()) << type;
  }
  EXPECT_EQ(kPrjLocalHead, "PROJCS[\"PRJ_UNKNOWN\",");
  EXPECT_EQ(kPrjLocalFormat, kLocalBody);
}

// ---- Building the text ------------------------------------------------------------------------

TEST(ProjectionText, EveryProjectedTypeIsHeadEllipsoidDegreeTemplateAndUnit) {
  const std::string_view units[] = {kMetre, R"(UNIT["Kilometer",1000.0])", R"(UNIT["Foot",0.3048])"};
  const double unitFactor[] = {1.0, 1000.0, 0.3048};
  const int unitCode[] = {2, 10, 6};
  for (const ProjectedType& t : ProjectedTypes()) {
    for (int u = 0; u < 3; ++u) {
      SCOPED_TRACE(testing::Message() << "type " << t.type << " unit " << unitCode[u]);
      const int ellipsoid = t.type % kPrjEllipsoidCount;
      MAP_PARAstruct p = Record({3, unitCode[u], t.type, ellipsoid});

      std::string body;
      std::string_view format = t.format;
      for (Slot s : t.slots) {
        const std::size_t mark = format.find("%.2f");
        body.append(format.substr(0, mark));
        const double value = s == FE    ? 500000.0 / unitFactor[u]
                             : s == CM  ? 117.50430555555556
                             : s == LAT ? 30.25
                             : s == SP1 ? 25.0
                             : s == SP2 ? 47.0
                                        : 35.75;
        body.append(Printf2(value));
        format.remove_prefix(mark + 4);
      }
      body.append(format);
      const std::string expected = std::string(t.head) + std::string(PrjEllipsoidTable()[ellipsoid]) +
                                   std::string(kDegree) + "]," + body + std::string(units[u]) + "]";
      EXPECT_EQ(ProjectionWriter().BuildProjectionText(p), expected);
      EXPECT_EQ(p.coordKind, 3);
    }
  }
}

TEST(ProjectionText, GaussKrugerOnWgs84InMetresByteForByte) {
  MAP_PARAstruct p = Record({3, 2, 5, 7});
  p.centralMeridian = 1170000.0;
  EXPECT_EQ(Text(p),
            "PROJCS[\"PRJ_Gauss_Kruger\",GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137,"
            "298.257223563]],PRIMEM[\"Greenwich\",0],UNIT[\"Degree\",0.017453292519943299]],PROJECTION[\"Gauss_Kruger\"],"
            "PARAMETER[\"False_Easting\",500000.00],PARAMETER[\"False_Northing\",0.0],PARAMETER[\"Central_Meridian\","
            "117.00],PARAMETER[\"Scale_Factor\",1.0],PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]");
}

TEST(ProjectionText, EquirectangularTakesTheLatitudeOfOriginAsStandardParallel) {
  MAP_PARAstruct p = Record({3, 2, 16, 7});
  EXPECT_EQ(Text(p), "PROJCS[\"PRJ_Equirectangular\"," + std::string(kWgs84) + std::string(kDegree) +
                         "],PROJECTION[\"Equirectangular\"],\tPARAMETER[\"False_Easting\",0.0],\tPARAMETER[\"False_"
                         "Northing\",0.0],\tPARAMETER[\"Central_Meridian\",117.50],\tPARAMETER[\"Standard_Parallel_1\","
                         "30.25],UNIT[\"Meter\",1.0]]");
}

TEST(ProjectionText, GeographicKindsAndTheEmptyKind) {
  const struct {
    int kind;
    int unit;
    std::string expected;
  } cases[] = {
      {1, 5, std::string(kWgs84) + "UNIT[\"DMS\",1.0]]"},
      {4, 5, std::string(kWgs84) + std::string(kDegree) + "]"},
      {1, 3, std::string(kWgs84) + "UNIT[\"Second\",4.8481368110953598e-006]]"},
      {4, 1, std::string(kWgs84) + std::string(kDegree) + "]"},
      {2, 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << " unit " << c.unit);
    MAP_PARAstruct p = Record({c.kind, c.unit, 0, 7});
    EXPECT_EQ(ProjectionWriter().BuildProjectionText(p), c.expected);
    EXPECT_EQ(p.coordKind, c.kind);
  }
}

TEST(ProjectionText, RecordsThatCannotBeDescribedBecomeLocalSystems) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* what;
    Codes codes;
    double centralMeridian;
    double originLatitude;
    std::string_view closing;  // the unit clause that ends the local text
  } cases[] = {
      {"user-defined kind", {0, 6, 5, 7}, kCentralMeridian, kOriginLatitude, R"(UNIT["Foot",0.3048])"},
      {"user-defined kind, millimetre code 0", {0, 0, 5, 7}, kCentralMeridian, kOriginLatitude, kMillimetre},
      {"ellipsoid 15", {3, 6, 5, 15}, kCentralMeridian, kOriginLatitude, R"(UNIT["Foot",0.3048])"},
      {"ellipsoid -1", {1, 2, 0, -1}, kCentralMeridian, kOriginLatitude, kMetre},
      {"kind 5", {5, 2, 5, 7}, kCentralMeridian, kOriginLatitude, kMetre},
      {"kind -1", {-1, 10, 5, 7}, kCentralMeridian, kOriginLatitude, R"(UNIT["Kilometer",1000.0])"},
      {"projection type 21", {3, 2, 21, 7}, kCentralMeridian, kOriginLatitude, kMetre},
      {"projection type -128", {4, 2, -128, 7}, kCentralMeridian, kOriginLatitude, kMetre},
      {"projection type 0", {3, 1, 0, 7}, kCentralMeridian, kOriginLatitude, kMillimetre},
      {"projection type 19", {3, 2, 19, 7}, kCentralMeridian, kOriginLatitude, kMetre},
      {"unit 17", {3, 17, 5, 7}, kCentralMeridian, kOriginLatitude, kMetre},
      {"unit -1", {1, -1, 0, 7}, kCentralMeridian, kOriginLatitude, kMetre},
      {"unit 127", {4, 127, 0, 7}, kCentralMeridian, kOriginLatitude, kMetre},
      {"central meridian not a number", {3, 2, 5, 7}, nan, kOriginLatitude, kMetre},
      {"latitude of origin infinite", {3, 10, 6, 7}, kCentralMeridian, -inf, R"(UNIT["Kilometer",1000.0])"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MAP_PARAstruct p = Record(c.codes);
    p.centralMeridian = c.centralMeridian;
    p.originLatitude = c.originLatitude;
    const std::string text = ProjectionWriter().BuildProjectionText(p);
    EXPECT_EQ(text, LocalText(c.closing));
    EXPECT_EQ(p.coordKind, kPrjKindUserDefined);
    EXPECT_EQ(text.find("nan"), std::string::npos);
    EXPECT_EQ(text.find("inf"), std::string::npos);
  }
}

TEST(ProjectionText, ValuesInSlotsThatATypeDoesNotUseDoNotMatter) {
  MAP_PARAstruct p = Record({3, 2, 5, 7});
  p.height = std::numeric_limits<double>::quiet_NaN();
  p.standardParallel1 = std::numeric_limits<double>::infinity();
  p.centralMeridian = 1170000.0;
  EXPECT_EQ(Text(p), GaussKrugerWgs84("500000.00", "117.00", kMetre));
}

TEST(ProjectionText, FalseEastingIsFiveHundredKilometresInTheLayersUnit) {
  const struct {
    int unit;
    const char* falseEasting;
  } cases[] = {
      {0, "500000000.00"}, {1, "500000000.00"}, {2, "500000.00"},      {4, "28647889.76"},
      {5, "500000.00"},    {6, "1640419.95"},   {10, "500.00"},        {11, "5000000.00"},
      {12, "50000000.00"}, {13, "19685039.37"}, {14, "546806.65"},     {15, "269.98"},
      {16, "310.68"},      {3, "103132403123.55"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unit);
    for (int type : {1, 5, 8}) {
      const std::string text = Text(Record({3, c.unit, type, 1}));
      EXPECT_NE(text.find(std::string("PARAMETER[\"False_Easting\",") + c.falseEasting + "]"), std::string::npos)
          << "type " << type << ": " << text;
    }
  }
}

TEST(ProjectionText, SlotsPrintTwoDecimalsAsPrintfDoes) {
  const double packed[] = {0.0,        1173015.5,  -1173000.0, 1800000.0, -0.5,       2959.9999, 7.5,
                           1234567.89, -2959.9999, 4500.0,     1e15,      -1e300,     1.0e-300,  5959.99};
  for (double value : packed) {
    SCOPED_TRACE(value);
    MAP_PARAstruct p = Record({3, 2, 15, 7});
    p.centralMeridian = value;
    const std::string text = Text(p);
    const std::string expected = "PARAMETER[\"Central_Meridian\"," + Printf2(MapGis::DMS2Degree(value)) + "]";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
  }
}

TEST(ProjectionText, TheTextIsAsciiOnOneLineWithoutLineBreaks) {
  for (int kind = 0; kind < kPrjKindCount; ++kind) {
    for (int type = 0; type < kPrjProjectionCount; ++type) {
      const std::string text = Text(Record({kind, type % kPrjUnitCount, type, type % kPrjEllipsoidCount}));
      for (char ch : text) {
        ASSERT_TRUE(ch == '\t' || (ch >= 0x20 && ch < 0x7F)) << kind << "/" << type << ": " << text;
      }
      EXPECT_EQ(Count(text, "["), Count(text, "]")) << text;
    }
  }
}

// ---- Unit normalisation ----------------------------------------------------------------------------

TEST(ProjectionNormalise, LinearUnitsFoldIntoTheScaleAndBecomeMetres) {
  const struct {
    int unit;
    int unitAfter;
    double scaleAfter;  // from a scale of 2.0
  } cases[] = {
      {0, 2, 0.002},  {1, 2, 0.002},  {2, 2, 2.0},    {3, 3, 2.0},       {4, 4, 2.0},     {5, 5, 2.0},
      {6, 2, 0.6096}, {7, 7, 2.0},    {8, 8, 2.0},    {9, 9, 2.0},       {10, 2, 2000.0}, {11, 2, 0.2},
      {12, 2, 0.02},  {13, 2, 0.0508}, {14, 2, 1.8288}, {15, 2, 3704.00002}, {16, 2, 3218.69443738888},
      {17, 17, 2.0},  {-1, -1, 2.0},  {127, 127, 2.0}, {-128, -128, 2.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unit);
    MAP_PARAstruct p = Record({3, c.unit, 5, 7}, 2.0);
    ProjectionWriter().NormaliseUnitToMeter(p);
    EXPECT_EQ(p.unit, c.unitAfter);
    EXPECT_DOUBLE_EQ(double{p.scale}, c.scaleAfter);
    EXPECT_EQ(p.coordKind, 3);
  }
}

// ---- Writing the file and the projection step ------------------------------------------------

class ProjectionStep : public testing::Test {
 protected:
  fs::path Base(const std::string& name = "图层 layer") const { return dir_.Path() / name; }
  std::optional<std::string> Prj(const std::string& name = "图层 layer") const {
    return ReadText(dir_.Path() / (name + ".prj"));
  }

  ScratchDir dir_;
};

TEST_F(ProjectionStep, SettingZeroWritesNothingAndLeavesCoordinatesAsStored) {
  MAP_PARAstruct p = Record({3, 1, 5, 7}, 2.5);
  const MAP_PARAstruct before = p;
  const ProjectionStepResult r = RunProjectionStep(p, Base(), 0);
  EXPECT_EQ(r.coordinateScale, 1.0);
  EXPECT_FALSE(r.projectionRequested);
  EXPECT_FALSE(r.ProjectionWritten());
  EXPECT_TRUE(r.logLines.empty());
  EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
  EXPECT_TRUE(fs::is_empty(dir_.Path()));

  // A .prj of an earlier conversion would describe the unscaled coordinates wrongly: it goes, and
  // only it.
  WriteText(dir_.Path() / "roads.prj", "PROJCS[]");
  WriteText(dir_.Path() / "roads.dbf", "table");
  RunProjectionStep(p, Base("roads"), 0);
  EXPECT_FALSE(fs::exists(dir_.Path() / "roads.prj"));
  EXPECT_TRUE(fs::exists(dir_.Path() / "roads.dbf"));
}

TEST_F(ProjectionStep, ScaleUnitAndTextFollowTheSetting) {
  const struct {
    const char* what;
    Codes codes;
    double scale;
    std::int32_t setting;
    double coordinateScale;
    int unitAfter;
    std::string prj;
  } cases[] = {
      {"millimetres kept", {3, 1, 5, 7}, 2.0, 1, 2.0, 1, GaussKrugerWgs84("500000000.00", "117.00", kMillimetre)},
      {"millimetres to metres", {3, 1, 5, 7}, 2.0, 2, 0.002, 2, GaussKrugerWgs84("500000.00", "117.00", kMetre)},
      {"code 0 is millimetres", {3, 0, 5, 7}, 1.0, 2, 0.001, 2, GaussKrugerWgs84("500000.00", "117.00", kMetre)},
      {"metres", {3, 2, 5, 7}, 4.0, 2, 4.0, 2, GaussKrugerWgs84("500000.00", "117.00", kMetre)},
      {"kilometres to metres", {3, 10, 5, 7}, 1.0, 2, 1000.0, 2, GaussKrugerWgs84("500000.00", "117.00", kMetre)},
      {"any other non-zero value keeps the unit", {3, 10, 5, 7}, 1.0, 7, 1.0, 10,
       GaussKrugerWgs84("500.00", "117.00", R"(UNIT["Kilometer",1000.0])")},
      {"degree is left alone", {3, 4, 5, 7}, 3.0, 2, 3.0, 4,
       GaussKrugerWgs84("28647889.76", "117.00", kDegree)},
      {"geographic in its own unit", {1, 6, 0, 7}, 2.0, 2, 0.6096, 2, std::string(kWgs84) + std::string(kMetre) + "]"},
      // Kind 4 holds degrees whatever its unit code says, so its scale is not stretched.
      {"geographic degrees keep their scale", {4, 1, 0, 7}, 2.0, 2, 2.0, 1,
       std::string(kWgs84) + std::string(kDegree) + "]"},
      {"no text", {2, 1, 0, 7}, 2.0, 2, 0.002, 2, ""},
      {"out-of-range unit", {3, 40, 5, 7}, 2.0, 2, 2.0, 40, LocalText(kMetre)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MAP_PARAstruct p = Record(c.codes, c.scale);
    p.centralMeridian = 1170000.0;
    const ProjectionStepResult r = RunProjectionStep(p, Base(), c.setting);
    EXPECT_DOUBLE_EQ(r.coordinateScale, c.coordinateScale);
    EXPECT_EQ(double{p.scale}, 1.0);
    EXPECT_EQ(p.unit, c.unitAfter);
    EXPECT_TRUE(r.projectionRequested);
    EXPECT_EQ(r.projectionStatus, kPrjWritten);
    ASSERT_EQ(r.logLines.size(), 1u);
    EXPECT_EQ(r.logLines[0], "I__输出投影信息文件\n");
    EXPECT_EQ(Prj(), c.prj);
  }
}

TEST_F(ProjectionStep, UserDefinedSystemsAreWarnedAboutAndKeepTheirCoordinates) {
  for (std::int32_t setting : {1, 2}) {
    SCOPED_TRACE(setting);
    MAP_PARAstruct p = Record({0, 1, 5, 7}, 5.0);
    const ProjectionStepResult r = RunProjectionStep(p, Base(), setting);
    EXPECT_EQ(r.coordinateScale, 1.0);
    EXPECT_EQ(double{p.scale}, 1.0);
    EXPECT_EQ(p.unit, 1);  // not folded into metres
    ASSERT_EQ(r.logLines.size(), 2u);
    EXPECT_EQ(r.logLines[0], "W__文件采用用户自定义坐标系\n");
    EXPECT_EQ(r.logLines[1], "I__输出投影信息文件\n");
    EXPECT_EQ(Prj(), LocalText(kMillimetre));
  }
}

TEST_F(ProjectionStep, AnInvalidCodeMakesTheRecordLocalButKeepsItsScale) {
  MAP_PARAstruct p = Record({3, 6, 5, 15}, 2.0);
  const ProjectionStepResult r = RunProjectionStep(p, Base(), 1);
  EXPECT_EQ(r.coordinateScale, 2.0);
  EXPECT_EQ(p.coordKind, kPrjKindUserDefined);
  ASSERT_EQ(r.logLines.size(), 1u);
  EXPECT_EQ(r.logLines[0], kLogProjectionWritten);
  EXPECT_EQ(Prj(), LocalText(R"(UNIT["Foot",0.3048])"));
}

TEST_F(ProjectionStep, AScaleThatIsNotANumberLeavesCoordinatesUnscaled) {
  for (double scale : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    MAP_PARAstruct p = Record({3, 2, 5, 7}, scale);
    EXPECT_EQ(RunProjectionStep(p, Base(), 1).coordinateScale, 1.0) << scale;
    EXPECT_EQ(double{p.scale}, 1.0);
  }
  // Folding a huge scale into metres overflows as well.
  MAP_PARAstruct p = Record({3, 10, 5, 7}, 1e306);
  EXPECT_EQ(RunProjectionStep(p, Base(), 2).coordinateScale, 1.0);
}

TEST_F(ProjectionStep, AnExistingFileIsReplacedAndOnlyPrjIsAdded) {
  WriteText(dir_.Path() / "roads.v2.prj", std::string(5000, 'x'));
  MAP_PARAstruct p = Record({4, 2, 0, 7});
  const ProjectionStepResult r = RunProjectionStep(p, Base("roads.v2"), 1);
  EXPECT_TRUE(r.ProjectionWritten());
  EXPECT_EQ(Prj("roads.v2"), std::string(kWgs84) + std::string(kDegree) + "]");
  EXPECT_FALSE(fs::exists(dir_.Path() / "roads.prj"));
}

TEST_F(ProjectionStep, KindTwoLeavesAnEmptyFile) {
  MAP_PARAstruct p = Record({2, 2, 5, 7});
  EXPECT_TRUE(RunProjectionStep(p, Base(), 1).ProjectionWritten());
  EXPECT_EQ(fs::file_size(Base().string() + ".prj"), 0u);
}

TEST_F(ProjectionStep, AFileThatCannotBeCreatedIsLoggedAsAnErrorNotAsWritten) {
  const fs::path bases[] = {dir_.Path() / "no such folder" / "layer", fs::path()};
  for (const fs::path& base : bases) {
    SCOPED_TRACE(base);
    MAP_PARAstruct p = Record({3, 10, 5, 7}, 1.0);
    const ProjectionStepResult r = RunProjectionStep(p, base, 2);
    EXPECT_EQ(r.projectionStatus, kPrjCannotCreate);
    EXPECT_FALSE(r.ProjectionWritten());
    ASSERT_EQ(r.logLines.size(), 1u);
    EXPECT_EQ(r.logLines[0], "E__投影信息文件输出失败\n");
    EXPECT_EQ(r.coordinateScale, 1000.0);  // the coordinates do not depend on the file
  }
  EXPECT_FALSE(fs::exists(dir_.Path() / "no such folder"));
}

TEST_F(ProjectionStep, AFailedWriteIsReportedAndLeavesNoFileBehind) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  // Through the link the file opens, but no byte can be written to it.
  const fs::path link = Base().string() + ".prj";
  fs::create_symlink("/dev/full", link);
  MAP_PARAstruct p = Record({3, 2, 5, 7}, 3.0);
  const ProjectionStepResult r = RunProjectionStep(p, Base(), 1);
  EXPECT_EQ(r.projectionStatus, kPrjWriteFailed);
  ASSERT_EQ(r.logLines.size(), 1u);
  EXPECT_EQ(r.logLines[0], kLogProjectionFailed);
  EXPECT_EQ(r.coordinateScale, 3.0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(ProjectionStep, TheSettingHandedInIsUsedNotTheProcessWideValue) {
  const std::int32_t saved = AppSettings().ExportProjection;
  for (std::int32_t setting : {0, 2}) {
    AppSettings().ExportProjection = 1;
    MAP_PARAstruct p = Record({3, 10, 5, 7});
    const ProjectionStepResult r = RunProjectionStep(p, Base("s" + std::to_string(setting)), setting);
    EXPECT_EQ(r.projectionRequested, setting != 0);
    EXPECT_EQ(r.coordinateScale, setting == 0 ? 1.0 : 1000.0);
    EXPECT_EQ(Prj("s" + std::to_string(setting)).has_value(), setting != 0);
  }
  AppSettings().ExportProjection = saved;
}

// ---- What PROJ makes of the texts ---------------------------------------------------------------

std::optional<std::string> FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "/usr/bin:/bin";
  while (!dirs.empty()) {
    const std::size_t colon = dirs.find(':');
    const std::string dir(dirs.substr(0, colon));
    dirs.remove_prefix(colon == std::string_view::npos ? dirs.size() : colon + 1);
    const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char ch : text) {
    if (ch == '\'') {
      quoted += "'\\''";
    } else {
      quoted += ch;
    }
  }
  return quoted + "'";
}

struct ProjCase {
  std::string name;
  MAP_PARAstruct record;
  std::string text;
  std::string output;
  int exitCode = -1;
};

// Every kind that has a text, and within them every projection type, ellipsoid and unit: each text
// is a chain of independent pieces (head and template, geographic clause, closing unit), so one
// text per code covers every piece in every position it can take.
std::vector<ProjCase> ProjCases() {
  std::vector<ProjCase> cases;
  auto add = [&](Codes c) {
    ProjCase pc;
    pc.name = "kind " + std::to_string(c.kind) + " type " + std::to_string(c.type) + " ellipsoid " +
              std::to_string(c.ellipsoid) + " unit " + std::to_string(c.unit);
    pc.record = Record(c);
    pc.record.centralMeridian = 1173000.0;  // 117.5: not a UTM zone centre, so PROJ keeps lon_0
    pc.text = ProjectionWriter().BuildProjectionText(pc.record);
    cases.push_back(std::move(pc));
  };
  for (int type = 0; type < kPrjProjectionCount; ++type) {
    add({3, type % kPrjUnitCount, type, type % kPrjEllipsoidCount});
  }
  for (int unit = 0; unit < kPrjUnitCount; ++unit) {
    add({1, unit, 0, (unit + 7) % kPrjEllipsoidCount});
    add({0, unit, 0, 0});
  }
  for (int ellipsoid = 0; ellipsoid < kPrjEllipsoidCount; ++ellipsoid) add({4, 4, 0, ellipsoid});
  return cases;
}

TEST(ProjectionWithProj, ProjReadsEveryTypeEllipsoidAndUnit) {
  const std::optional<std::string> projinfo = FindProgram("projinfo");
  if (!projinfo) GTEST_SKIP() << "projinfo (PROJ) is not installed";

  ScratchDir dir;
  std::vector<ProjCase> cases = ProjCases();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    WriteText(dir.Path() / (std::to_string(i) + ".prj"), cases[i].text);
  }

  // A few projinfo processes at a time.
  constexpr std::size_t kParallel = 8;
  for (std::size_t first = 0; first < cases.size(); first += kParallel) {
    std::vector<std::FILE*> pipes;
    const std::size_t last = std::min(cases.size(), first + kParallel);
    for (std::size_t i = first; i < last; ++i) {
      const std::string file = (dir.Path() / (std::to_string(i) + ".prj")).string();
      const std::string command = ShellQuote(*projinfo) + " -o PROJ,WKT2:2019 " + ShellQuote("@" + file) + " 2>&1";
      pipes.push_back(::popen(command.c_str(), "r"));
    }
    for (std::size_t i = first; i < last; ++i) {
      std::FILE* pipe = pipes[i - first];
      ASSERT_NE(pipe, nullptr);
      char buffer[4096];
      for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) cases[i].output.append(buffer, n);
      const int status = ::pclose(pipe);
      cases[i].exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
  }

  for (const ProjCase& c : cases) {
    SCOPED_TRACE(c.name + "\n" + c.text + "\n" + c.output);
    EXPECT_EQ(c.exitCode, 0);
    const int kind = c.record.coordKind;
    EXPECT_NE(c.output.find(kind == 1 || kind == 4 ? "GEOGCRS[" : "PROJCRS["), std::string::npos);
    const int type = c.record.projType;
    if (kind != kPrjKindProjected) continue;
    // PROJ knows every projection method we name except MapGIS's own "Transverse_Mecator".
    if (type == 8) continue;
    EXPECT_EQ(c.output.find("Error"), std::string::npos);
    // It takes the central meridian from every template, including the "Longitude_Of_Center"
    // of types 12 to 14 (spelled so that GIS software reads it).
    EXPECT_NE(c.output.find("+lon_0=117.5 "), std::string::npos);
  }
}

}  // namespace
