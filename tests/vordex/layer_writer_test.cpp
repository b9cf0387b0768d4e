// MapGis_Writer and MapGis_FastWriter: layers of every kind the writers support read back through
// MapGis_FastReader with the same features, texts, geometry and attribute values; the byte layout
// of the container (head, directory, sections, auxiliary sections, attribute areas); region arc
// lists as stored; repeated flushes; and the failures and guarded inputs.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/byte_fixture.h"
#include "support/layer_builder.h"
#include "vordex/layer_reader.h"
#include "vordex/layer_writer.h"
#include "vordex/status.h"
#include "vordex/text_encoding.h"

namespace {

using namespace MapGis;
namespace St = MapGis::Status;
namespace fs = std::filesystem;
using KvxTest::Bytes;
using KvxTest::Get;

using GeomPtr = std::unique_ptr<Geometry, GeometryDeleter>;
using Vertex = std::pair<double, double>;
using Ring = std::vector<Vertex>;

// A valid field code whose values the reader hands out as raw bytes; used for binary values.
constexpr int kBinaryType = 10;

// A geometry with the given parts; part types default to 5 for the first part and 3 for the rest.
GeomPtr MakeGeometry(int shapeType, const std::vector<Ring>& parts, std::vector<int> types = {}) {
  GeomPtr g(CreateGeometry());
  int total = 0;
  for (const Ring& r : parts) total += static_cast<int>(r.size());
  const auto n = static_cast<std::size_t>(std::max(total, 1));
  const auto p = static_cast<std::size_t>(std::max<std::size_t>(parts.size(), 1));
  g->shapeType = shapeType;
  g->partCount = static_cast<std::int32_t>(parts.size());
  g->vertexCount = total;
  g->partStart = static_cast<std::int32_t*>(std::calloc(p, sizeof(std::int32_t)));
  g->partType = static_cast<std::int32_t*>(std::calloc(p, sizeof(std::int32_t)));
  g->x = static_cast<double*>(std::calloc(n, sizeof(double)));
  g->y = static_cast<double*>(std::calloc(n, sizeof(double)));
  g->z = static_cast<double*>(std::calloc(n, sizeof(double)));
  g->m = static_cast<double*>(std::calloc(n, sizeof(double)));
  int at = 0;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    g->partStart[k] = at;
    g->partType[k] = k < types.size() ? types[k] : (k == 0 ? 5 : 3);
    for (const Vertex& v : parts[k]) {
      g->x[at] = v.first;
      g->y[at] = v.second;
      ++at;
    }
  }
  return g;
}

std::vector<Vertex> VerticesOf(const Geometry& g) {
  std::vector<Vertex> out;
  for (int i = 0; i < g.vertexCount; ++i) out.emplace_back(g.x[i], g.y[i]);
  return out;
}

std::vector<Vertex> Concat(const std::vector<Ring>& rings) {
  std::vector<Vertex> out;
  for (const Ring& r : rings) out.insert(out.end(), r.begin(), r.end());
  return out;
}

// A ring of `count` vertices around (cx, cy), closed when `closed` (last vertex = first); never 0.
Ring RingAround(double cx, double cy, double radius, int count, bool closed = true) {
  Ring r;
  const int distinct = closed ? count - 1 : count;
  for (int j = 0; j < distinct; ++j) {
    const double a = 6.283185307179586 * j / distinct;
    r.emplace_back(cx + radius * std::cos(a), cy + radius * std::sin(a));
  }
  if (closed) r.push_back(r.front());
  return r;
}

// Both writers behind one face: MapGis_Writer takes UTF-8 names, MapGis_FastWriter GBK bytes.
class AnyWriter {
 public:
  explicit AnyWriter(bool wide) : wide_(wide) {}
  std::int32_t Create(const fs::path& path, int kind) {
    return wide_ ? wideWriter_.Create(path, kind) : fastWriter_.Create(path.c_str(), kind);
  }
  std::int32_t AddField(const char* utf8Name, int type, int size, int width, int decimals) {
    if (wide_) return wideWriter_.AddFieldInfo(utf8Name, type, size, width, decimals);
    return fastWriter_.AddFieldInfo(Utf8ToGbk(utf8Name).c_str(), type, size, width, decimals);
  }
  MapGis_LayerWriter& w() { return wide_ ? static_cast<MapGis_LayerWriter&>(wideWriter_) : fastWriter_; }

 private:
  bool wide_;
  MapGis_Writer wideWriter_;
  MapGis_FastWriter fastWriter_;
};

// ---------------------------------------------------------------------------------------------
// The sample layers: three features of the kind (three table rows for kind 7), every attribute
// type, Chinese texts in GBK.

enum FieldNo { FName, FByte, FShort, FLong, FFloat, FDouble, FBool, FText, FDate, FTime, FBinary, FieldTotal };

struct FieldDef {
  const char* utf8Name;
  int type;
  int size;
  int width;
  int decimals;
};

const FieldDef kFields[FieldTotal] = {
    {"名称", FieldString, 20, 20, 0},      {"BYTEV", FieldByte, 1, 3, 0},     {"SHORTV", FieldShort, 2, 6, 0},
    {"LONGV", FieldLong, 4, 11, 0},      {"FLOATV", FieldFloat, 4, 12, 3},  {"DOUBLEV", FieldDouble, 8, 20, 6},
    {"BOOLV", FieldBool, 1, 1, 0},       {"备注", FieldText, 40, 40, 0},    {"DATEV", FieldDate, 4, 10, 0},
    {"TIMEV", FieldTime, 10, 12, 0},     {"BINV", kBinaryType, 6, 6, 0},
};

struct RowValues {
  std::string name;  // GBK
  std::uint8_t byteV;
  std::int16_t shortV;
  std::int32_t longV;
  float floatV;
  double doubleV;
  bool boolV;
  std::string text;  // GBK
  DATE_STRUstruct date;
  TIME_STRUstruct time;
  std::array<std::uint8_t, 6> binary;
};

RowValues RowOf(int i) {
  RowValues r;
  r.name = Utf8ToGbk("站点" + std::to_string(i) + "号");
  r.byteV = static_cast<std::uint8_t>(200 + i);
  r.shortV = static_cast<std::int16_t>(-1234 - i);
  r.longV = -70000 - i;
  r.floatV = 1.5f + static_cast<float>(i);
  r.doubleV = 3.25e10 + i;
  r.boolV = i % 2 == 0;
  r.text = Utf8ToGbk("第" + std::to_string(i) + "条备注：长江中下游");
  r.date = DATE_STRUstruct{static_cast<std::int16_t>(2020 + i), 5, static_cast<std::int8_t>(10 + i)};
  r.time = TIME_STRUstruct{12, static_cast<std::int8_t>(30 + i), 15.25 + i};
  r.binary = {0x00, 0x01, 0xFF, 0x00, 0x7F, static_cast<std::uint8_t>(i)};
  return r;
}

void AddSampleFields(AnyWriter& aw) {
  for (int f = 0; f < FieldTotal; ++f) {
    const FieldDef& s = kFields[f];
    EXPECT_EQ(aw.AddField(s.utf8Name, s.type, s.size, s.width, s.decimals), f + 1);
  }
}

void WriteRow(MapGis_LayerWriter& w, int i) {
  const RowValues v = RowOf(i);
  EXPECT_TRUE(w.WriteStringAttribute(i, FName, v.name.c_str()));
  EXPECT_TRUE(w.WriteByteAttribute(i, FByte, v.byteV));
  EXPECT_TRUE(w.WriteShortAttribute(i, FShort, v.shortV));
  EXPECT_TRUE(w.WriteLongAttribute(i, FLong, v.longV));
  EXPECT_TRUE(w.WriteFloatAttribute(i, FFloat, v.floatV));
  EXPECT_TRUE(w.WriteDoubleAttribute(i, FDouble, v.doubleV));
  EXPECT_TRUE(w.WriteBoolAttribute(i, FBool, v.boolV));
  EXPECT_TRUE(w.WriteTextAttribute(i, FText, v.text.c_str()));
  EXPECT_TRUE(w.WriteDateAttribute(i, FDate, v.date));
  EXPECT_TRUE(w.WriteTimeAttribute(i, FTime, v.time));
  EXPECT_TRUE(w.WriteBinareyAttribute(i, FBinary, v.binary.data(), static_cast<std::int32_t>(v.binary.size())));
}

