// The geometry side of MapGis_FastReader: opening and checking heads, counts, points, lines,
// region assembly, annotation texts, projection parameters, tics, topology, network nodes, and
// files cut short at every section boundary.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/layer_builder.h"
#include "vordex/layer_reader.h"
#include "vordex/status.h"

namespace MapGis {
// Vertices compare by value in these tests.
bool operator==(const Point2D& a, const Point2D& b) { return a.x == b.x && a.y == b.y; }
void PrintTo(const Point2D& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }
}  // namespace MapGis

namespace {

using namespace MapGis;
using KvxTest::LayerBuilder;
namespace St = MapGis::Status;

using GeomPtr = std::unique_ptr<Geometry, GeometryDeleter>;
GeomPtr NewGeometry() { return GeomPtr(CreateGeometry()); }

// Vertex j of arc (line slot) `arc` in the fixtures: recognisable, and never 0.
Point2D V(int arc, int j) { return {arc * 10.0 + j, arc * 100.0 + j + 0.5}; }

std::vector<Point2D> ArcVertices(int arc, int count) {
  std::vector<Point2D> out;
  for (int j = 0; j < count; ++j) out.push_back(V(arc, j));
  return out;
}

std::vector<Point2D> Reversed(std::vector<Point2D> v) {
  std::reverse(v.begin(), v.end());
  return v;
}

std::vector<Point2D> Concat(std::initializer_list<std::vector<Point2D>> parts) {
  std::vector<Point2D> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<Point2D> VerticesOf(const Geometry& g) {
  std::vector<Point2D> out;
  for (int i = 0; i < g.vertexCount; ++i) out.push_back({g.x[i], g.y[i]});
  return out;
}

std::vector<std::int32_t> PartStarts(const Geometry& g) { return {g.partStart, g.partStart + g.partCount}; }
std::vector<std::int32_t> PartTypes(const Geometry& g) { return {g.partType, g.partType + g.partCount}; }

std::array<std::uint8_t, 94> NodeBlock(int node) {
  std::array<std::uint8_t, 94> block{};
  for (std::size_t j = 0; j < block.size(); ++j) block[j] = static_cast<std::uint8_t>(node * 7 + j + 1);
  return block;
}

// A small layer of each kind: three features of the kind, the second one deleted. Arc k of the
// line, region and network samples has k + 1 vertices; region 2 is (3, 0, -1).
LayerBuilder Sample(int kind) {
  LayerBuilder b(kind);
  switch (kind) {
    case KindPoint:
      b.AddPoint(1, 2);
      b.AddPoint(3, 4, "gone");
      b.Point(1).flag = 0;
      b.AddPoint(5, 6, "abc");
      break;
    case KindLine:
    case KindRegion:
    case KindNetwork:
      for (int arc = 1; arc <= 3; ++arc) b.AddLine(ArcVertices(arc, arc + 1));
      b.Line(1).flag = 0;
      if (kind == KindRegion) {
        b.AddRegion({1});
        b.AddRegion({3});
        b.Region(1).flag = 0;
        b.AddRegion({3, 0, -1});
      }
      if (kind == KindNetwork) {
        for (int n = 0; n < 3; ++n) b.AddNode(n + 0.25, n + 0.75, NodeBlock(n));
        b.Node(1).flag = 0;
      }
      break;
    default:
      break;
  }
  return b;
}

// ---------------------------------------------------------------------------------------------
// Open

struct OpenCase {
  const char* name;
  int kind;
  void (*damage)(LayerBuilder&);
  std::int32_t expected;
};

void Intact(LayerBuilder&) {}

// The magic of an older layer head variant: "WMAP", 0x05, then "D2" and the kind's digit.
std::array<char, 8> OlderMagic(int kind) {
  std::array<char, 8> m = KvxTest::MagicOf(kind);
  m[4] = 0x05;
  return m;
}

const OpenCase kOpenCases[] = {
    {"line file", KindLine, Intact, St::Success},
    {"point file", KindPoint, Intact, St::Success},
    {"region file", KindRegion, Intact, St::Success},
    {"network file", KindNetwork, Intact, St::Success},
    {"table file", KindTable, Intact, St::Success},
    {"point file with the line magic", KindPoint, [](LayerBuilder& b) { b.overrides.magic = KvxTest::MagicOf(0); },
     St::NotMapGis},
    {"line file with the point magic", KindLine, [](LayerBuilder& b) { b.overrides.magic = KvxTest::MagicOf(1); },
     St::NotMapGis},
    {"table file with a foreign magic", KindTable,
     [](LayerBuilder& b) { b.overrides.magic = std::array<char, 8>{'W', 'M', 'A', 'P', '`', 'D', '2', '9'}; },
     St::NotMapGis},
    {"reserved 1", KindPoint, [](LayerBuilder& b) { b.overrides.reserved = 1; }, St::DamagedHead},
    {"reserved -1", KindLine, [](LayerBuilder& b) { b.overrides.reserved = -1; }, St::DamagedHead},
    {"partOffset 1025", KindPoint, [](LayerBuilder& b) { b.overrides.partOffset = 1025; }, St::DamagedHead},
    {"partCount 1025", KindRegion, [](LayerBuilder& b) { b.overrides.partCount = 1025; }, St::DamagedHead},
    {"reserved 1 comes before a foreign magic", KindPoint,
     [](LayerBuilder& b) {
       b.overrides.reserved = 1;
       b.overrides.magic = KvxTest::MagicOf(0);
     },
     St::DamagedHead},
    {"partCount 1025 comes before an unknown kind", 3, [](LayerBuilder& b) { b.overrides.partCount = 1025; },
     St::DamagedHead},
    {"partOffset -1 cannot be read", KindPoint, [](LayerBuilder& b) { b.overrides.partOffset = -1; },
     St::ReadFailed},
    {"kind 3", 3, Intact, St::UnknownKind},
    {"kind 5", 5, Intact, St::UnknownKind},
    {"kind 9", 9, Intact, St::UnknownKind},
    {"kind 3 with the line magic", 3, [](LayerBuilder& b) { b.overrides.magic = KvxTest::MagicOf(0); },
     St::UnknownKind},
    // An older head variant carries 0x05 where new files carry '`': refused as what it is.
    {"older line variant", KindLine, [](LayerBuilder& b) { b.overrides.magic = OlderMagic(0); }, St::OlderVariant},
    {"older point variant", KindPoint, [](LayerBuilder& b) { b.overrides.magic = OlderMagic(1); }, St::OlderVariant},
    {"older region variant", KindRegion, [](LayerBuilder& b) { b.overrides.magic = OlderMagic(2); }, St::OlderVariant},
    {"older variant magic of another kind", KindPoint, [](LayerBuilder& b) { b.overrides.magic = OlderMagic(0); },
     St::NotMapGis},
    {"byte 4 neither '`' nor 0x05", KindLine,
     [](LayerBuilder& b) {
       b.overrides.magic = KvxTest::MagicOf(0);
       (*b.overrides.magic)[4] = 0x06;
     },
     St::NotMapGis},
};

TEST(LayerReaderOpen, EveryReaderRefusesTheOlderVariant) {
  KvxTest::TempDir dir;
  LayerBuilder b(KindLine);
  b.AddLine({{0, 0}, {1, 1}});
  b.overrides.magic = OlderMagic(0);
  const std::string path = dir.Store(b);
  MapGis_FastReader fast;
  EXPECT_EQ(fast.Open(path.c_str()), St::OlderVariant);
  EXPECT_NE(fast.GetLastErrorText().find("older MapGIS layer variant"), std::string::npos);
  MapGis_Reader rw;
  EXPECT_EQ(rw.Open(path), St::OlderVariant);
  MapGis_MemReader mem;
  EXPECT_EQ(mem.Open(path), St::OlderVariant);
  EXPECT_STREQ(St::Describe(St::OlderVariant), "an unsupported older MapGIS layer variant");
}

TEST(LayerReaderOpen, StatusOfEachHead) {
  KvxTest::TempDir dir;
  for (const OpenCase& c : kOpenCases) {
    SCOPED_TRACE(c.name);
    LayerBuilder b(c.kind);
    c.damage(b);
    MapGis_FastReader r;
    const std::int32_t status = r.Open(dir.Store(b).c_str());
    EXPECT_EQ(status, c.expected);
    if (status == St::Success) {
      EXPECT_EQ(r.GetShapeType(), c.kind);
    }
  }
}

TEST(LayerReaderOpen, DirectoryAtTheLimitsIsAccepted) {
  struct {
    std::int32_t offset;
    std::int32_t entries;
  } const cases[] = {{1024, 16}, {657, 1024}, {1024, 1024}};
  KvxTest::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "directory at " << c.offset << " with " << c.entries << " entries");
    LayerBuilder b(KindPoint);
    b.AddPoint(3, 4);
    b.PlaceDirectory(c.offset, c.entries);
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    MAPGIS_PntInfo info{};
    EXPECT_EQ(r.ReadPointInfo(0, &info, nullptr), St::Success);
    EXPECT_EQ(+info.x, 3.0);
  }
}

