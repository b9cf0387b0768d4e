// File names that come from Windows: stored GBK names with backslashes and drive letters, and
// file names in another letter case.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/byte_fixture.h"
#include "support/layer_builder.h"
#include "vordex/text_encoding.h"
#include "vordex/windows_names.h"

namespace {

namespace fs = std::filesystem;

void Touch(const fs::path& path) {
  fs::create_directories(path.parent_path());
  ASSERT_TRUE(KvxTest::WriteBytes(path, std::vector<std::uint8_t>{1, 2, 3}));
}

// Project folder "proj" with its layers, and a sibling folder "other".
class WindowsNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    project_ = dir_.path() / "proj";
    for (const char* name : {"河流.wl", "淺水.wt", "数据/道路.wp", "Data/Roads.WL", "twice/A.WL", "twice/a.Wl",
                             "Mixed.Wt"}) {
      Touch(project_ / name);
    }
    Touch(dir_.path() / "other" / "边界.wl");
    fs::create_directories(project_ / "folder.wl");
  }
  // Resolves a name given in UTF-8, stored as GBK the way a project holds it.
  std::optional<fs::path> Resolve(const std::string& utf8, MapGis::FolderNames* listed = nullptr) {
    return MapGis::ResolveProjectItemPath(MapGis::Utf8ToGbk(utf8), project_, listed);
  }
  KvxTest::TempDir dir_;
  fs::path project_;
};

TEST_F(WindowsNamesTest, StoredNamesResolveToExistingFiles) {
  struct Case {
    const char* stored;    // UTF-8 here, GBK in the project
    const char* expected;  // relative to the temporary folder; null: not found
  };
  const Case cases[] = {
      {"河流.wl", "proj/河流.wl"},
      {".\\河流.wl", "proj/河流.wl"},
      // 淺 is 0x9C 0x5C in GBK: its second byte must not become a separator.
      {"淺水.wt", "proj/淺水.wt"},
      {"数据\\道路.wp", "proj/数据/道路.wp"},
      {"..\\other\\边界.wl", "other/边界.wl"},
      // Other letter case, component by component.
      {"DATA\\roads.wl", "proj/Data/Roads.WL"},
      {"mixed.WT", "proj/Mixed.Wt"},
      // An exact name wins; otherwise the smallest of several case variants.
      {"twice\\a.Wl", "proj/twice/a.Wl"},
      {"TWICE\\a.wl", "proj/twice/A.WL"},
      // Absolute Windows paths fall back to the bare name in the project folder.
      {"D:\\maps\\河流.WL", "proj/河流.wl"},
      {"d:/MAPS/Mixed.wt", "proj/Mixed.Wt"},
      {"D:河流.wl", "proj/河流.wl"},
      {"\\\\server\\share\\河流.wl", "proj/河流.wl"},
      // A relative name whose folder is wrong still finds the file beside the project.
      {"旧目录\\淺水.wt", "proj/淺水.wt"},
      // Not found.
      {"D:\\maps\\缺失.wp", nullptr},
      {"缺失.wp", nullptr},
      {"", nullptr},
      {"D:\\maps\\", nullptr},
      {"D:", nullptr},
      {"..", nullptr},
      {"folder.wl", nullptr},  // a folder, not a file
  };
  // Each folder read for every item, and each read once for the whole project (twice over).
  MapGis::FolderNames listed;
  std::size_t listings = 0;
  for (int pass = 0; pass < 3; ++pass) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.stored) + (pass == 0 ? "" : " (folders read once)"));
      auto got = Resolve(c.stored, pass == 0 ? nullptr : &listed);
      if (!c.expected) {
        EXPECT_FALSE(got.has_value()) << *got;
        continue;
      }
      ASSERT_TRUE(got.has_value());
      EXPECT_TRUE(fs::is_regular_file(*got));
      EXPECT_EQ(fs::weakly_canonical(*got), fs::weakly_canonical(dir_.path() / c.expected));
    }
    if (pass == 1) listings = listed.Listings();
  }
  EXPECT_GT(listings, 0u);
  EXPECT_LT(listings, 6u);
  EXPECT_EQ(listed.Listings(), listings) << "the second pass read no folder again";
}

TEST_F(WindowsNamesTest, StoredBytesEndAtTheFirstNul) {
  std::string stored = MapGis::Utf8ToGbk("河流.wl");
  stored += '\0';
  stored += "garbage";
  auto got = MapGis::ResolveProjectItemPath(stored, project_);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->filename(), fs::path("河流.wl"));
}

TEST_F(WindowsNamesTest, AbsoluteNamesThatExistAreTakenAsStored) {
  const fs::path elsewhere = dir_.path() / "other" / "边界.wl";
  auto got = MapGis::ResolveProjectItemPath(MapGis::Utf8ToGbk(elsewhere.string()), project_);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, elsewhere);
  // A missing project folder finds nothing, and does not throw.
  EXPECT_FALSE(MapGis::ResolveProjectItemPath("河流.wl", dir_.path() / "nowhere").has_value());
}

TEST_F(WindowsNamesTest, ColourLibraryIsFoundInAnyLetterCase) {
  struct Case {
    const char* onDisk;  // null: no library
    bool asFolder;
    bool found;
  };
  const Case cases[] = {
      {"Pcolor.lib", false, true}, {"PCOLOR.LIB", false, true}, {"pcolor.lib", false, true},
      {"Pcolor.lib.bak", false, false}, {"PCOLOR.LIB", true, false}, {nullptr, false, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.onDisk ? c.onDisk : "(none)");
    const fs::path slib = dir_.path() / ("slib" + std::to_string(n++));
    fs::create_directories(slib);
    if (c.onDisk) {
      if (c.asFolder) {
        fs::create_directories(slib / c.onDisk);
      } else {
        Touch(slib / c.onDisk);
      }
    }
    auto got = MapGis::FindColourLibrary(slib);
    ASSERT_EQ(got.has_value(), c.found);
    if (c.found) {
      EXPECT_EQ(*got, slib / c.onDisk);
    }
  }
  EXPECT_FALSE(MapGis::FindColourLibrary(dir_.path() / "missing").has_value());
}

TEST(SameNameIgnoringCaseTest, FoldsAsciiLettersOnly) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"Pcolor.lib", "PCOLOR.LIB", true}, {"河流.WL", "河流.wl", true}, {"河流.wl", "河道.wl", false},
      {"a.wl", "a.wl ", false},           {"", "", true},              {"[x]", "{X}", false},
  };
  for (const Case& c : cases) EXPECT_EQ(MapGis::SameNameIgnoringCase(c.a, c.b), c.same) << c.a << " / " << c.b;
}

}  // namespace
