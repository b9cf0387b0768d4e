// Network nodes, stand-alone attribute tables (DBF and spreadsheet) and the project layer index.

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <source_location>
#include <string>
#include <vector>

#include "engine/node_conversion.h"
#include "engine/project_index.h"
#include "engine/table_conversion.h"
#include "engine/xls_writer.h"
#include "engine_fixtures.h"
#include "support/byte_fixture.h"
#include "support/project_builder.h"

namespace {

using namespace KvxEngineTest;
using MapGis::KindLine;
using MapGis::KindNetwork;
using MapGis::KindTable;

// ---- Network nodes ------------------------------------------------------------------------------

// The node parameter block holds the point record from its offset 31 on.
template <typename T>
void PutAt(std::array<std::uint8_t, 94>& block, std::size_t recordOffset, T value) {
  std::memcpy(block.data() + recordOffset - 31, &value, sizeof value);
}

std::array<std::uint8_t, 94> NodeBlock(std::uint8_t pointType) {
  std::array<std::uint8_t, 94> block{};
  PutAt<std::uint8_t>(block, 31, pointType);
  PutAt<std::int8_t>(block, 32, -1);        // transparent
  PutAt<std::int32_t>(block, 33, 70000);    // symbolNo
  PutAt<float>(block, 37, 2.5f);            // height
  PutAt<float>(block, 41, 3.25f);           // width
  PutAt<float>(block, 45, 30.0f);           // angle
  PutAt<std::int32_t>(block, 75, 12);       // color
  PutAt<std::int16_t>(block, 83, -300);     // layer
  return block;
}

struct NodeLayer {
  KvxTest::TempDir dir;
  fs::path source = dir / "net.wn";
  fs::path base = dir / "nodes";
  explicit NodeLayer(int nodeRecords = 2) {
    KvxTest::LayerBuilder b(KindNetwork);
    b.AddLine({{0, 0}, {1, 1}});
    b.AddNode(1.5, 2.5, NodeBlock(1));  // a symbol node
    b.AddNode(-3.0, 4.0, NodeBlock(0));  // any other node
    auto& attrs = b.Attributes(KvxTest::EntryNodeAttr);
    attrs.AddField("ID", MapGis::FieldLong);
    attrs.SetRecordCount(nodeRecords);
    for (int i = 0; i < nodeRecords; ++i) attrs.SetValue<std::int32_t>(i, 0, 100 + i);
    EXPECT_TRUE(b.WriteTo(source));
  }
  std::int32_t Convert(const Kvx::FrameSettings& s) {
    Kvx::StyleContext noColours;
    return Kvx::ConvertWNNode2SHP(source, base, {noColours, Kvx::SilentNotifier()}, s);
  }
};

TEST(NodeConversion, EveryNodeWrittenWithItsNodeRecord) {
  NodeLayer layer;
  ASSERT_EQ(layer.Convert(PlainSettings()), 99999);
  EXPECT_EQ(LogLines(fs::path(layer.base.native() + ".log")), WithHeader({"I__全部正确转换(2/2)"}));
  Shp shp(layer.base);
  ASSERT_EQ(shp.Type(), SHPT_POINT);
  ASSERT_EQ(shp.Count(), 2);
  EXPECT_EQ(shp.Read(0)->padfX[0], 1.5);
  EXPECT_EQ(shp.Read(1)->padfY[0], 4.0);
  Dbf dbf(layer.base);
  ASSERT_EQ(dbf.Fields(), 1);
  EXPECT_EQ(dbf.Integer(0, 0), 100);
  EXPECT_EQ(dbf.Integer(1, 0), 101);
}

TEST(NodeConversion, RecordCountMismatchIsAnError) {
  NodeLayer layer(1);
  layer.Convert(PlainSettings());
  const auto log = LogLines(fs::path(layer.base.native() + ".log"));
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[1], "E__文件图形记录与属性记录数量不匹配");
}

