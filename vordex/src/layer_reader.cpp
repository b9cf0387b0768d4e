#include "vordex/layer_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

#include "container_format.h"
#include "file_io.h"
#include "vordex/text_encoding.h"

namespace MapGis {

const char* Status::Describe(std::int32_t status) {
  switch (status) {
    case Success: return "success";
    case NotMapGis: return "not a MapGIS layer file (the magic does not match the layer kind)";
    case DamagedHead: return "damaged file head";
    case UnknownKind: return "unknown layer kind, or not a file of the expected format (magic or version does not match)";
    case CannotOpen: return "the file cannot be opened";
    case OlderVariant: return "an unsupported older MapGIS layer variant";
    case OutOfMemory: return "out of memory";
    case ReadFailed: return "read failure, index out of range or damaged record";
    case WriteFailed: return "write failure";
    case Deleted: return "the record is deleted";
    case BadAttribute: return "bad attribute type, field index or field definition";
    case BadRegion: return "region with an empty arc list or a negative vertex total";
    case ProjectMismatch: return "the project file does not hold the items held in memory; nothing was written";
    case MultiPartLine: return "the line has several parts; only the selected part was written";
    default: return "unknown status";
  }
}

namespace {

constexpr std::size_t kPointSize = sizeof(MAPGIS_PntInfo);
constexpr std::size_t kLineSize = sizeof(MAPGIS_LineInfo);
constexpr std::size_t kRegionSize = sizeof(MAPGIS_RegInfo);
constexpr std::size_t kNodeSize = sizeof(MAPGIS_NetPntInfo);
constexpr std::size_t kNodeBlockSize = 94;
constexpr std::size_t kPointParamSize = 62;  // the point parameter block, record bytes 31..92
constexpr std::size_t kTopologySize = sizeof(MAPGIS_Topology);
constexpr std::size_t kTicSize = sizeof(MAPGIS_Tic_Info);
constexpr int kNoteCapacity = 260;
using namespace Container;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The first blank-separated word of at most `max` bytes of `src` (stops at a 0 byte).
std::string_view FirstWord(const char* src, std::size_t max) {
  std::size_t i = 0;
  while (i < max && src[i] != 0 && IsBlank(src[i])) ++i;
  std::size_t start = i;
  while (i < max && src[i] != 0 && !IsBlank(src[i])) ++i;
  return std::string_view(src + start, i - start);
}

template <typename T, typename Block>
T Record(const Block& block, std::int64_t slot) {
  T rec;
  std::memcpy(&rec, block.data() + slot * static_cast<std::int64_t>(sizeof(T)), sizeof(T));
  return rec;
}

// Allocates the four coordinate arrays of a geometry with n elements each (at least one, so
// that a null pointer always means out of memory).
bool AllocCoords(Geometry* g, std::int64_t n) {
  std::size_t count = static_cast<std::size_t>(std::max<std::int64_t>(n, 1));
  g->x = static_cast<double*>(std::calloc(count, sizeof(double)));
  g->y = static_cast<double*>(std::calloc(count, sizeof(double)));
  g->z = static_cast<double*>(std::calloc(count, sizeof(double)));
  g->m = static_cast<double*>(std::calloc(count, sizeof(double)));
  if (g->x && g->y && g->z && g->m) return true;
  std::free(g->x);
  std::free(g->y);
  std::free(g->z);
  std::free(g->m);
  g->x = g->y = g->z = g->m = nullptr;
  return false;
}

// Copies interleaved x, y pairs into the geometry and widens its x/y bounds over them.
void FillVertices(Geometry* g, const double* xy, std::int64_t n) {
  for (std::int64_t i = 0; i < n; ++i) {
    double vx = xy[2 * i];
    double vy = xy[2 * i + 1];
    g->x[i] = vx;
    g->y[i] = vy;
    if (vx < g->xMin) g->xMin = vx;
    if (vx > g->xMax) g->xMax = vx;
    if (vy < g->yMin) g->yMin = vy;
    if (vy > g->yMax) g->yMax = vy;
  }
}

// True when slot `slot` of records of `size` bytes lies inside the loaded block.
template <typename Block>
bool HasSlot(const Block& block, std::int64_t slot, std::size_t size) {
  return slot >= 0 && slot < static_cast<std::int64_t>(block.size() / size);
}

constexpr const char* kBeyondSection = " lies beyond its record section (the file claims more records than it holds)";

template <typename T>
bool ResizeNoThrow(std::vector<T>* v, std::size_t n) {
  try {
    v->resize(n);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
}

// "WMAP", 0x05, then the rest of a kind's magic: the head of an older MapGIS layer variant.
bool IsOlderVariant(const MAPGIS_HEAD& head) {
  const char* magic = LayerMagic(head.kind);
  return magic && std::memcmp(head.magic, magic, 4) == 0 && static_cast<unsigned char>(head.magic[4]) == 0x05 &&
         std::memcmp(head.magic + 5, magic + 5, 3) == 0;
}

}  // namespace

void RecordBlock::View(const std::uint8_t* bytes, std::size_t count) {
  std::vector<std::uint8_t>().swap(owned_);
  view_ = bytes;
  viewSize_ = count;
}

bool RecordBlock::Own(std::size_t count) {
  view_ = nullptr;
  viewSize_ = 0;
  owned_.clear();
  return ResizeNoThrow(&owned_, count);
}

std::uint8_t* RecordBlock::Writable() {
  if (view_ != nullptr) {
    std::vector<std::uint8_t> copy;
    if (!ResizeNoThrow(&copy, viewSize_)) return nullptr;
    if (viewSize_ > 0) std::memcpy(copy.data(), view_, viewSize_);
    owned_.swap(copy);
    view_ = nullptr;
    viewSize_ = 0;
  }
  return owned_.data();
}

void RecordBlock::Clear() {
  view_ = nullptr;
  viewSize_ = 0;
  std::vector<std::uint8_t>().swap(owned_);
}

const char* LayerMagic(std::int32_t kind) {
  switch (kind) {
    case KindLine: return "WMAP`D21";
    case KindPoint: return "WMAP`D22";
    case KindRegion: return "WMAP`D23";
    case KindNetwork: return "WMAP`D25";
    case KindTable: return "WMAP`D28";
    default: return nullptr;
  }
}

MapGis_LayerCore::MapGis_LayerCore(const ReaderRules& rules) : rules_(rules) {}

MapGis_LayerCore::~MapGis_LayerCore() { Close(); }

std::int32_t MapGis_LayerCore::Fail(std::int32_t status, std::string text) {
  lastError_ = std::move(text);
  return status;
}

std::int64_t MapGis_LayerCore::GetFileSize() const { return file_ ? file_->Size() : 0; }

// ---------------------------------------------------------------------------------------------
// Opening and closing

std::int32_t MapGis_LayerCore::OpenFile(const char* path) {
  Close();
  lastError_.clear();
  auto file = std::make_unique<RandomAccessFile>();
  if (!file->Open(path, rules_.writable))
    return Fail(Status::CannotOpen, std::string("cannot open ") + (path ? path : "(null)"));
  file_ = std::move(file);

  if (!file_->ReadAt(0, &head_, sizeof head_)) return Fail(Status::ReadFailed, "the file is shorter than its head");
  std::int32_t refused = Status::Success;
  char why[160] = "";
  if (IsOlderVariant(head_)) {
    // Same container name, an older head layout: its counts and sections are not where this
    // reader looks, so it is refused as what it is rather than read as damage.
    refused = Status::OlderVariant;
    std::snprintf(why, sizeof why, "an older MapGIS layer variant (head byte 4 is 0x05), which this reader does not read");
  } else if (head_.reserved != 0) {
    refused = rules_.reservedStatus;
    std::snprintf(why, sizeof why, "damaged head: the reserved field holds %d", head_.reserved);
  } else if (head_.partOffset > kMaxDirectory || head_.partCount > kMaxDirectory) {
    refused = rules_.directoryStatus;
    std::snprintf(why, sizeof why, "damaged head: directory offset %d, directory entries %d", head_.partOffset,
                  head_.partCount);
  } else {
    const char* magic = LayerMagic(head_.kind);
    if (!magic || (head_.kind == KindNetwork && !rules_.acceptNetwork)) {
      refused = Status::UnknownKind;
      std::snprintf(why, sizeof why, "unknown layer kind %u", static_cast<unsigned>(head_.kind));
    } else if (std::memcmp(head_.magic, magic, 8) != 0) {
      refused = rules_.magicStatus;
      std::snprintf(why, sizeof why, "the magic does not match layer kind %u", static_cast<unsigned>(head_.kind));
    }
  }
  if (refused != Status::Success) {
    if (rules_.closeOnHeadFailure) file_.reset();
    return Fail(refused, why);
  }
  readKind_ = head_.kind;
  if (rules_.attributesByType) {
    switch (head_.kind) {
      case KindLine: attrType_ = 0; break;
      case KindPoint: attrType_ = 1; break;
      case KindRegion: attrType_ = 2; break;
      case KindNetwork: attrType_ = 0; break;
      default: attrType_ = 7; break;
    }
  } else {
    attrType_ = head_.kind;
  }

  std::int16_t ticCount16 = 0;
  if (!file_->ReadAt(91, &para_, sizeof para_) || !file_->ReadAt(260, &element_, sizeof element_) ||
      !file_->ReadAt(304, extent_, sizeof extent_) || !file_->ReadAt(592, &ticCount16, sizeof ticCount16) ||
      !file_->ReadAt(592, &ticCount_, sizeof ticCount_) || !file_->ReadAt(596, &ticOffset_, sizeof ticOffset_))
    return Fail(Status::ReadFailed, "the file is shorter than its fixed blocks");
  if (!rules_.wideTicCount) ticCount_ = ticCount16;

  if (head_.partCount < 0 || head_.partOffset < 0)
    return Fail(Status::ReadFailed, "the section directory lies outside the file");
  parts_.resize(static_cast<std::size_t>(head_.partCount));
  if (!parts_.empty() &&
      !file_->ReadAt(head_.partOffset, parts_.data(), static_cast<std::int64_t>(parts_.size() * sizeof(MAPGIS_Part))))
    return Fail(Status::ReadFailed, "the section directory lies outside the file");

  dataKnown_ = SectionOf(kEntryData, &data_);
  opened_ = true;
  return Status::Success;
}

void MapGis_LayerCore::ReadAsKind(std::int32_t kind) {
  if (!opened_ || readKind_ == kind) return;
  readKind_ = kind;
  ClearGeomBuffer();
  ClearAttrBuffer();
  topology_.Clear();
  topologyLoaded_ = false;
  if (!rules_.attributesByType) attrType_ = kind;
}

void MapGis_LayerCore::Close() {
  ClearGeomBuffer();
  ClearAttrBuffer();
  std::vector<std::uint8_t>().swap(tics_);
  topology_.Clear();
  std::vector<double>().swap(arcScratch_);
  std::vector<std::int32_t>().swap(arcList_);
  std::vector<MAPGIS_Part>().swap(parts_);
  ticsLoaded_ = topologyLoaded_ = false;
  file_.reset();
  head_ = {};
  para_ = {};
  element_ = {};
  std::fill(std::begin(extent_), std::end(extent_), 0.0);
  ticCount_ = 0;
  ticOffset_ = 0;
  data_ = {};
  dataKnown_ = false;
  opened_ = false;
  readKind_ = -1;
  attrType_ = -1;
}

void MapGis_LayerCore::ClearGeomBuffer() {
  points_.Clear();
  lines_.Clear();
  regions_.Clear();
  nodes_.Clear();
  std::vector<std::uint8_t>().swap(nodeBad_);
  sectionsLoaded_ = false;
  lineVertices_ = {};
  regionVertices_ = {};
  regionWords_ = {};
}

// Counts `amount` units for slot `slot` on its first read; false when the slots read so far
// would then ask for more than four times the units the data area holds, plus a little per slot.
bool MapGis_LayerCore::Charge(ReadBudget* budget, std::int64_t slot, std::int64_t amount, std::int64_t unitsInData) {
  if (slot < 0 || amount <= 0) return true;
  const std::size_t at = static_cast<std::size_t>(slot);
  if (at < budget->charged.size() && budget->charged[at]) return true;
  if (at >= budget->charged.size() && !ResizeNoThrow(&budget->charged, at + 1)) return false;
  const std::int64_t limit = 4 * unitsInData + 16 * (budget->slots + 1);
  if (amount > limit - budget->used) return false;
  budget->used += amount;
  ++budget->slots;
  budget->charged[at] = 1;
  return true;
}

void MapGis_LayerCore::ClearAttrBuffer() {
  std::vector<MAPGIS_Field>().swap(fields_);
  records_.Clear();
  std::vector<char>().swap(scratch_);
  fieldHead_ = {};
  attrArea_ = {};
  loadedType_ = -1;
  recordsTried_ = recordsLoaded_ = false;
  currentRecord_ = -1;
  lastValueSize_ = 0;
}

// A directory entry as a range inside the file; the length is cut at the end of the file.
bool MapGis_LayerCore::SectionOf(int entry, Section* out) const {
  if (!file_ || entry < 0 || entry >= static_cast<int>(parts_.size())) return false;
  const MAPGIS_Part& p = parts_[static_cast<std::size_t>(entry)];
  if (p.offset < 0 || p.length < 0 || p.offset > file_->Size()) return false;
  out->offset = p.offset;
  out->length = std::min<std::int64_t>(p.length, file_->Size() - p.offset);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Head data

std::int32_t MapGis_LayerCore::GetTicCount() const { return ticCount_; }

void MapGis_LayerCore::GetExtentInfo(double* xMin, double* yMin, double* xMax, double* yMax) const {
  if (xMin) *xMin = extent_[0];
  if (yMin) *yMin = extent_[1];
  if (xMax) *xMax = extent_[2];
  if (yMax) *yMax = extent_[3];
}

std::int32_t MapGis_LayerCore::ProjectionCopy(MAP_PARAstruct* para) const {
  if (para) {
    *para = para_;
    if (para->coordKind == 0 || para->scale < 0.001) para->scale = 1.0;
  }
  return para_.coordKind;
}

// ---------------------------------------------------------------------------------------------
// Record sections

// How many of `slots` stored slots (slot 0 included) of `recordSize` bytes the section of
// directory entry `entry` really holds: a slot count never sizes anything beyond its section.
std::int32_t MapGis_LayerCore::SlotsInSection(int entry, std::int32_t slots, std::size_t recordSize) const {
  if (slots <= 0) return 0;
  Section s;
  if (!SectionOf(entry, &s)) return 0;
  const std::int64_t fit = s.length / static_cast<std::int64_t>(recordSize);
  return static_cast<std::int32_t>(std::min<std::int64_t>(slots, fit));
}

std::int32_t MapGis_LayerCore::HeldSlots(SlotSection which) const {
  if (!opened_) return 0;
  std::int32_t held = 0;
  switch (which) {
    case SlotSection::Points:
      if (readKind_ == KindPoint) held = SlotsInSection(kEntryPrimary, element_.slotCount, kPointSize);
      break;
    case SlotSection::Lines:
      if (readKind_ == KindLine || readKind_ == KindRegion || readKind_ == KindNetwork)
        held = SlotsInSection(kEntryPrimary, element_.slotCount, kLineSize);
      break;
    case SlotSection::Nodes:
      if (readKind_ == KindNetwork) held = SlotsInSection(kEntryNodes, element_.nodeSlotCount, kNodeSize);
      break;
    case SlotSection::Regions:
      if (readKind_ == KindRegion) held = SlotsInSection(kEntryRegions, element_.regionSlotCount, kRegionSize);
      break;
  }
  return held > 0 ? held - 1 : 0;
}

// Loads the slots of a record section that the section holds; a stored count beyond them is
// damage that the reader answers slot by slot ("index out of range"), never a loop or an
// allocation sized by the stored count.
std::int32_t MapGis_LayerCore::LoadRecords(int entry, std::int32_t slots, std::size_t recordSize,
                                            RecordBlock* out, const char* what) {
  const std::int32_t held = SlotsInSection(entry, slots, recordSize);
  if (held <= 0) {
    out->Clear();
    Section s;
    if (slots > 0 && !SectionOf(entry, &s)) return Fail(Status::ReadFailed, std::string("the ") + what + " section is missing");
    return Status::Success;
  }
  Section s;
  SectionOf(entry, &s);
  std::int64_t bytes = static_cast<std::int64_t>(held) * static_cast<std::int64_t>(recordSize);
  // Read through the mapping where there is one: a large layer's records are not copied.
  if (const unsigned char* mapped = file_->MappedAt(s.offset, bytes)) {
    out->View(mapped, static_cast<std::size_t>(bytes));
    return Status::Success;
  }
  if (!out->Own(static_cast<std::size_t>(bytes)))
    return Fail(Status::OutOfMemory, std::string("no memory for the ") + what + " records");
  if (!file_->ReadAt(s.offset, out->Writable(), bytes))
    return Fail(Status::ReadFailed, std::string("cannot read the ") + what + " records");
  return Status::Success;
}

std::int32_t MapGis_LayerCore::LoadSections() {
  if (sectionsLoaded_) return Status::Success;
  if (!opened_) return Fail(Status::ReadFailed, "no layer is open");
  std::int32_t st = Status::Success;
  switch (readKind_) {
    case KindPoint:
      st = LoadRecords(kEntryPrimary, element_.slotCount, kPointSize, &points_, "point");
      break;
    case KindLine:
      st = LoadRecords(kEntryPrimary, element_.slotCount, kLineSize, &lines_, "line");
      break;
    case KindRegion:
      st = LoadRecords(kEntryPrimary, element_.slotCount, kLineSize, &lines_, "arc");
      if (st == Status::Success) st = LoadRecords(kEntryRegions, element_.regionSlotCount, kRegionSize, &regions_, "region");
      break;
    case KindNetwork:
      st = LoadRecords(kEntryNodes, element_.nodeSlotCount, kNodeSize, &nodes_, "node");
      if (st == Status::Success) st = LoadRecords(kEntryPrimary, element_.slotCount, kLineSize, &lines_, "line");
      if (st == Status::Success && rules_.nodesAsPoints) st = NodesToPoints();
      break;
    default:
      break;
  }
  if (st != Status::Success) {
    ClearGeomBuffer();
    return st;
  }
  sectionsLoaded_ = true;
  return Status::Success;
}

// Network nodes as point records: the node's flag and position, text length 1, and the first
// 62 bytes of its parameter block as the point parameter block.
std::int32_t MapGis_LayerCore::NodesToPoints() {
  const std::size_t n = nodes_.size() / kNodeSize;
  if (!points_.Own(n * kPointSize) || !ResizeNoThrow(&nodeBad_, n))
    return Fail(Status::OutOfMemory, "no memory for the network nodes");
  std::uint8_t* points = points_.Writable();
  std::uint8_t block[kNodeBlockSize];
  for (std::size_t k = 0; k < n; ++k) {
    auto node = Record<MAPGIS_NetPntInfo>(nodes_, static_cast<std::int64_t>(k));
    MAPGIS_PntInfo pt{};
    pt.flag = node.flag;
    pt.textLength = 1;
    pt.textOffset = 0;
    pt.x = node.x;
    pt.y = node.y;
    // Slot 0 and deleted nodes are never handed out, so their parameter blocks are not read.
    if (k > 0 && node.flag == 1) {
      if (CheckDataRange(node.infoOffset, kNodeBlockSize, "node parameter block", static_cast<std::int64_t>(k)) ==
              Status::Success &&
          file_->ReadAt(data_.offset + node.infoOffset, block, kNodeBlockSize)) {
        std::memcpy(reinterpret_cast<std::uint8_t*>(&pt) + 31, block, kPointParamSize);
      } else {
        nodeBad_[k] = 1;
      }
    }
    std::memcpy(points + k * kPointSize, &pt, kPointSize);
  }
  lastError_.clear();
  return Status::Success;
}

// Checks that `bytes` bytes at `relOffset` of the data area lie inside the data area.
std::int32_t MapGis_LayerCore::CheckDataRange(std::int64_t relOffset, std::int64_t bytes, const char* what,
                                              std::int64_t slot) {
  if (!dataKnown_) return Fail(Status::ReadFailed, "the data area is missing");
  if (relOffset < 0 || bytes < 0 || relOffset > data_.length || bytes > data_.length - relOffset) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "slot %lld: %s of %lld bytes at data offset %lld lies outside the data area (%lld bytes)",
                  static_cast<long long>(slot), what, static_cast<long long>(bytes), static_cast<long long>(relOffset),
                  static_cast<long long>(data_.length));
    return Fail(Status::ReadFailed, buf);
  }
  return Status::Success;
}

std::int32_t MapGis_LayerCore::ReadData(std::int64_t relOffset, void* buffer, std::int64_t bytes, const char* what,
                                        std::int64_t slot) {
  std::int32_t st = CheckDataRange(relOffset, bytes, what, slot);
  if (st != Status::Success) return st;
  if (bytes > 0 && !file_->ReadAt(data_.offset + relOffset, buffer, bytes))
    return Fail(Status::ReadFailed, std::string("cannot read the ") + what);
  return Status::Success;
}

// ---------------------------------------------------------------------------------------------
// Features

std::int32_t MapGis_LayerCore::ReadPoint(int index, MAPGIS_PntInfo* info, Geometry* geom) {
  const bool nodes = readKind_ == KindNetwork && rules_.nodesAsPoints;
  if (!opened_ || (readKind_ != KindPoint && !nodes)) return Fail(Status::ReadFailed, "this layer has no points");
  std::int32_t slots = readKind_ == KindPoint ? element_.slotCount : element_.nodeSlotCount;
  if (index < 0 || index > static_cast<std::int64_t>(slots) - 2) return Fail(Status::ReadFailed, "point index out of range");
  std::int32_t st = LoadSections();
  if (st != Status::Success) return st;
  if (!HasSlot(points_, index + 1, kPointSize))
    return Fail(Status::ReadFailed, "point " + std::to_string(index + 1) + kBeyondSection);
  auto rec = Record<MAPGIS_PntInfo>(points_, index + 1);
  if (rec.flag != 1) return Fail(Status::Deleted, "deleted point");
  if (!nodeBad_.empty() && nodeBad_[static_cast<std::size_t>(index) + 1])
    return Fail(Status::ReadFailed, "node " + std::to_string(index + 1) + ": its parameter block lies outside the data area");
  if (info) *info = rec;
  return FillPoint(geom, rec.x, rec.y);
}

std::int32_t MapGis_LayerCore::FillPoint(Geometry* geom, double x, double y) {
  if (!geom) return Status::Success;
  if (!AllocCoords(geom, 1)) return Fail(Status::OutOfMemory, "no memory for a point");
  geom->shapeType = 1;
  geom->shapeId = -1;
  geom->partCount = 0;
  geom->partStart = nullptr;
  geom->partType = nullptr;
  geom->vertexCount = 1;
  geom->x[0] = x;
  geom->y[0] = y;
  geom->xMin = geom->xMax = x;
  geom->yMin = geom->yMax = y;
  geom->zMin = geom->zMax = geom->mMin = geom->mMax = 0.0;
  return Status::Success;
}

std::int32_t MapGis_LayerCore::ReadArcInfo(int index, MAPGIS_LineInfo* info, Geometry* geom) {
  if (!opened_ || (readKind_ != KindLine && readKind_ != KindRegion && readKind_ != KindNetwork))
    return Fail(Status::ReadFailed, "this layer has no lines");
  if (index < 0 || index > static_cast<std::int64_t>(element_.slotCount) - 2) return Fail(Status::ReadFailed, "line index out of range");
  std::int32_t st = LoadSections();
  if (st != Status::Success) return st;
  if (!HasSlot(lines_, index + 1, kLineSize))
    return Fail(Status::ReadFailed, "line " + std::to_string(index + 1) + kBeyondSection);
  auto rec = Record<MAPGIS_LineInfo>(lines_, index + 1);
  if (rec.flag != 1) return Fail(Status::Deleted, "deleted line");
  if (info) *info = rec;
  if (!geom) return Status::Success;
  std::int64_t n = rec.pointCount;
  if (n < 0 || n > data_.length / 16) {
    return Fail(Status::ReadFailed, "line " + std::to_string(index + 1) + ": " + std::to_string(n) +
                                        " vertices do not fit in the data area");
  }
  st = CheckDataRange(rec.dataOffset, n * 16, "vertex list", index + 1);
  if (st != Status::Success) return st;
  if (!Charge(&lineVertices_, index + 1, n, data_.length / 16)) {
    return Fail(Status::ReadFailed, "line " + std::to_string(index + 1) +
                                        ": the lines read so far list their vertices many times over what the data area holds");
  }
  if (!ResizeNoThrow(&arcScratch_, std::max<std::size_t>(arcScratch_.size(), static_cast<std::size_t>(2 * n))))
    return Fail(Status::OutOfMemory, "no memory for a line");
  st = ReadData(rec.dataOffset, arcScratch_.data(), n * 16, "vertex list", index + 1);
  if (st != Status::Success) return st;
  geom->partStart = static_cast<std::int32_t*>(std::calloc(1, sizeof(std::int32_t)));
  geom->partType = static_cast<std::int32_t*>(std::calloc(1, sizeof(std::int32_t)));
  if (!geom->partStart || !geom->partType || !AllocCoords(geom, n)) {
    std::free(geom->partStart);
    std::free(geom->partType);
    geom->partStart = geom->partType = nullptr;
    return Fail(Status::OutOfMemory, "no memory for a line");
  }
  geom->shapeType = 3;
  geom->shapeId = -1;
  geom->partCount = 1;
  geom->partStart[0] = 0;
  geom->partType[0] = 5;
  geom->vertexCount = static_cast<std::int32_t>(n);
  geom->xMin = geom->yMin = kBoundMin;
  geom->xMax = geom->yMax = kBoundMax;
  FillVertices(geom, arcScratch_.data(), n);
  return Status::Success;
}

std::int32_t MapGis_LayerCore::ReadPolyArc(int arcNo, int* pointCount, double* buffer, std::int64_t capacity) {
  std::int64_t slot = arcNo < 0 ? -static_cast<std::int64_t>(arcNo) : arcNo;
  if (slot < 1 || slot > static_cast<std::int64_t>(element_.slotCount) - 1 || !HasSlot(lines_, slot, kLineSize))
    return Fail(Status::ReadFailed, "arc " + std::to_string(slot) + " does not exist");
  auto rec = Record<MAPGIS_LineInfo>(lines_, slot);
  if (rec.flag != 1) return Fail(Status::Deleted, "deleted arc");
  if (pointCount) *pointCount = rec.pointCount;
  if (!buffer) return Status::Success;
  std::int64_t n = rec.pointCount;
  if (n < 0 || n > capacity) {
    return Fail(Status::ReadFailed, "arc " + std::to_string(slot) + ": " + std::to_string(n) +
                                        " vertices exceed the region's remaining capacity of " + std::to_string(capacity));
  }
  std::int32_t st = ReadData(rec.dataOffset, buffer, n * 16, "arc vertex list", static_cast<int>(slot));
  if (st != Status::Success) return st;
  if (arcNo < 0) {
    for (std::int64_t j = 0, k = n - 1; j < k; ++j, --k) {
      std::swap(buffer[2 * j], buffer[2 * k]);
      std::swap(buffer[2 * j + 1], buffer[2 * k + 1]);
    }
  }
  return Status::Success;
}

std::int32_t MapGis_LayerCore::ReadPolyTopo(const MAPGIS_RegInfo& reg, std::int32_t* vertexTotal,
                                             std::vector<std::int32_t>* entries) {
  if (!vertexTotal || !entries) return Status::Success;
  std::int64_t words = reg.arcListLength;
  std::int32_t st = CheckDataRange(reg.arcListOffset, words * 4, "arc list", -1);
  if (st != Status::Success) return st;
  if (!ResizeNoThrow(entries, static_cast<std::size_t>(words))) return Fail(Status::OutOfMemory, "no memory for an arc list");
  st = ReadData(reg.arcListOffset, entries->data(), words * 4, "arc list", -1);
  if (st != Status::Success) return st;
  *vertexTotal = (*entries)[0];
  entries->erase(entries->begin());
  if (*vertexTotal < 0) return Fail(Status::BadRegion, "negative vertex total");
  return Status::Success;
}

std::int32_t MapGis_LayerCore::ReadPolygonInfo(int index, MAPGIS_RegInfo* info, Geometry* geom) {
  if (!opened_ || readKind_ != KindRegion) return Fail(Status::ReadFailed, "this layer has no regions");
  if (index < 0 || index > static_cast<std::int64_t>(element_.regionSlotCount) - 2) return Fail(Status::ReadFailed, "region index out of range");
  std::int32_t st = LoadSections();
  if (st != Status::Success) return st;
  if (!HasSlot(regions_, index + 1, kRegionSize))
    return Fail(Status::ReadFailed, "region " + std::to_string(index + 1) + kBeyondSection);
  auto rec = Record<MAPGIS_RegInfo>(regions_, index + 1);
  if (rec.flag != 1) return Fail(Status::Deleted, "deleted region");
  if (rec.arcListLength < 1) return Fail(Status::BadRegion, "region " + std::to_string(index + 1) + ": empty arc list");
  if (info) *info = rec;
  if (!geom) return Status::Success;

  if (!Charge(&regionWords_, index + 1, rec.arcListLength, data_.length / 4)) {
    return Fail(Status::ReadFailed, "region " + std::to_string(index + 1) +
                                        ": the regions read so far list more arcs than the data area holds many times over");
  }
  std::int32_t vertexTotal = 0;
  st = ReadPolyTopo(rec, &vertexTotal, &arcList_);
  if (st != Status::Success) return st;
  const std::vector<std::int32_t>& e = arcList_;
  const std::int64_t n = rec.arcListLength;  // e holds n - 1 entries

  const std::int64_t c = static_cast<std::int64_t>(vertexTotal) - (1 + std::count(e.begin(), e.end(), 0));
  const std::int64_t r = RingCount(e, n);
  if (c < 0) {
    return Fail(Status::ReadFailed, "region " + std::to_string(index + 1) + ": vertex total " +
                                        std::to_string(vertexTotal) + " is smaller than its ring count");
  }

  // Only vertices that arcs deliver are kept, so the buffer never needs more than the listed
  // live arcs hold; this also keeps a damaged vertex total from asking for absurd memory.
  std::int64_t listed = 0;
  for (std::int32_t a : e) {
    if (a == 0) continue;
    std::int64_t slot = a < 0 ? -static_cast<std::int64_t>(a) : a;
    if (slot < 1 || !HasSlot(lines_, slot, kLineSize)) continue;
    auto arc = Record<MAPGIS_LineInfo>(lines_, slot);
    if (arc.flag == 1 && arc.pointCount > 0) listed += arc.pointCount;
  }
  const std::int64_t dataVertices = data_.length / 16;
  if (listed > 4 * dataVertices + 16) {
    return Fail(Status::ReadFailed, "region " + std::to_string(index + 1) +
                                        ": its arc list asks for more vertices than the data area holds");
  }
  if (!Charge(&regionVertices_, index + 1, listed, dataVertices)) {
    return Fail(Status::ReadFailed, "region " + std::to_string(index + 1) +
                                        ": the regions read so far ask for their arcs' vertices many times over what the data area holds");
  }
  const std::int64_t capacity = std::min(c, listed);
  if (!ResizeNoThrow(&arcScratch_, std::max<std::size_t>(arcScratch_.size(), static_cast<std::size_t>(2 * capacity))))
    return Fail(Status::OutOfMemory, "no memory for a region");

  auto* starts = static_cast<std::int32_t*>(std::calloc(static_cast<std::size_t>(r), sizeof(std::int32_t)));
  auto* types = static_cast<std::int32_t*>(std::calloc(static_cast<std::size_t>(r), sizeof(std::int32_t)));
  if (!starts || !types) {
    std::free(starts);
    std::free(types);
    return Fail(Status::OutOfMemory, "no memory for a region");
  }
  starts[0] = 0;
  types[0] = 5;

  std::int64_t p = 0;
  std::int64_t q = 1;
  int arcsRead = 0;
  int arcsDeleted = 0;
  st = Status::Success;
  for (std::int64_t k = 0; k < n - 1; ++k) {
    std::int32_t a = e[static_cast<std::size_t>(k)];
    if (a != 0) {
      int count = 0;
      std::int32_t ast = ReadPolyArc(a, &count, arcScratch_.data() + 2 * p, capacity - p);
      if (ast == Status::Success) {
        p += count;
        ++arcsRead;
      } else if (ast == Status::Deleted && !rules_.deletedArcEndsRegion) {
        ++arcsDeleted;
      } else {
        st = ast;
        break;
      }
    } else if (k > 0 && k < n - 2 && q < r) {
      // A ring whose arcs were all deleted holds no vertex: the next ring takes its place.
      if (starts[q - 1] == p) continue;
      starts[q] = static_cast<std::int32_t>(p);
      types[q] = 3;
      ++q;
    }
  }
  if (st == Status::Success && arcsRead == 0 && arcsDeleted > 0) {
    st = Fail(Status::Deleted, "region " + std::to_string(index + 1) + ": every arc it lists is deleted");
  }
  if (st != Status::Success) {
    std::free(starts);
    std::free(types);
    return st;
  }
  if (q > 1 && starts[q - 1] == p) --q;  // a last ring left empty

  if (!AllocCoords(geom, p)) {
    std::free(starts);
    std::free(types);
    return Fail(Status::OutOfMemory, "no memory for a region");
  }
  geom->shapeType = 5;
  geom->shapeId = -1;
  geom->partCount = static_cast<std::int32_t>(q);
  geom->partStart = starts;
  geom->partType = types;
  geom->vertexCount = static_cast<std::int32_t>(p);
  FillVertices(geom, arcScratch_.data(), p);
  lastError_.clear();
  return Status::Success;
}

std::int32_t MapGis_LayerCore::GetNoteInfo(int index, char* text) {
  if (!opened_ || readKind_ != KindPoint) return Fail(Status::ReadFailed, "this layer has no annotations");
  if (index < 0 || index > static_cast<std::int64_t>(element_.slotCount) - 2) return Fail(Status::ReadFailed, "annotation index out of range");
  std::int32_t st = LoadSections();
  if (st != Status::Success) return st;
  if (!HasSlot(points_, index + 1, kPointSize))
    return Fail(Status::ReadFailed, "annotation " + std::to_string(index + 1) + kBeyondSection);
  if (!text) return Status::Success;
  auto rec = Record<MAPGIS_PntInfo>(points_, index + 1);
  if (rec.textLength < 1) {
    text[0] = 0;
    return Status::Success;
  }
  // One byte more than fits is read, so that a cut never splits a double-byte character.
  char buf[kNoteCapacity + 1];
  std::int64_t want = std::min<std::int64_t>(rec.textLength, kNoteCapacity);
  st = ReadData(rec.textOffset, buf, want, "annotation text", index + 1);
  if (st != Status::Success) return st;
  std::size_t len = static_cast<std::size_t>(want);
  if (len > kNoteCapacity - 1) len = GbkPrefixLength(std::string_view(buf, len), kNoteCapacity - 1);
  std::memcpy(text, buf, len);
  text[len] = 0;
  return Status::Success;
}

// Rings of an arc list of n words (entries e[0..n-2]): one more than the 0 entries, less a
// leading and a trailing 0, at least one.
std::int32_t MapGis_LayerCore::RingCount(const std::vector<std::int32_t>& e, std::int64_t n) const {
  std::int64_t r = 1 + std::count(e.begin(), e.end(), 0);
  if (!e.empty() && e[0] == 0) --r;
  if (n >= 3 && e.size() >= static_cast<std::size_t>(n - 1) && e[static_cast<std::size_t>(n - 2)] == 0) --r;
  return static_cast<std::int32_t>(std::max<std::int64_t>(r, 1));
}

std::int32_t MapGis_LayerCore::GetTicInfo(int index, MAPGIS_Tic_Info* tic) {
  if (!opened_ || index < 0 || index > static_cast<std::int64_t>(ticCount_) - 1) return Fail(Status::ReadFailed, "tic index out of range");
  if (!ticsLoaded_) {
    std::int64_t bytes = static_cast<std::int64_t>(ticCount_) * static_cast<std::int64_t>(kTicSize);
    std::int32_t st = CheckDataRange(ticOffset_, bytes, "tic table", -1);
    if (st != Status::Success) return st;
    if (!ResizeNoThrow(&tics_, static_cast<std::size_t>(bytes))) return Fail(Status::OutOfMemory, "no memory for the tics");
    st = ReadData(ticOffset_, tics_.data(), bytes, "tic table", -1);
    if (st != Status::Success) {
      tics_.clear();
      return st;
    }
    ticsLoaded_ = true;
  }
  if (tic) std::memcpy(tic, tics_.data() + static_cast<std::size_t>(index) * kTicSize, kTicSize);
  return Status::Success;
}

std::int32_t MapGis_LayerCore::ReadTopology(int index, MAPGIS_Topology* topo) {
  if (!opened_ || (readKind_ != KindLine && readKind_ != KindRegion && readKind_ != KindNetwork))
    return Fail(Status::ReadFailed, "this layer has no arc topology");
  if (!topologyLoaded_) {
    std::int32_t st = LoadRecords(kEntryTopology, element_.slotCount, kTopologySize, &topology_, "topology");
    if (st != Status::Success) return st;
    topologyLoaded_ = true;
  }
  if (index < 0 || index > static_cast<std::int64_t>(element_.slotCount) - 1) return Fail(Status::ReadFailed, "topology index out of range");
  if (!HasSlot(topology_, index, kTopologySize))
    return Fail(Status::ReadFailed, "topology entry " + std::to_string(index) + kBeyondSection);
  if (topo) std::memcpy(topo, topology_.data() + static_cast<std::size_t>(index) * kTopologySize, kTopologySize);
  return Status::Success;
}

// ---------------------------------------------------------------------------------------------
// Attributes

int MapGis_LayerCore::AttributeEntry(int type) const {
  if (!rules_.attributesByType) {
    // Fixed by the kind the layer is read as.
    switch (readKind_) {
      case KindLine:
      case KindPoint: return 2;
      case KindNetwork: return 5;
      case KindRegion: return 9;
      case KindTable: return 0;
      default: return -1;
    }
  }
  switch (head_.kind) {
    case KindLine:
    case KindNetwork:
      return type == 0 ? 2 : type == 1 ? 5 : -1;
    case KindPoint:
      return type == 1 ? 2 : -1;
    case KindRegion:
      return type == 0 ? 2 : type == 2 ? 9 : -1;
    case KindTable:
      return type == 7 ? 0 : -1;
    default:
      return -1;
  }
}

std::int32_t MapGis_LayerCore::ReadFieldInfo(int type) {
  if (type != attrType_) ClearAttrBuffer();
  if (loadedType_ == type && loadedType_ >= 0) return Status::Success;
  if (!opened_) return Fail(Status::BadAttribute, "no layer is open");
  int entry = AttributeEntry(type);
  if (entry < 0) return Fail(Status::BadAttribute, "attribute type " + std::to_string(type) + " does not exist in this layer kind");
  Section area;
  if (!SectionOf(entry, &area) || area.length < static_cast<std::int64_t>(sizeof(MAPGIS_FieldHead)))
    return Fail(Status::ReadFailed, "the attribute area of type " + std::to_string(type) + " is missing");
  MAPGIS_FieldHead head;
  if (!file_->ReadAt(area.offset, &head, sizeof head)) return Fail(Status::ReadFailed, "cannot read the attribute head");
  if (rules_.checkAttributeHead &&
      (head.signature[0] != kSignature[0] || head.signature[1] != kSignature[1] || head.headTag != kHeadTag))
    return Fail(Status::BadAttribute, "the attribute head carries no MapGIS signature");
  if (head.fieldCount < 0) return Fail(Status::ReadFailed, "negative field count");
  std::int64_t defBytes = static_cast<std::int64_t>(head.fieldCount) * static_cast<std::int64_t>(sizeof(MAPGIS_Field));
  std::vector<MAPGIS_Field> defs(static_cast<std::size_t>(head.fieldCount));
  if (!defs.empty() && !file_->ReadAt(area.offset + static_cast<std::int64_t>(sizeof head), defs.data(), defBytes))
    return Fail(Status::ReadFailed, "the field definitions lie past the end of the file");
  fieldHead_ = head;
  fields_ = std::move(defs);
  attrArea_ = area;
  loadedType_ = type;
  return Status::Success;
}

// The record block must lie inside the file before anything is sized by it.
std::int32_t MapGis_LayerCore::CheckRecordBlock() {
  const MAPGIS_FieldHead& h = fieldHead_;
  std::int64_t bytes = static_cast<std::int64_t>(h.recordCount) * static_cast<std::int64_t>(h.recordLength);
  // Every field takes at least one byte of a record behind its byte 0, so more fields than record
  // bytes is damage; it also keeps a pass over all values (records times fields) within the file.
  if (h.fieldCount > h.recordLength) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "%d fields cannot fit in attribute records of %d bytes", h.fieldCount, h.recordLength);
    return Fail(Status::ReadFailed, buf);
  }
  if (h.recordCount < 1 || h.recordLength < 1 || h.recordsOffset < 0 ||
      !file_->Contains(attrArea_.offset + h.recordsOffset, bytes)) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "%d attribute records of %d bytes at area offset %d do not fit in the file",
                  h.recordCount, h.recordLength, h.recordsOffset);
    return Fail(Status::ReadFailed, buf);
  }
  return Status::Success;
}

