#include "projection/reprojection.h"

#include <cstdio>

#include "projection/program_module.h"

namespace Kvx {

namespace {

// Loaded once for the process, on first use; never changed after.
const ProgramModule& Module() {
  static const ProgramModule module = LoadProgramModule(kReprojectionModuleFile, kReprojectionModuleEntry,
                                                        "KORVEXPRO_REPROJECTION_MODULE", kReprojectionModuleVersion);
  return module;
}

const ReprojectionModule* Api() { return static_cast<const ReprojectionModule*>(Module().api); }

}  // namespace

std::string CheckCrsText(std::string_view text) {
  const ReprojectionModule* api = Api();
  if (!api) return "coordinate systems cannot be read: " + Module().error;
  return api->checkCrsText(text);
}

Reprojection::Created Reprojection::Create(std::string_view layerSystem, bool layerIsLocal,
                                           const ReprojectionSettings& settings) {
  const ReprojectionModule* api = Api();
  if (api) return api->create(layerSystem, layerIsLocal, settings);
  Created out;
  const std::string why = Module().error.substr(0, 400);
  const int n = std::snprintf(nullptr, 0, kLogNoReprojectionModule.data(), why.c_str());
  out.errorLine.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  if (n > 0) std::snprintf(out.errorLine.data(), out.errorLine.size() + 1, kLogNoReprojectionModule.data(), why.c_str());
  return out;
}

}  // namespace Kvx
