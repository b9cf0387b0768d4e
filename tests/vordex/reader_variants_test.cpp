// MapGis_Reader and MapGis_MemReader against MapGis_FastReader: the head checks and codes that
// differ, the fixed attribute areas with their head check, write-back of records, regions read
// as arcs, network nodes read on their own, and the label point of a region.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/layer_builder.h"
#include "vordex/layer_reader.h"
#include "vordex/text_encoding.h"

namespace {

using namespace MapGis;
using KvxTest::LayerBuilder;
namespace St = MapGis::Status;
using GeomPtr = std::unique_ptr<Geometry, GeometryDeleter>;

// Members of the packed records are copied out before the test macros bind them by reference.
template <typename T>
T Val(T v) {
  return v;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

LayerBuilder Regions() {
  LayerBuilder b(KindRegion);
  b.AddLine({{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}});  // arc 1: outer square
  b.AddLine({{2, 2}, {8, 2}, {8, 8}, {2, 8}, {2, 2}});      // arc 2: a hole
  b.AddLine({{20, 0}, {20, 5}, {25, 5}});                   // arc 3
  b.AddLine({{25, 5}, {20, 0}});                            // arc 4
  b.AddRegion({1, 0, 2});
  b.AddRegion({3, 4});
  b.Line(3).flag = 0;  // arc 4 deleted: region 2 lists it
  auto& arcs = b.Attributes(KvxTest::EntryPrimaryAttr);
  arcs.AddField("ARC", FieldLong);
  for (int i = 0; i < 4; ++i) arcs.SetValue<std::int32_t>(i, 0, 100 + i);
  auto& regs = b.Attributes(KvxTest::EntryRegionAttr);
  regs.AddField(Utf8ToGbk("名称"), FieldString, 12);
  regs.AddField("AREA", FieldDouble);
  regs.SetText(0, 0, Utf8ToGbk(" 花岗岩 "));
  regs.SetValue<double>(0, 1, 64.0);
  regs.SetText(1, 0, "K1");
  regs.SetValue<double>(1, 1, 12.5);
  return b;
}

LayerBuilder Network() {
  LayerBuilder b(KindNetwork);
  b.AddLine({{0, 0}, {1, 1}});
  std::array<std::uint8_t, 94> block{};
  for (std::size_t j = 0; j < block.size(); ++j) block[j] = static_cast<std::uint8_t>(j + 1);
  b.AddNode(3, 4, block);
  int gone = b.AddNode(5, 6, block);
  b.Node(gone).flag = 0;
  auto& nodes = b.Attributes(KvxTest::EntryNodeAttr);
  nodes.AddField("NODE", FieldShort);
  nodes.SetValue<std::int16_t>(0, 0, 7);
  nodes.SetValue<std::int16_t>(1, 0, 8);
  auto& lines = b.Attributes(KvxTest::EntryPrimaryAttr);
  lines.AddField("LINE", FieldShort);
  lines.SetValue<std::int16_t>(0, 0, 42);
  return b;
}

// ---------------------------------------------------------------------------------------------

struct HeadCase {
  const char* what;
  int kind;
  std::function<void(LayerBuilder&)> damage;
  std::int32_t fast, reader, mem;
};

TEST(ReaderVariants, HeadChecksAnswerWithEachReadersCodes) {
  const HeadCase cases[] = {
      {"sound line file", KindLine, [](LayerBuilder&) {}, St::Success, St::Success, St::Success},
      {"reserved 1", KindLine, [](LayerBuilder& b) { b.overrides.reserved = 1; }, St::DamagedHead, St::NotMapGis,
       St::NotMapGis},
      {"reserved 1 and a foreign magic", KindPoint,
       [](LayerBuilder& b) {
         b.overrides.reserved = 1;
         b.overrides.magic = KvxTest::MagicOf(KindLine);
       },
       St::DamagedHead, St::NotMapGis, St::NotMapGis},
      {"1025 directory entries", KindLine, [](LayerBuilder& b) { b.overrides.partCount = 1025; }, St::DamagedHead,
       St::CannotOpen, St::CannotOpen},
      {"directory at 1025", KindLine, [](LayerBuilder& b) { b.overrides.partOffset = 1025; }, St::DamagedHead,
       St::CannotOpen, St::CannotOpen},
      {"magic of another kind", KindPoint, [](LayerBuilder& b) { b.overrides.magic = KvxTest::MagicOf(KindLine); },
       St::NotMapGis, St::UnknownKind, St::UnknownKind},
      {"network file", KindNetwork, [](LayerBuilder&) {}, St::Success, St::UnknownKind, St::Success},
      {"unknown kind 3", 3, [](LayerBuilder&) {}, St::UnknownKind, St::UnknownKind, St::UnknownKind},
  };
  KvxTest::TempDir dir;
  for (const HeadCase& c : cases) {
    SCOPED_TRACE(c.what);
    LayerBuilder b(c.kind);
    c.damage(b);
    const std::string path = dir.Store(b);
    MapGis_FastReader fast;
    MapGis_Reader reader;
    MapGis_MemReader mem;
    EXPECT_EQ(fast.Open(path.c_str()), c.fast);
    EXPECT_EQ(reader.Open(path), c.reader);
    EXPECT_EQ(mem.Open(path), c.mem);
  }
}

TEST(ReaderVariants, ReaderInfoAndShapeCodes) {
  struct Case {
    int kind;
    int shapeType;  // -7: left alone
  } cases[] = {{KindPoint, 1}, {KindLine, 3}, {KindRegion, 5}, {KindTable, -7}};
  KvxTest::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    LayerBuilder b = c.kind == KindRegion ? Regions() : LayerBuilder(c.kind);
    if (c.kind == KindPoint) {
      b.AddPoint(1, 1);
      b.AddPoint(2, 2);
    }
    if (c.kind == KindLine) b.AddLine({{0, 0}, {1, 1}});
    b.AddTic(MAPGIS_Tic_Info{});
    MapGis_Reader r;
    ASSERT_EQ(r.Open(dir.Store(b)), St::Success);
    int slots = -7, shape = -7, tics = -7;
    const std::int32_t live = r.GetInfo(&slots, &shape, &tics);
    EXPECT_EQ(shape, c.shapeType);
    EXPECT_EQ(tics, 1);
    if (c.kind == KindRegion) {
      EXPECT_EQ(live, 2);  // the regions, not the arcs
      EXPECT_EQ(slots, 2);
    }
    if (c.kind == KindPoint) {
      EXPECT_EQ(slots, 2);
    }
    EXPECT_EQ(r.GetInfo(nullptr, nullptr, nullptr), live);
  }
}

TEST(ReaderVariants, ReaderStopsARegionAtADeletedArcWhereTheFastReaderSkipsIt) {
  KvxTest::TempDir dir;
  LayerBuilder b = Regions();
  const std::string path = dir.Store(b);
  MapGis_FastReader fast;
  MapGis_Reader reader;
  ASSERT_EQ(fast.Open(path.c_str()), St::Success);
  ASSERT_EQ(reader.Open(path), St::Success);
  GeomPtr g1(CreateGeometry()), g2(CreateGeometry());
  EXPECT_EQ(fast.ReadPolygonInfo(1, nullptr, g1.get()), St::Success);
  EXPECT_EQ(g1->vertexCount, 3);
  EXPECT_EQ(reader.ReadPolygonInfo(1, nullptr, g2.get()), St::Deleted);
  // Both build the region with a hole alike.
  GeomPtr h1(CreateGeometry()), h2(CreateGeometry());
  ASSERT_EQ(fast.ReadPolygonInfo(0, nullptr, h1.get()), St::Success);
  ASSERT_EQ(reader.ReadPolygonInfo(0, nullptr, h2.get()), St::Success);
  ASSERT_EQ(h1->vertexCount, h2->vertexCount);
  ASSERT_EQ(h2->partCount, 2);
  for (int i = 0; i < h1->vertexCount; ++i) EXPECT_EQ(h1->x[i], h2->x[i]);
}

TEST(ReaderVariants, SetAndWriteBackChangeOnlyTheSectionOfTheKind) {
  KvxTest::TempDir dir;
  LayerBuilder b = Regions();
  const std::string path = dir.Store(b);
  const std::vector<std::uint8_t> before = ReadBytes(path);
  const KvxTest::Span regionSection = b.GetLayout().sections[KvxTest::EntryRegions];
  {
    MapGis_Reader r;
    ASSERT_EQ(r.Open(path), St::Success);
    MAPGIS_RegInfo reg{};
    // Records are in memory only after a read.
    EXPECT_EQ(r.SetPolygonInfo(0, reg), St::ReadFailed);
    ASSERT_EQ(r.ReadPolygonInfo(0, &reg, nullptr), St::Success);
    reg.fillColor = 77;
    EXPECT_EQ(r.SetPolygonInfo(0, reg), St::Success);
    EXPECT_EQ(r.SetPolygonInfo(2, reg), St::ReadFailed);
    EXPECT_EQ(r.SetPolygonInfo(-1, reg), St::ReadFailed);
    MAPGIS_LineInfo arc{};
    ASSERT_EQ(r.ReadArcInfo(0, &arc, nullptr), St::Success);
    arc.color = 99;
    EXPECT_EQ(r.SetArcInfo(0, arc), St::Success);  // kept in memory; a region file writes its regions only
    // The records are read through the file's mapping; a changed one is read back from the copy.
    MAPGIS_LineInfo again{};
    ASSERT_EQ(r.ReadArcInfo(0, &again, nullptr), St::Success);
    // Packed members are copied out before gtest binds them to references.
    const auto colour = again.color;
    EXPECT_EQ(colour, 99);
    ASSERT_EQ(r.ReadPolygonInfo(0, &reg, nullptr), St::Success);
    const auto fill = reg.fillColor;
    EXPECT_EQ(fill, 77);
    EXPECT_EQ(r.WriteGeomInfo(), St::Success);
  }
  const std::vector<std::uint8_t> after = ReadBytes(path);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    const bool inRegions = static_cast<std::int64_t>(i) >= regionSection.offset &&
                           static_cast<std::int64_t>(i) < regionSection.end();
    if (!inRegions) {
      ASSERT_EQ(after[i], before[i]) << "byte " << i << " outside the region records changed";
    }
  }
  MapGis_FastReader check;
  ASSERT_EQ(check.Open(path.c_str()), St::Success);
  MAPGIS_RegInfo reg{};
  ASSERT_EQ(check.ReadPolygonInfo(0, &reg, nullptr), St::Success);
  EXPECT_EQ(Val(reg.fillColor), 77);
  MAPGIS_LineInfo arc{};
  ASSERT_EQ(check.ReadArcInfo(0, &arc, nullptr), St::Success);
  EXPECT_NE(Val(arc.color), 99);
}