std::int32_t MapGis_LayerCore::ReadRecordAll() {
  recordsTried_ = true;
  std::int32_t st = CheckRecordBlock();
  if (st != Status::Success) return st;
  std::int64_t bytes = static_cast<std::int64_t>(fieldHead_.recordCount) * static_cast<std::int64_t>(fieldHead_.recordLength);
  const std::int64_t at = attrArea_.offset + fieldHead_.recordsOffset;
  if (const unsigned char* mapped = file_->MappedAt(at, bytes)) {
    records_.View(mapped, static_cast<std::size_t>(bytes));
  } else {
    if (!records_.Own(static_cast<std::size_t>(bytes))) return Fail(Status::OutOfMemory, "no memory for the attribute records");
    if (!file_->ReadAt(at, records_.Writable(), bytes)) {
      records_.Clear();
      return Fail(Status::ReadFailed, "cannot read the attribute records");
    }
  }
  recordsLoaded_ = true;
  return Status::Success;
}

// Reads stored record `record` + 1 alone into the record buffer.
std::int32_t MapGis_LayerCore::ReadOneRecord(int record) {
  std::int32_t st = CheckRecordBlock();
  if (st != Status::Success) return st;
  const std::int64_t len = fieldHead_.recordLength;
  if (!records_.Own(static_cast<std::size_t>(len))) return Fail(Status::OutOfMemory, "no memory for an attribute record");
  if (!file_->ReadAt(attrArea_.offset + fieldHead_.recordsOffset + (static_cast<std::int64_t>(record) + 1) * len, records_.Writable(), len))
    return Fail(Status::ReadFailed, "cannot read attribute record " + std::to_string(record + 1));
  return Status::Success;
}

