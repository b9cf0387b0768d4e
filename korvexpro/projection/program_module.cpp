#include "projection/program_module.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace Kvx {

namespace {

std::vector<std::filesystem::path> Candidates(const char* file, const char* variable) {
  std::vector<std::filesystem::path> out;
  if (const char* named = std::getenv(variable); named && *named) {
    out.emplace_back(named);
    return out;
  }
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return out;
  // The installed layout first, then the build tree's.
  std::string_view dirs = KVX_MODULE_DIRS;
  while (!dirs.empty()) {
    const std::size_t colon = dirs.find(':');
    const std::string_view dir = dirs.substr(0, colon);
    if (!dir.empty()) out.push_back((program.parent_path() / dir / file).lexically_normal());
    dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
  }
  return out;
}

}  // namespace

ProgramModule LoadProgramModule(const ModuleName& name) {
  ProgramModule loaded;
  std::string tried;
  for (const std::filesystem::path& candidate : Candidates(name.file, name.variable)) {
    std::error_code ec;
    if (!std::filesystem::exists(candidate, ec)) {
      tried += (tried.empty() ? "" : ", ") + candidate.string();
      continue;
    }
    // Never unloaded: what it made (sinks, transformations) and its libraries live in it.
    void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = dlerror();
      loaded.error = candidate.string() + ": " + (why ? why : "cannot be loaded");
      return loaded;
    }
    using Entry = const void* (*)();
    const auto call = reinterpret_cast<Entry>(dlsym(handle, name.entry));
    const void* api = call ? call() : nullptr;
    if (!api || *static_cast<const int*>(api) != name.version) {
      loaded.error = candidate.string() + ": not the module of this program";
      return loaded;
    }
    loaded.api = api;
    return loaded;
  }
  loaded.error = std::string(name.file) + " not found (looked for " + (tried.empty() ? "nothing" : tried) + ")";
  return loaded;
}

}  // namespace Kvx
