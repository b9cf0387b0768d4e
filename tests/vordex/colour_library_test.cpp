// Colour library, legend and symbol files: fixtures built byte by byte, damaged files of every
// length, and the real colour libraries from the field.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/byte_fixture.h"
#include "support/layer_builder.h"
#include "vordex/colour_library.h"
#include "vordex/conversions.h"
#include "vordex/status.h"

namespace {

using KvxTest::Bytes;
using KvxTest::Put;
using KvxTest::PutText;
namespace St = MapGis::Status;

// ---------------------------------------------------------------------------------------------
// Colour library fixtures.
// ---------------------------------------------------------------------------------------------

struct Cmyk {
  std::uint8_t k, c, m, y;
};

constexpr std::size_t kColourHead = 156;

// A colour library: magic, counts, ink table and records (base K, C, M, Y, then ink amounts).
struct ColourFile {
  std::int16_t count = -1;  // -1: the number of records
  std::int16_t inkCount = 0;
  std::vector<Cmyk> inks;
  std::vector<std::pair<Cmyk, std::vector<std::uint8_t>>> colours;

  Bytes Build() const {
    Bytes b(kColourHead, 0);
    PutText(b, 0, "PCOLOR 3");
    Put<std::int16_t>(b, 8, count >= 0 ? count : static_cast<std::int16_t>(colours.size()));
    Put<std::int16_t>(b, 10, inkCount);
    for (std::size_t i = 0; i < inks.size() && i < 36; ++i) {
      const std::size_t at = 12 + 4 * i;
      b[at] = inks[i].k;
      b[at + 1] = inks[i].c;
      b[at + 2] = inks[i].m;
      b[at + 3] = inks[i].y;
    }
    for (const auto& [base, amounts] : colours) {
      const std::size_t at = b.size();
      b.resize(at + 32, 0);
      b[at] = base.k;
      b[at + 1] = base.c;
      b[at + 2] = base.m;
      b[at + 3] = base.y;
      for (std::size_t i = 0; i < amounts.size() && i < 28; ++i) b[at + 4 + i] = amounts[i];
    }
    return b;
  }
};

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "rgb(" << c.r << ", " << c.g << ", " << c.b << ")";
  }
};

Rgb ToRgb(MapGis::RGBTRIPLE t) { return {t.rgbtRed, t.rgbtGreen, t.rgbtBlue}; }

std::array<int, 4> ToKcmy(MapGis::CMYKQUAD q) { return {q.cmykBlack, q.cmykCyan, q.cmykMagenta, q.cmykYellow}; }

void ExpectEmpty(const MapGis::MapGis_ColorLib& lib) {
  EXPECT_EQ(lib.GetColorNum(), 0);
  EXPECT_EQ(ToRgb(lib.GetRGB(1)), (Rgb{0, 0, 0}));
  EXPECT_EQ(ToKcmy(lib.GetCMYK(1)), (std::array<int, 4>{0, 0, 0, 0}));
  EXPECT_EQ(lib.GetColor(1), nullptr);
}

class ColourLibraryTest : public ::testing::Test {
 protected:
  std::filesystem::path Write(const Bytes& bytes, const std::string& name = "Pcolor.lib") {
    auto path = dir_ / name;
    EXPECT_TRUE(KvxTest::WriteBytes(path, bytes));
    return path;
  }
  KvxTest::TempDir dir_;
};

