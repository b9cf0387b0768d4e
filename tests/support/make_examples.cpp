// Writes the small demo project kept in examples/: a made-up geological map of a valley with its
// water supply, as MapGIS stores it (GBK field names, values and texts):
//
//   roads.wl     line layer: five roads in four drawing styles, and one deleted line slot
//   sites.wt     point layer: sampling sites and wells as symbols, place names and a rock label
//                as annotations in several fonts, heights, angles and colours
//   geology.wp   region layer: four map units, two of them holes in a neighbour, with fill
//                colours, patterns and arc topology
//   pipes.wn     network layer: five pipes and six nodes (water works, tees, a valve, hydrants),
//                attributes on the pipes and on the nodes
//   wells.wb     stand-alone attribute table: five boreholes
//   Pcolor.lib   colour library: 40 map colours; every colour number above lies within it
//   geology.mpj  the project listing the five layers: a plain relative name, a backslash name in
//                other letter case and an absolute Windows path (found beside the project)
//
// Usage: kvx_make_examples [DIR]   (DIR defaults to "examples")

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/byte_fixture.h"
#include "support/layer_builder.h"
#include "support/project_builder.h"
#include "vordex/conversions.h"
#include "vordex/layer_reader.h"
#include "vordex/text_encoding.h"

namespace {

using namespace MapGis;
using KvxTest::LayerBuilder;

std::string G(const char* utf8) { return Utf8ToGbk(utf8); }

// ---- Colours ------------------------------------------------------------------------------------

// The colour library, K, C, M, Y in 0..255; colour number n is entry n - 1.
struct LibraryColour {
  std::uint8_t k, c, m, y;
};

constexpr std::array<LibraryColour, 40> kLibrary = {{
    {255, 0, 0, 0},      //  1 black
    {179, 0, 0, 0},      //  2 dark grey
    {128, 0, 0, 0},      //  3 grey
    {51, 0, 0, 0},       //  4 light grey
    {0, 0, 0, 0},        //  5 white
    {0, 0, 255, 255},    //  6 red
    {64, 0, 255, 230},   //  7 dark red
    {0, 0, 140, 255},    //  8 orange
    {0, 0, 90, 230},     //  9 amber
    {0, 0, 0, 255},      // 10 yellow
    {0, 0, 0, 102},      // 11 pale yellow
    {0, 0, 26, 77},      // 12 cream
    {0, 128, 0, 255},    // 13 grass green
    {77, 230, 0, 230},   // 14 dark green
    {0, 77, 0, 102},     // 15 pale green
    {0, 255, 0, 0},      // 16 cyan
    {0, 153, 26, 0},     // 17 lake blue
    {0, 77, 13, 0},      // 18 pale blue
    {0, 255, 128, 0},    // 19 blue
    {77, 255, 179, 0},   // 20 navy
    {0, 128, 230, 0},    // 21 purple
    {0, 51, 102, 0},     // 22 lavender
    {0, 0, 255, 0},      // 23 magenta
    {0, 0, 102, 26},     // 24 pink
    {77, 0, 153, 230},   // 25 brown
    {26, 0, 77, 204},    // 26 ochre
    {51, 0, 128, 179},   // 27 sienna
    {26, 0, 179, 179},   // 28 brick red
    {77, 51, 0, 230},    // 29 olive
    {51, 204, 0, 102},   // 30 teal
    {0, 0, 0, 77},       // 31 Quaternary, pale yellow
    {0, 0, 26, 153},     // 32 Neogene, yellow
    {0, 0, 77, 153},     // 33 Palaeogene, light orange
    {0, 89, 0, 128},     // 34 Cretaceous, green
    {0, 128, 0, 26},     // 35 Jurassic, blue green
    {0, 77, 128, 0},     // 36 Triassic, light purple
    {0, 38, 102, 102},   // 37 Permian, salmon
    {51, 77, 26, 26},    // 38 Carboniferous, grey blue
    {0, 51, 102, 153},   // 39 Devonian, tan
    {0, 0, 153, 102},    // 40 granite, rose
}};

// Colour numbers used by the layers.
enum Colour : std::int32_t {
  Black = 1,
  DarkGrey = 2,
  Grey = 3,
  Red = 6,
  DarkRed = 7,
  Orange = 8,
  DarkGreen = 14,
  LakeBlue = 17,
  Blue = 19,
  Navy = 20,
  Brown = 25,
  Ochre = 26,
  Quaternary = 31,
  Cretaceous = 34,
  Jurassic = 35,
  Granite = 40,
};

// Head (magic, counts, ink table) and one 32-byte record per colour: the base K, C, M, Y and
// the ink amounts. The demo library uses no spot inks.
bool ColourLibrary(const std::string& dir) {
  COLORLIB_HEAD head{};
  std::memcpy(head.magic, "PCOLOR 3", sizeof head.magic);
  head.colorCount = static_cast<std::int16_t>(kLibrary.size());
  head.inkCount = 0;
  KvxTest::Bytes bytes(sizeof head);
  std::memcpy(bytes.data(), &head, sizeof head);
  for (const LibraryColour& c : kLibrary) {
    MAPGIS_Color record{};
    record.base = CMYKQUAD{c.k, c.c, c.m, c.y};
    const std::size_t at = bytes.size();
    bytes.resize(at + sizeof record);
    std::memcpy(bytes.data() + at, &record, sizeof record);
  }
  return KvxTest::WriteBytes(dir + "/Pcolor.lib", bytes);
}

// ---- Layers -------------------------------------------------------------------------------------

void Geographic(LayerBuilder& b) {
  MAP_PARAstruct& p = b.Projection();
  p.coordKind = 3;  // projected
  p.unit = 2;
  p.projType = 5;
  p.ellipsoid = 9;
  p.scale = 1.0;
  p.centralMeridian = 1170000.0;
}

double Length(const std::vector<Point2D>& v) {
  double sum = 0.0;
  for (std::size_t i = 1; i < v.size(); ++i) sum += std::hypot(v[i].x - v[i - 1].x, v[i].y - v[i - 1].y);
  return sum;
}

void LineStyle(MAPGIS_LineInfo& l, std::int32_t colour, float width, std::int16_t lineType, float xScale = 1.0f,
               float yScale = 1.0f) {
  l.color = colour;
  l.width = width;
  l.lineType = lineType;
  l.xScale = xScale;
  l.yScale = yScale;
}

bool Roads(const std::string& dir) {
  struct Road {
    const char* name;
    std::int16_t grade;
    std::vector<Point2D> path;
    std::int32_t colour;
    float width;
    std::int16_t lineType;
    float xScale;
  };
  const std::vector<Road> roads = {
      {"青石路", 1, {{100, 100}, {180, 140}, {260, 150}, {340, 210}}, DarkRed, 0.8f, 1, 1.0f},
      {"沿河路", 2, {{120, 300}, {200, 260}, {300, 280}}, Orange, 0.5f, 1, 1.0f},
      {"", 0, {{0, 0}, {10, 10}}, Black, 0.1f, 1, 1.0f},  // left behind by an edit, never compacted
      {"北山路", 3, {{340, 210}, {380, 320}, {420, 360}}, Grey, 0.3f, 2, 4.0f},
      {"林场小道", 4, {{40, 40}, {90, 70}, {100, 100}}, Brown, 0.2f, 4, 2.0f},
      {"环山路", 1, {{340, 210}, {440, 200}, {480, 120}}, DarkRed, 0.8f, 1, 1.0f},
  };
  LayerBuilder b(KindLine);
  Geographic(b);
  auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
  a.AddField(G("名称"), FieldString, 20);
  a.AddField(G("等级"), FieldShort);
  a.AddField(G("长度"), FieldDouble, -1, 12, 2);
  for (std::size_t i = 0; i < roads.size(); ++i) {
    const Road& r = roads[i];
    const int n = b.AddLine(r.path);
    LineStyle(b.Line(n), r.colour, r.width, r.lineType, r.xScale);
    b.Line(n).layer = 1;
    a.SetText(n, 0, G(r.name));
    a.SetValue<std::int16_t>(n, 1, r.grade);
    a.SetValue<double>(n, 2, std::round(Length(r.path) * 100.0) / 100.0);
  }
  b.Line(2).flag = 0;
  return b.WriteTo(dir + "/roads.wl");
}

bool Sites(const std::string& dir) {
  LayerBuilder b(KindPoint);
  Geographic(b);
  auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
  a.AddField(G("编号"), FieldLong);
  a.AddField(G("岩性"), FieldString, 16);
  a.AddField(G("采样日期"), FieldDate);
  a.AddField(G("说明"), FieldString, 24);

  // Symbols: sampling sites (red), a spring (blue), wells (dark green, rotated).
  struct Symbol {
    double x, y;
    std::int32_t symbolNo;
    float size;
    float angle;
    std::int32_t colour;
    const char* rock;
    const char* note;
  };
  const std::vector<Symbol> symbols = {
      {150, 220, 12, 4.0f, 0.0f, Red, "砂岩", "采样点"},
      {310, 330, 27, 3.0f, 0.0f, Blue, "页岩", "泉水出露"},
      {420, 90, 12, 4.0f, 0.0f, Red, "灰岩", "采样点"},
      {60, 160, 45, 5.0f, 30.0f, DarkGreen, "砾岩", "民井"},
      {470, 260, 45, 5.0f, 30.0f, DarkGreen, "砂岩", "民井"},
  };
  for (const Symbol& s : symbols) {
    const int n = b.AddPoint(s.x, s.y);
    MAPGIS_PntInfo& p = b.Point(n);
    p.symbolNo = s.symbolNo;
    p.height = s.size;
    p.width = s.size;
    p.angle = s.angle;
    p.color = s.colour;
    p.layer = 2;
  }

  // Annotations: place names and a rock label.
  struct Label {
    double x, y;
    const char* text;
    float height;
    float angle;
    std::int16_t chineseFont;  // 1 Song, 3 Hei, 4 Kai, 2 FangSong
    std::int8_t fontStyle;     // 0 upright, 1 slanted left
    std::int32_t colour;
    const char* note;
  };
  const std::vector<Label> labels = {
      {200, 120, "花岗岩", 5.0f, 0.0f, 2, 0, Granite, "岩体标注"},
      {100, 380, "青龙山", 8.0f, 0.0f, 3, 0, Black, "山名"},
      {210, 270, "沿河路", 4.0f, 15.0f, 1, 0, Orange, "路名"},
      {440, 330, "北山水库", 6.0f, 0.0f, 4, 1, Blue, "水体"},
      {380, 40, "白垩系下统", 4.5f, 0.0f, 1, 0, DarkGrey, "地层"},
  };
  for (const Label& l : labels) {
    const int n = b.AddPoint(l.x, l.y, G(l.text));
    MAPGIS_PntInfo& p = b.Point(n);
    p.textHeight = l.height;
    p.textWidth = l.height;
    p.spacing = 0.2f * l.height;
    p.angle = l.angle;
    p.chineseFont = l.chineseFont;
    p.westernFont = 1;
    p.fontStyle = l.fontStyle;
    p.alignment = 0;
    p.color = l.colour;
    p.layer = 3;
  }

  for (std::size_t i = 0; i < symbols.size(); ++i) {
    const int n = static_cast<int>(i);
    a.SetValue<std::int32_t>(n, 0, 1001 + n);
    a.SetText(n, 1, G(symbols[i].rock));
    a.SetValue(n, 2, DATE_STRUstruct{2019, 5, static_cast<std::int8_t>(10 + n)});
    a.SetText(n, 3, G(symbols[i].note));
  }
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const int n = static_cast<int>(symbols.size() + i);
    a.SetValue<std::int32_t>(n, 0, 2001 + static_cast<std::int32_t>(i));
    a.SetText(n, 1, i == 0 ? G("花岗岩") : "");
    a.SetValue(n, 2, DATE_STRUstruct{2019, 6, static_cast<std::int8_t>(1 + i)});
    a.SetText(n, 3, G(labels[i].note));
  }
  return b.WriteTo(dir + "/sites.wt");
}

