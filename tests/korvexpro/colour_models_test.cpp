// Loading the colour library for a styled batch, colour lookups, the colour and angle models.

#include "styles/colour_models.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "styles_fixtures.h"
#include "temp_config.h"

namespace {

namespace fs = std::filesystem;
using namespace Kvx;
using KvxTest::RecordingNotifier;
using KvxTest::ScratchDir;

// A library folder holding the test colour library under `fileName`.
fs::path LibraryFolder(const ScratchDir& dir, const std::string& folder, const std::string& fileName,
                       const std::vector<char>& bytes = KvxTest::ColourLibraryBytes(KvxTest::TestColours())) {
  const fs::path lib = dir.Path() / folder;
  KvxTest::WriteFileBytes(lib / fileName, bytes);
  return lib;
}

Settings StyledSettings(const fs::path& libPath, std::int32_t symbolType = 4, std::int32_t logLevel = 3) {
  Settings settings;
  settings.LibPath = libPath.string();
  settings.SymbolType = symbolType;
  settings.LogLevel = logLevel;
  return settings;
}

std::string UsingText(const fs::path& file) { return "使用MapGIS颜色库:[" + file.string() + "]"; }

// ---- Loading the colour library -----------------------------------------------------------------

TEST(ConvertLoadRules, LoadsTheLibraryAndTracesItAtTheLevelOfLogLevel) {
  ScratchDir dir;
  const fs::path lib = LibraryFolder(dir, "Slib", "Pcolor.lib");
  const struct {
    std::int32_t logLevel;
    int traceLevel;  // 0: no trace
  } cases[] = {{0, 7}, {1, 6}, {2, 5}, {3, 4}, {4, 0}, {-1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logLevel);
    StyleContext styles;
    RecordingNotifier notifier;
    EXPECT_EQ(styles.ConvertLoadRules(StyledSettings(lib, 4, c.logLevel), notifier), LoadRulesResult::Ready);
    EXPECT_EQ(styles.ColourCount(), 6);
    EXPECT_EQ(styles.LibraryFile(), lib / "Pcolor.lib");
    EXPECT_TRUE(notifier.messages.empty());
    if (c.traceLevel == 0) {
      EXPECT_TRUE(notifier.traces.empty());
    } else {
      ASSERT_EQ(notifier.traces.size(), 1u);
      EXPECT_EQ(notifier.traces[0].level, c.traceLevel);
      EXPECT_EQ(notifier.traces[0].text, UsingText(lib / "Pcolor.lib"));
      // Levels above 1 reach the operation log as ">" and the text.
      EXPECT_EQ(TraceLogLine(notifier.traces[0].level, notifier.traces[0].text), ">" + UsingText(lib / "Pcolor.lib"));
    }
  }
}

TEST(ConvertLoadRules, EverySymbolModeButNoneLoadsAndNoneLoadsNothing) {
  ScratchDir dir;
  const fs::path lib = LibraryFolder(dir, "Slib", "Pcolor.lib");
  for (std::int32_t symbolType : {1, 2, 4, 7}) {
    StyleContext styles;
    EXPECT_EQ(styles.ConvertLoadRules(StyledSettings(lib, symbolType), SilentNotifier()), LoadRulesResult::Ready);
    EXPECT_EQ(styles.ColourCount(), 6) << symbolType;
  }

  // SymbolType 0 needs no colours: ready, silent, nothing loaded, even with no library at all.
  StyleContext styles;
  RecordingNotifier notifier;
  EXPECT_EQ(styles.ConvertLoadRules(StyledSettings(dir.Path() / "nowhere", 0), notifier), LoadRulesResult::Ready);
  EXPECT_EQ(styles.ColourCount(), 0);
  EXPECT_TRUE(notifier.messages.empty());
  EXPECT_TRUE(notifier.traces.empty());
}

TEST(ConvertLoadRules, FindsTheLibraryInAnyLetterCase) {
  ScratchDir dir;
  const fs::path lib = LibraryFolder(dir, "SLIB", "PCOLOR.LIB");
  StyleContext styles;
  RecordingNotifier notifier;
  EXPECT_EQ(styles.ConvertLoadRules(StyledSettings(lib), notifier), LoadRulesResult::Ready);
  EXPECT_EQ(styles.ColourCount(), 6);
  ASSERT_EQ(notifier.traces.size(), 1u);
  EXPECT_EQ(notifier.traces[0].text, UsingText(lib / "PCOLOR.LIB"));
}

TEST(ConvertLoadRules, MissingOrUnreadableLibraryWarnsAndLeavesNoColours) {
  ScratchDir dir;
  const fs::path good = LibraryFolder(dir, "good", "Pcolor.lib");
  const fs::path empty = dir.Path() / "empty";
  fs::create_directories(empty);
  const fs::path damaged =
      LibraryFolder(dir, "damaged", "Pcolor.lib", KvxTest::ColourLibraryBytes(KvxTest::TestColours(), "PCOLOR 2"));
  const fs::path truncated = LibraryFolder(dir, "truncated", "Pcolor.lib", std::vector<char>(100, 'P'));

  const std::string missing = "未设定匹配色标库文件或者指定色标库文件不存在!";
  auto unreadable = [](const fs::path& folder) { return "色标库文件无法读取:[" + (folder / "Pcolor.lib").string() + "]"; };
  const struct {
    const char* name;
    std::string libPath;
    std::string text;
  } cases[] = {
      {"empty LibPath", "", missing},
      {"folder without library", empty.string(), missing},
      {"no such folder", (dir.Path() / "none").string(), missing},
      {"wrong magic", damaged.string(), unreadable(damaged)},
      {"shorter than its head", truncated.string(), unreadable(truncated)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StyleContext styles;
    // A library loaded before must not survive a failed load unnoticed.
    ASSERT_EQ(styles.ConvertLoadRules(StyledSettings(good), SilentNotifier()), LoadRulesResult::Ready);
    Settings settings = StyledSettings(good);
    settings.LibPath = c.libPath;
    RecordingNotifier notifier;
    EXPECT_EQ(styles.ConvertLoadRules(settings, notifier), LoadRulesResult::Missing);
    ASSERT_EQ(notifier.messages.size(), 1u);
    EXPECT_EQ(notifier.messages[0].caption, "注意");
    EXPECT_EQ(notifier.messages[0].text, c.text);
    EXPECT_EQ(notifier.messages[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(notifier.traces.empty());
    if (c.text != missing) {
      // The unreadable library replaced the old one: every colour is 0 now, and no file is named.
      EXPECT_EQ(styles.ColourCount(), 0);
      EXPECT_TRUE(styles.LibraryFile().empty());
      EXPECT_EQ(styles.GetColorValue(KvxTest::kRed, 0), 0);
    }
  }
}

TEST(ConvertLoadRules, ReloadingReplacesTheLibrary) {
  ScratchDir dir;
  const fs::path six = LibraryFolder(dir, "six", "Pcolor.lib");
  const fs::path two =
      LibraryFolder(dir, "two", "Pcolor.lib", KvxTest::ColourLibraryBytes({{255, 0, 0, 0}, {0, 0, 0, 0}}));
  StyleContext styles;
  ASSERT_EQ(styles.ConvertLoadRules(StyledSettings(six), SilentNotifier()), LoadRulesResult::Ready);
  EXPECT_EQ(styles.PackedRGB(1), 0xFFFF00);  // cyan
  ASSERT_EQ(styles.ConvertLoadRules(StyledSettings(two), SilentNotifier()), LoadRulesResult::Ready);
  EXPECT_EQ(styles.ColourCount(), 2);
  EXPECT_EQ(styles.PackedRGB(1), 0);  // black
  EXPECT_EQ(styles.PackedRGB(3), 0);  // beyond the new count
}

TEST(ConvertLoadRules, UsesTheSettingsItIsHandedNotTheProcessWideOnes) {
  ScratchDir dir;
  const fs::path lib = LibraryFolder(dir, "Slib", "Pcolor.lib");
  KvxTest::ScopedAppSettings restore;
  AppSettings().SymbolType = 0;
  AppSettings().LibPath = (dir.Path() / "nowhere").string();
  StyleContext styles;
  RecordingNotifier notifier;
  EXPECT_EQ(styles.ConvertLoadRules(StyledSettings(lib, 4, 0), notifier), LoadRulesResult::Ready);
  EXPECT_EQ(styles.LibraryFile(), lib / "Pcolor.lib");
  ASSERT_EQ(notifier.traces.size(), 1u);
  EXPECT_EQ(notifier.traces[0].level, 7);
}

TEST(TraceLogLine, OnlyLevelsAboveOneReachTheLog) {
  EXPECT_EQ(TraceLogLine(2, "x"), ">x");
  EXPECT_EQ(TraceLogLine(7, ""), ">");
  EXPECT_EQ(TraceLogLine(1, "x"), std::nullopt);
  EXPECT_EQ(TraceLogLine(0, "x"), std::nullopt);
}

// ---- Colour lookups and the colour model ----------------------------------------------------------

class ColourModels : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(styles_.ConvertLoadRules(StyledSettings(LibraryFolder(dir_, "Slib", "Pcolor.lib")), SilentNotifier()),
              LoadRulesResult::Ready);
  }
  ScratchDir dir_;
  StyleContext styles_;
};

TEST_F(ColourModels, ColourNumbersByModel) {
  const struct {
    std::int32_t n;
    std::int32_t rgb;   // model 0, hex BBGGRR
    std::int32_t cmyk;  // model 1, hex CCMMYYKK
  } cases[] = {
      {KvxTest::kCyan, 0xFFFF00, 0x64000000},
      {KvxTest::kRed, 0x0000FF, 0x00646400},
      {KvxTest::kBlue, 0xFF0000, 0x64640000},
      {KvxTest::kWhite, 0xFFFFFF, 0x00000000},
      {KvxTest::kBlack, 0x000000, 0x00000064},
      {KvxTest::kGrey, 0x7F7F7F, 0x00000032},
      // Colour 0, negative numbers and numbers above the count are no colour.
      {0, 0, 0},
      {-1, 0, 0},
      {7, 0, 0},
      {INT32_MIN, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    EXPECT_EQ(styles_.GetColorValue(c.n, 0), c.rgb);
    EXPECT_EQ(styles_.GetColorValue(c.n, 1), c.cmyk);
    EXPECT_EQ(styles_.GetColorValue(c.n, 2), c.n);  // the number itself, unchecked
    EXPECT_EQ(styles_.GetColorValue(c.n, 3), 0);
    EXPECT_EQ(styles_.GetColorValue(c.n, -1), 0);
    EXPECT_EQ(styles_.PackedRGB(c.n), c.rgb);
    EXPECT_EQ(styles_.PackedCMYK(c.n), c.cmyk);
  }
  const MapGis::RGBTRIPLE red = styles_.GetColorRGB(KvxTest::kRed);
  EXPECT_EQ(red.rgbtRed, 255);
  EXPECT_EQ(red.rgbtGreen, 0);
  EXPECT_EQ(red.rgbtBlue, 0);
  const MapGis::CMYKQUAD cyan = styles_.GetColorCMYK(KvxTest::kCyan);
  EXPECT_EQ(cyan.cmykCyan, 100);
  EXPECT_EQ(cyan.cmykBlack, 0);
}

TEST_F(ColourModels, ColourModelIsTheOneHandedIn) {
  EXPECT_EQ(styles_.GetColorValue(KvxTest::kBlue, 0), 0xFF0000);
  EXPECT_EQ(styles_.GetColorValue(KvxTest::kBlue, 1), 0x64640000);
  EXPECT_EQ(styles_.GetColorValue(KvxTest::kBlue, 2), KvxTest::kBlue);
}

TEST(ColourModelsWithoutLibrary, OnlyTheColourNumberModelWritesAnything) {
  const StyleContext styles;
  for (std::int32_t n : {0, 1, 5, -3, 1000}) {
    EXPECT_EQ(styles.GetColorValue(n, 0), 0);
    EXPECT_EQ(styles.GetColorValue(n, 1), 0);
    EXPECT_EQ(styles.GetColorValue(n, 2), n);
  }
}

TEST(ColourModelsRealLibraries, EveryColourPacksItsOwnLookups) {
  const fs::path root = "/work/shared/samples/real";
  std::error_code ec;
  int libraries = 0;
  for (const auto& entry : fs::directory_iterator(root, ec)) {
    if (!fs::exists(entry.path() / "Pcolor.lib")) continue;
    ++libraries;
    SCOPED_TRACE(entry.path().string());
    StyleContext styles;
    ASSERT_EQ(styles.ConvertLoadRules(StyledSettings(entry.path()), SilentNotifier()), LoadRulesResult::Ready);
    ASSERT_GT(styles.ColourCount(), 0);
    for (std::int32_t n = 0; n <= styles.ColourCount() + 1; ++n) {
      const MapGis::RGBTRIPLE rgb = styles.ColorLib().GetRGB(n);
      const MapGis::CMYKQUAD cmyk = styles.ColorLib().GetCMYK(n);
      ASSERT_EQ(styles.GetColorValue(n, 0), rgb.rgbtRed | rgb.rgbtGreen << 8 | rgb.rgbtBlue << 16) << n;
      ASSERT_EQ(styles.GetColorValue(n, 1),
                cmyk.cmykCyan << 24 | cmyk.cmykMagenta << 16 | cmyk.cmykYellow << 8 | cmyk.cmykBlack)
          << n;
      ASSERT_GE(styles.GetColorValue(n, 1), 0);
    }
  }
  if (libraries == 0) GTEST_SKIP() << "no real colour libraries under " << root;
}

// ---- The angle model --------------------------------------------------------------------------------

TEST(AngleModels, GraphicAnglesByModel) {
  const struct {
    std::int32_t model;
    double angle;
    double expected;
  } cases[] = {
      {0, 0.0, 90.0},   {0, 270.0, 0.0},   {0, 269.0, 359.0}, {0, -90.0, 0.0},  {1, 0.0, 360.0},
      {1, 90.0, 270.0}, {1, 360.0, 0.0},   {1, 725.0, 355.0}, {2, 0.0, 0.0},    {2, 123.25, 123.25},
      {2, -725.5, -725.5}, {3, 45.0, 0.0}, {-1, 45.0, 0.0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(ConvertAngle(c.model, c.angle), c.expected) << "model " << c.model << ", angle " << c.angle;
  }
}

TEST(AngleModels, RotateTypeIsTheOneHandedIn) {
  EXPECT_DOUBLE_EQ(GetAngleValue(0.0, 1), 360.0);
  EXPECT_DOUBLE_EQ(GetAngleValue(0.0, 0), 90.0);
  EXPECT_DOUBLE_EQ(GetAngleValue(12.5, 2), 12.5);
  EXPECT_DOUBLE_EQ(GetAngleValue(12.5, 9), 0.0);
}

}  // namespace
