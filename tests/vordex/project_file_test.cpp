// MapGIS project files: loading, item access, writing items back, damaged files, and turning the
// stored Windows names of the items into paths.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/byte_fixture.h"
#include "support/layer_builder.h"
#include "support/project_builder.h"
#include "vordex/project_file.h"
#include "vordex/status.h"
#include "vordex/text_encoding.h"
#include "vordex/windows_names.h"

namespace {

namespace fs = std::filesystem;
using KvxTest::Bytes;
using KvxTest::Get;
using KvxTest::Put;
using KvxTest::PutText;
namespace St = MapGis::Status;

using Item = KvxTest::ProjectItem;
using KvxTest::ProjectFile;
using KvxTest::kHead;
using KvxTest::kHeadEnd;
using KvxTest::kItemSize;
using KvxTest::kCountAt;
using KvxTest::kExtentAt;
using KvxTest::kTableOffsetAt;
using KvxTest::kProjectionAt;
using KvxTest::kDescriptionAt;

std::string Gbk(const char* utf8) { return MapGis::Utf8ToGbk(utf8); }

ProjectFile SampleProject() {
  ProjectFile p;
  p.description = Gbk("县级土地利用图");
  p.items = {
      {1, Gbk("注记.WT"), Gbk("注记层"), 0.0, 10000.0},
      {0, Gbk("数据\\河流.wl"), Gbk("水系"), 500.0, 50000.0},
      {2, Gbk("D:\\maps\\地块.WP"), Gbk("地块"), 1.0, 2.0},
      {7, "table.wb", "", 0.0, 0.0},
      {11, "net.wn", "", 0.0, 0.0},
      {5, "odd.xx", "", -1.0, -2.0},
  };
  return p;
}

class ProjectFileTest : public ::testing::Test {
 protected:
  fs::path Write(const Bytes& bytes, const std::string& name = "工程.mpj") {
    auto path = dir_ / name;
    EXPECT_TRUE(KvxTest::WriteBytes(path, bytes));
    return path;
  }
  KvxTest::TempDir dir_;
};

void ExpectNoItems(const MapGis::MapGis_Prj& prj) {
  EXPECT_EQ(prj.GetItemCount(), 0);
  EXPECT_EQ(std::int16_t{prj.GetHead().itemCount}, 0);
  char name[128] = "x";
  double lo = 7, hi = 7;
  EXPECT_EQ(prj.GetItemInfo(0, name, &lo, &hi), St::ReadFailed);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(lo, 0.0);
  EXPECT_EQ(prj.GetItem(0), nullptr);
}

TEST_F(ProjectFileTest, LoadsHeadAndItems) {
  const ProjectFile file = SampleProject();
  MapGis::MapGis_Prj prj;
  ASSERT_EQ(prj.LoadProject(Write(file.Build())), 6);
  EXPECT_EQ(prj.GetItemCount(), 6);

  double x0, y0, x1, y1;
  prj.GetExtentInfo(&x0, &y0, &x1, &y1);
  EXPECT_EQ(x0, 100.5);
  EXPECT_EQ(y0, 200.25);
  EXPECT_EQ(x1, 300.75);
  EXPECT_EQ(y1, 400.125);
  prj.GetExtentInfo(nullptr, nullptr, nullptr, nullptr);

  char text[128];
  EXPECT_EQ(prj.GetMpjDesc(text), 0);
  EXPECT_EQ(MapGis::GbkToUtf8(text), "县级土地利用图");
  EXPECT_EQ(prj.GetMpjDesc(nullptr), 0);
  EXPECT_EQ(prj.GetDescription(), file.description);

  const int codes[] = {1, 3, 5, 7, 9, 0};  // stored types 1, 0, 2, 7, 11, 5
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const Item& item = file.items[static_cast<std::size_t>(i)];
    char name[128];
    double lo = -9, hi = -9;
    EXPECT_EQ(prj.GetItemInfo(i, name, &lo, &hi), codes[i]);
    EXPECT_EQ(std::string(name), item.name);  // as stored: GBK, backslashes kept
    EXPECT_EQ(lo, item.displayMin);
    EXPECT_EQ(hi, item.displayMax);
    EXPECT_EQ(prj.GetItemInfo(i, nullptr, nullptr, nullptr), codes[i]);
    EXPECT_EQ(prj.GetItemDesc(i, text), 0);
    EXPECT_EQ(std::string(text), item.description);
    EXPECT_EQ(prj.GetItemName(i), item.name);
    EXPECT_EQ(prj.GetItemDescription(i), item.description);
  }
  EXPECT_EQ(prj.GetItemDesc(0, nullptr), 0);
  EXPECT_EQ(prj.GetItemDesc(6, text), St::ReadFailed);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(prj.GetItemName(-1), "");
}

