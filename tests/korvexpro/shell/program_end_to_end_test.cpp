// The program end to end as a user runs it, on every kind of fixture: `info --json` on each file
// and `convert` in every mode over a folder of them. Run by the sanitizer build too, so that
// undefined behaviour anywhere on these paths stops the program and fails the test.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <string>
#include <vector>

#include "batch/batch_driver.h"
#include "shell_fixtures.h"
#include "temp_config.h"

namespace {

namespace fs = std::filesystem;
using namespace KvxShellTest;
using KvxTest::ScratchDir;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Nothing a sanitizer prints, nor a crash.
void ExpectCleanRun(const Outcome& r) {
  EXPECT_TRUE(r.status == 0 || r.status == 1) << "exit status " << r.status << "\n" << r.err;
  for (const char* report : {"runtime error", "AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer"})
    EXPECT_FALSE(Has(r.err, report)) << r.err;
}

// Every fixture kind, intact and damaged: the full project, the demo files with their colour
// library, and layers whose counts, heads or length are damaged.
fs::path WriteFixtures(const fs::path& dir) {
  const fs::path data = dir / "data";
  WriteFullProject(data / "project");
  fs::create_directories(data / "demo");
  for (const auto& entry : fs::directory_iterator(KVX_EXAMPLES)) {
    const std::string ext = entry.path().extension().string();
    // The demo's data files; its scripts and folders (the cluster examples) are not fixtures.
    if (ext != ".sh" && entry.is_regular_file()) fs::copy_file(entry.path(), data / "demo" / entry.path().filename(), fs::copy_options::overwrite_existing);
  }
  auto damaged = [&](KvxTest::LayerBuilder b, const char* name, std::size_t at, const void* bytes, std::size_t n,
                     std::size_t keep = SIZE_MAX) {
    std::vector<std::uint8_t> raw = b.Build();
    std::memcpy(raw.data() + at, bytes, n);
    if (keep < raw.size()) raw.resize(keep);
    ASSERT_TRUE(KvxTest::WriteFile(data / "damaged" / name, raw));
  };
  fs::create_directories(data / "damaged");
  const std::int32_t huge = 2147483646;
  const char older = 0x05;
  damaged(ZonesLayer(), "regions.wp", 280, &huge, 4);
  damaged(ZonesLayer(), "arcs.wp", 264, &huge, 4);
  damaged(PipesLayer(), "nodes.wn", 272, &huge, 4);
  damaged(SitesLayer(), "points.wt", 266, "\xA7", 1);
  damaged(RoadsLayer(), "older.wl", 4, &older, 1);
  damaged(RoadsLayer(), "cut.wl", 0, "W", 1, 900);
  damaged(WellsTable(), "table.wb", 0, "W", 1, 400);
  return data;
}

TEST(ProgramEndToEnd, InfoJsonDescribesEveryFixture) {
  ScratchDir dir;
  const fs::path data = WriteFixtures(dir.Path());
  int described = 0;
  for (const auto& entry : fs::recursive_directory_iterator(data)) {
    if (!entry.is_regular_file()) continue;
    SCOPED_TRACE(entry.path().string());
    const Outcome r = RunProgram({"info", "--json", entry.path().string()}, dir.Path());
    ExpectCleanRun(r);
    const auto parsed = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << r.out;
    ++described;
  }
  EXPECT_GE(described, 20);
  // A count beyond its section is shown as such.
  const Outcome regions = RunProgram({"info", "--json", (data / "damaged" / "regions.wp").string()}, dir.Path());
  const auto regionsJson = nlohmann::json::parse(regions.out, nullptr, false);
  ASSERT_FALSE(regionsJson.is_discarded()) << regions.out;
  const auto& layer = regionsJson.is_array() ? regionsJson.at(0) : regionsJson;
  EXPECT_EQ(layer["sections"]["regions"]["slots"], 2147483646);
  EXPECT_EQ(layer["sections"]["regions"]["held"], 2);
  EXPECT_EQ(layer["sections"]["regions"]["claimsMore"], true);
  EXPECT_EQ(layer["sections"]["arcs"]["claimsMore"], false);
  // The older variant is named as what it is.
  const Outcome older = RunProgram({"info", "--json", (data / "damaged" / "older.wl").string()}, dir.Path());
  EXPECT_TRUE(Has(older.out, "an unsupported older MapGIS layer variant")) << older.out;
}

TEST(ProgramEndToEnd, ConvertRunsEveryModeOverEveryFixture) {
  ScratchDir dir;
  const fs::path data = WriteFixtures(dir.Path());
  const fs::path config = dir.Path() / "config.ini";
  for (const Kvx::BatchCommand& command : Kvx::BatchCommands()) {
    for (const bool repair : {false, true}) {
      const std::string mode(command.name);
      SCOPED_TRACE(mode + (repair ? " --repair" : ""));
      const fs::path out = dir.Path() / "out" / (mode + (repair ? "-repair" : ""));
      std::vector<std::string> args = {"--config", config.string(), "convert", "--mode", mode, "--all-files",
                                       "--lib", (data / "demo").string(), "-o", out.string(), data.string()};
      if (repair) args.push_back("--repair");
      const Outcome r = RunProgram(args, dir.Path());
      ExpectCleanRun(r);
      EXPECT_EQ(r.status, 1) << "the damaged files fail their rows";
      EXPECT_TRUE(Has(r.Summary(), "转换完成：")) << r.out;
      EXPECT_FALSE(r.Rows().empty());
    }
  }
}

}  // namespace