void ExpectRow(MapGis_LayerCore& r, int i) {
  SCOPED_TRACE(testing::Message() << "attribute record " << i);
  const RowValues v = RowOf(i);
  const char* name = r.ReadStringAttribute(i, FName);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::string(name), v.name);
  EXPECT_EQ(r.ReadByteAttribute(i, FByte), v.byteV);
  EXPECT_EQ(r.ReadShortAttribute(i, FShort), v.shortV);
  EXPECT_EQ(r.ReadLongAttribute(i, FLong), v.longV);
  EXPECT_EQ(r.ReadFloatAttribute(i, FFloat), v.floatV);
  EXPECT_EQ(r.ReadDoubleAttribute(i, FDouble), v.doubleV);
  EXPECT_EQ(r.ReadBoolAttribute(i, FBool), v.boolV);
  const char* text = r.ReadTextAttribute(i, FText);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text), v.text);
  const DATE_STRUstruct d = r.ReadDateAttribute(i, FDate);
  EXPECT_EQ(+d.year, +v.date.year);
  EXPECT_EQ(+d.month, +v.date.month);
  EXPECT_EQ(+d.day, +v.date.day);
  const TIME_STRUstruct t = r.ReadTimeAttribute(i, FTime);
  EXPECT_EQ(+t.hour, +v.time.hour);
  EXPECT_EQ(+t.minute, +v.time.minute);
  EXPECT_EQ(+t.second, +v.time.second);
  const char* bin = r.ReadAttribute(i, FBinary, kBinaryType);
  ASSERT_NE(bin, nullptr);
  ASSERT_EQ(r.GetLastValueSize(), 6);
  EXPECT_EQ(std::memcmp(bin, v.binary.data(), v.binary.size()), 0);
}

// Point samples: two annotations (types 0 and 5) with Chinese text and a symbol without text.
struct PointSample {
  double x, y;
  const char* utf8Text;  // null: a symbol
  std::uint8_t givenType;
  std::uint8_t storedType;
};
const PointSample kPoints[] = {
    {101.5, 201.25, "中华人民共和国", 0, 0},
    {102.0, 202.0, nullptr, 0, 1},
    {103.75, 203.5, "长江 Yangtze 注记", 5, 5},
};

const std::vector<Ring> kLines[] = {
    {{{11.5, 21.5}, {12.5, 22.5}}},
    {{{31.0, 41.0}, {32.0, 43.0}, {35.0, 47.0}}},
    {{{51.0, 61.0}, {52.0, 62.0}, {53.0, 61.5}, {54.0, 63.0}, {55.0, 60.5}}},
};

// Region samples: a square with a hole, a triangle, an outer ring with two holes.
std::vector<std::vector<Ring>> RegionSamples() {
  return {
      {{{110, 110}, {120, 110}, {120, 120}, {110, 120}, {110, 110}}, {{112, 112}, {112, 114}, {114, 114}, {112, 112}}},
      {RingAround(150, 150, 5, 4)},
      {RingAround(200, 200, 20, 9), RingAround(195, 200, 3, 5), RingAround(205, 200, 3, 6)},
  };
}

MAP_PARAstruct SampleProjection() {
  MAP_PARAstruct p{};
  p.coordKind = 3;
  p.unit = 11;
  p.projType = 5;
  p.ellipsoid = 7;
  p.scale = 0.5;
  p.centralMeridian = 1170000.0;
  p.factor141 = p.factor153 = p.factor161 = 1.0;
  return p;
}

// Writes the sample layer of `kind` and flushes it; features first, then their attribute rows.
void WriteSample(AnyWriter& aw, const fs::path& path, int kind) {
  ASSERT_EQ(aw.Create(path, kind), St::Success);
  MapGis_LayerWriter& w = aw.w();
  const MAP_PARAstruct para = SampleProjection();
  w.WriteProjection(&para);
  AddSampleFields(aw);
  int rows = 3;
  switch (kind) {
    case KindPoint:
      for (int i = 0; i < 3; ++i) {
        const PointSample& s = kPoints[i];
        MAPGIS_PntInfo info{};
        info.flag = 1;
        info.x = s.x;
        info.y = s.y;
        info.pointType = s.givenType;
        info.color = 10 + i;
        info.layer = static_cast<std::int16_t>(i);
        const std::string gbk = s.utf8Text ? Utf8ToGbk(s.utf8Text) : std::string();
        EXPECT_EQ(w.AddPointInfo(info, nullptr, s.utf8Text ? gbk.c_str() : nullptr), St::Success);
      }
      break;
    case KindLine:
      for (int i = 0; i < 3; ++i) {
        MAPGIS_LineInfo info{};
        info.flag = 1;
        info.lineType = static_cast<std::int16_t>(3 + i);
        info.color = 20 + i;
        info.width = 0.25f * (i + 1);
        GeomPtr g = MakeGeometry(3, kLines[i]);
        EXPECT_EQ(w.AddArcInfo(info, g.get(), 0), St::Success);
      }
      break;
    case KindRegion: {
      const auto regions = RegionSamples();
      for (int i = 0; i < 3; ++i) {
        MAPGIS_RegInfo info{};
        info.flag = 1;
        info.fillColor = 30 + i;
        info.patternNo = static_cast<std::int16_t>(i);
        GeomPtr g = MakeGeometry(5, regions[static_cast<std::size_t>(i)]);
        EXPECT_EQ(w.AddPolygonInfo(info, g.get()), St::Success);
      }
      break;
    }
    default:
      break;
  }
  for (int i = 0; i < rows; ++i) WriteRow(w, i);
  ASSERT_EQ(w.Flush(), St::Success);
}

const int kKinds[] = {KindLine, KindPoint, KindRegion, KindTable};

std::string KindName(int kind) {
  switch (kind) {
    case KindLine: return "lines";
    case KindPoint: return "points";
    case KindRegion: return "regions";
    default: return "table";
  }
}

// ---------------------------------------------------------------------------------------------
// Round trip through the reader

class LayerWriterRoundTrip : public testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(LayerWriterRoundTrip, ReadsBackTheSameLayer) {
  const auto [kind, wide] = GetParam();
  KvxTest::TempDir dir;
  // Unicode folder and file names reach the file system unchanged.
  fs::create_directory(dir / "图层");
  const fs::path path = dir.path() / "图层" / (std::string("样例") + (wide ? "宽" : "窄") + ".dat");
  {
    AnyWriter aw(wide);
    WriteSample(aw, path, kind);
    aw.w().Close();
  }
  ASSERT_TRUE(fs::exists(path));

  MapGis_FastReader r;
  ASSERT_EQ(r.Open(path.c_str()), St::Success) << r.GetLastErrorText();
  EXPECT_EQ(r.GetShapeType(), kind);

  MAP_PARAstruct para{};
  EXPECT_EQ(r.GetProjectionInfo(&para), 3);
  EXPECT_EQ(+para.scale, 0.5);
  EXPECT_EQ(+para.centralMeridian, 1170000.0);
  EXPECT_EQ(+para.ellipsoid, 7);

