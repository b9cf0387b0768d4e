#pragma once

// LayerBuilder writes MapGIS layer files byte by byte for the tests: a head, the fixed blocks, a
// 16-entry section directory at 657, and the sections from 817 in entry order. Every record and
// every attribute value is set through the MapGis record structs, and every stored number a test
// may want to damage (counts, head fields, directory entries, vertex totals, arc list lengths,
// attribute heads and field definitions) can be overridden after the fact.
//
// Indexes follow the reader: AddPoint/AddLine/AddRegion/AddNode return the zero-based feature
// index i, stored in slot i + 1 (slot 0 is a placeholder the builder writes itself). The arc
// number of line i in a region's arc list is therefore i + 1. Attribute records are addressed the
// same way: record i is stored record i + 1.
//
// The data area (entry 1) is laid out as features are added: 2 reserved bytes, then texts,
// vertices, arc lists and node parameter blocks in the order of the Add calls. Offsets in the
// records are final as soon as an Add returns, so a test may edit any record field afterwards and
// Build() stores it unchanged. Tics go behind everything else at Build() time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "vordex/geometry.h"

namespace KvxTest {

// Fixed positions of a layer file.
inline constexpr std::size_t kHeadSize = 20;
inline constexpr std::size_t kParaOffset = 91;
inline constexpr std::size_t kElementOffset = 260;
inline constexpr std::size_t kExtentOffset = 304;
inline constexpr std::size_t kTicCountOffset = 592;
inline constexpr std::size_t kTicOffsetOffset = 596;
inline constexpr std::size_t kDirectoryOffset = 657;
inline constexpr int kDirectoryEntries = 16;
inline constexpr std::size_t kFirstSection = 817;

// Directory entries.
enum Entry : int {
  EntryPrimary = 0,       // points, lines or arcs; the attribute area of a table file
  EntryData = 1,          // vertices, texts, arc lists, tics, node parameter blocks
  EntryPrimaryAttr = 2,   // attributes of points, lines or arcs
  EntryTopology = 3,      // 24 bytes per line slot (32 per point slot in a point file)
  EntryNodes = 4,         // network nodes (4 bytes per point slot in a point file)
  EntryNodeAttr = 5,
  EntryLineExtent = 6,
  EntryLineFlags = 7,
  EntryRegions = 8,
  EntryRegionAttr = 9,
  EntryRegionExtent = 10,
  EntryRegionFlags = 11,
};

// The magic of a kind: "WMAP`D21" for kind 0 up to "WMAP`D28" for kind 7 (and on for others).
std::array<char, 8> MagicOf(int kind);

// Default stored size of a field type (0 for string, text and codes without a fixed size).
std::int16_t DefaultFieldSize(int type);

struct Span {
  std::int64_t offset = 0;
  std::int64_t length = 0;
  std::int64_t end() const { return offset + length; }
};

// Where everything landed in the bytes of the last Build().
struct LayerLayout {
  std::int64_t directoryOffset = 0;
  std::int64_t directoryEnd = 0;
  std::vector<Span> sections;      // one per directory entry; unused entries are {0, 0}
  std::int64_t fileSize = 0;

  // Every place where a block or a section begins or ends (the head, each fixed block, the
  // directory, each used section, the file end), sorted and without repeats.
  std::vector<std::int64_t> Boundaries() const;
};

// One attribute area: a field head, the field definitions and the records.
class AttributeArea {
 public:
  // Adds a field behind the previous one and returns its number. `name` is stored as given,
  // cut at 20 bytes and NUL-padded (so "word  word", blanks or "" are possible). A size of -1
  // takes DefaultFieldSize(type); a width of -1 takes the size.
  int AddField(std::string_view name, int type, int size = -1, int width = -1, int decimals = 0);

  // The stored definition of field f; edits change only what is stored, not where the builder
  // writes the field's values.
  MapGis::MAPGIS_Field& Field(int f) { return fields_[static_cast<std::size_t>(f)].def; }
  int FieldCount() const { return static_cast<int>(fields_.size()); }

