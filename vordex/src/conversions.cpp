// Angle, unit, colour and font-name conversions. All of them are pure functions of their
// arguments; out-of-range input gives a fixed fallback value, never an error.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "vordex/conversions.h"

namespace MapGis {
namespace {

// Brings an angle into [0, 360]: beyond +-360 the whole turns of its integral part are taken
// off (725.5 -> 5.5, -725.5 -> -5.5; 360 and -360 stay), then a negative angle gets one turn.
// fmod of an integral value is exact, so this matches integer division for every magnitude
// without converting a large double to an integer.
double NormaliseAngle(double a) {
  if (a > 360.0 || a < -360.0) {
    const double whole = std::trunc(a);
    a = std::fmod(whole, 360.0) + (a - whole);
  }
  if (a < 0.0) a += 360.0;
  return a;
}

std::uint8_t Byte(int v) { return static_cast<std::uint8_t>(v); }

// (255 - ink) * (255 - black) / 255, truncated.
std::uint8_t Channel(std::uint8_t ink, std::uint8_t black) { return Byte((255 - ink) * (255 - black) / 255); }

// Names are GBK text.
constexpr std::array<std::string_view, 29> kFontNames = {
    "\xB5\xA5\xCF\xDF",          // 0  单线
    "\xCB\xCE\xCC\xE5",          // 1  宋体
    "\xB7\xC2\xCB\xCE",          // 2  仿宋
    "\xBA\xDA\xCC\xE5",          // 3  黑体
    "\xBF\xAC\xCC\xE5",          // 4  楷体
    "\xC1\xA5\xCA\xE9",          // 5  隶书
    "\xB4\xF3\xBA\xDA",          // 6  大黑
    "\xD0\xD0\xBF\xAC",          // 7  行楷
    "\xCE\xBA\xB1\xAE",          // 8  魏碑
    "\xD2\xA6\xCC\xE5",          // 9  姚体
    "\xC3\xC0\xBA\xDA",          // 10 美黑
    "\xC1\xA5\xB1\xE4",          // 11 隶变
    "\xB1\xEA\xCB\xCE",          // 12 标宋
    "\xCF\xB8\xD4\xB2",          // 13 细圆
    "\xB4\xD6\xD4\xB2",          // 14 粗圆
    "\xB7\xC2\xCB\xCE",          // 15 仿宋
    "\xB7\xB1\xB5\xA5\xCF\xDF",  // 16 繁单线
    "\xB7\xB1\xCB\xCE\xCC\xE5",  // 17 繁宋体
    "\xB7\xB1\xB7\xC2\xCB\xCE",  // 18 繁仿宋
    "\xB7\xB1\xBA\xDA\xCC\xE5",  // 19 繁黑体
    "\xB7\xB1\xBF\xAC\xCC\xE5",  // 20 繁楷体
    "\xB7\xB1\xC1\xA5\xB1\xE4",  // 21 繁隶变
    "\xB7\xB1\xB4\xF3\xBA\xDA",  // 22 繁大黑
    "\xB7\xB1\xD0\xD0\xBF\xAC",  // 23 繁行楷
    "\xB7\xB1\xCE\xBA\xB1\xAE",  // 24 繁魏碑
    "\xB7\xB1\xCF\xB8\xD4\xB2",  // 25 繁细圆
    "\xB7\xB1\xB4\xD6\xD4\xB2",  // 26 繁粗圆
    "\xB7\xB1\xC3\xC0\xBA\xDA",  // 27 繁美黑
    "\xB7\xB1\xD7\xDB\xD2\xD5",  // 28 繁综艺
};
constexpr std::int32_t kFallbackFont = 2;

constexpr std::array<std::string_view, 10> kStyleNames = {
    "\xD5\xFD\xCC\xE5",                  // 0 正体
    "\xD7\xF3\xD0\xB1\xCC\xE5",          // 1 左斜体
    "\xD3\xD2\xD0\xB1\xCC\xE5",          // 2 右斜体
    "\xD3\xD2\xCB\xCA\xBC\xE7",          // 3 右耸肩
    "\xD7\xF3\xCB\xCA\xBC\xE7",          // 4 左耸肩
    "\xD5\xFD\xCC\xE5\xD2\xF5\xD3\xB0",  // 5 正体阴影
    "\xD7\xF3\xD0\xB1\xD2\xF5\xD3\xB0",  // 6 左斜阴影
    "\xD3\xD2\xD0\xB1\xD2\xF5\xD3\xB0",  // 7 右斜阴影
    "\xD3\xD2\xCB\xCA\xD2\xF5\xD3\xB0",  // 8 右耸阴影
    "\xD7\xF3\xCB\xCA\xD2\xF5\xD3\xB0",  // 9 左耸阴影
};
constexpr std::int32_t kFallbackStyle = 0;

constexpr bool FitsBuffer(const auto& names) {
  for (std::string_view n : names) {
    if (n.size() + 1 > kFontNameBufferSize) return false;
  }
  return true;
}
static_assert(FitsBuffer(kFontNames) && FitsBuffer(kStyleNames));

// Copies `text` into a buffer of `size` bytes with a terminating zero. Text that does not fit is
// cut before the double-byte character that would be split.
void CopyName(std::string_view text, char* out, std::size_t size) {
  if (out == nullptr || size == 0) return;
  std::size_t n = 0;
  while (n < text.size()) {
    const bool lead = static_cast<unsigned char>(text[n]) >= 0x81 && n + 1 < text.size();
    const std::size_t step = lead ? 2 : 1;
    if (n + step > size - 1) break;
    n += step;
  }
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

template <std::size_t N>
std::string_view Lookup(const std::array<std::string_view, N>& names, std::int32_t index, std::int32_t fallback) {
  if (index < 0 || static_cast<std::size_t>(index) >= N) index = fallback;
  return names[static_cast<std::size_t>(index)];
}

}  // namespace

double DMS2Degree(double packed) {
  const double d = std::trunc(packed / 10000.0);
  const double m = std::trunc(packed / 100.0) - 100.0 * d;
  const double s = packed - 10000.0 * d - 100.0 * m;
  return s / 3600.0 + (d + m / 60.0);
}

double Graphic2Arithmetic(double angle) {
  const double a = NormaliseAngle(angle);
  return a < 270.0 ? a + 90.0 : a - 270.0;
}

double Graphic2Geographic(double angle) { return 360.0 - NormaliseAngle(angle); }

double Arithmetic2Geographic(double angle) {
  const double a = NormaliseAngle(angle);
  if (std::isnan(a)) return a;
  if (a > 90.0) return 450.0 - a;
  return 90.0 - a;  // 0 < a <= 90, and 0 itself: 0 points the same way as 360
}

double QueryUnitScale(std::int32_t unit) {
  static constexpr double kScale[17] = {
      0.001,                   // 0  millimetre
      0.001,                   // 1  millimetre
      1.0,                     // 2  metre
      4.84813681109536e-06,    // 3  second of arc
      0.0174532925199433,      // 4  degree
      174.533,                 // 5  packed degrees-minutes-seconds
      0.3048,                  // 6  foot
      0.0002908882086657216,   // 7  minute of arc
      1.0,                     // 8  radian
      0.015707963267948967,    // 9  grad
      1000.0,                  // 10 kilometre
      0.1,                     // 11 decimetre
      0.01,                    // 12 centimetre
      0.0254,                  // 13 inch
      0.9144,                  // 14 yard
      1852.00001,              // 15 sea mile
      1609.34721869444,        // 16 mile
  };
  if (unit < 0 || unit > 16) return 1.0;
  return kScale[unit];
}

CMYKQUAD RGB2CMYK(RGBTRIPLE rgb) {
  CMYKQUAD out{};
  out.cmykBlack = 0;
  out.cmykCyan = Byte(255 - rgb.rgbtRed);
  out.cmykMagenta = Byte(255 - rgb.rgbtGreen);
  out.cmykYellow = Byte(255 - rgb.rgbtBlue);
  return out;
}

CMYKQUAD RGBA2CMYK(RGBQUAD rgb) {
  RGBTRIPLE t{};
  t.rgbtBlue = rgb.rgbBlue;
  t.rgbtGreen = rgb.rgbGreen;
  t.rgbtRed = rgb.rgbRed;
  return RGB2CMYK(t);
}

RGBTRIPLE CMYK2RGB(CMYKQUAD cmyk) {
  RGBTRIPLE out{};
  out.rgbtRed = Channel(cmyk.cmykCyan, cmyk.cmykBlack);
  out.rgbtGreen = Channel(cmyk.cmykMagenta, cmyk.cmykBlack);
  out.rgbtBlue = Channel(cmyk.cmykYellow, cmyk.cmykBlack);
  return out;
}

RGBQUAD CMYK2RGBA(CMYKQUAD cmyk) {
  const RGBTRIPLE t = CMYK2RGB(cmyk);
  RGBQUAD out{};
  out.rgbBlue = t.rgbtBlue;
  out.rgbGreen = t.rgbtGreen;
  out.rgbRed = t.rgbtRed;
  out.rgbReserved = 255;
  return out;
}

CMYKQUAD MAPGISCLR2CMYK(MAPGIS_Color color, COLORLIB_HEAD head) {
  // A record holds amounts for 28 inks only; a larger count in a damaged head must not read
  // past the record.
  const int inks = std::clamp<int>(head.inkCount, 0, kColorInkAmounts);
  int k = color.base.cmykBlack;
  int c = color.base.cmykCyan;
  int m = color.base.cmykMagenta;
  int y = color.base.cmykYellow;
  for (int i = 0; i < inks; ++i) {
    const int amount = color.inks[i];
    const CMYKQUAD& ink = head.inkTable[i];
    k = std::min(255, k + ink.cmykBlack * amount / 255);
    c = std::min(255, c + ink.cmykCyan * amount / 255);
    m = std::min(255, m + ink.cmykMagenta * amount / 255);
    y = std::min(255, y + ink.cmykYellow * amount / 255);
  }
  CMYKQUAD out{};
  out.cmykBlack = Byte(k);
  out.cmykCyan = Byte(c);
  out.cmykMagenta = Byte(m);
  out.cmykYellow = Byte(y);
  return out;
}

RGBTRIPLE MAPGISCLR2RGB(MAPGIS_Color color, COLORLIB_HEAD head) { return CMYK2RGB(MAPGISCLR2CMYK(color, head)); }

std::int32_t GetFontName(std::int32_t index, char* name) { return GetFontName(index, name, kFontNameBufferSize); }

std::int32_t GetFontName(std::int32_t index, char* name, std::size_t size) {
  CopyName(Lookup(kFontNames, index, kFallbackFont), name, size);
  return index;
}

std::int32_t GetFontStyle(std::int32_t index, char* name) { return GetFontStyle(index, name, kFontNameBufferSize); }

std::int32_t GetFontStyle(std::int32_t index, char* name, std::size_t size) {
  CopyName(Lookup(kStyleNames, index, kFallbackStyle), name, size);
  return index;
}

}  // namespace MapGis
