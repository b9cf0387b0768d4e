// The list of files waiting to be converted, and the folder search that fills it.

#include "batch/file_list.h"

#include <unistd.h>

#include <algorithm>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "batch_fixtures.h"
#include "batch/operation_log.h"
#include "settings/settings.h"
#include "support/layer_builder.h"

namespace {

namespace fs = std::filesystem;
using namespace KvxBatchTest;
using Kvx::FileList;
using Kvx::RowKind;
using Kvx::RowRef;

void WriteSized(const fs::path& path, std::size_t size) { WriteAll(path, std::string(size, 'x')); }

// ---- Kinds ----

struct KindCase {
  const char* name;
  int kind;
};

class FileKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(FileKinds, ByExtensionInAnyLetterCase) {
  const KindCase c = GetParam();
  KvxTest::TempDir dir;
  const fs::path path = dir / c.name;
  EXPECT_EQ(static_cast<int>(Kvx::KindOfPath(path)), c.kind);

  FileList list;
  const int layer = list.AddLayerFile(path);
  if (c.kind >= 2) {
    EXPECT_EQ(layer, c.kind);
    ASSERT_EQ(list.RowCount(), 1u);
    EXPECT_EQ(list.TopRows()[0].Icon(), c.kind);
  } else {
    EXPECT_EQ(layer, 0);
    EXPECT_EQ(list.RowCount(), 0u);
  }

