#pragma once

// The system libraries of a MapGIS installation:
//  - MapGis_ColorLib, the colour library (Pcolor.lib, magic "PCOLOR 3") that turns the colour
//    numbers of features into colours;
//  - MapGis_Legend, legend files (magic "WMAP`D2>"): entries with their graphic parameters;
//  - MapGis_Symbol, symbol libraries: opening and reading the head only.
// All three read little-endian packed records; every count and offset is checked against the
// file's size before it is used, so a damaged file gives a status.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "vordex/conversions.h"
#include "vordex/export.h"
#include "vordex/status.h"

namespace MapGis {

class RandomAccessFile;

inline constexpr char kColourLibraryMagic[8] = {'P', 'C', 'O', 'L', 'O', 'R', ' ', '3'};
inline constexpr char kLegendMagic[8] = {'W', 'M', 'A', 'P', '`', 'D', '2', '>'};

#pragma pack(push, 1)

// Head of a legend file (16 bytes).
struct LEGEND_HEAD {
  char magic[8];                 // "WMAP`D2>"
  std::uint8_t unused8[4];
  std::int32_t entryCount;
};

// Entry kinds of a legend.
enum LegendKind : std::int32_t {
  LegendLine = 0,
  LegendPoint = 1,
  LegendRegion = 2,
};

// One legend entry (333 bytes).
struct MAPGIS_LegendItem {
  std::uint8_t unused0[256];
  std::int8_t kind;              // 0 line, 1 point, 2 region
  std::int32_t paramOffset;      // of the parameter block, relative to the parameter area
  std::uint8_t unused261[72];
};

// Graphic parameter blocks of legend entries, carried as stored.
struct PNT_INFOstruct {
  std::uint8_t data[94];
};
struct LIN_INFOstruct {
  std::uint8_t data[67];
};
struct REG_INFOstruct {
  std::uint8_t data[63];
};

// Head of a symbol library (26 bytes), carried as stored.
struct SYMBOL_HEAD {
  std::uint8_t data[26];
};

#pragma pack(pop)

static_assert(sizeof(LEGEND_HEAD) == 16);
static_assert(offsetof(LEGEND_HEAD, entryCount) == 12);
static_assert(sizeof(MAPGIS_LegendItem) == 333);
static_assert(offsetof(MAPGIS_LegendItem, kind) == 256);
static_assert(offsetof(MAPGIS_LegendItem, paramOffset) == 257);
static_assert(sizeof(PNT_INFOstruct) == 94);
static_assert(sizeof(LIN_INFOstruct) == 67);
static_assert(sizeof(REG_INFOstruct) == 63);
static_assert(sizeof(SYMBOL_HEAD) == 26);

// The colour library. Colour number n (1-based) is record n - 1 of the file.
class VORDEX_API MapGis_ColorLib {
 public:
  // A new library is empty: no colours, every lookup gives zero. Copies are deep.
  MapGis_ColorLib() = default;

  // Loads the library, replacing what the object held. Returns the number of colours loaded, or
  // CannotOpen, ReadFailed (head shorter than 156 bytes, negative colour count) or BadMagic.
  // A file that ends before its stated count loads the whole records it holds; colour numbers
  // beyond them are out of range like any other. Bytes behind the stated count are ignored.
  // After a failure the library is empty.
  std::int32_t LoadColors(const std::filesystem::path& path);

  // Number of colours that can be looked up (the stored count, or fewer for a short file).
  std::int32_t GetColorNum() const;
  // The ink count as stored; the mixing uses at most the 28 inks a record can hold.
  std::int32_t GetInkNum() const;

  // Colour n mixed with its inks, as RGB (blue, green, red). All zero for n outside
  // 1..GetColorNum().
  RGBTRIPLE GetRGB(std::int32_t n) const;
  // Colour n mixed with its inks, each component in percent (component * 100 / 255, so 255
  // gives 100). All zero for n outside 1..GetColorNum().
  CMYKQUAD GetCMYK(std::int32_t n) const;

  // The stored head (its colorCount is the count as stored) and record n, null when out of range.
  const COLORLIB_HEAD& GetHead() const { return head_; }
  const MAPGIS_Color* GetColor(std::int32_t n) const;

 private:
  COLORLIB_HEAD head_{};
  std::vector<MAPGIS_Color> colors_;
};

// A legend file. The file stays open from Open to Close (or destruction), because parameter
// blocks are read on demand.
class VORDEX_API MapGis_Legend {
 public:
  MapGis_Legend();
  ~MapGis_Legend();
  MapGis_Legend(const MapGis_Legend&) = delete;
  MapGis_Legend& operator=(const MapGis_Legend&) = delete;
  MapGis_Legend(MapGis_Legend&&) noexcept;
  MapGis_Legend& operator=(MapGis_Legend&&) noexcept;

  // Opens the legend and reads its entries, closing what the object held. Returns the entry
  // count (0 or more) or CannotOpen, ReadFailed (short head, negative count, entries beyond the
  // end of the file) or BadMagic. After a failure the object holds no file and no entries.
  std::int32_t Open(const std::filesystem::path& path);
  // Number of entries held.
  std::int32_t GetLegendNum() const;
  // Entry `index` (0-based): the whole entry into a non-null `item`, and the entry's parameter
  // block into the buffer of its kind (point, line or region); a null buffer for that kind reads
  // nothing. Returns the entry kind (any other kind reads no parameters), or ReadFailed for a bad
  // index, a closed legend, or a block with a negative offset or one that ends past the file.
  std::int32_t GetLegendInfo(int index, MAPGIS_LegendItem* item, PNT_INFOstruct* point, LIN_INFOstruct* line,
                             REG_INFOstruct* region) const;
  // Frees the entries and closes the file.
  void Close();
  bool IsOpen() const;

  const LEGEND_HEAD& GetHead() const { return head_; }

 private:
  std::unique_ptr<RandomAccessFile> file_;
  LEGEND_HEAD head_{};
  std::vector<MAPGIS_LegendItem> items_;
};

// A symbol library: only its head is read. The file stays open from Open to Close.
class VORDEX_API MapGis_Symbol {
 public:
  MapGis_Symbol();
  ~MapGis_Symbol();
  MapGis_Symbol(const MapGis_Symbol&) = delete;
  MapGis_Symbol& operator=(const MapGis_Symbol&) = delete;
  MapGis_Symbol(MapGis_Symbol&&) noexcept;
  MapGis_Symbol& operator=(MapGis_Symbol&&) noexcept;

  // Opens the library and reads its 26-byte head. Returns 0, CannotOpen or ReadFailed (file
  // shorter than the head; the file is then closed).
  std::int32_t Open(const std::filesystem::path& path);
  void Close();
  bool IsOpen() const;

  const SYMBOL_HEAD& GetHead() const { return head_; }

 private:
  std::unique_ptr<RandomAccessFile> file_;
  SYMBOL_HEAD head_{};
};

}  // namespace MapGis
