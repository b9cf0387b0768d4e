#pragma once

// Colours and angles of MapGIS features as the conversions write them.
//
// A feature names its colours by number in the MapGIS colour library (Pcolor.lib of the system
// library folder, the setting LibPath). StyleContext owns that library: whoever drives conversions
// (the GUI's main view, the command-line batch) creates one, loads the library with
// ConvertLoadRules before a styled batch and hands it to every conversion, which only reads it.
// The library stays loaded until the next ConvertLoadRules or until the context goes.
//
// Colour models (setting ColorModel) of the colour fields:
//   0  packed RGB  red + 256 * green + 65536 * blue          (hex digits read BBGGRR)
//   1  packed CMYK 16777216 * C + 65536 * M + 256 * Y + K    (percentages; hex digits CCMMYYKK)
//   2  the colour number itself, unchanged and untested
//   other values give 0.
// Angle models (setting RotateType) for MapGIS graphic angles:
//   0  arithmetic angle (Graphic2Arithmetic)   1  geographic angle (Graphic2Geographic)
//   2  unchanged                               other values give 0.

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "settings/settings.h"
#include "styles/notifier.h"
#include "vordex/colour_library.h"
#include "vordex/conversions.h"

namespace Kvx {

// The file name of the colour library inside LibPath (found in any letter case).
inline constexpr std::string_view kColourLibraryName = "Pcolor.lib";
// Shown when LibPath holds no colour library ("no matching colour library set, or it does not exist").
inline constexpr std::string_view kColourLibraryMissingText = "未设定匹配色标库文件或者指定色标库文件不存在!";
// Shown when the colour library exists but cannot be read ("the colour library cannot be read").
inline constexpr std::string_view kColourLibraryUnreadableText = "色标库文件无法读取:[%s]";
// The trace message naming the library in use.
inline constexpr std::string_view kColourLibraryTraceText = "使用MapGIS颜色库:[%s]";

// What ConvertLoadRules did.
enum class LoadRulesResult : std::int32_t {
  Missing = 0,  // no colour library in LibPath, or it could not be read: every colour is 0
  Ready = 1,    // the library is loaded, or the symbol mode needs none
};

class StyleContext {
 public:
  // An empty library: every colour lookup gives zero until ConvertLoadRules loads one.
  StyleContext() = default;

  // Loads the colour library for a styled batch, by the settings:
  //  - SymbolType 0: nothing is loaded (what was loaded stays), Ready;
  //  - no Pcolor.lib (any letter case) in LibPath, or LibPath empty: the message
  //    kColourLibraryMissingText (caption "注意", warning), Missing;
  //  - a library that cannot be read: the message kColourLibraryUnreadableText, the library is
  //    left empty, Missing;
  //  - otherwise the library replaces the one held, the trace kColourLibraryTraceText (filled with
  //    the path) at level 7, 6, 5 or 4 for LogLevel 0, 1, 2 or 3 (no trace for other values), Ready.
  // Callers may convert whatever the result: with no library every colour is 0.
  LoadRulesResult ConvertLoadRules(const Settings& settings, Notifier& notifier);

  // The colour library held, and the file it came from (empty before a successful load).
  const MapGis::MapGis_ColorLib& ColorLib() const { return library_; }
  const std::filesystem::path& LibraryFile() const { return libraryFile_; }

  // Number of colours that can be looked up; colour numbers 1..ColourCount() are valid.
  std::int32_t ColourCount() const { return library_.GetColorNum(); }

  // Colour n as RGB (blue, green, red); all zero for 0 and numbers outside 1..ColourCount().
  MapGis::RGBTRIPLE GetColorRGB(std::int32_t n) const;
  // Colour n in percent per component; all zero for 0 and numbers outside 1..ColourCount().
  MapGis::CMYKQUAD GetColorCMYK(std::int32_t n) const;

  // red + 256 * green + 65536 * blue of GetColorRGB(n), 0..0xFFFFFF.
  std::int32_t PackedRGB(std::int32_t n) const;
  // 16777216 * C + 65536 * M + 256 * Y + K of GetColorCMYK(n); at most 0x64646464.
  std::int32_t PackedCMYK(std::int32_t n) const;

  // The value of colour n in a colour field by `colorModel` (see the top of this file). The result
  // is the 32-bit pattern of the value: models 0 and 1 are never negative, and model 2 gives the
  // colour number itself, sign included, as the fields store it.
  std::int32_t GetColorValue(std::int32_t n, std::int32_t colorModel) const;

 private:
  MapGis::MapGis_ColorLib library_;
  std::filesystem::path libraryFile_;
};

// A MapGIS graphic angle (degrees) by the angle model `model` (see the top of this file).
double ConvertAngle(std::int32_t model, double angle);
// The same, named as the point and network-node symbol angles use it: `rotateType` is the run's
// setting RotateType.
double GetAngleValue(double angle, std::int32_t rotateType);

// The trace level that ConvertLoadRules reports at for a LogLevel: 7 - LogLevel for 0..3; 0 (no
// trace) for other values.
std::int32_t LoadRulesTraceLevel(std::int32_t logLevel);

}  // namespace Kvx
