#pragma once

// Legend entries and legend codes.
//
// With SymbolType 4 (legend mode) or 1 (symbol mode) every feature's drawing parameters become one
// legend entry: a symbol value, a main and a second colour (packed RGB in legend mode, packed CMYK
// in symbol mode) and three sizes. Its 32-digit hexadecimal legend code goes into KVX_LEGEND or
// KVX_SYMBOL. A LegendCollector keeps the distinct entries of one layer and, in legend mode, the
// distinct colours; both go to the AVL legend writer when the layer is done.
//
//   layer kind                        symbol                   colour     second colour  sizes
//   line, network line, region arc    lineType << 8 | auxType  color      0              width, xScale, yScale
//   point symbol, network node        symbolNo                 color      0              width, height, 0
//   point layer with its text points  pointType                color      0              9, 9, 0
//   region                            patternNo                fillColor  patternColor   patternWidth,
//                                                                                        patternHeight, 0

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "styles/colour_models.h"
#include "vordex/geometry.h"

namespace Kvx {

enum class LegendMode {
  Legend,  // SymbolType 4: colours as packed RGB, a colour table, an AVL legend at the end
  Symbol,  // SymbolType 1: colours as packed CMYK
};

// The legend mode of a SymbolType: 4 Legend, 1 Symbol, none for every other value.
std::optional<LegendMode> LegendModeFor(std::int32_t symbolType);

// Sizes of two entries that differ by at most this much (in single precision) are the same.
inline constexpr float kLegendSizeTolerance = 0.0001f;
// Largest symbol value and largest size code (sizes are coded in hundredths).
inline constexpr std::int32_t kLegendSymbolMax = 65535;
inline constexpr std::uint32_t kLegendSizeCodeMax = 65535;

// The 32 uppercase hexadecimal digits of a legend code, held without allocating.
class LegendCode {
 public:
  static constexpr std::size_t kLength = 32;

  std::string_view View() const { return {text_.data(), kLength}; }
  const char* CStr() const { return text_.data(); }
  std::string Str() const { return std::string(View()); }

  bool operator==(const LegendCode&) const = default;

 private:
  friend struct LegendEntry;
  std::array<char, kLength + 1> text_{};
};

// One legend class: seven values of 4 bytes.
struct LegendEntry {
  std::int32_t index = 0;         // legend mode: position of the colour in the colour table; symbol mode: the symbol
  std::int32_t symbol = 0;        // 0..65535
  std::int32_t colour = 0;        // packed main colour, never negative
  std::int32_t secondColour = 0;  // packed second colour (regions), never negative
  float size1 = 0.0f;
  float size2 = 0.0f;
  float size3 = 0.0f;

  LegendEntry() = default;
  // An entry with index 0; the symbol is clamped to 0..65535, a negative colour becomes 0.
  LegendEntry(std::int32_t symbol, std::int32_t colour, std::int32_t secondColour, float size1, float size2,
              float size3);

  // "%04X%08X%08X%04X%04X%04X" of symbol, colour, second colour and the three sizes coded by
  // LegendSizeCode.
  LegendCode GetLegendCode() const;

