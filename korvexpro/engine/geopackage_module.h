#pragma once

// What the GeoPackage module (kvx_geopackage.so, which alone links GDAL) gives the engine: one C
// entry point returning this table. The module is built with the engine from the same sources,
// so the table may carry C++ types; the version guards against a module of another build.

#include "engine/geopackage_sink.h"
#include "projection/program_module.h"

namespace Kvx {

inline constexpr int kGeoPackageModuleVersion = 1;
inline constexpr const char* kGeoPackageModuleFile = "kvx_geopackage.so";
inline constexpr const char* kGeoPackageModuleEntry = "kvx_geopackage_module";

struct GeoPackageModule {
  int version;
  bool (*holdsTable)(const std::filesystem::path& file, const std::string& table);
  bool (*dropTable)(const GeoPackageTarget& target);
  std::unique_ptr<FeatureSink> (*openSink)(const GeoPackageTarget& target, const GeoPackageLayer& layer);
};

}  // namespace Kvx

extern "C" KVX_MODULE_ENTRY const void* kvx_geopackage_module();
