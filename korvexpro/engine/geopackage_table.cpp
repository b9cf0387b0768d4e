// The GDAL half of GeoPackage output, built as a module of its own (kvx_geopackage.so) that the
// engine loads the first time a run writes or reads a GeoPackage: GDAL and the hundred libraries
// it brings take some 30 ms to load, which every start of the command line would pay otherwise.

#include "engine/geopackage_module.h"

#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

#include "vordex/text_encoding.h"

namespace Kvx {
namespace {

constexpr const char* kStylesTable = "layer_styles";

// GDAL's drivers, registered once for the process before any other GDAL call of the engine.
void RegisterDrivers() {
  static std::once_flag once;
  std::call_once(once, [] { GDALAllRegister(); });
}
struct DriversRegistered {
  DriversRegistered() { RegisterDrivers(); }
};

// GDAL's messages of this thread stay quiet while an output is open: failures come back as
// results and become log lines.
class QuietErrors {
 public:
  QuietErrors() { CPLPushErrorHandler(CPLQuietErrorHandler); }
  ~QuietErrors() { CPLPopErrorHandler(); }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;
};

struct SrsDeleter {
  void operator()(OGRSpatialReferenceH srs) const { OSRDestroySpatialReference(srs); }
};
using Srs = std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>, SrsDeleter>;

// The system of `text` with its authority code: as given when it names one, else the one system
// PROJ finds equivalent (when it finds exactly one at its best confidence), else as described.
// No text: the undefined Cartesian system.
Srs SystemOf(const std::string& text) {
  Srs srs(OSRNewSpatialReference(nullptr));
  if (text.empty()) {
    // A local system, or none: the GeoPackage's undefined Cartesian system (srs_id -1).
    if (srs) OSRSetLocalCS(srs.get(), "Undefined cartesian SRS");
    return srs;
  }
  if (!srs || OSRSetFromUserInput(srs.get(), text.c_str()) != OGRERR_NONE) return nullptr;
  if (OSRGetAuthorityName(srs.get(), nullptr) == nullptr) {
    int count = 0;
    int* confidence = nullptr;
    OGRSpatialReferenceH* matches = OSRFindMatches(srs.get(), nullptr, &count, &confidence);
    if (matches != nullptr && count > 0 && confidence[0] >= 70 && (count == 1 || confidence[1] < confidence[0]))
      srs.reset(OSRClone(matches[0]));
    OSRFreeSRSArray(matches);
    CPLFree(confidence);
  }
  if (srs) OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
  return srs;
}

OGRwkbGeometryType GeometryTypeOf(int shapeType) {
  switch (shapeType) {
    case 1: return wkbPoint;
    case 5: return wkbMultiPolygon;
    default: return wkbMultiLineString;
  }
}

OGRFieldType FieldTypeOf(const SinkField& f) {
  switch (f.kind) {
    case ValueKind::Integer: return f.width > 11 ? OFTInteger64 : OFTInteger;
    case ValueKind::Real: return OFTReal;
    case ValueKind::Date: return OFTDate;
    case ValueKind::TimeStamp: return OFTDateTime;
    case ValueKind::Logical: return OFTInteger;
    case ValueKind::Text:
    case ValueKind::Time:
    case ValueKind::Null: break;
  }
  return OFTString;
}

std::string Lower(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool ValidDate(int year, int month, int day) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

// The parts [start, end) of part p, or false when the part table does not fit the vertices.
bool PartRange(const SHPObject& s, int p, int& start, int& end) {
  start = s.panPartStart ? s.panPartStart[p] : 0;
  end = p + 1 < s.nParts && s.panPartStart ? s.panPartStart[p + 1] : s.nVertices;
  return start >= 0 && start <= end && end <= s.nVertices;
}

double SignedArea(const double* x, const double* y, int n) {
  double sum = 0;
  for (int i = 0; i + 1 < n; ++i) sum += x[i] * y[i + 1] - x[i + 1] * y[i];
  if (n > 1) sum += x[n - 1] * y[0] - x[0] * y[n - 1];
  return sum / 2;
}

bool RingContains(const double* x, const double* y, int n, double px, double py) {
  bool inside = false;
  for (int i = 0, j = n - 1; i < n; j = i++) {
    if ((y[i] > py) != (y[j] > py) && px < (x[j] - x[i]) * (py - y[i]) / (y[j] - y[i]) + x[i]) inside = !inside;
  }
  return inside;
}

OGRGeometryH LineOf(OGRwkbGeometryType type, const SHPObject& s, int start, int end) {
  OGRGeometryH g = OGR_G_CreateGeometry(type);
  OGR_G_SetPoints(g, end - start, s.padfX + start, sizeof(double), s.padfY + start, sizeof(double), nullptr, 0);
  return g;
}

// The OGR geometry of a shape; null for a null shape or one whose parts do not fit.
OGRGeometryH GeometryOf(const SHPObject& s) {
  if (s.nVertices <= 0 || !s.padfX || !s.padfY) return nullptr;
  if (s.nSHPType == SHPT_POINT) {
    OGRGeometryH g = OGR_G_CreateGeometry(wkbPoint);
    OGR_G_SetPoint_2D(g, 0, s.padfX[0], s.padfY[0]);
    return g;
  }
  const int parts = std::max(s.nParts, 1);
  if (s.nSHPType == SHPT_ARC) {
    OGRGeometryH g = OGR_G_CreateGeometry(wkbMultiLineString);
    for (int p = 0; p < parts; ++p) {
      int start = 0, end = 0;
      if (!PartRange(s, p, start, end)) {
        OGR_G_DestroyGeometry(g);
        return nullptr;
      }
      OGR_G_AddGeometryDirectly(g, LineOf(wkbLineString, s, start, end));
    }
    return g;
  }
  // Regions: clockwise rings are outer rings, the others holes of the smallest outer ring that
  // holds them (or polygons of their own when none does), as shapefile readers group them.
  struct Ring {
    int start, end;
    double area;
    std::vector<int> holes;
  };
  std::vector<Ring> rings;
  for (int p = 0; p < parts; ++p) {
    int start = 0, end = 0;
    if (!PartRange(s, p, start, end)) return nullptr;
    rings.push_back({start, end, SignedArea(s.padfX + start, s.padfY + start, end - start), {}});
  }
  std::vector<int> outers;
  for (int r = 0; r < static_cast<int>(rings.size()); ++r)
    if (rings[static_cast<std::size_t>(r)].area <= 0) outers.push_back(r);
  std::vector<int> own;  // holes that no outer ring holds
  for (int r = 0; r < static_cast<int>(rings.size()); ++r) {
    const Ring& hole = rings[static_cast<std::size_t>(r)];
    if (hole.area <= 0) continue;
    int best = -1;
    for (int o : outers) {
      const Ring& outer = rings[static_cast<std::size_t>(o)];
      if (!RingContains(s.padfX + outer.start, s.padfY + outer.start, outer.end - outer.start, s.padfX[hole.start],
                        s.padfY[hole.start]))
        continue;
      if (best < 0 || std::fabs(outer.area) < std::fabs(rings[static_cast<std::size_t>(best)].area)) best = o;
    }
    if (best >= 0) {
      rings[static_cast<std::size_t>(best)].holes.push_back(r);
    } else {
      own.push_back(r);
    }
  }
  OGRGeometryH g = OGR_G_CreateGeometry(wkbMultiPolygon);
  for (int r = 0; r < static_cast<int>(rings.size()); ++r) {
    const Ring& ring = rings[static_cast<std::size_t>(r)];
    const bool outer = ring.area <= 0 || std::find(own.begin(), own.end(), r) != own.end();
    if (!outer) continue;
    OGRGeometryH polygon = OGR_G_CreateGeometry(wkbPolygon);
    OGR_G_AddGeometryDirectly(polygon, LineOf(wkbLinearRing, s, ring.start, ring.end));
    for (int h : ring.holes) {
      const Ring& hole = rings[static_cast<std::size_t>(h)];
      OGR_G_AddGeometryDirectly(polygon, LineOf(wkbLinearRing, s, hole.start, hole.end));
    }
    OGR_G_AddGeometryDirectly(g, polygon);
  }
  return g;
}

// Runs one SQL statement; false when it fails.
bool Execute(GDALDatasetH ds, const std::string& sql) {
  CPLErrorReset();
  OGRLayerH result = GDALDatasetExecuteSQL(ds, sql.c_str(), nullptr, nullptr);
  if (result) GDALDatasetReleaseResultSet(ds, result);
  return CPLGetLastErrorType() != CE_Failure;
}

// The first value of the first row of a query, as text; nothing when there is none.
std::optional<std::string> QueryText(GDALDatasetH ds, const std::string& sql) {
  CPLErrorReset();
  OGRLayerH result = GDALDatasetExecuteSQL(ds, sql.c_str(), nullptr, nullptr);
  if (!result) return std::nullopt;
  std::optional<std::string> value;
  if (OGRFeatureH f = OGR_L_GetNextFeature(result)) {
    if (OGR_F_IsFieldSetAndNotNull(f, 0)) value = OGR_F_GetFieldAsString(f, 0);
    OGR_F_Destroy(f);
  }
  GDALDatasetReleaseResultSet(ds, result);
  return value;
}

std::string Quoted(std::string_view text, char quote) {
  std::string s(1, quote);
  for (char c : text) {
    s += c;
    if (c == quote) s += c;
  }
  s += quote;
  return s;
}

// The GeoPackage spatial index of one table (SQLite's R*Tree "rtree_<table>_<geometry>"), filled in
// one pass at the end: the boxes of the features are kept as they go in (24 bytes each), then
// packed bottom-up into full nodes (sort-tile-recursive) and written into the R*Tree's node, rowid
// and parent tables, as SQLite itself stores them. Inserting a million boxes one by one costs
// seconds; packing them costs a fraction of that, and gives a tree with less overlap.
class PackedIndex {
 public:
  // Makes the (empty) index of the table with its triggers, and learns its node size.
  bool Prepare(GDALDatasetH ds, const std::string& table, const char* geometryColumn) {
    const std::string column = geometryColumn && *geometryColumn ? geometryColumn : "geom";
    if (!Execute(ds, "SELECT CreateSpatialIndex(" + Quoted(table, '\'') + ", " + Quoted(column, '\'') + ")"))
      return false;
    name_ = "rtree_" + table + "_" + column;
    trigger_ = name_ + "_insert";
    const auto size = QueryText(ds, "SELECT length(data) FROM " + Quoted(name_ + "_node", '"') + " WHERE nodeno = 1");
    const auto sql = QueryText(ds, "SELECT sql FROM sqlite_master WHERE type = 'trigger' AND name = " + Quoted(trigger_, '\''));
    if (!size || !sql) return false;
    nodeSize_ = std::atoi(size->c_str());
    triggerSql_ = *sql;
    // A node holds 2 bytes of depth, 2 of cell count, then cells of a 64-bit id and four floats.
    return nodeSize_ >= 4 + 2 * kCellBytes;
  }

  bool SuspendTrigger(GDALDatasetH ds) { return Execute(ds, "DROP TRIGGER " + Quoted(trigger_, '"')); }

  void Add(GIntBig id, double minX, double maxX, double minY, double maxY) {
    entries_.push_back({static_cast<std::int64_t>(id), {Down(minX), Up(maxX), Down(minY), Up(maxY)}});
  }

  // Writes the packed tree and puts the insert trigger back.
  bool Fill(GDALDatasetH ds) {
    const std::string node = Quoted(name_ + "_node", '"');
    if (!Execute(ds, "DELETE FROM " + node) || !Execute(ds, "DELETE FROM " + Quoted(name_ + "_rowid", '"')) ||
        !Execute(ds, "DELETE FROM " + Quoted(name_ + "_parent", '"')))
      return false;
    const std::size_t perNode = static_cast<std::size_t>((nodeSize_ - 4) / kCellBytes);
    std::vector<Entry> level = std::move(entries_);
    entries_ = {};
    int depth = 0;
    std::int64_t next = 2;  // node 1 is the root
    while (level.size() > perNode) {
      // Slices of whole nodes by x, each cut into nodes by y.
      const std::size_t nodes = (level.size() + perNode - 1) / perNode;
      const auto slices = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(nodes))));
      const std::size_t perSlice = slices * perNode;
      std::sort(level.begin(), level.end(), [](const Entry& a, const Entry& b) { return CentreX(a) < CentreX(b); });
      std::vector<Entry> parents;
      for (std::size_t s0 = 0; s0 < level.size(); s0 += perSlice) {
        const auto sliceEnd = level.begin() + static_cast<std::ptrdiff_t>(std::min(level.size(), s0 + perSlice));
        std::sort(level.begin() + static_cast<std::ptrdiff_t>(s0), sliceEnd,
                  [](const Entry& a, const Entry& b) { return CentreY(a) < CentreY(b); });
        for (auto it = level.begin() + static_cast<std::ptrdiff_t>(s0); it < sliceEnd;) {
          const auto end = it + std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(perNode), sliceEnd - it);
          const std::int64_t number = next++;
          if (!Node(ds, number, 0, depth, it, end)) return false;
          parents.push_back(Union(number, it, end));
          it = end;
        }
      }
      level = std::move(parents);
      ++depth;
    }
    return Node(ds, 1, depth, depth, level.begin(), level.end()) && FlushRows(ds) && Execute(ds, triggerSql_);
  }

 private:
  static constexpr int kCellBytes = 24;
  struct Entry {
    std::int64_t id;
    float box[4];  // min x, max x, min y, max y
  };
  static double CentreX(const Entry& e) { return (static_cast<double>(e.box[0]) + e.box[1]) / 2; }
  static double CentreY(const Entry& e) { return (static_cast<double>(e.box[2]) + e.box[3]) / 2; }
  // Boxes are stored as floats that hold the double box: minima rounded down, maxima up.
  static float Down(double v) {
    float f = static_cast<float>(v);
    if (static_cast<double>(f) > v) f = std::nextafter(f, -HUGE_VALF);
    return f;
  }
  static float Up(double v) {
    float f = static_cast<float>(v);
    if (static_cast<double>(f) < v) f = std::nextafter(f, HUGE_VALF);
    return f;
  }
  static Entry Union(std::int64_t id, std::vector<Entry>::const_iterator first, std::vector<Entry>::const_iterator end) {
    Entry u{id, {first->box[0], first->box[1], first->box[2], first->box[3]}};
    for (auto it = first; it != end; ++it) {
      u.box[0] = std::min(u.box[0], it->box[0]);
      u.box[1] = std::max(u.box[1], it->box[1]);
      u.box[2] = std::min(u.box[2], it->box[2]);
      u.box[3] = std::max(u.box[3], it->box[3]);
    }
    return u;
  }
  static void Big(std::string& hex, std::uint64_t value, int bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int i = bytes - 1; i >= 0; --i) {
      const auto b = static_cast<unsigned>((value >> (8 * i)) & 0xFF);
      hex += kDigits[b >> 4];
      hex += kDigits[b & 15];
    }
  }

  // Node `number` holding the cells [first, end): entries on level 0, child nodes above. Its
  // children are recorded in the rowid (entries) or parent (nodes) table.
  bool Node(GDALDatasetH ds, std::int64_t number, int depthField, int level, std::vector<Entry>::const_iterator first,
            std::vector<Entry>::const_iterator end) {
    std::string hex;
    hex.reserve(static_cast<std::size_t>(nodeSize_) * 2);
    Big(hex, static_cast<std::uint64_t>(depthField), 2);
    Big(hex, static_cast<std::uint64_t>(end - first), 2);
    for (auto it = first; it != end; ++it) {
      Big(hex, static_cast<std::uint64_t>(it->id), 8);
      for (float f : it->box) {
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        Big(hex, bits, 4);
      }
      std::string& rows = level == 0 ? rowids_ : parents_;
      rows += rows.empty() ? "" : ",";
      rows += "(" + std::to_string(it->id) + "," + std::to_string(number) + ")";
      if (++pendingRows_ >= 500 && !FlushRows(ds)) return false;
    }
    hex.resize(static_cast<std::size_t>(nodeSize_) * 2, '0');
    if (!nodes_.empty()) nodes_ += ",";
    nodes_ += "(" + std::to_string(number) + ",X'" + hex + "')";
    return ++pendingNodes_ < 64 || FlushNodes(ds);
  }
  bool FlushNodes(GDALDatasetH ds) {
    pendingNodes_ = 0;
    if (nodes_.empty()) return true;
    const bool ok = Execute(ds, "INSERT INTO " + Quoted(name_ + "_node", '"') + " (nodeno, data) VALUES " + nodes_);
    nodes_.clear();
    return ok;
  }
  bool FlushRows(GDALDatasetH ds) {
    pendingRows_ = 0;
    bool ok = FlushNodes(ds);
    if (!rowids_.empty()) ok = ok && Execute(ds, "INSERT INTO " + Quoted(name_ + "_rowid", '"') + " (rowid, nodeno) VALUES " + rowids_);
    if (!parents_.empty())
      ok = ok && Execute(ds, "INSERT INTO " + Quoted(name_ + "_parent", '"') + " (nodeno, parentnode) VALUES " + parents_);
    rowids_.clear();
    parents_.clear();
    return ok;
  }

  std::vector<Entry> entries_;
  std::string name_, trigger_, triggerSql_;
  int nodeSize_ = 0;
  std::string nodes_, rowids_, parents_;
  int pendingNodes_ = 0;
  int pendingRows_ = 0;
};

