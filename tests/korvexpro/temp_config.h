#pragma once

#include <grp.h>
#include <unistd.h>

#include <cstdlib>

// Helpers for tests that touch the settings file: a private temporary folder, environment variables
// that are put back afterwards, and whole-file reads and writes.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace KvxTest {

// Sets (or, with nullopt, unsets) one environment variable and restores it when it goes.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A new folder under the temporary folder, removed with everything in it at the end. Its name has
// a space and Chinese letters, so every path built on it has them too.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kvx settings 设置.XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    if (path_.empty()) return;
    std::error_code ec;
    // Folders made read-only by a test must be writable again before they can be emptied.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0700);
    }
    ::chmod(path_.c_str(), 0700);
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Points XDG_CONFIG_HOME and XDG_DATA_HOME into a temporary folder for one test.
struct TempConfigHome {
  ScratchDir dir;
  ScopedEnv config{"XDG_CONFIG_HOME", (dir.Path() / "config").string()};
  ScopedEnv data{"XDG_DATA_HOME", (dir.Path() / "data").string()};

  std::filesystem::path ConfigFile() const { return dir.Path() / "config" / "Halvard" / "KorvexPro.ini"; }
};

inline std::optional<std::string> ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  ASSERT_TRUE(out.good()) << path;
}

// Permission bits do not hold the superuser back, so tests that rely on them skip as root.
inline bool RunningAsRoot() { return ::geteuid() == 0; }

// Permission bits do not bind the superuser, and CI runs as root: there `body` runs in a child
// process that has become the unprivileged user "nobody" (65534), and the child's failed
// expectations make the test fail. Otherwise `body` runs as it is.
template <typename Body>
void WithPermissionsBinding(Body body) {
  if (!RunningAsRoot()) {
    body();
    return;
  }
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(
      {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) std::_Exit(3);
        body();
        std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

// The lines of a text without their "\n" (a last line without one counts too).
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace KvxTest
