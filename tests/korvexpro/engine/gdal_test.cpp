// The outputs as GDAL reads them: geometry, field types, widths and decimals, every value, and the
// text in GBK (CodePage 0, labelled "936" by the .cpg) and in UTF-8 (CodePage 1, labelled by the .cpg).

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine_fixtures.h"

namespace {

using namespace KvxEngineTest;
using namespace MapGis;

// Prints what GDAL sees in a shapefile, one fact per line.
constexpr const char* kDumpScript = R"(import sys
from osgeo import gdal, ogr
gdal.UseExceptions()
path, encoding = sys.argv[1], sys.argv[2]
ds = gdal.OpenEx(path, gdal.OF_VECTOR, open_options=['ENCODING=' + encoding] if encoding else [])
layer = ds.GetLayer(0)
defn = layer.GetLayerDefn()
print('GEOMETRY', ogr.GeometryTypeToName(layer.GetGeomType()))
print('COUNT', layer.GetFeatureCount())
for i in range(defn.GetFieldCount()):
    f = defn.GetFieldDefn(i)
    print('FIELD', f.GetName(), f.GetTypeName(), f.GetWidth(), f.GetPrecision())
for feature in layer:
    print('SHAPE', feature.GetFID(), feature.GetGeometryRef().ExportToWkt())
    for i in range(defn.GetFieldCount()):
        value = feature.GetFieldAsString(i) if feature.IsFieldSetAndNotNull(i) else '<null>'
        print('VALUE', feature.GetFID(), defn.GetFieldDefn(i).GetName(), value)
)";

bool GdalAvailable() {
  return std::system("/usr/bin/python3 -c 'from osgeo import ogr' > /dev/null 2>&1") == 0;
}

std::vector<std::string> GdalDump(const fs::path& dir, const fs::path& shp, const std::string& encoding) {
  const fs::path script = dir / "dump.py";
  std::ofstream(script) << kDumpScript;
  const std::string command =
      "/usr/bin/python3 '" + script.string() + "' '" + shp.string() + "' '" + encoding + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::vector<std::string> lines;
  if (!pipe) return lines;
  char buffer[4096];
  std::string text;
  while (std::fgets(buffer, sizeof buffer, pipe.get())) text += buffer;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    lines.push_back(text.substr(pos, end - pos));
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return lines;
}

// 道路 ("road") and 地质 in GBK.
const std::string kRoadGbk = "\xB5\xC0\xC2\xB7";
const std::string kGeologyGbk = "\xB5\xD8\xD6\xCA";

KvxTest::LayerBuilder Roads() {
  KvxTest::LayerBuilder b(KindLine);
  b.AddLine({{100.5, 200.25}, {101.0, 201.0}, {102.0, 200.0}});
  b.AddLine({{-1.0, -2.0}, {3.0, 4.0}});
  auto& l = b.Line(1);
  l.lineType = 3;
  l.color = 12;
  l.width = 0.25f;
  l.lineClass = 2;
  l.xScale = 1.5f;
  l.yScale = 2.0f;
  l.auxType = 1;
  l.auxColor = 5;
  l.layer = 9;
  l.transparent = 1;
  auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
  a.AddField(kGeologyGbk, FieldString, 12, 12);
  a.AddField("ID", FieldLong, 4, 8);
  a.AddField("LEN", FieldDouble, 8, 12, 2);
  a.AddField("BUILT", FieldDate, 4);
  a.AddField("LIT", FieldBool, 1, 1);
  a.SetText(0, 0, kRoadGbk + "A");
  a.SetValue<std::int32_t>(0, 1, 7);
  a.SetValue<double>(0, 2, 12.345);
  a.SetValue(0, 3, DATE_STRUstruct{2013, 7, 1});
  a.SetValue<std::uint8_t>(0, 4, 1);
  a.SetText(1, 0, kGeologyGbk + kRoadGbk);
  a.SetValue<std::int32_t>(1, 1, -2000000000);
  a.SetValue<double>(1, 2, -0.5);
  a.EnsureRecords(2);
  return b;
}