TEST(ReaderVariants, WriteBackOfPointsAndLines) {
  KvxTest::TempDir dir;
  for (int kind : {KindPoint, KindLine}) {
    SCOPED_TRACE(kind);
    LayerBuilder b(kind);
    if (kind == KindPoint) {
      b.AddPoint(1, 2);
      b.AddPoint(3, 4);
    } else {
      b.AddLine({{0, 0}, {1, 1}});
      b.AddLine({{2, 2}, {3, 3}});
    }
    const std::string path = dir.Store(b);
    {
      MapGis_Reader r;
      ASSERT_EQ(r.Open(path), St::Success);
      if (kind == KindPoint) {
        MAPGIS_PntInfo p{};
        ASSERT_EQ(r.ReadPointInfo(1, &p, nullptr), St::Success);
        p.color = 55;
        ASSERT_EQ(r.SetPointInfo(1, p), St::Success);
        EXPECT_EQ(r.SetArcInfo(0, MAPGIS_LineInfo{}), St::ReadFailed);
      } else {
        MAPGIS_LineInfo l{};
        ASSERT_EQ(r.ReadArcInfo(1, &l, nullptr), St::Success);
        l.color = 55;
        ASSERT_EQ(r.SetArcInfo(1, l), St::Success);
        EXPECT_EQ(r.SetPointInfo(0, MAPGIS_PntInfo{}), St::ReadFailed);
      }
      ASSERT_EQ(r.WriteGeomInfo(), St::Success);
    }
    MapGis_FastReader check;
    ASSERT_EQ(check.Open(path.c_str()), St::Success);
    if (kind == KindPoint) {
      MAPGIS_PntInfo p{};
      ASSERT_EQ(check.ReadPointInfo(1, &p, nullptr), St::Success);
      EXPECT_EQ(Val(p.color), 55);
    } else {
      MAPGIS_LineInfo l{};
      GeomPtr g(CreateGeometry());
      ASSERT_EQ(check.ReadArcInfo(1, &l, g.get()), St::Success);
      EXPECT_EQ(Val(l.color), 55);
      EXPECT_EQ(g->x[1], 3.0);  // the vertices were not touched
    }
  }
}

