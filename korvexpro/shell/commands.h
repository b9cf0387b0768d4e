#pragma once

#include <CLI/CLI.hpp>

namespace Kvx {

// Each command adds its subcommand to the application; `exitCode` receives its result.
void AddInfoCommand(CLI::App& app, int& exitCode);

}  // namespace Kvx
