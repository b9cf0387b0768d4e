#include "support/layer_builder.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <system_error>

namespace KvxTest {
namespace {

using ByteVec = std::vector<std::uint8_t>;

// Fails the test program loudly when a test asks the builder for something the kind cannot hold.
void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "LayerBuilder: %s\n", what);
  std::abort();
}

template <typename T>
void Put(ByteVec& out, std::size_t at, const T& value) {
  static_assert(std::is_trivially_copyable_v<T>);
  if (out.size() < at + sizeof(T)) out.resize(at + sizeof(T));
  std::memcpy(out.data() + at, &value, sizeof(T));
}

template <typename T>
void Append(ByteVec& out, const T& value) {
  Put(out, out.size(), value);
}

template <typename T>
ByteVec RecordSection(const std::vector<T>& records) {
  ByteVec out(sizeof(T));   // slot 0 is a placeholder
  for (const T& r : records) Append(out, r);
  return out;
}

// `slots` copies of a 32-byte extent, or of the 4-byte value 00 00 01 00.
ByteVec ExtentBlocks(int slots, const std::array<double, 4>& extent) {
  ByteVec out;
  for (int i = 0; i < slots; ++i) Append(out, extent);
  return out;
}

ByteVec FlagBlocks(int slots) {
  ByteVec out;
  for (int i = 0; i < slots; ++i) Append(out, std::uint32_t{0x00010000});
  return out;
}

}  // namespace

std::array<char, 8> MagicOf(int kind) {
  std::array<char, 8> magic{};
  const std::string text = "WMAP`D" + std::to_string(21 + kind);
  std::memcpy(magic.data(), text.data(), std::min<std::size_t>(text.size(), magic.size()));
  return magic;
}

std::int16_t DefaultFieldSize(int type) {
  switch (type) {
    case 1: return 1;
    case 2: return 2;
    case 3: return 4;
    case 4: return 4;
    case 5: return 8;
    case 6: return 4;
    case 7: return 10;
    case 8: return 1;
    case 16: return 16;
    default: return 0;
  }
}

std::vector<std::int64_t> LayerLayout::Boundaries() const {
  std::vector<std::int64_t> out = {0,
                                   static_cast<std::int64_t>(kHeadSize),
                                   static_cast<std::int64_t>(kParaOffset),
                                   static_cast<std::int64_t>(kElementOffset),
                                   static_cast<std::int64_t>(kExtentOffset),
                                   static_cast<std::int64_t>(kExtentOffset + 32),
                                   static_cast<std::int64_t>(kTicCountOffset),
                                   static_cast<std::int64_t>(kTicOffsetOffset),
                                   static_cast<std::int64_t>(kTicOffsetOffset + 4),
                                   directoryOffset,
                                   directoryEnd,
                                   fileSize};
  for (const Span& s : sections) {
    if (s.offset == 0 && s.length == 0) continue;
    out.push_back(s.offset);
    out.push_back(s.end());
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

// ---------------------------------------------------------------------------------------------
// AttributeArea

int AttributeArea::AddField(std::string_view name, int type, int size, int width, int decimals) {
  FieldSlot slot;
  const std::size_t n = std::min(name.size(), sizeof(slot.def.name));
  std::memcpy(slot.def.name, name.data(), n);
  slot.def.type = static_cast<std::int8_t>(type);
  slot.size = size < 0 ? DefaultFieldSize(type) : size;
  slot.offset = recordLength_;
  slot.def.offset = slot.offset;
  slot.def.size = static_cast<std::int16_t>(slot.size);
  slot.def.width = static_cast<std::int16_t>(width < 0 ? slot.size : width);
  slot.def.decimals = static_cast<std::int8_t>(decimals);
  slot.def.flag30 = 1;
  slot.def.ordinal = static_cast<std::uint16_t>(fields_.size());
  fields_.push_back(slot);
  recordLength_ += slot.size;
  for (auto& r : records_) r.resize(static_cast<std::size_t>(recordLength_));
  return static_cast<int>(fields_.size()) - 1;
}

void AttributeArea::EnsureRecords(int count) {
  while (static_cast<int>(records_.size()) < count) records_.emplace_back(static_cast<std::size_t>(recordLength_));
}

void AttributeArea::SetRecordCount(int count) {
  countFixed_ = true;
  records_.resize(static_cast<std::size_t>(std::max(count, 0)), ByteVec(static_cast<std::size_t>(recordLength_)));
}

void AttributeArea::SetBytes(int record, int field, std::span<const std::uint8_t> bytes) {
  Require(field >= 0 && field < FieldCount(), "SetBytes: no such field");
  Require(record >= 0, "SetBytes: negative record");
  EnsureRecords(record + 1);
  const FieldSlot& f = fields_[static_cast<std::size_t>(field)];
  ByteVec& r = records_[static_cast<std::size_t>(record)];
  std::fill_n(r.begin() + f.offset, f.size, std::uint8_t{0});
  std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(f.size)),
              r.begin() + f.offset);
}

