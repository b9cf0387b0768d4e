#pragma once

// MapGis_Writer and MapGis_FastWriter: build one MapGIS layer file (.wl .wt .wp .wb) in memory
// and write it in the layer container format when flushed. Both share MapGis_LayerWriter; they
// differ only in how the path is given (and MapGis_Writer takes UTF-8 field names).
//
// Calling order: Create; WriteProjection and AddFieldInfo for every field; the features with
// their attribute values; Flush (writes the whole file, may be repeated); Close. Failures are
// returned as status values (vordex/status.h), never thrown.
//
// The fields describe the attributes of the layer's own features: the points of a point layer and
// the lines of a line layer (directory entry 2), the regions of a region layer (entry 9), the rows
// of a table (entry 0). The other attribute areas of a kind (the arcs and nodes of a region
// layer, the nodes of a line layer) are written without fields, one record per slot. Flush gives
// every feature an attribute record: records never written hold zeros.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "vordex/export.h"
#include "vordex/geometry.h"
#include "vordex/status.h"

namespace MapGis {

class VORDEX_API MapGis_LayerWriter {
 public:
  virtual ~MapGis_LayerWriter();
  MapGis_LayerWriter(const MapGis_LayerWriter&) = delete;
  MapGis_LayerWriter& operator=(const MapGis_LayerWriter&) = delete;

  // The projection record of the layer; null leaves it as it is (new: zeros and three 1.0s).
  void WriteProjection(const MAP_PARAstruct* para);

  // A point or annotation (point layers only). A non-empty text (8-bit, stored as given, at most
  // 32767 bytes, cut before a double-byte character that would not fit) makes it an annotation:
  // textLength and textOffset are set, and pointType becomes 0 unless it was 5. Without text:
  // textLength 0, pointType 1. The geometry is not used. Returns Success, or ReadFailed when no
  // point layer is open, OutOfMemory.
  std::int32_t AddPointInfo(MAPGIS_PntInfo info, const Geometry* geom, const char* text);

  // A line (line and region layers): part `part` of `geom` is stored with the record, whose
  // pointCount and dataOffset are set. A geometry without parts counts as one part. Returns
  // Success; MultiPartLine when the geometry has more than one part (the selected part is
  // written all the same); ReadFailed for a null or inconsistent geometry, a part outside it,
  // or a layer without lines (nothing is added then); OutOfMemory.
  std::int32_t AddArcInfo(MAPGIS_LineInfo info, const Geometry* geom, std::int32_t part);
  // As AddArcInfo for the arcs of a region layer; a multi-part geometry gives Success.
  std::int32_t AddPolyArcInfo(MAPGIS_LineInfo info, const Geometry* geom, std::int32_t part);

  // A region (region layers): every ring of `geom` becomes one arc (parts of type 2 are left
  // out); the arc list, its length and its vertex total are set in the record. Returns Success,
  // ReadFailed (as AddArcInfo), OutOfMemory.
  std::int32_t AddPolygonInfo(MAPGIS_RegInfo info, const Geometry* geom);

  // Attribute values. `record` is the zero-based feature number (stored record record + 1);
  // records up to the number of features of the layer, or the next record, may be written in any
  // order. A value narrower than the field fills the rest of it with zeros (with the sign for
  // signed integers); text longer than the field is cut before a double-byte character that
  // would not fit. False for a record or field that does not exist, or when no layer is open.
  bool WriteByteAttribute(int record, int field, std::uint8_t value);
  bool WriteShortAttribute(int record, int field, std::int16_t value);
  bool WriteLongAttribute(int record, int field, std::int32_t value);
  bool WriteFloatAttribute(int record, int field, float value);
  bool WriteDoubleAttribute(int record, int field, double value);
  bool WriteBoolAttribute(int record, int field, bool value);
  bool WriteStringAttribute(int record, int field, const char* value);
  bool WriteTextAttribute(int record, int field, const char* value);
  bool WriteDateAttribute(int record, int field, DATE_STRUstruct value);
  bool WriteTimeAttribute(int record, int field, TIME_STRUstruct value);
  // Raw bytes of any field type; `length` bytes are taken from `bytes`.
  bool WriteBinareyAttribute(int record, int field, const void* bytes, std::int32_t length);

