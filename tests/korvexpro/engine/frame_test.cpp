// The conversion frame: checks after opening, the record loop, error counting, the summary and the
// result codes, the output files. Line layers carry the cases; a small hooks class checks what the
// frame hands to the per-kind hooks.

#include <signal.h>
#include <sys/resource.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine_fixtures.h"
#include "engine/table_conversion.h"
#include "projection/projection_writer.h"

namespace {

using namespace KvxEngineTest;
using MapGis::KindLine;
using MapGis::KindNetwork;

// Makes line i unreadable: its vertices lie beyond the data area.
void Damage(KvxTest::LayerBuilder& b, int i) { b.Line(i).pointCount = 1 << 28; }

std::vector<std::string> FeatureErrors(int from, int to) {
  std::vector<std::string> out;
  for (int k = from; k < to; ++k) out.push_back("F__第[" + std::to_string(k) + "]号图元信息错误，已跳过");
  return out;
}

std::vector<std::string> Concat(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

bool Exists(const fs::path& base, const char* extension) { return fs::exists(base.native() + extension); }

// ---- The record loop and the summary -------------------------------------------------------------

struct LoopCase {
  const char* what;
  int lines;
  std::vector<int> deleted;
  std::vector<int> damaged;
  int maxErrors;
  std::optional<std::int32_t> storedLiveCount;
  std::int32_t result;
  int written;
  std::vector<std::string> log;  // after the header
};

TEST(ConversionFrame, RecordLoopErrorCountingAndSummary) {
  std::vector<int> seventy;
  for (int i = 0; i < 70; ++i) seventy.push_back(i);
  const LoopCase cases[] = {
      {"every line converted", 3, {}, {}, 64, {}, 99999, 3, {"I__全部正确转换(3/3)"}},
      {"all slots deleted: empty result", 3, {0, 1, 2}, {}, 64, {}, 10, 0,
       {"W__文件未压缩存盘，可能存在错误信息", "W__输出结果文件为空文件"}},
      {"every feature unreadable: empty, not an error result", 3, {}, {0, 1, 2}, 64, {}, 10, 0,
       Concat({FeatureErrors(0, 3), {"W__输出结果文件为空文件"}})},
      {"deleted slots are skipped silently in a layer not compacted", 4, {1, 2}, {}, 64, {}, 99999, 2,
       {"W__文件未压缩存盘，可能存在错误信息", "I__全部正确转换(2/2)"}},
      {"70 unreadable with MaxErrors 64", 72, {}, seventy, 64, {}, -9979, 2,
       Concat({FeatureErrors(0, 64), {"F__图元信息错误过多，跳过全部错误", "E__原文件存在错误(2/72)"}})},
      {"MaxErrors 0 logs no feature error but counts them", 4, {}, {0, 2, 3}, 0, {}, -9979, 1,
       {"E__原文件存在错误(1/4)"}},
      {"exactly MaxErrors errors", 5, {}, {1, 3}, 2, {}, -9979, 3,
       Concat({FeatureErrors(1, 2), FeatureErrors(3, 4), {"F__图元信息错误过多，跳过全部错误", "E__原文件存在错误(3/5)"}})},
      {"the index printed is the 0-based slot, deleted slots between", 4, {0}, {2}, 64, {}, -9979, 2,
       {"W__文件未压缩存盘，可能存在错误信息", "F__第[2]号图元信息错误，已跳过", "E__原文件存在错误(2/3)"}},
      {"written count differs from the valid count", 3, {}, {}, 64, 5, -9983, 3,
       {"W__文件未压缩存盘，可能存在错误信息", "E__图元与属性不匹配(3/5)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b = Lines(c.lines);
    for (int i : c.deleted) b.Line(i).flag = 0;
    for (int i : c.damaged) Damage(b, i);
    if (c.storedLiveCount) b.overrides.liveCount = *c.storedLiveCount;
    Kvx::FrameSettings s = PlainSettings();
    s.maxErrors = c.maxErrors;
    const Outcome out = Convert(b, dir, s);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.log, WithHeader(c.log));
    Shp shp(out.base);
    Dbf dbf(out.base);
    ASSERT_TRUE(shp.IsOpen());
    ASSERT_TRUE(dbf.IsOpen());
    EXPECT_EQ(shp.Count(), c.written);
    EXPECT_EQ(dbf.Rows(), c.written);
    EXPECT_TRUE(Exists(out.base, ".shx"));
  }
}

TEST(ConversionFrame, RowsFollowTheWrittenShapesAndKeepTheirRecords) {
  // Slot 1 is deleted and slot 2 unreadable: shape and row 1 belong to slot 3, record 3.
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(4);
  b.Line(1).flag = 0;
  Damage(b, 2);
  auto& attrs = b.Attributes(KvxTest::EntryPrimaryAttr);
  attrs.AddField("ID", MapGis::FieldLong);
  for (int r = 0; r < 4; ++r) attrs.SetValue<std::int32_t>(r, 0, 100 + r);
  const Outcome out = Convert(b, dir, PlainSettings());
  EXPECT_EQ(out.result, -9979);
  Shp shp(out.base);
  Dbf dbf(out.base);
  ASSERT_EQ(shp.Count(), 2);
  ASSERT_EQ(dbf.Rows(), 2);
  EXPECT_EQ(dbf.Integer(0, 0), 100);
  EXPECT_EQ(dbf.Integer(1, 0), 103);
  EXPECT_EQ(shp.Read(1)->padfX[0], 3.0);
}

// ---- Checks right after opening ------------------------------------------------------------------

TEST(ConversionFrame, EarlyReturnsCreateNoShapefile) {
  struct Case {
    const char* what;
    std::function<void(KvxTest::LayerBuilder&)> damage;
    Routine routine;
    bool writeGarbage;
    std::int32_t result;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"a file that is not a MapGIS layer", nullptr, Routine::Line, true, -9999, {"E__原文件错误-数据校验错误"}},
      {"a layer whose magic is not that of its kind",
       [](KvxTest::LayerBuilder& b) { b.overrides.magic = KvxTest::MagicOf(1); }, Routine::Line, false, -10000,
       {"E__原文件错误-非系统文件错误"}},
      {"a line file given to the network routine", nullptr, Routine::NetworkLine, false, -9997, {"E__文件几何类型错误"}},
      {"negative attribute record count",
       [](KvxTest::LayerBuilder& b) { b.Attributes(KvxTest::EntryPrimaryAttr).overrides.recordCount = 0; },
       Routine::Line, false, -9977, {"E__文件属性记录数量错误"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b = Lines(2);
    if (c.damage) c.damage(b);
    Kvx::FrameSettings s = PlainSettings();
    s.exportProjection = 1;
    Outcome out;
    if (c.writeGarbage) {
      const fs::path source = dir / "junk.wl";
      std::FILE* f = std::fopen(source.c_str(), "wb");
      const std::string junk(2000, 'J');
      std::fwrite(junk.data(), 1, junk.size(), f);
      std::fclose(f);
      Kvx::StyleContext styles;
      out.base = dir / "out";
      out.result = Kvx::ConvertWL2SHP(source, out.base, {styles, Kvx::SilentNotifier()}, s);
      out.log = LogLines(dir / "out.log");
    } else {
      out = Convert(b, dir, s, c.routine);
    }
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.log, WithHeader(c.log));
    for (const char* ext : {".shp", ".shx", ".dbf", ".cpg", ".prj"}) EXPECT_FALSE(Exists(out.base, ext)) << ext;
  }
}

TEST(ConversionFrame, OpenFailureLinesByStatus) {
  EXPECT_EQ(Kvx::OpenFailureLine(-10000), "E__原文件错误-非系统文件错误\n");
  EXPECT_EQ(Kvx::OpenFailureLine(-9999), "E__原文件错误-数据校验错误\n");
  EXPECT_EQ(Kvx::OpenFailureLine(-9997), "E__原文件错误-要素几何类型错误\n");
  EXPECT_EQ(Kvx::OpenFailureLine(-9996), "E__原文件错误-文件打开失败\n");
  EXPECT_EQ(Kvx::OpenFailureLine(-9995), "E__原文件错误-不支持的MapGIS旧版图层格式\n");
  EXPECT_EQ(Kvx::OpenFailureLine(-9998), "E__原文件错误-发生未知错误\n");
  EXPECT_EQ(Kvx::OpenFailureLine(-9983), "E__原文件错误-发生未知错误\n");

  KvxTest::TempDir dir;
  Kvx::StyleContext styles;
  EXPECT_EQ(Kvx::ConvertWL2SHP(dir / "missing.wl", dir / "out", {styles, Kvx::SilentNotifier()}, PlainSettings()), -9996);
  EXPECT_EQ(LogLines(dir / "out.log"), WithHeader({"E__原文件错误-文件打开失败"}));
}

TEST(ConversionFrame, RecordCountMismatchIsAWarningAndMissingRecordsGiveEmptyValues) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(3);
  auto& attrs = b.Attributes(KvxTest::EntryPrimaryAttr);
  attrs.AddField("ID", MapGis::FieldLong);
  attrs.AddField("NAME", MapGis::FieldString, 8);
  attrs.SetRecordCount(2);
  attrs.SetValue<std::int32_t>(0, 0, 7);
  attrs.SetText(0, 1, "a");
  attrs.SetValue<std::int32_t>(1, 0, 8);
  const Outcome out = Convert(b, dir, PlainSettings());
  EXPECT_EQ(out.result, 99999);
  EXPECT_EQ(out.log, WithHeader({"W__文件图形记录与属性记录数量不匹配", "I__全部正确转换(3/3)"}));
  Dbf dbf(out.base);
  ASSERT_EQ(dbf.Rows(), 3);
  EXPECT_EQ(dbf.Integer(0, 0), 7);
  EXPECT_EQ(dbf.Integer(2, 0), 0);
  EXPECT_FALSE(dbf.IsNull(2, 0));
  EXPECT_TRUE(dbf.IsNull(2, 1));
}

// ---- Output files ------------------------------------------------------------------------------

TEST(ConversionFrame, CodePageDecidesTheLanguageDriverOrTheCpgFile) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(1);
  Kvx::FrameSettings s = PlainSettings();
  s.codePage = 1;
  Outcome out = Convert(b, dir, s);
  ASSERT_EQ(out.result, 99999);
  EXPECT_EQ(ReadBytes(dir / "out.cpg"), "UTF-8");
  EXPECT_EQ(static_cast<unsigned char>(ReadBytes(dir / "out.dbf").at(29)), 0);

  // The same output again with CodePage 0: the .cpg of the first run is replaced by the GBK one.
  s.codePage = 0;
  out = Convert(b, dir, s);
  ASSERT_EQ(out.result, 99999);
  EXPECT_EQ(ReadBytes(dir / "out.cpg"), "936");
  EXPECT_EQ(static_cast<unsigned char>(ReadBytes(dir / "out.dbf").at(29)), 87);
}

TEST(ConversionFrame, DotsInTheOutputBaseSurvive) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(1);
  Kvx::FrameSettings s = PlainSettings();
  s.codePage = 1;
  s.exportProjection = 1;
  const Outcome out = Convert(b, dir, s, Routine::Line, "roads.v2");
  ASSERT_EQ(out.result, 99999);
  for (const char* ext : {".shp", ".shx", ".dbf", ".cpg", ".prj", ".log"})
    EXPECT_TRUE(fs::exists(dir / (std::string("roads.v2") + ext))) << ext;
  EXPECT_FALSE(fs::exists(dir / "roads.shp"));
}

