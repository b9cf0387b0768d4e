#include "settings/ini_file.h"

#include "temp_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Kvx::IniFile;


std::string Repeat(const std::string& piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// Every value must come back as it went in, through inih, with no line longer than the reader's
// buffer and nothing left over that the reader would complain about.
TEST(IniFileValues, SurviveWritingAndReading) {
  const struct {
    const char* name;
    std::string value;
  } cases[] = {
      {"empty", ""},
      {"plain", "ESRI Default Marker"},
      {"chinese path with spaces", "/home/用户/地图 数据/输出 文件"},
      {"leading blank", "  /data"},
      {"trailing blank", "/data  "},
      {"blank then semicolon", "/data/a ;b"},
      {"tab then semicolon", "a\t;b"},
      {"starts with semicolon", ";x"},
      {"starts with hash", "#x"},
      {"starts with bracket", "[x]"},
      {"quoted text", "\"quoted\""},
      {"backslashes", "C:\\data\\maps\\"},
      {"escape look-alike", "\\x20\\n"},
      {"line break", "one\ntwo\r\nthree"},
      {"control bytes", std::string("a\x01z\x7F", 4)},
      {"equals and colon", "a=b:c"},
      {"long ascii", Repeat("abcdefghij", 150)},
      {"long chinese", Repeat("测绘数据", 300)},
      {"long with blanks everywhere", Repeat("a ", 400) + " "},
      {"long with hashes", Repeat("#", 500)},
      {"long blanks only", Repeat(" ", 700)},
      {"long semicolons", Repeat(" ;", 300)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    IniFile written;
    written.Set("FilePath", "OutPath", c.value);
    const std::string text = written.Text();
    for (const auto& line : KvxTest::SplitLines(text)) EXPECT_LE(line.size(), Kvx::kIniLineBudget) << line;

    const IniFile read(text);
    EXPECT_TRUE(read.Problems().empty()) << text;
    const auto value = read.Find("FilePath", "OutPath");
    ASSERT_TRUE(value.has_value()) << text;
    EXPECT_TRUE(value->valid) << text;
    EXPECT_EQ(value->text, c.value) << text;
  }
}

TEST(IniFileValues, PlainValuesStayReadable) {
  EXPECT_EQ(IniFile::EncodeEntry("Pntfix", "点"), std::vector<std::string>{"Pntfix=点"});
  EXPECT_EQ(IniFile::EncodeEntry("OutPath", "/home/u/my maps"), std::vector<std::string>{"OutPath=/home/u/my maps"});
  EXPECT_EQ(IniFile::EncodeEntry("OutPath", ""), std::vector<std::string>{"OutPath="});
  EXPECT_EQ(IniFile::EncodeEntry("OutPath", "/a ;b"), std::vector<std::string>{"OutPath=\"/a \\;b\""});
}

// What a hand-written file reads as.
TEST(IniFileReading, HandWrittenFiles) {
  const struct {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    bool found;
    bool valid;
    std::string value;
  } cases[] = {
      {"names ignore letter case", "[general]\nloglevel = 2\n", "General", "LogLevel", true, true, "2"},
      {"blanks around the section name", "[ General ]\nLogLevel=2\n", "General", "LogLevel", true, true, "2"},
      {"colon separator", "[General]\nLogLevel: 2\n", "General", "LogLevel", true, true, "2"},
      {"inline comment", "[General]\nLogLevel=2 ; two\n", "General", "LogLevel", true, true, "2"},
      {"last duplicate wins", "[General]\nLogLevel=1\nLogLevel=2\n", "General", "LogLevel", true, true, "2"},
      {"section met twice", "[General]\nA=1\n[Other]\n[General]\nLogLevel=4\n", "General", "LogLevel", true, true, "4"},
      {"other section", "[Output]\nLogLevel=2\n", "General", "LogLevel", false, false, ""},
      {"crlf lines", "[General]\r\nLogLevel=2\r\n", "General", "LogLevel", true, true, "2"},
      {"byte order mark", "\xEF\xBB\xBF[General]\nLogLevel=2\n", "General", "LogLevel", true, true, "2"},
      {"indented entry after a header", "[A]\nX=1\n[S]\n  K=v\n", "S", "K", true, true, "v"},
      {"unquoted continuation", "[S]\nK=one\n  two\n", "S", "K", true, true, "one\ntwo"},
      {"quoted continuation", "[S]\nK=\"one \\x20\n  two\"\n", "S", "K", true, true, "one  two"},
      {"unclosed quote", "[S]\nK=\"one\n", "S", "K", true, false, ""},
      {"text after closing quote", "[S]\nK=\"one\" two\n", "S", "K", true, false, ""},
      {"unknown escape", "[S]\nK=\"\\q\"\n", "S", "K", true, false, ""},
      {"empty value", "[S]\nK=\n", "S", "K", true, true, ""},
      {"no final newline", "[S]\nK=v", "S", "K", true, true, "v"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const IniFile file(c.text);
    const auto value = file.Find(c.section, c.key);
    ASSERT_EQ(value.has_value(), c.found);
    if (!c.found) continue;
    EXPECT_EQ(value->valid, c.valid);
    if (c.valid) {
      EXPECT_EQ(value->text, c.value);
    }
  }
}

TEST(IniFileReading, ReportsLinesItCannotRead) {
  const std::string longLine = "OutPath=/" + std::string(300, 'x');
  const IniFile file("[FilePath]\n" + longLine + "\nnot an entry\n[unclosed\nLibPath=/lib\n");
  ASSERT_EQ(file.Problems().size(), 3u);
  EXPECT_NE(file.Problems()[0].find("line 2"), std::string::npos);
  EXPECT_NE(file.Problems()[1].find("line 3"), std::string::npos);
  EXPECT_NE(file.Problems()[2].find("line 4"), std::string::npos);
  // The cut-off rest of a long line must not turn into an entry of its own.
  EXPECT_FALSE(file.Find("FilePath", "OutPath").has_value());
  ASSERT_TRUE(file.Find("FilePath", "LibPath").has_value());
  EXPECT_EQ(file.Find("FilePath", "LibPath")->text, "/lib");
}

// A change rewrites the lines of its own entry and leaves every other byte alone.
TEST(IniFileEditing, TouchesOnlyItsEntry) {
  const struct {
    const char* name;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
  } cases[] = {
      {"replaced in place", "; mine\n[General]\nFoo=1\nLogLevel=3 ; old\nBar=2\n", "General", "LogLevel", "5",
       "; mine\n[General]\nFoo=1\nLogLevel=5\nBar=2\n"},
      {"letter case of the file kept for the section", "[general]\nloglevel=3\n", "General", "LogLevel", "5",
       "[general]\nLogLevel=5\n"},
      {"added after the last entry of its section", "[General]\nFoo=1\n; note\n\n[Output]\nX=1\n", "General",
       "LogLevel", "5", "[General]\nFoo=1\nLogLevel=5\n; note\n\n[Output]\nX=1\n"},
      {"added to a section without entries", "[General]\n; nothing yet\n\n\n[Output]\n", "General", "LogLevel", "5",
       "[General]\n; nothing yet\nLogLevel=5\n\n\n[Output]\n"},
      {"not joined to an indented stray line", "[General]\n  junk\n[Output]\n", "General", "LogLevel", "5",
       "[General]\n  junk\nLogLevel=5\n[Output]\n"},
      {"new section at the end", "[Other]\nX=1", "General", "LogLevel", "5", "[Other]\nX=1\n\n[General]\nLogLevel=5\n"},
      {"new section in an empty file", "", "General", "LogLevel", "5", "[General]\nLogLevel=5\n"},
      {"duplicates collapsed", "[General]\nLogLevel=1\nA=1\nLogLevel=2\nB=2\n", "General", "LogLevel", "5",
       "[General]\nLogLevel=5\nA=1\nB=2\n"},
      {"continuation lines replaced", "[S]\nK=\"aaa\n  bbb\"\nL=1\n", "S", "K", "v", "[S]\nK=v\nL=1\n"},
      {"crlf kept", "[General]\r\nFoo=1\r\n", "General", "LogLevel", "5", "[General]\r\nFoo=1\r\nLogLevel=5\r\n"},
      {"byte order mark kept", "\xEF\xBB\xBF[General]\nLogLevel=1\n", "General", "LogLevel", "5",
       "\xEF\xBB\xBF[General]\nLogLevel=5\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    IniFile file(c.before);
    EXPECT_EQ(file.Text(), c.before);  // nothing changed yet: byte for byte
    file.Set(c.section, c.key, c.value);
    EXPECT_EQ(file.Text(), c.after);
    const auto value = IniFile(file.Text()).Find(c.section, c.key);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->text, c.value);
  }
}

}  // namespace