class GeoPackageSink final : public FeatureSink {
 public:
  GeoPackageSink(const GeoPackageTarget& target, const GeoPackageLayer& layer)
      : target_(target), layer_(layer), srs_(SystemOf(layer.system)) {
    if (target_.lock) hold_ = std::unique_lock<std::mutex>(*target_.lock);
  }
  ~GeoPackageSink() override {
    if (!closed_) Close(true);
  }

  bool Open() {
    RegisterDrivers();
    if (!srs_) return false;
    std::error_code ec;
    const bool exists = std::filesystem::exists(target_.file, ec);
    if (exists) {
      const char* drivers[] = {"GPKG", nullptr};
      ds_ = GDALOpenEx(target_.file.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, drivers, nullptr, nullptr);
    } else if (GDALDriverH driver = GDALGetDriverByName("GPKG")) {
      ds_ = GDALCreate(driver, target_.file.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
      created_ = ds_ != nullptr;
    }
    if (!ds_) return false;
    // A table of this name is never written over.
    if (GDALDatasetGetLayerByName(ds_, target_.table.c_str()) != nullptr || Lower(target_.table) == kStylesTable)
      return false;
    if (layer_.withStyle && !StylesTable()) return false;
    return true;
  }

  std::filesystem::path TablePath() const override { return target_.file; }
  std::filesystem::path ShapePath() const override { return target_.file; }

  int AddField(const SinkField& field) override {
    if (layerH_) return -1;
    std::string name(field.wholeName);
    if (name.empty()) name = "field_" + std::to_string(fields_.size() + 1);
    // Column names are compared without regard to letter case; the key and geometry columns are taken.
    const std::string stem = name;
    for (int n = 2; taken_.count(Lower(name)) != 0; ++n) name = stem + "_" + std::to_string(n);
    taken_.insert(Lower(name));
    fields_.push_back({name, field});
    return static_cast<int>(fields_.size()) - 1;
  }
  int FieldCount() const override { return static_cast<int>(fields_.size()); }
  int FieldWidth(int field) const override {
    return field >= 0 && field < FieldCount() ? fields_[static_cast<std::size_t>(field)].column.width : 0;
  }
  std::string WholeName(int field) const override {
    return field >= 0 && field < FieldCount() ? fields_[static_cast<std::size_t>(field)].name : std::string();
  }

  bool BeginFeatures() override {
    if (!ds_ || layerH_) return false;
    char** options = nullptr;
    options = CSLSetNameValue(options, "GEOMETRY_NAME", "geom");
    options = CSLSetNameValue(options, "FID", "fid");
    // The spatial index is made while the table is empty and filled once, packed, at the end.
    options = CSLSetNameValue(options, "SPATIAL_INDEX", "NO");
    layerH_ = GDALDatasetCreateLayer(ds_, target_.table.c_str(), srs_.get(), GeometryTypeOf(layer_.shapeType), options);
    CSLDestroy(options);
    if (!layerH_) return false;
    for (const Field& f : fields_) {
      OGRFieldDefnH defn = OGR_Fld_Create(f.name.c_str(), FieldTypeOf(f.column));
      if (FieldTypeOf(f.column) == OFTString && f.column.width > 0) OGR_Fld_SetWidth(defn, f.column.width);
      if (f.column.kind == ValueKind::Logical) OGR_Fld_SetSubType(defn, OFSTBoolean);
      const OGRErr err = OGR_L_CreateField(layerH_, defn, FALSE);
      OGR_Fld_Destroy(defn);
      if (err != OGRERR_NONE) return false;
    }
    // The table exists before the transaction of its features begins.
    if (OGR_L_SyncToDisk(layerH_) != OGRERR_NONE) return false;
    defn_ = OGR_L_GetLayerDefn(layerH_);
    if (!index_.Prepare(ds_, target_.table, OGR_L_GetGeometryColumn(layerH_))) return false;
    if (GDALDatasetStartTransaction(ds_, FALSE) != OGRERR_NONE) return false;
    inTransaction_ = true;
    // Features go in without the index's insert trigger; the index is packed at the end.
    return index_.SuspendTrigger(ds_);
  }

  bool Append(SHPObject* shape) override {
    if (!inTransaction_ || !shape || !Flush()) return false;
    pending_ = OGR_F_Create(defn_);
    if (!pending_) return false;
    if (OGRGeometryH g = GeometryOf(*shape)) OGR_F_SetGeometryDirectly(pending_, g);
    pendingRow_ = rows_++;
    return true;
  }

  bool WriteInteger(int row, int field, std::int64_t value) override {
    if (!Writable(row, field)) return false;
    OGR_F_SetFieldInteger64(pending_, field, static_cast<GIntBig>(value));
    return true;
  }
  bool WriteDouble(int row, int field, double value) override {
    if (!Writable(row, field)) return false;
    if (!std::isfinite(value)) return WriteNull(row, field);
    OGR_F_SetFieldDouble(pending_, field, value);
    return true;
  }
  bool WriteFloat(int row, int field, float value) override {
    // The shortest decimal text of the float, as a double: 1.23f is 1.23, not 1.2300000190734863.
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, value);
    double v = static_cast<double>(value);
    if (r.ec == std::errc{}) std::from_chars(text, r.ptr, v);
    return WriteDouble(row, field, v);
  }
  bool WriteString(int row, int field, const char* text) override {
    if (!Writable(row, field)) return false;
    if (!text) return WriteNull(row, field);
    if (layer_.gbkText) {
      OGR_F_SetFieldString(pending_, field, codec_.ToUtf8(text).c_str());
    } else {
      OGR_F_SetFieldString(pending_, field, text);
    }
    return true;
  }
  bool WriteLogical(int row, int field, bool value) override {
    if (!Writable(row, field)) return false;
    OGR_F_SetFieldInteger(pending_, field, value ? 1 : 0);
    return true;
  }
  bool WriteNull(int row, int field) override {
    if (!Writable(row, field)) return false;
    OGR_F_SetFieldNull(pending_, field);
    return true;
  }
  // A date the calendar does not have is null: a Date column holds dates only.
  bool WriteDate(int row, int field, const char*, const MapGis::DATE_STRUstruct& d) override {
    if (!Writable(row, field)) return false;
    if (!ValidDate(d.year, d.month, d.day)) return WriteNull(row, field);
    OGR_F_SetFieldDateTimeEx(pending_, field, d.year, d.month, d.day, 0, 0, 0.0f, 0);
    return true;
  }
  bool WriteTimeStamp(int row, int field, const char*, const MapGis::TIMESTAMPstruct& s) override {
    if (!Writable(row, field)) return false;
    if (!ValidDate(s.year, s.month, s.day) || s.hour < 0 || s.hour > 23 || s.minute < 0 || s.minute > 59 ||
        s.second < 0 || s.second > 60)
      return WriteNull(row, field);
    // The fraction reads as the digits after the decimal point, eight at least ("%08d").
    double fraction = 0;
    if (s.fraction > 0) {
      double scale = 1e8;
      while (s.fraction >= scale) scale *= 10;
      fraction = s.fraction / scale;
    }
    OGR_F_SetFieldDateTimeEx(pending_, field, s.year, s.month, s.day, s.hour, s.minute,
                             static_cast<float>(s.second + fraction), 0);
    return true;
  }

