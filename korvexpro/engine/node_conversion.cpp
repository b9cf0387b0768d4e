#include "engine/node_conversion.h"

#include "engine/point_conversion.h"

namespace Kvx {
namespace {

// The point type of a symbol node; only such nodes carry drawing parameters.
constexpr std::uint8_t kSymbolPointType = 1;

FrameRules NodeRules() {
  FrameRules r;
  r.layerKind = MapGis::KindNetwork;
  r.count = CountOperation::Points;
  r.attributeType = 1;  // the node table
  r.shapeType = 1;
  r.recordMismatchIsError = true;
  r.schema = SchemaLines{kLogUnsupportedTypeE, kLogInvalidStructure, false};
  r.legendFile = AvlKind::Marker;
  return r;
}

class NodeHooks final : public ConversionHooks {
 public:
  const FrameRules& Rules() const override { return rules_; }
  std::span<const StyleField> StyleFields(const FrameSettings& settings) const override {
    return NodeStyleFields(settings.symbolType);
  }
  std::int32_t ReadFeature(MapGis::MapGis_FastReader& reader, int slot, MapGis::Geometry* geometry) override {
    node_ = MapGis::MAPGIS_PntInfo{};
    return reader.ReadPointInfo(slot, &node_, geometry);
  }
  void WriteStyleValues(StyleRow& row, int) override {
    if (node_.pointType == kSymbolPointType) WriteSymbolPointStyleValues(row, node_);  // others stay empty
  }

 private:
  FrameRules rules_ = NodeRules();
  MapGis::MAPGIS_PntInfo node_{};
};

}  // namespace

std::span<const StyleField> NodeStyleFields(std::int32_t symbolType) { return SymbolPointStyleFields(symbolType); }

std::int32_t ConvertWNNode2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                               const ConversionServices& services, const FrameSettings& settings) {
  NodeHooks hooks;
  return RunConversion(source, outputBase, hooks, services, settings);
}

}  // namespace Kvx
