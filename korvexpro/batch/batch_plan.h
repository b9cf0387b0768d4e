#pragma once

// The plan of a batch: every row's output folder and names, decided in list order before any row
// is converted. A row is named against the output folder as it is plus the names the earlier rows
// of the list take, so the names do not depend on when, in which order or on how many threads or
// hosts the rows are converted afterwards. A plain run plans and then converts its plan; a run
// with "--plan-only" writes the plan as JSON Lines, and runs with "--plan FILE --shard I/N" convert
// parts of it.
//
// A shard is every group (a top-level row with its layer rows, when it is a project) whose index
// modulo N is I, so a project row and its layer rows always run in one process.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/file_list.h"
#include "batch/output_naming.h"
#include "settings/settings.h"

namespace Kvx {

class RunResume;

// What a mode does with a row of a kind (the batch driver's dispatch): whether it converts the row
// at all, and which of the row's two names its conversions write. A project row is always named
// (its layer rows take its folder), and writes its main name only with a layer index.
struct RowDispatch {
  bool converts = false;
  bool writesMain = false;
  bool writesSecond = false;
};
RowDispatch DispatchOf(int mode, RowKind kind, const Settings& settings);

enum class PlannedAction {
  Convert,  // named and converted
  Missing,  // the source did not exist when the plan was made: no names
  Skip,     // the mode does not convert this kind: no names
};

struct PlannedRow {
  std::size_t number = 0;  // from 1, in list order (a project row before its layer rows)
  std::size_t group = 0;   // from 0: the top-level row this row is or belongs to
  std::size_t parent = 0;  // the number of the project row of a layer row; 0 for a top-level row
  std::string source;      // the path as the list holds it
  // The source's size in bytes when the row was planned; -1 when not known (a row read from a
  // plan file). Not part of a plan file: the batch uses it to hand out small rows together.
  std::int64_t sourceBytes = -1;
  RowKind kind = RowKind::None;
  PlannedAction action = PlannedAction::Skip;
  std::string folder;  // the output folder; empty when the row takes no names
  OutputNames names;   // empty when the row takes no names
  // With Output/Format 1: the GeoPackage the row's tables go into (its project's, or its own for a
  // stand-alone layer); empty for shapefiles and for rows that take no names.
  std::string geoPackage;
  // The folder and names are an earlier run's (a resumed run converting the row again): its
  // outputs of that run are its own to replace.
  bool earlierNames = false;
  // Naming messages for the operation log (a renamed folder or name), without the log's ">".
  std::vector<std::string> namingLog;
  // The settings the row's conversions run with.
  std::shared_ptr<const Settings> settings;
  // The row's place in the list the plan runs on (set by PlanBatch and ListOfPlan).
  RowRef ref;
};

struct BatchPlan {
  int mode = 0;
  std::size_t totalRows = 0;  // rows of the whole plan (a shard holds fewer)
  std::vector<PlannedRow> rows;
};

// Plans the rows of a list one at a time, in list order: each row's names are final as soon as it is
// planned (they depend on the rows before it only), so a batch may convert it while the later rows
// are still being planned.
class BatchPlanner {
 public:
  BatchPlanner(const FileList& list, int mode, std::string outputFolder, const Settings& settings,
               const RunResume* resume = nullptr);
  std::size_t Count() const { return order_.size(); }
  bool Done() const { return next_ == order_.size(); }
  // Takes in the rows added to the list since: top-level rows appended at its end, each with all
  // its layer rows (as a search queues them). Rows planned already keep their numbers.
  void Extend();
  // The settings snapshot every row planned here holds.
  const std::shared_ptr<const Settings>& Snapshot() const { return settings_; }
  // The next row's plan (call only while !Done()).
  PlannedRow Next();

 private:
  const FileList& list_;
  int mode_;
  std::string outputFolder_;
  std::shared_ptr<const Settings> settings_;
  const RunResume* resume_;
  std::vector<RowRef> order_;
  std::size_t next_ = 0;
  NameReservations taken_;
  std::vector<std::size_t> topNumber_;       // per top-level row: its row number
  std::vector<std::string> projectFolder_;   // per top-level row: where a project's layers go
  std::vector<std::string> projectPackage_;  // per top-level row: the GeoPackage of a project's layers
};

// Plans every row of `list` in list order into `outputFolder` (empty: beside each source), with the
// settings snapshot `settings`. Project folders are made here, as the names of their layers lie in
// them. A row that `resume` holds a line of keeps the folder and names of the earlier run.
BatchPlan PlanBatch(const FileList& list, int mode, const std::string& outputFolder, const Settings& settings,
                    const RunResume* resume = nullptr);

// The settings of a plan's rows that change what a conversion writes or logs, as "Section/Key".
std::span<const std::string_view> PlanSettingNames();

// The kind's word in plans and reports ("project", "point", "line", "region", "table", "network").
std::string_view KindWord(RowKind kind);
std::optional<RowKind> KindOfWord(std::string_view word);

// Writes the plan as JSON Lines, one object per row (see the README for the members).
struct PlanIoResult {
  bool ok = false;
  std::string error;
};
PlanIoResult WritePlan(const BatchPlan& plan, const std::filesystem::path& file);
// Reads a plan written by WritePlan. `base` gives the values of the settings a row does not name.
PlanIoResult ReadPlan(const std::filesystem::path& file, const Settings& base, BatchPlan& plan);

// "I/N" with 0 <= I < N; nullopt when the text is not one.
struct Shard {
  std::size_t index = 0;
  std::size_t count = 1;
};
std::optional<Shard> ParseShard(std::string_view text);
// The rows of `plan` that shard `shard` converts, in plan order.
BatchPlan ShardOf(const BatchPlan& plan, const Shard& shard);

// Fills `list` with the rows of `plan` (without reading any project) and sets each row's ref.
// False when the plan's rows do not form a list (a layer row whose project row is not before it).
bool ListOfPlan(BatchPlan& plan, FileList& list);

}  // namespace Kvx
