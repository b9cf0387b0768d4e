// Region conversion (polygons with their rings repaired) and region-arc conversion (polylines with
// the regions on either side), read back with shapelib and GDAL.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/region_conversion.h"
#include "vordex/layer_writer.h"
#include "engine_fixtures.h"
#include "styles_fixtures.h"

namespace {

using namespace KvxEngineTest;
using MapGis::KindLine;
using MapGis::KindRegion;
using MapGis::Point2D;

using Ring = std::vector<Point2D>;

enum class RegionRoutine { Regions, Arcs };

Outcome ConvertRegionLayer(KvxTest::LayerBuilder& layer, const KvxTest::TempDir& dir, const Kvx::FrameSettings& settings,
                           RegionRoutine routine, const Kvx::StyleContext* styles = nullptr) {
  const fs::path source = dir / "in.wp";
  EXPECT_TRUE(layer.WriteTo(source));
  Kvx::StyleContext noColours;
  Outcome out;
  out.base = dir / "out";
  Kvx::ConversionServices services{styles ? *styles : noColours, Kvx::SilentNotifier()};
  out.result = routine == RegionRoutine::Regions ? Kvx::ConvertWP2SHP(source, out.base, services, settings)
                                                 : Kvx::ConvertWPArc2SHP(source, out.base, services, settings);
  out.log = LogLines(fs::path(out.base.native() + ".log"));
  return out;
}

// The rings of shape i as written.
std::vector<Ring> RingsOf(const Shp& shp, int i) {
  std::vector<Ring> rings;
  auto shape = shp.Read(i);
  if (!shape) return rings;
  for (int p = 0; p < shape->nParts; ++p) {
    const int end = p + 1 < shape->nParts ? shape->panPartStart[p + 1] : shape->nVertices;
    Ring ring;
    for (int v = shape->panPartStart[p]; v < end; ++v) ring.push_back({shape->padfX[v], shape->padfY[v]});
    rings.push_back(std::move(ring));
  }
  return rings;
}

std::string Describe(const std::vector<Ring>& rings) {
  std::string s;
  for (const Ring& r : rings) {
    s += "(";
    for (const Point2D& p : r) s += std::to_string(p.x) + " " + std::to_string(p.y) + ", ";
    s += ")";
  }
  return s;
}

bool SameRings(const std::vector<Ring>& a, const std::vector<Ring>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t r = 0; r < a.size(); ++r) {
    if (a[r].size() != b[r].size()) return false;
    for (std::size_t v = 0; v < a[r].size(); ++v) {
      if (a[r][v].x != b[r][v].x || a[r][v].y != b[r][v].y) return false;
    }
  }
  return true;
}

