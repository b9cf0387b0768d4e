#include "shell/convert_command.h"

#include <unistd.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <system_error>

#include "batch/batch_driver.h"
#include "batch/batch_plan.h"
#include "batch/file_list.h"
#include "batch/operation_log.h"
#include "batch/run_report.h"
#include "engine/geopackage_sink.h"
#include "projection/reprojection.h"
#include "settings/settings.h"
#include "styles/colour_models.h"

namespace Kvx {

namespace fs = std::filesystem;

namespace {

// ---- Ctrl-C -----------------------------------------------------------------------------------

// Set by the first SIGINT of a run; the batch polls it between rows. A second SIGINT ends the
// program at once (the handler puts the default action back).
volatile std::sig_atomic_t interruptRequested = 0;

extern "C" void OnInterrupt(int) {
  interruptRequested = 1;
  std::signal(SIGINT, SIG_DFL);
  static const char kNote[] = "\n(Ctrl-C: stopping after the files being converted; press again to quit now)\n";
  [[maybe_unused]] ssize_t ignored = ::write(STDERR_FILENO, kNote, sizeof kNote - 1);
}

// Catches SIGINT for the life of the run and puts the previous action back afterwards.
class InterruptScope {
 public:
  InterruptScope() {
    interruptRequested = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    // Restart what the signal interrupts: a write of stdout cut short would lose rows or the summary.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    installed_ = ::sigaction(SIGINT, &action, &previous_) == 0;
  }
  ~InterruptScope() {
    if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
  }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  struct sigaction previous_ {};
  bool installed_ = false;
};

// ---- What the batch tells the terminal ----------------------------------------------------------

// Row results that the list leaves blank, named for the stdout line.
constexpr std::string_view kMissingWord = "不存在";
constexpr std::string_view kSkippedWord = "跳过";

std::string Cell(const FileRow& row, int column) {
  const std::string& text = row.cells[static_cast<std::size_t>(column)];
  return text == kBlankCell ? std::string() : text;
}

class TerminalView : public BatchView {
 public:
  TerminalView(std::ostream& out, std::ostream& err, bool terminal, bool quiet)
      : out_(out), err_(err), bar_(terminal && !quiet), quiet_(quiet) {}

  void Message(std::string_view caption, std::string_view text, MessageIcon icon) override {
    if (quiet_ && icon == MessageIcon::Information) return;
    ClearBar();
    err_ << caption << ": " << text << '\n';
  }
  void OperationLogAdded(const OperationLogEntry& entry) override {
    std::string_view text = entry.text;
    // A quiet run shows no log, yet still says that Ctrl-C stopped it (see RunConvert).
    if (quiet_) return;
    if (entry.text == ">" + std::string(kCancelledLog)) interruptionShown_ = true;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    ClearBar();
    err_ << text << '\n';
  }
  void RowStarted(const FileList& list, const RowRef& row) override {
    ++rowNumber_;
    rowCount_ = list.RowCount();
    rowName_ = list.Row(row).cells[ColumnName];
  }
  void RowFinished(const FileList& list, const RowRef& ref, std::int32_t result) override {
    const FileRow& row = list.Row(ref);
    std::string resultText = Cell(row, ColumnResult);
    if (resultText.empty() && result == kRowMissing) resultText = kMissingWord;
    if (resultText.empty() && result == kRowSkipped) resultText = kSkippedWord;
    // A skipped project row keeps the name of its folder for its layer rows; it wrote nothing.
    const std::string name = result == kRowSkipped ? std::string() : Cell(row, ColumnResultName);
    ClearBar();
    out_ << row.Path() << '\t' << resultText << '\t' << Cell(row, ColumnContent) << '\t' << name << '\n';
    out_.flush();
  }
  void StatusProgressBar(int percent) override {
    if (!bar_) return;
    constexpr int kWidth = 30;
    const int clamped = std::clamp(percent, 0, 100);
    const int filled = clamped * kWidth / 100;
    err_ << "\r\x1b[K[" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(kWidth - filled), ' ') << "] " << clamped << "% (" << rowNumber_
         << '/' << rowCount_ << ") " << CompactPath(rowName_, 40);
    err_.flush();
    barShown_ = true;
  }
  bool PollCancel() override { return interruptRequested != 0; }
  // The command line prints the summary on stdout itself.
  void RunFinished(const BatchSummary&) override { ClearBar(); }