  int slots = -1;
  switch (kind) {
    case KindPoint: {
      EXPECT_EQ(r.GetPointCount(&slots), 3);
      EXPECT_EQ(slots, 3);
      for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(testing::Message() << "point " << i);
        const PointSample& s = kPoints[i];
        MAPGIS_PntInfo info{};
        GeomPtr g(CreateGeometry());
        ASSERT_EQ(r.ReadPointInfo(i, &info, g.get()), St::Success);
        EXPECT_EQ(+info.x, s.x);
        EXPECT_EQ(+info.y, s.y);
        EXPECT_EQ(+info.pointType, s.storedType);
        EXPECT_EQ(+info.color, 10 + i);
        EXPECT_EQ(+info.layer, i);
        EXPECT_GE(+info.textOffset, 2);
        char note[260];
        std::memset(note, 'x', sizeof note);
        ASSERT_EQ(r.GetNoteInfo(i, note), St::Success);
        EXPECT_EQ(std::string(note), s.utf8Text ? Utf8ToGbk(s.utf8Text) : std::string());
        if (s.utf8Text) { EXPECT_EQ(GbkToUtf8(note), s.utf8Text); }
      }
      double ext[4];
      r.GetExtentInfo(&ext[0], &ext[1], &ext[2], &ext[3]);
      EXPECT_EQ(ext[0], 101.5);
      EXPECT_EQ(ext[1], 201.25);
      EXPECT_EQ(ext[2], 103.75);
      EXPECT_EQ(ext[3], 203.5);
      break;
    }
    case KindLine: {
      EXPECT_EQ(r.GetArcCount(&slots), 3);
      EXPECT_EQ(slots, 3);
      for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(testing::Message() << "line " << i);
        MAPGIS_LineInfo info{};
        GeomPtr g(CreateGeometry());
        ASSERT_EQ(r.ReadArcInfo(i, &info, g.get()), St::Success);
        EXPECT_EQ(+info.lineType, 3 + i);
        EXPECT_EQ(+info.color, 20 + i);
        EXPECT_EQ(+info.width, 0.25f * (i + 1));
        EXPECT_EQ(+info.pointCount, static_cast<int>(kLines[i][0].size()));
        EXPECT_EQ(VerticesOf(*g), kLines[i][0]);
      }
      break;
    }
    case KindRegion: {
      const auto regions = RegionSamples();
      EXPECT_EQ(r.GetPolygonCount(&slots), 3);
      EXPECT_EQ(slots, 3);
      int arcs = 0;
      EXPECT_EQ(r.GetArcCount(&arcs), 6);  // one arc per ring
      EXPECT_EQ(arcs, 6);
      for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(testing::Message() << "region " << i);
        const std::vector<Ring>& rings = regions[static_cast<std::size_t>(i)];
        MAPGIS_RegInfo info{};
        GeomPtr g(CreateGeometry());
        ASSERT_EQ(r.ReadPolygonInfo(i, &info, g.get()), St::Success) << r.GetLastErrorText();
        EXPECT_EQ(+info.fillColor, 30 + i);
        EXPECT_EQ(+info.patternNo, i);
        ASSERT_EQ(g->partCount, static_cast<int>(rings.size()));
        int start = 0;
        for (std::size_t k = 0; k < rings.size(); ++k) {
          EXPECT_EQ(g->partStart[k], start);
          EXPECT_EQ(g->partType[k], k == 0 ? 5 : 3);
          start += static_cast<int>(rings[k].size());
        }
        EXPECT_EQ(g->vertexCount, start);
        const std::vector<Vertex> got = VerticesOf(*g);
        EXPECT_EQ(got, Concat(rings));
        for (const Vertex& v : got) EXPECT_FALSE(v.first == 0.0 && v.second == 0.0);
      }
      // The arcs carry the fixed arc record.
      MAPGIS_LineInfo arc{};
      ASSERT_EQ(r.ReadArcInfo(0, &arc, nullptr), St::Success);
      EXPECT_EQ(+arc.flag, 1);
      EXPECT_EQ(+arc.lineType, 1);
      EXPECT_EQ(+arc.transparent, 1);
      EXPECT_EQ(+arc.color, 1);
      EXPECT_EQ(+arc.width, 0.1f);
      EXPECT_EQ(+arc.xScale, 1.0f);
      EXPECT_EQ(+arc.yScale, 1.0f);
      EXPECT_EQ(+arc.auxColor, 1);
      break;
    }
    default:
      EXPECT_EQ(r.GetPointCount(nullptr), -1);
      EXPECT_EQ(r.GetArcCount(nullptr), -1);
      break;
  }

  ASSERT_EQ(r.GetFieldCount(), FieldTotal);
  EXPECT_EQ(r.GetRecordCount(), 3);
  for (int f = 0; f < FieldTotal; ++f) {
    SCOPED_TRACE(kFields[f].utf8Name);
    char name[32] = {};
    int size = -1, width = -1, decimals = -1;
    EXPECT_EQ(r.GetFieldInfo(f, name, &size, &width, &decimals), kFields[f].type);
    EXPECT_EQ(GbkToUtf8(name), kFields[f].utf8Name);
    EXPECT_EQ(size, kFields[f].size);
    EXPECT_EQ(width, kFields[f].width);
    EXPECT_EQ(decimals, kFields[f].decimals);
  }
  EXPECT_EQ(r.GetFieldIndex(Utf8ToGbk("备注").c_str()), FText);
  for (int i = 0; i < 3; ++i) ExpectRow(r, i);
}

INSTANTIATE_TEST_SUITE_P(KindsAndWriters, LayerWriterRoundTrip,
                         testing::Combine(testing::ValuesIn(kKinds), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<int, bool>>& info) {
                           return KindName(std::get<0>(info.param)) + (std::get<1>(info.param) ? "_Writer" : "_FastWriter");
                         });

// The Unicode readers read the writer's layers as the fast reader does: the same records,
// geometry, texts and attribute values.
TEST(LayerWriterRoundTrip, AllThreeReadersReadTheSameLayer) {
  KvxTest::TempDir dir;
  for (int kind : kKinds) {
    SCOPED_TRACE(KindName(kind));
    const fs::path path = dir.path() / ("三读" + KindName(kind) + ".dat");
    {
      AnyWriter aw(true);
      WriteSample(aw, path, kind);
      aw.w().Close();
    }
    MapGis_FastReader fast;
    MapGis_Reader reader;
    MapGis_MemReader mem;
    ASSERT_EQ(fast.Open(path.c_str()), St::Success);
    ASSERT_EQ(reader.Open(path), St::Success) << reader.GetLastErrorText();
    ASSERT_EQ(mem.Open(path), St::Success) << mem.GetLastErrorText();
    MapGis_LayerCore* others[] = {&reader, &mem};
    const MAPGIS_Element& el = fast.GetElement();

    auto sameGeometry = [](const Geometry& a, const Geometry& b) {
      EXPECT_EQ(a.shapeType, b.shapeType);
      ASSERT_EQ(a.vertexCount, b.vertexCount);
      ASSERT_EQ(a.partCount, b.partCount);
      for (int k = 0; k < a.partCount; ++k) EXPECT_EQ(a.partStart[k], b.partStart[k]);
      for (int k = 0; k < a.vertexCount; ++k) {
        EXPECT_EQ(a.x[k], b.x[k]);
        EXPECT_EQ(a.y[k], b.y[k]);
      }
    };
    for (int i = 0; i < el.slotCount - 1 && kind == KindPoint; ++i) {
      MAPGIS_PntInfo want{}, got{};
      GeomPtr gw(CreateGeometry()), gr(CreateGeometry()), gm(CreateGeometry());
      ASSERT_EQ(fast.ReadPointInfo(i, &want, gw.get()), St::Success);
      ASSERT_EQ(reader.ReadPointInfo(i, &got, gr.get()), St::Success);
      EXPECT_EQ(std::memcmp(&want, &got, sizeof want), 0);
      ASSERT_EQ(mem.ReadPointInfo(i, &got, gm.get()), St::Success);
      EXPECT_EQ(std::memcmp(&want, &got, sizeof want), 0);
      sameGeometry(*gw, *gr);
      sameGeometry(*gw, *gm);
      char a[260], b[260];
      ASSERT_EQ(fast.GetNoteInfo(i, a), St::Success);
      for (MapGis_LayerCore* o : others) {
        ASSERT_EQ(o->GetNoteInfo(i, b), St::Success);
        EXPECT_STREQ(a, b);
      }
    }
    for (int i = 0; i < el.slotCount - 1 && (kind == KindLine || kind == KindRegion); ++i) {
      MAPGIS_LineInfo want{}, got{};
      GeomPtr gw(CreateGeometry());
      ASSERT_EQ(fast.ReadArcInfo(i, &want, gw.get()), St::Success);
      for (MapGis_LayerCore* o : others) {
        GeomPtr g(CreateGeometry());
        ASSERT_EQ(o->ReadArcInfo(i, &got, g.get()), St::Success);
        EXPECT_EQ(std::memcmp(&want, &got, sizeof want), 0);
        sameGeometry(*gw, *g);
      }
    }
    for (int i = 0; i < el.regionSlotCount - 1 && kind == KindRegion; ++i) {
      MAPGIS_RegInfo want{}, got{};
      GeomPtr gw(CreateGeometry());
      ASSERT_EQ(fast.ReadPolygonInfo(i, &want, gw.get()), St::Success);
      for (MapGis_LayerCore* o : others) {
        GeomPtr g(CreateGeometry());
        ASSERT_EQ(o->ReadPolygonInfo(i, &got, g.get()), St::Success);
        EXPECT_EQ(std::memcmp(&want, &got, sizeof want), 0);
        sameGeometry(*gw, *g);
      }
    }
    for (MapGis_LayerCore* o : others) {
      ASSERT_EQ(o->GetFieldCount(), FieldTotal);
      ASSERT_EQ(o->GetRecordCount(), 3);
      for (int i = 0; i < 3; ++i) ExpectRow(*o, i);
    }
    std::string name;
    EXPECT_EQ(reader.GetFieldInfo(FText, &name, nullptr, nullptr, nullptr), kFields[FText].type);
    EXPECT_EQ(name, kFields[FText].utf8Name);
    EXPECT_EQ(mem.GetFieldIndex(kFields[FText].utf8Name), FText);
  }
}