// Squares, closed, in both directions.
const Ring kOuterCw{{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}};
const Ring kOuterCcw{{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};
const Ring kInnerCw{{2, 2}, {2, 4}, {4, 4}, {4, 2}, {2, 2}};
const Ring kInnerCcw{{2, 2}, {4, 2}, {4, 4}, {2, 4}, {2, 2}};

struct GeometryCase {
  const char* name;
  std::vector<Ring> arcs;            // the lines of the layer, arc number = position + 1
  std::vector<int> deleted;          // positions of deleted lines
  std::vector<std::int32_t> arcList;
  std::vector<Ring> expected;        // the rings as written
};

// The region geometry cases; every source ring is simple, so every result must be a valid polygon.
std::vector<GeometryCase> GeometryCases() {
  const Ring pad{{50, 50}, {51, 50}};
  return {
      {"clockwise outer ring kept", {kOuterCw}, {}, {1}, {kOuterCw}},
      {"counter-clockwise outer ring reversed", {kOuterCcw}, {}, {1}, {kOuterCw}},
      {"reversed arc gives the outer ring", {kOuterCcw}, {}, {-1}, {kOuterCw}},
      // Arcs 5 and 7 of seven; the hole's arc is stored clockwise and listed reversed.
      {"hole from the arc list 5, 0, -7",
       {pad, pad, pad, pad, kOuterCw, pad, kInnerCw},
       {},
       {5, 0, -7},
       {kOuterCw, kInnerCcw}},
      {"hole given clockwise is reversed", {kOuterCw, kInnerCw}, {}, {1, 0, 2}, {kOuterCw, kInnerCcw}},
      // Four vertices without the closing one: the closing vertex is added, none is lost.
      {"open outer ring closed by an added vertex",
       {{{0, 0}, {0, 10}, {10, 10}, {10, 0}}},
       {},
       {1},
       {kOuterCw}},
      {"open outer ring and open hole both closed",
       {{{0, 0}, {0, 10}, {10, 10}, {10, 0}}, {{2, 2}, {4, 2}, {4, 4}, {2, 4}}},
       {},
       {1, 0, 2},
       {kOuterCw, kInnerCcw}},
      // Two arcs meeting at their ends; the shared vertex is repeated, the ring ends where it began.
      {"ring of two arcs",
       {{{0, 0}, {0, 10}, {10, 10}}, {{10, 10}, {10, 0}, {0, 0}}},
       {},
       {1, 2},
       {{{0, 0}, {0, 10}, {10, 10}, {10, 10}, {10, 0}, {0, 0}}}},
      // A ring listing a deleted arc is built from its live arcs, then closed.
      {"deleted arc left out of the ring",
       {{{0, 0}, {0, 10}, {10, 10}, {10, 0}}, {{10, 0}, {5, -5}}},
       {1},
       {1, 2},
       {kOuterCw}},
  };
}

KvxTest::LayerBuilder RegionLayer(const GeometryCase& c) {
  KvxTest::LayerBuilder b(KindRegion);
  for (const Ring& arc : c.arcs) b.AddLine(arc);
  b.AddRegion(c.arcList);
  for (int d : c.deleted) b.Line(d).flag = 0;
  b.Attributes(KvxTest::EntryRegionAttr).EnsureRecords(1);
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(static_cast<int>(c.arcs.size()));
  return b;
}

TEST(RegionConversion, RingsAreOrientedAndClosedWithoutLosingVertices) {
  for (const GeometryCase& c : GeometryCases()) {
    SCOPED_TRACE(c.name);
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b = RegionLayer(c);
    const Outcome out = ConvertRegionLayer(b, dir, PlainSettings(), RegionRoutine::Regions);
    ASSERT_EQ(out.result, 99999);
    EXPECT_EQ(out.log, WithHeader({"I__全部正确转换(1/1)"}));
    Shp shp(out.base);
    ASSERT_EQ(shp.Type(), SHPT_POLYGON);
    ASSERT_EQ(shp.Count(), 1);
    const std::vector<Ring> rings = RingsOf(shp, 0);
    EXPECT_TRUE(SameRings(rings, c.expected)) << Describe(rings) << " expected " << Describe(c.expected);
  }
}

TEST(RegionConversion, RepairOfARawGeometry) {
  // Three open rings: the part starts move by the vertices added in front of them, z and m follow.
  std::unique_ptr<MapGis::Geometry, MapGis::GeometryDeleter> g(MapGis::CreateGeometry());
  ASSERT_TRUE(g);
  const std::vector<Point2D> v{{0, 0}, {0, 9}, {9, 9}, {9, 0}, {1, 1}, {2, 1}, {2, 2}, {5, 5}, {6, 5}, {6, 6}};
  g->shapeType = 5;
  g->partCount = 3;
  g->partStart = static_cast<std::int32_t*>(std::calloc(3, sizeof(std::int32_t)));
  g->partType = static_cast<std::int32_t*>(std::calloc(3, sizeof(std::int32_t)));
  g->partStart[1] = 4;
  g->partStart[2] = 7;
  g->vertexCount = static_cast<std::int32_t>(v.size());
  for (double** a : {&g->x, &g->y, &g->z, &g->m}) *a = static_cast<double*>(std::calloc(v.size(), sizeof(double)));
  for (std::size_t i = 0; i < v.size(); ++i) {
    g->x[i] = v[i].x;
    g->y[i] = v[i].y;
    g->z[i] = static_cast<double>(i);
  }
  EXPECT_TRUE(Kvx::RepairRegionRings(g.get()));
  ASSERT_EQ(g->vertexCount, 13);
  EXPECT_EQ(g->partStart[1], 5);
  EXPECT_EQ(g->partStart[2], 9);
  const std::vector<Point2D> expected{{0, 0}, {0, 9}, {9, 9}, {9, 0}, {0, 0}, {1, 1}, {2, 1},
                                      {2, 2}, {1, 1}, {5, 5}, {6, 5}, {6, 6}, {5, 5}};
  for (int i = 0; i < 13; ++i) {
    EXPECT_EQ(g->x[i], expected[static_cast<std::size_t>(i)].x) << i;
    EXPECT_EQ(g->y[i], expected[static_cast<std::size_t>(i)].y) << i;
  }
  EXPECT_EQ(g->z[4], 0.0);
  EXPECT_EQ(g->z[8], 4.0);
  EXPECT_EQ(g->z[12], 7.0);
}

constexpr const char* kValidityScript = R"(import sys
from osgeo import ogr
ds = ogr.Open(sys.argv[1])
layer = ds.GetLayer(0)
for feature in layer:
    g = feature.GetGeometryRef()
    rings = []
    for i in range(g.GetGeometryCount()):
        r = g.GetGeometryRef(i)
        pts = [r.GetPoint_2D(j) for j in range(r.GetPointCount())]
        area = sum(pts[j][0] * pts[j + 1][1] - pts[j + 1][0] * pts[j][1] for j in range(len(pts) - 1))
        rings.append(('closed' if pts[0] == pts[-1] else 'open') + ('-cw' if area < 0 else '-ccw'))
    print(feature.GetFID(), g.GetGeometryName(), g.IsValid(), ' '.join(rings))
)";

