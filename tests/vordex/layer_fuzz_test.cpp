// Opens thousands of damaged variants of valid layer files of every kind and reads everything
// in them, with each of the three readers. Nothing may crash, hang or read out of bounds (the sanitizer build checks the
// latter), and every call answers with one of the reader's statuses.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <vector>

#include "support/layer_builder.h"
#include "vordex/layer_reader.h"

namespace {

using namespace MapGis;
using KvxTest::LayerBuilder;

const std::set<std::int32_t> kStatuses = {Status::Success,    Status::NotMapGis, Status::DamagedHead,
                                          Status::UnknownKind, Status::CannotOpen, Status::OutOfMemory,
                                          Status::ReadFailed,  Status::Deleted,   Status::BadAttribute,
                                          Status::BadRegion};

// Loops over stored counts are capped so a damaged count cannot make the test itself slow; the
// reader must still answer every index with a status.
constexpr int kMaxIndex = 300;
constexpr int kMaxAttrIndex = 24;  // records and fields: a damaged count reaches past the valid ones soon enough

void AddAllFieldTypes(KvxTest::AttributeArea& area, int records) {
  const int types[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 12};
  for (int t : types) area.AddField("F" + std::to_string(t), t, t == 0 || t == 9 || t == 12 ? 8 : -1);
  for (int r = 0; r < records; ++r) {
    area.SetText(r, 0, "  ab  ");
    area.SetValue<std::uint8_t>(r, 1, static_cast<std::uint8_t>(r));
    area.SetValue<std::int16_t>(r, 2, static_cast<std::int16_t>(-r));
    area.SetValue<std::int32_t>(r, 3, 100000 + r);
    area.SetValue<float>(r, 4, 1.5f * r);
    area.SetValue<double>(r, 5, 2.25 * r);
    area.SetText(r, 9, "\xD6\xD0\xCE\xC4");
  }
}

struct ValidLayer {
  std::vector<std::uint8_t> bytes;
  std::vector<std::int64_t> boundaries;
};

ValidLayer ValidFile(int kind) {
  LayerBuilder b(kind);
  std::array<std::uint8_t, 94> block{};
  block[0] = 1;
  MAPGIS_Tic_Info tic{};
  tic.data[0] = 7;
  switch (kind) {
    case KindPoint: {
      b.AddPoint(1, 2, "\xB5\xD8\xD6\xCA");
      b.AddPoint(3, 4);
      int d = b.AddPoint(5, 6, "x");
      b.Point(d).flag = 0;
      b.AddPoint(7, 8, std::string(300, 'a'));
      AddAllFieldTypes(b.Attributes(KvxTest::EntryPrimaryAttr), 4);
      break;
    }
    case KindLine:
    case KindNetwork: {
      b.AddLine({{0, 0}, {1, 1}, {2, 0}});
      int d = b.AddLine({{5, 5}, {6, 6}});
      b.Line(d).flag = 0;
      b.AddLine({{9, 9}, {8, 8}, {7, 9}, {6, 8}});
      for (int s = 0; s < 4; ++s) b.SetTopology(s, MAPGIS_Topology{s, 0, s + 1, s + 2, 0, 0});
      AddAllFieldTypes(b.Attributes(KvxTest::EntryPrimaryAttr), 3);
      if (kind == KindNetwork) {
        b.AddNode(1, 1, block);
        int n = b.AddNode(2, 2, block);
        b.Node(n).flag = 0;
        b.AddNode(3, 3, block);
        AddAllFieldTypes(b.Attributes(KvxTest::EntryNodeAttr), 3);
      }
      break;
    }
    case KindRegion: {
      b.AddLine({{0, 0}, {0, 10}, {10, 10}, {10, 0}});
      b.AddLine({{10, 0}, {0, 0}});
      b.AddLine({{2, 2}, {4, 2}, {4, 4}, {2, 2}});
      int d = b.AddLine({{1, 1}, {2, 2}});
      b.Line(d).flag = 0;
      b.AddRegion({1, 2, 0, -3});
      b.AddRegion({0, 1, 2, 0});
      b.AddRegion({1, 4, 2});
      for (int s = 0; s < 5; ++s) b.SetTopology(s, MAPGIS_Topology{s, 0, 1, 2, 0, 0});
      AddAllFieldTypes(b.Attributes(KvxTest::EntryPrimaryAttr), 4);
      AddAllFieldTypes(b.Attributes(KvxTest::EntryRegionAttr), 3);
      break;
    }
    case KindTable:
      AddAllFieldTypes(b.Attributes(KvxTest::EntryPrimary), 5);
      break;
  }
  b.AddTic(tic);
  b.AddTic(tic);
  ValidLayer out;
  out.bytes = b.Build();
  out.boundaries = b.GetLayout().Boundaries();
  return out;
}

// Reads everything the file offers; a call that answers with something that is not a status
// fails the test.
void ReadEverything(const std::filesystem::path& path, int* opened) {
  MapGis_FastReader reader;
  std::int32_t st = reader.Open(path.c_str());
  ASSERT_TRUE(kStatuses.count(st)) << st;
  if (st != Status::Success) return;
  ++*opened;
  int slots = 0;
  reader.GetPointCount(&slots);
  int pointSlots = std::min(slots, kMaxIndex);
  slots = 0;
  reader.GetArcCount(&slots);
  int arcSlots = std::min(slots, kMaxIndex);
  slots = 0;
  reader.GetPolygonCount(&slots);
  int regionSlots = std::min(slots, kMaxIndex);
  double a, b, c, d;
  reader.GetExtentInfo(&a, &b, &c, &d);
  MAP_PARAstruct para;
  reader.GetProjectionInfo(&para);

  char note[260];
  for (int i = -1; i <= pointSlots; ++i) {
    Geometry* g = CreateGeometry();
    MAPGIS_PntInfo info;
    ASSERT_TRUE(kStatuses.count(reader.ReadPointInfo(i, &info, g)));
    DestroyGeometry(g);
    st = reader.GetNoteInfo(i, note);
    ASSERT_TRUE(kStatuses.count(st));
    if (st == Status::Success) {
      ASSERT_LT(std::strlen(note), 260u);
    }
    WKBPoint wp;
    ASSERT_TRUE(kStatuses.count(reader.ReadPointWKB(i, nullptr, &wp)));
  }
  for (int i = -1; i <= arcSlots; ++i) {
    Geometry* g = CreateGeometry();
    ASSERT_TRUE(kStatuses.count(reader.ReadArcInfo(i, nullptr, g)));
    DestroyGeometry(g);
    WKBLineString wl{};
    if (reader.ReadArcWKB(i, nullptr, &wl) == Status::Success) std::free(wl.points);
    MAPGIS_Topology topo;
    ASSERT_TRUE(kStatuses.count(reader.GetTopoInfo(i, &topo)));
  }
  for (int i = -1; i <= regionSlots; ++i) {
    Geometry* g = CreateGeometry();
    MAPGIS_RegInfo info;
    st = reader.ReadPolygonInfo(i, &info, g);
    ASSERT_TRUE(kStatuses.count(st));
    if (st == Status::Success) {
      // Parts must lie inside the vertex array.
      for (int p = 0; p < g->partCount; ++p) {
        ASSERT_GE(g->partStart[p], 0);
        ASSERT_LE(g->partStart[p], g->vertexCount);
      }
    }
    DestroyGeometry(g);
    WKBPolygon wpoly{};
    ASSERT_TRUE(kStatuses.count(reader.ReadPolygonWKB(i, nullptr, &wpoly)));
  }
  for (int i = -1; i <= std::min(reader.GetTicCount(), kMaxIndex); ++i) {
    MAPGIS_Tic_Info tic;
    ASSERT_TRUE(kStatuses.count(reader.GetTicInfo(i, &tic)));
  }
  for (int type : {0, 1, 2, 7, 3}) {
    reader.SetAttributeType(type);
    int fields = reader.GetFieldCount();
    int records = reader.GetRecordCount();
    if (fields < 0) {
      ASSERT_TRUE(kStatuses.count(fields)) << fields;
      continue;
    }
    if (records < 0) {
      ASSERT_TRUE(kStatuses.count(records)) << records;
    }
    fields = std::min(fields, kMaxAttrIndex);
    records = std::min(records, kMaxAttrIndex);
    for (int f = -1; f <= fields; ++f) {
      char name[32];
      int size, width, decimals;
      reader.GetFieldInfo(f, name, &size, &width, &decimals);
      reader.GetFieldIndex(name);
    }
    for (int r = -1; r <= records; ++r) {
      for (int f = -1; f <= fields; ++f) {
        for (int t : {0, 1, 5, 9, 12, 16}) reader.ReadAttribute(r, f, t);
        reader.ReadByteAttribute(r, f);
        reader.ReadShortAttribute(r, f);
        reader.ReadLongAttribute(r, f);
        reader.ReadFloatAttribute(r, f);
        reader.ReadDoubleAttribute(r, f);
        reader.ReadBoolAttribute(r, f);
        reader.ReadDateAttribute(r, f);
        reader.ReadTimeAttribute(r, f);
        reader.ReadTimeStampAttribute(r, f);
        reader.ReadBinareyAttribute(r, f);
      }
    }
  }
  reader.Close();
}

// The last index worth trying for a stored slot count (which may be any 32-bit value).
int LastIndex(std::int32_t slotCount) {
  return static_cast<int>(std::clamp<std::int64_t>(static_cast<std::int64_t>(slotCount) - 1, -1, kMaxIndex));
}

// The operations the three readers share, with the reader's own count of each section.
void ReadShared(MapGis_LayerCore& reader, int arcSlots, int regionSlots, int pointSlots) {
  char note[260];
  for (int i = -1; i <= std::min(pointSlots, kMaxIndex); ++i) ASSERT_TRUE(kStatuses.count(reader.GetNoteInfo(i, note)));
  for (int i = -1; i <= std::min(arcSlots, kMaxIndex); ++i) {
    Geometry* g = CreateGeometry();
    ASSERT_TRUE(kStatuses.count(reader.ReadArcInfo(i, nullptr, g)));
    DestroyGeometry(g);
  }
  for (int i = -1; i <= std::min(regionSlots, kMaxIndex); ++i) {
    Geometry* g = CreateGeometry();
    ASSERT_TRUE(kStatuses.count(reader.ReadPolygonInfo(i, nullptr, g)));
    DestroyGeometry(g);
  }
  for (int i = -1; i <= std::min(reader.GetTicCount(), kMaxIndex); ++i) {
    MAPGIS_Tic_Info tic;
    ASSERT_TRUE(kStatuses.count(reader.GetTicInfo(i, &tic)));
  }
  int fields = reader.GetFieldCount();
  int records = reader.GetRecordCount();
  if (fields < 0) {
    ASSERT_TRUE(kStatuses.count(fields)) << fields;
  }
  if (records < 0) {
    ASSERT_TRUE(kStatuses.count(records)) << records;
  }
  for (int r = -1; r <= std::min(records, kMaxAttrIndex); ++r) {
    for (int f = -1; f <= std::min(fields, kMaxAttrIndex); ++f) {
      reader.ReadAttribute(r, f, 0);
      reader.ReadAttribute(r, f, 5);
      reader.ReadDoubleAttribute(r, f);
      reader.ReadTimeStampAttribute(r, f);
    }
  }
}

// MapGis_Reader and MapGis_MemReader on the same bytes.
void ReadWithVariants(const std::filesystem::path& path) {
  {
    MapGis_Reader reader;
    std::int32_t st = reader.Open(path);
    ASSERT_TRUE(kStatuses.count(st)) << st;
    if (st == Status::Success) {
      int slots = 0, shape = 0, tics = 0;
      reader.GetInfo(&slots, &shape, &tics);
      const MAPGIS_Element& el = reader.GetElement();
      ReadShared(reader, LastIndex(el.slotCount), LastIndex(el.regionSlotCount), LastIndex(el.slotCount));
      for (int i = -1; i <= LastIndex(el.slotCount); ++i) {
        MAPGIS_PntInfo p;
        ASSERT_TRUE(kStatuses.count(reader.ReadPointInfo(i, &p, nullptr)));
      }
      for (int i = -1; i <= LastIndex(el.regionSlotCount); ++i) {
        MAPGIS_RegExt label;
        ASSERT_TRUE(kStatuses.count(reader.GetPolyLab(i, &label)));
      }
      for (int f = -1; f < 3; ++f) {
        std::string name;
        reader.GetFieldInfo(f, &name, nullptr, nullptr, nullptr);
        reader.GetFieldIndex(name);
      }
    }
  }
  for (bool asArcs : {false, true}) {
    MapGis_MemReader mem;
    std::int32_t st = mem.Open(path);
    ASSERT_TRUE(kStatuses.count(st)) << st;
    if (st != Status::Success) return;
    if (asArcs) mem.ReadAsPolyArc();
    const MAPGIS_Element& el = mem.GetElement();
    ReadShared(mem, LastIndex(el.slotCount), LastIndex(el.regionSlotCount), LastIndex(el.slotCount));
    for (int i = -1; i <= LastIndex(el.nodeSlotCount); ++i) {
      MAPGIS_PntInfo p;
      Geometry* g = CreateGeometry();
      ASSERT_TRUE(kStatuses.count(mem.ReadNetPointInfo(i, &p, g)));
      DestroyGeometry(g);
      MAPGIS_Topology topo;
      ASSERT_TRUE(kStatuses.count(mem.GetTopoInfo(i, &topo)));
    }
  }
}

void Put32(std::vector<std::uint8_t>& bytes, std::int64_t at, std::int32_t v) {
  if (at < 0 || at + 4 > static_cast<std::int64_t>(bytes.size())) return;
  std::memcpy(bytes.data() + at, &v, 4);
}

class LayerFuzz : public ::testing::TestWithParam<int> {};

TEST_P(LayerFuzz, DamagedVariantsGiveStatusesNeverCrashes) {
  const int kind = GetParam();
  const ValidLayer layer = ValidFile(kind);
  const std::vector<std::uint8_t>& valid = layer.bytes;
  KvxTest::TempDir dir;
  const auto path = dir / "layer.bin";

  int opened = 0;
  ASSERT_TRUE(KvxTest::WriteFile(path, valid));
  ReadEverything(path, &opened);
  if (HasFatalFailure()) return;
  ASSERT_EQ(opened, 1) << "the undamaged file must open";

  // Cuts one byte before, at and after every block and section boundary, and all along the file.
  std::set<std::int64_t> cuts;
  for (std::int64_t at = 0; at < static_cast<std::int64_t>(valid.size()); at += 1 + at / 64) cuts.insert(at);
  for (std::int64_t at : layer.boundaries) {
    cuts.insert(at - 1);
    cuts.insert(at);
    cuts.insert(at + 1);
  }

  std::mt19937 rng(static_cast<unsigned>(kind) * 7919u + 17u);
  int variants = 0;
  auto run = [&](const std::vector<std::uint8_t>& bytes) {
    ASSERT_TRUE(KvxTest::WriteFile(path, bytes));
    ReadEverything(path, &opened);
    if (!HasFatalFailure()) ReadWithVariants(path);
    ++variants;
  };

  // 1. Truncation at section boundaries and all along the file.
  for (std::int64_t at : cuts) {
    if (at < 0 || at >= static_cast<std::int64_t>(valid.size())) continue;
    run(std::vector<std::uint8_t>(valid.begin(), valid.begin() + at));
    if (HasFatalFailure()) return;
  }

  // 2. Absurd counts and offsets written over every 4-byte position of the head, the fixed
  // blocks and the directory, and over random positions of the sections.
  for (std::int64_t at : layer.boundaries) {
    for (std::int64_t k = 0; k < 4; ++k) {
      std::vector<std::uint8_t> bytes = valid;
      Put32(bytes, at + 4 * k, 0x7FFFFFFF);
      run(bytes);
      if (HasFatalFailure()) return;
    }
  }
  const std::int32_t absurd[] = {0x7FFFFFFF, static_cast<std::int32_t>(0x80000000), -1, -2, 0x7FFFFFF0,
                                 static_cast<std::int32_t>(valid.size()), 1025, 65535};
  std::vector<std::int64_t> spots;
  for (std::int64_t at = 0; at < 817 && at < static_cast<std::int64_t>(valid.size()); at += 2) spots.push_back(at);
  std::uniform_int_distribution<std::int64_t> anywhere(817, static_cast<std::int64_t>(valid.size()) - 4);
  for (int i = 0; i < 300; ++i) spots.push_back(anywhere(rng));
  std::uniform_int_distribution<std::size_t> pick(0, std::size(absurd) - 1);
  for (std::int64_t at : spots) {
    std::vector<std::uint8_t> bytes = valid;
    Put32(bytes, at, absurd[pick(rng)]);
    run(bytes);
    if (HasFatalFailure()) return;
  }

  // 3. Random byte flips, from one to a few dozen per file, mostly behind the head so that the
  // file still opens and the damage reaches the sections.
  std::uniform_int_distribution<std::size_t> pos(0, valid.size() - 1);
  std::uniform_int_distribution<std::size_t> body(600, valid.size() - 1);
  std::uniform_int_distribution<int> count(1, 40);
  std::uniform_int_distribution<int> byteValue(0, 255);
  for (int i = 0; i < 700; ++i) {
    std::vector<std::uint8_t> bytes = valid;
    int flips = count(rng);
    for (int k = 0; k < flips; ++k) bytes[i % 4 == 0 ? pos(rng) : body(rng)] = static_cast<std::uint8_t>(byteValue(rng));
    run(bytes);
    if (HasFatalFailure()) return;
  }
  EXPECT_GE(variants, 1000);
  // Most damage lies behind the head, so most variants must open and reach the sections.
  EXPECT_GT(opened, variants / 2);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, LayerFuzz, ::testing::Values(0, 1, 2, 4, 7), [](const auto& info) {
  switch (info.param) {
    case 0: return std::string("Line");
    case 1: return std::string("Point");
    case 2: return std::string("Region");
    case 4: return std::string("Network");
    default: return std::string("Table");
  }
});

}  // namespace