// ---------------------------------------------------------------------------------------------
// Container layout

struct LayoutCase {
  int kind;
  std::vector<int> entries;  // the directory entries in use
  int attrEntry;             // the area that holds the fields
};

const LayoutCase kLayouts[] = {
    {KindPoint, {0, 1, 2, 3, 4}, 2},
    {KindLine, {0, 1, 2, 3, 4, 5, 6, 7}, 2},
    {KindRegion, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 9},
    {KindTable, {0, 1}, 0},
};

struct Section {
  std::int32_t offset;
  std::int32_t length;
};

// Checks an attribute area: head, definitions of `fields`, `records` records with byte 0 = 1.
void ExpectArea(const Bytes& file, Section s, const std::vector<FieldDef>& fields, std::int32_t records) {
  const std::size_t a = static_cast<std::size_t>(s.offset);
  const std::uint8_t signature[6] = {0x60, 0x44, 0xDC, 0x07, 0x05, 0x16};
  EXPECT_EQ(std::memcmp(file.data() + a, signature, 6), 0);
  for (std::size_t b = 16; b < 40; ++b) EXPECT_EQ(file[a + b], 0) << "reserved head byte " << b;
  const auto n = static_cast<std::int32_t>(fields.size());
  EXPECT_EQ(Get<std::int32_t>(file, a + 12), 348 + 39 * n);
  EXPECT_EQ(Get<std::uint16_t>(file, a + 320), 17504);
  EXPECT_EQ(Get<std::int16_t>(file, a + 322), n);
  EXPECT_EQ(Get<std::int32_t>(file, a + 324), records);
  std::int32_t length = 1;
  for (std::int32_t f = 0; f < n; ++f) {
    const std::size_t d = a + 348 + 39 * static_cast<std::size_t>(f);
    EXPECT_EQ(Get<std::int8_t>(file, d + 20), fields[static_cast<std::size_t>(f)].type);
    EXPECT_EQ(Get<std::int32_t>(file, d + 21), length) << "field " << f << " follows the previous one";
    EXPECT_EQ(Get<std::int16_t>(file, d + 25), fields[static_cast<std::size_t>(f)].size);
    EXPECT_EQ(file[d + 30], 1);
    EXPECT_EQ(Get<std::uint16_t>(file, d + 31), 0);
    EXPECT_EQ(Get<std::uint16_t>(file, d + 33), f);
    EXPECT_EQ(Get<std::uint32_t>(file, d + 35), 0u);
    length += fields[static_cast<std::size_t>(f)].size;
  }
  EXPECT_EQ(Get<std::int32_t>(file, a + 328), length);
  EXPECT_EQ(s.length, 348 + 39 * n + records * length);
  for (std::int32_t k = 0; k < records; ++k)
    EXPECT_EQ(file[a + 348 + 39 * static_cast<std::size_t>(n) + static_cast<std::size_t>(k * length)], 1)
        << "byte 0 of record " << k;
}

TEST(LayerWriterLayout, MatchesTheContainerFormat) {
  KvxTest::TempDir dir;
  const std::vector<FieldDef> sampleFields(std::begin(kFields), std::end(kFields));
  for (const LayoutCase& c : kLayouts) {
    SCOPED_TRACE(KindName(c.kind));
    const fs::path path = dir / ("layout" + std::to_string(c.kind));
    AnyWriter aw(true);
    WriteSample(aw, path, c.kind);
    const Bytes file = KvxTest::ReadAll(path);
    ASSERT_GT(file.size(), 817u);

    // Head.
    EXPECT_EQ(std::memcmp(file.data(), LayerMagic(c.kind), 8), 0);
    EXPECT_EQ(Get<std::uint16_t>(file, 8), c.kind);
    EXPECT_EQ(Get<std::int16_t>(file, 10), 0);
    EXPECT_EQ(Get<std::int32_t>(file, 12), 657);
    EXPECT_EQ(Get<std::int32_t>(file, 16), 16);
    const MAP_PARAstruct para = SampleProjection();
    EXPECT_EQ(std::memcmp(file.data() + 91, &para, sizeof para), 0);
    EXPECT_EQ(Get<std::int16_t>(file, 592), 0);
    EXPECT_EQ(Get<std::int32_t>(file, 596), 0);

    // Directory: used entries one after the other from 817, unused entries 0/0, tags -1.
    Section s[16];
    std::int64_t at = 817;
    for (int e = 0; e < 16; ++e) {
      const std::size_t d = 657 + 10 * static_cast<std::size_t>(e);
      s[e] = {Get<std::int32_t>(file, d), Get<std::int32_t>(file, d + 4)};
      EXPECT_EQ(Get<std::int16_t>(file, d + 8), -1) << "tag of entry " << e;
      const bool used = std::find(c.entries.begin(), c.entries.end(), e) != c.entries.end();
      if (used) {
        EXPECT_EQ(s[e].offset, at) << "entry " << e;
        EXPECT_GT(s[e].length, 0) << "entry " << e;
        at += s[e].length;
      } else {
        EXPECT_EQ(s[e].offset, 0) << "entry " << e;
        EXPECT_EQ(s[e].length, 0) << "entry " << e;
      }
    }
    EXPECT_EQ(static_cast<std::int64_t>(file.size()), at);

    // Counts.
    const auto counts = Get<MAPGIS_Element>(file, 260);
    const std::int32_t slots = counts.slotCount;
    switch (c.kind) {
      case KindPoint:
        EXPECT_EQ(+counts.liveCount, 3);
        EXPECT_EQ(slots, 4);
        break;
      case KindLine:
      case KindRegion:
        EXPECT_EQ(+counts.liveCount, c.kind == KindLine ? 3 : 6);
        EXPECT_EQ(slots, counts.liveCount + 1);
        EXPECT_EQ(+counts.liveNodeCount, 0);
        EXPECT_EQ(+counts.nodeSlotCount, 1);
        EXPECT_EQ(+counts.liveRegionCount, c.kind == KindRegion ? 3 : 0);
        EXPECT_EQ(+counts.regionSlotCount, c.kind == KindRegion ? 4 : 0);
        EXPECT_EQ(+counts.reserved7, slots);
        EXPECT_EQ(+counts.reserved9, 1);
        break;
      default:
        EXPECT_EQ(+counts.liveCount, 0);
        EXPECT_EQ(slots, 0);
        break;
    }

    // Record and auxiliary sections, sized by their slots.
    const std::array<std::uint8_t, 4> slotValue = {0x00, 0x00, 0x01, 0x00};
    auto expectExtentCopies = [&](Section sec, std::int32_t count) {
      ASSERT_EQ(sec.length, 32 * count);
      for (std::int32_t k = 0; k < count; ++k)
        EXPECT_EQ(std::memcmp(file.data() + sec.offset + 32 * k, file.data() + 304, 32), 0) << "extent copy " << k;
    };
    auto expectSlotValues = [&](Section sec, std::int32_t count) {
      ASSERT_EQ(sec.length, 4 * count);
      for (std::int32_t k = 0; k < count; ++k)
        EXPECT_EQ(std::memcmp(file.data() + sec.offset + 4 * k, slotValue.data(), 4), 0) << "value " << k;
    };
    if (c.kind == KindPoint) {
      EXPECT_EQ(s[0].length, 93 * slots);
      expectExtentCopies(s[3], slots);
      expectSlotValues(s[4], slots);
    }
    if (c.kind == KindLine || c.kind == KindRegion) {
      EXPECT_EQ(s[0].length, 57 * slots);
      EXPECT_EQ(s[3].length, 24 * slots) << "topology: one record per line slot, slot 0 included";
      EXPECT_EQ(s[4].length, 55);
      ExpectArea(file, s[5], {}, 1);
      expectExtentCopies(s[6], slots);
      expectSlotValues(s[7], slots);
    }
    if (c.kind == KindRegion) {
      EXPECT_EQ(s[8].length, 40 * counts.regionSlotCount);
      ExpectArea(file, s[2], {}, slots);  // the arcs' area: no fields, one record per slot
      expectExtentCopies(s[10], counts.regionSlotCount);
      expectSlotValues(s[11], counts.regionSlotCount);
    }
    ExpectArea(file, s[c.attrEntry], sampleFields, 4);

    // The data area begins with 2 reserved bytes; no stored offset points into them.
    EXPECT_EQ(file[static_cast<std::size_t>(s[1].offset)], 0);
    EXPECT_EQ(file[static_cast<std::size_t>(s[1].offset) + 1], 0);
    if (c.kind == KindTable) { EXPECT_EQ(s[1].length, 2); }
    for (std::int32_t k = 1; c.kind == KindPoint && k < slots; ++k)
      EXPECT_GE(+Get<MAPGIS_PntInfo>(file, static_cast<std::size_t>(s[0].offset + 93 * k)).textOffset, 2);
    for (std::int32_t k = 1; (c.kind == KindLine || c.kind == KindRegion) && k < slots; ++k)
      EXPECT_GE(+Get<MAPGIS_LineInfo>(file, static_cast<std::size_t>(s[0].offset + 57 * k)).dataOffset, 2);

    // The reader reads a topology record for every line slot.
    if (c.kind == KindLine || c.kind == KindRegion) {
      MapGis_FastReader r;
      ASSERT_EQ(r.Open(path.c_str()), St::Success);
      MAPGIS_Topology topo{};
      EXPECT_EQ(r.GetTopoInfo(slots - 1, &topo), St::Success) << r.GetLastErrorText();
    }
  }
}

