#include "shell/convert_command.h"

#include <unistd.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <system_error>

#include "batch/batch_driver.h"
#include "batch/file_list.h"
#include "batch/operation_log.h"
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
  static const char kNote[] = "\n(Ctrl-C: stopping after the current file; press again to quit now)\n";
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
                {"--angle-model", o.angleModel, kAngleChoices}};
  for (const auto& check : checks) {
    if (check.given && !ValueOf(check.choices, *check.given)) return std::string(check.option) + " " + *check.given;
  }
  if (o.projection && (*o.projection < 0 || *o.projection > 2)) return "--projection " + std::to_string(*o.projection);
  if (o.maxErrors && *o.maxErrors < 0) return "--max-errors " + std::to_string(*o.maxErrors);
  if (FindBatchCommand(o.mode) == nullptr) return "--mode " + o.mode;
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

}  // namespace

int RunConvert(const ConvertOptions& options, const fs::path& configFile, std::ostream& out, std::ostream& err,
               bool terminal) {
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

  std::vector<const SettingInfo*> changed;
  ApplyOptions(options, settings, changed);
  int status = kConvertExitOk;
  // An output folder that does not exist yet is made, as a script expects of "-o DIR".
  if (!settings.OutPath.empty()) {
    std::error_code ec;
    fs::create_directories(settings.OutPath, ec);
    if (!fs::is_directory(settings.OutPath, ec)) {
      err << "korvexpro convert: the output folder " << settings.OutPath << " does not exist and cannot be made\n";
      return kConvertExitUsage;
    }
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

  {
    InterruptScope interrupts;
    const SearchOptions search{true, options.allFiles};
    // A search stopped by Ctrl-C or by MaxFiles searches no further folder; the rows found so
    // far stay (and Ctrl-C then stops the batch before its first row).
    bool searchStopped = false;
    for (const std::string& path : options.paths) {
      switch (RoleOf(path)) {
        case PathRole::Project: list.AddProjectFile(path); break;
        case PathRole::Layer: list.AddLayerFile(path); break;
        case PathRole::Folder:
          if (searchStopped) break;
          if (!options.quiet) err << kSearchStartText << ' ' << path << '\n';
          searchStopped = ListAllFiles(list, path, search, view, log) == 1;
          break;
        case PathRole::Refused: break;
      }
    }

    const int mode = FindBatchCommand(options.mode)->mode;
    const BatchSummary summary = driver.Run(mode);
    out << summary.Text() << '\n';
    out.flush();
    if (summary.cancelled && !view.InterruptionShown()) err << kCancelledLog << '\n';
    if (summary.counts.failed > 0 || summary.counts.missing > 0 || summary.cancelled) status = kConvertExitFailed;
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

void AddConvertCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ConvertOptions>();
  CLI::App* convert = app.add_subcommand("convert", "Convert MapGIS projects, layer files and folders to shapefiles");
  convert->fallthrough();  // "--config FILE" may follow the subcommand too

  convert->add_option("paths", options->paths,
                      "Projects (.mpj: the project and its layers), layer files (.wt .wl .wp .wn .wb) and folders "
                      "(searched with their sub-folders for projects), converted in this order")
      ->required()
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
  convert->add_option("--lib", options->lib, "MapGIS system library folder holding Pcolor.lib")->type_name("DIR");
  CLI::Option* qml =
      convert->add_flag("--qml", options->qml, "Write a QGIS style .qml beside outputs with drawing parameters");
  convert->add_flag("--no-qml", options->noQml, "Write no QGIS style .qml")->excludes(qml);
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
  convert->footer(
      "stdout: a line per row (path, result, output content, output name, tab-separated), then the summary.\n"
      "Exit status: 0 when no row failed and no file was missing, 1 otherwise or when stopped with Ctrl-C,\n"
      "2 for a wrong option or path.");

  convert->callback([&app, options, &exitCode] {
    fs::path configFile = DefaultSettingsFile();
    if (const CLI::Option* global = app.get_option_no_throw("--config"); global != nullptr && global->count() > 0) {
      const auto name = global->as<std::string>();
      if (!name.empty()) configFile = name;
    }
    exitCode = RunConvert(*options, configFile, std::cout, std::cerr, ::isatty(STDERR_FILENO) != 0);
  });
}

}  // namespace Kvx