  bool StoresStyle() const override { return true; }
  bool StoreStyle(std::string_view qml) override {
    OGRLayerH styles = ds_ ? GDALDatasetGetLayerByName(ds_, kStylesTable) : nullptr;
    if (!styles || !layerH_) return false;
    OGRFeatureH f = OGR_F_Create(OGR_L_GetLayerDefn(styles));
    if (!f) return false;
    const std::string text(qml);
    const char* geometryColumn = OGR_L_GetGeometryColumn(layerH_);
    const struct {
      const char* field;
      const char* value;
    } texts[] = {{"f_table_catalog", ""},
                 {"f_table_schema", ""},
                 {"f_table_name", target_.table.c_str()},
                 {"f_geometry_column", geometryColumn ? geometryColumn : "geom"},
                 {"styleName", target_.table.c_str()},
                 {"styleQML", text.c_str()},
                 {"styleSLD", ""},
                 {"description", ""},
                 {"owner", ""}};
    bool ok = true;
    for (const auto& t : texts) {
      const int i = OGR_F_GetFieldIndex(f, t.field);
      if (i < 0) ok = false;
      else OGR_F_SetFieldString(f, i, t.value);
    }
    const int useAsDefault = OGR_F_GetFieldIndex(f, "useAsDefault");
    if (useAsDefault < 0) ok = false;
    else OGR_F_SetFieldInteger(f, useAsDefault, 1);
    ok = ok && OGR_L_CreateFeature(styles, f) == OGRERR_NONE;
    OGR_F_Destroy(f);
    return ok;
  }