  bool InterruptionShown() const { return interruptionShown_; }

 private:
  void ClearBar() {
    if (!barShown_) return;
    err_ << "\r\x1b[K";
    barShown_ = false;
  }

  std::ostream& out_;
  std::ostream& err_;
  bool bar_;
  bool quiet_;
  bool barShown_ = false;
  bool interruptionShown_ = false;
  std::size_t rowNumber_ = 0;
  std::size_t rowCount_ = 0;
  std::string rowName_;
};

// ---- Options to settings ------------------------------------------------------------------------

// The words of an option and the setting values they stand for.
struct Choice {
  std::string_view word;
  std::int32_t value;
};
constexpr Choice kStyleChoices[] = {{"none", 0}, {"params", 2}, {"codes", 1}, {"avl", 4}};
constexpr Choice kEncodingChoices[] = {{"ansi", 0}, {"utf8", 1}};
constexpr Choice kColourChoices[] = {{"rgb", 0}, {"cmyk", 1}, {"number", 2}};
constexpr Choice kAngleChoices[] = {{"arithmetic", 0}, {"geographic", 1}, {"graphic", 2}};
constexpr Choice kFormatChoices[] = {{"shp", 0}, {"gpkg", 1}};

std::optional<std::int32_t> ValueOf(std::span<const Choice> choices, std::string_view word) {
  for (const Choice& c : choices) {
    if (c.word == word) return c.value;
  }
  return std::nullopt;
}

std::vector<std::string> WordsOf(std::span<const Choice> choices) {
  std::vector<std::string> words;
  for (const Choice& c : choices) words.emplace_back(c.word);
  return words;
}

// The first option whose word is not one of its choices ("--styles pretty"); empty when all are.
std::string WrongChoice(const ConvertOptions& o) {
  const struct {
    const char* option;
    const std::optional<std::string>& given;
    std::span<const Choice> choices;
  } checks[] = {{"--styles", o.styles, kStyleChoices},
                {"--encoding", o.encoding, kEncodingChoices},
                {"--colour-model", o.colourModel, kColourChoices},
                {"--angle-model", o.angleModel, kAngleChoices},
                {"--format", o.format, kFormatChoices}};
  for (const auto& check : checks) {
    if (check.given && !ValueOf(check.choices, *check.given)) return std::string(check.option) + " " + *check.given;
  }
  if (o.projection && (*o.projection < 0 || *o.projection > 2)) return "--projection " + std::to_string(*o.projection);
  if (o.maxErrors && *o.maxErrors < 0) return "--max-errors " + std::to_string(*o.maxErrors);
  if (FindBatchCommand(o.mode) == nullptr) return "--mode " + o.mode;
  return {};
}

// A coordinate-system option PROJ cannot read, or seven parameters that are not seven numbers: the
// sentence for the user; empty when every one is usable.
std::string WrongCrsOption(const ConvertOptions& o) {
  const struct {
    const char* option;
    const std::optional<std::string>& given;
  } systems[] = {{"--to-crs", o.toCrs}, {"--from-crs", o.fromCrs}};
  for (const auto& system : systems) {
    if (!system.given || system.given->empty()) continue;
    if (const std::string why = CheckCrsText(*system.given); !why.empty()) return std::string(system.option) + ": " + why;
  }
  if (o.sevenParameters && !o.sevenParameters->empty() && !ParseSevenParameters(*o.sevenParameters))
    return "--towgs84 " + *o.sevenParameters + ": seven numbers dx,dy,dz,rx,ry,rz,ds are needed (metres, arc-seconds, ppm)";
  return {};
}

// The settings the options change, applied to `s`; their table entries go into `changed`.
void ApplyOptions(const ConvertOptions& o, Settings& s, std::vector<const SettingInfo*>& changed) {
  auto mark = [&changed](std::string_view name) {
    if (const SettingInfo* info = FindSetting(name)) changed.push_back(info);
  };
  const BatchCommand* command = FindBatchCommand(o.mode);
  s.SymbolType = command != nullptr ? command->symbolType : 0;
  if (o.styles) s.SymbolType = ValueOf(kStyleChoices, *o.styles).value_or(s.SymbolType);
  mark("Styles/SymbolType");
  if (o.out) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(*o.out, ec);
    s.OutPath = (ec ? fs::path(*o.out) : absolute).lexically_normal().string();
    if (s.OutPath.size() > 1 && s.OutPath.back() == '/') s.OutPath.pop_back();
    mark("FilePath/OutPath");
  }
  if (o.besideSource) {
    s.OutPath.clear();
    mark("FilePath/OutPath");
  }
  if (o.projection) {
    s.ExportProjection = *o.projection;
    mark("Output/ExportProjection");
  }
  if (o.encoding) {
    s.CodePage = ValueOf(kEncodingChoices, *o.encoding).value_or(s.CodePage);
    mark("Styles/CodePage");
  }
  if (o.colourModel) {
    s.ColorModel = ValueOf(kColourChoices, *o.colourModel).value_or(s.ColorModel);
    mark("Styles/ColorModel");
  }
  if (o.angleModel) {
    s.RotateType = ValueOf(kAngleChoices, *o.angleModel).value_or(s.RotateType);
    mark("Styles/RotateType");
  }
  if (o.format) {
    s.Format = ValueOf(kFormatChoices, *o.format).value_or(s.Format);
    mark("Output/Format");
  }
  if (o.lib) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(*o.lib, ec);
    s.LibPath = (ec ? fs::path(*o.lib) : absolute).lexically_normal().string();
    mark("FilePath/LibPath");
  }
  if (o.qml || o.noQml) {
    s.QgisStyle = o.qml ? 1 : 0;
    mark("Styles/QgisStyle");
  }
  const struct {
    const std::optional<std::string>& given;
    std::string Settings::*value;
    const char* name;
  } texts[] = {{o.toCrs, &Settings::TargetCrs, "Output/TargetCrs"},
               {o.fromCrs, &Settings::SourceCrs, "Output/SourceCrs"},
               {o.sevenParameters, &Settings::SevenParameters, "Output/SevenParameters"}};
  for (const auto& t : texts) {
    if (!t.given) continue;
    s.*t.value = *t.given;
    mark(t.name);
  }
  if (o.requireDatumShift) {
    s.RequireDatumShift = 1;
    mark("Output/RequireDatumShift");
  }
  if (o.repair) {
    s.RepairGeometry = 1;
    mark("Output/RepairGeometry");
  }
  if (o.keepEmpty) {
    s.ExportEmptyFile = 1;
    mark("General/ExportEmptyFile");
  }
  if (o.maxErrors) {
    s.MaxErrors = *o.maxErrors;
    mark("General/MaxErrors");
  }
  if (o.noLayerIndex) {
    s.ExportLayerIndex = 0;
    mark("Output/ExportLayerIndex");
  }
  if (o.jobs) {
    s.Jobs = *o.jobs;
    mark("General/Jobs");
  }
}

