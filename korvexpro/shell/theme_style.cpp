#include "shell/theme_style.h"

namespace Kvx {

std::int32_t ValidThemeStyle(std::int32_t value) {
  return value >= 0 && value < static_cast<std::int32_t>(kThemeNames.size()) ? value : 0;
}

SettingsSaveResult SaveThemeStyle(const Settings& settings, const std::filesystem::path& file) {
  const SettingInfo* info = FindSetting("Workspace/ThemeStyle");
  if (info == nullptr) return {false, "the settings have no Workspace/ThemeStyle"};
  Settings valid = settings;
  valid.ThemeStyle = ValidThemeStyle(settings.ThemeStyle);
  const SettingInfo* const only[] = {info};
  return SaveSettings(valid, file, only);
}

}  // namespace Kvx
