// Batches over a tree of every kind with damaged files and name collisions: several rows at once,
// run reports, resumed runs, plans and their shards, merged reports.

#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_api.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "shell/convert_command.h"
#include "shell_fixtures.h"
#include "temp_config.h"

namespace {

namespace fs = std::filesystem;
using namespace KvxShellTest;
using Kvx::ConvertOptions;
using KvxTest::ScratchDir;
using Json = nlohmann::json;

// Every file under `dir` by its path relative to `dir`, with its bytes.
std::map<std::string, std::string> Tree(const fs::path& dir) {
  std::map<std::string, std::string> files;
  if (!fs::exists(dir)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) files[fs::relative(entry.path(), dir).string()] = ReadAll(entry.path());
  }
  return files;
}

// The folders under `dir`, relative.
std::set<std::string> Folders(const fs::path& dir) {
  std::set<std::string> folders;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_directory()) folders.insert(fs::relative(entry.path(), dir).string());
  }
  return folders;
}

// `text` with every `from` replaced by `to`.
std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::vector<Json> JsonLines(const fs::path& file) {
  std::vector<Json> lines;
  for (const std::string& line : SplitLines(ReadAll(file))) {
    if (!line.empty()) lines.push_back(Json::parse(line));
  }
  return lines;
}

// What runs with one job and with four wrote and told: the output trees and stdout (the output
// folder as "OUT"), the exported lists and the saved operation logs.
struct JobRuns {
  std::map<int, std::map<std::string, std::string>> trees;
  std::map<int, std::string> outs, lists, logs;
};

class ArchiveRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path src = Src();
    // A project of every kind that also lists a layer that is not there.
    WriteFullProject(src / "p1");
    std::vector<std::string> layers = kAllLayers;
    layers.push_back("gone.wl");
    WriteProject(src / "p1" / "map.mpj", layers);
    // A second project of the same name: its folder becomes "map_0". Its roads collide with the
    // first project's only by folder; its broken layer is cut short.
    Write(RoadsLayer(), src / "p2" / "roads.wl");
    const std::vector<std::uint8_t> roads = RoadsLayer().Build();
    WriteBytes(src / "p2" / "broken.wl", std::string(roads.begin(), roads.begin() + roads.size() / 2));
    WriteProject(src / "p2" / "map.mpj", {"roads.wl", "broken.wl"});
    // Top-level layers: two "roads" and two "zones" into one output folder, garbage, an empty layer.
    Write(RoadsLayer(), src / "a" / "roads.wl");
    Write(SitesLayer(), src / "a" / "sites.wt");
    Write(ZonesLayer(), src / "a" / "zones.wp");
    WriteBytes(src / "a" / "junk.wp", "this is not a MapGIS layer at all, only text");
    Write(EmptyLines(), src / "a" / "empty.wl");
    Write(RoadsLayer(), src / "b" / "roads.wl");
    Write(ZonesLayer(), src / "b" / "zones.wp");
    Write(PipesLayer(), src / "b" / "pipes.wn");
    Write(WellsTable(), src / "b" / "wells.wb");
    Write(SitesLayer(), src / "b" / "sites.wt");
    fs::copy_file(fs::path(KVX_EXAMPLES) / "Pcolor.lib", dir_.Path() / "Pcolor.lib");
  }

  fs::path Src() const { return dir_.Path() / "src"; }
  fs::path Config() const { return dir_.Path() / "KorvexPro.ini"; }
  fs::path Scratch(const std::string& name) const { return dir_.Path() / name; }

  std::vector<std::string> Paths() const {
    const fs::path s = Src();
    return {(s / "p1" / "map.mpj").string(), (s / "p2" / "map.mpj").string(), (s / "a" / "roads.wl").string(),
            (s / "a" / "sites.wt").string(),  (s / "a" / "zones.wp").string(),  (s / "a" / "junk.wp").string(),
            (s / "a" / "empty.wl").string(),  (s / "nothere.wl").string(),      (s / "b" / "roads.wl").string(),
            (s / "b" / "zones.wp").string(),  (s / "b" / "pipes.wn").string(),  (s / "b" / "wells.wb").string(),
            (s / "b" / "sites.wt").string(),  (s / "a" / "roads.wl").string()};
  }

  ConvertOptions Options(const std::string& mode, const fs::path& out) const {
    ConvertOptions o;
    o.paths = Paths();
    o.out = out.string();
    o.mode = mode;
    o.lib = dir_.Path().string();
    o.quiet = true;
    return o;
  }

  Outcome Run(const ConvertOptions& o) const { return RunInProcess(o, Config()); }

  // Runs `base` with one job and with four, each into its own output folder, list and log named
  // after `tag`, and expects the same of both (a damaged file fails, so the status is 1).
  JobRuns RunWithOneAndFourJobs(ConvertOptions base, const std::string& tag) const;

  ScratchDir dir_;
};