TEST(LayerWriterLayout, EmptyLayersKeepTheirPlaceholdersAndSentinelExtent) {
  KvxTest::TempDir dir;
  for (int kind : kKinds) {
    SCOPED_TRACE(KindName(kind));
    const fs::path path = dir / ("empty" + std::to_string(kind));
    MapGis_Writer w;
    ASSERT_EQ(w.Create(path, kind), St::Success);
    ASSERT_EQ(w.Flush(), St::Success);
    const Bytes file = KvxTest::ReadAll(path);
    ASSERT_GE(file.size(), 817u);
    // New projection record: zeros with three 1.0 values.
    const auto para = Get<MAP_PARAstruct>(file, 91);
    EXPECT_EQ(+para.factor141, 1.0);
    EXPECT_EQ(+para.factor153, 1.0);
    EXPECT_EQ(+para.factor161, 1.0);
    EXPECT_EQ(+para.scale, 0.0);
    EXPECT_EQ(Get<double>(file, 304), kBoundMin);
    EXPECT_EQ(Get<double>(file, 328), kBoundMax);

    MapGis_FastReader r;
    ASSERT_EQ(r.Open(path.c_str()), St::Success);
    int slots = -1;
    if (kind == KindPoint) { EXPECT_EQ(r.GetPointCount(&slots), 0); }
    if (kind == KindLine || kind == KindRegion) { EXPECT_EQ(r.GetArcCount(&slots), 0); }
    if (kind != KindTable) { EXPECT_EQ(slots, 0); }
    EXPECT_EQ(r.GetFieldCount(), 0);
    EXPECT_EQ(r.GetRecordCount(), 0);
  }
}

// ---------------------------------------------------------------------------------------------
// Region arc lists as stored

struct ArcListCase {
  const char* name;
  std::vector<int> ringSizes;
  std::vector<int> partTypes;
  std::vector<std::int32_t> entries;  // arc numbers, counted from the first arc of this region
  int ringsBack;
};

const ArcListCase kArcLists[] = {
    {"one ring", {5}, {5}, {1}, 1},
    {"ring with a hole", {5, 4}, {5, 3}, {1, 0, 2}, 2},
    {"ring with two holes", {7, 4, 5}, {5, 3, 3}, {1, 0, 2, 0, 3}, 3},
    {"a part of type 2 is left out", {5, 3, 4}, {5, 2, 3}, {1, 0, 2}, 2},
};

TEST(LayerWriterRegion, VertexTotalAndArcListLengthAsStored) {
  KvxTest::TempDir dir;
  for (const ArcListCase& c : kArcLists) {
    SCOPED_TRACE(c.name);
    std::vector<Ring> rings;
    for (std::size_t k = 0; k < c.ringSizes.size(); ++k)
      rings.push_back(RingAround(300 + 40 * k, 300, 10 + k, c.ringSizes[k]));

    const fs::path path = dir / "arcs.wp";
    MapGis_FastWriter w;
    ASSERT_EQ(w.Create(path.c_str(), KindRegion), St::Success);
    // A region in front, so that the second region's arc list does not start the area.
    GeomPtr first = MakeGeometry(5, {RingAround(50, 50, 5, 4)});
    MAPGIS_RegInfo reg{};
    reg.flag = 1;
    ASSERT_EQ(w.AddPolygonInfo(reg, first.get()), St::Success);
    GeomPtr g = MakeGeometry(5, rings, c.partTypes);
    ASSERT_EQ(w.AddPolygonInfo(reg, g.get()), St::Success);
    ASSERT_EQ(w.Flush(), St::Success);

    const Bytes file = KvxTest::ReadAll(path);
    const auto data = static_cast<std::size_t>(Get<std::int32_t>(file, 657 + 10));
    const auto regions = static_cast<std::size_t>(Get<std::int32_t>(file, 657 + 80));
    const auto r1 = Get<MAPGIS_RegInfo>(file, regions + 40);
    const auto r2 = Get<MAPGIS_RegInfo>(file, regions + 80);
    EXPECT_EQ(+r1.arcListLength, 2);
    EXPECT_EQ(+r2.arcListOffset, r1.arcListOffset + 4 * r1.arcListLength) << "arc lists follow each other";
    EXPECT_EQ(Get<std::int32_t>(file, data + static_cast<std::size_t>(r1.arcListOffset)), 4 + 1);

    // The second region: its own words, vertex total = stored arc vertices + ring count.
    ASSERT_EQ(+r2.arcListLength, static_cast<std::int32_t>(c.entries.size()) + 1);
    std::int32_t stored = 0;
    for (std::size_t k = 0; k < c.ringSizes.size(); ++k)
      if (c.partTypes[k] != 2 || k == 0) stored += c.ringSizes[k];
    const std::size_t list = data + static_cast<std::size_t>(r2.arcListOffset);
    EXPECT_EQ(Get<std::int32_t>(file, list), stored + c.ringsBack);
    for (std::size_t k = 0; k < c.entries.size(); ++k) {
      const std::int32_t expected = c.entries[k] == 0 ? 0 : c.entries[k] + 1;  // arc 1 is the first region's
      EXPECT_EQ(Get<std::int32_t>(file, list + 4 + 4 * k), expected) << "entry " << k;
    }

    MapGis_FastReader r;
    ASSERT_EQ(r.Open(path.c_str()), St::Success);
    GeomPtr back(CreateGeometry());
    ASSERT_EQ(r.ReadPolygonInfo(1, nullptr, back.get()), St::Success) << r.GetLastErrorText();
    EXPECT_EQ(back->partCount, c.ringsBack);
    EXPECT_EQ(back->vertexCount, stored);
    for (const Vertex& v : VerticesOf(*back)) EXPECT_FALSE(v.first == 0.0 && v.second == 0.0);
  }
}

TEST(LayerWriterRegion, GeometryWithoutPartsIsOneRing) {
  KvxTest::TempDir dir;
  const fs::path path = dir / "partless.wp";
  GeomPtr g = MakeGeometry(5, {RingAround(70, 80, 4, 6)});
  g->partCount = 0;
  MapGis_Writer w;
  ASSERT_EQ(w.Create(path, KindRegion), St::Success);
  MAPGIS_RegInfo reg{};
  reg.flag = 1;
  ASSERT_EQ(w.AddPolygonInfo(reg, g.get()), St::Success);
  ASSERT_EQ(w.Flush(), St::Success);
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(path.c_str()), St::Success);
  GeomPtr back(CreateGeometry());
  ASSERT_EQ(r.ReadPolygonInfo(0, nullptr, back.get()), St::Success);
  EXPECT_EQ(back->partCount, 1);
  EXPECT_EQ(VerticesOf(*back), RingAround(70, 80, 4, 6));
}