// Every SymbolType: its fields after the node's own, filled for the symbol node only.
TEST(NodeConversion, SymbolFieldsOnlyForSymbolNodes) {
  struct Case {
    int symbolType;
    std::vector<std::string> fields;  // after "ID"
  };
  const std::vector<Case> cases = {
      {0, {}},
      {2, {"KVX_SUBNO", "KVX_SHEIH", "KVX_SWIDH", "KVX_ANGLE", "KVX_SCOLR", "KVX_LAYER", "KVX_TRANS"}},
      {4, {"KVX_LEGEND", "KVX_ANGLE"}},
      {1, {"KVX_SYMBOL", "KVX_ANGLE"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.symbolType);
    NodeLayer layer;
    Kvx::FrameSettings s = PlainSettings();
    s.symbolType = c.symbolType;
    s.rotateType = 2;  // the stored angle
    s.colorModel = 2;  // the colour number
    ASSERT_EQ(layer.Convert(s), 99999);
    Dbf dbf(layer.base);
    const auto schema = dbf.Schema();
    ASSERT_EQ(schema.size(), c.fields.size() + 1);
    for (std::size_t f = 0; f < c.fields.size(); ++f) {
      EXPECT_EQ(schema[f + 1].name, c.fields[f]);
      EXPECT_FALSE(dbf.IsNull(0, static_cast<int>(f + 1))) << c.fields[f];
      EXPECT_TRUE(dbf.IsNull(1, static_cast<int>(f + 1))) << c.fields[f];
    }
    if (c.symbolType == 2) {
      EXPECT_EQ(dbf.Integer(0, 1), 70000);
      EXPECT_DOUBLE_EQ(dbf.Real(0, 2), 2.5);
      EXPECT_DOUBLE_EQ(dbf.Real(0, 3), 3.25);
      EXPECT_DOUBLE_EQ(dbf.Real(0, 4), 30.0);
      EXPECT_EQ(dbf.Integer(0, 5), 12);
      EXPECT_EQ(dbf.Integer(0, 6), -300);
      EXPECT_EQ(dbf.Integer(0, 7), -1);
    }
    if (c.symbolType == 4) {
      const std::string code = dbf.Text(0, 1);
      EXPECT_EQ(code.substr(0, 4), "FFFF");  // the symbol is clamped to 65535
      EXPECT_DOUBLE_EQ(dbf.Real(0, 2), 30.0);
      EXPECT_TRUE(fs::exists(layer.dir / "nodes.avl"));
    }
  }
}

TEST(NodeConversion, OtherLayerKindsRefused) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Lines(1, KindLine);
  ASSERT_TRUE(b.WriteTo(dir / "a.wl"));
  Kvx::StyleContext noColours;
  EXPECT_EQ(Kvx::ConvertWNNode2SHP(dir / "a.wl", dir / "out", {noColours, Kvx::SilentNotifier()}, PlainSettings()),
            Kvx::kConvertWrongKind);
  EXPECT_EQ(LogLines(dir / "out.log"), WithHeader({"E__文件几何类型错误"}));
}

// ---- Attribute tables to DBF --------------------------------------------------------------------

class TraceRecorder : public Kvx::Notifier {
 public:
  void Trace(int level, std::string_view text, const Kvx::SourceLocation&) override {
    traces.emplace_back(level, std::string(text));
  }
  std::vector<std::pair<int, std::string>> traces;
};

struct Table {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b{KindTable};
  fs::path base = dir / "table";
  KvxTest::AttributeArea& Attrs() { return b.Attributes(KvxTest::EntryPrimary); }
  fs::path Write() {
    const fs::path source = dir / "table.wb";
    EXPECT_TRUE(b.WriteTo(source));
    return source;
  }
  std::vector<std::string> Log() const { return LogLines(fs::path(base.native() + ".log")); }
};

