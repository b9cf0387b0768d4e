// The convert command run in the test process on small projects built in a temporary folder.

#include <shapefil.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/settings.h"
#include "shell/convert_command.h"
#include "shell_fixtures.h"
#include "support/byte_fixture.h"
#include "styles/colour_models.h"
#include "temp_config.h"

namespace {

namespace fs = std::filesystem;
using namespace KvxShellTest;
using Kvx::ConvertOptions;
using KvxTest::ScratchDir;

// A scratch folder with the sources in "src", the settings file "KorvexPro.ini" (absent unless a
// test writes it) and the outputs in "out".
class ConvertTest : public ::testing::Test {
 protected:
  fs::path Src() const { return dir_.Path() / "src"; }
  fs::path Out() const { return dir_.Path() / "out"; }
  fs::path Config() const { return dir_.Path() / "KorvexPro.ini"; }
  std::string S(const std::string& name) const { return (Src() / name).string(); }
  std::string O(const std::string& name) const { return name.empty() ? std::string() : (Out() / name).string(); }

  ConvertOptions Options(std::vector<std::string> paths) const {
    ConvertOptions o;
    o.paths = std::move(paths);
    o.out = Out().string();
    return o;
  }
  Outcome Run(const ConvertOptions& o) const { return RunInProcess(o, Config()); }

