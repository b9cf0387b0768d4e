// The batch driver: which conversion each mode runs on each kind of row, how outcomes land in the
// list, the counters and the log, and the list export.

#include "batch/batch_driver.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "batch/output_naming.h"
#include "batch/worker_processes.h"
#include "engine/conversion_frame.h"
#include "batch_fixtures.h"
#include "temp_config.h"

namespace {

namespace fs = std::filesystem;
using namespace KvxBatchTest;
using Kvx::FileList;
using Kvx::RowRef;

std::string G(const std::string& utf8) { return MapGis::Utf8ToGbk(utf8); }

// One job, several worker threads, several worker processes.
struct JobsCase {
  const char* name;
  int jobs;
  bool processes;
};
constexpr JobsCase kJobsCases[] = {{"one", 1, false}, {"threads", 3, false}, {"processes", 2, true}};

class Driver : public ::testing::Test {
 protected:
  std::string Cell(const RowRef& row, int column) const {
    return list.Row(row).cells[static_cast<std::size_t>(column)];
  }
  std::string Out(const std::string& name) const { return (out / name).string(); }
  // Line layers r100.wl, r101.wl, ... in the source folder.
  fs::path NumberedLayer(int i) const { return src / ("r" + std::to_string(100 + i) + ".wl"); }
  // An empty list, a view that has seen no row, and an output folder `name` of its own.
  fs::path FreshRun(const std::string& name) {
    list.Clear();
    view.finished.clear();
    view.started.clear();
    view.cancelAlways = false;
    view.onRowStarted = nullptr;
    const fs::path folder = out / name;
    fs::create_directories(folder);
    return folder;
  }
  // A fresh run for case `c` whose list holds the first numbered layer; the options run it as `c`
  // says. Returns the run's output folder.
  fs::path FreshQueuedRun(const JobsCase& c, Kvx::ExecuteOptions& options) {
    const fs::path folder = FreshRun(c.name);
    list.AddLayerFile(NumberedLayer(0));
    options.jobs = c.jobs;
    options.processes = c.processes;
    return folder;
  }

  ScopedAppSettings settings;
  KvxTest::TempDir src;
  KvxTest::TempDir out;
  RecordingView view;
  Kvx::OperationLog log;
  Kvx::StyleContext styles;
  FileList list;
  Kvx::BatchDriver driver{list, log, styles, view};
};

// ---- Dispatch by mode ----

// What a mode does with one kind: result, column 3, and which name lands in column 5 with the
// output file that proves the conversion ran ("" for a row left alone).
struct KindExpect {
  std::int32_t result;
  const char* content;
  const char* name;       // output name relative to the folder; " " when the row is left alone
  const char* extension;  // an output file of that name
};

struct ModeCase {
  int mode;
  // pts.wt, lin.wl, reg.wp, tab.wb, net.wn
  std::array<KindExpect, 5> kinds;
};

constexpr KindExpect kSkip{12, " ", " ", ""};

class DriverModes : public Driver, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(DriverModes, EachKindGetsItsConversion) {
  ASSERT_TRUE(WritePoints(src / "pts.wt"));
  ASSERT_TRUE(WriteLines(src / "lin.wl"));
  ASSERT_TRUE(WriteRegions(src / "reg.wp"));
  ASSERT_TRUE(WriteTable(src / "tab.wb"));
  ASSERT_TRUE(WriteNetwork(src / "net.wn"));
  for (const char* name : {"pts.wt", "lin.wl", "reg.wp", "tab.wb", "net.wn"}) list.AddLayerFile(src / name);

