// Geometry that GIS tools call invalid: lines of zero length are kept as stored and counted in one
// warning per layer; regions whose rings cross themselves are made valid with GEOS on request.

#include <geos_c.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/geometry_repair.h"
#include "engine/line_conversion.h"
#include "engine/point_conversion.h"
#include "engine/region_conversion.h"
#include "engine_fixtures.h"
#include "support/byte_fixture.h"

namespace {

using namespace KvxEngineTest;
using KvxTest::LayerBuilder;
using MapGis::Point2D;

using RoutineFn = std::int32_t (*)(const std::filesystem::path&, const std::filesystem::path&,
                                   const Kvx::ConversionServices&, const Kvx::FrameSettings&);

Outcome ConvertWith(LayerBuilder& layer, const KvxTest::TempDir& dir, RoutineFn routine, const Kvx::FrameSettings& settings) {
  const fs::path source = dir / "in.bin";
  EXPECT_TRUE(layer.WriteTo(source));
  Kvx::StyleContext noColours;
  Outcome out;
  out.base = dir / "out";
  out.result = routine(source, out.base, {noColours, Kvx::SilentNotifier()}, settings);
  out.log = LogLines(fs::path(out.base.native() + ".log"));
  return out;
}

bool Has(const std::vector<std::string>& log, const std::string& line) {
  return std::find(log.begin(), log.end(), line) != log.end();
}

int CountContaining(const std::vector<std::string>& log, const std::string& part) {
  return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; }));
}

TEST(ZeroLengthLines, CountedOnceAndKeptAsStored) {
  struct Case {
    const char* what;
    int kind;
    RoutineFn routine;
  } const cases[] = {
      {"line layer", MapGis::KindLine, Kvx::ConvertWL2SHP},
      {"network lines", MapGis::KindNetwork, Kvx::ConvertWN2SHP},
      {"region arcs", MapGis::KindRegion, Kvx::ConvertWPArc2SHP},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    KvxTest::TempDir dir;
    LayerBuilder b(c.kind);
    b.AddLine({{0, 0}, {1, 1}});
    b.AddLine({{5, 5}, {5, 5}});
    b.AddLine({{7, 3}, {7, 3}, {7, 3}});
    b.AddLine({{7, 3}});
    b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(4);
    if (c.kind == MapGis::KindRegion) b.AddRegion({1});
    const Outcome out = ConvertWith(b, dir, c.routine, PlainSettings());
    EXPECT_EQ(out.result, Kvx::kConvertSuccess);
    EXPECT_TRUE(Has(out.log, "W__文件中有3条线长度为零(全部顶点重合)，已按原样输出"));
    EXPECT_EQ(CountContaining(out.log, "长度为零"), 1);
    Shp shp(out.base);
    ASSERT_EQ(shp.Count(), 4);
    EXPECT_EQ(shp.Read(1)->nVertices, 2);
    EXPECT_EQ(shp.Read(2)->nVertices, 3);
    EXPECT_EQ(shp.Read(3)->nVertices, 1);
  }

  // A layer without such lines says nothing of them.
  KvxTest::TempDir dir;
  LayerBuilder b = Lines(3);
  const Outcome out = ConvertWith(b, dir, Kvx::ConvertWL2SHP, PlainSettings());
  EXPECT_EQ(CountContaining(out.log, "长度为零"), 0);
}

TEST(ZeroLengthLines, WhatCountsAsZeroLength) {
  auto* g = MapGis::CreateGeometry();
  double x[3] = {1, 1, 1}, y[3] = {2, 2, 2};
  g->x = x;
  g->y = y;
  g->vertexCount = 3;
  EXPECT_TRUE(Kvx::IsZeroLengthLine(*g));
  y[2] = 2.0000001;
  EXPECT_FALSE(Kvx::IsZeroLengthLine(*g));
  g->vertexCount = 1;
  EXPECT_TRUE(Kvx::IsZeroLengthLine(*g));
  g->vertexCount = 0;
  EXPECT_FALSE(Kvx::IsZeroLengthLine(*g));
  g->x = g->y = nullptr;
  MapGis::DestroyGeometry(g);
}

// Whether GEOS finds the polygons of shape i valid: outer rings and holes by orientation, as GDAL
// reads shapefiles, each hole in the outer ring before it.
bool ShapeIsValid(const Shp& shp, int i) {
  auto shape = shp.Read(i);
  if (!shape) return false;
  GEOSContextHandle_t h = GEOS_init_r();
  std::vector<GEOSGeometry*> shells;
  std::vector<std::vector<GEOSGeometry*>> holes;
  for (int p = 0; p < shape->nParts; ++p) {
    const int s = shape->panPartStart[p];
    const int e = p + 1 < shape->nParts ? shape->panPartStart[p + 1] : shape->nVertices;
    GEOSCoordSequence* seq = GEOSCoordSeq_create_r(h, static_cast<unsigned>(e - s), 2);
    for (int v = s; v < e; ++v) GEOSCoordSeq_setXY_r(h, seq, static_cast<unsigned>(v - s), shape->padfX[v], shape->padfY[v]);
    char ccw = 0;
    GEOSCoordSeq_isCCW_r(h, seq, &ccw);
    GEOSGeometry* ring = GEOSGeom_createLinearRing_r(h, seq);
    // A clockwise ring, or a first ring of either orientation, starts a polygon.
    if (!ccw || shells.empty()) {
      shells.push_back(ring);
      holes.emplace_back();
    } else {
      holes.back().push_back(ring);
    }
  }
  std::vector<GEOSGeometry*> polygons;
  for (std::size_t k = 0; k < shells.size(); ++k)
    polygons.push_back(GEOSGeom_createPolygon_r(h, shells[k], holes[k].data(), static_cast<unsigned>(holes[k].size())));
  GEOSGeometry* multi =
      GEOSGeom_createCollection_r(h, GEOS_MULTIPOLYGON, polygons.data(), static_cast<unsigned>(polygons.size()));
  const bool valid = multi && GEOSisValid_r(h, multi) == 1;

  if (multi) GEOSGeom_destroy_r(h, multi);
  GEOS_finish_r(h);
  return valid;
}