  ScratchDir dir_;
};

bool HasField(const std::string& base, const char* field) {
  DBFHandle h = DBFOpen((base + ".dbf").c_str(), "rb");
  if (h == nullptr) {
    ADD_FAILURE() << "no table " << base << ".dbf";
    return false;
  }
  const bool found = DBFGetFieldIndex(h, field) >= 0;
  DBFClose(h);
  return found;
}

// ---- Dispatch of every mode ---------------------------------------------------------------------

TEST_F(ConvertTest, EveryModeConvertsTheKindsItIsFor) {
  struct Expected {
    const char* result;
    const char* content;
    const char* name;  // under the output folder; "" for none
  };
  const Expected skipped{"跳过", "", ""};
  const struct {
    const char* mode;
    // map.mpj, roads.wl, sites.wt, zones.wp, pipes.wn, wells.wb
    std::array<Expected, 6> rows;
    std::string summary;
    std::vector<const char*> written;  // files under the output folder besides each row's ".log"
  } cases[] = {
      {"quick",
       {{{"成功", "图层索引", "map/map"},
         {"成功", "基本要素", "map/roads"},
         {"成功", "基本要素", "map/sites"},
         {"成功", "基本要素", "map/zones"},
         {"成功", "基本要素", "map/pipes"},
         {"成功", "基本要素", "map/wells"}}},
       SummaryText(6, 0, 0, 0),
       {"map/map.shp", "map/roads.shp", "map/sites.shp", "map/zones.shp", "map/pipes.shp", "map/wells.dbf"}},
      {"points",
       {{skipped, skipped, {"成功", "基本要素", "map/sites"}, skipped, skipped, skipped}},
       SummaryText(1, 0, 5, 0),
       {"map/sites.shp"}},
      {"lines",
       {{skipped, {"成功", "基本要素", "map/roads"}, skipped, skipped, skipped, skipped}},
       SummaryText(1, 0, 5, 0),
       {"map/roads.shp"}},
      {"regions",
       {{skipped, skipped, skipped, {"成功", "基本要素", "map/zones"}, skipped, skipped}},
       SummaryText(1, 0, 5, 0),
       {"map/zones.shp"}},
      {"arcs",
       {{skipped, skipped, skipped, {"成功", "弧段要素", "map/zonesC"}, skipped, skipped}},
       SummaryText(1, 0, 5, 0),
       {"map/zonesC.shp"}},
      {"nodes",
       {{skipped, skipped, skipped, skipped, {"成功", "网络节点", "map/pipesD"}, skipped}},
       SummaryText(1, 0, 5, 0),
       {"map/pipesD.shp"}},
      {"xls",
       {{skipped,
         {"成功", "要素属性", "map/roads"},
         {"成功", "要素属性", "map/sites"},
         {"成功", "要素属性", "map/zones"},
         {"成功", "要素属性", "map/pipes"},
         {"成功", "要素属性", "map/wells"}}},
       SummaryText(5, 0, 1, 0),
       {"map/roads.xls", "map/sites.xls", "map/zones.xls", "map/pipes.xls", "map/wells.xls"}},
      {"labels",
       {{skipped, skipped, {"成功", "注释文字", "map/sitesA"}, skipped, skipped, skipped}},
       SummaryText(1, 0, 5, 0),
       {"map/sitesA.shp"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    fs::remove_all(Out());
    WriteFullProject(Src());
    ConvertOptions o = Options({S("map.mpj")});
    o.mode = c.mode;
    const Outcome r = Run(o);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<Row> expected;
    const std::vector<std::string> sources = {"map.mpj", "roads.wl", "sites.wt", "zones.wp", "pipes.wn", "wells.wb"};
    for (std::size_t i = 0; i < 6; ++i) {
      expected.push_back({S(sources[i]), c.rows[i].result, c.rows[i].content, O(c.rows[i].name)});
      if (*c.rows[i].name != '\0') {
        EXPECT_TRUE(Exists(O(c.rows[i].name) + ".log")) << c.rows[i].name;
      }
    }
    EXPECT_EQ(r.Rows(), expected);
    EXPECT_EQ(r.Summary(), c.summary);
    for (const char* file : c.written) EXPECT_TRUE(Exists(O(file))) << file;
    // Rows a mode skips leave nothing behind.
    for (std::size_t i = 1; i < 6; ++i) {
      if (std::string(c.rows[i].result) == "跳过") {
        EXPECT_FALSE(Exists(O("map/" + fs::path(sources[i]).stem().string() + ".log"))) << sources[i];
      }
    }
  }
}

// The modes with drawing parameters convert every kind; a point file gives its symbol points under
// its own name and its annotations under the second name.
TEST_F(ConvertTest, StyledModesConvertPointsAndAnnotationsUnderBothNames) {
  fs::copy_file(fs::path(KVX_EXAMPLES) / "Pcolor.lib", dir_.Path() / "Pcolor.lib");
  const struct {
    const char* mode;
    std::vector<const char*> written;
  } cases[] = {
      {"params", {}},
      {"codes", {}},
      {"avl", {"map/roads.avl", "map/sites.avl", "map/zones.avl", "map/pipes.avl"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    fs::remove_all(Out());
    WriteFullProject(Src());
    ConvertOptions o = Options({S("map.mpj")});
    o.mode = c.mode;
    o.lib = dir_.Path().string();
    const Outcome r = Run(o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find(Kvx::kColourLibraryMissingText), std::string::npos) << r.err;
    const std::vector<Row> expected = {
        {S("map.mpj"), "成功", "索引", O("map/map")},      {S("roads.wl"), "成功", "要素", O("map/roads")},
        {S("sites.wt"), "成功", "要素+文字", O("map/sites")}, {S("zones.wp"), "成功", "要素", O("map/zones")},
        {S("pipes.wn"), "成功", "要素", O("map/pipes")},   {S("wells.wb"), "成功", "要素", O("map/wells")},
    };
    EXPECT_EQ(r.Rows(), expected);
    EXPECT_EQ(r.Summary(), SummaryText(6, 0, 0, 0));
    for (const char* name : {"map/sites", "map/sitesA"}) {
      EXPECT_TRUE(Exists(O(name) + ".shp")) << name;
      EXPECT_TRUE(Exists(O(name) + ".log")) << name;
    }
    for (const char* file : c.written) EXPECT_TRUE(Exists(O(file))) << file;
  }
}

TEST_F(ConvertTest, MissingColourLibraryWarnsAndTheRunGoesOn) {
  Write(RoadsLayer(), Src() / "roads.wl");
  fs::create_directories(dir_.Path() / "empty lib");
  ConvertOptions o = Options({S("roads.wl")});
  o.mode = "avl";
  o.lib = (dir_.Path() / "empty lib").string();
  const Outcome r = Run(o);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(Kvx::kColourLibraryMissingText), std::string::npos) << r.err;
  EXPECT_EQ(r.Rows(), (std::vector<Row>{{S("roads.wl"), "成功", "要素", O("roads")}}));
}

// ---- Output placement ---------------------------------------------------------------------------

TEST_F(ConvertTest, SecondRunOfAProjectGoesIntoANewFolder) {
  WriteFullProject(Src());
  const Outcome first = Run(Options({S("map.mpj")}));
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string before = ReadAll(Out() / "map" / "roads.dbf");
  const auto stamp = fs::last_write_time(Out() / "map" / "roads.shp");

  const Outcome second = Run(Options({S("map.mpj")}));
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_NE(second.err.find("输出路径下存在同名文件夹，自动改名[" + O("map_0") + "]"), std::string::npos) << second.err;
  const std::vector<Row> rows = second.Rows();
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0].name, O("map_0/map"));
  for (std::size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].name, O("map_0/" + fs::path(rows[i].path).stem().string())) << rows[i];
    EXPECT_TRUE(Exists(rows[i].name + ".dbf")) << rows[i];
  }
  // The first run's outputs stay as they were.
  EXPECT_EQ(ReadAll(Out() / "map" / "roads.dbf"), before);
  EXPECT_EQ(fs::last_write_time(Out() / "map" / "roads.shp"), stamp);
}