TEST_F(ColourLibraryTest, MixesBaseColourWithInks) {
  struct Case {
    const char* what;
    Cmyk base;
    std::vector<std::uint8_t> amounts;
    Rgb rgb;
    std::array<int, 4> percentKcmy;
  };
  // Inks: 0 = C 200, 1 = M 100, 2 = K 255.
  const std::vector<Case> cases = {
      {"pure cyan", {0, 255, 0, 0}, {}, {0, 255, 255}, {0, 100, 0, 0}},
      {"white", {0, 0, 0, 0}, {}, {255, 255, 255}, {0, 0, 0, 0}},
      {"black", {255, 0, 0, 0}, {}, {0, 0, 0}, {100, 0, 0, 0}},
      {"half cyan rounds down", {0, 128, 0, 0}, {}, {127, 255, 255}, {0, 50, 0, 0}},
      {"full ink saturates at 255", {0, 100, 0, 0}, {255}, {0, 255, 255}, {0, 100, 0, 0}},
      {"part of an ink: 200 * 128 / 255 = 100", {0, 0, 0, 0}, {128}, {155, 255, 255}, {0, 39, 0, 0}},
      {"two inks add up", {0, 0, 0, 0}, {255, 255}, {55, 155, 255}, {0, 78, 39, 0}},
      {"ink beyond the ink count is ignored", {0, 0, 0, 0}, {0, 0, 0, 255}, {255, 255, 255}, {0, 0, 0, 0}},
  };
  ColourFile file;
  file.inkCount = 3;
  file.inks = {{0, 200, 0, 0}, {0, 0, 100, 0}, {255, 0, 0, 0}, {0, 0, 0, 255}};
  for (const Case& c : cases) file.colours.push_back({c.base, c.amounts});

  MapGis::MapGis_ColorLib lib;
  ASSERT_EQ(lib.LoadColors(Write(file.Build())), static_cast<int>(cases.size()));
  EXPECT_EQ(lib.GetColorNum(), static_cast<int>(cases.size()));
  EXPECT_EQ(lib.GetInkNum(), 3);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    const int n = static_cast<int>(i) + 1;
    EXPECT_EQ(ToRgb(lib.GetRGB(n)), cases[i].rgb);
    EXPECT_EQ(ToKcmy(lib.GetCMYK(n)), cases[i].percentKcmy);
  }
}

TEST_F(ColourLibraryTest, WithoutInksGivesTheBaseColourInRgb) {
  ColourFile file;
  file.inkCount = 0;
  file.inks = {{0, 255, 255, 255}};  // present in the table, but not counted
  file.colours = {{{10, 20, 30, 40}, {255, 255}}, {{0, 0, 0, 255}, {}}};
  MapGis::MapGis_ColorLib lib;
  ASSERT_EQ(lib.LoadColors(Write(file.Build())), 2);
  for (int n = 1; n <= 2; ++n) {
    const MapGis::MAPGIS_Color* record = lib.GetColor(n);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(ToRgb(lib.GetRGB(n)), ToRgb(MapGis::CMYK2RGB(record->base))) << n;
  }
  EXPECT_EQ(ToRgb(lib.GetRGB(2)), (Rgb{255, 255, 0}));
}

TEST_F(ColourLibraryTest, NumbersOutsideTheLibraryGiveZero) {
  ColourFile file;
  file.colours = {{{0, 0, 0, 0}, {}}, {{0, 0, 0, 0}, {}}};
  MapGis::MapGis_ColorLib lib;
  ExpectEmpty(lib);  // a new library
  ASSERT_EQ(lib.LoadColors(Write(file.Build())), 2);
  for (int n : {0, 3, -1, -32768, 1 << 30}) {
    EXPECT_EQ(ToRgb(lib.GetRGB(n)), (Rgb{0, 0, 0})) << n;
    EXPECT_EQ(ToKcmy(lib.GetCMYK(n)), (std::array<int, 4>{0, 0, 0, 0})) << n;
  }
  EXPECT_EQ(ToRgb(lib.GetRGB(2)), (Rgb{255, 255, 255}));
}

TEST_F(ColourLibraryTest, InkCountsBeyondTheRecordAreBounded) {
  // A record holds 28 ink amounts; a larger or negative ink count must not read past it.
  for (std::int16_t inkCount : {28, 29, 36, 32767, -1, -32768}) {
    SCOPED_TRACE(inkCount);
    ColourFile file;
    file.inkCount = inkCount;
    file.inks.assign(36, {0, 1, 0, 0});
    file.colours = {{{0, 0, 0, 0}, std::vector<std::uint8_t>(28, 255)}, {{0, 0, 0, 0}, {}}};
    MapGis::MapGis_ColorLib lib;
    ASSERT_EQ(lib.LoadColors(Write(file.Build())), 2);
    const int inks = inkCount < 0 ? 0 : 28;
    EXPECT_EQ(lib.GetCMYK(1).cmykCyan, inks * 100 / 255);
    EXPECT_EQ(ToRgb(lib.GetRGB(2)), (Rgb{255, 255, 255}));
  }
}

