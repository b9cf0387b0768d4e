#pragma once

// The list of files waiting to be converted: the batch's only input. Top-level rows are layer
// files or projects; a project row holds one child row per layer of the project. Each row has six
// cells (see Column); the path in column 1 is the row's identity for every later step. The batch
// driver writes each row's outcome back into columns 3 to 5 and the row's colour.
//
// The model knows nothing of windows: a GUI mirrors it in its tree control, the command line
// prints it. Files are never tested for duplicates; the same path can be queued more than once.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Kvx {

class BatchView;

// Kinds of rows, by the file's extension (any letter case); the number is also the row's icon.
enum class RowKind : int {
  None = 0,
  Project = 1,  // .mpj
  Point = 2,    // .wt (points and annotations)
  Line = 3,     // .wl
  Region = 4,   // .wp
  Table = 5,    // .wb
  Network = 6,  // .wn
};

// The kind of a path by its extension; None for anything else.
RowKind KindOfPath(const std::filesystem::path& path);
// True for the five layer kinds (Point to Network).
bool IsLayerKind(RowKind kind);

enum Column : int {
  ColumnName = 0,        // the file name
  ColumnPath = 1,        // the full path
  ColumnSize = 2,        // "%dKB"
  ColumnContent = 3,     // what the last batch wrote ("输出内容")
  ColumnResult = 4,      // the last batch's result text ("执行结果")
  ColumnResultName = 5,  // the output path without extension the last batch used ("结果名称")
};
inline constexpr int kColumnCount = 6;

struct ColumnInfo {
  std::string_view title;
  int width;  // initial width in pixels; the path column takes what the others leave
  bool rightAligned;
};
inline constexpr std::array<ColumnInfo, kColumnCount> kColumns = {{
    {"文件名称", 180, false},
    {"文件路径", 0, false},
    {"大小", 60, true},
    {"输出内容", 80, true},
    {"执行结果", 80, false},
    {"结果名称", 0, false},  // hidden
}};
// Initial width of the path column in a view `clientWidth` wide.
inline int InitialPathColumnWidth(int clientWidth) { return clientWidth - 405; }
// Width of the path column after a resize: what the other columns leave, less 25.
int PathColumnWidth(int clientWidth, const std::array<int, kColumnCount>& widths);

// The cell text of a column that holds nothing yet.
inline constexpr char kBlankCell[] = " ";

// Row colours (0x00BBGGRR).
inline constexpr std::uint32_t kRowBlack = 0;
inline constexpr std::uint32_t kRowRed = 255;
inline constexpr std::uint32_t kRowBlue = 16711680;

struct FileRow {
  std::array<std::string, kColumnCount> cells;  // UTF-8
  RowKind kind = RowKind::None;
  std::uint32_t colour = kRowBlack;
  bool selected = false;
  bool expanded = false;
  std::vector<FileRow> children;  // a project's layer rows

  int Icon() const { return static_cast<int>(kind); }
  const std::string& Path() const { return cells[ColumnPath]; }
};

// A row's place: a top-level row, or child `child` of top-level row `top`.
struct RowRef {
  std::size_t top = 0;
  std::optional<std::size_t> child;
  bool operator==(const RowRef&) const = default;
};

// The size cell of a file: its length in whole KiB with "KB", at least 1; "0KB" for a layer file
// that cannot be found and "-" for such a project.
std::string SizeCell(const std::filesystem::path& path, RowKind kind);

class FileList {
 public:
  explicit FileList(BatchView* view = nullptr) : view_(view) {}
  void SetView(BatchView* view) { view_ = view; }

  // Adds a layer row: at the top level, or under the project row `parent`. Returns the kind
  // (2 to 6), or 0 when the extension is not a layer extension (nothing is added). Every tenth
  // row of the list shows "已搜索到[%d]个待转换文件..." in the status bar.
  int AddLayerFile(const std::filesystem::path& path, std::optional<std::size_t> parent = std::nullopt);
  // Adds a project row and one child row per layer the project lists (a project that cannot be
  // read keeps an empty row). Returns 0, or -1 when the extension is not ".mpj".
  int AddProjectFile(const std::filesystem::path& path);