constexpr const char* kModes[] = {"quick", "avl", "arcs", "xls"};

JobRuns ArchiveRuns::RunWithOneAndFourJobs(ConvertOptions base, const std::string& tag) const {
  JobRuns runs;
  for (const int jobs : {1, 4}) {
    const std::string name = tag + "-" + std::to_string(jobs);
    const fs::path out = Scratch("out-" + name);
    ConvertOptions o = base;
    o.out = out.string();
    o.jobs = jobs;
    o.exportList = Scratch("list-" + name + ".csv").string();
    o.saveLog = Scratch("log-" + name + ".txt").string();
    const Outcome r = Run(o);
    EXPECT_EQ(r.status, 1) << r.err;
    runs.trees[jobs] = Tree(out);
    runs.outs[jobs] = Replace(r.out, out.string(), "OUT");
    // The list and the log are GBK texts.
    runs.lists[jobs] = Replace(ReadAll(o.exportList), G(out.string()), "OUT");
    runs.logs[jobs] = Replace(ReadAll(o.saveLog), G(out.string()), "OUT");
  }
  EXPECT_TRUE(runs.trees[1] == runs.trees[4]);
  EXPECT_EQ(SplitLines(runs.outs[1]), SplitLines(runs.outs[4]));
  EXPECT_EQ(SplitLines(runs.lists[1]), SplitLines(runs.lists[4]));
  EXPECT_EQ(SplitLines(runs.logs[1]), SplitLines(runs.logs[4]));
  return runs;
}

// Several rows at once write what one row at a time writes, byte for byte, and tell it in the same
// order: stdout, the exported list and the saved operation log.
TEST_F(ArchiveRuns, ManyJobsWriteWhatOneJobWrites) {
  for (const char* mode : kModes) {
    SCOPED_TRACE(mode);
    const JobRuns runs = RunWithOneAndFourJobs(Options(mode, {}), mode);
    EXPECT_FALSE(runs.trees.at(1).empty());

    // List order: a row per queued row, projects before their layers, in the order given.
    const Outcome once{0, runs.outs.at(1), {}};
    const std::vector<Row> rows = once.Rows();
    ASSERT_EQ(rows.size(), 22u) << runs.outs.at(1);
    const fs::path s = Src();
    EXPECT_EQ(rows[0].path, (s / "p1" / "map.mpj").string());
    EXPECT_EQ(rows[6].path, (s / "p1" / "gone.wl").string());
    EXPECT_EQ(rows[6].result, "不存在");
    EXPECT_EQ(rows[7].path, (s / "p2" / "map.mpj").string());
    EXPECT_EQ(rows[9].path, (s / "p2" / "broken.wl").string());
    EXPECT_EQ(rows[15].path, (s / "nothere.wl").string());
    EXPECT_EQ(rows[21].path, (s / "a" / "roads.wl").string());
  }
}

// A folder searched while its first rows convert (several jobs) gives what a whole search made
// first gives (one job): the same files, stdout, exported list and log, projects and loose layers
// colliding in one output folder.
TEST_F(ArchiveRuns, AFolderSearchedWhileItsRowsConvertWritesWhatOneJobWrites) {
  ConvertOptions o = Options("avl", {});
  o.paths = {Src().string(), (Src() / "a" / "roads.wl").string()};
  o.allFiles = true;
  const JobRuns runs = RunWithOneAndFourJobs(o, "folder");
  const Outcome once{0, runs.outs.at(4), {}};
  const std::vector<Row> rows = once.Rows();
  // Both projects with their layers, every loose layer file, and the layer named after the folder.
  ASSERT_EQ(rows.size(), 28u) << runs.outs.at(4);
  EXPECT_EQ(rows.back().path, (Src() / "a" / "roads.wl").string());
}