void AttributeArea::SetText(int record, int field, std::string_view text) {
  SetBytes(record, field,
           std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void AttributeArea::SetRecordByte0(int record, std::uint8_t value) {
  if (record < 0) {
    placeholderByte0_ = value;
    return;
  }
  EnsureRecords(record + 1);
  records_[static_cast<std::size_t>(record)][0] = value;
}

std::vector<std::uint8_t> AttributeArea::Bytes(int minRecords) const {
  const int records = countFixed_ ? RecordCount() : std::max(RecordCount(), minRecords);

  MapGis::MAPGIS_FieldHead head{};
  const std::array<std::uint8_t, 6> signature = overrides.signature.value_or(
      std::array<std::uint8_t, 6>{0x60, 0x44, 0xDC, 0x07, 0x05, 0x16});
  std::memcpy(head.signature, signature.data(), signature.size());
  head.recordsOffset = overrides.recordsOffset.value_or(
      static_cast<std::int32_t>(sizeof(MapGis::MAPGIS_FieldHead) + sizeof(MapGis::MAPGIS_Field) * fields_.size()));
  head.headTag = overrides.headTag.value_or(17504);
  head.fieldCount = overrides.fieldCount.value_or(static_cast<std::int16_t>(fields_.size()));
  head.recordCount = overrides.recordCount.value_or(records + 1);
  head.recordLength = overrides.recordLength.value_or(recordLength_);

  std::vector<std::uint8_t> out;
  Append(out, head);
  for (const FieldSlot& f : fields_) Append(out, f.def);
  // The records follow the definitions as laid out, whatever recordsOffset claims.
  std::vector<std::uint8_t> placeholder(static_cast<std::size_t>(recordLength_));
  placeholder[0] = placeholderByte0_;
  out.insert(out.end(), placeholder.begin(), placeholder.end());
  for (int i = 0; i < records; ++i) {
    if (i < RecordCount()) {
      const auto& r = records_[static_cast<std::size_t>(i)];
      out.insert(out.end(), r.begin(), r.end());
    } else {
      out.resize(out.size() + static_cast<std::size_t>(recordLength_));
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// LayerBuilder

LayerBuilder::LayerBuilder(int kind) : kind_(kind) {
  para_.factor141 = 1.0;
  para_.factor153 = 1.0;
  para_.factor161 = 1.0;
  data_.assign(2, 0);   // 2 reserved bytes, so no stored offset is below 2
}

std::int32_t LayerBuilder::AppendData(std::span<const std::uint8_t> bytes) {
  const auto at = static_cast<std::int32_t>(data_.size());
  data_.insert(data_.end(), bytes.begin(), bytes.end());
  return at;
}

int LayerBuilder::AddPoint(double x, double y, std::string_view text) {
  Require(kind_ == 1, "points belong to a point file (kind 1)");
  MapGis::MAPGIS_PntInfo p{};
  p.flag = 1;
  p.x = x;
  p.y = y;
  p.pointType = text.empty() ? 1 : 0;
  if (!text.empty()) {
    p.textLength = static_cast<std::int16_t>(text.size());
    p.textOffset = AppendData(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  }
  points_.push_back(p);
  return static_cast<int>(points_.size()) - 1;
}

int LayerBuilder::AddLine(const std::vector<MapGis::Point2D>& vertices) {
  Require(kind_ == 0 || kind_ == 2 || kind_ == 4, "lines belong to kinds 0, 2 and 4");
  MapGis::MAPGIS_LineInfo l{};
  l.flag = 1;
  l.pointCount = static_cast<std::int32_t>(vertices.size());
  l.dataOffset = static_cast<std::int32_t>(data_.size());
  for (const MapGis::Point2D& v : vertices) Append(data_, v);
  lines_.push_back(l);
  lineVertices_.push_back(vertices);
  return static_cast<int>(lines_.size()) - 1;
}

int LayerBuilder::AddRegion(const std::vector<std::int32_t>& arcs, std::optional<std::int32_t> vertexTotal) {
  Require(kind_ == 2, "regions belong to a region file (kind 2)");
  std::int32_t total = 1;   // the first ring
  for (std::int32_t a : arcs) {
    if (a == 0) {
      ++total;
      continue;
    }
    const std::int64_t slot = a < 0 ? -static_cast<std::int64_t>(a) : a;
    if (slot >= 1 && slot <= static_cast<std::int64_t>(lines_.size()))
      total += lines_[static_cast<std::size_t>(slot - 1)].pointCount;
  }
  MapGis::MAPGIS_RegInfo r{};
  r.flag = 1;
  r.arcListLength = static_cast<std::int32_t>(arcs.size()) + 1;
  r.arcListOffset = static_cast<std::int32_t>(data_.size());
  Append(data_, vertexTotal.value_or(total));
  for (std::int32_t a : arcs) Append(data_, a);
  regions_.push_back(r);
  return static_cast<int>(regions_.size()) - 1;
}

int LayerBuilder::AddNode(double x, double y, const std::array<std::uint8_t, 94>& block) {
  Require(kind_ == 4, "nodes belong to a network file (kind 4)");
  MapGis::MAPGIS_NetPntInfo n{};
  n.x = x;
  n.y = y;
  n.flag = 1;
  n.infoOffset = AppendData(block);
  nodes_.push_back(n);
  return static_cast<int>(nodes_.size()) - 1;
}

int LayerBuilder::AddTic(const MapGis::MAPGIS_Tic_Info& tic) {
  tics_.push_back(tic);
  return static_cast<int>(tics_.size()) - 1;
}

void LayerBuilder::SetTopology(int slot, const MapGis::MAPGIS_Topology& topo) {
  Require(kind_ == 0 || kind_ == 2 || kind_ == 4, "topology belongs to kinds 0, 2 and 4");
  Require(slot >= 0, "SetTopology: negative slot");
  topology_[slot] = topo;
}

AttributeArea& LayerBuilder::Attributes(int entry) {
  const bool ok = (entry == EntryPrimary && kind_ == 7) ||
                  (entry == EntryPrimaryAttr && (kind_ == 0 || kind_ == 1 || kind_ == 2 || kind_ == 4)) ||
                  (entry == EntryNodeAttr && (kind_ == 0 || kind_ == 2 || kind_ == 4)) ||
                  (entry == EntryRegionAttr && kind_ == 2);
  Require(ok, "this kind has no attribute area at that entry");
  return areas_[entry];
}

void LayerBuilder::PlaceDirectory(std::int32_t offset, std::int32_t entries) {
  Require(offset >= static_cast<std::int32_t>(kHeadSize) && entries >= 0, "PlaceDirectory: bad place");
  directoryOffset_ = offset;
  directoryEntries_ = entries;
}

std::array<double, 4> LayerBuilder::ComputedExtent() const {
  double xMin = std::numeric_limits<double>::infinity(), yMin = xMin;
  double xMax = -xMin, yMax = -xMin;
  auto widen = [&](double x, double y) {
    xMin = std::min(xMin, x);
    yMin = std::min(yMin, y);
    xMax = std::max(xMax, x);
    yMax = std::max(yMax, y);
  };
  for (const auto& p : points_) widen(p.x, p.y);
  for (const auto& line : lineVertices_)
    for (const auto& v : line) widen(v.x, v.y);
  for (const auto& n : nodes_) widen(n.x, n.y);
  if (xMin > xMax) return {0.0, 0.0, 0.0, 0.0};
  return {xMin, yMin, xMax, yMax};
}

std::vector<std::vector<std::uint8_t>> LayerBuilder::Sections() const {
  std::vector<ByteVec> s(static_cast<std::size_t>(kDirectoryEntries));
  const std::array<double, 4> extent = overrides.extent.value_or(ComputedExtent());
  const int lineSlots = static_cast<int>(lines_.size()) + 1;
  const int regionSlots = static_cast<int>(regions_.size()) + 1;
  const int pointSlots = static_cast<int>(points_.size()) + 1;

  auto area = [&](int entry, int features) {
    auto it = areas_.find(entry);
    return it != areas_.end() ? it->second.Bytes(features) : AttributeArea().Bytes(features);
  };

  ByteVec data = data_;
  if (!tics_.empty())
    for (const auto& t : tics_) Append(data, t);
  s[EntryData] = std::move(data);

  auto topology = [&]() {
    ByteVec out(static_cast<std::size_t>(lineSlots) * sizeof(MapGis::MAPGIS_Topology));
    for (const auto& [slot, topo] : topology_) Put(out, static_cast<std::size_t>(slot) * sizeof(topo), topo);
    return out;
  };

  switch (kind_) {
    case 1:
      s[EntryPrimary] = RecordSection(points_);
      s[EntryPrimaryAttr] = area(EntryPrimaryAttr, static_cast<int>(points_.size()));
      s[EntryTopology] = ExtentBlocks(pointSlots, extent);
      s[EntryNodes] = FlagBlocks(pointSlots);
      break;
    case 0:
    case 2:
    case 4:
      s[EntryPrimary] = RecordSection(lines_);
      s[EntryPrimaryAttr] = area(EntryPrimaryAttr, static_cast<int>(lines_.size()));
      s[EntryTopology] = topology();
      s[EntryNodes] = kind_ == 4 ? RecordSection(nodes_) : ByteVec(sizeof(MapGis::MAPGIS_NetPntInfo));
      s[EntryNodeAttr] = area(EntryNodeAttr, static_cast<int>(nodes_.size()));
      if (kind_ != 4) {
        s[EntryLineExtent] = ExtentBlocks(lineSlots, extent);
        s[EntryLineFlags] = FlagBlocks(lineSlots);
      }
      if (kind_ == 2) {
        s[EntryRegions] = RecordSection(regions_);
        s[EntryRegionAttr] = area(EntryRegionAttr, static_cast<int>(regions_.size()));
        s[EntryRegionExtent] = ExtentBlocks(regionSlots, extent);
        s[EntryRegionFlags] = FlagBlocks(regionSlots);
      }
      break;
    case 7:
      s[EntryPrimary] = area(EntryPrimary, 0);
      break;
    default:
      break;
  }
  return s;
}

std::vector<std::uint8_t> LayerBuilder::Build() {
  const std::vector<ByteVec> sections = Sections();

  layout_ = LayerLayout{};
  layout_.directoryOffset = directoryOffset_;
  layout_.directoryEnd = directoryOffset_ + static_cast<std::int64_t>(directoryEntries_) * 10;
  layout_.sections.assign(static_cast<std::size_t>(directoryEntries_), Span{});

  // Sections one after the other in entry order; unused entries stay {0, 0}.
  std::int64_t at = std::max<std::int64_t>(static_cast<std::int64_t>(kFirstSection), layout_.directoryEnd);
  std::vector<MapGis::MAPGIS_Part> parts(static_cast<std::size_t>(directoryEntries_), MapGis::MAPGIS_Part{0, 0, -1});
  for (std::size_t e = 0; e < sections.size(); ++e) {
    if (sections[e].empty()) continue;
    Require(e < parts.size(), "the directory is too small for the sections");
    parts[e].offset = static_cast<std::int32_t>(at);
    parts[e].length = static_cast<std::int32_t>(sections[e].size());
    layout_.sections[e] = Span{at, parts[e].length};
    at += parts[e].length;
  }
  layout_.fileSize = at;

  ByteVec out(static_cast<std::size_t>(at), 0);

  MapGis::MAPGIS_HEAD head{};
  const std::array<char, 8> magic = overrides.magic.value_or(MagicOf(kind_));
  std::memcpy(head.magic, magic.data(), magic.size());
  head.kind = overrides.kind.value_or(static_cast<std::uint16_t>(kind_));
  head.reserved = overrides.reserved.value_or(0);
  head.partOffset = overrides.partOffset.value_or(directoryOffset_);
  head.partCount = overrides.partCount.value_or(directoryEntries_);
  Put(out, 0, head);

  Put(out, kParaOffset, para_);

  auto live = [](const auto& records) {
    std::int32_t n = 0;
    for (const auto& r : records) n += r.flag == 1 ? 1 : 0;
    return n;
  };
  MapGis::MAPGIS_Element counts{};
  if (kind_ == 1) {
    counts.liveCount = live(points_);
    counts.slotCount = static_cast<std::int32_t>(points_.size()) + 1;
  } else if (kind_ == 0 || kind_ == 2 || kind_ == 4) {
    counts.liveCount = live(lines_);
    counts.slotCount = static_cast<std::int32_t>(lines_.size()) + 1;
  }
  if (kind_ == 4) {
    counts.liveNodeCount = live(nodes_);
    counts.nodeSlotCount = static_cast<std::int32_t>(nodes_.size()) + 1;
  }
  if (kind_ == 2) {
    counts.liveRegionCount = live(regions_);
    counts.regionSlotCount = static_cast<std::int32_t>(regions_.size()) + 1;
  }
  counts.liveCount = overrides.liveCount.value_or(counts.liveCount);
  counts.slotCount = overrides.slotCount.value_or(counts.slotCount);
  counts.liveNodeCount = overrides.liveNodeCount.value_or(counts.liveNodeCount);
  counts.nodeSlotCount = overrides.nodeSlotCount.value_or(counts.nodeSlotCount);
  counts.liveRegionCount = overrides.liveRegionCount.value_or(counts.liveRegionCount);
  counts.regionSlotCount = overrides.regionSlotCount.value_or(counts.regionSlotCount);
  Put(out, kElementOffset, counts);

  Put(out, kExtentOffset, overrides.extent.value_or(ComputedExtent()));

  const std::int32_t ticOffset = tics_.empty() ? 0 : static_cast<std::int32_t>(data_.size());
  Put(out, kTicCountOffset, overrides.ticCount.value_or(static_cast<std::int16_t>(tics_.size())));
  Put(out, kTicOffsetOffset, overrides.ticOffset.value_or(ticOffset));

  for (const auto& [entry, part] : overrides.parts)
    if (entry >= 0 && entry < directoryEntries_) parts[static_cast<std::size_t>(entry)] = part;
  for (std::size_t e = 0; e < parts.size(); ++e)
    Put(out, static_cast<std::size_t>(directoryOffset_) + e * sizeof(MapGis::MAPGIS_Part), parts[e]);

  for (std::size_t e = 0; e < sections.size(); ++e)
    if (!sections[e].empty())
      std::copy(sections[e].begin(), sections[e].end(), out.begin() + layout_.sections[e].offset);

  return out;
}

bool LayerBuilder::WriteTo(const std::filesystem::path& path) {
  const ByteVec bytes = Build();
  return WriteFile(path, bytes);
}

bool WriteFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kvx-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("TempDir: mkdtemp");
    std::abort();
  }
  path_ = pattern;
}

std::string TempDir::Store(std::span<const std::uint8_t> bytes) {
  const std::filesystem::path file = path_ / ("layer" + std::to_string(next_++) + ".bin");
  return WriteFile(file, bytes) ? file.string() : std::string();
}

std::string TempDir::Store(LayerBuilder& builder) {
  const ByteVec bytes = builder.Build();
  return Store(bytes);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

LayerBuilder UnitSquares(int count) {
  LayerBuilder b(2);  // region
  for (int i = 0; i < count; ++i) {
    const double x = i * 2.0;
    b.AddLine({{x, 0}, {x, 1}, {x + 1, 1}, {x + 1, 0}, {x, 0}});
    b.AddRegion({i + 1});
  }
  b.Attributes(EntryRegionAttr).EnsureRecords(count);
  b.Attributes(EntryPrimaryAttr).EnsureRecords(count);
  return b;
}

}  // namespace KvxTest