  const ModeCase c = GetParam();
  const Kvx::BatchSummary summary = driver.ConvertFileList(c.mode, out.path().string());
  for (std::size_t k = 0; k < 5; ++k) {
    const KindExpect& e = c.kinds[k];
    const RowRef row{k, std::nullopt};
    SCOPED_TRACE(list.Row(row).cells[Kvx::ColumnName]);
    EXPECT_EQ(view.finished.at(k).second, e.result);
    EXPECT_EQ(Cell(row, Kvx::ColumnContent), e.content);
    const std::string name = std::string(e.name) == " " ? " " : Out(e.name);
    EXPECT_EQ(Cell(row, Kvx::ColumnResultName), name);
    EXPECT_EQ(Cell(row, Kvx::ColumnResult), e.result == Kvx::kRowSuccess ? "成功" : "");
    if (*e.extension != '\0') {
      EXPECT_TRUE(Exists(With(name, e.extension))) << name << e.extension;
    }
  }
  const int succeeded = static_cast<int>(std::count_if(c.kinds.begin(), c.kinds.end(),
                                                       [](const KindExpect& e) { return e.result == 99999; }));
  EXPECT_EQ(summary.counts, (Kvx::BatchCounters{succeeded, 0, 5 - succeeded, 0, 0}));
}

constexpr ModeCase kModeCases[] = {
    {1,
     {{{99999, "基本要素", "pts", ".shp"},
       {99999, "基本要素", "lin", ".shp"},
       {99999, "基本要素", "reg", ".shp"},
       {99999, "基本要素", "tab", ".dbf"},
       {99999, "基本要素", "net", ".shp"}}}},
    {2, {{{99999, "基本要素", "pts", ".shp"}, kSkip, kSkip, kSkip, kSkip}}},
    {3, {{kSkip, {99999, "基本要素", "lin", ".shp"}, kSkip, kSkip, kSkip}}},
    {4, {{kSkip, kSkip, {99999, "基本要素", "reg", ".shp"}, kSkip, kSkip}}},
    {5, {{kSkip, kSkip, {99999, "弧段要素", "regC", ".shp"}, kSkip, kSkip}}},
    {6, {{kSkip, kSkip, kSkip, kSkip, {99999, "网络节点", "netD", ".shp"}}}},
    {7,
     {{{99999, "要素属性", "pts", ".xls"},
       {99999, "要素属性", "lin", ".xls"},
       {99999, "要素属性", "reg", ".xls"},
       {99999, "要素属性", "tab", ".xls"},
       {99999, "要素属性", "net", ".xls"}}}},
    {8, {{kSkip, kSkip, kSkip, kSkip, kSkip}}},
    {9, {{kSkip, kSkip, kSkip, kSkip, kSkip}}},
    {10, {{{99999, "注释文字", "ptsA", ".shp"}, kSkip, kSkip, kSkip, kSkip}}},
    {11,
     {{{99999, "要素+文字", "pts", ".shp"},
       {99999, "要素", "lin", ".shp"},
       {99999, "要素", "reg", ".shp"},
       {99999, "要素", "tab", ".dbf"},
       {99999, "要素", "net", ".shp"}}}},
    {12,
     {{{99999, "要素+文字", "pts", ".shp"},
       {99999, "要素", "lin", ".shp"},
       {99999, "要素", "reg", ".shp"},
       {99999, "要素", "tab", ".dbf"},
       {99999, "要素", "net", ".shp"}}}},
    {13,
     {{{99999, "要素+文字", "pts", ".shp"},
       {99999, "要素", "lin", ".shp"},
       {99999, "要素", "reg", ".shp"},
       {99999, "要素", "tab", ".dbf"},
       {99999, "要素", "net", ".shp"}}}},
    {0, {{kSkip, kSkip, kSkip, kSkip, kSkip}}},
    {14, {{kSkip, kSkip, kSkip, kSkip, kSkip}}},
    {-1, {{kSkip, kSkip, kSkip, kSkip, kSkip}}},
};

INSTANTIATE_TEST_SUITE_P(Modes, DriverModes, ::testing::ValuesIn(kModeCases),
                         [](const ::testing::TestParamInfo<ModeCase>& info) {
                           return "Mode" + std::to_string(info.param.mode < 0 ? 100 : info.param.mode);
                         });

TEST_F(Driver, StyledPointFileWritesSymbolsAndAnnotations) {
  ASSERT_TRUE(WritePoints(src / "pts.wt"));
  list.AddLayerFile(src / "pts.wt");
  driver.ConvertFileList(11, out.path().string());
  EXPECT_TRUE(Exists(out / "pts.shp"));
  EXPECT_TRUE(Exists(out / "ptsA.shp"));
}

// ---- Projects ----

struct ProjectCase {
  int mode;
  int layerIndex;
  std::int32_t result;
  const char* content;
};

class DriverProjects : public Driver, public ::testing::WithParamInterface<ProjectCase> {};

TEST_P(DriverProjects, ProjectRowAndItsLayerIndex) {
  const ProjectCase c = GetParam();
  Kvx::AppSettings().ExportLayerIndex = c.layerIndex;
  ASSERT_TRUE(WriteLines(src / "lin.wl"));
  ASSERT_TRUE(WriteProject(src / "图.mpj", {{0, "lin.wl"}}));
  list.AddProjectFile(src / "图.mpj");
  driver.ConvertFileList(c.mode, out.path().string());
  const RowRef project{0, std::nullopt};
  EXPECT_EQ(view.finished.at(0).second, c.result);
  EXPECT_EQ(Cell(project, Kvx::ColumnContent), c.content);
  EXPECT_EQ(Cell(project, Kvx::ColumnResultName), (out / "图" / "图").string());
  EXPECT_EQ(Exists(out / "图" / "图.shp"), c.result == Kvx::kRowSuccess);
  EXPECT_TRUE(fs::is_directory(out / "图"));
}

INSTANTIATE_TEST_SUITE_P(Modes, DriverProjects,
                         ::testing::Values(ProjectCase{1, 1, 99999, "图层索引"}, ProjectCase{1, 0, 12, " "},
                                           ProjectCase{11, 1, 99999, "索引"}, ProjectCase{12, 1, 99999, "索引"},
                                           ProjectCase{13, 1, 99999, "索引"}, ProjectCase{13, 0, 12, " "},
                                           ProjectCase{2, 1, 12, " "}, ProjectCase{7, 1, 12, " "},
                                           ProjectCase{8, 1, 12, " "}));

TEST_F(Driver, ProjectLayersGoIntoTheProjectFolder) {
  ASSERT_TRUE(WritePoints(src / "pts.wt"));
  ASSERT_TRUE(WriteLines(src / "lin.wl"));
  ASSERT_TRUE(WriteProject(src / "map.mpj", {{1, "pts.wt"}, {0, "lin.wl"}}));
  list.AddProjectFile(src / "map.mpj");

  Kvx::BatchSummary summary = driver.ConvertFileList(2, out.path().string());
  EXPECT_EQ(summary.counts, (Kvx::BatchCounters{1, 0, 2, 0, 0}));
  EXPECT_EQ(view.finished.at(0).second, 12);
  EXPECT_EQ(view.finished.at(1).second, 99999);
  EXPECT_EQ(view.finished.at(2).second, 12);
  EXPECT_EQ(Cell({0, std::nullopt}, Kvx::ColumnResultName), (out / "map" / "map").string());
  EXPECT_EQ(Cell({0, 0}, Kvx::ColumnResultName), (out / "map" / "pts").string());
  EXPECT_TRUE(Exists(out / "map" / "pts.shp"));
  EXPECT_FALSE(Exists(out / "map" / "lin.shp"));
  EXPECT_FALSE(Exists(out / "pts.shp"));

  // Again over the same list: a new folder, nothing written over.
  driver.ResetListResults();
  view.finished.clear();
  summary = driver.ConvertFileList(2, out.path().string());
  EXPECT_EQ(summary.counts.succeeded, 1);
  EXPECT_EQ(Cell({0, 0}, Kvx::ColumnResultName), (out / "map_0" / "pts").string());
  EXPECT_TRUE(Exists(out / "map_0" / "pts.shp"));
  EXPECT_TRUE(LogHas(log, ">输出路径下存在同名文件夹，自动改名[" + (out / "map_0").string() + "]"));
}

// A row the mode does not convert is neither named nor renamed: no renaming message for it.
TEST_F(Driver, SkippedRowsAreNotRenamed) {
  ASSERT_TRUE(WriteLines(src / "lin.wl"));
  ASSERT_TRUE(WritePoints(src / "pts.wt"));
  const std::uint8_t table[] = {1};
  ASSERT_TRUE(KvxTest::WriteFile(out / "lin.dbf", table));
  list.AddLayerFile(src / "lin.wl");
  list.AddLayerFile(src / "pts.wt");

  const Kvx::BatchSummary summary = driver.ConvertFileList(2, out.path().string());
  EXPECT_EQ(summary.counts, (Kvx::BatchCounters{1, 0, 1, 0, 0}));
  EXPECT_EQ(Cell({0, std::nullopt}, Kvx::ColumnResultName), " ");
  EXPECT_FALSE(LogHas(log, ">输出路径下发现重名文件，自动改名"));

  // The same row in a mode that converts it is renamed, and says so.
  driver.ResetListResults();
  driver.ConvertFileList(3, out.path().string());
  EXPECT_EQ(Cell({0, std::nullopt}, Kvx::ColumnResultName), (out / "lin_L0").string());
  EXPECT_TRUE(LogHas(log, ">输出路径下发现重名文件，自动改名"));
}

// A project file that went away after it was listed: its row is missing, and its layers go into
// the batch's folder, never into the working directory.
TEST_F(Driver, ProjectGoneAfterListing) {
  ASSERT_TRUE(WritePoints(src / "pts.wt"));
  ASSERT_TRUE(WriteProject(src / "map.mpj", {{1, "pts.wt"}}));
  list.AddProjectFile(src / "map.mpj");
  fs::remove(src / "map.mpj");
  const Kvx::BatchSummary summary = driver.ConvertFileList(2, out.path().string());
  EXPECT_EQ(summary.counts, (Kvx::BatchCounters{1, 0, 0, 0, 1}));
  EXPECT_EQ(Cell({0, std::nullopt}, Kvx::ColumnResult), "");
  EXPECT_EQ(list.Row({0, std::nullopt}).colour, Kvx::kRowRed);
  EXPECT_EQ(Cell({0, 0}, Kvx::ColumnResultName), (out / "pts").string());
  EXPECT_TRUE(Exists(out / "pts.shp"));
  EXPECT_FALSE(Exists(fs::current_path() / "pts.shp"));
}

// ---- Outcomes ----

struct OutcomeCase {
  std::int32_t result;
  const char* text;
  std::uint32_t colour;
  const char* log;
};

class Outcomes : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(Outcomes, TextColourAndLogMessage) {
  const OutcomeCase c = GetParam();
  const Kvx::RowOutcome o = Kvx::OutcomeOf(c.result);
  EXPECT_EQ(o.resultText, c.text);
  EXPECT_EQ(o.colour, c.colour);
  EXPECT_EQ(o.logMessage, c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Outcomes,
    ::testing::Values(OutcomeCase{99999, "成功", 0, "转换成功，请查看信息窗口了解转换详情"},
                      OutcomeCase{11, "", 255, "待转换文件不存在"},
                      OutcomeCase{10, "空文件", 16711680, "转换结束，结果为空文件"},
                      OutcomeCase{12, "", 0, "转换结束，跳过此文件"},
                      OutcomeCase{-9982, "失败", 255, "转换失败，请查看信息窗口了解错误信息"},
                      OutcomeCase{-1, "失败", 255, "转换失败，请查看信息窗口了解错误信息"},
                      OutcomeCase{0, "失败", 255, "转换失败，请查看信息窗口了解错误信息"}));

TEST_F(Driver, CountersAddUpOverAMixedList) {
  ASSERT_TRUE(WriteLines(src / "ok.wl"));
  ASSERT_TRUE(WriteEmpty(src / "empty.wl", kLine));
  WriteAll(src / "bad.wl", "not a layer");
  ASSERT_TRUE(WritePoints(src / "pts.wt"));
  list.AddLayerFile(src / "ok.wl");
  list.AddLayerFile(src / "empty.wl");
  list.AddLayerFile(src / "bad.wl");
  list.AddLayerFile(src / "gone.wl");
  list.AddLayerFile(src / "pts.wt");

  const Kvx::BatchSummary summary = driver.ConvertFileList(3, out.path().string());
  EXPECT_TRUE(summary.started);
  EXPECT_FALSE(summary.cancelled);
  EXPECT_EQ(summary.total, 5);
  EXPECT_EQ(summary.counts, (Kvx::BatchCounters{1, 1, 1, 1, 1}));
  EXPECT_EQ(summary.Text(), "转换完成：1个成功,1个空文件,1个跳过,1个失败");
  ASSERT_EQ(view.summaries.size(), 1u);
  EXPECT_EQ(view.summaries[0].counts, summary.counts);

  const std::vector<std::uint32_t> colours = {Kvx::kRowBlack, Kvx::kRowBlue, Kvx::kRowRed, Kvx::kRowRed,
                                              Kvx::kRowBlack};
  const std::vector<std::string> texts = {"成功", "空文件", "失败", "", ""};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(list.TopRows()[i].colour, colours[i]) << i;
    EXPECT_EQ(list.TopRows()[i].cells[Kvx::ColumnResult], texts[i]) << i;
  }
  // The missing row keeps its blank cells.
  EXPECT_EQ(Cell({3, std::nullopt}, Kvx::ColumnContent), " ");
  EXPECT_EQ(Cell({3, std::nullopt}, Kvx::ColumnResultName), " ");

