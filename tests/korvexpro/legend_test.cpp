// Legend entries, legend codes, and collecting the legend of a layer.

#include "styles/legend.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>
#include <ctime>
#include <cmath>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "styles_fixtures.h"
#include "temp_config.h"

namespace {

namespace fs = std::filesystem;
using namespace Kvx;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::string Code(const LegendEntry& e) { return e.GetLegendCode().Str(); }

// ---- Codes and clamps ----------------------------------------------------------------------------

TEST(LegendCode, CasesOfEntriesAndTheirCodes) {
  const struct {
    const char* name;
    LegendEntry entry;
    const char* code;
  } cases[] = {
      {"line type 3, aux 1, pure blue, width 0.5, scales 1", {0x301, 16711680, 0, 0.5f, 1.0f, 1.0f},
       "030100FF000000000000003200640064"},
      {"width nearest 0.29 truncates to 28", {1, 0, 0, 0.29f, 0.0f, 0.0f}, "00010000000000000000001C00000000"},
      {"700.0 is past the largest code", {1, 0, 0, 700.0f, 0.0f, 0.0f}, "00010000000000000000FFFF00000000"},
      {"negative sizes", {1, 0, 0, -1.0f, -0.5f, -700.0f}, "00010000000000000000FFFFFFFFFFFF"},
      {"a size between -0.01 and 0 truncates to 0", {1, 0, 0, -0.005f, 0.0f, 0.0f}, "00010000000000000000000000000000"},
      {"655.35, 655.36 and 655.34 near the limit", {1, 0, 0, 655.35f, 655.36f, 655.34f},
       "00010000000000000000FFFEFFFFFFFE"},
      {"sizes whose hundredths pass 32 bits stay at the limit", {1, 0, 0, 42949676.0f, 1e30f, kInf},
       "00010000000000000000FFFFFFFFFFFF"},
      {"sizes that are no number; 0.01 is stored just below", {1, 0, 0, kNaN, -kInf, 0.01f},
       "00010000000000000000FFFFFFFF0000"},
      {"symbol above 65535 clamps to 65535", {70000, 1, 2, 1.0f, 2.0f, 3.0f}, "FFFF0000000100000002006400C8012C"},
      {"negative symbol clamps to 0", {-5, 1, 2, 0.0f, 0.0f, 0.0f}, "00000000000100000002000000000000"},
      {"negative colours become 0", {7, -1, INT32_MIN, 0.0f, 0.0f, 0.0f}, "00070000000000000000000000000000"},
      {"largest CMYK colour", {65535, 0x64646464, 0x7FFFFFFF, 9.0f, 9.0f, 0.0f}, "FFFF646464647FFFFFFF038403840000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Code(c.entry), c.code);
    EXPECT_EQ(c.entry.index, 0);
  }
}

TEST(LegendCode, SizeCodes) {
  const struct {
    float size;
    std::uint32_t code;
  } cases[] = {
      {0.0f, 0},        {0.29f, 28},       {0.29005f, 29},  {0.5f, 50},     {1.0f, 100},
      {0.01f, 0},       {0.02f, 1},        {655.35f, 65534}, {655.359f, 65535}, {700.0f, 65535},
      {-0.005f, 0},     {-0.011f, 65535},  {-1.0f, 65535},  {42949676.0f, 65535}, {kNaN, 65535},
      {-kInf, 65535},   {kInf, 65535},
  };
  for (const auto& c : cases) EXPECT_EQ(LegendSizeCode(c.size), c.code) << c.size;
}

TEST(LegendCode, LineSymbolsOfLineTypeAndAuxiliaryType) {
  const struct {
    std::int16_t lineType;
    std::int8_t auxType;
    std::int32_t symbol;  // LineLegendSymbol
    std::int32_t entry;   // after the entry's clamp
  } cases[] = {
      {3, 1, 0x301, 0x301},   {3, 2, 770, 770},         {1, 0, 256, 256},       {0, 1, 1, 1},
      {3, 127, 0x37F, 0x37F}, {3, -128, -128, 0},       {3, -1, -1, 0},         {-1, 0, -256, 0},
      {300, 0, 76800, 65535}, {32767, 127, 0x7FFF7F, 65535},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lineType << "/" << int{c.auxType});
    EXPECT_EQ(LineLegendSymbol(c.lineType, c.auxType), c.symbol);
    EXPECT_EQ(LegendEntry(LineLegendSymbol(c.lineType, c.auxType), 0, 0, 0, 0, 0).symbol, c.entry);
  }
}

// ---- Equality -------------------------------------------------------------------------------------

TEST(FindLegendEntry, SizesWithinTheToleranceShareAnEntry) {
  const struct {
    const char* name;
    LegendEntry first;
    LegendEntry second;
    bool shared;
  } cases[] = {
      {"widths 0.00005 apart", {1, 5, 0, 0.5f, 1.0f, 1.0f}, {1, 5, 0, 0.50005f, 1.0f, 1.0f}, true},
      {"widths 0.0002 apart", {1, 5, 0, 0.5f, 1.0f, 1.0f}, {1, 5, 0, 0.5002f, 1.0f, 1.0f}, false},
      {"widths 0.001 apart", {1, 5, 0, 0.5f, 1.0f, 1.0f}, {1, 5, 0, 0.501f, 1.0f, 1.0f}, false},
      {"second size 0.00005 apart", {1, 5, 0, 0.5f, 1.0f, 1.0f}, {1, 5, 0, 0.5f, 1.00005f, 1.0f}, true},
      {"third size 0.0002 apart", {1, 5, 0, 0.5f, 1.0f, 1.0f}, {1, 5, 0, 0.5f, 1.0f, 1.0002f}, false},
      {"other symbol", {1, 5, 0, 0.5f, 1.0f, 1.0f}, {2, 5, 0, 0.5f, 1.0f, 1.0f}, false},
      {"other colour", {1, 5, 0, 0.5f, 1.0f, 1.0f}, {1, 6, 0, 0.5f, 1.0f, 1.0f}, false},
      {"other second colour", {1, 5, 0, 0.5f, 1.0f, 1.0f}, {1, 5, 9, 0.5f, 1.0f, 1.0f}, false},
      {"symbols clamped alike", {70000, 5, 0, 0, 0, 0}, {65535, 5, 0, 0, 0, 0}, true},
      {"equal large sizes", {1, 5, 0, 3.0e9f, 0, 0}, {1, 5, 0, 3.0e9f, 0, 0}, true},
      {"neighbouring large sizes", {1, 5, 0, 4096.0f, 0, 0}, {1, 5, 0, 4096.0005f, 0, 0}, false},
      {"infinite sizes", {1, 5, 0, kInf, 0, 0}, {1, 5, 0, kInf, 0, 0}, true},
      {"sizes that are no number", {1, 5, 0, kNaN, 0, 0}, {1, 5, 0, kNaN, 0, 0}, true},
      {"no number and zero", {1, 5, 0, kNaN, 0, 0}, {1, 5, 0, 0.0f, 0, 0}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.first.Matches(c.second), c.shared);
    EXPECT_EQ(c.second.Matches(c.first), c.shared);
    const std::vector<LegendEntry> list = {c.first};
    EXPECT_EQ(FindLegendEntry(list, c.second) != nullptr, c.shared);
    for (LegendMode mode : {LegendMode::Legend, LegendMode::Symbol}) {
      LegendCollector collector(mode);
      collector.Add(c.first);
      collector.Add(c.second);
      EXPECT_EQ(collector.Entries().size(), c.shared ? 1u : 2u);
    }
  }
}

TEST(FindLegendEntry, TheIndexIsNotComparedAndTheFirstEqualEntryWins) {
  LegendEntry a(1, 5, 0, 0.5f, 0, 0);
  LegendEntry b(1, 5, 0, 0.50015f, 0, 0);  // not equal to a, 0.00015 apart
  b.index = 3;
  const LegendEntry probe(1, 5, 0, 0.50008f, 0, 0);  // equal to both
  ASSERT_FALSE(a.Matches(b));
  ASSERT_TRUE(probe.Matches(a));
  ASSERT_TRUE(probe.Matches(b));

  const std::vector<LegendEntry> ab = {a, b};
  const std::vector<LegendEntry> ba = {b, a};
  EXPECT_EQ(FindLegendEntry(ab, probe), &ab[0]);
  EXPECT_EQ(FindLegendEntry(ba, probe), &ba[0]);
  EXPECT_EQ(FindLegendEntry({}, probe), nullptr);

  LegendCollector collector(LegendMode::Legend);
  EXPECT_TRUE(collector.Add(a).added);
  EXPECT_TRUE(collector.Add(b).added);
  const LegendCollector::Hit hit = collector.Add(probe);
  EXPECT_FALSE(hit.added);
  EXPECT_EQ(hit.position, 0);
}

// ---- Entries of features ----------------------------------------------------------------------------

class LegendEntries : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings settings;
    settings.SymbolType = 4;
    settings.LibPath = (dir_.Path() / "Slib").string();
    KvxTest::WriteFileBytes(dir_.Path() / "Slib" / "Pcolor.lib", KvxTest::ColourLibraryBytes(KvxTest::TestColours()));
    ASSERT_EQ(styles_.ConvertLoadRules(settings, SilentNotifier()), LoadRulesResult::Ready);
  }
  KvxTest::ScratchDir dir_;
  StyleContext styles_;
};

