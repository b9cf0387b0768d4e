#include "engine/geopackage_sink.h"

#include <dlfcn.h>

#include <cstdlib>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/geopackage_module.h"

namespace Kvx {

namespace {

// Where the module may be, relative to the running program: the installed layout first, then the
// build tree's. KORVEXPRO_GEOPACKAGE_MODULE names the file instead.
std::vector<std::filesystem::path> ModuleCandidates() {
  std::vector<std::filesystem::path> out;
  if (const char* file = std::getenv("KORVEXPRO_GEOPACKAGE_MODULE"); file && *file) {
    out.emplace_back(file);
    return out;
  }
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return out;
  std::string_view dirs = KVX_MODULE_DIRS;
  while (!dirs.empty()) {
    const std::size_t colon = dirs.find(':');
    const std::string_view dir = dirs.substr(0, colon);
    if (!dir.empty()) out.push_back((program.parent_path() / dir / kGeoPackageModuleFile).lexically_normal());
    dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
  }
  return out;
}

struct LoadedModule {
  const GeoPackageModule* api = nullptr;
  std::string error;
};

LoadedModule Load() {
  LoadedModule loaded;
  const std::vector<std::filesystem::path> candidates = ModuleCandidates();
  std::string tried;
  for (const std::filesystem::path& file : candidates) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
      tried += (tried.empty() ? "" : ", ") + file.string();
      continue;
    }
    // Kept loaded until the process ends: its sinks and GDAL's drivers live in it.
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = dlerror();
      loaded.error = file.string() + ": " + (why ? why : "cannot be loaded");
      return loaded;
    }
    using Entry = const GeoPackageModule* (*)();
    const auto entry = reinterpret_cast<Entry>(dlsym(handle, kGeoPackageModuleEntry));
    const GeoPackageModule* api = entry ? entry() : nullptr;
    if (!api || api->version != kGeoPackageModuleVersion) {
      loaded.error = file.string() + ": not the GeoPackage module of this program";
      return loaded;
    }
    loaded.api = api;
    return loaded;
  }
  loaded.error = std::string(kGeoPackageModuleFile) + " not found (looked for " + (tried.empty() ? "nothing" : tried) + ")";
  return loaded;
}

// Loaded once for the process, on first use; never changed after.
const LoadedModule& Module() {
  static const LoadedModule module = Load();
  return module;
}

}  // namespace

std::shared_ptr<std::mutex> GeoPackageLocks::For(const std::filesystem::path& file) {
  std::error_code ec;
  std::filesystem::path key = std::filesystem::weakly_canonical(file, ec);
  if (ec) key = std::filesystem::absolute(file, ec).lexically_normal();
  std::lock_guard lock(mutex_);
  std::shared_ptr<std::mutex>& m = locks_[key];
  if (!m) m = std::make_shared<std::mutex>();
  return m;
}

GeoPackageTarget OwnGeoPackage(const std::filesystem::path& outputBase) {
  GeoPackageTarget target;
  std::string file = outputBase.native();
  file += ".gpkg";
  target.file = std::move(file);
  target.table = outputBase.filename().string();
  return target;
}

std::string GeoPackageSupportError() { return Module().error; }

bool GeoPackageHoldsTable(const std::filesystem::path& file, const std::string& table) {
  const GeoPackageModule* api = Module().api;
  return api && api->holdsTable(file, table);
}

bool DropGeoPackageTable(const GeoPackageTarget& target) {
  const GeoPackageModule* api = Module().api;
  return api && api->dropTable(target);
}

std::unique_ptr<FeatureSink> OpenGeoPackageSink(const GeoPackageTarget& target, const GeoPackageLayer& layer) {
  const GeoPackageModule* api = Module().api;
  return api ? api->openSink(target, layer) : nullptr;
}

}  // namespace Kvx