// The options that set what a plan already holds; the first one given, or empty.
std::string OptionAPlanHolds(const ConvertOptions& o) {
  const struct {
    bool given;
    const char* option;
  } checks[] = {{o.modeGiven, "--mode"},
                {o.styles.has_value(), "--styles"},
                {o.out.has_value(), "--out"},
                {o.besideSource, "--beside-source"},
                {o.projection.has_value(), "--projection"},
                {o.encoding.has_value(), "--encoding"},
                {o.colourModel.has_value(), "--colour-model"},
                {o.angleModel.has_value(), "--angle-model"},
                {o.lib.has_value(), "--lib"},
                {o.format.has_value(), "--format"},
                {o.qml, "--qml"},
                {o.noQml, "--no-qml"},
                {o.keepEmpty, "--keep-empty"},
                {o.maxErrors.has_value(), "--max-errors"},
                {o.noLayerIndex, "--no-layer-index"},
                {o.allFiles, "--all-files"},
                {o.save, "--save"},
                {!o.planOnly.empty(), "--plan-only"}};
  for (const auto& check : checks) {
    if (check.given) return check.option;
  }
  return {};
}

// The settings of a plan's first row that matter to its conversions, put into `settings`.
void TakePlanSettings(const BatchPlan& plan, Settings& settings) {
  if (plan.rows.empty() || !plan.rows.front().settings) return;
  const Settings& planned = *plan.rows.front().settings;
  for (std::string_view name : PlanSettingNames()) {
    if (const SettingInfo* info = FindSetting(name)) AssignSetting(settings, *info, FormatSetting(planned, *info));
  }
}

