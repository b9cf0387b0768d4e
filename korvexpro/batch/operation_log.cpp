#include "batch/operation_log.h"

#include <cstdio>
#include <ctime>
#include <memory>

#include "batch/batch_view.h"
#include "settings/settings.h"
#include "vordex/text_encoding.h"

namespace Kvx {

namespace {

bool LogLevelShowsMessages() {
  const std::int32_t level = AppSettings().LogLevel;
  return level >= 0 && level <= 3;
}

std::string LocalTimeText(std::time_t now) {
  std::tm local{};
  char buffer[32] = {};
  if (localtime_r(&now, &local) == nullptr) return {};
  const std::size_t length = std::strftime(buffer, sizeof buffer, kOperationLogTimeFormat, &local);
  return std::string(buffer, length);
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void OperationLog::Add(std::string_view message) {
  if (!LogLevelShowsMessages()) return;
  std::string text;
  text.reserve(message.size() + 1);
  text += '>';
  text += message;
  Append(std::move(text));
}

void OperationLog::AddLine(std::string_view line) {
  if (!LogLevelShowsMessages()) return;
  Append(std::string(line));
}

void OperationLog::Append(std::string text) {
  // The text of a second is made once: a batch adds many rows a second.
  const std::time_t now = std::time(nullptr);
  if (now != lastTime_ || lastTimeText_.empty()) {
    lastTime_ = now;
    lastTimeText_ = LocalTimeText(now);
  }
  entries_.push_back({lastTimeText_, std::move(text)});
  if (view_ != nullptr) view_->OperationLogAdded(entries_.back());
}

void OperationLog::Clear() {
  entries_.clear();
  if (view_ != nullptr) view_->OperationLogCleared();
}

OperationLog::SaveResult OperationLog::Save(const std::filesystem::path& file) const {
  std::string text;
  for (const OperationLogEntry& entry : entries_) {
    text += entry.text;
    // Messages are rows of the pane; in the file each gets a line of its own.
    if (entry.text.empty() || entry.text.back() != '\n') text += '\n';
  }
  return WriteGbkText(file, text);
}

OperationLog::SaveResult WriteGbkText(const std::filesystem::path& file, std::string_view utf8) {
  MapGis::GbkCodec codec;
  std::string gbk;
  gbk.reserve(utf8.size() + utf8.size() / 16);
  // Convert line by line so every "\n" becomes CR LF.
  std::size_t start = 0;
  while (start < utf8.size()) {
    std::size_t end = utf8.find('\n', start);
    const bool hasBreak = end != std::string_view::npos;
    if (!hasBreak) end = utf8.size();
    gbk += codec.FromUtf8(utf8.substr(start, end - start));
    if (hasBreak) gbk += "\r\n";
    start = end + 1;
  }

  OperationLog::SaveResult result;
  std::unique_ptr<std::FILE, FileCloser> out(std::fopen(file.c_str(), "wb"));
  if (!out) {
    result.error = "cannot create " + file.string();
    return result;
  }
  const bool written = gbk.empty() || std::fwrite(gbk.data(), 1, gbk.size(), out.get()) == gbk.size();
  const bool closed = std::fclose(out.release()) == 0;
  if (!written || !closed) {
    result.error = "cannot write " + file.string();
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace Kvx
