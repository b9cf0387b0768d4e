#include "batch/file_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <system_error>
#include <utility>

#include "batch/batch_view.h"
#include "batch/operation_log.h"
#include "settings/settings.h"
#include "batch/text_format.h"
#include "vordex/project_file.h"
#include "vordex/windows_names.h"

namespace Kvx {

namespace fs = std::filesystem;

RowKind KindOfPath(const fs::path& path) {
  const std::string extension = path.extension().string();
  static constexpr std::pair<std::string_view, RowKind> kinds[] = {
      {".mpj", RowKind::Project}, {".wt", RowKind::Point}, {".wl", RowKind::Line},
      {".wp", RowKind::Region},   {".wb", RowKind::Table}, {".wn", RowKind::Network},
  };
  for (const auto& [name, kind] : kinds) {
    if (MapGis::SameNameIgnoringCase(extension, name)) return kind;
  }
  return RowKind::None;
}

bool IsLayerKind(RowKind kind) {
  const int k = static_cast<int>(kind);
  return k >= static_cast<int>(RowKind::Point) && k <= static_cast<int>(RowKind::Network);
}

int PathColumnWidth(int clientWidth, const std::array<int, kColumnCount>& widths) {
  int others = 0;
  for (int c = 0; c < kColumnCount; ++c) {
    if (c != ColumnPath) others += widths[static_cast<std::size_t>(c)];
  }
  return clientWidth - others - 25;
}

std::string SizeCell(const fs::path& path, RowKind kind) {
  std::error_code ec;
  const std::uintmax_t length = fs::file_size(path, ec);
  if (ec) return kind == RowKind::Project ? "-" : "0KB";
  // The whole length counts: a file of 4 GiB or more is not shown as a small one.
  const std::uintmax_t kib = std::max<std::uintmax_t>(length >> 10, 1);
  return std::to_string(kib) + "KB";
}

namespace {

FileRow NewRow(const fs::path& path, RowKind kind) {
  FileRow row;
  row.kind = kind;
  row.cells = {path.filename().string(), path.string(), SizeCell(path, kind), kBlankCell, kBlankCell, kBlankCell};
  return row;
}

template <typename Fn>
void ForEachRow(std::vector<FileRow>& rows, Fn fn) {
  for (FileRow& top : rows) {
    fn(top);
    for (FileRow& child : top.children) fn(child);
  }
}

}  // namespace

void FileList::RowAddedToList(const RowRef& ref) {
  if (view_ == nullptr) return;
  view_->RowAdded(*this, ref);
  // Every tenth row counts, project rows as much as layer rows.
  const std::size_t count = RowCount();
  if (count % 10 == 0) view_->StatusInfoText(FormatText(kSearchCountText.data(), static_cast<int>(count)));
}

int FileList::AddLayerFile(const fs::path& path, std::optional<std::size_t> parent) {
  const RowKind kind = KindOfPath(path);
  if (!IsLayerKind(kind)) return 0;
  if (parent && *parent >= rows_.size()) return 0;

  AppendRow(NewRow(path, kind), parent);
  return static_cast<int>(kind);
}

int FileList::AddProjectFile(const fs::path& path) {
  if (KindOfPath(path) != RowKind::Project) return -1;
  FileRow row = NewRow(path, RowKind::Project);
  row.expanded = true;
  const std::size_t index = AppendRow(std::move(row), std::nullopt).top;

  MapGis::MapGis_Prj project;
  const std::int32_t count = project.LoadProject(path);
  const fs::path folder = path.parent_path();
  MapGis::FolderNames listed;  // the project's folder read once for all its items
  for (std::int32_t i = 0; i < count; ++i) {
    const std::string stored = project.GetItemName(i);
    // The file as it is found (letter case, moved off its Windows drive), else as it is stored:
    // a missing layer is queued all the same and reported by the batch.
    std::optional<fs::path> found = MapGis::ResolveProjectItemPath(stored, folder, &listed);
    const fs::path layer = found ? *found : MapGis::ProjectItemPathAsStored(stored, folder);
    if (!layer.empty()) AddLayerFile(layer, index);
  }
  if (view_ != nullptr) view_->ListChanged(*this);
  return 0;
}

std::optional<RowRef> FileList::AddRowAsPlanned(const fs::path& path, RowKind kind, std::optional<std::size_t> parent) {
  if (kind == RowKind::None || (parent && (kind == RowKind::Project || *parent >= rows_.size()))) return std::nullopt;
  FileRow row = NewRow(path, kind);
  row.expanded = !parent && kind == RowKind::Project;
  return AppendRow(std::move(row), parent);
}

// Puts `row` at the end of the list (or of its project's layers), counts it and tells the view.
RowRef FileList::AppendRow(FileRow row, std::optional<std::size_t> parent) {
  RowRef ref;
  if (parent) {
    std::vector<FileRow>& children = rows_[*parent].children;
    children.push_back(std::move(row));
    ref = {*parent, children.size() - 1};
  } else {
    rows_.push_back(std::move(row));
    ref = {rows_.size() - 1, std::nullopt};
  }
  ++rowCount_;
  RowAddedToList(ref);
  return ref;
}

std::size_t FileList::RowCount() const { return rowCount_; }

const FileRow& FileList::Row(const RowRef& ref) const {
  const FileRow& top = rows_.at(ref.top);
  return ref.child ? top.children.at(*ref.child) : top;
}

FileRow& FileList::Row(const RowRef& ref) {
  FileRow& top = rows_.at(ref.top);
  return ref.child ? top.children.at(*ref.child) : top;
}

const FileRow* FileList::Parent(const RowRef& ref) const {
  if (!ref.child || ref.top >= rows_.size()) return nullptr;
  return &rows_[ref.top];
}

std::vector<RowRef> FileList::PreOrder() const {
  std::vector<RowRef> order;
  order.reserve(RowCount());
  for (std::size_t t = 0; t < rows_.size(); ++t) {
    order.push_back({t, std::nullopt});
    for (std::size_t c = 0; c < rows_[t].children.size(); ++c) order.push_back({t, c});
  }
  return order;
}

void FileList::Select(const RowRef& ref, bool selected) { Row(ref).selected = selected; }

void FileList::SelectAll() {
  ForEachRow(rows_, [](FileRow& r) { r.selected = true; });
  if (view_ != nullptr) view_->ListChanged(*this);
}

void FileList::SelectNone() {
  ForEachRow(rows_, [](FileRow& r) { r.selected = false; });
  if (view_ != nullptr) view_->ListChanged(*this);
}

void FileList::InvertSelection() {
  ForEachRow(rows_, [](FileRow& r) { r.selected = !r.selected; });
  if (view_ != nullptr) view_->ListChanged(*this);
}

void FileList::RemoveSelected() {
  // A selected project row goes with its layer rows; a selected layer row of a project that
  // stays goes alone.
  std::erase_if(rows_, [](const FileRow& r) { return r.selected; });
  for (FileRow& top : rows_) std::erase_if(top.children, [](const FileRow& r) { return r.selected; });
  rowCount_ = rows_.size();
  for (const FileRow& top : rows_) rowCount_ += top.children.size();
  if (view_ != nullptr) view_->ListChanged(*this);
  UpdateQueueStatus();
}

void FileList::Clear() {
  rows_.clear();
  rowCount_ = 0;
  if (view_ != nullptr) view_->ListChanged(*this);
  UpdateQueueStatus();
}

void FileList::ExpandAll() {
  for (FileRow& top : rows_) {
    if (!top.children.empty()) top.expanded = true;
  }
  if (view_ != nullptr) view_->ListChanged(*this);
}

void FileList::CollapseAll() {
  ForEachRow(rows_, [](FileRow& r) { r.expanded = false; });
  if (view_ != nullptr) view_->ListChanged(*this);
}

std::optional<RowRef> FileList::FirstSelected() const {
  for (const RowRef& ref : PreOrder()) {
    if (Row(ref).selected) return ref;
  }
  return std::nullopt;
}

void FileList::UpdateQueueStatus() {
  if (view_ == nullptr) return;
  const int count = static_cast<int>(std::min<std::size_t>(RowCount(), INT32_MAX));
  view_->StatusProgressText(FormatText(kQueueProgressText.data(), count));
  view_->StatusInfoText(FormatText(kQueueInfoText.data(), count));
  view_->StatusProgressBar(0);
}

// ---- The folder search ----

namespace {

struct FolderId {
  dev_t device;
  ino_t inode;
  auto operator<=>(const FolderId&) const = default;
};

}  // namespace

struct FolderWalk::State {
  // A folder being read: its entries in name order and the next one to handle.
  struct Folder {
    std::vector<fs::directory_entry> entries;
    std::size_t next = 0;
  };