TEST_F(ConvertTest, TakenNamesAreRenamedWithTheKindMark) {
  const struct {
    const char* file;
    const char* mode;
    const char* first;
    const char* second;
    const char* third;  // in a later run
  } cases[] = {
      {"roads.wl", "quick", "roads", "roads_L0", "roads_L1"},
      {"sites.wt", "points", "sites", "sites_T0", "sites_T1"},
      {"sites.wt", "labels", "sitesA", "sites_A0", "sites_A1"},
      {"zones.wp", "regions", "zones", "zones_P0", "zones_P1"},
      {"zones.wp", "arcs", "zonesC", "zones_C0", "zones_C1"},
      {"pipes.wn", "quick", "pipes", "pipes_N0", "pipes_N1"},
      {"pipes.wn", "nodes", "pipesD", "pipes_D0", "pipes_D1"},
      {"wells.wb", "quick", "wells", "wells_B0", "wells_B1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.mode);
    fs::remove_all(Out());
    WriteFullProject(Src());
    // The same file twice in one run, then once more.
    ConvertOptions o = Options({S(c.file), S(c.file)});
    o.mode = c.mode;
    const Outcome r = Run(o);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<Row> rows = r.Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, O(c.first));
    EXPECT_EQ(rows[1].name, O(c.second));
    EXPECT_NE(r.err.find("输出路径下发现重名文件，自动改名"), std::string::npos);
    o.paths = {S(c.file)};
    const Outcome again = Run(o);
    ASSERT_EQ(again.Rows().size(), 1u);
    EXPECT_EQ(again.Rows()[0].name, O(c.third));
    for (const char* name : {c.first, c.second, c.third}) EXPECT_TRUE(Exists(O(name) + ".log")) << name;
  }
}

TEST_F(ConvertTest, EmptyOutputsAreDeletedUnlessKept) {
  Write(EmptyLines(), Src() / "empty.wl");
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "--keep-empty" : "default");
    fs::remove_all(Out());
    ConvertOptions o = Options({S("empty.wl")});
    o.keepEmpty = keep;
    const Outcome r = Run(o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.Summary(), SummaryText(0, 1, 0, 0));
    EXPECT_EQ(r.Rows(), (std::vector<Row>{{S("empty.wl"), "空文件", keep ? "基本要素" : "", keep ? O("empty") : ""}}));
    EXPECT_TRUE(Exists(O("empty.log")));
    for (const char* ext : {".shp", ".shx", ".dbf"}) EXPECT_EQ(Exists(O("empty") + ext), keep) << ext;
    for (const char* ext : {".prj", ".avl", ".cpg"}) {
      if (!keep) {
        EXPECT_FALSE(Exists(O("empty") + ext)) << ext;
      }
    }
  }
}

// ---- Counting -----------------------------------------------------------------------------------

TEST_F(ConvertTest, MissingSourcesAreCountedAndFailTheRun) {
  Write(RoadsLayer(), Src() / "roads.wl");
  WriteProject(Src() / "map.mpj", {"roads.wl", "lost.wp"});
  const Outcome r = Run(Options({S("gone.wl"), S("map.mpj"), S("gone.mpj")}));
  EXPECT_EQ(r.status, Kvx::kConvertExitFailed) << r.err;
  const std::vector<Row> expected = {
      {S("gone.wl"), "不存在", "", ""},
      // The layer index lists the layer it cannot find as an error of the project.
      {S("map.mpj"), "失败", "图层索引", O("map/map")},
      {S("roads.wl"), "成功", "基本要素", O("map/roads")},
      {S("lost.wp"), "不存在", "", ""},
      {S("gone.mpj"), "不存在", "", ""},
  };
  EXPECT_EQ(r.Rows(), expected);
  EXPECT_EQ(r.Summary(), SummaryText(1, 0, 0, 1));
  EXPECT_NE(r.err.find(">待转换文件不存在"), std::string::npos) << r.err;
}

