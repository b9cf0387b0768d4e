// Point files to shapefiles: which points each of the three point conversions writes, their fields
// and values in both code pages, the label markup, the legend lists and the marker legend, read back
// with shapelib (and GDAL once).

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/point_conversion.h"
#include "engine_fixtures.h"
#include "styles/label_markup.h"
#include "vordex/conversions.h"

namespace {

using namespace KvxEngineTest;
using namespace MapGis;

enum class PointRoutine { Symbols, All, Notes };

const char* NameOf(PointRoutine r) {
  switch (r) {
    case PointRoutine::Symbols: return "ConvertWTPoint2SHP";
    case PointRoutine::All: return "ConvertWT2SHP";
    case PointRoutine::Notes: return "ConvertWTNote2SHP";
  }
  return "";
}

Outcome ConvertPoints(KvxTest::LayerBuilder& layer, const KvxTest::TempDir& dir, const Kvx::FrameSettings& settings,
                      PointRoutine routine, const std::string& name = "out") {
  const fs::path source = dir / (name + ".wt");
  EXPECT_TRUE(layer.WriteTo(source));
  Kvx::StyleContext noColours;
  Kvx::ConversionServices services{noColours, Kvx::SilentNotifier()};
  Outcome out;
  out.base = dir / name;
  switch (routine) {
    case PointRoutine::Symbols: out.result = Kvx::ConvertWTPoint2SHP(source, out.base, services, settings); break;
    case PointRoutine::All: out.result = Kvx::ConvertWT2SHP(source, out.base, services, settings); break;
    case PointRoutine::Notes: out.result = Kvx::ConvertWTNote2SHP(source, out.base, services, settings); break;
  }
  out.log = LogLines(fs::path(out.base.native() + ".log"));
  return out;
}

Kvx::FrameSettings WithSymbolType(int symbolType, int codePage = 0) {
  Kvx::FrameSettings s = PlainSettings();
  s.symbolType = symbolType;
  s.codePage = codePage;
  s.rotateType = 2;
  return s;
}

// The x of every written shape, in order.
std::vector<double> WrittenX(const fs::path& base) {
  Shp shp(base);
  std::vector<double> xs;
  if (!shp.IsOpen()) return xs;
  for (int i = 0; i < shp.Count(); ++i) xs.push_back(shp.Read(i)->padfX[0]);
  return xs;
}

// 中 in GBK; 注释 ("annotation").
const std::string kZhong = "\xD6\xD0";
const std::string kNoteGbk = "\xD7\xA2\xCA\xCD";

// Every kind of point: a symbol at x 0, a text point at 1, a text block at 2, a symbol at 3, a point
// of another type at 4 and a deleted symbol at 5.
KvxTest::LayerBuilder MixedPoints() {
  KvxTest::LayerBuilder b(KindPoint);
  b.AddPoint(0, 0);
  b.AddPoint(1, 0, "ab");
  b.AddPoint(2, 0, kNoteGbk);
  b.Point(2).pointType = 5;
  b.AddPoint(3, 0);
  b.AddPoint(4, 0);
  b.Point(4).pointType = 2;
  b.AddPoint(5, 0);
  b.Point(5).flag = 0;
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(6);
  return b;
}

// ---- Which points are written ----------------------------------------------------------------------

struct SelectionCase {
  PointRoutine routine;
  int symbolType;
  std::vector<double> xs;
  std::string summary;
  std::int32_t result;
};

TEST(PointConversion, EachRoutineWritesItsPoints) {
  const std::vector<SelectionCase> cases = {
      {PointRoutine::Symbols, 0, {0, 3}, "I__全部正确转换(2/5)", Kvx::kConvertSuccess},
      {PointRoutine::Symbols, 2, {0, 3}, "I__全部正确转换(2/5)", Kvx::kConvertSuccess},
      {PointRoutine::All, 0, {0, 1, 2, 3, 4}, "I__全部正确转换(5/5)", Kvx::kConvertSuccess},
      {PointRoutine::All, 2, {0, 1, 2, 3, 4}, "I__全部正确转换(5/5)", Kvx::kConvertSuccess},
      {PointRoutine::Notes, 0, {1, 2}, "I__全部正确转换(2/5)", Kvx::kConvertSuccess},
      {PointRoutine::Notes, 4, {1, 2}, "I__全部正确转换(2/5)", Kvx::kConvertSuccess},
  };
  for (const SelectionCase& c : cases) {
    SCOPED_TRACE(std::string(NameOf(c.routine)) + " SymbolType " + std::to_string(c.symbolType));
    KvxTest::TempDir dir;
    auto layer = MixedPoints();
    const Outcome out = ConvertPoints(layer, dir, WithSymbolType(c.symbolType), c.routine);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(WrittenX(out.base), c.xs);
    Shp shp(out.base);
    EXPECT_EQ(shp.Type(), SHPT_POINT);
    EXPECT_EQ(Dbf(out.base).Rows(), static_cast<int>(c.xs.size()));
    ASSERT_FALSE(out.log.empty());
    EXPECT_EQ(out.log.back(), c.summary);
    EXPECT_EQ(out.log[1], "W__文件未压缩存盘，可能存在错误信息");
  }
}

// A layer of only one kind of point leaves one of the routines with nothing to write.
TEST(PointConversion, LayerWithoutTheRoutinesPointsIsEmpty) {
  struct Case {
    PointRoutine routine;
    bool textPoints;
    std::int32_t result;
    std::string summary;
  };
  const std::vector<Case> cases = {
      {PointRoutine::Symbols, true, Kvx::kConvertEmpty, "W__输出结果文件为空文件"},
      {PointRoutine::All, true, Kvx::kConvertSuccess, "I__全部正确转换(3/3)"},
      {PointRoutine::Notes, false, Kvx::kConvertEmpty, "W__输出结果文件为空文件"},
      {PointRoutine::All, false, Kvx::kConvertSuccess, "I__全部正确转换(3/3)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(NameOf(c.routine));
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b(KindPoint);
    for (int i = 0; i < 3; ++i) b.AddPoint(i, 0, c.textPoints ? "t" : "");
    b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(3);
    const Outcome out = ConvertPoints(b, dir, WithSymbolType(2), c.routine);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.log.back(), c.summary);
    EXPECT_TRUE(fs::exists(out.base.native() + ".shp"));
  }
}

TEST(PointConversion, TextPointsAndSymbolsSummary) {
  // 10 text points and 20 symbols: the annotation conversion writes 10 of 30.
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b(KindPoint);
  for (int i = 0; i < 30; ++i) b.AddPoint(i, 0, i % 3 == 0 ? "t" : "");
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(30);
  const Outcome notes = ConvertPoints(b, dir, PlainSettings(), PointRoutine::Notes, "notes");
  EXPECT_EQ(notes.result, Kvx::kConvertSuccess);
  EXPECT_EQ(notes.log.back(), "I__全部正确转换(10/30)");
  const Outcome symbols = ConvertPoints(b, dir, PlainSettings(), PointRoutine::Symbols, "symbols");
  EXPECT_EQ(symbols.result, Kvx::kConvertSuccess);
  EXPECT_EQ(symbols.log.back(), "I__全部正确转换(20/30)");
}

TEST(PointConversion, WrongLayerKind) {
  const std::vector<std::pair<PointRoutine, std::string>> cases = {
      {PointRoutine::Symbols, "E__文件几何类型错误]"},
      {PointRoutine::All, "E__文件几何类型错误"},
      {PointRoutine::Notes, "E__文件几何类型错误"},
  };
  for (const auto& [routine, line] : cases) {
    SCOPED_TRACE(NameOf(routine));
    KvxTest::TempDir dir;
    auto lines = Lines(2);
    const Outcome out = ConvertPoints(lines, dir, PlainSettings(), routine);
    EXPECT_EQ(out.result, Kvx::kConvertWrongKind);
    EXPECT_EQ(out.log, WithHeader({line}));
    EXPECT_FALSE(fs::exists(out.base.native() + ".shp"));
  }
}

// A text point whose text lies outside the file cannot be read: wherever its text is needed it is
// a feature error, skipped and logged, never written with a made-up text.
TEST(PointConversion, UnreadableTextIsAFeatureError) {
  struct Case {
    PointRoutine routine;
    int symbolType;
    std::vector<double> xs;
    std::vector<std::string> tail;
    std::int32_t result;
  };
  const std::vector<Case> cases = {
      {PointRoutine::Notes, 0, {0}, {"F__第[1]号图元信息错误，已跳过", "I__源文件存在错误(1/3)"},
       Kvx::kConvertReadErrors},
      {PointRoutine::All, 2, {0, 2}, {"F__第[1]号图元信息错误，已跳过", "E__源文件存在错误(2/3)"},
       Kvx::kConvertReadErrors},
      // Without labels the text is not needed, and the point is written.
      {PointRoutine::All, 0, {0, 1, 2}, {"I__全部正确转换(3/3)"}, Kvx::kConvertSuccess},
      {PointRoutine::Symbols, 2, {2}, {"I__全部正确转换(1/3)"}, Kvx::kConvertSuccess},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(NameOf(c.routine)) + " SymbolType " + std::to_string(c.symbolType));
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b(KindPoint);
    b.AddPoint(0, 0, "good");
    b.AddPoint(1, 0, "lost");
    b.Point(1).textOffset = 1 << 24;
    b.AddPoint(2, 0);
    b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(3);
    const Outcome out = ConvertPoints(b, dir, WithSymbolType(c.symbolType), c.routine);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(WrittenX(out.base), c.xs);
    ASSERT_GE(out.log.size(), c.tail.size());
    EXPECT_EQ(std::vector<std::string>(out.log.end() - static_cast<std::ptrdiff_t>(c.tail.size()), out.log.end()),
              c.tail);
  }
}