TEST(LayerWriterRecords, DeletedRecordsKeepTheirSlot) {
  KvxTest::TempDir dir;
  const fs::path path = dir / "deleted.wl";
  MapGis_Writer w;
  ASSERT_EQ(w.Create(path, KindLine), St::Success);
  for (int i = 0; i < 3; ++i) {
    MAPGIS_LineInfo info{};
    info.flag = i == 1 ? 0 : 1;
    GeomPtr g = MakeGeometry(3, kLines[i]);
    ASSERT_EQ(w.AddArcInfo(info, g.get(), 0), St::Success);
  }
  ASSERT_EQ(w.Flush(), St::Success);
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(path.c_str()), St::Success);
  int slots = -1;
  EXPECT_EQ(r.GetArcCount(&slots), 2) << "the live count counts live records only";
  EXPECT_EQ(slots, 3);
  EXPECT_EQ(r.ReadArcInfo(1, nullptr, nullptr), St::Deleted);
  GeomPtr g(CreateGeometry());
  ASSERT_EQ(r.ReadArcInfo(2, nullptr, g.get()), St::Success);
  EXPECT_EQ(VerticesOf(*g), kLines[2][0]);
}

// ---------------------------------------------------------------------------------------------
// Flushing more than once

// Adds feature `i` of the sample layer of `kind` with its attribute row.
void AddSampleFeature(MapGis_LayerWriter& w, int kind, int i) {
  switch (kind) {
    case KindPoint: {
      MAPGIS_PntInfo info{};
      info.flag = 1;
      info.x = kPoints[i].x;
      info.y = kPoints[i].y;
      const std::string text = kPoints[i].utf8Text ? Utf8ToGbk(kPoints[i].utf8Text) : std::string();
      ASSERT_EQ(w.AddPointInfo(info, nullptr, text.c_str()), St::Success);
      break;
    }
    case KindLine: {
      MAPGIS_LineInfo info{};
      info.flag = 1;
      GeomPtr g = MakeGeometry(3, kLines[i]);
      ASSERT_EQ(w.AddArcInfo(info, g.get(), 0), St::Success);
      break;
    }
    case KindRegion: {
      MAPGIS_RegInfo info{};
      info.flag = 1;
      GeomPtr g = MakeGeometry(5, RegionSamples()[static_cast<std::size_t>(i)]);
      ASSERT_EQ(w.AddPolygonInfo(info, g.get()), St::Success);
      break;
    }
    default:
      break;
  }
  WriteRow(w, i);
}

TEST(LayerWriterFlush, RepeatedFlushWritesTheSameBytes) {
  KvxTest::TempDir dir;
  for (int kind : kKinds) {
    SCOPED_TRACE(KindName(kind));
    auto build = [&](const std::string& name, const std::vector<int>& flushAfter) {
      const fs::path path = dir / name;
      AnyWriter aw(false);
      EXPECT_EQ(aw.Create(path, kind), St::Success);
      AddSampleFields(aw);
      for (int i = 0; i < 3; ++i) {
        AddSampleFeature(aw.w(), kind, i);
        for (int f : flushAfter)
          if (f == i) { EXPECT_EQ(aw.w().Flush(), St::Success); }
      }
      return path;
    };
    const fs::path once = build("once", {2});
    const fs::path twice = build("twice", {2, 2});
    const fs::path between = build("between", {0, 1, 2});
    const Bytes reference = KvxTest::ReadAll(once);
    EXPECT_EQ(KvxTest::ReadAll(twice), reference);
    EXPECT_EQ(KvxTest::ReadAll(between), reference) << "flushed after each feature";

    MapGis_FastReader r;
    ASSERT_EQ(r.Open(between.c_str()), St::Success);
    for (int i = 0; i < 3; ++i) ExpectRow(r, i);
    if (kind == KindRegion) {
      GeomPtr g(CreateGeometry());
      ASSERT_EQ(r.ReadPolygonInfo(2, nullptr, g.get()), St::Success) << r.GetLastErrorText();
      EXPECT_EQ(VerticesOf(*g), Concat(RegionSamples()[2]));
    }
  }
}

TEST(LayerWriterFlush, CreateReplacesAnEarlierLayerAndFile) {
  KvxTest::TempDir dir;
  const fs::path path = dir / "reused.wl";
  MapGis_Writer w;
  ASSERT_EQ(w.Create(path, KindLine), St::Success);
  EXPECT_EQ(w.AddFieldInfo("A", FieldLong, 4, 11, 0), 1);
  for (int i = 0; i < 3; ++i) {
    GeomPtr g = MakeGeometry(3, kLines[i]);
    MAPGIS_LineInfo info{};
    info.flag = 1;
    ASSERT_EQ(w.AddArcInfo(info, g.get(), 0), St::Success);
  }
  ASSERT_EQ(w.Flush(), St::Success);
  const auto longer = fs::file_size(path);

  // A second Create on the same object and path: a fresh, smaller layer, nothing left behind.
  ASSERT_EQ(w.Create(path, KindLine), St::Success);
  EXPECT_EQ(w.GetFieldCount(), 0);
  GeomPtr g = MakeGeometry(3, kLines[0]);
  MAPGIS_LineInfo info{};
  info.flag = 1;
  ASSERT_EQ(w.AddArcInfo(info, g.get(), 0), St::Success);
  ASSERT_EQ(w.Flush(), St::Success);
  w.Close();
  EXPECT_LT(fs::file_size(path), longer);
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(path.c_str()), St::Success);
  int slots = 0;
  EXPECT_EQ(r.GetArcCount(&slots), 1);
  EXPECT_EQ(r.GetFieldCount(), 0);
}

// ---------------------------------------------------------------------------------------------
// Status values

TEST(LayerWriterStatus, CreateRefusesKindsAndPaths) {
  KvxTest::TempDir dir;
  struct {
    int kind;
    std::int32_t expected;
  } const kinds[] = {{4, St::UnknownKind}, {3, St::UnknownKind}, {8, St::UnknownKind}, {-1, St::UnknownKind}};
  for (bool wide : {true, false}) {
    SCOPED_TRACE(wide ? "MapGis_Writer" : "MapGis_FastWriter");
    for (const auto& c : kinds) {
      SCOPED_TRACE(testing::Message() << "kind " << c.kind);
      const fs::path path = dir / ("kind" + std::to_string(c.kind));
      AnyWriter aw(wide);
      EXPECT_EQ(aw.Create(path, c.kind), c.expected);
      EXPECT_FALSE(aw.w().IsOpen());
      EXPECT_FALSE(fs::exists(path)) << "no file for a refused kind";
      EXPECT_EQ(aw.w().Flush(), St::ReadFailed);
    }
    AnyWriter aw(wide);
    EXPECT_EQ(aw.Create(dir / "no such folder" / "layer.wl", KindLine), St::CannotOpen);
    EXPECT_FALSE(aw.w().IsOpen());
  }
  MapGis_FastWriter fast;
  EXPECT_EQ(fast.Create(nullptr, KindLine), St::CannotOpen);
  EXPECT_EQ(fast.Create("", KindLine), St::CannotOpen);
}

TEST(LayerWriterStatus, OperationsOutsideTheirLayerKind) {
  KvxTest::TempDir dir;
  GeomPtr line = MakeGeometry(3, kLines[1]);
  GeomPtr region = MakeGeometry(5, {RingAround(5, 5, 1, 4)});
  MAPGIS_PntInfo pnt{};
  pnt.flag = 1;
  MAPGIS_LineInfo lin{};
  lin.flag = 1;
  MAPGIS_RegInfo reg{};
  reg.flag = 1;

  struct Case {
    int kind;  // -1: no layer created
    std::int32_t point, arc, polyArc, polygon;
  } const cases[] = {
      {-1, St::ReadFailed, St::ReadFailed, St::ReadFailed, St::ReadFailed},
      {KindPoint, St::Success, St::ReadFailed, St::ReadFailed, St::ReadFailed},
      {KindLine, St::ReadFailed, St::Success, St::Success, St::ReadFailed},
      {KindRegion, St::ReadFailed, St::Success, St::Success, St::Success},
      {KindTable, St::ReadFailed, St::ReadFailed, St::ReadFailed, St::ReadFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind);
    MapGis_Writer w;
    if (c.kind >= 0) { ASSERT_EQ(w.Create(dir / "ops", c.kind), St::Success); }
    EXPECT_EQ(w.AddPointInfo(pnt, nullptr, "t"), c.point);
    EXPECT_EQ(w.AddArcInfo(lin, line.get(), 0), c.arc);
    EXPECT_EQ(w.AddPolyArcInfo(lin, line.get(), 0), c.polyArc);
    EXPECT_EQ(w.AddPolygonInfo(reg, region.get()), c.polygon);
    if (c.kind < 0) {
      EXPECT_EQ(w.AddFieldInfo("A", FieldLong, 4, 11, 0), St::ReadFailed);
      EXPECT_FALSE(w.WriteLongAttribute(0, 0, 1));
      EXPECT_EQ(w.Flush(), St::ReadFailed);
    }
  }
}