// The collisions are settled as one row at a time settles them, before any row writes.
TEST_F(ArchiveRuns, CollidingNamesAreSettledInListOrder) {
  const fs::path out = Scratch("out");
  ConvertOptions o = Options("quick", out);
  o.jobs = 3;
  const Outcome r = Run(o);
  std::map<std::string, Row> byPath;
  std::vector<std::string> roads;
  for (const Row& row : r.Rows()) {
    if (fs::path(row.path).filename() == "roads.wl") roads.push_back(Replace(row.name, out.string(), "OUT"));
  }
  const std::vector<std::string> expected = {"OUT/map/roads", "OUT/map_0/roads", "OUT/roads", "OUT/roads_L0",
                                             "OUT/roads_L1"};
  EXPECT_EQ(roads, expected) << r.out;
  const std::set<std::string> folders = Folders(out);
  EXPECT_TRUE(folders.contains("map") && folders.contains("map_0")) << r.out;
}

// The report: a line per row in list order with the source's size and time and the outputs, then
// the summary.
TEST_F(ArchiveRuns, ReportHoldsEveryRowThenTheSummary) {
  const fs::path out = Scratch("out");
  ConvertOptions o = Options("avl", out);
  o.jobs = 4;
  o.report = Scratch("run.jsonl").string();
  const Outcome r = Run(o);
  const std::vector<Json> lines = JsonLines(o.report);
  const std::vector<Row> rows = r.Rows();
  ASSERT_EQ(lines.size(), rows.size() + 1);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Json& line = lines[i];
    SCOPED_TRACE(rows[i].path);
    EXPECT_EQ(line["row"], i + 1);
    EXPECT_EQ(line["source"], rows[i].path);
    EXPECT_EQ(line["resultText"], rows[i].result);
    EXPECT_EQ(line["content"], rows[i].content);
    EXPECT_EQ(line["mode"], "avl");
    EXPECT_FALSE(line["resumed"].get<bool>());
    EXPECT_GE(line["seconds"].get<double>(), 0.0);
    if (rows[i].result == "不存在") {
      EXPECT_TRUE(line["size"].is_null());
    } else {
      EXPECT_EQ(line["size"], fs::file_size(rows[i].path));
      EXPECT_TRUE(line["mtimeNs"].is_number_integer());
    }
    if (rows[i].result == "成功" && line["kind"] != "project") {
      ASSERT_FALSE(line["outputs"].empty());
      for (const Json& name : line["outputs"]) {
        EXPECT_TRUE(Exists(name.get<std::string>() + (line["kind"] == "table" ? ".dbf" : ".shp"))) << name;
      }
    }
    if (line["kind"] == "point" && rows[i].result == "成功") {
      EXPECT_EQ(line["outputs"].size(), 2u);
    }
  }
  const Json& summary = lines.back();
  EXPECT_TRUE(summary["summary"].get<bool>());
  EXPECT_EQ(summary["rows"], rows.size());
  EXPECT_EQ(summary["planRows"], rows.size());
  EXPECT_EQ(summary["jobs"], 4);
  EXPECT_EQ(summary["missing"], 2);
  // The cut layer, the garbage, and the index of the project that lists a missing layer.
  EXPECT_EQ(summary["failed"].get<int>(), 3);
  EXPECT_FALSE(summary["cancelled"].get<bool>());
}

