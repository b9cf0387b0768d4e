#pragma once

#include <filesystem>

#include <nlohmann/json.hpp>

namespace Kvx {

// Describes one MapGIS file as a JSON object (see the README for its members). A file that
// cannot be read gives an object with "status" and "error".
nlohmann::ordered_json DescribeFile(const std::filesystem::path& path);

// Describes one MapGIS layer file (.wt .wl .wp .wn .wb).
nlohmann::ordered_json DescribeLayer(const std::filesystem::path& path);

}  // namespace Kvx