TEST_F(ConvertTest, SummaryCountsEveryOutcome) {
  Write(RoadsLayer(), Src() / "roads.wl");
  Write(EmptyLines(), Src() / "empty.wl");
  Write(SitesLayer(), Src() / "sites.wt");
  WriteBytes(Src() / "junk.wl", "this is not a layer\n");
  ConvertOptions o = Options({S("roads.wl"), S("empty.wl"), S("sites.wt"), S("junk.wl"), S("gone.wl")});
  o.mode = "lines";
  const Outcome r = Run(o);
  EXPECT_EQ(r.status, Kvx::kConvertExitFailed);
  const std::vector<Row> rows = r.Rows();
  ASSERT_EQ(rows.size(), 5u);
  const std::vector<std::string> results = {rows[0].result, rows[1].result, rows[2].result, rows[3].result,
                                            rows[4].result};
  EXPECT_EQ(results, (std::vector<std::string>{"成功", "空文件", "跳过", "失败", "不存在"}));
  EXPECT_EQ(r.Summary(), SummaryText(1, 1, 1, 1));
  EXPECT_EQ(SplitLines(r.out).size(), 6u);
}

// ---- Bad input in a batch -----------------------------------------------------------------------

TEST_F(ConvertTest, BadFilesFailWithTheirLogAndTheOthersConvert) {
  WriteFullProject(Src());
  KvxTest::LayerBuilder damaged = RoadsLayer();
  damaged.overrides.kind = 3;  // no layer kind
  Write(std::move(damaged), Src() / "damaged.wl");
  std::vector<std::uint8_t> bytes = SitesLayer().Build();
  bytes.resize(bytes.size() / 2);
  WriteBytes(Src() / "truncated.wt", std::string(bytes.begin(), bytes.end()));
  WriteBytes(Src() / "notes.WP", "Meeting notes, not a map.\n");
  WriteBytes(Src() / "table.wb", std::string(900, '\0'));

  const Outcome r = Run(Options(
      {S("roads.wl"), S("damaged.wl"), S("truncated.wt"), S("sites.wt"), S("notes.WP"), S("table.wb"), S("map.mpj")}));
  EXPECT_EQ(r.status, Kvx::kConvertExitFailed);
  const std::vector<Row> rows = r.Rows();
  ASSERT_EQ(rows.size(), 12u) << r.out;
  for (std::size_t i : {1u, 2u, 4u, 5u}) {
    EXPECT_EQ(rows[i].result, "失败") << rows[i];
    EXPECT_EQ(rows[i].name, O(fs::path(rows[i].path).stem().string())) << rows[i];
    EXPECT_TRUE(Exists(rows[i].name + ".log")) << rows[i];
    EXPECT_FALSE(Exists(rows[i].name + ".shp")) << rows[i];
  }
  for (std::size_t i : {0u, 3u, 6u, 7u, 8u, 9u, 10u, 11u}) EXPECT_EQ(rows[i].result, "成功") << rows[i];
  EXPECT_EQ(r.Summary(), SummaryText(8, 0, 0, 4));
  EXPECT_NE(r.err.find(">转换失败，请查看信息窗口了解错误信息"), std::string::npos) << r.err;
}