// A resumed run takes over what the report says was converted from the unchanged source, and
// converts again a changed source, a row whose outputs went and every row that did not succeed.
TEST_F(ArchiveRuns, ResumeConvertsOnlyWhatIsNotDone) {
  const fs::path out = Scratch("out");
  ConvertOptions first = Options("quick", out);
  first.jobs = 2;
  first.report = Scratch("first.jsonl").string();
  const Outcome r1 = Run(first);
  const auto before = Tree(out);

  // Nothing changed: every success is taken over, nothing is renamed or written.
  ConvertOptions again = Options("quick", out);
  again.jobs = 2;
  again.resume = first.report;
  again.report = Scratch("again.jsonl").string();
  const Outcome r2 = Run(again);
  std::size_t successes = 0;
  for (const Row& row : r1.Rows()) successes += row.result == "成功" ? 1 : 0;
  const Json summary = JsonLines(again.report).back();
  EXPECT_EQ(summary["resumed"], successes);
  EXPECT_EQ(r2.Rows(), r1.Rows());
  EXPECT_EQ(r2.Summary(), r1.Summary());
  // The rows that did not succeed converted again into their own names, as before.
  EXPECT_TRUE(Tree(out) == before);

  // A source changed, an output removed: those two rows convert again.
  Write(RoadsLayer(), Src() / "b" / "pipes_copy.wl");
  fs::rename(Src() / "b" / "pipes_copy.wl", Src() / "b" / "roads.wl");
  fs::last_write_time(Src() / "b" / "roads.wl", fs::last_write_time(Src() / "b" / "roads.wl") + std::chrono::hours(1));
  fs::remove(out / "zones.shp");
  ConvertOptions third = Options("quick", out);
  third.resume = again.report;
  third.report = Scratch("third.jsonl").string();
  const Outcome r3 = Run(third);
  std::map<std::string, Json> bySource;
  for (const Json& line : JsonLines(third.report)) {
    if (line.contains("row")) bySource[line["source"].get<std::string>() + "#" + std::to_string(line["row"].get<int>())] = line;
  }
  const auto lineOf = [&](const fs::path& source, int row) { return bySource[source.string() + "#" + std::to_string(row)]; };
  EXPECT_FALSE(lineOf(Src() / "b" / "roads.wl", 17)["resumed"].get<bool>());
  EXPECT_EQ(lineOf(Src() / "b" / "roads.wl", 17)["name"], (out / "roads_L0").string());
  EXPECT_FALSE(lineOf(Src() / "a" / "zones.wp", 13)["resumed"].get<bool>());
  EXPECT_TRUE(Exists((out / "zones.shp").string()));
  EXPECT_EQ(JsonLines(third.report).back()["resumed"], successes - 2);
  EXPECT_TRUE(lineOf(Src() / "a" / "roads.wl", 11)["resumed"].get<bool>());
  EXPECT_TRUE(lineOf(Src() / "p1" / "roads.wl", 2)["resumed"].get<bool>());
  // The project's index failed (it lists a missing layer): converted again, into its own folder.
  EXPECT_FALSE(lineOf(Src() / "p1" / "map.mpj", 1)["resumed"].get<bool>());
  EXPECT_EQ(lineOf(Src() / "p1" / "map.mpj", 1)["name"], (out / "map" / "map").string());
  EXPECT_TRUE(lineOf(Src() / "p2" / "map.mpj", 8)["resumed"].get<bool>());
  EXPECT_EQ(r3.status, 1);
}