// ---- Fields and log lines -------------------------------------------------------------------------

struct SchemaCase {
  PointRoutine routine;
  int symbolType;
  std::vector<FieldInfo> fields;
  std::vector<std::string> lines;
};

TEST(PointConversion, FieldsAndTheirLogLines) {
  const std::string note = MapGis::Utf8ToGbk("注释文字");
  const std::vector<SchemaCase> cases = {
      {PointRoutine::Symbols, 0, {{"KVX_FID", 'N', 11, 0}}, {}},
      {PointRoutine::Symbols, 3, {{"KVX_FID", 'N', 11, 0}}, {}},
      {PointRoutine::Symbols, 2,
       {{"KVX_SUBNO", 'N', 11, 0}, {"KVX_SHEIH", 'N', 8, 3}, {"KVX_SWIDH", 'N', 8, 3}, {"KVX_ANGLE", 'N', 8, 3},
        {"KVX_SCOLR", 'N', 11, 0}, {"KVX_LAYER", 'N', 6, 0}, {"KVX_TRANS", 'N', 4, 0}},
       {"I__增加图示表达参数字段[KVX_SUBNO]", "I__增加图示表达参数字段[KVX_SHEIH]", "I__增加图示表达参数字段[KVX_SWIDH]",
        "I__增加图示表达参数字段[KVX_ANGLE]", "I__增加图示表达参数字段[KVX_SCOLR]", "I__增加图示表达参数字段[KVX_LAYER]",
        "I__增加图示表达参数字段[KVX_TRANS]"}},
      {PointRoutine::Symbols, 4, {{"KVX_LEGEND", 'C', 32, 0}, {"KVX_ANGLE", 'N', 8, 3}},
       {"I__增加图示表达编码字段[KVX_LEGEND]", "I__增加图示表达参数字段[KVX_ANGLE]"}},
      {PointRoutine::Symbols, 1, {{"KVX_SYMBOL", 'C', 32, 0}, {"KVX_ANGLE", 'N', 8, 3}},
       {"I__增加图示表达编码字段[KVX_SYMBOL]", "I__增加图示表达参数字段[KVX_ANGLE]"}},
      {PointRoutine::All, 0, {{"KVX_FID", 'N', 11, 0}}, {}},
      {PointRoutine::All, 2,
       {{"KVX_LABEL", 'C', 254, 0}, {"KVX_PTYPE", 'N', 4, 0}, {"KVX_SCOLR", 'N', 11, 0}, {"KVX_LAYER", 'N', 6, 0},
        {"KVX_TRANS", 'N', 4, 0}},
       {"I__增加图示表达参数字段[KVX_LABEL]", "I__增加图示表达参数字段[KVX_PTYPE]", "I__增加图示表达参数字段[KVX_SCOLR]",
        "I__增加图示表达参数字段[KVX_LAYER]", "I__增加图示表达参数字段[KVX_TRANS]"}},
      {PointRoutine::All, 4, {{"KVX_LABEL", 'C', 254, 0}, {"KVX_LEGEND", 'C', 32, 0}},
       {"I__增加图示表达参数字段[KVX_LABEL]", "I__增加图示表达编码字段[KVX_LEGEND]"}},
      {PointRoutine::All, 1, {{"KVX_LABEL", 'C', 254, 0}, {"KVX_SYMBOL", 'C', 32, 0}},
       {"I__增加图示表达参数字段[KVX_LABEL]", "I__增加图示表达编码字段[KVX_SYMBOL]"}},
      {PointRoutine::Notes, 0, {{note, 'C', 254, 0}}, {}},
      {PointRoutine::Notes, 5, {{note, 'C', 254, 0}}, {}},
      {PointRoutine::Notes, 2,
       {{note, 'C', 254, 0}, {"KVX_LABEL", 'C', 254, 0}, {"KVX_AHEI", 'N', 8, 3}, {"KVX_AWID", 'N', 8, 3},
        {"KVX_ASPA", 'N', 8, 3}, {"KVX_ANGLE", 'N', 8, 3}, {"KVX_CFNT", 'N', 6, 0}, {"KVX_EFNT", 'N', 6, 0},
        {"KVX_CFNX", 'N', 4, 0}, {"KVX_ACLR", 'N', 11, 0}, {"KVX_TRANS", 'N', 4, 0}, {"KVX_ALIGN", 'N', 4, 0},
        {"KVX_LAYER", 'N', 6, 0}},
       {"I__增加注释参数字段[KVX_LABEL]", "I__增加注释参数字段[KVX_AHEI]", "I__增加注释参数字段[KVX_AWID]",
        "I__增加注释参数字段[KVX_ASPA]", "I__增加注释参数字段[KVX_ANGLE]", "I__增加注释参数字段[KVX_CFNT]",
        "I__增加注释参数字段[KVX_EFNT]", "I__增加注释参数字段[KVX_CFNX]", "I__增加注释参数字段[KVX_ACLR]",
        "I__增加注释参数字段[KVX_TRAN]", "I__增加注释参数字段[KVX_ALGN]", "I__增加注释参数字段[KVX_LAYR]"}},
      {PointRoutine::Notes, 4, {{note, 'C', 254, 0}, {"KVX_LABEL", 'C', 254, 0}, {"KVX_ALIGN", 'N', 4, 0}, {"KVX_ANGLE", 'N', 8, 3}},
       {"I__增加注释参数字段[KVX_LABEL]", "I__增加注释参数字段[KVX_ALIGN]", "I__增加注释参数字段[KVX_ANGLE]"}},
      {PointRoutine::Notes, 1, {{note, 'C', 254, 0}, {"KVX_LABEL", 'C', 254, 0}, {"KVX_ALIGN", 'N', 4, 0}, {"KVX_ANGLE", 'N', 8, 3}},
       {"I__增加注释参数字段[KVX_LABEL]", "I__增加注释参数字段[KVX_ALIGN]", "I__增加注释参数字段[KVX_ANGLE]"}},
  };
  for (const SchemaCase& c : cases) {
    SCOPED_TRACE(std::string(NameOf(c.routine)) + " SymbolType " + std::to_string(c.symbolType));
    KvxTest::TempDir dir;
    auto layer = MixedPoints();
    const Outcome out = ConvertPoints(layer, dir, WithSymbolType(c.symbolType), c.routine);
    EXPECT_EQ(Dbf(out.base).Schema(), c.fields);
    // Header, the compaction warning, the field lines, the summary (and the legend file line).
    std::vector<std::string> expected = {kHeader, "W__文件未压缩存盘，可能存在错误信息"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    if (c.symbolType == 4 && c.routine != PointRoutine::Notes) expected.push_back("I__输出AVL图例文件");
    expected.push_back(out.log.back());
    EXPECT_EQ(out.log, expected);
  }
}

// ---- Values ---------------------------------------------------------------------------------------

TEST(PointConversion, SymbolParametersAreSignedAndTheAngleFollowsRotateType) {
  KvxTest::LayerBuilder b(KindPoint);
  b.AddPoint(10, 20);
  auto& p = b.Point(0);
  p.symbolNo = 70000;
  p.height = 2.5f;
  p.width = 3.25f;
  p.angle = 30.0f;
  p.color = -7;
  p.layer = -3;
  p.transparent = -1;
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(1);

  for (int rotate : {0, 1, 2}) {
    SCOPED_TRACE(rotate);
    KvxTest::TempDir dir;
    Kvx::FrameSettings s = WithSymbolType(2);
    s.rotateType = rotate;
    const Outcome out = ConvertPoints(b, dir, s, PointRoutine::Symbols);
    ASSERT_EQ(out.result, Kvx::kConvertSuccess);
    Dbf dbf(out.base);
    EXPECT_EQ(dbf.Integer(0, 0), 70000);
    EXPECT_DOUBLE_EQ(dbf.Real(0, 1), 2.5);
    EXPECT_DOUBLE_EQ(dbf.Real(0, 2), 3.25);
    char angle[16];
    std::snprintf(angle, sizeof angle, "%8.3f", Kvx::ConvertAngle(rotate, 30.0));
    EXPECT_EQ(dbf.Raw(0, 3), angle);
    EXPECT_EQ(dbf.Integer(0, 4), -7);  // ColorModel 2: the colour number itself
    EXPECT_EQ(dbf.Integer(0, 5), -3);
    EXPECT_EQ(dbf.Integer(0, 6), -1);
    auto shape = Shp(out.base).Read(0);
    EXPECT_EQ(shape->padfX[0], 10.0);
    EXPECT_EQ(shape->padfY[0], 20.0);
  }
  {
    KvxTest::TempDir dir;
    const Outcome out = ConvertPoints(b, dir, WithSymbolType(2), PointRoutine::Symbols);
    EXPECT_EQ(Dbf(out.base).Raw(0, 3), "  30.000");
  }
}

TEST(PointConversion, SymbolLegendCodes) {
  KvxTest::LayerBuilder b(KindPoint);
  b.AddPoint(0, 0);
  b.Point(0).symbolNo = 70000;
  b.Point(0).height = 2.5f;
  b.Point(0).width = 3.25f;
  b.Point(0).angle = 45.0f;
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(1);
  for (int symbolType : {4, 1}) {
    SCOPED_TRACE(symbolType);
    KvxTest::TempDir dir;
    const Outcome out = ConvertPoints(b, dir, WithSymbolType(symbolType), PointRoutine::Symbols);
    Dbf dbf(out.base);
    EXPECT_EQ(dbf.Text(0, 0), "FFFF" "00000000" "00000000" "0145" "00FA" "0000");
    EXPECT_DOUBLE_EQ(dbf.Real(0, 1), 45.0);
    EXPECT_EQ(fs::exists(out.base.native() + ".avl"), symbolType == 4);
  }
}

TEST(PointConversion, AllPointsParametersAndLabels) {
  KvxTest::LayerBuilder b(KindPoint);
  b.AddPoint(0, 0, "H#+2#=O");
  b.Point(0).textWidth = 4.0f;
  b.Point(0).chineseFont = 1;
  b.Point(0).layer = 300;
  b.Point(0).color = 5;
  b.AddPoint(1, 0, kNoteGbk + kNoteGbk);
  b.Point(1).pointType = 5;
  b.Point(1).textWidth = 2.0f;
  b.Point(1).textHeight = 2.0f;
  Kvx::SetBlockSize(b.Point(1), 4.0f, 4.0f);
  b.Point(1).transparent = 1;
  b.AddPoint(2, 0);
  b.Point(2).transparent = -2;
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(3);

  char font[MapGis::kFontNameBufferSize] = {0};
  MapGis::GetFontName(1, font, sizeof font);
  const std::string textLabel = Kvx::FormatTextLabel(&b.Point(0), "H#+2#=O", font, 0, Kvx::LabelSettings{});
  const std::string blockLabel = Kvx::FormatBlockLabel(&b.Point(1), (kNoteGbk + kNoteGbk).c_str(), 0, Kvx::LabelSettings{});
  ASSERT_NE(textLabel.find("H<SUP>2</SUP>O"), std::string::npos);
  ASSERT_NE(blockLabel.find("\r\n"), std::string::npos);

  for (int codePage : {0, 1}) {
    SCOPED_TRACE(codePage);
    KvxTest::TempDir dir;
    const Outcome out = ConvertPoints(b, dir, WithSymbolType(2, codePage), PointRoutine::All);
    ASSERT_EQ(out.result, Kvx::kConvertSuccess);
    Dbf dbf(out.base);
    const auto encode = [&](const std::string& gbk) { return codePage == 0 ? gbk : MapGis::GbkToUtf8(gbk); };
    EXPECT_EQ(dbf.Text(0, 0), encode(textLabel));
    EXPECT_EQ(dbf.Text(1, 0), encode(blockLabel));
    EXPECT_EQ(dbf.Text(2, 0), "");  // a symbol has no label
    const std::vector<std::vector<int>> values = {{0, 5, 300, 0}, {5, 0, 0, 1}, {1, 0, 0, -2}};
    for (int row = 0; row < 3; ++row)
      for (int f = 0; f < 4; ++f) EXPECT_EQ(dbf.Integer(row, f + 1), values[row][f]) << row << " " << f;
  }
}

TEST(PointConversion, AnnotationTextAndParameters) {
  KvxTest::LayerBuilder b(KindPoint);
  b.AddPoint(0, 0, kNoteGbk + "a,b");
  auto& t = b.Point(0);
  t.textHeight = 5.0f;
  t.textWidth = 4.0f;
  t.spacing = 1.0f;
  t.angle = 45.0f;
  t.chineseFont = -2;
  t.westernFont = 7;
  t.fontStyle = 1;
  t.alignment = 2;
  t.alignment5 = 9;
  t.color = 11;
  t.transparent = 1;
  t.layer = -300;
  b.AddPoint(1, 0, "x");
  b.Point(1).pointType = 5;
  b.Point(1).alignment = 2;
  b.Point(1).alignment5 = 3;
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(2);
  const std::string label = Kvx::FormatNoteLabel(&b.Point(0), (kNoteGbk + "a,b").c_str(), 0, Kvx::LabelSettings{});

  for (int codePage : {0, 1}) {
    SCOPED_TRACE(codePage);
    KvxTest::TempDir dir;
    Kvx::FrameSettings s = WithSymbolType(2, codePage);
    s.rotateType = 0;  // annotations keep their stored angle whatever RotateType says
    const Outcome out = ConvertPoints(b, dir, s, PointRoutine::Notes);
    ASSERT_EQ(out.result, Kvx::kConvertSuccess);
    Dbf dbf(out.base);
    const auto encode = [&](const std::string& gbk) { return codePage == 0 ? gbk : MapGis::GbkToUtf8(gbk); };
    EXPECT_EQ(dbf.Text(0, 0), encode(kNoteGbk + "a,b"));
    EXPECT_EQ(dbf.Text(0, 1), encode(label));
    EXPECT_EQ(dbf.Raw(0, 2), "   5.000");
    EXPECT_EQ(dbf.Raw(0, 3), "   4.000");
    EXPECT_EQ(dbf.Raw(0, 4), "   1.000");
    EXPECT_EQ(dbf.Raw(0, 5), "  45.000");
    const std::vector<int> ints = {-2, 7, 1, 11, 1, 2, -300};
    for (int f = 0; f < 7; ++f) EXPECT_EQ(dbf.Integer(0, 6 + f), ints[static_cast<std::size_t>(f)]) << f;
    EXPECT_EQ(dbf.Integer(1, 11), 3);  // a text block's alignment
  }
  for (int symbolType : {4, 1}) {
    KvxTest::TempDir dir;
    Kvx::FrameSettings s = WithSymbolType(symbolType);
    s.rotateType = 1;
    const Outcome out = ConvertPoints(b, dir, s, PointRoutine::Notes);
    Dbf dbf(out.base);
    EXPECT_EQ(dbf.Text(0, 1), label);
    EXPECT_EQ(dbf.Integer(0, 2), 2);
    EXPECT_EQ(dbf.Integer(1, 2), 3);
    EXPECT_EQ(dbf.Raw(0, 3), "  45.000");
    EXPECT_FALSE(fs::exists(out.base.native() + ".avl"));
  }
}

TEST(PointConversion, AnnotationFieldNameInBothCodePages) {
  const std::vector<std::pair<int, std::string>> cases = {
      {0, MapGis::Utf8ToGbk("注释文字")},  // 8 bytes of GBK
      {1, "注释文"},                       // 12 bytes of UTF-8: the three characters that fit in 10
  };
  for (const auto& [codePage, name] : cases) {
    SCOPED_TRACE(codePage);
    KvxTest::TempDir dir;
    auto layer = MixedPoints();
    const Outcome out = ConvertPoints(layer, dir, WithSymbolType(0, codePage), PointRoutine::Notes);
    Dbf dbf(out.base);
    ASSERT_EQ(dbf.Fields(), 1);
    EXPECT_EQ(dbf.Schema()[0].name, name);
    EXPECT_EQ(ReadBytes(out.base.native() + ".cpg"), codePage == 1 ? "UTF-8" : "936");
  }
}

// ---- Labels never end in half a character ----------------------------------------------------------

// The longest prefix of `text` of whole characters within `limit` bytes.
std::string Utf8Prefix(const std::string& text, std::size_t limit) {
  std::size_t end = 0;
  while (end < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[end]);
    const std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (end + n > limit) break;
    end += n;
  }
  return text.substr(0, end);
}