TEST(RegionConversion, GdalSeesValidPolygons) {
  if (std::system("/usr/bin/python3 -c 'from osgeo import ogr' > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "GDAL's Python bindings are not installed";
  }
  // Every case of the geometry table in one layer, one region each.
  KvxTest::LayerBuilder b(KindRegion);
  std::vector<std::string> expected;
  int region = 0;
  for (const GeometryCase& c : GeometryCases()) {
    const int first = b.AddLine(c.arcs.front());
    for (std::size_t a = 1; a < c.arcs.size(); ++a) b.AddLine(c.arcs[a]);
    for (int d : c.deleted) b.Line(first + d).flag = 0;
    std::vector<std::int32_t> list = c.arcList;
    for (std::int32_t& a : list) a = a == 0 ? 0 : (a > 0 ? a + first : a - first);
    b.AddRegion(list);
    // GDAL reports the outer ring counter-clockwise or clockwise as stored; we store it clockwise.
    std::string rings = c.expected.size() == 1 ? "closed-cw" : "closed-cw closed-ccw";
    expected.push_back(std::to_string(region++) + " POLYGON True " + rings);
  }
  b.Attributes(KvxTest::EntryRegionAttr).EnsureRecords(region);
  KvxTest::TempDir dir;
  const Outcome out = ConvertRegionLayer(b, dir, PlainSettings(), RegionRoutine::Regions);
  ASSERT_EQ(out.result, 99999);

  const fs::path script = dir / "valid.py";
  std::ofstream(script) << kValidityScript;
  const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + out.base.string() + ".shp' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  std::vector<std::string> lines;
  char buffer[1024];
  while (std::fgets(buffer, sizeof buffer, pipe.get())) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  EXPECT_EQ(lines, expected);
}

// ---- Drawing parameters of regions -----------------------------------------------------------------

void Pattern(MapGis::MAPGIS_RegInfo& r, std::int32_t fill, std::int16_t pattern, std::int32_t patternColour,
             float width, float height) {
  r.fillColor = fill;
  r.patternNo = pattern;
  r.patternColor = patternColour;
  r.patternWidth = width;
  r.patternHeight = height;
}

// `count` unit squares, region i made of arc i + 1.
KvxTest::LayerBuilder Squares(int count) { return KvxTest::UnitSquares(count); }

TEST(RegionConversion, ParameterFieldsHoldSignedValues) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Squares(1);
  auto& r = b.Region(0);
  Pattern(r, 70000, -3, -7, 12345.678f, 0.5f);
  r.layer = -300;
  r.transparent = 1;
  Kvx::FrameSettings s = PlainSettings();
  s.symbolType = 2;
  s.colorModel = 2;  // the colour number itself
  const Outcome out = ConvertRegionLayer(b, dir, s, RegionRoutine::Regions);
  ASSERT_EQ(out.result, 99999);
  EXPECT_EQ(out.log, WithHeader({"I__增加图示表达参数字段[KVX_RCOLR]", "I__增加图示表达参数字段[KVX_PATNO]",
                                 "I__增加图示表达参数字段[KVX_RHEIH]", "I__增加图示表达参数字段[KVX_RWIDH]",
                                 "I__增加图示表达参数字段[KVX_PCOLR]", "I__增加图示表达参数字段[KVX_LAYER]",
                                 "I__增加图示表达参数字段[KVX_TRANS]", "I__全部正确转换(1/1)"}));
  Dbf dbf(out.base);
  const std::vector<FieldInfo> schema{{"KVX_RCOLR", 'N', 11, 0}, {"KVX_PATNO", 'N', 6, 0}, {"KVX_RHEIH", 'N', 8, 3},
                                      {"KVX_RWIDH", 'N', 8, 3},  {"KVX_PCOLR", 'N', 11, 0}, {"KVX_LAYER", 'N', 6, 0},
                                      {"KVX_TRANS", 'N', 4, 0}};
  EXPECT_EQ(dbf.Schema(), schema);
  const std::vector<std::string> raw{"      70000", "    -3", "   0.500", "12345.68", "         -7", "  -300", "   1"};
  for (int f = 0; f < 7; ++f) EXPECT_EQ(dbf.Raw(0, f), raw[static_cast<std::size_t>(f)]) << schema[f].name;
}