TEST_F(ColourLibraryTest, RecordCountFollowsTheFile) {
  struct Case {
    const char* what;
    std::int16_t storedCount;
    int records;
    int extraBytes;
    int expected;
  };
  const Case cases[] = {
      {"count as stored", 3, 3, 0, 3},
      {"one record short: the missing colour is out of range", 3, 2, 0, 2},
      {"half a record at the end is not a colour", 3, 2, 20, 2},
      {"records behind the count are ignored", 2, 3, 0, 2},
      {"no records", 0, 0, 0, 0},
      {"count without records", 5, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ColourFile file;
    file.count = c.storedCount;
    for (int i = 0; i < c.records; ++i) file.colours.push_back({{0, static_cast<std::uint8_t>(50 * (i + 1)), 0, 0}, {}});
    Bytes bytes = file.Build();
    bytes.resize(bytes.size() + c.extraBytes, 0x11);
    MapGis::MapGis_ColorLib lib;
    EXPECT_EQ(lib.LoadColors(Write(bytes)), c.expected);
    EXPECT_EQ(lib.GetColorNum(), c.expected);
    EXPECT_EQ(std::int16_t{lib.GetHead().colorCount}, c.storedCount);
    if (c.expected > 0) {
      EXPECT_EQ(lib.GetCMYK(c.expected).cmykCyan, 50 * c.expected * 100 / 255);
    }
    EXPECT_EQ(ToRgb(lib.GetRGB(c.expected + 1)), (Rgb{0, 0, 0}));
  }
}

TEST_F(ColourLibraryTest, RefusedFilesLeaveTheLibraryEmpty) {
  ColourFile good;
  good.colours = {{{0, 255, 0, 0}, {}}};
  const Bytes valid = good.Build();
  const auto validPath = Write(valid, "good.lib");

  struct Case {
    std::string what;
    Bytes bytes;
    std::int32_t status;
  };
  std::vector<Case> cases;
  for (std::size_t i = 0; i < 8; ++i) {
    Bytes b = valid;
    b[i] ^= 0x20;
    cases.push_back({"magic byte " + std::to_string(i), b, St::BadMagic});
  }
  {
    Bytes b = valid;
    Put<std::int16_t>(b, 8, -1);
    cases.push_back({"negative colour count", b, St::ReadFailed});
  }
  cases.push_back({"head cut short", Bytes(valid.begin(), valid.begin() + 155), St::ReadFailed});
  cases.push_back({"empty file", Bytes{}, St::ReadFailed});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MapGis::MapGis_ColorLib lib;
    ASSERT_EQ(lib.LoadColors(validPath), 1);
    EXPECT_EQ(lib.LoadColors(Write(c.bytes, "bad.lib")), c.status);
    ExpectEmpty(lib);
  }
  MapGis::MapGis_ColorLib lib;
  EXPECT_EQ(lib.LoadColors(dir_ / "missing.lib"), St::CannotOpen);
  EXPECT_EQ(lib.LoadColors(dir_.path()), St::CannotOpen);  // a folder
  ExpectEmpty(lib);
}

TEST_F(ColourLibraryTest, DamagedFilesGiveStatusesNeverACrash) {
  ColourFile file;
  file.inkCount = 2;
  file.inks = {{0, 10, 20, 30}, {40, 50, 60, 70}};
  for (int i = 0; i < 6; ++i) file.colours.push_back({{0, 0, 0, static_cast<std::uint8_t>(i)}, {1, 2}});
  const Bytes full = file.Build();
  const auto path = dir_ / "cut.lib";

  MapGis::MapGis_ColorLib lib;
  // Every length from the whole file down to nothing: one write, then the file is cut shorter.
  ASSERT_TRUE(KvxTest::WriteBytes(path, full));
  for (std::size_t size = full.size() + 1; size-- > 0;) {
    std::filesystem::resize_file(path, size);
    const std::int32_t result = lib.LoadColors(path);
    const std::int32_t expected = size < kColourHead ? St::ReadFailed : static_cast<std::int32_t>((size - kColourHead) / 32);
    ASSERT_EQ(result, expected) << "size " << size;
    for (int n = 0; n <= 7; ++n) {
      lib.GetRGB(n);
      lib.GetCMYK(n);
    }
  }
  KvxTest::Scrambler scrambler(7);
  for (int round = 0; round < 300; ++round) {
    ASSERT_TRUE(KvxTest::WriteBytes(path, scrambler.Damage(full, 1 + round % 8)));
    const std::int32_t result = lib.LoadColors(path);
    ASSERT_TRUE(result == St::BadMagic || result == St::ReadFailed || (result >= 0 && result <= 6)) << round;
    for (int n = -1; n <= lib.GetColorNum() + 1; ++n) lib.GetRGB(n);
  }
}

// ---------------------------------------------------------------------------------------------
// The real colour libraries.
// ---------------------------------------------------------------------------------------------

