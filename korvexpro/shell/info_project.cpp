#include "shell/info_project.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "vordex/colour_library.h"
#include "vordex/conversions.h"
#include "vordex/project_file.h"
#include "vordex/status.h"
#include "vordex/text_encoding.h"
#include "vordex/windows_names.h"

namespace Kvx {
namespace {

using json = nlohmann::ordered_json;

// Colours listed by DescribeColourLibrary.
constexpr int kListedColours = 16;

json Fail(const std::filesystem::path& path, std::int32_t status, std::string* error) {
  if (error) {
    *error = path.string() + ": " + MapGis::Status::Describe(status) + " (" + std::to_string(status) + ")";
  }
  return json();
}

const char* ItemKindName(std::int32_t code) {
  switch (code) {
    case MapGis::ItemPoint: return "point";
    case MapGis::ItemLine: return "line";
    case MapGis::ItemRegion: return "region";
    case MapGis::ItemTable: return "table";
    case MapGis::ItemNetwork: return "network";
    default: return "unknown";
  }
}

json Projection(const MapGis::MapGis_Prj& prj) {
  MapGis::MAP_PARAstruct para{};
  prj.GetProjectionInfo(&para);
  // Copies: the record is packed, so its members cannot be bound to references.
  const double centralMeridian = para.centralMeridian;
  return json{
      {"coordKind", int{para.coordKind}},
      {"unit", int{para.unit}},
      {"projType", int{para.projType}},
      {"ellipsoid", int{para.ellipsoid}},
      {"scale", double{para.scale}},
      {"centralMeridian", centralMeridian},  // packed DDDMMSS.ss, as stored
      {"centralMeridianDegrees", MapGis::DMS2Degree(centralMeridian)},
      {"originLatitude", double{para.originLatitude}},
      {"standardParallel1", double{para.standardParallel1}},
      {"standardParallel2", double{para.standardParallel2}},
      {"height", double{para.height}},
  };
}

std::string Hex(MapGis::RGBTRIPLE rgb) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", rgb.rgbtRed, rgb.rgbtGreen, rgb.rgbtBlue);
  return text;
}

}  // namespace

json DescribeProject(const std::filesystem::path& path, std::string* error) {
  MapGis::MapGis_Prj prj;
  const std::int32_t count = prj.LoadProject(path);
  if (count < 0) return Fail(path, count, error);

  MapGis::GbkCodec codec;
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::absolute(path, ec).parent_path();
  if (ec) folder = path.parent_path();

  double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
  prj.GetExtentInfo(&xMin, &yMin, &xMax, &yMax);

  json items = json::array();
  MapGis::FolderNames listed;
  for (int i = 0; i < count; ++i) {
    double lo = 0, hi = 0;
    const std::int32_t code = prj.GetItemInfo(i, nullptr, &lo, &hi);
    const std::string stored = prj.GetItemName(i);
    const auto resolved = MapGis::ResolveProjectItemPath(stored, folder, &listed);
    const MapGis::PROJECTITEM* item = prj.GetItem(i);
    items.push_back(json{
        {"index", i},
        {"type", code},
        {"kind", ItemKindName(code)},
        {"storedType", item ? item->itemType : 0},
        {"name", codec.ToUtf8(stored)},
        {"path", resolved ? json(resolved->string()) : json(nullptr)},
        {"description", codec.ToUtf8(prj.GetItemDescription(i))},
        {"displayMin", lo},
        {"displayMax", hi},
    });
  }
  const auto missing = std::count_if(items.begin(), items.end(), [](const json& j) { return j["path"].is_null(); });

  return json{
      {"path", path.string()},
      {"kind", "project"},
      {"description", codec.ToUtf8(prj.GetDescription())},
      {"itemCount", count},
      {"missingCount", missing},
      {"extent", {{"xMin", xMin}, {"yMin", yMin}, {"xMax", xMax}, {"yMax", yMax}}},
      {"projection", Projection(prj)},
      {"items", std::move(items)},
  };
}

json DescribeColourLibrary(const std::filesystem::path& path, std::string* error) {
  std::filesystem::path file = path;
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    auto found = MapGis::FindColourLibrary(path);
    if (!found) return Fail(path / "Pcolor.lib", MapGis::Status::CannotOpen, error);
    file = *found;
  }
  MapGis::MapGis_ColorLib lib;
  const std::int32_t count = lib.LoadColors(file);
  if (count < 0) return Fail(file, count, error);

  json colours = json::array();
  for (int n = 1; n <= std::min(count, kListedColours); ++n) {
    const MapGis::RGBTRIPLE rgb = lib.GetRGB(n);
    const MapGis::CMYKQUAD cmyk = lib.GetCMYK(n);
    colours.push_back(json{
        {"number", n},
        {"rgb", {{"r", rgb.rgbtRed}, {"g", rgb.rgbtGreen}, {"b", rgb.rgbtBlue}}},
        {"hex", Hex(rgb)},
        {"cmykPercent", {{"c", cmyk.cmykCyan}, {"m", cmyk.cmykMagenta}, {"y", cmyk.cmykYellow}, {"k", cmyk.cmykBlack}}},
    });
  }
  return json{
      {"path", file.string()},
      {"kind", "colour library"},
      {"colourCount", count},
      {"storedColourCount", int{lib.GetHead().colorCount}},
      {"inkCount", lib.GetInkNum()},
      {"colours", std::move(colours)},
  };
}

}  // namespace Kvx
