#include "batch/batch_plan.h"

#include <sys/stat.h>

#include <charconv>
#include <fstream>
#include <map>
#include <system_error>

#include <nlohmann/json.hpp>

#include "batch/batch_driver.h"
#include "batch/run_report.h"

namespace Kvx {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

constexpr std::string_view kSettingNames[] = {
    "General/ExportEmptyFile", "General/LogLevel",     "General/MaxErrors",   "Output/ExportProjection",
    "Output/ExportLayerIndex", "Styles/SymbolType",    "Styles/SymbolFontName", "Styles/ColorModel",
    "Styles/RotateType",       "Styles/CodePage",      "Styles/SingleFont",   "Styles/FontAdjust",
    "Styles/QgisStyle",        "FilePath/LibPath",     "Output/TargetCrs",    "Output/SourceCrs",
    "Output/SevenParameters",  "Output/RequireDatumShift", "Output/RepairGeometry", "Output/Format",
};

constexpr std::pair<RowKind, std::string_view> kKindWords[] = {
    {RowKind::Project, "project"}, {RowKind::Point, "point"}, {RowKind::Line, "line"},
    {RowKind::Region, "region"},   {RowKind::Table, "table"}, {RowKind::Network, "network"},
};

constexpr std::pair<PlannedAction, std::string_view> kActionWords[] = {
    {PlannedAction::Convert, "convert"}, {PlannedAction::Missing, "missing"}, {PlannedAction::Skip, "skip"}};

std::string FolderOf(const std::string& path) { return fs::path(path).parent_path().string(); }

std::string ModeWord(int mode) {
  const BatchCommand* command = FindBatchCommandByMode(mode);
  return command != nullptr ? std::string(command->name) : std::to_string(mode);
}

std::optional<int> ModeOfWord(std::string_view word) {
  if (const BatchCommand* command = FindBatchCommand(word)) return command->mode;
  int mode = 0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), mode);
  if (ec != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return mode;
}

std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

Json SettingsJson(const Settings& settings) {
  Json j = Json::object();
  for (std::string_view name : kSettingNames) {
    if (const SettingInfo* info = FindSetting(name)) j[std::string(name)] = FormatSetting(settings, *info);
  }
  return j;
}

// The members of one plan line; an error text when the line is not a plan row.
std::string ParseRow(const Json& j, const Settings& base, PlannedRow& row, int& mode) {
  if (!j.is_object()) return "not a JSON object";
  auto number = [&](const char* key, std::size_t& into) -> bool {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_number_unsigned()) return false;
    into = it->get<std::size_t>();
    return true;
  };
  auto text = [&](const Json& object, const char* key, std::string& into) -> bool {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return false;
    into = it->get<std::string>();
    return true;
  };
  if (!number("row", row.number) || row.number == 0) return "no row number";
  if (!number("group", row.group)) return "no group";
  if (!number("parent", row.parent)) return "no parent";
  if (!text(j, "source", row.source)) return "no source";
  std::string word;
  if (!text(j, "kind", word) || !KindOfWord(word)) return "no kind";
  row.kind = *KindOfWord(word);
  if (!text(j, "mode", word) || !ModeOfWord(word)) return "no mode";
  mode = *ModeOfWord(word);
  if (!text(j, "action", word)) return "no action";
  bool known = false;
  for (const auto& [action, name] : kActionWords) {
    if (name == word) row.action = action, known = true;
  }
  if (!known) return "unknown action " + word;
  if (!text(j, "folder", row.folder)) return "no folder";
  const auto names = j.find("names");
  if (names == j.end() || !names->is_object() || !text(*names, "main", row.names.main) ||
      !text(*names, "second", row.names.second)) {
    return "no names";
  }
  if (row.action == PlannedAction::Convert && (row.names.main.empty() || row.names.second.empty())) {
    return "a row to convert without names";
  }
  if (j.contains("geopackage") && !text(j, "geopackage", row.geoPackage)) return "geopackage is not text";
  if (const auto log = j.find("log"); log != j.end()) {
    if (!log->is_array()) return "log is not a list";
    for (const Json& line : *log) {
      if (!line.is_string()) return "log holds a line that is not text";
      row.namingLog.push_back(line.get<std::string>());
    }
  }
  Settings settings = base;
  if (const auto values = j.find("settings"); values != j.end()) {
    if (!values->is_object()) return "settings is not an object";
    for (const auto& [key, value] : values->items()) {
      const SettingInfo* info = FindSetting(key);
      if (info == nullptr) return "unknown setting " + key;
      if (!value.is_string()) return "setting " + key + " is not text";
      const SettingCheck check = AssignSetting(settings, *info, value.get<std::string>());
      if (!check.ok) return check.message;
    }
  }
  row.settings = std::make_shared<const Settings>(std::move(settings));
  return {};
}

}  // namespace

