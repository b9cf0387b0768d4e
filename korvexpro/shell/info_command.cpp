// `korvexpro info`: a first look at MapGIS files, as text or as JSON.

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "shell/commands.h"
#include "shell/info_layer.h"

namespace Kvx {
namespace {

using nlohmann::ordered_json;

std::string Scalar(const ordered_json& v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

bool AllScalar(const ordered_json& v) {
  for (const auto& item : v) {
    if (item.is_structured()) return false;
  }
  return true;
}

// "key value, key value" for an object whose members are all scalars.
std::string Inline(const ordered_json& obj) {
  std::string out;
  for (const auto& [key, value] : obj.items()) out += (out.empty() ? "" : ", ") + key + " " + Scalar(value);
  return out;
}

void PrintObject(std::ostream& out, const std::string& indent, const ordered_json& obj) {
  for (const auto& [key, value] : obj.items()) {
    if (value.is_object() && AllScalar(value)) {
      out << indent << key << ": " << Inline(value) << "\n";
    } else if (value.is_object()) {
      out << indent << key << ":\n";
      PrintObject(out, indent + "  ", value);
    } else if (value.is_array() && AllScalar(value)) {
      std::string list;
      for (const auto& item : value) list += (list.empty() ? "" : ", ") + Scalar(item);
      out << indent << key << ": " << (value.empty() ? "none" : list) << "\n";
    } else if (value.is_array()) {
      out << indent << key << ": " << value.size() << "\n";
      for (const auto& item : value) {
        if (item.is_object() && AllScalar(item)) {
          out << indent << "  - " << Inline(item) << "\n";
        } else {
          out << indent << "  -\n";
          PrintObject(out, indent + "    ", item);
        }
      }
    } else {
      out << indent << key << ": " << Scalar(value) << "\n";
    }
  }
}

}  // namespace

void AddInfoCommand(CLI::App& app, int& exitCode) {
  auto* cmd = app.add_subcommand("info", "Show what a MapGIS layer file holds: kind, counts, extent, projection, fields");
  auto paths = std::make_shared<std::vector<std::string>>();
  auto asJson = std::make_shared<bool>(false);
  cmd->add_option("PATH", *paths, "MapGIS files (.wt .wl .wp .wn .wb)")->required();
  cmd->add_flag("--json", *asJson, "Print one JSON array with an object per file");
  cmd->callback([paths, asJson, &exitCode]() {
    ordered_json all = ordered_json::array();
    bool anyFailed = false;
    for (const auto& p : *paths) {
      ordered_json one = DescribeFile(std::filesystem::path(p));
      if (one.contains("error")) anyFailed = true;
      all.push_back(std::move(one));
    }
    if (*asJson) {
      std::cout << all.dump(2, ' ', false, ordered_json::error_handler_t::replace) << "\n";
    } else {
      for (const auto& one : all) {
        std::cout << one.value("path", std::string()) << "\n";
        ordered_json rest = one;
        rest.erase("path");
        PrintObject(std::cout, "  ", rest);
      }
    }
    exitCode = anyFailed ? 1 : 0;
  });
}

}  // namespace Kvx
