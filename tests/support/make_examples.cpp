// Writes the small demo layers kept in examples/: a line, a point and a region layer of a
// made-up geological map, with GBK field names and values as MapGIS stores them.

#include <cstdio>
#include <string>

#include "support/layer_builder.h"
#include "support/project_builder.h"
#include "vordex/layer_reader.h"
#include "vordex/text_encoding.h"

namespace {

using namespace MapGis;
using KvxTest::LayerBuilder;

std::string G(const char* utf8) { return Utf8ToGbk(utf8); }

void Geographic(LayerBuilder& b) {
  MAP_PARAstruct& p = b.Projection();
  p.coordKind = 3;  // projected
  p.unit = 2;
  p.projType = 5;
  p.ellipsoid = 9;
  p.scale = 1.0;
  p.centralMeridian = 1170000.0;
}

bool Roads(const std::string& dir) {
  LayerBuilder b(KindLine);
  Geographic(b);
  b.AddLine({{100, 100}, {180, 140}, {260, 150}, {340, 210}});
  b.AddLine({{120, 300}, {200, 260}, {300, 280}});
  int deleted = b.AddLine({{0, 0}, {10, 10}});
  b.Line(deleted).flag = 0;  // left behind by an edit that was never compacted
  b.AddLine({{340, 210}, {380, 320}, {420, 360}});
  for (int i = 0; i < 4; ++i) {
    b.Line(i).color = 3 + i;
    b.Line(i).width = 0.2f * static_cast<float>(i + 1);
    b.Line(i).lineType = static_cast<std::int16_t>(1 + i);
  }
  auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
  a.AddField(G("名称"), FieldString, 20);
  a.AddField(G("等级"), FieldShort);
  a.AddField(G("长度"), FieldDouble, -1, 12, 2);
  const char* names[] = {"青石路", "沿河路", "", "北山路"};
  for (int i = 0; i < 4; ++i) {
    a.SetText(i, 0, G(names[i]));
    a.SetValue<std::int16_t>(i, 1, static_cast<std::int16_t>(i + 1));
    a.SetValue<double>(i, 2, 120.5 * (i + 1));
  }
  return b.WriteTo(dir + "/roads.wl");
}

bool Sites(const std::string& dir) {
  LayerBuilder b(KindPoint);
  Geographic(b);
  b.AddPoint(150, 220);
  b.AddPoint(310, 330);
  int label = b.AddPoint(200, 120, G("花岗岩"));
  b.Point(label).textHeight = 5.0f;
  b.Point(label).textWidth = 5.0f;
  b.Point(0).symbolNo = 12;
  b.Point(1).symbolNo = 27;
  auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
  a.AddField(G("编号"), FieldLong);
  a.AddField(G("岩性"), FieldString, 16);
  a.AddField(G("采样日期"), FieldDate);
  const char* rocks[] = {"砂岩", "页岩", "花岗岩"};
  for (int i = 0; i < 3; ++i) {
    a.SetValue<std::int32_t>(i, 0, 1001 + i);
    a.SetText(i, 1, G(rocks[i]));
    a.SetValue(i, 2, DATE_STRUstruct{2019, 5, static_cast<std::int8_t>(10 + i)});
  }
  return b.WriteTo(dir + "/sites.wt");
}

bool Geology(const std::string& dir) {
  LayerBuilder b(KindRegion);
  Geographic(b);
  b.AddLine({{0, 0}, {0, 400}, {250, 400}});        // arc 1
  b.AddLine({{250, 400}, {250, 0}, {0, 0}});        // arc 2
  b.AddLine({{80, 80}, {160, 80}, {160, 160}, {80, 160}, {80, 80}});  // arc 3, a hole
  b.AddLine({{250, 0}, {500, 0}, {500, 400}, {250, 400}});            // arc 4
  b.AddRegion({1, 2, 0, 3});
  b.AddRegion({4, 2});
  b.AddRegion({-3});
  for (int i = 0; i < 3; ++i) b.Region(i).fillColor = 20 + i;
  auto& a = b.Attributes(KvxTest::EntryRegionAttr);
  a.AddField(G("地层代号"), FieldString, 10);
  a.AddField(G("面积"), FieldDouble, -1, 14, 3);
  const char* codes[] = {"J3", "K1", "Q4"};
  for (int i = 0; i < 3; ++i) {
    a.SetText(i, 0, codes[i]);
    a.SetValue<double>(i, 1, 1000.0 * (i + 1));
  }
  return b.WriteTo(dir + "/geology.wp");
}

// The project that lists the three layers, as MapGIS on Windows stores it: GBK names, one with
// a backslash path and upper-case letters, one absolute.
bool Project(const std::string& dir) {
  KvxTest::ProjectFile p;
  p.description = G("示例地质图");
  p.scale = 1.0;
  p.items = {
      {0, "roads.wl", G("道路"), 0.0, 100000.0},
      {1, ".\\SITES.WT", G("采样点"), 0.0, 50000.0},
      {2, "D:\\maps\\demo\\Geology.WP", G("地层"), 0.0, 0.0},
  };
  return KvxTest::WriteBytes(dir + "/geology.mpj", p.Build());
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "examples";
  if (!Roads(dir) || !Sites(dir) || !Geology(dir) || !Project(dir)) {
    std::fprintf(stderr, "cannot write the demo layers into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
