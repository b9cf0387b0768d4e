#include "batch/output_naming.h"

#include <system_error>

#include "batch/operation_log.h"
#include "settings/settings.h"
#include "batch/text_format.h"

namespace Kvx {

namespace fs = std::filesystem;

namespace {

bool AnythingAt(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

// True when a result file of `name` exists already.
bool ResultFileExists(const std::string& name) {
  for (std::string_view extension : kTakenNameExtensions) {
    if (AnythingAt(name + std::string(extension))) return true;
  }
  return false;
}

// The folder part of a path held as text ("" when it has none).
std::string FolderOf(const std::string& path) { return fs::path(path).parent_path().string(); }

}  // namespace

std::string JoinPath(const std::string& folder, std::string_view name) {
  // As fs::path's operator/ joins them, without building and splitting two paths for every name a
  // plan tries.
  if (folder.empty() || (!name.empty() && name.front() == '/')) return std::string(name);
  std::string joined;
  joined.reserve(folder.size() + 1 + name.size());
  joined = folder;
  if (joined.back() != '/') joined += '/';
  joined += name;
  return joined;
}

KindMarks MarksOfPath(const fs::path& source) {
  const Settings& s = AppSettings();
  switch (KindOfPath(source)) {
    case RowKind::Project: return {s.Mpjfix, {}};
    case RowKind::Point: return {s.Pntfix, s.Annofix};
    case RowKind::Line: return {s.Linfix, {}};
    case RowKind::Region: return {s.Regfix, s.Arcfix};
    case RowKind::Table: return {s.Wbfix, {}};
    case RowKind::Network: return {s.Netfix, s.Nodefix};
    case RowKind::None: break;
  }
  return {};
}

void BuildOutputDir(const FileList& list, const RowRef& row, std::string& folder, OperationLog& log) {
  const FileRow& self = list.Row(row);
  if (folder.empty()) {
    folder = FolderOf(self.Path());
    return;
  }
  if (const FileRow* parent = list.Parent(row)) {
    // A project row that was not converted (its file went missing after it was queued) names no
    // folder; its layers then stay in the batch's folder rather than the working directory.
    const std::string folderOfProject = FolderOf(parent->cells[ColumnResultName]);
    if (!folderOfProject.empty()) folder = folderOfProject;
    return;
  }
  // A project gets its folder whether or not it lists any layer (its index is written there too).
  if (self.kind != RowKind::Project) return;

  std::vector<std::string> messages;
  folder = ProjectFolder(folder, self.cells[ColumnName], NameReservations(), messages);
  for (const std::string& message : messages) log.Add(message);
}

std::string ProjectFolder(const std::string& folder, const fs::path& projectFile, const NameReservations& taken,
                          std::vector<std::string>& messages) {
  // A folder of its own, never one that exists already.
  const std::string name = projectFile.filename().stem().string();
  std::string candidate = JoinPath(folder, name);
  if (taken.FolderTaken(candidate)) {
    for (long long i = 0;; ++i) {
      candidate = JoinPath(folder, name + "_" + std::to_string(i));
      if (!taken.FolderTaken(candidate)) break;
    }
    messages.push_back(FormatText(kFolderRenamedLog.data(), candidate.c_str()));
  }
  std::error_code ec;
  if (fs::create_directory(candidate, ec)) return candidate;
  messages.push_back(FormatText(kFolderNotCreatedLog.data(), candidate.c_str()));
  return folder;
}

OutputNames BuildFinalName(const std::string& folder, const fs::path& source, OperationLog& log) {
  std::vector<std::string> messages;
  OutputNames names = FinalNames(folder, source, NameReservations(), messages);
  for (const std::string& message : messages) log.Add(message);
  return names;
}

OutputNames FinalNames(const std::string& folder, const fs::path& source, const NameReservations& taken,
                       std::vector<std::string>& messages) {
  const KindMarks marks = MarksOfPath(source);
  // The name without its folder and without the part after its last dot.
  const std::string base = source.stem().string();
  std::string main = base;
  std::string second = base + marks.second;
  bool renamed = false;
  for (long long i = 0; taken.NameTaken(JoinPath(folder, main)) || taken.NameTaken(JoinPath(folder, second)); ++i) {
    main = base + "_" + marks.main + std::to_string(i);
    // A kind without a derived output keeps one name: "roads_0" beside "roads_L0" would be a
    // name nobody writes, yet one that could stop a free name or be cleaned up by mistake.
    second = marks.second.empty() ? main : base + "_" + marks.second + std::to_string(i);
    renamed = true;
  }
  if (renamed) messages.emplace_back(kNameRenamedLog);
  return {JoinPath(folder, main), JoinPath(folder, second)};
}

bool NameReservations::NameTaken(const std::string& name) const {
  if (names_.contains(name)) return true;
  if (!created_.empty()) {
    const std::size_t cut = name.find_last_of('/');
    if (cut != std::string::npos && created_.contains(name.substr(0, cut))) return false;
  }
  return ResultFileExists(name);
}

bool NameReservations::FolderTaken(const std::string& path) const {
  return folders_.contains(path) || AnythingAt(path);
}

void DeleteOutputs(const std::string& name) {
  for (std::string_view extension : kOutputExtensions) {
    std::error_code ec;
    fs::remove(name + std::string(extension), ec);
  }
}

}  // namespace Kvx