  bool Close(bool discard) override {
    if (closed_) return !failed_;
    closed_ = true;
    bool ok = ds_ != nullptr && Flush();
    bool kept = false;
    if (ok && !discard && inTransaction_) {
      // The spatial index is filled inside the transaction, then everything is committed at once.
      ok = index_.Fill(ds_) && OGR_L_SyncToDisk(layerH_) == OGRERR_NONE &&
           GDALDatasetCommitTransaction(ds_) == OGRERR_NONE;
      inTransaction_ = false;
      kept = ok;
    }
    if (ds_ && !kept) {
      if (inTransaction_) GDALDatasetRollbackTransaction(ds_);
      inTransaction_ = false;
      DropTable();
    }
    if (ds_) {
      CPLErrorReset();
      GDALClose(ds_);
      if (CPLGetLastErrorType() == CE_Failure) ok = false;
      ds_ = nullptr;
    }
    if (!kept && created_) {
      // Nothing else was written into the GeoPackage made for this table (its lock was held).
      std::error_code ec;
      std::filesystem::remove(target_.file, ec);
    }
    failed_ = !ok && !discard;
    if (hold_.owns_lock()) hold_.unlock();
    return discard ? true : ok;
  }
  std::filesystem::path FailedPath() const override { return target_.file; }

