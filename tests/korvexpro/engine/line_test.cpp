// Line and network-line conversion: geometry, and the drawing parameters of every SymbolType.

#include <string>
#include <vector>

#include "engine_fixtures.h"
#include "styles_fixtures.h"

namespace {

using namespace KvxEngineTest;
using MapGis::KindLine;
using MapGis::KindNetwork;

// A line of the legend examples: type 3, auxiliary type 2, width 0.5, scales 10 and 2.
void Style(MapGis::MAPGIS_LineInfo& l, std::int32_t colour, std::int32_t auxColour) {
  l.lineType = 3;
  l.auxType = 2;
  l.color = colour;
  l.width = 0.5f;
  l.xScale = 10.0f;
  l.yScale = 2.0f;
  l.auxColor = auxColour;
}

TEST(LineConversion, GeometryOfEveryLineUnchanged) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b(KindLine);
  b.AddLine({{1.5, 2.5}, {3.0, -4.0}, {1e6, 2e6}});
  b.AddLine({{-7.25, 0.0}, {8.0, 9.0}});
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(2);
  const Outcome out = Convert(b, dir, PlainSettings());
  ASSERT_EQ(out.result, 99999);
  Shp shp(out.base);
  ASSERT_EQ(shp.Type(), SHPT_ARC);
  ASSERT_EQ(shp.Count(), 2);
  auto first = shp.Read(0);
  ASSERT_EQ(first->nVertices, 3);
  ASSERT_EQ(first->nParts, 1);
  EXPECT_EQ(first->padfX[2], 1e6);
  EXPECT_EQ(first->padfY[1], -4.0);
  EXPECT_EQ(first->dfYMin, -4.0);
  EXPECT_EQ(first->dfYMax, 2e6);
  EXPECT_EQ(shp.Read(1)->padfX[0], -7.25);
}

TEST(LineConversion, ParameterFieldsHoldSignedValues) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(1);
  auto& l = b.Line(0);
  l.lineType = -3;
  l.color = 70000;
  l.width = 0.5f;
  l.lineClass = -1;
  l.xScale = 10.0f;
  l.yScale = 12345.678f;
  l.auxType = -2;
  l.auxColor = -7;
  l.layer = -300;
  l.transparent = 1;
  Kvx::FrameSettings s = PlainSettings();
  s.symbolType = 2;
  s.colorModel = 2;  // the colour number itself
  const Outcome out = Convert(b, dir, s);
  ASSERT_EQ(out.result, 99999);
  EXPECT_EQ(out.log, WithHeader({"I__增加图示表达参数字段[KVX_LTYPE]", "I__增加图示表达参数字段[KVX_LCOLR]",
                                 "I__增加图示表达参数字段[KVX_LWIDH]", "I__增加图示表达参数字段[KVX_LCLAS]",
                                 "I__增加图示表达参数字段[KVX_XSCAL]", "I__增加图示表达参数字段[KVX_YSCAL]",
                                 "I__增加图示表达参数字段[KVX_FTYPE]", "I__增加图示表达参数字段[KVX_FCOLR]",
                                 "I__增加图示表达参数字段[KVX_LAYER]", "I__增加图示表达参数字段[KVX_TRANS]",
                                 "I__全部正确转换(1/1)"}));
  Dbf dbf(out.base);
  const std::vector<FieldInfo> schema{
      {"KVX_LTYPE", 'N', 6, 0}, {"KVX_LCOLR", 'N', 11, 0}, {"KVX_LWIDH", 'N', 8, 3}, {"KVX_LCLAS", 'N', 4, 0},
      {"KVX_XSCAL", 'N', 8, 3}, {"KVX_YSCAL", 'N', 8, 3},  {"KVX_FTYPE", 'N', 4, 0}, {"KVX_FCOLR", 'N', 11, 0},
      {"KVX_LAYER", 'N', 6, 0}, {"KVX_TRANS", 'N', 4, 0},
  };
  EXPECT_EQ(dbf.Schema(), schema);
  const std::vector<std::string> raw{"    -3", "      70000", "   0.500", "  -1",   "  10.000",
                                     "12345.68", "  -2",    "         -7", "  -300", "   1"};
  for (int f = 0; f < 10; ++f) EXPECT_EQ(dbf.Raw(0, f), raw[static_cast<std::size_t>(f)]) << schema[f].name;
}