namespace {

// A count of 2^31 - 1 in a file of a few kilobytes is a read failure at once: the count is checked
// against the file before anything is sized by it (the sanitizer build would abort on a huge
// allocation). A slot count is cut to the slots its section holds: those are read, the first one
// beyond is a read failure.
// The one feature the section holds reads, the slot beyond it is a read failure (ReadFailed
// when both hold, so the cases share one table).
std::int32_t HeldAndBeyond(const MapGis_FastReader& r, SlotSection section, std::int32_t held, std::int32_t beyond) {
  if (r.HeldSlots(section) != 1 || held != Status::Success) return Status::Success;
  return beyond;
}

TEST(LayerAbsurdCounts, HugeCountsInASmallFileAreReadFailures) {
  struct Case {
    const char* what;
    int kind;
    std::function<void(LayerBuilder&)> damage;
    std::function<std::int32_t(MapGis_FastReader&)> read;
  } cases[] = {
      {"point slots", KindPoint, [](LayerBuilder& b) { b.overrides.slotCount = 0x7FFFFFFF; },
       [](MapGis_FastReader& r) {
         return HeldAndBeyond(r, SlotSection::Points, r.ReadPointInfo(0, nullptr, nullptr), r.ReadPointInfo(1, nullptr, nullptr));
       }},
      {"line slots", KindLine, [](LayerBuilder& b) { b.overrides.slotCount = 0x7FFFFFFF; },
       [](MapGis_FastReader& r) {
         return HeldAndBeyond(r, SlotSection::Lines, r.ReadArcInfo(0, nullptr, nullptr), r.ReadArcInfo(1, nullptr, nullptr));
       }},
      {"region slots", KindRegion, [](LayerBuilder& b) { b.overrides.regionSlotCount = 0x7FFFFFFF; },
       [](MapGis_FastReader& r) {
         return HeldAndBeyond(r, SlotSection::Regions, r.ReadPolygonInfo(0, nullptr, nullptr),
                              r.ReadPolygonInfo(1, nullptr, nullptr));
       }},
      {"node slots", KindNetwork, [](LayerBuilder& b) { b.overrides.nodeSlotCount = 0x7FFFFFFF; },
       [](MapGis_FastReader& r) {
         return HeldAndBeyond(r, SlotSection::Nodes, r.ReadPointInfo(0, nullptr, nullptr), r.ReadPointInfo(1, nullptr, nullptr));
       }},
      {"topology of line slots", KindLine, [](LayerBuilder& b) { b.overrides.slotCount = 0x7FFFFFFF; },
       [](MapGis_FastReader& r) { return r.GetTopoInfo(5, nullptr); }},
      {"tics", KindLine, [](LayerBuilder& b) { b.overrides.ticCount = 0x7FFF; },
       [](MapGis_FastReader& r) { return r.GetTicInfo(0, nullptr); }},
      {"vertices of a line", KindLine, [](LayerBuilder& b) { b.Line(0).pointCount = 0x7FFFFFFF; },
       [](MapGis_FastReader& r) {
         Geometry* g = CreateGeometry();
         std::int32_t st = r.ReadArcInfo(0, nullptr, g);
         DestroyGeometry(g);
         return st;
       }},
      {"arc list of a region", KindRegion, [](LayerBuilder& b) { b.Region(0).arcListLength = 0x7FFFFFFF; },
       [](MapGis_FastReader& r) {
         Geometry* g = CreateGeometry();
         std::int32_t st = r.ReadPolygonInfo(0, nullptr, g);
         DestroyGeometry(g);
         return st;
       }},
      // A vertex total far above what its arcs hold sizes nothing: the region holds the arc's
      // three vertices (the lambda answers ReadFailed for "bounded", to share the table).
      {"vertex total of a region", KindRegion, [](LayerBuilder& b) { b.AddRegion({1}, 0x7FFFFFFF); },
       [](MapGis_FastReader& r) {
         Geometry* g = CreateGeometry();
         std::int32_t st = r.ReadPolygonInfo(1, nullptr, g);
         const bool bounded = st == Status::Success && g->vertexCount == 3;
         DestroyGeometry(g);
         return bounded ? Status::ReadFailed : Status::Success;
       }},
      {"attribute records", KindLine,
       [](LayerBuilder& b) { b.Attributes(KvxTest::EntryPrimaryAttr).overrides.recordCount = 0x7FFFFFFF; },
       [](MapGis_FastReader& r) { return r.GetRecordCount(); }},
      // More fields than record bytes: a pass over every value would grow with records times fields.
      {"fields wider than their records", KindLine,
       [](LayerBuilder& b) {
         auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
         a.AddField("B", FieldLong);
         a.AddField("C", FieldLong);
         a.overrides.recordLength = 2;
       },
       [](MapGis_FastReader& r) { return r.GetRecordCount(); }},
      {"attribute record length", KindLine,
       [](LayerBuilder& b) { b.Attributes(KvxTest::EntryPrimaryAttr).overrides.recordLength = 0x7FFFFFFF; },
       [](MapGis_FastReader& r) { return r.ReadAttribute(0, 0, 0) ? Status::Success : r.GetRecordCount(); }},
  };
  KvxTest::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LayerBuilder b(c.kind);
    if (c.kind == KindPoint) b.AddPoint(1, 1);
    if (c.kind != KindPoint) b.AddLine({{0, 0}, {1, 1}, {2, 0}});
    if (c.kind == KindRegion) b.AddRegion({1});
    if (c.kind == KindNetwork) b.AddNode(1, 1, std::array<std::uint8_t, 94>{});
    b.Attributes(KvxTest::EntryPrimaryAttr).AddField("A", FieldLong);
    c.damage(b);
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(dir.Store(b).c_str()), Status::Success);
    EXPECT_LT(r.GetFileSize(), 8192);
    EXPECT_EQ(c.read(r), Status::ReadFailed) << r.GetLastErrorText();
  }
}

}  // namespace