  const std::vector<std::string> messages = LogTexts(log);
  const std::vector<std::string> expected = {
      ">====开始转换[" + (src / "ok.wl").string() + "]\n",    ">转换成功，请查看信息窗口了解转换详情",
      ">====开始转换[" + (src / "empty.wl").string() + "]\n", ">转换结束，结果为空文件",
      ">====开始转换[" + (src / "bad.wl").string() + "]\n",   ">转换失败，请查看信息窗口了解错误信息",
      ">====开始转换[" + (src / "gone.wl").string() + "]\n",  ">待转换文件不存在",
      ">====开始转换[" + (src / "pts.wt").string() + "]\n",   ">转换结束，跳过此文件"};
  EXPECT_EQ(messages, expected);
  EXPECT_EQ(view.infoTexts.back(), summary.Text());
  EXPECT_EQ(view.progressTexts.back(), "进度：[5/5]");
}

// ---- Empty results ----

struct EmptyCase {
  const char* source;
  int kind;
  int mode;
  const char* name;  // the output name of the empty conversion
};

class EmptyResults : public Driver, public ::testing::WithParamInterface<EmptyCase> {};

TEST_P(EmptyResults, OutputsGoUnlessKept) {
  const EmptyCase c = GetParam();
  ASSERT_TRUE(WriteEmpty(src / c.source, c.kind));
  for (int keep : {0, 1}) {
    SCOPED_TRACE(keep);
    Kvx::AppSettings().ExportEmptyFile = keep;
    FileList one;
    one.AddLayerFile(src / c.source);
    KvxTest::TempDir to;
    Kvx::BatchDriver d(one, log, styles, view);
    const Kvx::BatchSummary summary = d.ConvertFileList(c.mode, to.path().string());
    EXPECT_EQ(summary.counts.empty, 1);
    const Kvx::FileRow& row = one.TopRows()[0];
    EXPECT_EQ(row.cells[Kvx::ColumnResult], "空文件");
    EXPECT_EQ(row.colour, Kvx::kRowBlue);
    const std::string name = (to / c.name).string();
    EXPECT_TRUE(Exists(With(name, ".log")));
    if (keep == 0) {
      EXPECT_EQ(row.cells[Kvx::ColumnContent], "");
      EXPECT_EQ(row.cells[Kvx::ColumnResultName], "");
      for (const char* e : {".shp", ".shx", ".dbf", ".cpg", ".prj"}) EXPECT_FALSE(Exists(With(name, e))) << e;
    } else {
      EXPECT_NE(row.cells[Kvx::ColumnContent], "");
      EXPECT_EQ(row.cells[Kvx::ColumnResultName], name);
      EXPECT_TRUE(Exists(With(name, ".dbf")));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, EmptyResults,
                         ::testing::Values(EmptyCase{"e.wl", kLine, 1, "e"}, EmptyCase{"e.wt", kPoint, 2, "e"},
                                           EmptyCase{"e.wp", kRegion, 4, "e"}, EmptyCase{"e.wb", kTable, 1, "e"},
                                           EmptyCase{"e.wn", kNetwork, 1, "e"}, EmptyCase{"e.wp", kRegion, 5, "eC"},
                                           EmptyCase{"e.wt", kPoint, 10, "eA"}, EmptyCase{"e.wl", kLine, 12, "e"}));

// A point file with annotations only: the symbol points are empty, the annotations are the result.
TEST_F(Driver, StyledPointFileWithAnnotationsOnly) {
  ASSERT_TRUE(WritePoints(src / "notes.wt", false, true));
  for (int keep : {0, 1}) {
    SCOPED_TRACE(keep);
    Kvx::AppSettings().ExportEmptyFile = keep;
    FileList one;
    one.AddLayerFile(src / "notes.wt");
    KvxTest::TempDir to;
    Kvx::BatchDriver d(one, log, styles, view);
    const Kvx::BatchSummary summary = d.ConvertFileList(12, to.path().string());
    EXPECT_EQ(summary.counts.succeeded, 1);
    const Kvx::FileRow& row = one.TopRows()[0];
    EXPECT_EQ(row.cells[Kvx::ColumnResult], "成功");
    EXPECT_EQ(row.cells[Kvx::ColumnContent], "要素+文字");
    EXPECT_EQ(row.cells[Kvx::ColumnResultName], (to / "notesA").string());
    EXPECT_TRUE(Exists(to / "notesA.shp"));
    EXPECT_TRUE(Exists(to / "notes.log"));
    EXPECT_EQ(Exists(to / "notes.shp"), keep != 0);
    EXPECT_EQ(Exists(to / "notes.dbf"), keep != 0);
  }
}

// A point file with symbols only: the annotations are empty and go; the row is the symbol points.
TEST_F(Driver, StyledPointFileWithSymbolsOnly) {
  ASSERT_TRUE(WritePoints(src / "syms.wt", true, false));
  list.AddLayerFile(src / "syms.wt");
  driver.ConvertFileList(13, out.path().string());
  const RowRef row{0, std::nullopt};
  EXPECT_EQ(view.finished.at(0).second, 99999);
  EXPECT_EQ(Cell(row, Kvx::ColumnContent), "要素");
  EXPECT_EQ(Cell(row, Kvx::ColumnResultName), Out("syms"));
  EXPECT_TRUE(Exists(out / "syms.shp"));
  EXPECT_FALSE(Exists(out / "symsA.shp"));
  EXPECT_TRUE(Exists(out / "symsA.log"));
}

// ---- Bad input and bad output ----

TEST_F(Driver, DamagedFilesFailAloneWithTheirOwnLog) {
  std::vector<std::uint8_t> bytes;
  {
    KvxTest::LayerBuilder b(kLine);
    for (int i = 0; i < 20; ++i) b.AddLine({{i * 1.0, 0.0}, {i * 1.0, 1.0}});
    bytes = b.Build();
  }
  ASSERT_TRUE(KvxTest::WriteFile(src / "cut.wl", std::span(bytes.data(), bytes.size() / 2)));
  ASSERT_TRUE(KvxTest::WriteFile(src / "head.wl", std::span(bytes.data(), 40)));
  WriteAll(src / "text.wl", "roads,1,2,3\nrivers,4,5,6\n");
  WriteAll(src / "zero.wp", "");
  ASSERT_TRUE(WriteLines(src / "wrongkind.wp"));  // a line file with a region name
  ASSERT_TRUE(WriteLines(src / "good.wl"));
  ASSERT_TRUE(WriteRegions(src / "good.wp"));
  const std::vector<std::string> bad = {"cut.wl", "head.wl", "text.wl", "zero.wp", "wrongkind.wp"};
  for (const std::string& name : bad) list.AddLayerFile(src / name);
  list.AddLayerFile(src / "good.wl");
  list.AddLayerFile(src / "good.wp");

  const Kvx::BatchSummary summary = driver.ConvertFileList(1, out.path().string());
  EXPECT_EQ(summary.counts, (Kvx::BatchCounters{2, 0, 0, 5, 0}));
  for (std::size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(bad[i]);
    EXPECT_LT(view.finished.at(i).second, 0);
    EXPECT_EQ(list.TopRows()[i].cells[Kvx::ColumnResult], "失败");
    EXPECT_EQ(list.TopRows()[i].colour, Kvx::kRowRed);
    EXPECT_TRUE(Exists(With(list.TopRows()[i].cells[Kvx::ColumnResultName], ".log")));
  }
  EXPECT_TRUE(Exists(out / "good.shp"));
  EXPECT_TRUE(Exists(out / "good_P0.shp"));  // the line file "good" took the plain name
}

// Layers whose slot counts claim far more records than they hold fail alone and at once; the
// batch goes on with the next row.
TEST_F(Driver, ClaimedCountsBeyondTheFileFailQuicklyAndTheBatchGoesOn) {
  auto damaged = [](KvxTest::LayerBuilder b, std::size_t at, std::int32_t value) {
    std::vector<std::uint8_t> bytes = b.Build();
    std::memcpy(bytes.data() + at, &value, sizeof value);
    return bytes;
  };
  KvxTest::LayerBuilder points(kPoint);
  points.AddPoint(1, 1);
  points.AddPoint(2, 2, "ab");
  KvxTest::LayerBuilder lines(kLine);
  lines.AddLine({{0, 0}, {1, 1}});
  const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> bad = {
      {"regions.wp", damaged(KvxTest::UnitSquares(2), 280, 2147483646)},
      {"lines.wl", damaged(lines, 264, 2147483647)},
      {"points.wt", damaged(points, 264, 0x00A70003)},
  };
  for (const auto& [name, bytes] : bad) {
    ASSERT_TRUE(KvxTest::WriteFile(src / name, bytes));
    list.AddLayerFile(src / name);
  }
  ASSERT_TRUE(WriteLines(src / "good.wl"));
  list.AddLayerFile(src / "good.wl");

  const auto start = std::chrono::steady_clock::now();
  const Kvx::BatchSummary summary = driver.ConvertFileList(1, out.path().string());
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
  EXPECT_EQ(summary.counts, (Kvx::BatchCounters{1, 0, 0, 3, 0}));
  for (std::size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(bad[i].first);
    EXPECT_EQ(view.finished.at(i).second, Kvx::kConvertReadErrors);
    EXPECT_EQ(list.TopRows()[i].cells[Kvx::ColumnResult], "失败");
    const std::string log =
        MapGis::GbkToUtf8(ReadAll(With(list.TopRows()[i].cells[Kvx::ColumnResultName], ".log")));
    EXPECT_NE(log.find("E__文件声明的记录数多于实际存储的记录数("), std::string::npos) << log;
  }
  EXPECT_TRUE(Exists(out / "good.shp"));
}

TEST(DriverOutput, ReadOnlyFolderFailsItsRowsAndTheBatchGoesOn) {
  KvxTest::WithPermissionsBinding([] {
    ScopedAppSettings settings;
    KvxTest::ScratchDir scratch;
    ASSERT_FALSE(scratch.Path().empty());
    const fs::path locked = scratch.Path() / "locked";
    const fs::path open = scratch.Path() / "open";
    fs::create_directories(locked);
    fs::create_directories(open);
    ASSERT_TRUE(WriteLines(scratch.Path() / "a.wl"));
    ASSERT_TRUE(WriteRegions(scratch.Path() / "b.wp"));
    ASSERT_TRUE(WriteProject(scratch.Path() / "p.mpj", {{0, "a.wl"}}));
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);

    RecordingView view;
    Kvx::OperationLog log;
    Kvx::StyleContext styles;
    FileList list;
    list.AddLayerFile(scratch.Path() / "a.wl");
    list.AddLayerFile(scratch.Path() / "b.wp");
    list.AddProjectFile(scratch.Path() / "p.mpj");
    Kvx::BatchDriver driver(list, log, styles, view);
    Kvx::BatchSummary summary = driver.ConvertFileList(1, locked.string());
    // The project's folder cannot be made: its row is skipped, its layer goes to the locked folder.
    EXPECT_EQ(summary.counts, (Kvx::BatchCounters{0, 0, 1, 3, 0}));
    EXPECT_EQ(list.TopRows()[0].cells[Kvx::ColumnResult], "失败");
    EXPECT_EQ(list.TopRows()[1].cells[Kvx::ColumnResult], "失败");
    EXPECT_TRUE(LogContains(log, ">输出文件无法写入，请检查输出路径[" + locked.string()));
    EXPECT_TRUE(LogContains(log, ">无法创建输出文件夹[" + (locked / "p").string() + "]"));
    ASSERT_EQ(view.finished.size(), 4u);

    // The same list into a folder that can be written converts.
    driver.ResetListResults();
    summary = driver.ConvertFileList(1, open.string());
    EXPECT_EQ(summary.counts.succeeded, 3);
    ::chmod(locked.c_str(), 0755);
  });
}

TEST_F(Driver, MissingOutputFolderIsNamedInTheLog) {
  ASSERT_TRUE(WriteLines(src / "a.wl"));
  ASSERT_TRUE(WriteLines(src / "b.wl"));
  list.AddLayerFile(src / "a.wl");
  list.AddLayerFile(src / "b.wl");
  const std::string folder = (out / "none").string();
  const Kvx::BatchSummary summary = driver.ConvertFileList(3, folder);
  EXPECT_EQ(summary.counts.failed, 2);
  EXPECT_TRUE(LogHas(log, ">输出文件无法写入，请检查输出路径[" + folder + "]"));
}

// ---- Cancelling ----

TEST_F(Driver, CancelConfirmedStopsBeforeTheNextRow) {
  for (const char* name : {"a.wl", "b.wl", "c.wl"}) {
    ASSERT_TRUE(WriteLines(src / name));
    list.AddLayerFile(src / name);
  }
  view.cancelOn = {2};
  view.answer = true;
  const Kvx::BatchSummary summary = driver.ConvertFileList(3, out.path().string());
  EXPECT_TRUE(summary.cancelled);
  EXPECT_EQ(summary.counts, (Kvx::BatchCounters{1, 0, 0, 0, 0}));
  EXPECT_EQ(view.finished.size(), 1u);
  EXPECT_TRUE(Exists(out / "a.shp"));
  EXPECT_FALSE(Exists(out / "b.shp"));
  EXPECT_EQ(view.summaries.size(), 1u);
  EXPECT_EQ(LogTexts(log).back(), ">用户中断了本次转换");
  ASSERT_EQ(view.questions.size(), 1u);
  EXPECT_EQ(view.questions[0].caption, "取消转换");
}

TEST_F(Driver, CancelDeclinedConvertsEveryRow) {
  for (const char* name : {"a.wl", "b.wl", "c.wl"}) {
    ASSERT_TRUE(WriteLines(src / name));
    list.AddLayerFile(src / name);
  }
  view.cancelAlways = true;
  view.answer = false;
  const Kvx::BatchSummary summary = driver.ConvertFileList(3, out.path().string());
  EXPECT_FALSE(summary.cancelled);
  EXPECT_EQ(summary.counts.succeeded, 3);
  EXPECT_FALSE(LogHas(log, ">用户中断了本次转换"));
}

// ---- Rows that come while the run goes on ----

// Rows queued while the first ones convert (as a search still going on queues them) are converted
// and reported in list order, with one job or several; the run waits for the last of them.
TEST_F(Driver, RowsQueuedDuringTheRunAreConvertedInListOrder) {
  constexpr int kRows = 40;
  for (int i = 0; i < kRows; ++i) ASSERT_TRUE(WriteLines(NumberedLayer(i)));
  for (const JobsCase& c : kJobsCases) {
    SCOPED_TRACE(c.name);
    Kvx::ExecuteOptions options;
    const fs::path folder = FreshQueuedRun(c, options);
    int queued = 1;
    int calls = 0;
    // Every other call queues nothing, as a search step that reads a folder.
    options.queueMore = [&] {
      ++calls;
      if (calls % 2 == 0 && queued < kRows) list.AddLayerFile(NumberedLayer(queued++));
      return queued < kRows;
    };
    const Kvx::BatchSummary summary = driver.ConvertFileList(3, folder.string(), options);
    EXPECT_FALSE(summary.cancelled);
    EXPECT_EQ(summary.total, kRows);
    EXPECT_EQ(summary.counts.succeeded, kRows);
    ASSERT_EQ(view.finished.size(), static_cast<std::size_t>(kRows));
    for (std::size_t i = 0; i < view.finished.size(); ++i) {
      EXPECT_EQ(view.finished[i].first.top, i);
      EXPECT_EQ(Cell(view.finished[i].first, Kvx::ColumnResultName),
                (folder / ("r" + std::to_string(100 + i))).string());
    }
    EXPECT_TRUE(Exists(folder / "r139.shp"));
  }
}

// A stop confirmed while rows are still being queued: no further row starts, the rest of the list is
// queued all the same, and the run says it was stopped.
TEST_F(Driver, StopWhileRowsAreQueuedStartsNoFurtherRow) {
  constexpr int kRows = 30;
  for (int i = 0; i < kRows; ++i) ASSERT_TRUE(WriteLines(NumberedLayer(i)));
  for (const JobsCase& c : kJobsCases) {
    SCOPED_TRACE(c.name);
    Kvx::ExecuteOptions options;
    const fs::path folder = FreshQueuedRun(c, options);
    int queued = 1;
    options.queueMore = [&] {
      if (queued < kRows) list.AddLayerFile(NumberedLayer(queued++));
      if (queued == 10) {
        view.cancelAlways = true;
        view.answer = true;
      }
      return queued < kRows;
    };
    const Kvx::BatchSummary summary = driver.ConvertFileList(3, folder.string(), options);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(list.RowCount(), static_cast<std::size_t>(kRows));
    EXPECT_EQ(summary.total, kRows);
    EXPECT_LT(view.finished.size(), static_cast<std::size_t>(kRows));
    EXPECT_EQ(summary.counts.succeeded, static_cast<std::int32_t>(view.finished.size()));
    // What was not reported was not written.
    EXPECT_FALSE(Exists(folder / "r129.shp"));
    EXPECT_EQ(LogTexts(log).back(), ">用户中断了本次转换");
  }
}

// ---- Worker processes ----

// The processes this test process started and has not waited for.
std::vector<pid_t> ChildProcesses() {
  std::ifstream in("/proc/self/task/" + std::to_string(::getpid()) + "/children");
  std::vector<pid_t> pids;
  for (pid_t pid = 0; in >> pid;) pids.push_back(pid);
  return pids;
}

// A worker process that ends in the middle of a run (killed, or crashed in a conversion) fails the
// row it was on and no other: that row's outputs go and its log says why. The rows it had not
// begun convert in the other process, or here once no process is left, and the run goes on to
// its end, in list order.
TEST_F(Driver, AWorkerProcessThatEndsFailsOnlyTheRowItWasOn) {
  if (!Kvx::SingleThreaded()) GTEST_SKIP() << "this test process runs other threads: a batch in it forks no processes";
  constexpr int kRows = 40;
  for (int i = 0; i < kRows; ++i) ASSERT_TRUE(WriteLines(NumberedLayer(i)));
  for (const bool all : {false, true}) {
    SCOPED_TRACE(all ? "every process ends" : "one process ends");
    const fs::path folder = FreshRun(all ? "all-end" : "one-ends");
    for (int i = 0; i < kRows; ++i) list.AddLayerFile(NumberedLayer(i));
    log.Clear();
    std::vector<pid_t> killed;
    view.onRowStarted = [&](std::size_t started) {
      if (started != 10) return;
      for (const pid_t pid : ChildProcesses()) {
        if (!killed.empty() && !all) break;
        ::kill(pid, SIGKILL);
        killed.push_back(pid);
      }
    };
    Kvx::ExecuteOptions options;
    options.jobs = 2;
    options.processes = true;
    const Kvx::BatchSummary summary = driver.ConvertFileList(3, folder.string(), options);
    ASSERT_EQ(killed.size(), all ? 2u : 1u);
    EXPECT_FALSE(summary.cancelled);
    ASSERT_EQ(view.finished.size(), static_cast<std::size_t>(kRows));
    EXPECT_EQ(summary.counts.succeeded + summary.counts.failed, kRows);
    // Each of these rows is a job of its own: a process fails one row at most.
    EXPECT_LE(summary.counts.failed, static_cast<std::int32_t>(killed.size()));
    std::int32_t failed = 0;
    for (std::size_t i = 0; i < view.finished.size(); ++i) {
      const auto& [row, result] = view.finished[i];
      EXPECT_EQ(row.top, i);
      const fs::path shp = folder / ("r" + std::to_string(100 + i) + ".shp");
      if (result < 0) {
        ++failed;
        EXPECT_FALSE(Exists(shp)) << shp;
      } else {
        EXPECT_TRUE(Exists(shp)) << shp;
      }
    }
    EXPECT_EQ(failed, summary.counts.failed);
    const std::vector<std::string> texts = LogTexts(log);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), ">" + std::string(Kvx::kWorkerGoneLog)), failed);
    EXPECT_TRUE(ChildProcesses().empty()) << "every worker process is waited for";
  }
}