TEST(TableConversion, ValuesOfEveryRecord) {
  Table t;
  t.Attrs().AddField("NAME", MapGis::FieldString, 10);
  t.Attrs().AddField("N", MapGis::FieldLong);
  t.Attrs().AddField("V", MapGis::FieldDouble, -1, 12, 3);
  t.Attrs().SetRecordCount(3);
  for (int i = 0; i < 3; ++i) {
    t.Attrs().SetText(i, 0, "row" + std::to_string(i));
    t.Attrs().SetValue<std::int32_t>(i, 1, -5 * i);
    t.Attrs().SetValue<double>(i, 2, 1.25 * i);
  }
  RecordingNotifier notifier;
  ASSERT_EQ(Kvx::ConvertWB2DBF(t.Write(), t.base, notifier, {0, 0}), 99999);
  EXPECT_EQ(t.Log(), WithHeader({"I__全部正确转换(3/3)"}));
  Dbf dbf(t.base);
  ASSERT_EQ(dbf.Rows(), 3);
  EXPECT_EQ(dbf.Text(2, 0), "row2");
  EXPECT_EQ(dbf.Integer(2, 1), -10);
  EXPECT_DOUBLE_EQ(dbf.Real(1, 2), 1.25);
  EXPECT_FALSE(fs::exists(t.dir / "table.shp"));
  EXPECT_EQ(ReadBytes(t.base.native() + ".cpg"), "936");  // GBK text, as GDAL and ArcGIS read it
  ASSERT_FALSE(notifier.calls.empty());
  EXPECT_EQ(notifier.calls.back(), std::make_pair(std::int64_t{100}, std::int64_t{100}));
}

TEST(TableConversion, EmptyTableKeepsItsFields) {
  Table t;
  t.Attrs().AddField("A", MapGis::FieldLong);
  t.Attrs().AddField("B", MapGis::FieldString, 8);
  t.Attrs().SetRecordCount(0);
  ASSERT_EQ(Kvx::ConvertWB2DBF(t.Write(), t.base, Kvx::SilentNotifier(), {0, 0}), 10);
  EXPECT_EQ(t.Log(), WithHeader({"W__输出结果文件为空文件"}));
  Dbf dbf(t.base);
  EXPECT_EQ(dbf.Fields(), 2);
  EXPECT_EQ(dbf.Rows(), 0);
}

TEST(TableConversion, EveryUnsupportedValueLoggedWithoutLimit) {
  Table t;
  for (const char* name : {"X", "Y", "Z"}) t.Attrs().AddField(name, 12, 4, 4);
  t.Attrs().SetRecordCount(50);
  ASSERT_EQ(Kvx::ConvertWB2DBF(t.Write(), t.base, Kvx::SilentNotifier(), {0, 0}), 99999);
  std::vector<std::string> expected = {"E__[X]字段类型SHAPE格式不支持", "E__[Y]字段类型SHAPE格式不支持",
                                       "E__[Z]字段类型SHAPE格式不支持"};
  expected.insert(expected.end(), 150, "I__字段类型SHAPE格式不支持,写入空值");
  expected.push_back("I__全部正确转换(50/50)");
  EXPECT_EQ(t.Log(), WithHeader(expected));
  Dbf dbf(t.base);
  ASSERT_EQ(dbf.Rows(), 50);
  EXPECT_TRUE(dbf.IsNull(49, 2));
}

TEST(TableConversion, InvalidTypeStopsTheConversion) {
  Table t;
  t.Attrs().AddField("OK", MapGis::FieldLong);
  t.Attrs().AddField("BAD", 19, 4, 4);
  t.Attrs().SetRecordCount(1);
  EXPECT_EQ(Kvx::ConvertWB2DBF(t.Write(), t.base, Kvx::SilentNotifier(), {0, 0}), -9980);
  EXPECT_EQ(t.Log(), WithHeader({"E__[BAD]字段结构定义存在严重错误"}));
}