// What a command-line path adds to the list.
enum class PathRole { Project, Layer, Folder, Refused };

PathRole RoleOf(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return PathRole::Folder;
  const RowKind kind = KindOfPath(path);
  if (kind == RowKind::Project) return PathRole::Project;
  if (IsLayerKind(kind)) return PathRole::Layer;
  return PathRole::Refused;
}

// The rows the command line names, queued in its order: a project or a layer file as it stands, a
// folder searched. A folder search stopped by Ctrl-C or by MaxFiles searches no further folder; the
// rows found so far stay (and Ctrl-C then stops the batch before its next row).
class PathSearch {
 public:
  PathSearch(const std::vector<std::string>& paths, const SearchOptions& options, FileList& list, BatchView& view,
             OperationLog& log, std::ostream& err, bool quiet)
      : paths_(paths), options_(options), list_(list), view_(view), log_(log), err_(err), quiet_(quiet) {}

  // Queues one project or layer file, or handles one entry of a folder; false once all is done.
  bool Step() {
    if (walk_) {
      if (walk_->Step()) return true;
      stopped_ = stopped_ || walk_->Stopped();
      walk_.reset();
    }
    while (next_ < paths_.size()) {
      const std::string& path = paths_[next_++];
      switch (RoleOf(path)) {
        case PathRole::Project: list_.AddProjectFile(path); return true;
        case PathRole::Layer: list_.AddLayerFile(path); return true;
        case PathRole::Folder:
          if (stopped_) break;
          if (!quiet_) err_ << kSearchStartText << ' ' << path << '\n';
          walk_.emplace(list_, path, options_, view_, log_);
          return true;
        case PathRole::Refused: break;
      }
    }
    return false;
  }

 private:
  const std::vector<std::string>& paths_;
  SearchOptions options_;
  FileList& list_;
  BatchView& view_;
  OperationLog& log_;
  std::ostream& err_;
  bool quiet_;
  std::size_t next_ = 0;
  std::optional<FolderWalk> walk_;
  bool stopped_ = false;
};

}  // namespace

