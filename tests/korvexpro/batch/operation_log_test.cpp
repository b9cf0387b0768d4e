// The operation log: what goes in by LogLevel, and the GBK file it is saved as.

#include "batch/operation_log.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "batch_fixtures.h"
#include "temp_config.h"

namespace {

namespace fs = std::filesystem;
using namespace KvxBatchTest;

class CountingView : public Kvx::BatchView {
 public:
  void OperationLogAdded(const Kvx::OperationLogEntry& entry) override { added.push_back(entry.text); }
  void OperationLogCleared() override { ++cleared; }
  std::vector<std::string> added;
  int cleared = 0;
};

struct LevelCase {
  int level;
  bool shown;
};

class OperationLogLevels : public ::testing::TestWithParam<LevelCase> {};

TEST_P(OperationLogLevels, MessagesOnlyAtLevelsZeroToThree) {
  ScopedAppSettings settings;
  Kvx::AppSettings().LogLevel = GetParam().level;
  CountingView view;
  Kvx::OperationLog log(&view);
  log.Add("转换开始");
  log.AddLine(">I__trace");
  if (GetParam().shown) {
    EXPECT_EQ(LogTexts(log), (std::vector<std::string>{">转换开始", ">I__trace"}));
    EXPECT_EQ(view.added, LogTexts(log));
  } else {
    EXPECT_TRUE(log.Entries().empty());
    EXPECT_TRUE(view.added.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, OperationLogLevels,
                         ::testing::Values(LevelCase{-1, false}, LevelCase{0, true}, LevelCase{1, true},
                                           LevelCase{3, true}, LevelCase{4, false}, LevelCase{5, false}));

TEST(OperationLog, EntriesCarryTheirTime) {
  ScopedAppSettings settings;
  Kvx::OperationLog log;
  log.Add("x");
  ASSERT_EQ(log.Entries().size(), 1u);
  // "%Y/%m/%d %H:%M:%S"
  const std::string& t = log.Entries()[0].time;
  ASSERT_EQ(t.size(), 19u) << t;
  EXPECT_EQ(t[4], '/');
  EXPECT_EQ(t[7], '/');
  EXPECT_EQ(t[10], ' ');
  EXPECT_EQ(t[13], ':');
}

TEST(OperationLog, ClearEmptiesAndTellsTheView) {
  ScopedAppSettings settings;
  CountingView view;
  Kvx::OperationLog log(&view);
  log.Add("a");
  log.Clear();
  EXPECT_TRUE(log.Entries().empty());
  EXPECT_EQ(view.cleared, 1);
}

TEST(OperationLog, SavedAsGbkWithCrLf) {
  ScopedAppSettings settings;
  KvxTest::TempDir dir;
  Kvx::OperationLog log;
  log.Add("====开始转换[/data/道路.wl]\n");
  log.Add("转换成功");
  log.Add("");
  log.AddLine(">I__ascii only");
  log.Add("two\nlines");
  const fs::path file = dir / "操作日志.txt";
  const Kvx::OperationLog::SaveResult r = log.Save(file);
  ASSERT_TRUE(r.ok) << r.error;
  const std::string expected = ">====" + MapGis::Utf8ToGbk("开始转换") + "[/data/" + MapGis::Utf8ToGbk("道路") +
                               ".wl]\r\n>" + MapGis::Utf8ToGbk("转换成功") + "\r\n>\r\n>I__ascii only\r\n>two\r\nlines\r\n";
  EXPECT_EQ(ReadAll(file), expected);
  // "开始" is BF AA CA BC in GBK: a spot check that the file is not UTF-8.
  EXPECT_NE(ReadAll(file).find("\xBF\xAA\xCA\xBC"), std::string::npos);
}

TEST(OperationLog, SaveOverwritesAndEmptyLogGivesEmptyFile) {
  ScopedAppSettings settings;
  KvxTest::TempDir dir;
  const fs::path file = dir / "log.txt";
  WriteAll(file, "old contents that are longer");
  Kvx::OperationLog log;
  ASSERT_TRUE(log.Save(file).ok);
  EXPECT_EQ(ReadAll(file), "");
}

TEST(OperationLog, SaveIntoAMissingFolderFails) {
  ScopedAppSettings settings;
  KvxTest::TempDir dir;
  Kvx::OperationLog log;
  log.Add("x");
  const Kvx::OperationLog::SaveResult r = log.Save(dir / "none" / "log.txt");
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.error.empty());
}

}  // namespace