// The 254-byte cut of a wide text field is a trace whose level follows LogLevel; the log has no line.
TEST(TableConversion, WideTextFieldTracedByLogLevel) {
  const std::vector<std::pair<int, int>> levels = {{0, 7}, {1, 6}, {2, 5}, {3, 4}, {4, 0}, {-1, 0}};
  for (const auto& [logLevel, traceLevel] : levels) {
    SCOPED_TRACE(logLevel);
    Table t;
    t.Attrs().AddField("WIDE", MapGis::FieldString, 300, 300);
    t.Attrs().SetRecordCount(1);
    t.Attrs().SetText(0, 0, std::string(300, 'w'));
    TraceRecorder notifier;
    ASSERT_EQ(Kvx::ConvertWB2DBF(t.Write(), t.base, notifier, {0, logLevel}), 99999);
    EXPECT_EQ(t.Log(), WithHeader({"I__全部正确转换(1/1)"}));
    if (traceLevel == 0) {
      EXPECT_TRUE(notifier.traces.empty());
    } else {
      ASSERT_EQ(notifier.traces.size(), 1u);
      EXPECT_EQ(notifier.traces[0], std::make_pair(traceLevel, std::string("W__[WIDE]字段长度大于255字节被截断\n")));
    }
    Dbf dbf(t.base);
    EXPECT_EQ(dbf.Schema()[0].width, 254);
    EXPECT_EQ(dbf.Text(0, 0), std::string(254, 'w'));
  }
}

// shapelib stores no row without a field: a table of records without fields gets the row number.
TEST(TableConversion, RecordsWithoutFieldsKeepTheirRows) {
  Table t;
  t.Attrs().SetRecordCount(4);
  ASSERT_EQ(Kvx::ConvertWB2DBF(t.Write(), t.base, Kvx::SilentNotifier(), {0, 0}), 99999);
  Dbf dbf(t.base);
  EXPECT_EQ(dbf.Rows(), 4);
  EXPECT_EQ(dbf.Integer(3, 0), 3);
}

TEST(TableConversion, OpenFailuresAsForLayers) {
  KvxTest::TempDir dir;
  ASSERT_TRUE(KvxTest::WriteBytes(dir / "junk.wb", KvxTest::Bytes(2000, 0x41)));
  const std::int32_t result = Kvx::ConvertWB2DBF(dir / "junk.wb", dir / "out", Kvx::SilentNotifier(), {0, 0});
  EXPECT_LT(result, 0);
  EXPECT_EQ(LogLines(dir / "out.log"), WithHeader({std::string(Kvx::OpenFailureLine(result)).substr(0, std::string(Kvx::OpenFailureLine(result)).size() - 1)}));
  EXPECT_FALSE(fs::exists(dir / "out.dbf"));
}

// ---- Attribute tables to a spreadsheet -----------------------------------------------------------

void Put16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
std::string LabelBytes(std::uint16_t row, std::uint16_t column, const std::string& text) {
  std::string out;
  for (std::uint16_t v : {std::uint16_t{0x0204}, static_cast<std::uint16_t>(text.size() + 8), row, column,
                          std::uint16_t{0}, static_cast<std::uint16_t>(text.size())})
    Put16(out, v);
  return out + text;
}
std::string NumberBytes(std::uint16_t row, std::uint16_t column, double value) {
  std::string out;
  for (std::uint16_t v : {std::uint16_t{0x0203}, std::uint16_t{14}, row, column, std::uint16_t{0}}) Put16(out, v);
  char raw[8];
  std::memcpy(raw, &value, 8);  // the test machine is little-endian like the format
  return out + std::string(raw, 8);
}
const std::string kBof("\x09\x08\x08\x00\x00\x00\x10\x00\x00\x00\x00\x00", 12);
const std::string kEof("\x0A\x00\x00\x00", 4);

// A line layer whose table has a long field "NUM" and a string field "TXT", with two records.
struct TwoFieldLayer {
  KvxTest::TempDir dir;
  fs::path source = dir / "roads.wl";
  fs::path base = dir / "roads";
  TwoFieldLayer() {
    KvxTest::LayerBuilder b = Lines(2);
    auto& attrs = b.Attributes(KvxTest::EntryPrimaryAttr);
    attrs.AddField("NUM", MapGis::FieldLong);
    attrs.AddField("TXT", MapGis::FieldString, 6);
    attrs.SetValue<std::int32_t>(0, 0, 7);
    attrs.SetText(0, 1, "ab");
    attrs.SetValue<std::int32_t>(1, 0, -2);
    attrs.SetText(1, 1, "\xB5\xC0\xC2\xB7");  // GBK, stored bytes go out unchanged
    EXPECT_TRUE(b.WriteTo(source));
  }
};

