#pragma once

// MapGis_Prj: reads a MapGIS project (.mpj), the list of layer files of a map with their
// descriptions and display ranges, the map extent, projection and description, and writes
// changed items back into the same file.
//
// File layout: magic "WMAP`D2:" (8 bytes), version 9 (i32), the 1101-byte PROJECTHEAD at 12,
// and the item table of 400-byte PROJECTITEM records at the offset the head gives. Texts inside
// the file are GBK; they are handed out as stored.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "vordex/export.h"
#include "vordex/geometry.h"
#include "vordex/status.h"

namespace MapGis {

#pragma pack(push, 1)

// Head of a project file (1101 bytes, stored at file offset 12).
struct PROJECTHEAD {
  std::int16_t itemCount;
  double xMin;
  double yMin;
  double xMax;
  double yMax;
  std::uint8_t unused34[704];
  std::int32_t itemTableOffset;   // absolute file offset of the first item
  std::uint8_t unused742[62];
  MAP_PARAstruct projection;      // its first byte is the coordinate kind
  char description[128];          // GBK, NUL-terminated unless all 128 bytes are used
};

// One listed layer (400 bytes).
struct PROJECTITEM {
  std::uint8_t itemType;          // 0 line, 1 point, 2 region, 7 table, 11 ...
  std::uint8_t unused1;
  char fileName[128];             // GBK; absolute, or relative to the project's folder
  char description[128];          // GBK
  std::uint8_t unused258[66];
  double displayMin;              // smallest scale at which the layer is shown
  double displayMax;              // largest scale
  std::uint8_t unused340[60];
};

#pragma pack(pop)

static_assert(sizeof(PROJECTHEAD) == 1101);
static_assert(offsetof(PROJECTHEAD, xMin) == 2);
static_assert(offsetof(PROJECTHEAD, yMax) == 26);
static_assert(offsetof(PROJECTHEAD, itemTableOffset) == 738);
static_assert(offsetof(PROJECTHEAD, projection) == 804);
static_assert(offsetof(PROJECTHEAD, description) == 973);
static_assert(sizeof(PROJECTITEM) == 400);
static_assert(offsetof(PROJECTITEM, fileName) == 2);
static_assert(offsetof(PROJECTITEM, description) == 130);
static_assert(offsetof(PROJECTITEM, displayMin) == 324);
static_assert(offsetof(PROJECTITEM, displayMax) == 332);

inline constexpr char kProjectMagic[8] = {'W', 'M', 'A', 'P', '`', 'D', '2', ':'};
inline constexpr std::int32_t kProjectVersion = 9;
inline constexpr std::int64_t kProjectHeadOffset = 12;
inline constexpr std::int64_t kProjectHeadEnd = 12 + static_cast<std::int64_t>(sizeof(PROJECTHEAD));  // 1113
// Capacity of the text buffers of GetMpjDesc, GetItemInfo and GetItemDesc, terminator included.
inline constexpr std::size_t kProjectTextCapacity = 128;

// Interface type codes of the items (the shapefile type numbers where there is one).
enum ProjectItemCode : std::int32_t {
  ItemUnknown = 0,
  ItemPoint = 1,     // stored type 1
  ItemLine = 3,      // stored type 0
  ItemRegion = 5,    // stored type 2
  ItemTable = 7,     // stored type 7
  ItemNetwork = 9,   // stored type 11
};

// The interface code of a stored item type (0 for a type without one).
VORDEX_API std::int32_t ProjectItemCodeFromStored(std::uint8_t storedType);
// The stored type of an interface code, or -1 for a code without one.
VORDEX_API std::int32_t ProjectStoredTypeFromCode(std::int32_t code);

class VORDEX_API MapGis_Prj {
 public:
  // A new object holds no items and a cleared head. Copies are deep.
  MapGis_Prj() = default;

  // Reads head and items, replacing what the object held. Returns the item count, or
  // CannotOpen, ReadFailed (short file, negative count, item table outside the file or over the
  // head) or BadMagic (magic, or a version other than 9). After a failure the object is empty.
  std::int32_t LoadProject(const std::filesystem::path& path);

  // Writes the items held in memory back into the project file they were loaded from, at the
  // item-table offset its head gives; the head read from the file replaces the one in memory.
  // Returns the item count, or CannotOpen, ReadFailed, BadMagic, WriteFailed, or
  // ProjectMismatch when the file's item count is not the number of items held (the file is then
  // left untouched).
  std::int32_t SaveProject(const std::filesystem::path& path);

  // Number of items held (0 before a successful load).
  std::int32_t GetItemCount() const;

  // Copies the project description into `buffer` (kProjectTextCapacity bytes, cut before a
  // double-byte character that does not fit). Returns 0; a null buffer copies nothing.
  std::int32_t GetMpjDesc(char* buffer) const;
  // With a record: clears it, copies the projection, and sets the scale to 1.0 when the
  // coordinate kind is 0 or the scale is below 0.001. Returns the coordinate kind.
  std::int32_t GetProjectionInfo(MAP_PARAstruct* para) const;
  // Each non-null pointer receives its value of the map extent.
  void GetExtentInfo(double* xMin, double* yMin, double* xMax, double* yMax) const;

  // Item `index` (0-based): file name into `name` (kProjectTextCapacity bytes), display range
  // into the non-null pointers. Returns the interface code, or ReadFailed for an index outside
  // the items held (outputs are then cleared).
  std::int32_t GetItemInfo(int index, char* name, double* displayMin, double* displayMax) const;
  // The item description into `buffer` (kProjectTextCapacity bytes). Returns 0, or ReadFailed
  // for a bad index (the buffer then holds an empty text).
  std::int32_t GetItemDesc(int index, char* buffer) const;
  // Stores the display range, a non-null name (GBK, cut to 127 bytes before a double-byte
  // character that does not fit, the rest of the field cleared) and, for a known interface code
  // (1, 3, 5, 7, 9), its stored type; any other code keeps the stored type. Returns the stored
  // type as a signed byte; 0 when no items are held, ReadFailed for another bad index.
  std::int32_t SetItemInfo(int index, const char* name, double displayMin, double displayMax, int code);

  // The stored texts (GBK, up to the first NUL) and records, for callers that want more than the
  // fixed buffers above. Empty or null for a bad index.
  std::string GetDescription() const;
  std::string GetItemName(int index) const;
  std::string GetItemDescription(int index) const;
  const PROJECTHEAD& GetHead() const { return head_; }
  const PROJECTITEM* GetItem(int index) const;

 private:
  void Reset();

  PROJECTHEAD head_{};
  std::vector<PROJECTITEM> items_;
};

}  // namespace MapGis