TEST(ConversionFrame, OutputsThatCannotBeCreatedFailWithAnErrorLine) {
  for (const char* blocked : {".dbf", ".shp"}) {
    SCOPED_TRACE(blocked);
    KvxTest::TempDir dir;
    // A folder in the way of the file: it cannot be created, whoever runs the test.
    fs::create_directory(dir / (std::string("out") + blocked));
    KvxTest::LayerBuilder b = Lines(2);
    const Outcome out = Convert(b, dir, PlainSettings());
    EXPECT_EQ(out.result, -9982);
    EXPECT_EQ(out.log, WithHeader({"E__输出文件无法创建[" + (dir / "out").native() + blocked + "]"}));
    EXPECT_FALSE(fs::is_regular_file(dir / "out.shp"));
  }
}

TEST(ConversionFrame, OutputsThatCannotBeWrittenWholeAreRemoved) {
  // A file size limit of 64 KiB stops the .shp of 2,000 lines (about 170 KiB) half way; the
  // conversion runs in a child process that carries the limit.
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(2000);
  ASSERT_TRUE(b.WriteTo(dir / "in.wl"));
  const fs::path base = dir / "out";
  const auto convertWithLimit = [&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 * 1024, 64 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    Kvx::StyleContext styles;
    const Kvx::ConversionServices services{styles, Kvx::SilentNotifier()};
    std::exit(Kvx::ConvertWL2SHP(dir / "in.wl", base, services, PlainSettings()) == -9982 ? 0 : 1);
  };
  EXPECT_EXIT(convertWithLimit(),
      ::testing::ExitedWithCode(0), "");
  const std::vector<std::string> log = LogLines(dir / "out.log");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], "E__输出文件写入失败[" + base.native() + ".shp]");
  EXPECT_FALSE(fs::exists(dir / "out.shp"));
}

