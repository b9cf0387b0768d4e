// The layer's own fields in the DBF: types, widths, decimals and names, every value, the schema
// and null lines of the log.

#include <cstring>
#include <string>
#include <vector>

#include "engine/attribute_schema.h"
#include "engine_fixtures.h"

namespace {

using namespace KvxEngineTest;
using namespace MapGis;

// 六个汉字 in GBK (12 bytes); 地 in GBK.
const std::string kSixGbk = "\xC1\xF9\xB8\xF6\xBA\xBA\xD7\xD6\xB2\xE2\xCA\xD4";
const std::string kDiGbk = "\xB5\xD8";

// One layer with a field of every kind; two lines, two records.
KvxTest::LayerBuilder EveryFieldKind() {
  KvxTest::LayerBuilder b = Lines(2);
  auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
  a.AddField("NAME", FieldString, 300, 300);   // 0: wider than a DBF field
  a.AddField("NOTE", FieldText, 12);           // 1: width stored as -1 below
  a.AddField("CODE", FieldString, 6, 0);       // 2: width 0
  a.AddField("B", FieldByte, 1, 0);            // 3: width 0
  a.AddField("S", FieldShort, 2, 2);           // 4: wide enough for its values
  a.AddField("L", FieldLong, 4, 4);            // 5
  a.AddField("F", FieldFloat, 4, 0, 0);        // 6: width and decimals 0
  a.AddField("D", FieldDouble, 8, 12, 3);      // 7
  a.AddField("DATE", FieldDate, 4);            // 8
  a.AddField("TIME", FieldTime, 10);           // 9
  a.AddField("TS", FieldTimeStamp, 16);        // 10
  a.AddField("OK", FieldBool, 1, 1);           // 11
  a.AddField("BLOB", 12, 8, 8);                // 12: no DBF equivalent
  a.AddField(kSixGbk, FieldLong, 4, 8);        // 13: a name of 12 bytes
  a.Field(1).width = -1;

  // Record 0: a text of 300 bytes whose byte 254 is the second half of a GBK character.
  a.SetText(0, 0, std::string(253, 'a') + kDiGbk + std::string(45, 'b'));
  a.SetText(0, 1, "note");
  a.SetText(0, 2, "ABCDEF");
  a.SetValue<std::uint8_t>(0, 3, 200);
  a.SetValue<std::int16_t>(0, 4, -5);
  a.SetValue<std::int32_t>(0, 5, -2147483647 - 1);
  a.SetValue<float>(0, 6, 2.5f);
  a.SetValue<double>(0, 7, 1234.5678);
  a.SetValue(0, 8, DATE_STRUstruct{2013, 7, 1});
  a.SetValue(0, 9, TIME_STRUstruct{8, 5, 3.5});
  a.SetValue(0, 10, TIMESTAMPstruct{2013, 7, 1, 8, 5, 3, 12});
  a.SetValue<std::uint8_t>(0, 11, 1);
  a.SetValue<std::int32_t>(0, 13, 42);
  // Record 1: zeros and blanks.
  a.SetText(1, 0, "  " + kDiGbk + "  ");
  a.EnsureRecords(2);
  return b;
}

TEST(AttributeSchema, FieldTypesWidthsDecimalsAndNames) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = EveryFieldKind();
  const Outcome out = Convert(b, dir, PlainSettings());
  ASSERT_EQ(out.result, 99999);
  Dbf dbf(out.base);
  ASSERT_TRUE(dbf.IsOpen());
  const std::vector<FieldInfo> expected{
      {"NAME", 'C', 254, 0}, {"NOTE", 'C', 254, 0}, {"CODE", 'C', 6, 0},  {"B", 'N', 4, 0},
      {"S", 'N', 2, 0},      {"L", 'N', 11, 0},     {"F", 'N', 16, 5},    {"D", 'N', 12, 3},
      {"DATE", 'C', 50, 0},  {"TIME", 'C', 50, 0},  {"TS", 'C', 50, 0},   {"OK", 'L', 1, 0},
      {"BLOB", 'C', 8, 0},   {kSixGbk.substr(0, 10), 'N', 8, 0},
  };
  EXPECT_EQ(dbf.Schema(), expected);
  EXPECT_EQ(out.log, WithHeader({"W__[NAME]字段长度大于255字节被截断", "W__[DATE]字段类型转换为字符型",
                                 "W__[TIME]字段类型转换为字符型", "W__[TS]字段类型转换为字符型",
                                 "W__[BLOB]字段类型SHAPE格式不支持", "I__第[0]条记录第[12]字段写入空值",
                                 "I__第[1]条记录第[12]字段写入空值", "I__全部正确转换(2/2)"}));
}