// ---- Run, reset ----

TEST_F(Driver, RunOnAnEmptyListConvertsNothing) {
  const Kvx::BatchSummary summary = driver.Run(1);
  EXPECT_FALSE(summary.started);
  EXPECT_EQ(view.CountMessages("待转换文件列表为空，请先添加文件!"), 1);
  EXPECT_TRUE(view.finished.empty());
}

TEST_F(Driver, RunUsesTheOutputFolderAndResetsFirst) {
  ASSERT_TRUE(WriteLines(src / "a.wl"));
  list.AddLayerFile(src / "a.wl");
  list.AddLayerFile(src / "gone.wl");
  log.Add("earlier");
  list.Row({1, std::nullopt}).cells[Kvx::ColumnContent] = "old";
  Kvx::AppSettings().OutPath = out.path().string();
  const Kvx::BatchSummary summary = driver.Run(3);
  EXPECT_EQ(summary.counts.succeeded, 1);
  EXPECT_TRUE(Exists(out / "a.shp"));
  EXPECT_FALSE(LogHas(log, ">earlier"));
  EXPECT_EQ(Cell({1, std::nullopt}, Kvx::ColumnContent), " ");

  driver.ResetListResults();
  for (const RowRef& r : list.PreOrder()) {
    for (int col : {3, 4, 5}) EXPECT_EQ(Cell(r, col), " ");
    EXPECT_EQ(list.Row(r).colour, Kvx::kRowBlack);
  }
  EXPECT_TRUE(log.Entries().empty());
}