// A type the layer kind does not have is refused and the current type stays. A type the kind
// has becomes current even when its area cannot be read, so that the next GetFieldCount reports
// the damage instead of answering from the area that was current before.
void MapGis_FastReader::SetAttributeType(int type) {
  const bool known = opened_ && AttributeEntry(type) >= 0;
  ReadFieldInfo(type);
  if (known) attrType_ = type;
}

std::int32_t MapGis_LayerCore::GetFieldCount() {
  std::int32_t st = ReadFieldInfo(attrType_);
  return st == Status::Success ? fieldHead_.fieldCount : st;
}

std::int32_t MapGis_LayerCore::GetRecordCount() {
  std::int32_t st = ReadFieldInfo(attrType_);
  if (st == Status::Success) st = CheckRecordBlock();
  return st == Status::Success ? fieldHead_.recordCount - 1 : st;
}

std::int32_t MapGis_LayerCore::FieldInfo(int index, char* name, int* size, int* width, int* decimals) {
  if (loadedType_ < 0 || index < 0 || index >= static_cast<int>(fields_.size())) return Status::BadAttribute;
  const MAPGIS_Field& f = fields_[static_cast<std::size_t>(index)];
  if (name) {
    std::string_view word = FirstWord(f.name, sizeof f.name);
    if (word.empty()) word = "FieldErr";
    std::memcpy(name, word.data(), word.size());
    name[word.size()] = 0;
  }
  if ((size && f.size < 0) || (width && f.width < 0) || (decimals && f.decimals < 0)) return Status::BadAttribute;
  if (size) *size = f.size;
  if (width) *width = f.width;
  if (decimals) *decimals = f.decimals;
  return f.type;
}

