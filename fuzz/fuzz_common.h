#pragma once

// Shared pieces of the fuzz targets: a scratch folder of the process, and writing the fuzzer's
// bytes into a file there.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace KvxFuzz {

// A folder of this process under the system temporary folder, made on first use and kept for the
// process's life (every input reuses it, so nothing piles up).
inline const std::filesystem::path& Scratch() {
  static const std::filesystem::path dir = [] {
    std::error_code ec;
    std::filesystem::path d = std::filesystem::temp_directory_path(ec) / ("kvx-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(d, ec);
    return d;
  }();
  return dir;
}

inline bool WriteInput(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

// Removes what one input left in the scratch folder.
inline void ClearScratch() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(Scratch(), ec)) std::filesystem::remove_all(entry.path(), ec);
}

}  // namespace KvxFuzz