TEST_F(Driver, StyledRunGoesOnWithoutAColourLibrary) {
  ASSERT_TRUE(WriteLines(src / "a.wl"));
  list.AddLayerFile(src / "a.wl");
  Kvx::AppSettings().SymbolType = 2;
  Kvx::AppSettings().LibPath = (src / "no library here").string();
  Kvx::AppSettings().OutPath = out.path().string();
  const Kvx::BatchSummary summary = driver.Run(11);
  EXPECT_EQ(summary.counts.succeeded, 1);
  EXPECT_TRUE(Exists(out / "a.shp"));
  EXPECT_FALSE(view.messages.empty());  // the library was looked for and not found
}

// ---- Export of the list ----

TEST_F(Driver, ExportListNeverConverted) {
  WriteAll(src / "a.wl", std::string(100, 'x'));
  list.AddLayerFile(src / "a.wl");
  list.AddLayerFile(src / "道路.WT");
  list.AddProjectFile(src / "工程.mpj");
  const fs::path file = out / "列表.csv";
  const Kvx::OperationLog::SaveResult r = Kvx::ExportList(list, file);
  ASSERT_TRUE(r.ok) << r.error;
  const std::string expected =
      G("编号,文件名称,文件类型,文件路径,投影信息,文件大小,输出名称,转换时间,状态") + "\r\n" +
      "1,a.wl,.wl," + (src / "a.wl").string() + ",1KB, , , ,\r\n" +
      "2," + G("道路") + ".WT,.WT," + G((src / "道路.WT").string()) + ",0KB, , , ,\r\n" +
      "3," + G("工程") + ".mpj,.mpj," + G((src / "工程.mpj").string()) + ",-, , , ,\r\n";
  EXPECT_EQ(ReadAll(file), expected);
}