std::int32_t MapGis_LayerCore::FieldIndex(const char* name) {
  if (!name || loadedType_ < 0) return -1;
  std::string_view want = FirstWord(name, std::strlen(name));
  if (want.empty() || want.size() > 31) return -1;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    std::string_view have = FirstWord(fields_[i].name, sizeof fields_[i].name);
    if (have.size() == want.size() && strncasecmp(have.data(), want.data(), want.size()) == 0) return static_cast<std::int32_t>(i);
  }
  return -1;
}

// Copies the value of (record, field) into the scratch buffer, 0-terminated. Null `def` on failure.
std::int32_t MapGis_LayerCore::PrepareValue(int record, int field, const MAPGIS_Field** def) {
  *def = nullptr;
  lastValueSize_ = 0;
  if (loadedType_ < 0 && ReadFieldInfo(attrType_) != Status::Success) return Status::BadAttribute;
  const bool inRange = record >= 0 && record <= static_cast<std::int64_t>(fieldHead_.recordCount) - 2;
  if (record != currentRecord_) {
    currentRecord_ = record;
    if (rules_.recordPerRead) {
      recordsLoaded_ = inRange && ReadOneRecord(record) == Status::Success;
    } else if (!recordsTried_) {
      ReadRecordAll();
    }
  }
  if (!recordsLoaded_) return Status::ReadFailed;
  if (!inRange) return Status::ReadFailed;
  if (field < 0 || field >= static_cast<int>(fields_.size())) return Status::BadAttribute;
  const MAPGIS_Field& f = fields_[static_cast<std::size_t>(field)];
  // A definition that points outside its record is refused rather than read past the record.
  if (f.offset < 0 || f.size < 0 || static_cast<std::int64_t>(f.offset) + f.size > fieldHead_.recordLength)
    return Status::BadAttribute;
  std::size_t need = static_cast<std::size_t>(f.size) + 1;
  if (scratch_.size() < need && !ResizeNoThrow(&scratch_, need)) return Status::OutOfMemory;
  const std::size_t recordStart =
      rules_.recordPerRead ? 0 : static_cast<std::size_t>(record + 1) * static_cast<std::size_t>(fieldHead_.recordLength);
  const std::uint8_t* src = records_.data() + recordStart + static_cast<std::size_t>(f.offset);
  std::memcpy(scratch_.data(), src, static_cast<std::size_t>(f.size));
  scratch_[static_cast<std::size_t>(f.size)] = 0;
  lastValueSize_ = f.size;
  *def = &f;
  return Status::Success;
}

