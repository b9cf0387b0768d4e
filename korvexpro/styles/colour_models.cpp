#include "styles/colour_models.h"

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "vordex/windows_names.h"

namespace Kvx {
namespace {

// `pattern` with its "%s" replaced by `value`.
std::string Fill(std::string_view pattern, std::string_view value) {
  std::string text(pattern);
  if (const std::size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, value);
  return text;
}

}  // namespace

std::int32_t LoadRulesTraceLevel(std::int32_t logLevel) {
  return (logLevel >= 0 && logLevel <= 3) ? 7 - logLevel : 0;
}

LoadRulesResult StyleContext::ConvertLoadRules(const Settings& settings, Notifier& notifier) {
  if (settings.SymbolType == 0) return LoadRulesResult::Ready;

  std::optional<std::filesystem::path> file;
  // An empty LibPath names no folder; it must not fall back to the working directory.
  if (!settings.LibPath.empty()) file = MapGis::FindColourLibrary(std::filesystem::path(settings.LibPath));
  if (!file) {
    notifier.Message(kAttentionCaption, kColourLibraryMissingText, MessageIcon::Warning);
    return LoadRulesResult::Missing;
  }

  const std::int32_t status = library_.LoadColors(*file);
  if (status < 0) {
    // The library is empty now; saying "using library ..." would hide that every colour is 0.
    libraryFile_.clear();
    notifier.Message(kAttentionCaption, Fill(kColourLibraryUnreadableText, file->string()), MessageIcon::Warning);
    return LoadRulesResult::Missing;
  }
  libraryFile_ = *file;

  if (const std::int32_t level = LoadRulesTraceLevel(settings.LogLevel); level != 0) {
    notifier.Trace(level, Fill(kColourLibraryTraceText, file->string()), Kvx::SourceLocation::current());
  }
  return LoadRulesResult::Ready;
}

MapGis::RGBTRIPLE StyleContext::GetColorRGB(std::int32_t n) const {
  if (n < 0 || n > ColourCount()) return {};
  return library_.GetRGB(n);  // zero for 0
}

MapGis::CMYKQUAD StyleContext::GetColorCMYK(std::int32_t n) const {
  if (n < 0 || n > ColourCount()) return {};
  return library_.GetCMYK(n);
}

std::int32_t StyleContext::PackedRGB(std::int32_t n) const {
  const MapGis::RGBTRIPLE rgb = GetColorRGB(n);
  return static_cast<std::int32_t>(rgb.rgbtRed) | (static_cast<std::int32_t>(rgb.rgbtGreen) << 8) |
         (static_cast<std::int32_t>(rgb.rgbtBlue) << 16);
}

std::int32_t StyleContext::PackedCMYK(std::int32_t n) const {
  const MapGis::CMYKQUAD cmyk = GetColorCMYK(n);
  // Each component is a percentage, so the top byte is at most 100 and the sum stays positive.
  return (static_cast<std::int32_t>(cmyk.cmykCyan) << 24) | (static_cast<std::int32_t>(cmyk.cmykMagenta) << 16) |
         (static_cast<std::int32_t>(cmyk.cmykYellow) << 8) | static_cast<std::int32_t>(cmyk.cmykBlack);
}

std::int32_t StyleContext::GetColorValue(std::int32_t n, std::int32_t colorModel) const {
  switch (colorModel) {
    case 0:
      return PackedRGB(n);
    case 1:
      return PackedCMYK(n);
    case 2:
      return n;
    default:
      return 0;
  }
}

double ConvertAngle(std::int32_t model, double angle) {
  switch (model) {
    case 0:
      return MapGis::Graphic2Arithmetic(angle);
    case 1:
      return MapGis::Graphic2Geographic(angle);
    case 2:
      return angle;
    default:
      return 0.0;
  }
}

double GetAngleValue(double angle, std::int32_t rotateType) { return ConvertAngle(rotateType, angle); }

}  // namespace Kvx
