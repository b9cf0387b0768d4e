// Writes the seed corpus of the fuzz targets with the test fixture builder:
//
//   DIR/layer/    small layers of every kind: lines (one slot deleted, tics), points (symbols and
//                 annotations), regions (a square, a square with a hole, two squares side by side,
//                 a ring that crosses itself), a network (lines and nodes), a table with a field of
//                 every decoded type, and layers that are not compacted
//   DIR/project/  projects (items of every kind, Windows names, an empty one, one whose item table
//                 lies behind a gap) and colour libraries
//
// The demo files in examples/ (made by the same builder) are added by the caller.
//
// Usage: kvx_fuzz_seeds DIR

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/layer_builder.h"
#include "support/project_builder.h"
#include "vordex/layer_reader.h"

namespace {

using namespace MapGis;
using KvxTest::LayerBuilder;

bool Store(const std::filesystem::path& path, LayerBuilder& b) { return b.WriteTo(path); }

bool Layers(const std::filesystem::path& dir) {
  bool ok = true;
  {
    LayerBuilder b(KindLine);
    b.AddLine({{0, 0}, {1, 1}, {2, 0}});
    b.AddLine({{5, 5}, {5, 5}});
    b.AddLine({{3, 3}, {4, 4}});
    b.Line(1).flag = 0;
    b.overrides.liveCount = 2;
    auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
    a.AddField("NAME", FieldString, 8);
    a.AddField("CODE", FieldLong);
    a.SetText(0, 0, "road");
    a.SetValue(0, 1, std::int32_t{42});
    b.AddTic(MAPGIS_Tic_Info{});
    ok = Store(dir / "lines.wl", b) && ok;
  }
  {
    LayerBuilder b(KindPoint);
    b.AddPoint(0, 0);
    b.AddPoint(1, 0, "ab");
    b.AddPoint(2, 0, "\xb5\xd8\xc3\xfb");  // GBK text
    b.Point(2).pointType = 5;
    auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
    a.AddField("H", FieldDouble);
    a.SetValue(1, 0, 12.5);
    ok = Store(dir / "points.wt", b) && ok;
  }
  {
    LayerBuilder b = KvxTest::UnitSquares(2);
    ok = Store(dir / "squares.wp", b) && ok;
  }
  {
    LayerBuilder b(KindRegion);
    b.AddLine({{0, 0}, {0, 4}, {4, 4}, {4, 0}, {0, 0}});
    b.AddLine({{1, 1}, {2, 1}, {2, 2}, {1, 2}, {1, 1}});
    b.AddLine({{10, 0}, {12, 2}, {12, 0}, {10, 2}, {10, 0}});
    b.AddRegion({1, 0, -2});
    b.AddRegion({3});
    b.SetTopology(1, MAPGIS_Topology{0, 0, 1, 0, 0, 0});
    b.Attributes(KvxTest::EntryRegionAttr).AddField("AREA", FieldFloat);
    b.Attributes(KvxTest::EntryRegionAttr).EnsureRecords(2);
    ok = Store(dir / "holes.wp", b) && ok;
  }
  {
    LayerBuilder b(KindNetwork);
    b.AddLine({{0, 0}, {1, 0}});
    b.AddLine({{1, 0}, {1, 1}});
    std::array<std::uint8_t, 94> block{};
    block[0] = 1;
    b.AddNode(0, 0, block);
    b.AddNode(1, 0, block);
    b.AddNode(1, 1, block);
    b.Attributes(KvxTest::EntryNodeAttr).AddField("ID", FieldShort);
    b.Attributes(KvxTest::EntryNodeAttr).EnsureRecords(3);
    ok = Store(dir / "pipes.wn", b) && ok;
  }
  {
    LayerBuilder b(KindTable);
    auto& a = b.Attributes(KvxTest::EntryPrimary);
    const int types[] = {FieldString, FieldByte, FieldShort, FieldLong, FieldFloat, FieldDouble,
                         FieldDate,   FieldTime, FieldBool,  FieldText, FieldTimeStamp};
    for (int t : types) a.AddField("F" + std::to_string(t), t, t == FieldString || t == FieldText ? 6 : -1);
    a.EnsureRecords(3);
    a.SetText(0, 0, "  abc ");
    ok = Store(dir / "table.wb", b) && ok;
  }
  return ok;
}

bool Projects(const std::filesystem::path& dir) {
  using KvxTest::ProjectFile;
  using KvxTest::ProjectItem;
  bool ok = true;
  ProjectFile p;
  p.description = "demo";
  p.items = {{1, "roads.wl", "roads", 0, 1e9},
             {3, "C:\\MAPS\\GEOLOGY.WP", "", 0, 1e9},
             {5, "sites.wt", "", 0, 0},
             {7, "pipes.wn", "", 0, 0},
             {9, "missing.wb", "", 0, 0}};
  ok = KvxTest::WriteBytes(dir / "items.mpj", p.Build()) && ok;
  ProjectFile empty;
  ok = KvxTest::WriteBytes(dir / "empty.mpj", empty.Build()) && ok;
  ProjectFile gap = p;
  gap.tableOffset = 1200;
  gap.items.resize(2);
  ok = KvxTest::WriteBytes(dir / "gap.mpj", gap.Build()) && ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kvx_fuzz_seeds DIR\n");
    return 2;
  }
  const std::filesystem::path dir(argv[1]);
  std::error_code ec;
  std::filesystem::create_directories(dir / "layer", ec);
  std::filesystem::create_directories(dir / "project", ec);
  if (!Layers(dir / "layer") || !Projects(dir / "project")) {
    std::fprintf(stderr, "cannot write the seeds into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