TEST(XlsConversion, TwoFieldsTwoRecordsByteForByte) {
  TwoFieldLayer layer;
  RecordingNotifier notifier;
  ASSERT_EQ(Kvx::ConvertWB2XLS(layer.source, layer.base, notifier), 99999);
  const std::string expected = kBof + LabelBytes(0, 0, "NUM") + LabelBytes(0, 1, "TXT") + NumberBytes(1, 0, 7.0) +
                               LabelBytes(1, 1, "ab") + NumberBytes(2, 0, -2.0) +
                               LabelBytes(2, 1, "\xB5\xC0\xC2\xB7") + kEof;
  EXPECT_EQ(ReadBytes(layer.dir / "roads.xls"), expected);
  EXPECT_EQ(LogLines(layer.dir / "roads.log"), WithHeader({"I__全部正确转换(2/2)"}));
  EXPECT_EQ(notifier.calls.back(), std::make_pair(std::int64_t{100}, std::int64_t{100}));
}

TEST(XlsConversion, CellsOfEveryType) {
  Table t;
  t.Attrs().AddField("B", MapGis::FieldByte);
  t.Attrs().AddField("F", MapGis::FieldFloat);
  t.Attrs().AddField("L", MapGis::FieldBool);
  t.Attrs().AddField("D", MapGis::FieldDate);
  t.Attrs().AddField("T", MapGis::FieldTime);
  t.Attrs().AddField("S", MapGis::FieldTimeStamp);
  t.Attrs().AddField("X", 12, 4, 4);
  t.Attrs().SetRecordCount(1);
  t.Attrs().SetValue<std::uint8_t>(0, 0, 200);
  t.Attrs().SetValue<float>(0, 1, 1.5f);
  t.Attrs().SetValue<std::uint8_t>(0, 2, 1);
  t.Attrs().SetValue(0, 3, MapGis::DATE_STRUstruct{2024, 3, 9});
  t.Attrs().SetValue(0, 4, MapGis::TIME_STRUstruct{7, 5, 3.5});
  t.Attrs().SetValue(0, 5, MapGis::TIMESTAMPstruct{2024, 12, 31, 23, 59, 58, 12});
  ASSERT_EQ(Kvx::ConvertWB2XLS(t.Write(), t.base, Kvx::SilentNotifier()), 99999);
  std::string expected = kBof;
  for (std::uint16_t j = 0; j < 7; ++j) expected += LabelBytes(0, j, std::string(1, "BFLDTSX"[j]));
  expected += NumberBytes(1, 0, 200) + NumberBytes(1, 1, 1.5) + NumberBytes(1, 2, 1) + LabelBytes(1, 3, "2024-03-09") +
              LabelBytes(1, 4, "07:05:3.50") + LabelBytes(1, 5, "2024-12-31_23:59:58.00000012") + LabelBytes(1, 6, "") +
              kEof;
  EXPECT_EQ(ReadBytes(t.dir / "table.xls"), expected);
  EXPECT_EQ(t.Log(), WithHeader({"I__字段类型SHAPE格式不支持,写入空值", "I__全部正确转换(1/1)"}));
}

TEST(XlsConversion, EmptyTableAndUnwritableFile) {
  {
    Table t;
    t.Attrs().AddField("A", MapGis::FieldLong);
    t.Attrs().SetRecordCount(0);
    ASSERT_EQ(Kvx::ConvertWB2XLS(t.Write(), t.base, Kvx::SilentNotifier()), 10);
    EXPECT_EQ(ReadBytes(t.dir / "table.xls"), kBof + LabelBytes(0, 0, "A") + kEof);
    EXPECT_EQ(t.Log(), WithHeader({"W__输出结果文件为空文件"}));
  }
  {
    TwoFieldLayer layer;
    fs::create_directory(layer.dir / "roads.xls");  // a folder where the file should go
    EXPECT_EQ(Kvx::ConvertWB2XLS(layer.source, layer.base, Kvx::SilentNotifier()), Kvx::kConvertOutputFailed);
    EXPECT_EQ(LogLines(layer.dir / "roads.log"),
              WithHeader({"E__输出文件无法创建[" + (layer.dir / "roads.xls").string() + "]"}));
  }
}

