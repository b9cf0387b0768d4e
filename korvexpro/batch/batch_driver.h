#pragma once

// The batch: one command (convert all point files, write AVL legends, …) run over the whole file
// list. Every row is visited in list order (a project row before its layer rows); the mode and the
// row's kind choose the conversion(s), the output naming places them, and the row's outcome goes
// back into the list, the counters and the operation log.
//
// Per-row result codes: kConvertSuccess (99999), kRowEmpty (10), kRowMissing (11: the source does
// not exist), kRowSkipped (12: not a file this mode converts); anything else is a failure (the
// codes of the conversions).
//
// Modes (BatchCommands() lists the commands that start them):
//   1 quick: projects (layer index), points, lines, regions, tables, network lines
//   2 points   3 lines   4 regions   5 region arcs   6 network nodes   7 attribute spreadsheets
//   10 annotation labels   11, 12, 13 every kind with drawing parameters (SymbolType 2, 1, 4);
//   a point file gives its symbol points and then its annotations
// Any other mode skips every row.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "batch/batch_plan.h"
#include "batch/batch_view.h"
#include "batch/file_list.h"
#include "batch/row_results.h"
#include "batch/operation_log.h"
#include "styles/colour_models.h"
#include "styles/notifier.h"

namespace Kvx {

class RunReport;
class RunResume;

// Wizard pages of a command.
enum WizardPages : unsigned {
  PageProjection = 1,
  PageSymbol = 2,
  PageExport = 4,
};

struct BatchCommand {
  std::string_view name;  // the command line's name of the mode ("quick", "points", …)
  int id;                 // command identifier
  std::string_view text;  // tool tip "description\nshort name"
  std::int32_t symbolType;
  unsigned pages;  // WizardPages
  int mode;
};

// The commands that start a batch, in menu order.
std::span<const BatchCommand> BatchCommands();
// The command of a command-line name, or of a mode; nullptr when there is none.
const BatchCommand* FindBatchCommand(std::string_view name);
const BatchCommand* FindBatchCommandByMode(int mode);

struct BatchSummary {
  BatchCounters counts;
  std::int32_t total = 0;  // rows in the list when the run started
  bool started = false;    // false: the list was empty, nothing ran
  bool cancelled = false;  // the user stopped the run
  std::int32_t resumed = 0;  // rows taken over from an earlier run's report (among the counts)
  // "转换完成：%d个成功,%d个空文件,%d个跳过,%d个失败"
  std::string Text() const;
};

inline constexpr std::string_view kSummaryFormat = "转换完成：%d个成功,%d个空文件,%d个跳过,%d个失败";
inline constexpr std::string_view kSummaryCaption = "转换完成";
inline constexpr std::string_view kEmptyListText = "待转换文件列表为空，请先添加文件!";
inline constexpr std::string_view kCancelCaption = "取消转换";
inline constexpr std::string_view kCancelQuestion = "确定要取消当前转换？";
inline constexpr std::string_view kCancelledLog = "用户中断了本次转换";
inline constexpr std::string_view kRowStartLog = "====开始转换[%s]\n";
inline constexpr std::string_view kProgressFormat = "进度：[%d/%d]";
inline constexpr std::string_view kConvertingFormat = "正在转换%s";
inline constexpr std::string_view kOutputUnwritableLog = "输出文件无法写入，请检查输出路径[%s]";
inline constexpr std::string_view kListExportedText = "转换列表信息已经正确输出！";
inline constexpr std::string_view kResumedLog = "上次转换已完成，沿用其结果[%s]";
inline constexpr std::string_view kListHeader = "编号,文件名称,文件类型,文件路径,投影信息,文件大小,输出名称,转换时间,状态\n";

// The texts of one row outcome.
struct RowOutcome {
  std::string_view resultText;  // column 4
  std::uint32_t colour;
  std::string_view logMessage;
};
RowOutcome OutcomeOf(std::int32_t result);

// The result word of a row's stdout line and report line: the list's result text, or "不存在"
// (missing) and "跳过" (not converted by this mode) where the list leaves it blank.
std::string_view ResultWord(std::int32_t result);

// Small rows of one project go to one worker together, kRowsPerJob at most: two workers writing
// into one folder at once wait for each other's file creations, and each hand-over wakes a
// thread. A row whose source is larger than kSmallRowBytes goes alone, so the large layers of a
// project still spread over the workers.
inline constexpr std::size_t kRowsPerJob = 16;
inline constexpr std::int64_t kSmallRowBytes = 64 * 1024;
// What a batch does with the rows waiting to be handed out (`waiting` of them) when it starts a
// row: hand them out before the row joins them (`before`), and hand out the row at once with
// whatever waits before it (`after`). `sameGroup`: the row is of the waiting rows' project.
struct HandOut {
  bool before = false;
  bool after = false;
  bool operator==(const HandOut&) const = default;
};
HandOut HandOutOf(std::size_t waiting, bool sameGroup, std::int64_t sourceBytes);

// The number of rows converted at once for the setting Jobs: the value itself when it is above 0,
// else one per processor core.
int JobsOf(std::int32_t setting);

// How a batch runs its plan.
struct ExecuteOptions {
  int jobs = 1;                       // rows converted at once (below 1: one)
  RunReport* report = nullptr;        // gets a line per row as it finishes, then the summary
  const RunResume* resume = nullptr;  // rows an earlier run converted are taken over
  std::string shard;                  // "I/N" named in the report's summary
  // For a list still being searched (ConvertFileList only): queues a few more rows at the end of
  // the list, each top-level row with all its layer rows, and returns false once nothing more
  // will come. The run calls it on its own thread whenever it has no row to hand out or its
  // workers are busy, so the search goes on while rows convert; rows come in the same order as
  // from a search made beforehand.
  std::function<bool()> queueMore;
  // With more than one job (ConvertFileList only): the rows convert in worker processes forked
  // when the run starts, one per job, instead of on threads of this process. Only a program that
  // runs one thread when the batch starts can fork (the command line); otherwise threads do it.
  bool processes = false;
};

// The operation-log line of a row whose worker process ended before it told the row's outcome.
inline constexpr std::string_view kWorkerGoneLog = "转换失败：转换进程意外结束";

// `path` cut to at most `visible` characters, a middle part replaced by "...", keeping the file
// name when it fits.
std::string CompactPath(std::string_view path, std::size_t visible);

class BatchDriver {
 public:
  BatchDriver(FileList& list, OperationLog& log, StyleContext& styles, BatchView& view);
  BatchDriver(const BatchDriver&) = delete;
  BatchDriver& operator=(const BatchDriver&) = delete;