TEST(LayerWriterStatus, MultiPartLinesAndPartsOutsideTheGeometry) {
  const std::vector<Ring> parts = {{{1.5, 2.5}, {3.5, 4.5}}, {{5.5, 6.5}, {7.5, 8.5}, {9.5, 10.5}}};
  struct Case {
    const char* name;
    bool polyArc;
    std::int32_t part;
    std::int32_t expected;
    int partBack;  // the part that reads back, -1 when nothing was added
  } const cases[] = {
      {"first part of two", false, 0, St::MultiPartLine, 0},
      {"second part of two", false, 1, St::MultiPartLine, 1},
      {"second part as a region arc", true, 1, St::Success, 1},
      {"part 2 of two", false, 2, St::ReadFailed, -1},
      {"part -1", false, -1, St::ReadFailed, -1},
      {"part 5 as a region arc", true, 5, St::ReadFailed, -1},
  };
  KvxTest::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir / "multi.wl";
    MapGis_FastWriter w;
    ASSERT_EQ(w.Create(path.c_str(), KindLine), St::Success);
    GeomPtr g = MakeGeometry(3, parts, {5, 5});
    MAPGIS_LineInfo info{};
    info.flag = 1;
    EXPECT_EQ(c.polyArc ? w.AddPolyArcInfo(info, g.get(), c.part) : w.AddArcInfo(info, g.get(), c.part), c.expected);
    ASSERT_EQ(w.Flush(), St::Success);
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(path.c_str()), St::Success);
    int slots = -1;
    r.GetArcCount(&slots);
    if (c.partBack < 0) {
      EXPECT_EQ(slots, 0);
      continue;
    }
    ASSERT_EQ(slots, 1);
    GeomPtr back(CreateGeometry());
    ASSERT_EQ(r.ReadArcInfo(0, nullptr, back.get()), St::Success);
    EXPECT_EQ(VerticesOf(*back), parts[static_cast<std::size_t>(c.partBack)]);
  }
}

TEST(LayerWriterStatus, InconsistentGeometriesAreRefused) {
  struct Case {
    const char* name;
    void (*damage)(Geometry*);
  } const cases[] = {
      {"null geometry", nullptr},
      {"part start beyond the vertices", [](Geometry* g) { g->partStart[1] = 99; }},
      {"negative part start", [](Geometry* g) { g->partStart[0] = -1; }},
      {"parts out of order", [](Geometry* g) {
         g->partStart[0] = 2;
         g->partStart[1] = 0;
       }},
      {"negative vertex count", [](Geometry* g) { g->vertexCount = -1; }},
      {"no part starts", [](Geometry* g) {
         std::free(g->partStart);
         g->partStart = nullptr;
       }},
      {"no y coordinates", [](Geometry* g) {
         std::free(g->y);
         g->y = nullptr;
       }},
  };
  KvxTest::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GeomPtr g = MakeGeometry(5, {RingAround(10, 10, 2, 5), RingAround(10, 10, 1, 4)});
    if (c.damage) c.damage(g.get());
    const Geometry* arg = c.damage ? g.get() : nullptr;
    MapGis_Writer w;
    ASSERT_EQ(w.Create(dir / "bad.wp", KindRegion), St::Success);
    MAPGIS_LineInfo lin{};
    lin.flag = 1;
    MAPGIS_RegInfo reg{};
    reg.flag = 1;
    EXPECT_EQ(w.AddArcInfo(lin, arg, 0), St::ReadFailed);
    EXPECT_EQ(w.AddPolygonInfo(reg, arg), St::ReadFailed);
    ASSERT_EQ(w.Flush(), St::Success);
    MapGis_FastReader r;
    ASSERT_EQ(r.Open((dir / "bad.wp").c_str()), St::Success);
    int slots = -1;
    EXPECT_EQ(r.GetArcCount(&slots), 0) << "nothing is added for a refused geometry";
    EXPECT_EQ(r.GetPolygonCount(&slots), 0);
  }
}

// ---------------------------------------------------------------------------------------------
// Fields and attribute values

TEST(LayerWriterFields, NamesAreStoredAsGbkAndCutBeforeAHalfCharacter) {
  struct Case {
    const char* utf8Name;
    const char* utf8Stored;
  } const cases[] = {
      {"名称", "名称"},
      {"中文字段名称很长的名字", "中文字段名称很长的名"},    // 22 GBK bytes: 10 characters fit
      {"a中文字段名称很长的名", "a中文字段名称很长的"},      // 21 bytes: the 10th character would be split
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "ABCDEFGHIJKLMNOPQRST"},
  };
  KvxTest::TempDir dir;
  for (bool wide : {true, false}) {
    SCOPED_TRACE(wide ? "MapGis_Writer" : "MapGis_FastWriter");
    const fs::path path = dir / "names.wb";
    AnyWriter aw(wide);
    ASSERT_EQ(aw.Create(path, KindTable), St::Success);
    int n = 0;
    for (const Case& c : cases) EXPECT_EQ(aw.AddField(c.utf8Name, FieldLong, 4, 11, 0), ++n);
    ASSERT_EQ(aw.w().Flush(), St::Success);
    MapGis_FastReader r;
    ASSERT_EQ(r.Open(path.c_str()), St::Success);
    ASSERT_EQ(r.GetFieldCount(), n);
    for (int f = 0; f < n; ++f) {
      char name[32] = {};
      EXPECT_EQ(r.GetFieldInfo(f, name, nullptr, nullptr, nullptr), FieldLong);
      EXPECT_EQ(GbkToUtf8(name), cases[f].utf8Stored);
    }
  }
}

TEST(LayerWriterFields, RefusedDefinitions) {
  KvxTest::TempDir dir;
  MapGis_FastWriter w;
  ASSERT_EQ(w.Create((dir / "defs.wb").c_str(), KindTable), St::Success);
  struct {
    int type, size, width, decimals;
  } const bad[] = {{19, 4, 4, 0}, {-1, 4, 4, 0}, {FieldLong, -1, 4, 0}, {FieldString, 40000, 4, 0},
                   {FieldLong, 4, -1, 0}, {FieldDouble, 8, 20, -2}};
  for (const auto& b : bad) {
    SCOPED_TRACE(testing::Message() << "type " << b.type << " size " << b.size << " width " << b.width);
    EXPECT_EQ(w.AddFieldInfo("F", b.type, b.size, b.width, b.decimals), St::BadAttribute);
  }
  EXPECT_EQ(w.GetFieldCount(), 0);
  EXPECT_EQ(w.AddFieldInfo("OK", 18, 3, 3, 0), 1) << "codes up to 18 are valid";
}

TEST(LayerWriterAttributes, RecordIndexes) {
  KvxTest::TempDir dir;
  // A point layer with three points: any of their records may be written first; the table
  // (no features) takes its records one after the other.
  struct Case {
    int kind;
    std::vector<std::pair<int, bool>> writes;  // record, expected result
    int recordsBack;
  } const cases[] = {
      {KindPoint, {{2, true}, {0, true}, {3, true}, {5, false}, {-1, false}}, 4},
      {KindPoint, {}, 3},
      {KindTable, {{1, false}, {0, true}, {1, true}, {1, true}, {3, false}}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << ", " << c.writes.size() << " writes");
    const fs::path path = dir / "records";
    MapGis_Writer w;
    ASSERT_EQ(w.Create(path, c.kind), St::Success);
    ASSERT_EQ(w.AddFieldInfo("V", FieldLong, 4, 11, 0), 1);
    for (int i = 0; c.kind == KindPoint && i < 3; ++i) {
      MAPGIS_PntInfo p{};
      p.flag = 1;
      p.x = p.y = i + 1.0;
      ASSERT_EQ(w.AddPointInfo(p, nullptr, nullptr), St::Success);
    }
    for (const auto& [record, ok] : c.writes) {
      EXPECT_EQ(w.WriteLongAttribute(record, 0, 100 + record), ok) << "record " << record;
    }
    EXPECT_FALSE(w.WriteLongAttribute(0, 1, 5)) << "field 1 does not exist";
    EXPECT_FALSE(w.WriteLongAttribute(0, -1, 5));
    ASSERT_EQ(w.Flush(), St::Success);

    MapGis_FastReader r;
    ASSERT_EQ(r.Open(path.c_str()), St::Success);
    ASSERT_EQ(r.GetRecordCount(), c.recordsBack);
    for (int i = 0; i < c.recordsBack; ++i) {
      bool written = false;
      for (const auto& [record, ok] : c.writes) written = written || (ok && record == i);
      EXPECT_EQ(r.ReadLongAttribute(i, 0), written ? 100 + i : 0) << "record " << i;
    }
  }
}

