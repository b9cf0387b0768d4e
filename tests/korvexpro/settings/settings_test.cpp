#include "settings/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "temp_config.h"

namespace {

namespace fs = std::filesystem;
using namespace Kvx;
using KvxTest::ReadText;
using KvxTest::ScopedEnv;
using KvxTest::TempConfigHome;
using KvxTest::ScratchDir;
using KvxTest::WriteText;

const SettingInfo& Info(std::string_view name) {
  const SettingInfo* info = FindSetting(name);
  if (info == nullptr) ADD_FAILURE() << "no setting " << name;
  return info != nullptr ? *info : SettingTable().front();
}

std::string Value(const Settings& settings, std::string_view name) { return FormatSetting(settings, Info(name)); }


bool Mentions(const std::vector<std::string>& messages, std::string_view what) {
  return std::any_of(messages.begin(), messages.end(),
                     [&](const std::string& m) { return m.find(what) != std::string::npos; });
}

// ---- The table and its defaults ----------------------------------------------------------------

TEST(SettingsTable, EverySettingWithItsSectionTypeAndDefault) {
  const struct {
    const char* section;
    const char* key;
    char type;
    const char* defaultValue;  // nullptr: a folder worked out from the environment
  } expected[] = {
      {"FilePath", "LogPath", 'S', nullptr},
      {"FilePath", "LibPath", 'S', nullptr},
      {"FilePath", "WorkPath", 'S', nullptr},
      {"FilePath", "OutPath", 'S', nullptr},
      {"General", "ExportEmptyFile", 'I', "0"},
      {"General", "LogLevel", 'I', "3"},
      {"General", "MaxFiles", 'I', "65536"},
      {"General", "MaxErrors", 'I', "64"},
      {"General", "AutoUpdate", 'I', "0"},
      {"Output", "ExportProjection", 'I', "1"},
      {"Output", "ExportLayerIndex", 'I', "1"},
      {"Styles", "SymbolType", 'I', "0"},
      {"Styles", "SymbolFontName", 'S', "ESRI Default Marker"},
      {"Styles", "ColorModel", 'I', "0"},
      {"Styles", "RotateType", 'I', "0"},
      {"Styles", "CodePage", 'I', "0"},
      {"Styles", "SingleFont", 'S', "Times New Roman"},
      {"Styles", "FontAdjust", 'F', "1.10"},
      {"Affix", "AffixType", 'I', "1"},
      {"Affix", "Mpjfix", 'S', "M"},
      {"Affix", "Wbfix", 'S', "B"},
      {"Affix", "Pntfix", 'S', "T"},
      {"Affix", "Linfix", 'S', "L"},
      {"Affix", "Regfix", 'S', "P"},
      {"Affix", "Netfix", 'S', "N"},
      {"Affix", "Annofix", 'S', "A"},
      {"Affix", "Arcfix", 'S', "C"},
      {"Affix", "Nodefix", 'S', "D"},
      {"Workspace", "ThemeStyle", 'I', "0"},
      {"Styles", "QgisStyle", 'I', "1"},
      {"General", "Jobs", 'I', "0"},
      {"Output", "TargetCrs", 'S', ""},
      {"Output", "SourceCrs", 'S', ""},
      {"Output", "SevenParameters", 'S', ""},
      {"Output", "RequireDatumShift", 'I', "0"},
      {"Output", "RepairGeometry", 'I', "0"},
      {"Output", "Format", 'I', "0"},
  };
  const auto table = SettingTable();
  ASSERT_EQ(table.size(), std::size(expected));
  const Settings defaults;
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(expected[i].key);
    EXPECT_EQ(table[i].section, expected[i].section);
    EXPECT_EQ(table[i].key, expected[i].key);
    EXPECT_EQ(static_cast<char>(table[i].type), expected[i].type);
    if (expected[i].defaultValue != nullptr) {
      EXPECT_EQ(FormatSetting(defaults, table[i]), expected[i].defaultValue);
    }
  }
  EXPECT_FLOAT_EQ(defaults.FontAdjust, 1.10f);
}