TEST(RegionConversion, LegendEntriesAndTheRegionLegend) {
  Colours colours;
  struct Case {
    const char* name;
    std::int32_t fill, patternColour;
    std::int16_t pattern;
    float width, height;
    const char* legend;   // KVX_LEGEND
    const char* symbol;   // KVX_SYMBOL
    int avlColour;        // colour object of the region's class: 7 + position of the fill colour
  };
  const Case cases[] = {
      {"blue fill", KvxTest::kBlue, KvxTest::kRed, 5, 2.0f, 3.0f, "000500FF0000000000FF00C8012C0000",
       "00056464000000646400" "00C8012C0000", 7},
      {"same pattern, red fill", KvxTest::kRed, KvxTest::kRed, 5, 2.0f, 3.0f, "0005000000FF000000FF00C8012C0000",
       "00050064640000646400" "00C8012C0000", 8},
      {"same as the first", KvxTest::kBlue, KvxTest::kRed, 5, 2.0f, 3.0f, "000500FF0000000000FF00C8012C0000",
       "00056464000000646400" "00C8012C0000", 7},
      {"other pattern colour", KvxTest::kBlue, KvxTest::kBlue, 5, 2.0f, 3.0f, "000500FF000000FF000000C8012C0000",
       "00056464000064640000" "00C8012C0000", 7},
      {"fill beyond the library", 99, KvxTest::kRed, 5, 2.0f, 3.0f, "0005000000000000" "00FF00C8012C0000",
       "00050000000000646400" "00C8012C0000", 9},
  };
  const int n = static_cast<int>(std::size(cases));
  for (std::int32_t symbolType : {4, 1}) {
    SCOPED_TRACE(symbolType);
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b = Squares(n);
    for (int i = 0; i < n; ++i) {
      const Case& c = cases[i];
      Pattern(b.Region(i), c.fill, c.pattern, c.patternColour, c.width, c.height);
    }
    Kvx::FrameSettings s = PlainSettings();
    s.symbolType = symbolType;
    const Outcome out = ConvertRegionLayer(b, dir, s, RegionRoutine::Regions, &colours.styles);
    ASSERT_EQ(out.result, 99999);
    Dbf dbf(out.base);
    if (symbolType == 4) {
      EXPECT_EQ(out.log, WithHeader({"I__增加图示表达编码字段[KVX_LEGEND]", "I__输出AVL图例文件", "I__全部正确转换(5/5)"}));
      EXPECT_EQ(dbf.Schema(), (std::vector<FieldInfo>{{"KVX_LEGEND", 'C', 32, 0}}));
    } else {
      EXPECT_EQ(out.log, WithHeader({"I__增加图示表达编码字段[KVX_SYMBOL]", "I__全部正确转换(5/5)"}));
      EXPECT_EQ(dbf.Schema(), (std::vector<FieldInfo>{{"KVX_SYMBOL", 'C', 32, 0}}));
      EXPECT_FALSE(fs::exists(dir / "out.avl"));
    }
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(dbf.Text(i, 0), symbolType == 4 ? cases[i].legend : cases[i].symbol) << cases[i].name;
    }
    if (symbolType != 4) continue;

    // One shade symbol per distinct entry, in order of first appearance, coloured by its fill.
    const std::string avl = ReadBytes(dir / "out.avl");
    std::vector<int> symbolColours;
    std::vector<std::string> labels;
    for (std::size_t pos = avl.find("(BShSym."); pos != std::string::npos; pos = avl.find("(BShSym.", pos + 1)) {
      const std::size_t colour = avl.find("Color:\t", pos);
      symbolColours.push_back(std::atoi(avl.c_str() + colour + 7));
      const std::size_t label = avl.find("Label:\t\"", pos);
      labels.push_back(avl.substr(label + 8, 32));
    }
    EXPECT_EQ(symbolColours, (std::vector<int>{7, 8, 7, 9}));
    EXPECT_EQ(labels, (std::vector<std::string>{cases[0].legend, cases[1].legend, cases[3].legend, cases[4].legend}));
  }
}