TEST_F(ProjectFileTest, ItemTableIsReadWhereTheHeadSays) {
  ProjectFile file = SampleProject();
  file.tableOffset = static_cast<std::int32_t>(kHeadEnd + 300);
  MapGis::MapGis_Prj prj;
  ASSERT_EQ(prj.LoadProject(Write(file.Build())), 6);
  EXPECT_EQ(prj.GetItemName(1), file.items[1].name);
  EXPECT_EQ(double{prj.GetItem(5)->displayMax}, -2.0);
}

TEST_F(ProjectFileTest, EmptyProjectLoads) {
  ProjectFile file;
  file.tableOffset = 0;  // not looked at without items
  MapGis::MapGis_Prj prj;
  EXPECT_EQ(prj.LoadProject(Write(file.Build())), 0);
  EXPECT_EQ(prj.GetItemCount(), 0);
  EXPECT_EQ(prj.GetProjectionInfo(nullptr), 3);
}

TEST_F(ProjectFileTest, RefusedFilesLeaveAnEmptyProject) {
  const Bytes valid = SampleProject().Build();
  struct Case {
    std::string what;
    Bytes bytes;
    std::int32_t status;
  };
  std::vector<Case> cases;
  {
    Bytes b = valid;
    b[7] = ';';
    cases.push_back({"magic", b, St::BadMagic});
  }
  for (std::int32_t version : {8, 10, 0, -9}) {
    Bytes b = valid;
    Put<std::int32_t>(b, 8, version);
    cases.push_back({"version " + std::to_string(version), b, St::BadMagic});
  }
  {
    Bytes b = valid;
    Put<std::int16_t>(b, kCountAt, -1);
    cases.push_back({"negative item count", b, St::ReadFailed});
  }
  {
    Bytes b = valid;
    Put<std::int16_t>(b, kCountAt, 7);
    cases.push_back({"one item more than the file holds", b, St::ReadFailed});
  }
  {
    Bytes b = valid;
    Put<std::int16_t>(b, kCountAt, 32767);
    cases.push_back({"absurd item count", b, St::ReadFailed});
  }
  for (std::int32_t offset : {-1, 0, 12, 1112, 1114, 0x7FFFFFFF, -2147483647 - 1}) {
    Bytes b = valid;
    Put<std::int32_t>(b, kTableOffsetAt, offset);
    cases.push_back({"item table at " + std::to_string(offset), b, St::ReadFailed});
  }
  cases.push_back({"cut inside the head", Bytes(valid.begin(), valid.begin() + 600), St::ReadFailed});
  cases.push_back({"cut inside the items", Bytes(valid.begin(), valid.end() - 1), St::ReadFailed});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MapGis::MapGis_Prj prj;
    ASSERT_EQ(prj.LoadProject(Write(valid, "good.mpj")), 6);
    EXPECT_EQ(prj.LoadProject(Write(c.bytes, "bad.mpj")), c.status);
    ExpectNoItems(prj);
  }
  MapGis::MapGis_Prj prj;
  EXPECT_EQ(prj.LoadProject(dir_ / "missing.mpj"), St::CannotOpen);
  EXPECT_EQ(prj.LoadProject(dir_.path()), St::CannotOpen);
  ExpectNoItems(prj);
}