std::vector<std::string> Expected(const std::string& geology, const std::string& road) {
  return {
      "GEOMETRY Line String",
      "COUNT 2",
      "FIELD " + geology + " String 12 0",
      "FIELD ID Integer64 11 0",
      "FIELD LEN Real 12 2",
      "FIELD BUILT String 50 0",
      "FIELD LIT String 1 0",
      "FIELD KVX_LTYPE Integer 6 0",
      "FIELD KVX_LCOLR Integer64 11 0",
      "FIELD KVX_LWIDH Real 8 3",
      "FIELD KVX_LCLAS Integer 4 0",
      "FIELD KVX_XSCAL Real 8 3",
      "FIELD KVX_YSCAL Real 8 3",
      "FIELD KVX_FTYPE Integer 4 0",
      "FIELD KVX_FCOLR Integer64 11 0",
      "FIELD KVX_LAYER Integer 6 0",
      "FIELD KVX_TRANS Integer 4 0",
      "SHAPE 0 LINESTRING (100.5 200.25,101 201,102 200)",
      "VALUE 0 " + geology + " " + road + "A",
      "VALUE 0 ID 7",
      "VALUE 0 LEN 12.35",
      "VALUE 0 BUILT 2013-07-01",
      "VALUE 0 LIT T",
      "VALUE 0 KVX_LTYPE 0",
      "VALUE 0 KVX_LCOLR 0",
      "VALUE 0 KVX_LWIDH 0.000",
      "VALUE 0 KVX_LCLAS 0",
      "VALUE 0 KVX_XSCAL 0.000",
      "VALUE 0 KVX_YSCAL 0.000",
      "VALUE 0 KVX_FTYPE 0",
      "VALUE 0 KVX_FCOLR 0",
      "VALUE 0 KVX_LAYER 0",
      "VALUE 0 KVX_TRANS 0",
      "SHAPE 1 LINESTRING (-1 -2,3 4)",
      "VALUE 1 " + geology + " " + geology + road,
      "VALUE 1 ID -2000000000",
      "VALUE 1 LEN -0.50",
      "VALUE 1 BUILT 0000-00-00",
      "VALUE 1 LIT F",
      "VALUE 1 KVX_LTYPE 3",
      "VALUE 1 KVX_LCOLR 12",
      "VALUE 1 KVX_LWIDH 0.250",
      "VALUE 1 KVX_LCLAS 2",
      "VALUE 1 KVX_XSCAL 1.500",
      "VALUE 1 KVX_YSCAL 2.000",
      "VALUE 1 KVX_FTYPE 1",
      "VALUE 1 KVX_FCOLR 5",
      "VALUE 1 KVX_LAYER 9",
      "VALUE 1 KVX_TRANS 1",
  };
}

TEST(GdalReadsTheOutputs, GbkTablesWithLanguageDriver87AndTheCpg) {
  if (!GdalAvailable()) GTEST_SKIP() << "python3 with osgeo.ogr (python3-gdal) is not installed";
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Roads();
  Kvx::FrameSettings s = PlainSettings();
  s.symbolType = 2;
  s.colorModel = 2;
  const Outcome out = Convert(b, dir, s);
  ASSERT_EQ(out.result, 99999);
  EXPECT_EQ(ReadBytes(dir / "out.cpg"), "936");
  EXPECT_EQ(static_cast<unsigned char>(ReadBytes(dir / "out.dbf").at(29)), 87);
  // No encoding given: GDAL takes the .cpg, as QGIS does.
  EXPECT_EQ(GdalDump(dir.path(), dir / "out.shp", ""), Expected("地质", "道路"));
  EXPECT_EQ(GdalDump(dir.path(), dir / "out.shp", "CP936"), Expected("地质", "道路"));
}

