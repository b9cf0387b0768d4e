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

// A module: its file (found relative to the running program, or named by the environment variable
// `variable`), its C entry, declared `extern "C" const void* entry()`, which returns the module's
// table, and the version the table's first member (an int) must hold.
struct ModuleName {
  const char* file;
  const char* entry;
  const char* variable;
  int version;
};

// Loads the module and calls its entry. The module stays loaded until the process ends.
ProgramModule LoadProgramModule(const ModuleName& name);

// The module whose table is `Table` (which names it as `Table::kName`), loaded once for the
// process, on first use; never changed after.
template <typename Table>
const ProgramModule& ModuleOf() {
  static const ProgramModule module = LoadProgramModule(Table::kName);
  return module;
}

// Its table; null when the module could not be loaded (ModuleOf<Table>().error says why).
template <typename Table>
const Table* TableOf() {
  return static_cast<const Table*>(ModuleOf<Table>().api);
}

}  // namespace Kvx

#define KVX_MODULE_ENTRY __attribute__((visibility("default")))
