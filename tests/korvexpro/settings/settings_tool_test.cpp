#include "settings/settings_tool.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "settings/settings.h"
#include "temp_config.h"

namespace {

namespace fs = std::filesystem;
using namespace Kvx;
using KvxTest::ReadText;
using KvxTest::ScratchDir;
using KvxTest::WriteText;

const std::string kHandWritten =
    "; my settings\n"
    "[General]\n"
    "LogLevel=1\n"
    "Custom=kept ; unknown key\n"
    "[Styles]\n"
    "FontAdjust=abc\n";

TEST(SettingsSetCommand, RefusesUnknownNamesAndWrongValuesWithoutTouchingTheFile) {
  const struct {
    const char* name;
    std::string value;
    const char* message;  // part of what stderr must say
  } cases[] = {
      {"General/NoSuchKey", "1", "unknown setting \"General/NoSuchKey\""},
      {"LogLevel", "1", "did you mean General/LogLevel?"},
      {"Styles/LogLevel", "1", "did you mean General/LogLevel?"},
      {"", "1", "unknown setting"},
      {"General/LogLevel", "three", "General/LogLevel takes a whole number"},
      {"General/LogLevel", "2147483648", "General/LogLevel takes a whole number"},
      {"General/LogLevel", "", "General/LogLevel takes a whole number"},
      {"Styles/FontAdjust", "fast", "Styles/FontAdjust takes a number from 0.10 to 10.00"},
      {"Styles/FontAdjust", "12", "\"12\" is outside"},
      {"Affix/Pntfix", "\xC3", "Affix/Pntfix takes UTF-8 text"},
      {"FilePath/OutPath", std::string(3000, 'x'), "at most 2599 characters"},
  };
  for (const bool fileExists : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(fileExists ? "existing file, " : "no file, ") + c.name + " <- " + c.value.substr(0, 20));
      ScratchDir dir;
      const fs::path file = dir.Path() / "KorvexPro.ini";
      if (fileExists) WriteText(file, kHandWritten);
      std::ostringstream err;
      EXPECT_EQ(RunSettingsSet(file, c.name, c.value, err), kSettingsExitRefused);
      EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
      if (fileExists) {
        EXPECT_EQ(ReadText(file), kHandWritten);
      } else {
        EXPECT_FALSE(fs::exists(file));
      }
    }
  }
}

TEST(SettingsSetCommand, ChangesOnlyTheNamedEntry) {
  ScratchDir dir;
  const fs::path file = dir.Path() / "KorvexPro.ini";
  const struct {
    const char* name;
    const char* value;
    const char* shown;  // what "get" prints afterwards
    std::string after;  // the whole file afterwards
  } steps[] = {
      {"general/loglevel", "-1", "-1", "; my settings\n[General]\nLogLevel=-1\nCustom=kept ; unknown key\n[Styles]\nFontAdjust=abc\n"},
      {"FilePath/OutPath", "/home/用户/my maps", "/home/用户/my maps",
       "; my settings\n[General]\nLogLevel=-1\nCustom=kept ; unknown key\n[Styles]\nFontAdjust=abc\n\n"
       "[FilePath]\nOutPath=/home/用户/my maps\n"},
      {"Styles/FontAdjust", "2.5", "2.50",
       "; my settings\n[General]\nLogLevel=-1\nCustom=kept ; unknown key\n[Styles]\nFontAdjust=2.50\n\n"
       "[FilePath]\nOutPath=/home/用户/my maps\n"},
      {"FilePath/OutPath", "", "",
       "; my settings\n[General]\nLogLevel=-1\nCustom=kept ; unknown key\n[Styles]\nFontAdjust=2.50\n\n"
       "[FilePath]\nOutPath=\n"},
  };
  WriteText(file, kHandWritten);
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    std::ostringstream out, err;
    EXPECT_EQ(RunSettingsSet(file, step.name, step.value, err), kSettingsExitOk) << err.str();
    EXPECT_EQ(ReadText(file), step.after);
    EXPECT_EQ(RunSettingsGet(file, step.name, out, err), kSettingsExitOk);
    EXPECT_EQ(out.str(), std::string(step.shown) + "\n");
  }
}