TEST(RealColourLibraryTest, FirstColoursDecodeAndEndsAreSound) {
  const auto folder = KvxTest::RealSamplesFolder();
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no real samples at " << folder;

  struct Case {
    const char* file;
    int storedCount;
    int usable;  // whole records in the file, at most the stored count
  };
  const Case cases[] = {
      {"oldsong__mapgis_tools/Pcolor.lib", 4096, 4096},  // one record more than its count
      {"CGSgeosite__OGC.Net/Pcolor.lib", 1578, 1577},    // one record short of its count
  };
  const Rgb first[9] = {
      {0, 0, 0},       // 1 black
      {0, 255, 255},   // 2 cyan 0x00FFFF
      {255, 0, 255},   // 3 magenta
      {255, 255, 0},   // 4 yellow
      {0, 0, 255},     // 5 blue
      {255, 0, 0},     // 6 red
      {0, 255, 0},     // 7 green
      {0, 0, 0},       // 8 black of C + M + Y
      {255, 255, 255}, // 9 white
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto path = folder / c.file;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "missing " << path;
    MapGis::MapGis_ColorLib lib;
    ASSERT_EQ(lib.LoadColors(path), c.usable);
    EXPECT_EQ(lib.GetColorNum(), c.usable);
    EXPECT_EQ(std::int16_t{lib.GetHead().colorCount}, c.storedCount);
    for (int n = 1; n <= 9; ++n) EXPECT_EQ(ToRgb(lib.GetRGB(n)), first[n - 1]) << "colour " << n;
    EXPECT_EQ(ToKcmy(lib.GetCMYK(2)), (std::array<int, 4>{0, 100, 0, 0}));
    EXPECT_EQ(ToKcmy(lib.GetCMYK(1)), (std::array<int, 4>{100, 0, 0, 0}));
    // The last colour the file holds is read; a number past it is out of range, not white.
    EXPECT_NE(lib.GetColor(c.usable), nullptr);
    EXPECT_EQ(lib.GetColor(c.usable + 1), nullptr);
    EXPECT_EQ(ToRgb(lib.GetRGB(c.usable + 1)), (Rgb{0, 0, 0}));
    EXPECT_EQ(ToKcmy(lib.GetCMYK(c.storedCount + 1)), (std::array<int, 4>{0, 0, 0, 0}));
  }
}

// ---------------------------------------------------------------------------------------------
// Legend files.
// ---------------------------------------------------------------------------------------------

constexpr std::size_t kLegendHead = 16;
constexpr std::size_t kLegendEntry = 333;

struct LegendEntry {
  std::int8_t kind;
  std::int32_t paramOffset;
};

// A legend: head, entries (bytes 0..255 carry the entry number, byte 256 the kind, 257 the
// parameter offset), then a parameter area whose byte k holds (k + 1) & 0xFF.
Bytes BuildLegend(const std::vector<LegendEntry>& entries, std::size_t areaSize,
                  std::optional<std::int32_t> storedCount = std::nullopt) {
  Bytes b(kLegendHead, 0);
  PutText(b, 0, "WMAP`D2>");
  Put<std::int32_t>(b, 8, 0x01020304);
  Put<std::int32_t>(b, 12, storedCount.value_or(static_cast<std::int32_t>(entries.size())));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t at = kLegendHead + i * kLegendEntry;
    b.resize(at + kLegendEntry, static_cast<std::uint8_t>(0xA0 + i));
    Put<std::int8_t>(b, at + 256, entries[i].kind);
    Put<std::int32_t>(b, at + 257, entries[i].paramOffset);
  }
  for (std::size_t k = 0; k < areaSize; ++k) b.push_back(static_cast<std::uint8_t>(k + 1));
  return b;
}

struct ParamBuffers {
  MapGis::MAPGIS_LegendItem item;
  MapGis::PNT_INFOstruct point;
  MapGis::LIN_INFOstruct line;
  MapGis::REG_INFOstruct region;
  ParamBuffers() {
    std::memset(&item, 0xEE, sizeof item);
    std::memset(&point, 0xEE, sizeof point);
    std::memset(&line, 0xEE, sizeof line);
    std::memset(&region, 0xEE, sizeof region);
  }
};

bool AllBytes(const void* p, std::size_t n, std::uint8_t value) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  for (std::size_t i = 0; i < n; ++i)
    if (b[i] != value) return false;
  return true;
}

class LegendTest : public ColourLibraryTest {};

