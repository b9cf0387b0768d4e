#pragma once

// Modules of this program: shared objects beside its libraries (lib/korvexpro/ when installed,
// lib/korvexpro/ of the build tree), each holding the code that needs a large library (GDAL for
// GeoPackages, PROJ for coordinate systems), loaded the first time a run needs it. A start of the
// program then does not wait for those libraries and the dozens they bring to load.

#include <string>

namespace Kvx {

struct ProgramModule {
  const void* api = nullptr;  // what the module's entry returned; null when it could not be loaded
  std::string error;          // why not, for messages and log lines
};

// Loads `file` (found relative to the running program, or named by the environment variable
// `variable`) and calls its C entry `entry`, declared `extern "C" const void* entry()`, which
// returns the module's table; the table's first member is an int that must equal `version`. The
// module stays loaded until the process ends.
ProgramModule LoadProgramModule(const char* file, const char* entry, const char* variable, int version);

}  // namespace Kvx

#define KVX_MODULE_ENTRY __attribute__((visibility("default")))