 private:
  struct Field {
    std::string name;
    SinkField column;
  };

  bool Writable(int row, int field) const {
    return pending_ != nullptr && row == pendingRow_ && field >= 0 && field < FieldCount();
  }

  bool Flush() {
    if (!pending_) return true;
    const bool ok = OGR_L_CreateFeature(layerH_, pending_) == OGRERR_NONE;
    if (ok) {
      OGRGeometryH g = OGR_F_GetGeometryRef(pending_);
      if (g != nullptr && !OGR_G_IsEmpty(g)) {
        OGREnvelope e;
        OGR_G_GetEnvelope(g, &e);
        index_.Add(OGR_F_GetFID(pending_), e.MinX, e.MaxX, e.MinY, e.MaxY);
      }
    }
    OGR_F_Destroy(pending_);
    pending_ = nullptr;
    return ok;
  }

  void DropTable() {
    if (pending_) {
      OGR_F_Destroy(pending_);
      pending_ = nullptr;
    }
    if (!layerH_) return;
    const int count = GDALDatasetGetLayerCount(ds_);
    for (int i = 0; i < count; ++i) {
      if (GDALDatasetGetLayer(ds_, i) == layerH_) {
        GDALDatasetDeleteLayer(ds_, i);
        break;
      }
    }
    layerH_ = nullptr;
  }

