// AVL legend files: byte for byte against expected files, readable as CR LF text, and the file
// handling around them.

#include "styles/avl_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "temp_config.h"
#include "vordex/text_encoding.h"

#ifndef KVX_TEST_DATA
#error "KVX_TEST_DATA must name the folder of the expected files"
#endif

namespace {

namespace fs = std::filesystem;
using namespace Kvx;
using KvxTest::ReadText;
using KvxTest::ScratchDir;

const fs::path kData = KVX_TEST_DATA;

struct AvlCase {
  const char* name;
  AvlKind kind;
  std::vector<std::int32_t> colours;
  std::vector<LegendEntry> entries;
  const char* font;
  const char* expectedFile;
};

// The entries as a layer's conversion collects them.
std::vector<LegendEntry> Collect(const std::vector<LegendEntry>& features) {
  LegendCollector collector(LegendMode::Legend);
  for (const LegendEntry& f : features) collector.Add(f);
  return {collector.Entries().begin(), collector.Entries().end()};
}

std::vector<AvlCase> Cases() {
  return {
      // Two entries in one colour (pure red): a solid line of symbol 1, width 1.0 mm (2.83 points), and
      // line type 1 with auxiliary type 0 (symbol 256), which keeps the dashed pattern.
      {"line legend", AvlKind::Line, {0x0000FF},
       Collect({{1, 0x0000FF, 0, 1.0f, 1.0f, 1.0f},
                {256, 0x0000FF, 0, 0.5f, 1.0f, 1.0f},
                {1, 0x0000FF, 0, 1.0f, 1.0f, 1.0f}}),
       "", "line_two_entries_one_colour.avl"},
      // One entry, one colour (pure blue), a Chinese font name.
      {"marker legend", AvlKind::Marker, {0xFF0000}, Collect({{12, 0xFF0000, 0, 2.0f, 3.0f, 0.0f}}), "宋体",
       "marker_one_entry.avl"},
      // Two patterns in two fill colours.
      {"region legend", AvlKind::Region, {0x00FF00, 0x000000},
       Collect({{5, 0x00FF00, 0x563412, 10.0f, 12.5f, 0.0f}, {0, 0x000000, 0, 0.0f, 0.0f, 0.0f}}), "",
       "region_two_colours.avl"},
  };
}

TEST(AvlWriter, FilesMatchTheExpectedFilesByteForByte) {
  for (const AvlCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> expected = ReadText(kData / c.expectedFile);
    ASSERT_TRUE(expected) << kData / c.expectedFile;
    EXPECT_EQ(BuildAvl(c.kind, c.colours, c.entries, c.font), *expected);

    ScratchDir dir;
    const fs::path base = dir.Path() / "输出 layer.v2";
    const AvlWriteResult result = WriteAvl(c.kind, base, c.colours, c.entries, c.font);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.file, dir.Path() / "输出 layer.v2.avl");
    EXPECT_EQ(ReadText(result.file), expected);
  }
  // The named writers are the same writer.
  ScratchDir dir;
  const auto cases = Cases();
  ASSERT_TRUE(WriteLineAvl(dir.Path() / "l", cases[0].colours, cases[0].entries).ok);
  ASSERT_TRUE(WriteMarkerAvl(dir.Path() / "m", cases[1].colours, cases[1].entries, "宋体").ok);
  ASSERT_TRUE(WriteRegionAvl(dir.Path() / "r", cases[2].colours, cases[2].entries).ok);
  EXPECT_EQ(ReadText(dir.Path() / "l.avl"), ReadText(kData / cases[0].expectedFile));
  EXPECT_EQ(ReadText(dir.Path() / "m.avl"), ReadText(kData / cases[1].expectedFile));
  EXPECT_EQ(ReadText(dir.Path() / "r.avl"), ReadText(kData / cases[2].expectedFile));
}

