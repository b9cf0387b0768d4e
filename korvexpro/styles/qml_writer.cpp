#include "styles/qml_writer.h"

#include <cstdio>
#include <string_view>
#include <system_error>

#include "styles/xml_writer.h"
#include "vordex/conversions.h"
#include "vordex/text_encoding.h"

namespace Kvx {
namespace {

// The version QGIS writes into its own style files; any QGIS 3 reads the elements used here.
constexpr std::string_view kQgisVersion = "3.22.16-Białowieża";
// MapGIS font numbers with a name (see GetFontName).
constexpr std::int32_t kMapGisFontCount = 29;

std::string ColourText(const QmlColour& c) {
  return std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue) + ",255";
}

std::string NumberText(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", v);
  // snprintf follows the C locale of the process, which this program never changes.
  return text;
}

// "name" as a QGIS expression names a field.
std::string FieldRef(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string StringLiteral(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

std::string PackedRgbExpression(std::string_view field) {
  const std::string f = FieldRef(field);
  return "color_rgb(" + f + " % 256, floor(" + f + " / 256) % 256, floor(" + f + " / 65536) % 256)";
}

// KVX_ANGLE by its angle model as QGIS rotation (degrees clockwise).
std::string RotationExpression(std::string_view field, std::int32_t rotateType) {
  const std::string f = FieldRef(field);
  // Geographic angles are clockwise from north; the others counterclockwise from east.
  if (rotateType == 1) return f + " - 90";
  return "-" + f;
}

std::string FontExpression(std::string_view field) {
  MapGis::GbkCodec codec;  // one converter for every font name
  std::string e = "CASE";
  for (std::int32_t i = 0; i < kMapGisFontCount; ++i) {
    char name[MapGis::kFontNameBufferSize + 8] = {0};
    MapGis::GetFontName(i, name, sizeof name);
    e += " WHEN " + FieldRef(field) + " = " + std::to_string(i) + " THEN " + StringLiteral(codec.ToUtf8(name));
  }
  char fallback[MapGis::kFontNameBufferSize + 8] = {0};
  MapGis::GetFontName(-1, fallback, sizeof fallback);
  return e + " ELSE " + StringLiteral(codec.ToUtf8(fallback)) + " END";
}

void OptionValue(XmlWriter& x, std::string_view name, std::string_view value, std::string_view type = "QString") {
  x.Empty("Option", {{"name", name}, {"type", type}, {"value", value}});
}

// The options of a symbol layer, as a map.
void Options(XmlWriter& x, std::initializer_list<std::pair<std::string_view, std::string>> options) {
  x.Open("Option").Attribute("type", "Map");
  for (const auto& [name, value] : options) OptionValue(x, name, value);
  x.Close();
}

struct DataDefined {
  std::string_view property;
  std::string expression;
};

// A property collection; inactive when empty, as QGIS writes it.
void Properties(XmlWriter& x, std::string_view element, const std::vector<DataDefined>& properties) {
  x.Open(element);
  x.Open("Option").Attribute("type", "Map");
  OptionValue(x, "name", "");
  if (!properties.empty()) {
    x.Open("Option").Attribute("name", "properties").Attribute("type", "Map");
    for (const DataDefined& p : properties) {
      x.Open("Option").Attribute("name", p.property).Attribute("type", "Map");
      OptionValue(x, "active", "true", "bool");
      OptionValue(x, "expression", p.expression);
      OptionValue(x, "type", "3", "int");
      x.Close();
    }
    x.Close();
  }
  OptionValue(x, "type", "collection");
  x.Close();
  x.Close();
}

std::string_view SymbolType(QmlGeometry g) {
  switch (g) {
    case QmlGeometry::Marker: return "marker";
    case QmlGeometry::Line: return "line";
    case QmlGeometry::Region: return "fill";
  }
  return "line";
}

// What one symbol shows: fixed values, and the fields that override them.
struct SymbolSpec {
  QmlColour colour{128, 128, 128};
  QmlColour secondColour;
  bool hatch = false;
  double size = 0.0;  // line widths in millimetres, marker sizes in map units
  bool sizeFromField = false;  // a marker whose size comes from a field, in map units
  std::vector<DataDefined> main;   // properties of the first symbol layer
  std::vector<DataDefined> hatchProperties;
};

void Symbol(XmlWriter& x, QmlGeometry g, std::string_view name, const SymbolSpec& s) {
  x.Open("symbol")
      .Attribute("type", SymbolType(g))
      .Attribute("name", name)
      .Attribute("alpha", "1")
      .Attribute("clip_to_extent", "1")
      .Attribute("force_rhr", "0");
  Properties(x, "data_defined_properties", {});
  x.Open("layer").Attribute("class", g == QmlGeometry::Marker ? "SimpleMarker" : g == QmlGeometry::Line ? "SimpleLine" : "SimpleFill");
  x.Attribute("enabled", "1").Attribute("locked", "0").Attribute("pass", "0");
  switch (g) {
    case QmlGeometry::Line:
      Options(x, {{"line_color", ColourText(s.colour)},
                  {"line_style", "solid"},
                  {"line_width", NumberText(s.size > 0 ? s.size : 0.26)},
                  {"line_width_unit", "MM"},
                  {"capstyle", "round"},
                  {"joinstyle", "round"}});
      break;
    case QmlGeometry::Region:
      Options(x, {{"color", ColourText(s.colour)},
                  {"style", "solid"},
                  {"outline_color", "35,35,35,255"},
                  {"outline_style", "solid"},
                  {"outline_width", "0.1"},
                  {"outline_width_unit", "MM"}});
      break;
    case QmlGeometry::Marker:
      Options(x, {{"name", "circle"},
                  {"color", ColourText(s.colour)},
                  {"outline_color", ColourText(s.colour)},
                  {"outline_style", "no"},
                  // A MapGIS sub-graph is as large as its height in the layer's coordinates;
                  // a marker without one gets a readable size on screen.
                  {"size", NumberText(s.size > 0 ? s.size : 2.0)},
                  {"size_unit", s.size > 0 || s.sizeFromField ? "MapUnit" : "MM"},
                  {"angle", "0"}});
      break;
  }
  Properties(x, "data_defined_properties", s.main);
  x.Close();
  if (g == QmlGeometry::Region && s.hatch) {
    x.Open("layer").Attribute("class", "SimpleFill").Attribute("enabled", "1").Attribute("locked", "0").Attribute("pass", "0");
    Options(x, {{"color", ColourText(s.secondColour)},
                {"style", "b_diagonal"},
                {"outline_style", "no"},
                {"outline_width", "0"},
                {"outline_width_unit", "MM"}});
    Properties(x, "data_defined_properties", s.hatchProperties);
    x.Close();
  }
  x.Close();
}

void RendererStart(XmlWriter& x, std::string_view type) {
  x.Open("renderer-v2")
      .Attribute("type", type)
      .Attribute("forceraster", "0")
      .Attribute("symbollevels", "0")
      .Attribute("enableorderby", "0")
      .Attribute("referencescale", "-1");
}

const QmlField* Field(const QmlStyle& style, std::string_view wholeName) { return FindQmlField(style.fields, wholeName); }

void Renderer(XmlWriter& x, const QmlStyle& style) {
  if (style.labels) {
    // Annotation points are not drawn; their labels are.
    RendererStart(x, "nullSymbol");
    x.Close();
    return;
  }
  if (style.renderer == QmlRenderer::Categorized) {
    RendererStart(x, "categorizedSymbol");
    x.Attribute("attr", style.classField);
    x.Open("categories");
    for (std::size_t i = 0; i < style.categories.size(); ++i) {
      const QmlCategory& c = style.categories[i];
      x.Empty("category", {{"render", "true"}, {"symbol", std::to_string(i)}, {"value", c.value}, {"label", c.value}});
    }
    x.Close();
    x.Open("symbols");
    for (std::size_t i = 0; i < style.categories.size(); ++i) {
      const QmlCategory& c = style.categories[i];
      SymbolSpec s;
      s.colour = c.colour;
      s.secondColour = c.secondColour;
      s.hatch = c.symbol != 0;
      s.size = c.size;
      if (style.geometry == QmlGeometry::Marker)
        if (const QmlField* angle = Field(style, "KVX_ANGLE"))
          s.main.push_back({"angle", RotationExpression(angle->name, style.rotateType)});
      Symbol(x, style.geometry, std::to_string(i), s);
    }
    x.Close();
    x.Close();
    return;
  }
  RendererStart(x, "singleSymbol");
  SymbolSpec s;
  if (style.renderer == QmlRenderer::DataDefined) {
    const auto add = [&](std::vector<DataDefined>& to, std::string_view property, std::string_view field, bool colour) {
      if (const QmlField* f = Field(style, field))
        to.push_back({property, colour ? PackedRgbExpression(f->name) : FieldRef(f->name)});
    };
    switch (style.geometry) {
      case QmlGeometry::Line:
        add(s.main, "outlineColor", "KVX_LCOLR", true);
        add(s.main, "outlineWidth", "KVX_LWIDH", false);
        break;
      case QmlGeometry::Region:
        add(s.main, "fillColor", "KVX_RCOLR", true);
        if (const QmlField* pattern = Field(style, "KVX_PATNO")) {
          s.hatch = true;
          add(s.hatchProperties, "fillColor", "KVX_PCOLR", true);
          // No hatch where the pattern number is 0.
          s.hatchProperties.push_back({"enabled", FieldRef(pattern->name) + " <> 0"});
        }
        break;
      case QmlGeometry::Marker:
        add(s.main, "fillColor", "KVX_SCOLR", true);
        add(s.main, "size", "KVX_SHEIH", false);
        s.sizeFromField = Field(style, "KVX_SHEIH") != nullptr;
        if (const QmlField* angle = Field(style, "KVX_ANGLE"))
          s.main.push_back({"angle", RotationExpression(angle->name, style.rotateType)});
        break;
    }
  }
  x.Open("symbols");
  Symbol(x, style.geometry, "0", s);
  x.Close();
  x.Close();
}

void Labeling(XmlWriter& x, const QmlStyle& style) {
  if (!style.labels) return;
  x.Open("labeling").Attribute("type", "simple");
  x.Open("settings").Attribute("calloutType", "simple");
  char fallback[MapGis::kFontNameBufferSize + 8] = {0};
  MapGis::GetFontName(-1, fallback, sizeof fallback);
  // The MapGIS height is in map units; without it a readable size on paper.
  const QmlField* height = Field(style, "KVX_AHEI");
  x.Open("text-style")
      .Attribute("fieldName", style.labelField)
      .Attribute("isExpression", "0")
      .Attribute("fontFamily", MapGis::GbkToUtf8(fallback))
      .Attribute("fontSize", "3")
      .Attribute("fontSizeUnit", height ? "MapUnit" : "MM")
      .Attribute("textColor", "0,0,0,255")
      .Attribute("textOpacity", "1")
      .Attribute("multilineHeight", "1")
      .Attribute("capitalization", "0")
      .Attribute("allowHtml", "0");
  x.Close();
  x.Empty("text-format", {{"wrapChar", ""}, {"multilineAlign", "0"}, {"plussign", "0"}, {"decimals", "3"}});
  // Over the point, its lower left corner at the note's position, as MapGIS places a note.
  x.Empty("placement", {{"placement", "1"}, {"quadOffset", "2"}, {"xOffset", "0"}, {"yOffset", "0"},
                        {"offsetType", "0"}, {"dist", "0"}, {"priority", "5"}});
  x.Empty("rendering", {{"drawLabels", "1"}, {"obstacle", "0"}, {"upsidedownLabels", "2"}, {"displayAll", "1"},
                        {"labelPerPart", "0"}, {"mergeLines", "0"}, {"scaleVisibility", "0"}});
  std::vector<DataDefined> properties;
  if (const QmlField* angle = Field(style, "KVX_ANGLE"))
    properties.push_back({"LabelRotation", RotationExpression(angle->name, style.rotateType)});
  if (height) properties.push_back({"Size", FieldRef(height->name)});
  if (style.rgbColourFields)
    if (const QmlField* colour = Field(style, "KVX_ACLR")) properties.push_back({"Color", PackedRgbExpression(colour->name)});
  if (const QmlField* font = Field(style, "KVX_CFNT")) properties.push_back({"Family", FontExpression(font->name)});
  Properties(x, "dd_properties", properties);
  x.Close();
  x.Close();
}

}  // namespace

QmlColour QmlColourOfPackedRgb(std::int32_t packed) {
  const auto v = static_cast<std::uint32_t>(packed);
  return QmlColour{static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF), static_cast<int>((v >> 16) & 0xFF)};
}

const QmlField* FindQmlField(const std::vector<QmlField>& fields, std::string_view wholeName) {
  for (const QmlField& f : fields)
    if (f.wholeName == wholeName) return &f;
  return nullptr;
}

std::string BuildQml(const QmlStyle& style) {
  XmlWriter x("qgis PUBLIC 'http://mrcc.com/qgis.dtd' 'SYSTEM'");
  x.Open("qgis")
      .Attribute("version", kQgisVersion)
      .Attribute("styleCategories", "Symbology|Labeling|Fields")
      .Attribute("labelsEnabled", style.labels ? "1" : "0");
  Renderer(x, style);
  Labeling(x, style);
  x.Open("aliases");
  for (std::size_t i = 0; i < style.fields.size(); ++i)
    x.Empty("alias", {{"field", style.fields[i].name}, {"index", std::to_string(i)}, {"name", style.fields[i].wholeName}});
  x.Close();
  x.Open("layerGeometryType")
      .Text(style.geometry == QmlGeometry::Marker ? "0" : style.geometry == QmlGeometry::Line ? "1" : "2")
      .Close();
  return x.Finish();
}

std::filesystem::path QmlPath(const std::filesystem::path& outputBase) {
  std::string name = outputBase.native();
  name += ".qml";
  return std::filesystem::path(std::move(name));
}

bool WriteQml(const std::filesystem::path& outputBase, const QmlStyle& style, std::string* error) {
  const std::filesystem::path file = QmlPath(outputBase);
  const std::string text = BuildQml(style);
  std::FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) {
    if (error) *error = "cannot create " + file.string();
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0 || !written) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
    if (error) *error = "cannot write " + file.string();
    return false;
  }
  return true;
}

}  // namespace Kvx