TEST(AttributeSchema, EveryValueOfARecord) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = EveryFieldKind();
  const Outcome out = Convert(b, dir, PlainSettings());
  ASSERT_EQ(out.result, 99999);
  Dbf dbf(out.base);
  EXPECT_EQ(dbf.Text(0, 0), std::string(253, 'a')) << "cut before the character that does not fit";
  EXPECT_EQ(dbf.Text(0, 1), "note");
  EXPECT_EQ(dbf.Text(0, 2), "ABCDEF");
  EXPECT_EQ(dbf.Integer(0, 3), 200);
  EXPECT_EQ(dbf.Integer(0, 4), -5);
  EXPECT_EQ(dbf.Raw(0, 5), "-2147483648");
  EXPECT_EQ(dbf.Raw(0, 6), "         2.50000");
  EXPECT_EQ(dbf.Raw(0, 7), "    1234.568");
  EXPECT_EQ(dbf.Text(0, 8), "2013-07-01");
  EXPECT_EQ(dbf.Text(0, 9), "08:05:3.50");
  EXPECT_EQ(dbf.Text(0, 10), "2013-07-01_08:05:03.00000012");
  EXPECT_EQ(dbf.Raw(0, 11), "T");
  EXPECT_TRUE(dbf.IsNull(0, 12));
  EXPECT_EQ(dbf.Integer(0, 13), 42);

  EXPECT_EQ(dbf.Text(1, 0), kDiGbk) << "blanks trimmed";
  EXPECT_EQ(dbf.Text(1, 2), "");
  EXPECT_EQ(dbf.Integer(1, 3), 0);
  EXPECT_EQ(dbf.Raw(1, 6), "         0.00000");
  EXPECT_EQ(dbf.Text(1, 8), "0000-00-00");
  EXPECT_EQ(dbf.Text(1, 9), "00:00:0.00");
  EXPECT_EQ(dbf.Text(1, 10), "0000-00-00_00:00:00.00000000");
  EXPECT_EQ(dbf.Raw(1, 11), "F");
}

TEST(AttributeSchema, MissingRecordsGiveTheEmptyValueOfEachType) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = EveryFieldKind();
  b.AddLine({{5, 5}, {6, 6}});  // a third line without a record
  b.Attributes(KvxTest::EntryPrimaryAttr).SetRecordCount(2);
  const Outcome out = Convert(b, dir, PlainSettings());
  ASSERT_EQ(out.result, 99999);
  Dbf dbf(out.base);
  ASSERT_EQ(dbf.Rows(), 3);
  EXPECT_TRUE(dbf.IsNull(2, 0));
  EXPECT_EQ(dbf.Raw(2, 5), "          0");
  EXPECT_EQ(dbf.Text(2, 8), "0000-00-00");
  EXPECT_EQ(dbf.Text(2, 9), "00:00:0.00");
  EXPECT_EQ(dbf.Raw(2, 11), "F");
}

TEST(AttributeSchema, Utf8TablesKeepWholeCharacters) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(1);
  auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
  a.AddField(kSixGbk, FieldString, 7, 7);
  a.SetText(0, 0, "A" + kSixGbk.substr(0, 6));  // A六个汉: 7 bytes in GBK, 10 in UTF-8
  Kvx::FrameSettings s = PlainSettings();
  s.codePage = 1;
  const Outcome out = Convert(b, dir, s);
  ASSERT_EQ(out.result, 99999);
  Dbf dbf(out.base);
  ASSERT_EQ(dbf.Schema().size(), 1u);
  EXPECT_EQ(dbf.Schema()[0].name, "六个汉");
  EXPECT_EQ(dbf.Text(0, 0), "A六个") << "7 bytes of UTF-8 hold A and two characters";
}

TEST(AttributeSchema, TypesAboveEighteenStopTheConversion) {
  const struct {
    Routine routine;
    const char* line;
  } cases[] = {
      {Routine::Line, "E__[BAD]字段类型定义错误"},
      {Routine::NetworkLine, "E__[BAD]字段结构定义存在严重错误"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b = Lines(1, c.routine == Routine::Line ? KindLine : KindNetwork);
    auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
    a.AddField("ID", FieldLong);
    a.AddField("BAD", 19, 4, 4);
    a.AddField("AFTER", FieldLong);
    const Outcome out = Convert(b, dir, PlainSettings(), c.routine);
    EXPECT_EQ(out.result, -9980);
    EXPECT_EQ(out.log, WithHeader({c.line}));
    Dbf dbf(out.base);
    ASSERT_TRUE(dbf.IsOpen()) << "the table made so far stays";
    EXPECT_EQ(dbf.Fields(), 1);
    EXPECT_FALSE(fs::exists(dir / "out.shp"));
  }
  // A type code stored as a byte of 128 or more is above 18 too.
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(1);
  b.Attributes(KvxTest::EntryPrimaryAttr).AddField("BAD", FieldLong);
  b.Attributes(KvxTest::EntryPrimaryAttr).Field(0).type = -56;  // 200
  EXPECT_EQ(Convert(b, dir, PlainSettings()).result, -9980);
}

TEST(AttributeSchema, NetworkLinesLogUnsupportedTypesAsErrorsAndDatesNot) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(1, KindNetwork);
  auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
  a.AddField("DATE", FieldDate, 4);
  a.AddField("BLOB", 12, 8, 8);
  const Outcome out = Convert(b, dir, PlainSettings(), Routine::NetworkLine);
  EXPECT_EQ(out.result, 99999);
  EXPECT_EQ(out.log, WithHeader({"E__[BLOB]字段类型SHAPE格式不支持", "I__第[0]条记录第[1]字段写入空值",
                                 "I__全部正确转换(1/1)"}));
}

