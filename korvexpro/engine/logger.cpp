#include "engine/logger.h"

#include <string>
#include <vector>

namespace Kvx {

CLogger::CLogger(const std::filesystem::path& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
  WriteString(kLogHeader);
}

void CLogger::WriteString(std::string_view text) {
  if (!file_ || text.empty()) return;
  const std::string gbk = codec_.FromUtf8(text);
  std::string out;
  out.reserve(gbk.size() + 8);
  for (char c : gbk) {
    if (c == '\n') out += '\r';
    out += c;
  }
  std::fwrite(out.data(), 1, out.size(), file_.get());
}

void CLogger::WriteFormat(const char* format, ...) {
  if (!file_ || !format) return;
  char small[512];
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    va_end(again);
    WriteString(std::string_view(small, static_cast<std::size_t>(n)));
    return;
  }
  std::vector<char> big(static_cast<std::size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), format, again);
  va_end(again);
  WriteString(std::string_view(big.data(), static_cast<std::size_t>(n)));
}

void CLogger::Flush() {
  if (file_) std::fflush(file_.get());
}

std::filesystem::path LogPathFor(const std::filesystem::path& outputBase) {
  return std::filesystem::path(outputBase.native() + ".log");
}

}  // namespace Kvx
