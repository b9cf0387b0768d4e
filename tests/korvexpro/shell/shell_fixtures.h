#pragma once

// Helpers of the command-line tests: a small project holding every layer kind, the convert command
// run in the test process (settings put back afterwards), its stdout split into rows, and the
// program itself started as a child process.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings.h"
#include "temp_config.h"
#include "shell/convert_command.h"
#include "support/layer_builder.h"
#include "support/project_builder.h"
#include "vordex/layer_reader.h"
#include "vordex/text_encoding.h"

extern char** environ;

namespace KvxShellTest {

namespace fs = std::filesystem;

inline std::string G(const std::string& utf8) { return MapGis::Utf8ToGbk(utf8); }

// ---- Layers -------------------------------------------------------------------------------------

// Two roads with a name and a grade.
inline KvxTest::LayerBuilder RoadsLayer() {
  KvxTest::LayerBuilder b(0);
  auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
  a.AddField(G("名称"), MapGis::FieldString, 12);
  a.AddField(G("等级"), MapGis::FieldShort);
  b.AddLine({{0, 0}, {10, 10}, {20, 10}});
  b.AddLine({{0, 5}, {15, 5}});
  for (int i = 0; i < 2; ++i) {
    b.Line(i).color = 3;
    b.Line(i).width = 0.5f;
    b.Line(i).lineType = 1;
    a.SetText(i, 0, G(i == 0 ? "青石路" : "沿河路"));
    a.SetValue<std::int16_t>(i, 1, static_cast<std::int16_t>(i + 1));
  }
  return b;
}

// Two symbol points and two annotations.
inline KvxTest::LayerBuilder SitesLayer() {
  KvxTest::LayerBuilder b(1);
  auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
  a.AddField(G("编号"), MapGis::FieldLong);
  for (int i = 0; i < 2; ++i) {
    const int n = b.AddPoint(10.0 * i, 5.0);
    b.Point(n).symbolNo = 12;
    b.Point(n).height = 4.0f;
    b.Point(n).width = 4.0f;
    b.Point(n).color = 6;
  }
  for (int i = 0; i < 2; ++i) {
    const int n = b.AddPoint(10.0 * i, 20.0, G(i == 0 ? "青龙山" : "北山水库"));
    b.Point(n).textHeight = 5.0f;
    b.Point(n).textWidth = 5.0f;
    b.Point(n).chineseFont = 1;
    b.Point(n).color = 1;
  }
  for (int i = 0; i < 4; ++i) a.SetValue<std::int32_t>(i, 0, 100 + i);
  return b;
}

// A square region with a square hole filled by a second region; arcs with their topology.
inline KvxTest::LayerBuilder ZonesLayer() {
  KvxTest::LayerBuilder b(2);
  b.AddLine({{0, 0}, {0, 40}, {40, 40}, {40, 0}, {0, 0}});
  b.AddLine({{10, 10}, {20, 10}, {20, 20}, {10, 20}, {10, 10}});
  MapGis::MAPGIS_Topology outer{};
  outer.leftRegion = 0;
  outer.rightRegion = 1;
  b.SetTopology(1, outer);
  MapGis::MAPGIS_Topology inner{};
  inner.leftRegion = 2;
  inner.rightRegion = 1;
  b.SetTopology(2, inner);
  b.AddRegion({1, 0, 2});
  b.AddRegion({-2});
  auto& a = b.Attributes(KvxTest::EntryRegionAttr);
  a.AddField(G("代号"), MapGis::FieldString, 8);
  for (int i = 0; i < 2; ++i) {
    b.Region(i).fillColor = 31 + i;
    a.SetText(i, 0, i == 0 ? "J3" : "Q4");
  }
  return b;
}

// Two pipes and three nodes drawn as symbols.
inline KvxTest::LayerBuilder PipesLayer() {
  KvxTest::LayerBuilder b(4);
  for (int i = 0; i < 3; ++i) {
    std::array<std::uint8_t, 94> block{};
    const std::size_t base = offsetof(MapGis::MAPGIS_PntInfo, pointType);
    block[0] = 1;  // a symbol
    const std::int32_t symbolNo = 5;
    std::memcpy(block.data() + offsetof(MapGis::MAPGIS_PntInfo, symbolNo) - base, &symbolNo, sizeof symbolNo);
    b.AddNode(10.0 * i, 0.0, block);
  }
  b.AddLine({{0, 0}, {10, 0}});
  b.AddLine({{10, 0}, {20, 0}});
  auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
  a.AddField(G("管径"), MapGis::FieldShort);
  for (int i = 0; i < 2; ++i) a.SetValue<std::int16_t>(i, 0, static_cast<std::int16_t>(100 * (i + 1)));
  return b;
}

// Three boreholes.
inline KvxTest::LayerBuilder WellsTable() {
  KvxTest::LayerBuilder b(7);
  auto& a = b.Attributes(KvxTest::EntryPrimary);
  a.AddField(G("井号"), MapGis::FieldString, 8);
  a.AddField(G("井深"), MapGis::FieldDouble, -1, 10, 2);
  a.SetRecordCount(3);
  for (int i = 0; i < 3; ++i) {
    a.SetText(i, 0, "ZK0" + std::to_string(i + 1));
    a.SetValue<double>(i, 1, 50.0 + i);
  }
  return b;
}

// A line layer without a line: its conversion writes an empty result.
inline KvxTest::LayerBuilder EmptyLines() { return KvxTest::LayerBuilder(0); }

inline void Write(KvxTest::LayerBuilder layer, const fs::path& file) {
  fs::create_directories(file.parent_path());
  ASSERT_TRUE(layer.WriteTo(file)) << file;
}

inline void WriteBytes(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  ASSERT_TRUE(KvxTest::WriteFile(file, std::span<const std::uint8_t>(
                                           reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())))
      << file;
}

// "map.mpj" in `dir` listing the given layer files (written beside it by the caller).
inline void WriteProject(const fs::path& file, const std::vector<std::string>& layers) {
  KvxTest::ProjectFile p;
  for (const std::string& name : layers) {
    std::uint8_t type = 7;
    const std::string ext = fs::path(name).extension().string();
    if (ext == ".wl") type = 0;
    if (ext == ".wt") type = 1;
    if (ext == ".wp") type = 2;
    if (ext == ".wn") type = 11;
    p.items.push_back({type, name, "", 0.0, 0.0});
  }
  const KvxTest::Bytes bytes = p.Build();
  fs::create_directories(file.parent_path());
  ASSERT_TRUE(KvxTest::WriteFile(file, std::span<const std::uint8_t>(bytes.data(), bytes.size()))) << file;
}

// The layer files of every kind in `dir`, and "map.mpj" listing them in this order.
inline const std::vector<std::string> kAllLayers = {"roads.wl", "sites.wt", "zones.wp", "pipes.wn", "wells.wb"};

inline void WriteFullProject(const fs::path& dir) {
  fs::create_directories(dir);
  Write(RoadsLayer(), dir / "roads.wl");
  Write(SitesLayer(), dir / "sites.wt");
  Write(ZonesLayer(), dir / "zones.wp");
  Write(PipesLayer(), dir / "pipes.wn");
  Write(WellsTable(), dir / "wells.wb");
  WriteProject(dir / "map.mpj", kAllLayers);
}

// ---- Output -------------------------------------------------------------------------------------

struct Row {
  std::string path, result, content, name;
  bool operator==(const Row&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Row& r) {
  return os << "{" << r.path << " | " << r.result << " | " << r.content << " | " << r.name << "}";
}

using KvxTest::SplitLines;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;