// Two blocks side by side, a square hole in the western one filled by a Quaternary patch and a
// lens in the eastern one that is Jurassic again. Arc k is line k - 1.
bool Geology(const std::string& dir) {
  LayerBuilder b(KindRegion);
  Geographic(b);
  b.AddLine({{0, 0}, {0, 400}, {250, 400}});                             // arc 1: west and north
  b.AddLine({{250, 400}, {250, 0}});                                     // arc 2: the contact
  b.AddLine({{250, 0}, {0, 0}});                                         // arc 3: south
  b.AddLine({{80, 80}, {160, 80}, {160, 160}, {80, 160}, {80, 80}});     // arc 4: the square
  b.AddLine({{250, 0}, {500, 0}, {500, 400}, {250, 400}});               // arc 5: the eastern block
  b.AddLine({{320, 120}, {420, 120}, {420, 260}, {320, 260}, {320, 120}});  // arc 6: the lens

  // Arc drawing and topology (left and right region numbers, 0 outside the map).
  struct Arc {
    std::int32_t colour;
    float width;
    std::int16_t lineType;
    std::int32_t left, right;
  };
  const Arc arcs[] = {
      {Black, 0.3f, 1, 0, 1},
      {Black, 0.2f, 1, 2, 1},
      {Black, 0.3f, 1, 0, 1},
      {DarkGrey, 0.15f, 2, 3, 1},
      {Black, 0.3f, 1, 2, 0},
      {DarkGrey, 0.15f, 2, 4, 2},
  };
  for (int i = 0; i < 6; ++i) {
    LineStyle(b.Line(i), arcs[i].colour, arcs[i].width, arcs[i].lineType);
    MAPGIS_Topology t{};
    t.leftRegion = arcs[i].left;
    t.rightRegion = arcs[i].right;
    b.SetTopology(i + 1, t);
  }

  b.AddRegion({1, 2, 3, 0, 4});  // Upper Jurassic with the hole
  b.AddRegion({5, 2, 0, 6});      // Lower Cretaceous with the lens
  b.AddRegion({-4});              // Quaternary patch
  b.AddRegion({-6});              // Upper Jurassic lens

  struct Unit {
    const char* code;
    const char* name;
    std::int32_t fill;
    std::int16_t pattern;
    std::int32_t patternColour;
    float patternSize;
    double area;
  };
  const Unit units[] = {
      {"J3", "上侏罗统", Jurassic, 0, 0, 0.0f, 250.0 * 400 - 80 * 80},
      {"K1", "下白垩统", Cretaceous, 12, DarkGreen, 5.0f, 250.0 * 400 - 100 * 140},
      {"Q4", "全新统", Quaternary, 3, Ochre, 2.5f, 80.0 * 80},
      {"J3", "上侏罗统", Jurassic, 0, 0, 0.0f, 100.0 * 140},
  };
  auto& a = b.Attributes(KvxTest::EntryRegionAttr);
  a.AddField(G("地层代号"), FieldString, 10);
  a.AddField(G("地层名称"), FieldString, 16);
  a.AddField(G("面积"), FieldDouble, -1, 14, 3);
  for (int i = 0; i < 4; ++i) {
    MAPGIS_RegInfo& r = b.Region(i);
    r.fillColor = units[i].fill;
    r.patternNo = units[i].pattern;
    r.patternColor = units[i].patternColour;
    r.patternHeight = units[i].patternSize;
    r.patternWidth = units[i].patternSize;
    r.layer = 4;
    a.SetText(i, 0, units[i].code);
    a.SetText(i, 1, G(units[i].name));
    a.SetValue<double>(i, 2, units[i].area);
  }
  return b.WriteTo(dir + "/geology.wp");
}