TEST_F(LegendEntries, EachLayerKindBuildsItsEntryFromItsRecord) {
  MapGis::MAPGIS_LineInfo line{};
  line.lineType = 3;
  line.auxType = 1;
  line.color = KvxTest::kBlue;
  line.auxColor = KvxTest::kRed;  // never part of a legend entry
  line.width = 0.5f;
  line.xScale = 1.0f;
  line.yScale = 1.0f;

  MapGis::MAPGIS_PntInfo point{};
  point.pointType = 1;
  point.symbolNo = 70000;
  point.color = KvxTest::kRed;
  point.width = 2.0f;
  point.height = 3.0f;
  point.angle = 45.0f;  // not part of the entry

  MapGis::MAPGIS_RegInfo region{};
  region.patternNo = 12;
  region.fillColor = KvxTest::kCyan;
  region.patternColor = 99;  // beyond the library: colour 0
  region.patternWidth = 10.0f;
  region.patternHeight = 12.5f;

  const struct {
    const char* name;
    LegendEntry legend;
    LegendEntry symbol;
    const char* legendCode;
    const char* symbolCode;
  } cases[] = {
      {"line", LineLegendEntry(line, styles_, LegendMode::Legend), LineLegendEntry(line, styles_, LegendMode::Symbol),
       "030100FF000000000000003200640064", "03016464000000000000003200640064"},
      {"point symbol", SymbolLegendEntry(point, styles_, LegendMode::Legend),
       SymbolLegendEntry(point, styles_, LegendMode::Symbol), "FFFF000000FF0000000000C8012C0000",
       "FFFF006464000000000000C8012C0000"},
      {"point with its type", PointTypeLegendEntry(point, styles_, LegendMode::Legend),
       PointTypeLegendEntry(point, styles_, LegendMode::Symbol), "0001000000FF00000000038403840000",
       "00010064640000000000038403840000"},
      {"region", RegionLegendEntry(region, styles_, LegendMode::Legend),
       RegionLegendEntry(region, styles_, LegendMode::Symbol), "000C00FFFF000000000003E804E20000",
       "000C640000000000000003E804E20000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Code(c.legend), c.legendCode);
    EXPECT_EQ(Code(c.symbol), c.symbolCode);
  }
}

// ---- Collecting the legend of a layer -----------------------------------------------------------------

struct Collected {
  std::vector<std::int32_t> positions;
  std::vector<std::string> codes;
};

Collected CollectAll(LegendCollector& collector, const std::vector<LegendEntry>& features) {
  Collected out;
  for (const LegendEntry& f : features) {
    out.positions.push_back(collector.Add(f).position);
  }
  return out;
}

TEST(LegendCollector, LegendModeIndexesEntriesByTheirColourInOrderOfFirstAppearance) {
  // Regions of one pattern in three fill colours, and two lines in one colour.
  const std::vector<LegendEntry> features = {
      {5, 0x00FF00, 0x123456, 10.0f, 12.5f, 0.0f},  // green
      {5, 0x0000FF, 0x123456, 10.0f, 12.5f, 0.0f},  // red: another entry, another colour
      {5, 0x00FF00, 0x123456, 10.00005f, 12.5f, 0.0f},  // the first again
      {7, 0x0000FF, 0, 1.0f, 0.0f, 0.0f},               // red again, another symbol
      {5, 0x000000, 0x0000FF, 10.0f, 12.5f, 0.0f},      // black
      {7, 0x0000FF, 0, 1.0f, 0.0f, 0.0f},
  };
  LegendCollector collector(LegendMode::Legend);
  const Collected got = CollectAll(collector, features);
  EXPECT_EQ(got.positions, (std::vector<std::int32_t>{0, 1, 0, 2, 3, 2}));
  EXPECT_EQ(std::vector<std::int32_t>(collector.Colours().begin(), collector.Colours().end()),
            (std::vector<std::int32_t>{0x00FF00, 0x0000FF, 0x000000}));
  const std::vector<std::int32_t> indexes = {0, 1, 1, 2};
  ASSERT_EQ(collector.Entries().size(), indexes.size());
  for (std::size_t i = 0; i < indexes.size(); ++i) EXPECT_EQ(collector.Entries()[i].index, indexes[i]) << i;
  EXPECT_EQ(collector.Entries()[0].size1, 10.0f);  // the first-seen entry is kept as it was
}

TEST(LegendCollector, SymbolModeIndexesEntriesByTheirSymbolAndKeepsNoColours) {
  const std::vector<LegendEntry> features = {
      {12, 0x64000000, 0, 1.0f, 1.0f, 0.0f},
      {70000, 0x64000000, 0, 1.0f, 1.0f, 0.0f},
      {12, 0x64000000, 0, 1.0f, 1.0f, 0.0f},
      {3, 0, 0, 9.0f, 9.0f, 0.0f},
  };
  LegendCollector collector(LegendMode::Symbol);
  EXPECT_EQ(CollectAll(collector, features).positions, (std::vector<std::int32_t>{0, 1, 0, 2}));
  ASSERT_EQ(collector.Entries().size(), 3u);
  EXPECT_EQ(collector.Entries()[0].index, 12);
  EXPECT_EQ(collector.Entries()[1].index, 65535);
  EXPECT_EQ(collector.Entries()[2].index, 3);
  EXPECT_TRUE(collector.Colours().empty());
}

TEST(LegendCollector, EveryFeatureOfAClassCarriesTheLabelOfItsClass) {
  // 0.29 codes to 28 hundredths and 0.29005 to 29, yet the two share an entry. In legend mode the
  // second feature gets the code of the entry (its class in the AVL legend); in symbol mode its own.
  const LegendEntry first(1, 0xFF, 0, 0.29f, 1.0f, 1.0f);
  const LegendEntry second(1, 0xFF, 0, 0.29005f, 1.0f, 1.0f);
  ASSERT_TRUE(first.Matches(second));
  ASSERT_NE(Code(first), Code(second));

  LegendCollector legend(LegendMode::Legend);
  EXPECT_EQ(legend.Collect(first).Str(), Code(first));
  EXPECT_EQ(legend.Collect(second).Str(), Code(first));
  EXPECT_EQ(legend.Entries().size(), 1u);

  LegendCollector symbol(LegendMode::Symbol);
  EXPECT_EQ(symbol.Collect(first).Str(), Code(first));
  EXPECT_EQ(symbol.Collect(second).Str(), Code(second));
  EXPECT_EQ(symbol.Entries().size(), 1u);
}

TEST(LegendCollector, ClearStartsTheNextLayerEmpty) {
  LegendCollector collector(LegendMode::Legend);
  collector.Add({1, 5, 0, 1, 1, 1});
  collector.Add({2, 6, 0, 1, 1, 1});
  collector.Clear();
  EXPECT_TRUE(collector.Entries().empty());
  EXPECT_TRUE(collector.Colours().empty());
  EXPECT_EQ(collector.Find({1, 5, 0, 1, 1, 1}), std::nullopt);
  const LegendCollector::Hit hit = collector.Add({2, 6, 0, 1, 1, 1});
  EXPECT_TRUE(hit.added);
  EXPECT_EQ(hit.position, 0);
  EXPECT_EQ(collector.Entries()[0].index, 0);
}

// The index beside the list must find exactly what the linear search finds, also for sizes at the
// edges of the tolerance, at the borders of its cells, very large, infinite or not a number.
TEST(LegendCollector, TheIndexFindsWhatTheLinearSearchFinds) {
  const double bases[] = {0.0, 0.5, 1.0, 1.0 / 128, 3.0 / 128, 0.1, 9.0, -2.0, 2047.9, 1048575.9375,
                          1048576.0, 3.0e9};
  const double jitters[] = {0.0, 4e-5, -4e-5, 6e-5, -6e-5, 1e-4, -1e-4, 1.1e-4, -1.1e-4, 2e-4, 1.5e-4};
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state](std::uint64_t bound) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state % bound;
  };
  auto size = [&]() -> float {
    const std::uint64_t pick = next(40);
    if (pick == 0) return kNaN;
    if (pick == 1) return kInf;
    if (pick == 2) return -0.0f;
    return static_cast<float>(bases[next(std::size(bases))] + jitters[next(std::size(jitters))]);
  };

  LegendCollector collector(LegendMode::Legend);
  std::vector<LegendEntry> reference;
  for (int i = 0; i < 8000; ++i) {
    const auto symbol = static_cast<std::int32_t>(next(2));
    const auto colour = static_cast<std::int32_t>(next(2));
    const float s1 = size();
    const float s2 = size();
    const float s3 = size();
    const LegendEntry probe(symbol, colour, 0, s1, s2, s3);
    const LegendEntry* expected = FindLegendEntry(reference, probe);
    const std::optional<std::int32_t> found = collector.Find(probe);
    ASSERT_EQ(found.has_value(), expected != nullptr) << i;
    if (expected != nullptr) {
      ASSERT_EQ(*found, expected - reference.data()) << i;
    }
    const LegendCollector::Hit hit = collector.Add(probe);
    if (expected == nullptr) {
      reference.push_back(probe);
      ASSERT_TRUE(hit.added);
      ASSERT_EQ(hit.position, static_cast<std::int32_t>(reference.size() - 1));
    }
  }
  ASSERT_EQ(collector.Entries().size(), reference.size());
  EXPECT_GT(reference.size(), 1000u);  // a list long enough to mean something
  EXPECT_LT(reference.size(), 8000u);  // and probes that found entries
}

