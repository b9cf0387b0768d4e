// Angle, packed-DMS, unit, colour-model and font-name conversions, and the bound sentinels.

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "vordex/conversions.h"
#include "vordex/geometry.h"
#include "vordex/text_encoding.h"

namespace {

using MapGis::CMYKQUAD;
using MapGis::COLORLIB_HEAD;
using MapGis::MAPGIS_Color;
using MapGis::RGBQUAD;
using MapGis::RGBTRIPLE;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---------------------------------------------------------------------------------------------
// Bound sentinels.
// ---------------------------------------------------------------------------------------------

TEST(ConvBoundSentinels, BitPatterns) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(MapGis::kBoundMin), 0x7FB99999999999AAull);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(MapGis::kBoundMax), 0xFFB99999999999AAull);
  EXPECT_LT(MapGis::kBoundMin, std::numeric_limits<double>::max());

  MapGis::Geometry* g = MapGis::CreateGeometry();
  ASSERT_NE(g, nullptr);
  for (double v : {g->xMin, g->yMin, g->zMin, g->mMin}) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(v), 0x7FB99999999999AAull);
  }
  for (double v : {g->xMax, g->yMax, g->zMax, g->mMax}) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(v), 0xFFB99999999999AAull);
  }
  MapGis::DestroyGeometry(g);
}

// ---------------------------------------------------------------------------------------------
// Packed degrees-minutes-seconds.
// ---------------------------------------------------------------------------------------------

struct DmsCase {
  double packed;
  double degrees;
};

const DmsCase kDmsCases[] = {
    {1173015.5, 117.0 + 30.0 / 60.0 + 15.5 / 3600.0},
    {1173000.0, 117.5},
    {-1173000.0, -117.5},
    {-1173015.5, -(117.0 + 30.0 / 60.0 + 15.5 / 3600.0)},
    {0.0, 0.0},
    {300.0, 0.05},                  // 3 minutes
    {45.0, 45.0 / 3600.0},          // seconds only
    {1176000.0, 118.0},             // 60 minutes are not rejected, they add in
    {1170075.0, 117.0 + 75.0 / 3600.0},
    {-300.0, -0.05},
    {1800000.0, 180.0},
};

TEST(ConvDms, Table) {
  for (const DmsCase& c : kDmsCases) {
    SCOPED_TRACE(testing::Message() << "packed " << c.packed);
    EXPECT_NEAR(MapGis::DMS2Degree(c.packed), c.degrees, 1e-12);
  }
  EXPECT_TRUE(std::isnan(MapGis::DMS2Degree(kNaN)));
}

// ---------------------------------------------------------------------------------------------
// Angle conventions.
// ---------------------------------------------------------------------------------------------

struct AngleCase {
  double in;
  double graphicToArithmetic;
  double graphicToGeographic;
  double arithmeticToGeographic;
};

const AngleCase kAngleCases[] = {
    {0, 90, 360, 90},  // 0 points the same way as 360 for the arithmetic angle
    {45, 135, 315, 45},
    {90, 180, 270, 0},
    {180, 270, 180, 270},
    {269, 359, 91, 181},
    {270, 0, 90, 180},
    {359.5, 89.5, 0.5, 90.5},
    {360, 90, 0, 90},
    {-90, 0, 90, 180},      // becomes 270
    {-270, 180, 270, 0},    // becomes 90
    {-360, 90, 360, 90},    // not reduced, becomes 0
    {360.5, 90.5, 359.5, 89.5},
    {720, 90, 360, 90},
    {725, 95, 355, 85},
    {725.5, 95.5, 354.5, 84.5},
    {-725.5, 84.5, 5.5, 95.5},  // becomes -5.5, then 354.5
    {-1e-9, 90 - 1e-9, 1e-9, 90 + 1e-9},
};

TEST(ConvAngles, Table) {
  for (const AngleCase& c : kAngleCases) {
    SCOPED_TRACE(testing::Message() << "angle " << c.in);
    EXPECT_NEAR(MapGis::Graphic2Arithmetic(c.in), c.graphicToArithmetic, 1e-9);
    EXPECT_NEAR(MapGis::Graphic2Geographic(c.in), c.graphicToGeographic, 1e-9);
    EXPECT_NEAR(MapGis::Arithmetic2Geographic(c.in), c.arithmeticToGeographic, 1e-9);
  }
}

