// Reprojection of outputs to a target system, checked against PROJ's own cs2cs run on the same
// points: Beijing 1954 Gauss-Krüger to CGCS2000 with and without a seven-parameter shift, Xian 1980
// to CGCS2000 Gauss-Krüger, a local layer refused, and a required datum shift.

#include <gtest/gtest.h>
#include <shapefil.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/line_conversion.h"
#include "engine/region_conversion.h"
#include "engine_fixtures.h"
#include "projection/projection_writer.h"
#include "projection/reprojection.h"
#include "support/layer_builder.h"
#include "support/byte_fixture.h"

namespace {

using namespace KvxTest;
using namespace KvxEngineTest;

constexpr std::int8_t kBeijing1954 = 1;
constexpr std::int8_t kXian1980 = 2;
constexpr std::int8_t kGaussKruger = 5;

// A Gauss-Krüger record in metres, central meridian 105° (packed DMS), scale 1.
void GaussKruger(MapGis::MAP_PARAstruct& p, std::int8_t ellipsoid) {
  p.coordKind = Kvx::kPrjKindProjected;
  p.unit = Kvx::kPrjUnitMetre;
  p.projType = kGaussKruger;
  p.ellipsoid = ellipsoid;
  p.scale = 1.0;
  p.centralMeridian = 1050000.0;
}

// The points of the test layers: around Lixian county, Gansu, as the real survey has them.
const std::vector<std::array<double, 2>> kPoints = {
    {540329.68, 3783521.88}, {541000.0, 3784000.0}, {542239.87, 3784730.17}, {520000.0, 3760000.0}};

KvxTest::LayerBuilder LinesThrough(std::int8_t ellipsoid) {
  KvxTest::LayerBuilder b(MapGis::KindLine);
  GaussKruger(b.Projection(), ellipsoid);
  for (std::size_t i = 0; i + 1 < kPoints.size(); ++i)
    b.AddLine({{kPoints[i][0], kPoints[i][1]}, {kPoints[i + 1][0], kPoints[i + 1][1]}});
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(static_cast<int>(kPoints.size() - 1));
  return b;
}

// Every vertex of a shapefile, in order.
std::vector<std::array<double, 2>> Vertices(const fs::path& base) {
  std::vector<std::array<double, 2>> out;
  std::unique_ptr<SHPInfo, ShpCloser> shp(SHPOpen(base.c_str(), "rb"));
  if (!shp) return out;
  int count = 0;
  SHPGetInfo(shp.get(), &count, nullptr, nullptr, nullptr);
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<SHPObject, ShapeDeleter> o(SHPReadObject(shp.get(), i));
    for (int v = 0; o && v < o->nVertices; ++v) out.push_back({o->padfX[v], o->padfY[v]});
  }
  return out;
}

// cs2cs on `points`; each output line's first two numbers, swapped when `swap`.
std::vector<std::array<double, 2>> Cs2cs(const std::string& from, const std::string& to,
                                         const std::vector<std::array<double, 2>>& points, bool swap) {
  KvxTest::TempDir dir;
  const fs::path input = dir.path() / "in.txt";
  {
    std::FILE* f = std::fopen(input.c_str(), "w");
    for (const auto& p : points) std::fprintf(f, "%.6f %.6f\n", p[0], p[1]);
    std::fclose(f);
  }
  const std::string command = "cs2cs -f %.12f '" + from + "' '" + to + "' < '" + input.string() + "'";
  std::vector<std::array<double, 2>> out;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    std::istringstream in(line);
    double a = 0, b = 0;
    if (in >> a >> b) out.push_back(swap ? std::array<double, 2>{b, a} : std::array<double, 2>{a, b});
  }
  pclose(pipe);
  return out;
}

bool HaveCs2cs() { return std::system("cs2cs > /dev/null 2>&1 < /dev/null") != 127 * 256; }

// The line layer's vertices in input order: each line's two ends.
std::vector<std::array<double, 2>> LineVertices() {
  std::vector<std::array<double, 2>> v;
  for (std::size_t i = 0; i + 1 < kPoints.size(); ++i) {
    v.push_back(kPoints[i]);
    v.push_back(kPoints[i + 1]);
  }
  return v;
}

std::string LayerSystemText(std::int8_t ellipsoid) {
  MapGis::MAP_PARAstruct p{};
  GaussKruger(p, ellipsoid);
  return Kvx::ProjectionWriter().BuildProjectionText(p);
}

