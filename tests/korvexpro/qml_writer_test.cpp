// The XML writer (every text escaped, the document always well-formed) and the QGIS style documents
// built with it. QGIS itself reads the styles in the Python check python/qgis_styles.py.

#include <gtest/gtest.h>

#include <string>

#include "styles/qml_writer.h"
#include "styles/xml_writer.h"

namespace {

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

TEST(XmlWriter, EscapesEveryText) {
  const struct {
    const char* name;
    std::string in;
    std::string out;
  } cases[] = {
      {"markup", "a<b>&\"c'", "a&lt;b&gt;&amp;&quot;c&apos;"},
      {"chinese kept", "注释文字", "注释文字"},
      {"line ends kept as references", "a\tb\nc\r", "a&#9;b&#10;c&#13;"},
      {"control characters replaced", std::string("a\x01" "b\0c", 5), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c"},
      {"GBK bytes are not UTF-8", "\xB5\xD8", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"cut sequence", "\xE6\xB3", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"overlong form", "\xC0\xBC", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"four bytes kept", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"plain runs around the rest", "name = 12\x7F\xE6\xB3\xA8 <x> tail", "name = 12\x7F\xE6\xB3\xA8 &lt;x&gt; tail"},
      {"a run ends at a cut sequence", "abc\xE6", "abc\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) EXPECT_EQ(Kvx::XmlWriter::Escape(c.in), c.out) << c.name;
}

TEST(XmlWriter, NestsElementsAndClosesWhatIsOpen) {
  Kvx::XmlWriter x("qgis");
  x.Open("a").Attribute("k", "<v>").Attribute("n", 12LL);
  x.Empty("b", {{"x", "1"}});
  x.Open("c").Text("t&t").Close();
  x.Open("d");
  const std::string doc = x.Finish();
  EXPECT_EQ(doc,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE qgis>\n"
            "<a k=\"&lt;v&gt;\" n=\"12\">\n  <b x=\"1\"/>\n  <c>t&amp;t</c>\n  <d/>\n</a>\n");
}

Kvx::QmlStyle RegionLegend() {
  Kvx::QmlStyle s;
  s.geometry = Kvx::QmlGeometry::Region;
  s.renderer = Kvx::QmlRenderer::Categorized;
  s.classField = "KVX_LEGEND";
  s.fields = {{"地层代号", "地层代号"}, {"a\"b<", "a\"b<whole"}, {"KVX_LEGEND", "KVX_LEGEND"}};
  s.categories = {{"0001", {255, 0, 0}, {0, 0, 255}, 3, 0.0}, {"0002", {1, 2, 3}, {}, 0, 0.0}};
  return s;
}

TEST(QmlStyle, CategorizedRegionsWithHatchWhereThePatternIsSet) {
  const std::string doc = Kvx::BuildQml(RegionLegend());
  EXPECT_NE(doc.find("<renderer-v2 type=\"categorizedSymbol\""), std::string::npos);
  EXPECT_NE(doc.find("attr=\"KVX_LEGEND\""), std::string::npos);
  EXPECT_EQ(Count(doc, "<category "), 2u);
  EXPECT_NE(doc.find("value=\"0001\" label=\"0001\""), std::string::npos);
  EXPECT_NE(doc.find("value=\"255,0,0,255\""), std::string::npos);
  EXPECT_NE(doc.find("value=\"1,2,3,255\""), std::string::npos);
  // The hatch layer only for the first category, in its pattern colour.
  EXPECT_EQ(Count(doc, "value=\"b_diagonal\""), 1u);
  EXPECT_NE(doc.find("value=\"0,0,255,255\""), std::string::npos);
  EXPECT_NE(doc.find("labelsEnabled=\"0\""), std::string::npos);
  // Aliases carry the whole names, escaped.
  EXPECT_NE(doc.find("<alias field=\"a&quot;b&lt;\" index=\"1\" name=\"a&quot;b&lt;whole\"/>"), std::string::npos);
  EXPECT_NE(doc.find("<alias field=\"地层代号\" index=\"0\" name=\"地层代号\"/>"), std::string::npos);
}

TEST(QmlStyle, DataDefinedLinesAndLabelledAnnotations) {
  Kvx::QmlStyle lines;
  lines.geometry = Kvx::QmlGeometry::Line;
  lines.renderer = Kvx::QmlRenderer::DataDefined;
  lines.fields = {{"KVX_LCOLR", "KVX_LCOLR"}, {"KVX_LWIDH", "KVX_LWIDH"}};
  const std::string l = Kvx::BuildQml(lines);
  EXPECT_NE(l.find("<renderer-v2 type=\"singleSymbol\""), std::string::npos);
  EXPECT_NE(l.find("name=\"outlineColor\""), std::string::npos);
  EXPECT_NE(l.find("color_rgb(&quot;KVX_LCOLR&quot; % 256, floor(&quot;KVX_LCOLR&quot; / 256) % 256"),
            std::string::npos);
  EXPECT_NE(l.find("name=\"outlineWidth\""), std::string::npos);

  Kvx::QmlStyle notes;
  notes.geometry = Kvx::QmlGeometry::Marker;
  notes.labels = true;
  notes.labelField = "注释文字";
  notes.rgbColourFields = true;
  notes.fields = {{"注释文字", "注释文字"}, {"KVX_AHEI", "KVX_AHEI"}, {"KVX_ANGLE", "KVX_ANGLE"},
                  {"KVX_CFNT", "KVX_CFNT"}, {"KVX_ACLR", "KVX_ACLR"}};
  const std::string n = Kvx::BuildQml(notes);
  EXPECT_NE(n.find("labelsEnabled=\"1\""), std::string::npos);
  EXPECT_NE(n.find("<renderer-v2 type=\"nullSymbol\""), std::string::npos);
  EXPECT_NE(n.find("fieldName=\"注释文字\""), std::string::npos);
  EXPECT_NE(n.find("fontSizeUnit=\"MapUnit\""), std::string::npos);
  for (const char* property : {"LabelRotation", "Size", "Color", "Family"})
    EXPECT_NE(n.find(std::string("name=\"") + property + "\" type=\"Map\""), std::string::npos) << property;
  EXPECT_NE(n.find("THEN &apos;宋体&apos;"), std::string::npos);
}

// A marker is as large as its MapGIS height in the layer's coordinates, a line as wide as its
// width in millimetres; a marker with no size stays readable on screen.
TEST(QmlStyle, SizeUnitsFollowWhatMapGisMeasuresThemIn) {
  const struct {
    const char* name;
    Kvx::QmlGeometry geometry;
    Kvx::QmlRenderer renderer;
    double size;
    bool heightField;
    const char* expected;
  } cases[] = {
      {"legend marker with a height", Kvx::QmlGeometry::Marker, Kvx::QmlRenderer::Categorized, 500.0, false,
       "name=\"size\" type=\"QString\" value=\"500\"/>\n"},
      {"legend marker in map units", Kvx::QmlGeometry::Marker, Kvx::QmlRenderer::Categorized, 20.0, false,
       "name=\"size_unit\" type=\"QString\" value=\"MapUnit\""},
      {"legend marker without a height", Kvx::QmlGeometry::Marker, Kvx::QmlRenderer::Categorized, 0.0, false,
       "name=\"size_unit\" type=\"QString\" value=\"MM\""},
      {"marker sized by its height field", Kvx::QmlGeometry::Marker, Kvx::QmlRenderer::DataDefined, 0.0, true,
       "name=\"size_unit\" type=\"QString\" value=\"MapUnit\""},
      {"marker with no height field", Kvx::QmlGeometry::Marker, Kvx::QmlRenderer::DataDefined, 0.0, false,
       "name=\"size_unit\" type=\"QString\" value=\"MM\""},
      {"line width in millimetres", Kvx::QmlGeometry::Line, Kvx::QmlRenderer::Categorized, 0.5, false,
       "name=\"line_width_unit\" type=\"QString\" value=\"MM\""},
  };
  for (const auto& c : cases) {
    Kvx::QmlStyle s;
    s.geometry = c.geometry;
    s.renderer = c.renderer;
    s.rgbColourFields = true;
    if (c.renderer == Kvx::QmlRenderer::Categorized) {
      s.classField = "KVX_LEGEND";
      s.fields = {{"KVX_LEGEND", "KVX_LEGEND"}};
      s.categories = {{"0001", {255, 0, 0}, {}, 0, c.size}};
    } else {
      s.fields = {{"KVX_SCOLR", "KVX_SCOLR"}};
      if (c.heightField) s.fields.push_back({"KVX_SHEIH", "KVX_SHEIH"});
    }
    const std::string doc = Kvx::BuildQml(s);
    EXPECT_NE(doc.find(c.expected), std::string::npos) << c.name << "\n" << doc;
  }
}

TEST(QmlStyle, PackedRgbColours) {
  EXPECT_EQ(Kvx::QmlColourOfPackedRgb(0x00C08040), (Kvx::QmlColour{0x40, 0x80, 0xC0}));
  EXPECT_EQ(Kvx::QmlColourOfPackedRgb(0), (Kvx::QmlColour{0, 0, 0}));
}

}  // namespace