TEST(ReaderVariants, FixedAttributeAreasWithUtf8Names) {
  KvxTest::TempDir dir;
  LayerBuilder b = Regions();
  const std::string path = dir.Store(b);
  MapGis_Reader reader;
  MapGis_MemReader mem;
  ASSERT_EQ(reader.Open(path), St::Success);
  ASSERT_EQ(mem.Open(path), St::Success);
  for (MapGis_LayerCore* r : {static_cast<MapGis_LayerCore*>(&reader), static_cast<MapGis_LayerCore*>(&mem)}) {
    EXPECT_EQ(r->GetFieldCount(), 2);  // the region attributes
    EXPECT_EQ(r->GetRecordCount(), 2);
    EXPECT_STREQ(r->ReadStringAttribute(0, 0), Utf8ToGbk("花岗岩").c_str());
    EXPECT_EQ(r->ReadDoubleAttribute(1, 1), 12.5);
    EXPECT_EQ(r->ReadDoubleAttribute(0, 1), 64.0);  // back to an earlier record
  }
  std::string name;
  int size = 0;
  EXPECT_EQ(reader.GetFieldInfo(0, &name, &size, nullptr, nullptr), FieldString);
  EXPECT_EQ(name, "名称");
  EXPECT_EQ(size, 12);
  EXPECT_EQ(reader.GetFieldIndex("名称"), 0);
  EXPECT_EQ(mem.GetFieldIndex("area"), 1);
  EXPECT_EQ(mem.GetFieldIndex("名"), -1);
  EXPECT_EQ(reader.GetFieldInfo(5, &name, nullptr, nullptr, nullptr), St::BadAttribute);
}