  FileList projects;
  const int project = projects.AddProjectFile(path);
  if (c.kind == 1) {
    EXPECT_EQ(project, 0);
    ASSERT_EQ(projects.RowCount(), 1u);
    EXPECT_EQ(projects.TopRows()[0].Icon(), 1);
  } else {
    EXPECT_EQ(project, -1);
    EXPECT_EQ(projects.RowCount(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Extensions, FileKinds,
                         ::testing::Values(KindCase{"a.mpj", 1}, KindCase{"A.MPJ", 1}, KindCase{"a.wt", 2},
                                           KindCase{"a.WT", 2}, KindCase{"a.wl", 3}, KindCase{"a.Wl", 3},
                                           KindCase{"a.wp", 4}, KindCase{"a.WP", 4}, KindCase{"a.wb", 5},
                                           KindCase{"a.wB", 5}, KindCase{"a.wn", 6}, KindCase{"a.WN", 6},
                                           KindCase{"a.shp", 0}, KindCase{"a.wlx", 0}, KindCase{"wl", 0},
                                           KindCase{"a.txt", 0}));

// ---- New rows ----

struct SizeCase {
  std::size_t bytes;
  const char* cell;
};

class SizeCells : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeCells, WholeKibibytesAtLeastOne) {
  KvxTest::TempDir dir;
  const fs::path path = dir / "roads.wl";
  WriteSized(path, GetParam().bytes);
  FileList list;
  ASSERT_EQ(list.AddLayerFile(path), 3);
  EXPECT_EQ(list.TopRows()[0].cells[Kvx::ColumnSize], GetParam().cell);
}

INSTANTIATE_TEST_SUITE_P(Lengths, SizeCells,
                         ::testing::Values(SizeCase{0, "1KB"}, SizeCase{100, "1KB"}, SizeCase{2047, "1KB"},
                                           SizeCase{2048, "2KB"}, SizeCase{10 * 1024 + 1, "10KB"}));

TEST(FileListRows, NewRowCells) {
  KvxTest::TempDir dir;
  const fs::path path = dir / "道路 roads.wl";
  WriteSized(path, 3000);
  FileList list;
  ASSERT_EQ(list.AddLayerFile(path), 3);
  const Kvx::FileRow& row = list.TopRows()[0];
  const std::array<std::string, Kvx::kColumnCount> expected = {"道路 roads.wl", path.string(), "2KB", " ", " ", " "};
  EXPECT_EQ(row.cells, expected);
  EXPECT_EQ(row.colour, Kvx::kRowBlack);
  EXPECT_FALSE(row.selected);
}

TEST(FileListRows, MissingFilesShowNoSize) {
  KvxTest::TempDir dir;
  FileList list;
  ASSERT_EQ(list.AddLayerFile(dir / "gone.wp"), 4);
  ASSERT_EQ(list.AddProjectFile(dir / "gone.mpj"), 0);
  ASSERT_EQ(list.RowCount(), 2u);
  EXPECT_EQ(list.TopRows()[0].cells[Kvx::ColumnSize], "0KB");
  EXPECT_EQ(list.TopRows()[1].cells[Kvx::ColumnSize], "-");
  EXPECT_TRUE(list.TopRows()[1].children.empty());
}

TEST(FileListRows, SamePathTwiceGivesTwoRows) {
  KvxTest::TempDir dir;
  ASSERT_TRUE(WriteLines(dir / "a.wl"));
  ASSERT_TRUE(WriteProject(dir / "p.mpj", {{0, "a.wl"}}));
  FileList list;
  list.AddLayerFile(dir / "a.wl");
  list.AddLayerFile(dir / "a.wl");
  list.AddProjectFile(dir / "p.mpj");
  list.AddProjectFile(dir / "p.mpj");
  EXPECT_EQ(list.TopRows().size(), 4u);
  EXPECT_EQ(list.RowCount(), 6u);
}

// The count shows whenever the list reaches a multiple of ten rows, whatever kind of row did it.
TEST(FileListRows, EveryTenthRowShowsTheCount) {
  KvxTest::TempDir dir;
  RecordingView view;
  FileList list(&view);
  for (int i = 0; i < 9; ++i) list.AddLayerFile(dir / ("l" + std::to_string(i) + ".wl"));
  EXPECT_TRUE(view.infoTexts.empty());
  list.AddLayerFile(dir / "l9.wl");
  EXPECT_EQ(view.infoTexts, std::vector<std::string>{"已搜索到[10]个待转换文件..."});

  // Rows 11 to 19 as layers, row 20 a project row.
  for (int i = 10; i < 19; ++i) list.AddLayerFile(dir / ("l" + std::to_string(i) + ".wl"));
  list.AddProjectFile(dir / "p.mpj");
  EXPECT_EQ(view.infoTexts, (std::vector<std::string>{"已搜索到[10]个待转换文件...", "已搜索到[20]个待转换文件..."}));
}

// ---- Projects ----

TEST(FileListProjects, LayerRowsUnderTheProject) {
  KvxTest::TempDir dir;
  fs::create_directories(dir / "sub");
  ASSERT_TRUE(WriteLines(dir / "roads.wl"));
  ASSERT_TRUE(WritePoints(dir / "sub" / "Sites.wt"));
  ASSERT_TRUE(WriteRegions(dir / "geology.wp"));
  ASSERT_TRUE(WriteTable(dir / "井.wb"));
  ASSERT_TRUE(WriteProject(dir / "map.mpj", {{0, "roads.wl"},
                                             {1, ".\\SUB\\sites.WT"},
                                             {2, "D:\\maps\\Geology.WP"},
                                             {7, "井.wb"},
                                             {11, "lost.wn"}}));
  FileList list;
  ASSERT_EQ(list.AddProjectFile(dir / "map.mpj"), 0);
  ASSERT_EQ(list.TopRows().size(), 1u);
  const Kvx::FileRow& project = list.TopRows()[0];
  EXPECT_EQ(project.kind, RowKind::Project);
  EXPECT_TRUE(project.expanded);
  EXPECT_EQ(project.cells[Kvx::ColumnName], "map.mpj");
  ASSERT_EQ(project.children.size(), 5u);

  const std::vector<fs::path> expected = {dir / "roads.wl", dir / "sub" / "Sites.wt", dir / "geology.wp",
                                          dir / "井.wb", dir / "lost.wn"};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(fs::path(project.children[i].Path()).lexically_normal(), expected[i].lexically_normal()) << i;
  }
  EXPECT_EQ(project.children[1].kind, RowKind::Point);
  EXPECT_EQ(project.children[4].kind, RowKind::Network);
  EXPECT_EQ(project.children[4].cells[Kvx::ColumnSize], "0KB");
  EXPECT_NE(project.children[0].cells[Kvx::ColumnSize], "0KB");

  ASSERT_NE(list.Parent({0, 2}), nullptr);
  EXPECT_EQ(list.Parent({0, 2}), &list.TopRows()[0]);
  EXPECT_EQ(list.Parent({0, std::nullopt}), nullptr);
}

TEST(FileListProjects, UnreadableProjectKeepsAnEmptyRow) {
  KvxTest::TempDir dir;
  WriteAll(dir / "text.mpj", "this is not a project at all");
  KvxTest::ProjectFile damaged;
  damaged.items = {{0, "a.wl", "", 0, 0}};
  damaged.version = 7;
  ASSERT_TRUE(KvxTest::WriteBytes(dir / "old.mpj", damaged.Build()));
  KvxTest::ProjectFile cut;
  cut.items = {{0, "a.wl", "", 0, 0}, {0, "b.wl", "", 0, 0}};
  ASSERT_TRUE(KvxTest::WriteBytes(dir / "cut.mpj", cut.Build(), KvxTest::kHeadEnd + 100));

  for (const char* name : {"text.mpj", "old.mpj", "cut.mpj"}) {
    FileList list;
    EXPECT_EQ(list.AddProjectFile(dir / name), 0) << name;
    ASSERT_EQ(list.TopRows().size(), 1u) << name;
    EXPECT_TRUE(list.TopRows()[0].children.empty()) << name;
  }
}

// ---- Selection and the list commands ----

// Top rows: a.wl, p.mpj {x.wl, y.wt}, b.wp, q.mpj {z.wl}.
class FileListCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteProject(dir / "p.mpj", {{0, "x.wl"}, {1, "y.wt"}}));
    ASSERT_TRUE(WriteProject(dir / "q.mpj", {{0, "z.wl"}}));
    list.AddLayerFile(dir / "a.wl");
    list.AddProjectFile(dir / "p.mpj");
    list.AddLayerFile(dir / "b.wp");
    list.AddProjectFile(dir / "q.mpj");
    ASSERT_EQ(list.RowCount(), 7u);
    view.infoTexts.clear();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const RowRef& r : list.PreOrder()) names.push_back(list.Row(r).cells[Kvx::ColumnName]);
    return names;
  }
  std::vector<bool> Selection() const {
    std::vector<bool> s;
    for (const RowRef& r : list.PreOrder()) s.push_back(list.Row(r).selected);
    return s;
  }

  KvxTest::TempDir dir;
  RecordingView view;
  FileList list{&view};
};