// ---- Region arcs -----------------------------------------------------------------------------------

MapGis::MAPGIS_Topology Sides(std::int32_t left, std::int32_t right) {
  MapGis::MAPGIS_Topology t{};
  t.value0 = 1000 + left;  // the other values must not leak into the fields
  t.value1 = 2000 + right;
  t.leftRegion = left;
  t.rightRegion = right;
  t.value4 = -5;
  t.value5 = -6;
  return t;
}

TEST(RegionArcConversion, EachArcTakesTheSidesOfItsOwnTopologyEntry) {
  struct ArcCase {
    const char* name;
    bool live;
    std::int32_t left, right;
  };
  // Two squares side by side: outer arcs have region 0 on one side.
  const ArcCase arcs[] = {
      {"outer boundary of region 1", true, 0, 1},
      {"shared boundary", true, 1, 2},
      {"deleted arc", false, 7, 7},
      {"outer boundary of region 2", true, 2, 0},
      {"numbers written unchanged", true, -1, 65536},
  };
  KvxTest::LayerBuilder b(KindRegion);
  b.SetTopology(0, Sides(99, 98));  // the entry of the placeholder slot 0
  for (int i = 0; i < static_cast<int>(std::size(arcs)); ++i) {
    b.AddLine({{i * 1.0, 0.0}, {i * 1.0, 1.0}});
    b.Line(i).flag = arcs[i].live ? 1 : 0;
    b.SetTopology(i + 1, Sides(arcs[i].left, arcs[i].right));
  }
  b.AddRegion({1, 2});
  b.AddRegion({-2, 4});
  b.Attributes(KvxTest::EntryRegionAttr).EnsureRecords(2);
  b.Attributes(KvxTest::EntryPrimaryAttr).AddField("ARCID", MapGis::FieldLong);
  for (int i = 0; i < static_cast<int>(std::size(arcs)); ++i) {
    b.Attributes(KvxTest::EntryPrimaryAttr).SetValue<std::int32_t>(i, 0, 100 + i);
  }
  KvxTest::TempDir dir;
  Kvx::FrameSettings s = PlainSettings();
  s.symbolType = 2;
  const Outcome out = ConvertRegionLayer(b, dir, s, RegionRoutine::Arcs);
  ASSERT_EQ(out.result, 99999);
  // The deleted arc leaves the file uncompacted.
  EXPECT_EQ(out.log, WithHeader({"W__文件未压缩存盘，可能存在错误信息", "I__增加图示表达参数字段[KVX_LTYPE]",
                                 "I__增加图示表达参数字段[KVX_LCOLR]", "I__增加图示表达参数字段[KVX_LWIDH]",
                                 "I__增加图示表达参数字段[KVX_LCLAS]", "I__增加图示表达参数字段[KVX_XSCAL]",
                                 "I__增加图示表达参数字段[KVX_YSCAL]", "I__增加图示表达参数字段[KVX_FTYPE]",
                                 "I__增加图示表达参数字段[KVX_FCOLR]", "I__增加图示表达参数字段[KVX_LAYER]",
                                 "I__增加图示表达参数字段[KVX_TRANS]", "I__增加弧段拓扑字段[KVX_LPOY]",
                                 "I__增加弧段拓扑字段[KVX_RPOY]", "I__全部正确转换(4/4)"}));

  Dbf dbf(out.base);
  const std::vector<FieldInfo> schema = dbf.Schema();
  ASSERT_EQ(schema.size(), 13u);
  EXPECT_EQ(schema[1].name, "KVX_LTYPE");
  EXPECT_EQ(schema[11], (FieldInfo{"KVX_LPOY", 'N', 11, 0}));
  EXPECT_EQ(schema[12], (FieldInfo{"KVX_RPOY", 'N', 11, 0}));
  Shp shp(out.base);
  ASSERT_EQ(shp.Type(), SHPT_ARC);
  int row = 0;
  for (int i = 0; i < static_cast<int>(std::size(arcs)); ++i) {
    if (!arcs[i].live) continue;
    SCOPED_TRACE(arcs[i].name);
    EXPECT_EQ(dbf.Integer(row, 0), 100 + i) << "the row of the arc table";
    EXPECT_EQ(dbf.Integer(row, 11), arcs[i].left);
    EXPECT_EQ(dbf.Integer(row, 12), arcs[i].right);
    EXPECT_EQ(shp.Read(row)->padfX[0], i * 1.0);
    ++row;
  }
  EXPECT_EQ(row, shp.Count());
}