  // Makes sure at least `count` addressable records exist (stored records 1 to count).
  void EnsureRecords(int count);
  // Fixes the number of addressable records; Build() no longer grows it to the feature count.
  void SetRecordCount(int count);
  int RecordCount() const { return static_cast<int>(records_.size()); }

  // Field f of record i (stored record i + 1) receives `bytes`, cut or zero-padded to the
  // field's size. Records are created as needed.
  void SetBytes(int record, int field, std::span<const std::uint8_t> bytes);
  void SetText(int record, int field, std::string_view text);
  template <typename T>
  void SetValue(int record, int field, const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    std::uint8_t raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    SetBytes(record, field, std::span<const std::uint8_t>(raw, sizeof(T)));
  }
  // Byte 0 of a record belongs to no field; record -1 sets it in the placeholder record 0.
  void SetRecordByte0(int record, std::uint8_t value);

  // Stored values that replace the computed ones.
  struct Overrides {
    std::optional<std::array<std::uint8_t, 6>> signature;
    std::optional<std::uint16_t> headTag;
    std::optional<std::int32_t> recordsOffset;
    std::optional<std::int16_t> fieldCount;
    std::optional<std::int32_t> recordCount;   // stored value, placeholder included
    std::optional<std::int32_t> recordLength;
  } overrides;

  std::int32_t RecordLength() const { return recordLength_; }

  // The stored bytes of the area; `minRecords` addressable records at least, unless the count
  // was fixed with SetRecordCount.
  std::vector<std::uint8_t> Bytes(int minRecords) const;

 private:
  struct FieldSlot {
    MapGis::MAPGIS_Field def{};
    std::int32_t offset = 0;   // where the builder writes the value
    std::int32_t size = 0;
  };
  std::vector<FieldSlot> fields_;
  std::int32_t recordLength_ = 1;
  std::vector<std::vector<std::uint8_t>> records_;   // addressable records, record 0 excluded
  std::uint8_t placeholderByte0_ = 0;
  bool countFixed_ = false;
};

class LayerBuilder {
 public:
  // kind 0 line, 1 point, 2 region, 4 network, 7 table; any other value gives a file with the
  // head, the fixed blocks, the directory and a data area only.
  explicit LayerBuilder(int kind);

  int Kind() const { return kind_; }

  // A new, empty parameter record: zeros, with the three 1.0 factors.
  MapGis::MAP_PARAstruct& Projection() { return para_; }

  // --- Points (kind 1) ---
  // A live point at (x, y). With text it is an annotation (pointType 0) whose text goes into the
  // data area; without it a symbol (pointType 1) with textLength 0.
  int AddPoint(double x, double y, std::string_view text = {});
  MapGis::MAPGIS_PntInfo& Point(int i) { return points_[static_cast<std::size_t>(i)]; }

  // --- Lines (kinds 0, 2, 4; the arcs of a region file) ---
  // A live line with the given vertices; pointCount and dataOffset are set from them.
  int AddLine(const std::vector<MapGis::Point2D>& vertices);
  MapGis::MAPGIS_LineInfo& Line(int i) { return lines_[static_cast<std::size_t>(i)]; }

  // --- Regions (kind 2) ---
  // A live region whose arc list holds `arcs` (arc numbers, negative reversed, 0 separates
  // rings). vertexTotal is the sum of the vertex counts of the listed lines added so far plus the
  // ring count (1 + number of 0 entries), unless given. arcListLength = 1 + arcs.size().
  int AddRegion(const std::vector<std::int32_t>& arcs, std::optional<std::int32_t> vertexTotal = std::nullopt);
  MapGis::MAPGIS_RegInfo& Region(int i) { return regions_[static_cast<std::size_t>(i)]; }

  // --- Network nodes (kind 4) ---
  // A live node at (x, y) with its 94-byte parameter block stored in the data area.
  int AddNode(double x, double y, const std::array<std::uint8_t, 94>& block);
  MapGis::MAPGIS_NetPntInfo& Node(int i) { return nodes_[static_cast<std::size_t>(i)]; }

  // --- Tics, topology ---
  int AddTic(const MapGis::MAPGIS_Tic_Info& tic);
  // Topology entry `slot` (slot 0 included). The section has one entry per line slot; entries
  // not set are zero.
  void SetTopology(int slot, const MapGis::MAPGIS_Topology& topo);