// A layer of 1,000,000 features with 10,000 distinct entries, in three shapes: entries that differ in
// symbol and colour, and entries of one symbol and colour that differ only in their first or only in
// their third size.
// An unoptimised or sanitizer build runs this loop many times slower; a quadratic lookup
// (10^10 comparisons) would still miss that budget by far.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
constexpr double kCollectBudgetMs = 1000.0;
#else
constexpr double kCollectBudgetMs = 15000.0;
#endif

TEST(LegendCollector, AMillionFeaturesWithTenThousandEntriesCollectInWellUnderASecond) {
  constexpr int kEntries = 10000;
  constexpr int kFeatures = 1000000;
  const struct {
    const char* name;
    LegendEntry (*make)(int);
    std::size_t colours;
  } shapes[] = {
      {"symbols and colours", [](int i) { return LegendEntry(i % 100, (i / 100) * 0x10101, 0, 0.25f * (i % 4), 1, 1); },
       100},
      {"first sizes", [](int i) { return LegendEntry(1, 0xFF, 0, 0.001f * i, 1, 1); }, 1},
      {"third sizes", [](int i) { return LegendEntry(1, 0xFF, 0, 1, 1, 0.001f * i); }, 1},
  };
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.name);
    std::vector<LegendEntry> distinct;
    for (int i = 0; i < kEntries; ++i) distinct.push_back(shape.make(i));
    std::vector<std::int32_t> order(kFeatures);
    std::uint64_t state = 88172645463325252ull;
    for (int f = 0; f < kFeatures; ++f) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      order[f] = static_cast<std::int32_t>(f < kEntries ? f : state % kEntries);
    }

    // The processor time of this thread, so that a busy machine does not fail the test; the wall time
    // is shown beside it.
    auto cpuMs = [] {
      timespec t{};
      clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
      return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
    };
    LegendCollector collector(LegendMode::Legend);
    const double cpuStart = cpuMs();
    const auto wallStart = std::chrono::steady_clock::now();
    std::size_t checksum = 0;
    for (std::int32_t id : order) checksum += static_cast<unsigned char>(collector.Collect(distinct[id]).View()[31]);
    const double cpu = cpuMs() - cpuStart;
    const double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart).count();
    std::cout << "[ timing   ] " << shape.name << ": " << kFeatures << " features, " << kEntries << " entries: " << cpu
              << " ms processor time, " << wall << " ms wall time\n";
    EXPECT_LT(cpu, kCollectBudgetMs);
    EXPECT_NE(checksum, 0u);
    ASSERT_EQ(collector.Entries().size(), static_cast<std::size_t>(kEntries));
    EXPECT_EQ(collector.Colours().size(), shape.colours);
    for (int i = 0; i < kEntries; ++i) ASSERT_TRUE(collector.Entries()[i].Matches(distinct[i])) << i;
  }
}

TEST(LegendCollector, RepeatedEntriesAllocateNothing) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator keeps its own books";
#else
  LegendCollector collector(LegendMode::Legend);
  for (int i = 0; i < 1000; ++i) collector.Collect(LegendEntry(i % 10, i, 0, 0.5f, 1, 1));
  const std::size_t before = mallinfo2().uordblks;
  for (int i = 0; i < 100000; ++i) collector.Collect(LegendEntry(i % 10, i % 1000, 0, 0.5f, 1, 1));
  EXPECT_EQ(mallinfo2().uordblks, before);
#endif
}

}  // namespace