TEST_F(LegendTest, ReadsEntriesAndTheirParameterBlocks) {
  const std::vector<LegendEntry> entries = {{1, 0}, {0, 94}, {2, 161}, {3, 0}, {-1, 0}};
  const auto path = Write(BuildLegend(entries, 94 + 67 + 63), "a.lgd");
  MapGis::MapGis_Legend legend;
  ASSERT_EQ(legend.Open(path), 5);
  EXPECT_EQ(legend.GetLegendNum(), 5);
  EXPECT_EQ(std::int32_t{legend.GetHead().entryCount}, 5);

  struct Expect {
    int index;
    int kind;
    std::size_t offset;  // of the block in the parameter area
    std::size_t size;    // 0: nothing read
  };
  const Expect expects[] = {{0, 1, 0, 94}, {1, 0, 94, 67}, {2, 2, 161, 63}, {3, 3, 0, 0}, {4, -1, 0, 0}};
  for (const Expect& e : expects) {
    SCOPED_TRACE(e.index);
    ParamBuffers buf;
    ASSERT_EQ(legend.GetLegendInfo(e.index, &buf.item, &buf.point, &buf.line, &buf.region), e.kind);
    EXPECT_EQ(buf.item.kind, e.kind);
    EXPECT_EQ(buf.item.unused0[0], 0xA0 + e.index);
    const std::uint8_t* got = e.kind == 1   ? buf.point.data
                              : e.kind == 0 ? buf.line.data
                              : e.kind == 2 ? buf.region.data
                                            : nullptr;
    if (got) {
      for (std::size_t k = 0; k < e.size; ++k) ASSERT_EQ(got[k], static_cast<std::uint8_t>(e.offset + k + 1)) << k;
    }
    // The buffers of the other kinds are not touched.
    EXPECT_TRUE(e.kind == 1 || AllBytes(&buf.point, sizeof buf.point, 0xEE));
    EXPECT_TRUE(e.kind == 0 || AllBytes(&buf.line, sizeof buf.line, 0xEE));
    EXPECT_TRUE(e.kind == 2 || AllBytes(&buf.region, sizeof buf.region, 0xEE));
  }
  // Null buffers: the entry alone, or nothing at all.
  EXPECT_EQ(legend.GetLegendInfo(0, nullptr, nullptr, nullptr, nullptr), 1);
}

TEST_F(LegendTest, FileStaysOpenUntilClose) {
  const auto path = Write(BuildLegend({{2, 0}}, 63), "b.lgd");
  MapGis::MapGis_Legend legend;
  ASSERT_EQ(legend.Open(path), 1);
  std::filesystem::remove(path);
  ParamBuffers buf;
  EXPECT_EQ(legend.GetLegendInfo(0, nullptr, nullptr, nullptr, &buf.region), 2);
  EXPECT_EQ(buf.region.data[62], 63);
  EXPECT_TRUE(legend.IsOpen());
  legend.Close();
  EXPECT_FALSE(legend.IsOpen());
  EXPECT_EQ(legend.GetLegendNum(), 0);
  EXPECT_EQ(legend.GetLegendInfo(0, nullptr, nullptr, nullptr, &buf.region), St::ReadFailed);

  MapGis::MapGis_Legend empty;
  ASSERT_EQ(empty.Open(Write(BuildLegend({}, 0), "c.lgd")), 0);
  EXPECT_TRUE(empty.IsOpen());
  EXPECT_EQ(empty.GetLegendNum(), 0);
  EXPECT_EQ(empty.GetLegendInfo(0, &buf.item, nullptr, nullptr, nullptr), St::ReadFailed);
}

TEST_F(LegendTest, BadEntriesAndIndexesGiveReadFailed) {
  const std::vector<LegendEntry> entries = {{1, 1}, {0, -1}, {2, 0x7FFFFFFF}, {1, -2147483647 - 1}};
  MapGis::MapGis_Legend legend;
  ASSERT_EQ(legend.Open(Write(BuildLegend(entries, 94), "d.lgd")), 4);
  ParamBuffers buf;
  for (int index = 0; index < 4; ++index) {
    EXPECT_EQ(legend.GetLegendInfo(index, &buf.item, &buf.point, &buf.line, &buf.region), St::ReadFailed) << index;
  }
  for (int index : {-1, 4, 1 << 30}) {
    EXPECT_EQ(legend.GetLegendInfo(index, &buf.item, &buf.point, &buf.line, &buf.region), St::ReadFailed) << index;
  }
}