  FileList& list;
  SearchOptions options;
  BatchView& view;
  OperationLog& log;
  std::set<FolderId> visited;
  std::vector<Folder> open;  // the folder being read last, those above it before
  bool stopped = false;

  // Reads `folder` and makes it the one being read; a folder that is no folder, was read already
  // or cannot be read adds nothing.
  void Enter(const fs::path& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return;
    // Each real folder once: a link that leads back up the tree must not make the search endless.
    if (!visited.insert({info.st_dev, info.st_ino}).second) return;

    Folder read;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      if (ec) break;
      read.entries.push_back(*it);
    }
    std::sort(read.entries.begin(), read.entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
    open.push_back(std::move(read));
  }

  void Stop() {
    stopped = true;
    open.clear();
  }
};

FolderWalk::FolderWalk(FileList& list, const fs::path& folder, const SearchOptions& options, BatchView& view,
                       OperationLog& log)
    : state_(std::make_unique<State>(State{list, options, view, log, {}, {}, false})) {
  state_->Enter(folder);
}

FolderWalk::~FolderWalk() = default;

bool FolderWalk::Stopped() const { return state_->stopped; }

bool FolderWalk::Step() {
  State& s = *state_;
  while (!s.open.empty() && s.open.back().next == s.open.back().entries.size()) s.open.pop_back();
  if (s.open.empty()) return false;
  // Taken by value: entering a sub-folder below may move the folders being read.
  const fs::directory_entry entry = s.open.back().entries[s.open.back().next++];

  if (s.view.PollCancel() && s.view.Ask(kSearchCaption, kSearchStopQuestion, true)) {
    s.log.Add(kSearchStoppedLog);
    s.Stop();
    return false;
  }
  const std::int64_t maxFiles = AppSettings().MaxFiles;
  if (static_cast<std::int64_t>(s.list.RowCount()) > maxFiles) {
    s.view.Message(kSearchCaption, kSearchLimitText, MessageIcon::Warning);
    s.log.Add(kSearchLimitLog);
    s.Stop();
    return false;
  }
  std::error_code typeError;
  if (entry.is_directory(typeError)) {
    if (s.options.recurse) s.Enter(entry.path());
    return true;
  }
  if (!entry.is_regular_file(typeError)) return true;
  const RowKind kind = KindOfPath(entry.path());
  if (kind == RowKind::Project) {
    s.list.AddProjectFile(entry.path());
  } else if (s.options.layerFiles && IsLayerKind(kind)) {
    s.list.AddLayerFile(entry.path());
  }
  return true;
}

int ListAllFiles(FileList& list, const fs::path& folder, const SearchOptions& options, BatchView& view,
                 OperationLog& log) {
  FolderWalk walk(list, folder, options, view, log);
  while (walk.Step()) {
  }
  return walk.Stopped() ? 1 : 0;
}

}  // namespace Kvx