TEST(ConvAngles, HugeAndNonFiniteInput) {
  // 1e20 is 280 modulo 360: reduced exactly, without an integer overflow.
  EXPECT_DOUBLE_EQ(MapGis::Graphic2Geographic(1e20), 80.0);
  EXPECT_DOUBLE_EQ(MapGis::Graphic2Arithmetic(-1e20), 170.0);  // -280 -> 80
  for (double a : {kNaN, kInf, -kInf}) {
    EXPECT_TRUE(std::isnan(MapGis::Graphic2Arithmetic(a)));
    EXPECT_TRUE(std::isnan(MapGis::Graphic2Geographic(a)));
    EXPECT_TRUE(std::isnan(MapGis::Arithmetic2Geographic(a)));
  }
}

// ---------------------------------------------------------------------------------------------
// Unit scale.
// ---------------------------------------------------------------------------------------------

struct UnitCase {
  std::int32_t code;
  double scale;
};

const UnitCase kUnitCases[] = {
    {0, 0.001},
    {1, 0.001},
    {2, 1.0},
    {3, 4.84813681109536e-06},
    {4, 0.0174532925199433},
    {5, 174.533},
    {6, 0.3048},
    {7, 0.0002908882086657216},
    {8, 1.0},
    {9, 0.015707963267948967},
    {10, 1000.0},
    {11, 0.1},
    {12, 0.01},
    {13, 0.0254},
    {14, 0.9144},
    {15, 1852.00001},
    {16, 1609.34721869444},
    {17, 1.0},
    {-1, 1.0},
    {INT_MIN, 1.0},
    {INT_MAX, 1.0},
};

TEST(ConvUnits, Table) {
  for (const UnitCase& c : kUnitCases) {
    SCOPED_TRACE(testing::Message() << "unit " << c.code);
    EXPECT_EQ(MapGis::QueryUnitScale(c.code), c.scale);  // the stored literal, bit for bit
  }
}

// ---------------------------------------------------------------------------------------------
// Colour models.
// ---------------------------------------------------------------------------------------------

RGBTRIPLE Rgb(int r, int g, int b) {
  RGBTRIPLE t{};
  t.rgbtRed = static_cast<std::uint8_t>(r);
  t.rgbtGreen = static_cast<std::uint8_t>(g);
  t.rgbtBlue = static_cast<std::uint8_t>(b);
  return t;
}

CMYKQUAD Cmyk(int c, int m, int y, int k) {
  CMYKQUAD q{};
  q.cmykCyan = static_cast<std::uint8_t>(c);
  q.cmykMagenta = static_cast<std::uint8_t>(m);
  q.cmykYellow = static_cast<std::uint8_t>(y);
  q.cmykBlack = static_cast<std::uint8_t>(k);
  return q;
}

void ExpectCmyk(const CMYKQUAD& got, int c, int m, int y, int k) {
  EXPECT_EQ(got.cmykCyan, c);
  EXPECT_EQ(got.cmykMagenta, m);
  EXPECT_EQ(got.cmykYellow, y);
  EXPECT_EQ(got.cmykBlack, k);
}

void ExpectRgb(const RGBTRIPLE& got, int r, int g, int b) {
  EXPECT_EQ(got.rgbtRed, r);
  EXPECT_EQ(got.rgbtGreen, g);
  EXPECT_EQ(got.rgbtBlue, b);
}

TEST(ConvColour, MemoryOrder) {
  const std::uint8_t tripleBytes[3] = {1, 2, 3};  // blue, green, red
  RGBTRIPLE t{};
  std::memcpy(&t, tripleBytes, sizeof t);
  ExpectRgb(t, 3, 2, 1);
  const std::uint8_t cmykBytes[4] = {10, 20, 30, 40};  // black, cyan, magenta, yellow
  CMYKQUAD q{};
  std::memcpy(&q, cmykBytes, sizeof q);
  ExpectCmyk(q, 20, 30, 40, 10);
}

struct RgbToCmykCase {
  int r, g, b;
  int c, m, y, k;
};