const char* MapGis_LayerCore::ReadAttribute(int record, int field, int type) {
  const MAPGIS_Field* def;
  if (PrepareValue(record, field, &def) != Status::Success) return nullptr;
  char* s = scratch_.data();
  if (type == FieldString || type == FieldText) {
    std::size_t len = static_cast<std::size_t>(def->size);
    std::size_t start = 0;
    while (start < len && s[start] == ' ') ++start;
    std::memmove(s, s + start, len - start + 1);
    len -= start;
    len = std::strlen(s) < len ? std::strlen(s) : len;
    while (len > 0 && s[len - 1] == ' ') --len;
    s[len] = 0;
    lastValueSize_ = static_cast<std::int32_t>(len);
  }
  return s;
}

const char* MapGis_LayerCore::ReadStringAttribute(int record, int field) { return ReadAttribute(record, field, FieldString); }

const char* MapGis_LayerCore::ReadTextAttribute(int record, int field) { return ReadAttribute(record, field, FieldText); }

namespace {
template <typename T>
T TakeValue(const char* bytes, std::int32_t size) {
  T value;
  std::memset(&value, 0, sizeof value);
  if (bytes && size > 0) std::memcpy(&value, bytes, std::min<std::size_t>(sizeof value, static_cast<std::size_t>(size)));
  return value;
}
}  // namespace

