#pragma once

// How the engine talks to the person running it. The engine never prints, logs to the terminal or
// opens a dialog itself: it calls a Notifier, and the command line and the GUI each supply their own
// (stderr and the operation log on the command line, message boxes, the log pane and the progress
// bar in the GUI). The base class does nothing, so code that has no one to tell can pass
// SilentNotifier().

#include <cstdint>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>

namespace Kvx {

// Where a trace was sent from: std::source_location where the standard library has it; a
// compiler whose library lacks it (clang 14 with libstdc++ 12, the fuzz build) gets the same
// interface from the compiler's own builtins.
#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
class SourceLocation {
 public:
  static constexpr SourceLocation current(const char* file = __builtin_FILE(), const char* function = __builtin_FUNCTION(),
                                          std::uint_least32_t line = __builtin_LINE()) noexcept {
    SourceLocation where;
    where.file_ = file;
    where.function_ = function;
    where.line_ = line;
    return where;
  }
  constexpr const char* file_name() const noexcept { return file_; }
  constexpr const char* function_name() const noexcept { return function_; }
  constexpr std::uint_least32_t line() const noexcept { return line_; }
  constexpr std::uint_least32_t column() const noexcept { return 0; }

 private:
  const char* file_ = "";
  const char* function_ = "";
  std::uint_least32_t line_ = 0;
};
#endif

enum class MessageIcon {
  Information,
  Warning,
  Error,
};

// The caption of messages about a problem ("attention").
inline constexpr std::string_view kAttentionCaption = "注意";

// Trace messages whose level is above this one reach the operation log; the others are dropped.
inline constexpr int kTraceQuietLevel = 1;

class Notifier {
 public:
  virtual ~Notifier() = default;

  // A message for the user (UTF-8): a message box in the GUI; on the command line the text goes to
  // stderr. Only acknowledged, never answered.
  virtual void Message(std::string_view caption, std::string_view text, MessageIcon icon) {
    (void)caption, (void)text, (void)icon;
  }

  // A diagnostic trace message (UTF-8) at `level`; higher levels are more important. Front ends add
  // TraceLogLine(level, text) to their operation log when it gives a line. `where` names the code
  // that sent it, for a front end that keeps a detailed diagnostic file.
  virtual void Trace(int level, std::string_view text, const SourceLocation& where) {
    (void)level, (void)text, (void)where;
  }

  // Progress of the running conversion: `done` of `total` steps (total 0: not known).
  virtual void Progress(std::int64_t done, std::int64_t total) { (void)done, (void)total; }
};

// A notifier that tells no one.
inline Notifier& SilentNotifier() {
  static Notifier silent;  // stateless
  return silent;
}

// The operation-log line of a trace message: ">" followed by the text for levels above
// kTraceQuietLevel, nothing for the others.
inline std::optional<std::string> TraceLogLine(int level, std::string_view text) {
  if (level <= kTraceQuietLevel) return std::nullopt;
  std::string line;
  line.reserve(text.size() + 1);
  line += '>';
  line += text;
  return line;
}

}  // namespace Kvx