const RgbToCmykCase kRgbToCmykCases[] = {
    {0, 0, 0, 255, 255, 255, 0},  // black stays black: one formula for every colour
    {255, 255, 255, 0, 0, 0, 0},
    {255, 0, 0, 0, 255, 255, 0},
    {0, 255, 0, 255, 0, 255, 0},
    {0, 0, 255, 255, 255, 0, 0},
    {1, 2, 3, 254, 253, 252, 0},
    {128, 64, 200, 127, 191, 55, 0},
};

TEST(ConvColour, RgbToCmyk) {
  for (const RgbToCmykCase& c : kRgbToCmykCases) {
    SCOPED_TRACE(testing::Message() << "rgb " << c.r << "," << c.g << "," << c.b);
    ExpectCmyk(MapGis::RGB2CMYK(Rgb(c.r, c.g, c.b)), c.c, c.m, c.y, c.k);
    for (int reserved : {0, 255}) {
      RGBQUAD q{};
      q.rgbRed = static_cast<std::uint8_t>(c.r);
      q.rgbGreen = static_cast<std::uint8_t>(c.g);
      q.rgbBlue = static_cast<std::uint8_t>(c.b);
      q.rgbReserved = static_cast<std::uint8_t>(reserved);
      ExpectCmyk(MapGis::RGBA2CMYK(q), c.c, c.m, c.y, c.k);
    }
  }
}

struct CmykToRgbCase {
  int c, m, y, k;
  int r, g, b;
};

const CmykToRgbCase kCmykToRgbCases[] = {
    {0, 0, 0, 0, 255, 255, 255},
    {0, 0, 0, 255, 0, 0, 0},
    {255, 128, 7, 255, 0, 0, 0},  // full black whatever the other inks
    {255, 0, 0, 0, 0, 255, 255},
    {0, 0, 0, 128, 127, 127, 127},
    {1, 1, 1, 1, 253, 253, 253},  // 254 * 254 / 255 = 253.004, truncated
    {100, 200, 50, 10, 148, 52, 196},
};

TEST(ConvColour, CmykToRgb) {
  for (const CmykToRgbCase& c : kCmykToRgbCases) {
    SCOPED_TRACE(testing::Message() << "cmyk " << c.c << "," << c.m << "," << c.y << "," << c.k);
    ExpectRgb(MapGis::CMYK2RGB(Cmyk(c.c, c.m, c.y, c.k)), c.r, c.g, c.b);
    const RGBQUAD q = MapGis::CMYK2RGBA(Cmyk(c.c, c.m, c.y, c.k));
    EXPECT_EQ(q.rgbRed, c.r);
    EXPECT_EQ(q.rgbGreen, c.g);
    EXPECT_EQ(q.rgbBlue, c.b);
    EXPECT_EQ(q.rgbReserved, 255);
  }
}

TEST(ConvColour, RgbSurvivesTheRoundTrip) {
  for (int v = 0; v < 256; ++v) {
    const RGBTRIPLE in = Rgb(v, 255 - v, v / 2);
    const RGBTRIPLE out = MapGis::CMYK2RGB(MapGis::RGB2CMYK(in));
    ExpectRgb(out, in.rgbtRed, in.rgbtGreen, in.rgbtBlue);
  }
}

struct InkMixCase {
  const char* name;
  int inkCount;
  CMYKQUAD base;
  // Up to two inks, each set at the given table index with the given amount.
  int inkIndex[2];
  CMYKQUAD ink[2];
  int amount[2];
  CMYKQUAD mixed;
};