// A spreadsheet reader (xlrd, from python3-xlrd) opens the stream and sees the cells.
TEST(XlsConversion, SpreadsheetReaderOpensIt) {
  if (std::system("/usr/bin/python3 -c 'import xlrd' > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3 with xlrd (python3-xlrd) is not installed";
  TwoFieldLayer layer;
  ASSERT_EQ(Kvx::ConvertWB2XLS(layer.source, layer.base, Kvx::SilentNotifier()), 99999);
  const fs::path script = layer.dir / "read.py";
  std::ofstream(script) << "import sys, xlrd\n"
                           "sheet = xlrd.open_workbook(sys.argv[1], encoding_override='gbk').sheet_by_index(0)\n"
                           "for r in range(sheet.nrows):\n"
                           "    print('|'.join('%d:%s' % (c.ctype, c.value) for c in sheet.row(r)))\n";
  const std::string command =
      "/usr/bin/python3 '" + script.string() + "' '" + (layer.dir / "roads.xls").string() + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  std::string text;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe.get())) text += buffer;
  // Cell types: 1 text, 2 number; the GBK label comes back as Unicode.
  EXPECT_EQ(text, "1:NUM|1:TXT\n2:7.0|1:ab\n2:-2.0|1:道路\n");
}

// Row numbers have 16 bits: records past row 65535 cannot be written, and the result says so.
TEST(XlsConversion, RecordsPastTheLastRowReported) {
  Table t;
  t.Attrs().AddField("B", MapGis::FieldByte);
  t.Attrs().SetRecordCount(65536);
  ASSERT_EQ(Kvx::ConvertWB2XLS(t.Write(), t.base, Kvx::SilentNotifier()), Kvx::kConvertCountMismatch);
  EXPECT_EQ(t.Log(), WithHeader({"E__图元与属性不匹配(65535/65536)"}));
  const std::string bytes = ReadBytes(t.dir / "table.xls");
  // BOF, the name, 65535 number cells, EOF.
  ASSERT_EQ(bytes.size(), kBof.size() + LabelBytes(0, 0, "B").size() + 65535u * 18 + kEof.size());
  EXPECT_EQ(bytes.substr(bytes.size() - 22), NumberBytes(65535, 0, 0) + kEof);
}

// A LABEL holds at most 65527 text bytes (its length counts 8 header bytes); the cut keeps whole
// GBK characters.
TEST(XlsConversion, LongLabelCutBeforeACharacter) {
  struct Case {
    std::string text;
    std::size_t kept;
  };
  const std::string gbkChar = "\xB0\xA1";
  const std::vector<Case> cases = {
      {std::string(Kvx::kXlsLabelMax, 'a'), Kvx::kXlsLabelMax},
      {std::string(70000, 'a'), Kvx::kXlsLabelMax},
      {std::string(Kvx::kXlsLabelMax - 1, 'a') + gbkChar, Kvx::kXlsLabelMax - 1},
      {std::string(Kvx::kXlsLabelMax - 2, 'a') + gbkChar, Kvx::kXlsLabelMax},
  };
  for (const Case& c : cases) {
    KvxTest::TempDir dir;
    {
      Kvx::XlsWriter xls(dir / "x.xls");
      ASSERT_TRUE(xls.IsOpen());
      xls.Label(3, 4, c.text);
      ASSERT_TRUE(xls.Close());
    }
    EXPECT_EQ(ReadBytes(dir / "x.xls"), LabelBytes(3, 4, c.text.substr(0, c.kept)));
  }
}

// ---- Project layer index ------------------------------------------------------------------------

struct ProjectDir {
  KvxTest::TempDir dir;
  fs::path base = dir / "index";
  Kvx::FrameSettings settings = PlainSettings();