int RunConvert(const ConvertOptions& options, const fs::path& configFile, std::ostream& out, std::ostream& err,
               bool terminal) {
  const bool planned = !options.plan.empty();
  const auto usage = [&err](const std::string& text) {
    err << "korvexpro convert: " << text << '\n';
    return kConvertExitUsage;
  };
  if (planned) {
    if (!options.paths.empty()) return usage("--plan takes its rows from the plan; give no paths with it");
    if (const std::string option = OptionAPlanHolds(options); !option.empty()) {
      return usage(option + " is not taken with --plan: the plan holds the mode, the output names and the settings");
    }
  } else {
    if (options.paths.empty()) return usage("no paths given: PATH... or --plan FILE");
    if (!options.shard.empty()) return usage("--shard needs --plan");
  }
  std::optional<Shard> shard;
  if (!options.shard.empty()) {
    shard = ParseShard(options.shard);
    if (!shard) return usage("--shard " + options.shard + " is not I/N with 0 <= I < N");
  }
  if (options.jobs && *options.jobs < 0) return usage("-j " + std::to_string(*options.jobs) + " is not 0 or more");

  // Every path is checked before anything is converted.
  bool refused = false;
  for (const std::string& path : options.paths) {
    if (RoleOf(path) != PathRole::Refused) continue;
    std::error_code ec;
    err << "korvexpro convert: " << path
        << (fs::exists(path, ec) ? ": not a MapGIS project (.mpj), layer file (.wt .wl .wp .wn .wb) or folder\n"
                                 : ": no such folder, and not a MapGIS project or layer file name\n");
    refused = true;
  }
  if (refused) return kConvertExitUsage;
  if (const std::string wrong = WrongChoice(options); !wrong.empty()) {
    err << "korvexpro convert: " << wrong << " is not a value of that option (see korvexpro convert --help)\n";
    return kConvertExitUsage;
  }

  Settings& settings = AppSettings();
  const SettingsLoadResult loaded = LoadSettings(settings, configFile);
  if (!loaded.error.empty()) err << "korvexpro convert: " << loaded.error << " (using the defaults)\n";
  for (const std::string& warning : loaded.warnings) err << "korvexpro convert: " << warning << '\n';

  if (const std::string wrong = WrongCrsOption(options); !wrong.empty()) {
    err << "korvexpro convert: " << wrong << '\n';
    return kConvertExitUsage;
  }

  // A plan, and the part of it this run converts.
  BatchPlan plan;
  if (planned) {
    const PlanIoResult read = ReadPlan(options.plan, settings, plan);
    if (!read.ok) return usage("the plan cannot be used: " + read.error);
    if (shard) plan = ShardOf(plan, *shard);
    TakePlanSettings(plan, settings);
  }

  std::vector<const SettingInfo*> changed;
  if (!planned) ApplyOptions(options, settings, changed);
  if (planned && options.jobs) settings.Jobs = *options.jobs;
  if (settings.TargetCrs.empty() && (options.fromCrs || options.sevenParameters || options.requireDatumShift)) {
    err << "korvexpro convert: --from-crs, --towgs84 and --require-datum-shift need a target system (--to-crs)\n";
    return kConvertExitUsage;
  }
  // GeoPackages are written (and, for the naming of a plan, read) through a module loaded now.
  if (settings.Format == 1) {
    if (const std::string why = GeoPackageSupportError(); !why.empty()) {
      err << "korvexpro convert: GeoPackage output is not available: " << why << '\n';
      return kConvertExitFailed;
    }
  }
  int status = kConvertExitOk;
  // An output folder that does not exist yet is made, as a script expects of "-o DIR".
  if (!planned && !settings.OutPath.empty()) {
    std::error_code ec;
    fs::create_directories(settings.OutPath, ec);
    if (!fs::is_directory(settings.OutPath, ec)) {
      err << "korvexpro convert: the output folder " << settings.OutPath << " does not exist and cannot be made\n";
      return kConvertExitUsage;
    }
  }

  // The earlier report is read before the new one is opened, so both may be the same file.
  std::optional<RunResume> resume;
  if (!options.resume.empty()) {
    resume.emplace();
    const ReportReadResult read = resume->Read(options.resume);
    if (!read.ok) return usage("the report to resume from cannot be read: " + read.error);
  }
  std::optional<RunReport> report;
  if (!options.report.empty() && options.planOnly.empty()) {
    report.emplace();
    std::string error;
    if (!report->Open(options.report, error)) return usage("the report cannot be written: " + error);
  }

  // Stored like the wizard stores them: only for a run that starts.
  if (options.save) {
    const SettingsSaveResult saved = SaveSettings(settings, configFile, changed);
    if (!saved.ok) {
      err << "korvexpro convert: the options were not saved: " << saved.error << '\n';
      status = kConvertExitFailed;
    }
  }

  TerminalView view(out, err, terminal, options.quiet);
  OperationLog log(&view);
  FileList list(&view);
  StyleContext styles;
  BatchDriver driver(list, log, styles, view);

  std::optional<PathSearch> search;
  bool searchWhileConverting = false;
  {
    InterruptScope interrupts;
    if (planned) {
      if (!ListOfPlan(plan, list)) return usage("the plan cannot be used: its layer rows do not follow their projects");
      // The plan made the folders; a run on another machine or after a clean-up makes them again.
      for (const PlannedRow& row : plan.rows) {
        std::error_code ec;
        if (row.action == PlannedAction::Convert && !row.folder.empty()) fs::create_directories(row.folder, ec);
      }
    } else {
      search.emplace(options.paths, SearchOptions{true, options.allFiles}, list, view, log, err, options.quiet);
      // With several jobs the batch starts on the first rows found and the search goes on while
      // they convert; one job at a time, or a plan to write, takes the whole list first.
      searchWhileConverting = options.planOnly.empty() && JobsOf(settings.Jobs) > 1;
      while ((!searchWhileConverting || list.Empty()) && search->Step()) {
      }
    }

    const int mode = planned ? plan.mode : FindBatchCommand(options.mode)->mode;
    if (!options.planOnly.empty()) {
      // Names every row as the run would, writes them down and converts nothing.
      driver.ResetListResults();
      const BatchPlan made = PlanBatch(list, mode, settings.OutPath, settings, resume ? &*resume : nullptr);
      const PlanIoResult written = WritePlan(made, options.planOnly);
      if (!written.ok) {
        err << "korvexpro convert: the plan was not written: " << written.error << '\n';
        return kConvertExitFailed;
      }
      if (!options.quiet) err << "korvexpro convert: " << made.rows.size() << " rows planned in " << options.planOnly << '\n';
      return status;
    }

    ExecuteOptions execute;
    execute.jobs = JobsOf(settings.Jobs);
    execute.report = report ? &*report : nullptr;
    execute.resume = resume ? &*resume : nullptr;
    if (shard) execute.shard = options.shard;
    if (searchWhileConverting) execute.queueMore = [&search] { return search->Step(); };
    // The command line runs one thread until the batch starts: its rows convert in worker processes.
    execute.processes = true;
    BatchSummary summary;
    if (planned) {
      driver.ResetListResults();
      if (settings.SymbolType != 0) styles.ConvertLoadRules(settings, driver.ConversionNotifier());
      summary = driver.ExecutePlan(plan, execute);
    } else {
      summary = driver.Run(mode, execute);
    }
    out << summary.Text() << '\n';
    out.flush();
    if (summary.cancelled && !view.InterruptionShown()) err << kCancelledLog << '\n';
    if (summary.counts.failed > 0 || summary.counts.missing > 0 || summary.cancelled) status = kConvertExitFailed;
  }

  if (report) {
    std::string error;
    if (!report->Close(error)) {
      err << "korvexpro convert: the report was not written whole: " << error << '\n';
      status = kConvertExitFailed;
    }
  }
  if (!options.exportList.empty()) {
    const OperationLog::SaveResult written = ExportList(list, options.exportList);
    if (written.ok) {
      if (!options.quiet) err << kSaveDoneCaption << ": " << kListExportedText << '\n';
    } else {
      err << "korvexpro convert: the list was not exported: " << written.error << '\n';
      status = kConvertExitFailed;
    }
  }
  if (!options.saveLog.empty()) {
    const OperationLog::SaveResult written = log.Save(options.saveLog);
    if (written.ok) {
      if (!options.quiet) err << kSaveDoneCaption << ": " << kLogSavedText << '\n';
    } else {
      err << "korvexpro convert: the operation log was not saved: " << written.error << '\n';
      status = kConvertExitFailed;
    }
  }
  return status;
}