const InkMixCase kInkMixCases[] = {
    {"no inks: the base colour", 0, Cmyk(10, 20, 30, 40), {0, 1}, {Cmyk(200, 0, 0, 0), Cmyk(0, 0, 0, 0)}, {255, 0},
     Cmyk(10, 20, 30, 40)},
    {"negative ink count: the base colour", -3, Cmyk(10, 20, 30, 40), {0, 1}, {Cmyk(200, 0, 0, 0), Cmyk(0, 0, 0, 0)},
     {255, 0}, Cmyk(10, 20, 30, 40)},
    {"saturates at 255", 1, Cmyk(100, 0, 0, 0), {0, 1}, {Cmyk(200, 0, 0, 0), Cmyk(0, 0, 0, 0)}, {255, 0},
     Cmyk(255, 0, 0, 0)},
    {"amount scales the ink, truncated", 1, Cmyk(100, 0, 0, 0), {0, 1}, {Cmyk(200, 0, 0, 0), Cmyk(0, 0, 0, 0)},
     {128, 0}, Cmyk(200, 0, 0, 0)},  // 200 * 128 / 255 = 100.4
    {"two inks add up", 2, Cmyk(0, 0, 0, 0), {0, 1}, {Cmyk(0, 100, 0, 0), Cmyk(0, 100, 0, 50)}, {255, 255},
     Cmyk(0, 200, 0, 50)},
    {"two inks saturate together", 2, Cmyk(0, 0, 0, 200), {0, 1}, {Cmyk(0, 0, 0, 40), Cmyk(0, 0, 0, 40)}, {255, 255},
     Cmyk(0, 0, 0, 255)},
    {"inks beyond the count are ignored", 1, Cmyk(0, 0, 0, 0), {0, 1}, {Cmyk(0, 0, 0, 0), Cmyk(0, 0, 99, 0)},
     {255, 255}, Cmyk(0, 0, 0, 0)},
    {"ink 27, the last a record holds, is used", 28, Cmyk(0, 0, 0, 0), {27, 0}, {Cmyk(0, 0, 77, 0), Cmyk(0, 0, 0, 0)},
     {255, 0}, Cmyk(0, 0, 77, 0)},
    // A damaged head may name up to 36 inks; a record has amounts for 28 only.
    {"ink count above 28 uses 28 inks", 36, Cmyk(0, 0, 0, 0), {28, 27}, {Cmyk(255, 255, 255, 255), Cmyk(5, 0, 0, 0)},
     {255, 255}, Cmyk(5, 0, 0, 0)},
};

TEST(ConvColour, InkMixing) {
  for (const InkMixCase& c : kInkMixCases) {
    SCOPED_TRACE(c.name);
    MAPGIS_Color color{};
    color.base = c.base;
    COLORLIB_HEAD head{};
    std::memcpy(head.magic, "PCOLOR 3", 8);
    head.inkCount = static_cast<std::int16_t>(c.inkCount);
    for (int i = 0; i < 2; ++i) {
      head.inkTable[c.inkIndex[i]] = c.ink[i];
      if (c.inkIndex[i] < MapGis::kColorInkAmounts) {
        color.inks[c.inkIndex[i]] = static_cast<std::uint8_t>(c.amount[i]);
      }
    }
    const CMYKQUAD mixed = MapGis::MAPGISCLR2CMYK(color, head);
    ExpectCmyk(mixed, c.mixed.cmykCyan, c.mixed.cmykMagenta, c.mixed.cmykYellow, c.mixed.cmykBlack);
    const RGBTRIPLE want = MapGis::CMYK2RGB(c.mixed);
    ExpectRgb(MapGis::MAPGISCLR2RGB(color, head), want.rgbtRed, want.rgbtGreen, want.rgbtBlue);
  }
}

TEST(ConvColour, SaturatedCyanGivesRgbWithoutRed) {
  MAPGIS_Color color{};
  color.base = Cmyk(100, 0, 0, 0);
  color.inks[0] = 255;
  COLORLIB_HEAD head{};
  head.inkCount = 1;
  head.inkTable[0] = Cmyk(200, 0, 0, 0);
  ExpectRgb(MapGis::MAPGISCLR2RGB(color, head), 0, 255, 255);
}

// ---------------------------------------------------------------------------------------------
// Font and style names.
// ---------------------------------------------------------------------------------------------

struct NameCase {
  std::int32_t index;
  const char* utf8;
};

const NameCase kFontCases[] = {
    {0, "单线"},    {1, "宋体"},    {2, "仿宋"},    {3, "黑体"},    {4, "楷体"},    {5, "隶书"},
    {6, "大黑"},    {7, "行楷"},    {8, "魏碑"},    {9, "姚体"},    {10, "美黑"},   {11, "隶变"},
    {12, "标宋"},   {13, "细圆"},   {14, "粗圆"},   {15, "仿宋"},   {16, "繁单线"}, {17, "繁宋体"},
    {18, "繁仿宋"}, {19, "繁黑体"}, {20, "繁楷体"}, {21, "繁隶变"}, {22, "繁大黑"}, {23, "繁行楷"},
    {24, "繁魏碑"}, {25, "繁细圆"}, {26, "繁粗圆"}, {27, "繁美黑"}, {28, "繁综艺"},
    {29, "仿宋"},   {-1, "仿宋"},   {1000, "仿宋"}, {INT_MIN, "仿宋"}, {INT_MAX, "仿宋"},
};

