#pragma once

// The run report: JSON Lines, one object per row as it finishes, then one summary object (the
// members are listed in the README). An earlier report lets a run resume: rows it names as
// converted from the same source are not converted again. Reports of the shards of one plan merge
// into one summary.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_plan.h"
#include "batch/output_naming.h"
#include "batch/row_results.h"

namespace Kvx {

// The size and modification time of a source file when it is read.
struct SourceStamp {
  bool exists = false;
  std::uintmax_t size = 0;
  std::int64_t mtimeNs = 0;  // nanoseconds since 1970-01-01 UTC
  bool operator==(const SourceStamp&) const = default;
};
SourceStamp StampOf(const std::filesystem::path& source);

struct ReportRow {
  std::size_t row = 0;  // the row's number in the list (or plan), from 1
  std::string source;
  SourceStamp stamp;
  std::string mode;  // the mode's command-line word
  std::string kind;  // KindWord
  std::int32_t result = 0;
  std::string resultText;  // the result word of the stdout line
  std::string content;     // what was written ("要素+文字", …)
  std::string name;        // the output name shown (without extension)
  std::string folder;      // the row's output folder
  OutputNames names;       // the row's planned names
  std::vector<std::string> outputs;  // the names whose outputs the row kept
  std::string geoPackage;  // with the GeoPackage format: the GeoPackage holding those outputs' tables
  double seconds = 0;
  bool resumed = false;  // taken over from an earlier report instead of converted
};

struct ReportSummary {
  std::size_t rows = 0;      // rows this run was given
  std::size_t planRows = 0;  // rows of the whole list or plan
  BatchCounters counts;
  std::int32_t resumed = 0;
  bool cancelled = false;
  double seconds = 0;  // wall time of the run
  int jobs = 1;
  std::string shard;  // "I/N", empty for a whole list
};

// The JSON texts of a row and of a summary.
std::string ReportRowJson(const ReportRow& row);
std::string ReportSummaryJson(const ReportSummary& summary);

// Writes a report file line by line; each line is flushed as it is written.
class RunReport {
 public:
  RunReport() = default;
  // Creates or truncates `file`. False (and `error`) when it cannot be.
  bool Open(const std::filesystem::path& file, std::string& error);
  void Row(const ReportRow& row) { Write(ReportRowJson(row)); }
  void Summary(const ReportSummary& summary) { Write(ReportSummaryJson(summary)); }
  // Closes the file; false when any line could not be written.
  bool Close(std::string& error);

 private:
  void Write(const std::string& line);
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  std::filesystem::path path_;
  bool failed_ = false;
};

struct ReportReadResult {
  bool ok = false;
  std::string error;
};

// The lines of a report file: its rows (a line that is not a row object is counted in
// `unreadLines`, as a run stopped in the middle of a line leaves one) and its summaries.
struct ReportFile {
  std::vector<ReportRow> rows;
  std::vector<ReportSummary> summaries;
  std::size_t unreadLines = 0;
};
ReportReadResult ReadReport(const std::filesystem::path& file, ReportFile& report);

// The rows of an earlier report that a run need not convert again.
class RunResume {
 public:
  ReportReadResult Read(const std::filesystem::path& file);

  // The earlier line of row `number` from `source` when it may be taken over: it says success (a
  // project row: also not converted by the mode, as its folder is what its layer rows need) for
  // the source's present size and modification time, and each of its outputs still exists (a
  // project row's folder too). Only a line of the same row number and source counts: the same
  // file may be queued twice.
  const ReportRow* Find(std::size_t number, const std::string& source, RowKind kind) const;

  // The earlier line of row `number` from `source` of kind `kind` with its names, whatever its
  // result: a row converted again keeps the folder and names of the earlier run, so a resumed run
  // writes what one run would have written. Nullptr when there is none or its folder went.
  const ReportRow* Earlier(std::size_t number, const std::string& source, RowKind kind) const;

 private:
  std::multimap<std::string, ReportRow> bySource_;
};

// Reports merged, the last line of each row number counting.
struct MergedReport {
  std::size_t planRows = 0;  // the largest plan size a summary names; 0 when none does
  std::vector<ReportRow> rows;  // in row order
  BatchCounters counts;
  std::int32_t resumed = 0;
  std::vector<std::size_t> notReported;  // rows of the plan no report holds
  std::size_t cancelledRuns = 0;
  std::size_t runs = 0;        // summary lines
  std::size_t unreadLines = 0;
  double rowSeconds = 0;       // the rows' conversion time added up
  double wallSeconds = 0;      // the runs' wall times added up
  bool Complete() const {
    return counts.failed == 0 && counts.missing == 0 && notReported.empty() && cancelledRuns == 0;
  }
};
ReportReadResult MergeReports(const std::vector<std::filesystem::path>& files, MergedReport& merged);
// The merged summary as text lines, and as one JSON object (the members of a run's summary, with
// "failedRows", "missingRows" and "notReported" listing row numbers, "rowSeconds" and "wallSeconds").
std::string MergedReportText(const MergedReport& merged);
std::string MergedReportJson(const MergedReport& merged);

}  // namespace Kvx
