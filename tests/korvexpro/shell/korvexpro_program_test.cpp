// The korvexpro program started as a child process: help, option errors, the settings file named
// before or after the command, Ctrl-C during a batch, and the demo of the README.

#include <signal.h>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "shell_fixtures.h"
#include "vordex/text_encoding.h"
#include "temp_config.h"

namespace {

namespace fs = std::filesystem;
using namespace KvxShellTest;
using KvxTest::ScratchDir;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Program, HelpListsTheCommandsModesAndOptions) {
  ScratchDir dir;
  const Outcome top = RunProgram({"--help"}, dir.Path());
  EXPECT_EQ(top.status, 0);
  for (const char* part : {"convert", "info", "settings", "--config"}) EXPECT_TRUE(Has(top.out, part)) << part;

  const Outcome convert = RunProgram({"convert", "--help"}, dir.Path());
  EXPECT_EQ(convert.status, 0);
  for (const char* part : {"quick", "points", "lines", "regions", "arcs", "nodes", "xls", "labels", "params", "codes",
                           "avl", "--mode", "--styles", "--out", "--beside-source", "--projection", "--encoding",
                           "--colour-model", "--angle-model", "--lib", "--keep-empty", "--repair", "--max-errors",
                           "--no-layer-index", "--all-files", "--export-list", "--save-log", "--save", "--quiet",
                           "Exit status"}) {
    EXPECT_TRUE(Has(convert.out, part)) << part << "\n" << convert.out;
  }
}

TEST(Program, WrongOptionsAreUsageErrors) {
  ScratchDir dir;
  const fs::path layer = dir.Path() / "roads.wl";
  Write(RoadsLayer(), layer);
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"convert", "--bogus", layer.string()}, "--bogus"},
      {{"convert", "--mode", "fast", layer.string()}, "fast"},
      {{"convert", "--styles", "pretty", layer.string()}, "pretty"},
      {{"convert", "--projection", "3", layer.string()}, "3"},
      {{"convert", "--max-errors", "-1", layer.string()}, "-1"},
      {{"convert", "-j", "-2", layer.string()}, "-2"},
      {{"convert", "--plan", (dir.Path() / "plan.jsonl").string(), "--plan-only", (dir.Path() / "p2").string()},
       "--plan"},
      {{"convert", "-o", (dir.Path() / "x").string(), "--beside-source", layer.string()}, "--beside-source"},
      {{"convert"}, "paths"},
      {{"convert", (dir.Path() / "notes.txt").string()}, "notes.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const Outcome r = RunProgram(c.args, dir.Path());
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Has(r.err, c.says)) << r.err;
    EXPECT_EQ(r.out.find("转换完成"), std::string::npos) << r.out;
  }
  EXPECT_FALSE(fs::exists(dir.Path() / "x"));
  EXPECT_FALSE(fs::exists(dir.Path() / "roads.log"));
}

TEST(Program, ConfigMayComeBeforeOrAfterTheCommand) {
  ScratchDir dir;
  const fs::path layer = dir.Path() / "roads.wl";
  Write(RoadsLayer(), layer);
  const fs::path before = dir.Path() / "before.ini";
  const fs::path after = dir.Path() / "after.ini";
  const fs::path out = dir.Path() / "out";
  const struct {
    std::vector<std::string> args;
    fs::path file;
  } cases[] = {
      {{"--config", before.string(), "convert", "-q", "--save", "--encoding", "utf8", "-o", out.string(),
        layer.string()},
       before},
      {{"convert", "-q", "--save", "--encoding", "utf8", "-o", out.string(), layer.string(), "--config",
        after.string()},
       after},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.string());
    KvxTest::TempConfigHome home;  // the user's own settings file is never touched
    const Outcome r = RunProgram(c.args, dir.Path());
    EXPECT_EQ(r.status, 0) << r.err;
    Kvx::Settings loaded;
    EXPECT_TRUE(Kvx::LoadSettings(loaded, c.file).fileRead) << c.file;
    EXPECT_EQ(loaded.CodePage, 1);
    EXPECT_EQ(loaded.OutPath, out.string());
    EXPECT_FALSE(fs::exists(home.ConfigFile()));
  }
}