  // The same legend class: equal symbol and colours, and each size within kLegendSizeTolerance
  // (difference computed and compared in single precision). Equal sizes always match, two NaN sizes
  // included. The index is not compared.
  bool Matches(const LegendEntry& other) const;
};

static_assert(sizeof(LegendEntry) == 28);

// A size in its code: trunc(size * 100), computed on the float's exact value (a width stored as the
// float nearest 0.29 gives 28). Results above 65535, negative results and NaN give 65535.
std::uint32_t LegendSizeCode(float size);

// The first entry of `list` that matches `probe`, or null. A linear search; LegendCollector finds
// the same entry through its index.
const LegendEntry* FindLegendEntry(std::span<const LegendEntry> list, const LegendEntry& probe);

// ---- Entries of features --------------------------------------------------------------------------

// The packed colour of colour number n for the mode: RGB in legend mode, CMYK in symbol mode.
std::int32_t LegendColour(const StyleContext& styles, std::int32_t n, LegendMode mode);

// The symbol value of a line: lineType and auxType, both sign-extended, as lineType << 8 | auxType.
// An auxType of 128 or more (negative as a signed byte) makes the value negative.
std::int32_t LineLegendSymbol(std::int16_t lineType, std::int8_t auxType);

// Lines, network lines and region arcs.
LegendEntry LineLegendEntry(const MapGis::MAPGIS_LineInfo& line, const StyleContext& styles, LegendMode mode);
// Point symbols; network nodes give their point record.
LegendEntry SymbolLegendEntry(const MapGis::MAPGIS_PntInfo& point, const StyleContext& styles, LegendMode mode);
// Points of a point layer converted with its text points: the point type and sizes 9, 9, 0.
LegendEntry PointTypeLegendEntry(const MapGis::MAPGIS_PntInfo& point, const StyleContext& styles, LegendMode mode);
// Regions.
LegendEntry RegionLegendEntry(const MapGis::MAPGIS_RegInfo& region, const StyleContext& styles, LegendMode mode);

// ---- The legend of one layer ----------------------------------------------------------------------

// The distinct legend entries of one layer in order of first appearance and, in legend mode, the
// distinct colours in order of first appearance. A new entry gets as index the position of its
// colour in the colour table (legend mode) or its symbol (symbol mode). An index beside the list
// finds the first matching entry without walking the list, so a layer costs about one hash lookup
// per feature; memory grows only with the distinct entries.
class LegendCollector {
 public:
  explicit LegendCollector(LegendMode mode) : mode_(mode) {}

  LegendMode Mode() const { return mode_; }

  struct Hit {
    std::int32_t position;  // of the entry in Entries()
    bool added;             // the entry was new
  };

  // Looks the feature's entry up and appends it (and in legend mode its colour) when it is new.
  Hit Add(const LegendEntry& probe);

  // Add(probe), and the code the feature's field receives. In legend mode that is the code of the
  // entry in the list, which is the label of the feature's class in the AVL legend (a feature whose
  // sizes lie within the tolerance of an earlier one, but code to other hundredths, would otherwise
  // fall into no class). In symbol mode it is the feature's own code.
  LegendCode Collect(const LegendEntry& probe);

  // The position of the first entry that matches `probe`, as FindLegendEntry(Entries(), probe).
  std::optional<std::int32_t> Find(const LegendEntry& probe) const;

  std::span<const LegendEntry> Entries() const { return entries_; }
  // Packed RGB colours (legend mode only; empty in symbol mode).
  std::span<const std::int32_t> Colours() const { return colours_; }

  // Forgets every entry and colour (for the next layer); the memory is kept.
  void Clear();

 private:
  // The cell of an entry: its symbol and colours and the grid cell of each size (see legend.cpp).
  struct CellKey {
    std::int32_t symbol = 0;
    std::int32_t colour = 0;
    std::int32_t secondColour = 0;
    std::int64_t cells[3] = {0, 0, 0};
    bool operator==(const CellKey&) const = default;
  };
  // A slot of the cell table: the first entry of a cell (-1: free) and bits of the cell's hash.
  struct CellSlot {
    std::uint32_t tag = 0;
    std::int32_t head = -1;
  };

  static CellKey KeyOf(const LegendEntry& entry);
  static std::uint64_t HashKey(const CellKey& key);
  std::int32_t FindCellHead(const CellKey& key) const;
  std::int32_t FindColourOrAdd(std::int32_t colour);
  void LinkEntry(std::int32_t position);
  void GrowCells();

  LegendMode mode_;
  std::vector<LegendEntry> entries_;
  std::vector<std::int32_t> next_;      // next entry of the same cell in list order; -1 at the end
  std::vector<std::int32_t> cellTail_;  // for the first entry of a cell: the last entry of the cell
  std::vector<CellSlot> cellSlots_;     // open addressing, a power of two in size
  std::size_t cellsUsed_ = 0;
  std::vector<std::int32_t> colours_;
  std::vector<std::int32_t> colourSlots_;  // position + 1 in colours_, 0 free; a power of two in size
};

}  // namespace Kvx
