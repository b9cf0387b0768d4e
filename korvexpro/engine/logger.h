#pragma once

// The per-conversion log: "<output base>.log", one line per event, each line a severity letter
// (I, W, E, F), two underscores and the message. The program holds its texts as UTF-8; the file is
// written in GBK (code page 936) with CR LF line ends, converted here line by line, so the process
// locale is never touched.

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>

#include "vordex/text_encoding.h"

namespace Kvx {

// The first line of every conversion log.
inline constexpr std::string_view kLogHeader = "==转换信息：I 提示,W 警告,E 错误,F 未知错==\n";

class CLogger {
 public:
  // Creates (or truncates) the file and writes the header line. A file that cannot be created
  // leaves the logger closed: every write is then ignored and IsOpen() says so.
  explicit CLogger(const std::filesystem::path& path);
  ~CLogger() = default;
  CLogger(const CLogger&) = delete;
  CLogger& operator=(const CLogger&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  const std::filesystem::path& Path() const { return path_; }

  // Writes UTF-8 text as GBK, every "\n" as CR LF. Nothing happens when the file is not open.
  void WriteString(std::string_view text);

  // printf-style formatting of one message (UTF-8 format and arguments), then WriteString. Numbers
  // are integers and texts only, so the result does not depend on the locale.
  void WriteFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Pushes what was written to the file.
  void Flush();

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::filesystem::path path_;
  std::unique_ptr<std::FILE, FileCloser> file_;
  MapGis::GbkCodec codec_;
};

// "<output base>.log": the base with ".log" added (an extension-like part of the base stays).
std::filesystem::path LogPathFor(const std::filesystem::path& outputBase);

}  // namespace Kvx