TEST(ConversionFrame, ProjectionStepWritesThePrjAndScalesCoordinates) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(2);
  b.Projection().coordKind = 1;  // geographic
  b.Projection().unit = 4;       // degrees
  b.Projection().ellipsoid = 7;
  b.Projection().scale = 2.0;
  Kvx::FrameSettings s = PlainSettings();
  s.exportProjection = 1;
  Outcome out = Convert(b, dir, s);
  ASSERT_EQ(out.result, 99999);
  EXPECT_EQ(out.log, WithHeader({"I__输出投影信息文件", "I__全部正确转换(2/2)"}));
  ASSERT_TRUE(fs::exists(dir / "out.prj"));
  {
    Shp shp(out.base);
    auto line = shp.Read(1);
    EXPECT_EQ(line->padfX[0], 2.0);
    EXPECT_EQ(line->padfY[1], 2.0);
    EXPECT_EQ(line->dfXMax, 2.0);
  }
  // Without projection output the coordinates are the stored ones, and no .prj is left behind.
  s.exportProjection = 0;
  out = Convert(b, dir, s);
  EXPECT_EQ(out.log, WithHeader({"I__全部正确转换(2/2)"}));
  EXPECT_FALSE(fs::exists(dir / "out.prj"));
  Shp shp(out.base);
  EXPECT_EQ(shp.Read(1)->padfY[1], 1.0);
}

