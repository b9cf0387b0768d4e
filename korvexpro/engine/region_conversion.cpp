#include "engine/region_conversion.h"

#include <array>
#include <cstdlib>
#include <limits>
#include <span>

#include "engine/line_conversion.h"
#include "vordex/conversions.h"

namespace Kvx {
namespace {

constexpr std::array<StyleField, 7> kRegionParameterFields{{
    {"KVX_RCOLR", FTInteger, 11, 0, "I__增加图示表达参数字段[KVX_RCOLR]\n"},
    {"KVX_PATNO", FTInteger, 6, 0, "I__增加图示表达参数字段[KVX_PATNO]\n"},
    {"KVX_RHEIH", FTDouble, 8, 3, "I__增加图示表达参数字段[KVX_RHEIH]\n"},
    {"KVX_RWIDH", FTDouble, 8, 3, "I__增加图示表达参数字段[KVX_RWIDH]\n"},
    {"KVX_PCOLR", FTInteger, 11, 0, "I__增加图示表达参数字段[KVX_PCOLR]\n"},
    {"KVX_LAYER", FTInteger, 6, 0, "I__增加图示表达参数字段[KVX_LAYER]\n"},
    {"KVX_TRANS", FTInteger, 4, 0, "I__增加图示表达参数字段[KVX_TRANS]\n"},
}};
constexpr std::array<StyleField, 1> kLegendField{{{"KVX_LEGEND", FTString, 32, 0, "I__增加图示表达编码字段[KVX_LEGEND]\n"}}};
constexpr std::array<StyleField, 1> kSymbolField{{{"KVX_SYMBOL", FTString, 32, 0, "I__增加图示表达编码字段[KVX_SYMBOL]\n"}}};
constexpr std::array<StyleField, 2> kTopologyFields{{
    {"KVX_LPOY", FTInteger, 11, 0, "I__增加弧段拓扑字段[KVX_LPOY]\n"},
    {"KVX_RPOY", FTInteger, 11, 0, "I__增加弧段拓扑字段[KVX_RPOY]\n"},
}};
constexpr std::size_t kLineParameterCount = 10;

FrameRules RegionRules() {
  FrameRules r;
  r.layerKind = MapGis::KindRegion;
  r.count = CountOperation::Polygons;
  r.shapeType = 5;
  r.schema = SchemaLines{kLogUnsupportedTypeW, kLogInvalidStructure, false};
  r.legendFile = AvlKind::Region;
  return r;
}

FrameRules ArcRules() {
  FrameRules r;
  r.layerKind = MapGis::KindRegion;
  r.count = CountOperation::Arcs;
  r.attributeType = 0;
  r.shapeType = 3;
  r.recordMismatchIsError = true;
  r.schema = SchemaLines{kLogUnsupportedTypeE, kLogInvalidStructure, false};
  r.legendFile = AvlKind::Line;
  return r;
}

class RegionHooks final : public ConversionHooks {
 public:
  const FrameRules& Rules() const override { return rules_; }

  std::span<const StyleField> StyleFields(const FrameSettings& settings) const override {
    switch (settings.symbolType) {
      case 2: return kRegionParameterFields;
      case 4: return kLegendField;
      case 1: return kSymbolField;
      default: return {};
    }
  }

  std::int32_t ReadFeature(MapGis::MapGis_FastReader& reader, int slot, MapGis::Geometry* geometry) override {
    return reader.ReadPolygonInfo(slot, &region_, geometry);
  }

  void PrepareGeometry(MapGis::Geometry* geometry) override { RepairRegionRings(geometry); }

  void WriteStyleValues(StyleRow& row, int) override {
    if (row.Settings().symbolType == 2) {
      const StyleContext& styles = row.Styles();
      const std::int32_t model = row.Settings().colorModel;
      row.Integer(0, styles.GetColorValue(region_.fillColor, model));
      row.Integer(1, region_.patternNo);
      row.Real(2, region_.patternHeight);
      row.Real(3, region_.patternWidth);
      row.Integer(4, styles.GetColorValue(region_.patternColor, model));
      row.Integer(5, region_.layer);
      row.Integer(6, region_.transparent);
    } else if (const auto mode = row.Mode()) {
      row.Legend(0, RegionLegendEntry(region_, row.Styles(), *mode));
    }
  }

 private:
  FrameRules rules_ = RegionRules();
  MapGis::MAPGIS_RegInfo region_{};
};

class ArcHooks final : public ConversionHooks {
 public:
  ArcHooks() {
    const std::span<const StyleField> line = LineStyleFields(2);
    for (std::size_t i = 0; i < kLineParameterCount && i < line.size(); ++i) parameterFields_[i] = line[i];
    parameterFields_[kLineParameterCount] = kTopologyFields[0];
    parameterFields_[kLineParameterCount + 1] = kTopologyFields[1];
  }

  const FrameRules& Rules() const override { return rules_; }

