#pragma once

// ArcView legend files (".avl") for layers converted in legend mode (SymbolType 4).
//
// The legend classifies the features by their KVX_LEGEND field, one class per legend entry, and
// draws each class in its MapGIS colour and width or symbol size. The file is an ODB object stream;
// object numbers, with K the first number of the colour table (7 for line and region legends, 11
// for marker legends), C colours and N entries:
//   K + k            the TClr of colour k
//   K + C + 2i       the symbol of entry i (BLnSym, BShSym or BMkSym)
//   K + C + 2i + 1   the LClass of entry i, labelled with the entry's legend code
//   K + C + 2N, +1   two empty NameDicts
// Lines end in CR LF; the text is ASCII except the marker font name, which is written in GBK.
//
// Each entry's index must be the position of its colour in the colour table, as LegendCollector
// sets it in legend mode.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "styles/legend.h"

namespace Kvx {

enum class AvlKind {
  Line,    // lines, network lines, region arcs: BLnSym
  Region,  // regions: BShSym
  Marker,  // point symbols, network nodes, point layers with their text points: BMkSym
};

// The first object number of the colour table: 7, or 11 for marker legends.
std::int32_t AvlFirstColourObject(AvlKind kind);

// Line widths and marker sizes are written in points: millimetres times this factor (the float
// nearest 72 / 25.4), "%.2f".
inline constexpr double kAvlPointsPerMillimetre = 2.8346457481384277;

// The bytes of a legend file. `fontName` (UTF-8) is used by marker legends only.
std::string BuildAvl(AvlKind kind, std::span<const std::int32_t> colours, std::span<const LegendEntry> entries,
                     std::string_view fontName = {});

// The legend file of an output: the output path without extension followed by ".avl".
std::filesystem::path AvlPath(const std::filesystem::path& outputBase);

struct AvlWriteResult {
  bool ok = false;
  std::filesystem::path file;
  std::string error;  // why the file could not be written; empty on success
};

// Writes BuildAvl(...) to AvlPath(outputBase), creating or truncating it. A file that cannot be
// created or written gives ok = false with the reason, and no partial file is left behind.
AvlWriteResult WriteAvl(AvlKind kind, const std::filesystem::path& outputBase, std::span<const std::int32_t> colours,
                        std::span<const LegendEntry> entries, std::string_view fontName = {});

// The three writers by name.
inline AvlWriteResult WriteLineAvl(const std::filesystem::path& outputBase, std::span<const std::int32_t> colours,
                                   std::span<const LegendEntry> entries) {
  return WriteAvl(AvlKind::Line, outputBase, colours, entries);
}
inline AvlWriteResult WriteRegionAvl(const std::filesystem::path& outputBase, std::span<const std::int32_t> colours,
                                     std::span<const LegendEntry> entries) {
  return WriteAvl(AvlKind::Region, outputBase, colours, entries);
}
// `fontName`: the setting SymbolFontName.
inline AvlWriteResult WriteMarkerAvl(const std::filesystem::path& outputBase, std::span<const std::int32_t> colours,
                                     std::span<const LegendEntry> entries, std::string_view fontName) {
  return WriteAvl(AvlKind::Marker, outputBase, colours, entries, fontName);
}

}  // namespace Kvx