TEST_F(ProjectFileTest, DamagedFilesGiveStatusesNeverACrash) {
  ProjectFile file = SampleProject();
  file.items.resize(2);
  const Bytes full = file.Build();
  const auto path = dir_ / "cut.mpj";
  auto exercise = [](const MapGis::MapGis_Prj& prj) {
    char name[128], desc[128];
    double lo, hi;
    MapGis::MAP_PARAstruct para;
    prj.GetMpjDesc(desc);
    prj.GetProjectionInfo(&para);
    for (int i = -1; i <= prj.GetItemCount(); ++i) {
      prj.GetItemInfo(i, name, &lo, &hi);
      prj.GetItemDesc(i, desc);
      ASSERT_LT(std::strlen(name), 128u);
      ASSERT_LT(std::strlen(desc), 128u);
    }
  };
  MapGis::MapGis_Prj prj;
  // Every length from the whole file down to nothing: one write, then the file is cut shorter.
  ASSERT_TRUE(KvxTest::WriteBytes(path, full));
  for (std::size_t size = full.size() + 1; size-- > 0;) {
    std::filesystem::resize_file(path, size);
    const std::int32_t result = prj.LoadProject(path);
    ASSERT_EQ(result, size == full.size() ? 2 : St::ReadFailed) << "size " << size;
    exercise(prj);
  }
  KvxTest::Scrambler scrambler(3);
  for (int round = 0; round < 300; ++round) {
    Bytes damaged = scrambler.Damage(full, 1 + round % 5);
    // Aim half of the rounds at the item count and the table offset.
    const std::size_t counts[] = {kCountAt, kCountAt + 1, kTableOffsetAt, kTableOffsetAt + 1, kTableOffsetAt + 3};
    if (round % 2) damaged[counts[scrambler.Next() % 5]] = static_cast<std::uint8_t>(scrambler.Next());
    ASSERT_TRUE(KvxTest::WriteBytes(path, damaged));
    const std::int32_t result = prj.LoadProject(path);
    ASSERT_TRUE(result == St::BadMagic || result == St::ReadFailed || (result >= 0 && result <= 2)) << round;
    exercise(prj);
  }
}