// A folder of many small layer files, stopped with Ctrl-C after the first row.
TEST(Program, InterruptStopsAfterTheCurrentRowAndStillSummarises) {
  ScratchDir dir;
  const fs::path src = dir.Path() / "many";
  fs::create_directories(src);
  const std::vector<std::uint8_t> bytes = RoadsLayer().Build();
  constexpr int kFiles = 400;
  for (int i = 0; i < kFiles; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "r%03d.wl", i);
    ASSERT_TRUE(KvxTest::WriteFile(src / name, bytes));
  }
  for (const bool quiet : {false, true}) {
    SCOPED_TRACE(quiet ? "quiet" : "verbose");
    const fs::path out = dir.Path() / (quiet ? "out-q" : "out");
    const fs::path config = dir.Path() / "settings.ini";
    std::vector<std::string> args = {"--config", config.string(), "convert", "--all-files", "-o", out.string(),
                                     src.string()};
    if (quiet) args.push_back("-q");
    const fs::path errFile = dir.Path() / "stderr.txt";
    Child child(args, errFile);
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.ReadLines(1, std::chrono::seconds(10))) << child.out;
    ASSERT_EQ(::kill(child.Pid(), SIGINT), 0);
    const int status = child.Finish();
    const std::string err = ReadAll(errFile);
    EXPECT_EQ(status, 1) << err;
    EXPECT_TRUE(Has(err, "用户中断了本次转换")) << err.substr(err.size() > 2000 ? err.size() - 2000 : 0);
    const std::vector<std::string> lines = SplitLines(child.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_LT(lines.size() - 1, static_cast<std::size_t>(kFiles));
    EXPECT_EQ(lines.back().rfind("转换完成：", 0), 0u) << lines.back();
    // Each row printed was converted whole; the summary counts exactly those.
    EXPECT_EQ(lines.back(), SummaryText(static_cast<int>(lines.size() - 1), 0, 0, 0));
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
      const std::string name = lines[i].substr(lines[i].rfind('\t') + 1);
      EXPECT_TRUE(fs::exists(name + ".shp")) << lines[i];
    }
    EXPECT_FALSE(fs::exists(config));
  }
}