  // A line layer with `records` lines from (x0, y0) to (x1, y1).
  void Layer(const std::string& name, std::array<double, 4> extent, int records = 1) {
    KvxTest::LayerBuilder b(KindLine);
    for (int i = 0; i < records; ++i) b.AddLine({{extent[0], extent[1]}, {extent[2], extent[3]}});
    b.Attributes(KvxTest::EntryPrimaryAttr).SetRecordCount(records);
    ASSERT_TRUE(b.WriteTo(dir / name));
  }
  std::int32_t Convert(const KvxTest::ProjectFile& project) {
    EXPECT_TRUE(KvxTest::WriteBytes(dir / "map.mpj", project.Build()));
    return Kvx::ConvertMPJ2SHP(dir / "map.mpj", base, Kvx::SilentNotifier(), settings);
  }
  std::vector<std::string> Log() const { return LogLines(fs::path(base.native() + ".log")); }
};

void ExpectRectangle(const SHPObject& s, double x0, double y0, double x1, double y1) {
  ASSERT_EQ(s.nSHPType, SHPT_POLYGON);
  ASSERT_EQ(s.nParts, 1);
  ASSERT_EQ(s.nVertices, 5);
  const double x[5] = {x0, x0, x1, x1, x0};
  const double y[5] = {y0, y1, y1, y0, y0};
  for (int v = 0; v < 5; ++v) {
    EXPECT_EQ(s.padfX[v], x[v]) << v;
    EXPECT_EQ(s.padfY[v], y[v]) << v;
  }
}

TEST(ProjectIndex, MissingLayerLoggedAndRowsOfTheOthers) {
  ProjectDir p;
  p.Layer("a.wl", {0, 0, 10, 5});
  p.Layer("b.wl", {-4, 2, 3, 20}, 2);
  KvxTest::ProjectFile project;
  project.description = "\xB5\xD8\xCD\xBC";  // GBK
  project.scale = 0.5;
  project.items = {{0, "D:\\maps\\A.WL", "first", 100, 5000},  // a Windows path: found beside the project
                   {0, "gone.wl", "lost", 0, 0},
                   {0, "b.wl", "second", 1, 2}};
  ASSERT_EQ(p.Convert(project), Kvx::kConvertReadErrors);
  EXPECT_EQ(p.Log(), WithHeader({"I__增加MapGIS图层属性字段", "F__第[1]号图层文件不存在，已跳过",
                                 "E__原文件存在错误(3/4)"}));

  Dbf dbf(p.base);
  const std::vector<FieldInfo> schema = {{"MatchID", 'N', 8, 0},   {"DataType", 'C', 16, 0},  {"DataName", 'C', 254, 0},
                                         {"DataName2", 'C', 254, 0}, {"DataDesc", 'C', 254, 0}, {"DispOrder", 'N', 8, 0},
                                         {"DispMin", 'N', 8, 3},     {"DispMax", 'N', 8, 3},    {"State", 'N', 8, 0},
                                         {"Scale", 'N', 8, 3},       {"Tag", 'C', 254, 0}};
  EXPECT_EQ(dbf.Schema(), schema);
  ASSERT_EQ(dbf.Rows(), 3);
  struct Row {
    int matchId;
    std::string type, name, desc;
    int order;
  };
  const std::vector<Row> rows = {{0, ".wl", "a.wl", "first", 0}, {2, ".wl", "b.wl", "second", 1},
                                 {3, ".mpj", "index", "\xB5\xD8\xCD\xBC", 1}};
  for (int r = 0; r < 3; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(dbf.Integer(r, 0), rows[r].matchId);
    EXPECT_EQ(dbf.Text(r, 1), rows[r].type);
    EXPECT_EQ(dbf.Text(r, 2), rows[r].name);
    EXPECT_TRUE(dbf.IsNull(r, 3));
    EXPECT_EQ(dbf.Text(r, 4), rows[r].desc);
    EXPECT_EQ(dbf.Integer(r, 5), rows[r].order);
    EXPECT_DOUBLE_EQ(dbf.Real(r, 9), 0.5);
    EXPECT_EQ(dbf.Text(r, 10), "");
  }
  EXPECT_DOUBLE_EQ(dbf.Real(0, 6), 100);
  EXPECT_DOUBLE_EQ(dbf.Real(0, 7), 5000);
  EXPECT_EQ(dbf.Integer(1, 8), 1);
  for (int f : {6, 7, 8}) EXPECT_TRUE(dbf.IsNull(2, f)) << f;  // not written for the project

  Shp shp(p.base);
  ASSERT_EQ(shp.Type(), SHPT_POLYGON);
  ASSERT_EQ(shp.Count(), 3);
  ExpectRectangle(*shp.Read(0), 0, 0, 10, 5);
  ExpectRectangle(*shp.Read(1), -4, 2, 3, 20);
  ExpectRectangle(*shp.Read(2), -4, 0, 10, 20);
}