// Region 0 a square, region 1 a ring that crosses itself (a bow tie), region 2 a square with a
// hole that pokes out of it.
LayerBuilder Faulty() {
  LayerBuilder b(MapGis::KindRegion);
  b.AddLine({{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}});
  b.AddLine({{10, 0}, {12, 2}, {12, 0}, {10, 2}, {10, 0}});
  b.AddLine({{20, 0}, {20, 4}, {24, 4}, {24, 0}, {20, 0}});
  b.AddLine({{22, 1}, {26, 1}, {26, 2}, {22, 2}, {22, 1}});
  b.AddRegion({1});
  b.AddRegion({2});
  b.AddRegion({3, 0, 4});
  b.Attributes(KvxTest::EntryRegionAttr).EnsureRecords(3);
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(4);
  return b;
}

TEST(RegionRepair, InvalidRegionsAreMadeValidOnlyWhenAsked) {
  {
    SCOPED_TRACE("as stored");
    KvxTest::TempDir dir;
    LayerBuilder b = Faulty();
    const Outcome out = ConvertWith(b, dir, Kvx::ConvertWP2SHP, PlainSettings());
    EXPECT_EQ(out.result, Kvx::kConvertSuccess);
    EXPECT_EQ(CountContaining(out.log, "几何无效"), 0);
    Shp shp(out.base);
    ASSERT_EQ(shp.Count(), 3);
    EXPECT_TRUE(ShapeIsValid(shp, 0));
    EXPECT_FALSE(ShapeIsValid(shp, 1));
    EXPECT_FALSE(ShapeIsValid(shp, 2));
    EXPECT_EQ(shp.Read(1)->nVertices, 5);
  }
  {
    SCOPED_TRACE("repaired");
    KvxTest::TempDir dir;
    LayerBuilder b = Faulty();
    Kvx::FrameSettings settings = PlainSettings();
    settings.repairGeometry = 1;
    const Outcome out = ConvertWith(b, dir, Kvx::ConvertWP2SHP, settings);
    EXPECT_EQ(out.result, Kvx::kConvertSuccess);
    EXPECT_TRUE(Has(out.log, "W__文件中有2个区几何无效(如边界自相交)，已修复为有效区"));
    EXPECT_EQ(CountContaining(out.log, "几何无效"), 1);
    Shp shp(out.base);
    ASSERT_EQ(shp.Count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(ShapeIsValid(shp, i)) << "shape " << i;
    EXPECT_EQ(shp.Read(0)->nVertices, 5) << "a valid region stays as it was";
    EXPECT_EQ(shp.Read(1)->nParts, 2) << "the bow tie becomes its two triangles";
    auto square = shp.Read(2);
    EXPECT_NEAR(square->dfXMax, 26.0, 1e-12) << "what poked out is kept as a region of its own";
  }
}

// The faults as they occur in real MapGIS files (skipped when the samples are not there).
TEST(RealSamples, ZeroLengthLinesSelfCrossingRegionAndOlderVariant) {
  const fs::path folder = KvxTest::RealSamplesFolder() / "gooin1__mapgis67";
  if (!fs::exists(folder / "HB.WL")) GTEST_SKIP() << "no real MapGIS samples in " << folder;
  KvxTest::TempDir dir;
  Kvx::StyleContext noColours;
  const Kvx::ConversionServices services{noColours, Kvx::SilentNotifier()};

  EXPECT_EQ(Kvx::ConvertWL2SHP(folder / "HB.WL", dir / "hb", services, PlainSettings()), Kvx::kConvertSuccess);
  EXPECT_TRUE(Has(LogLines(dir / "hb.log"), "W__文件中有2条线长度为零(全部顶点重合)，已按原样输出"));

  Kvx::FrameSettings repair = PlainSettings();
  repair.repairGeometry = 1;
  EXPECT_EQ(Kvx::ConvertWP2SHP(folder / "I686732QU.WP", dir / "qu", services, repair), Kvx::kConvertSuccess);
  EXPECT_TRUE(Has(LogLines(dir / "qu.log"), "W__文件中有1个区几何无效(如边界自相交)，已修复为有效区"));
  Shp shp(dir / "qu");
  ASSERT_TRUE(shp.IsOpen());
  for (int i = 0; i < shp.Count(); ++i) EXPECT_TRUE(ShapeIsValid(shp, i)) << "region " << i;

  for (const char* name : {"slib/Fram_1.wl", "slib/Fram_1.wt"}) {
    SCOPED_TRACE(name);
    const fs::path base = dir / "fram";
    const std::int32_t result = std::string(name).ends_with(".wl") ? Kvx::ConvertWL2SHP(folder / name, base, services, PlainSettings())
                                                                   : Kvx::ConvertWT2SHP(folder / name, base, services, PlainSettings());
    EXPECT_EQ(result, MapGis::Status::OlderVariant);
    EXPECT_EQ(LogLines(dir / "fram.log"), WithHeader({"E__原文件错误-不支持的MapGIS旧版图层格式"}));
  }
}

}  // namespace