  // Adds a row of the given kind as a plan names it, without reading the file: a project row (at
  // the top level) gets no layer rows but those added under it. Returns the row's place, or nullopt
  // when the kind is None, a project row is given a parent, or the parent is not a top-level row.
  std::optional<RowRef> AddRowAsPlanned(const std::filesystem::path& path, RowKind kind,
                                        std::optional<std::size_t> parent = std::nullopt);

  // Number of rows, project rows and child rows counted alike.
  std::size_t RowCount() const;
  bool Empty() const { return rows_.empty(); }
  const std::vector<FileRow>& TopRows() const { return rows_; }

  const FileRow& Row(const RowRef& ref) const;
  FileRow& Row(const RowRef& ref);
  // The project row of a child row; nullptr for a top-level row.
  const FileRow* Parent(const RowRef& ref) const;
  // Every row, a project row before its layer rows.
  std::vector<RowRef> PreOrder() const;

  // Selection and the other list commands.
  void Select(const RowRef& ref, bool selected);
  void SelectAll();
  void SelectNone();
  // Selects what was not selected and the other way round (children included).
  void InvertSelection();
  // Removes the selected rows (a project row with its layer rows), then UpdateQueueStatus.
  void RemoveSelected();
  // Removes every row, then UpdateQueueStatus.
  void Clear();
  void ExpandAll();
  void CollapseAll();
  std::optional<RowRef> FirstSelected() const;

  // Shows "进度：[0/n]" and "当前共有n个待转换文件！" with the row count, the progress bar at 0.
  void UpdateQueueStatus();

 private:
  // Tells the view about a new row, and shows the count on every tenth.
  RowRef AppendRow(FileRow row, std::optional<std::size_t> parent);
  void RowAddedToList(const RowRef& ref);

  BatchView* view_;
  std::vector<FileRow> rows_;
  std::size_t rowCount_ = 0;  // rows at every level, kept as rows come and go
};

inline constexpr std::string_view kQueueProgressText = "进度：[0/%d]";
inline constexpr std::string_view kQueueInfoText = "当前共有%d个待转换文件！";
inline constexpr std::string_view kSearchCountText = "已搜索到[%d]个待转换文件...";

// ---- The folder search ----

inline constexpr std::string_view kSearchStartText = "开始搜索待转换文件...";
inline constexpr std::string_view kSearchCaption = "停止搜索";
inline constexpr std::string_view kSearchStopQuestion = "确定要停止当前搜索过程？";
inline constexpr std::string_view kSearchStoppedLog = "用户中断了本次搜索";
inline constexpr std::string_view kSearchLimitText = "待转换文件数量过多，停止当前搜索过程！";
inline constexpr std::string_view kSearchLimitLog = "待转换文件数量过多，停止搜索";

class OperationLog;

struct SearchOptions {
  bool recurse = true;
  // Also queue the layer files found (at the top level); otherwise only projects (with their
  // layers) enter the list.
  bool layerFiles = false;
};

// Searches `folder` for project files, in name order, sub-folders when asked (each real folder
// once, so a link back up the tree cannot loop). Before each entry it polls the view: a stop
// request that the user confirms adds "用户中断了本次搜索" to the log; a list that holds more rows
// than MaxFiles shows the limit message and adds "待转换文件数量过多，停止搜索". Both return 1, which
// stops the whole search; otherwise 0. A folder that cannot be read adds nothing.
int ListAllFiles(FileList& list, const std::filesystem::path& folder, const SearchOptions& options, BatchView& view,
                 OperationLog& log);

// The same search, one entry at a time, so that a batch can convert the rows found while the
// search goes on. Each step handles one entry of a folder: a project queued with all its layers,
// a layer file queued, or a sub-folder read. Rows are only ever added at the end of the list, a
// project's layers together with it, so the rows already queued keep their places.
class FolderWalk {
 public:
  FolderWalk(FileList& list, const std::filesystem::path& folder, const SearchOptions& options, BatchView& view,
             OperationLog& log);
  ~FolderWalk();
  FolderWalk(const FolderWalk&) = delete;
  FolderWalk& operator=(const FolderWalk&) = delete;

  // Handles the next entry; false once the search is over (every folder read, or stopped).
  bool Step();
  // True when the search ended early: stopped by the user or at the MaxFiles limit.
  bool Stopped() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace Kvx
