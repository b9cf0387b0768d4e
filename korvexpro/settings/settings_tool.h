#pragma once

// The operations of the command line's "settings" command on one settings file, with their output.
// Each returns the exit status: kSettingsExitOk when done; kSettingsExitFailed when the file could
// not be read or written; kSettingsExitRefused for an unknown setting or a value that the setting
// does not take, in which case the file is left exactly as it was.

#include <filesystem>
#include <ostream>
#include <string_view>

namespace Kvx {

inline constexpr int kSettingsExitOk = 0;
inline constexpr int kSettingsExitFailed = 1;
inline constexpr int kSettingsExitRefused = 2;

// One line per setting, in loading order: "Section/Key", type letter, value and default (text in
// double quotes). Problems found while reading the file go to `err`.
int RunSettingsList(const std::filesystem::path& file, std::ostream& out, std::ostream& err);

// The value of one setting ("Section/Key") as the file stores it, on a line of its own.
int RunSettingsGet(const std::filesystem::path& file, std::string_view name, std::ostream& out, std::ostream& err);

// Checks `value` against the setting's type and writes it into the file; no other line changes.
int RunSettingsSet(const std::filesystem::path& file, std::string_view name, std::string_view value,
                   std::ostream& err);

// Writes the default of one setting, or of all of them when `name` is empty.
int RunSettingsReset(const std::filesystem::path& file, std::string_view name, std::ostream& err);

// The path of the settings file in use.
int RunSettingsPath(const std::filesystem::path& file, std::ostream& out, std::ostream& err);

}  // namespace Kvx