TEST(ReaderVariants, UnicodeReadersRequireTheAttributeSignature) {
  struct Case {
    const char* what;
    std::function<void(KvxTest::AttributeArea&)> damage;
  } cases[] = {
      {"signature", [](KvxTest::AttributeArea& a) { a.overrides.signature = std::array<std::uint8_t, 6>{0x61, 0x44, 0, 0, 0, 0}; }},
      {"head tag", [](KvxTest::AttributeArea& a) { a.overrides.headTag = 17505; }},
  };
  KvxTest::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LayerBuilder b(KindPoint);
    b.AddPoint(1, 1);
    auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
    a.AddField("N", FieldLong);
    a.SetValue<std::int32_t>(0, 0, 5);
    c.damage(a);
    const std::string path = dir.Store(b);
    MapGis_FastReader fast;
    MapGis_Reader reader;
    MapGis_MemReader mem;
    ASSERT_EQ(fast.Open(path.c_str()), St::Success);
    ASSERT_EQ(reader.Open(path), St::Success);
    ASSERT_EQ(mem.Open(path), St::Success);
    EXPECT_EQ(fast.GetFieldCount(), 1);
    EXPECT_EQ(fast.ReadLongAttribute(0, 0), 5);
    EXPECT_EQ(reader.GetFieldCount(), St::BadAttribute);
    EXPECT_EQ(mem.GetFieldCount(), St::BadAttribute);
    EXPECT_EQ(reader.ReadLongAttribute(0, 0), 0);
  }
}

TEST(ReaderVariants, MemReaderReadsARegionFileAsArcs) {
  KvxTest::TempDir dir;
  LayerBuilder b = Regions();
  MapGis_MemReader mem;
  ASSERT_EQ(mem.Open(dir.Store(b)), St::Success);
  EXPECT_EQ(mem.GetShapeType(), 5);
  mem.ReadAsPolyArc();
  EXPECT_EQ(mem.GetShapeType(), 3);
  int slots = 0;
  EXPECT_EQ(mem.GetArcCount(&slots), 3);  // arc 4 is deleted
  EXPECT_EQ(slots, 4);
  GeomPtr g(CreateGeometry());
  ASSERT_EQ(mem.ReadArcInfo(0, nullptr, g.get()), St::Success);
  EXPECT_EQ(g->vertexCount, 5);
  EXPECT_EQ(mem.ReadArcInfo(3, nullptr, nullptr), St::Deleted);
  EXPECT_EQ(mem.ReadPolygonInfo(0, nullptr, nullptr), St::ReadFailed);
  // The attributes are now those of the arcs.
  EXPECT_EQ(mem.GetFieldCount(), 1);
  EXPECT_EQ(mem.ReadLongAttribute(2, 0), 102);
}

