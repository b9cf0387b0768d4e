#include "batch/batch_driver.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "batch/output_naming.h"
#include "settings/settings.h"
#include "batch/text_format.h"
#include "engine/conversion_frame.h"
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
  return ConvertMPJ2SHP(source, outputBase, services.notifier, FrameSettings::From(snapshot));
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

BatchSummary BatchDriver::Run(int mode) {
  if (list_.Empty()) {
    view_.Message(kAttentionCaption, kEmptyListText, MessageIcon::Warning);
    return {};
  }
  ResetListResults();
  if (AppSettings().SymbolType != 0) styles_.ConvertLoadRules(AppSettings(), notifier_);
  return ConvertFileList(mode, AppSettings().OutPath);
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
  BatchSummary summary;
  summary.started = true;
  const std::vector<RowRef> order = list_.PreOrder();
  summary.total = static_cast<std::int32_t>(std::min<std::size_t>(order.size(), INT32_MAX));
  std::int32_t processed = 0;

  for (const RowRef& ref : order) {
    view_.RowStarted(list_, ref);
    if (view_.PollCancel() && view_.Ask(kCancelCaption, kCancelQuestion, true)) {
      log_.Add(kCancelledLog);
      summary.cancelled = true;
      break;
    }
    const std::string path = list_.Row(ref).Path();
    log_.Add(FormatText(kRowStartLog.data(), path.c_str()));
    view_.StatusProgressText(FormatText(kProgressFormat.data(), processed, summary.total));
    view_.StatusInfoText(FormatText(kConvertingFormat.data(), CompactPath(path, 49).c_str()));
    view_.StatusProgressBar(0);

    const std::int32_t result = ConvertRow(ref, mode, outputFolder);
    WriteOutcome(ref, result, summary.counts);
    view_.RowFinished(list_, ref, result);
    ++processed;
  }

  const BatchCounters& c = summary.counts;
  const std::int64_t all = static_cast<std::int64_t>(c.succeeded) + c.empty + c.skipped + c.failed + c.missing;
  view_.StatusProgressText(FormatText(kProgressFormat.data(), static_cast<int>(all), summary.total));
  view_.StatusInfoText(summary.Text());
  view_.StatusProgressBar(0);
  view_.RunFinished(summary);
  return summary;
}

void BatchDriver::WriteOutcome(const RowRef& ref, std::int32_t result, BatchCounters& counts) {
  const RowOutcome outcome = OutcomeOf(result);
  FileRow& row = list_.Row(ref);
  row.cells[ColumnResult] = outcome.resultText;
  row.colour = outcome.colour;
  switch (result) {
    case kRowSuccess: ++counts.succeeded; break;
    case kRowMissing: ++counts.missing; break;
    case kRowEmpty: ++counts.empty; break;
    case kRowSkipped: ++counts.skipped; break;
    default: ++counts.failed; break;
  }
  log_.Add(outcome.logMessage);
}

std::int32_t BatchDriver::ConvertRow(const RowRef& ref, int mode, const std::string& outputFolder) {
  const fs::path source = list_.Row(ref).Path();
  std::error_code ec;
  if (!fs::exists(source, ec)) return kRowMissing;

  // A layer this mode does not convert needs no names (nor renaming messages).
  const RowKind kind = KindOfPath(source);
  const DispatchEntry* entry = FindDispatch(mode, kind);
  const bool pointsAndNotes = StyledMode(mode) && kind == RowKind::Point;
  if (kind != RowKind::Project && entry == nullptr && !pointsAndNotes) return kRowSkipped;

  std::string folder = outputFolder;
  BuildOutputDir(list_, ref, folder, log_);
  const OutputNames names = BuildFinalName(folder, source, log_);
  // The row's conversions all see the settings as they stand when the row starts.
  const Settings settings = AppSettings();
  const ConversionServices services{styles_, notifier_};
  FileRow& row = list_.Row(ref);

  // Runs one conversion into `name`; its empty outputs go unless the settings keep them.
  std::int32_t result = kRowSkipped;
  bool outputFolderChecked = false;
  auto run = [&](Routine routine, const std::string& name, std::string_view label) -> std::int32_t {
    row.cells[ColumnResultName] = name;
    row.cells[ColumnContent] = label;
    if (!outputFolderChecked && !IsDirectory(folder)) {
      log_.Add(FormatText(kOutputUnwritableLog.data(), folder.c_str()));
      return kConvertOutputFailed;
    }
    outputFolderChecked = true;
    const std::int32_t r = routine(source, fs::path(name), services, settings);
    if (r == kConvertOutputFailed) log_.Add(FormatText(kOutputUnwritableLog.data(), name.c_str()));
    if (r == kRowEmpty && mode != 7 && settings.ExportEmptyFile == 0) DeleteOutputs(name);
    return r;
  };

  if (kind == RowKind::Project) {
    if ((mode == 1 || StyledMode(mode)) && settings.ExportLayerIndex != 0) {
      result = run(&ProjectIndex, names.main, mode == 1 ? "图层索引" : "索引");
    }
    // The project's layer rows take their folder from this name, whatever became of the index.
    row.cells[ColumnResultName] = names.main;
    if (result == kRowEmpty && settings.ExportEmptyFile == 0) row.cells[ColumnContent] = "";
    return result;
  }

  if (pointsAndNotes) {
    // Symbol points into the main name, then annotations into the second.
    const std::int32_t points = run(&Layer<ConvertWTPoint2SHP>, names.main, "要素");
    const std::int32_t notes = run(&Layer<ConvertWTNote2SHP>, names.second, "要素");
    result = points;
    row.cells[ColumnResultName] = names.main;
    row.cells[ColumnContent] = "要素";
    if (notes == kRowSuccess) {
      if (points != kRowSuccess) {
        result = kRowSuccess;
        row.cells[ColumnResultName] = names.second;
      }
      row.cells[ColumnContent] = "要素+文字";
    }
  } else if (entry != nullptr) {
    result = run(entry->routine, entry->secondName ? names.second : names.main, entry->label);
  }

  if (result == kRowEmpty && mode != 7 && settings.ExportEmptyFile == 0) {
    row.cells[ColumnResultName] = "";
    row.cells[ColumnContent] = "";
  }
  return result;
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
