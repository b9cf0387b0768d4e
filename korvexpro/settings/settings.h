#pragma once

// The user's options. There is one process-wide set of values, AppSettings(): it is loaded from the
// INI file when the program starts and written back when it ends. Only the front ends and the batch
// driver read it; the driver takes a snapshot when each row starts and hands the conversions the
// values they need, so the engine, styles and projection never read it while they run.
//
// The file is $XDG_CONFIG_HOME/Halvard/KorvexPro.ini (or ~/.config/Halvard/KorvexPro.ini), unless the
// command line names another one. Each setting is the entry named by its key in the section of its
// name. Failures are reported through return values; nothing here throws for a bad or missing file.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace Kvx {

struct Settings {
  // Every value at its default. The folder defaults are worked out from the environment now.
  Settings();

  // [FilePath]
  std::string LogPath;   // folder for a diagnostic log file (default: the temporary folder)
  std::string LibPath;   // MapGIS system library folder holding Pcolor.lib (default: <program folder>/Slib)
  std::string WorkPath;  // first folder of the add-files, save-log and export-list dialogs (default: app data)
  std::string OutPath;   // output folder of a batch; empty: beside each source file (default: app data)

  // [General]
  std::int32_t ExportEmptyFile{};  // 0: outputs of an empty result are deleted; otherwise they stay
  std::int32_t LogLevel{};         // 0..3: progress messages go to the operation log; other values: none
  std::int32_t MaxFiles{};         // most files that a folder search collects
  std::int32_t MaxErrors{};        // how many error lines of one kind a conversion logs
  std::int32_t AutoUpdate{};       // the "check for updates" box; stored only
  std::int32_t Jobs{};             // rows a batch converts at once; 0 (or below): one per processor core

  // [Output]
  std::int32_t ExportProjection{};  // 0: no .prj, coordinates unscaled; 1: layer's scale and unit; 2: metres
  std::int32_t ExportLayerIndex{};  // non-zero: a project in the list becomes a layer-index shapefile
  std::string TargetCrs;            // reproject every output to this system (EPSG code, WKT, PROJ); empty: none
  std::string SourceCrs;            // with TargetCrs: used instead of the layer's own system when not empty
  std::string SevenParameters;      // with TargetCrs: "dx,dy,dz,rx,ry,rz,ds" from the source to the target datum
  std::int32_t RequireDatumShift{}; // with TargetCrs: non-zero makes a transformation without datum shift fail
  std::int32_t RepairGeometry{};    // non-zero: regions are made valid (GEOS) before they are written
  std::int32_t Format{};            // 0: shapefiles; 1: a GeoPackage per project or stand-alone layer

  // [Styles]
  std::int32_t SymbolType{};   // drawing parameters written: 0 none, 1 symbol codes, 2 fields, 4 legend codes + AVL
  std::string SymbolFontName;  // marker font written into legends
  std::int32_t ColorModel{};   // 0 RGB, 1 CMYK, 2 MapGIS colour number
  std::int32_t RotateType{};   // 0 mathematical, 1 geographic, 2 graphic angle
  std::int32_t CodePage{};     // 0: text in GBK ("LDID/87"); 1: UTF-8
  std::int32_t QgisStyle{};    // non-zero: a QGIS style (.qml) beside outputs with drawing parameters
  std::string SingleFont;      // font for single-byte text in label markup
  float FontAdjust{};          // font size factor of label markup, kFontAdjustMin..kFontAdjustMax

  // [Affix]
  std::int32_t AffixType{};  // where the kind mark goes in output names: 0 none, 1 prefix, 2 suffix
  std::string Mpjfix;        // mark of project outputs
  std::string Wbfix;         // attribute tables
  std::string Pntfix;        // points
  std::string Linfix;        // lines
  std::string Regfix;        // regions
  std::string Netfix;        // networks
  std::string Annofix;       // annotations
  std::string Arcfix;        // region arcs
  std::string Nodefix;       // network nodes

  // [Workspace] (window state, kept in the same file)
  std::int32_t ThemeStyle{};  // 0 blue, 1 black, 2 grey, 3 silver

  bool operator==(const Settings&) const = default;
};

// The process-wide settings.
Settings& AppSettings();

