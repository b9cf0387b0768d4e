#pragma once

// The nodes of a network file (.wn) to a point shapefile: ConvertWNNode2SHP. Every live node is
// written with its row of the node attribute table. The drawing-parameter fields are those of a
// symbol point and are filled only for nodes whose point type is 1 (a symbol); other nodes keep
// them empty:
//
//   2  KVX_SUBNO symbol number, KVX_SHEIH and KVX_SWIDH symbol height and width, KVX_ANGLE angle
//      (by RotateType), KVX_SCOLR colour, KVX_LAYER, KVX_TRANS transparency
//   4  KVX_LEGEND legend code (and a point legend "<base>.avl"), KVX_ANGLE
//   1  KVX_SYMBOL symbol code, KVX_ANGLE
//
// The fields and values are those of a symbol point (point_conversion.h).

#include <cstdint>
#include <filesystem>
#include <span>

#include "engine/conversion_frame.h"

namespace Kvx {

std::int32_t ConvertWNNode2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                               const ConversionServices& services, const FrameSettings& settings);
// The drawing-parameter fields of a network node for `symbolType` (empty for values without fields).
std::span<const StyleField> NodeStyleFields(std::int32_t symbolType);

}  // namespace Kvx