TEST_F(Driver, ExportListAfterAConversion) {
  ASSERT_TRUE(WriteLines(src / "a.wl"));
  list.AddLayerFile(src / "a.wl");
  driver.ConvertFileList(3, out.path().string());
  const fs::path file = out / "list.csv";
  ASSERT_TRUE(Kvx::ExportList(list, file).ok);
  const std::string text = ReadAll(file);
  const std::string line = "1,a.wl,.wl," + (src / "a.wl").string() + "," + Cell({0, std::nullopt}, 2) + "," +
                           G("基本要素") + "," + G("成功") + "," + Out("a") + ",\r\n";
  EXPECT_NE(text.find("\r\n" + line), std::string::npos) << text;
}

// ---- The conversion log of a row, and path display ----

TEST(ConversionLogText, DecodedLinesJoinedWithCrLf) {
  KvxTest::TempDir dir;
  const std::string name = (dir / "路").string();
  WriteAll(name + ".log", G("==转换信息==") + "\r\nI__ok\r\n" + G("E__错误") + "\r\n");
  EXPECT_EQ(Kvx::ConversionLogText(name), "==转换信息==\r\nI__ok\r\nE__错误");
  EXPECT_EQ(Kvx::ConversionLogText((dir / "none").string()), "");
  EXPECT_EQ(Kvx::ConversionLogText(" "), "");
  EXPECT_EQ(Kvx::ConversionLogText(""), "");
}

