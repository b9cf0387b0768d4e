#include "engine/line_conversion.h"

#include <array>

namespace Kvx {
namespace {

constexpr std::array<StyleField, 10> kLineParameterFields{{
    {"KVX_LTYPE", FTInteger, 6, 0, "I__增加图示表达参数字段[KVX_LTYPE]\n"},
    {"KVX_LCOLR", FTInteger, 11, 0, "I__增加图示表达参数字段[KVX_LCOLR]\n"},
    {"KVX_LWIDH", FTDouble, 8, 3, "I__增加图示表达参数字段[KVX_LWIDH]\n"},
    {"KVX_LCLAS", FTInteger, 4, 0, "I__增加图示表达参数字段[KVX_LCLAS]\n"},
    {"KVX_XSCAL", FTDouble, 8, 3, "I__增加图示表达参数字段[KVX_XSCAL]\n"},
    {"KVX_YSCAL", FTDouble, 8, 3, "I__增加图示表达参数字段[KVX_YSCAL]\n"},
    {"KVX_FTYPE", FTInteger, 4, 0, "I__增加图示表达参数字段[KVX_FTYPE]\n"},
    {"KVX_FCOLR", FTInteger, 11, 0, "I__增加图示表达参数字段[KVX_FCOLR]\n"},
    {"KVX_LAYER", FTInteger, 6, 0, "I__增加图示表达参数字段[KVX_LAYER]\n"},
    {"KVX_TRANS", FTInteger, 4, 0, "I__增加图示表达参数字段[KVX_TRANS]\n"},
}};
constexpr std::array<StyleField, 1> kLegendField{{{"KVX_LEGEND", FTString, 32, 0, "I__增加图示表达编码字段[KVX_LEGEND]\n"}}};
constexpr std::array<StyleField, 1> kSymbolField{{{"KVX_SYMBOL", FTString, 32, 0, "I__增加图示表达编码字段[KVX_SYMBOL]\n"}}};

FrameRules LineRules() {
  FrameRules r;
  r.layerKind = MapGis::KindLine;
  r.count = CountOperation::Arcs;
  r.shapeType = 3;
  r.schema = SchemaLines{kLogUnsupportedTypeW, kLogInvalidType, true};
  r.legendFile = AvlKind::Line;
  return r;
}

FrameRules NetworkLineRules() {
  FrameRules r = LineRules();
  r.layerKind = MapGis::KindNetwork;
  r.schema = SchemaLines{kLogUnsupportedTypeE, kLogInvalidStructure, false};
  return r;
}

class LineHooks final : public ConversionHooks {
 public:
  explicit LineHooks(FrameRules rules) : rules_(rules) {}

  const FrameRules& Rules() const override { return rules_; }
  std::span<const StyleField> StyleFields(const FrameSettings& settings) const override {
    return LineStyleFields(settings.symbolType);
  }
  std::int32_t ReadFeature(MapGis::MapGis_FastReader& reader, int slot, MapGis::Geometry* geometry) override {
    return reader.ReadArcInfo(slot, &line_, geometry);
  }
  void WriteStyleValues(StyleRow& row, int) override { WriteLineStyleValues(row, line_); }

 private:
  FrameRules rules_;
  MapGis::MAPGIS_LineInfo line_{};
};

}  // namespace

std::span<const StyleField> LineStyleFields(std::int32_t symbolType) {
  switch (symbolType) {
    case 2: return kLineParameterFields;
    case 4: return kLegendField;
    case 1: return kSymbolField;
    default: return {};
  }
}

void WriteLineStyleValues(StyleRow& row, const MapGis::MAPGIS_LineInfo& line) {
  if (row.Settings().symbolType == 2) {
    const StyleContext& styles = row.Styles();
    const std::int32_t model = row.Settings().colorModel;
    row.Integer(0, line.lineType);
    row.Integer(1, styles.GetColorValue(line.color, model));
    row.Real(2, line.width);
    row.Integer(3, line.lineClass);
    row.Real(4, line.xScale);
    row.Real(5, line.yScale);
    row.Integer(6, line.auxType);
    row.Integer(7, styles.GetColorValue(line.auxColor, model));
    row.Integer(8, line.layer);
    row.Integer(9, line.transparent);
  } else if (const auto mode = row.Mode()) {
    row.Legend(0, LineLegendEntry(line, row.Styles(), *mode));
  }
}

std::int32_t ConvertWL2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                           const ConversionServices& services, const FrameSettings& settings) {
  LineHooks hooks(LineRules());
  return RunConversion(source, outputBase, hooks, services, settings);
}

std::int32_t ConvertWN2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                           const ConversionServices& services, const FrameSettings& settings) {
  LineHooks hooks(NetworkLineRules());
  return RunConversion(source, outputBase, hooks, services, settings);
}

}  // namespace Kvx