  // --- Attributes ---
  // The attribute area of a directory entry (2, 5, 9, or 0 in a table file). Areas that the kind
  // has but the test leaves alone are written without fields, with one record per feature.
  AttributeArea& Attributes(int entry);

  // --- Data area ---
  // Appends raw bytes to the data area and returns their offset relative to its start.
  std::int32_t AppendData(std::span<const std::uint8_t> bytes);
  std::int32_t DataSize() const { return static_cast<std::int32_t>(data_.size()); }

  // Stored values that replace the computed ones, for damaged files.
  struct Overrides {
    std::optional<std::array<char, 8>> magic;
    std::optional<std::uint16_t> kind;
    std::optional<std::int16_t> reserved;
    std::optional<std::int32_t> partOffset;   // stored only; the directory stays where it is
    std::optional<std::int32_t> partCount;    // stored only
    std::optional<std::int32_t> liveCount;
    std::optional<std::int32_t> slotCount;
    std::optional<std::int32_t> liveNodeCount;
    std::optional<std::int32_t> nodeSlotCount;
    std::optional<std::int32_t> liveRegionCount;
    std::optional<std::int32_t> regionSlotCount;
    std::optional<std::array<double, 4>> extent;   // xMin, yMin, xMax, yMax
    std::optional<std::int16_t> ticCount;
    std::optional<std::int32_t> ticOffset;
    std::map<int, MapGis::MAPGIS_Part> parts;      // directory entries as stored
  } overrides;

  // Where the directory is really written and how many entries it has (the head follows). The
  // sections start behind it, at 817 at the earliest.
  void PlaceDirectory(std::int32_t offset, std::int32_t entries);

  // The file's bytes; also records the layout (GetLayout).
  std::vector<std::uint8_t> Build();
  const LayerLayout& GetLayout() const { return layout_; }
  // Build() and write the bytes to `path`; false when the file cannot be written.
  bool WriteTo(const std::filesystem::path& path);

  // The extent Build() stores when none is given: the bounds of all point, vertex and node
  // coordinates, or zeros for a file without geometry.
  std::array<double, 4> ComputedExtent() const;

 private:
  std::vector<std::vector<std::uint8_t>> Sections() const;

  int kind_;
  MapGis::MAP_PARAstruct para_{};
  std::vector<std::uint8_t> data_;
  std::vector<MapGis::MAPGIS_PntInfo> points_;
  std::vector<MapGis::MAPGIS_LineInfo> lines_;
  std::vector<std::vector<MapGis::Point2D>> lineVertices_;
  std::vector<MapGis::MAPGIS_RegInfo> regions_;
  std::vector<MapGis::MAPGIS_NetPntInfo> nodes_;
  std::vector<MapGis::MAPGIS_Tic_Info> tics_;
  std::map<int, MapGis::MAPGIS_Topology> topology_;
  std::map<int, AttributeArea> areas_;
  std::int32_t directoryOffset_ = static_cast<std::int32_t>(kDirectoryOffset);
  std::int32_t directoryEntries_ = kDirectoryEntries;
  LayerLayout layout_;
};

// The stored bytes of a value, for comparisons in tests.
template <typename T>
std::vector<std::uint8_t> BytesOf(const T& value) {
  static_assert(std::is_trivially_copyable_v<T>);
  std::vector<std::uint8_t> out(sizeof(T));
  std::memcpy(out.data(), &value, sizeof(T));
  return out;
}

// A region layer of `count` unit squares side by side, region i made of arc i + 1 (the square
// from (2i, 0) to (2i + 1, 1)), with a record per region in the region and line attribute areas.
LayerBuilder UnitSquares(int count);

// Writes `bytes` to `path`; false on failure.
bool WriteFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// A fresh, empty folder under the system temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / std::string(name); }

  // Writes the bytes (or the built layer) to a new numbered file in the folder and returns its
  // path; an empty path when the file cannot be written.
  std::string Store(std::span<const std::uint8_t> bytes);
  std::string Store(LayerBuilder& builder);

 private:
  std::filesystem::path path_;
  int next_ = 0;
};

}  // namespace KvxTest
