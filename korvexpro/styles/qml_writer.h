#pragma once

// QGIS layer styles (".qml" beside the shapefile), which QGIS loads by itself as the default style
// of a layer when it opens "<base>.shp".
//
//  - Legend modes (SymbolType 4 and 1): a categorized renderer over the legend-code field, one
//    category per legend entry in first-seen order, labelled with its code. Lines are drawn in
//    their colour and width (millimetres); regions in their fill colour, with the pattern colour as
//    a hatch over it when the pattern number is not 0, and a thin outline; points and nodes as
//    markers of their colour and size.
//  - Parameter mode (SymbolType 2) with packed RGB colours: one symbol whose colour, width, size and
//    angle come from the drawing-parameter fields. With another colour model: one plain symbol.
//  - Annotations: labels from the text field, rotated by KVX_ANGLE and, where the fields exist,
//    sized in map units by KVX_AHEI, coloured by KVX_ACLR and set in the MapGIS font of KVX_CFNT.
//  - Every field gets its whole MapGIS name as its alias.
//
// Colours of entries are RGB triples (0..255 each).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace Kvx {

enum class QmlGeometry { Marker, Line, Region };

struct QmlColour {
  int red = 0, green = 0, blue = 0;
  bool operator==(const QmlColour&) const = default;
};

// Packed RGB (red + 256 * green + 65536 * blue), as colour model 0 and legend mode write it.
QmlColour QmlColourOfPackedRgb(std::int32_t packed);

// One field of the table: its name as the table holds it (what QGIS shows, UTF-8) and the whole
// MapGIS name (UTF-8).
struct QmlField {
  std::string name;
  std::string wholeName;
};

// One category of the legend modes.
struct QmlCategory {
  std::string value;       // the legend code in the class field
  QmlColour colour;        // line, marker or fill colour
  QmlColour secondColour;  // hatch colour of regions
  std::int32_t symbol = 0; // pattern number of regions (0: no hatch)
  double size = 0.0;       // line width in millimetres, marker size in map units
};

enum class QmlRenderer {
  Single,       // one plain symbol
  Categorized,  // the legend modes
  DataDefined,  // parameter mode with RGB colours
};

struct QmlStyle {
  QmlGeometry geometry = QmlGeometry::Line;
  QmlRenderer renderer = QmlRenderer::Single;
  std::vector<QmlField> fields;
  std::string classField;                 // Categorized: the field of the legend codes
  std::vector<QmlCategory> categories;    // Categorized
  std::int32_t rotateType = 0;            // how KVX_ANGLE is measured (setting RotateType)
  bool rgbColourFields = false;           // colour fields hold packed RGB (setting ColorModel 0)
  bool labels = false;                    // annotation output: label with the text field
  std::string labelField;                 // the name of the text field as the table holds it
};

// The style document.
std::string BuildQml(const QmlStyle& style);

// The style file of an output: "<base>.qml".
std::filesystem::path QmlPath(const std::filesystem::path& outputBase);

// Writes BuildQml(style) to QmlPath(outputBase); false (and no partial file) when it cannot.
bool WriteQml(const std::filesystem::path& outputBase, const QmlStyle& style, std::string* error = nullptr);

// The whole MapGIS name that a field of the style's table is found by, or null.
const QmlField* FindQmlField(const std::vector<QmlField>& fields, std::string_view wholeName);

}  // namespace Kvx