TEST(ProjectIndex, AllLayersPresent) {
  ProjectDir p;
  p.Layer("a.wl", {0, 0, 1, 1});
  p.Layer("b.wl", {2, 2, 3, 3});
  KvxTest::ProjectFile project;
  project.items = {{0, "a.wl", "", 0, 0}, {0, "b.wl", "", 0, 0}};
  ASSERT_EQ(p.Convert(project), 99999);
  EXPECT_EQ(p.Log(), WithHeader({"I__增加MapGIS图层属性字段", "I__全部正确转换(3/3)"}));
  EXPECT_EQ(ReadBytes(p.base.native() + ".cpg"), "936");
}

// Without a usable layer the project row is still written, with a null shape rather than a
// rectangle of the never-widened extent.
TEST(ProjectIndex, NoUsableLayerGivesNullProjectShape) {
  struct Case {
    const char* what;
    bool loadable;
    std::vector<std::string> log;
    std::int32_t result;
    int matchId;
  };
  const std::vector<Case> cases = {
      {"a layer without records", true, {"I__增加MapGIS图层属性字段", "I__全部正确转换(1/2)"}, 99999, 1},
      {"a project that does not load", false, {"I__增加MapGIS图层属性字段", "I__全部正确转换(1/1)"}, 99999, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ProjectDir p;
    p.Layer("empty.wl", {0, 0, 1, 1}, 0);
    KvxTest::ProjectFile project;
    project.items = {{0, "empty.wl", "", 0, 0}};
    if (!c.loadable) project.version = 8;
    ASSERT_EQ(p.Convert(project), c.result);
    EXPECT_EQ(p.Log(), WithHeader(c.log));
    Shp shp(p.base);
    ASSERT_EQ(shp.Count(), 1);
    EXPECT_EQ(shp.Read(0)->nSHPType, SHPT_NULL);
    Dbf dbf(p.base);
    ASSERT_EQ(dbf.Rows(), 1);
    EXPECT_EQ(dbf.Integer(0, 0), c.matchId);
    EXPECT_EQ(dbf.Text(0, 1), ".mpj");
  }
}

// With a .prj requested, a user-defined system keeps its coordinates and the map scale becomes 1.
TEST(ProjectIndex, ProjectionStepAndScale) {
  ProjectDir p;
  p.settings.exportProjection = 1;
  p.Layer("a.wl", {1, 2, 3, 4});
  KvxTest::ProjectFile project;
  project.coordKind = 0;
  project.scale = 0.5;
  project.items = {{0, "a.wl", "", 0, 0}};
  ASSERT_EQ(p.Convert(project), 99999);
  EXPECT_EQ(p.Log(), WithHeader({"W__文件采用用户自定义坐标系", "I__输出投影信息文件", "I__增加MapGIS图层属性字段",
                                 "I__全部正确转换(2/2)"}));
  Dbf dbf(p.base);
  EXPECT_DOUBLE_EQ(dbf.Real(0, 9), 1.0);
  ExpectRectangle(*Shp(p.base).Read(0), 1, 2, 3, 4);
  EXPECT_TRUE(fs::exists(p.dir / "index.prj"));
}

}  // namespace
