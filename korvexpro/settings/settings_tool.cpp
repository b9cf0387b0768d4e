#include "settings/settings_tool.h"

#include <algorithm>
#include <string>

#include "settings/settings.h"
#include "vordex/windows_names.h"

namespace Kvx {

namespace {

// Text in double quotes with '"', '\' and control characters escaped, so that blanks and empty
// values can be seen.
std::string Quoted(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Shown(const Settings& settings, const SettingInfo& info) {
  const std::string value = FormatSetting(settings, info);
  return info.type == SettingType::String ? Quoted(value) : value;
}

// Finds a setting or explains on `err` why there is none.
const SettingInfo* FindOrExplain(std::string_view command, std::string_view name, std::ostream& err) {
  if (const SettingInfo* info = FindSetting(name)) return info;
  err << "settings " << command << ": unknown setting " << Quoted(name);
  const std::string_view key = name.substr(name.find('/') == std::string_view::npos ? 0 : name.find('/') + 1);
  for (const auto& info : SettingTable()) {
    if (MapGis::SameNameIgnoringCase(info.key, key)) {
      err << "; did you mean " << SettingName(info) << "?\n";
      return nullptr;
    }
  }
  err << "; names are \"Section/Key\", and \"settings list\" shows them all\n";
  return nullptr;
}

// Loads the file for showing values; reports problems on `err`. False when the file could not be read.
bool LoadForShowing(std::string_view command, const std::filesystem::path& file, Settings& settings,
                    std::ostream& err) {
  const SettingsLoadResult loaded = LoadSettings(settings, file);
  for (const auto& warning : loaded.warnings) err << "settings " << command << ": warning: " << warning << '\n';
  if (!loaded.error.empty()) {
    err << "settings " << command << ": " << loaded.error << "; the defaults are shown\n";
    return false;
  }
  return true;
}

}  // namespace

int RunSettingsList(const std::filesystem::path& file, std::ostream& out, std::ostream& err) {
  Settings settings;
  const bool read = LoadForShowing("list", file, settings, err);
  const Settings defaults;
  std::size_t width = 0;
  for (const auto& info : SettingTable()) width = std::max(width, SettingName(info).size());
  for (const auto& info : SettingTable()) {
    const std::string name = SettingName(info);
    out << name << std::string(width + 2 - name.size(), ' ') << static_cast<char>(info.type) << "  "
        << Shown(settings, info) << "  (default " << Shown(defaults, info) << ")\n";
  }
  return read ? kSettingsExitOk : kSettingsExitFailed;
}

int RunSettingsGet(const std::filesystem::path& file, std::string_view name, std::ostream& out, std::ostream& err) {
  const SettingInfo* info = FindOrExplain("get", name, err);
  if (info == nullptr) return kSettingsExitRefused;
  Settings settings;
  const bool read = LoadForShowing("get", file, settings, err);
  out << FormatSetting(settings, *info) << '\n';
  return read ? kSettingsExitOk : kSettingsExitFailed;
}

int RunSettingsSet(const std::filesystem::path& file, std::string_view name, std::string_view value,
                   std::ostream& err) {
  const SettingInfo* info = FindOrExplain("set", name, err);
  if (info == nullptr) return kSettingsExitRefused;
  Settings settings;
  const SettingCheck check = AssignSetting(settings, *info, value);
  if (!check.ok) {
    err << "settings set: " << check.message << '\n';
    return kSettingsExitRefused;
  }
  const SettingInfo* const only[] = {info};
  const SettingsSaveResult saved = SaveSettings(settings, file, only);
  if (!saved.ok) {
    err << "settings set: " << saved.error << '\n';
    return kSettingsExitFailed;
  }
  return kSettingsExitOk;
}

int RunSettingsReset(const std::filesystem::path& file, std::string_view name, std::ostream& err) {
  const Settings defaults;
  SettingsSaveResult saved;
  if (name.empty()) {
    saved = SaveSettings(defaults, file);
  } else {
    const SettingInfo* info = FindOrExplain("reset", name, err);
    if (info == nullptr) return kSettingsExitRefused;
    const SettingInfo* const only[] = {info};
    saved = SaveSettings(defaults, file, only);
  }
  if (!saved.ok) {
    err << "settings reset: " << saved.error << '\n';
    return kSettingsExitFailed;
  }
  return kSettingsExitOk;
}

int RunSettingsPath(const std::filesystem::path& file, std::ostream& out, std::ostream& err) {
  if (file.empty()) {
    err << "settings path: no settings file: neither XDG_CONFIG_HOME nor a home folder is known\n";
    return kSettingsExitFailed;
  }
  out << file.string() << '\n';
  return kSettingsExitOk;
}

}  // namespace Kvx