TEST(LayerReaderOpen, FileThatCannotBeOpened) {
  KvxTest::TempDir dir;
  const std::string paths[] = {(dir / "missing.wt").string(), dir.path().string()};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    MapGis_FastReader r;
    EXPECT_EQ(r.Open(path.c_str()), St::CannotOpen);
    r.Close();
    r.Close();
  }
}

// ---------------------------------------------------------------------------------------------
// Counts and head data

constexpr int kUntouched = 777;

struct Count {
  std::int32_t result;
  int slots;   // kUntouched when the count leaves the int alone
};

struct CountCase {
  const char* name;
  int kind;
  void (*build)(LayerBuilder&);
  Count points, arcs, polygons;
};

const CountCase kCountCases[] = {
    {"point file with a deleted point", KindPoint, [](LayerBuilder& b) { b = Sample(KindPoint); },
     {2, 3}, {-1, kUntouched}, {-1, kUntouched}},
    {"line file, not compacted", KindLine,
     [](LayerBuilder& b) {
       b = Sample(KindLine);
       b.AddLine(ArcVertices(4, 2));
       b.Line(3).flag = 2;
     },
     {-1, kUntouched}, {2, 4}, {-1, kUntouched}},
    {"region file", KindRegion, [](LayerBuilder& b) { b = Sample(KindRegion); },
     {-1, kUntouched}, {2, 3}, {2, 3}},
    {"network file", KindNetwork, [](LayerBuilder& b) { b = Sample(KindNetwork); },
     {2, 3}, {2, 3}, {-1, kUntouched}},
    {"table file", KindTable, Intact, {-1, kUntouched}, {-1, kUntouched}, {-1, kUntouched}},
    {"empty line file", KindLine, Intact, {-1, kUntouched}, {0, 0}, {-1, kUntouched}},
    {"live count as stored", KindPoint,
     [](LayerBuilder& b) {
       b = Sample(KindPoint);
       b.overrides.liveCount = 42;
     },
     {42, 3}, {-1, kUntouched}, {-1, kUntouched}},
    {"slot count 0 gives no slots", KindPoint, [](LayerBuilder& b) { b.overrides.slotCount = 0; },
     {0, 0}, {-1, kUntouched}, {-1, kUntouched}},
    {"negative slot counts give no slots", KindRegion,
     [](LayerBuilder& b) {
       b.overrides.slotCount = -5;
       b.overrides.regionSlotCount = -1;
     },
     {-1, kUntouched}, {0, 0}, {0, 0}},
    {"network node counts", KindNetwork,
     [](LayerBuilder& b) {
       b.overrides.liveNodeCount = 7;
       b.overrides.nodeSlotCount = 9;
     },
     {7, 8}, {0, 0}, {-1, kUntouched}},
};

TEST(LayerReaderCounts, CountsOfEachKind) {
  KvxTest::TempDir dir;
  for (const CountCase& c : kCountCases) {
    SCOPED_TRACE(c.name);
    LayerBuilder b(c.kind);
    c.build(b);
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    const struct {
      const char* what;
      std::int32_t (MapGis_FastReader::*count)(int*) const;
      Count expected;
    } queries[] = {{"GetPointCount", &MapGis_FastReader::GetPointCount, c.points},
                   {"GetArcCount", &MapGis_FastReader::GetArcCount, c.arcs},
                   {"GetPolygonCount", &MapGis_FastReader::GetPolygonCount, c.polygons}};
    for (const auto& q : queries) {
      SCOPED_TRACE(q.what);
      int slots = kUntouched;
      EXPECT_EQ((r.*q.count)(&slots), q.expected.result);
      EXPECT_EQ(slots, q.expected.slots);
      EXPECT_EQ((r.*q.count)(nullptr), q.expected.result);
    }
  }
}

TEST(LayerReaderHead, ExtentIsStoredOrComputed) {
  KvxTest::TempDir dir;
  LayerBuilder computed = Sample(KindLine);
  LayerBuilder stored = Sample(KindLine);
  stored.overrides.extent = std::array<double, 4>{-1.5, -2.5, 100.25, 200.75};
  const struct {
    LayerBuilder* layer;
    std::array<double, 4> expected;
  } cases[] = {{&computed, {10.0, 100.5, 33.0, 303.5}}, {&stored, {-1.5, -2.5, 100.25, 200.75}}};
  for (const auto& c : cases) {
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(*c.layer).c_str()), St::Success);
    std::array<double, 4> e{};
    r.GetExtentInfo(&e[0], &e[1], &e[2], &e[3]);
    EXPECT_EQ(e, c.expected);
    double yMax = 0;
    r.GetExtentInfo(nullptr, nullptr, nullptr, &yMax);
    EXPECT_EQ(yMax, c.expected[3]);
  }
}

