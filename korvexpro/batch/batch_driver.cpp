#include "batch/batch_driver.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

#include "batch/output_naming.h"
#include "batch/run_report.h"
#include "batch/worker_processes.h"
#include "settings/settings.h"
#include "batch/text_format.h"
#include "engine/conversion_frame.h"
#include "engine/geopackage_sink.h"
#include "engine/line_conversion.h"
#include "engine/node_conversion.h"
#include "engine/point_conversion.h"
#include "engine/project_index.h"
#include "engine/region_conversion.h"
#include "engine/table_conversion.h"
#include "vordex/text_encoding.h"

namespace Kvx {

namespace fs = std::filesystem;

namespace {

constexpr unsigned kStyledPages = PageProjection | PageSymbol | PageExport;

constexpr BatchCommand kCommands[] = {
    {"quick", 32879, "批量转换点线面所有图层文件\n点线面图层转换", 0, PageProjection | PageExport, 1},
    {"points", 32889, "批量转换所有点图层文件\n转换点文件", 0, PageProjection | PageExport, 2},
    {"lines", 32890, "批量转换所有线图层文件\n转换线文件", 0, PageProjection | PageExport, 3},
    {"regions", 32891, "批量转换所有面图层文件\n转换区文件", 0, PageProjection | PageExport, 4},
    {"arcs", 32886, "输出所有区文件中的拓扑弧段\n输出弧段", 0, PageProjection | PageExport, 5},
    {"nodes", 32887, "输出网络文件的节点信息\n输出网络节点", 0, PageProjection | PageExport, 6},
    {"xls", 32888, "输出图层属性为EXCEL文件\n输出属性EXCEL", 0, PageExport, 7},
    {"labels", 32880, "批量转换包含注释文字的图层\n转换注释文字", 2, kStyledPages, 10},
    {"params", 32892, "MapGIS图例参数存入属性表\n图例参数转属性", 2, kStyledPages, 11},
    {"codes", 32801, "图例参数信息转换为编码信息\n图例参数自动编码", 1, kStyledPages, 12},
    {"avl", 32894, "生成AVL图例信息文件\nAVL快速转换", 4, kStyledPages, 13},
};

bool StyledMode(int mode) { return mode >= 11 && mode <= 13; }

// One conversion routine of a layer file, handed the settings snapshot of its row; the table
// conversions report through the notifier alone.
using Routine = std::int32_t (*)(const fs::path& source, const fs::path& outputBase, const ConversionServices&,
                                 const Settings& snapshot);

// A layer conversion with the frame settings of the snapshot.
template <std::int32_t (*Convert)(const fs::path&, const fs::path&, const ConversionServices&, const FrameSettings&)>
std::int32_t Layer(const fs::path& source, const fs::path& outputBase, const ConversionServices& services,
                   const Settings& snapshot) {
  return Convert(source, outputBase, services, FrameSettings::From(snapshot));
}

std::int32_t TableToDbf(const fs::path& source, const fs::path& outputBase, const ConversionServices& services,
                        const Settings& snapshot) {
  return ConvertWB2DBF(source, outputBase, services.notifier, TableSettings::From(snapshot));
}
std::int32_t AttributesToXls(const fs::path& source, const fs::path& outputBase, const ConversionServices& services,
                             const Settings&) {
  return ConvertWB2XLS(source, outputBase, services.notifier);
}
std::int32_t ProjectIndex(const fs::path& source, const fs::path& outputBase, const ConversionServices& services,
                          const Settings& snapshot) {
  return ConvertMPJ2SHP(source, outputBase, services.notifier, FrameSettings::From(snapshot), services.geoPackage);
}

// Which routine a mode runs on a layer kind, into which of the row's two names, and what column 3
// then says. Point files in modes 11 to 13 and project rows have rules of their own.
struct DispatchEntry {
  int firstMode;
  int lastMode;
  RowKind kind;
  Routine routine;
  bool secondName;
  std::string_view label;
};

constexpr DispatchEntry kDispatch[] = {
    {1, 1, RowKind::Point, &Layer<ConvertWT2SHP>, false, "基本要素"},
    {1, 1, RowKind::Line, &Layer<ConvertWL2SHP>, false, "基本要素"},
    {1, 1, RowKind::Region, &Layer<ConvertWP2SHP>, false, "基本要素"},
    {1, 1, RowKind::Table, &TableToDbf, false, "基本要素"},
    {1, 1, RowKind::Network, &Layer<ConvertWN2SHP>, false, "基本要素"},
    {2, 2, RowKind::Point, &Layer<ConvertWT2SHP>, false, "基本要素"},
    {3, 3, RowKind::Line, &Layer<ConvertWL2SHP>, false, "基本要素"},
    {4, 4, RowKind::Region, &Layer<ConvertWP2SHP>, false, "基本要素"},
    {5, 5, RowKind::Region, &Layer<ConvertWPArc2SHP>, true, "弧段要素"},
    {6, 6, RowKind::Network, &Layer<ConvertWNNode2SHP>, true, "网络节点"},
    {7, 7, RowKind::Point, &AttributesToXls, false, "要素属性"},
    {7, 7, RowKind::Line, &AttributesToXls, false, "要素属性"},
    {7, 7, RowKind::Region, &AttributesToXls, false, "要素属性"},
    {7, 7, RowKind::Table, &AttributesToXls, false, "要素属性"},
    {7, 7, RowKind::Network, &AttributesToXls, false, "要素属性"},
    {10, 10, RowKind::Point, &Layer<ConvertWTNote2SHP>, true, "注释文字"},
    {11, 13, RowKind::Line, &Layer<ConvertWL2SHP>, false, "要素"},
    {11, 13, RowKind::Region, &Layer<ConvertWP2SHP>, false, "要素"},
    {11, 13, RowKind::Table, &TableToDbf, false, "要素"},
    {11, 13, RowKind::Network, &Layer<ConvertWN2SHP>, false, "要素"},
};

const DispatchEntry* FindDispatch(int mode, RowKind kind) {
  for (const DispatchEntry& entry : kDispatch) {
    if (mode >= entry.firstMode && mode <= entry.lastMode && kind == entry.kind) return &entry;
  }
  return nullptr;
}

bool IsDirectory(const std::string& folder) {
  std::error_code ec;
  return fs::is_directory(folder.empty() ? fs::path(".") : fs::path(folder), ec);
}

// The index of the first byte of each UTF-8 character of `text`.
std::vector<std::size_t> CharacterStarts(std::string_view text) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  return starts;
}

}  // namespace

