#include <CLI/CLI.hpp>

#include <string>

#include "shell/commands.h"
#include "shell/convert_command.h"
#include "shell/process_tuning.h"
#include "shell/settings_command.h"

int main(int argc, char** argv) {
  Kvx::TuneProcessForBatches();
  CLI::App app{"KorvexPro: converts MapGIS 6.x vector data into ESRI shapefile sets"};
  app.require_subcommand(1);
  app.footer(
      "Examples:\n"
      "  korvexpro convert -o out maps/city.mpj                  convert a project and its layers into out/city/\n"
      "  korvexpro convert --mode avl --lib Slib -o out maps/    every project under maps/, with .avl legends\n"
      "  korvexpro convert -j 4 --report run.jsonl -o out maps/  four rows at once, with a JSON Lines report\n"
      "  korvexpro info maps/roads.wl                            what a layer file holds\n"
      "  korvexpro settings list                                 the stored settings\n"
      "Run \"korvexpro COMMAND --help\" for the options of a command.");
  int exitCode = 0;
  std::string configFile;
  app.add_option("--config", configFile, "Settings file to use instead of $XDG_CONFIG_HOME/Halvard/KorvexPro.ini")
      ->type_name("FILE");
  Kvx::AddConvertCommand(app, exitCode);
  Kvx::AddInfoCommand(app, exitCode);
  Kvx::AddSettingsCommand(app, exitCode);
  Kvx::AddReportCommand(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  return exitCode;
}
