#pragma once

// File names that come from Windows: project items store GBK names with backslashes and drive
// letters, and the system-library folder holds "Pcolor.lib" in whatever letter case the
// installation used. These helpers turn such names into paths that exist here.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vordex/export.h"

namespace MapGis {

// The entry names of folders, each folder read once: for resolving the many items of one project,
// whose stored names often differ from the files in letter case, without listing the folder for
// every item (on a network file system a listing is slow). Keep one only for one pass over a
// project: files made after a folder was read are not seen.
class VORDEX_API FolderNames {
 public:
  // The names in `folder` (empty when it cannot be read).
  const std::vector<std::string>& Of(const std::filesystem::path& folder);
  // How many folders were read.
  std::size_t Listings() const { return listings_; }

 private:
  std::map<std::filesystem::path, std::vector<std::string>> names_;
  std::size_t listings_ = 0;
};

// True when two file names are equal without regard to ASCII letter case. Windows also folds
// the case of other letters, but MapGIS names are Chinese or ASCII.
VORDEX_API bool SameNameIgnoringCase(std::string_view a, std::string_view b);

// The regular file in `folder` whose name equals `fileName` (UTF-8) without regard to letter
// case. An exact match wins; among several names that differ only in case the smallest one
// (byte order) is taken, so the answer does not depend on the directory order. Empty when the
// folder cannot be read or holds no such file.
VORDEX_API std::optional<std::filesystem::path> FindFileIgnoringCase(
    const std::filesystem::path& folder, std::string_view fileName, FolderNames* listed = nullptr);

// The colour library "Pcolor.lib" of a system-library folder, in any letter case.
VORDEX_API std::optional<std::filesystem::path> FindColourLibrary(const std::filesystem::path& folder);

// Turns the file name stored in a project item (GBK text, up to its first NUL byte) into the
// path of an existing regular file:
//  1. the name is decoded from GBK, and backslashes become "/" (after decoding, because the
//     second byte of a double-byte GBK character can be 0x5C);
//  2. a name with a drive letter ("D:/maps/a.wl") or a leading "/" is taken as absolute, any
//     other name relative to `projectFolder`;
//  3. that path is used when it exists; a relative name is also looked up component by
//     component without regard to letter case;
//  4. otherwise the bare file name is looked up in `projectFolder` without regard to letter
//     case (a project moved off its Windows drive keeps its layers beside it).
// Empty when none of these finds a file.
// `listed`, when given, keeps the folders' names from one item to the next.
VORDEX_API std::optional<std::filesystem::path> ResolveProjectItemPath(
    std::string_view storedName, const std::filesystem::path& projectFolder, FolderNames* listed = nullptr);

// The path a project item names as it is stored, whether or not a file is there: steps 1 and 2
// above (a Windows absolute name keeps its drive letter). Empty for an empty name.
VORDEX_API std::filesystem::path ProjectItemPathAsStored(std::string_view storedName,
                                                         const std::filesystem::path& projectFolder);

}  // namespace MapGis