TEST(PointConversion, LongLabelsAreCutBetweenCharacters) {
  // With spacing, italic and bold tags the Chinese body reaches past the field's 254 bytes; one
  // leading ASCII byte more or less moves the cut from between two characters into one.
  std::vector<std::size_t> gbkCuts;
  for (const std::string lead : {"", "x"}) {
    std::string text = lead;
    while (text.size() < 240) text += kZhong;
    KvxTest::LayerBuilder b(KindPoint);
    b.AddPoint(0, 0, text);
    auto& t = b.Point(0);
    // Large sizes lengthen the size and spacing texts in front of the body.
    t.textWidth = 10000.0f;
    t.spacing = 1.0e12f;
    t.fontStyle = 1;
    t.chineseFont = 3;
    b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(1);
    const std::string markup = Kvx::FormatNoteLabel(&b.Point(0), text.c_str(), 0, Kvx::LabelSettings{});
    ASSERT_GT(markup.size(), 254u);
    ASSERT_NE(markup.substr(240, 20).find(kZhong), std::string::npos);  // Chinese around the cut

    for (int codePage : {0, 1}) {
      SCOPED_TRACE("lead '" + lead + "' CodePage " + std::to_string(codePage));
      KvxTest::TempDir dir;
      const Outcome out = ConvertPoints(b, dir, WithSymbolType(4, codePage), PointRoutine::Notes);
      ASSERT_EQ(out.result, Kvx::kConvertSuccess);
      Dbf dbf(out.base);
      const std::string raw = dbf.Raw(0, 1);
      const std::string stored = raw.substr(0, raw.find_last_not_of(' ') + 1);
      const std::string expected = codePage == 0 ? markup.substr(0, MapGis::GbkPrefixLength(markup, 254))
                                                 : Utf8Prefix(MapGis::GbkToUtf8(markup), 254);
      EXPECT_EQ(stored, expected);
      EXPECT_GE(expected.size(), codePage == 0 ? 253u : 252u);
      // The same text decodes without a broken character.
      if (codePage == 0) {
        gbkCuts.push_back(expected.size());
        EXPECT_EQ(MapGis::Utf8ToGbk(MapGis::GbkToUtf8(stored)), stored);
      }
    }
  }
  // One of the two cuts fell inside a character and left it out.
  std::sort(gbkCuts.begin(), gbkCuts.end());
  EXPECT_EQ(gbkCuts, (std::vector<std::size_t>{253, 254}));
}