// ---------------------------------------------------------------------------------------------
// Feature reads: which index, kind and flag is refused

enum class Op { Point, Arc, Polygon, Note, PointWkb, ArcWkb, PolygonWkb };

const char* Name(Op op) {
  switch (op) {
    case Op::Point: return "ReadPointInfo";
    case Op::Arc: return "ReadArcInfo";
    case Op::Polygon: return "ReadPolygonInfo";
    case Op::Note: return "GetNoteInfo";
    case Op::PointWkb: return "ReadPointWKB";
    case Op::ArcWkb: return "ReadArcWKB";
    case Op::PolygonWkb: return "ReadPolygonWKB";
  }
  return "?";
}

std::int32_t Call(MapGis_FastReader& r, Op op, int index, bool outputs) {
  GeomPtr g = NewGeometry();
  Geometry* geom = outputs ? g.get() : nullptr;
  switch (op) {
    case Op::Point: {
      MAPGIS_PntInfo p{};
      return r.ReadPointInfo(index, outputs ? &p : nullptr, geom);
    }
    case Op::Arc: {
      MAPGIS_LineInfo l{};
      return r.ReadArcInfo(index, outputs ? &l : nullptr, geom);
    }
    case Op::Polygon: {
      MAPGIS_RegInfo reg{};
      return r.ReadPolygonInfo(index, outputs ? &reg : nullptr, geom);
    }
    case Op::Note: {
      char text[260] = {};
      return r.GetNoteInfo(index, outputs ? text : nullptr);
    }
    case Op::PointWkb: {
      MAPGIS_PntInfo p{};
      WKBPoint w{};
      return r.ReadPointWKB(index, outputs ? &p : nullptr, outputs ? &w : nullptr);
    }
    case Op::ArcWkb: {
      MAPGIS_LineInfo l{};
      WKBLineString w{};
      const std::int32_t s = r.ReadArcWKB(index, outputs ? &l : nullptr, outputs ? &w : nullptr);
      std::free(w.points);
      return s;
    }
    case Op::PolygonWkb: {
      MAPGIS_RegInfo reg{};
      WKBPolygon w{};
      return r.ReadPolygonWKB(index, outputs ? &reg : nullptr, outputs ? &w : nullptr);
    }
  }
  return 0;
}

struct ReadCase {
  int kind;
  Op op;
  int index;
  std::int32_t expected;
};

constexpr std::int32_t kOk = St::Success;
constexpr std::int32_t kBad = St::ReadFailed;
constexpr std::int32_t kDel = St::Deleted;

// Samples hold three features, the second deleted: index 1 is deleted, 3 is one past the end.
const ReadCase kReadCases[] = {
    {KindPoint, Op::Point, 0, kOk},     {KindPoint, Op::Point, 2, kOk},     {KindPoint, Op::Point, 1, kDel},
    {KindPoint, Op::Point, -1, kBad},   {KindPoint, Op::Point, 3, kBad},    {KindNetwork, Op::Point, 0, kOk},
    {KindNetwork, Op::Point, 2, kOk},   {KindNetwork, Op::Point, 1, kDel},  {KindNetwork, Op::Point, -1, kBad},
    {KindNetwork, Op::Point, 3, kBad},  {KindLine, Op::Point, 0, kBad},     {KindRegion, Op::Point, 0, kBad},
    {KindTable, Op::Point, 0, kBad},

    {KindLine, Op::Arc, 0, kOk},        {KindLine, Op::Arc, 2, kOk},        {KindLine, Op::Arc, 1, kDel},
    {KindLine, Op::Arc, -1, kBad},      {KindLine, Op::Arc, 3, kBad},       {KindRegion, Op::Arc, 0, kOk},
    {KindRegion, Op::Arc, 1, kDel},     {KindRegion, Op::Arc, 3, kBad},     {KindNetwork, Op::Arc, 2, kOk},
    {KindNetwork, Op::Arc, 1, kDel},    {KindNetwork, Op::Arc, 3, kBad},    {KindPoint, Op::Arc, 0, kBad},
    {KindTable, Op::Arc, 0, kBad},

    {KindRegion, Op::Polygon, 0, kOk},  {KindRegion, Op::Polygon, 2, kOk},  {KindRegion, Op::Polygon, 1, kDel},
    {KindRegion, Op::Polygon, -1, kBad}, {KindRegion, Op::Polygon, 3, kBad}, {KindLine, Op::Polygon, 0, kBad},
    {KindPoint, Op::Polygon, 0, kBad},  {KindNetwork, Op::Polygon, 0, kBad}, {KindTable, Op::Polygon, 0, kBad},

    // GetNoteInfo does not look at the record flag.
    {KindPoint, Op::Note, 2, kOk},      {KindPoint, Op::Note, 1, kOk},      {KindPoint, Op::Note, -1, kBad},
    {KindPoint, Op::Note, 3, kBad},     {KindNetwork, Op::Note, 0, kBad},   {KindLine, Op::Note, 0, kBad},

    {KindPoint, Op::PointWkb, 0, kOk},  {KindPoint, Op::PointWkb, 1, kDel}, {KindPoint, Op::PointWkb, 3, kBad},
    {KindLine, Op::PointWkb, 0, kBad},  {KindLine, Op::ArcWkb, 0, kOk},     {KindLine, Op::ArcWkb, 1, kDel},
    {KindLine, Op::ArcWkb, 3, kBad},    {KindPoint, Op::ArcWkb, 0, kBad},   {KindRegion, Op::PolygonWkb, 0, kOk},
    {KindRegion, Op::PolygonWkb, 1, kDel}, {KindRegion, Op::PolygonWkb, 3, kBad}, {KindLine, Op::PolygonWkb, 0, kBad},
};

TEST(LayerReaderFeatures, IndexKindAndFlagChecks) {
  KvxTest::TempDir dir;
  std::string paths[8];
  for (int kind : {0, 1, 2, 4, 7}) {
    LayerBuilder b = Sample(kind);
    paths[kind] = dir.Store(b);
  }
  for (const ReadCase& c : kReadCases) {
    SCOPED_TRACE(testing::Message() << Name(c.op) << "(" << c.index << ") on kind " << c.kind);
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(paths[c.kind].c_str()), St::Success);
    EXPECT_EQ(Call(r, c.op, c.index, true), c.expected);
    // Null outputs are allowed and change nothing about the checks.
    EXPECT_EQ(Call(r, c.op, c.index, false), c.expected) << "with null outputs";
  }
}

