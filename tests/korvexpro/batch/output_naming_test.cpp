// Output folders and names of the rows, and the clean-up of an output set.

#include "batch/output_naming.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "batch_fixtures.h"
#include "temp_config.h"

namespace {

namespace fs = std::filesystem;
using namespace KvxBatchTest;
using Kvx::FileList;
using Kvx::RowRef;

// ---- Final names ----

struct NameCase {
  const char* label;
  const char* source;
  std::vector<const char*> existing;  // files already in the output folder
  const char* main;
  const char* second;
  bool renamed;
};

class FinalNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(FinalNames, FirstFreeName) {
  const NameCase c = GetParam();
  ScopedAppSettings settings;
  KvxTest::TempDir out;
  KvxTest::TempDir src;
  for (const char* name : c.existing) WriteAll(out / name, "x");
  Kvx::OperationLog log;
  const Kvx::OutputNames names = Kvx::BuildFinalName(out.path().string(), src / c.source, log);
  EXPECT_EQ(names.main, (out / c.main).string());
  EXPECT_EQ(names.second, (out / c.second).string());
  if (c.renamed) {
    EXPECT_EQ(LogTexts(log), std::vector<std::string>{">输出路径下发现重名文件，自动改名"});
  } else {
    EXPECT_TRUE(log.Entries().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, FinalNames,
    ::testing::Values(
        NameCase{"Free", "roads.wl", {}, "roads", "roads", false},
        NameCase{"LastDotOnly", "roads.2020.wl", {}, "roads.2020", "roads.2020", false},
        NameCase{"ChineseName", "道路.WL", {}, "道路", "道路", false},
        NameCase{"PointSecond", "sites.wt", {}, "sites", "sitesA", false},
        NameCase{"RegionSecond", "geo.wp", {}, "geo", "geoC", false},
        NameCase{"NetworkSecond", "net.wn", {}, "net", "netD", false},
        NameCase{"TableOneName", "wells.wb", {"wells.xls"}, "wells_B0", "wells_B0", true},
        NameCase{"ProjectOneName", "map.mpj", {"map.shp"}, "map_M0", "map_M0", true},
        NameCase{"DbfTaken", "roads.wl", {"roads.dbf"}, "roads_L0", "roads_L0", true},
        NameCase{"NextFree", "roads.wl", {"roads.dbf", "roads_L0.dbf"}, "roads_L1", "roads_L1", true},
        NameCase{"LogTaken", "roads.wl", {"roads.log"}, "roads_L0", "roads_L0", true},
        NameCase{"XlsTaken", "roads.wl", {"roads.xls"}, "roads_L0", "roads_L0", true},
        NameCase{"ShxDoesNotCount", "roads.wl", {"roads.shx", "roads.prj", "roads.cpg"}, "roads", "roads", false},
        NameCase{"SecondTaken", "roads.wt", {"roadsA.dbf"}, "roads_T0", "roads_A0", true},
        NameCase{"MainTakenBoth", "roads.wt", {"roads.shp"}, "roads_T0", "roads_A0", true},
        NameCase{"BothMarksWalk", "geo.wp", {"geo.shp", "geo_P0.log", "geo_C1.dbf"}, "geo_P2", "geo_C2", true}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

TEST(FinalNamesMarks, FromTheSettings) {
  ScopedAppSettings settings;
  Kvx::AppSettings().Linfix = "LX";
  Kvx::AppSettings().Annofix = "_note";
  KvxTest::TempDir out;
  WriteAll(out / "r.dbf", "x");
  Kvx::OperationLog log;
  EXPECT_EQ(Kvx::BuildFinalName(out.path().string(), "/src/r.wl", log).main, (out / "r_LX0").string());
  EXPECT_EQ(Kvx::BuildFinalName(out.path().string(), "/src/s.wt", log).second, (out / "s_note").string());
}

// ---- Output folders ----

class OutputFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(src / "maps");
    ASSERT_TRUE(WriteLines(src / "maps" / "a.wl"));
    ASSERT_TRUE(WriteProject(src / "maps" / "地质.mpj", {{0, "a.wl"}}));
    list.AddLayerFile(src / "maps" / "a.wl");
    list.AddProjectFile(src / "maps" / "地质.mpj");
  }

  ScopedAppSettings settings;
  KvxTest::TempDir src;
  KvxTest::TempDir out;
  Kvx::OperationLog log;
  FileList list;
};

TEST_F(OutputFolders, EmptyFolderMeansBesideTheSource) {
  for (const RowRef& row : {RowRef{0, std::nullopt}, RowRef{1, std::nullopt}, RowRef{1, 0}}) {
    std::string folder;
    Kvx::BuildOutputDir(list, row, folder, log);
    EXPECT_EQ(fs::path(folder), src / "maps");
  }
  EXPECT_FALSE(Exists(src / "maps" / "地质"));
}

TEST_F(OutputFolders, TopLevelLayerKeepsTheFolder) {
  std::string folder = out.path().string();
  Kvx::BuildOutputDir(list, {0, std::nullopt}, folder, log);
  EXPECT_EQ(folder, out.path().string());
  EXPECT_TRUE(log.Entries().empty());
}

TEST_F(OutputFolders, ProjectGetsAFolderOfItsOwnEveryTime) {
  WriteAll(out / "地质_0", "a file of that name");
  std::vector<fs::path> folders;
  for (int run = 0; run < 3; ++run) {
    std::string folder = out.path().string();
    Kvx::BuildOutputDir(list, {1, std::nullopt}, folder, log);
    folders.push_back(folder);
    EXPECT_TRUE(fs::is_directory(folder)) << folder;
  }
  EXPECT_EQ(folders, (std::vector<fs::path>{out / "地质", out / "地质_1", out / "地质_2"}));
  EXPECT_EQ(LogTexts(log), (std::vector<std::string>{">输出路径下存在同名文件夹，自动改名[" + (out / "地质_1").string() + "]",
                                                     ">输出路径下存在同名文件夹，自动改名[" + (out / "地质_2").string() + "]"}));
}

// A project whose file lists no layer (or cannot be read) still writes into a folder of its own.
TEST_F(OutputFolders, ProjectWithoutLayersGetsAFolderToo) {
  ASSERT_TRUE(WriteProject(src / "maps" / "empty.mpj", {}));
  list.AddProjectFile(src / "maps" / "empty.mpj");
  ASSERT_TRUE(list.TopRows()[2].children.empty());
  std::string folder = out.path().string();
  Kvx::BuildOutputDir(list, {2, std::nullopt}, folder, log);
  EXPECT_EQ(fs::path(folder), out / "empty");
  EXPECT_TRUE(fs::is_directory(out / "empty"));
}

TEST_F(OutputFolders, LayerOfAProjectFollowsTheProjectRowName) {
  list.Row({1, std::nullopt}).cells[Kvx::ColumnResultName] = (out / "地质_3" / "地质").string();
  std::string folder = out.path().string();
  Kvx::BuildOutputDir(list, {1, 0}, folder, log);
  EXPECT_EQ(fs::path(folder), out / "地质_3");
}

TEST_F(OutputFolders, FolderThatCannotBeCreated) {
  std::string folder = (out / "missing" / "deeper").string();
  const std::string before = folder;
  Kvx::BuildOutputDir(list, {1, std::nullopt}, folder, log);
  EXPECT_EQ(folder, before);
  EXPECT_EQ(LogTexts(log),
            std::vector<std::string>{">无法创建输出文件夹[" + (out / "missing" / "deeper" / "地质").string() + "]，输出到上级目录"});
}

TEST(OutputFoldersPermissions, ReadOnlyFolder) {
  KvxTest::WithPermissionsBinding([] {
    ScopedAppSettings settings;
    KvxTest::ScratchDir scratch;
    ASSERT_FALSE(scratch.Path().empty());
    const fs::path locked = scratch.Path() / "locked";
    fs::create_directories(locked);
    ASSERT_TRUE(WriteProject(scratch.Path() / "p.mpj", {{0, "a.wl"}}));
    FileList list;
    list.AddProjectFile(scratch.Path() / "p.mpj");
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    Kvx::OperationLog log;
    std::string folder = locked.string();
    Kvx::BuildOutputDir(list, {0, std::nullopt}, folder, log);
    EXPECT_EQ(folder, locked.string());
    EXPECT_EQ(LogTexts(log), std::vector<std::string>{">无法创建输出文件夹[" + (locked / "p").string() + "]，输出到上级目录"});
    ::chmod(locked.c_str(), 0755);
  });
}

// ---- Deleting an output set ----

TEST(DeleteOutputs, RemovesEveryOutputFileButTheLog) {
  KvxTest::TempDir out;
  const std::vector<std::string> gone = {".shp", ".shx", ".dbf", ".prj", ".avl", ".cpg", ".qml"};
  const std::vector<std::string> stay = {".log", ".xls", ".txt"};
  for (const auto& e : gone) WriteAll(out / ("a" + e), "x");
  for (const auto& e : stay) WriteAll(out / ("a" + e), "x");
  WriteAll(out / "a_L0.shp", "x");
  WriteAll(out / "aA.shp", "x");
  Kvx::DeleteOutputs((out / "a").string());
  for (const auto& e : gone) EXPECT_FALSE(Exists(out / ("a" + e))) << e;
  for (const auto& e : stay) EXPECT_TRUE(Exists(out / ("a" + e))) << e;
  EXPECT_TRUE(Exists(out / "a_L0.shp"));
  EXPECT_TRUE(Exists(out / "aA.shp"));
  Kvx::DeleteOutputs((out / "nothing").string());  // nothing there: no failure
}

}  // namespace

// Names are joined as std::filesystem joins paths, for every shape of folder a batch meets.
TEST(JoinPathTest, JoinsAsFilesystemPathsDo) {
  const std::pair<std::string, std::string> cases[] = {
      {"/out", "roads"},       {"/out/", "roads"},  {"", "roads"},        {"rel/dir", "道路"},
      {"/out", "/abs/name"},   {"/", "roads"},      {"/out/项目 1", "a.b"}, {"/out", ""},
      {"./out", "sites_A0"},   {"out//", "x"},
  };
  for (const auto& [folder, name] : cases) {
    EXPECT_EQ(Kvx::JoinPath(folder, name), (std::filesystem::path(folder) / std::filesystem::path(name)).string())
        << "folder \"" << folder << "\", name \"" << name << "\"";
  }
}
