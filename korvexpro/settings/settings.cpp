#include "settings/settings.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <system_error>

#include "settings/ini_file.h"
#include "vordex/windows_names.h"

namespace Kvx {

namespace fs = std::filesystem;

namespace {

using I = std::int32_t Settings::*;
using F = float Settings::*;
using S = std::string Settings::*;

constexpr SettingType kI = SettingType::Integer;
constexpr SettingType kS = SettingType::String;
constexpr SettingType kF = SettingType::Float;
constexpr DefaultFolder kNo = DefaultFolder::None;

// Loading order. A folder default has no text: it is worked out when the defaults are made.
constexpr SettingInfo kTable[] = {
    {"FilePath", "LogPath", kS, "", DefaultFolder::Temp, S{&Settings::LogPath}},
    {"FilePath", "LibPath", kS, "", DefaultFolder::ProgramSlib, S{&Settings::LibPath}},
    {"FilePath", "WorkPath", kS, "", DefaultFolder::AppData, S{&Settings::WorkPath}},
    {"FilePath", "OutPath", kS, "", DefaultFolder::AppData, S{&Settings::OutPath}},
    {"General", "ExportEmptyFile", kI, "0", kNo, I{&Settings::ExportEmptyFile}},
    {"General", "LogLevel", kI, "3", kNo, I{&Settings::LogLevel}},
    {"General", "MaxFiles", kI, "65536", kNo, I{&Settings::MaxFiles}},
    {"General", "MaxErrors", kI, "64", kNo, I{&Settings::MaxErrors}},
    {"General", "AutoUpdate", kI, "0", kNo, I{&Settings::AutoUpdate}},
    {"Output", "ExportProjection", kI, "1", kNo, I{&Settings::ExportProjection}},
    {"Output", "ExportLayerIndex", kI, "1", kNo, I{&Settings::ExportLayerIndex}},
    {"Styles", "SymbolType", kI, "0", kNo, I{&Settings::SymbolType}},
    {"Styles", "SymbolFontName", kS, "ESRI Default Marker", kNo, S{&Settings::SymbolFontName}},
    {"Styles", "ColorModel", kI, "0", kNo, I{&Settings::ColorModel}},
    {"Styles", "RotateType", kI, "0", kNo, I{&Settings::RotateType}},
    {"Styles", "CodePage", kI, "0", kNo, I{&Settings::CodePage}},
    {"Styles", "SingleFont", kS, "Times New Roman", kNo, S{&Settings::SingleFont}},
    {"Styles", "FontAdjust", kF, "1.10", kNo, F{&Settings::FontAdjust}},
    {"Affix", "AffixType", kI, "1", kNo, I{&Settings::AffixType}},
    {"Affix", "Mpjfix", kS, "M", kNo, S{&Settings::Mpjfix}},
    {"Affix", "Wbfix", kS, "B", kNo, S{&Settings::Wbfix}},
    {"Affix", "Pntfix", kS, "T", kNo, S{&Settings::Pntfix}},
    {"Affix", "Linfix", kS, "L", kNo, S{&Settings::Linfix}},
    {"Affix", "Regfix", kS, "P", kNo, S{&Settings::Regfix}},
    {"Affix", "Netfix", kS, "N", kNo, S{&Settings::Netfix}},
    {"Affix", "Annofix", kS, "A", kNo, S{&Settings::Annofix}},
    {"Affix", "Arcfix", kS, "C", kNo, S{&Settings::Arcfix}},
    {"Affix", "Nodefix", kS, "D", kNo, S{&Settings::Nodefix}},
    {"Workspace", "ThemeStyle", kI, "0", kNo, I{&Settings::ThemeStyle}},
    {"Styles", "QgisStyle", kI, "1", kNo, I{&Settings::QgisStyle}},
    {"General", "Jobs", kI, "0", kNo, I{&Settings::Jobs}},
    {"Output", "TargetCrs", kS, "", kNo, S{&Settings::TargetCrs}},
    {"Output", "SourceCrs", kS, "", kNo, S{&Settings::SourceCrs}},
    {"Output", "SevenParameters", kS, "", kNo, S{&Settings::SevenParameters}},
    {"Output", "RequireDatumShift", kI, "0", kNo, I{&Settings::RequireDatumShift}},
    {"Output", "RepairGeometry", kI, "0", kNo, I{&Settings::RepairGeometry}},
    {"Output", "Format", kI, "0", kNo, I{&Settings::Format}},
};

// Writing order, as indices into kTable: the "General" and "Output" integers, the "Styles" values,
// the folders (WorkPath, LogPath, LibPath, OutPath), the marks, the window state.
constexpr std::size_t kSaveOrder[] = {4,  5,  6,  7,  8,  30, 9,  10, 36, 35, 34, 31, 32, 33, 11, 12, 13, 14, 15,
                                      16, 17, 29, 2,  0,  1,  3,  18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28};
static_assert(std::size(kSaveOrder) == std::size(kTable));

constexpr std::size_t kMaxFileBytes = 16u << 20;  // a settings file is a few kilobytes

bool IsAsciiBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsAsciiBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsAsciiBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A leading '+' is taken, as people write it; from_chars does not.
std::string_view NumberText(std::string_view text) {
  text = TrimBlanks(text);
  if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
  return text;
}

std::optional<std::int32_t> ParseInt32(std::string_view text) {
  text = NumberText(text);
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A finite decimal number ("1.10", "10", "1e-1"); not "nan", "inf" or hexadecimal.
std::optional<double> ParseNumber(std::string_view text) {
  text = NumberText(text);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

bool FontAdjustInRange(float value) { return value >= kFontAdjustMin && value <= kFontAdjustMax; }

// Output/Format names one of the output formats: 0 shapefiles, 1 GeoPackage.
bool IsFormatSetting(const SettingInfo& info) { return info.section == "Output" && info.key == "Format"; }
bool FormatValueValid(std::int32_t value) { return value == 0 || value == 1; }

std::string FormatFloat(float value) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
  return ec == std::errc() ? std::string(buffer, end) : std::string("0.00");
}

// Well-formed UTF-8 without NUL, overlong forms or surrogates.
bool IsValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == 0) return false;
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
      return false;
    }
    i += len;
  }
  return true;
}