// ---------------------------------------------------------------------------------------------
// Points and lines

TEST(LayerReaderPoints, RecordIsCopiedAndGeometryIsOnePoint) {
  LayerBuilder b(KindPoint);
  b.AddPoint(1, 2);
  b.AddPoint(-12.5, 7.25, "text");
  MAPGIS_PntInfo& stored = b.Point(1);
  stored.color = 12;
  stored.layer = 3;
  stored.angle = 45.0f;
  for (std::size_t i = 0; i < sizeof(stored.reserved); ++i) stored.reserved[i] = static_cast<std::uint8_t>(0xA0 + i);
  for (std::size_t i = 0; i < sizeof(stored.unused85); ++i) stored.unused85[i] = static_cast<std::uint8_t>(0x50 + i);
  const MAPGIS_PntInfo expected = stored;
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);

  MAPGIS_PntInfo info{};
  GeomPtr g = NewGeometry();
  ASSERT_EQ(r.ReadPointInfo(1, &info, g.get()), St::Success);
  EXPECT_EQ(KvxTest::BytesOf(info), KvxTest::BytesOf(expected));
  EXPECT_EQ(g->shapeType, 1);
  EXPECT_EQ(g->shapeId, -1);
  EXPECT_EQ(g->partCount, 0);
  ASSERT_EQ(g->vertexCount, 1);
  EXPECT_EQ(g->x[0], -12.5);
  EXPECT_EQ(g->y[0], 7.25);
  EXPECT_EQ(g->z[0], 0.0);
  EXPECT_EQ(g->m[0], 0.0);
  EXPECT_EQ(g->xMin, -12.5);
  EXPECT_EQ(g->xMax, -12.5);
  EXPECT_EQ(g->yMin, 7.25);
  EXPECT_EQ(g->yMax, 7.25);
  EXPECT_EQ(g->zMin, 0.0);
  EXPECT_EQ(g->zMax, 0.0);
  EXPECT_EQ(g->mMin, 0.0);
  EXPECT_EQ(g->mMax, 0.0);

  MAPGIS_PntInfo only{};
  EXPECT_EQ(r.ReadPointInfo(1, &only, nullptr), St::Success);
  EXPECT_EQ(KvxTest::BytesOf(only), KvxTest::BytesOf(expected));
}

TEST(LayerReaderLines, RecordIsCopiedAndGeometryIsOnePart) {
  LayerBuilder b(KindLine);
  b.AddLine(ArcVertices(1, 2));
  b.AddLine({{3, 4}, {-1, 10}, {5, -2}, {4, 4}});
  MAPGIS_LineInfo& stored = b.Line(1);
  stored.color = 9;
  stored.width = 0.5f;
  stored.layer = 2;
  for (std::size_t i = 0; i < sizeof(stored.unused1); ++i) stored.unused1[i] = static_cast<std::uint8_t>(0xC0 + i);
  const MAPGIS_LineInfo expected = stored;
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);

  MAPGIS_LineInfo info{};
  GeomPtr g = NewGeometry();
  ASSERT_EQ(r.ReadArcInfo(1, &info, g.get()), St::Success);
  EXPECT_EQ(KvxTest::BytesOf(info), KvxTest::BytesOf(expected));
  EXPECT_EQ(g->shapeType, 3);
  EXPECT_EQ(g->shapeId, -1);
  ASSERT_EQ(g->partCount, 1);
  EXPECT_EQ(g->partStart[0], 0);
  EXPECT_EQ(g->partType[0], 5);
  ASSERT_EQ(g->vertexCount, 4);
  EXPECT_EQ(VerticesOf(*g), (std::vector<Point2D>{{3, 4}, {-1, 10}, {5, -2}, {4, 4}}));
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(g->z[i], 0.0);
    EXPECT_EQ(g->m[i], 0.0);
  }
  EXPECT_EQ(g->xMin, -1.0);
  EXPECT_EQ(g->xMax, 5.0);
  EXPECT_EQ(g->yMin, -2.0);
  EXPECT_EQ(g->yMax, 10.0);
  // The z and m bounds stay as a fresh geometry has them.
  EXPECT_EQ(g->zMin, kBoundMin);
  EXPECT_EQ(g->mMin, kBoundMin);
  EXPECT_EQ(g->zMax, kBoundMax);
  EXPECT_EQ(g->mMax, kBoundMax);
}

// The only line of these files has 3 vertices at data offset 2, so the data area is 50 bytes and
// holds at most 50 / 16 = 3 vertices; behind it lie further sections of the same file.
TEST(LayerReaderLines, VertexCountIsCheckedAgainstTheDataArea) {
  const struct {
    const char* name;
    std::int32_t pointCount;
    std::int32_t dataOffset;
    std::int32_t expected;
  } cases[] = {
      {"exactly the area", 3, 2, St::Success},
      {"one vertex more than the area holds", 4, 2, St::ReadFailed},
      {"far more than the area holds", 1 << 24, 2, St::ReadFailed},
      {"negative vertex count", -1, 2, St::ReadFailed},
      {"vertices beyond the end of the file", 3, 1 << 30, St::ReadFailed},
  };
  KvxTest::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LayerBuilder b(KindLine);
    b.AddLine(ArcVertices(1, 3));
    ASSERT_EQ(b.DataSize(), 50);
    b.Line(0).pointCount = c.pointCount;
    b.Line(0).dataOffset = c.dataOffset;
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    GeomPtr g = NewGeometry();
    EXPECT_EQ(r.ReadArcInfo(0, nullptr, g.get()), c.expected);
    WKBLineString w{};
    EXPECT_EQ(r.ReadArcWKB(0, nullptr, &w), c.expected);
    std::free(w.points);
  }
}

// ---------------------------------------------------------------------------------------------
// Regions

// Arc k of the region fixture has kArcSizes[k] vertices (arc 5 has 4, arc 7 has 3).
constexpr int kArcSizes[] = {0, 2, 3, 2, 2, 4, 2, 3};
std::vector<Point2D> Arc(int arc) { return ArcVertices(arc, kArcSizes[arc]); }

struct RegionCase {
  const char* name;
  std::vector<std::int32_t> arcs;
  std::optional<std::int32_t> vertexTotal;   // computed from the arcs when not given
  std::vector<int> deletedArcs;
  std::int32_t status;
  std::vector<Point2D> vertices;
  // Expected part starts; empty when a ring lost all its arcs, and only the consistency of the
  // starts is checked.
  std::vector<std::int32_t> partStart;
};

