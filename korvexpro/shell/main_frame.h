#pragma once

// The main window "KorvexPro 格式转换工具 (V…)": the command bar at the top, the file list in the
// middle, the status bar ("就绪", the progress text, the progress bar, the web-site link), and the
// panes "转换信息" and "输出" docked at the bottom with the preview at the right. It routes every
// command to the view or handles it itself (panes, themes, the about box, the web pages, the
// updater), and keeps the window's place and its panes' layout for the next start.

#include <QHash>
#include <QMainWindow>
#include <QString>

#include <filesystem>

#include "settings/settings.h"

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QProgressBar;

namespace Kvx {

class CCommandBar;
class CConversionInfoPane;
class CKorvexProView;
class COutputWnd;
class CPreviewPane;
class ShellPrompts;

// Command identifiers of the window's commands.
enum CommandId : int {
  ID_FILE_OPEN = 57601,
  ID_FILE_FLD = 32792,
  ID_EDIT_SELALL = 32779,
  ID_EDIT_SELNONE = 32778,
  ID_EDIT_SELINVERT = 32777,
  ID_EDIT_SELDEL = 32782,
  ID_EDIT_CLEAR_ALL = 57633,
  ID_EDIT_EXPAND = 32824,
  ID_EDIT_COLLAPSE = 32823,
  ID_EDIT_OPENLOCATION = 32780,
  ID_EDIT_EXPORTLIST = 32781,
  ID_OPT_ALL = 32771,
  ID_BTN_LOGWIN = 32877,
  ID_BTN_INFWIN = 32895,
  ID_BTN_RESTORE = 32899,
  ID_BTN_PREVIEW = 32950,
  ID_APP_ABOUT = 57664,
  ID_HELP_ONLINE = 32798,
  ID_WEBHOME = 32878,
  ID_TUTORIAL = 32885,
  ID_UPDATE = 32896,
  ID_APP_EXIT = 57665,
  ID_LOG_CLEAR = 57632,
  ID_LOG_SAVEAS = 57634,
};

// The program's version in four parts ("0.1.0.0").
QString ProductVersion();
// "KorvexPro 格式转换工具 (V" + version + ")".
QString MainWindowTitle(const QString& version);

// The pages the web commands open.
inline constexpr char kWebHomeUrl[] = "https://korvexpro.org/";
inline constexpr char kTutorialUrl[] = "https://korvexpro.org/tutorial/";
inline constexpr char kHelpUrl[] = "https://korvexpro.org/help/";

// Starts "update/mUpdate" below `base` with the working folder "update" and does not wait for it.
// 0 when it started; otherwise the system's error number (2: not there, 13: not a program).
int StartUpdater(const QString& base);
inline constexpr char kUpdateFailedFormat[] = "检查更新失败,错误信息(%1)\n";
inline constexpr char kUpdateFailedCaption[] = "检查更新失败";

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  // `configFile` receives ThemeStyle when a theme is applied; `windowStateFile` keeps the window's
  // geometry and pane layout between starts (empty: not kept).
  CMainFrame(Settings& settings, ShellPrompts& prompts, std::filesystem::path configFile, QString windowStateFile,
             QWidget* parent = nullptr);
  ~CMainFrame() override;

  CKorvexProView* View() const { return view_; }
  CCommandBar* CommandBar() const { return bar_; }
  COutputWnd* OutputWnd() const { return output_; }
  CConversionInfoPane* InfoPane() const { return info_; }
  CPreviewPane* Preview() const { return preview_; }
  QDockWidget* OutputDock() const { return outputDock_; }
  QDockWidget* InfoDock() const { return infoDock_; }
  QDockWidget* PreviewDock() const { return previewDock_; }
  QLabel* StatusInfo() const { return statusInfo_; }
  QLabel* StatusProgress() const { return statusProgress_; }
  QProgressBar* StatusBar() const { return progressBar_; }
  QLabel* StatusLink() const { return statusLink_; }
  QMenu* ApplicationMenu() const { return appMenu_; }

  // The action of a command identifier (a batch command by its own identifier); nullptr if none.
  QAction* Action(int id) const { return actions_.value(id, nullptr); }
  // Runs a command as its button would.
  void Trigger(int id);

  // Draws the window in theme `style` (0 to 3) and stores ThemeStyle.
  void ApplyTheme(int style);
  int ThemeInUse() const { return theme_; }
  // 恢复窗口: the first theme, both bottom panes shown and docked again, the preview at the right.
  void RestoreLayout();

  // Restores the geometry and pane layout of the last run; false when none was kept.
  bool RestoreWindowState();
  void SaveWindowState() const;

  // Closes the window without asking: at once when idle, else once the running search or batch
  // has stopped after its current row.
  void CloseWhenIdle();

  // Runs the updater command from the current folder.
  void OnUpdate();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QAction* MakeAction(int id, const QString& text, const QString& tip, int pictogram);
  void BuildActions();
  void BuildCommandBar();
  void BuildStatusBar();
  void BuildPanes();
  void DockDefault();
  void Connect();
  void SetBusy(bool busy);
  void OnAbout();
  void OpenPage(const char* url);

  Settings& settings_;
  ShellPrompts& prompts_;
  std::filesystem::path configFile_;
  QString windowStateFile_;
  CKorvexProView* view_ = nullptr;
  CCommandBar* bar_ = nullptr;
  COutputWnd* output_ = nullptr;
  CConversionInfoPane* info_ = nullptr;
  CPreviewPane* preview_ = nullptr;
  QDockWidget* outputDock_ = nullptr;
  QDockWidget* infoDock_ = nullptr;
  QDockWidget* previewDock_ = nullptr;
  QLabel* statusInfo_ = nullptr;
  QLabel* statusProgress_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QLabel* statusLink_ = nullptr;
  QMenu* appMenu_ = nullptr;
  QMenu* themeMenu_ = nullptr;
  QHash<int, QAction*> actions_;
  QHash<int, int> pictograms_;
  class QToolButton* themeButton_ = nullptr;
  int theme_ = -1;
  bool closeAfterRun_ = false;
};

}  // namespace Kvx
