#pragma once

// The desktop program: `korvexpro-gui [--config FILE] [PATH...]`. It loads the settings, opens the
// main window where it was last left, queues the paths given (projects and layer files as the
// add-files dialog would, folders as the folder search would), and saves the settings at exit.

#include <QString>
#include <QStringList>

#include <filesystem>

namespace Kvx {

struct GuiArguments {
  bool ok = true;
  bool help = false;
  bool version = false;
  QString error;        // why the arguments were refused
  QString configFile;   // empty: the default settings file
  QStringList paths;
};

// The program's arguments (without the program name). Options Qt itself takes (-platform, …) are
// left to it and must not be passed here.
GuiArguments ParseGuiArguments(const QStringList& arguments);
QString GuiUsage();

// The file that keeps the window's place and pane layout: beside the settings file.
QString WindowStateFileFor(const std::filesystem::path& settingsFile);

class CMainFrame;

// Queues the program's PATHs: projects and layer files as the add-files dialog would (in their
// order), then the folders through the folder search.
void QueueStartupPaths(CMainFrame& frame, const QStringList& paths);

class CKorvexProApp {
 public:
  // Runs the program; returns its exit status.
  int Run(int argc, char** argv);
};

}  // namespace Kvx
