#pragma once

// What the file list, the folder search and the batch driver tell the person running them, and
// what they ask. The GUI's main window implements it with its status bar, message boxes, list
// repaints and the Escape key; the command line with stderr, a progress bar and Ctrl-C. Every
// operation has a default that does nothing (or gives the default answer), so a caller without a
// front end can pass a plain BatchView.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "styles/notifier.h"

namespace Kvx {

class FileList;
struct RowRef;
struct OperationLogEntry;
struct BatchSummary;

class BatchView : public Notifier {
 public:
  // ---- Status bar ----
  // The progress text ("进度：[3/10]"), the information text, and the progress bar (0..100).
  virtual void StatusProgressText(std::string_view text) { (void)text; }
  virtual void StatusInfoText(std::string_view text) { (void)text; }
  virtual void StatusProgressBar(int percent) { (void)percent; }
  // Conversions report their progress through Notifier::Progress; by default it moves the bar.
  void Progress(std::int64_t done, std::int64_t total) override {
    StatusProgressBar(total > 0 ? static_cast<int>(100 * done / total) : 0);
  }

  // ---- Questions ----
  // Between two steps of a long operation: keeps the front end alive and tells whether the user
  // asked to stop (the Escape key, Ctrl-C) since the last call.
  virtual bool PollCancel() { return false; }
  // A yes/no question. A front end that cannot ask takes `defaultAnswer`.
  virtual bool Ask(std::string_view caption, std::string_view text, bool defaultAnswer) {
    (void)caption, (void)text;
    return defaultAnswer;
  }

  // ---- The list ----
  // A row was added; the rows changed in a way that needs a full redraw.
  virtual void RowAdded(const FileList& list, const RowRef& row) { (void)list, (void)row; }
  virtual void ListChanged(const FileList& list) { (void)list; }
  // The batch starts converting a row (scroll it into view), and has written its outcome.
  virtual void RowStarted(const FileList& list, const RowRef& row) { (void)list, (void)row; }
  virtual void RowFinished(const FileList& list, const RowRef& row, std::int32_t result) {
    (void)list, (void)row, (void)result;
  }
  // Just before RowFinished: the output names (full paths without extension) whose files the row
  // kept, in the order they were written (empty when it kept none), and the GeoPackage that holds
  // them as tables named after each name's file name (empty: they are shapefile sets).
  virtual void RowOutputs(const FileList& list, const RowRef& row, const std::vector<std::string>& names,
                          const std::string& geoPackage) {
    (void)list, (void)row, (void)names, (void)geoPackage;
  }

  // ---- Panes ----
  virtual void OperationLogAdded(const OperationLogEntry& entry) { (void)entry; }
  virtual void OperationLogCleared() {}
  // The conversion-information pane shows `text` (empty: cleared).
  virtual void ShowConversionInfo(std::string_view text) { (void)text; }

  // The end of a batch: by default the summary as a message box (caption "转换完成").
  virtual void RunFinished(const BatchSummary& summary);
};

}  // namespace Kvx
