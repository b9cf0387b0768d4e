#pragma once

// What the GeoPackage module (kvx_geopackage.so, which alone links GDAL) gives the engine: one C
// entry point returning this table. The module is built with the engine from the same sources,
// so the table may carry C++ types; the version guards against a module of another build.

#include "engine/geopackage_sink.h"
#include "projection/program_module.h"

namespace Kvx {

struct GeoPackageModule {
  static constexpr ModuleName kName{"kvx_geopackage.so", "kvx_geopackage_module", "KORVEXPRO_GEOPACKAGE_MODULE", 1};
  int version;
  bool (*holdsTable)(const std::filesystem::path& file, const std::string& table);
  bool (*dropTable)(const GeoPackageTarget& target);
  std::unique_ptr<FeatureSink> (*openSink)(const GeoPackageTarget& target, const GeoPackageLayer& layer);
};

}  // namespace Kvx

extern "C" KVX_MODULE_ENTRY const void* kvx_geopackage_module();