TEST_F(FileListCommands, PreOrderPutsProjectsBeforeTheirLayers) {
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.wl", "p.mpj", "x.wl", "y.wt", "b.wp", "q.mpj", "z.wl"}));
  const std::vector<RowRef> order = list.PreOrder();
  EXPECT_EQ(order[1], (RowRef{1, std::nullopt}));
  EXPECT_EQ(order[3], (RowRef{1, 1}));
}

TEST_F(FileListCommands, SelectAllNoneInvert) {
  list.SelectAll();
  EXPECT_EQ(Selection(), std::vector<bool>(7, true));
  list.SelectNone();
  EXPECT_EQ(Selection(), std::vector<bool>(7, false));
  list.Select({1, 1}, true);
  list.Select({2, std::nullopt}, true);
  list.InvertSelection();
  EXPECT_EQ(Selection(), (std::vector<bool>{true, true, true, false, false, true, true}));
}

TEST_F(FileListCommands, FirstSelectedInPreOrder) {
  EXPECT_FALSE(list.FirstSelected().has_value());
  list.Select({3, 0}, true);
  list.Select({1, 1}, true);
  EXPECT_EQ(list.FirstSelected(), (RowRef{1, 1}));
  list.Select({1, std::nullopt}, true);
  EXPECT_EQ(list.FirstSelected(), (RowRef{1, std::nullopt}));
}

