// Layers whose stored slot counts claim far more records than their sections hold: each converts
// the records that are there, in well under a second, logs that the file claims more records than
// it holds and ends with the read-error result (the damaged-file result when nothing could be read).

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/line_conversion.h"
#include "engine/node_conversion.h"
#include "engine/point_conversion.h"
#include "engine/region_conversion.h"
#include "engine_fixtures.h"

namespace {

using namespace KvxEngineTest;
using KvxTest::LayerBuilder;

using RoutineFn = std::int32_t (*)(const std::filesystem::path&, const std::filesystem::path&,
                                   const Kvx::ConversionServices&, const Kvx::FrameSettings&);

// Stored bytes of the element counts: byte 264 the primary slot count, 272 the node slot count,
// 280 the region slot count.
void PutCount(std::vector<std::uint8_t>& bytes, std::size_t at, std::int32_t value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
}
std::int32_t CountAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  std::int32_t value;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

LayerBuilder Regions() {
  LayerBuilder b = KvxTest::UnitSquares(3);
  return b;
}

LayerBuilder Network() {
  LayerBuilder b(MapGis::KindNetwork);
  for (int i = 0; i < 3; ++i) b.AddLine({{i * 1.0, 0.0}, {i * 1.0, 1.0}});
  std::array<std::uint8_t, 94> block{};
  block[0] = 1;  // a symbol node
  for (int i = 0; i < 3; ++i) b.AddNode(i, i, block);
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(3);
  b.Attributes(KvxTest::EntryNodeAttr).EnsureRecords(3);
  return b;
}

LayerBuilder Points() {
  LayerBuilder b(MapGis::KindPoint);
  b.AddPoint(0, 0);
  b.AddPoint(1, 0, "ab");
  b.AddPoint(2, 0);
  b.AddPoint(3, 0, "cd");
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(4);
  return b;
}

struct DamageCase {
  const char* what;
  std::function<LayerBuilder()> layer;
  const char* extension;
  std::function<void(std::vector<std::uint8_t>&)> damage;
  std::vector<std::pair<const char*, RoutineFn>> routines;  // the modes' routines
  int written;                                               // features each routine writes
};

// The symbol modes a routine runs in: plain (regions, arcs, nodes, points, labels, quick),
// parameters (params) and legend codes (avl).
const int kSymbolTypes[] = {0, 2, 4};

const std::vector<DamageCase>& Cases() {
  static const std::vector<DamageCase> cases = {
      {"region slot count 2147483646", Regions, ".wp", [](auto& b) { PutCount(b, 280, 2147483646); },
       {{"regions", Kvx::ConvertWP2SHP}}, 3},
      {"arc slot count 2147483646", Regions, ".wp", [](auto& b) { PutCount(b, 264, 2147483646); },
       {{"arcs", Kvx::ConvertWPArc2SHP}}, 3},
      {"arc slot count 2147483647", Regions, ".wp", [](auto& b) { PutCount(b, 264, 2147483647); },
       {{"arcs", Kvx::ConvertWPArc2SHP}}, 3},
      {"node slot count 1073741824", Network, ".wn", [](auto& b) { PutCount(b, 272, 1073741824); },
       {{"nodes", Kvx::ConvertWNNode2SHP}}, 3},
      {"network line slot count with a bit flipped in byte 266", Network, ".wn",
       [](auto& b) { b[266] ^= 0x40; }, {{"network lines", Kvx::ConvertWN2SHP}}, 3},
      {"network line slot count with a random byte 267", Network, ".wn", [](auto& b) { b[267] = 0x3B; },
       {{"network lines", Kvx::ConvertWN2SHP}}, 3},
      {"point slot count with a random byte 266", Points, ".wt", [](auto& b) { b[266] = 0xA7; },
       {{"points", Kvx::ConvertWTPoint2SHP}, {"labels", Kvx::ConvertWTNote2SHP}, {"all points", Kvx::ConvertWT2SHP}},
       -1},
  };
  return cases;
}

TEST(DamagedCounts, ClaimedSlotsBeyondTheSectionAreNotVisited) {
  Colours colours;
  for (const DamageCase& c : Cases()) {
    for (const auto& [mode, routine] : c.routines) {
      for (int symbolType : kSymbolTypes) {
        SCOPED_TRACE(std::string(c.what) + ", " + mode + ", symbol type " + std::to_string(symbolType));
        KvxTest::TempDir dir;
        LayerBuilder b = c.layer();
        std::vector<std::uint8_t> bytes = b.Build();
        const std::int32_t heldBefore[] = {CountAt(bytes, 264), CountAt(bytes, 272), CountAt(bytes, 280)};
        c.damage(bytes);
        const std::filesystem::path source = dir / (std::string("in") + c.extension);
        ASSERT_TRUE(KvxTest::WriteFile(source, bytes));

        Kvx::FrameSettings settings = PlainSettings();
        settings.symbolType = symbolType;
        Kvx::ConversionServices services{colours.styles, Kvx::SilentNotifier()};
        const auto start = std::chrono::steady_clock::now();
        const std::int32_t result = routine(source, dir / "out", services, settings);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 0.5);
        EXPECT_EQ(result, Kvx::kConvertReadErrors);

        // The held and the claimed count of the damaged section.
        std::string claims;
        for (int i = 0; i < 3; ++i) {
          const std::int32_t now = CountAt(bytes, 264 + 8 * static_cast<std::size_t>(i));
          if (now != heldBefore[i])
            claims = "E__文件声明的记录数多于实际存储的记录数(" + std::to_string(heldBefore[i] - 1) + "/" +
                     std::to_string(now - 1) + ")";
        }
        const std::vector<std::string> log = LogLines(dir / "out.log");
        EXPECT_NE(std::find(log.begin(), log.end(), claims), log.end()) << claims;
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().rfind("E__", 0) == 0 || log.back().rfind("I__", 0) == 0, true) << log.back();
        EXPECT_NE(log.back().find("存在错误("), std::string::npos) << log.back();
        Shp shp(dir / "out");
        ASSERT_TRUE(shp.IsOpen());
        if (c.written >= 0) EXPECT_EQ(shp.Count(), c.written);
        else EXPECT_GT(shp.Count(), 0);
      }
    }
  }
}