#define KVX_TYPED_READ(Type, Name)                                         \
  Type MapGis_LayerCore::Name(int record, int field) {                    \
    const MAPGIS_Field* def;                                               \
    if (PrepareValue(record, field, &def) != Status::Success) return Type{}; \
    return TakeValue<Type>(scratch_.data(), def->size);                    \
  }

KVX_TYPED_READ(std::uint8_t, ReadByteAttribute)
KVX_TYPED_READ(std::int16_t, ReadShortAttribute)
KVX_TYPED_READ(std::int32_t, ReadLongAttribute)
KVX_TYPED_READ(float, ReadFloatAttribute)
KVX_TYPED_READ(double, ReadDoubleAttribute)
KVX_TYPED_READ(DATE_STRUstruct, ReadDateAttribute)
KVX_TYPED_READ(TIME_STRUstruct, ReadTimeAttribute)
KVX_TYPED_READ(TIMESTAMPstruct, ReadTimeStampAttribute)

#undef KVX_TYPED_READ

bool MapGis_LayerCore::ReadBoolAttribute(int record, int field) {
  return ReadByteAttribute(record, field) != 0;
}

std::intptr_t MapGis_LayerCore::ReadBinareyAttribute(int record, int field) {
  return static_cast<std::intptr_t>(ReadLongAttribute(record, field));
}