TEST(SettingsSetCommand, ReportsAFileThatCannotBeWritten) {
  ScratchDir dir;
  WriteText(dir.Path() / "plain file", "x");
  std::ostringstream err;
  EXPECT_EQ(RunSettingsSet(dir.Path() / "plain file" / "KorvexPro.ini", "General/LogLevel", "2", err),
            kSettingsExitFailed);
  EXPECT_FALSE(err.str().empty());
}

TEST(SettingsListCommand, ShowsEverySettingWithValueAndDefault) {
  ScratchDir dir;
  const fs::path file = dir.Path() / "KorvexPro.ini";
  WriteText(file, kHandWritten + "[Affix]\nPntfix=点\n");
  std::ostringstream out, err;
  EXPECT_EQ(RunSettingsList(file, out, err), kSettingsExitOk);
  // Columns are padded with blanks; one blank per gap is enough to compare.
  std::string text = out.str();
  for (std::size_t at; (at = text.find("  ")) != std::string::npos;) text.erase(at, 1);
  for (const auto& info : SettingTable()) EXPECT_NE(text.find(SettingName(info)), std::string::npos) << info.key;
  EXPECT_NE(text.find("General/LogLevel I 1 (default 3)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Affix/Pntfix S \"点\" (default \"T\")\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Styles/FontAdjust F 1.00 (default 1.10)\n"), std::string::npos) << text;
  // The unreadable FontAdjust is reported, not hidden.
  EXPECT_NE(err.str().find("Styles/FontAdjust"), std::string::npos) << err.str();
}

TEST(SettingsListCommand, WithoutAFileShowsTheDefaults) {
  ScratchDir dir;
  std::ostringstream out, err;
  EXPECT_EQ(RunSettingsList(dir.Path() / "none.ini", out, err), kSettingsExitOk);
  EXPECT_TRUE(err.str().empty());
  EXPECT_NE(out.str().find("\nOutput/ExportProjection   I  1  (default 1)\n"), std::string::npos) << out.str();
  EXPECT_FALSE(fs::exists(dir.Path() / "none.ini"));
}

TEST(SettingsResetCommand, WritesDefaultsOfOneOrAll) {
  ScratchDir dir;
  const fs::path file = dir.Path() / "KorvexPro.ini";
  WriteText(file, kHandWritten);
  std::ostringstream err;

  EXPECT_EQ(RunSettingsReset(file, "Nope/Nope", err), kSettingsExitRefused);
  EXPECT_EQ(ReadText(file), kHandWritten);

  EXPECT_EQ(RunSettingsReset(file, "General/LogLevel", err), kSettingsExitOk) << err.str();
  EXPECT_EQ(ReadText(file), "; my settings\n[General]\nLogLevel=3\nCustom=kept ; unknown key\n[Styles]\nFontAdjust=abc\n");

  EXPECT_EQ(RunSettingsReset(file, "", err), kSettingsExitOk) << err.str();
  Settings loaded;
  const SettingsLoadResult load = LoadSettings(loaded, file);
  EXPECT_TRUE(load.warnings.empty());
  EXPECT_EQ(loaded, Settings());
  EXPECT_NE(ReadText(file).value_or("").find("Custom=kept ; unknown key\n"), std::string::npos);
}

TEST(SettingsPathCommand, PrintsThePathInUse) {
  std::ostringstream out, err;
  EXPECT_EQ(RunSettingsPath("/x/my settings/设置.ini", out, err), kSettingsExitOk);
  EXPECT_EQ(out.str(), "/x/my settings/设置.ini\n");
  EXPECT_EQ(RunSettingsPath(fs::path(), out, err), kSettingsExitFailed);
  EXPECT_FALSE(err.str().empty());
}

}  // namespace