// Characters of valid UTF-8 text.
std::size_t Utf8Length(std::string_view s) {
  std::size_t n = 0;
  for (const char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// The first `chars` characters of valid UTF-8 text.
std::string_view Utf8Prefix(std::string_view s, std::size_t chars) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && seen++ == chars) return s.substr(0, i);
  }
  return s;
}

bool IsFolderSetting(const SettingInfo& info) { return info.defaultFolder != DefaultFolder::None; }

// A value for messages: in double quotes, control characters escaped, long text shortened.
std::string Shown(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size() && i < 120; ++i) {
    const auto u = static_cast<unsigned char>(text[i]);
    if (text[i] == '"' || text[i] == '\\') {
      out += '\\';
      out += text[i];
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += text[i];
    }
  }
  if (text.size() > 120) out += "...";
  return out + "\"";
}

std::string WithoutTrailingSlash(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// An XDG base-folder variable: used only when it holds an absolute path.
fs::path XdgFolder(const char* variable) {
  const char* value = std::getenv(variable);
  if (value == nullptr || *value == '\0') return {};
  fs::path folder(WithoutTrailingSlash(value));
  return folder.is_absolute() ? folder : fs::path();
}

fs::path HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') return WithoutTrailingSlash(home);
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384u, '\0');
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return WithoutTrailingSlash(found->pw_dir);
  }
  return {};
}

std::string FolderDefault(DefaultFolder folder) {
  switch (folder) {
    case DefaultFolder::Temp:
      return TempFolder().string();
    case DefaultFolder::ProgramSlib: {
      const fs::path program = ProgramFolder();
      return program.empty() ? std::string("Slib") : (program / "Slib").string();
    }
    case DefaultFolder::AppData: {
      // Without an application-data folder the library folder's default stands in, as before.
      const fs::path data = AppDataFolder();
      return data.empty() ? FolderDefault(DefaultFolder::ProgramSlib) : data.string();
    }
    case DefaultFolder::None:
      break;
  }
  return {};
}

std::string ErrnoText(int error) { return std::generic_category().message(error); }