// ---------------------------------------------------------------------------------------------
// The three readers

namespace {

constexpr ReaderRules kFastRules{
    /*reservedStatus=*/Status::DamagedHead, /*directoryStatus=*/Status::DamagedHead, /*magicStatus=*/Status::NotMapGis,
    /*acceptNetwork=*/true, /*closeOnHeadFailure=*/false, /*writable=*/false, /*nodesAsPoints=*/true,
    /*attributesByType=*/true, /*checkAttributeHead=*/false, /*recordPerRead=*/false,
    /*deletedArcEndsRegion=*/false, /*wideTicCount=*/false};

constexpr ReaderRules kReaderRules{
    /*reservedStatus=*/Status::NotMapGis, /*directoryStatus=*/Status::CannotOpen, /*magicStatus=*/Status::UnknownKind,
    /*acceptNetwork=*/false, /*closeOnHeadFailure=*/true, /*writable=*/true, /*nodesAsPoints=*/false,
    /*attributesByType=*/false, /*checkAttributeHead=*/true, /*recordPerRead=*/true,
    /*deletedArcEndsRegion=*/true, /*wideTicCount=*/true};

constexpr ReaderRules kMemRules{
    /*reservedStatus=*/Status::NotMapGis, /*directoryStatus=*/Status::CannotOpen, /*magicStatus=*/Status::UnknownKind,
    /*acceptNetwork=*/true, /*closeOnHeadFailure=*/false, /*writable=*/false, /*nodesAsPoints=*/false,
    /*attributesByType=*/false, /*checkAttributeHead=*/true, /*recordPerRead=*/false,
    /*deletedArcEndsRegion=*/false, /*wideTicCount=*/false};

// Field names of the Unicode readers: the stored GBK name as UTF-8.
std::int32_t WideFieldInfo(std::int32_t code, const char* gbk, std::string* name) {
  if (name && code != Status::BadAttribute) *name = GbkToUtf8(gbk);
  return code;
}

}  // namespace

MapGis_FastReader::MapGis_FastReader() : MapGis_LayerCore(kFastRules) {}

std::int32_t MapGis_FastReader::Open(const char* path) { return OpenFile(path); }

std::int32_t MapGis_FastReader::GetShapeType() const { return opened_ ? static_cast<std::int32_t>(head_.kind) : -1; }

std::int32_t MapGis_FastReader::GetPointCount(int* slots) const {
  if (!opened_) return -1;
  std::int32_t live, count;
  if (head_.kind == KindPoint) {
    live = element_.liveCount;
    count = element_.slotCount;
  } else if (head_.kind == KindNetwork) {
    live = element_.liveNodeCount;
    count = element_.nodeSlotCount;
  } else {
    return -1;
  }
  if (slots) *slots = count > 0 ? count - 1 : 0;
  return live;
}

std::int32_t MapGis_FastReader::GetArcCount(int* slots) const {
  if (!opened_ || (head_.kind != KindLine && head_.kind != KindRegion && head_.kind != KindNetwork)) return -1;
  if (slots) *slots = element_.slotCount > 0 ? element_.slotCount - 1 : 0;
  return element_.liveCount;
}

std::int32_t MapGis_FastReader::GetPolygonCount(int* slots) const {
  if (!opened_ || head_.kind != KindRegion) return -1;
  if (slots) *slots = element_.regionSlotCount > 0 ? element_.regionSlotCount - 1 : 0;
  return element_.liveRegionCount;
}


std::int32_t MapGis_FastReader::ReadPointWKB(int index, MAPGIS_PntInfo* info, WKBPoint* wkb) {
  MAPGIS_PntInfo rec;
  std::int32_t st = ReadPoint(index, &rec, nullptr);
  if (st != Status::Success) return st;
  if (info) *info = rec;
  if (wkb) {
    wkb->byteOrder = 0;
    wkb->wkbType = 1;
    wkb->point = Point2D{rec.x, rec.y};
  }
  return Status::Success;
}

std::int32_t MapGis_FastReader::ReadArcWKB(int index, MAPGIS_LineInfo* info, WKBLineString* wkb) {
  MAPGIS_LineInfo rec;
  std::int32_t st = ReadArcInfo(index, &rec, nullptr);
  if (st != Status::Success) return st;
  if (info) *info = rec;
  if (!wkb) return Status::Success;
  std::int64_t n = rec.pointCount;
  if (n < 0 || n > data_.length / 16) {
    return Fail(Status::ReadFailed, "line " + std::to_string(index + 1) + ": " + std::to_string(n) +
                                        " vertices do not fit in the data area");
  }
  auto* pts = static_cast<Point2D*>(std::calloc(static_cast<std::size_t>(std::max<std::int64_t>(n, 1)), sizeof(Point2D)));
  if (!pts) return Fail(Status::OutOfMemory, "no memory for a line");
  st = ReadData(rec.dataOffset, pts, n * 16, "vertex list", index + 1);
  if (st != Status::Success) {
    std::free(pts);
    return st;
  }
  wkb->byteOrder = 0;
  wkb->wkbType = 2;
  wkb->numPoints = static_cast<std::uint32_t>(n);
  wkb->points = pts;
  return Status::Success;
}

std::int32_t MapGis_FastReader::ReadPolygonWKB(int index, MAPGIS_RegInfo* info, WKBPolygon* wkb) {
  MAPGIS_RegInfo rec;
  std::int32_t st = ReadPolygonInfo(index, &rec, nullptr);
  if (st != Status::Success) return st;
  if (info) *info = rec;
  if (!wkb) return Status::Success;
  std::int32_t vertexTotal = 0;
  st = ReadPolyTopo(rec, &vertexTotal, &arcList_);
  if (st != Status::Success) return st;
  wkb->byteOrder = 0;
  wkb->wkbType = 3;
  wkb->numRings = static_cast<std::uint32_t>(RingCount(arcList_, rec.arcListLength));
  return Status::Success;
}

MapGis_Reader::MapGis_Reader() : MapGis_LayerCore(kReaderRules) {}

std::int32_t MapGis_Reader::Open(const std::filesystem::path& path) { return OpenFile(path.c_str()); }

std::int32_t MapGis_Reader::GetInfo(int* slots, int* shapeType, int* ticCount) const {
  const bool region = head_.kind == KindRegion;
  const std::int32_t count = region ? element_.regionSlotCount : element_.slotCount;
  if (slots) *slots = count > 0 ? count - 1 : 0;
  if (shapeType) {
    switch (head_.kind) {
      case KindPoint: *shapeType = 1; break;
      case KindLine: *shapeType = 3; break;
      case KindRegion: *shapeType = 5; break;
      default: break;
    }
  }
  if (ticCount) *ticCount = ticCount_;
  return region ? element_.liveRegionCount : element_.liveCount;
}

std::int32_t MapGis_Reader::SetPointInfo(int index, MAPGIS_PntInfo info) {
  if (!opened_ || readKind_ != KindPoint || !sectionsLoaded_ || index < 0 || index > static_cast<std::int64_t>(element_.slotCount) - 2)
    return Fail(Status::ReadFailed, "no such point record in memory");
  if (!HasSlot(points_, static_cast<std::int64_t>(index) + 1, kPointSize))
    return Fail(Status::ReadFailed, "point " + std::to_string(index + 1) + kBeyondSection);
  std::uint8_t* records = points_.Writable();
  if (records == nullptr) return Fail(Status::OutOfMemory, "no memory for the changed records");
  std::memcpy(records + (static_cast<std::size_t>(index) + 1) * kPointSize, &info, kPointSize);
  return Status::Success;
}

std::int32_t MapGis_Reader::SetArcInfo(int index, MAPGIS_LineInfo info) {
  if (!opened_ || (readKind_ != KindLine && readKind_ != KindRegion) || !sectionsLoaded_ || index < 0 ||
      index > static_cast<std::int64_t>(element_.slotCount) - 2)
    return Fail(Status::ReadFailed, "no such line record in memory");
  if (!HasSlot(lines_, static_cast<std::int64_t>(index) + 1, kLineSize))
    return Fail(Status::ReadFailed, "line " + std::to_string(index + 1) + kBeyondSection);
  std::uint8_t* records = lines_.Writable();
  if (records == nullptr) return Fail(Status::OutOfMemory, "no memory for the changed records");
  std::memcpy(records + (static_cast<std::size_t>(index) + 1) * kLineSize, &info, kLineSize);
  return Status::Success;
}