// The parameter block of a network node holds the point record from its byte 31 on.
template <typename T>
void PutAt(std::array<std::uint8_t, 94>& block, std::size_t recordOffset, T value) {
  std::memcpy(block.data() + recordOffset - offsetof(MAPGIS_PntInfo, pointType), &value, sizeof value);
}

std::array<std::uint8_t, 94> NodeSymbol(std::int32_t symbolNo, float size, float angle, std::int32_t colour) {
  std::array<std::uint8_t, 94> block{};
  PutAt<std::uint8_t>(block, offsetof(MAPGIS_PntInfo, pointType), 1);  // a symbol
  PutAt<std::int32_t>(block, offsetof(MAPGIS_PntInfo, symbolNo), symbolNo);
  PutAt<float>(block, offsetof(MAPGIS_PntInfo, height), size);
  PutAt<float>(block, offsetof(MAPGIS_PntInfo, width), size);
  PutAt<float>(block, offsetof(MAPGIS_PntInfo, angle), angle);
  PutAt<std::int32_t>(block, offsetof(MAPGIS_PntInfo, color), colour);
  PutAt<std::int16_t>(block, offsetof(MAPGIS_PntInfo, layer), std::int16_t{5});
  return block;
}

// A water supply: pipes from the water works down the valley, nodes at their ends.
bool Pipes(const std::string& dir) {
  LayerBuilder b(KindNetwork);
  Geographic(b);

  struct Node {
    double x, y;
    const char* kind;
    std::int32_t symbolNo;
    float size;
    float angle;
    std::int32_t colour;
    double elevation;
  };
  const std::vector<Node> nodes = {
      {60, 360, "水厂", 101, 5.0f, 0.0f, Navy, 152.4},
      {180, 300, "三通", 5, 2.0f, 0.0f, Black, 138.9},
      {300, 300, "阀门", 33, 3.0f, 90.0f, Red, 131.2},
      {300, 180, "三通", 5, 2.0f, 0.0f, Black, 126.5},
      {420, 180, "消火栓", 41, 3.0f, 0.0f, Red, 121.7},
      {180, 120, "消火栓", 41, 3.0f, 0.0f, Red, 124.3},
  };
  auto& na = b.Attributes(KvxTest::EntryNodeAttr);
  na.AddField(G("节点编号"), FieldLong);
  na.AddField(G("类型"), FieldString, 10);
  na.AddField(G("地面高程"), FieldDouble, -1, 10, 2);
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const Node& n = nodes[i];
    const int k = b.AddNode(n.x, n.y, NodeSymbol(n.symbolNo, n.size, n.angle, n.colour));
    na.SetValue<std::int32_t>(k, 0, 1 + k);
    na.SetText(k, 1, G(n.kind));
    na.SetValue<double>(k, 2, n.elevation);
  }

  struct Pipe {
    const char* id;
    std::vector<Point2D> path;
    std::int16_t diameter;  // mm
    const char* material;
    float depth;            // m
    std::int32_t colour;
    float width;
  };
  const std::vector<Pipe> pipes = {
      {"GX-001", {{60, 360}, {120, 330}, {180, 300}}, 300, "球墨铸铁", 1.8f, Blue, 0.6f},
      {"GX-002", {{180, 300}, {300, 300}}, 200, "球墨铸铁", 1.5f, Blue, 0.45f},
      {"GX-003", {{300, 300}, {300, 180}}, 200, "球墨铸铁", 1.5f, Blue, 0.45f},
      {"GX-004", {{300, 180}, {360, 170}, {420, 180}}, 100, "聚乙烯", 1.2f, LakeBlue, 0.3f},
      {"GX-005", {{180, 300}, {180, 120}}, 150, "钢管", 1.2f, LakeBlue, 0.3f},
  };
  auto& la = b.Attributes(KvxTest::EntryPrimaryAttr);
  la.AddField(G("管线编号"), FieldString, 12);
  la.AddField(G("管径"), FieldShort);
  la.AddField(G("材质"), FieldString, 12);
  la.AddField(G("长度"), FieldDouble, -1, 12, 2);
  la.AddField(G("埋深"), FieldFloat, -1, 8, 2);
  for (const Pipe& p : pipes) {
    const int k = b.AddLine(p.path);
    LineStyle(b.Line(k), p.colour, p.width, 1);
    b.Line(k).layer = 5;
    la.SetText(k, 0, p.id);
    la.SetValue<std::int16_t>(k, 1, p.diameter);
    la.SetText(k, 2, G(p.material));
    la.SetValue<double>(k, 3, std::round(Length(p.path) * 100.0) / 100.0);
    la.SetValue<float>(k, 4, p.depth);
  }
  return b.WriteTo(dir + "/pipes.wn");
}

