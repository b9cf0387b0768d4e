// The conversion log and the text and number encoders of DBF values.

#include <clocale>
#include <cstring>
#include <string>

#include "engine/dbf_text.h"
#include "engine/logger.h"
#include "engine/shape_output.h"
#include "engine_fixtures.h"

namespace {

using namespace KvxEngineTest;
using Kvx::CLogger;
using Kvx::DbfTextEncoder;

// 地质 ("geology") and 测试 in GBK and UTF-8.
const std::string kDiZhiGbk = "\xB5\xD8\xD6\xCA";
const std::string kDiZhiUtf8 = "地质";

TEST(ConversionLog, HeaderAndLinesInGbkWithCrLfWithoutTouchingTheLocale) {
  KvxTest::TempDir dir;
  const std::string before = std::setlocale(LC_ALL, nullptr);
  {
    CLogger log(dir / "a.log");
    ASSERT_TRUE(log.IsOpen());
    log.WriteString("W__文件未压缩存盘，可能存在错误信息\n");
    log.WriteFormat("F__第[%d]号图元信息错误，已跳过\n", 7);
    log.WriteFormat("W__[%s]字段长度大于255字节被截断\n", kDiZhiUtf8.c_str());
  }
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
  const std::string raw = ReadBytes(dir / "a.log");
  EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
  EXPECT_NE(raw.find("[" + kDiZhiGbk + "]"), std::string::npos) << "text is stored as GBK";
  EXPECT_EQ(raw.find("\n\n"), std::string::npos);
  EXPECT_EQ(LogLines(dir / "a.log"),
            WithHeader({"W__文件未压缩存盘，可能存在错误信息", "F__第[7]号图元信息错误，已跳过",
                        "W__[地质]字段长度大于255字节被截断"}));
}

TEST(ConversionLog, SecondLogOfTheSameNameReplacesTheFirst) {
  KvxTest::TempDir dir;
  { CLogger(dir / "a.log").WriteString("I__first\n"); }
  { CLogger(dir / "a.log").WriteString("I__second\n"); }
  EXPECT_EQ(LogLines(dir / "a.log"), WithHeader({"I__second"}));
}

TEST(ConversionLog, UncreatableLogIgnoresWrites) {
  KvxTest::TempDir dir;
  CLogger log(dir / "missing folder" / "a.log");
  EXPECT_FALSE(log.IsOpen());
  log.WriteString("I__x\n");
  log.WriteFormat("I__%d\n", 1);
  EXPECT_FALSE(fs::exists(dir / "missing folder"));
}

TEST(ConversionLog, PathKeepsDotsOfTheBase) {
  EXPECT_EQ(Kvx::LogPathFor("/a/roads.v2"), fs::path("/a/roads.v2.log"));
}

// ---- EncodeDbfText / EncodeDbfTextW ---------------------------------------------------------------

struct EncodeCase {
  const char* what;
  int codePage;
  std::string source;
  int limit;
  std::string expected;
};

TEST(EncodeDbfText, CutsAtTheLimitWithoutSplittingACharacter) {
  // 六个汉字 in GBK: 12 bytes.
  const std::string six = "\xC1\xF9\xB8\xF6\xBA\xBA\xD7\xD6\xB2\xE2\xCA\xD4";
  const EncodeCase cases[] = {
      {"ASCII shorter than the limit", 0, "ROAD", 10, "ROAD"},
      {"ASCII cut", 0, "ROADS_AND_PATHS", 10, "ROADS_AND_"},
      {"GBK name of 12 bytes keeps five characters", 0, six, 10, six.substr(0, 10)},
      {"GBK cut falls before a character that does not fit", 0, "A" + six, 10, "A" + six.substr(0, 8)},
      {"GBK exactly at the limit", 0, kDiZhiGbk, 4, kDiZhiGbk},
      {"UTF-8 keeps the three whole characters of ten bytes", 1, six, 10, "六个汉"},
      {"UTF-8 mixed", 1, "A" + kDiZhiGbk, 4, "A地"},
      {"UTF-8 ASCII", 1, "ROADS_AND_PATHS", 10, "ROADS_AND_"},
      {"any non-zero code page is UTF-8", 2, kDiZhiGbk, 10, kDiZhiUtf8},
      {"empty", 0, "", 10, ""},
  };
  for (const auto& c : cases) {
    DbfTextEncoder encoder(c.codePage);
    char out[300];
    std::memset(out, 'x', sizeof out);
    ASSERT_EQ(encoder.EncodeDbfText(c.source.c_str(), out, c.limit), out) << c.what;
    EXPECT_EQ(std::string(out), c.expected) << c.what;
  }
}

TEST(EncodeDbfText, RefusesMissingBuffersAndLimitsBelowOne) {
  DbfTextEncoder encoder(0);
  char out[8] = "keep";
  EXPECT_EQ(encoder.EncodeDbfText(static_cast<const char*>(nullptr), out, 4), nullptr);
  EXPECT_EQ(encoder.EncodeDbfText("a", nullptr, 4), nullptr);
  EXPECT_EQ(encoder.EncodeDbfText("a", out, 0), nullptr);
  EXPECT_EQ(encoder.EncodeDbfTextW("a", out, 0), nullptr);
  EXPECT_STREQ(out, "keep");
}

TEST(EncodeDbfTextW, ProgramTextIntoABufferOfSize) {
  const EncodeCase cases[] = {
      {"legend code", 0, "030100FF000000000000003200640064", 254, "030100FF000000000000003200640064"},
      {"GBK in the ANSI code page", 0, "注释文字", 11, "\xD7\xA2\xCA\xCD\xCE\xC4\xD7\xD6"},
      {"UTF-8 keeps whole sequences within size - 1", 1, "注释文字", 11, "注释文"},
      {"GBK never splits a character", 0, "注释文字", 8, "\xD7\xA2\xCA\xCD\xCE\xC4"},
  };
  for (const auto& c : cases) {
    DbfTextEncoder encoder(c.codePage);
    char out[300];
    ASSERT_EQ(encoder.EncodeDbfTextW(c.source.c_str(), out, c.limit), out) << c.what;
    EXPECT_EQ(std::string(out), c.expected) << c.what;
  }
}

// ---- Numbers -----------------------------------------------------------------------------------

TEST(DbfNumbers, RealsFitTheirFieldWithoutChangingMagnitude) {
  const struct {
    double value;
    int width;
    int decimals;
    const char* expected;  // null: nothing fits
  } cases[] = {
      {0.5, 8, 3, "0.500"},
      {-2.25, 16, 5, "-2.25000"},
      {10000.5, 8, 3, "10000.50"},
      {123456.789, 8, 3, "123456.8"},
      {1234567.89, 8, 3, "1234568"},
      {123456789.0, 8, 3, "1.23e+08"},
      {1e300, 16, 5, "1.000000000e+300"},
      {1.0 / 0.0, 8, 3, nullptr},
      {0.0 / 0.0, 8, 3, nullptr},
      {123456.0, 3, 0, nullptr},
  };
  for (const auto& c : cases) {
    char out[300];
    const int n = Kvx::FormatDbfReal(c.value, c.width, c.decimals, out);
    if (!c.expected) {
      EXPECT_EQ(n, -1) << c.value;
      continue;
    }
    ASSERT_GE(n, 0) << c.value;
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(n)), c.expected) << c.value;
  }
}