// A claimed count whose section holds no record at all: nothing can be read, so the result is
// the damaged-file result, not an empty one.
TEST(DamagedCounts, NothingHeldIsADamagedFile) {
  KvxTest::TempDir dir;
  LayerBuilder b = Regions();
  b.overrides.parts[KvxTest::EntryRegions] = MapGis::MAPGIS_Part{0, 0, -1};
  std::vector<std::uint8_t> bytes = b.Build();
  PutCount(bytes, 280, 2147483646);
  const std::filesystem::path source = dir / "in.wp";
  ASSERT_TRUE(KvxTest::WriteFile(source, bytes));
  Kvx::StyleContext noColours;
  Kvx::ConversionServices services{noColours, Kvx::SilentNotifier()};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Kvx::ConvertWP2SHP(source, dir / "out", services, PlainSettings()), Kvx::kConvertDamaged);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.5);
  const std::vector<std::string> log = LogLines(dir / "out.log");
  EXPECT_NE(std::find(log.begin(), log.end(), "E__文件声明的记录数多于实际存储的记录数(0/2147483645)"), log.end());
  EXPECT_EQ(log.back(), "E__原文件错误-数据校验错误");
}

// An intact layer says nothing of the kind.
TEST(DamagedCounts, IntactLayersAreNotDamaged) {
  KvxTest::TempDir dir;
  LayerBuilder b = Regions();
  Kvx::StyleContext noColours;
  Kvx::ConversionServices services{noColours, Kvx::SilentNotifier()};
  const std::filesystem::path source = dir / "in.wp";
  ASSERT_TRUE(b.WriteTo(source));
  EXPECT_EQ(Kvx::ConvertWP2SHP(source, dir / "out", services, PlainSettings()), Kvx::kConvertSuccess);
  for (const std::string& line : LogLines(dir / "out.log")) EXPECT_EQ(line.find("声明的记录数"), std::string::npos);
}

// Records that all point at the same data: a sound file never shares vertex data between its
// features (an arc serves at most two regions), so the reader hands the shared data out a few
// times over and then refuses, and the conversion's work and output stay within the file's size.
TEST(DamagedCounts, FeaturesSharingTheirDataAreReadOnlyAFewTimesOver) {
  struct Case {
    const char* what;
    std::function<LayerBuilder()> layer;
    const char* extension;
    RoutineFn routine;
  } const cases[] = {
      {"lines on one vertex list", [] {
         LayerBuilder b(MapGis::KindLine);
         std::vector<MapGis::Point2D> v;
         for (int i = 0; i < 4000; ++i) v.push_back({i * 1.0, (i % 3) * 1.0});
         b.AddLine(v);
         for (int i = 1; i < 2000; ++i) {
           b.AddLine({{0, 0}, {1, 1}});
           b.Line(i).pointCount = b.Line(0).pointCount;
           b.Line(i).dataOffset = b.Line(0).dataOffset;
         }
         return b;
       }, ".wl", Kvx::ConvertWL2SHP},
      {"regions on one arc list", [] {
         LayerBuilder b(MapGis::KindRegion);
         std::vector<MapGis::Point2D> v;
         for (int i = 0; i < 4000; ++i) v.push_back({i * 1.0, (i % 3) * 1.0});
         v.push_back(v.front());
         b.AddLine(v);
         b.AddRegion({1, 1, 1, 1});
         for (int i = 1; i < 2000; ++i) {
           b.AddRegion({1});
           b.Region(i).arcListLength = b.Region(0).arcListLength;
           b.Region(i).arcListOffset = b.Region(0).arcListOffset;
         }
         return b;
       }, ".wp", Kvx::ConvertWP2SHP},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    KvxTest::TempDir dir;
    LayerBuilder b = c.layer();
    const std::filesystem::path source = dir / (std::string("in") + c.extension);
    ASSERT_TRUE(b.WriteTo(source));
    Kvx::StyleContext noColours;
    Kvx::ConversionServices services{noColours, Kvx::SilentNotifier()};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.routine(source, dir / "out", services, PlainSettings()), Kvx::kConvertReadErrors);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.5);
    Shp shp(dir / "out");
    EXPECT_GE(shp.Count(), 1);
    EXPECT_LE(shp.Count(), 8) << "the shared data is handed out a few times, not once per record";
  }
}

}  // namespace
