#pragma once

// Shared pieces of the style tests: a notifier that records what it is told, a guard for the
// process-wide settings, and a small colour library written byte by byte.

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings.h"
#include "styles/notifier.h"

namespace KvxTest {

struct RecordingNotifier : Kvx::Notifier {
  struct Shown {
    std::string caption;
    std::string text;
    Kvx::MessageIcon icon;
  };
  struct Traced {
    int level;
    std::string text;
  };
  std::vector<Shown> messages;
  std::vector<Traced> traces;

  void Message(std::string_view caption, std::string_view text, Kvx::MessageIcon icon) override {
    messages.push_back({std::string(caption), std::string(text), icon});
  }
  void Trace(int level, std::string_view text, const Kvx::SourceLocation&) override {
    traces.push_back({level, std::string(text)});
  }
};

// Puts the process-wide settings back as they were when it goes.
class ScopedAppSettings {
 public:
  ScopedAppSettings() : saved_(Kvx::AppSettings()) {}
  ~ScopedAppSettings() { Kvx::AppSettings() = saved_; }
  ScopedAppSettings(const ScopedAppSettings&) = delete;
  ScopedAppSettings& operator=(const ScopedAppSettings&) = delete;

 private:
  Kvx::Settings saved_;
};

// One colour of a test library: its base ink coverages 0..255.
struct BaseColour {
  std::uint8_t k, c, m, y;
};

// A colour library without spot inks: colour n is colours[n - 1].
inline std::vector<char> ColourLibraryBytes(const std::vector<BaseColour>& colours, const char* magic = "PCOLOR 3") {
  std::vector<char> bytes(156, 0);
  std::memcpy(bytes.data(), magic, 8);
  const auto count = static_cast<std::int16_t>(colours.size());
  std::memcpy(bytes.data() + 8, &count, 2);
  for (const BaseColour& colour : colours) {
    char record[32] = {};
    record[0] = static_cast<char>(colour.k);
    record[1] = static_cast<char>(colour.c);
    record[2] = static_cast<char>(colour.m);
    record[3] = static_cast<char>(colour.y);
    bytes.insert(bytes.end(), record, record + 32);
  }
  return bytes;
}

inline void WriteFileBytes(const std::filesystem::path& path, const std::vector<char>& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

// The colours of the test library (K, C, M, Y):
//   1 cyan (RGB 0, 255, 255)   2 red (255, 0, 0)   3 blue (0, 0, 255)   4 white   5 black
//   6 half black (127, 127, 127)
inline const std::vector<BaseColour>& TestColours() {
  static const std::vector<BaseColour> colours = {
      {0, 255, 0, 0}, {0, 0, 255, 255}, {0, 255, 255, 0}, {0, 0, 0, 0}, {255, 0, 0, 0}, {128, 0, 0, 0},
  };
  return colours;
}

inline constexpr std::int32_t kCyan = 1;
inline constexpr std::int32_t kRed = 2;
inline constexpr std::int32_t kBlue = 3;
inline constexpr std::int32_t kWhite = 4;
inline constexpr std::int32_t kBlack = 5;
inline constexpr std::int32_t kGrey = 6;

}  // namespace KvxTest
