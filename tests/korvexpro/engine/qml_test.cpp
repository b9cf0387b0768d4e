// The QGIS style beside outputs written with drawing parameters: when it is written, the renderer
// by symbol type and colour model, the categories and their colours from the colour library, and
// a style file that cannot be written.

#include <string>
#include <vector>

#include "engine_fixtures.h"

namespace {

using namespace KvxEngineTest;

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

KvxTest::LayerBuilder ColouredLines() {
  KvxTest::LayerBuilder b = Lines(3);
  const std::int32_t colours[] = {KvxTest::kBlue, KvxTest::kRed, KvxTest::kBlue};
  for (int i = 0; i < 3; ++i) {
    auto& l = b.Line(i);
    l.lineType = 1;
    l.color = colours[i];
    l.width = 0.5f;
  }
  b.Attributes(KvxTest::EntryPrimaryAttr).AddField(MapGis::Utf8ToGbk("道路等级名称"), MapGis::FieldLong);
  return b;
}

TEST(QgisStyle, WrittenBySymbolTypeAndColourModel) {
  const struct Case {
    const char* name;
    std::int32_t symbolType, colorModel, qgisStyle;
    bool written;
    std::string renderer;                 // the renderer element's type
    std::vector<std::string> colours;     // RGB texts that must appear
    std::size_t categories;
    bool dataDefined;
    std::vector<std::string> extraLog;    // lines before the summary
  } cases[] = {
      {"legend codes", 4, 0, 1, true, "categorizedSymbol", {"0,0,255,255", "255,0,0,255"}, 2, false,
       {"I__增加图示表达编码字段[KVX_LEGEND]", "I__输出AVL图例文件"}},
      {"symbol codes take the RGB of the CMYK's colour", 1, 0, 1, true, "categorizedSymbol",
       {"0,0,255,255", "255,0,0,255"}, 2, false, {"I__增加图示表达编码字段[KVX_SYMBOL]"}},
      {"parameters in RGB", 2, 0, 1, true, "singleSymbol", {}, 0, true, {}},
      {"parameters as colour numbers", 2, 2, 1, true, "singleSymbol", {}, 0, false,
       {"W__颜色模型不是RGB，QGIS样式使用单一颜色"}},
      {"switched off", 4, 0, 0, false, "", {}, 0, false, {"I__增加图示表达编码字段[KVX_LEGEND]", "I__输出AVL图例文件"}},
      {"no drawing parameters", 0, 0, 1, false, "", {}, 0, false, {}},
  };
  Colours colours;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b = ColouredLines();
    Kvx::FrameSettings s = PlainSettings();
    s.symbolType = c.symbolType;
    s.colorModel = c.colorModel;
    s.qgisStyle = c.qgisStyle;
    const Outcome out = Convert(b, dir, s, Routine::Line, "out", nullptr, &colours.styles);
    ASSERT_EQ(out.result, 99999);
    std::vector<std::string> log;
    for (const std::string& line : out.log)
      if (line.rfind("I__增加图示表达参数字段", 0) != 0) log.push_back(line);  // the parameter fields' lines
    std::vector<std::string> expected = c.extraLog;
    expected.push_back("I__全部正确转换(3/3)");
    EXPECT_EQ(log, WithHeader(expected));
    ASSERT_EQ(fs::exists(dir / "out.qml"), c.written);
    if (!c.written) continue;
    const std::string qml = ReadBytes(dir / "out.qml");
    EXPECT_NE(qml.find("<renderer-v2 type=\"" + c.renderer + "\""), std::string::npos);
    EXPECT_EQ(Count(qml, "<category "), c.categories);
    for (const std::string& colour : c.colours) EXPECT_NE(qml.find("value=\"" + colour + "\""), std::string::npos) << colour;
    EXPECT_EQ(qml.find("name=\"outlineColor\"") != std::string::npos, c.dataDefined);
    // The cut field name shows its whole name as alias.
    EXPECT_NE(qml.find("name=\"道路等级名称\""), std::string::npos);
    EXPECT_NE(qml.find("field=\"道路等级名\""), std::string::npos);
  }
}

TEST(QgisStyle, StyleFileThatCannotBeWrittenFailsTheConversion) {
  KvxTest::TempDir dir;
  fs::create_directory(dir / "out.qml");
  KvxTest::LayerBuilder b = Lines(1);
  Kvx::FrameSettings s = PlainSettings();
  s.symbolType = 4;
  s.qgisStyle = 1;
  const Outcome out = Convert(b, dir, s);
  EXPECT_EQ(out.result, -9982);
  EXPECT_EQ(out.log, WithHeader({"I__增加图示表达编码字段[KVX_LEGEND]", "I__输出AVL图例文件", "E__QGIS样式文件输出失败",
                                 "I__全部正确转换(1/1)"}));
  EXPECT_EQ(Shp(out.base).Count(), 1) << "the shapefile itself is complete";
}

}  // namespace