  // The notifier handed to the conversions: messages and progress go to the view, diagnostic
  // trace lines into the operation log.
  Notifier& ConversionNotifier() { return notifier_; }

  // After the command has set SymbolType (and a GUI's wizard was confirmed): an empty list shows
  // kEmptyListText and runs nothing; otherwise ResetListResults, the colour library when
  // SymbolType is not 0 (ConvertLoadRules; the run goes on without it), and ConvertFileList with
  // the setting OutPath. Without options the setting Jobs says how many rows run at once.
  BatchSummary Run(int mode);
  BatchSummary Run(int mode, const ExecuteOptions& options);

  // Columns 3 to 5 of every row back to " " (and the row colours to black), the operation log
  // and the conversion-information pane emptied.
  void ResetListResults();

  // Plans every row in list order into `outputFolder` (empty: beside each source; see PlanBatch),
  // then converts the plan (ExecutePlan), writing each outcome into the list, and reports the
  // summary through the view.
  BatchSummary ConvertFileList(int mode, const std::string& outputFolder);
  BatchSummary ConvertFileList(int mode, const std::string& outputFolder, const ExecuteOptions& options);

  // Converts the rows of `plan` (their refs name rows of this driver's list) with the names the
  // plan holds, `options.jobs` at a time. Every row's operation-log lines, messages, list cells,
  // view calls and report line come in plan order, the same whatever the number of jobs; a
  // conversion's progress reaches the view only while one row runs at a time. A stop request
  // (PollCancel, confirmed by Ask) starts no further row, lets the running ones (and the few
  // already handed to the workers) finish and report, then logs kCancelledLog.
  BatchSummary ExecutePlan(const BatchPlan& plan, const ExecuteOptions& options);

  // Shows the conversion log of a row in the conversion-information pane (see ConversionLogText).
  void ShowConversionLog(const RowRef& row);

 private:
  class Forwarder : public Notifier {
   public:
    Forwarder(BatchView& view, OperationLog& log) : view_(view), log_(log) {}
    void Message(std::string_view caption, std::string_view text, MessageIcon icon) override;
    void Trace(int level, std::string_view text, const Kvx::SourceLocation& where) override;
    void Progress(std::int64_t done, std::int64_t total) override;

   private:
    BatchView& view_;
    OperationLog& log_;
  };

  // ExecutePlan over `count` rows that `rowAt(i)` hands out in order, each when row i is about to
  // start (on this thread), the reference staying valid until the run ends.
  // `grow`, when given, queues more rows and sets the new count; false once the count is final.
  // `processSettings`: the settings snapshot every row holds, for worker processes (see
  // ExecuteOptions::processes); a row holding other settings converts on this thread.
  // `totalRows` 0: the run's own rows, however many come.
  BatchSummary Execute(std::size_t count, std::size_t totalRows, int mode,
                       const std::function<const PlannedRow&(std::size_t)>& rowAt, const ExecuteOptions& options,
                       const std::function<bool(std::size_t&)>& grow = {},
                       const std::shared_ptr<const Settings>& processSettings = {});

  void WriteOutcome(const RowRef& row, std::int32_t result, BatchCounters& counts);

  FileList& list_;
  OperationLog& log_;
  StyleContext& styles_;
  BatchView& view_;
  Forwarder notifier_;
};

// The conversion log "<resultName>.log" as UTF-8 lines joined with CR LF; empty when the name is
// blank or the file does not exist.
std::string ConversionLogText(std::string_view resultName);

// Writes the list as a comma-separated GBK text with CR LF line ends: the header line, then one
// line per row in list order: number (from 1), file name, extension with its dot, path, size,
// output content, result, result name and an empty value.
OperationLog::SaveResult ExportList(const FileList& list, const std::filesystem::path& file);

}  // namespace Kvx
