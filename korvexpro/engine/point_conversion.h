#pragma once

// Points and annotations of point files (.wt) to point shapefiles.
//
//   ConvertWTPoint2SHP  the symbol points (point type 1) with their symbol parameters
//   ConvertWT2SHP       every live point in one set; text points carry their text as a label
//   ConvertWTNote2SHP   the text points (point types 0 and 5): the text in the field "注释文字"
//                       and, on request, the text parameters and a label
//
// The batch runs ConvertWTPoint2SHP and ConvertWTNote2SHP on the same file with two output bases,
// so that symbols and annotations end up in two shapefile sets.
//
// Drawing-parameter fields after the layer's own fields, by SymbolType:
//
//   ConvertWTPoint2SHP
//     2  KVX_SUBNO symbol, KVX_SHEIH height, KVX_SWIDH width, KVX_ANGLE angle (RotateType),
//        KVX_SCOLR colour (ColorModel), KVX_LAYER, KVX_TRANS transparency
//     4  KVX_LEGEND legend code, KVX_ANGLE (and a marker legend "<base>.avl")
//     1  KVX_SYMBOL symbol code, KVX_ANGLE
//   ConvertWT2SHP
//     2  KVX_LABEL, KVX_PTYPE point type, KVX_SCOLR, KVX_LAYER, KVX_TRANS
//     4  KVX_LABEL, KVX_LEGEND (and a marker legend "<base>.avl")
//     1  KVX_LABEL, KVX_SYMBOL
//   ConvertWTNote2SHP ("注释文字" always first)
//     2  KVX_LABEL, KVX_AHEI, KVX_AWID, KVX_ASPA character height, width and spacing, KVX_ANGLE
//        as stored, KVX_CFNT, KVX_EFNT Chinese and Western font, KVX_CFNX font style, KVX_ACLR
//        colour, KVX_TRANS, KVX_ALIGN alignment, KVX_LAYER
//     4, 1  KVX_LABEL, KVX_ALIGN, KVX_ANGLE as stored (no legend, no .avl)
//
// Integer fields are as wide as their source type needs (8-bit values 4, 16-bit values 6, 32-bit
// values and colours 11) and hold the signed value. Labels are the markup of styles/label_markup.h,
// cut to the 254-byte field in whole characters.
//
// A text point whose text cannot be read is a feature that cannot be read: it is logged and
// skipped like one whose record cannot be read, never written with a text it does not have.
//
// The network-node conversion uses the symbol-point fields through SymbolPointStyleFields and
// WriteSymbolPointStyleValues.

#include <cstdint>
#include <filesystem>
#include <span>

#include "engine/conversion_frame.h"
#include "vordex/geometry.h"

namespace Kvx {

// The name of the annotation text field (UTF-8; encoded like a layer field name).
inline constexpr std::string_view kNoteTextField = "注释文字";

std::int32_t ConvertWTPoint2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                                const ConversionServices& services, const FrameSettings& settings);
std::int32_t ConvertWT2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                           const ConversionServices& services, const FrameSettings& settings);
std::int32_t ConvertWTNote2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                               const ConversionServices& services, const FrameSettings& settings);

// The drawing-parameter fields of a symbol point for `symbolType` (empty for values without fields).
std::span<const StyleField> SymbolPointStyleFields(std::int32_t symbolType);

// The values of those fields for one symbol point, written from field 0 of the row.
void WriteSymbolPointStyleValues(StyleRow& row, const MapGis::MAPGIS_PntInfo& point);

}  // namespace Kvx