  // The styles table as QGIS makes it.
  bool StylesTable() {
    if (GDALDatasetGetLayerByName(ds_, kStylesTable) != nullptr) return true;
    char** options = CSLSetNameValue(nullptr, "FID", "id");
    OGRLayerH styles = GDALDatasetCreateLayer(ds_, kStylesTable, nullptr, wkbNone, options);
    CSLDestroy(options);
    if (!styles) return false;
    const struct {
      const char* name;
      OGRFieldType type;
      int width;
    } fields[] = {{"f_table_catalog", OFTString, 256}, {"f_table_schema", OFTString, 256},
                  {"f_table_name", OFTString, 256},    {"f_geometry_column", OFTString, 256},
                  {"styleName", OFTString, 30},        {"styleQML", OFTString, 0},
                  {"styleSLD", OFTString, 0},          {"useAsDefault", OFTInteger, 0},
                  {"description", OFTString, 0},       {"owner", OFTString, 30},
                  {"ui", OFTString, 30},               {"update_time", OFTDateTime, 0}};
    for (const auto& f : fields) {
      OGRFieldDefnH defn = OGR_Fld_Create(f.name, f.type);
      if (f.width > 0) OGR_Fld_SetWidth(defn, f.width);
      if (f.type == OFTInteger) OGR_Fld_SetSubType(defn, OFSTBoolean);
      if (f.type == OFTDateTime) OGR_Fld_SetDefault(defn, "CURRENT_TIMESTAMP");
      const OGRErr err = OGR_L_CreateField(styles, defn, FALSE);
      OGR_Fld_Destroy(defn);
      if (err != OGRERR_NONE) return false;
    }
    return OGR_L_SyncToDisk(styles) == OGRERR_NONE;
  }