TEST_F(Driver, ShowConversionLogOfARow) {
  class PaneView : public RecordingView {
   public:
    void ShowConversionInfo(std::string_view text) override { shown.emplace_back(text); }
    std::vector<std::string> shown;
  } pane;
  ASSERT_TRUE(WriteLines(src / "a.wl"));
  list.AddLayerFile(src / "a.wl");
  Kvx::BatchDriver d(list, log, styles, pane);
  d.ConvertFileList(3, out.path().string());
  d.ShowConversionLog({0, std::nullopt});
  ASSERT_EQ(pane.shown.size(), 2u);
  EXPECT_EQ(pane.shown[0], "");
  EXPECT_EQ(pane.shown[1], Kvx::ConversionLogText(Out("a")));
  EXPECT_NE(pane.shown[1].find("I__"), std::string::npos);
}

std::size_t Characters(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char ch : s) n += (ch & 0xC0) != 0x80 ? 1 : 0;
  return n;
}

struct CompactCase {
  const char* path;
  std::size_t visible;
  const char* expected;
};

class CompactPaths : public ::testing::TestWithParam<CompactCase> {};

TEST_P(CompactPaths, AtMostTheVisibleCharacters) {
  const CompactCase c = GetParam();
  const std::string shown = Kvx::CompactPath(c.path, c.visible);
  EXPECT_EQ(shown, c.expected);
  EXPECT_LE(Characters(shown), c.visible);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, CompactPaths,
    ::testing::Values(CompactCase{"/home/user/maps/roads.wl", 49, "/home/user/maps/roads.wl"},
                      CompactCase{"/home/user/maps/roads.wl", 24, "/home/user/maps/roads.wl"},
                      CompactCase{"/home/user/maps/roads.wl", 20, "/home/us.../roads.wl"},
                      CompactCase{"/数据/地质图/道路.wl", 13, "/数据/地质图/道路.wl"},
                      CompactCase{"/数据/地质图/道路.wl", 12, "/数据.../道路.wl"},
                      CompactCase{"/数据/地质图/道路.wl", 8, "/数....wl"},
                      CompactCase{"/数据/地质图/道路.wl", 3, "..."},
                      CompactCase{"/数据/地质图/道路.wl", 0, ""},
                      CompactCase{"一二三四五六七八九十", 7, "一二...九十"}));

