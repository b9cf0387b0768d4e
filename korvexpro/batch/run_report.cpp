#include "batch/run_report.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <system_error>

#include <nlohmann/json.hpp>

#include "batch/batch_driver.h"
#include "engine/geopackage_sink.h"
#include "batch/text_format.h"

namespace Kvx {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

bool FileThere(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

// Whether the result kept under an output name is still there: a spreadsheet, a table, or a
// shapefile with its three parts.
bool OutputExists(const std::string& name, std::string_view kind, const std::string& geoPackage) {
  if (FileThere(name + ".xls")) return true;
  // A layer's table in the row's GeoPackage (a table row keeps its .dbf).
  if (!geoPackage.empty() && kind != "table") return GeoPackageHoldsTable(geoPackage, fs::path(name).filename().string());
  if (!FileThere(name + ".dbf")) return false;
  return kind == "table" || (FileThere(name + ".shp") && FileThere(name + ".shx"));
}

// Reads one row object; false when the line is not one.
bool ParseReportRow(const Json& j, ReportRow& row) {
  if (!j.is_object() || !j.contains("row") || !j["row"].is_number_unsigned()) return false;
  row.row = j["row"].get<std::size_t>();
  const auto text = [&](const char* key, std::string& into) {
    const auto it = j.find(key);
    if (it != j.end() && it->is_string()) into = it->get<std::string>();
  };
  text("source", row.source);
  text("mode", row.mode);
  text("kind", row.kind);
  text("resultText", row.resultText);
  text("content", row.content);
  text("name", row.name);
  text("folder", row.folder);
  if (const auto it = j.find("size"); it != j.end() && it->is_number_unsigned()) {
    row.stamp.exists = true;
    row.stamp.size = it->get<std::uintmax_t>();
  }
  if (const auto it = j.find("mtimeNs"); it != j.end() && it->is_number_integer()) {
    row.stamp.mtimeNs = it->get<std::int64_t>();
  }
  if (const auto it = j.find("result"); it != j.end() && it->is_number_integer()) {
    row.result = it->get<std::int32_t>();
  } else {
    return false;
  }
  if (const auto it = j.find("names"); it != j.end() && it->is_object()) {
    if (const auto m = it->find("main"); m != it->end() && m->is_string()) row.names.main = m->get<std::string>();
    if (const auto s = it->find("second"); s != it->end() && s->is_string()) row.names.second = s->get<std::string>();
  }
  if (const auto it = j.find("outputs"); it != j.end() && it->is_array()) {
    for (const Json& name : *it) {
      if (name.is_string()) row.outputs.push_back(name.get<std::string>());
    }
  }
  if (const auto it = j.find("geopackage"); it != j.end() && it->is_string()) row.geoPackage = it->get<std::string>();
  if (const auto it = j.find("seconds"); it != j.end() && it->is_number()) row.seconds = it->get<double>();
  if (const auto it = j.find("resumed"); it != j.end() && it->is_boolean()) row.resumed = it->get<bool>();
  return true;
}

bool ParseSummary(const Json& j, ReportSummary& s) {
  if (!j.is_object()) return false;
  const auto it = j.find("summary");
  if (it == j.end() || !it->is_boolean() || !it->get<bool>()) return false;
  const auto count = [&](const char* key, auto& into) {
    const auto m = j.find(key);
    if (m != j.end() && m->is_number_integer()) into = m->get<std::remove_reference_t<decltype(into)>>();
  };
  count("rows", s.rows);
  count("planRows", s.planRows);
  count("succeeded", s.counts.succeeded);
  count("empty", s.counts.empty);
  count("skipped", s.counts.skipped);
  count("failed", s.counts.failed);
  count("missing", s.counts.missing);
  count("resumed", s.resumed);
  count("jobs", s.jobs);
  if (const auto m = j.find("cancelled"); m != j.end() && m->is_boolean()) s.cancelled = m->get<bool>();
  if (const auto m = j.find("seconds"); m != j.end() && m->is_number()) s.seconds = m->get<double>();
  if (const auto m = j.find("shard"); m != j.end() && m->is_string()) s.shard = m->get<std::string>();
  return true;
}

}  // namespace

SourceStamp StampOf(const fs::path& source) {
  SourceStamp stamp;
  struct stat info {};
  if (::stat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return stamp;
  stamp.exists = true;
  stamp.size = static_cast<std::uintmax_t>(info.st_size);
  stamp.mtimeNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return stamp;
}

std::string ReportRowJson(const ReportRow& row) {
  Json j = Json::object();
  j["row"] = row.row;
  j["source"] = row.source;
  if (row.stamp.exists) {
    j["size"] = row.stamp.size;
    j["mtimeNs"] = row.stamp.mtimeNs;
  } else {
    j["size"] = nullptr;
    j["mtimeNs"] = nullptr;
  }
  j["mode"] = row.mode;
  j["kind"] = row.kind;
  j["result"] = row.result;
  j["resultText"] = row.resultText;
  j["content"] = row.content;
  j["name"] = row.name;
  j["folder"] = row.folder;
  j["names"] = {{"main", row.names.main}, {"second", row.names.second}};
  j["outputs"] = row.outputs;
  if (!row.geoPackage.empty()) j["geopackage"] = row.geoPackage;
  // Milliseconds are enough, and keep the lines short.
  j["seconds"] = static_cast<double>(static_cast<std::int64_t>(row.seconds * 1000.0 + 0.5)) / 1000.0;
  j["resumed"] = row.resumed;
  return Dump(j);
}

std::string ReportSummaryJson(const ReportSummary& s) {
  Json j = Json::object();
  j["summary"] = true;
  j["rows"] = s.rows;
  j["planRows"] = s.planRows;
  j["succeeded"] = s.counts.succeeded;
  j["empty"] = s.counts.empty;
  j["skipped"] = s.counts.skipped;
  j["failed"] = s.counts.failed;
  j["missing"] = s.counts.missing;
  j["resumed"] = s.resumed;
  j["cancelled"] = s.cancelled;
  j["seconds"] = static_cast<double>(static_cast<std::int64_t>(s.seconds * 1000.0 + 0.5)) / 1000.0;
  j["jobs"] = s.jobs;
  j["shard"] = s.shard.empty() ? Json(nullptr) : Json(s.shard);
  return Dump(j);
}

bool RunReport::Open(const fs::path& file, std::string& error) {
  file_.reset(std::fopen(file.c_str(), "wb"));
  path_ = file;
  failed_ = false;
  if (!file_) {
    error = "cannot create " + file.string() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void RunReport::Write(const std::string& line) {
  if (!file_) return;
  const std::string text = line + '\n';
  if (std::fwrite(text.data(), 1, text.size(), file_.get()) != text.size() || std::fflush(file_.get()) != 0) {
    failed_ = true;
  }
}

bool RunReport::Close(std::string& error) {
  if (!file_) return !failed_;
  const bool closed = std::fclose(file_.release()) == 0;
  if (failed_ || !closed) {
    error = "cannot write " + path_.string();
    return false;
  }
  return true;
}

ReportReadResult ReadReport(const fs::path& file, ReportFile& report) {
  ReportReadResult result;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    result.error = "cannot open " + file.string();
    return result;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    const Json j = Json::parse(line, nullptr, false);
    ReportRow row;
    ReportSummary summary;
    bool read = false;
    if (!j.is_discarded()) {
      try {
        if (ParseSummary(j, summary)) {
          report.summaries.push_back(summary);
          read = true;
        } else if (ParseReportRow(j, row)) {
          report.rows.push_back(std::move(row));
          read = true;
        }
      } catch (const Json::exception&) {
        read = false;
      }
    }
    if (!read) ++report.unreadLines;
  }
  if (in.bad()) {
    result.error = "cannot read " + file.string();
    return result;
  }
  result.ok = true;
  return result;
}

ReportReadResult RunResume::Read(const fs::path& file) {
  ReportFile report;
  ReportReadResult result = ReadReport(file, report);
  if (!result.ok) return result;
  for (ReportRow& row : report.rows) {
    const std::string source = row.source;
    bySource_.emplace(source, std::move(row));
  }
  return result;
}

const ReportRow* RunResume::Earlier(std::size_t number, const std::string& source, RowKind kind) const {
  const auto [first, last] = bySource_.equal_range(source);
  const ReportRow* found = nullptr;
  for (auto it = first; it != last; ++it) {
    // A later line of the same row (a run resumed before) counts over an earlier one.
    if (it->second.row == number) found = &it->second;
  }
  if (found == nullptr || found->kind != KindWord(kind) || found->names.main.empty() || found->names.second.empty()) {
    return nullptr;
  }
  std::error_code ec;
  if (!fs::is_directory(found->folder, ec)) return nullptr;
  return found;
}

const ReportRow* RunResume::Find(std::size_t number, const std::string& source, RowKind kind) const {
  const ReportRow* found = Earlier(number, source, kind);
  if (found == nullptr) return nullptr;
  const bool usable = found->result == kRowSuccess || (kind == RowKind::Project && found->result == kRowSkipped);
  if (!usable) return nullptr;
  const SourceStamp now = StampOf(source);
  if (!now.exists || !found->stamp.exists || now.size != found->stamp.size || now.mtimeNs != found->stamp.mtimeNs) {
    return nullptr;
  }
  if (found->result == kRowSuccess && found->outputs.empty()) return nullptr;
  for (const std::string& output : found->outputs) {
    if (!OutputExists(output, found->kind, found->geoPackage)) return nullptr;
  }
  return found;
}

ReportReadResult MergeReports(const std::vector<fs::path>& files, MergedReport& merged) {
  merged = MergedReport();
  std::map<std::size_t, ReportRow> byRow;
  for (const fs::path& file : files) {
    ReportFile report;
    ReportReadResult read = ReadReport(file, report);
    if (!read.ok) return read;
    merged.unreadLines += report.unreadLines;
    for (ReportRow& row : report.rows) byRow[row.row] = std::move(row);
    for (const ReportSummary& s : report.summaries) {
      ++merged.runs;
      merged.planRows = std::max(merged.planRows, s.planRows);
      merged.wallSeconds += s.seconds;
      if (s.cancelled) ++merged.cancelledRuns;
    }
  }
  for (auto& [number, row] : byRow) {
    merged.counts.Count(row.result);
    if (row.resumed) ++merged.resumed;
    merged.rowSeconds += row.seconds;
    merged.rows.push_back(std::move(row));
  }
  for (std::size_t n = 1; n <= merged.planRows; ++n) {
    if (!byRow.contains(n)) merged.notReported.push_back(n);
  }
  ReportReadResult result;
  result.ok = true;
  return result;
}

std::string MergedReportText(const MergedReport& m) {
  std::string text;
  text += FormatText("rows: %zu reported", m.rows.size());
  if (m.planRows > 0) text += FormatText(" of %zu planned", m.planRows);
  text += FormatText(" (%zu runs)\n", m.runs);
  text += FormatText("succeeded %d (resumed %d), empty %d, skipped %d, failed %d, missing %d\n", m.counts.succeeded,
                     m.resumed, m.counts.empty, m.counts.skipped, m.counts.failed, m.counts.missing);
  for (const ReportRow& row : m.rows) {
    if (row.result == kRowSuccess || row.result == kRowEmpty || row.result == kRowSkipped) continue;
    text += FormatText("%s row %zu: %s (%d %s)\n", row.result == kRowMissing ? "missing" : "failed", row.row,
                       row.source.c_str(), static_cast<int>(row.result), row.resultText.c_str());
  }
  if (!m.notReported.empty()) {
    text += FormatText("not reported: %zu rows:", m.notReported.size());
    for (std::size_t n : m.notReported) text += FormatText(" %zu", n);
    text += '\n';
  }
  if (m.cancelledRuns > 0) text += FormatText("stopped runs: %zu\n", m.cancelledRuns);
  if (m.unreadLines > 0) text += FormatText("lines not read: %zu\n", m.unreadLines);
  text += FormatText("total time: %.3f s converting, %.3f s of runs\n", m.rowSeconds, m.wallSeconds);
  return text;
}

std::string MergedReportJson(const MergedReport& m) {
  Json j = Json::object();
  j["rows"] = m.rows.size();
  j["planRows"] = m.planRows;
  j["runs"] = m.runs;
  j["succeeded"] = m.counts.succeeded;
  j["empty"] = m.counts.empty;
  j["skipped"] = m.counts.skipped;
  j["failed"] = m.counts.failed;
  j["missing"] = m.counts.missing;
  j["resumed"] = m.resumed;
  Json failed = Json::array(), missing = Json::array();
  for (const ReportRow& row : m.rows) {
    if (row.result == kRowMissing) missing.push_back(row.row);
    if (row.result != kRowSuccess && row.result != kRowEmpty && row.result != kRowSkipped && row.result != kRowMissing) {
      failed.push_back(row.row);
    }
  }
  j["failedRows"] = failed;
  j["missingRows"] = missing;
  j["notReported"] = m.notReported;
  j["cancelledRuns"] = m.cancelledRuns;
  j["unreadLines"] = m.unreadLines;
  j["rowSeconds"] = m.rowSeconds;
  j["wallSeconds"] = m.wallSeconds;
  j["complete"] = m.Complete();
  return Dump(j);
}

}  // namespace Kvx