TEST(SettingsTable, FolderDefaultsComeFromTheEnvironment) {
  ScratchDir dir;
  const fs::path data = dir.Path() / "data 数据";
  ScopedEnv xdgData("XDG_DATA_HOME", data.string() + "/");
  ScopedEnv tmp("TMPDIR", (dir.Path() / "tmp 临时").string() + "/");
  fs::create_directories(dir.Path() / "tmp 临时");

  const Settings defaults;
  EXPECT_EQ(defaults.WorkPath, data.string());
  EXPECT_EQ(defaults.OutPath, data.string());
  EXPECT_EQ(defaults.LogPath, (dir.Path() / "tmp 临时").string());
  const fs::path program = fs::read_symlink("/proc/self/exe").parent_path();
  EXPECT_EQ(defaults.LibPath, (program / "Slib").string());
}

TEST(SettingsTable, SettingsFileAndDataFolderFallBackToHome) {
  const struct {
    const char* name;
    std::optional<std::string> xdgConfig, xdgData;
    std::string file, data;
  } cases[] = {
      {"unset", std::nullopt, std::nullopt, "/home/tester/.config/Halvard/KorvexPro.ini",
       "/home/tester/.local/share"},
      {"empty", "", "", "/home/tester/.config/Halvard/KorvexPro.ini", "/home/tester/.local/share"},
      {"relative paths are ignored", "cfg", "share", "/home/tester/.config/Halvard/KorvexPro.ini",
       "/home/tester/.local/share"},
      {"absolute paths", "/x/cfg/", "/x/my data", "/x/cfg/Halvard/KorvexPro.ini", "/x/my data"},
  };
  ScopedEnv home("HOME", "/home/tester/");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv config("XDG_CONFIG_HOME", c.xdgConfig);
    ScopedEnv data("XDG_DATA_HOME", c.xdgData);
    EXPECT_EQ(DefaultSettingsFile().string(), c.file);
    EXPECT_EQ(AppDataFolder().string(), c.data);
  }
}

TEST(SettingsTable, NamesAreFoundWithoutRegardToLetterCase) {
  EXPECT_EQ(FindSetting("General/LogLevel"), &Info("General/LogLevel"));
  EXPECT_EQ(FindSetting("general/loglevel"), &Info("General/LogLevel"));
  EXPECT_EQ(FindSetting(" STYLES/FontAdjust "), &Info("Styles/FontAdjust"));
  for (const char* bad : {"LogLevel", "General/", "/LogLevel", "General/LogLevel/x", "Output/LogLevel", ""}) {
    EXPECT_EQ(FindSetting(bad), nullptr) << bad;
  }
  EXPECT_EQ(SettingName(Info("affix/pntfix")), "Affix/Pntfix");
}

// ---- Typed assignment (the command line's "set") -----------------------------------------------