// ---- Legend lists ----------------------------------------------------------------------------------

TEST(PointConversion, SymbolsShareLegendEntriesWithinTheTolerance) {
  KvxTest::LayerBuilder b(KindPoint);
  const float widths[] = {1.0f, 1.00005f, 1.001f, 1.0f};
  for (int i = 0; i < 4; ++i) {
    b.AddPoint(i, 0);
    b.Point(i).symbolNo = 3;
    b.Point(i).width = widths[i];
    b.Point(i).height = 2.0f;
  }
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(4);
  KvxTest::TempDir dir;
  Kvx::FrameSettings s = WithSymbolType(4);
  const Outcome out = ConvertPoints(b, dir, s, PointRoutine::Symbols);
  ASSERT_EQ(out.result, Kvx::kConvertSuccess);
  Dbf dbf(out.base);
  // 1.001 is an entry of its own, though its size codes to the same hundredths.
  for (int row = 0; row < 4; ++row) EXPECT_EQ(dbf.Text(row, 0), "0003" "00000000" "00000000" "0064" "00C8" "0000");

  Kvx::StyleContext noColours;
  Kvx::LegendCollector expected(Kvx::LegendMode::Legend);
  for (int i = 0; i < 4; ++i) expected.Add(Kvx::SymbolLegendEntry(b.Point(i), noColours, Kvx::LegendMode::Legend));
  ASSERT_EQ(expected.Entries().size(), 2u);
  EXPECT_EQ(ReadBytes(out.base.native() + ".avl"),
            Kvx::BuildAvl(Kvx::AvlKind::Marker, expected.Colours(), expected.Entries(), s.symbolFontName));
}

