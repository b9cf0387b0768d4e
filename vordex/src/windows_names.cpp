#include "vordex/windows_names.h"

#include <string>
#include <system_error>
#include <vector>

#include "vordex/text_encoding.h"

namespace MapGis {
namespace fs = std::filesystem;

namespace {

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsRegularFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(p, ec);
}

// The entry names of `folder`; none when it cannot be read.
std::vector<std::string> ListNames(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    names.push_back(it->path().filename().string());
  }
  return names;
}

// The entry of `folder` named `name` without regard to letter case; with `wantFile` only regular
// files (symbolic links followed) count, otherwise only folders.
std::optional<fs::path> FindEntry(const fs::path& folder, std::string_view name, bool wantFile,
                                  FolderNames* listed) {
  if (name.empty()) return std::nullopt;
  auto fits = [wantFile](const fs::path& p) {
    std::error_code ec;
    return wantFile ? fs::is_regular_file(p, ec) : fs::is_directory(p, ec);
  };
  fs::path exact = folder / fs::path(std::string(name));
  if (fits(exact)) return exact;

  std::vector<std::string> own;
  if (listed == nullptr) own = ListNames(folder);
  const std::vector<std::string>& names = listed != nullptr ? listed->Of(folder) : own;
  const std::string* best = nullptr;
  for (const std::string& entry : names) {
    if (!SameNameIgnoringCase(entry, name)) continue;
    if (best != nullptr && !(entry < *best)) continue;
    if (!fits(folder / entry)) continue;
    best = &entry;
  }
  if (best == nullptr) return std::nullopt;
  return folder / fs::path(*best);
}

bool HasDriveLetter(std::string_view name) {
  if (name.size() < 2 || name[1] != ':') return false;
  char c = FoldAscii(name[0]);
  return c >= 'a' && c <= 'z';
}

std::vector<std::string_view> SplitComponents(std::string_view name) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    std::string_view part = name.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(part);
    start = end + 1;
  }
  return parts;
}

// Walks a relative name from `base`, matching each component without regard to letter case.
std::optional<fs::path> WalkIgnoringCase(const fs::path& base, std::string_view relative, FolderNames* listed) {
  std::vector<std::string_view> parts = SplitComponents(relative);
  if (parts.empty()) return std::nullopt;
  fs::path current = base;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    if (parts[i] == "..") {
      if (last) return std::nullopt;
      current /= "..";
      continue;
    }
    std::optional<fs::path> next = FindEntry(current, parts[i], last, listed);
    if (!next) return std::nullopt;
    current = *next;
  }
  return current.lexically_normal();
}

}  // namespace

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

const std::vector<std::string>& FolderNames::Of(const fs::path& folder) {
  const auto found = names_.find(folder);
  if (found != names_.end()) return found->second;
  ++listings_;
  return names_.emplace(folder, ListNames(folder)).first->second;
}

std::optional<fs::path> FindFileIgnoringCase(const fs::path& folder, std::string_view fileName, FolderNames* listed) {
  if (fileName.empty() || fileName.find('/') != std::string_view::npos) return std::nullopt;
  return FindEntry(folder, fileName, true, listed);
}

std::optional<fs::path> FindColourLibrary(const fs::path& folder) {
  return FindFileIgnoringCase(folder, "Pcolor.lib");
}

namespace {

// The stored name up to its first NUL, decoded from GBK, with "/" for every backslash.
std::string DecodeItemName(std::string_view storedName) {
  std::size_t nul = storedName.find('\0');
  if (nul != std::string_view::npos) storedName = storedName.substr(0, nul);
  std::string name = GbkToUtf8(storedName);
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  return name;
}

}  // namespace

fs::path ProjectItemPathAsStored(std::string_view storedName, const fs::path& projectFolder) {
  const std::string name = DecodeItemName(storedName);
  if (name.empty()) return {};
  if (HasDriveLetter(name) || name.front() == '/') return fs::path(name).lexically_normal();
  const fs::path folder = projectFolder.empty() ? fs::path(".") : projectFolder;
  return (folder / fs::path(name)).lexically_normal();
}

std::optional<fs::path> ResolveProjectItemPath(std::string_view storedName, const fs::path& projectFolder,
                                               FolderNames* listed) {
  std::string name = DecodeItemName(storedName);
  if (name.empty()) return std::nullopt;
  const fs::path folder = projectFolder.empty() ? fs::path(".") : projectFolder;
  const bool windowsAbsolute = HasDriveLetter(name);
  const bool absolute = windowsAbsolute || name.front() == '/';

  if (!windowsAbsolute) {
    fs::path asStored = absolute ? fs::path(name) : folder / fs::path(name);
    if (IsRegularFile(asStored)) return asStored.lexically_normal();
    if (!absolute) {
      if (auto walked = WalkIgnoringCase(folder, name, listed)) return walked;
    }
  }

  // The bare file name, beside the project.
  std::string_view bare = name;
  if (std::size_t slash = bare.find_last_of('/'); slash != std::string_view::npos) bare = bare.substr(slash + 1);
  if (windowsAbsolute && bare.size() == name.size()) bare = bare.substr(2);  // "D:name.wl"
  if (bare.empty() || bare == "." || bare == "..") return std::nullopt;
  if (!Exists(folder)) return std::nullopt;
  if (auto found = FindFileIgnoringCase(folder, bare, listed)) return found->lexically_normal();
  return std::nullopt;
}

}  // namespace MapGis