// Every line ends in CR LF, nothing else holds a CR, and the only bytes beyond ASCII are the font
// name, which reads back from GBK as it was given.
TEST(AvlWriter, FilesAreCrLfTextWithTheFontNameInGbk) {
  for (const AvlCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    const std::string text = BuildAvl(c.kind, c.colours, c.entries, c.font);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    std::size_t lines = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n') {
        ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        ++lines;
      } else if (text[i] == '\r') {
        ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
      }
    }
    EXPECT_GT(lines, 20u);

    std::string nonAscii;
    for (char ch : text) {
      if (static_cast<unsigned char>(ch) >= 0x80) nonAscii += ch;
    }
    if (c.kind == AvlKind::Marker) {
      // The name appears twice (AVStr 6 and 7), each time in GBK.
      EXPECT_EQ(MapGis::GbkToUtf8(nonAscii), std::string(c.font) + c.font);
      EXPECT_NE(text.find("(AVStr.6\r\n\tS:\t\"" + MapGis::Utf8ToGbk(c.font) + "\"\r\n)"), std::string::npos);
    } else {
      EXPECT_TRUE(nonAscii.empty());
    }
  }
}

// What a text tool makes of the files.
TEST(AvlWriter, TheFileToolSeesCrLfText) {
  if (!fs::exists("/usr/bin/file")) GTEST_SKIP() << "no file(1)";
  for (const AvlCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    const std::string command = "/usr/bin/file -b '" + (kData / c.expectedFile).string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    ASSERT_TRUE(pipe);
    char buffer[256] = {};
    std::string answer;
    while (std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) answer += buffer;
    EXPECT_NE(answer.find("text"), std::string::npos) << answer;
    EXPECT_NE(answer.find("CRLF line terminators"), std::string::npos) << answer;
  }
}

TEST(AvlWriter, ObjectNumbersFollowTheColourTableAndTheEntries) {
  // Five entries in three colours: classes and symbols follow the colour objects, NameDicts close.
  const std::vector<std::int32_t> colours = {0x000001, 0x000002, 0x000003};
  std::vector<LegendEntry> entries;
  for (int i = 0; i < 5; ++i) {
    LegendEntry e(i + 2, colours[i % 3], 0, 1.0f, 1.0f, 0.0f);
    e.index = i % 3;
    entries.push_back(e);
  }
  const struct {
    AvlKind kind;
    int first;
    const char* symbol;
  } kinds[] = {{AvlKind::Line, 7, "BLnSym"}, {AvlKind::Region, 7, "BShSym"}, {AvlKind::Marker, 11, "BMkSym"}};
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.symbol);
    EXPECT_EQ(AvlFirstColourObject(k.kind), k.first);
    const std::string text = BuildAvl(k.kind, colours, entries, "Arial");
    for (int c = 0; c < 3; ++c) {
      EXPECT_NE(text.find("(TClr." + std::to_string(k.first + c) + "\r\n\tRed:\t0x0" + std::to_string(c + 1) +
                        "ff\r\n\tGreen:\t0x00ff\r\n"),
                std::string::npos)
          << c;
    }
    for (int i = 0; i < 5; ++i) {
      const int symbol = k.first + 3 + 2 * i;
      EXPECT_NE(text.find("\tClass:\t" + std::to_string(symbol + 1) + "\r\n"), std::string::npos) << i;
      EXPECT_NE(text.find("\tChild:\t" + std::to_string(symbol) + "\r\n"), std::string::npos) << i;
      EXPECT_NE(text.find("(" + std::string(k.symbol) + "." + std::to_string(symbol) + "\r\n\tColor:\t" +
                          std::to_string(k.first + i % 3) + "\r\n"),
                std::string::npos)
          << i;
      EXPECT_NE(text.find("(LClass." + std::to_string(symbol + 1) + "\r\n\tLabel:\t\"" +
                          entries[i].GetLegendCode().Str() + "\""),
                std::string::npos)
          << i;
    }
    EXPECT_NE(text.find("(NameDict." + std::to_string(k.first + 13) + "\r\n)\r\n\r\n(NameDict." +
                        std::to_string(k.first + 14) + "\r\n)\r\n\r\n"),
              std::string::npos);
    EXPECT_TRUE(text.ends_with("(NameDict." + std::to_string(k.first + 14) + "\r\n)\r\n\r\n"));
  }
}