TEST(SettingsAssign, TakesOnlyValuesOfTheSettingsType) {
  std::string chinese2599;
  for (int i = 0; i < 2599; ++i) chinese2599 += "图";
  const struct {
    const char* name;
    std::string text;
    bool ok;
    std::string stored;  // FormatSetting afterwards; the default when refused
  } cases[] = {
      {"General/LogLevel", "5", true, "5"},
      {"General/LogLevel", " +7 ", true, "7"},
      {"General/LogLevel", "-2147483648", true, "-2147483648"},
      {"General/LogLevel", "2147483648", false, "3"},
      {"General/LogLevel", "abc", false, "3"},
      {"General/LogLevel", "1.0", false, "3"},
      {"General/LogLevel", "0x10", false, "3"},
      {"General/LogLevel", "", false, "3"},
      {"Output/Format", "1", true, "1"},
      {"Output/Format", "0", true, "0"},
      {"Output/Format", "2", false, "0"},
      {"Output/Format", "-1", false, "0"},
      {"Styles/FontAdjust", "2.5", true, "2.50"},
      {"Styles/FontAdjust", "10", true, "10.00"},
      {"Styles/FontAdjust", "0.1", true, "0.10"},
      {"Styles/FontAdjust", "12", false, "1.10"},
      {"Styles/FontAdjust", "0.05", false, "1.10"},
      {"Styles/FontAdjust", "nan", false, "1.10"},
      {"Styles/FontAdjust", "1,5", false, "1.10"},
      {"Affix/Pntfix", "点", true, "点"},
      {"Affix/Pntfix", "", true, ""},
      {"Affix/Pntfix", "\xFF", false, "T"},
      {"FilePath/OutPath", "", true, ""},
      {"FilePath/OutPath", std::string(2599, 'a'), true, std::string(2599, 'a')},
      {"FilePath/OutPath", chinese2599, true, chinese2599},
      {"FilePath/OutPath", std::string(2600, 'a'), false, ""},  // checked below against the default
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " <- " + c.text.substr(0, 20));
    Settings settings;
    const std::string before = Value(settings, c.name);
    const SettingCheck check = AssignSetting(settings, Info(c.name), c.text);
    EXPECT_EQ(check.ok, c.ok);
    if (c.ok) {
      EXPECT_TRUE(check.message.empty());
      EXPECT_EQ(Value(settings, c.name), c.stored);
    } else {
      EXPECT_NE(check.message.find(c.name), std::string::npos) << check.message;
      EXPECT_EQ(Value(settings, c.name), before);
    }
  }
}

// ---- Loading and saving --------------------------------------------------------------------------