TEST_F(FileListCommands, RemoveSelectedProjectGoesWithItsLayers) {
  list.Select({1, std::nullopt}, true);
  list.Select({3, 0}, true);
  list.RemoveSelected();
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.wl", "b.wp", "q.mpj"}));
  EXPECT_EQ(view.progressTexts.back(), "进度：[0/3]");
  EXPECT_EQ(view.infoTexts.back(), "当前共有3个待转换文件！");
}

TEST_F(FileListCommands, ClearEmptiesTheList) {
  list.Clear();
  EXPECT_TRUE(list.Empty());
  EXPECT_EQ(list.RowCount(), 0u);
  EXPECT_EQ(view.progressTexts.back(), "进度：[0/0]");
  EXPECT_EQ(view.infoTexts.back(), "当前共有0个待转换文件！");
}

TEST_F(FileListCommands, ExpandOnlyRowsWithChildren) {
  list.CollapseAll();
  for (const RowRef& r : list.PreOrder()) EXPECT_FALSE(list.Row(r).expanded);
  list.ExpandAll();
  EXPECT_FALSE(list.TopRows()[0].expanded);
  EXPECT_TRUE(list.TopRows()[1].expanded);
  EXPECT_FALSE(list.TopRows()[2].expanded);
  EXPECT_TRUE(list.TopRows()[3].expanded);
}

// ---- The folder search ----

class FolderSearch : public ::testing::Test {
 protected:
  int Search(const fs::path& folder, Kvx::SearchOptions options) {
    return Kvx::ListAllFiles(list, folder, options, view, log);
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const RowRef& r : list.PreOrder()) names.push_back(list.Row(r).cells[Kvx::ColumnName]);
    return names;
  }

  ScopedAppSettings settings;
  KvxTest::TempDir dir;
  RecordingView view;
  Kvx::OperationLog log;
  FileList list;
};

TEST_F(FolderSearch, LayerFilesAloneAddNothing) {
  ASSERT_TRUE(WriteLines(dir / "a.wl"));
  ASSERT_TRUE(WriteLines(dir / "b.wl"));
  EXPECT_EQ(Search(dir.path(), {true, false}), 0);
  EXPECT_TRUE(list.Empty());
}

TEST_F(FolderSearch, ProjectsInNameOrderSubFoldersWhenAsked) {
  fs::create_directories(dir / "deeper");
  ASSERT_TRUE(WriteLines(dir / "a.wl"));
  ASSERT_TRUE(WriteProject(dir / "m.mpj", {{0, "a.wl"}}));
  ASSERT_TRUE(WriteProject(dir / "c.MPJ", {}));
  ASSERT_TRUE(WriteProject(dir / "deeper" / "d.mpj", {{0, "x.wl"}, {1, "y.wt"}}));
  ASSERT_TRUE(WritePoints(dir / "deeper" / "e.wt"));

  EXPECT_EQ(Search(dir.path(), {false, false}), 0);
  EXPECT_EQ(Names(), (std::vector<std::string>{"c.MPJ", "m.mpj", "a.wl"}));

  list.Clear();
  EXPECT_EQ(Search(dir.path(), {true, false}), 0);
  EXPECT_EQ(Names(), (std::vector<std::string>{"c.MPJ", "d.mpj", "x.wl", "y.wt", "m.mpj", "a.wl"}));

  list.Clear();
  EXPECT_EQ(Search(dir.path(), {true, true}), 0);
  EXPECT_EQ(Names(),
            (std::vector<std::string>{"a.wl", "c.MPJ", "d.mpj", "x.wl", "y.wt", "e.wt", "m.mpj", "a.wl"}));
  EXPECT_TRUE(log.Entries().empty());
}

TEST_F(FolderSearch, StopsAtTheFileLimit) {
  Kvx::AppSettings().MaxFiles = 10;
  for (int i = 0; i < 30; ++i) WriteAll(dir / ("f" + std::to_string(100 + i) + ".wl"), "x");
  fs::create_directories(dir / "sub");
  for (int i = 0; i < 5; ++i) WriteAll(dir / "sub" / ("g" + std::to_string(i) + ".wl"), "x");

  EXPECT_EQ(Search(dir.path(), {true, true}), 1);
  EXPECT_EQ(list.RowCount(), 11u);
  EXPECT_EQ(view.CountMessages("待转换文件数量过多，停止当前搜索过程！"), 1);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].caption, "停止搜索");
  EXPECT_EQ(LogTexts(log), std::vector<std::string>{">待转换文件数量过多，停止搜索"});
}