  DriversRegistered registered_;  // first: before the error handler and the system are made
  QuietErrors quiet_;
  PackedIndex index_;
  MapGis::GbkCodec codec_;  // GBK text values to UTF-8, one converter for the table
  GeoPackageTarget target_;
  GeoPackageLayer layer_;
  std::unique_lock<std::mutex> hold_;
  Srs srs_;
  GDALDatasetH ds_ = nullptr;
  OGRLayerH layerH_ = nullptr;
  OGRFeatureDefnH defn_ = nullptr;
  OGRFeatureH pending_ = nullptr;
  int pendingRow_ = -1;
  int rows_ = 0;
  std::vector<Field> fields_;
  std::set<std::string> taken_{"fid", "geom"};
  bool created_ = false;
  bool inTransaction_ = false;
  bool closed_ = false;
  bool failed_ = false;
};

}  // namespace

namespace {

bool HoldsTable(const std::filesystem::path& file, const std::string& table) {
  RegisterDrivers();
  QuietErrors quiet;
  const char* drivers[] = {"GPKG", nullptr};
  GDALDatasetH ds = GDALOpenEx(file.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr);
  if (!ds) return false;
  const bool held = GDALDatasetGetLayerByName(ds, table.c_str()) != nullptr;
  GDALClose(ds);
  return held;
}

bool DropTable(const GeoPackageTarget& target) {
  std::unique_lock<std::mutex> hold;
  if (target.lock) hold = std::unique_lock<std::mutex>(*target.lock);
  RegisterDrivers();
  QuietErrors quiet;
  std::error_code ec;
  if (!std::filesystem::exists(target.file, ec)) return false;
  const char* drivers[] = {"GPKG", nullptr};
  GDALDatasetH ds = GDALOpenEx(target.file.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, drivers, nullptr, nullptr);
  if (!ds) return false;
  bool dropped = false;
  for (int i = 0; i < GDALDatasetGetLayerCount(ds) && !dropped; ++i) {
    if (target.table == OGR_L_GetName(GDALDatasetGetLayer(ds, i))) {
      dropped = GDALDatasetDeleteLayer(ds, i) == OGRERR_NONE;
      // Its style goes with it.
      if (dropped && GDALDatasetGetLayerByName(ds, kStylesTable) != nullptr)
        Execute(ds, std::string("DELETE FROM ") + kStylesTable + " WHERE f_table_name = " + Quoted(target.table, '\''));
    }
  }
  GDALClose(ds);
  return dropped;
}

std::unique_ptr<FeatureSink> OpenSink(const GeoPackageTarget& target, const GeoPackageLayer& layer) {
  auto sink = std::make_unique<GeoPackageSink>(target, layer);
  if (!sink->Open()) return nullptr;
  return sink;
}

}  // namespace

}  // namespace Kvx

extern "C" KVX_MODULE_ENTRY const void* kvx_geopackage_module() {
  static const Kvx::GeoPackageModule module{Kvx::GeoPackageModule::kName.version, Kvx::HoldsTable, Kvx::DropTable,
                                            Kvx::OpenSink};
  return &module;
}
