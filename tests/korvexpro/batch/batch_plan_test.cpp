// The plan of a batch: names decided in list order against the disk and the earlier rows, shards,
// and the plan file read back.

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "batch/batch_plan.h"
#include "batch_fixtures.h"
#include "temp_config.h"

namespace {

namespace fs = std::filesystem;
using namespace KvxBatchTest;
using Kvx::BatchPlan;
using Kvx::PlannedAction;
using KvxTest::ScratchDir;

// A project "map.mpj" in `src`, listing the lines "roads.wl" and the regions "zones.wp" beside it.
bool WriteMapProject(const fs::path& src) {
  fs::create_directories(src);
  return WriteLines(src / "roads.wl") && WriteRegions(src / "zones.wp") &&
         WriteProject(src / "map.mpj", {{0, "roads.wl"}, {2, "zones.wp"}});
}

// Rows of one base name in one output folder take "_<mark><i>" names in list order, before any
// file is written; a row takes only the names its conversions write.
TEST(BatchPlan, EarlierRowsTakeTheirNamesBeforeAnythingIsWritten) {
  ScopedAppSettings settings;
  ScratchDir dir;
  const fs::path out = dir.Path() / "out";
  fs::create_directories(out);
  for (const char* folder : {"a", "b", "c"}) {
    fs::create_directories(dir.Path() / folder);
    ASSERT_TRUE(WriteRegions(dir.Path() / folder / "zones.wp"));
  }
  Kvx::FileList list;
  for (const char* folder : {"a", "b", "c"}) list.AddLayerFile(dir.Path() / folder / "zones.wp");
  list.AddLayerFile(dir.Path() / "gone.wp");

  const struct {
    int mode;
    std::vector<std::string> mains, seconds;
  } cases[] = {
      // quick mode writes the main name only; the second names walk along.
      {1, {"zones", "zones_P0", "zones_P1"}, {"zonesC", "zones_C0", "zones_C1"}},
      // arcs write the second name only; its collision renames both.
      {5, {"zones", "zones_P0", "zones_P1"}, {"zonesC", "zones_C0", "zones_C1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const BatchPlan plan = Kvx::PlanBatch(list, c.mode, out.string(), Kvx::AppSettings());
    ASSERT_EQ(plan.rows.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(plan.rows[i].action, PlannedAction::Convert);
      EXPECT_EQ(plan.rows[i].names.main, (out / c.mains[i]).string());
      EXPECT_EQ(plan.rows[i].names.second, (out / c.seconds[i]).string());
      EXPECT_EQ(plan.rows[i].namingLog.size(), i == 0 ? 0u : 1u);
    }
    EXPECT_EQ(plan.rows[3].action, PlannedAction::Missing);
    EXPECT_TRUE(plan.rows[3].names.main.empty());
    EXPECT_TRUE(fs::is_empty(out)) << "planning writes nothing";
  }
  // A mode that converts no region names none of them.
  const BatchPlan lines = Kvx::PlanBatch(list, 3, out.string(), Kvx::AppSettings());
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(lines.rows[i].action, PlannedAction::Skip);
}

// Rows planned while a search still adds rows (the planner extended after every step of the
// search) get the numbers, folders and names that planning the whole list gives.
TEST(BatchPlan, RowsPlannedAsASearchFindsThemGetTheWholeListsNames) {
  ScopedAppSettings settings;
  ScratchDir dir;
  const fs::path src = dir.Path() / "src";
  // Two projects of one name, and loose layers of their layers' names beside and below them.
  ASSERT_TRUE(WriteMapProject(src / "p1"));
  ASSERT_TRUE(WriteMapProject(src / "p2"));
  ASSERT_TRUE(WriteLines(src / "roads.wl"));
  fs::create_directories(src / "deep" / "er");
  ASSERT_TRUE(WriteRegions(src / "deep" / "er" / "zones.wp"));
  const Kvx::SearchOptions search{true, true};
  RecordingView view;
  Kvx::OperationLog log;

  const fs::path wholeOut = dir.Path() / "whole";
  Kvx::FileList whole;
  ASSERT_EQ(Kvx::ListAllFiles(whole, src, search, view, log), 0);
  const BatchPlan plan = Kvx::PlanBatch(whole, 1, wholeOut.string(), Kvx::AppSettings());
  ASSERT_EQ(plan.rows.size(), 12u);

  const fs::path stepOut = dir.Path() / "step";
  Kvx::FileList found;
  Kvx::FolderWalk walk(found, src, search, view, log);
  Kvx::BatchPlanner planner(found, 1, stepOut.string(), Kvx::AppSettings());
  std::vector<Kvx::PlannedRow> rows;
  for (bool more = true; more;) {
    more = walk.Step();
    planner.Extend();
    while (!planner.Done()) rows.push_back(planner.Next());
  }
  ASSERT_EQ(rows.size(), plan.rows.size());
  const auto relative = [](const std::string& path, const fs::path& base) {
    return path.empty() ? path : fs::path(path).lexically_relative(base).string();
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(plan.rows[i].source);
    EXPECT_EQ(rows[i].number, plan.rows[i].number);
    EXPECT_EQ(rows[i].parent, plan.rows[i].parent);
    EXPECT_EQ(rows[i].source, plan.rows[i].source);
    EXPECT_EQ(rows[i].action, plan.rows[i].action);
    EXPECT_EQ(relative(rows[i].folder, stepOut), relative(plan.rows[i].folder, wholeOut));
    EXPECT_EQ(relative(rows[i].names.main, stepOut), relative(plan.rows[i].names.main, wholeOut));
    EXPECT_EQ(relative(rows[i].names.second, stepOut), relative(plan.rows[i].names.second, wholeOut));
  }
  // There were collisions to settle: five line layers named "roads" take five names.
  std::set<std::string> roads;
  for (const Kvx::PlannedRow& row : rows) {
    if (fs::path(row.source).filename() == "roads.wl") roads.insert(relative(row.names.main, stepOut));
  }
  EXPECT_EQ(roads.size(), 5u);
  EXPECT_TRUE(roads.contains("roads_L0"));
}

// With the GeoPackage format a project's rows go into the project's GeoPackage, a stand-alone
// layer into its own; a name whose GeoPackage exists is taken; the plan file keeps the GeoPackage.
TEST(BatchPlan, GeoPackagesOfProjectsAndStandAloneLayers) {
  ScopedAppSettings settings;
  ScratchDir dir;
  const fs::path src = dir.Path() / "src";
  ASSERT_TRUE(WriteMapProject(src));
  const fs::path out = dir.Path() / "out";
  fs::create_directories(out);
  // An earlier run's GeoPackage of the stand-alone layer.
  std::ofstream(out / "roads.gpkg") << "earlier";
  Kvx::FileList list;
  list.AddProjectFile(src / "map.mpj");
  list.AddLayerFile(src / "roads.wl");
  const struct {
    std::int32_t format;
    std::vector<std::string> packages;  // per row, relative to the output folder
  } cases[] = {
      {0, {"", "", "", ""}},
      {1, {"map/map.gpkg", "map/map.gpkg", "map/map.gpkg", "roads_L0.gpkg"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    Kvx::Settings snapshot = Kvx::AppSettings();
    snapshot.Format = c.format;
    const BatchPlan plan = Kvx::PlanBatch(list, 1, out.string(), snapshot);
    ASSERT_EQ(plan.rows.size(), c.packages.size());
    for (std::size_t i = 0; i < plan.rows.size(); ++i) {
      SCOPED_TRACE(plan.rows[i].source);
      EXPECT_EQ(plan.rows[i].geoPackage, c.packages[i].empty() ? "" : (out / c.packages[i]).string());
    }
    ASSERT_TRUE(Kvx::WritePlan(plan, dir.Path() / "plan.jsonl").ok);
    BatchPlan read;
    ASSERT_TRUE(Kvx::ReadPlan(dir.Path() / "plan.jsonl", Kvx::Settings(), read).ok);
    ASSERT_EQ(read.rows.size(), plan.rows.size());
    for (std::size_t i = 0; i < plan.rows.size(); ++i) {
      EXPECT_EQ(read.rows[i].geoPackage, plan.rows[i].geoPackage);
      EXPECT_EQ(read.rows[i].settings->Format, c.format);
    }
    fs::remove_all(out / "map");
  }
}

// Shards: every row in exactly one, a group whole, the same partition every time.
TEST(BatchPlan, ShardsCoverEveryRowOnceAndKeepGroupsWhole) {
  BatchPlan plan;
  std::size_t number = 0;
  for (std::size_t group = 0; group < 10; ++group) {
    for (std::size_t k = 0; k <= group % 3; ++k) {
      Kvx::PlannedRow row;
      row.number = ++number;
      row.group = group;
      plan.rows.push_back(row);
    }
  }
  plan.totalRows = plan.rows.size();
  for (const std::size_t n : {1u, 3u, 7u, 12u}) {
    SCOPED_TRACE(n);
    std::multiset<std::size_t> seen;
    std::vector<int> shardOfGroup(10, -1);
    for (std::size_t i = 0; i < n; ++i) {
      const BatchPlan part = Kvx::ShardOf(plan, {i, n});
      EXPECT_EQ(part.totalRows, plan.totalRows);
      for (const Kvx::PlannedRow& row : part.rows) {
        seen.insert(row.number);
        EXPECT_TRUE(shardOfGroup[row.group] == -1 || shardOfGroup[row.group] == static_cast<int>(i));
        shardOfGroup[row.group] = static_cast<int>(i);
      }
      EXPECT_EQ(Kvx::ShardOf(plan, {i, n}).rows.size(), part.rows.size());
    }
    EXPECT_EQ(seen.size(), plan.rows.size());
    EXPECT_EQ(std::set<std::size_t>(seen.begin(), seen.end()).size(), plan.rows.size());
  }
}

TEST(BatchPlan, ShardTexts) {
  const struct {
    const char* text;
    bool ok;
    std::size_t index, count;
  } cases[] = {{"0/1", true, 0, 1}, {"2/3", true, 2, 3}, {"3/3", false, 0, 0}, {"0/0", false, 0, 0},
               {"1", false, 0, 0},  {"-1/3", false, 0, 0}, {"1/3x", false, 0, 0}, {"/3", false, 0, 0},
               {"a/b", false, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto shard = Kvx::ParseShard(c.text);
    ASSERT_EQ(shard.has_value(), c.ok);
    if (shard) {
      EXPECT_EQ(shard->index, c.index);
      EXPECT_EQ(shard->count, c.count);
    }
  }
}

// A plan written and read back is the same plan; its settings come with it.
TEST(BatchPlan, PlanFileReadsBackWithItsSettings) {
  ScopedAppSettings settings;
  ScratchDir dir;
  const fs::path src = dir.Path() / "src";
  ASSERT_TRUE(WriteMapProject(src));
  Kvx::FileList list;
  list.AddProjectFile(src / "map.mpj");
  list.AddLayerFile(src / "roads.wl");
  Kvx::Settings snapshot = Kvx::AppSettings();
  snapshot.CodePage = 1;
  snapshot.MaxErrors = 7;
  const fs::path out = dir.Path() / "out";
  fs::create_directories(out);
  const BatchPlan plan = Kvx::PlanBatch(list, 13, out.string(), snapshot);
  ASSERT_TRUE(Kvx::WritePlan(plan, dir.Path() / "plan.jsonl").ok);

  BatchPlan read;
  const Kvx::PlanIoResult result = Kvx::ReadPlan(dir.Path() / "plan.jsonl", Kvx::Settings(), read);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(read.mode, 13);
  ASSERT_EQ(read.rows.size(), plan.rows.size());
  for (std::size_t i = 0; i < plan.rows.size(); ++i) {
    const Kvx::PlannedRow& a = plan.rows[i];
    const Kvx::PlannedRow& b = read.rows[i];
    EXPECT_EQ(a.number, b.number);
    EXPECT_EQ(a.group, b.group);
    EXPECT_EQ(a.parent, b.parent);
    EXPECT_EQ(a.source, b.source);
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_EQ(a.action, b.action);
    EXPECT_EQ(a.folder, b.folder);
    EXPECT_EQ(a.names, b.names);
    EXPECT_EQ(a.namingLog, b.namingLog);
    EXPECT_EQ(b.settings->CodePage, 1);
    EXPECT_EQ(b.settings->MaxErrors, 7);
  }
  EXPECT_EQ(read.rows[1].parent, 1u);
  EXPECT_EQ(read.rows[3].parent, 0u);
  EXPECT_EQ(read.rows[0].settings, read.rows[3].settings) << "rows with the same settings share them";

  Kvx::FileList again;
  ASSERT_TRUE(Kvx::ListOfPlan(read, again));
  EXPECT_EQ(again.RowCount(), 4u);
  EXPECT_EQ(again.TopRows().size(), 2u);
  EXPECT_EQ(again.TopRows()[0].children.size(), 2u);
}

}  // namespace
