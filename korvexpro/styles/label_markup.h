#pragma once

// Label markup of annotations: the text of a MapGIS annotation with its font, size, colour, spacing,
// style and inline codes, written as the tag markup that goes into the KVX_LABEL field:
//
//   <FNT name='font' size='12.3'><CLR red='r' green='g' blue='b'>body</CLR></FNT>
//
// All text is GBK, in and out. The annotation text is read up to its terminating zero, but never
// more than the 259 bytes that the reader's 260-byte text buffer holds. The markup is at most
// kLabelMaxBytes bytes; every cut of text falls before a double-byte character that does not fit,
// never inside one.
//
// The font size factor and the font of font number 0 come in with each call (LabelSettings), taken
// by the caller from the settings FontAdjust and SingleFont of its run.
//
// A null record, a null text (or font name) or an empty text give the empty string: the field
// receives no label. Nothing here fails otherwise.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vordex/geometry.h"

namespace Kvx {

// What label markup takes from the settings.
struct LabelSettings {
  float fontAdjust = 1.10f;                 // FontAdjust: font size factor, 0.1..10 (else 1.0)
  // SingleFont in GBK, as the markup holds it (converted once per conversion, not per label): the
  // font of font number 0.
  std::string singleFont = "Times New Roman";
};

// Longest markup, in bytes (it fits a 260-byte buffer with its terminating zero).
inline constexpr std::size_t kLabelMaxBytes = 259;
// Longest annotation text that is read, in bytes (the reader's 260-byte buffer).
inline constexpr std::size_t kLabelTextMaxBytes = 259;
// The body built from a text stops growing once it is longer than this.
inline constexpr std::size_t kLabelBodyLimit = 159;
// A text block stops growing once its body reaches this many bytes.
inline constexpr std::size_t kBlockBodyLimit = 160;

// Annotation of an annotation layer. Inline codes: "#+" superscript, "#-" subscript, "#=" back to
// normal, a text framed in "/" is underlined and a "/" inside it ends the underline with a line
// break; "&" and "<" are escaped and "," becomes the full-width comma (except as the last byte,
// which is copied as it is, and a last "," which is dropped). Blanks stay. A body longer than
// kLabelBodyLimit bytes ends with "...". Spacing, italic and bold (font 3) tags wrap the body.
// The font is chineseFont when the text holds GB2312 Chinese, else westernFont; font 0 means the
// SingleFont setting. `color` packs red + 256 * green + 65536 * blue.
std::string FormatNoteLabel(const MapGis::MAPGIS_PntInfo* info, const char* text, std::int32_t color,
                            const LabelSettings& settings);

// Annotation of point type 0 in a point layer, with the font name (GBK) chosen by the caller. The
// inline codes are those of FormatNoteLabel, but blanks are dropped, there is no spacing or bold
// tag, and a body longer than kLabelBodyLimit bytes is replaced by the whole text followed by
// "..." (the text cut so that both fit in kLabelMaxBytes).
std::string FormatTextLabel(const MapGis::MAPGIS_PntInfo* info, const char* text, const char* fontName,
                            std::int32_t color, const LabelSettings& settings);

// Annotation of point type 5, a text block: no inline codes; the text is re-flowed into lines of
// as many characters as the block holds (block width / textWidth, or block height / textHeight
// for a vertical block), each a CR LF apart. Blanks are dropped, "," becomes the full-width comma
// and a byte that does not belong to a double-byte character is dropped. The body stops at
// kBlockBodyLimit bytes and then ends with "...". Font choice as in FormatNoteLabel.
std::string FormatBlockLabel(const MapGis::MAPGIS_PntInfo* info, const char* text, std::int32_t color,
                             const LabelSettings& settings);

// The block's width and height in millimetres, the two floats at record bytes 58 and 62 of a
// point of type 5.
float BlockWidth(const MapGis::MAPGIS_PntInfo& info);
float BlockHeight(const MapGis::MAPGIS_PntInfo& info);
void SetBlockSize(MapGis::MAPGIS_PntInfo& info, float width, float height);

}  // namespace Kvx
