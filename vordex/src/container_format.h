#pragma once

// Fixed positions and values of the MapGIS layer container, shared by the readers and the writer.

#include <cstdint>

namespace MapGis::Container {

// Directory entries: what each index of the section directory holds.
inline constexpr int kEntryPrimary = 0;      // points or lines (arcs); the attribute area of a table
inline constexpr int kEntryData = 1;         // vertices, texts, arc lists, tics, node blocks
inline constexpr int kEntryPrimaryAttr = 2;  // attributes of points, lines or arcs
inline constexpr int kEntryTopology = 3;     // one topology record per line slot
inline constexpr int kEntryNodes = 4;        // network nodes
inline constexpr int kEntryNodeAttr = 5;     // attributes of network nodes
inline constexpr int kEntryLineExtent = 6;   // 32 bytes per line slot
inline constexpr int kEntryLineValues = 7;   // 4 bytes per line slot
inline constexpr int kEntryRegions = 8;      // region records
inline constexpr int kEntryRegionAttr = 9;   // attributes of regions
inline constexpr int kEntryRegionExtent = 10;
inline constexpr int kEntryRegionValues = 11;

// The head of an attribute area in new files.
inline constexpr std::uint16_t kHeadTag = 17504;
inline constexpr std::uint8_t kSignature[6] = {0x60, 0x44, 0xDC, 0x07, 0x05, 0x16};

inline constexpr std::int32_t kMaxDirectory = 1024;  // directory offset and entry count at most

}  // namespace MapGis::Container
