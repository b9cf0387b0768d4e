#include "styles/legend.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace Kvx {
namespace {

// Appends `value` in uppercase hexadecimal, at least `width` digits, like "%0*X".
char* AppendHex(char* out, std::uint32_t value, int width) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  int digits = 1;
  while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
  if (digits < width) digits = width;
  for (int i = digits - 1; i >= 0; --i) *out++ = kDigits[(value >> (4 * i)) & 0xFu];
  return out;
}

bool SizesMatch(float a, float b) {
  if (a == b) return true;
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  const float difference = a - b;  // single precision on purpose
  return std::fabs(difference) <= kLegendSizeTolerance;
}

// ---- Cells of the collector's index ----
//
// Sizes that match lie less than 0.000101 apart, so a grid of 1/64-wide cells puts them in the same
// or a neighbouring cell. The grid is shifted by half a cell, which keeps the common sizes (0, 0.5,
// 1, 9, ...) in the middle of their cells: only a size within kCellMargin of a cell border needs
// the neighbouring cell looked at too. From 2^20 on, neighbouring floats are 0.125 apart, so only
// equal sizes match there; such sizes (and infinities) get a cell of their own bit pattern, and
// every NaN one cell.
constexpr double kCellsPerUnit = 64.0;
constexpr double kCellMargin = 0.01;  // in cells; matching sizes are at most 0.0065 cells apart
constexpr float kExactSizesFrom = 1048576.0f;
constexpr std::int64_t kExactCellBase = std::int64_t{1} << 40;
constexpr std::int64_t kNanCell = -(std::int64_t{1} << 40);

struct SizeCell {
  std::int64_t cell;
  int neighbour;  // -1 or +1: the neighbouring cell may hold matches too; 0: it cannot
};

SizeCell CellOf(float size) {
  if (std::isnan(size)) return {kNanCell, 0};
  if (!(std::fabs(size) < kExactSizesFrom)) {
    return {kExactCellBase + static_cast<std::int64_t>(std::bit_cast<std::uint32_t>(size)), 0};
  }
  const double scaled = static_cast<double>(size) * kCellsPerUnit + 0.5;  // exact in double
  const double cell = std::floor(scaled);
  const double within = scaled - cell;
  const int neighbour = within < kCellMargin ? -1 : (within > 1.0 - kCellMargin ? 1 : 0);
  return {static_cast<std::int64_t>(cell), neighbour};
}

std::uint64_t Mix(std::uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ull;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebull;
  x ^= x >> 31;
  return x;
}

}  // namespace

std::optional<LegendMode> LegendModeFor(std::int32_t symbolType) {
  switch (symbolType) {
    case 4:
      return LegendMode::Legend;
    case 1:
      return LegendMode::Symbol;
    default:
      return std::nullopt;
  }
}

// ---- Entries and codes ----------------------------------------------------------------------------

LegendEntry::LegendEntry(std::int32_t symbolValue, std::int32_t colourValue, std::int32_t secondColourValue,
                         float s1, float s2, float s3)
    : index(0),
      symbol(symbolValue < 0 ? 0 : (symbolValue > kLegendSymbolMax ? kLegendSymbolMax : symbolValue)),
      colour(colourValue < 0 ? 0 : colourValue),
      secondColour(secondColourValue < 0 ? 0 : secondColourValue),
      size1(s1),
      size2(s2),
      size3(s3) {}

std::uint32_t LegendSizeCode(float size) {
  if (std::isnan(size)) return kLegendSizeCodeMax;
  // In double the product of the float's exact value and 100 is not rounded up to the next whole
  // hundredth (0.28999999165f * 100 stays below 29; in single precision it would become 29).
  const double hundredths = std::trunc(static_cast<double>(size) * 100.0);
  if (hundredths < 0.0 || hundredths > static_cast<double>(kLegendSizeCodeMax)) return kLegendSizeCodeMax;
  return static_cast<std::uint32_t>(hundredths);
}

LegendCode LegendEntry::GetLegendCode() const {
  // With the clamps of the constructor every part has exactly its width; an entry whose members
  // were set out of range is cut to 32 characters like the "%04X%08X%08X%04X%04X%04X" it follows.
  char buffer[8 * 6];
  char* out = buffer;
  out = AppendHex(out, static_cast<std::uint32_t>(symbol), 4);
  out = AppendHex(out, static_cast<std::uint32_t>(colour), 8);
  out = AppendHex(out, static_cast<std::uint32_t>(secondColour), 8);
  out = AppendHex(out, LegendSizeCode(size1), 4);
  out = AppendHex(out, LegendSizeCode(size2), 4);
  out = AppendHex(out, LegendSizeCode(size3), 4);
  LegendCode code;
  std::memcpy(code.text_.data(), buffer, LegendCode::kLength);
  code.text_[LegendCode::kLength] = '\0';
  return code;
}