TEST(GdalReadsTheOutputs, Utf8TablesLabelledByTheCpg) {
  if (!GdalAvailable()) GTEST_SKIP() << "python3 with osgeo.ogr (python3-gdal) is not installed";
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder b = Roads();
  Kvx::FrameSettings s = PlainSettings();
  s.symbolType = 2;
  s.colorModel = 2;
  s.codePage = 1;
  const Outcome out = Convert(b, dir, s);
  ASSERT_EQ(out.result, 99999);
  EXPECT_EQ(ReadBytes(dir / "out.cpg"), "UTF-8");
  // No encoding given: GDAL takes the .cpg.
  EXPECT_EQ(GdalDump(dir.path(), dir / "out.shp", ""), Expected("地质", "道路"));
}

// ---- Integer fields as wide as their values ------------------------------------------------------

// A field's DBF width is its stored width when every value fits, else its widest value's; GDAL
// reads a width below 10 as a 32-bit Integer, wider ones as Integer64.
TEST(GdalReadsTheOutputs, IntegerFieldsAsWideAsTheirValues) {
  const struct Case {
    const char* name;
    std::int32_t type;
    int width;
    std::vector<std::int64_t> values;
    int dbfWidth;
    const char* gdalType;
  } cases[] = {
      {"LongFits", FieldLong, 6, {123456, -12345, 0}, 6, "Integer"},
      {"LongWiderValue", FieldLong, 6, {12, 1234567}, 7, "Integer"},
      {"LongLowest", FieldLong, 6, {5, -2147483647 - 1}, 11, "Integer64"},
      {"LongWidthNotStored", FieldLong, 0, {-999}, 4, "Integer"},
      {"ByteWidthZero", FieldByte, 0, {255, 0}, 4, "Integer"},
      {"ByteWiderThanStored", FieldByte, 2, {200}, 3, "Integer"},
      {"ShortLowest", FieldShort, 3, {-32768}, 6, "Integer"},
      {"ShortFits", FieldShort, 6, {7}, 6, "Integer"},
  };
  const bool gdal = GdalAvailable();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder b(KindLine);
    auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
    a.AddField("N", c.type, c.type == FieldByte ? 1 : c.type == FieldShort ? 2 : 4, c.width);
    for (std::size_t i = 0; i < c.values.size(); ++i) {
      b.AddLine({{0.0, 0.0}, {1.0, static_cast<double>(i)}});
      const int row = static_cast<int>(i);
      if (c.type == FieldByte) a.SetValue<std::uint8_t>(row, 0, static_cast<std::uint8_t>(c.values[i]));
      else if (c.type == FieldShort) a.SetValue<std::int16_t>(row, 0, static_cast<std::int16_t>(c.values[i]));
      else a.SetValue<std::int32_t>(row, 0, static_cast<std::int32_t>(c.values[i]));
    }
    a.EnsureRecords(static_cast<int>(c.values.size()));
    const Outcome out = Convert(b, dir, PlainSettings());
    ASSERT_EQ(out.result, 99999);
    Dbf dbf(out.base);
    ASSERT_EQ(dbf.Fields(), 1);
    EXPECT_EQ(dbf.Schema()[0], (FieldInfo{"N", 'N', c.dbfWidth, 0}));
    for (std::size_t i = 0; i < c.values.size(); ++i) EXPECT_EQ(dbf.Integer(static_cast<int>(i), 0), c.values[i]) << i;
    if (!gdal) continue;
    const std::vector<std::string> dump = GdalDump(dir.path(), out.base.native() + ".shp", "");
    EXPECT_NE(std::find(dump.begin(), dump.end(),
                        "FIELD N " + std::string(c.gdalType) + " " + std::to_string(c.dbfWidth) + " 0"),
              dump.end());
  }
  if (!gdal) GTEST_SKIP() << "widths checked; python3 with osgeo.ogr (python3-gdal) is not installed for the types";
}

}  // namespace