const RegionCase kRegionCases[] = {
    {"(5, 0, -7): two rings, the second reversed", {5, 0, -7}, 9, {}, St::Success,
     Concat({Arc(5), Reversed(Arc(7))}), {0, 4}},
    {"(0, 5, 0): leading and trailing 0 start no ring", {0, 5, 0}, std::nullopt, {}, St::Success, Arc(5), {0}},
    {"(0, 5, 0): the capacity is the total less 3, not less 1", {0, 5, 0}, 6, {}, St::ReadFailed, {}, {}},
    {"(0, 5, 0, -7): leading 0 before two rings", {0, 5, 0, -7}, std::nullopt, {}, St::Success,
     Concat({Arc(5), Reversed(Arc(7))}), {0, 4}},
    {"three rings", {1, 0, 2, 0, 3}, std::nullopt, {}, St::Success, Concat({Arc(1), Arc(2), Arc(3)}), {0, 2, 5}},
    {"arcs of one ring are concatenated", {1, -2, 0, 3}, std::nullopt, {}, St::Success,
     Concat({Arc(1), Reversed(Arc(2)), Arc(3)}), {0, 5}},
    {"arc that fills the capacity exactly", {5}, 5, {}, St::Success, Arc(5), {0}},
    {"arc larger than the capacity", {5}, 4, {}, St::ReadFailed, {}, {}},
    {"second arc larger than the remaining capacity", {5, 0, -7}, 8, {}, St::ReadFailed, {}, {}},
    {"arc number beyond the line slots", {5, 0, 8}, 20, {}, St::ReadFailed, {}, {}},
    {"reversed arc number beyond the line slots", {-99}, 20, {}, St::ReadFailed, {}, {}},
    {"negative vertex total", {5}, -1, {}, St::BadRegion, {}, {}},
    // A deleted arc is left out; the vertices it would have filled are not emitted.
    {"deleted arc inside a ring", {1, 2, 0, 3}, std::nullopt, {2}, St::Success, Concat({Arc(1), Arc(3)}), {0, 2}},
    {"deleted first arc of the second ring", {1, 0, 2, 3}, std::nullopt, {2}, St::Success,
     Concat({Arc(1), Arc(3)}), {0, 2}},
    {"last listed arc deleted", {5, 0, -7}, 9, {7}, St::Success, Arc(5), {}},
    {"first listed arc deleted", {5, 0, -7}, 9, {5}, St::Success, Reversed(Arc(7)), {}},
    {"every arc deleted", {5, 0, -7}, 9, {5, 7}, St::Deleted, {}, {}},
};

TEST(LayerReaderRegions, AssemblyFromArcLists) {
  KvxTest::TempDir dir;
  for (const RegionCase& c : kRegionCases) {
    SCOPED_TRACE(c.name);
    LayerBuilder b(KindRegion);
    for (int arc = 1; arc <= 7; ++arc) b.AddLine(Arc(arc));
    b.AddRegion({1});
    b.AddRegion(c.arcs, c.vertexTotal);
    b.Region(1).fillColor = 33;
    b.Region(1).layer = 4;
    for (int arc : c.deletedArcs) b.Line(arc - 1).flag = 0;
    const MAPGIS_RegInfo expected = b.Region(1);
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);

    MAPGIS_RegInfo info{};
    GeomPtr g = NewGeometry();
    ASSERT_EQ(r.ReadPolygonInfo(1, &info, g.get()), c.status);
    if (c.status != St::Success) continue;

    EXPECT_EQ(KvxTest::BytesOf(info), KvxTest::BytesOf(expected));
    EXPECT_EQ(g->shapeType, 5);
    EXPECT_EQ(g->shapeId, -1);
    EXPECT_EQ(VerticesOf(*g), c.vertices);
    ASSERT_GE(g->partCount, 1);
    if (!c.partStart.empty()) {
      EXPECT_EQ(PartStarts(*g), c.partStart);
    } else {
      EXPECT_EQ(g->partStart[0], 0);
      for (int k = 1; k < g->partCount; ++k) {
        EXPECT_GE(g->partStart[k], g->partStart[k - 1]);
        EXPECT_LE(g->partStart[k], g->vertexCount);
      }
    }
    std::vector<std::int32_t> types(static_cast<std::size_t>(g->partCount), 3);
    types[0] = 5;
    EXPECT_EQ(PartTypes(*g), types);
    for (int i = 0; i < g->vertexCount; ++i) {
      EXPECT_EQ(g->z[i], 0.0);
      EXPECT_EQ(g->m[i], 0.0);
    }
    // The bounds follow the emitted vertices (all of them far from 0).
    double xMin = kBoundMin, yMin = kBoundMin, xMax = kBoundMax, yMax = kBoundMax;
    for (const Point2D& v : c.vertices) {
      xMin = std::min(xMin, v.x);
      yMin = std::min(yMin, v.y);
      xMax = std::max(xMax, v.x);
      yMax = std::max(yMax, v.y);
    }
    EXPECT_EQ(g->xMin, xMin);
    EXPECT_EQ(g->yMin, yMin);
    EXPECT_EQ(g->xMax, xMax);
    EXPECT_EQ(g->yMax, yMax);
    EXPECT_EQ(g->zMin, kBoundMin);
    EXPECT_EQ(g->zMax, kBoundMax);
  }
}

TEST(LayerReaderRegions, DamagedArcListRecord) {
  const struct {
    const char* name;
    std::int32_t arcListLength;
    std::int32_t arcListOffset;   // 0 keeps the stored one
    std::int32_t expected;
  } cases[] = {
      {"arc list length 0", 0, 0, St::BadRegion},
      {"negative arc list length", -3, 0, St::BadRegion},
      {"arc list beyond the end of the file", 2, 1 << 30, St::ReadFailed},
  };
  KvxTest::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LayerBuilder b(KindRegion);
    b.AddLine(Arc(1));
    b.AddRegion({1});
    b.Region(0).arcListLength = c.arcListLength;
    if (c.arcListOffset != 0) b.Region(0).arcListOffset = c.arcListOffset;
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    GeomPtr g = NewGeometry();
    EXPECT_EQ(r.ReadPolygonInfo(0, nullptr, g.get()), c.expected);
  }
}

TEST(LayerReaderRegions, NullGeometryCopiesTheRecordOnly) {
  LayerBuilder b(KindRegion);
  b.AddLine(Arc(1));
  b.AddRegion({1});
  b.Region(0).arcListOffset = 1 << 30;   // never read
  const MAPGIS_RegInfo expected = b.Region(0);
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
  MAPGIS_RegInfo info{};
  EXPECT_EQ(r.ReadPolygonInfo(0, &info, nullptr), St::Success);
  EXPECT_EQ(KvxTest::BytesOf(info), KvxTest::BytesOf(expected));
}