TEST_F(FolderSearch, StopRequestConfirmed) {
  for (int i = 0; i < 5; ++i) WriteAll(dir / ("f" + std::to_string(i) + ".wl"), "x");
  view.cancelOn = {3};
  view.answer = true;
  EXPECT_EQ(Search(dir.path(), {true, true}), 1);
  EXPECT_EQ(list.RowCount(), 2u);
  ASSERT_EQ(view.questions.size(), 1u);
  EXPECT_EQ(view.questions[0].caption, "停止搜索");
  EXPECT_EQ(LogTexts(log), std::vector<std::string>{">用户中断了本次搜索"});
}

TEST_F(FolderSearch, StopRequestDeclinedGoesOn) {
  for (int i = 0; i < 5; ++i) WriteAll(dir / ("f" + std::to_string(i) + ".wl"), "x");
  view.cancelAlways = true;
  view.answer = false;
  EXPECT_EQ(Search(dir.path(), {true, true}), 0);
  EXPECT_EQ(list.RowCount(), 5u);
  EXPECT_EQ(view.questions.size(), 5u);
  EXPECT_TRUE(log.Entries().empty());
}

TEST_F(FolderSearch, LinkBackUpTheTreeDoesNotLoop) {
  fs::create_directories(dir / "a" / "b");
  ASSERT_TRUE(WriteProject(dir / "a" / "b" / "p.mpj", {}));
  fs::create_directory_symlink(dir.path(), dir / "a" / "b" / "up");
  fs::create_directory_symlink(dir / "a", dir / "a" / "b" / "side");
  EXPECT_EQ(Search(dir.path(), {true, true}), 0);
  EXPECT_EQ(Names(), std::vector<std::string>{"p.mpj"});
}

// A search made a step at a time only adds rows at the end of the list, each project with all its
// layers, and ends with the list the whole search gives.
TEST_F(FolderSearch, StepsOnlyAddRowsAtTheEnd) {
  fs::create_directories(dir / "b" / "c");
  ASSERT_TRUE(WriteLines(dir / "a.wl"));
  ASSERT_TRUE(WriteProject(dir / "m.mpj", {{0, "a.wl"}, {1, "gone.wt"}}));
  ASSERT_TRUE(WriteProject(dir / "b" / "n.mpj", {{0, "../a.wl"}}));
  ASSERT_TRUE(WritePoints(dir / "b" / "c" / "e.wt"));
  ASSERT_TRUE(WriteProject(dir / "b" / "c" / "o.mpj", {}));

  Kvx::FolderWalk walk(list, dir.path(), {true, true}, view, log);
  std::vector<RowRef> before;
  int steps = 0;
  for (bool more = true; more;) {
    more = walk.Step();
    ++steps;
    const std::vector<RowRef> now = list.PreOrder();
    ASSERT_GE(now.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), now.begin(),
                           [](const RowRef& a, const RowRef& b) { return a.top == b.top && a.child == b.child; }));
    // The rows that came in this step are top-level rows each followed by all its layers.
    for (std::size_t i = before.size(); i < now.size(); ++i) {
      EXPECT_TRUE(!before.empty() ? now[i].top > before.back().top : true);
    }
    before = now;
  }
  EXPECT_FALSE(walk.Stopped());
  EXPECT_GT(steps, 5);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.wl", "e.wt", "o.mpj", "n.mpj", "a.wl", "m.mpj", "a.wl", "gone.wt"}));
  EXPECT_FALSE(walk.Step()) << "a finished search stays finished";
}

TEST_F(FolderSearch, MissingFolderAddsNothing) {
  EXPECT_EQ(Search(dir / "none", {true, true}), 0);
  EXPECT_TRUE(list.Empty());
  EXPECT_TRUE(log.Entries().empty());
}

}  // namespace
