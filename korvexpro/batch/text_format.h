#pragma once

// printf-style filling of the program's message formats ("进度：[%d/%d]", "正在转换%s"). Only
// integers and texts are passed, so the result does not depend on the process locale.

#include <cstdarg>
#include <cstdio>
#include <string>

namespace Kvx {

inline std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

inline std::string FormatText(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (size > 0) {
    text.resize(static_cast<std::size_t>(size));
    std::vsnprintf(text.data(), text.size() + 1, format, args);
  }
  va_end(args);
  return text;
}

}  // namespace Kvx