TEST(ConversionFrame, ProjectionFileThatCannotBeWrittenFailsTheConversion) {
  KvxTest::TempDir dir;
  fs::create_directory(dir / "out.prj");
  KvxTest::LayerBuilder b = Lines(1);
  Kvx::FrameSettings s = PlainSettings();
  s.exportProjection = 1;
  const Outcome out = Convert(b, dir, s);
  EXPECT_EQ(out.result, -9982);
  EXPECT_EQ(out.log, WithHeader({"W__文件采用用户自定义坐标系", "E__投影信息文件输出失败", "I__全部正确转换(1/1)"}));
  EXPECT_EQ(Shp(out.base).Count(), 1) << "the shapefile itself is complete";
}

TEST(ConversionFrame, ProgressGoesThroughTheNotifierOncePerPercent) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(3);
  RecordingNotifier notifier;
  Convert(b, dir, PlainSettings(), Routine::Line, "out", &notifier);
  const std::vector<std::pair<std::int64_t, std::int64_t>> expected{{33, 100}, {66, 100}, {100, 100}};
  EXPECT_EQ(notifier.calls, expected);

  KvxTest::LayerBuilder many = Lines(1000);
  notifier.calls.clear();
  Convert(many, dir, PlainSettings(), Routine::Line, "many", &notifier);
  ASSERT_EQ(notifier.calls.size(), 101u);  // 0 % (slots 0 to 8) up to 100 %
  EXPECT_EQ(notifier.calls.front().first, 0);
  EXPECT_EQ(notifier.calls.back().first, 100);
}

// ---- The hooks ---------------------------------------------------------------------------------

// Writes the lines of even slots only, shifted after scaling, with their slot in a field.
class EvenLinesHooks final : public Kvx::ConversionHooks {
 public:
  EvenLinesHooks() {
    rules_.layerKind = KindLine;
    rules_.count = Kvx::CountOperation::Arcs;
    rules_.shapeType = 3;
    rules_.schema = {Kvx::kLogUnsupportedTypeW, Kvx::kLogInvalidType, false};
    rules_.compareWithValid = false;
  }
  const Kvx::FrameRules& Rules() const override { return rules_; }
  std::span<const Kvx::StyleField> StyleFields(const Kvx::FrameSettings&) const override { return fields_; }
  std::int32_t ReadFeature(MapGis::MapGis_FastReader& reader, int slot, MapGis::Geometry* g) override {
    return reader.ReadArcInfo(slot, nullptr, g);
  }
  bool SelectFeature(int slot) override { return slot % 2 == 0; }
  void PrepareGeometry(MapGis::Geometry* g) override {
    prepared.push_back(g->x[0]);
    for (int v = 0; v < g->vertexCount; ++v) g->x[v] += 1000.0;
    g->xMin += 1000.0;
    g->xMax += 1000.0;
  }
  void WriteStyleValues(Kvx::StyleRow& row, int slot) override {
    row.Integer(0, slot);
    row.Text(1, "\xB5\xD8\xD6\xCA\xB5\xD8\xD6\xCA", 254);  // cut to the field's 6 bytes: 地质地
  }
  std::vector<double> prepared;

 private:
  Kvx::FrameRules rules_;
  std::array<Kvx::StyleField, 2> fields_{{{"KVX_SLOT", FTInteger, 11, 0, "I__slot\n"},
                                          {"注释文字", FTString, 6, 0, ""}}};
};

