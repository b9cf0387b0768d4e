#pragma once

// The MapGIS layer readers (.wl .wt .wp .wn .wb). MapGis_FastReader is the one the conversion
// engine uses; MapGis_Reader (read-write, stores changed feature records back) and
// MapGis_MemReader (network nodes through their own operation, regions readable as arcs) are
// thin variants over the same container code, MapGis_LayerCore. Every size and offset read from
// a file is checked against the file before it is used; a damaged file gives a status, never a
// crash.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "vordex/export.h"
#include "vordex/geometry.h"
#include "vordex/status.h"

namespace MapGis {

class RandomAccessFile;

// Layer kinds as stored in the head.
enum LayerKind : std::int32_t {
  KindLine = 0,
  KindPoint = 1,
  KindRegion = 2,
  KindNetwork = 4,
  KindTable = 7,
};

// The record sections whose slots a layer counts.
enum class SlotSection { Points, Lines, Nodes, Regions };

// Field type codes of the attribute areas.
enum FieldType : std::int32_t {
  FieldString = 0,
  FieldByte = 1,
  FieldShort = 2,
  FieldLong = 3,
  FieldFloat = 4,
  FieldDouble = 5,
  FieldDate = 6,
  FieldTime = 7,
  FieldBool = 8,
  FieldText = 9,
  FieldTimeStamp = 16,
};

// The magic of a layer kind ("WMAP`D21" ...), or null for an unknown kind.
VORDEX_API const char* LayerMagic(std::int32_t kind);

// What tells the readers apart: head-check codes, how nodes, attributes and deleted arcs are
// handled. Each reader class fixes one set.
struct ReaderRules {
  std::int32_t reservedStatus;    // reserved field not 0
  std::int32_t directoryStatus;   // directory offset or entry count above 1024
  std::int32_t magicStatus;       // magic does not match the kind
  bool acceptNetwork;             // kind 4 is known
  bool closeOnHeadFailure;        // release the file when the head is refused
  bool writable;                  // open for reading and writing
  bool nodesAsPoints;             // network nodes are read with ReadPointInfo
  bool attributesByType;          // the attribute area is chosen by SetAttributeType
  bool checkAttributeHead;        // the field head must start 60 44 and carry tag 17504
  bool recordPerRead;             // attribute records are read one at a time, not as a block
  bool deletedArcEndsRegion;      // a deleted arc ends the region walk with -9981
  bool wideTicCount;              // the tic count is the 32-bit value at 592
};

// The bytes of a record section as the reader holds them: a view of the mapped layer file (no
// copy on the heap), or bytes of its own where the file is not mapped, where the reader builds
// the records, or once a record was changed.
class VORDEX_API RecordBlock {
 public:
  const std::uint8_t* data() const { return view_ != nullptr ? view_ : owned_.data(); }
  std::size_t size() const { return view_ != nullptr ? viewSize_ : owned_.size(); }
  bool empty() const { return size() == 0; }
  // Shows `bytes` bytes that stay valid until Clear() (the mapping of the open file).
  void View(const std::uint8_t* bytes, std::size_t count);
  // Bytes of its own, `count` of them, zero-filled; false when there is no memory.
  bool Own(std::size_t count);
  // The bytes to change: a view is copied first. nullptr when there is no memory for the copy.
  std::uint8_t* Writable();
  void Clear();

 private:
  const std::uint8_t* view_ = nullptr;
  std::size_t viewSize_ = 0;
  std::vector<std::uint8_t> owned_;
};

class VORDEX_API MapGis_LayerCore {
 public:
  virtual ~MapGis_LayerCore();
  MapGis_LayerCore(const MapGis_LayerCore&) = delete;
  MapGis_LayerCore& operator=(const MapGis_LayerCore&) = delete;

  void Close();

  std::int32_t GetTicCount() const;
  void GetExtentInfo(double* xMin, double* yMin, double* xMax, double* yMax) const;