TEST(PointConversion, AllPointsShareLegendEntriesByTypeAndColour) {
  auto b = MixedPoints();
  b.Point(0).width = 5.0f;  // symbol sizes play no part: every entry has the sizes 9, 9, 0
  KvxTest::TempDir dir;
  Kvx::FrameSettings s = WithSymbolType(4);
  const Outcome out = ConvertPoints(b, dir, s, PointRoutine::All);
  ASSERT_EQ(out.result, Kvx::kConvertSuccess);
  Dbf dbf(out.base);
  EXPECT_EQ(dbf.Text(0, 1), "0001" "00000000" "00000000" "0384" "0384" "0000");
  EXPECT_EQ(dbf.Text(3, 1), dbf.Text(0, 1));
  EXPECT_EQ(dbf.Text(1, 1), "0000" "00000000" "00000000" "0384" "0384" "0000");

  Kvx::StyleContext noColours;
  Kvx::LegendCollector expected(Kvx::LegendMode::Legend);
  for (int i = 0; i < 5; ++i)
    expected.Add(Kvx::PointTypeLegendEntry(b.Point(i), noColours, Kvx::LegendMode::Legend));
  ASSERT_EQ(expected.Entries().size(), 4u);  // types 1, 0, 5 and 2
  EXPECT_EQ(ReadBytes(out.base.native() + ".avl"),
            Kvx::BuildAvl(Kvx::AvlKind::Marker, expected.Colours(), expected.Entries(), s.symbolFontName));

  // Symbol mode: codes, no legend file.
  KvxTest::TempDir dir1;
  const Outcome symbols = ConvertPoints(b, dir1, WithSymbolType(1), PointRoutine::All);
  EXPECT_EQ(Dbf(symbols.base).Text(2, 1), "0005" "00000000" "00000000" "0384" "0384" "0000");
  EXPECT_FALSE(fs::exists(symbols.base.native() + ".avl"));
}

