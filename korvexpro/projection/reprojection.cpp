#include "projection/reprojection.h"

#include "projection/program_module.h"

namespace Kvx {

std::string CheckCrsText(std::string_view text) {
  const ReprojectionModule* api = TableOf<ReprojectionModule>();
  if (!api) return "coordinate systems cannot be read: " + ModuleOf<ReprojectionModule>().error;
  return api->checkCrsText(text);
}

Reprojection::Created Reprojection::Create(std::string_view layerSystem, bool layerIsLocal,
                                           const ReprojectionSettings& settings) {
  const ReprojectionModule* api = TableOf<ReprojectionModule>();
  if (api) return api->create(layerSystem, layerIsLocal, settings);
  Created out;
  out.errorLine = ReprojectionLogLine(kLogNoReprojectionModule.data(), ModuleOf<ReprojectionModule>().error);
  return out;
}

}  // namespace Kvx
