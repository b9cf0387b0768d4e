// The texts of reprojection both halves use: the seven parameters as the user gives them, and log
// lines naming a system.

#include <charconv>
#include <cmath>
#include <cstdio>

#include "projection/reprojection.h"

namespace Kvx {

std::string ReprojectionLogLine(const char* format, std::string_view value) {
  const std::string owned(value.substr(0, 400));
  const int n = std::snprintf(nullptr, 0, format, owned.c_str());
  std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::snprintf(text.data(), text.size() + 1, format, owned.c_str());
  return text;
}

std::optional<std::array<double, 7>> ParseSevenParameters(std::string_view text) {
  std::array<double, 7> values{};
  std::size_t at = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::size_t end = i + 1 < values.size() ? text.find(',', at) : text.size();
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view part = text.substr(at, end - at);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
    if (!part.empty() && part.front() == '+') part.remove_prefix(1);
    const auto [ptr, ec] = std::from_chars(part.data(), part.data() + part.size(), values[i]);
    if (part.empty() || ec != std::errc() || ptr != part.data() + part.size() || !std::isfinite(values[i]))
      return std::nullopt;
    at = end + 1;
  }
  return values;
}

}  // namespace Kvx