TEST_F(LegendTest, RefusedFilesLeaveNothingOpen) {
  const Bytes valid = BuildLegend({{1, 0}}, 94);
  struct Case {
    std::string what;
    Bytes bytes;
    std::int32_t status;
  };
  std::vector<Case> cases;
  for (std::size_t i = 0; i < 8; ++i) {
    Bytes b = valid;
    b[i] ^= 0x01;
    cases.push_back({"magic byte " + std::to_string(i), b, St::BadMagic});
  }
  cases.push_back({"negative count", BuildLegend({{1, 0}}, 94, -3), St::ReadFailed});
  cases.push_back({"count beyond the file", BuildLegend({{1, 0}}, 94, 2), St::ReadFailed});
  cases.push_back({"absurd count", BuildLegend({{1, 0}}, 94, 0x7FFFFFFF), St::ReadFailed});
  cases.push_back({"head cut short", Bytes(valid.begin(), valid.begin() + 15), St::ReadFailed});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MapGis::MapGis_Legend legend;
    ASSERT_EQ(legend.Open(Write(valid, "ok.lgd")), 1);
    EXPECT_EQ(legend.Open(Write(c.bytes, "bad.lgd")), c.status);
    EXPECT_FALSE(legend.IsOpen());
    EXPECT_EQ(legend.GetLegendNum(), 0);
    EXPECT_EQ(legend.GetLegendInfo(0, nullptr, nullptr, nullptr, nullptr), St::ReadFailed);
  }
  MapGis::MapGis_Legend legend;
  EXPECT_EQ(legend.Open(dir_ / "missing.lgd"), St::CannotOpen);
}

TEST_F(LegendTest, DamagedFilesGiveStatusesNeverACrash) {
  const Bytes full = BuildLegend({{1, 0}, {0, 94}, {2, 161}, {5, 3}}, 94 + 67 + 63);
  const auto path = dir_ / "cut.lgd";
  auto exercise = [](MapGis::MapGis_Legend& legend) {
    ParamBuffers buf;
    for (int i = -1; i <= legend.GetLegendNum(); ++i) {
      std::int32_t kind = legend.GetLegendInfo(i, &buf.item, &buf.point, &buf.line, &buf.region);
      ASSERT_TRUE(kind == St::ReadFailed || (kind >= -128 && kind <= 127)) << i;
    }
  };
  MapGis::MapGis_Legend legend;
  // Every length from the whole file down to nothing: one write, then the file is cut shorter.
  ASSERT_TRUE(KvxTest::WriteBytes(path, full));
  for (std::size_t size = full.size() + 1; size-- > 0;) {
    std::filesystem::resize_file(path, size);
    const std::int32_t result = legend.Open(path);
    const bool entriesFit = size >= kLegendHead + 4 * kLegendEntry;
    ASSERT_EQ(result, entriesFit ? 4 : St::ReadFailed) << "size " << size;
    exercise(legend);
  }
  KvxTest::Scrambler scrambler(11);
  for (int round = 0; round < 300; ++round) {
    ASSERT_TRUE(KvxTest::WriteBytes(path, scrambler.Damage(full, 1 + round % 6)));
    const std::int32_t result = legend.Open(path);
    ASSERT_TRUE(result == St::BadMagic || result == St::ReadFailed || (result >= 0 && result <= 4)) << round;
    exercise(legend);
  }
}

// ---------------------------------------------------------------------------------------------
// Symbol libraries.
// ---------------------------------------------------------------------------------------------

class SymbolLibraryTest : public ColourLibraryTest {};

TEST_F(SymbolLibraryTest, ReadsItsHeadAndKeepsTheFileOpen) {
  Bytes bytes;
  for (int i = 0; i < 40; ++i) bytes.push_back(static_cast<std::uint8_t>(i * 3));
  MapGis::MapGis_Symbol symbol;
  ASSERT_EQ(symbol.Open(Write(bytes, "符号.lib")), 0);
  EXPECT_TRUE(symbol.IsOpen());
  EXPECT_EQ(symbol.GetHead().data[25], 75);
  symbol.Close();
  EXPECT_FALSE(symbol.IsOpen());

  EXPECT_EQ(symbol.Open(Write(Bytes(bytes.begin(), bytes.begin() + 25), "short.lib")), St::ReadFailed);
  EXPECT_FALSE(symbol.IsOpen());
  EXPECT_EQ(symbol.Open(dir_ / "missing.lib"), St::CannotOpen);
  EXPECT_FALSE(symbol.IsOpen());
}

}  // namespace
