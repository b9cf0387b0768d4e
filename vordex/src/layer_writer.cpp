#include "vordex/layer_writer.h"

#include "container_format.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "vordex/layer_reader.h"
#include "vordex/text_encoding.h"

namespace MapGis {
namespace {

constexpr std::int32_t kDirectoryOffset = 657;
constexpr int kDirectoryEntries = 16;
constexpr std::int64_t kFirstSection = 817;
constexpr std::int64_t kDataReserved = 2;     // the data area starts with 2 reserved bytes
constexpr std::size_t kFieldNameSize = sizeof(MAPGIS_Field::name);
constexpr std::size_t kMaxText = std::numeric_limits<std::int16_t>::max();
constexpr std::int64_t kMaxOffset = std::numeric_limits<std::int32_t>::max();
constexpr std::uint32_t kSlotValue = 0x00010000;  // the 4-byte per-slot value of new files
constexpr std::size_t kNodePlaceholder = sizeof(MAPGIS_NetPntInfo);
using namespace Container;

MAP_PARAstruct NewProjection() {
  MAP_PARAstruct para{};
  para.factor141 = 1.0;
  para.factor153 = 1.0;
  para.factor161 = 1.0;
  return para;
}

// The record of every arc that AddPolygonInfo stores for a ring.
MAPGIS_LineInfo RegionArcRecord() {
  MAPGIS_LineInfo arc{};
  arc.flag = 1;
  arc.lineType = 1;
  arc.auxType = 0;
  arc.transparent = 1;
  arc.color = 1;
  arc.width = 0.1f;
  arc.lineClass = 0;
  arc.xScale = 1.0f;
  arc.yScale = 1.0f;
  arc.auxColor = 1;
  arc.layer = 0;
  return arc;
}

// The vertex range [begin, end) of part `part`; false when the geometry is not consistent or the
// part does not exist. A geometry without parts is one part.
bool PartRange(const Geometry& g, std::int32_t part, std::int32_t* begin, std::int32_t* end) {
  if (g.vertexCount < 0 || g.partCount < 0) return false;
  if (g.vertexCount > 0 && (!g.x || !g.y)) return false;
  if (g.partCount == 0) {
    if (part != 0) return false;
    *begin = 0;
    *end = g.vertexCount;
    return true;
  }
  if (!g.partStart || part < 0 || part >= g.partCount) return false;
  const std::int32_t b = g.partStart[part];
  const std::int32_t e = part + 1 < g.partCount ? g.partStart[part + 1] : g.vertexCount;
  if (b < 0 || e < b || e > g.vertexCount) return false;
  *begin = b;
  *end = e;
  return true;
}

// Room for `extra` more elements, growing geometrically so that many small additions stay cheap.
// Throws std::bad_alloc like any growth; callers reserve before they change anything.
template <typename T>
void Reserve(std::vector<T>& v, std::size_t extra) {
  const std::size_t need = v.size() + extra;
  if (need > v.capacity()) v.reserve(std::max(need, 2 * v.capacity()));
}

template <typename T>
std::int32_t LiveCount(const std::vector<T>& slots) {
  std::int32_t n = 0;
  for (std::size_t k = 1; k < slots.size(); ++k) n += slots[k].flag == 1 ? 1 : 0;
  return n;
}

// Writes the file from offset 0 on, in order, through a buffer; remembers the first failure.
class SequentialOut {
 public:
  explicit SequentialOut(int fd) : fd_(fd) { buffer_.reserve(kBufferSize); }

  void Bytes(const void* data, std::size_t size) {
    if (!ok_ || size == 0) return;
    const auto* p = static_cast<const std::uint8_t*>(data);
    if (buffer_.size() + size > kBufferSize) Drain();
    if (size >= kBufferSize) {
      WriteAll(p, size);
      return;
    }
    buffer_.insert(buffer_.end(), p, p + size);
  }

  template <typename T>
  void Value(const T& value) {
    Bytes(&value, sizeof value);
  }

  void Repeat(const void* pattern, std::size_t size, std::int64_t count) {
    for (std::int64_t i = 0; i < count && ok_; ++i) Bytes(pattern, size);
  }