TEST(AttributeSchema, NullLinesStopAtMaxErrors) {
  for (int maxErrors : {64, 0}) {
    SCOPED_TRACE(maxErrors);
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b = Lines(100);
    auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
    for (const char* name : {"X1", "X2", "X3"}) a.AddField(name, 12, 4, 4);
    Kvx::FrameSettings s = PlainSettings();
    s.maxErrors = maxErrors;
    const Outcome out = Convert(b, dir, s);
    EXPECT_EQ(out.result, 99999);
    std::vector<std::string> expected;
    for (const char* name : {"X1", "X2", "X3"}) expected.push_back(std::string("W__[") + name + "]字段类型SHAPE格式不支持");
    for (int n = 0; n < maxErrors; ++n)
      expected.push_back("I__第[" + std::to_string(n / 3) + "]条记录第[" + std::to_string(n % 3) + "]字段写入空值");
    if (maxErrors > 0) expected.push_back("I__不支持字段过多，全部写入空值");
    expected.push_back("I__全部正确转换(100/100)");
    EXPECT_EQ(out.log, WithHeader(expected));
    Dbf dbf(out.base);
    ASSERT_EQ(dbf.Rows(), 100);
    EXPECT_TRUE(dbf.IsNull(99, 2));
  }
}

TEST(AttributeSchema, LayerWithoutFieldsKeepsOneRowPerShape) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(3);
  const Outcome out = Convert(b, dir, PlainSettings());
  ASSERT_EQ(out.result, 99999);
  Dbf dbf(out.base);
  ASSERT_EQ(dbf.Schema(), (std::vector<FieldInfo>{{"KVX_FID", 'N', 11, 0}}));
  ASSERT_EQ(dbf.Rows(), 3);
  EXPECT_EQ(dbf.Integer(2, 0), 2);
}

TEST(AttributeSchema, PlanOfEachType) {
  const struct {
    std::int32_t type;
    int size, width, decimals;
    Kvx::ValueKind kind;
    DBFFieldType dbfType;
    int dbfWidth, dbfDecimals, textLimit;
  } cases[] = {
      {0, 10, 10, 0, Kvx::ValueKind::Text, FTString, 10, 0, 10},
      {0, 10, -1, 0, Kvx::ValueKind::Text, FTString, 254, 0, 254},
      {9, 300, 300, 0, Kvx::ValueKind::Text, FTString, 254, 0, 254},
      {0, 0, 0, 0, Kvx::ValueKind::Text, FTString, 1, 0, 1},
      // Integers: the stored width (4 below 1); the values of the layer widen it later.
      {1, 1, 2, 0, Kvx::ValueKind::Integer, FTInteger, 2, 0, 0},
      {2, 2, 8, 0, Kvx::ValueKind::Integer, FTInteger, 8, 0, 0},
      {3, 4, -1, 0, Kvx::ValueKind::Integer, FTInteger, 4, 0, 0},
      {5, 8, 0, -1, Kvx::ValueKind::Real, FTDouble, 16, 5, 0},
      {4, 4, 10, 2, Kvx::ValueKind::Real, FTDouble, 10, 2, 0},
      {16, 16, 0, 0, Kvx::ValueKind::TimeStamp, FTString, 50, 0, 50},
      {8, 1, 0, 0, Kvx::ValueKind::Logical, FTLogical, 4, 0, 0},
      {18, 4, 0, 0, Kvx::ValueKind::Null, FTString, 1, 0, 0},
  };
  for (const auto& c : cases) {
    Kvx::FieldPlan plan;
    ASSERT_TRUE(Kvx::PlanField(c.type, c.size, c.width, c.decimals, &plan)) << c.type;
    EXPECT_EQ(plan.kind, c.kind) << c.type;
    EXPECT_EQ(plan.dbfType, c.dbfType) << c.type;
    EXPECT_EQ(plan.width, c.dbfWidth) << c.type << " width " << c.width;
    EXPECT_EQ(plan.decimals, c.dbfDecimals) << c.type;
    EXPECT_EQ(plan.textLimit, c.textLimit) << c.type;
  }
  Kvx::FieldPlan plan;
  EXPECT_FALSE(Kvx::PlanField(19, 4, 4, 0, &plan));
  EXPECT_FALSE(Kvx::PlanField(-1, 4, 4, 0, &plan));
}

}  // namespace
