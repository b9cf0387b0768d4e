#include "shell/info_layer.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "shell/info_project.h"
#include "vordex/layer_reader.h"
#include "vordex/text_encoding.h"

namespace Kvx {
namespace {

using json = nlohmann::ordered_json;
using MapGis::MapGis_FastReader;

const char* KindName(int kind) {
  switch (kind) {
    case MapGis::KindLine: return "line";
    case MapGis::KindPoint: return "point";
    case MapGis::KindRegion: return "region";
    case MapGis::KindNetwork: return "network";
    case MapGis::KindTable: return "table";
    default: return "unknown";
  }
}

const char* FieldTypeName(int type) {
  switch (type) {
    case 0: return "string";
    case 1: return "byte";
    case 2: return "short";
    case 3: return "long";
    case 4: return "float";
    case 5: return "double";
    case 6: return "date";
    case 7: return "time";
    case 8: return "boolean";
    case 9: return "text";
    case 16: return "timestamp";
    default: return type >= 10 && type <= 18 ? "undecoded" : "invalid";
  }
}

// `held`: the addressable slots the section really holds; fewer than the stored count claims is
// damage.
json Counts(std::int32_t live, std::int32_t slots, std::int32_t held) {
  const std::int64_t claimed = std::max<std::int64_t>(static_cast<std::int64_t>(slots) - 1, 0);
  return json{{"live", live},
              {"slots", slots},
              {"compact", static_cast<std::int64_t>(live) == static_cast<std::int64_t>(slots) - 1},
              {"held", held},
              {"claimsMore", claimed > held}};
}

json ErrorObject(json obj, std::int32_t status, const std::string& detail) {
  obj["status"] = status;
  obj["error"] = std::string(MapGis::Status::Describe(status)) + (detail.empty() ? "" : ": " + detail);
  return obj;
}

// The attribute areas a layer kind holds, with the type that selects each.
std::vector<std::pair<int, const char*>> AttributeTypes(int kind) {
  switch (kind) {
    case MapGis::KindLine: return {{0, "lines"}, {1, "nodes"}};
    case MapGis::KindPoint: return {{1, "points"}};
    case MapGis::KindRegion: return {{2, "regions"}, {0, "arcs"}};
    case MapGis::KindNetwork: return {{0, "lines"}, {1, "nodes"}};
    case MapGis::KindTable: return {{7, "table"}};
    default: return {};
  }
}

json Attributes(MapGis_FastReader& reader, int type, const char* of, MapGis::GbkCodec& codec) {
  json area{{"type", type}, {"of", of}};
  reader.SetAttributeType(type);
  if (reader.GetAttributeType() != type) {
    return ErrorObject(std::move(area), MapGis::Status::BadAttribute, reader.GetLastErrorText());
  }
  std::int32_t fieldCount = reader.GetFieldCount();
  if (fieldCount < 0) return ErrorObject(std::move(area), fieldCount, reader.GetLastErrorText());
  area["recordCount"] = reader.GetRecordCount();
  json fields = json::array();
  for (int f = 0; f < fieldCount; ++f) {
    char name[32] = {0};
    int size = 0, width = 0, decimals = 0;
    std::int32_t code = reader.GetFieldInfo(f, name, &size, &width, &decimals);
    json field{{"name", codec.ToUtf8(name)}};
    if (code == MapGis::Status::BadAttribute) {
      field["error"] = MapGis::Status::Describe(code);
    } else {
      field["type"] = code;
      field["typeName"] = FieldTypeName(code);
      field["size"] = size;
      field["width"] = width;
      field["decimals"] = decimals;
    }
    fields.push_back(std::move(field));
  }
  area["fields"] = std::move(fields);
  return area;
}

}  // namespace

json DescribeLayer(const std::filesystem::path& path) {
  json obj{{"path", path.string()}, {"format", "layer"}};
  MapGis_FastReader reader;
  std::int32_t st = reader.Open(path.c_str());
  if (st != MapGis::Status::Success) return ErrorObject(std::move(obj), st, reader.GetLastErrorText());
  obj["status"] = st;
  const int kind = reader.GetShapeType();
  obj["kind"] = kind;
  obj["kindName"] = KindName(kind);
  obj["magic"] = MapGis::LayerMagic(kind);
  obj["fileSize"] = reader.GetFileSize();

  // Stored counts: live features and record slots (slot 0, the placeholder, included). A file
  // saved compressed has live = slots - 1.
  const MapGis::MAPGIS_Element el = reader.GetElement();  // a copy: the record is packed
  json sections = json::object();
  using MapGis::SlotSection;
  if (kind == MapGis::KindPoint)
    sections["points"] = Counts(el.liveCount, el.slotCount, reader.HeldSlots(SlotSection::Points));
  if (kind == MapGis::KindLine || kind == MapGis::KindNetwork)
    sections["lines"] = Counts(el.liveCount, el.slotCount, reader.HeldSlots(SlotSection::Lines));
  if (kind == MapGis::KindRegion) {
    sections["arcs"] = Counts(el.liveCount, el.slotCount, reader.HeldSlots(SlotSection::Lines));
    sections["regions"] = Counts(el.liveRegionCount, el.regionSlotCount, reader.HeldSlots(SlotSection::Regions));
  }
  if (kind == MapGis::KindNetwork)
    sections["nodes"] = Counts(el.liveNodeCount, el.nodeSlotCount, reader.HeldSlots(SlotSection::Nodes));
  obj["sections"] = std::move(sections);

  double x0, y0, x1, y1;
  reader.GetExtentInfo(&x0, &y0, &x1, &y1);
  obj["extent"] = {{"xMin", x0}, {"yMin", y0}, {"xMax", x1}, {"yMax", y1}};

  MapGis::MAP_PARAstruct para{};
  reader.GetProjectionInfo(&para);
  // The record is packed: each value is copied out before the JSON takes it (a reference to a
  // packed member may be misaligned).
  const int coordKind = para.coordKind, unit = para.unit, projType = para.projType, ellipsoid = para.ellipsoid;
  const double scale = para.scale, centralMeridian = para.centralMeridian, originLatitude = para.originLatitude,
               standardParallel1 = para.standardParallel1, standardParallel2 = para.standardParallel2,
               height = para.height;
  obj["projection"] = {{"coordKind", coordKind},
                       {"unit", unit},
                       {"projType", projType},
                       {"ellipsoid", ellipsoid},
                       {"scale", scale},
                       {"centralMeridian", centralMeridian},
                       {"originLatitude", originLatitude},
                       {"standardParallel1", standardParallel1},
                       {"standardParallel2", standardParallel2},
                       {"height", height}};
  obj["ticCount"] = reader.GetTicCount();

  MapGis::GbkCodec codec;
  json attributes = json::array();
  for (const auto& [type, of] : AttributeTypes(kind)) {
    json area = Attributes(reader, type, of, codec);
    // A line or network file often carries no node attributes; leave that area out quietly.
    if (area.contains("error") && type == 1 && kind != MapGis::KindPoint) continue;
    attributes.push_back(std::move(area));
  }
  obj["attributes"] = std::move(attributes);
  return obj;
}

namespace {

std::string LowerExtension(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

// A project or colour library described by its reader; null from the reader becomes an error entry.
json Described(const std::filesystem::path& path, const char* format, json described, const std::string& error) {
  if (described.is_null()) return json{{"path", path.string()}, {"format", format}, {"error", error}};
  json obj{{"path", path.string()}, {"format", format}};
  for (auto& [key, value] : described.items()) obj[key] = value;
  return obj;
}

}  // namespace

json DescribeFile(const std::filesystem::path& path) {
  std::error_code ec;
  const std::string ext = LowerExtension(path);
  std::string error;
  if (std::filesystem::is_directory(path, ec) || ext == ".lib")
    return Described(path, "colourLibrary", DescribeColourLibrary(path, &error), error);
  if (!std::filesystem::is_regular_file(path, ec)) {
    return ErrorObject(json{{"path", path.string()}}, MapGis::Status::CannotOpen, "no such file");
  }
  if (ext == ".mpj") return Described(path, "project", DescribeProject(path, &error), error);
  return DescribeLayer(path);
}

}  // namespace Kvx