  // The row lines of stdout (all but the summary line).
  std::vector<Row> Rows() const {
    std::vector<Row> rows;
    for (const std::string& line : SplitLines(out)) {
      if (line.rfind("转换完成：", 0) == 0) continue;
      Row r;
      std::vector<std::string> cells;
      std::size_t start = 0;
      for (;;) {
        const std::size_t tab = line.find('\t', start);
        cells.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
      }
      EXPECT_EQ(cells.size(), 4u) << line;
      cells.resize(4);
      rows.push_back({cells[0], cells[1], cells[2], cells[3]});
    }
    return rows;
  }
  // The last line of stdout.
  std::string Summary() const {
    const std::vector<std::string> lines = SplitLines(out);
    return lines.empty() ? std::string() : lines.back();
  }
};

inline std::string SummaryText(int ok, int empty, int skipped, int failed) {
  return "转换完成：" + std::to_string(ok) + "个成功," + std::to_string(empty) + "个空文件," + std::to_string(skipped) +
         "个跳过," + std::to_string(failed) + "个失败";
}

// Runs the command in this process; the process-wide settings are put back afterwards.
inline Outcome RunInProcess(Kvx::ConvertOptions options, const fs::path& configFile) {
  const Kvx::Settings saved = Kvx::AppSettings();
  std::ostringstream out, err;
  Outcome o;
  o.status = Kvx::RunConvert(options, configFile, out, err, false);
  o.out = out.str();
  o.err = err.str();
  Kvx::AppSettings() = saved;
  return o;
}

inline bool Exists(const std::string& file) {
  std::error_code ec;
  return fs::exists(file, ec);
}

// ---- The program as a child process -------------------------------------------------------------

class Child {
 public:
  // Starts the program with `args`; stdout comes through a pipe, stderr goes into `errFile`.
  Child(const std::vector<std::string>& args, const fs::path& errFile) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all = {KVX_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The child starts with SIGINT at its default action, whatever the test runner has.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    if (::posix_spawn(&pid_, KVX_PROGRAM, &actions, &attr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out_ = fds[0];
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Reads stdout until it holds `lines` complete lines, EOF, or the time is up. True when the
  // lines arrived.
  bool ReadLines(std::size_t lines, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) < lines) {
      if (!ReadSome(end)) return false;
    }
    return true;
  }

  // Reads stdout to its end and waits for the exit; the exit status, or -1 when the child did not
  // end in time (it is then killed) or ended through a signal.
  int Finish(std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (ReadSome(end)) {
    }
    for (;;) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() > end) return -1;
      ::usleep(10000);
    }
  }

  std::string out;

 private:
  // False at EOF or when the time is up.
  bool ReadSome(std::chrono::steady_clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[4096];
    const ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    out.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
};

inline std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the program to its end.
inline Outcome RunProgram(const std::vector<std::string>& args, const fs::path& scratch) {
  const fs::path errFile = scratch / "stderr.txt";
  Child child(args, errFile);
  Outcome o;
  EXPECT_TRUE(child.Started());
  o.status = child.Finish();
  o.out = child.out;
  o.err = ReadAll(errFile);
  return o;
}

}  // namespace KvxShellTest