std::int32_t MapGis_Reader::SetPolygonInfo(int index, MAPGIS_RegInfo info) {
  if (!opened_ || readKind_ != KindRegion || !sectionsLoaded_ || index < 0 || index > static_cast<std::int64_t>(element_.regionSlotCount) - 2)
    return Fail(Status::ReadFailed, "no such region record in memory");
  if (!HasSlot(regions_, static_cast<std::int64_t>(index) + 1, kRegionSize))
    return Fail(Status::ReadFailed, "region " + std::to_string(index + 1) + kBeyondSection);
  std::uint8_t* records = regions_.Writable();
  if (records == nullptr) return Fail(Status::OutOfMemory, "no memory for the changed records");
  std::memcpy(records + (static_cast<std::size_t>(index) + 1) * kRegionSize, &info, kRegionSize);
  return Status::Success;
}

std::int32_t MapGis_Reader::WriteGeomInfo() {
  // Records can only have changed after the sections were read.
  if (!opened_ || !sectionsLoaded_) return Status::Success;
  const RecordBlock* block = nullptr;
  int entry = kEntryPrimary;
  switch (readKind_) {
    case KindPoint: block = &points_; break;
    case KindLine: block = &lines_; break;
    case KindRegion:
      block = &regions_;
      entry = kEntryRegions;
      break;
    default: return Status::Success;
  }
  if (block->empty()) return Status::Success;
  Section s;
  if (!SectionOf(entry, &s) || !file_->WriteAt(s.offset, block->data(), static_cast<std::int64_t>(block->size())))
    return Fail(Status::WriteFailed, "cannot write the records back");
  return Status::Success;
}

// A point inside the region: a horizontal line through the middle of the region's extent,
// placed between two vertex heights so it meets no vertex, cuts the rings into spans; the
// midpoint of the widest span that lies inside (even-odd over all rings, so holes are left out)
// is the label point.
std::int32_t MapGis_Reader::GetPolyLab(int index, MAPGIS_RegExt* label) {
  if (!opened_ || readKind_ != KindRegion) return Fail(Status::ReadFailed, "this layer has no regions");
  if (index < 0 || index > static_cast<std::int64_t>(element_.regionSlotCount) - 2) return Fail(Status::ReadFailed, "region index out of range");
  std::unique_ptr<Geometry, GeometryDeleter> g(CreateGeometry());
  if (!g) return Fail(Status::OutOfMemory, "no memory for a region");
  std::int32_t st = ReadPolygonInfo(index, nullptr, g.get());
  if (st != Status::Success) return st;
  if (!label) return Status::Success;
  const int n = g->vertexCount;
  if (n == 0) return Fail(Status::BadRegion, "region " + std::to_string(index + 1) + " has no vertices");
  std::vector<double> ys(g->y, g->y + n);
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  double y = ys[0];
  if (ys.size() > 1) {
    const double mid = (ys.front() + ys.back()) / 2;
    std::size_t k = static_cast<std::size_t>(std::lower_bound(ys.begin(), ys.end(), mid) - ys.begin());
    if (k == 0) k = 1;
    y = (ys[k - 1] + ys[k]) / 2;
  }
  std::vector<double> xs;
  for (int p = 0; p < g->partCount; ++p) {
    const int s = g->partStart[p];
    const int e = p + 1 < g->partCount ? g->partStart[p + 1] : n;
    for (int i = s; i < e; ++i) {
      const int j = i + 1 < e ? i + 1 : s;  // rings are closed implicitly
      const double y0 = g->y[i], y1 = g->y[j];
      if ((y0 < y) != (y1 < y)) xs.push_back(g->x[i] + (y - y0) / (y1 - y0) * (g->x[j] - g->x[i]));
    }
  }
  std::sort(xs.begin(), xs.end());
  if (xs.size() < 2) {
    label->x = (g->xMin + g->xMax) / 2;
    label->y = y;
    return Status::Success;
  }
  std::size_t best = 0;
  for (std::size_t k = 2; k + 1 < xs.size(); k += 2) {
    if (xs[k + 1] - xs[k] > xs[best + 1] - xs[best]) best = k;
  }
  label->x = (xs[best] + xs[best + 1]) / 2;
  label->y = y;
  return Status::Success;
}

std::int32_t MapGis_Reader::GetFieldInfo(int index, std::string* name, int* size, int* width, int* decimals) {
  char buf[32] = {0};
  return WideFieldInfo(FieldInfo(index, buf, size, width, decimals), buf, name);
}

std::int32_t MapGis_Reader::GetFieldIndex(const std::string& name) { return FieldIndex(Utf8ToGbk(name).c_str()); }

MapGis_MemReader::MapGis_MemReader() : MapGis_LayerCore(kMemRules) {}

std::int32_t MapGis_MemReader::Open(const std::filesystem::path& path) { return OpenFile(path.c_str()); }

std::int32_t MapGis_MemReader::GetShapeType() const {
  switch (readKind_) {
    case KindPoint: return 1;
    case KindLine:
    case KindNetwork: return 3;
    case KindRegion: return 5;
    default: return -1;
  }
}

namespace {
std::int32_t CountOf(std::int32_t live, std::int32_t slotCount, int* slots) {
  if (slots) *slots = slotCount > 0 ? slotCount - 1 : 0;
  return live;
}
}  // namespace

std::int32_t MapGis_MemReader::GetPntCount(int* slots) const { return CountOf(element_.liveCount, element_.slotCount, slots); }
std::int32_t MapGis_MemReader::GetArcCount(int* slots) const { return CountOf(element_.liveCount, element_.slotCount, slots); }
std::int32_t MapGis_MemReader::GetRegCount(int* slots) const {
  return CountOf(element_.liveRegionCount, element_.regionSlotCount, slots);
}
std::int32_t MapGis_MemReader::GetNetPntCount(int* slots) const {
  return CountOf(element_.liveNodeCount, element_.nodeSlotCount, slots);
}

void MapGis_MemReader::ReadAsPolyArc() { ReadAsKind(KindLine); }

std::int32_t MapGis_MemReader::GetFieldInfo(int index, std::string* name, int* size, int* width, int* decimals) {
  char buf[32] = {0};
  return WideFieldInfo(FieldInfo(index, buf, size, width, decimals), buf, name);
}

std::int32_t MapGis_MemReader::GetFieldIndex(const std::string& name) { return FieldIndex(Utf8ToGbk(name).c_str()); }

// A network node read on its own: the node record as stored, and with a record output its
// parameter block read at that moment (its first 54 bytes become record bytes 31 to 84).
std::int32_t MapGis_LayerCore::ReadNode(int index, MAPGIS_PntInfo* info, Geometry* geom) {
  if (!opened_ || head_.kind != KindNetwork) return Fail(Status::ReadFailed, "this layer has no network nodes");
  if (index < 0 || index > static_cast<std::int64_t>(element_.nodeSlotCount) - 2) return Fail(Status::ReadFailed, "node index out of range");
  if (nodes_.empty()) {
    std::int32_t st = LoadRecords(kEntryNodes, element_.nodeSlotCount, kNodeSize, &nodes_, "node");
    if (st != Status::Success) return st;
  }
  if (!HasSlot(nodes_, index + 1, kNodeSize))
    return Fail(Status::ReadFailed, "node " + std::to_string(index + 1) + kBeyondSection);
  auto node = Record<MAPGIS_NetPntInfo>(nodes_, index + 1);
  if (node.flag != 1) return Fail(Status::Deleted, "deleted node");
  if (info) {
    std::uint8_t block[kNodeBlockSize];
    std::int32_t st = ReadData(node.infoOffset, block, kNodeBlockSize, "node parameter block", index + 1);
    if (st != Status::Success) return st;
    MAPGIS_PntInfo pt{};
    pt.flag = node.flag;
    pt.textLength = 1;
    pt.textOffset = 0;
    pt.x = node.x;
    pt.y = node.y;
    std::memcpy(reinterpret_cast<std::uint8_t*>(&pt) + 31, block, 85 - 31);
    *info = pt;
  }
  return FillPoint(geom, node.x, node.y);
}

}  // namespace MapGis