TEST_F(ProjectFileTest, ProjectionScaleIsSane) {
  struct Case {
    std::int8_t kind;
    double stored;
    double expected;
  };
  const Case cases[] = {
      {3, 0.0005, 1.0}, {3, 0.001, 0.001}, {3, 2.5, 2.5}, {0, 5.0, 1.0}, {0, 0.0, 1.0}, {1, -4.0, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    ProjectFile file = SampleProject();
    file.coordKind = c.kind;
    file.scale = c.stored;
    MapGis::MapGis_Prj prj;
    ASSERT_EQ(prj.LoadProject(Write(file.Build())), 6);
    MapGis::MAP_PARAstruct para;
    std::memset(&para, 0xFF, sizeof para);
    EXPECT_EQ(prj.GetProjectionInfo(&para), c.kind);
    EXPECT_EQ(prj.GetProjectionInfo(nullptr), c.kind);
    EXPECT_EQ(double{para.scale}, c.expected);
    EXPECT_EQ(para.coordKind, c.kind);
    EXPECT_EQ(para.unit, 2);
    EXPECT_EQ(double{para.centralMeridian}, 1173000.0);
    EXPECT_EQ(double{para.factor161}, 0.0);  // cleared, as stored
  }
}

TEST_F(ProjectFileTest, LongTextsAreCutBeforeADoubleByteCharacter) {
  // 126 bytes of ASCII and one double-byte GBK character fill all 128 bytes, no terminator.
  const std::string gbkChar = Gbk("河");
  std::string longName(126, 'a');
  longName += gbkChar;  // bytes 126 and 127
  ProjectFile file = SampleProject();
  file.items[0].name = longName;
  file.items[0].description = longName;
  file.description = longName;
  MapGis::MapGis_Prj prj;
  ASSERT_EQ(prj.LoadProject(Write(file.Build())), 6);

  struct Guarded {
    char text[128];
    char canary[8];
  };
  Guarded g;
  std::memset(&g, 'Z', sizeof g);
  prj.GetItemInfo(0, g.text, nullptr, nullptr);
  EXPECT_EQ(std::string(g.text), std::string(126, 'a'));
  prj.GetItemDesc(0, g.text);
  EXPECT_EQ(std::string(g.text), std::string(126, 'a'));
  prj.GetMpjDesc(g.text);
  EXPECT_EQ(std::string(g.text), std::string(126, 'a'));
  EXPECT_EQ(std::string(g.canary, 8), std::string(8, 'Z'));
  // The whole stored name is still there for callers that resolve it.
  EXPECT_EQ(prj.GetItemName(0), longName);
}

TEST_F(ProjectFileTest, SetItemInfoChangesItemsInMemory) {
  MapGis::MapGis_Prj empty;
  EXPECT_EQ(empty.SetItemInfo(0, "a.wl", 1, 2, 3), 0);

  ProjectFile file = SampleProject();
  file.items.push_back({200, "x.wl", "", 0, 0});
  MapGis::MapGis_Prj prj;
  ASSERT_EQ(prj.LoadProject(Write(file.Build())), 7);

  struct Case {
    int index;
    int code;
    int returned;  // stored type as a signed byte
    int codeAfter;
  };
  const Case cases[] = {
      {0, 3, 0, 3}, {1, 1, 1, 1}, {2, 9, 11, 9}, {3, 5, 2, 5}, {4, 7, 7, 7},
      {5, 4, 5, 0},     // unknown code keeps the stored type 5
      {6, -1, -56, 0},  // stored 200 comes back as a signed byte
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(prj.SetItemInfo(c.index, nullptr, 3.5, 4.5, c.code), c.returned);
    double lo, hi;
    EXPECT_EQ(prj.GetItemInfo(c.index, nullptr, &lo, &hi), c.codeAfter);
    EXPECT_EQ(lo, 3.5);
    EXPECT_EQ(hi, 4.5);
    EXPECT_EQ(prj.GetItemName(c.index), file.items[static_cast<std::size_t>(c.index)].name);
  }
  EXPECT_EQ(prj.SetItemInfo(7, "a.wl", 0, 0, 1), St::ReadFailed);
  EXPECT_EQ(prj.SetItemInfo(-1, "a.wl", 0, 0, 1), St::ReadFailed);

  // A new name replaces the whole field; a long one is cut before a double-byte character.
  prj.SetItemInfo(1, "b.wl", 0, 0, 0);
  EXPECT_EQ(prj.GetItemName(1), "b.wl");
  const std::string gbk = Gbk("河流");
  std::string longName(125, 'n');
  longName += gbk;  // 129 bytes: the second character does not fit
  prj.SetItemInfo(1, longName.c_str(), 0, 0, 0);
  EXPECT_EQ(prj.GetItemName(1), std::string(125, 'n') + gbk.substr(0, 2));
  EXPECT_EQ(prj.GetItem(1)->fileName[127], '\0');
}

// ---------------------------------------------------------------------------------------------
// Writing back.
// ---------------------------------------------------------------------------------------------

TEST_F(ProjectFileTest, SaveProjectRoundTrip) {
  for (std::int32_t tableOffset : {static_cast<std::int32_t>(kHeadEnd), static_cast<std::int32_t>(kHeadEnd + 400)}) {
    SCOPED_TRACE(tableOffset);
    ProjectFile file = SampleProject();
    file.tableOffset = tableOffset;
    const Bytes before = file.Build();
    const auto path = Write(before);

    MapGis::MapGis_Prj prj;
    ASSERT_EQ(prj.LoadProject(path), 6);
    const std::string newName = Gbk("新数据\\湖泊.wp");
    ASSERT_EQ(prj.SetItemInfo(1, newName.c_str(), 10.0, 20.0, 5), 2);
    ASSERT_EQ(prj.SaveProject(path), 6);

    // Only the changed item's bytes differ; the head and the gap before the table are untouched.
    const Bytes after = KvxTest::ReadAll(path);
    ASSERT_EQ(after.size(), before.size());
    const std::size_t item1 = static_cast<std::size_t>(tableOffset) + kItemSize;
    for (std::size_t i = 0; i < before.size(); ++i) {
      if (i >= item1 && i < item1 + kItemSize) continue;
      ASSERT_EQ(after[i], before[i]) << "byte " << i;
    }
    EXPECT_EQ(after[item1], 2);
    EXPECT_EQ(after[item1 + 1], 0x77);                // not interpreted, kept
    EXPECT_EQ(after[item1 + 300], 0xC3);              // not interpreted, kept
    EXPECT_EQ(Get<double>(after, item1 + 324), 10.0);
    EXPECT_EQ(Get<double>(after, item1 + 332), 20.0);

    MapGis::MapGis_Prj again;
    ASSERT_EQ(again.LoadProject(path), 6);
    EXPECT_EQ(again.GetItemName(1), newName);
    EXPECT_EQ(again.GetItemInfo(1, nullptr, nullptr, nullptr), 5);
    for (int i : {0, 2, 3, 4, 5}) EXPECT_EQ(std::memcmp(again.GetItem(i), prj.GetItem(i), kItemSize), 0) << i;
  }
}

TEST_F(ProjectFileTest, SaveProjectRefusesOtherFiles) {
  const Bytes project = SampleProject().Build();
  ProjectFile shorter = SampleProject();
  shorter.items.pop_back();
  ProjectFile wrongVersion = SampleProject();
  wrongVersion.version = 8;
  ProjectFile offsetInHead = SampleProject();
  offsetInHead.tableOffset = 40;

  struct Case {
    std::string what;
    Bytes target;
    std::int32_t status;
  };
  const Case cases[] = {
      {"fewer items on disk", shorter.Build(), St::ProjectMismatch},
      {"more items on disk", [] { ProjectFile p = SampleProject(); p.items.push_back(p.items[0]); return p.Build(); }(),
       St::ProjectMismatch},
      {"not a project", Bytes(2000, 0x41), St::BadMagic},
      {"other version", wrongVersion.Build(), St::BadMagic},
      {"item table over the head", offsetInHead.Build(), St::ReadFailed},
      {"table past the end", Bytes(project.begin(), project.end() - 10), St::ReadFailed},
      {"cut inside the head", Bytes(project.begin(), project.begin() + 500), St::ReadFailed},
  };
  MapGis::MapGis_Prj prj;
  ASSERT_EQ(prj.LoadProject(Write(project, "source.mpj")), 6);
  const MapGis::PROJECTHEAD headBefore = prj.GetHead();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto path = Write(c.target, "target.mpj");
    EXPECT_EQ(prj.SaveProject(path), c.status);
    EXPECT_EQ(KvxTest::ReadAll(path), c.target);  // untouched
    EXPECT_EQ(std::memcmp(&prj.GetHead(), &headBefore, sizeof headBefore), 0);
  }
  EXPECT_EQ(prj.SaveProject(dir_ / "missing.mpj"), St::CannotOpen);
  EXPECT_FALSE(fs::exists(dir_ / "missing.mpj"));

  // Nothing loaded: a project with items is refused, an empty one is left as it is.
  MapGis::MapGis_Prj empty;
  const auto path = Write(project, "other.mpj");
  EXPECT_EQ(empty.SaveProject(path), St::ProjectMismatch);
  EXPECT_EQ(KvxTest::ReadAll(path), project);
  ProjectFile none;
  const auto emptyPath = Write(none.Build(), "empty.mpj");
  EXPECT_EQ(empty.SaveProject(emptyPath), 0);
  EXPECT_EQ(KvxTest::ReadAll(emptyPath), none.Build());
}