bool Contains(const std::vector<std::string>& lines, std::string_view part) {
  for (const std::string& l : lines)
    if (l.find(part) != std::string::npos) return true;
  return false;
}

TEST(Reprojection, AgreesWithCs2csOnTheSamePoints) {
  if (!HaveCs2cs()) GTEST_SKIP() << "cs2cs (Debian package proj-bin) is not installed";
  const std::string sevenParameters = "-12.5,130.2,42.7,0.8,-1.2,2.5,-3.1";
  const std::string beijing = LayerSystemText(kBeijing1954);
  const std::string krassovskyGk =
      "+proj=tmerc +lat_0=0 +lon_0=105 +k=1 +x_0=500000 +y_0=0 +ellps=krass +units=m +no_defs +type=crs";
  const struct Case {
    const char* name;
    std::int8_t ellipsoid;
    std::string target;
    std::string seven;
    // What cs2cs is given, and whether its answer is in (north, east) or (lat, lon) order; the
    // tolerance in the target's unit (1e-8 degrees is about a millimetre).
    std::string cs2csFrom;
    std::string cs2csTo;
    bool swap;
    double tolerance;
    bool withoutDatumShift;
  } cases[] = {
      {"Beijing 1954 GK to CGCS2000 geographic", kBeijing1954, "EPSG:4490", "", beijing, "EPSG:4490", true, 1e-9,
       true},
      // A shift to the target datum: cs2cs through WGS 84, whose ellipsoid CGCS2000 shares.
      {"with a seven-parameter shift", kBeijing1954, "EPSG:4490", sevenParameters,
       krassovskyGk.substr(0, krassovskyGk.size() - 10) + " +towgs84=" + sevenParameters + " +type=crs",
       "+proj=longlat +ellps=GRS80 +towgs84=0,0,0 +no_defs +type=crs", false, 1e-8, false},
      {"Xian 1980 GK to CGCS2000 GK CM 105", kXian1980, "EPSG:4544", "", LayerSystemText(kXian1980), "EPSG:4544",
       true, 1e-4, true},
      {"Beijing 1954 geographic, same datum", kBeijing1954, "EPSG:4214", "", beijing, "EPSG:4214", true, 1e-9, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    KvxTest::LayerBuilder layer = LinesThrough(c.ellipsoid);
    Kvx::FrameSettings settings = PlainSettings();
    settings.exportProjection = 1;
    settings.reprojection.targetCrs = c.target;
    settings.reprojection.toWgs84 = c.seven;
    const Outcome out = Convert(layer, dir, settings);
    ASSERT_EQ(out.result, Kvx::kConvertSuccess);
    EXPECT_EQ(Contains(out.log, "W__源坐标系与目标坐标系之间没有基准面转换参数"), c.withoutDatumShift);
    const auto got = Vertices(out.base);
    const auto expected = Cs2cs(c.cs2csFrom, c.cs2csTo, LineVertices(), c.swap);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_NEAR(got[i][0], expected[i][0], c.tolerance) << i;
      EXPECT_NEAR(got[i][1], expected[i][1], c.tolerance) << i;
    }
    // The shift moves the points: the two Beijing cases must differ by metres, not nothing.
    if (!c.seven.empty()) {
      const auto plain = Cs2cs(beijing, "EPSG:4490", LineVertices(), true);
      ASSERT_FALSE(plain.empty());
      EXPECT_GT(std::fabs(got[0][0] - plain[0][0]) + std::fabs(got[0][1] - plain[0][1]), 1e-5);
    }
    // The .prj states the target system.
    const std::string prj = ReadBytes(fs::path(out.base.native() + ".prj"));
    EXPECT_EQ(prj.find("Beijing") != std::string::npos, c.target == "EPSG:4214") << prj;
  }
}