TEST(LineConversion, ColourFieldsFollowTheColourModel) {
  Colours colours;
  const struct {
    std::int32_t model;
    int lineColour, auxColour;
  } cases[] = {
      {0, 16711680, 255},          // packed RGB of blue and red
      {1, 0x64640000, 0x00646400}, // packed CMYK in percent
      {2, KvxTest::kBlue, KvxTest::kRed},
      {7, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b = Lines(1);
    Style(b.Line(0), KvxTest::kBlue, KvxTest::kRed);
    Kvx::FrameSettings s = PlainSettings();
    s.symbolType = 2;
    s.colorModel = c.model;
    const Outcome out = Convert(b, dir, s, Routine::Line, "out", nullptr, &colours.styles);
    ASSERT_EQ(out.result, 99999);
    Dbf dbf(out.base);
    EXPECT_EQ(dbf.Integer(0, 1), c.lineColour);
    EXPECT_EQ(dbf.Integer(0, 7), c.auxColour);
  }
}

TEST(LineConversion, LegendCodesAndTheLineLegend) {
  Colours colours;
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(4);
  Style(b.Line(0), KvxTest::kBlue, 1);
  Style(b.Line(1), KvxTest::kBlue, 2);  // differs in its auxiliary colour only
  Style(b.Line(2), 99, 0);              // a colour beyond the library
  Style(b.Line(3), KvxTest::kBlue, 1);
  b.Line(3).auxType = -1;               // a negative auxiliary type makes the symbol 0
  b.Attributes(KvxTest::EntryPrimaryAttr).AddField("ID", MapGis::FieldLong);
  Kvx::FrameSettings s = PlainSettings();
  s.symbolType = 4;
  const Outcome out = Convert(b, dir, s, Routine::Line, "out", nullptr, &colours.styles);
  ASSERT_EQ(out.result, 99999);
  EXPECT_EQ(out.log, WithHeader({"I__增加图示表达编码字段[KVX_LEGEND]", "I__输出AVL图例文件", "I__全部正确转换(4/4)"}));
  Dbf dbf(out.base);
  EXPECT_EQ(dbf.Schema()[1], (FieldInfo{"KVX_LEGEND", 'C', 32, 0}));
  EXPECT_EQ(dbf.Text(0, 1), "030200FF00000000000000320" "3E800C8");
  EXPECT_EQ(dbf.Text(1, 1), dbf.Text(0, 1));
  EXPECT_EQ(dbf.Text(2, 1), "03020000000000000000003203E800C8");
  EXPECT_EQ(dbf.Text(3, 1), "000000FF00000000000000320" "3E800C8");
  const std::string avl = ReadBytes(dir / "out.avl");
  EXPECT_NE(avl.find("KVX_LEGEND"), std::string::npos);
  EXPECT_NE(avl.find("030200FF000000000000003203E800C8"), std::string::npos);
  EXPECT_NE(avl.find("(BLnSym."), std::string::npos);
}

TEST(LineConversion, LegendFileThatCannotBeWrittenFailsTheConversion) {
  KvxTest::TempDir dir;
  fs::create_directory(dir / "out.avl");
  KvxTest::LayerBuilder b = Lines(1);
  Kvx::FrameSettings s = PlainSettings();
  s.symbolType = 4;
  const Outcome out = Convert(b, dir, s);
  EXPECT_EQ(out.result, -9982);
  EXPECT_EQ(out.log, WithHeader({"I__增加图示表达编码字段[KVX_LEGEND]", "E__AVL图例文件输出失败", "I__全部正确转换(1/1)"}));
  EXPECT_EQ(Shp(out.base).Count(), 1) << "the shapefile itself is complete";
}

TEST(LineConversion, SymbolCodesUseCmykAndWriteNoLegendFile) {
  Colours colours;
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(1);
  Style(b.Line(0), KvxTest::kBlue, 0);
  Kvx::FrameSettings s = PlainSettings();
  s.symbolType = 1;
  const Outcome out = Convert(b, dir, s, Routine::Line, "out", nullptr, &colours.styles);
  ASSERT_EQ(out.result, 99999);
  EXPECT_EQ(out.log, WithHeader({"I__增加图示表达编码字段[KVX_SYMBOL]", "I__全部正确转换(1/1)"}));
  Dbf dbf(out.base);
  EXPECT_EQ(dbf.Schema(), (std::vector<FieldInfo>{{"KVX_SYMBOL", 'C', 32, 0}}));
  EXPECT_EQ(dbf.Text(0, 0), "03026464000000000000003203E800C8");
  EXPECT_FALSE(fs::exists(dir / "out.avl"));
}

TEST(LineConversion, OtherSymbolTypesAddNoFields) {
  for (std::int32_t symbolType : {0, 3, -1}) {
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b = Lines(1);
    b.Attributes(KvxTest::EntryPrimaryAttr).AddField("ID", MapGis::FieldLong);
    Kvx::FrameSettings s = PlainSettings();
    s.symbolType = symbolType;
    const Outcome out = Convert(b, dir, s);
    EXPECT_EQ(out.log, WithHeader({"I__全部正确转换(1/1)"})) << symbolType;
    EXPECT_EQ(Dbf(out.base).Fields(), 1) << symbolType;
  }
}

TEST(NetworkLineConversion, LinesOfANetworkAndTheKindChecks) {
  {
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b = Lines(2, KindNetwork);
    Style(b.Line(1), 3, 0);
    Kvx::FrameSettings s = PlainSettings();
    s.symbolType = 2;
    const Outcome out = Convert(b, dir, s, Routine::NetworkLine);
    EXPECT_EQ(out.result, 99999);
    EXPECT_EQ(out.log.size(), 12u);
    EXPECT_EQ(out.log.back(), "I__全部正确转换(2/2)");
    Dbf dbf(out.base);
    EXPECT_EQ(dbf.Integer(1, 0), 3);
    EXPECT_EQ(Shp(out.base).Count(), 2);
  }
  {
    // Nodes only: nothing to write.
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b(KindNetwork);
    b.AddNode(1, 1, {});
    b.AddNode(2, 2, {});
    const Outcome out = Convert(b, dir, PlainSettings(), Routine::NetworkLine);
    EXPECT_EQ(out.result, 10);
    EXPECT_EQ(out.log, WithHeader({"W__输出结果文件为空文件"}));
  }
  {
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b = Lines(1, KindNetwork);
    const Outcome out = Convert(b, dir, PlainSettings(), Routine::Line);
    EXPECT_EQ(out.result, -9997);
    EXPECT_EQ(out.log, WithHeader({"E__文件几何类型错误"}));
  }
}

}  // namespace
