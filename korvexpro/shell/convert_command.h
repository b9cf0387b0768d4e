#pragma once

// "korvexpro convert [options] PATH...": queues projects, layer files and folders in the order
// given, runs one batch over them with the settings and the options, and reports each row on
// stdout, then the summary line. See the README for the options and the exit statuses.

#include <CLI/CLI.hpp>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace Kvx {

inline constexpr int kConvertExitOk = 0;      // no row failed and no source was missing
inline constexpr int kConvertExitFailed = 1;  // a row failed, a source was missing, or the run was stopped
inline constexpr int kConvertExitUsage = 2;   // a wrong option or path; nothing was converted

struct ConvertOptions {
  std::vector<std::string> paths;
  std::string mode = "quick";
  std::optional<std::string> styles;  // none | params | codes | avl
  std::optional<std::string> out;     // OutPath for this run
  bool besideSource = false;          // OutPath ""
  std::optional<int> projection;
  std::optional<std::string> encoding;     // ansi | utf8
  std::optional<std::string> colourModel;  // rgb | cmyk | number
  std::optional<std::string> angleModel;   // arithmetic | geographic | graphic
  std::optional<std::string> lib;
  std::optional<std::string> format;       // shp | gpkg
  bool qml = false;                        // --qml: a QGIS style beside styled outputs
  bool noQml = false;                      // --no-qml: none
  std::optional<std::string> toCrs;        // --to-crs: reproject to this system ("" for none)
  std::optional<std::string> fromCrs;      // --from-crs: source system instead of the layer's own
  std::optional<std::string> sevenParameters;  // --towgs84 dx,dy,dz,rx,ry,rz,ds
  bool requireDatumShift = false;          // --require-datum-shift
  bool keepEmpty = false;
  bool repair = false;
  std::optional<int> maxErrors;
  bool noLayerIndex = false;
  bool allFiles = false;
  std::string exportList;
  std::string saveLog;
  bool save = false;
  bool quiet = false;
  std::optional<int> jobs;  // -j: rows converted at once (0: one per processor core)
  std::string report;       // JSON Lines report of the run
  std::string resume;       // an earlier report: the rows it names as converted are taken over
  std::string planOnly;     // write the plan of the list here and convert nothing
  std::string plan;         // convert the rows of this plan (no paths then)
  std::string shard;        // "I/N": with a plan, only shard I of N
  bool modeGiven = false;   // --mode was given (a plan holds its own)
};

// Runs the command with the settings file `configFile`. `terminal` draws a progress bar on `err`.
// Ctrl-C (SIGINT) stops the batch after the row being converted.
int RunConvert(const ConvertOptions& options, const std::filesystem::path& configFile, std::ostream& out,
               std::ostream& err, bool terminal);

// Adds the "convert" subcommand; `exitCode` receives its exit status.
void AddConvertCommand(CLI::App& app, int& exitCode);

// "korvexpro report FILE...": merges run reports into one summary on `out`. 0 when every planned
// row was reported and none failed or was missing, 1 otherwise, 2 when a file cannot be read.
int RunReportCommand(const std::vector<std::string>& files, bool json, std::ostream& out, std::ostream& err);
void AddReportCommand(CLI::App& app, int& exitCode);

}  // namespace Kvx
