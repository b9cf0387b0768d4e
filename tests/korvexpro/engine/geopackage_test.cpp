// GeoPackage output read back through GDAL's C API beside the shapefile of the same layer: whole
// UTF-8 field names, the column types, every value, the geometries, the coordinate system, the
// default style, and the failures that leave nothing behind.

#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "engine_fixtures.h"
#include "projection/projection_writer.h"

namespace {

using namespace KvxEngineTest;
using namespace MapGis;

struct DatasetCloser {
  void operator()(GDALDatasetH ds) const { GDALClose(ds); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

Dataset OpenVector(const fs::path& path) {
  GDALAllRegister();
  return Dataset(GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
}

bool Contains(const std::vector<std::string>& lines, std::string_view part) {
  for (const std::string& l : lines)
    if (l.find(part) != std::string::npos) return true;
  return false;
}

// The shapefile's geometry, as the GeoPackage's type (a line as a one-part multi-line), has the
// very coordinates of the GeoPackage's.
bool SameGeometry(OGRGeometryH fromShapefile, OGRGeometryH fromGeoPackage) {
  if (!fromShapefile || !fromGeoPackage) return fromShapefile == fromGeoPackage;
  OGRGeometryH g = OGR_G_ForceTo(OGR_G_Clone(fromShapefile), OGR_G_GetGeometryType(fromGeoPackage), nullptr);
  const bool same = OGR_G_Equals(g, fromGeoPackage);
  OGR_G_DestroyGeometry(g);
  return same;
}

std::vector<std::string> TableNames(GDALDatasetH ds) {
  std::vector<std::string> names;
  for (int i = 0; i < GDALDatasetGetLayerCount(ds); ++i) names.push_back(OGR_L_GetName(GDALDatasetGetLayer(ds, i)));
  return names;
}

// 道路名称说明 (six characters: 12 bytes in GBK, cut to five in a DBF) and its values.
const std::string kLongNameGbk = "\xB5\xC0\xC2\xB7\xC3\xFB\xB3\xC6\xCB\xB5\xC3\xF7";
const std::string kLongNameUtf8 = "道路名称说明";
const std::string kRoadGbk = "\xB5\xC0\xC2\xB7";  // 道路

KvxTest::LayerBuilder Roads() {
  KvxTest::LayerBuilder b(KindLine);
  b.AddLine({{100.5, 200.25}, {101.0, 201.0}, {102.0, 200.0}});
  b.AddLine({{-1.0, -2.0}, {3.0, 4.0}});
  b.AddLine({{5.0, 5.0}, {6.0, 6.5}});
  b.Line(1).lineType = 3;
  b.Line(1).color = 12;
  auto& a = b.Attributes(KvxTest::EntryPrimaryAttr);
  a.AddField(kLongNameGbk, FieldString, 12, 12);
  a.AddField("ID", FieldLong, 4, 8);
  a.AddField("LEN", FieldDouble, 8, 12, 2);
  a.AddField("WIDTH", FieldFloat, 4, 10, 2);
  a.AddField("BUILT", FieldDate, 4);
  a.AddField("OPENS", FieldTime, 10);
  a.AddField("CHECKED", FieldTimeStamp, 16);
  a.AddField("LIT", FieldBool, 1, 1);
  a.SetText(0, 0, kRoadGbk + "A");
  a.SetValue<std::int32_t>(0, 1, 7);
  a.SetValue<double>(0, 2, 12.345);
  a.SetValue<float>(0, 3, 1.23f);
  a.SetValue(0, 4, DATE_STRUstruct{2013, 7, 1});
  a.SetValue(0, 5, TIME_STRUstruct{8, 5, 3.5});
  a.SetValue(0, 6, TIMESTAMPstruct{2020, 2, 29, 23, 59, 58, 50000000});
  a.SetValue<std::uint8_t>(0, 7, 1);
  a.SetText(1, 0, kRoadGbk + kRoadGbk + kRoadGbk);
  a.SetValue<std::int32_t>(1, 1, -2000000000);
  a.SetValue<double>(1, 2, -0.5);
  a.SetValue<float>(1, 3, -7.75f);
  a.SetValue(1, 4, DATE_STRUstruct{2021, 2, 29});  // no such day
  a.SetValue(1, 6, TIMESTAMPstruct{1999, 13, 1, 0, 0, 0, 0});  // no such month
  a.EnsureRecords(3);
  return b;
}

// One converted layer of the fixture, as a shapefile and as a GeoPackage table.
struct Pair {
  Outcome shp, gpkg;
};

Pair ConvertBoth(KvxTest::LayerBuilder& layer, const KvxTest::TempDir& dir, Kvx::FrameSettings s) {
  Pair p;
  s.outputFormat = 0;
  p.shp = Convert(layer, dir, s, Routine::Line, "roads");
  s.outputFormat = 1;
  p.gpkg = Convert(layer, dir, s, Routine::Line, "roads_g");
  return p;
}

TEST(GeoPackageOutput, WholeNamesTypesAndTheValuesOfTheShapefile) {
  const struct Case {
    const char* name;
    std::int32_t codePage;
    std::int32_t symbolType;
  } cases[] = {{"GBK tables", 0, 0}, {"UTF-8 tables", 1, 0}, {"drawing-parameter fields", 0, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder layer = Roads();
    Kvx::FrameSettings s = PlainSettings();
    s.codePage = c.codePage;
    s.symbolType = c.symbolType;
    const Pair p = ConvertBoth(layer, dir, s);
    ASSERT_EQ(p.shp.result, Kvx::kConvertSuccess);
    ASSERT_EQ(p.gpkg.result, Kvx::kConvertSuccess);
    // The same log lines, the log beside the GeoPackage; no shapefile beside it.
    EXPECT_EQ(p.gpkg.log, p.shp.log);
    for (const char* ext : {".shp", ".dbf", ".prj", ".cpg"}) EXPECT_FALSE(fs::exists(dir / ("roads_g" + std::string(ext))));

    Dataset shp = OpenVector(dir / "roads.shp");
    Dataset gpkg = OpenVector(dir / "roads_g.gpkg");
    ASSERT_TRUE(shp && gpkg);
    ASSERT_EQ(TableNames(gpkg.get()), std::vector<std::string>{"roads_g"});
    OGRLayerH sl = GDALDatasetGetLayer(shp.get(), 0);
    OGRLayerH gl = GDALDatasetGetLayer(gpkg.get(), 0);
    EXPECT_EQ(OGR_L_GetGeomType(gl), wkbMultiLineString);
    OGRFeatureDefnH sd = OGR_L_GetLayerDefn(sl);
    OGRFeatureDefnH gd = OGR_L_GetLayerDefn(gl);
    ASSERT_EQ(OGR_FD_GetFieldCount(gd), OGR_FD_GetFieldCount(sd));

    const struct Column {
      std::string name;
      OGRFieldType type;
      OGRFieldSubType subType;
    } columns[] = {{kLongNameUtf8, OFTString, OFSTNone}, {"ID", OFTInteger, OFSTNone},
                   {"LEN", OFTReal, OFSTNone},           {"WIDTH", OFTReal, OFSTNone},
                   {"BUILT", OFTDate, OFSTNone},         {"OPENS", OFTString, OFSTNone},
                   {"CHECKED", OFTDateTime, OFSTNone},   {"LIT", OFTInteger, OFSTBoolean}};
    for (int j = 0; j < 8; ++j) {
      OGRFieldDefnH f = OGR_FD_GetFieldDefn(gd, j);
      EXPECT_EQ(OGR_Fld_GetNameRef(f), columns[j].name);
      EXPECT_EQ(OGR_Fld_GetType(f), columns[j].type) << columns[j].name;
      EXPECT_EQ(OGR_Fld_GetSubType(f), columns[j].subType) << columns[j].name;
    }
    // The shapefile holds the name cut to ten bytes; the GeoPackage the whole name.
    EXPECT_EQ(std::string(OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(sd, 0))), c.codePage == 0 ? "道路名称说" : "道路名");
    // The drawing-parameter fields as they are.
    for (int j = 8; j < OGR_FD_GetFieldCount(gd); ++j) {
      EXPECT_STREQ(OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(gd, j)), OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(sd, j)));
      EXPECT_EQ(OGR_Fld_GetType(OGR_FD_GetFieldDefn(gd, j)) == OFTReal, OGR_Fld_GetType(OGR_FD_GetFieldDefn(sd, j)) == OFTReal);
    }

    ASSERT_EQ(OGR_L_GetFeatureCount(gl, TRUE), 3);
    for (int row = 0; row < 3; ++row) {
      SCOPED_TRACE("row " + std::to_string(row));
      std::unique_ptr<void, void (*)(OGRFeatureH)> sf(OGR_L_GetNextFeature(sl), OGR_F_Destroy);
      std::unique_ptr<void, void (*)(OGRFeatureH)> gf(OGR_L_GetNextFeature(gl), OGR_F_Destroy);
      ASSERT_TRUE(sf && gf);
      EXPECT_TRUE(SameGeometry(OGR_F_GetGeometryRef(sf.get()), OGR_F_GetGeometryRef(gf.get())));
      for (int j = 0; j < OGR_FD_GetFieldCount(gd); ++j) {
        const std::string sv = OGR_F_IsFieldSetAndNotNull(sf.get(), j) ? OGR_F_GetFieldAsString(sf.get(), j) : "<null>";
        const std::string gv = OGR_F_IsFieldSetAndNotNull(gf.get(), j) ? OGR_F_GetFieldAsString(gf.get(), j) : "<null>";
        const OGRFieldType type = OGR_Fld_GetType(OGR_FD_GetFieldDefn(gd, j));
        const std::string what = OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(gd, j));
        if (type == OFTReal) {
          // The DBF rounds to its decimals; the GeoPackage keeps the value.
          const int decimals = OGR_Fld_GetPrecision(OGR_FD_GetFieldDefn(sd, j));
          EXPECT_NEAR(OGR_F_GetFieldAsDouble(gf.get(), j), OGR_F_GetFieldAsDouble(sf.get(), j), 0.5 * std::pow(10, -decimals))
              << what;
        } else if (type == OFTDate || type == OFTDateTime) {
          // The date as text in the DBF; a date that the calendar does not have is null.
          int y = 0, m = 0, d = 0, h = 0, mi = 0, tz = 0;
          float sec = 0;
          if (gv == "<null>") {
            EXPECT_TRUE(sv.rfind("0000-00-00", 0) == 0 || sv.substr(5, 2) == "13" || sv == "2021-02-29") << what << " " << sv;
            continue;
          }
          ASSERT_TRUE(OGR_F_GetFieldAsDateTimeEx(gf.get(), j, &y, &m, &d, &h, &mi, &sec, &tz));
          char text[64];
          std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
          EXPECT_EQ(sv.substr(0, 10), text) << what;
          if (type == OFTDateTime) {
            std::snprintf(text, sizeof text, "_%02d:%02d:%02d", h, mi, static_cast<int>(sec));
            EXPECT_EQ(sv.substr(10, 9), text) << what;
            EXPECT_NEAR(sec - std::floor(sec), std::stod("0." + sv.substr(20)), 1e-3) << what;
          }
        } else if (type == OFTString && gv.empty()) {
          EXPECT_EQ(sv, "<null>") << what;  // a DBF reads an empty text as null
        } else if (what == "LIT") {
          EXPECT_EQ(gv, sv == "T" ? "1" : "0");
        } else {
          EXPECT_EQ(gv, sv) << what;
        }
      }
    }
  }
}

// Column names are compared without regard to letter case, and the key and geometry columns are
// taken: a field that would collide gets "_2", "_3", ... and the style names it so.
TEST(GeoPackageOutput, FieldNamesThatCollideAreNumbered) {
  const struct Case {
    std::vector<std::string> names;
    std::vector<std::string> columns;
  } cases[] = {
      {{"FID", "Geom", "NAME"}, {"FID_2", "Geom_2", "NAME"}},
      {{"A", "a", "A_2"}, {"A", "a_2", "A_2_2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names.front());
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder layer = Lines(2);
    auto& a = layer.Attributes(KvxTest::EntryPrimaryAttr);
    for (const std::string& name : c.names) a.AddField(name, FieldLong, 4, 6);
    a.SetValue<std::int32_t>(1, 2, 42);
    Kvx::FrameSettings s = PlainSettings();
    s.outputFormat = 1;
    const Outcome out = Convert(layer, dir, s);
    ASSERT_EQ(out.result, Kvx::kConvertSuccess) << ::testing::PrintToString(out.log);
    Dataset gpkg = OpenVector(dir / "out.gpkg");
    ASSERT_TRUE(gpkg);
    OGRLayerH l = GDALDatasetGetLayer(gpkg.get(), 0);
    OGRFeatureDefnH d = OGR_L_GetLayerDefn(l);
    std::vector<std::string> columns;
    for (int j = 0; j < OGR_FD_GetFieldCount(d); ++j) columns.push_back(OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(d, j)));
    EXPECT_EQ(columns, c.columns);
    OGR_L_SetAttributeFilter(l, "fid = 2");
    std::unique_ptr<void, void (*)(OGRFeatureH)> f(OGR_L_GetNextFeature(l), OGR_F_Destroy);
    ASSERT_TRUE(f);
    EXPECT_EQ(OGR_F_GetFieldAsInteger(f.get(), 2), 42);
  }
}

// The first value of an SQL query's first row, as text.
std::string Query(GDALDatasetH ds, const std::string& sql) {
  OGRLayerH result = GDALDatasetExecuteSQL(ds, sql.c_str(), nullptr, nullptr);
  std::string value = "<none>";
  if (result) {
    if (OGRFeatureH f = OGR_L_GetNextFeature(result)) {
      value = OGR_F_GetFieldAsString(f, 0);
      OGR_F_Destroy(f);
    }
    GDALDatasetReleaseResultSet(ds, result);
  }
  return value;
}

// The spatial index, packed when the table is complete: sound by SQLite's own check at every
// size (one node, two levels, three), finding exactly the lines in a window, and kept up by its
// triggers when a feature is added later.
TEST(GeoPackageOutput, ThePackedSpatialIndexIsSoundAndFindsTheFeatures) {
  for (const int lines : {1, 40, 3000, 20000}) {
    SCOPED_TRACE(lines);
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder layer = Lines(lines);  // line i from (i, 0) to (i, 1)
    Kvx::FrameSettings s = PlainSettings();
    s.outputFormat = 1;
    ASSERT_EQ(Convert(layer, dir, s).result, Kvx::kConvertSuccess);
    Dataset gpkg(GDALOpenEx((dir / "out.gpkg").c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, nullptr, nullptr, nullptr));
    ASSERT_TRUE(gpkg);
    EXPECT_EQ(Query(gpkg.get(), "SELECT rtreecheck('rtree_out_geom')"), "ok");
    EXPECT_EQ(Query(gpkg.get(), "SELECT count(*) FROM rtree_out_geom"), std::to_string(lines));
    const int from = lines / 3, to = lines / 3 + lines / 4;
    const std::string window = "SELECT count(*) FROM rtree_out_geom WHERE maxx >= " + std::to_string(from) +
                               ".5 AND minx <= " + std::to_string(to) + ".5 AND maxy >= 0.25 AND miny <= 0.75";
    EXPECT_EQ(Query(gpkg.get(), window), std::to_string(to - from));
    // A feature added afterwards goes into the index through its trigger.
    OGRLayerH l = GDALDatasetGetLayerByName(gpkg.get(), "out");
    OGRFeatureH f = OGR_F_Create(OGR_L_GetLayerDefn(l));
    OGRGeometryH g = nullptr;
    char wkt[] = "MULTILINESTRING ((-5 -5,-4 -4))";
    char* text = wkt;
    ASSERT_EQ(OGR_G_CreateFromWkt(&text, nullptr, &g), OGRERR_NONE);
    OGR_F_SetGeometryDirectly(f, g);
    EXPECT_EQ(OGR_L_CreateFeature(l, f), OGRERR_NONE);
    OGR_F_Destroy(f);
    EXPECT_EQ(Query(gpkg.get(), "SELECT count(*) FROM rtree_out_geom WHERE maxx <= -4"), "1");
    EXPECT_EQ(Query(gpkg.get(), "SELECT rtreecheck('rtree_out_geom')"), "ok");
  }
}

TEST(GeoPackageOutput, TheSystemOfTheLayerOrTheTarget) {
  const struct Case {
    const char* name;
    std::int8_t coordKind;
    std::string target;
    const char* authority;  // the code the table's system carries; null: none, "": the undefined Cartesian system
  } cases[] = {
      {"layer's own Gauss-Kruger system", Kvx::kPrjKindProjected, "", nullptr},
      {"reprojected to CGCS2000", Kvx::kPrjKindProjected, "EPSG:4490", "4490"},
      {"reprojected to a CGCS2000 zone", Kvx::kPrjKindProjected, "EPSG:4544", "4544"},
      {"local system", Kvx::kPrjKindUserDefined, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder layer(KindLine);
    auto& p = layer.Projection();
    p.coordKind = c.coordKind;
    p.unit = Kvx::kPrjUnitMetre;
    p.projType = 5;
    p.ellipsoid = 1;  // Beijing 1954
    p.scale = 1.0;
    p.centralMeridian = 1050000.0;
    layer.AddLine({{540329.68, 3783521.88}, {542239.87, 3784730.17}});
    layer.Attributes(KvxTest::EntryPrimaryAttr).EnsureRecords(1);
    Kvx::FrameSettings s = PlainSettings();
    s.exportProjection = 1;
    s.reprojection.targetCrs = c.target;
    const Pair both = ConvertBoth(layer, dir, s);
    ASSERT_EQ(both.gpkg.result, Kvx::kConvertSuccess) << ::testing::PrintToString(both.gpkg.log);
    Dataset gpkg = OpenVector(dir / "roads_g.gpkg");
    Dataset shp = OpenVector(dir / "roads.shp");
    ASSERT_TRUE(gpkg && shp);
    OGRLayerH gl = GDALDatasetGetLayer(gpkg.get(), 0);
    OGRSpatialReferenceH g = OGR_L_GetSpatialRef(gl);
    ASSERT_NE(g, nullptr);
    if (c.authority && *c.authority == 0) {
      EXPECT_TRUE(OSRIsLocal(g));
      EXPECT_STREQ(OSRGetAttrValue(g, "LOCAL_CS", 0), "Undefined Cartesian SRS");
      continue;
    }
    // The same system as the shapefile's .prj states.
    OGRSpatialReferenceH fromPrj = OGR_L_GetSpatialRef(GDALDatasetGetLayer(shp.get(), 0));
    ASSERT_NE(fromPrj, nullptr);
    const char* criteria[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES", "CRITERION=EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS", nullptr};
    EXPECT_TRUE(OSRIsSameEx(g, fromPrj, criteria));
    const char* code = OSRGetAuthorityCode(g, nullptr);
    if (c.authority) {
      ASSERT_NE(code, nullptr);
      EXPECT_STREQ(code, c.authority);
    }
    // The coordinates as the shapefile has them.
    std::unique_ptr<void, void (*)(OGRFeatureH)> gf(OGR_L_GetNextFeature(gl), OGR_F_Destroy);
    std::unique_ptr<void, void (*)(OGRFeatureH)> sf(OGR_L_GetNextFeature(GDALDatasetGetLayer(shp.get(), 0)), OGR_F_Destroy);
    ASSERT_TRUE(gf && sf);
    EXPECT_TRUE(SameGeometry(OGR_F_GetGeometryRef(sf.get()), OGR_F_GetGeometryRef(gf.get())));
  }
}

TEST(GeoPackageOutput, OneFileHoldsEveryTableAndNoneIsWrittenOver) {
  KvxTest::TempDir dir;
  KvxTest::LayerBuilder layer = Roads();
  Kvx::FrameSettings s = PlainSettings();
  s.outputFormat = 1;
  s.symbolType = 2;
  s.qgisStyle = 1;
  const fs::path source = dir / "roads.wl";
  ASSERT_TRUE(layer.WriteTo(source));
  Kvx::StyleContext styles;
  const Kvx::GeoPackageTarget first{dir / "map.gpkg", "roads", nullptr};
  const Kvx::GeoPackageTarget second{dir / "map.gpkg", "道路", nullptr};
  EXPECT_EQ(Kvx::ConvertWL2SHP(source, dir / "a", {styles, Kvx::SilentNotifier(), &first}, s), Kvx::kConvertSuccess);
  EXPECT_EQ(Kvx::ConvertWL2SHP(source, dir / "b", {styles, Kvx::SilentNotifier(), &second}, s), Kvx::kConvertSuccess);
  // A table of a name that is taken is not written over: an error line and a failure.
  EXPECT_EQ(Kvx::ConvertWL2SHP(source, dir / "c", {styles, Kvx::SilentNotifier(), &first}, s), Kvx::kConvertOutputFailed);
  EXPECT_TRUE(Contains(LogLines(dir / "c.log"), "E__输出文件无法创建[" + (dir / "map.gpkg").string() + "]"));
  // An empty result in the same GeoPackage takes its table back, with its index and triggers.
  KvxTest::LayerBuilder empty = Lines(0);
  ASSERT_TRUE(empty.WriteTo(dir / "empty.wl"));
  const Kvx::GeoPackageTarget third{dir / "map.gpkg", "nothing", nullptr};
  EXPECT_EQ(Kvx::ConvertWL2SHP(dir / "empty.wl", dir / "d", {styles, Kvx::SilentNotifier(), &third}, s), Kvx::kConvertEmpty);
  Dataset gpkg = OpenVector(dir / "map.gpkg");
  ASSERT_TRUE(gpkg);
  OGRLayerH leftovers = GDALDatasetExecuteSQL(gpkg.get(),
      "SELECT name FROM sqlite_master WHERE name LIKE '%nothing%' UNION ALL "
      "SELECT table_name FROM gpkg_contents WHERE table_name = 'nothing' UNION ALL "
      "SELECT table_name FROM gpkg_extensions WHERE table_name = 'nothing' UNION ALL "
      "SELECT f_table_name FROM layer_styles WHERE f_table_name = 'nothing'", nullptr, nullptr);
  ASSERT_NE(leftovers, nullptr);
  EXPECT_EQ(OGR_L_GetFeatureCount(leftovers, TRUE), 0);
  GDALDatasetReleaseResultSet(gpkg.get(), leftovers);
  EXPECT_EQ(TableNames(gpkg.get()), (std::vector<std::string>{"roads", "道路", "layer_styles"}));
  EXPECT_EQ(OGR_L_GetFeatureCount(GDALDatasetGetLayerByName(gpkg.get(), "roads"), TRUE), 3);
  // One default style per table, as QGIS finds it.
  OGRLayerH styleRows = GDALDatasetGetLayerByName(gpkg.get(), "layer_styles");
  ASSERT_NE(styleRows, nullptr);
  OGR_L_SetAttributeFilter(styleRows, "useAsDefault = 1 AND f_geometry_column = 'geom' AND f_table_schema = ''");
  std::vector<std::string> styled;
  while (OGRFeatureH f = OGR_L_GetNextFeature(styleRows)) {
    styled.push_back(OGR_F_GetFieldAsString(f, OGR_F_GetFieldIndex(f, "f_table_name")));
    const std::string qml = OGR_F_GetFieldAsString(f, OGR_F_GetFieldIndex(f, "styleQML"));
    EXPECT_NE(qml.find("<qgis"), std::string::npos);
    OGR_F_Destroy(f);
  }
  EXPECT_EQ(styled, (std::vector<std::string>{"roads", "道路"}));
  EXPECT_FALSE(fs::exists(dir / "a.qml"));
}

TEST(GeoPackageOutput, FailuresAndEmptyResultsLeaveNoTable) {
  const struct Case {
    const char* name;
    int lines;
    std::int32_t exportEmpty;
    bool readOnlyFolder;
    bool notAGeoPackage;
    std::int32_t result;
    bool fileAfter;
    int featuresAfter;  // -1: no table
  } cases[] = {
      {"empty result not kept", 0, 0, false, false, Kvx::kConvertEmpty, false, -1},
      {"empty result kept", 0, 1, false, false, Kvx::kConvertEmpty, true, 0},
      {"folder cannot be written", 2, 0, true, false, Kvx::kConvertOutputFailed, false, -1},
      {"file that is no GeoPackage", 2, 0, false, true, Kvx::kConvertOutputFailed, true, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.readOnlyFolder && geteuid() == 0) {
      // root writes into read-only folders; the case needs an ordinary user.
      continue;
    }
    KvxTest::TempDir dir;
    KvxTest::LayerBuilder layer = Lines(c.lines);
    const fs::path out = dir / "out";
    fs::create_directories(out);
    const fs::path source = dir / "in.wl";
    ASSERT_TRUE(layer.WriteTo(source));
    if (c.notAGeoPackage) {
      std::ofstream(out / "roads.gpkg") << "not a GeoPackage";
    }
    Kvx::FrameSettings s = PlainSettings();
    s.outputFormat = 1;
    s.exportEmptyFile = c.exportEmpty;
    Kvx::StyleContext styles;
    if (c.readOnlyFolder) fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec);
    const std::int32_t result = Kvx::ConvertWL2SHP(source, out / "roads", {styles, Kvx::SilentNotifier()}, s);
    if (c.readOnlyFolder) fs::permissions(out, fs::perms::owner_all);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(fs::exists(out / "roads.gpkg"), c.fileAfter);
    if (c.result == Kvx::kConvertOutputFailed && !c.readOnlyFolder) {
      EXPECT_TRUE(Contains(LogLines(out / "roads.log"), "E__输出文件无法创建[" + (out / "roads.gpkg").string() + "]"));
    }
    if (c.notAGeoPackage) {
      EXPECT_EQ(ReadBytes(out / "roads.gpkg"), "not a GeoPackage");
    }
    if (c.featuresAfter >= 0) {
      Dataset gpkg = OpenVector(out / "roads.gpkg");
      ASSERT_TRUE(gpkg);
      OGRLayerH l = GDALDatasetGetLayerByName(gpkg.get(), "roads");
      ASSERT_NE(l, nullptr);
      EXPECT_EQ(OGR_L_GetFeatureCount(l, TRUE), c.featuresAfter);
    }
  }
}

}  // namespace
