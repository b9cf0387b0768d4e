#pragma once

#include <cstdint>

#include "vordex/export.h"

// Status codes of the Vordex readers and writers. Success is 99999; failures are negative.
namespace MapGis::Status {

inline constexpr std::int32_t Success = 99999;
inline constexpr std::int32_t NotMapGis = -10000;      // magic does not match the layer kind
inline constexpr std::int32_t DamagedHead = -9999;     // reserved != 0, directory beyond 1024
inline constexpr std::int32_t UnknownKind = -9997;     // layer kind not known
inline constexpr std::int32_t CannotOpen = -9996;      // file cannot be opened
inline constexpr std::int32_t OlderVariant = -9995;    // an older MapGIS layer head (byte 4 is 0x05), not read
inline constexpr std::int32_t OutOfMemory = -9994;     // allocation failed
inline constexpr std::int32_t ReadFailed = -9983;      // read failure, bad index, wrong kind, bad count
inline constexpr std::int32_t WriteFailed = -9982;     // write-back failure
inline constexpr std::int32_t Deleted = -9981;         // record (or arc) flag is not 1
inline constexpr std::int32_t BadAttribute = -9980;    // bad attribute type, field index or definition
inline constexpr std::int32_t BadRegion = -9979;       // empty arc list or negative vertex total
inline constexpr std::int32_t MultiPartLine = -9976;   // line geometry of several parts: the selected part was written

// Project, colour library, legend and symbol files.
inline constexpr std::int32_t BadMagic = -9997;        // magic (or project version) does not match
inline constexpr std::int32_t ProjectMismatch = -9977; // project on disk differs from the items held

// Text for a status code, for logs and the command line ("read failure", ...).
VORDEX_API const char* Describe(std::int32_t status);

}  // namespace MapGis::Status