TEST(ReaderVariants, MemReaderCountsAndNetworkNodes) {
  KvxTest::TempDir dir;
  LayerBuilder b = Network();
  MapGis_MemReader mem;
  ASSERT_EQ(mem.Open(dir.Store(b)), St::Success);
  EXPECT_EQ(mem.GetShapeType(), 3);
  int slots = -1;
  EXPECT_EQ(mem.GetNetPntCount(&slots), 1);  // the second node is deleted
  EXPECT_EQ(slots, 2);
  EXPECT_EQ(mem.GetArcCount(&slots), 1);
  EXPECT_EQ(mem.GetRegCount(&slots), 0);  // no kind check: the counts as stored
  EXPECT_EQ(slots, 0);

  EXPECT_EQ(mem.ReadPointInfo(0, nullptr, nullptr), St::ReadFailed);  // points of point files only
  MAPGIS_PntInfo p;
  std::memset(&p, 0xEE, sizeof p);
  GeomPtr g(CreateGeometry());
  ASSERT_EQ(mem.ReadNetPointInfo(0, &p, g.get()), St::Success);
  EXPECT_EQ(Val(p.flag), 1);
  EXPECT_EQ(Val(p.textLength), 1);
  EXPECT_EQ(Val(p.textOffset), 0);
  EXPECT_EQ(Val(p.x), 3.0);
  EXPECT_EQ(Val(p.y), 4.0);
  const auto* raw = reinterpret_cast<const std::uint8_t*>(&p);
  for (int k = 23; k < 31; ++k) EXPECT_EQ(raw[k], 0) << k;
  for (int k = 31; k < 85; ++k) EXPECT_EQ(raw[k], k - 31 + 1) << k;
  for (int k = 85; k < 93; ++k) EXPECT_EQ(raw[k], 0) << k;
  EXPECT_EQ(g->shapeType, 1);
  EXPECT_EQ(g->x[0], 3.0);
  EXPECT_EQ(mem.ReadNetPointInfo(1, nullptr, nullptr), St::Deleted);
  EXPECT_EQ(mem.ReadNetPointInfo(2, nullptr, nullptr), St::ReadFailed);
  EXPECT_EQ(mem.ReadNetPointInfo(-1, nullptr, nullptr), St::ReadFailed);
  // Network attributes are the node attributes.
  EXPECT_EQ(mem.ReadShortAttribute(1, 0), 8);
}

TEST(ReaderVariants, MemReaderNodeBlockOutsideTheDataArea) {
  KvxTest::TempDir dir;
  LayerBuilder b = Network();
  b.Node(0).infoOffset = 1 << 30;
  MapGis_MemReader mem;
  ASSERT_EQ(mem.Open(dir.Store(b)), St::Success);
  MAPGIS_PntInfo p{};
  EXPECT_EQ(mem.ReadNetPointInfo(0, &p, nullptr), St::ReadFailed);
  EXPECT_EQ(mem.ReadNetPointInfo(0, nullptr, nullptr), St::Success);  // the block is read for a record only
}

bool Inside(const Geometry& g, double px, double py) {
  bool in = false;
  for (int p = 0; p < g.partCount; ++p) {
    int s = g.partStart[p], e = p + 1 < g.partCount ? g.partStart[p + 1] : g.vertexCount;
    for (int i = s, j = e - 1; i < e; j = i++) {
      if ((g.y[i] > py) != (g.y[j] > py) && px < (g.x[j] - g.x[i]) * (py - g.y[i]) / (g.y[j] - g.y[i]) + g.x[i])
        in = !in;
    }
  }
  return in;
}

TEST(ReaderVariants, PolyLabLiesInsideTheRegionAndOutsideItsHoles) {
  KvxTest::TempDir dir;
  LayerBuilder b(KindRegion);
  // A U shape whose middle is empty, and a square with a hole in the middle.
  b.AddLine({{0, 0}, {0, 10}, {3, 10}, {3, 3}, {7, 3}, {7, 10}, {10, 10}, {10, 0}, {0, 0}});
  b.AddLine({{20, 0}, {20, 10}, {30, 10}, {30, 0}, {20, 0}});
  b.AddLine({{21, 1}, {29, 1}, {29, 9}, {21, 9}, {21, 1}});
  b.AddRegion({1});
  b.AddRegion({2, 0, 3});
  MapGis_Reader r;
  ASSERT_EQ(r.Open(dir.Store(b)), St::Success);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    MAPGIS_RegExt label{};
    ASSERT_EQ(r.GetPolyLab(i, &label), St::Success);
    GeomPtr g(CreateGeometry());
    ASSERT_EQ(r.ReadPolygonInfo(i, nullptr, g.get()), St::Success);
    EXPECT_TRUE(Inside(*g, label.x, label.y)) << label.x << ", " << label.y;
  }
  MAPGIS_RegExt label{};
  EXPECT_EQ(r.GetPolyLab(2, &label), St::ReadFailed);
  EXPECT_EQ(r.GetPolyLab(-1, &label), St::ReadFailed);

  LayerBuilder points(KindPoint);
  points.AddPoint(1, 1);
  MapGis_Reader pr;
  ASSERT_EQ(pr.Open(dir.Store(points)), St::Success);
  EXPECT_EQ(pr.GetPolyLab(0, &label), St::ReadFailed);
}

}  // namespace