TEST(LayerReaderWkb, RecordsOfEachShape) {
  KvxTest::TempDir dir;
  {
    LayerBuilder b = Sample(KindPoint);
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    WKBPoint w{};
    w.byteOrder = 9;
    MAPGIS_PntInfo info{};
    ASSERT_EQ(r.ReadPointWKB(2, &info, &w), St::Success);
    EXPECT_EQ(KvxTest::BytesOf(info), KvxTest::BytesOf(b.Point(2)));
    EXPECT_EQ(+w.byteOrder, 0);
    EXPECT_EQ(+w.wkbType, 1u);
    EXPECT_EQ(+w.point.x, 5.0);
    EXPECT_EQ(+w.point.y, 6.0);
  }
  {
    LayerBuilder b = Sample(KindLine);
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    WKBLineString w{};
    w.byteOrder = 9;
    ASSERT_EQ(r.ReadArcWKB(2, nullptr, &w), St::Success);
    EXPECT_EQ(+w.byteOrder, 0);
    EXPECT_EQ(+w.wkbType, 2u);
    ASSERT_EQ(+w.numPoints, 4u);
    EXPECT_EQ(std::vector<Point2D>(w.points, w.points + 4), ArcVertices(3, 4));
    std::free(w.points);
  }
  {
    LayerBuilder b(KindRegion);
    for (int arc = 1; arc <= 7; ++arc) b.AddLine(Arc(arc));
    b.AddRegion({0, 5, 0, -7, 0});
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    WKBPolygon w{};
    w.byteOrder = 9;
    ASSERT_EQ(r.ReadPolygonWKB(0, nullptr, &w), St::Success);
    EXPECT_EQ(+w.byteOrder, 0);
    EXPECT_EQ(+w.wkbType, 3u);
    EXPECT_EQ(+w.numRings, 2u);
    EXPECT_EQ(+w.rings, nullptr);
  }
}

// ---------------------------------------------------------------------------------------------
// Annotation texts

std::string Gbk(int characters) {
  std::string out;
  for (int i = 0; i < characters; ++i) {
    out.push_back(static_cast<char>(0xB0 + i % (0xF7 - 0xB0 + 1)));
    out.push_back(static_cast<char>(0xA1 + i % (0xFE - 0xA1 + 1)));
  }
  return out;
}

TEST(LayerReaderNotes, TextIsCutWithoutSplittingCharacters) {
  const struct {
    const char* name;
    std::string stored;
    std::optional<std::int16_t> textLength;   // overrides the stored length
    std::string expected;
  } cases[] = {
      {"short text", "abc", std::nullopt, "abc"},
      {"no text", "", std::nullopt, ""},
      {"length 0 although text is stored", "abc", 0, ""},
      {"negative length", "abc", -5, ""},
      {"300 bytes of ASCII", std::string(300, 'x'), std::nullopt, std::string(259, 'x')},
      {"exactly 259 bytes", std::string(259, 'y'), std::nullopt, std::string(259, 'y')},
      {"300 bytes of GBK", Gbk(150), std::nullopt, Gbk(129)},
      {"GBK shifted by one ASCII byte", "a" + Gbk(149) + "b", std::nullopt, "a" + Gbk(129)},
  };
  KvxTest::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LayerBuilder b(KindPoint);
    b.AddPoint(0, 0, "previous text");
    b.AddPoint(1, 1, c.stored);
    if (c.textLength) b.Point(1).textLength = *c.textLength;
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    char buffer[300];
    std::memset(buffer, 0x5A, sizeof buffer);
    ASSERT_EQ(r.GetNoteInfo(0, buffer), St::Success);
    ASSERT_STREQ(buffer, "previous text");
    ASSERT_EQ(r.GetNoteInfo(1, buffer), St::Success);
    EXPECT_EQ(std::string(buffer), c.expected);
    // Nothing is written past the 260-byte buffer.
    EXPECT_EQ(std::count(buffer + 260, buffer + sizeof buffer, 0x5A), 40);
  }
}

TEST(LayerReaderNotes, TextBeyondTheFileIsAReadFailure) {
  LayerBuilder b(KindPoint);
  b.AddPoint(1, 1, "abc");
  b.Point(0).textOffset = 1 << 30;
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
  char buffer[260];
  EXPECT_EQ(r.GetNoteInfo(0, buffer), St::ReadFailed);
}

// ---------------------------------------------------------------------------------------------
// Projection, tics, topology

TEST(LayerReaderHead, ProjectionCopyFixesTheScale) {
  const struct {
    std::int8_t coordKind;
    double stored;
    double expected;
  } cases[] = {
      {0, 5.0, 1.0}, {0, 0.0005, 1.0}, {3, 0.0005, 1.0}, {3, 0.001, 0.001}, {3, 2.5, 2.5},
      {1, 0.0, 1.0}, {3, -2.0, 1.0},   {-1, 2.0, 2.0},
  };
  KvxTest::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "coordKind " << int{c.coordKind} << ", scale " << c.stored);
    LayerBuilder b(KindLine);
    MAP_PARAstruct& para = b.Projection();
    para.coordKind = c.coordKind;
    para.scale = c.stored;
    para.unit = 11;
    para.centralMeridian = 1170000.0;
    para.unused133[3] = 0x77;
    MAP_PARAstruct expected = para;
    expected.scale = c.expected;
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    MAP_PARAstruct copy{};
    EXPECT_EQ(r.GetProjectionInfo(&copy), c.coordKind);
    EXPECT_EQ(KvxTest::BytesOf(copy), KvxTest::BytesOf(expected));
    EXPECT_EQ(r.GetProjectionInfo(nullptr), c.coordKind);
  }
}

MAPGIS_Tic_Info Tic(int n) {
  MAPGIS_Tic_Info t{};
  for (std::size_t j = 0; j < sizeof t.data; ++j) t.data[j] = static_cast<std::uint8_t>(n * 32 + j);
  return t;
}

TEST(LayerReaderTics, EachTicAsStored) {
  LayerBuilder b = Sample(KindLine);
  for (int n = 0; n < 3; ++n) b.AddTic(Tic(n));
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
  ASSERT_EQ(r.GetTicCount(), 3);
  for (int n = 0; n < 3; ++n) {
    MAPGIS_Tic_Info t{};
    ASSERT_EQ(r.GetTicInfo(n, &t), St::Success);
    EXPECT_EQ(KvxTest::BytesOf(t), KvxTest::BytesOf(Tic(n))) << "tic " << n;
  }
  EXPECT_EQ(r.GetTicInfo(1, nullptr), St::Success);
  MAPGIS_Tic_Info t{};
  EXPECT_EQ(r.GetTicInfo(-1, &t), St::ReadFailed);
  EXPECT_EQ(r.GetTicInfo(3, &t), St::ReadFailed);
}