TEST(SettingsFile, RoundTripThroughTheUsersFile) {
  TempConfigHome home;
  const struct {
    const char* name;
    std::string text;
  } values[] = {
      {"FilePath/LogPath", "/var/log/korvex pro"},
      {"FilePath/LibPath", "/opt/Map GIS/Slib 系统库"},
      {"FilePath/WorkPath", "/home/用户/工作 目录"},
      {"FilePath/OutPath", ""},
      {"General/ExportEmptyFile", "1"},
      {"General/LogLevel", "-7"},
      {"General/MaxFiles", "2147483647"},
      {"General/MaxErrors", "-2147483648"},
      {"General/AutoUpdate", "1"},
      {"Output/ExportProjection", "2"},
      {"Output/ExportLayerIndex", "0"},
      {"Styles/SymbolType", "4"},
      {"Styles/SymbolFontName", "宋体 Marker"},
      {"Styles/ColorModel", "2"},
      {"Styles/RotateType", "1"},
      {"Styles/CodePage", "1"},
      {"Styles/SingleFont", " Arial ;Narrow "},
      {"Styles/FontAdjust", "0.1"},
      {"Affix/AffixType", "2"},
      {"Affix/Mpjfix", "工程"},
      {"Affix/Wbfix", "表"},
      {"Affix/Pntfix", "点"},
      {"Affix/Linfix", "线"},
      {"Affix/Regfix", "面"},
      {"Affix/Netfix", "网"},
      {"Affix/Annofix", "注释"},
      {"Affix/Arcfix", "弧"},
      {"Affix/Nodefix", "#结点"},
      {"Workspace/ThemeStyle", "3"},
      {"Styles/QgisStyle", "0"},
      {"General/Jobs", "3"},
      {"Output/TargetCrs", "EPSG:4490"},
      {"Output/SourceCrs", "+proj=tmerc +lon_0=105 +ellps=krass +units=m"},
      {"Output/SevenParameters", "-12.5,130.2,42.7,0.8,-1.2,2.5,-3.1"},
      {"Output/RequireDatumShift", "1"},
      {"Output/RepairGeometry", "1"},
      {"Output/Format", "1"},
  };
  ASSERT_EQ(std::size(values), SettingTable().size());

  const Settings defaults;
  Settings& app = AppSettings();
  app = Settings();
  for (const auto& v : values) {
    ASSERT_TRUE(AssignSetting(app, Info(v.name), v.text).ok) << v.name;
    EXPECT_NE(Value(app, v.name), Value(defaults, v.name)) << v.name << " must differ from its default";
  }
  const Settings saved = app;
  const SettingsSaveResult save = SaveSettings();
  ASSERT_TRUE(save.ok) << save.error;
  ASSERT_TRUE(fs::exists(home.ConfigFile()));

  app = Settings();
  const SettingsLoadResult load = LoadSettings();
  EXPECT_TRUE(load.fileRead);
  EXPECT_TRUE(load.error.empty()) << load.error;
  EXPECT_TRUE(load.warnings.empty()) << load.warnings.front();
  EXPECT_EQ(app, saved);
  EXPECT_FLOAT_EQ(app.FontAdjust, 0.1f);

  // Text and paths are stored as they are, readable in the file.
  const std::string text = ReadText(home.ConfigFile()).value_or("");
  for (const char* line : {"Pntfix=点\n", "WorkPath=/home/用户/工作 目录\n", "OutPath=\n", "FontAdjust=0.10\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  app = Settings();
}

TEST(SettingsFile, NewFileListsSectionsAndKeysInWritingOrder) {
  ScratchDir dir;
  const fs::path file = dir.Path() / "new.ini";
  ASSERT_TRUE(SaveSettings(Settings(), file).ok);
  std::vector<std::string> names;
  for (const auto& line : KvxTest::SplitLines(ReadText(file).value_or(""))) {
    if (line.empty()) continue;
    names.push_back(line.front() == '[' ? line : line.substr(0, line.find('=')));
  }
  const std::vector<std::string> expected = {
      "[General]",   "ExportEmptyFile", "LogLevel", "MaxFiles", "MaxErrors",  "AutoUpdate", "Jobs", "[Output]",
      "ExportProjection", "ExportLayerIndex", "Format", "RepairGeometry", "RequireDatumShift", "TargetCrs", "SourceCrs",
      "SevenParameters", "[Styles]", "SymbolType", "SymbolFontName", "ColorModel",
      "RotateType",  "CodePage",        "SingleFont", "FontAdjust", "QgisStyle", "[FilePath]", "WorkPath",  "LogPath",
      "LibPath",     "OutPath",         "[Affix]",  "AffixType", "Mpjfix",     "Wbfix",      "Pntfix",
      "Linfix",      "Regfix",          "Netfix",   "Annofix",  "Arcfix",     "Nodefix",    "[Workspace]",
      "ThemeStyle"};
  EXPECT_EQ(names, expected);
}

TEST(SettingsFile, MissingEntriesAndUnreadableValuesGiveDefaults) {
  ScratchDir dir;
  const fs::path file = dir.Path() / "KorvexPro.ini";
  WriteText(file,
            "[General]\n"
            "LogLevel=abc\n"
            "MaxFiles=99999999999\n"
            "MaxErrors=1.5\n"
            "AutoUpdate=0x1\n"
            "ExportEmptyFile=\n"
            "[Output]\n"
            "ExportProjection=+2\n"
            "ExportLayerIndex=\"0\"\n"
            "Format=3\n"
            "[Styles]\n"
            "ColorModel=99\n"
            "RotateType=-1\n"
            "[Affix]\n"
            "Pntfix=\"X\n"
            "Wbfix=\xFF\xFE\n"
            "Linfix=\"\\q\"\n");
  const struct {
    const char* name;
    const char* value;
    bool warned;
  } expected[] = {
      {"General/LogLevel", "3", true},         {"General/MaxFiles", "65536", true},
      {"General/MaxErrors", "64", true},       {"General/AutoUpdate", "0", true},
      {"General/ExportEmptyFile", "0", true},  {"Output/ExportProjection", "2", false},
      {"Output/ExportLayerIndex", "0", false}, {"Styles/ColorModel", "99", false},  // no range test at load
      {"Styles/RotateType", "-1", false},      {"Affix/Pntfix", "T", true},
      {"Affix/Wbfix", "B", true},              {"Affix/Linfix", "L", true},
      {"Affix/Regfix", "P", false},            {"FilePath/LibPath", nullptr, false},
      {"Output/Format", "0", true},
  };
  Settings settings;
  settings.LogLevel = 0;  // loading starts from the defaults, not from what the object held
  const SettingsLoadResult load = LoadSettings(settings, file);
  EXPECT_TRUE(load.fileRead);
  const Settings defaults;
  std::size_t warnings = 0;
  for (const auto& e : expected) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(Value(settings, e.name), e.value != nullptr ? e.value : Value(defaults, e.name));
    EXPECT_EQ(Mentions(load.warnings, e.name), e.warned);
    warnings += e.warned;
  }
  EXPECT_EQ(load.warnings.size(), warnings);
}

TEST(SettingsFile, FontAdjustOutsideItsRangeBecomesOne) {
  ScratchDir dir;
  const fs::path file = dir.Path() / "KorvexPro.ini";
  const struct {
    std::optional<std::string> stored;  // nullopt: no entry
    float loaded;
    const char* written;
    bool warned;
  } cases[] = {
      {std::nullopt, 1.10f, "1.10", false},
      {"1.10", 1.10f, "1.10", false},
      {"0.1", 0.1f, "0.10", false},
      {"10", 10.0f, "10.00", false},
      {" 2.5 ", 2.5f, "2.50", false},
      {"1e0", 1.0f, "1.00", false},
      {"0.05", 1.0f, "1.00", true},
      {"0.0999", 1.0f, "1.00", true},
      {"12", 1.0f, "1.00", true},
      {"10.001", 1.0f, "1.00", true},
      {"-1", 1.0f, "1.00", true},
      {"abc", 1.0f, "1.00", true},
      {"", 1.0f, "1.00", true},
      {"nan", 1.0f, "1.00", true},
      {"inf", 1.0f, "1.00", true},
      {"1e40", 1.0f, "1.00", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored.value_or("(none)"));
    WriteText(file, c.stored ? "[Styles]\nFontAdjust=" + *c.stored + "\n" : "[Styles]\n");
    Settings settings;
    const SettingsLoadResult load = LoadSettings(settings, file);
    EXPECT_EQ(settings.FontAdjust, c.loaded);
    EXPECT_EQ(Mentions(load.warnings, "Styles/FontAdjust"), c.warned);
    ASSERT_TRUE(SaveSettings(settings, file).ok);
    EXPECT_NE(ReadText(file).value_or("").find(std::string("\nFontAdjust=") + c.written + "\n"), std::string::npos);
  }
}

TEST(SettingsFile, LongFoldersAreCutToTheirLimit) {
  ScratchDir dir;
  const fs::path file = dir.Path() / "KorvexPro.ini";
  std::string folder = "/";
  for (int i = 0; i < 3000; ++i) folder += "图";
  Settings settings;
  settings.OutPath = folder;
  ASSERT_TRUE(SaveSettings(settings, file).ok);  // written over continuation lines
  const SettingsLoadResult load = LoadSettings(settings, file);
  EXPECT_EQ(settings.OutPath, folder.substr(0, 1 + 2598 * 3));
  EXPECT_TRUE(Mentions(load.warnings, "FilePath/OutPath"));
}

TEST(SettingsFile, UnknownSectionsKeysAndCommentsAreKept) {
  ScratchDir dir;
  const fs::path file = dir.Path() / "KorvexPro.ini";
  const std::vector<std::string> original = {
      "; KorvexPro settings, edited by hand",
      "[general]",
      "LogLevel = 1",
      "Foo=bar ; a key this program does not know",
      "",
      "[Plugins]",
      "# a section this program does not know",
      "Name=扩展 一",
      "[Affix]",
      "Pntfix=点",
  };
  std::string text;
  for (const auto& line : original) text += line + "\n";
  WriteText(file, text);

  Settings settings;
  const SettingsLoadResult load = LoadSettings(settings, file);
  EXPECT_TRUE(load.warnings.empty());
  EXPECT_EQ(settings.LogLevel, 1);
  EXPECT_EQ(settings.Pntfix, "点");
  settings.LogLevel = 2;
  ASSERT_TRUE(SaveSettings(settings, file).ok);

  // Every old line other than the changed one is still there, in its order; the changed entry kept
  // its place, and the entries that were missing went into their own sections.
  std::vector<std::string> expected = original;
  expected[2] = "LogLevel=2";
  const std::vector<std::string> now = KvxTest::SplitLines(ReadText(file).value_or(""));
  std::size_t at = 0;
  std::vector<std::size_t> where;
  for (const auto& line : expected) {
    while (at < now.size() && now[at] != line) ++at;
    ASSERT_LT(at, now.size()) << "lost or moved: " << line;
    where.push_back(at++);
  }
  const auto maxFiles = std::find(now.begin(), now.end(), "MaxFiles=65536") - now.begin();
  EXPECT_GT(maxFiles, static_cast<std::ptrdiff_t>(where[1]));  // inside [general] ...
  EXPECT_LT(maxFiles, static_cast<std::ptrdiff_t>(where[5]));  // ... before [Plugins]
  EXPECT_EQ(std::count(now.begin(), now.end(), "[Affix]"), 1);

  Settings again;
  LoadSettings(again, file);
  EXPECT_EQ(again, settings);
}

TEST(SettingsFile, SavingWhatIsStoredLeavesTheFileAlone) {
  ScratchDir dir;
  const fs::path file = dir.Path() / "KorvexPro.ini";
  Settings settings;
  ASSERT_TRUE(SaveSettings(settings, file).ok);
  std::string text = ReadText(file).value_or("") + "; trailing comment without newline";
  WriteText(file, text);
  ASSERT_TRUE(SaveSettings(settings, file).ok);
  EXPECT_EQ(ReadText(file), text);
}

TEST(SettingsFile, SymbolicLinkIsWrittenThrough) {
  ScratchDir dir;
  const fs::path real = dir.Path() / "shared" / "real.ini";
  const fs::path link = dir.Path() / "KorvexPro.ini";
  WriteText(real, "[General]\nLogLevel=1\n");
  fs::create_symlink(real, link);
  Settings settings;
  settings.LogLevel = 2;
  ASSERT_TRUE(SaveSettings(settings, link).ok);
  EXPECT_TRUE(fs::is_symlink(link));
  Settings again;
  LoadSettings(again, real);
  EXPECT_EQ(again.LogLevel, 2);
}

// ---- A settings file that cannot be used does not stop the program --------------------------------

TEST(SettingsFailures, ConfigFolderInsideAFile) {
  ScratchDir dir;
  WriteText(dir.Path() / "not a folder", "x");
  ScopedEnv config("XDG_CONFIG_HOME", (dir.Path() / "not a folder").string());
  Settings settings;
  settings.LogLevel = 9;
  const SettingsLoadResult load = LoadSettings(settings, DefaultSettingsFile());
  EXPECT_FALSE(load.fileRead);
  EXPECT_EQ(settings, Settings());
  const SettingsSaveResult save = SaveSettings(settings, DefaultSettingsFile());
  EXPECT_FALSE(save.ok);
  EXPECT_FALSE(save.error.empty());
  EXPECT_EQ(ReadText(dir.Path() / "not a folder"), "x");
}

TEST(SettingsFailures, MissingConfigFolderIsCreated) {
  TempConfigHome home;
  ASSERT_FALSE(fs::exists(home.ConfigFile().parent_path()));
  Settings settings;
  EXPECT_FALSE(LoadSettings(settings, home.ConfigFile()).fileRead);
  const SettingsSaveResult save = SaveSettings(settings, home.ConfigFile());
  EXPECT_TRUE(save.ok) << save.error;
  EXPECT_TRUE(fs::is_regular_file(home.ConfigFile()));
}

TEST(SettingsFailures, FileNameTakenByAFolder) {
  TempConfigHome home;
  fs::create_directories(home.ConfigFile());
  Settings settings;
  const SettingsLoadResult load = LoadSettings(settings, home.ConfigFile());
  EXPECT_FALSE(load.fileRead);
  EXPECT_FALSE(load.error.empty());
  EXPECT_EQ(settings, Settings());
  EXPECT_FALSE(SaveSettings(settings, home.ConfigFile()).ok);
  EXPECT_TRUE(fs::is_directory(home.ConfigFile()));
}

TEST(SettingsFailures, NoFileNameAtAll) {
  Settings settings;
  EXPECT_FALSE(LoadSettings(settings, fs::path()).error.empty());
  EXPECT_EQ(settings, Settings());
  EXPECT_FALSE(SaveSettings(settings, fs::path()).ok);
}

TEST(SettingsFailures, ReadOnlyConfigFolder) {
  KvxTest::WithPermissionsBinding([] {
  TempConfigHome home;
  const fs::path folder = home.ConfigFile().parent_path();
  fs::create_directories(folder);
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);

  // No file yet: loading gives the defaults, saving fails with a reason.
  Settings settings;
  const SettingsLoadResult load = LoadSettings(settings, home.ConfigFile());
  EXPECT_FALSE(load.fileRead);
  EXPECT_TRUE(load.error.empty());
  const SettingsSaveResult save = SaveSettings(settings, home.ConfigFile());
  EXPECT_FALSE(save.ok);
  EXPECT_NE(save.error.find(folder.string()), std::string::npos) << save.error;

  // A writable file in the read-only folder is rewritten in place.
  ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
  WriteText(home.ConfigFile(), "[General]\nLogLevel=1\n");
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  settings.LogLevel = 2;
  EXPECT_TRUE(SaveSettings(settings, home.ConfigFile()).ok);
  Settings again;
  LoadSettings(again, home.ConfigFile());
  EXPECT_EQ(again.LogLevel, 2);

  // A read-only file in a read-only folder stays as it was.
  const std::string before = ReadText(home.ConfigFile()).value_or("");
  ASSERT_EQ(::chmod(home.ConfigFile().c_str(), 0444), 0);
  settings.LogLevel = 3;
  EXPECT_FALSE(SaveSettings(settings, home.ConfigFile()).ok);
  EXPECT_EQ(ReadText(home.ConfigFile()), before);
  });
}

TEST(SettingsFailures, UnreadableFileIsNotOverwritten) {
  KvxTest::WithPermissionsBinding([] {
  TempConfigHome home;
  WriteText(home.ConfigFile(), "[General]\nLogLevel=1\n; precious\n");
  ASSERT_EQ(::chmod(home.ConfigFile().c_str(), 0200), 0);
  Settings settings;
  const SettingsLoadResult load = LoadSettings(settings, home.ConfigFile());
  EXPECT_FALSE(load.error.empty());
  EXPECT_EQ(settings, Settings());
  EXPECT_FALSE(SaveSettings(settings, home.ConfigFile()).ok);
  ASSERT_EQ(::chmod(home.ConfigFile().c_str(), 0600), 0);
  EXPECT_EQ(ReadText(home.ConfigFile()), "[General]\nLogLevel=1\n; precious\n");
  });
}

}  // namespace