TEST(LayerWriterAttributes, ValuesNarrowerOrWiderThanTheirField) {
  KvxTest::TempDir dir;
  const fs::path path = dir / "widths.wb";
  MapGis_FastWriter w;
  ASSERT_EQ(w.Create(path.c_str(), KindTable), St::Success);
  enum { Long, Double, Str5, Bin8 };
  EXPECT_EQ(w.AddFieldInfo("LONG", FieldLong, 4, 11, 0), 1);
  EXPECT_EQ(w.AddFieldInfo("DBL", FieldDouble, 8, 20, 4), 2);
  EXPECT_EQ(w.AddFieldInfo("STR5", FieldString, 5, 5, 0), 3);
  EXPECT_EQ(w.AddFieldInfo("BIN8", kBinaryType, 8, 8, 0), 4);

  // Record 0: narrower values; record 1: a byte and a cleared string; record 2: overwritten values.
  EXPECT_TRUE(w.WriteShortAttribute(0, Long, -5));
  EXPECT_TRUE(w.WriteFloatAttribute(0, Double, 2.5f));
  EXPECT_TRUE(w.WriteStringAttribute(0, Str5, "xy"));
  const std::uint8_t three[3] = {0xAA, 0x00, 0xBB};
  EXPECT_TRUE(w.WriteBinareyAttribute(0, Bin8, three, 3));
  EXPECT_TRUE(w.WriteByteAttribute(1, Long, 200));
  EXPECT_TRUE(w.WriteStringAttribute(1, Str5, "abc"));
  EXPECT_TRUE(w.WriteStringAttribute(1, Str5, nullptr));
  EXPECT_TRUE(w.WriteStringAttribute(2, Str5, "longer text"));
  EXPECT_TRUE(w.WriteStringAttribute(2, Str5, "ok"));
  EXPECT_TRUE(w.WriteLongAttribute(2, Long, 7));
  EXPECT_FALSE(w.WriteBinareyAttribute(2, Bin8, nullptr, 4));
  EXPECT_FALSE(w.WriteBinareyAttribute(2, Bin8, three, -1));
  ASSERT_EQ(w.Flush(), St::Success);

  MapGis_FastReader r;
  ASSERT_EQ(r.Open(path.c_str()), St::Success);
  ASSERT_EQ(r.GetRecordCount(), 3);
  EXPECT_EQ(r.ReadLongAttribute(0, Long), -5) << "a short keeps its sign in a long field";
  EXPECT_EQ(r.ReadStringAttribute(0, Str5), std::string("xy"));
  const char* bin = r.ReadAttribute(0, Bin8, kBinaryType);
  ASSERT_NE(bin, nullptr);
  const std::uint8_t expected[8] = {0xAA, 0x00, 0xBB, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(bin, expected, 8), 0);
  EXPECT_EQ(r.ReadLongAttribute(1, Long), 200) << "an unsigned byte is not sign-extended";
  EXPECT_EQ(r.ReadStringAttribute(1, Str5), std::string()) << "a null string clears the field";
  EXPECT_EQ(r.ReadStringAttribute(2, Str5), std::string("ok"));
  EXPECT_EQ(r.ReadLongAttribute(2, Long), 7);
}

TEST(LayerWriterAttributes, GbkTextIsCutBeforeAHalfCharacter) {
  KvxTest::TempDir dir;
  const fs::path path = dir / "cut.wb";
  MapGis_FastWriter w;
  ASSERT_EQ(w.Create(path.c_str(), KindTable), St::Success);
  ASSERT_EQ(w.AddFieldInfo("S", FieldString, 5, 5, 0), 1);
  ASSERT_EQ(w.AddFieldInfo("T", FieldText, 4, 4, 0), 2);
  const std::string value = Utf8ToGbk("ab中文");
  EXPECT_TRUE(w.WriteStringAttribute(0, 0, value.c_str()));
  EXPECT_TRUE(w.WriteTextAttribute(0, 1, value.c_str()));
  ASSERT_EQ(w.Flush(), St::Success);
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(path.c_str()), St::Success);
  EXPECT_EQ(GbkToUtf8(r.ReadStringAttribute(0, 0)), "ab中");
  EXPECT_EQ(GbkToUtf8(r.ReadTextAttribute(0, 1)), "ab中");
}

TEST(LayerWriterAttributes, FieldAddedAfterRecordsKeepsTheirValues) {
  KvxTest::TempDir dir;
  const fs::path path = dir / "late.wb";
  MapGis_Writer w;
  ASSERT_EQ(w.Create(path, KindTable), St::Success);
  ASSERT_EQ(w.AddFieldInfo("A", FieldLong, 4, 11, 0), 1);
  EXPECT_TRUE(w.WriteLongAttribute(0, 0, 11));
  EXPECT_TRUE(w.WriteLongAttribute(1, 0, 22));
  ASSERT_EQ(w.AddFieldInfo("B", FieldDouble, 8, 20, 2), 2);
  EXPECT_TRUE(w.WriteDoubleAttribute(1, 1, 2.5));
  ASSERT_EQ(w.Flush(), St::Success);
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(path.c_str()), St::Success);
  ASSERT_EQ(r.GetRecordCount(), 2);
  EXPECT_EQ(r.ReadLongAttribute(0, 0), 11);
  EXPECT_EQ(r.ReadLongAttribute(1, 0), 22);
  EXPECT_EQ(r.ReadDoubleAttribute(0, 1), 0.0);
  EXPECT_EQ(r.ReadDoubleAttribute(1, 1), 2.5);
}

// ---------------------------------------------------------------------------------------------
// Points and texts

TEST(LayerWriterPoints, TextFieldsAndDataPositions) {
  KvxTest::TempDir dir;
  const fs::path path = dir / "texts.wt";
  MapGis_FastWriter w;
  ASSERT_EQ(w.Create(path.c_str(), KindPoint), St::Success);
  const std::string long300(300, 'x');
  struct Case {
    std::string text;
    std::uint8_t givenType;
    std::int16_t length;
    std::uint8_t type;
  } const cases[] = {
      {"abc", 1, 3, 0},      // text makes an annotation
      {"", 0, 0, 1},         // no text: a symbol
      {Utf8ToGbk("注"), 5, 2, 5},
      {long300, 0, 300, 0},
  };
  for (const Case& c : cases) {
    MAPGIS_PntInfo p{};
    p.flag = 1;
    p.x = 1.5;
    p.y = 2.5;
    p.pointType = c.givenType;
    p.textLength = 77;
    ASSERT_EQ(w.AddPointInfo(p, nullptr, c.text.c_str()), St::Success);
  }
  ASSERT_EQ(w.Flush(), St::Success);
  MapGis_FastReader r;
  ASSERT_EQ(r.Open(path.c_str()), St::Success);
  // Text offsets: 2 reserved bytes, then the texts in order; an empty text takes one byte.
  const std::int32_t offsets[] = {2, 5, 6, 8};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    MAPGIS_PntInfo p{};
    ASSERT_EQ(r.ReadPointInfo(i, &p, nullptr), St::Success);
    EXPECT_EQ(+p.textLength, cases[i].length);
    EXPECT_EQ(+p.pointType, cases[i].type);
    EXPECT_EQ(+p.textOffset, offsets[i]);
    char note[260];
    ASSERT_EQ(r.GetNoteInfo(i, note), St::Success);
    EXPECT_EQ(std::string(note), cases[i].text.substr(0, 259));
  }
}

}  // namespace