TEST(LayerReaderTics, TicsThatCannotBeRead) {
  KvxTest::TempDir dir;
  const struct {
    const char* name;
    std::int16_t ticCount;
    std::int32_t ticOffset;
  } cases[] = {{"no tics", 0, 0}, {"tics beyond the end of the file", 2, 1 << 30}, {"more tics than stored", 500, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LayerBuilder b = Sample(KindPoint);
    b.overrides.ticCount = c.ticCount;
    b.overrides.ticOffset = c.ticOffset;
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    MAPGIS_Tic_Info t{};
    EXPECT_EQ(r.GetTicInfo(0, &t), St::ReadFailed);
  }
}

TEST(LayerReaderTopology, EntryIndexIsTheSectionPosition) {
  KvxTest::TempDir dir;
  for (int kind : {KindLine, KindRegion, KindNetwork}) {
    SCOPED_TRACE(testing::Message() << "kind " << kind);
    LayerBuilder b = Sample(kind);   // three lines: four slots
    for (int slot = 0; slot < 4; ++slot) b.SetTopology(slot, {slot, slot + 10, slot + 20, slot + 30, -slot, 99});
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
    for (int index = 0; index < 4; ++index) {
      MAPGIS_Topology t{};
      ASSERT_EQ(r.GetTopoInfo(index, &t), St::Success);
      EXPECT_EQ(+t.value0, index);
      EXPECT_EQ(+t.leftRegion, index + 20);
      EXPECT_EQ(+t.rightRegion, index + 30);
      EXPECT_EQ(+t.value5, 99);
    }
    MAPGIS_Topology t{};
    EXPECT_EQ(r.GetTopoInfo(2, nullptr), St::Success);
    EXPECT_EQ(r.GetTopoInfo(-1, &t), St::ReadFailed);
    EXPECT_EQ(r.GetTopoInfo(4, &t), St::ReadFailed);
  }
}

// ---------------------------------------------------------------------------------------------
// Network nodes

TEST(LayerReaderNetwork, NodesAreReadAsPoints) {
  LayerBuilder b = Sample(KindNetwork);
  for (int n = 0; n < 3; ++n) std::memset(b.Node(n).unused16, 0xEE, sizeof b.Node(n).unused16);
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
  int slots = 0;
  EXPECT_EQ(r.GetPointCount(&slots), 2);
  EXPECT_EQ(slots, 3);
  for (int n : {0, 2}) {
    SCOPED_TRACE(testing::Message() << "node " << n);
    MAPGIS_PntInfo p{};
    std::memset(&p, 0xCC, sizeof p);
    GeomPtr g = NewGeometry();
    ASSERT_EQ(r.ReadPointInfo(n, &p, g.get()), St::Success);
    EXPECT_EQ(+p.flag, 1);
    EXPECT_EQ(+p.textLength, 1);
    EXPECT_EQ(+p.textOffset, 0);
    EXPECT_EQ(+p.x, n + 0.25);
    EXPECT_EQ(+p.y, n + 0.75);
    EXPECT_EQ(std::vector<std::uint8_t>(p.reserved, p.reserved + 8), std::vector<std::uint8_t>(8, 0));
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&p);
    const auto block = NodeBlock(n);
    EXPECT_EQ(std::vector<std::uint8_t>(raw + 31, raw + 93), std::vector<std::uint8_t>(block.begin(), block.begin() + 62));
    EXPECT_EQ(g->shapeType, 1);
    ASSERT_EQ(g->vertexCount, 1);
    EXPECT_EQ(g->x[0], n + 0.25);
    EXPECT_EQ(g->y[0], n + 0.75);
  }
}

// A node whose parameter block lies outside the data area fails on its own; the other nodes of
// the layer still read.
TEST(LayerReaderNetwork, NodeBlockBeyondTheFile) {
  LayerBuilder b = Sample(KindNetwork);
  b.Node(2).infoOffset = 1 << 30;
  KvxTest::TempDir dir;
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(dir.Store(b).c_str()), St::Success);
  EXPECT_EQ(r.ReadPointInfo(2, nullptr, nullptr), St::ReadFailed);
  EXPECT_EQ(r.ReadPointInfo(0, nullptr, nullptr), St::Success);
  EXPECT_EQ(r.ReadPointInfo(1, nullptr, nullptr), St::Deleted);
}

// ---------------------------------------------------------------------------------------------
// Files cut short: every read gives the full file's answer or a read failure, and an answer
// whose sections all survived the cut is unchanged.

struct Outcome {
  std::string what;
  std::vector<int> needs;   // directory entries the answer depends on
  bool attribute = false;
  std::int32_t status = 0;
  std::string data;
};

template <typename T>
void AddBytes(std::string& out, const T* p, std::size_t n) {
  if (p) out.append(reinterpret_cast<const char*>(p), n * sizeof(T));
}

std::string GeometryBytes(const Geometry& g) {
  std::string out;
  AddBytes(out, &g.shapeType, 1);
  AddBytes(out, &g.partCount, 1);
  AddBytes(out, &g.vertexCount, 1);
  AddBytes(out, g.partStart, static_cast<std::size_t>(std::max(g.partCount, 0)));
  AddBytes(out, g.partType, static_cast<std::size_t>(std::max(g.partCount, 0)));
  AddBytes(out, g.x, static_cast<std::size_t>(std::max(g.vertexCount, 0)));
  AddBytes(out, g.y, static_cast<std::size_t>(std::max(g.vertexCount, 0)));
  AddBytes(out, &g.xMin, 8);
  return out;
}