TEST(AvlWriter, AnEmptyLegendIsStillAWholeFile) {
  // With no colours and no entries the fixed objects are followed directly by the two NameDicts.
  const std::string white = "(TClr.6\r\n\tRed:\t0xffff\r\n\tGreen:\t0xffff\r\n\tBlue:\t0xffff\r\n)\r\n\r\n";
  const std::string transparent = "(TClr.10\r\n\tName:\t\"Transparent\"\r\n)\r\n\r\n";
  const struct {
    AvlKind kind;
    std::string tail;
  } cases[] = {
      {AvlKind::Line, white + "(NameDict.7\r\n)\r\n\r\n(NameDict.8\r\n)\r\n\r\n"},
      {AvlKind::Region, white + "(NameDict.7\r\n)\r\n\r\n(NameDict.8\r\n)\r\n\r\n"},
      {AvlKind::Marker, transparent + "(NameDict.11\r\n)\r\n\r\n(NameDict.12\r\n)\r\n\r\n"},
  };
  for (const auto& c : cases) {
    const std::string text = BuildAvl(c.kind, {}, {}, "ESRI Default Marker");
    EXPECT_TRUE(text.starts_with("/3.2\r\n(ODB.1\r\n"));
    EXPECT_TRUE(text.ends_with(c.tail)) << text;
    EXPECT_NE(text.find("\tSymbols:\t4\r\n\tStdDevs:\t1.0\r\n"), std::string::npos);
    EXPECT_NE(text.find("(SymList.4\r\n)\r\n\r\n"), std::string::npos);
    EXPECT_EQ(text.find("Class:"), std::string::npos);
    EXPECT_EQ(text.find("LClass"), std::string::npos);
  }
}

TEST(AvlWriter, SizesInPoints) {
  const struct {
    AvlKind kind;
    float size;
    const char* line;
  } cases[] = {
      {AvlKind::Line, 1.0f, "\tWidth:\t2.83\r\n"},
      {AvlKind::Line, 0.0f, "\tWidth:\t0.00\r\n"},
      {AvlKind::Line, 10.0f, "\tWidth:\t28.35\r\n"},
      {AvlKind::Marker, 4.0f, "\tSize:\t11.34\r\n"},
      // A damaged record's size must not make the file unreadable.
      {AvlKind::Line, std::numeric_limits<float>::quiet_NaN(), "\tWidth:\t0.00\r\n"},
      {AvlKind::Marker, std::numeric_limits<float>::infinity(), "\tSize:\t0.00\r\n"},
  };
  for (const auto& c : cases) {
    const std::vector<LegendEntry> entries = {LegendEntry(2, 0, 0, c.size, 0.0f, 0.0f)};
    const std::string text = BuildAvl(c.kind, std::vector<std::int32_t>{0}, entries, "x");
    EXPECT_NE(text.find(c.line), std::string::npos) << c.size << "\n" << text;
  }
}

TEST(AvlWriter, AFileThatCannotBeCreatedIsAFailureAndLeavesNothing) {
  ScratchDir dir;
  const fs::path base = dir.Path() / "missing folder" / "layer";
  const AvlWriteResult result = WriteLineAvl(base, {}, {});
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("layer.avl"), std::string::npos) << result.error;
  EXPECT_FALSE(fs::exists(dir.Path() / "missing folder"));

  // An existing file is replaced whole.
  KvxTest::WriteText(dir.Path() / "old.avl", std::string(100000, 'x'));
  ASSERT_TRUE(WriteLineAvl(dir.Path() / "old", {}, {}).ok);
  EXPECT_EQ(ReadText(dir.Path() / "old.avl"), BuildAvl(AvlKind::Line, {}, {}));
}

}  // namespace