// Closes a descriptor when it goes out of scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int Get() const { return fd_; }
  // Closes now; false when close reports a failure.
  bool Reset() {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }

 private:
  int fd_;
};

enum class ReadOutcome { Read, Missing, Failed };

ReadOutcome ReadWholeFile(const fs::path& path, std::string& text, std::string& reason) {
  text.clear();
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    if (errno == ENOENT) return ReadOutcome::Missing;
    reason = ErrnoText(errno);
    return ReadOutcome::Failed;
  }
  struct stat info{};
  if (::fstat(fd.Get(), &info) != 0) {
    reason = ErrnoText(errno);
    return ReadOutcome::Failed;
  }
  if (S_ISDIR(info.st_mode)) {
    reason = "it is a folder";
    return ReadOutcome::Failed;
  }
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      reason = ErrnoText(errno);
      return ReadOutcome::Failed;
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > kMaxFileBytes) {
      reason = "it is larger than " + std::to_string(kMaxFileBytes >> 20) + " MiB";
      return ReadOutcome::Failed;
    }
  }
  return ReadOutcome::Read;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t put = ::write(fd, text.data(), text.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

// Follows symbolic links, so that a linked settings file is written where it lives.
fs::path ResolveLinks(fs::path path) {
  std::error_code ec;
  for (int hop = 0; hop < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hop) {
    const fs::path link = fs::read_symlink(path, ec);
    if (ec) break;
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  return path;
}

// Writes `text` to a new file beside `target` and renames it over `target`. When the folder takes
// no new file but `target` exists and is writable, `target` is rewritten in place instead.
SettingsSaveResult ReplaceFile(const fs::path& target, std::string_view text, bool existed) {
  SettingsSaveResult result;
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string temporary = (folder / (target.filename().string() + ".XXXXXX")).string();
  UniqueFd fd(::mkstemp(temporary.data()));
  if (fd.Get() < 0) {
    const int error = errno;
    if (existed && (error == EACCES || error == EPERM)) {
      const UniqueFd direct(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
      if (direct.Get() >= 0 && WriteAll(direct.Get(), text) && ::fsync(direct.Get()) == 0) {
        result.ok = true;
        return result;
      }
    }
    result.error = "cannot create a file in " + folder.string() + ": " + ErrnoText(error);
    return result;
  }
  // Removes the temporary file on every failure path.
  struct Cleanup {
    const std::string& path;
    bool armed = true;
    ~Cleanup() {
      if (armed) ::unlink(path.c_str());
    }
  } cleanup{temporary};

  struct stat old{};
  if (existed && ::stat(target.c_str(), &old) == 0) (void)::fchmod(fd.Get(), old.st_mode & 07777);
  if (!WriteAll(fd.Get(), text) || ::fsync(fd.Get()) != 0) {
    result.error = "cannot write " + temporary + ": " + ErrnoText(errno);
    return result;
  }
  if (!fd.Reset()) {
    result.error = "cannot write " + temporary + ": " + ErrnoText(errno);
    return result;
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    result.error = "cannot replace " + target.string() + ": " + ErrnoText(errno);
    return result;
  }
  cleanup.armed = false;
  result.ok = true;
  return result;
}

}  // namespace

Settings::Settings() {
  for (const auto& info : kTable) ResetSetting(*this, info);
}

Settings& AppSettings() {
  static Settings settings;
  return settings;
}

std::span<const SettingInfo> SettingTable() { return kTable; }

const SettingInfo* FindSetting(std::string_view name) {
  name = TrimBlanks(name);
  const std::size_t slash = name.find('/');
  if (slash == std::string_view::npos) return nullptr;
  const std::string_view section = name.substr(0, slash);
  const std::string_view key = name.substr(slash + 1);
  for (const auto& info : kTable) {
    if (MapGis::SameNameIgnoringCase(info.section, section) && MapGis::SameNameIgnoringCase(info.key, key)) return &info;
  }
  return nullptr;
}

std::string SettingName(const SettingInfo& info) {
  std::string name(info.section);
  name += '/';
  name += info.key;
  return name;
}

std::string FormatSetting(const Settings& settings, const SettingInfo& info) {
  if (const auto* member = std::get_if<I>(&info.member)) return std::to_string(settings.**member);
  if (const auto* member = std::get_if<F>(&info.member)) return FormatFloat(settings.**member);
  return settings.*std::get<S>(info.member);
}

SettingCheck AssignSetting(Settings& settings, const SettingInfo& info, std::string_view text) {
  SettingCheck check;
  const std::string name = SettingName(info);
  if (const auto* member = std::get_if<I>(&info.member)) {
    const auto value = ParseInt32(text);
    if (!value) {
      check.message = name + " takes a whole number from -2147483648 to 2147483647; " + Shown(text) + " is not one";
      return check;
    }
    if (IsFormatSetting(info) && !FormatValueValid(*value)) {
      check.message = name + " takes 0 (shapefiles) or 1 (GeoPackage); " + Shown(text) + " is neither";
      return check;
    }
    settings.**member = *value;
  } else if (const auto* member = std::get_if<F>(&info.member)) {
    const auto value = ParseNumber(text);
    const float number = value ? static_cast<float>(*value) : 0.0f;
    if (!value || !FontAdjustInRange(number)) {
      check.message = name + " takes a number from " + FormatFloat(kFontAdjustMin) + " to " +
                      FormatFloat(kFontAdjustMax) + "; " + Shown(text) + (value ? " is outside" : " is not a number");
      return check;
    }
    settings.**member = number;
  } else {
    if (!IsValidUtf8(text)) {
      check.message = name + " takes UTF-8 text without NUL characters; the value given is not";
      return check;
    }
    if (IsFolderSetting(info) && Utf8Length(text) > kMaxPathChars) {
      check.message = name + " takes a folder of at most " + std::to_string(kMaxPathChars) +
                      " characters; the value given has " + std::to_string(Utf8Length(text));
      return check;
    }
    settings.*std::get<S>(info.member) = std::string(text);
  }
  check.ok = true;
  return check;
}

void ResetSetting(Settings& settings, const SettingInfo& info) {
  if (const auto* member = std::get_if<I>(&info.member)) {
    settings.**member = ParseInt32(info.defaultText).value_or(0);
  } else if (const auto* member = std::get_if<F>(&info.member)) {
    settings.**member = static_cast<float>(ParseNumber(info.defaultText).value_or(kFontAdjustFallback));
  } else if (IsFolderSetting(info)) {
    settings.*std::get<S>(info.member) = FolderDefault(info.defaultFolder);
  } else {
    settings.*std::get<S>(info.member) = std::string(info.defaultText);
  }
}

fs::path DefaultSettingsFile() {
  fs::path config = XdgFolder("XDG_CONFIG_HOME");
  if (config.empty()) {
    const fs::path home = HomeFolder();
    if (home.empty()) return {};
    config = home / ".config";
  }
  return config / "Halvard" / "KorvexPro.ini";
}

fs::path TempFolder() {
  std::error_code ec;
  const fs::path folder = fs::temp_directory_path(ec);
  if (ec || folder.empty()) return "/tmp";
  return WithoutTrailingSlash(folder.string());
}

fs::path ProgramFolder() {
  std::error_code ec;
  const fs::path program = fs::read_symlink("/proc/self/exe", ec);
  if (ec || !program.is_absolute()) return {};
  return program.parent_path();
}

fs::path AppDataFolder() {
  fs::path data = XdgFolder("XDG_DATA_HOME");
  if (!data.empty()) return data;
  const fs::path home = HomeFolder();
  return home.empty() ? fs::path() : home / ".local" / "share";
}

SettingsLoadResult LoadSettings(Settings& settings, const fs::path& file) {
  SettingsLoadResult result;
  settings = Settings();
  if (file.empty()) {
    result.error = "no settings file: neither XDG_CONFIG_HOME nor a home folder is known";
    return result;
  }
  std::string text;
  switch (ReadWholeFile(file, text, result.error)) {
    case ReadOutcome::Missing:
      return result;
    case ReadOutcome::Failed:
      result.error = "cannot read " + file.string() + ": " + result.error;
      return result;
    case ReadOutcome::Read:
      break;
  }
  result.fileRead = true;

  const IniFile ini(text);
  for (const auto& problem : ini.Problems()) result.warnings.push_back(file.string() + ": " + problem);

  for (const auto& info : kTable) {
    const auto value = ini.Find(info.section, info.key);
    if (!value) continue;
    const std::string where = SettingName(info) + " (line " + std::to_string(value->line) + ")";
    const std::string fallback = FormatSetting(settings, info);
    if (!value->valid) {
      result.warnings.push_back(where + ": the quoted value is not closed or holds an unknown escape; using " +
                                Shown(fallback));
      continue;
    }
    if (const auto* member = std::get_if<I>(&info.member)) {
      if (const auto number = ParseInt32(value->text); number && IsFormatSetting(info) && !FormatValueValid(*number)) {
        result.warnings.push_back(where + ": " + Shown(value->text) + " is not 0 (shapefiles) or 1 (GeoPackage); using " +
                                  fallback);
      } else if (number) {
        settings.**member = *number;
      } else {
        result.warnings.push_back(where + ": " + Shown(value->text) + " is not a 32-bit whole number; using " +
                                  fallback);
      }
    } else if (const auto* member = std::get_if<F>(&info.member)) {
      // Text that is no number counts as 0, which lies outside the range like any other stray value.
      const auto number = ParseNumber(value->text);
      const float factor = number ? static_cast<float>(*number) : 0.0f;
      if (FontAdjustInRange(factor)) {
        settings.**member = factor;
      } else {
        settings.**member = kFontAdjustFallback;
        const std::string what = number ? " lies outside " + FormatFloat(kFontAdjustMin) + ".." +
                                              FormatFloat(kFontAdjustMax)
                                        : std::string(" is not a number");
        result.warnings.push_back(where + ": " + Shown(value->text) + what + "; using " +
                                  FormatFloat(kFontAdjustFallback));
      }
    } else {
      std::string& target = settings.*std::get<S>(info.member);
      if (!IsValidUtf8(value->text)) {
        result.warnings.push_back(where + ": the text is not valid UTF-8; using " + Shown(fallback));
      } else if (IsFolderSetting(info) && Utf8Length(value->text) > kMaxPathChars) {
        target = std::string(Utf8Prefix(value->text, kMaxPathChars));
        result.warnings.push_back(where + ": the folder is longer than " + std::to_string(kMaxPathChars) +
                                  " characters and was cut");
      } else {
        target = value->text;
      }
    }
  }
  return result;
}

SettingsSaveResult SaveSettings(const Settings& settings, const fs::path& file,
                                std::span<const SettingInfo* const> only) {
  SettingsSaveResult result;
  if (file.empty()) {
    result.error = "no settings file: neither XDG_CONFIG_HOME nor a home folder is known";
    return result;
  }
  const fs::path target = ResolveLinks(file);

  std::string old;
  std::string reason;
  const ReadOutcome read = ReadWholeFile(target, old, reason);
  if (read == ReadOutcome::Failed) {
    result.error = "cannot read " + target.string() + " (" + reason + "); it was not overwritten";
    return result;
  }
  const bool existed = read == ReadOutcome::Read;

  IniFile ini(old);
  for (const std::size_t index : kSaveOrder) {
    const SettingInfo& info = kTable[index];
    bool wanted = false;
    for (const SettingInfo* chosen : only) wanted = wanted || chosen == &info;
    if (wanted) ini.Set(info.section, info.key, FormatSetting(settings, info));
  }
  const std::string text = ini.Text();
  if (text == old && (existed || text.empty())) {
    result.ok = true;  // nothing to change
    return result;
  }

  if (target.has_parent_path()) {
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
      result.error = "cannot create the folder " + target.parent_path().string() + ": " + ec.message();
      return result;
    }
  }
  return ReplaceFile(target, text, existed);
}

SettingsSaveResult SaveSettings(const Settings& settings, const fs::path& file) {
  std::vector<const SettingInfo*> all;
  for (const auto& info : kTable) all.push_back(&info);
  return SaveSettings(settings, file, all);
}

SettingsLoadResult LoadSettings() { return LoadSettings(AppSettings(), DefaultSettingsFile()); }

SettingsSaveResult SaveSettings() { return SaveSettings(AppSettings(), DefaultSettingsFile()); }

}  // namespace Kvx