std::vector<Outcome> ReadEverything(MapGis_FastReader& r, int kind) {
  std::vector<Outcome> out;
  std::vector<int> geometry = {0, 1};
  if (kind == KindRegion) geometry.push_back(8);
  if (kind == KindNetwork) geometry.push_back(4);
  auto add = [&](std::string what, std::vector<int> needs, std::int32_t status, std::string data) {
    out.push_back({std::move(what), std::move(needs), false, status, std::move(data)});
  };
  for (int i = -1; i <= 3; ++i) {
    const std::string at = "(" + std::to_string(i) + ")";
    {
      MAPGIS_PntInfo p{};
      GeomPtr g = NewGeometry();
      const std::int32_t s = r.ReadPointInfo(i, &p, g.get());
      add("ReadPointInfo" + at, geometry, s, std::string(reinterpret_cast<char*>(&p), sizeof p) + GeometryBytes(*g));
    }
    {
      MAPGIS_LineInfo l{};
      GeomPtr g = NewGeometry();
      const std::int32_t s = r.ReadArcInfo(i, &l, g.get());
      add("ReadArcInfo" + at, geometry, s, std::string(reinterpret_cast<char*>(&l), sizeof l) + GeometryBytes(*g));
    }
    {
      MAPGIS_RegInfo reg{};
      GeomPtr g = NewGeometry();
      const std::int32_t s = r.ReadPolygonInfo(i, &reg, g.get());
      add("ReadPolygonInfo" + at, geometry, s,
          std::string(reinterpret_cast<char*>(&reg), sizeof reg) + GeometryBytes(*g));
    }
    {
      char text[260] = {};
      const std::int32_t s = r.GetNoteInfo(i, text);
      add("GetNoteInfo" + at, geometry, s, text);
    }
    {
      MAPGIS_Tic_Info t{};
      const std::int32_t s = r.GetTicInfo(i, &t);
      add("GetTicInfo" + at, {1}, s, std::string(reinterpret_cast<char*>(&t), sizeof t));
    }
    if (kind == KindLine || kind == KindRegion || kind == KindNetwork) {
      MAPGIS_Topology t{};
      const std::int32_t s = r.GetTopoInfo(i, &t);
      add("GetTopoInfo" + at, {3}, s, std::string(reinterpret_cast<char*>(&t), sizeof t));
    }
  }
  const std::vector<std::pair<int, int>> areas = [kind]() -> std::vector<std::pair<int, int>> {
    switch (kind) {
      case KindLine:
      case KindNetwork: return {{0, 2}, {1, 5}};
      case KindPoint: return {{1, 2}};
      case KindRegion: return {{0, 2}, {2, 9}};
      case KindTable: return {{7, 0}};
      default: return {};
    }
  }();
  for (const auto& [type, entry] : areas) {
    const std::string t = " type " + std::to_string(type);
    r.SetAttributeType(type);
    // A type whose area cannot be loaded is refused and the previous type stays in force; what
    // is read then belongs to another area and counts as a failure for this one.
    const bool selected = r.GetAttributeType() == type;
    auto attr = [&](std::string what, std::int32_t status, std::string data) {
      out.push_back({std::move(what) + t, {entry}, true, selected ? status : -1, selected ? std::move(data) : ""});
    };
    attr("GetFieldCount", r.GetFieldCount(), {});
    attr("GetRecordCount", r.GetRecordCount(), {});
    for (int f = 0; f < 3; ++f) {
      char name[32] = {};
      int size = 0, width = 0, decimals = 0;
      const std::int32_t fieldType = r.GetFieldInfo(f, name, &size, &width, &decimals);
      attr("GetFieldInfo(" + std::to_string(f) + ")", fieldType,
           std::string(name) + "/" + std::to_string(size) + "/" + std::to_string(width));
      for (int rec = -1; rec <= 3; ++rec) {
        const char* value = r.ReadAttribute(rec, f, fieldType < 0 ? 1 : fieldType);
        const bool known = value && fieldType >= 0;
        attr("ReadAttribute(" + std::to_string(rec) + ", " + std::to_string(f) + ")", value ? 0 : -1,
             known ? std::string(value, static_cast<std::size_t>(size)) : "");
      }
    }
  }
  return out;
}

// A sample of the kind with tics, topology and attributes in every area it has.
LayerBuilder RichSample(int kind) {
  LayerBuilder b = Sample(kind);
  b.AddTic(Tic(1));
  b.AddTic(Tic(2));
  std::vector<int> entries;
  switch (kind) {
    case KindPoint: entries = {2}; break;
    case KindLine:
    case KindNetwork: entries = {2, 5}; break;
    case KindRegion: entries = {2, 5, 9}; break;
    case KindTable: entries = {0}; break;
  }
  if (kind == KindLine || kind == KindRegion || kind == KindNetwork)
    for (int slot = 0; slot < 4; ++slot) b.SetTopology(slot, {slot, 1, 2, 3, 4, 5});
  for (int entry : entries) {
    KvxTest::AttributeArea& a = b.Attributes(entry);
    a.AddField("NAME", FieldString, 6);
    a.AddField("CODE", FieldLong);
    for (int rec = 0; rec < 3; ++rec) {
      a.SetText(rec, 0, "e" + std::to_string(entry) + "r" + std::to_string(rec));
      a.SetValue<std::int32_t>(rec, 1, entry * 100 + rec);
    }
  }
  return b;
}

TEST(LayerReaderTruncated, EveryReadFailsCleanlyOrAnswersAsBefore) {
  KvxTest::TempDir dir;
  for (int kind : {KindLine, KindPoint, KindRegion, KindNetwork, KindTable}) {
    LayerBuilder b = RichSample(kind);
    const std::vector<std::uint8_t> bytes = b.Build();
    const KvxTest::LayerLayout layout = b.GetLayout();

    MapGis_FastReader full;
    ASSERT_EQ(full.Open(dir.Store(bytes).c_str()), St::Success);
    const std::vector<Outcome> expected = ReadEverything(full, kind);

    std::vector<std::int64_t> cuts;
    for (std::int64_t at : layout.Boundaries())
      for (std::int64_t d : {-1, 0, 1})
        if (at + d >= 0 && at + d <= layout.fileSize) cuts.push_back(at + d);
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    for (std::int64_t cut : cuts) {
      SCOPED_TRACE(testing::Message() << "kind " << kind << " cut at " << cut << " of " << layout.fileSize);
      const std::string path =
          dir.Store(std::span<const std::uint8_t>(bytes.data(), static_cast<std::size_t>(cut)));
      MapGis_FastReader r;
      const std::int32_t status = r.Open(path.c_str());
      if (cut < layout.directoryEnd) {
        EXPECT_EQ(status, St::ReadFailed);
        continue;
      }
      ASSERT_EQ(status, St::Success);
      const std::vector<Outcome> got = ReadEverything(r, kind);
      ASSERT_EQ(got.size(), expected.size());
      for (std::size_t i = 0; i < got.size(); ++i) {
        const Outcome& e = expected[i];
        const Outcome& g = got[i];
        const bool same = g.status == e.status && g.data == e.data;
        const bool intact = std::all_of(e.needs.begin(), e.needs.end(), [&](int entry) {
          return cut >= layout.sections[static_cast<std::size_t>(entry)].end();
        });
        if (intact) {
          EXPECT_TRUE(same) << e.what << ": status " << g.status << ", expected " << e.status;
        } else if (e.attribute) {
          EXPECT_TRUE(same || g.status < 0) << e.what << ": status " << g.status;
        } else {
          EXPECT_TRUE(same || g.status == St::ReadFailed) << e.what << ": status " << g.status;
        }
      }
    }
  }
}

}  // namespace