std::span<const BatchCommand> BatchCommands() { return kCommands; }

const BatchCommand* FindBatchCommand(std::string_view name) {
  for (const BatchCommand& c : kCommands) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

const BatchCommand* FindBatchCommandByMode(int mode) {
  for (const BatchCommand& c : kCommands) {
    if (c.mode == mode) return &c;
  }
  return nullptr;
}

std::string BatchSummary::Text() const {
  return FormatText(kSummaryFormat.data(), counts.succeeded, counts.empty, counts.skipped, counts.failed);
}

void BatchView::RunFinished(const BatchSummary& summary) {
  Message(kSummaryCaption, summary.Text(), MessageIcon::Information);
}

RowOutcome OutcomeOf(std::int32_t result) {
  switch (result) {
    case kRowSuccess: return {"成功", kRowBlack, "转换成功，请查看信息窗口了解转换详情"};
    case kRowMissing: return {"", kRowRed, "待转换文件不存在"};
    case kRowEmpty: return {"空文件", kRowBlue, "转换结束，结果为空文件"};
    case kRowSkipped: return {"", kRowBlack, "转换结束，跳过此文件"};
    default: return {"失败", kRowRed, "转换失败，请查看信息窗口了解错误信息"};
  }
}

std::string CompactPath(std::string_view path, std::size_t visible) {
  const std::vector<std::size_t> starts = CharacterStarts(path);
  if (starts.size() <= visible) return std::string(path);
  constexpr std::string_view kEllipsis = "...";
  if (visible <= kEllipsis.size()) return std::string(kEllipsis.substr(0, visible));

  // Keep the file name (with its separator) when it fits beside at least one leading character.
  const std::size_t slash = path.find_last_of('/');
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash;
  std::size_t nameChars = 0;
  for (std::size_t s : starts) nameChars += s >= nameStart ? 1 : 0;
  if (nameStart > 0 && nameChars + kEllipsis.size() < visible) {
    const std::size_t headChars = visible - kEllipsis.size() - nameChars;
    return std::string(path.substr(0, starts[headChars])) + std::string(kEllipsis) +
           std::string(path.substr(nameStart));
  }
  // Otherwise the start and the end of the text around the ellipsis.
  const std::size_t keep = visible - kEllipsis.size();
  const std::size_t head = keep / 2;
  const std::size_t tail = keep - head;
  return std::string(path.substr(0, starts[head])) + std::string(kEllipsis) +
         std::string(path.substr(starts[starts.size() - tail]));
}

// ---- The driver ----

void BatchDriver::Forwarder::Message(std::string_view caption, std::string_view text, MessageIcon icon) {
  view_.Message(caption, text, icon);
}

void BatchDriver::Forwarder::Trace(int level, std::string_view text, const Kvx::SourceLocation& where) {
  view_.Trace(level, text, where);
  if (std::optional<std::string> line = TraceLogLine(level, text)) log_.AddLine(*line);
}

void BatchDriver::Forwarder::Progress(std::int64_t done, std::int64_t total) { view_.Progress(done, total); }

BatchDriver::BatchDriver(FileList& list, OperationLog& log, StyleContext& styles, BatchView& view)
    : list_(list), log_(log), styles_(styles), view_(view), notifier_(view, log) {}

namespace {

// ---- Rows and their outcomes between the batch and its worker processes ----
// A worker process is a fork of this program: the same binary at the same addresses, so a
// source location (pointers into the program's constant data) crosses as it is.

class WireWriter {
 public:
  template <typename T>
  void Put(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    bytes_.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
  void PutText(std::string_view text) {
    Put<std::uint64_t>(text.size());
    bytes_.append(text);
  }
  std::string Take() { return std::move(bytes_); }

 private:
  std::string bytes_;
};

class WireReader {
 public:
  explicit WireReader(std::string_view bytes) : bytes_(bytes) {}
  template <typename T>
  bool Get(T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (bytes_.size() < sizeof value) return false;
    std::memcpy(&value, bytes_.data(), sizeof value);
    bytes_.remove_prefix(sizeof value);
    return true;
  }
  bool GetText(std::string& text) {
    std::uint64_t size = 0;
    if (!Get(size) || size > bytes_.size()) return false;
    text.assign(bytes_.data(), static_cast<std::size_t>(size));
    bytes_.remove_prefix(static_cast<std::size_t>(size));
    return true;
  }
  bool AtEnd() const { return bytes_.empty(); }

 private:
  std::string_view bytes_;
};

// What one row's conversion tells the front end. Running alone it passes everything on at once;
// beside other rows it keeps it, to be passed on in list order when the rows before it are done.
class RowRecorder : public Notifier {
 public:
  // `view` and `log` given: passes on at once. Null: keeps.
  RowRecorder(BatchView* view, OperationLog* log) : view_(view), log_(log) {}

  void Message(std::string_view caption, std::string_view text, MessageIcon icon) override {
    if (view_ != nullptr) {
      view_->Message(caption, text, icon);
      return;
    }
    events_.push_back({Event::Message, std::string(caption), std::string(text), icon, 0, {}});
  }
  void Trace(int level, std::string_view text, const SourceLocation& where) override {
    if (view_ != nullptr) {
      PassTrace(*view_, *log_, level, text, where);
      return;
    }
    events_.push_back({Event::Trace, {}, std::string(text), MessageIcon::Information, level, where});
  }
  // Progress of one row among several means nothing to a progress bar; it is dropped.
  void Progress(std::int64_t done, std::int64_t total) override {
    if (view_ != nullptr) view_->Progress(done, total);
  }
  // An operation-log message of the driver.
  void Log(std::string_view message) {
    if (log_ != nullptr) {
      log_->Add(message);
      return;
    }
    events_.push_back({Event::Log, {}, std::string(message), MessageIcon::Information, 0, {}});
  }

  // What was kept, for the batch (in a worker process), and taken in from there.
  void Encode(WireWriter& out) const {
    out.Put<std::uint64_t>(events_.size());
    for (const Event& e : events_) {
      out.Put<std::int32_t>(e.kind);
      out.PutText(e.caption);
      out.PutText(e.text);
      out.Put<std::int32_t>(static_cast<std::int32_t>(e.icon));
      out.Put<std::int32_t>(e.level);
      out.Put(e.where);
    }
  }
  bool Decode(WireReader& in) {
    std::uint64_t count = 0;
    if (!in.Get(count)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      Event e{Event::Log, {}, {}, MessageIcon::Information, 0, {}};
      std::int32_t kind = 0;
      std::int32_t icon = 0;
      if (!in.Get(kind) || !in.GetText(e.caption) || !in.GetText(e.text) || !in.Get(icon) || !in.Get(e.level) ||
          !in.Get(e.where)) {
        return false;
      }
      if (kind < Event::Message || kind > Event::Log) return false;
      e.kind = static_cast<Event::Kind>(kind);
      e.icon = static_cast<MessageIcon>(icon);
      events_.push_back(std::move(e));
    }
    return true;
  }

  // Passes on what was kept, in the order it came.
  void Replay(BatchView& view, OperationLog& log) const {
    for (const Event& e : events_) {
      switch (e.kind) {
        case Event::Message: view.Message(e.caption, e.text, e.icon); break;
        case Event::Trace: PassTrace(view, log, e.level, e.text, e.where); break;
        case Event::Log: log.Add(e.text); break;
      }
    }
  }

 private:
  static void PassTrace(BatchView& view, OperationLog& log, int level, std::string_view text,
                        const SourceLocation& where) {
    view.Trace(level, text, where);
    if (std::optional<std::string> line = TraceLogLine(level, text)) log.AddLine(*line);
  }

  struct Event {
    enum Kind { Message, Trace, Log } kind;
    std::string caption;
    std::string text;
    MessageIcon icon;
    int level;
    SourceLocation where;
  };
  BatchView* view_;
  OperationLog* log_;
  std::vector<Event> events_;
};

// What a row's conversion gives back for the list: the result code, columns 3 and 5 (nullopt:
// left as they were), and the names whose outputs the row kept.
struct RowWork {
  std::int32_t result = kRowSkipped;
  std::optional<std::string> content;
  std::optional<std::string> resultName;
  std::vector<std::string> outputs;
  double seconds = 0;
};

// Converts one planned row. It touches nothing shared but the files of its own names and reads
// the colour library, so rows run on several threads at once.
// Rows that write one GeoPackage take turns through its lock in `locks`.
RowWork ConvertPlannedRow(const PlannedRow& planned, int mode, const StyleContext& styles, RowRecorder& recorder,
                          GeoPackageLocks& locks) {
  RowWork work;
  const fs::path source = planned.source;
  std::error_code ec;
  if (planned.action == PlannedAction::Missing || !fs::exists(source, ec)) {
    work.result = kRowMissing;
    return work;
  }
  const RowKind kind = planned.kind;
  const DispatchEntry* entry = FindDispatch(mode, kind);
  const bool pointsAndNotes = StyledMode(mode) && kind == RowKind::Point;
  if (planned.action == PlannedAction::Skip || (kind != RowKind::Project && entry == nullptr && !pointsAndNotes) ||
      !planned.settings || planned.names.main.empty()) {
    work.result = kRowSkipped;
    return work;
  }

  const std::string& folder = planned.folder;
  const OutputNames& names = planned.names;
  const Settings& settings = *planned.settings;

  // Runs one conversion into `name`; its empty outputs go unless the settings keep them.
  std::int32_t result = kRowSkipped;
  bool outputFolderChecked = false;
  auto run = [&](Routine routine, const std::string& name, std::string_view label) -> std::int32_t {
    work.resultName = name;
    work.content = std::string(label);
    if (!outputFolderChecked && !IsDirectory(folder)) {
      recorder.Log(FormatText(kOutputUnwritableLog.data(), folder.c_str()));
      return kConvertOutputFailed;
    }
    outputFolderChecked = true;
    // With the GeoPackage format the output is a table of the row's GeoPackage, named after the output.
    GeoPackageTarget target;
    if (!planned.geoPackage.empty()) {
      target.file = planned.geoPackage;
      target.table = fs::path(name).filename().string();
      target.lock = locks.For(target.file);
      // A row converted again under an earlier run's names replaces that run's table, as it
      // replaces that run's shapefiles.
      if (planned.earlierNames) DropGeoPackageTable(target);
    }
    const ConversionServices services{styles, recorder, planned.geoPackage.empty() ? nullptr : &target};
    const std::int32_t r = routine(source, fs::path(name), services, settings);
    if (r == kConvertOutputFailed) recorder.Log(FormatText(kOutputUnwritableLog.data(), name.c_str()));
    if (r == kRowEmpty && mode != 7 && settings.ExportEmptyFile == 0) DeleteOutputs(name);
    if (r == kRowSuccess) work.outputs.push_back(name);
    return r;
  };

  if (kind == RowKind::Project) {
    if ((mode == 1 || StyledMode(mode)) && settings.ExportLayerIndex != 0) {
      result = run(&ProjectIndex, names.main, mode == 1 ? "图层索引" : "索引");
    }
    // The project's layer rows took their folder from this name, whatever became of the index.
    work.resultName = names.main;
    if (result == kRowEmpty && settings.ExportEmptyFile == 0) work.content = "";
    work.result = result;
    return work;
  }

  if (pointsAndNotes) {
    // Symbol points into the main name, then annotations into the second.
    const std::int32_t points = run(&Layer<ConvertWTPoint2SHP>, names.main, "要素");
    const std::int32_t notes = run(&Layer<ConvertWTNote2SHP>, names.second, "要素");
    result = points;
    work.resultName = names.main;
    work.content = "要素";
    if (notes == kRowSuccess) {
      if (points != kRowSuccess) {
        result = kRowSuccess;
        work.resultName = names.second;
      }
      work.content = "要素+文字";
    }
  } else if (entry != nullptr) {
    result = run(entry->routine, entry->secondName ? names.second : names.main, entry->label);
  }

  if (result == kRowEmpty && mode != 7 && settings.ExportEmptyFile == 0) {
    work.resultName = "";
    work.content = "";
  }
  work.result = result;
  return work;
}

// Converts one row as a worker of the batch does: a failure it throws (out of memory and the like)
// fails the row alone, and the batch goes on.
RowWork ConvertRowOfJob(const PlannedRow& row, int mode, const StyleContext& styles, RowRecorder& recorder,
                        GeoPackageLocks& locks) {
  const auto rowStart = std::chrono::steady_clock::now();
  RowWork work;
  try {
    work = ConvertPlannedRow(row, mode, styles, recorder, locks);
  } catch (const std::exception& e) {
    recorder.Log(std::string("转换失败：") + e.what());
    work = RowWork();
    work.result = -1;
  }
  work.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - rowStart).count();
  return work;
}

// A job for a worker process: per row its place in the run and what its conversions read of its
// plan. The settings are the run's snapshot, which the process holds from its start.
std::string EncodeJob(const std::vector<std::pair<std::size_t, const PlannedRow*>>& rows) {
  WireWriter out;
  out.Put<std::uint64_t>(rows.size());
  for (const auto& [index, row] : rows) {
    out.Put<std::uint64_t>(index);
    out.PutText(row->source);
    out.Put<std::int32_t>(static_cast<std::int32_t>(row->kind));
    out.Put<std::int32_t>(static_cast<std::int32_t>(row->action));
    out.PutText(row->folder);
    out.PutText(row->names.main);
    out.PutText(row->names.second);
    out.PutText(row->geoPackage);
    out.Put<std::uint8_t>(row->earlierNames ? 1 : 0);
  }
  return out.Take();
}

bool DecodeJob(std::string_view bytes, const std::shared_ptr<const Settings>& settings,
               std::vector<std::pair<std::size_t, PlannedRow>>& rows) {
  WireReader in(bytes);
  std::uint64_t count = 0;
  if (!in.Get(count)) return false;
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t index = 0;
    PlannedRow row;
    std::int32_t kind = 0;
    std::int32_t action = 0;
    std::uint8_t earlier = 0;
    if (!in.Get(index) || !in.GetText(row.source) || !in.Get(kind) || !in.Get(action) || !in.GetText(row.folder) ||
        !in.GetText(row.names.main) || !in.GetText(row.names.second) || !in.GetText(row.geoPackage) ||
        !in.Get(earlier)) {
      return false;
    }
    row.kind = static_cast<RowKind>(kind);
    row.action = static_cast<PlannedAction>(action);
    row.earlierNames = earlier != 0;
    row.settings = settings;
    rows.emplace_back(static_cast<std::size_t>(index), std::move(row));
  }
  return in.AtEnd();
}

// A worker process's answer to a job: per row its place, its outcome and what its conversions
// told the front end.
void EncodeOutcome(WireWriter& out, std::size_t index, const RowWork& work, const RowRecorder& recorder) {
  out.Put<std::uint64_t>(index);
  out.Put<std::int32_t>(work.result);
  out.Put<std::uint8_t>(work.content ? 1 : 0);
  out.PutText(work.content.value_or(""));
  out.Put<std::uint8_t>(work.resultName ? 1 : 0);
  out.PutText(work.resultName.value_or(""));
  out.Put<std::uint64_t>(work.outputs.size());
  for (const std::string& name : work.outputs) out.PutText(name);
  out.Put(work.seconds);
  recorder.Encode(out);
}

bool DecodeOutcome(WireReader& in, std::size_t& index, RowWork& work, RowRecorder& recorder) {
  std::uint64_t at = 0;
  std::uint8_t hasContent = 0;
  std::uint8_t hasName = 0;
  std::string content;
  std::string name;
  std::uint64_t outputs = 0;
  if (!in.Get(at) || !in.Get(work.result) || !in.Get(hasContent) || !in.GetText(content) || !in.Get(hasName) ||
      !in.GetText(name) || !in.Get(outputs)) {
    return false;
  }
  for (std::uint64_t i = 0; i < outputs; ++i) {
    std::string output;
    if (!in.GetText(output)) return false;
    work.outputs.push_back(std::move(output));
  }
  if (!in.Get(work.seconds) || !recorder.Decode(in)) return false;
  if (hasContent) work.content = std::move(content);
  if (hasName) work.resultName = std::move(name);
  index = static_cast<std::size_t>(at);
  return true;
}

// Rows handed to the workers and not yet done, per worker thread and per worker process.
constexpr std::size_t kRowsAheadPerJob = 16;
constexpr std::size_t kRowsAheadPerProcess = 48;
// Bytes of requests a worker process may have been sent and not have answered yet.
constexpr std::size_t kRequestBytesAhead = 64 * 1024;
// How often the answers of worker processes are looked for while the search goes on.
constexpr std::chrono::microseconds kCollectEvery{200};

// A fixed number of threads taking jobs in the order they come.
class WorkerPool {
 public:
  explicit WorkerPool(int threads) {
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this](std::stop_token stop) { Work(stop); });
  }
  ~WorkerPool() {
    for (std::jthread& worker : workers_) worker.request_stop();
    wake_.notify_all();
  }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  void Submit(std::function<void()> job) {
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
  }

 private:
  void Work(std::stop_token stop) {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mutex_);
        if (!wake_.wait(lock, stop, [this] { return !jobs_.empty(); })) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  }

  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::jthread> workers_;  // last: joined before the queue goes
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string CellText(const FileRow& row, int column) {
  const std::string& text = row.cells[static_cast<std::size_t>(column)];
  return text == kBlankCell ? std::string() : text;
}

}  // namespace