// GeoPackage rows are taken over while their tables are in their GeoPackage; a row whose
// GeoPackage went converts again, into the same GeoPackage name.
TEST_F(ArchiveRuns, ResumedGeoPackageRowsTakeOverTheirTables) {
  const fs::path out = Scratch("out");
  ConvertOptions first = Options("quick", out);
  first.format = "gpkg";
  first.jobs = 2;
  first.report = Scratch("first.jsonl").string();
  const Outcome r1 = Run(first);
  std::size_t successes = 0;
  for (const Row& row : r1.Rows()) successes += row.result == "成功" ? 1 : 0;
  ASSERT_GT(successes, 2u);
  for (const Json& line : JsonLines(first.report)) {
    if (line.contains("row") && line["result"] == 99999 && line["kind"] != "table") {
      ASSERT_TRUE(line.contains("geopackage")) << line;
      EXPECT_TRUE(Exists(line["geopackage"].get<std::string>())) << line;
    }
  }
  // The files beside the GeoPackages, and the tables in them with their feature counts.
  const auto contents = [&] {
    std::map<std::string, std::string> files;
    for (const auto& [name, bytes] : Tree(out)) {
      if (!name.ends_with(".gpkg")) {
        files[name] = bytes;
        continue;
      }
      GDALAllRegister();
      GDALDatasetH ds = GDALOpenEx((out / name).c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
      EXPECT_NE(ds, nullptr) << name;
      if (!ds) continue;
      for (int i = 0; i < GDALDatasetGetLayerCount(ds); ++i) {
        OGRLayerH l = GDALDatasetGetLayer(ds, i);
        files[name + ":" + OGR_L_GetName(l)] = std::to_string(OGR_L_GetFeatureCount(l, TRUE));
      }
      GDALClose(ds);
    }
    return files;
  };
  const auto before = contents();

  ConvertOptions again = Options("quick", out);
  again.format = "gpkg";
  again.resume = first.report;
  again.report = Scratch("again.jsonl").string();
  const Outcome r2 = Run(again);
  EXPECT_EQ(JsonLines(again.report).back()["resumed"], successes);
  EXPECT_EQ(r2.Rows(), r1.Rows());
  // The rows that did not succeed converted again, their earlier tables replaced.
  EXPECT_TRUE(contents() == before);

  // The stand-alone layer's GeoPackage removed: that row alone converts again.
  const fs::path own = out / "roads.gpkg";
  ASSERT_TRUE(Exists(own.string()));
  fs::remove(own);
  ConvertOptions third = Options("quick", out);
  third.format = "gpkg";
  third.resume = again.report;
  third.report = Scratch("third.jsonl").string();
  Run(third);
  EXPECT_EQ(JsonLines(third.report).back()["resumed"], successes - 1);
  EXPECT_TRUE(Exists(own.string()));
}

// A mode that converts no project still names its folder; resumed, the project row keeps that
// folder for its layers instead of taking a new one.
TEST_F(ArchiveRuns, ResumedProjectRowsKeepTheirFolder) {
  const fs::path out = Scratch("out");
  ConvertOptions first = Options("points", out);
  first.report = Scratch("first.jsonl").string();
  const Outcome r1 = Run(first);
  ConvertOptions again = Options("points", out);
  again.resume = first.report;
  again.report = Scratch("again.jsonl").string();
  const Outcome r2 = Run(again);
  EXPECT_EQ(r2.Rows(), r1.Rows());
  const std::set<std::string> folders = Folders(out);
  EXPECT_EQ(folders, (std::set<std::string>{"map", "map_0"})) << r2.out;
  const std::vector<Json> lines = JsonLines(again.report);
  EXPECT_TRUE(lines[0]["resumed"].get<bool>()) << lines[0];
  EXPECT_EQ(lines[0]["result"], 12);
  EXPECT_TRUE(lines[2]["resumed"].get<bool>()) << lines[2];  // p1/sites.wt
  EXPECT_EQ(lines.back()["skipped"], JsonLines(first.report).back()["skipped"]);
}

// A run stopped half-way (its report holds the first rows, their outputs alone exist): resuming it
// converts only the rest and ends with what one whole run writes.
TEST_F(ArchiveRuns, ResumeAfterAStopConvertsTheRest) {
  const fs::path wholeOut = Scratch("whole");
  const Outcome whole = Run(Options("quick", wholeOut));
  const auto expected = Tree(wholeOut);

  const fs::path out = Scratch("out");
  ConvertOptions first = Options("quick", out);
  first.report = Scratch("first.jsonl").string();
  Run(first);
  // Cut the report after row 12, and take away what the later rows wrote.
  const std::vector<Json> lines = JsonLines(first.report);
  std::string kept;
  std::size_t keptSuccesses = 0;
  for (const Json& line : lines) {
    if (!line.contains("row")) continue;
    if (line["row"].get<int>() <= 12) {
      kept += line.dump() + "\n";
      keptSuccesses += line["result"] == 99999 ? 1 : 0;
      continue;
    }
    for (const char* which : {"main", "second"}) {
      const std::string name = line["names"][which];
      if (name.empty()) continue;
      for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".avl", ".cpg", ".qml", ".log", ".xls"}) {
        fs::remove(name + ext);
      }
    }
  }
  WriteBytes(first.report, kept);

  ConvertOptions rest = Options("quick", out);
  rest.jobs = 3;
  rest.resume = first.report;
  rest.report = Scratch("rest.jsonl").string();
  const Outcome r = Run(rest);
  const std::vector<Json> restLines = JsonLines(rest.report);
  ASSERT_FALSE(restLines.empty());
  EXPECT_EQ(restLines.back()["resumed"], keptSuccesses);
  for (const Json& line : restLines) {
    if (line.contains("row") && line["row"].get<int>() > 12) {
      EXPECT_FALSE(line["resumed"].get<bool>()) << line;
    }
  }
  EXPECT_TRUE(Tree(out) == expected);
  EXPECT_EQ(SplitLines(Replace(r.out, out.string(), "OUT")), SplitLines(Replace(whole.out, wholeOut.string(), "OUT")));
}