std::span<const std::string_view> PlanSettingNames() { return kSettingNames; }

std::string_view KindWord(RowKind kind) {
  for (const auto& [k, word] : kKindWords) {
    if (k == kind) return word;
  }
  return "none";
}

std::optional<RowKind> KindOfWord(std::string_view word) {
  for (const auto& [kind, w] : kKindWords) {
    if (w == word) return kind;
  }
  return std::nullopt;
}

BatchPlanner::BatchPlanner(const FileList& list, int mode, std::string outputFolder, const Settings& settings,
                           const RunResume* resume)
    : list_(list),
      mode_(mode),
      outputFolder_(std::move(outputFolder)),
      settings_(std::make_shared<const Settings>(settings)),
      resume_(resume),
      order_(list.PreOrder()),
      topNumber_(list.TopRows().size(), 0),
      projectFolder_(list.TopRows().size()),
      projectPackage_(list.TopRows().size()) {}

void BatchPlanner::Extend() {
  const std::vector<FileRow>& top = list_.TopRows();
  for (std::size_t t = topNumber_.size(); t < top.size(); ++t) {
    order_.push_back({t, std::nullopt});
    for (std::size_t c = 0; c < top[t].children.size(); ++c) order_.push_back({t, c});
  }
  topNumber_.resize(top.size(), 0);
  projectFolder_.resize(top.size());
  projectPackage_.resize(top.size());
}

PlannedRow BatchPlanner::Next() {
  const RowRef ref = order_[next_++];
  const FileRow& listRow = list_.Row(ref);
  const Settings& settings = *settings_;
  PlannedRow row;
  row.number = next_;
  row.group = ref.top;
  row.parent = ref.child ? topNumber_[ref.top] : 0;
  if (!ref.child) topNumber_[ref.top] = row.number;
  row.source = listRow.Path();
  row.kind = KindOfPath(row.source);
  row.settings = settings_;
  row.ref = ref;

  const RowDispatch dispatch = DispatchOf(mode_, row.kind, settings);
  struct stat info {};
  if (::stat(row.source.c_str(), &info) != 0) {
    row.action = PlannedAction::Missing;
    return row;
  }
  row.sourceBytes = static_cast<std::int64_t>(info.st_size);
  if (!dispatch.converts) {
    row.action = PlannedAction::Skip;
    return row;
  }
  row.action = PlannedAction::Convert;
  const ReportRow* earlier = resume_ != nullptr ? resume_->Earlier(row.number, row.source, row.kind) : nullptr;
  if (earlier != nullptr) {
    // A row of the earlier run, taken over or converted again: its names stay, so the run ends
    // with what one run would have written.
    row.folder = earlier->folder;
    row.names = earlier->names;
    row.earlierNames = true;
  } else {
    std::string folder = outputFolder_;
    if (folder.empty()) {
      folder = FolderOf(row.source);
    } else if (ref.child) {
      // A project row that was not named (its file is missing) names no folder; its layers then
      // stay in the batch's folder.
      if (!projectFolder_[ref.top].empty()) folder = projectFolder_[ref.top];
    } else if (row.kind == RowKind::Project) {
      folder = ProjectFolder(folder, fs::path(row.source).filename(), taken_, row.namingLog);
      // A project folder is new (or, when it could not be made, the batch's folder itself).
      if (folder != outputFolder_) taken_.MarkCreated(folder);
    }
    row.folder = folder;
    row.names = FinalNames(folder, row.source, taken_, row.namingLog);
  }
  if (row.kind == RowKind::Project) {
    taken_.ReserveFolder(row.folder);
    projectFolder_[ref.top] = FolderOf(row.names.main);
  }
  if (settings.Format == 1) {
    // A project's layers share its GeoPackage; a stand-alone layer has one of its own. The main
    // name is free of a ".gpkg" (a taken name), so no earlier GeoPackage is written into.
    if (ref.child && !projectPackage_[ref.top].empty()) {
      row.geoPackage = projectPackage_[ref.top];
    } else {
      row.geoPackage = row.names.main + ".gpkg";
    }
    if (row.kind == RowKind::Project) projectPackage_[ref.top] = row.geoPackage;
  }
  if (dispatch.writesMain) taken_.ReserveName(row.names.main);
  if (dispatch.writesSecond) taken_.ReserveName(row.names.second);
  return row;
}

BatchPlan PlanBatch(const FileList& list, int mode, const std::string& outputFolder, const Settings& settings,
                    const RunResume* resume) {
  BatchPlan plan;
  plan.mode = mode;
  BatchPlanner planner(list, mode, outputFolder, settings, resume);
  plan.rows.reserve(planner.Count());
  while (!planner.Done()) plan.rows.push_back(planner.Next());
  plan.totalRows = plan.rows.size();
  return plan;
}

