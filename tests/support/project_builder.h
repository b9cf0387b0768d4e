#pragma once

// Writes MapGIS project files (.mpj) byte by byte for the tests and the demo data: magic, version,
// head and the item table where the head says.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/byte_fixture.h"

namespace KvxTest {

// Positions in a project file.
inline constexpr std::size_t kHead = 12;
inline constexpr std::size_t kHeadEnd = 1113;
inline constexpr std::size_t kItemSize = 400;
inline constexpr std::size_t kCountAt = kHead + 0;
inline constexpr std::size_t kExtentAt = kHead + 2;
inline constexpr std::size_t kTableOffsetAt = kHead + 738;
inline constexpr std::size_t kProjectionAt = kHead + 804;
inline constexpr std::size_t kDescriptionAt = kHead + 973;

struct ProjectItem {
  std::uint8_t type;
  std::string name;  // GBK bytes, stored as given (at most 128)
  std::string description;
  double displayMin;
  double displayMax;
};

// A project file: magic, version, head and the item table at `tableOffset` (the gap between the
// head and the table is filled with 0x5A). Bytes nobody interprets carry recognisable values so
// that a write-back can be shown to leave them alone.
struct ProjectFile {
  std::vector<ProjectItem> items;
  std::string description;
  std::int32_t version = 9;
  std::int32_t tableOffset = static_cast<std::int32_t>(kHeadEnd);
  std::optional<std::int16_t> storedCount;
  std::int8_t coordKind = 3;
  double scale = 0.5;

  Bytes Build() const {
    Bytes b(kHeadEnd, 0);
    PutText(b, 0, "WMAP`D2:");
    Put<std::int32_t>(b, 8, version);
    Put<std::int16_t>(b, kCountAt, storedCount.value_or(static_cast<std::int16_t>(items.size())));
    const double extent[4] = {100.5, 200.25, 300.75, 400.125};
    for (int i = 0; i < 4; ++i) Put<double>(b, kExtentAt + 8 * i, extent[i]);
    for (std::size_t i = 34; i < 738; ++i) b[kHead + i] = static_cast<std::uint8_t>(i);
    Put<std::int32_t>(b, kTableOffsetAt, tableOffset);
    Put<std::int8_t>(b, kProjectionAt + 0, coordKind);
    Put<std::int8_t>(b, kProjectionAt + 1, 2);  // unit
    Put<double>(b, kProjectionAt + 52, scale);
    Put<double>(b, kProjectionAt + 60, 1173000.0);
    PutText(b, kDescriptionAt, description);
    if (tableOffset > static_cast<std::int32_t>(kHeadEnd)) b.resize(static_cast<std::size_t>(tableOffset), 0x5A);
    for (const ProjectItem& item : items) {
      const std::size_t at = b.size();
      b.resize(at + kItemSize, 0);
      for (std::size_t k = 258; k < 324; ++k) b[at + k] = 0xC3;
      b[at] = item.type;
      b[at + 1] = 0x77;
      PutText(b, at + 2, item.name.substr(0, 128));
      PutText(b, at + 130, item.description.substr(0, 128));
      Put<double>(b, at + 324, item.displayMin);
      Put<double>(b, at + 332, item.displayMax);
    }
    return b;
  }
};

}  // namespace KvxTest
