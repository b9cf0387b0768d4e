#pragma once

// The visual theme of the main window: Workspace/ThemeStyle in the settings file, read at start-up
// and written whenever a theme is applied.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "settings/settings.h"

namespace Kvx {

// The themes, by ThemeStyle value.
inline constexpr std::array<std::string_view, 4> kThemeNames = {"蓝色主题", "黑色主题", "灰色主题", "银色主题"};

// `value` when it names a theme (0 to 3), otherwise 0.
std::int32_t ValidThemeStyle(std::int32_t value);

// Writes Workspace/ThemeStyle (made valid) into `file`; every other line of the file stays as it is.
SettingsSaveResult SaveThemeStyle(const Settings& settings, const std::filesystem::path& file);

}  // namespace Kvx