// ---------------------------------------------------------------------------------------------
// Items as paths.
// ---------------------------------------------------------------------------------------------

TEST_F(ProjectFileTest, ItemNamesResolveBesideTheProject) {
  // GBK names with backslashes, an absolute Windows path whose file lies in the project folder in
  // other letter case, and a layer that is missing.
  const fs::path folder = dir_.path() / "县图";
  fs::create_directories(folder / "数据");
  ASSERT_TRUE(KvxTest::WriteBytes(folder / "数据" / "河流.wl", Bytes{1}));
  ASSERT_TRUE(KvxTest::WriteBytes(folder / "地块.wp", Bytes{1}));

  ProjectFile file;
  file.items = {
      {0, Gbk("数据\\河流.wl"), "", 0, 0},
      {2, Gbk("D:\\MapGIS\\县图\\地块.WP"), "", 0, 0},
      {1, Gbk("D:\\MapGIS\\县图\\注记.wt"), "", 0, 0},
  };
  const fs::path projectPath = folder / "县图.MPJ";
  ASSERT_TRUE(KvxTest::WriteBytes(projectPath, file.Build()));

  MapGis::MapGis_Prj prj;
  ASSERT_EQ(prj.LoadProject(projectPath), 3);
  const std::optional<fs::path> expected[] = {folder / "数据" / "河流.wl", folder / "地块.wp", std::nullopt};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    auto got = MapGis::ResolveProjectItemPath(prj.GetItemName(i), projectPath.parent_path());
    EXPECT_EQ(got, expected[i]);
  }
}

}  // namespace