// ---- GDAL ----------------------------------------------------------------------------------------

std::vector<std::string> GdalDump(const fs::path& shp) {
  const std::string command =
      "/usr/bin/python3 -c \"import sys\nfrom osgeo import ogr\nds = ogr.Open(sys.argv[1])\nl = ds.GetLayer(0)\n"
      "d = l.GetLayerDefn()\nprint('COUNT', l.GetFeatureCount())\n"
      "for i in range(d.GetFieldCount()): print('FIELD', d.GetFieldDefn(i).GetName(), d.GetFieldDefn(i).GetWidth())\n"
      "for f in l:\n  g = f.GetGeometryRef()\n  print('POINT', g.GetX(), g.GetY())\n"
      "  for i in range(d.GetFieldCount()): print('VALUE', f.GetFieldAsString(i))\n\" '" +
      shp.string() + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::vector<std::string> lines;
  if (!pipe) return lines;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe.get())) {
    std::string line = buffer;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

TEST(PointConversion, AnnotationsAsGdalReadsThem) {
  if (std::system("/usr/bin/python3 -c 'from osgeo import ogr' > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "GDAL's Python bindings are not installed";
  KvxTest::LayerBuilder b(KindPoint);
  b.AddPoint(1.5, 2.5, kNoteGbk + "A&B");
  b.Point(0).textWidth = 4.0f;
  b.Point(0).alignment = 1;
  b.AddPoint(7, 8);
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(2);
  const std::string label = MapGis::GbkToUtf8(Kvx::FormatNoteLabel(&b.Point(0), (kNoteGbk + "A&B").c_str(), 0, Kvx::LabelSettings{}));
  KvxTest::TempDir dir;
  const Outcome out = ConvertPoints(b, dir, WithSymbolType(4, 1), PointRoutine::Notes);
  ASSERT_EQ(out.result, Kvx::kConvertSuccess);
  const std::vector<std::string> expected = {
      "COUNT 1",           "FIELD 注释文 254", "FIELD KVX_LABEL 254", "FIELD KVX_ALIGN 4", "FIELD KVX_ANGLE 8",
      "POINT 1.5 2.5",     "VALUE 注释A&B",    "VALUE " + label,      "VALUE 1",           "VALUE 0.000",
  };
  EXPECT_EQ(GdalDump(out.base.native() + ".shp"), expected);
}

// The schema lines by which the point conversions differ.
TEST(PointConversion, SchemaLinesOfEachRoutine) {
  struct Case {
    PointRoutine routine;
    std::string unsupported;
  };
  const std::vector<Case> cases = {
      {PointRoutine::Symbols, "E__[GRID]字段类型SHAPE格式不支持"},
      {PointRoutine::All, "W__[GRID]字段类型SHAPE格式不支持"},
      {PointRoutine::Notes, "E__[GRID]字段类型SHAPE格式不支持"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(NameOf(c.routine));
    for (int type : {12, 19}) {
      KvxTest::TempDir dir;
      KvxTest::LayerBuilder b(KindPoint);
      b.AddPoint(0, 0, "t");
      b.AddPoint(1, 0);
      b.Attributes(KvxTest::EntryPrimaryAttr).AddField("GRID", type, 4, 4);
      b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(2);
      const Outcome out = ConvertPoints(b, dir, PlainSettings(), c.routine);
      const std::string line = type == 12 ? c.unsupported : "E__[GRID]字段结构定义存在严重错误";
      EXPECT_NE(std::find(out.log.begin(), out.log.end(), line), out.log.end()) << line;
      EXPECT_EQ(out.result, type == 12 ? Kvx::kConvertSuccess : Kvx::kConvertBadStructure);
    }
  }
}

}  // namespace