int RunReportCommand(const std::vector<std::string>& files, bool json, std::ostream& out, std::ostream& err) {
  std::vector<fs::path> paths(files.begin(), files.end());
  MergedReport merged;
  const ReportReadResult read = MergeReports(paths, merged);
  if (!read.ok) {
    err << "korvexpro report: " << read.error << '\n';
    return 2;
  }
  if (json) {
    out << MergedReportJson(merged) << '\n';
  } else {
    out << MergedReportText(merged);
  }
  out.flush();
  return merged.Complete() ? 0 : 1;
}

void AddReportCommand(CLI::App& app, int& exitCode) {
  auto files = std::make_shared<std::vector<std::string>>();
  auto json = std::make_shared<bool>(false);
  CLI::App* report = app.add_subcommand("report", "Merge the reports of runs (convert --report) into one summary");
  report->fallthrough();
  report->add_option("files", *files, "Report files (JSON Lines), e.g. one per shard of a plan")
      ->required()
      ->type_name("FILE");
  report->add_flag("--json", *json, "Print the summary as one JSON object");
  report->footer(
      "A row reported more than once counts by its last line. Exit status: 0 when every row of the plan was\n"
      "reported and none failed or was missing, 1 otherwise, 2 when a file cannot be read.");
  report->callback([files, json, &exitCode] { exitCode = RunReportCommand(*files, *json, std::cout, std::cerr); });
}

void AddConvertCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ConvertOptions>();
  CLI::App* convert = app.add_subcommand("convert", "Convert MapGIS projects, layer files and folders to shapefiles");
  convert->fallthrough();  // "--config FILE" may follow the subcommand too

  convert->add_option("paths", options->paths,
                      "Projects (.mpj: the project and its layers), layer files (.wt .wl .wp .wn .wb) and folders "
                      "(searched with their sub-folders for projects), converted in this order")
      ->type_name("PATH");

  std::vector<std::string> modes;
  for (const BatchCommand& c : BatchCommands()) modes.emplace_back(c.name);
  convert->add_option("-m,--mode", options->mode,
                      "What to convert: quick (points, lines, regions, tables, networks and project indexes), "
                      "points, lines, regions, arcs (region arcs), nodes (network nodes), xls (attributes as "
                      "spreadsheets), labels (annotations), params (drawing parameters as fields), codes "
                      "(symbol codes), avl (legend codes and ArcView legends)")
      ->check(CLI::IsMember(modes))
      ->default_str("quick");
  convert->add_option("--styles", options->styles,
                      "Drawing parameters written, after the mode has chosen its own: none, params (fields), "
                      "codes (symbol codes), avl (legend codes and .avl legends)")
      ->check(CLI::IsMember(WordsOf(kStyleChoices)));
  CLI::Option* outOption = convert->add_option("-o,--out", options->out,
                                               "Output folder for this run (made when missing)")
                               ->type_name("DIR");
  CLI::Option* beside = convert->add_flag("--beside-source", options->besideSource,
                                          "Write each output beside its source file");
  outOption->excludes(beside);
  convert->add_option("--projection", options->projection,
                      "0: no .prj, coordinates as stored; 1: the layer's scale and unit; 2: metres at 1:1")
      ->check(CLI::IsMember({0, 1, 2}));
  convert->add_option("--encoding", options->encoding, "Text of the tables: ansi (GBK) or utf8 (with a .cpg)")
      ->check(CLI::IsMember(WordsOf(kEncodingChoices)));
  convert->add_option("--colour-model", options->colourModel, "Colour fields as rgb, cmyk or the MapGIS number")
      ->check(CLI::IsMember(WordsOf(kColourChoices)));
  convert->add_option("--angle-model", options->angleModel, "Angle fields as arithmetic, geographic or graphic angles")
      ->check(CLI::IsMember(WordsOf(kAngleChoices)));
  convert->add_option("--format", options->format,
                      "Output format: shp (shapefiles) or gpkg (one GeoPackage per project or stand-alone layer)")
      ->check(CLI::IsMember(WordsOf(kFormatChoices)));
  convert->add_option("--lib", options->lib, "MapGIS system library folder holding Pcolor.lib")->type_name("DIR");
  CLI::Option* qml =
      convert->add_flag("--qml", options->qml, "Write a QGIS style .qml beside outputs with drawing parameters");
  convert->add_flag("--no-qml", options->noQml, "Write no QGIS style .qml")->excludes(qml);
  convert->add_option("--to-crs", options->toCrs,
                      "Reproject every output to this system: EPSG:4490, a WKT text or a PROJ string (\"\" for none)")
      ->type_name("CRS");
  convert->add_option("--from-crs", options->fromCrs,
                      "With --to-crs: the source system, instead of the one the layer's projection record gives")
      ->type_name("CRS");
  convert->add_option("--towgs84", options->sevenParameters,
                      "With --to-crs: seven-parameter shift from the source datum to the target datum: dx,dy,dz "
                      "(metres), rx,ry,rz (arc-seconds, position vector), ds (ppm)")
      ->type_name("DX,DY,DZ,RX,RY,RZ,DS");
  convert->add_flag("--require-datum-shift", options->requireDatumShift,
                    "With --to-crs: fail a layer whose datums can only be joined without a datum shift");
  convert->add_flag("--keep-empty", options->keepEmpty, "Keep the outputs of a conversion that wrote nothing");
  convert->add_flag("--repair", options->repair,
                    "Make regions valid with GEOS before they are written (setting Output/RepairGeometry)");
  convert->add_option("--max-errors", options->maxErrors, "Error lines of one kind a conversion log holds")
      ->check(CLI::NonNegativeNumber)
      ->type_name("N");
  convert->add_flag("--no-layer-index", options->noLayerIndex, "Do not write the layer index of a project");
  convert->add_flag("--all-files", options->allFiles, "In folders, also queue the layer files found");
  convert->add_option("--export-list", options->exportList, "Write the converted list as a GBK text table")
      ->type_name("FILE");
  convert->add_option("--save-log", options->saveLog, "Write the operation log as a GBK text file")
      ->type_name("FILE");
  convert->add_flag("--save", options->save, "Store the options given as settings for later runs");
  convert->add_flag("-q,--quiet", options->quiet, "No progress and no operation log on stderr");
  convert->add_option("-j,--jobs", options->jobs,
                      "Rows converted at once (0: one per processor core; default: the setting General/Jobs)")
      ->check(CLI::NonNegativeNumber)
      ->type_name("N");
  convert->add_option("--report", options->report, "Write a JSON Lines report: a line per row, then a summary")
      ->type_name("FILE");
  convert->add_option("--resume", options->resume,
                      "Take over the rows an earlier report names as converted from the same unchanged source")
      ->type_name("FILE");
  CLI::Option* planOnly = convert->add_option("--plan-only", options->planOnly,
                                              "Name every row's outputs, write that plan (JSON Lines), convert nothing")
                              ->type_name("FILE");
  CLI::Option* planOption =
      convert->add_option("--plan", options->plan, "Convert the rows of a plan with the names it holds (no paths)")
          ->type_name("FILE");
  planOption->excludes(planOnly);
  convert->add_option("--shard", options->shard, "With --plan: convert shard I of N (0 <= I < N) only")
      ->type_name("I/N");
  convert->footer(
      "stdout: a line per row (path, result, output content, output name, tab-separated), then the summary.\n"
      "Exit status: 0 when no row failed and no file was missing, 1 otherwise or when stopped with Ctrl-C,\n"
      "2 for a wrong option or path.");

  CLI::Option* modeOption = convert->get_option("--mode");
  convert->callback([&app, options, modeOption, &exitCode] {
    options->modeGiven = modeOption->count() > 0;
    fs::path configFile = DefaultSettingsFile();
    if (const CLI::Option* global = app.get_option_no_throw("--config"); global != nullptr && global->count() > 0) {
      const auto name = global->as<std::string>();
      if (!name.empty()) configFile = name;
    }
    exitCode = RunConvert(*options, configFile, std::cout, std::cerr, ::isatty(STDERR_FILENO) != 0);
  });
}

}  // namespace Kvx
