#pragma once

// Lines to polyline shapefiles: ConvertWL2SHP for line files (.wl), ConvertWN2SHP for the lines of
// network files (.wn). Every live line is written; its drawing parameters follow the layer's own
// fields according to SymbolType:
//
//   2  KVX_LTYPE line type, KVX_LCOLR colour, KVX_LWIDH width, KVX_LCLAS line class, KVX_XSCAL and
//      KVX_YSCAL pattern scales, KVX_FTYPE auxiliary type, KVX_FCOLR auxiliary colour, KVX_LAYER,
//      KVX_TRANS transparency
//   4  KVX_LEGEND legend code (and a line legend "<base>.avl")
//   1  KVX_SYMBOL symbol code
//
// Integer fields are as wide as their source type needs (8-bit values 4, 16-bit values 6, 32-bit
// values and colours 11) and hold the signed value. The region-arc conversion uses the same fields
// through LineStyleFields and WriteLineStyleValues.

#include <cstdint>
#include <filesystem>
#include <span>

#include "engine/conversion_frame.h"
#include "vordex/geometry.h"

namespace Kvx {

std::int32_t ConvertWL2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                           const ConversionServices& services, const FrameSettings& settings);
std::int32_t ConvertWN2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                           const ConversionServices& services, const FrameSettings& settings);

// The drawing-parameter fields of a line for `symbolType` (empty for values without fields).
std::span<const StyleField> LineStyleFields(std::int32_t symbolType);

// The values of those fields for one line, written from field 0 of the row.
void WriteLineStyleValues(StyleRow& row, const MapGis::MAPGIS_LineInfo& line);

}  // namespace Kvx