TEST(RegionArcConversion, CodeModesAddNoTopologyFields) {
  Colours colours;
  const struct {
    std::int32_t symbolType;
    std::vector<FieldInfo> schema;
    std::vector<std::string> log;
    bool avl;
  } cases[] = {
      {4, {{"KVX_LEGEND", 'C', 32, 0}}, {"I__增加图示表达编码字段[KVX_LEGEND]", "I__输出AVL图例文件", "I__全部正确转换(2/2)"}, true},
      {1, {{"KVX_SYMBOL", 'C', 32, 0}}, {"I__增加图示表达编码字段[KVX_SYMBOL]", "I__全部正确转换(2/2)"}, false},
      {0, {{"KVX_FID", 'N', 11, 0}}, {"I__全部正确转换(2/2)"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.symbolType);
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b = Squares(2);
    auto& line = b.Line(0);
    line.lineType = 3;
    line.auxType = 2;
    line.color = KvxTest::kBlue;
    line.width = 0.5f;
    line.xScale = 10.0f;
    line.yScale = 2.0f;
    b.SetTopology(1, Sides(0, 1));
    Kvx::FrameSettings s = PlainSettings();
    s.symbolType = c.symbolType;
    const Outcome out = ConvertRegionLayer(b, dir, s, RegionRoutine::Arcs, &colours.styles);
    ASSERT_EQ(out.result, 99999);
    EXPECT_EQ(out.log, WithHeader(c.log));
    Dbf dbf(out.base);
    std::vector<FieldInfo> schema = dbf.Schema();
    if (c.symbolType == 0 && !schema.empty()) schema[0].width = 11;  // the row-number field, any width
    EXPECT_EQ(schema, c.schema);
    if (c.symbolType == 4) {
      EXPECT_EQ(dbf.Text(0, 0), "030200FF000000000000003203E800C8");
    }
    if (c.symbolType == 1) {
      EXPECT_EQ(dbf.Text(0, 0), "03026464000000000000003203E800C8");
    }
    EXPECT_EQ(fs::exists(dir / "out.avl"), c.avl);
    if (c.avl) {
      EXPECT_NE(ReadBytes(dir / "out.avl").find("(BLnSym."), std::string::npos);
    }
  }
}

// ---- Tables, counts and kinds ------------------------------------------------------------------------

TEST(RegionConversion, EachRoutineReadsItsOwnTableAndCountsRecords) {
  const struct {
    const char* name;
    RegionRoutine routine;
    int regionRecords, arcRecords;
    std::int32_t result;
    std::vector<std::string> log;
    std::string firstValue;
  } cases[] = {
      {"regions, records match", RegionRoutine::Regions, 2, 3, 99999, {"I__全部正确转换(2/2)"}, "region"},
      {"regions, a record short", RegionRoutine::Regions, 1, 3, 99999,
       {"W__文件图形记录与属性记录数量不匹配", "I__全部正确转换(2/2)"}, "region"},
      {"arcs, records match", RegionRoutine::Arcs, 2, 2, 99999, {"I__全部正确转换(2/2)"}, "arc"},
      {"arcs, a record short", RegionRoutine::Arcs, 2, 1, 99999,
       {"E__文件图形记录与属性记录数量不匹配", "I__全部正确转换(2/2)"}, "arc"},
      {"arcs, negative record count", RegionRoutine::Arcs, 2, -1, -9977, {"E__文件属性记录数量错误"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KvxTest::LayerBuilder b = Squares(2);
    auto& regions = b.Attributes(KvxTest::EntryRegionAttr);
    auto& arcs = b.Attributes(KvxTest::EntryPrimaryAttr);
    regions.AddField("NAME", MapGis::FieldString, 10);
    arcs.AddField("NAME", MapGis::FieldString, 10);
    for (int i = 0; i < 2; ++i) {
      regions.SetText(i, 0, "region");
      arcs.SetText(i, 0, "arc");
    }
    regions.SetRecordCount(c.regionRecords);
    if (c.arcRecords >= 0) {
      arcs.SetRecordCount(c.arcRecords);
    } else {
      arcs.overrides.recordCount = 0;  // the placeholder is counted: 0 stored gives -1
    }
    KvxTest::TempDir dir;
    const Outcome out = ConvertRegionLayer(b, dir, PlainSettings(), c.routine);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.log, WithHeader(c.log));
    if (c.result != 99999) continue;
    Dbf dbf(out.base);
    EXPECT_EQ(dbf.Text(0, 0), c.firstValue);
    EXPECT_EQ(Shp(out.base).Type(), c.routine == RegionRoutine::Regions ? SHPT_POLYGON : SHPT_ARC);
  }
}

TEST(RegionConversion, OnlyRegionFilesAreTaken) {
  for (RegionRoutine routine : {RegionRoutine::Regions, RegionRoutine::Arcs}) {
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b = Lines(1, KindLine);
    const Outcome out = ConvertRegionLayer(b, dir, PlainSettings(), routine);
    EXPECT_EQ(out.result, -9997);
    EXPECT_EQ(out.log, WithHeader({"E__文件几何类型错误"}));
  }
}

}  // namespace

namespace {

// A region layer written by the library's own layer writer converts to a valid polygon: the
// outer ring clockwise, the hole counter-clockwise, both closed.
TEST(RegionConversion, LayerFromTheWriterConvertsToPolygons) {
  KvxTest::TempDir dir;
  const fs::path source = dir / "written.wp";
  {
    MapGis::MapGis_FastWriter w;
    ASSERT_EQ(w.Create(source.c_str(), KindRegion), MapGis::Status::Success);
    std::unique_ptr<MapGis::Geometry, MapGis::GeometryDeleter> g(MapGis::CreateGeometry());
    // Outer ring counter-clockwise and hole clockwise as stored: the conversion turns both.
    const double xs[] = {0, 10, 10, 0, 0, 2, 2, 4, 2};
    const double ys[] = {0, 0, 10, 10, 0, 2, 4, 4, 2};
    g->shapeType = 5;
    g->partCount = 2;
    g->partStart = static_cast<int*>(std::calloc(2, sizeof(int)));
    g->partType = static_cast<int*>(std::calloc(2, sizeof(int)));
    g->partStart[1] = 5;
    g->partType[0] = 5;
    g->partType[1] = 3;
    g->vertexCount = 9;
    g->x = static_cast<double*>(std::calloc(9, sizeof(double)));
    g->y = static_cast<double*>(std::calloc(9, sizeof(double)));
    g->z = static_cast<double*>(std::calloc(9, sizeof(double)));
    g->m = static_cast<double*>(std::calloc(9, sizeof(double)));
    for (int i = 0; i < 9; ++i) {
      g->x[i] = xs[i];
      g->y[i] = ys[i];
    }
    MapGis::MAPGIS_RegInfo reg{};
    reg.flag = 1;
    reg.fillColor = 3;
    ASSERT_EQ(w.AddPolygonInfo(reg, g.get()), MapGis::Status::Success);
    ASSERT_EQ(w.Flush(), MapGis::Status::Success);
    w.Close();
  }
  Kvx::StyleContext noColours;
  const fs::path base = dir / "out";
  ASSERT_EQ(Kvx::ConvertWP2SHP(source, base, {noColours, Kvx::SilentNotifier()}, PlainSettings()), Kvx::kConvertSuccess);
  Shp shp(base);
  ASSERT_EQ(shp.Count(), 1);
  const std::vector<Ring> rings = RingsOf(shp, 0);
  ASSERT_EQ(rings.size(), 2u);
  auto area = [](const Ring& r) {
    double a = 0;
    for (std::size_t i = 0; i + 1 < r.size(); ++i) a += r[i].x * r[i + 1].y - r[i + 1].x * r[i].y;
    return a / 2;
  };
  for (const Ring& r : rings) {
    ASSERT_GE(r.size(), 4u);
    EXPECT_EQ(r.front().x, r.back().x);
    EXPECT_EQ(r.front().y, r.back().y);
  }
  EXPECT_LT(area(rings[0]), 0);  // clockwise
  EXPECT_GT(area(rings[1]), 0);  // counter-clockwise
  EXPECT_DOUBLE_EQ(area(rings[0]), -100.0);
  EXPECT_DOUBLE_EQ(area(rings[1]), 2.0);
}

}  // namespace