  void Zeros(std::size_t size) {
    static constexpr std::uint8_t kZero[256] = {};
    while (size > 0 && ok_) {
      std::size_t n = std::min(size, sizeof kZero);
      Bytes(kZero, n);
      size -= n;
    }
  }

  std::int64_t Position() const { return written_ + static_cast<std::int64_t>(buffer_.size()); }

  // Writes what is buffered and cuts the file to the bytes written (an earlier, longer file is
  // not left behind it).
  bool Finish() {
    Drain();
    if (ok_ && ::ftruncate(fd_, static_cast<off_t>(written_)) != 0) ok_ = false;
    return ok_;
  }

 private:
  static constexpr std::size_t kBufferSize = 1 << 18;

  void Drain() {
    if (!buffer_.empty()) WriteAll(buffer_.data(), buffer_.size());
    buffer_.clear();
  }

  void WriteAll(const std::uint8_t* p, std::size_t size) {
    while (ok_ && size > 0) {
      ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(written_));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok_ = false;
        return;
      }
      p += n;
      size -= static_cast<std::size_t>(n);
      written_ += n;
    }
  }

  int fd_;
  std::int64_t written_ = 0;
  std::vector<std::uint8_t> buffer_;
  bool ok_ = true;
};

// Bytes of an attribute area: head, definitions, `total` records (placeholder included).
std::int64_t AreaLength(std::size_t fieldCount, std::int32_t recordLength, std::int64_t total) {
  return static_cast<std::int64_t>(sizeof(MAPGIS_FieldHead)) +
         static_cast<std::int64_t>(sizeof(MAPGIS_Field)) * static_cast<std::int64_t>(fieldCount) +
         static_cast<std::int64_t>(recordLength) * total;
}

// Writes an attribute area: the head, the definitions, the placeholder record, `held` stored
// records, and new records (byte 0 = 1, zeros) up to `total` records in all.
void WriteArea(SequentialOut& out, const std::vector<MAPGIS_Field>& fields, std::int32_t recordLength,
               const std::vector<std::uint8_t>& records, std::int32_t held, std::int64_t total) {
  MAPGIS_FieldHead head{};
  std::memcpy(head.signature, kSignature, sizeof kSignature);
  head.recordsOffset = static_cast<std::int32_t>(sizeof(MAPGIS_FieldHead) + sizeof(MAPGIS_Field) * fields.size());
  head.headTag = kHeadTag;
  head.fieldCount = static_cast<std::int16_t>(fields.size());
  head.recordCount = static_cast<std::int32_t>(total);
  head.recordLength = recordLength;
  out.Value(head);
  if (!fields.empty()) out.Bytes(fields.data(), sizeof(MAPGIS_Field) * fields.size());

  std::vector<std::uint8_t> blank(static_cast<std::size_t>(recordLength), 0);
  blank[0] = 1;
  out.Bytes(blank.data(), blank.size());  // record 0, the placeholder
  out.Bytes(records.data(), static_cast<std::size_t>(held) * static_cast<std::size_t>(recordLength));
  out.Repeat(blank.data(), blank.size(), total - 1 - held);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Lifecycle

MapGis_LayerWriter::MapGis_LayerWriter() { Reset(); }

MapGis_LayerWriter::~MapGis_LayerWriter() { Close(); }

void MapGis_LayerWriter::Reset() {
  kind_ = -1;
  para_ = NewProjection();
  extent_[0] = extent_[1] = kBoundMin;
  extent_[2] = extent_[3] = kBoundMax;
  std::vector<MAPGIS_Field>().swap(fields_);
  recordLength_ = 1;
  std::vector<std::uint8_t>().swap(records_);
  recordCount_ = 0;
  std::vector<MAPGIS_PntInfo>().swap(points_);
  std::vector<MAPGIS_LineInfo>().swap(lines_);
  std::vector<MAPGIS_RegInfo>().swap(regions_);
  std::vector<std::uint8_t>().swap(texts_);
  std::vector<double>().swap(vertices_);
  std::vector<std::int32_t>().swap(arcWords_);
}

void MapGis_LayerWriter::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  Reset();
}