// A map sheet of dense lines (interpolated in cells) and lines scattered over the whole zone
// (transformed exactly): every vertex within a hundredth of a millimetre of what cs2cs gives.
TEST(Reprojection, DenseAndScatteredLinesAgreeWithCs2cs) {
  if (!HaveCs2cs()) GTEST_SKIP() << "cs2cs (Debian package proj-bin) is not installed";
  const struct Layer {
    const char* name;
    double x0, x1, y0, y1;
    int lines;
  } layers[] = {{"a 30 km sheet", 525000, 555000, 3770000, 3800000, 4000},
                {"scattered over the zone", 260000, 740000, 2500000, 5000000, 300}};
  const struct Case {
    const char* name;
    std::int8_t ellipsoid;
    std::string target;
    double tolerance;
  } cases[] = {
      {"Beijing 1954 GK to CGCS2000 geographic", kBeijing1954, "EPSG:4490", 1e-10},
      {"Beijing 1954 GK to Beijing 1954 geographic", kBeijing1954, "EPSG:4214", 1e-10},
      {"Xian 1980 GK to CGCS2000 GK", kXian1980, "EPSG:4544", 1e-5},
  };
  for (const Layer& l : layers) {
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> east(l.x0, l.x1), north(l.y0, l.y1), step(-700.0, 700.0);
    std::vector<std::vector<MapGis::Point2D>> lines;
    std::vector<std::array<double, 2>> vertices;
    for (int i = 0; i < l.lines; ++i) {
      std::vector<MapGis::Point2D> line;
      double x = east(random), y = north(random);
      for (int k = 0; k < 12; ++k) {
        line.push_back({x, y});
        vertices.push_back({x, y});
        x += step(random);
        y += step(random);
      }
      lines.push_back(std::move(line));
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(l.name) + ": " + c.name);
      KvxTest::LayerBuilder layer(MapGis::KindLine);
      GaussKruger(layer.Projection(), c.ellipsoid);
      for (const auto& line : lines) layer.AddLine(line);
      layer.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(l.lines);
      TempDir dir;
      Kvx::FrameSettings settings = PlainSettings();
      settings.reprojection.targetCrs = c.target;
      const Outcome out = Convert(layer, dir, settings);
      ASSERT_EQ(out.result, Kvx::kConvertSuccess);
      const auto got = Vertices(out.base);
      const auto expected = Cs2cs(LayerSystemText(c.ellipsoid), c.target, vertices, true);
      ASSERT_EQ(got.size(), expected.size());
      for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i][0], expected[i][0], c.tolerance) << i;
        EXPECT_NEAR(got[i][1], expected[i][1], c.tolerance) << i;
      }
    }
  }
}

// The cells themselves over the whole zone, to its edges three degrees from the central meridian.
TEST(Reprojection, CellsAgreeWithCs2csOverAWholeZone) {
  if (!HaveCs2cs()) GTEST_SKIP() << "cs2cs (Debian package proj-bin) is not installed";
  const std::string beijing = LayerSystemText(kBeijing1954);
  Kvx::ReprojectionSettings settings;
  settings.targetCrs = "EPSG:4490";
  auto created = Kvx::Reprojection::Create(beijing, false, settings);
  ASSERT_TRUE(created.transform) << created.errorLine;
  ASSERT_TRUE(created.transform->UsesCells());
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> east(200000.0, 800000.0), north(2000000.0, 5500000.0);
  constexpr int kPoints = 3000;
  std::unique_ptr<MapGis::Geometry, MapGis::GeometryDeleter> g(MapGis::CreateGeometry());
  ASSERT_TRUE(g);
  // The geometry owns its arrays from the C heap.
  g->x = static_cast<double*>(std::calloc(kPoints, sizeof(double)));
  g->y = static_cast<double*>(std::calloc(kPoints, sizeof(double)));
  ASSERT_TRUE(g->x && g->y);
  g->vertexCount = kPoints;
  std::vector<std::array<double, 2>> source;
  for (int i = 0; i < kPoints; ++i) {
    // Three points to a cell, the second and third close to the first.
    const double x = i % 3 == 0 ? east(random) : g->x[i - 1] + 137.0;
    const double y = i % 3 == 0 ? north(random) : g->y[i - 1] - 91.0;
    g->x[i] = x;
    g->y[i] = y;
    source.push_back({x, y});
  }
  ASSERT_TRUE(created.transform->Transform(g.get()));
  const auto expected = Cs2cs(beijing, "EPSG:4490", source, true);
  ASSERT_EQ(expected.size(), source.size());
  for (int i = 0; i < kPoints; ++i) {
    EXPECT_NEAR(g->x[i], expected[i][0], 1e-10) << i;
    EXPECT_NEAR(g->y[i], expected[i][1], 1e-10) << i;
  }
}

