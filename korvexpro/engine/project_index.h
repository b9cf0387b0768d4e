#pragma once

// The layer index of a MapGIS project (.mpj): ConvertMPJ2SHP writes a polygon shapefile with one
// rectangle per usable layer (its extent) and a last one for the whole project (the union of
// those extents), with the log "<base>.log".
//
// Fields of the index, in this order:
//
//   MatchID    N(8)     layer row: the layer's 0-based position; project row: the layer count
//   DataType   C(16)    the file's extension with its dot
//   DataName   C(254)   layer row: the layer's file name; project row: the output base's name
//   DataName2  C(254)   not written
//   DataDesc   C(254)   the layer's or the project's description
//   DispOrder  N(8)     layer row: its row number; project row: 1
//   DispMin    N(8,3)   layer row: the item's first display value
//   DispMax    N(8,3)   layer row: the item's second display value
//   State      N(8)     layer row: 1
//   Scale      N(8,3)   the project's map scale (1.0 for a user-defined system when a .prj is written)
//   Tag        C(254)   empty text
//
// Item files are found with MapGis::ResolveProjectItemPath. A layer whose file cannot be found is
// logged and makes the result kConvertReadErrors; one that does not open or holds no records is
// passed over. A project without any usable layer still gets its row, with a null shape.

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "engine/conversion_frame.h"

namespace Kvx {

inline constexpr std::string_view kLogIndexFields = "I__增加MapGIS图层属性字段\n";
inline constexpr std::string_view kLogLayerMissing = "F__第[%d]号图层文件不存在，已跳过\n";

// Uses the settings' codePage, exportProjection, reprojection and outputFormat; with the GeoPackage
// format the index is the table `geoPackage` names (null: "<outputBase>.gpkg", table named after the base).
std::int32_t ConvertMPJ2SHP(const std::filesystem::path& project, const std::filesystem::path& outputBase,
                            Notifier& notifier, const FrameSettings& settings,
                            const GeoPackageTarget* geoPackage = nullptr);

}  // namespace Kvx
