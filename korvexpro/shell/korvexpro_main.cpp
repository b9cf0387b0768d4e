#include <CLI/CLI.hpp>

#include <string>

#include "shell/commands.h"
#include "shell/settings_command.h"

int main(int argc, char** argv) {
  CLI::App app{"KorvexPro: converts MapGIS 6.x vector data into ESRI shapefile sets"};
  app.require_subcommand(1);
  int exitCode = 0;
  std::string configFile;
  app.add_option("--config", configFile, "Settings file to use instead of $XDG_CONFIG_HOME/Halvard/KorvexPro.ini")
      ->type_name("FILE");
  Kvx::AddInfoCommand(app, exitCode);
  Kvx::AddSettingsCommand(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  return exitCode;
}
