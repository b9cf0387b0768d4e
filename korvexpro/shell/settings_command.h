#pragma once

#include <CLI/CLI.hpp>

namespace Kvx {

// Adds "settings list | get Section/Key | set Section/Key VALUE | reset [Section/Key] | path".
// The file is the one named by "--config FILE" (given to "settings" or to the program itself),
// else the user's default settings file. `exitCode` receives the subcommand's exit status.
void AddSettingsCommand(CLI::App& app, int& exitCode);

}  // namespace Kvx