RowDispatch DispatchOf(int mode, RowKind kind, const Settings& settings) {
  if (kind == RowKind::Project) {
    return {true, (mode == 1 || StyledMode(mode)) && settings.ExportLayerIndex != 0, false};
  }
  if (StyledMode(mode) && kind == RowKind::Point) return {true, true, true};
  const DispatchEntry* entry = FindDispatch(mode, kind);
  if (entry == nullptr) return {};
  return {true, !entry->secondName, entry->secondName};
}

std::string_view ResultWord(std::int32_t result) {
  const RowOutcome outcome = OutcomeOf(result);
  if (!outcome.resultText.empty()) return outcome.resultText;
  if (result == kRowMissing) return "不存在";
  if (result == kRowSkipped) return "跳过";
  return outcome.resultText;
}

HandOut HandOutOf(std::size_t waiting, bool sameGroup, std::int64_t sourceBytes) {
  const bool small = sourceBytes <= kSmallRowBytes;
  return {waiting > 0 && (!small || !sameGroup || waiting >= kRowsPerJob), !small};
}

int JobsOf(std::int32_t setting) {
  if (setting > 0) return setting;
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

BatchSummary BatchDriver::Run(int mode) {
  ExecuteOptions options;
  options.jobs = JobsOf(AppSettings().Jobs);
  return Run(mode, options);
}

BatchSummary BatchDriver::Run(int mode, const ExecuteOptions& options) {
  if (list_.Empty()) {
    view_.Message(kAttentionCaption, kEmptyListText, MessageIcon::Warning);
    return {};
  }
  ResetListResults();
  if (AppSettings().SymbolType != 0) styles_.ConvertLoadRules(AppSettings(), notifier_);
  return ConvertFileList(mode, AppSettings().OutPath, options);
}

void BatchDriver::ResetListResults() {
  for (const RowRef& ref : list_.PreOrder()) {
    FileRow& row = list_.Row(ref);
    for (int c : {ColumnContent, ColumnResult, ColumnResultName}) row.cells[static_cast<std::size_t>(c)] = kBlankCell;
    row.colour = kRowBlack;
  }
  view_.ListChanged(list_);
  log_.Clear();
  view_.ShowConversionInfo({});
}

BatchSummary BatchDriver::ConvertFileList(int mode, const std::string& outputFolder) {
  ExecuteOptions options;
  options.jobs = JobsOf(AppSettings().Jobs);
  return ConvertFileList(mode, outputFolder, options);
}

BatchSummary BatchDriver::ConvertFileList(int mode, const std::string& outputFolder, const ExecuteOptions& options) {
  // Every row's conversions see the settings as they stand when the batch starts. Each row is
  // planned just before it starts: its names then depend on the rows before it alone.
  BatchPlanner planner(list_, mode, outputFolder, AppSettings(), options.resume);
  std::deque<PlannedRow> rows;  // grows at its end only: running rows hold references
  const auto rowAt = [&](std::size_t) -> const PlannedRow& {
    rows.push_back(planner.Next());
    return rows.back();
  };
  if (!options.queueMore) return Execute(planner.Count(), planner.Count(), mode, rowAt, options, {}, planner.Snapshot());
  // The list is still being searched: the rows found meanwhile are planned after those before.
  const auto grow = [&](std::size_t& count) {
    const bool more = options.queueMore();
    planner.Extend();
    count = planner.Count();
    return more;
  };
  return Execute(planner.Count(), 0, mode, rowAt, options, grow, planner.Snapshot());
}

BatchSummary BatchDriver::ExecutePlan(const BatchPlan& plan, const ExecuteOptions& options) {
  const auto rowAt = [&plan](std::size_t i) -> const PlannedRow& { return plan.rows[i]; };
  return Execute(plan.rows.size(), plan.totalRows, plan.mode, rowAt, options);
}

BatchSummary BatchDriver::Execute(std::size_t count, std::size_t totalRows, int mode,
                                  const std::function<const PlannedRow&(std::size_t)>& rowAt,
                                  const ExecuteOptions& options, const std::function<bool(std::size_t&)>& grow,
                                  const std::shared_ptr<const Settings>& processSettings) {
  BatchSummary summary;
  summary.started = true;
  const auto countRows = [&] { summary.total = static_cast<std::int32_t>(std::min<std::size_t>(count, INT32_MAX)); };
  countRows();
  const int jobs = std::max(1, options.jobs);
  // More rows may come while the run goes on (see ExecuteOptions::queueMore).
  bool growing = static_cast<bool>(grow);
  const bool parallel = jobs > 1 && (count > 1 || growing);
  const auto runStart = std::chrono::steady_clock::now();

  struct Slot {
    std::unique_ptr<RowRecorder> recorder;
    RowWork work;
    const PlannedRow* row = nullptr;  // set when the row starts
    const ReportRow* resumed = nullptr;
    SourceStamp stamp;
    bool startLogged = false;
    bool done = false;  // guarded by `mutex` while workers run
  };
  // Grows at its end only while rows come: the workers hold pointers to their rows' slots.
  std::deque<Slot> slots(count);
  GeoPackageLocks geoPackageLocks;  // outlives the workers (the pool is made below)
  std::mutex mutex;
  std::condition_variable finished;
  std::size_t running = 0;  // guarded by `mutex`
  // While the main thread waits: a worker wakes it when fewer rows than this are running, or when
  // it finishes row `waitFront`. Guarded by `mutex`.
  constexpr std::size_t kNoRow = SIZE_MAX;
  std::size_t wakeBelow = 0;
  std::size_t waitFront = kNoRow;

  std::size_t next = 0;    // the next row to start
  std::size_t front = 0;   // the next row to report
  bool stopping = false;
  // Rows done ahead of a slow one wait with what they would print; this many at most.
  std::size_t window = static_cast<std::size_t>(jobs) * 32;
  // Rows handed to the workers and not yet done, queued ones included: a few per worker, so a
  // worker that finishes a small row takes the next at once instead of waiting for this thread.
  // A row handed out is a row started: a stop request lets it finish, as the running ones.
  std::size_t ahead = static_cast<std::size_t>(jobs) * kRowsAheadPerJob;

  const auto startLog = [&](const PlannedRow& row, Slot& slot) {
    log_.Add(FormatText(kRowStartLog.data(), row.source.c_str()));
    if (slot.resumed != nullptr) {
      log_.Add(FormatText(kResumedLog.data(), slot.resumed->name.c_str()));
    } else {
      for (const std::string& message : row.namingLog) log_.Add(message);
    }
    slot.startLogged = true;
  };

  // Row `i` done with `work`: on a worker thread, or on this one with worker processes.
  const auto rowDone = [&](std::size_t i, Slot& own, RowWork work) {
    std::lock_guard lock(mutex);
    own.work = std::move(work);
    own.done = true;
    --running;
    // The main thread sleeps until enough rows are done to hand out more, or until the row it
    // waits for is done; waking it for every row would cost more than many small rows take.
    if (running < wakeBelow || i == waitFront) finished.notify_all();
  };

  using JobRows = std::vector<std::pair<std::size_t, Slot*>>;
  // A job's rows failed because their worker process ended before it told their outcomes; what
  // they may have begun to write goes.
  const auto failJob = [&](const JobRows& rowsOfJob) {
    for (const auto& [i, slot] : rowsOfJob) {
      const PlannedRow& row = *slot->row;
      slot->recorder->Log(kWorkerGoneLog);
      if (!row.earlierNames && row.geoPackage.empty()) {
        for (const std::string* name : {&row.names.main, &row.names.second}) {
          if (!name->empty()) DeleteOutputs(*name);
        }
      }
      RowWork work;
      work.result = -1;
      rowDone(i, *slot, std::move(work));
    }
  };
  // Converts a job's rows on the calling thread.
  const auto convertHere = [&](const JobRows& rowsOfJob) {
    for (const auto& [i, slot] : rowsOfJob) {
      rowDone(i, *slot, ConvertRowOfJob(*slot->row, mode, styles_, *slot->recorder, geoPackageLocks));
    }
  };

  // With worker processes (forked here, while the run has one thread) the jobs go to them instead
  // of to worker threads. A process converts a job's rows as a worker thread would, with the
  // run's settings snapshot and colour library as they were here.
  const auto serve = [&](std::string_view request) {
    std::vector<std::pair<std::size_t, PlannedRow>> rows;
    if (!DecodeJob(request, processSettings, rows)) return std::string();
    GeoPackageLocks locks;  // the process converts one row at a time
    WireWriter out;
    for (const auto& [index, row] : rows) {
      RowRecorder recorder(nullptr, nullptr);
      const RowWork work = ConvertRowOfJob(row, mode, styles_, recorder, locks);
      EncodeOutcome(out, index, work, recorder);
    }
    return out.Take();
  };
  std::optional<WorkerProcesses> processes;
  if (parallel && options.processes && processSettings) processes.emplace(jobs, serve);
  if (processes && processes->Count() == 0) processes.reset();
  // Per worker process: the jobs sent to it and not yet answered, oldest first. This thread sends
  // each job to the process with the fewest rows waiting and takes in the answers itself (see
  // `collect`), so a process that finishes a job goes on with the next one already sent without
  // waiting for this thread, and no thread here but this one runs.
  struct SentJob {
    JobRows rows;
    std::size_t bytes = 0;  // of its request
  };
  struct Lane {
    std::deque<SentJob> sent;
    std::size_t rows = 0;   // rows of `sent`
    std::size_t bytes = 0;  // request bytes of `sent`
    bool alive = true;
  };
  std::vector<Lane> lanes(processes ? static_cast<std::size_t>(processes->Count()) : 0);
  if (processes) {
    // A process is woken to take in more only when it runs low, so it holds more rows ahead
    // than a thread does.
    ahead = static_cast<std::size_t>(jobs) * kRowsAheadPerProcess;
    window = std::max(window, 2 * ahead);
  }
  // The process a GeoPackage's rows go to: one at a time writes a GeoPackage, as one worker thread
  // at a time does.
  std::map<std::string, std::size_t> packageLane;
  // Sends a job to a worker process; false when none takes it.
  std::function<bool(const JobRows&)> sendJob;
  // Process `k` ended (or answered what is no answer): the job it was on fails, since it may have
  // been what ended it; the jobs it had not begun go to the other processes, or convert here.
  const auto loseLane = [&](std::size_t k) {
    Lane& lane = lanes[k];
    lane.alive = false;
    std::deque<SentJob> lost;
    lost.swap(lane.sent);
    lane.rows = 0;
    lane.bytes = 0;
    for (auto& [package, at] : packageLane) {
      if (at == k) at = SIZE_MAX;
    }
    for (std::size_t j = 0; j < lost.size(); ++j) {
      if (j == 0) {
        failJob(lost[j].rows);
      } else if (!sendJob(lost[j].rows)) {
        convertHere(lost[j].rows);
      }
    }
  };
  // Takes in the answer process `k` has ready; false when the process is gone.
  const auto takeAnswer = [&](std::size_t k) {
    Lane& lane = lanes[k];
    const std::optional<std::string> answer = processes->Receive(static_cast<int>(k));
    if (!answer || lane.sent.empty()) return false;
    const JobRows job = std::move(lane.sent.front().rows);
    lane.bytes -= lane.sent.front().bytes;
    lane.sent.pop_front();
    lane.rows -= job.size();
    WireReader in(*answer);
    for (std::size_t r = 0; r < job.size(); ++r) {
      const auto& [i, slot] = job[r];
      RowWork work;
      std::size_t index = 0;
      if (!DecodeOutcome(in, index, work, *slot->recorder) || index != i) {
        // Not an answer of this program: the rows it does not tell fail with the process.
        lane.sent.push_front({JobRows(job.begin() + static_cast<std::ptrdiff_t>(r), job.end()), 0});
        lane.rows += job.size() - r;
        return false;
      }
      rowDone(i, *slot, std::move(work));
    }
    return true;
  };
  // Takes in the answers the processes have ready, waiting up to `timeout` for one when none is.
  std::vector<pollfd> polled;
  std::vector<std::size_t> polledLane;  // the lane of each answer channel of `polled`
  auto lastCollect = std::chrono::steady_clock::now();
  const auto collect = [&](std::chrono::milliseconds timeout) {
    polled.clear();
    polledLane.clear();
    if (timeout.count() > 0) {
      // Asleep until a process runs low on work or ends (its channel hangs up).
      polled.push_back({processes->WakeDescriptor(), POLLIN, 0});
      for (std::size_t k = 0; k < lanes.size(); ++k) {
        if (lanes[k].alive && !lanes[k].sent.empty()) polled.push_back({processes->Socket(static_cast<int>(k)), 0, 0});
      }
      if (polled.size() == 1) return;
      ::poll(polled.data(), polled.size(), static_cast<int>(timeout.count()));
      processes->TakeWakes();
      polled.clear();
    }
    for (std::size_t k = 0; k < lanes.size(); ++k) {
      if (!lanes[k].alive || lanes[k].sent.empty()) continue;
      polled.push_back({processes->Socket(static_cast<int>(k)), POLLIN, 0});
      polledLane.push_back(k);
    }
    if (polled.empty() || ::poll(polled.data(), polled.size(), 0) <= 0) return;
    for (std::size_t p = 0; p < polled.size(); ++p) {
      if (polled[p].revents == 0) continue;
      const std::size_t k = polledLane[p];
      // Every answer that came, not only the first.
      do {
        if (!takeAnswer(k)) {
          loseLane(k);
          break;
        }
      } while (!lanes[k].sent.empty() && BytesWaiting(processes->Socket(static_cast<int>(k))));
    }
  };

  sendJob = [&](const JobRows& rowsOfJob) {
    std::vector<std::pair<std::size_t, const PlannedRow*>> rows;
    for (const auto& [i, slot] : rowsOfJob) {
      if (slot->row->settings != processSettings) return false;
      rows.emplace_back(i, slot->row);
    }
    const std::string request = EncodeJob(rows);
    const std::string& package = rowsOfJob.front().second->row->geoPackage;
    // A process takes the job while what it was sent and has not answered stays well inside what
    // its channel holds: this thread never waits on a send while the process waits for it to take
    // an answer in.
    const auto takes = [&](std::size_t k) {
      return lanes[k].alive && (lanes[k].sent.empty() || lanes[k].bytes + request.size() <= kRequestBytesAhead);
    };
    std::size_t k = SIZE_MAX;
    for (;;) {
      const auto pinned = package.empty() ? packageLane.end() : packageLane.find(package);
      bool anyAlive = false;
      if (pinned != packageLane.end()) {
        // A GeoPackage whose process ended is written here from then on.
        if (pinned->second == SIZE_MAX || !lanes[pinned->second].alive) return false;
        anyAlive = true;
        if (takes(pinned->second)) k = pinned->second;
      } else {
        for (std::size_t candidate = 0; candidate < lanes.size(); ++candidate) {
          anyAlive = anyAlive || lanes[candidate].alive;
          if (takes(candidate) && (k == SIZE_MAX || lanes[candidate].rows < lanes[k].rows)) k = candidate;
        }
      }
      if (k != SIZE_MAX) break;
      if (!anyAlive) return false;  // no process left: everything converts here
      collect(std::chrono::milliseconds(100));
    }
    Lane& lane = lanes[k];
    lane.sent.push_back({rowsOfJob, request.size()});
    lane.rows += rowsOfJob.size();
    lane.bytes += request.size();
    if (!package.empty()) packageLane.emplace(package, k);
    if (processes->Send(static_cast<int>(k), request)) return true;
    // Gone: this job never reached it. What it answered before it ended is taken in, and the job
    // goes to another process.
    lane.sent.pop_back();
    lane.rows -= rowsOfJob.size();
    lane.bytes -= request.size();
    while (!lane.sent.empty() && takeAnswer(k)) {
    }
    loseLane(k);
    return sendJob(rowsOfJob);
  };
  // Created last, destroyed first: every worker has stopped before the slots go.
  std::optional<WorkerPool> pool;
  if (parallel && !processes) pool.emplace(jobs);

  // Rows started and not yet handed to a worker: small rows of one project.
  std::vector<std::size_t> batch;
  // Hands the rows of `batch` to one worker, which converts them in order, each marked done as it
  // ends.
  const auto flush = [&] {
    if (batch.empty()) return;
    JobRows rowsOfJob;
    for (const std::size_t i : batch) rowsOfJob.emplace_back(i, &slots[i]);
    if (processes) {
      // No process left (or rows of other settings): the job converts here.
      if (!sendJob(rowsOfJob)) convertHere(rowsOfJob);
    } else {
      pool->Submit([&convertHere, rowsOfJob = std::move(rowsOfJob)] { convertHere(rowsOfJob); });
    }
    batch.clear();
  };

  // Starts row `i`; false when the user stops the run instead.
  const auto start = [&](std::size_t i) -> bool {
    const PlannedRow& row = rowAt(i);
    Slot& slot = slots[i];
    slot.row = &row;
    view_.RowStarted(list_, row.ref);
    if (view_.PollCancel() && view_.Ask(kCancelCaption, kCancelQuestion, true)) return false;
    view_.StatusProgressText(FormatText(kProgressFormat.data(), static_cast<int>(std::min<std::size_t>(i, INT32_MAX)),
                                        summary.total));
    view_.StatusInfoText(FormatText(kConvertingFormat.data(), CompactPath(row.source, 49).c_str()));
    if (!parallel) view_.StatusProgressBar(0);
    if (options.report != nullptr) slot.stamp = StampOf(row.source);

    if (options.resume != nullptr && row.action == PlannedAction::Convert) {
      slot.resumed = options.resume->Find(row.number, row.source, row.kind);
    }
    if (slot.resumed != nullptr || row.action != PlannedAction::Convert || !parallel) {
      // Done here: taken over, nothing to convert, or one row at a time (its messages shown live).
      const bool live = !parallel && front == i;
      if (live) startLog(row, slot);
      slot.recorder = live ? std::make_unique<RowRecorder>(&view_, &log_) : std::make_unique<RowRecorder>(nullptr, nullptr);
      if (slot.resumed == nullptr) {
        const auto rowStart = std::chrono::steady_clock::now();
        slot.work = ConvertPlannedRow(row, mode, styles_, *slot.recorder, geoPackageLocks);
        slot.work.seconds = SecondsSince(rowStart);
      }
      std::lock_guard lock(mutex);
      slot.done = true;
      return true;
    }
    slot.recorder = std::make_unique<RowRecorder>(nullptr, nullptr);
    {
      std::lock_guard lock(mutex);
      ++running;
    }
    // A row read from a plan is sized now, from its report stamp when it has one.
    std::int64_t bytes = row.sourceBytes;
    if (bytes < 0) {
      std::error_code ec;
      const std::uintmax_t size = options.report != nullptr ? slot.stamp.size : fs::file_size(row.source, ec);
      const bool known = options.report != nullptr ? slot.stamp.exists : !ec;
      bytes = known ? static_cast<std::int64_t>(std::min<std::uintmax_t>(size, INT64_MAX)) : kSmallRowBytes + 1;
    }
    const bool sameGroup = !batch.empty() && slots[batch.front()].row->group == row.group &&
                           slots[batch.front()].row->geoPackage == row.geoPackage;
    const HandOut handOut = HandOutOf(batch.size(), sameGroup, bytes);
    if (handOut.before) flush();
    batch.push_back(i);
    if (handOut.after) flush();
    return true;
  };

  // Passes row `i`'s outcome on: the log, the list, the view and the report.
  const auto report = [&](std::size_t i) {
    Slot& slot = slots[i];
    const PlannedRow& row = *slot.row;
    if (!slot.startLogged) startLog(row, slot);
    if (slot.recorder) slot.recorder->Replay(view_, log_);
    slot.recorder.reset();

    FileRow& listRow = list_.Row(row.ref);
    std::int32_t result = slot.work.result;
    std::vector<std::string> outputs = std::move(slot.work.outputs);
    if (slot.resumed != nullptr) {
      result = slot.resumed->result;
      listRow.cells[ColumnContent] = slot.resumed->content.empty() ? kBlankCell : slot.resumed->content;
      listRow.cells[ColumnResultName] = slot.resumed->name.empty() ? kBlankCell : slot.resumed->name;
      outputs = slot.resumed->outputs;
      ++summary.resumed;
    } else {
      if (slot.work.content) listRow.cells[ColumnContent] = *slot.work.content;
      if (slot.work.resultName) listRow.cells[ColumnResultName] = *slot.work.resultName;
    }
    WriteOutcome(row.ref, result, summary.counts);
    view_.RowOutputs(list_, row.ref, outputs, row.geoPackage);
    view_.RowFinished(list_, row.ref, result);
    if (parallel) view_.StatusProgressBar(static_cast<int>(100 * (i + 1) / count));

    if (options.report != nullptr) {
      ReportRow line;
      line.row = row.number;
      line.source = row.source;
      line.stamp = slot.stamp;
      const BatchCommand* command = FindBatchCommandByMode(mode);
      line.mode = command != nullptr ? std::string(command->name) : std::to_string(mode);
      line.kind = std::string(KindWord(row.kind));
      line.result = result;
      line.resultText = std::string(ResultWord(result));
      line.content = CellText(listRow, ColumnContent);
      line.name = CellText(listRow, ColumnResultName);
      line.folder = row.folder;
      line.names = row.names;
      line.outputs = std::move(outputs);
      line.geoPackage = slot.resumed != nullptr ? slot.resumed->geoPackage : row.geoPackage;
      line.seconds = slot.resumed != nullptr ? 0.0 : slot.work.seconds;
      line.resumed = slot.resumed != nullptr;
      options.report->Row(line);
    }
  };

  for (;;) {
    // Report the rows at the front that are done, in order.
    while (front < next) {
      {
        std::lock_guard lock(mutex);
        if (!slots[front].done) break;
      }
      report(front);
      ++front;
    }
    if ((front == count && !growing) || (stopping && front == next)) break;

    bool free = !stopping && next < count && next - front < window;
    if (free && parallel) {
      std::lock_guard lock(mutex);
      free = running < ahead;
    }
    if (free) {
      if (start(next)) {
        ++next;
      } else {
        stopping = true;
      }
      continue;
    }
    if (growing && !stopping) {
      // Nothing to hand out now (or the workers have enough): the search goes on meanwhile. The
      // rows held back for one worker are all of their project once every row found is out.
      if (next == count) flush();
      if (processes) {
        // The processes' answers are looked for now and then, not at every step.
        const auto now = std::chrono::steady_clock::now();
        if (now - lastCollect >= kCollectEvery) {
          lastCollect = now;
          collect(std::chrono::milliseconds(0));
        }
      }
      growing = grow(count);
      slots.resize(count);
      countRows();
      if (view_.PollCancel() && view_.Ask(kCancelCaption, kCancelQuestion, true)) stopping = true;
      continue;
    }
    flush();  // nothing more to hand out for now
    // Wait: for worker threads, while more rows may be handed out, until half of those handed out
    // are done, else until the front row is done; for worker processes, until one runs low on rows
    // or ends. A stop request is noticed meanwhile.
    if (processes) {
      collect(std::chrono::milliseconds(100));
      lastCollect = std::chrono::steady_clock::now();
    } else {
      std::unique_lock lock(mutex);
      const bool topUp = !stopping && next < count && next - front < window;
      wakeBelow = topUp ? ahead / 2 + 1 : 0;
      waitFront = topUp ? kNoRow : front;
      finished.wait_for(lock, std::chrono::milliseconds(100), [&] {
        return topUp ? running < wakeBelow : (front < next && slots[front].done);
      });
      wakeBelow = 0;
      waitFront = kNoRow;
    }
    if (!stopping && next < count && view_.PollCancel() && view_.Ask(kCancelCaption, kCancelQuestion, true)) {
      stopping = true;
    }
  }
  pool.reset();
  processes.reset();  // every job sent was answered: the processes end
  // A run stopped while rows still came starts none of the rest; they are queued all the same.
  while (growing) growing = grow(count);
  countRows();

  if (stopping) {
    log_.Add(kCancelledLog);
    summary.cancelled = true;
  }

  const BatchCounters& c = summary.counts;
  const std::int64_t all = static_cast<std::int64_t>(c.succeeded) + c.empty + c.skipped + c.failed + c.missing;
  view_.StatusProgressText(FormatText(kProgressFormat.data(), static_cast<int>(all), summary.total));
  view_.StatusInfoText(summary.Text());
  view_.StatusProgressBar(0);
  if (options.report != nullptr) {
    ReportSummary s;
    s.rows = count;
    s.planRows = totalRows > 0 ? totalRows : count;
    s.counts = c;
    s.resumed = summary.resumed;
    s.cancelled = summary.cancelled;
    s.seconds = SecondsSince(runStart);
    s.jobs = jobs;
    s.shard = options.shard;
    options.report->Summary(s);
  }
  view_.RunFinished(summary);
  return summary;
}

void BatchDriver::WriteOutcome(const RowRef& ref, std::int32_t result, BatchCounters& counts) {
  const RowOutcome outcome = OutcomeOf(result);
  FileRow& row = list_.Row(ref);
  row.cells[ColumnResult] = outcome.resultText;
  row.colour = outcome.colour;
  counts.Count(result);
  log_.Add(outcome.logMessage);
}

void BatchDriver::ShowConversionLog(const RowRef& ref) {
  view_.ShowConversionInfo({});
  const std::string text = ConversionLogText(list_.Row(ref).cells[ColumnResultName]);
  if (!text.empty()) view_.ShowConversionInfo(text);
}

std::string ConversionLogText(std::string_view resultName) {
  if (resultName.find_first_not_of(' ') == std::string_view::npos) return {};
  std::ifstream in(std::string(resultName) + ".log", std::ios::binary);
  if (!in) return {};
  const std::string gbk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string utf8 = MapGis::GbkToUtf8(gbk);
  std::string text;
  for (std::size_t start = 0; start < utf8.size();) {
    std::size_t end = std::min(utf8.find('\n', start), utf8.size());
    std::string_view line(utf8.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (start > 0) text += "\r\n";
    text += line;
    start = end + 1;
  }
  return text;
}

OperationLog::SaveResult ExportList(const FileList& list, const fs::path& file) {
  std::string text(kListHeader);
  int number = 0;
  for (const RowRef& ref : list.PreOrder()) {
    const FileRow& row = list.Row(ref);
    const std::string extension = fs::path(row.cells[ColumnName]).extension().string();
    text += FormatText("%d,%s,%s,%s,%s,%s,%s,%s,%s\n", ++number, row.cells[ColumnName].c_str(), extension.c_str(),
                       row.cells[ColumnPath].c_str(), row.cells[ColumnSize].c_str(),
                       row.cells[ColumnContent].c_str(), row.cells[ColumnResult].c_str(),
                       row.cells[ColumnResultName].c_str(), "");
  }
  return WriteGbkText(file, text);
}

}  // namespace Kvx