std::int32_t MapGis_LayerWriter::CreateLayer(const std::filesystem::path& path, std::int32_t kind) {
  Close();
  if (kind != KindLine && kind != KindPoint && kind != KindRegion && kind != KindTable) return Status::UnknownKind;
  if (path.empty()) return Status::CannotOpen;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return Status::CannotOpen;
  try {
    // Slot 0 of every record section is a placeholder.
    if (kind == KindPoint) points_.resize(1);
    if (kind == KindLine || kind == KindRegion) lines_.resize(1);
    if (kind == KindRegion) regions_.resize(1);
  } catch (const std::bad_alloc&) {
    ::close(fd);
    Reset();
    return Status::OutOfMemory;
  }
  fd_ = fd;
  kind_ = kind;
  return Status::Success;
}

void MapGis_LayerWriter::WriteProjection(const MAP_PARAstruct* para) {
  if (para) para_ = *para;
}

// ---------------------------------------------------------------------------------------------
// Fields and attribute values

std::int32_t MapGis_LayerWriter::AddField(std::string_view name, std::int32_t type, std::int32_t size,
                                          std::int32_t width, std::int32_t decimals) {
  if (kind_ < 0) return Status::ReadFailed;
  if (type < 0 || type > 18 || size < 0 || size > std::numeric_limits<std::int16_t>::max() || width < 0 ||
      width > std::numeric_limits<std::int16_t>::max() || decimals < 0 || decimals > std::numeric_limits<std::int8_t>::max())
    return Status::BadAttribute;
  if (fields_.size() >= static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max())) return Status::BadAttribute;
  const std::int64_t newLength = static_cast<std::int64_t>(recordLength_) + size;
  const std::int64_t newCount = static_cast<std::int64_t>(fields_.size()) + 1;
  if (AreaLength(static_cast<std::size_t>(newCount), static_cast<std::int32_t>(std::min(newLength, kMaxOffset)),
                 static_cast<std::int64_t>(std::max(recordCount_, FeatureCount())) + 1) > kMaxOffset)
    return Status::BadAttribute;

  MAPGIS_Field def{};
  const std::size_t n = GbkPrefixLength(name, kFieldNameSize);
  std::memcpy(def.name, name.data(), n);
  def.type = static_cast<std::int8_t>(type);
  def.offset = recordLength_;
  def.size = static_cast<std::int16_t>(size);
  def.width = static_cast<std::int16_t>(width);
  def.decimals = static_cast<std::int8_t>(decimals);
  def.flag30 = 1;
  def.unused31 = 0;
  def.ordinal = static_cast<std::uint16_t>(fields_.size());
  def.unused35 = 0;

  try {
    Reserve(fields_, 1);
    if (recordCount_ > 0 && size > 0) {
      // Records written before this field grow by its (zero) bytes.
      std::vector<std::uint8_t> grown(static_cast<std::size_t>(recordCount_) * static_cast<std::size_t>(newLength), 0);
      for (std::int32_t r = 0; r < recordCount_; ++r)
        std::memcpy(grown.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(newLength),
                    records_.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(recordLength_),
                    static_cast<std::size_t>(recordLength_));
      records_.swap(grown);
    }
  } catch (const std::bad_alloc&) {
    return Status::OutOfMemory;
  }
  fields_.push_back(def);
  recordLength_ = static_cast<std::int32_t>(newLength);
  return static_cast<std::int32_t>(fields_.size());
}

std::int32_t MapGis_LayerWriter::FeatureCount() const {
  switch (kind_) {
    case KindPoint: return static_cast<std::int32_t>(points_.size()) - 1;
    case KindLine: return static_cast<std::int32_t>(lines_.size()) - 1;
    case KindRegion: return static_cast<std::int32_t>(regions_.size()) - 1;
    default: return 0;
  }
}