inline constexpr float kFontAdjustMin = 0.1f;
inline constexpr float kFontAdjustMax = 10.0f;
inline constexpr float kFontAdjustFallback = 1.0f;  // what an unreadable or out-of-range factor becomes
// Folder settings hold at most this many characters; longer text read from the file is cut.
inline constexpr std::size_t kMaxPathChars = 2599;

// ---- The table of settings --------------------------------------------------------------------

enum class SettingType : char {
  Integer = 'I',  // signed 32-bit integer
  String = 'S',   // UTF-8 text
  Float = 'F',    // 32-bit float, stored as text with two decimals
};

// Where a folder default comes from.
enum class DefaultFolder { None, Temp, ProgramSlib, AppData };

struct SettingInfo {
  std::string_view section;
  std::string_view key;
  SettingType type;
  std::string_view defaultText;  // the default as the file writes it (unused for folder defaults)
  DefaultFolder defaultFolder;
  std::variant<std::int32_t Settings::*, float Settings::*, std::string Settings::*> member;
};

// Every setting, in loading order.
std::span<const SettingInfo> SettingTable();

// "Section/Key", both compared without regard to ASCII letter case; nullptr when there is none.
const SettingInfo* FindSetting(std::string_view name);

// "Section/Key" as the table spells it.
std::string SettingName(const SettingInfo& info);

// The value as the file stores it: integers in decimal, the float with two decimals, text as it is.
std::string FormatSetting(const Settings& settings, const SettingInfo& info);

struct SettingCheck {
  bool ok = false;
  std::string message;  // why the text was refused; empty when it was taken
};

// Stores `text` into the setting when it is a value of the setting's type: a 32-bit integer in
// decimal; a number from kFontAdjustMin to kFontAdjustMax; UTF-8 text (folders at most kMaxPathChars
// characters). Otherwise the setting keeps its value and the message says why.
SettingCheck AssignSetting(Settings& settings, const SettingInfo& info, std::string_view text);

// Puts one setting back to its default.
void ResetSetting(Settings& settings, const SettingInfo& info);

// ---- Folders ------------------------------------------------------------------------------------

// The settings file of this user: $XDG_CONFIG_HOME/Halvard/KorvexPro.ini, else under ~/.config.
// Empty when no home folder can be found.
std::filesystem::path DefaultSettingsFile();
// std::filesystem::temp_directory_path(), without a trailing separator ("/tmp" when it fails).
std::filesystem::path TempFolder();
// The folder of the running program (from /proc/self/exe); empty when it cannot be read.
std::filesystem::path ProgramFolder();
// $XDG_DATA_HOME, else ~/.local/share; empty when no home folder can be found.
std::filesystem::path AppDataFolder();

// ---- Loading and saving ---------------------------------------------------------------------------

struct SettingsLoadResult {
  bool fileRead = false;              // the file existed and was read
  std::string error;                  // why an existing file could not be read; empty otherwise
  std::vector<std::string> warnings;  // values replaced by their defaults, lines that were ignored
};

// Sets every setting to its default, then to the value the file holds, in table order. A missing
// file or entry gives the default; so does a value that is not of the setting's type. FontAdjust
// that is not a number or lies outside kFontAdjustMin..kFontAdjustMax becomes kFontAdjustFallback.
SettingsLoadResult LoadSettings(Settings& settings, const std::filesystem::path& file);

struct SettingsSaveResult {
  bool ok = false;
  std::string error;  // why the file was not written
};

// Writes every setting into the file, creating its folder when needed. The file's other lines
// (comments, unknown sections and keys) stay as they were. The file is replaced in one step, so a
// failed save leaves the old file whole; a file that exists but cannot be read is not overwritten.
SettingsSaveResult SaveSettings(const Settings& settings, const std::filesystem::path& file);
// The same for the listed settings only; every other line of the file stays as it is.
SettingsSaveResult SaveSettings(const Settings& settings, const std::filesystem::path& file,
                                std::span<const SettingInfo* const> only);

// LoadSettings(AppSettings(), DefaultSettingsFile()) and SaveSettings(AppSettings(), DefaultSettingsFile()).
SettingsLoadResult LoadSettings();
SettingsSaveResult SaveSettings();

}  // namespace Kvx
