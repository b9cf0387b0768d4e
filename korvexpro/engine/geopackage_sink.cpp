#include "engine/geopackage_sink.h"

#include <system_error>

#include "engine/geopackage_module.h"
#include "projection/program_module.h"

namespace Kvx {

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

std::string GeoPackageSupportError() { return ModuleOf<GeoPackageModule>().error; }

bool GeoPackageHoldsTable(const std::filesystem::path& file, const std::string& table) {
  const GeoPackageModule* api = TableOf<GeoPackageModule>();
  return api && api->holdsTable(file, table);
}

bool DropGeoPackageTable(const GeoPackageTarget& target) {
  const GeoPackageModule* api = TableOf<GeoPackageModule>();
  return api && api->dropTable(target);
}

std::unique_ptr<FeatureSink> OpenGeoPackageSink(const GeoPackageTarget& target, const GeoPackageLayer& layer) {
  const GeoPackageModule* api = TableOf<GeoPackageModule>();
  return api ? api->openSink(target, layer) : nullptr;
}

}  // namespace Kvx
