#include "projection/reprojection.h"

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
  out.errorLine = ReprojectionLogLine(kLogNoReprojectionModule.data(), Module().error);
  return out;
}

}  // namespace Kvx