const NameCase kStyleCases[] = {
    {0, "正体"},      {1, "左斜体"},    {2, "右斜体"},    {3, "右耸肩"},    {4, "左耸肩"},
    {5, "正体阴影"},  {6, "左斜阴影"},  {7, "右斜阴影"},  {8, "右耸阴影"},  {9, "左耸阴影"},
    {10, "正体"},     {-1, "正体"},     {INT_MIN, "正体"}, {INT_MAX, "正体"},
};

using NameFn = std::int32_t (*)(std::int32_t, char*);

void CheckNames(NameFn fn, const NameCase* cases, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const NameCase& c = cases[i];
    SCOPED_TRACE(testing::Message() << "index " << c.index);
    char buffer[32];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(fn(c.index, buffer), c.index);
    const std::size_t length = std::strlen(buffer);
    EXPECT_LT(length, MapGis::kFontNameBufferSize);
    EXPECT_EQ(buffer[MapGis::kFontNameBufferSize], 'Z');  // nothing written past the documented size
    EXPECT_EQ(MapGis::GbkToUtf8(std::string(buffer, length)), c.utf8);
    EXPECT_EQ(MapGis::Utf8ToGbk(c.utf8), std::string(buffer, length));
  }
}

TEST(ConvFontNames, FontTable) { CheckNames(MapGis::GetFontName, kFontCases, std::size(kFontCases)); }

TEST(ConvFontNames, StyleTable) { CheckNames(MapGis::GetFontStyle, kStyleCases, std::size(kStyleCases)); }

TEST(ConvFontNames, GbkBytes) {
  char buffer[MapGis::kFontNameBufferSize];
  MapGis::GetFontName(1, buffer);
  EXPECT_STREQ(buffer, "\xCB\xCE\xCC\xE5");
  MapGis::GetFontStyle(5, buffer);
  EXPECT_STREQ(buffer, "\xD5\xFD\xCC\xE5\xD2\xF5\xD3\xB0");
}

struct BoundedCase {
  bool style;
  std::int32_t index;
  std::size_t size;
  const char* utf8;  // what the buffer holds afterwards
};

const BoundedCase kBoundedCases[] = {
    {false, 16, 7, "繁单线"},  // exactly fits
    {false, 16, 6, "繁单"},    // cut before the character that does not fit
    {false, 16, 5, "繁单"},
    {false, 16, 4, "繁"},
    {false, 16, 2, ""},        // no whole character fits
    {false, 16, 1, ""},
    {true, 5, 9, "正体阴影"},
    {true, 5, 8, "正体阴"},
};

TEST(ConvFontNames, BoundedBuffer) {
  for (const BoundedCase& c : kBoundedCases) {
    SCOPED_TRACE(testing::Message() << "index " << c.index << " size " << c.size);
    char buffer[16];
    std::memset(buffer, 'Z', sizeof buffer);
    const std::int32_t got = c.style ? MapGis::GetFontStyle(c.index, buffer, c.size)
                                     : MapGis::GetFontName(c.index, buffer, c.size);
    EXPECT_EQ(got, c.index);
    const std::size_t length = std::strlen(buffer);
    EXPECT_LT(length, c.size);
    EXPECT_EQ(buffer[c.size], 'Z');
    EXPECT_EQ(MapGis::GbkToUtf8(std::string(buffer, length)), c.utf8);
  }
}

TEST(ConvFontNames, NoBufferIsNotWritten) {
  EXPECT_EQ(MapGis::GetFontName(3, nullptr), 3);
  EXPECT_EQ(MapGis::GetFontStyle(-7, nullptr), -7);
  char one = 'Z';
  EXPECT_EQ(MapGis::GetFontName(3, &one, 0), 3);
  EXPECT_EQ(one, 'Z');
}

}  // namespace