  // The addressable slots (slot 0 not counted) of a record section that the section really
  // holds: the stored slot count, cut to what fits in the section (0 for a section the layer, as
  // it is read, does not have). The count operations answer the stored counts; a caller that
  // loops over slots loops over these, and a stored count above them is damage.
  std::int32_t HeldSlots(SlotSection which) const;

  // Features: index i addresses stored slot i + 1.
  std::int32_t ReadArcInfo(int index, MAPGIS_LineInfo* info, Geometry* geom);
  std::int32_t ReadPolygonInfo(int index, MAPGIS_RegInfo* info, Geometry* geom);
  std::int32_t GetNoteInfo(int index, char* text /* 260 bytes */);
  std::int32_t GetTicInfo(int index, MAPGIS_Tic_Info* tic);

  // Attributes.
  std::int32_t GetFieldCount();
  std::int32_t GetRecordCount();
  const char* ReadAttribute(int record, int field, int type);
  const char* ReadStringAttribute(int record, int field);
  const char* ReadTextAttribute(int record, int field);
  std::uint8_t ReadByteAttribute(int record, int field);
  std::int16_t ReadShortAttribute(int record, int field);
  std::int32_t ReadLongAttribute(int record, int field);
  float ReadFloatAttribute(int record, int field);
  double ReadDoubleAttribute(int record, int field);
  bool ReadBoolAttribute(int record, int field);
  DATE_STRUstruct ReadDateAttribute(int record, int field);
  TIME_STRUstruct ReadTimeAttribute(int record, int field);
  TIMESTAMPstruct ReadTimeStampAttribute(int record, int field);
  std::intptr_t ReadBinareyAttribute(int record, int field);

  // Number of bytes of the value the last ReadAttribute returned (after trimming), for callers
  // that need raw bytes with embedded zeros.
  std::int32_t GetLastValueSize() const { return lastValueSize_; }

  // A sentence that says what the last failure was (empty when none), for log lines.
  const std::string& GetLastErrorText() const { return lastError_; }

  // The copied head and directory, for diagnostic tools.
  const MAPGIS_HEAD& GetHead() const { return head_; }
  const MAPGIS_Element& GetElement() const { return element_; }
  const std::vector<MAPGIS_Part>& GetParts() const { return parts_; }
  std::int64_t GetFileSize() const;

 protected:
  explicit MapGis_LayerCore(const ReaderRules& rules);

  struct Section {
    std::int64_t offset = 0;
    std::int64_t length = 0;
  };

  std::int32_t OpenFile(const char* path);
  std::int32_t ProjectionCopy(MAP_PARAstruct* para) const;
  std::int32_t ReadPoint(int index, MAPGIS_PntInfo* info, Geometry* geom);
  std::int32_t ReadNode(int index, MAPGIS_PntInfo* info, Geometry* geom);
  std::int32_t ReadTopology(int index, MAPGIS_Topology* topo);
  std::int32_t FieldInfo(int index, char* name, int* size, int* width, int* decimals);
  std::int32_t FieldIndex(const char* name);
  // The kind the layer is read as (a region or network file can be read as a line file).
  std::int32_t EffectiveKind() const { return readKind_; }
  void ReadAsKind(std::int32_t kind);

  std::int32_t ReadPolyArc(int arcNo, int* pointCount, double* buffer, std::int64_t capacity);
  std::int32_t ReadPolyTopo(const MAPGIS_RegInfo& reg, std::int32_t* vertexTotal, std::vector<std::int32_t>* entries);
  std::int32_t ReadFieldInfo(int type);
  std::int32_t ReadRecordAll();
  std::int32_t ReadOneRecord(int record);
  std::int32_t CheckRecordBlock();
  std::int32_t NodesToPoints();
  std::int32_t FillPoint(Geometry* geom, double x, double y);
  void ClearGeomBuffer();
  void ClearAttrBuffer();

