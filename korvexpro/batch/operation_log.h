#pragma once

// The operation log: one row per message of the file list, the folder search and the batch
// driver, each with the local time it was added. It is what the GUI's "操作日志" pane shows and
// what the command line prints on stderr, and it can be saved as a GBK text file.

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace Kvx {

class BatchView;

struct OperationLogEntry {
  std::string time;  // "%Y/%m/%d %H:%M:%S", local time
  std::string text;  // the message as the pane shows it: ">" and the message (UTF-8)
};

// The format of the time column.
inline constexpr const char* kOperationLogTimeFormat = "%Y/%m/%d %H:%M:%S";

class OperationLog {
 public:
  explicit OperationLog(BatchView* view = nullptr) : view_(view) {}
  void SetView(BatchView* view) { view_ = view; }

  // Adds ">" + message, while the setting LogLevel is 0 to 3; other levels add nothing.
  void Add(std::string_view message);
  // Adds a line that already carries its ">" (a diagnostic trace line, see TraceLogLine), with
  // the same LogLevel rule.
  void AddLine(std::string_view line);
  // Empties the log.
  void Clear();

  const std::vector<OperationLogEntry>& Entries() const { return entries_; }

  struct SaveResult {
    bool ok = false;
    std::string error;  // why the file could not be written
  };
  // Writes every row's message (with its ">") into `file`, created or truncated: GBK, each line
  // ended by CR LF. A message that already ends in a line break keeps that one break.
  SaveResult Save(const std::filesystem::path& file) const;

 private:
  void Append(std::string text);
  BatchView* view_;
  std::vector<OperationLogEntry> entries_;
  std::time_t lastTime_ = 0;
  std::string lastTimeText_;
};

// Message shown after the log was saved, and its caption.
inline constexpr std::string_view kLogSavedText = "转换日志信息已经正确输出！";
inline constexpr std::string_view kSaveDoneCaption = "输出完成";

// Writes the UTF-8 text as GBK with CR LF line ends into `file` (created or truncated); every "\n"
// of the text becomes CR LF. Used by the log and the list export.
OperationLog::SaveResult WriteGbkText(const std::filesystem::path& file, std::string_view utf8);

}  // namespace Kvx