TEST(ConversionFrame, HooksSelectPrepareAndFillTheirFields) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(5);
  b.Projection().coordKind = 1;
  b.Projection().unit = 4;
  b.Projection().scale = 10.0;
  const fs::path source = dir / "in.wl";
  ASSERT_TRUE(b.WriteTo(source));
  Kvx::FrameSettings s = PlainSettings();
  s.exportProjection = 1;
  Kvx::StyleContext styles;
  EvenLinesHooks hooks;
  const std::int32_t result = Kvx::RunConversion(source, dir / "out", hooks, {styles, Kvx::SilentNotifier()}, s);
  EXPECT_EQ(result, 99999);
  EXPECT_EQ(LogLines(dir / "out.log"), WithHeader({"I__输出投影信息文件", "I__slot", "I__全部正确转换(3/5)"}));
  EXPECT_EQ(hooks.prepared, (std::vector<double>{0.0, 20.0, 40.0})) << "prepared after scaling";
  Dbf dbf(dir / "out");
  Shp shp(dir / "out");
  ASSERT_EQ(dbf.Rows(), 3);
  ASSERT_EQ(shp.Count(), 3);
  const auto schema = dbf.Schema();
  ASSERT_EQ(schema.size(), 2u);
  EXPECT_EQ(schema[1].name, "\xD7\xA2\xCA\xCD\xCE\xC4\xD7\xD6");  // 注释文字 in GBK
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(dbf.Integer(row, 0), 2 * row);
    EXPECT_EQ(dbf.Text(row, 1), "\xB5\xD8\xD6\xCA\xB5\xD8");
    EXPECT_EQ(shp.Read(row)->padfX[0], 1000.0 + 20.0 * row);
    EXPECT_EQ(shp.Read(row)->dfXMin, 1000.0 + 20.0 * row);
  }
}

}  // namespace

// A conversion sees exactly the values of the settings snapshot it is handed.
TEST(FrameSettingsFrom, TakesEveryValueOfTheSnapshot) {
  Kvx::Settings s;
  s.CodePage = 1;
  s.SymbolType = 4;
  s.ColorModel = 2;
  s.RotateType = 1;
  s.ExportProjection = 2;
  s.MaxErrors = 7;
  s.LogLevel = 2;
  s.SymbolFontName = "Marker";
  s.FontAdjust = 2.5f;
  s.SingleFont = "Arial";
  EXPECT_EQ(Kvx::FrameSettings::From(s).qgisStyle, 1) << "a style by default";
  EXPECT_EQ(Kvx::FrameSettings::From(s).repairGeometry, 0) << "regions as stored by default";
  s.QgisStyle = 0;
  s.RepairGeometry = 1;
  const Kvx::FrameSettings f = Kvx::FrameSettings::From(s);
  EXPECT_EQ(f.qgisStyle, 0);
  EXPECT_EQ(f.repairGeometry, 1);
  EXPECT_EQ(f.codePage, 1);
  EXPECT_EQ(f.symbolType, 4);
  EXPECT_EQ(f.colorModel, 2);
  EXPECT_EQ(f.rotateType, 1);
  EXPECT_EQ(f.exportProjection, 2);
  EXPECT_EQ(f.maxErrors, 7);
  EXPECT_EQ(f.symbolFontName, "Marker");
  EXPECT_EQ(f.labels.fontAdjust, 2.5f);
  EXPECT_EQ(f.labels.singleFont, "Arial");
  // The setting is UTF-8; label markup is GBK, so the font goes in converted.
  s.SingleFont = "\xE5\xAE\x8B\xE4\xBD\x93";  // 宋体
  EXPECT_EQ(Kvx::FrameSettings::From(s).labels.singleFont, "\xCB\xCE\xCC\xE5");
  const Kvx::TableSettings t = Kvx::TableSettings::From(s);
  EXPECT_EQ(t.codePage, 1);
  EXPECT_EQ(t.logLevel, 2);
}

// Label settings built without a snapshot are the settings' own defaults.
TEST(FrameSettingsFrom, LabelDefaultsAreTheSettingDefaults) {
  const Kvx::Settings defaults;
  const Kvx::LabelSettings labels;
  EXPECT_EQ(labels.fontAdjust, defaults.FontAdjust);
  EXPECT_EQ(labels.singleFont, defaults.SingleFont);
  EXPECT_EQ(Kvx::FrameSettings::From(defaults).labels.singleFont, labels.singleFont);
}