// Ctrl-C while four rows run: no further row starts, the running ones finish and are reported, and
// nothing is left on disk that no row reports. The run resumed from its report converts the rest
// and ends with what one whole run writes.
TEST(Program, InterruptWithJobsRunningThenResume) {
  ScratchDir dir;
  const fs::path src = dir.Path() / "many";
  fs::create_directories(src);
  const std::vector<std::uint8_t> roads = RoadsLayer().Build();
  const std::vector<std::uint8_t> sites = SitesLayer().Build();
  constexpr int kFiles = 600;
  for (int i = 0; i < kFiles; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, i % 2 ? "s%03d.wt" : "r%03d.wl", i / 2);
    ASSERT_TRUE(KvxTest::WriteFile(src / name, i % 2 ? sites : roads));
  }
  const fs::path config = dir.Path() / "settings.ini";
  const fs::path out = dir.Path() / "out";
  const fs::path report = dir.Path() / "first.jsonl";
  const std::vector<std::string> common = {"--config", config.string(), "convert", "-q", "--all-files",
                                           "--mode", "avl", "-o", out.string()};
  std::vector<std::string> args = common;
  for (const std::string& a : {std::string("-j"), std::string("4"), std::string("--report"), report.string(), src.string()}) {
    args.push_back(a);
  }
  const fs::path errFile = dir.Path() / "stderr.txt";
  Child child(args, errFile);
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.ReadLines(1, std::chrono::seconds(10))) << child.out;
  ASSERT_EQ(::kill(child.Pid(), SIGINT), 0);
  EXPECT_EQ(child.Finish(), 1) << ReadAll(errFile);
  const std::vector<std::string> lines = SplitLines(child.out);
  ASSERT_GE(lines.size(), 2u);
  const std::size_t printed = lines.size() - 1;
  ASSERT_LT(printed, static_cast<std::size_t>(kFiles));
  EXPECT_EQ(lines.back(), SummaryText(static_cast<int>(printed), 0, 0, 0));

  // Every file in the output folder belongs to a row that was printed (points and annotations).
  std::set<std::string> names;
  for (std::size_t i = 0; i < printed; ++i) {
    const std::string name = lines[i].substr(lines[i].rfind('\t') + 1);
    names.insert(name);
    names.insert(name + "A");
  }
  for (const auto& entry : fs::directory_iterator(out)) {
    const fs::path p = entry.path();
    EXPECT_TRUE(names.contains((p.parent_path() / p.stem()).string())) << p << " belongs to no reported row";
  }
  // The report holds the printed rows and a summary that says the run was stopped.
  const std::vector<std::string> reportLines = SplitLines(ReadAll(report));
  ASSERT_EQ(reportLines.size(), printed + 1);
  EXPECT_NE(reportLines.back().find("\"cancelled\":true"), std::string::npos) << reportLines.back();

  // Resumed: only the rest converts; the whole equals one plain run.
  std::vector<std::string> again = common;
  for (const std::string& a : {std::string("-j"), std::string("3"), std::string("--resume"), report.string(),
                               std::string("--report"), (dir.Path() / "rest.jsonl").string(), src.string()}) {
    again.push_back(a);
  }
  const Outcome rest = RunProgram(again, dir.Path());
  EXPECT_EQ(rest.status, 0) << rest.err;
  const std::string restSummary = SplitLines(ReadAll(dir.Path() / "rest.jsonl")).back();
  EXPECT_NE(restSummary.find("\"resumed\":" + std::to_string(printed) + ","), std::string::npos) << restSummary;

  std::vector<std::string> plainArgs = {"--config", config.string(), "convert", "-q", "--all-files", "--mode", "avl",
                                        "-o", (dir.Path() / "plain").string(), "-j", "1", src.string()};
  const Outcome plain = RunProgram(plainArgs, dir.Path());
  EXPECT_EQ(plain.status, 0) << plain.err;
  std::size_t compared = 0;
  for (const auto& entry : fs::directory_iterator(dir.Path() / "plain")) {
    const fs::path twin = out / entry.path().filename();
    EXPECT_EQ(ReadAll(entry.path()), ReadAll(twin)) << twin;
    ++compared;
  }
  EXPECT_EQ(compared, static_cast<std::size_t>(std::distance(fs::directory_iterator(out), fs::directory_iterator())));
  EXPECT_GT(compared, static_cast<std::size_t>(kFiles));
}

// The README's demo on the bundled examples.
TEST(Program, ReadmeDemoConvertsTheExampleProjectWithLegends) {
  ScratchDir dir;
  const fs::path out = dir.Path() / "demo";
  const fs::path config = dir.Path() / "demo-settings.ini";
  const Outcome r = RunProgram({"--config", config.string(), "convert", "--mode", "avl", "--lib", KVX_EXAMPLES, "-o",
                                out.string(), std::string(KVX_EXAMPLES) + "/geology.mpj"},
                               dir.Path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.Summary(), "转换完成：6个成功,0个空文件,0个跳过,0个失败") << r.out;
  EXPECT_EQ(r.Rows().size(), 6u) << r.out;
  EXPECT_FALSE(Has(r.err, "未设定匹配色标库文件")) << r.err;
  int legends = 0;
  for (const auto& entry : fs::recursive_directory_iterator(out)) legends += entry.path().extension() == ".avl";
  EXPECT_GE(legends, 4);
  for (const char* name : {"geology/roads.avl", "geology/sites.avl", "geology/geology_P0.avl", "geology/pipes.avl"}) {
    EXPECT_TRUE(fs::exists(out / name)) << name;
  }
  EXPECT_FALSE(fs::exists(config));
}