// A plan names every row and converts nothing; the shards of it, run one after another in any
// order, cover every row once and write together what one plain run writes.
TEST_F(ArchiveRuns, ShardsOfAPlanWriteWhatOnePlainRunWrites) {
  for (const char* mode : {"quick", "avl"}) {
    SCOPED_TRACE(mode);
    const fs::path plainOut = Scratch(std::string("plain-") + mode);
    const Outcome plain = Run(Options(mode, plainOut));
    const auto expected = Tree(plainOut);
    const std::vector<Row> plainRows = plain.Rows();

    for (const int n : {1, 3, 7}) {
      SCOPED_TRACE(n);
      const std::string tag = std::string(mode) + "-" + std::to_string(n);
      const fs::path out = Scratch("sharded-" + tag);
      ConvertOptions planning = Options(mode, out);
      planning.planOnly = Scratch("plan-" + tag + ".jsonl").string();
      const Outcome planned = Run(planning);
      ASSERT_EQ(planned.status, 0) << planned.err;
      EXPECT_TRUE(planned.out.empty()) << planned.out;
      EXPECT_TRUE(Tree(out).empty()) << "a plan converts nothing";
      EXPECT_EQ(JsonLines(planning.planOnly).size(), plainRows.size());

      std::vector<std::string> reports;
      std::multiset<std::size_t> covered;
      std::vector<Row> shardRows;
      // The last shard first, then the others.
      std::vector<int> order;
      for (int i = n - 1; i >= 0; --i) order.push_back(i);
      for (const int i : order) {
        ConvertOptions shard;
        shard.plan = planning.planOnly;
        shard.shard = std::to_string(i) + "/" + std::to_string(n);
        shard.jobs = 2;
        shard.quiet = true;
        shard.report = Scratch("report-" + tag + "-" + std::to_string(i) + ".jsonl").string();
        const Outcome r = Run(shard);
        EXPECT_NE(r.status, 2) << r.err;
        for (const Json& line : JsonLines(shard.report)) {
          if (line.contains("row")) covered.insert(line["row"].get<std::size_t>());
        }
        for (const Row& row : r.Rows()) shardRows.push_back(row);
        reports.push_back(shard.report);
      }
      std::multiset<std::size_t> all;
      for (std::size_t i = 1; i <= plainRows.size(); ++i) all.insert(i);
      EXPECT_EQ(covered, all);
      EXPECT_EQ(Tree(out), expected);
      // Each shard's rows, with the plain run's names (in the shard's own folder).
      std::multiset<std::string> plainLines, shardLines;
      for (const Row& row : plainRows) {
        plainLines.insert(row.path + "|" + row.result + "|" + Replace(row.name, plainOut.string(), "OUT"));
      }
      for (const Row& row : shardRows) {
        shardLines.insert(row.path + "|" + row.result + "|" + Replace(row.name, out.string(), "OUT"));
      }
      EXPECT_EQ(shardLines, plainLines);

      // The reports merged: every row, the two failures and the two missing files.
      std::ostringstream text, error;
      EXPECT_EQ(Kvx::RunReportCommand(reports, true, text, error), 1) << error.str();
      const Json merged = Json::parse(text.str());
      EXPECT_EQ(merged["rows"], plainRows.size());
      EXPECT_EQ(merged["planRows"], plainRows.size());
      EXPECT_EQ(merged["runs"], n);
      EXPECT_EQ(merged["failedRows"].size(), 3u);
      EXPECT_EQ(merged["missingRows"].size(), 2u);
      EXPECT_TRUE(merged["notReported"].empty());
    }
  }
}

