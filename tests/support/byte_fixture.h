#pragma once

// Small helpers for the fixtures that the project, colour library and legend tests build byte by
// byte: little-endian stores at explicit offsets, reading a file back, and a deterministic byte
// scrambler for the damaged-file runs.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <type_traits>
#include <vector>

namespace KvxTest {

using Bytes = std::vector<std::uint8_t>;

// Stores `value` little-endian at `offset`, growing the buffer when needed.
template <typename T>
void Put(Bytes& bytes, std::size_t offset, T value) {
  static_assert(std::is_arithmetic_v<T>);
  if (bytes.size() < offset + sizeof(T)) bytes.resize(offset + sizeof(T));
  std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

// Stores raw text or bytes at `offset` (no terminator added).
inline void PutText(Bytes& bytes, std::size_t offset, std::string_view text) {
  if (bytes.size() < offset + text.size()) bytes.resize(offset + text.size());
  std::memcpy(bytes.data() + offset, text.data(), text.size());
}

template <typename T>
T Get(const Bytes& bytes, std::size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

inline Bytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes the first `size` bytes of `bytes` (all of them by default) to `path`, an empty file for
// none; false on failure.
inline bool WriteBytes(const std::filesystem::path& path, const Bytes& bytes, std::size_t size = SIZE_MAX) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (size > bytes.size()) size = bytes.size();
  if (size > 0) out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
  out.close();
  return static_cast<bool>(out);
}

// A repeatable sequence of pseudo-random numbers (xorshift), so that a failing damaged-file case
// can be replayed.
class Scrambler {
 public:
  explicit Scrambler(std::uint32_t seed) : state_(seed ? seed : 1u) {}
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  // A copy of `bytes` with a few bytes replaced by random values.
  Bytes Damage(const Bytes& bytes, int changes) {
    Bytes out = bytes;
    if (out.empty()) return out;
    for (int i = 0; i < changes; ++i) out[Next() % out.size()] = static_cast<std::uint8_t>(Next());
    return out;
  }

 private:
  std::uint32_t state_;
};

// The folder of the real MapGIS sample files: KVX_REAL_SAMPLES, or the shared sample folder.
inline std::filesystem::path RealSamplesFolder() {
  if (const char* env = std::getenv("KVX_REAL_SAMPLES"); env && *env) return env;
  return "/work/shared/samples/real";
}

}  // namespace KvxTest