PlanIoResult WritePlan(const BatchPlan& plan, const fs::path& file) {
  PlanIoResult result;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) {
    result.error = "cannot create " + file.string();
    return result;
  }
  const std::string mode = ModeWord(plan.mode);
  for (const PlannedRow& row : plan.rows) {
    Json j = Json::object();
    j["row"] = row.number;
    j["group"] = row.group;
    j["parent"] = row.parent;
    j["source"] = row.source;
    j["kind"] = KindWord(row.kind);
    j["mode"] = mode;
    for (const auto& [action, word] : kActionWords) {
      if (action == row.action) j["action"] = word;
    }
    j["folder"] = row.folder;
    j["names"] = {{"main", row.names.main}, {"second", row.names.second}};
    if (!row.geoPackage.empty()) j["geopackage"] = row.geoPackage;
    j["log"] = row.namingLog;
    j["settings"] = SettingsJson(row.settings ? *row.settings : Settings());
    out << Dump(j) << '\n';
  }
  out.flush();
  if (!out) {
    result.error = "cannot write " + file.string();
    return result;
  }
  result.ok = true;
  return result;
}

PlanIoResult ReadPlan(const fs::path& file, const Settings& base, BatchPlan& plan) {
  PlanIoResult result;
  plan = BatchPlan();
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    result.error = "cannot open " + file.string();
    return result;
  }
  std::string line;
  std::size_t lineNumber = 0;
  std::map<std::size_t, RowKind> kindOfNumber;
  bool modeSeen = false;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    const auto where = [&] { return file.string() + " line " + std::to_string(lineNumber) + ": "; };
    const Json j = Json::parse(line, nullptr, false);
    if (j.is_discarded()) {
      result.error = where() + "not JSON";
      return result;
    }
    PlannedRow row;
    int mode = 0;
    std::string error;
    try {
      error = ParseRow(j, base, row, mode);
    } catch (const Json::exception& e) {
      error = e.what();
    }
    if (error.empty() && !plan.rows.empty() && row.number <= plan.rows.back().number) error = "rows out of order";
    if (error.empty() && modeSeen && mode != plan.mode) error = "a second mode";
    if (error.empty() && row.parent != 0) {
      const auto parent = kindOfNumber.find(row.parent);
      if (parent == kindOfNumber.end() || parent->second != RowKind::Project) error = "no project row before it";
    }
    if (error.empty() && row.parent == 0 && !plan.rows.empty() && row.group <= plan.rows.back().group) {
      error = "groups out of order";
    }
    if (!error.empty()) {
      result.error = where() + error;
      return result;
    }
    // Rows of one plan share their settings when they are the same.
    if (!plan.rows.empty() && *plan.rows.back().settings == *row.settings) row.settings = plan.rows.back().settings;
    plan.mode = mode;
    modeSeen = true;
    kindOfNumber[row.number] = row.kind;
    plan.rows.push_back(std::move(row));
  }
  if (in.bad()) {
    result.error = "cannot read " + file.string();
    return result;
  }
  plan.totalRows = plan.rows.size();
  result.ok = true;
  return result;
}

std::optional<Shard> ParseShard(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  Shard shard;
  const auto parse = [](std::string_view part, std::size_t& into) {
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), into);
    return !part.empty() && ec == std::errc() && end == part.data() + part.size();
  };
  if (!parse(text.substr(0, slash), shard.index) || !parse(text.substr(slash + 1), shard.count)) return std::nullopt;
  if (shard.count == 0 || shard.index >= shard.count) return std::nullopt;
  return shard;
}

BatchPlan ShardOf(const BatchPlan& plan, const Shard& shard) {
  BatchPlan part;
  part.mode = plan.mode;
  part.totalRows = plan.totalRows;
  for (const PlannedRow& row : plan.rows) {
    if (row.group % shard.count == shard.index) part.rows.push_back(row);
  }
  return part;
}

bool ListOfPlan(BatchPlan& plan, FileList& list) {
  std::map<std::size_t, std::size_t> topOfNumber;
  for (PlannedRow& row : plan.rows) {
    std::optional<std::size_t> parent;
    if (row.parent != 0) {
      const auto it = topOfNumber.find(row.parent);
      if (it == topOfNumber.end()) return false;
      parent = it->second;
    }
    const std::optional<RowRef> ref = list.AddRowAsPlanned(row.source, row.kind, parent);
    if (!ref) return false;
    row.ref = *ref;
    if (!parent) topOfNumber[row.number] = ref->top;
  }
  return true;
}

}  // namespace Kvx
