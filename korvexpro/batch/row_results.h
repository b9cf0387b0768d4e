#pragma once

// What a row of a batch comes to, and the counts of a run: shared by the driver and the run reports.

#include <cstdint>

namespace Kvx {

// Per-row result codes: success, an empty result, a source that does not exist, a file this mode
// does not convert; anything else is a failure (the codes of the conversions).
inline constexpr std::int32_t kRowSuccess = 99999;
inline constexpr std::int32_t kRowEmpty = 10;
inline constexpr std::int32_t kRowMissing = 11;
inline constexpr std::int32_t kRowSkipped = 12;

struct BatchCounters {
  std::int32_t succeeded = 0;
  std::int32_t empty = 0;
  std::int32_t skipped = 0;
  std::int32_t failed = 0;
  std::int32_t missing = 0;
  // Counts one row of result `result`.
  void Count(std::int32_t result) {
    switch (result) {
      case kRowSuccess: ++succeeded; break;
      case kRowMissing: ++missing; break;
      case kRowEmpty: ++empty; break;
      case kRowSkipped: ++skipped; break;
      default: ++failed; break;
    }
  }
  bool operator==(const BatchCounters&) const = default;
};

}  // namespace Kvx