bool LegendEntry::Matches(const LegendEntry& other) const {
  return symbol == other.symbol && colour == other.colour && secondColour == other.secondColour &&
         SizesMatch(size1, other.size1) && SizesMatch(size2, other.size2) && SizesMatch(size3, other.size3);
}

const LegendEntry* FindLegendEntry(std::span<const LegendEntry> list, const LegendEntry& probe) {
  for (const LegendEntry& entry : list) {
    if (entry.Matches(probe)) return &entry;
  }
  return nullptr;
}

// ---- Entries of features --------------------------------------------------------------------------

std::int32_t LegendColour(const StyleContext& styles, std::int32_t n, LegendMode mode) {
  return mode == LegendMode::Legend ? styles.PackedRGB(n) : styles.PackedCMYK(n);
}

std::int32_t LineLegendSymbol(std::int16_t lineType, std::int8_t auxType) {
  const auto high = static_cast<std::uint32_t>(static_cast<std::int32_t>(lineType)) << 8;
  const auto low = static_cast<std::uint32_t>(static_cast<std::int32_t>(auxType));
  return static_cast<std::int32_t>(high | low);
}

LegendEntry LineLegendEntry(const MapGis::MAPGIS_LineInfo& line, const StyleContext& styles, LegendMode mode) {
  return LegendEntry(LineLegendSymbol(line.lineType, line.auxType), LegendColour(styles, line.color, mode), 0,
                     line.width, line.xScale, line.yScale);
}

LegendEntry SymbolLegendEntry(const MapGis::MAPGIS_PntInfo& point, const StyleContext& styles, LegendMode mode) {
  return LegendEntry(point.symbolNo, LegendColour(styles, point.color, mode), 0, point.width, point.height, 0.0f);
}

LegendEntry PointTypeLegendEntry(const MapGis::MAPGIS_PntInfo& point, const StyleContext& styles, LegendMode mode) {
  return LegendEntry(point.pointType, LegendColour(styles, point.color, mode), 0, 9.0f, 9.0f, 0.0f);
}

LegendEntry RegionLegendEntry(const MapGis::MAPGIS_RegInfo& region, const StyleContext& styles, LegendMode mode) {
  return LegendEntry(region.patternNo, LegendColour(styles, region.fillColor, mode),
                     LegendColour(styles, region.patternColor, mode), region.patternWidth, region.patternHeight,
                     0.0f);
}

// ---- The legend of one layer ----------------------------------------------------------------------

LegendCollector::CellKey LegendCollector::KeyOf(const LegendEntry& entry) {
  CellKey key;
  key.symbol = entry.symbol;
  key.colour = entry.colour;
  key.secondColour = entry.secondColour;
  key.cells[0] = CellOf(entry.size1).cell;
  key.cells[1] = CellOf(entry.size2).cell;
  key.cells[2] = CellOf(entry.size3).cell;
  return key;
}

std::uint64_t LegendCollector::HashKey(const CellKey& key) {
  std::uint64_t h = static_cast<std::uint32_t>(key.symbol) * 0x9E3779B97F4A7C15ull;
  h ^= static_cast<std::uint32_t>(key.colour) * 0xC2B2AE3D27D4EB4Full;
  h ^= static_cast<std::uint32_t>(key.secondColour) * 0x165667B19E3779F9ull;
  h ^= static_cast<std::uint64_t>(key.cells[0]) * 0xD6E8FEB86659FD93ull;
  h ^= static_cast<std::uint64_t>(key.cells[1]) * 0xFF51AFD7ED558CCDull;
  h ^= static_cast<std::uint64_t>(key.cells[2]) * 0xC4CEB9FE1A85EC53ull;
  return Mix(h);
}

std::int32_t LegendCollector::FindCellHead(const CellKey& key) const {
  if (cellSlots_.empty()) return -1;
  const std::uint64_t hash = HashKey(key);
  const auto tag = static_cast<std::uint32_t>(hash >> 32);
  const std::size_t mask = cellSlots_.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
    const CellSlot& slot = cellSlots_[i];
    if (slot.head < 0) return -1;
    if (slot.tag == tag && KeyOf(entries_[static_cast<std::size_t>(slot.head)]) == key) return slot.head;
  }
}