  std::span<const StyleField> StyleFields(const FrameSettings& settings) const override {
    if (settings.symbolType == 2) return parameterFields_;
    return LineStyleFields(settings.symbolType);
  }

  std::int32_t ReadFeature(MapGis::MapGis_FastReader& reader, int slot, MapGis::Geometry* geometry) override {
    // Entry 0 of the topology section belongs to the placeholder line slot 0. An entry that cannot
    // be read leaves zeros rather than the sides of the arc before.
    topology_ = {};
    reader.GetTopoInfo(slot + 1, &topology_);
    return reader.ReadArcInfo(slot, &line_, geometry);
  }

  void WriteStyleValues(StyleRow& row, int) override {
    WriteLineStyleValues(row, line_);
    if (row.Settings().symbolType == 2) {
      row.Integer(static_cast<int>(kLineParameterCount), topology_.leftRegion);
      row.Integer(static_cast<int>(kLineParameterCount) + 1, topology_.rightRegion);
    }
  }

 private:
  FrameRules rules_ = ArcRules();
  std::array<StyleField, kLineParameterCount + 2> parameterFields_{};
  MapGis::MAPGIS_LineInfo line_{};
  MapGis::MAPGIS_Topology topology_{};
};

// Whether the parts rise from vertex 0 through the vertex range, each holding a vertex, so that
// part p is exactly the vertices partStart[p] .. partStart[p + 1] - 1.
bool PartsAreOrdered(const MapGis::Geometry& g) {
  if (g.partCount < 1 || g.vertexCount < 1 || !g.partStart || !g.x || !g.y) return false;
  if (g.partStart[0] != 0) return false;
  for (std::int32_t p = 1; p < g.partCount; ++p) {
    if (g.partStart[p] <= g.partStart[p - 1]) return false;
  }
  return g.partStart[g.partCount - 1] < g.vertexCount;
}

std::int32_t PartEnd(const MapGis::Geometry& g, std::int32_t p) {
  return p + 1 < g.partCount ? g.partStart[p + 1] : g.vertexCount;
}

bool RingIsOpen(const MapGis::Geometry& g, std::int32_t p) {
  const std::int32_t s = g.partStart[p];
  const std::int32_t last = PartEnd(g, p) - 1;
  return g.x[last] != g.x[s] || g.y[last] != g.y[s];
}

// Appends its first vertex to every open ring. True when nothing had to be done or it was done.
bool AppendClosingVertices(MapGis::Geometry* g) {
  if (!PartsAreOrdered(*g)) return true;  // left to FixUnclosedRing, which guards its own ranges
  std::int64_t open = 0;
  for (std::int32_t p = 0; p < g->partCount; ++p) open += RingIsOpen(*g, p) ? 1 : 0;
  if (open == 0) return true;
  const std::int64_t total = static_cast<std::int64_t>(g->vertexCount) + open;
  if (total > std::numeric_limits<std::int32_t>::max()) return false;

  const auto count = static_cast<std::size_t>(total);
  double* source[4] = {g->x, g->y, g->z, g->m};
  double* target[4] = {nullptr, nullptr, nullptr, nullptr};
  bool allocated = true;
  for (int a = 0; a < 4; ++a) {
    if (!source[a]) continue;
    target[a] = static_cast<double*>(std::calloc(count, sizeof(double)));
    allocated = allocated && target[a];
  }
  if (!allocated) {
    for (double* t : target) std::free(t);
    return false;
  }

  std::int32_t shift = 0;
  for (std::int32_t p = 0; p < g->partCount; ++p) {
    const std::int32_t s = g->partStart[p];
    const std::int32_t e = PartEnd(*g, p);
    const bool close = RingIsOpen(*g, p);  // asked before the start moves
    for (int a = 0; a < 4; ++a) {
      if (!source[a]) continue;
      for (std::int32_t i = s; i < e; ++i) target[a][i + shift] = source[a][i];
      if (close) target[a][e + shift] = source[a][s];
    }
    g->partStart[p] = s + shift;
    if (close) ++shift;
  }
  for (int a = 0; a < 4; ++a) std::free(source[a]);
  g->x = target[0];
  g->y = target[1];
  g->z = target[2];
  g->m = target[3];
  g->vertexCount = static_cast<std::int32_t>(total);
  return true;
}

}  // namespace

bool RepairRegionRings(MapGis::Geometry* geometry) {
  if (!geometry) return true;
  MapGis::FixGeoTopo(geometry);
  const bool appended = AppendClosingVertices(geometry);
  MapGis::FixUnclosedRing(geometry);
  return appended;
}

std::int32_t ConvertWP2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                           const ConversionServices& services, const FrameSettings& settings) {
  RegionHooks hooks;
  return RunConversion(source, outputBase, hooks, services, settings);
}

std::int32_t ConvertWPArc2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                              const ConversionServices& services, const FrameSettings& settings) {
  ArcHooks hooks;
  return RunConversion(source, outputBase, hooks, services, settings);
}

}  // namespace Kvx