  // Writes the complete file from what has been collected; the collected data is not changed, so
  // Flush may be called again, also after more features were added. Returns Success; ReadFailed
  // when no layer is open or a write fails (the writer reports write failures with the read
  // failure code; the file is then partial); OutOfMemory.
  std::int32_t Flush();

  // Closes the file and releases everything collected; data added after the last Flush is not
  // written. Safe to call at any time.
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  // The layer kind given to Create, -1 when no layer is open.
  std::int32_t GetLayerKind() const { return kind_; }
  std::int32_t GetFieldCount() const { return static_cast<std::int32_t>(fields_.size()); }

 protected:
  MapGis_LayerWriter();

  // Creates (or replaces) the file and starts an empty layer of `kind` (0, 1, 2 or 7).
  // UnknownKind for any other kind (no file is created then), CannotOpen when the file cannot
  // be created.
  std::int32_t CreateLayer(const std::filesystem::path& path, std::int32_t kind);

  // Adds a field whose name is already 8-bit text; it is cut at 20 bytes before a double-byte
  // character that would not fit. Returns the new field count, or BadAttribute for a type code
  // outside 0..18, a size outside 0..32767 or a record that would grow too long, ReadFailed
  // when no layer is open, OutOfMemory.
  std::int32_t AddField(std::string_view name, std::int32_t type, std::int32_t size, std::int32_t width,
                        std::int32_t decimals);

 private:
  void Reset();
  std::int32_t AddLine(MAPGIS_LineInfo info, const Geometry* geom, std::int32_t part);
  void Extend(double x, double y);
  std::int32_t FeatureCount() const;
  std::uint8_t* RecordFor(int record, int field, std::int32_t* size);
  bool PutValue(int record, int field, const void* value, std::size_t width, bool signExtend);
  bool PutText(int record, int field, const char* value);

  int fd_ = -1;
  std::int32_t kind_ = -1;
  MAP_PARAstruct para_{};
  double extent_[4] = {0, 0, 0, 0};

  std::vector<MAPGIS_Field> fields_;
  std::int32_t recordLength_ = 1;
  std::vector<std::uint8_t> records_;   // attribute records 1.., recordLength_ bytes each
  std::int32_t recordCount_ = 0;        // records held in records_ (the placeholder excluded)

  std::vector<MAPGIS_PntInfo> points_;   // slot 0 is the placeholder
  std::vector<MAPGIS_LineInfo> lines_;   // slot 0 is the placeholder
  std::vector<MAPGIS_RegInfo> regions_;  // slot 0; arcListOffset relative to arcWords_
  std::vector<std::uint8_t> texts_;      // annotation texts, stored at data offset 2
  std::vector<double> vertices_;         // x, y pairs of all lines and arcs, stored at data offset 2
  std::vector<std::int32_t> arcWords_;   // arc lists of all regions, behind the vertices
};

// Writer taking a Unicode (native) path; field names are UTF-8 and stored as GBK.
class VORDEX_API MapGis_Writer : public MapGis_LayerWriter {
 public:
  MapGis_Writer();
  ~MapGis_Writer() override;

  std::int32_t Create(const std::filesystem::path& path, std::int32_t kind);
  // Returns the new field count (or a negative status, see MapGis_LayerWriter::AddField).
  std::int32_t AddFieldInfo(const char* utf8Name, std::int32_t type, std::int32_t size, std::int32_t width,
                            std::int32_t decimals);
};

// Writer taking a native 8-bit (UTF-8) path; field names are 8-bit text stored as given (cut
// at 20 bytes like every name).
class VORDEX_API MapGis_FastWriter : public MapGis_LayerWriter {
 public:
  MapGis_FastWriter();
  ~MapGis_FastWriter() override;

  std::int32_t Create(const char* path, std::int32_t kind);
  std::int32_t AddFieldInfo(const char* name, std::int32_t type, std::int32_t size, std::int32_t width,
                            std::int32_t decimals);
};

}  // namespace MapGis