// The attribute record `record` (stored record record + 1), created when it is the next one or a
// feature of that number exists; null when it may not be written.
std::uint8_t* MapGis_LayerWriter::RecordFor(int record, int field, std::int32_t* size) {
  if (kind_ < 0 || field < 0 || field >= static_cast<int>(fields_.size()) || record < 0) return nullptr;
  if (record > recordCount_ && record >= FeatureCount()) return nullptr;
  const auto length = static_cast<std::size_t>(recordLength_);
  if (record >= recordCount_) {
    const std::size_t old = records_.size();
    try {
      records_.resize(static_cast<std::size_t>(record + 1) * length, 0);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    for (std::size_t at = old; at < records_.size(); at += length) records_[at] = 1;
    recordCount_ = record + 1;
  }
  *size = fields_[static_cast<std::size_t>(field)].size;
  return records_.data() + static_cast<std::size_t>(record) * length +
         static_cast<std::size_t>(fields_[static_cast<std::size_t>(field)].offset);
}

bool MapGis_LayerWriter::PutValue(int record, int field, const void* value, std::size_t width, bool signExtend) {
  std::int32_t size = 0;
  std::uint8_t* at = RecordFor(record, field, &size);
  if (!at) return false;
  const std::size_t n = std::min(width, static_cast<std::size_t>(size));
  if (n > 0) std::memcpy(at, value, n);
  std::uint8_t fill = 0;
  if (signExtend && width > 0 && (static_cast<const std::uint8_t*>(value)[width - 1] & 0x80) != 0) fill = 0xFF;
  if (static_cast<std::size_t>(size) > n) std::memset(at + n, fill, static_cast<std::size_t>(size) - n);
  return true;
}

bool MapGis_LayerWriter::PutText(int record, int field, const char* value) {
  std::int32_t size = 0;
  std::uint8_t* at = RecordFor(record, field, &size);
  if (!at) return false;
  std::string_view text = value ? std::string_view(value) : std::string_view();
  const std::size_t n = GbkPrefixLength(text, static_cast<std::size_t>(size));
  if (n > 0) std::memcpy(at, text.data(), n);
  std::memset(at + n, 0, static_cast<std::size_t>(size) - n);
  return true;
}

bool MapGis_LayerWriter::WriteByteAttribute(int record, int field, std::uint8_t value) {
  return PutValue(record, field, &value, sizeof value, false);
}
bool MapGis_LayerWriter::WriteShortAttribute(int record, int field, std::int16_t value) {
  return PutValue(record, field, &value, sizeof value, true);
}
bool MapGis_LayerWriter::WriteLongAttribute(int record, int field, std::int32_t value) {
  return PutValue(record, field, &value, sizeof value, true);
}
bool MapGis_LayerWriter::WriteFloatAttribute(int record, int field, float value) {
  return PutValue(record, field, &value, sizeof value, false);
}
bool MapGis_LayerWriter::WriteDoubleAttribute(int record, int field, double value) {
  return PutValue(record, field, &value, sizeof value, false);
}
bool MapGis_LayerWriter::WriteBoolAttribute(int record, int field, bool value) {
  const std::uint8_t stored = value ? 1 : 0;
  return PutValue(record, field, &stored, sizeof stored, false);
}
bool MapGis_LayerWriter::WriteStringAttribute(int record, int field, const char* value) {
  return PutText(record, field, value);
}
bool MapGis_LayerWriter::WriteTextAttribute(int record, int field, const char* value) {
  return PutText(record, field, value);
}
bool MapGis_LayerWriter::WriteDateAttribute(int record, int field, DATE_STRUstruct value) {
  return PutValue(record, field, &value, sizeof value, false);
}
bool MapGis_LayerWriter::WriteTimeAttribute(int record, int field, TIME_STRUstruct value) {
  return PutValue(record, field, &value, sizeof value, false);
}
bool MapGis_LayerWriter::WriteBinareyAttribute(int record, int field, const void* bytes, std::int32_t length) {
  if (length < 0 || (!bytes && length > 0)) return false;
  return PutValue(record, field, bytes, static_cast<std::size_t>(length), false);
}

// ---------------------------------------------------------------------------------------------
// Features

void MapGis_LayerWriter::Extend(double x, double y) {
  if (x < extent_[0]) extent_[0] = x;
  if (y < extent_[1]) extent_[1] = y;
  if (x > extent_[2]) extent_[2] = x;
  if (y > extent_[3]) extent_[3] = y;
}

std::int32_t MapGis_LayerWriter::AddPointInfo(MAPGIS_PntInfo info, const Geometry* /*geom*/, const char* text) {
  if (kind_ != KindPoint) return Status::ReadFailed;
  std::string_view t = text ? std::string_view(text) : std::string_view();
  t = t.substr(0, GbkPrefixLength(t, kMaxText));
  // An empty text still takes one byte of the data area.
  const std::size_t taken = t.empty() ? 1 : t.size();
  const std::int64_t offset = kDataReserved + static_cast<std::int64_t>(texts_.size());
  if (offset + static_cast<std::int64_t>(taken) > kMaxOffset) return Status::ReadFailed;

  const std::size_t oldTexts = texts_.size();
  try {
    Reserve(points_, 1);
    if (t.empty()) {
      texts_.push_back(0);
    } else {
      texts_.insert(texts_.end(), t.begin(), t.end());
    }
  } catch (const std::bad_alloc&) {
    texts_.resize(oldTexts);
    return Status::OutOfMemory;
  }
  info.textOffset = static_cast<std::int32_t>(offset);
  if (t.empty()) {
    info.textLength = 0;
    info.pointType = 1;
  } else {
    info.textLength = static_cast<std::int16_t>(t.size());
    if (info.pointType != 5) info.pointType = 0;
  }
  points_.push_back(info);
  Extend(info.x, info.y);
  return Status::Success;
}

std::int32_t MapGis_LayerWriter::AddLine(MAPGIS_LineInfo info, const Geometry* geom, std::int32_t part) {
  if (kind_ != KindLine && kind_ != KindRegion) return Status::ReadFailed;
  std::int32_t begin = 0, end = 0;
  if (!geom || !PartRange(*geom, part, &begin, &end)) return Status::ReadFailed;
  const std::int64_t n = end - begin;
  const std::int64_t stored = static_cast<std::int64_t>(vertices_.size() / 2);
  if (kDataReserved + 16 * (stored + n) + 4 * static_cast<std::int64_t>(arcWords_.size()) > kMaxOffset)
    return Status::ReadFailed;

  try {
    Reserve(lines_, 1);
    Reserve(vertices_, static_cast<std::size_t>(2 * n));
  } catch (const std::bad_alloc&) {
    return Status::OutOfMemory;
  }
  for (std::int32_t i = begin; i < end; ++i) {
    vertices_.push_back(geom->x[i]);
    vertices_.push_back(geom->y[i]);
    Extend(geom->x[i], geom->y[i]);
  }
  info.pointCount = static_cast<std::int32_t>(n);
  info.dataOffset = static_cast<std::int32_t>(kDataReserved + 16 * stored);
  lines_.push_back(info);
  return Status::Success;
}

std::int32_t MapGis_LayerWriter::AddArcInfo(MAPGIS_LineInfo info, const Geometry* geom, std::int32_t part) {
  std::int32_t st = AddLine(info, geom, part);
  if (st == Status::Success && geom->partCount > 1) return Status::MultiPartLine;
  return st;
}

std::int32_t MapGis_LayerWriter::AddPolyArcInfo(MAPGIS_LineInfo info, const Geometry* geom, std::int32_t part) {
  return AddLine(info, geom, part);
}

std::int32_t MapGis_LayerWriter::AddPolygonInfo(MAPGIS_RegInfo info, const Geometry* geom) {
  if (kind_ != KindRegion || !geom) return Status::ReadFailed;

  // The rings to store: part 0, and every later part whose type is not 2.
  std::vector<std::int32_t> rings;
  std::int64_t ringVertices = 0;
  try {
    const std::int32_t parts = std::max(geom->partCount, 1);
    for (std::int32_t k = 0; k < parts; ++k) {
      if (k > 0 && geom->partType && geom->partType[k] == 2) continue;
      std::int32_t begin = 0, end = 0;
      if (!PartRange(*geom, k, &begin, &end)) return Status::ReadFailed;
      rings.push_back(k);
      ringVertices += end - begin;
    }
  } catch (const std::bad_alloc&) {
    return Status::OutOfMemory;
  }
  const auto ringCount = static_cast<std::int64_t>(rings.size());
  const std::int64_t words = 2 * ringCount;  // vertex total, arc numbers, separators
  const std::int64_t vertexTotal = ringVertices + ringCount;
  if (vertexTotal > kMaxOffset ||
      kDataReserved + 16 * (static_cast<std::int64_t>(vertices_.size() / 2) + ringVertices) +
              4 * (static_cast<std::int64_t>(arcWords_.size()) + words) > kMaxOffset)
    return Status::ReadFailed;

  const std::size_t oldLines = lines_.size();
  const std::size_t oldVertices = vertices_.size();
  const std::size_t oldWords = arcWords_.size();
  const double oldExtent[4] = {extent_[0], extent_[1], extent_[2], extent_[3]};
  auto rollBack = [&](std::int32_t status) {
    lines_.resize(oldLines);
    vertices_.resize(oldVertices);
    arcWords_.resize(oldWords);
    std::copy(std::begin(oldExtent), std::end(oldExtent), extent_);
    return status;
  };
  try {
    Reserve(regions_, 1);
    Reserve(arcWords_, static_cast<std::size_t>(words));
    arcWords_.push_back(static_cast<std::int32_t>(vertexTotal));
    const MAPGIS_LineInfo arc = RegionArcRecord();
    for (std::size_t i = 0; i < rings.size(); ++i) {
      std::int32_t st = AddPolyArcInfo(arc, geom, rings[i]);
      if (st != Status::Success) return rollBack(st);
      if (i > 0) arcWords_.push_back(0);
      arcWords_.push_back(static_cast<std::int32_t>(lines_.size() - 1));
    }
  } catch (const std::bad_alloc&) {
    return rollBack(Status::OutOfMemory);
  }
  info.arcListLength = static_cast<std::int32_t>(arcWords_.size() - oldWords);
  // Relative to the arc lists for now; Flush adds where they begin in the data area.
  info.arcListOffset = static_cast<std::int32_t>(4 * oldWords);
  regions_.push_back(info);
  return Status::Success;
}

// ---------------------------------------------------------------------------------------------
// Writing the file

std::int32_t MapGis_LayerWriter::Flush() {
  if (kind_ < 0 || fd_ < 0) return Status::ReadFailed;
  try {
    const auto pointSlots = static_cast<std::int64_t>(points_.size());
    const auto lineSlots = static_cast<std::int64_t>(lines_.size());
    const auto regionSlots = static_cast<std::int64_t>(regions_.size());
    const std::int64_t arcListStart = kDataReserved + 8 * static_cast<std::int64_t>(vertices_.size());
    const std::int64_t attrRecords = static_cast<std::int64_t>(std::max(recordCount_, FeatureCount())) + 1;
    const std::vector<MAPGIS_Field> noFields;
    const std::vector<std::uint8_t> noRecords;

    // Section lengths by directory entry; 0 leaves the entry unused.
    std::int64_t length[kDirectoryEntries] = {};
    switch (kind_) {
      case KindPoint:
        length[kEntryPrimary] = pointSlots * static_cast<std::int64_t>(sizeof(MAPGIS_PntInfo));
        length[kEntryData] = kDataReserved + static_cast<std::int64_t>(texts_.size());
        length[kEntryPrimaryAttr] = AreaLength(fields_.size(), recordLength_, attrRecords);
        length[kEntryTopology] = pointSlots * 32;
        length[kEntryNodes] = pointSlots * 4;
        break;
      case KindLine:
      case KindRegion:
        length[kEntryPrimary] = lineSlots * static_cast<std::int64_t>(sizeof(MAPGIS_LineInfo));
        length[kEntryData] = arcListStart + 4 * static_cast<std::int64_t>(arcWords_.size());
        length[kEntryPrimaryAttr] = kind_ == KindLine ? AreaLength(fields_.size(), recordLength_, attrRecords)
                                                      : AreaLength(0, 1, lineSlots);
        length[kEntryTopology] = lineSlots * static_cast<std::int64_t>(sizeof(MAPGIS_Topology));
        length[kEntryNodes] = static_cast<std::int64_t>(kNodePlaceholder);
        length[kEntryNodeAttr] = AreaLength(0, 1, 1);
        length[kEntryLineExtent] = lineSlots * 32;
        length[kEntryLineValues] = lineSlots * 4;
        if (kind_ == KindRegion) {
          length[kEntryRegions] = regionSlots * static_cast<std::int64_t>(sizeof(MAPGIS_RegInfo));
          length[kEntryRegionAttr] = AreaLength(fields_.size(), recordLength_, attrRecords);
          length[kEntryRegionExtent] = regionSlots * 32;
          length[kEntryRegionValues] = regionSlots * 4;
        }
        break;
      case KindTable:
        length[kEntryPrimary] = AreaLength(fields_.size(), recordLength_, attrRecords);
        length[kEntryData] = kDataReserved;
        break;
      default:
        return Status::ReadFailed;
    }

    // Sections one after the other in entry order from 817; unused entries stay 0/0.
    MAPGIS_Part parts[kDirectoryEntries];
    std::int64_t at = kFirstSection;
    for (int e = 0; e < kDirectoryEntries; ++e) {
      parts[e] = MAPGIS_Part{0, 0, -1};
      if (length[e] <= 0) continue;
      if (at > kMaxOffset || length[e] > kMaxOffset) return Status::ReadFailed;
      parts[e].offset = static_cast<std::int32_t>(at);
      parts[e].length = static_cast<std::int32_t>(length[e]);
      at += length[e];
    }
    if (at > kMaxOffset) return Status::ReadFailed;

    MAPGIS_Element counts{};
    switch (kind_) {
      case KindPoint:
        counts.liveCount = LiveCount(points_);
        counts.slotCount = static_cast<std::int32_t>(pointSlots);
        break;
      case KindLine:
      case KindRegion:
        counts.liveCount = LiveCount(lines_);
        counts.slotCount = static_cast<std::int32_t>(lineSlots);
        counts.liveNodeCount = 0;
        counts.nodeSlotCount = 1;
        if (kind_ == KindRegion) {
          counts.liveRegionCount = LiveCount(regions_);
          counts.regionSlotCount = static_cast<std::int32_t>(regionSlots);
        }
        counts.reserved6 = 0;
        counts.reserved7 = static_cast<std::int32_t>(lineSlots);
        counts.reserved9 = 1;
        break;
      default:
        break;
    }

    // Head and fixed blocks up to the first section.
    std::vector<std::uint8_t> fixed(static_cast<std::size_t>(kFirstSection), 0);
    MAPGIS_HEAD head{};
    std::memcpy(head.magic, LayerMagic(kind_), sizeof head.magic);
    head.kind = static_cast<std::uint16_t>(kind_);
    head.reserved = 0;
    head.partOffset = kDirectoryOffset;
    head.partCount = kDirectoryEntries;
    std::memcpy(fixed.data(), &head, sizeof head);
    std::memcpy(fixed.data() + 91, &para_, sizeof para_);
    std::memcpy(fixed.data() + 260, &counts, sizeof counts);
    std::memcpy(fixed.data() + 304, extent_, sizeof extent_);
    const std::int16_t ticCount = 0;
    const std::int32_t ticOffset = 0;
    std::memcpy(fixed.data() + 592, &ticCount, sizeof ticCount);
    std::memcpy(fixed.data() + 596, &ticOffset, sizeof ticOffset);
    std::memcpy(fixed.data() + kDirectoryOffset, parts, sizeof parts);

    SequentialOut out(fd_);
    out.Bytes(fixed.data(), fixed.size());
    bool placed = true;
    // Each section must begin where the directory says it does.
    auto section = [&](int e) {
      if (out.Position() != parts[e].offset) placed = false;
    };

    switch (kind_) {
      case KindPoint:
        section(kEntryPrimary);
        out.Bytes(points_.data(), points_.size() * sizeof(MAPGIS_PntInfo));
        section(kEntryData);
        out.Zeros(kDataReserved);
        out.Bytes(texts_.data(), texts_.size());
        section(kEntryPrimaryAttr);
        WriteArea(out, fields_, recordLength_, records_, recordCount_, attrRecords);
        section(kEntryTopology);
        out.Repeat(extent_, sizeof extent_, pointSlots);
        section(kEntryNodes);
        out.Repeat(&kSlotValue, sizeof kSlotValue, pointSlots);
        break;
      case KindLine:
      case KindRegion:
        section(kEntryPrimary);
        out.Bytes(lines_.data(), lines_.size() * sizeof(MAPGIS_LineInfo));
        section(kEntryData);
        out.Zeros(kDataReserved);
        out.Bytes(vertices_.data(), vertices_.size() * sizeof(double));
        out.Bytes(arcWords_.data(), arcWords_.size() * sizeof(std::int32_t));
        section(kEntryPrimaryAttr);
        if (kind_ == KindLine) {
          WriteArea(out, fields_, recordLength_, records_, recordCount_, attrRecords);
        } else {
          WriteArea(out, noFields, 1, noRecords, 0, lineSlots);
        }
        section(kEntryTopology);
        out.Zeros(static_cast<std::size_t>(length[kEntryTopology]));
        section(kEntryNodes);
        out.Zeros(kNodePlaceholder);
        section(kEntryNodeAttr);
        WriteArea(out, noFields, 1, noRecords, 0, 1);
        section(kEntryLineExtent);
        out.Repeat(extent_, sizeof extent_, lineSlots);
        section(kEntryLineValues);
        out.Repeat(&kSlotValue, sizeof kSlotValue, lineSlots);
        if (kind_ == KindRegion) {
          section(kEntryRegions);
          out.Value(regions_.front());  // slot 0, the placeholder
          for (std::size_t k = 1; k < regions_.size(); ++k) {
            // The arc lists lie behind all vertices of the data area.
            MAPGIS_RegInfo reg = regions_[k];
            reg.arcListOffset = static_cast<std::int32_t>(arcListStart + reg.arcListOffset);
            out.Value(reg);
          }
          section(kEntryRegionAttr);
          WriteArea(out, fields_, recordLength_, records_, recordCount_, attrRecords);
          section(kEntryRegionExtent);
          out.Repeat(extent_, sizeof extent_, regionSlots);
          section(kEntryRegionValues);
          out.Repeat(&kSlotValue, sizeof kSlotValue, regionSlots);
        }
        break;
      case KindTable:
        section(kEntryPrimary);
        WriteArea(out, fields_, recordLength_, records_, recordCount_, attrRecords);
        section(kEntryData);
        out.Zeros(kDataReserved);
        break;
      default:
        break;
    }
    placed = placed && out.Position() == at;
    if (!out.Finish() || !placed) return Status::ReadFailed;
  } catch (const std::bad_alloc&) {
    return Status::OutOfMemory;
  }
  return Status::Success;
}

// ---------------------------------------------------------------------------------------------
// The two writers

MapGis_Writer::MapGis_Writer() = default;
MapGis_Writer::~MapGis_Writer() = default;

std::int32_t MapGis_Writer::Create(const std::filesystem::path& path, std::int32_t kind) { return CreateLayer(path, kind); }

std::int32_t MapGis_Writer::AddFieldInfo(const char* utf8Name, std::int32_t type, std::int32_t size, std::int32_t width,
                                         std::int32_t decimals) {
  try {
    GbkCodec codec;
    const std::string gbk = codec.FromUtf8(utf8Name ? std::string_view(utf8Name) : std::string_view());
    return AddField(gbk, type, size, width, decimals);
  } catch (const std::bad_alloc&) {
    return Status::OutOfMemory;
  }
}

MapGis_FastWriter::MapGis_FastWriter() = default;
MapGis_FastWriter::~MapGis_FastWriter() = default;

std::int32_t MapGis_FastWriter::Create(const char* path, std::int32_t kind) {
  if (!path) {
    Close();
    return Status::CannotOpen;
  }
  try {
    return CreateLayer(std::filesystem::path(path), kind);
  } catch (const std::bad_alloc&) {
    return Status::OutOfMemory;
  }
}

std::int32_t MapGis_FastWriter::AddFieldInfo(const char* name, std::int32_t type, std::int32_t size, std::int32_t width,
                                             std::int32_t decimals) {
  return AddField(name ? std::string_view(name) : std::string_view(), type, size, width, decimals);
}

}  // namespace MapGis