// A project row and its layer rows run in one shard; every shard's part of the plan is whole.
TEST_F(ArchiveRuns, AProjectAndItsLayersShareAShard) {
  ConvertOptions planning = Options("quick", Scratch("out"));
  planning.planOnly = Scratch("plan.jsonl").string();
  ASSERT_EQ(Run(planning).status, 0);
  std::map<std::size_t, std::size_t> groupOfRow;
  for (const Json& line : JsonLines(planning.planOnly)) groupOfRow[line["row"]] = line["group"];
  for (const int n : {2, 3, 7}) {
    std::map<std::size_t, int> shardOfGroup;
    for (int i = 0; i < n; ++i) {
      ConvertOptions shard;
      shard.plan = planning.planOnly;
      shard.shard = std::to_string(i) + "/" + std::to_string(n);
      shard.quiet = true;
      shard.report = Scratch("r.jsonl").string();
      Run(shard);
      for (const Json& line : JsonLines(shard.report)) {
        if (!line.contains("row")) continue;
        const std::size_t group = groupOfRow[line["row"]];
        const auto [it, added] = shardOfGroup.emplace(group, i);
        EXPECT_EQ(it->second, i) << "group " << group << " in two shards";
      }
    }
  }
}

// The reports of a run cut short: the rows no report holds are named, and the merge is incomplete.
TEST_F(ArchiveRuns, ReportNamesRowsNoShardReported) {
  ConvertOptions planning = Options("quick", Scratch("out"));
  planning.planOnly = Scratch("plan.jsonl").string();
  ASSERT_EQ(Run(planning).status, 0);
  ConvertOptions shard;
  shard.plan = planning.planOnly;
  shard.shard = "0/2";
  shard.quiet = true;
  shard.report = Scratch("r0.jsonl").string();
  Run(shard);
  std::ostringstream text, error;
  EXPECT_EQ(Kvx::RunReportCommand({shard.report}, false, text, error), 1);
  EXPECT_NE(text.str().find("not reported:"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("failed row "), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("of 22 planned"), std::string::npos) << text.str();
  std::ostringstream none, noneError;
  EXPECT_EQ(Kvx::RunReportCommand({Scratch("nothing.jsonl").string()}, false, none, noneError), 2);
}

// Options that do not go together, plans that cannot be used.
TEST_F(ArchiveRuns, WrongPlanUsesAreRefused) {
  ConvertOptions planning = Options("quick", Scratch("out"));
  planning.planOnly = Scratch("plan.jsonl").string();
  ASSERT_EQ(Run(planning).status, 0);
  WriteBytes(Scratch("bad.jsonl"), "{\"row\": 1}\n");
  WriteBytes(Scratch("orphan.jsonl"), SplitLines(ReadAll(planning.planOnly))[1] + "\n");
  const auto withPlan = [&](const fs::path& plan, auto change) {
    ConvertOptions o;
    o.plan = plan.string();
    o.quiet = true;
    change(o);
    return o;
  };
  const struct {
    ConvertOptions options;
    const char* says;
  } cases[] = {
      {withPlan(planning.planOnly, [&](ConvertOptions& o) { o.paths = {(Src() / "a" / "roads.wl").string()}; }), "no paths"},
      {withPlan(planning.planOnly, [](ConvertOptions& o) { o.modeGiven = true; }), "--mode"},
      {withPlan(planning.planOnly, [](ConvertOptions& o) { o.out = "/tmp"; }), "--out"},
      {withPlan(planning.planOnly, [](ConvertOptions& o) { o.shard = "3/3"; }), "3/3"},
      {withPlan(planning.planOnly, [](ConvertOptions& o) { o.shard = "1"; }), "--shard 1"},
      {withPlan(Scratch("bad.jsonl"), [](ConvertOptions&) {}), "line 1"},
      {withPlan(Scratch("orphan.jsonl"), [](ConvertOptions&) {}), "project row"},
      {withPlan(Scratch("none.jsonl"), [](ConvertOptions&) {}), "cannot open"},
      {[&] {
         ConvertOptions o = Options("quick", Scratch("out"));
         o.shard = "0/2";
         return o;
       }(),
       "--shard needs --plan"},
      {[&] {
         ConvertOptions o = Options("quick", Scratch("out"));
         o.resume = Scratch("none.jsonl").string();
         return o;
       }(),
       "resume"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    const Outcome r = Run(c.options);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
}

}  // namespace
