#pragma once

// The main view: the list of files waiting to be converted, as a tree with six columns, and the
// batch that runs over it. The view mirrors the batch layer's FileList in its tree and is the
// BatchView of the list, the folder search and the batch driver: their status texts, questions,
// rows, log lines and outcomes come here and go on to the main window as signals. Between rows
// and inside long conversions it keeps the window alive (repaints, the progress bar, Escape).
//
// What the view asks of the user outside its own window (message boxes, file dialogs, the folder
// chooser, the wizard, the file browser) goes through ShellPrompts, so tests answer it.

#include <QStringList>
#include <QTreeWidget>
#include <QUrl>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "batch/batch_driver.h"
#include "batch/batch_view.h"
#include "batch/file_list.h"
#include "batch/operation_log.h"
#include "settings/settings.h"
#include "styles/colour_models.h"
#include "wendle/prompter.h"

class QElapsedTimer;

namespace Kvx {

class ShellPrompts : public Wendle::Prompter {
 public:
  // A multi-selection open-file dialog for existing files; the paths in the dialog's order.
  virtual QStringList OpenFiles(QWidget* parent, const QString& caption, const QString& folder,
                                const QString& filter) = 0;
  // A save-file dialog; empty when cancelled. `suffix` is added to a name without one.
  virtual QString SaveFile(QWidget* parent, const QString& caption, const QString& folder, const QString& filter,
                           const QString& suffix) = 0;
  // The multi-folder chooser; the folders in the user's order, empty when cancelled.
  virtual QStringList ChooseFolders(QWidget* parent, const QString& start);
  // The wizard of a batch command over `settings`; true when the user confirmed with "转换".
  virtual bool RunWizard(QWidget* parent, const BatchCommand& command, Settings& settings);
  // Shows `file` in the system's file browser.
  virtual void Reveal(const QString& file) = 0;
  // Opens a web page in the browser; false when none could be opened.
  virtual bool OpenUrl(const QUrl& url) = 0;
};

// Real dialogs and programs.
class QtShellPrompts : public ShellPrompts {
 public:
  void Message(QWidget* parent, Wendle::MessageIcon icon, const QString& caption, const QString& text) override;
  bool Question(QWidget* parent, const QString& caption, const QString& text) override;
  QString PickFolder(QWidget* parent, const QString& caption, const QString& start) override;
  QStringList OpenFiles(QWidget* parent, const QString& caption, const QString& folder, const QString& filter) override;
  QString SaveFile(QWidget* parent, const QString& caption, const QString& folder, const QString& filter,
                   const QString& suffix) override;
  void Reveal(const QString& file) override;
  bool OpenUrl(const QUrl& url) override;

 private:
  Wendle::QtPrompter boxes_;
};

// The filter of the add-files dialog, in Qt's form: projects, all layers, then each layer kind.
// Each pattern is given in lower and upper case, since the files of MapGIS archives are often
// named in capitals and the dialogs here compare names with case.
QString OpenFileFilter();

// Longest path a drop may carry; longer ones are left out.
inline constexpr int kMaxDroppedPath = 2600;

class CKorvexProView : public QTreeWidget, public BatchView {
  Q_OBJECT

 public:
  CKorvexProView(Settings& settings, ShellPrompts& prompts, QWidget* parent = nullptr);
  ~CKorvexProView() override;

  FileList& List() { return list_; }
  const FileList& List() const { return list_; }
  OperationLog& Log() { return log_; }
  BatchDriver& Driver() { return driver_; }

  // ---- Filling the list ----
  int AddLayerFile(const std::filesystem::path& path, std::optional<std::size_t> parent = std::nullopt);
  int AddProjectFile(const std::filesystem::path& path);
  // Each path in order: a project to AddProjectFile, anything else to AddLayerFile (a path that is
  // neither adds nothing); then the queue status.
  void AddPaths(const QStringList& paths);
  // Searches the folders in order for projects, sub-folders included, until one search is
  // stopped (Escape confirmed, or MaxFiles reached). True when a search was stopped.
  bool SearchFolders(const QStringList& folders);

