#include "shell/settings_command.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "settings/settings.h"
#include "settings/settings_tool.h"

namespace Kvx {

void AddSettingsCommand(CLI::App& app, int& exitCode) {
  CLI::App* settings = app.add_subcommand("settings", "Show and change the settings file");
  settings->require_subcommand(1);

  // Owned by the callbacks, which live as long as `app`.
  auto configFile = std::make_shared<std::string>();
  settings->add_option("--config", *configFile,
                       "Settings file to use instead of $XDG_CONFIG_HOME/Halvard/KorvexPro.ini")
      ->type_name("FILE");

  // The file in use: "settings --config", else a program-wide "--config", else the default.
  auto file = [&app, configFile]() -> std::filesystem::path {
    if (!configFile->empty()) return *configFile;
    if (const CLI::Option* global = app.get_option_no_throw("--config"); global != nullptr && global->count() > 0) {
      const auto name = global->as<std::string>();
      if (!name.empty()) return name;
    }
    return DefaultSettingsFile();
  };

  CLI::App* list = settings->add_subcommand("list", "Show every setting with its type, value and default");
  list->callback([file, &exitCode] { exitCode = RunSettingsList(file(), std::cout, std::cerr); });

  auto getName = std::make_shared<std::string>();
  CLI::App* get = settings->add_subcommand("get", "Print the value of one setting");
  get->add_option("name", *getName, "Section/Key, e.g. General/LogLevel")->required();
  get->callback([file, getName, &exitCode] { exitCode = RunSettingsGet(file(), *getName, std::cout, std::cerr); });

  auto setName = std::make_shared<std::string>();
  auto setValue = std::make_shared<std::string>();
  CLI::App* set = settings->add_subcommand("set", "Change one setting in the settings file");
  set->add_option("name", *setName, "Section/Key, e.g. FilePath/OutPath")->required();
  set->add_option("value", *setValue, "New value (an empty string is a value too)")->required();
  set->callback([file, setName, setValue, &exitCode] {
    exitCode = RunSettingsSet(file(), *setName, *setValue, std::cerr);
  });

  auto resetName = std::make_shared<std::string>();
  CLI::App* reset = settings->add_subcommand("reset", "Write the defaults of all settings, or of one");
  reset->add_option("name", *resetName, "Section/Key of the one setting to reset");
  reset->callback([file, resetName, &exitCode] { exitCode = RunSettingsReset(file(), *resetName, std::cerr); });

  CLI::App* path = settings->add_subcommand("path", "Print the path of the settings file in use");
  path->callback([file, &exitCode] { exitCode = RunSettingsPath(file(), std::cout, std::cerr); });

  // "settings list --config FILE" reads as well as "settings --config FILE list".
  for (CLI::App* sub : {list, get, set, reset, path}) sub->fallthrough();
}

}  // namespace Kvx