  std::int32_t Fail(std::int32_t status, std::string text);
  bool SectionOf(int entry, Section* out) const;
  std::int32_t LoadSections();
  // What reading the features of a damaged file may cost: the vertices (and arc-list words)
  // read, counted on the first read of each slot. In a sound file features do not share their
  // data (an arc serves at most two regions), so the totals stay within a few times the data
  // area; a file whose records all point at the same data would otherwise make the work, and
  // the output, grow with the square of the file's size.
  struct ReadBudget {
    std::vector<std::uint8_t> charged;  // per slot: already counted
    std::int64_t used = 0;
    std::int64_t slots = 0;  // slots counted
  };
  bool Charge(ReadBudget* budget, std::int64_t slot, std::int64_t amount, std::int64_t unitsInData);
  std::int32_t SlotsInSection(int entry, std::int32_t slots, std::size_t recordSize) const;
  std::int32_t LoadRecords(int entry, std::int32_t slots, std::size_t recordSize, RecordBlock* out,
                           const char* what);
  std::int32_t CheckDataRange(std::int64_t relOffset, std::int64_t bytes, const char* what, std::int64_t slot);
  std::int32_t ReadData(std::int64_t relOffset, void* buffer, std::int64_t bytes, const char* what, std::int64_t slot);
  std::int32_t PrepareValue(int record, int field, const MAPGIS_Field** def);
  int AttributeEntry(int type) const;
  std::int32_t RingCount(const std::vector<std::int32_t>& entries, std::int64_t n) const;

  const ReaderRules rules_;
  std::unique_ptr<RandomAccessFile> file_;
  MAPGIS_HEAD head_{};
  std::vector<MAPGIS_Part> parts_;
  MAP_PARAstruct para_{};
  MAPGIS_Element element_{};
  double extent_[4] = {0, 0, 0, 0};
  std::int32_t ticCount_ = 0;
  std::int32_t ticOffset_ = 0;
  bool opened_ = false;
  std::int32_t readKind_ = -1;

  bool sectionsLoaded_ = false;
  Section data_;
  bool dataKnown_ = false;
  RecordBlock points_;   // 93 bytes per point slot (or node slot, nodes read as points)
  RecordBlock nodes_;    // 55 bytes per node slot, as stored
  std::vector<std::uint8_t> nodeBad_;  // nodes whose parameter block could not be read
  RecordBlock lines_;    // 57 bytes per line slot
  RecordBlock regions_;  // 40 bytes per region slot
  std::vector<std::uint8_t> tics_;
  bool ticsLoaded_ = false;
  RecordBlock topology_;
  bool topologyLoaded_ = false;
  std::vector<double> arcScratch_;     // work buffer of line and region reads, reused
  std::vector<std::int32_t> arcList_;  // work buffer of region reads, reused
  ReadBudget lineVertices_;
  ReadBudget regionVertices_;
  ReadBudget regionWords_;

  std::int32_t attrType_ = -1;
  std::int32_t loadedType_ = -1;  // type whose structure is loaded, -1 none
  MAPGIS_FieldHead fieldHead_{};
  std::vector<MAPGIS_Field> fields_;
  Section attrArea_;
  bool recordsTried_ = false;
  bool recordsLoaded_ = false;
  RecordBlock records_;  // the whole block, or the current record alone
  std::int32_t currentRecord_ = -1;
  std::vector<char> scratch_;
  std::int32_t lastValueSize_ = 0;

  std::string lastError_;
};

// The reader the conversion engine uses: narrow (native) paths, read-only, attribute areas
// chosen by attribute type.
class VORDEX_API MapGis_FastReader : public MapGis_LayerCore {
 public:
  MapGis_FastReader();

  std::int32_t Open(const char* path);

  std::int32_t GetShapeType() const;
  std::int32_t GetPointCount(int* slots) const;
  std::int32_t GetArcCount(int* slots) const;
  std::int32_t GetPolygonCount(int* slots) const;
  std::int32_t GetProjectionInfo(MAP_PARAstruct* para) const { return ProjectionCopy(para); }