TEST(ConvertFolders, ReadOnlyOutputFolderFailsItsRowsWithAMessage) {
  KvxTest::WithPermissionsBinding([] {
    ScratchDir dir;
    const fs::path src = dir.Path() / "src";
    const fs::path out = dir.Path() / "locked";
    WriteFullProject(src);
    fs::create_directories(out);
    ASSERT_EQ(::chmod(out.c_str(), 0555), 0);

    ConvertOptions o;
    o.paths = {(src / "roads.wl").string(), (src / "map.mpj").string()};
    o.out = out.string();
    const Outcome r = RunInProcess(o, dir.Path() / "KorvexPro.ini");
    EXPECT_EQ(r.status, Kvx::kConvertExitFailed);
    const std::vector<Row> rows = r.Rows();
    ASSERT_EQ(rows.size(), 7u) << r.out;
    for (const Row& row : rows) EXPECT_EQ(row.result, "失败") << row;
    EXPECT_EQ(r.Summary(), SummaryText(0, 0, 0, 7));
    EXPECT_NE(r.err.find("输出文件无法写入，请检查输出路径[" + out.string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("无法创建输出文件夹[" + (out / "map").string() + "]"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(out));

    // An output folder that cannot be made stops the command before anything is converted or
    // stored.
    o.out = (out / "new").string();
    o.save = true;
    const Outcome made = RunInProcess(o, dir.Path() / "KorvexPro.ini");
    EXPECT_EQ(made.status, Kvx::kConvertExitUsage);
    EXPECT_NE(made.err.find((out / "new").string()), std::string::npos) << made.err;
    EXPECT_EQ(made.out, "");
    EXPECT_FALSE(fs::exists(dir.Path() / "KorvexPro.ini"));
  });
}

TEST_F(ConvertTest, RefusedPathsStopTheCommandBeforeAnything) {
  Write(RoadsLayer(), Src() / "roads.wl");
  WriteBytes(Src() / "notes.txt", "notes\n");
  const struct {
    std::string path;
    const char* says;
  } cases[] = {
      {S("notes.txt"), "not a MapGIS project"},
      {S("no such folder"), "no such folder"},
      {S("maps.bak"), "no such folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Outcome r = Run(Options({S("roads.wl"), c.path}));
    EXPECT_EQ(r.status, Kvx::kConvertExitUsage);
    EXPECT_NE(r.err.find(c.path), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(Exists(Out().string()));
    EXPECT_FALSE(Exists(S("roads.log")));
  }
}

// Values the command line would refuse are refused when the command is called directly too.
TEST_F(ConvertTest, WrongOptionValuesStopTheCommandBeforeAnything) {
  Write(RoadsLayer(), Src() / "roads.wl");
  const struct {
    void (*set)(ConvertOptions&);
    const char* says;
  } cases[] = {
      {[](ConvertOptions& o) { o.mode = "fast"; }, "--mode fast"},
      {[](ConvertOptions& o) { o.styles = "pretty"; }, "--styles pretty"},
      {[](ConvertOptions& o) { o.encoding = "latin1"; }, "--encoding latin1"},
      {[](ConvertOptions& o) { o.colourModel = "hsv"; }, "--colour-model hsv"},
      {[](ConvertOptions& o) { o.angleModel = "polar"; }, "--angle-model polar"},
      {[](ConvertOptions& o) { o.projection = 3; }, "--projection 3"},
      {[](ConvertOptions& o) { o.format = "kml"; }, "--format kml"},
      {[](ConvertOptions& o) { o.maxErrors = -1; }, "--max-errors -1"},
      {[](ConvertOptions& o) { o.toCrs = "EPSG:999999"; }, "--to-crs: PROJ does not know \"EPSG:999999\""},
      {[](ConvertOptions& o) { o.toCrs = "EPSG:4490"; o.fromCrs = "nonsense"; }, "--from-crs: PROJ does not know"},
      {[](ConvertOptions& o) { o.toCrs = "EPSG:4490"; o.sevenParameters = "1,2,3"; }, "--towgs84 1,2,3: seven numbers"},
      {[](ConvertOptions& o) { o.fromCrs = "EPSG:4214"; }, "need a target system (--to-crs)"},
      {[](ConvertOptions& o) { o.requireDatumShift = true; }, "need a target system (--to-crs)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    ConvertOptions o = Options({S("roads.wl")});
    c.set(o);
    const Outcome r = Run(o);
    EXPECT_EQ(r.status, Kvx::kConvertExitUsage);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(Exists(Out().string()));
  }
}

// --format gpkg: one GeoPackage for the project's index and layers, one for a stand-alone layer,
// the logs beside them; a GeoPackage of an earlier run is never written into.
TEST_F(ConvertTest, FormatGpkgWritesAGeoPackagePerProjectAndStandAloneLayer) {
  WriteFullProject(Src() / "a");
  Write(RoadsLayer(), Src() / "roads.wl");
  ConvertOptions o = Options({(Src() / "a" / "map.mpj").string(), S("roads.wl")});
  o.format = "gpkg";
  o.save = true;
  const Outcome first = Run(o);
  ASSERT_EQ(first.status, 0) << first.err;
  const std::vector<Row> rows = first.Rows();
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_TRUE(Exists(O("map/map.gpkg")));
  EXPECT_TRUE(Exists(O("roads.gpkg")));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_TRUE(Exists(row.name + ".log"));
    // The attribute table keeps its own output.
    EXPECT_EQ(Exists(row.name + ".dbf"), fs::path(row.path).extension() == ".wb");
    EXPECT_FALSE(Exists(row.name + ".shp"));
  }
  EXPECT_NE(ReadAll(Config()).find("Format=1"), std::string::npos) << "--save stores Output/Format";
  const std::string before = ReadAll(Out() / "roads.gpkg");

  // The saved setting gives GeoPackages again; the stand-alone layer takes a new name.
  const Outcome second = Run(Options({S("roads.wl")}));
  ASSERT_EQ(second.status, 0) << second.err;
  ASSERT_EQ(second.Rows().size(), 1u);
  EXPECT_EQ(second.Rows()[0].name, O("roads_L0"));
  EXPECT_TRUE(Exists(O("roads_L0.gpkg")));
  EXPECT_EQ(ReadAll(Out() / "roads.gpkg"), before);
}

TEST_F(ConvertTest, FoldersGiveTheirProjectsAndWithAllFilesTheirLayers) {
  WriteFullProject(Src() / "a");
  Write(RoadsLayer(), Src() / "b" / "deep" / "Loose.WL");
  ConvertOptions o = Options({Src().string()});
  const Outcome projects = Run(o);
  EXPECT_EQ(projects.status, 0) << projects.err;
  ASSERT_EQ(projects.Rows().size(), 6u);
  EXPECT_EQ(projects.Rows()[0].path, (Src() / "a" / "map.mpj").string());

  fs::remove_all(Out());
  o.allFiles = true;
  const Outcome all = Run(o);
  EXPECT_EQ(all.status, 0) << all.err;
  std::vector<std::string> paths;
  for (const Row& row : all.Rows()) paths.push_back(row.path);
  EXPECT_NE(std::find(paths.begin(), paths.end(), (Src() / "b" / "deep" / "Loose.WL").string()), paths.end());
  EXPECT_EQ(std::count(paths.begin(), paths.end(), (Src() / "a" / "map.mpj").string()), 1);
}

// ---- The list and the log as files --------------------------------------------------------------

std::string SizeOf(const fs::path& file) {
  return std::to_string(std::max<std::uintmax_t>(fs::file_size(file) / 1024, 1)) + "KB";
}

TEST_F(ConvertTest, ExportListWritesEveryRowAsGbkLines) {
  Write(RoadsLayer(), Src() / "roads.wl");
  Write(WellsTable(), Src() / "wells.wb");
  WriteProject(Src() / "map.mpj", {"roads.wl", "wells.wb"});
  Write(EmptyLines(), Src() / "empty.wl");
  ConvertOptions o = Options({S("map.mpj"), S("empty.wl"), S("gone.wl")});
  o.exportList = (dir_.Path() / "清单 list.csv").string();
  const Outcome r = Run(o);
  EXPECT_EQ(r.status, Kvx::kConvertExitFailed) << r.err;
  EXPECT_NE(r.err.find("转换列表信息已经正确输出！"), std::string::npos) << r.err;

  const std::string expected =
      "编号,文件名称,文件类型,文件路径,投影信息,文件大小,输出名称,转换时间,状态\r\n"
      "1,map.mpj,.mpj," + S("map.mpj") + "," + SizeOf(Src() / "map.mpj") + ",图层索引,成功," + O("map/map") + ",\r\n"
      "2,roads.wl,.wl," + S("roads.wl") + "," + SizeOf(Src() / "roads.wl") + ",基本要素,成功," + O("map/roads") + ",\r\n"
      "3,wells.wb,.wb," + S("wells.wb") + "," + SizeOf(Src() / "wells.wb") + ",基本要素,成功," + O("map/wells") + ",\r\n"
      "4,empty.wl,.wl," + S("empty.wl") + "," + SizeOf(Src() / "empty.wl") + ",,空文件,,\r\n"
      "5,gone.wl,.wl," + S("gone.wl") + ",0KB, ,, ,\r\n";
  EXPECT_EQ(ReadAll(o.exportList), G(expected));
}

TEST_F(ConvertTest, SaveLogWritesTheOperationLogAsGbkLines) {
  WriteFullProject(Src());
  ConvertOptions o = Options({S("map.mpj"), S("gone.wl")});
  o.saveLog = (dir_.Path() / "日志.txt").string();
  const Outcome r = Run(o);
  EXPECT_NE(r.err.find("转换日志信息已经正确输出！"), std::string::npos) << r.err;

  // The file holds the operation log lines stderr showed, in GBK, each ended by CR LF.
  std::string shown;
  for (const std::string& line : SplitLines(r.err)) {
    if (!line.empty() && line[0] == '>') shown += line + "\r\n";
  }
  EXPECT_NE(shown.find(">====开始转换[" + S("roads.wl") + "]\r\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find(">待转换文件不存在\r\n"), std::string::npos) << shown;
  const std::string saved = ReadAll(o.saveLog);
  EXPECT_EQ(saved, G(shown));
  EXPECT_EQ(MapGis::GbkToUtf8(saved), shown);
}

// ---- Settings and options -----------------------------------------------------------------------

TEST_F(ConvertTest, DrawingParametersFollowStylesGivenAfterTheMode) {
  WriteFullProject(Src());
  const struct {
    const char* mode;
    std::optional<std::string> styles;
    const char* source;
    const char* output;
    std::vector<const char*> present;
    std::vector<const char*> absent;
  } cases[] = {
      {"arcs", std::nullopt, "zones.wp", "zonesC", {}, {"KVX_LPOY", "KVX_RPOY"}},
      {"arcs", "params", "zones.wp", "zonesC", {"KVX_LPOY", "KVX_RPOY"}, {}},
      {"points", std::nullopt, "sites.wt", "sites", {}, {"KVX_PTYPE", "KVX_SCOLR"}},
      {"points", "params", "sites.wt", "sites", {"KVX_PTYPE", "KVX_SCOLR"}, {}},
      {"nodes", std::nullopt, "pipes.wn", "pipesD", {}, {"KVX_SUBNO"}},
      {"nodes", "params", "pipes.wn", "pipesD", {"KVX_SUBNO"}, {}},
      {"params", std::nullopt, "roads.wl", "roads", {"KVX_LTYPE", "KVX_LCOLR"}, {}},
      {"params", "none", "roads.wl", "roads", {}, {"KVX_LTYPE", "KVX_LCOLR"}},
      {"quick", "codes", "roads.wl", "roads", {"KVX_SYMBOL"}, {"KVX_LTYPE"}},
      {"lines", "avl", "roads.wl", "roads", {"KVX_LEGEND"}, {"KVX_LTYPE"}},
  };
  fs::copy_file(fs::path(KVX_EXAMPLES) / "Pcolor.lib", dir_.Path() / "Pcolor.lib");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " " + c.styles.value_or("-"));
    fs::remove_all(Out());
    ConvertOptions o = Options({S(c.source)});
    o.mode = c.mode;
    o.styles = c.styles;
    o.lib = dir_.Path().string();
    const Outcome r = Run(o);
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.Rows().size(), 1u);
    EXPECT_EQ(r.Rows()[0].name, O(c.output));
    for (const char* field : c.present) EXPECT_TRUE(HasField(O(c.output), field)) << field;
    for (const char* field : c.absent) EXPECT_FALSE(HasField(O(c.output), field)) << field;
  }
}

TEST_F(ConvertTest, SettingsFileGivesTheDefaultsAndOptionsOverrideThemForTheRun) {
  Write(RoadsLayer(), Src() / "roads.wl");
  Write(EmptyLines(), Src() / "empty.wl");
  const fs::path stored = dir_.Path() / "stored out";
  const std::string ini = "; mine\n[FilePath]\nOutPath=" + stored.string() +
                          "\n[General]\nExportEmptyFile=1\n[Styles]\nCodePage=0\n[Output]\nExportProjection=0\n";
  KvxTest::WriteText(Config(), ini);

  // The stored settings: output folder, empty outputs kept, GBK tables, no .prj.
  ConvertOptions plain;
  plain.paths = {S("roads.wl"), S("empty.wl")};
  const Outcome first = Run(plain);
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.Rows()[0].name, (stored / "roads").string());
  EXPECT_TRUE(Exists((stored / "empty.shp").string()));
  EXPECT_EQ(KvxTest::ReadText((stored / "roads.cpg").string()), "936");
  EXPECT_FALSE(Exists((stored / "roads.prj").string()));

  // Options win for this run and are not stored.
  ConvertOptions o = Options({S("roads.wl"), S("empty.wl")});
  o.encoding = "utf8";
  o.projection = 2;
  const Outcome second = Run(o);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.Rows()[0].name, O("roads"));
  EXPECT_EQ(KvxTest::ReadText(O("roads.cpg")), "UTF-8");
  EXPECT_TRUE(Exists(O("roads.prj")));
  EXPECT_TRUE(Exists(O("empty.shp")));
  EXPECT_EQ(KvxTest::ReadText(Config()), ini);

  // The next run without options has the stored settings again.
  const Outcome third = Run(plain);
  EXPECT_EQ(third.Rows()[0].name, (stored / "roads_L0").string());
  EXPECT_EQ(KvxTest::ReadText((stored / "roads_L0.cpg").string()), "936");
}

TEST_F(ConvertTest, SaveStoresTheOptionsGiven) {
  Write(RoadsLayer(), Src() / "roads.wl");
  KvxTest::WriteText(Config(), "; mine\n[General]\nLogLevel=2\nCustom=kept\n");
  ConvertOptions o = Options({S("roads.wl")});
  o.encoding = "utf8";
  o.colourModel = "cmyk";
  o.angleModel = "graphic";
  o.maxErrors = 7;
  o.keepEmpty = true;
  o.noLayerIndex = true;
  o.lib = (dir_.Path() / "lib").string();
  o.save = true;
  const Outcome r = Run(o);
  EXPECT_EQ(r.status, 0) << r.err;

  Kvx::Settings loaded;
  const Kvx::SettingsLoadResult load = Kvx::LoadSettings(loaded, Config());
  EXPECT_TRUE(load.error.empty());
  EXPECT_EQ(loaded.OutPath, Out().string());
  EXPECT_EQ(loaded.CodePage, 1);
  EXPECT_EQ(loaded.ColorModel, 1);
  EXPECT_EQ(loaded.RotateType, 2);
  EXPECT_EQ(loaded.MaxErrors, 7);
  EXPECT_EQ(loaded.ExportEmptyFile, 1);
  EXPECT_EQ(loaded.ExportLayerIndex, 0);
  EXPECT_EQ(loaded.LibPath, (dir_.Path() / "lib").string());
  EXPECT_EQ(loaded.LogLevel, 2);
  const std::string text = KvxTest::ReadText(Config()).value_or("");
  EXPECT_EQ(text.rfind("; mine\n[General]\nLogLevel=2\nCustom=kept\n", 0), 0u) << text;
  EXPECT_NE(text.find("OutPath=" + Out().string() + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("CodePage=1\n"), std::string::npos) << text;
  // Settings no option named are not written.
  for (const char* key : {"MaxFiles=", "FontAdjust=", "Pntfix=", "ExportProjection="}) {
    EXPECT_EQ(text.find(key), std::string::npos) << key << "\n" << text;
  }

  // Without --save the file stays as it is.
  ConvertOptions again = Options({S("roads.wl")});
  again.encoding = "ansi";
  again.out = (dir_.Path() / "elsewhere").string();
  Run(again);
  EXPECT_EQ(KvxTest::ReadText(Config()), text);
}

TEST_F(ConvertTest, QuietLeavesOnlyTheRowsAndWarnings) {
  Write(RoadsLayer(), Src() / "roads.wl");
  ConvertOptions o = Options({S("roads.wl")});
  o.quiet = true;
  o.mode = "avl";
  o.lib = (dir_.Path() / "no lib").string();
  const Outcome r = Run(o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find(">"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(Kvx::kColourLibraryMissingText), std::string::npos) << r.err;
  EXPECT_EQ(r.Rows().size(), 1u);
  EXPECT_EQ(r.Summary(), SummaryText(1, 0, 0, 0));
}

}  // namespace

// ---- Reprojection of a real survey ----------------------------------------------------------------

// The real land-use survey is Beijing 1954 Gauss-Krüger, central meridian 105°; in CGCS2000 it lies
// in Lixian county, Gansu (about 105.4° E, 34.2° N).
TEST(ConvertRealSurvey, ReprojectedToCgcs2000LandsInLixianCounty) {
  const fs::path folder = KvxTest::RealSamplesFolder() / "gooin1__mapgis67";
  std::error_code ec;
  fs::path project, slib;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name == "I486732TY.MPJ") project = entry.path();
    if (name == "slib") slib = entry.path();
  }
  if (project.empty()) GTEST_SKIP() << "the real samples are not at " << folder << " (set KVX_REAL_SAMPLES)";
  ScratchDir dir;
  ConvertOptions o;
  o.paths = {project.string()};
  o.out = (dir.Path() / "out").string();
  o.mode = "avl";
  if (!slib.empty()) o.lib = slib.string();
  o.toCrs = "EPSG:4490";
  const Outcome r = RunInProcess(o, dir.Path() / "KorvexPro.ini");
  EXPECT_EQ(r.status, Kvx::kConvertExitOk) << r.out << r.err;
  const fs::path base = dir.Path() / "out" / "I486732TY" / "I686732QU";
  SHPHandle shp = SHPOpen(base.c_str(), "rb");
  ASSERT_NE(shp, nullptr);
  double lo[4] = {0}, hi[4] = {0};
  int count = 0;
  SHPGetInfo(shp, &count, nullptr, lo, hi);
  SHPClose(shp);
  EXPECT_EQ(count, 90);
  EXPECT_GT(lo[0], 105.3);
  EXPECT_LT(hi[0], 105.6);
  EXPECT_GT(lo[1], 34.1);
  EXPECT_LT(hi[1], 34.3);
  const std::string prj = ReadAll(base.string() + ".prj");
  EXPECT_NE(prj.find("China_Geodetic_Coordinate_System_2000"), std::string::npos) << prj;
}