TEST(DbfNumbers, WrittenRightAlignedWithAPointWhateverTheLocale) {
  KvxTest::TempDir dir;
  const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  {
    Kvx::DbfTable table = Kvx::DbfTable::Create(dir / "n", Kvx::kDbfCodePageAnsi);
    ASSERT_TRUE(table.IsOpen());
    ASSERT_EQ(table.AddField("R", FTDouble, 8, 3), 0);
    ASSERT_EQ(table.AddField("I", FTInteger, 4, 0), 1);
    EXPECT_TRUE(table.WriteDouble(0, 0, 1.5));
    EXPECT_TRUE(table.WriteInteger(0, 1, -128));
    EXPECT_TRUE(table.WriteInteger(1, 1, 123456));  // does not fit: null, not "1234"
    EXPECT_TRUE(table.WriteDouble(1, 0, 0.0 / 0.0));
    EXPECT_FALSE(table.Failed());
  }
  if (german) std::setlocale(LC_NUMERIC, "C");
  Dbf dbf(dir / "n");
  ASSERT_TRUE(dbf.IsOpen());
  EXPECT_EQ(dbf.Raw(0, 0), "   1.500");
  EXPECT_EQ(dbf.Raw(0, 1), "-128");
  EXPECT_TRUE(dbf.IsNull(1, 1));
  EXPECT_TRUE(dbf.IsNull(1, 0));
}

}  // namespace