  // Points of a point file, and the nodes of a network file.
  std::int32_t ReadPointInfo(int index, MAPGIS_PntInfo* info, Geometry* geom) { return ReadPoint(index, info, geom); }
  std::int32_t ReadPointWKB(int index, MAPGIS_PntInfo* info, WKBPoint* wkb);
  std::int32_t ReadArcWKB(int index, MAPGIS_LineInfo* info, WKBLineString* wkb);
  std::int32_t ReadPolygonWKB(int index, MAPGIS_RegInfo* info, WKBPolygon* wkb);
  // Topology entry `index` of the section (not index + 1).
  std::int32_t GetTopoInfo(int index, MAPGIS_Topology* topo) { return ReadTopology(index, topo); }

  void SetAttributeType(int type);
  std::int32_t GetAttributeType() const { return attrType_; }
  std::int32_t GetFieldInfo(int index, char* name /* 32 bytes */, int* size, int* width, int* decimals) {
    return FieldInfo(index, name, size, width, decimals);
  }
  std::int32_t GetFieldIndex(const char* name) { return FieldIndex(name); }
};

// Unicode paths, opened for reading and writing; changed feature records can be stored back.
// Field names are handed out and looked up as UTF-8.
class VORDEX_API MapGis_Reader : public MapGis_LayerCore {
 public:
  MapGis_Reader();

  std::int32_t Open(const std::filesystem::path& path);

  // Live count; slots receives the addressable count, shapeType the shapefile code (1, 3, 5;
  // left alone for a table), ticCount the tic count. Region files answer for their regions.
  std::int32_t GetInfo(int* slots, int* shapeType, int* ticCount) const;
  std::int32_t GetProjection(MAP_PARAstruct* para) const { return ProjectionCopy(para); }
  std::int32_t ReadPointInfo(int index, MAPGIS_PntInfo* info, Geometry* geom) { return ReadPoint(index, info, geom); }

  std::int32_t SetPointInfo(int index, MAPGIS_PntInfo info);
  std::int32_t SetArcInfo(int index, MAPGIS_LineInfo info);
  std::int32_t SetPolygonInfo(int index, MAPGIS_RegInfo info);
  // Writes the in-memory record section of the layer's kind back to the file.
  std::int32_t WriteGeomInfo();
  // A point inside region `index` (see the library README for how it is found).
  std::int32_t GetPolyLab(int index, MAPGIS_RegExt* label);

  std::int32_t GetFieldInfo(int index, std::string* name, int* size, int* width, int* decimals);
  std::int32_t GetFieldIndex(const std::string& name);
};

// Unicode paths, read-only; network nodes through ReadNetPointInfo; a region or network file can
// be read as a line file after ReadAsPolyArc. Field names are UTF-8.
class VORDEX_API MapGis_MemReader : public MapGis_LayerCore {
 public:
  MapGis_MemReader();

  std::int32_t Open(const std::filesystem::path& path);

  // The shapefile code: 1 points, 3 lines and networks (and everything after ReadAsPolyArc),
  // 5 regions, -1 otherwise.
  std::int32_t GetShapeType() const;
  std::int32_t GetPntCount(int* slots) const;
  std::int32_t GetArcCount(int* slots) const;
  std::int32_t GetRegCount(int* slots) const;
  std::int32_t GetNetPntCount(int* slots) const;
  void ReadAsPolyArc();

  std::int32_t ReadPointInfo(int index, MAPGIS_PntInfo* info, Geometry* geom) { return ReadPoint(index, info, geom); }
  std::int32_t ReadNetPointInfo(int index, MAPGIS_PntInfo* info, Geometry* geom) { return ReadNode(index, info, geom); }
  std::int32_t GetTopoInfo(int index, MAPGIS_Topology* topo) { return ReadTopology(index, topo); }
  std::int32_t GetProjection(MAP_PARAstruct* para) const { return ProjectionCopy(para); }

  std::int32_t GetFieldInfo(int index, std::string* name, int* size, int* width, int* decimals);
  std::int32_t GetFieldIndex(const std::string& name);
};

}  // namespace MapGis
