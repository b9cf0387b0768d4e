#pragma once

// Where a row's outputs go and what they are called. Names are full paths without extension;
// the conversions add ".shp", ".dbf", ".log" and the rest.
//
//  - A project gets a folder of its own, named after it, inside the batch's output folder; its
//    layer rows follow it there. A second batch over the same project gets "<name>_0", "<name>_1", …
//  - A row has a main name (its file's base name) and a second name for the derived output of a
//    layer (annotations, region arcs, network nodes): the base followed by the kind's second mark.
//    Kinds without a derived output have one name: the second name is the main name.
//  - Names whose outputs exist already are replaced by "<base>_<mark><i>" for the first free i, so
//    no output of an earlier run is written over.

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "batch/file_list.h"

namespace Kvx {

class OperationLog;

inline constexpr std::string_view kFolderRenamedLog = "输出路径下存在同名文件夹，自动改名[%s]";
inline constexpr std::string_view kNameRenamedLog = "输出路径下发现重名文件，自动改名";
inline constexpr std::string_view kFolderNotCreatedLog = "无法创建输出文件夹[%s]，输出到上级目录";

// The extensions whose existing files make a name taken. Every file a conversion writes as its
// result is among them (".xls" of the spreadsheet export, ".log" of every conversion), so an
// earlier run's result, or the log of an earlier empty result, is never written over.
// A ".gpkg" of the name is taken too: an earlier run's GeoPackage is never written into.
inline constexpr std::array<std::string_view, 5> kTakenNameExtensions = {".dbf", ".shp", ".xls", ".log", ".gpkg"};
// The files of one output name that DeleteOutputs removes (never the ".log").
inline constexpr std::array<std::string_view, 7> kOutputExtensions = {".shp", ".shx", ".dbf", ".prj",
                                                                     ".avl", ".cpg", ".qml"};

// The two marks of a source file by its extension (settings of the "Affix" section): main and
// second (the second is empty for kinds without a derived output).
struct KindMarks {
  std::string main;
  std::string second;
};
KindMarks MarksOfPath(const std::filesystem::path& source);

// The output folder of one row, starting from the batch's folder `folder` (empty: beside the
// source file). A project row gets a new folder named after it (created here); its layer rows
// take the folder of the project row's result name. A top-level layer row keeps `folder`.
void BuildOutputDir(const FileList& list, const RowRef& row, std::string& folder, OperationLog& log);

struct OutputNames {
  std::string main;
  std::string second;
  bool operator==(const OutputNames&) const = default;
};

// The main and second names of `source` in `folder`, renamed until no file of either is taken.
OutputNames BuildFinalName(const std::string& folder, const std::filesystem::path& source, OperationLog& log);

// The names and folders that the earlier rows of a plan take, beside what the disk holds: a batch
// decides every row's names before any row writes, so a name is taken when a file of it exists or
// an earlier row will write it.
class NameReservations {
 public:
  // A result file of `name` (see kTakenNameExtensions) exists, or an earlier row reserved it.
  bool NameTaken(const std::string& name) const;
  // Anything exists at `path`, or an earlier row reserved it as a folder.
  bool FolderTaken(const std::string& path) const;
  void ReserveName(const std::string& name) { names_.insert(name); }
  void ReserveFolder(const std::string& path) { folders_.insert(path); }
  // `path` is a folder this plan has just made: it held nothing, so a name in it is taken only
  // when the plan reserved it, and the disk need not be asked.
  void MarkCreated(const std::string& path) { created_.insert(path); }

 private:
  std::unordered_set<std::string> names_;
  std::unordered_set<std::string> folders_;
  std::unordered_set<std::string> created_;
};

// The folder of a project in the batch's folder `folder`: named after the project file, or
// "<name>_<i>" for the first i free. Created here; when it cannot be, the batch's folder itself.
// The naming messages go into `messages` (without the log's ">").
std::string ProjectFolder(const std::string& folder, const std::filesystem::path& projectFile,
                          const NameReservations& taken, std::vector<std::string>& messages);

// BuildFinalName against the disk and the names earlier rows reserved.
OutputNames FinalNames(const std::string& folder, const std::filesystem::path& source,
                       const NameReservations& taken, std::vector<std::string>& messages);

// Deletes the seven output files of `name` (".shp .shx .dbf .prj .avl .cpg .qml"), ignoring failures.
// The conversion's log stays.
void DeleteOutputs(const std::string& name);

// "folder/name" with the native separator (a folder that ends in one gets no second).
std::string JoinPath(const std::string& folder, std::string_view name);

}  // namespace Kvx