// Small rows of a project travel to a worker together; a large row, another project's row or a
// full hand-out starts a new one.
struct HandOutCase {
  const char* what;
  std::size_t waiting;
  bool sameGroup;
  std::int64_t bytes;
  Kvx::HandOut expected;
};

TEST(HandOut, SmallRowsOfAProjectGoTogether) {
  const std::int64_t small = 3000, limit = Kvx::kSmallRowBytes, large = 5 << 20;
  const std::size_t full = Kvx::kRowsPerJob;
  const HandOutCase cases[] = {
      {"the first row waits for the rows after it", 0, false, small, {false, false}},
      {"a row of the same project joins", 3, true, small, {false, false}},
      {"a row at the limit is small", 3, true, limit, {false, false}},
      {"another project's row starts a new hand-out", 3, false, small, {true, false}},
      {"a full hand-out goes first", full, true, small, {true, false}},
      {"one short of full still joins", full - 1, true, small, {false, false}},
      {"a large row goes alone", 3, true, large, {true, true}},
      {"a row just over the limit goes alone", 3, true, limit + 1, {true, true}},
      {"a large first row goes at once", 0, false, large, {false, true}},
  };
  for (const HandOutCase& c : cases) {
    EXPECT_EQ(Kvx::HandOutOf(c.waiting, c.sameGroup, c.bytes), c.expected) << c.what;
  }
}

}  // namespace