bool Wells(const std::string& dir) {
  LayerBuilder b(KindTable);
  auto& a = b.Attributes(KvxTest::EntryPrimary);
  a.AddField(G("井号"), FieldString, 8);
  a.AddField(G("井深"), FieldDouble, -1, 10, 2);
  a.AddField(G("静水位"), FieldFloat, -1, 8, 2);
  a.AddField(G("出水量"), FieldLong);
  a.AddField(G("成井日期"), FieldDate);
  a.AddField(G("含水层"), FieldString, 16);
  a.AddField(G("备注"), FieldString, 24);
  struct Well {
    const char* id;
    double depth;
    float water;
    std::int32_t yield;  // m3 per day
    DATE_STRUstruct built;
    const char* aquifer;
    const char* note;
  };
  const Well wells[] = {
      {"ZK01", 85.50, 12.35f, 420, {2015, 4, 18}, "第四系孔隙水", "水厂水源井"},
      {"ZK02", 120.00, 18.60f, 310, {2016, 9, 2}, "侏罗系裂隙水", ""},
      {"ZK03", 64.25, 8.75f, 95, {2017, 3, 27}, "第四系孔隙水", "民用"},
      {"ZK04", 150.80, 25.10f, 180, {2018, 11, 6}, "白垩系裂隙水", "观测井"},
      {"ZK05", 42.00, 5.40f, 0, {2019, 7, 15}, "第四系孔隙水", "已封井"},
  };
  a.SetRecordCount(5);
  for (int i = 0; i < 5; ++i) {
    const Well& w = wells[i];
    a.SetText(i, 0, w.id);
    a.SetValue<double>(i, 1, w.depth);
    a.SetValue<float>(i, 2, w.water);
    a.SetValue<std::int32_t>(i, 3, w.yield);
    a.SetValue(i, 4, w.built);
    a.SetText(i, 5, G(w.aquifer));
    a.SetText(i, 6, G(w.note));
  }
  return b.WriteTo(dir + "/wells.wb");
}

// The project that lists the five layers, as MapGIS on Windows stores it: GBK names, one with a
// backslash path and upper-case letters, one absolute on a drive that does not exist here.
bool Project(const std::string& dir) {
  KvxTest::ProjectFile p;
  p.description = G("示例地质图");
  p.scale = 1.0;
  p.items = {
      {0, "roads.wl", G("道路"), 0.0, 100000.0},
      {1, ".\\SITES.WT", G("采样点与注记"), 0.0, 50000.0},
      {2, "D:\\maps\\demo\\Geology.WP", G("地层"), 0.0, 0.0},
      {11, "pipes.wn", G("供水管网"), 0.0, 50000.0},
      {7, ".\\Wells.WB", G("钻孔表"), 0.0, 0.0},
  };
  return KvxTest::WriteBytes(dir + "/geology.mpj", p.Build());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "examples";
  if (!ColourLibrary(dir) || !Roads(dir) || !Sites(dir) || !Geology(dir) || !Pipes(dir) || !Wells(dir) ||
      !Project(dir)) {
    std::fprintf(stderr, "cannot write the demo files into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