  // ---- Commands ----
  void OnFileOpen();    // 添加文件
  void OnFileFolder();  // 选择目录
  void OnSelectAll();
  void OnSelectNone();
  void OnInvertSelection();
  void OnRemoveSelected();
  void OnClearAll();  // 清空文件: the list, the log pane and the information pane
  void OnExpandAll();
  void OnCollapseAll();
  void OnOpenLocation();  // 打开源文件位置
  void OnExportList();    // 输出列表
  void OnSaveLog();       // 另存为
  void OnClearLog();      // 清除
  // A conversion command: its SymbolType, the empty-list message or its wizard, then the batch.
  // Returns the batch's summary (started false when it did not run).
  BatchSummary RunCommand(const BatchCommand& command);

  // True while a search or a batch runs.
  bool Busy() const { return busy_; }
  // Stops the running search or batch after its current row, without asking (the window is
  // closing).
  void RequestStop() { stopRequested_ = true; }

  // ---- The tree ----
  QTreeWidgetItem* ItemOf(const RowRef& ref) const;
  std::optional<RowRef> RefOf(const QTreeWidgetItem* item) const;
  // The outputs that the last batch kept for a row, each its name without extension, followed by
  // "\n" and the GeoPackage holding it when it is a table; a project row gives its own and those of
  // its layer rows.
  QStringList OutputsOf(const RowRef& ref) const;
  // Draws the rows' result colours again (after a theme change).
  void RefreshColours() { Rebuild(); }
  // The context menu "编辑" (built once; its actions are the main window's).
  void SetContextActions(const QList<QAction*>& actions);

  // ---- BatchView ----
  void StatusProgressText(std::string_view text) override;
  void StatusInfoText(std::string_view text) override;
  void StatusProgressBar(int percent) override;
  void Progress(std::int64_t done, std::int64_t total) override;
  bool PollCancel() override;
  bool Ask(std::string_view caption, std::string_view text, bool defaultAnswer) override;
  void Message(std::string_view caption, std::string_view text, MessageIcon icon) override;
  void RowAdded(const FileList& list, const RowRef& row) override;
  void ListChanged(const FileList& list) override;
  void RowStarted(const FileList& list, const RowRef& row) override;
  void RowOutputs(const FileList& list, const RowRef& row, const std::vector<std::string>& names,
                  const std::string& geoPackage) override;
  void RowFinished(const FileList& list, const RowRef& row, std::int32_t result) override;
  void OperationLogAdded(const OperationLogEntry& entry) override;
  void OperationLogCleared() override;
  void ShowConversionInfo(std::string_view text) override;
  void RunFinished(const BatchSummary& summary) override;

 Q_SIGNALS:
  void statusInfoChanged(const QString& text);
  void statusProgressChanged(const QString& text);
  void progressBarChanged(int percent);
  void operationLogAdded(const QString& time, const QString& text);
  void operationLogCleared();
  void conversionInfoChanged(const QString& text);
  // The outputs of the row the user selected, as OutputsOf gives them (empty: nothing to preview).
  void previewRequested(const QStringList& bases);
  void busyChanged(bool busy);
  void runFinished(const QString& summary);
  // A row starts converting (tests use it to press keys during a batch).
  void rowStarted(int processed);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class BusyScope;
  void SetBusy(bool busy);
  QTreeWidgetItem* MakeItem(const FileRow& row) const;
  // The item's cells, colours and alignments from the row.
  void Fill(QTreeWidgetItem* item, const FileRow& row) const;
  // Fill for a list that changed as a whole: outputs of rows that were reset go too.
  void Refill(QTreeWidgetItem* item, const FileRow& row) const;
  void Rebuild();
  void SyncSelectionFromTree();
  void CurrentRowChanged();
  void FitPathColumn();
  // Keeps the window alive during a long conversion: at most every few hundredths of a second.
  void PumpEvents();

  Settings& settings_;
  ShellPrompts& prompts_;
  OperationLog log_;
  FileList list_;
  StyleContext styles_;
  BatchDriver driver_;
  QList<QAction*> contextActions_;
  bool busy_ = false;
  bool escapePressed_ = false;
  bool stopRequested_ = false;
  bool syncing_ = false;  // the tree is being set from the list
  std::unique_ptr<QElapsedTimer> sincePump_;
  int rowsStarted_ = 0;
};

}  // namespace Kvx
