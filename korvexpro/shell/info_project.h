#pragma once

// `korvexpro info` for MapGIS projects (.mpj) and colour libraries (Pcolor.lib).

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

namespace Kvx {

// Describes a project: its description, extent and projection, and each item with its type code,
// stored name, resolved path (null when the layer file is missing), display range and
// description. Texts are UTF-8. A project that cannot be read gives null, and the reason in
// `*error` when `error` is not null.
nlohmann::ordered_json DescribeProject(const std::filesystem::path& path, std::string* error);

// Describes a colour library (a file, or a folder that holds Pcolor.lib in any letter case): the
// colour and ink counts and the first colours as RGB and CMYK. A library that cannot be read gives
// null, and the reason in `*error` when `error` is not null.
nlohmann::ordered_json DescribeColourLibrary(const std::filesystem::path& path, std::string* error);

}  // namespace Kvx