// Cells for layers with many vertices to a kilometre cell of their box; exact transformation for
// sparse ones, and always for systems without a unit the cells can be measured in.
TEST(Reprojection, CellsOnlyForLayersDenseEnoughToPayForThem) {
  const std::string beijing = LayerSystemText(kBeijing1954);
  const struct Case {
    const char* name;
    std::string target;
    double x0, y0, x1, y1;  // the layer's box, metres
    double vertices;
    bool cells;
  } cases[] = {
      {"a map sheet of 20 km with a million vertices", "EPSG:4490", 530000, 3770000, 550000, 3790000, 1e6, true},
      {"the same sheet with 5,000 vertices", "EPSG:4490", 530000, 3770000, 550000, 3790000, 5000, false},
      {"points scattered over a whole zone", "EPSG:4490", 250000, 2500000, 750000, 5000000, 100000, false},
      {"one point", "EPSG:4490", 540000, 3780000, 540000, 3780000, 1, false},
      {"16 vertices in one cell", "EPSG:4490", 540100, 3780100, 540200, 3780200, 16, true},
      {"a head without a box", "EPSG:4490", 0, 0, -1, -1, 10, true},
      {"a box that is not finite", "EPSG:4544", 0, 0, std::nan(""), 1, 10, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Kvx::ReprojectionSettings settings;
    settings.targetCrs = c.target;
    auto created = Kvx::Reprojection::Create(beijing, false, settings);
    ASSERT_TRUE(created.transform) << created.errorLine;
    EXPECT_TRUE(created.transform->UsesCells());
    created.transform->ExpectLayer(c.x0, c.y0, c.x1, c.y1, c.vertices);
    EXPECT_EQ(created.transform->UsesCells(), c.cells);
  }
}

TEST(Reprojection, RefusalsWriteNothingInAWrongPlace) {
  const struct Case {
    const char* name;
    std::int8_t coordKind;
    std::string source;
    std::string seven;
    bool require;
    std::string line;
  } cases[] = {
      {"local layer without a source system", Kvx::kPrjKindUserDefined, "", "", false,
       "E__图层为用户自定义坐标系或没有坐标系，无法转换到目标坐标系，请指定源坐标系"},
      {"layer without a system", Kvx::kPrjKindNoText, "", "", false,
       "E__图层为用户自定义坐标系或没有坐标系，无法转换到目标坐标系，请指定源坐标系"},
      {"unknown source system", Kvx::kPrjKindProjected, "EPSG:999999", "", false, "E__源坐标系无法识别：EPSG:999999"},
      {"datum shift required", Kvx::kPrjKindProjected, "", "", true,
       "E__源坐标系与目标坐标系之间没有基准面转换参数，要求基准面转换时不能输出"},
      {"seven parameters that are not numbers", Kvx::kPrjKindProjected, "", "1,2,3", false, "E__七参数格式错误"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    KvxTest::LayerBuilder layer = LinesThrough(kBeijing1954);
    layer.Projection().coordKind = c.coordKind;
    // An output of an earlier run must not survive to describe this one.
    ASSERT_TRUE(WriteBytes(dir.path() / "out.prj", {'x'}));
    Kvx::FrameSettings settings = PlainSettings();
    settings.exportProjection = 1;
    settings.reprojection = {"EPSG:4490", c.source, c.seven, c.require};
    const Outcome out = Convert(layer, dir, settings);
    EXPECT_EQ(out.result, Kvx::kConvertNotReprojected);
    EXPECT_TRUE(Contains(out.log, c.line)) << ::testing::PrintToString(out.log);
    for (const char* ext : {".shp", ".shx", ".dbf", ".prj"})
      EXPECT_FALSE(fs::exists(out.base.native() + ext)) << ext;
  }
}

TEST(Reprojection, ALocalLayerGoesWhereTheUserSaysItIs) {
  TempDir dir;
  KvxTest::LayerBuilder layer = LinesThrough(kBeijing1954);
  layer.Projection().coordKind = Kvx::kPrjKindUserDefined;
  Kvx::FrameSettings settings = PlainSettings();
  settings.reprojection = {"EPSG:4490", "EPSG:2432", "", false};  // Beijing 1954 / 3-degree GK CM 105E (no zone prefix)
  const Outcome out = Convert(layer, dir, settings);
  ASSERT_EQ(out.result, Kvx::kConvertSuccess);
  const auto got = Vertices(out.base);
  ASSERT_FALSE(got.empty());
  EXPECT_NEAR(got[0][0], 105.44, 0.02);
  EXPECT_NEAR(got[0][1], 34.18, 0.02);
}

// A feature with no place in the target system is logged and left out; the others are written.
TEST(Reprojection, AFeatureThatCannotBeTransformedIsCountedNotWritten) {
  TempDir dir;
  KvxTest::LayerBuilder layer(MapGis::KindLine);
  GaussKruger(layer.Projection(), kBeijing1954);
  layer.AddLine({{541000.0, 3784000.0}, {541100.0, 3784100.0}});
  layer.AddLine({{1e30, 3784000.0}, {541100.0, 1e30}});
  layer.AddLine({{541200.0, 3784200.0}, {541300.0, 3784300.0}});
  layer.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(3);
  Kvx::FrameSettings settings = PlainSettings();
  settings.reprojection.targetCrs = "EPSG:4490";
  const Outcome out = Convert(layer, dir, settings);
  EXPECT_EQ(out.result, Kvx::kConvertReadErrors);
  EXPECT_TRUE(Contains(out.log, "E__第1个要素的坐标无法转换到目标坐标系")) << ::testing::PrintToString(out.log);
  EXPECT_EQ(Vertices(out.base).size(), 4u);
  Dbf dbf(out.base);
  EXPECT_EQ(dbf.Rows(), 2);
}

// Ring order and orientation survive the transformation: shapefile outer rings stay clockwise.
TEST(Reprojection, RegionsKeepTheirRingOrientation) {
  TempDir dir;
  KvxTest::LayerBuilder layer = KvxTest::UnitSquares(2);
  GaussKruger(layer.Projection(), kBeijing1954);
  layer.Projection().scale = 1.0;
  const fs::path source = dir.path() / "r.wp";
  ASSERT_TRUE(layer.WriteTo(source));
  // Unit squares near the origin of the zone lie far south-west; move them into the zone by a
  // source system with a false origin of their own.
  Kvx::FrameSettings settings = PlainSettings();
  settings.reprojection = {"EPSG:4490",
                           "+proj=tmerc +lat_0=34 +lon_0=105 +k=1 +x_0=0 +y_0=0 +ellps=krass +units=m +no_defs +type=crs",
                           "", false};
  Kvx::StyleContext noColours;
  const Kvx::ConversionServices services{noColours, Kvx::SilentNotifier()};
  const fs::path plainBase = dir.path() / "plain";
  const fs::path movedBase = dir.path() / "moved";
  ASSERT_EQ(Kvx::ConvertWP2SHP(source, plainBase, services, PlainSettings()), Kvx::kConvertSuccess);
  ASSERT_EQ(Kvx::ConvertWP2SHP(source, movedBase, services, settings), Kvx::kConvertSuccess);
  const auto signedArea = [](const fs::path& base, int shape) {
    std::unique_ptr<SHPInfo, ShpCloser> shp(SHPOpen(base.c_str(), "rb"));
    std::unique_ptr<SHPObject, ShapeDeleter> o(SHPReadObject(shp.get(), shape));
    double a = 0;
    const int end = o->nParts > 1 ? o->panPartStart[1] : o->nVertices;
    for (int i = 0; i + 1 < end; ++i) a += o->padfX[i] * o->padfY[i + 1] - o->padfX[i + 1] * o->padfY[i];
    return a / 2;
  };
  for (int shape = 0; shape < 2; ++shape) {
    const double before = signedArea(plainBase, shape);
    const double after = signedArea(movedBase, shape);
    ASSERT_NE(before, 0.0);
    EXPECT_EQ(before > 0, after > 0) << shape;
  }
  const auto moved = Vertices(movedBase);
  ASSERT_FALSE(moved.empty());
  EXPECT_NEAR(moved[0][0], 105.0, 0.01);
  EXPECT_NEAR(moved[0][1], 34.0, 0.01);
}

TEST(Reprojection, SevenParametersAreSevenNumbers) {
  const struct {
    const char* text;
    bool ok;
  } cases[] = {
      {"1,2,3,4,5,6,7", true},     {" -12.5, +130.2 ,42.7,0.8,-1.2,2.5,-3.1", true},
      {"1,2,3", false},            {"1,2,3,4,5,6,7,8", false},
      {"1,2,3,4,5,6,", false},     {"1,2,x,4,5,6,7", false},
      {"1,2,3,4,5,6,inf", false},  {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(Kvx::ParseSevenParameters(c.text).has_value(), c.ok) << c.text;
  const auto v = Kvx::ParseSevenParameters("1,2,3,4,5,6,7");
  ASSERT_TRUE(v);
  EXPECT_EQ((*v)[6], 7.0);
}

}  // namespace
