#pragma once

// Region files (.wp) to shapefiles: ConvertWP2SHP writes the regions as polygons, ConvertWPArc2SHP
// the arcs they are built from as polylines. Both run on the conversion frame.
//
// Regions: after scaling, every ring is made clockwise (the first) or counter-clockwise (the
// others) and closed. A ring whose last vertex does not repeat its first gets its first vertex
// appended, so no vertex of the ring is lost in closing it. The drawing parameters follow the
// layer's own fields according to SymbolType:
//
//   2  KVX_RCOLR fill colour, KVX_PATNO pattern number, KVX_RHEIH and KVX_RWIDH pattern height
//      and width, KVX_PCOLR pattern colour, KVX_LAYER, KVX_TRANS transparency
//   4  KVX_LEGEND legend code (and a region legend "<base>.avl")
//   1  KVX_SYMBOL symbol code
//
// Arcs: read from the arc attribute table (attribute type 0), written unchanged apart from the
// scaling, with the line fields of the line conversion. With SymbolType 2 two more fields follow,
// KVX_LPOY and KVX_RPOY, the regions on the arc's left and right as the arc's topology entry holds
// them. The topology section has one entry per line slot, slot 0 included, so arc k (line slot
// k + 1) takes entry k + 1. An arc whose entry cannot be read gets 0 on both sides.

#include <cstdint>
#include <filesystem>

#include "engine/conversion_frame.h"
#include "vordex/geometry.h"

namespace Kvx {

std::int32_t ConvertWP2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                           const ConversionServices& services, const FrameSettings& settings);
std::int32_t ConvertWPArc2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                              const ConversionServices& services, const FrameSettings& settings);

// The ring repair of a region as it is written: orientation by FixGeoTopo, then every open ring
// closed by appending its first vertex (the coordinate arrays are reallocated once when some ring
// is open), then FixUnclosedRing. Returns false when the arrays could not be reallocated; the
// rings are then closed by FixUnclosedRing alone, which overwrites their last vertex.
bool RepairRegionRings(MapGis::Geometry* geometry);

}  // namespace Kvx