// GeoPackages are written, and coordinate systems read, by modules the program loads when a run
// needs one: a run that needs neither never touches them, and a run without a usable module says
// why and converts nothing (or, from a plan, fails each row with a log line that says why).
TEST(Program, ModulesAreLoadedOnlyWhenARunNeedsThem) {
  const fs::path program = fs::read_symlink("/proc/self/exe");
  fs::path library;
  for (const auto& entry : fs::directory_iterator(program.parent_path().parent_path() / "lib"))
    if (entry.path().filename().string().rfind("libvordex.so", 0) == 0) library = entry.path();
  ASSERT_FALSE(library.empty());
  ScratchDir dir;
  const fs::path notALibrary = dir.Path() / "kvx_geopackage.so";
  {
    std::ofstream f(notALibrary);
    f << "not a library";
  }
  const std::string missing = (dir.Path() / "missing.so").string();
  const std::string demo = std::string(KVX_EXAMPLES) + "/geology.mpj";
  const char* gpkg = "KORVEXPRO_GEOPACKAGE_MODULE";
  const char* proj = "KORVEXPRO_REPROJECTION_MODULE";
  const struct Case {
    const char* name;
    const char* variable;
    std::optional<std::string> module;  // nullopt: the program's own
    std::vector<std::string> options;
    int status;
    std::string error;  // a part of stderr; empty: none expected
  } cases[] = {
      {"GeoPackage with the program's module", gpkg, std::nullopt, {"--format", "gpkg"}, 0, ""},
      {"shapefiles need no GeoPackage module", gpkg, missing, {"--format", "shp"}, 0, ""},
      {"missing GeoPackage module", gpkg, missing, {"--format", "gpkg"}, 1,
       "GeoPackage output is not available: kvx_geopackage.so not found (looked for " + missing + ")"},
      {"a file that is not a library", gpkg, notALibrary.string(), {"--format", "gpkg"}, 1,
       "GeoPackage output is not available: " + notALibrary.string() + ": "},
      {"a library that is not the module", gpkg, library.string(), {"--format", "gpkg"}, 1,
       library.string() + ": not the module of this program"},
      // The demo project's own record is local: the source system is named for all of it.
      {"reprojection with the program's module", proj, std::nullopt,
       {"--to-crs", "EPSG:4490", "--from-crs", "EPSG:2432"}, 0, ""},
      {"no reprojection needs no PROJ module", proj, missing, {}, 0, ""},
      {"missing PROJ module", proj, missing, {"--to-crs", "EPSG:4490"}, 2,
       "--to-crs: coordinate systems cannot be read: kvx_reprojection.so not found (looked for " + missing + ")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const KvxTest::ScopedEnv env(c.variable, c.module);
    const fs::path out = dir.Path() / ("out" + std::to_string(&c - cases));
    std::vector<std::string> args = {"--config", (dir.Path() / "settings.ini").string(), "convert", "-q", "-o",
                                     out.string()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(demo);
    const Outcome r = RunProgram(args, dir.Path());
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.error.empty()) {
      EXPECT_EQ(r.Summary(), "转换完成：6个成功,0个空文件,0个跳过,0个失败") << r.out << r.err;
      const bool geoPackage = c.options.size() == 2 && c.options[1] == "gpkg";
      EXPECT_TRUE(fs::exists(out / "geology" / (geoPackage ? "geology.gpkg" : "roads.shp")));
    } else {
      EXPECT_TRUE(Has(r.err, c.error)) << r.err;
      EXPECT_FALSE(fs::exists(out / "geology")) << "nothing is converted";
    }
  }

  // A plan that reprojects, carried out where PROJ's module is missing: each row fails and its
  // log says why.
  const fs::path plan = dir.Path() / "plan.jsonl";
  const fs::path planned = dir.Path() / "planned";
  const Outcome made = RunProgram({"--config", (dir.Path() / "settings.ini").string(), "convert", "-q", "-o",
                                   planned.string(), "--to-crs", "EPSG:4490", "--plan-only", plan.string(), demo},
                                  dir.Path());
  ASSERT_EQ(made.status, 0) << made.err;
  const KvxTest::ScopedEnv env(proj, missing);
  const Outcome run = RunProgram({"--config", (dir.Path() / "settings.ini").string(), "convert", "-q", "--plan",
                                  plan.string()},
                                 dir.Path());
  EXPECT_EQ(run.status, 1) << run.err;
  const std::string log = MapGis::GbkToUtf8(ReadAll(planned / "geology" / "roads.log"));
  EXPECT_TRUE(Has(log, "E__坐标转换模块无法载入：kvx_reprojection.so not found")) << log;
  EXPECT_FALSE(fs::exists(planned / "geology" / "roads.shp"));
}

}  // namespace