std::optional<std::int32_t> LegendCollector::Find(const LegendEntry& probe) const {
  if (entries_.empty()) return std::nullopt;
  const SizeCell cells[3] = {CellOf(probe.size1), CellOf(probe.size2), CellOf(probe.size3)};
  CellKey key;
  key.symbol = probe.symbol;
  key.colour = probe.colour;
  key.secondColour = probe.secondColour;

  std::int32_t best = -1;
  // Every combination of each size's own cell and, where it may hold matches, its neighbour.
  for (unsigned combination = 0; combination < 8; ++combination) {
    bool valid = true;
    for (int d = 0; d < 3; ++d) {
      const bool useNeighbour = (combination >> d) & 1u;
      if (useNeighbour && cells[d].neighbour == 0) {
        valid = false;
        break;
      }
      key.cells[d] = cells[d].cell + (useNeighbour ? cells[d].neighbour : 0);
    }
    if (!valid) continue;
    // A cell lists its entries in list order, so its first match is its earliest.
    for (std::int32_t i = FindCellHead(key); i >= 0 && (best < 0 || i < best); i = next_[static_cast<std::size_t>(i)]) {
      if (entries_[static_cast<std::size_t>(i)].Matches(probe)) {
        best = i;
        break;
      }
    }
  }
  if (best < 0) return std::nullopt;
  return best;
}

void LegendCollector::GrowCells() {
  std::vector<CellSlot> old;
  old.swap(cellSlots_);
  cellSlots_.assign(old.empty() ? 64 : old.size() * 2, CellSlot{});
  const std::size_t mask = cellSlots_.size() - 1;
  for (const CellSlot& slot : old) {
    if (slot.head < 0) continue;
    const std::uint64_t hash = HashKey(KeyOf(entries_[static_cast<std::size_t>(slot.head)]));
    std::size_t i = static_cast<std::size_t>(hash) & mask;
    while (cellSlots_[i].head >= 0) i = (i + 1) & mask;
    cellSlots_[i] = slot;
  }
}

void LegendCollector::LinkEntry(std::int32_t position) {
  next_.push_back(-1);
  cellTail_.push_back(-1);
  const CellKey key = KeyOf(entries_[static_cast<std::size_t>(position)]);
  if (const std::int32_t head = FindCellHead(key); head >= 0) {
    auto& tail = cellTail_[static_cast<std::size_t>(head)];
    next_[static_cast<std::size_t>(tail)] = position;
    tail = position;
    return;
  }
  if ((cellsUsed_ + 1) * 2 > cellSlots_.size()) GrowCells();
  const std::uint64_t hash = HashKey(key);
  const std::size_t mask = cellSlots_.size() - 1;
  std::size_t i = static_cast<std::size_t>(hash) & mask;
  while (cellSlots_[i].head >= 0) i = (i + 1) & mask;
  cellSlots_[i] = {static_cast<std::uint32_t>(hash >> 32), position};
  cellTail_[static_cast<std::size_t>(position)] = position;
  ++cellsUsed_;
}

std::int32_t LegendCollector::FindColourOrAdd(std::int32_t colour) {
  if ((colours_.size() + 1) * 2 > colourSlots_.size()) {
    colourSlots_.assign(colourSlots_.empty() ? 64 : colourSlots_.size() * 2, 0);
    const std::size_t mask = colourSlots_.size() - 1;
    for (std::size_t p = 0; p < colours_.size(); ++p) {
      std::size_t i = Mix(static_cast<std::uint32_t>(colours_[p])) & mask;
      while (colourSlots_[i] != 0) i = (i + 1) & mask;
      colourSlots_[i] = static_cast<std::int32_t>(p + 1);
    }
  }
  const std::size_t mask = colourSlots_.size() - 1;
  std::size_t i = Mix(static_cast<std::uint32_t>(colour)) & mask;
  for (; colourSlots_[i] != 0; i = (i + 1) & mask) {
    const std::int32_t position = colourSlots_[i] - 1;
    if (colours_[static_cast<std::size_t>(position)] == colour) return position;
  }
  colours_.push_back(colour);
  colourSlots_[i] = static_cast<std::int32_t>(colours_.size());
  return static_cast<std::int32_t>(colours_.size() - 1);
}

LegendCollector::Hit LegendCollector::Add(const LegendEntry& probe) {
  if (const std::optional<std::int32_t> found = Find(probe)) return {*found, false};
  LegendEntry entry = probe;
  // A matching entry has the same colour, so only a new entry can bring a new colour.
  entry.index = mode_ == LegendMode::Legend ? FindColourOrAdd(probe.colour) : probe.symbol;
  entries_.push_back(entry);
  const auto position = static_cast<std::int32_t>(entries_.size() - 1);
  LinkEntry(position);
  return {position, true};
}

LegendCode LegendCollector::Collect(const LegendEntry& probe) {
  const Hit hit = Add(probe);
  if (mode_ == LegendMode::Legend) return entries_[static_cast<std::size_t>(hit.position)].GetLegendCode();
  return probe.GetLegendCode();
}

void LegendCollector::Clear() {
  entries_.clear();
  next_.clear();
  cellTail_.clear();
  std::fill(cellSlots_.begin(), cellSlots_.end(), CellSlot{});
  cellsUsed_ = 0;
  colours_.clear();
  std::fill(colourSlots_.begin(), colourSlots_.end(), 0);
}

}  // namespace Kvx
