#pragma once

// Helpers of the batch tests: a view that records what the batch tells and answers its questions,
// small layer and project files that convert, and the process-wide settings put back after each
// test.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "batch/batch_driver.h"
#include "batch/batch_view.h"
#include "batch/file_list.h"
#include "batch/operation_log.h"
#include "settings/settings.h"
#include "support/layer_builder.h"
#include "support/project_builder.h"
#include "vordex/text_encoding.h"

namespace KvxBatchTest {

namespace fs = std::filesystem;

// Puts the process-wide settings back when it goes, and starts from the values the batch tests
// rely on: marks as shipped, messages into the operation log, empty outputs deleted.
class ScopedAppSettings {
 public:
  ScopedAppSettings() : saved_(Kvx::AppSettings()) {
    Kvx::Settings& s = Kvx::AppSettings();
    s.LogLevel = 0;
    s.MaxFiles = 10000;
    s.ExportEmptyFile = 0;
    s.ExportLayerIndex = 0;
    s.ExportProjection = 0;
    s.SymbolType = 0;
    s.CodePage = 0;
    s.OutPath.clear();
    s.Mpjfix = "M";
    s.Wbfix = "B";
    s.Pntfix = "T";
    s.Linfix = "L";
    s.Regfix = "P";
    s.Netfix = "N";
    s.Annofix = "A";
    s.Arcfix = "C";
    s.Nodefix = "D";
  }
  ~ScopedAppSettings() { Kvx::AppSettings() = saved_; }
  ScopedAppSettings(const ScopedAppSettings&) = delete;
  ScopedAppSettings& operator=(const ScopedAppSettings&) = delete;

 private:
  Kvx::Settings saved_;
};

// Records what it is told; PollCancel says "stop" on the polls listed in cancelOn (1-based), or on
// every poll with cancelAlways; Ask answers `answer`.
class RecordingView : public Kvx::BatchView {
 public:
  struct Told {
    std::string caption;
    std::string text;
  };

  void StatusProgressText(std::string_view text) override { progressTexts.emplace_back(text); }
  void StatusInfoText(std::string_view text) override { infoTexts.emplace_back(text); }
  bool PollCancel() override {
    ++polls;
    if (cancelAlways) return true;
    for (int p : cancelOn) {
      if (p == polls) return true;
    }
    return false;
  }
  bool Ask(std::string_view caption, std::string_view text, bool defaultAnswer) override {
    (void)defaultAnswer;
    questions.push_back({std::string(caption), std::string(text)});
    return answer;
  }
  void Message(std::string_view caption, std::string_view text, Kvx::MessageIcon icon) override {
    (void)icon;
    messages.push_back({std::string(caption), std::string(text)});
  }
  void RowStarted(const Kvx::FileList& list, const Kvx::RowRef& row) override {
    (void)list;
    started.push_back(row);
    if (onRowStarted) onRowStarted(started.size());
  }
  void RowFinished(const Kvx::FileList& list, const Kvx::RowRef& row, std::int32_t result) override {
    (void)list;
    finished.emplace_back(row, result);
  }
  void RunFinished(const Kvx::BatchSummary& summary) override { summaries.push_back(summary); }

  int CountMessages(std::string_view text) const {
    int n = 0;
    for (const Told& m : messages) n += m.text == text ? 1 : 0;
    return n;
  }

  std::vector<std::string> progressTexts;
  std::vector<std::string> infoTexts;
  std::vector<Told> questions;
  std::vector<Told> messages;
  std::vector<Kvx::RowRef> started;
  std::vector<std::pair<Kvx::RowRef, std::int32_t>> finished;
  std::vector<Kvx::BatchSummary> summaries;
  std::vector<int> cancelOn;
  // Called with the number of rows started so far, as each starts.
  std::function<void(std::size_t)> onRowStarted;
  bool cancelAlways = false;
  bool answer = false;
  int polls = 0;
};

// The messages of the log without their time.
inline std::vector<std::string> LogTexts(const Kvx::OperationLog& log) {
  std::vector<std::string> out;
  for (const Kvx::OperationLogEntry& e : log.Entries()) out.push_back(e.text);
  return out;
}

inline bool LogHas(const Kvx::OperationLog& log, std::string_view text) {
  for (const Kvx::OperationLogEntry& e : log.Entries()) {
    if (e.text == text) return true;
  }
  return false;
}

inline bool LogContains(const Kvx::OperationLog& log, std::string_view part) {
  for (const Kvx::OperationLogEntry& e : log.Entries()) {
    if (e.text.find(part) != std::string::npos) return true;
  }
  return false;
}

inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

inline fs::path With(const std::string& base, std::string_view extension) {
  return fs::path(base + std::string(extension));
}

// ---- Layers that convert ----

// Kind of LayerBuilder: 0 line, 1 point, 2 region, 4 network, 7 table.
enum BuilderKind : int { kLine = 0, kPoint = 1, kRegion = 2, kNetwork = 4, kTable = 7 };

// Two symbol points; with `annotations`, also two text points. `symbols` false: text points only.
inline bool WritePoints(const fs::path& path, bool symbols = true, bool annotations = true) {
  KvxTest::LayerBuilder b(kPoint);
  if (symbols) {
    b.AddPoint(1, 1);
    b.AddPoint(2, 2);
  }
  if (annotations) {
    b.AddPoint(3, 3, "A1");
    b.AddPoint(4, 4, MapGis::Utf8ToGbk("注记"));
  }
  return b.WriteTo(path);
}

inline bool WriteLines(const fs::path& path, int count = 2) {
  KvxTest::LayerBuilder b(kLine);
  for (int i = 0; i < count; ++i) b.AddLine({{i * 1.0, 0.0}, {i * 1.0, 1.0}});
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(count);
  return b.WriteTo(path);
}

inline bool WriteRegions(const fs::path& path, int count = 1) { return KvxTest::UnitSquares(count).WriteTo(path); }

inline bool WriteNetwork(const fs::path& path) {
  KvxTest::LayerBuilder b(kNetwork);
  b.AddLine({{0, 0}, {1, 1}});
  b.AddNode(0, 0, {});
  b.AddNode(1, 1, {});
  b.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(1);
  b.Attributes(KvxTest::EntryNodeAttr).EnsureRecords(2);
  return b.WriteTo(path);
}

inline bool WriteTable(const fs::path& path, int rows = 2) {
  KvxTest::LayerBuilder b(kTable);
  auto& a = b.Attributes(KvxTest::EntryPrimary);
  a.AddField("ID", 3);  // long
  a.SetRecordCount(rows);
  for (int i = 0; i < rows; ++i) a.SetValue<std::int32_t>(i, 0, i + 1);
  return b.WriteTo(path);
}

// A layer of the kind without any feature (a table without records).
inline bool WriteEmpty(const fs::path& path, int kind) {
  if (kind == kTable) return WriteTable(path, 0);
  KvxTest::LayerBuilder b(kind);
  return b.WriteTo(path);
}

// A project listing `names` (UTF-8, stored as GBK) as items of stored type `type`.
inline bool WriteProject(const fs::path& path, const std::vector<std::pair<std::uint8_t, std::string>>& items) {
  KvxTest::ProjectFile p;
  for (const auto& [type, name] : items) p.items.push_back({type, MapGis::Utf8ToGbk(name), "", 0.0, 0.0});
  return KvxTest::WriteBytes(path, p.Build());
}

}  // namespace KvxBatchTest
