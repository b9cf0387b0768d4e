#pragma once

// A table of a GeoPackage as the output of a layer conversion, written through GDAL's C API (in the
// module kvx_geopackage.so, loaded on first use).
//
// The GeoPackage is created when it does not exist yet, else opened and the table added; a table of
// the same name is never written over. The table keeps whole UTF-8 field names; dates are Date,
// timestamps DateTime, logical values Integer with the boolean subtype, integers Integer, reals
// Real, everything else text. Points are POINT, lines MULTILINESTRING and regions MULTIPOLYGON
// (rings grouped into polygons as the shapefile's ring orientation says), with a spatial index.
// The features go in as they come, in one transaction per table; the QGIS style goes into
// "layer_styles" as QGIS writes it, as the table's default style.
//
// Several conversions of one run may write the same GeoPackage: each holds the file's lock (one
// mutex per file, from the run's GeoPackageLocks) from opening to closing.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "engine/feature_sink.h"

namespace Kvx {

// One mutex per GeoPackage file, for one run.
class GeoPackageLocks {
 public:
  std::shared_ptr<std::mutex> For(const std::filesystem::path& file);

 private:
  std::mutex mutex_;
  std::map<std::filesystem::path, std::shared_ptr<std::mutex>> locks_;
};

// Where a conversion's table goes.
struct GeoPackageTarget {
  std::filesystem::path file;         // "<name>.gpkg"
  std::string table;                  // the table's name (UTF-8)
  std::shared_ptr<std::mutex> lock;   // the file's lock; null when nothing else writes the file
};

// The target of a stand-alone output: "<outputBase>.gpkg" holding the table named after the base.
GeoPackageTarget OwnGeoPackage(const std::filesystem::path& outputBase);

struct GeoPackageLayer {
  int shapeType = 3;         // 1 point, 3 line, 5 region
  bool gbkText = false;      // text values come in GBK (else UTF-8)
  std::string system;        // the coordinate system: an authority code, WKT or PROJ text; empty for none
  bool withStyle = false;    // a style will be stored (layer_styles is made ready)
};

// GDAL is loaded with the module that writes GeoPackages, the first time one is needed. Empty when
// that module is loaded (or loads now), else why it cannot be.
std::string GeoPackageSupportError();

// Whether `file` is a GeoPackage holding the table `table`.
bool GeoPackageHoldsTable(const std::filesystem::path& file, const std::string& table);

// Removes the table `target` names from its GeoPackage (holding its lock); false when there was
// none or it could not be removed.
bool DropGeoPackageTable(const GeoPackageTarget& target);

// Opens (or creates) the GeoPackage and checks that the table is free; null when it cannot.
std::unique_ptr<FeatureSink> OpenGeoPackageSink(const GeoPackageTarget& target, const GeoPackageLayer& layer);

}  // namespace Kvx
