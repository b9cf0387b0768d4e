#include "vordex/colour_library.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "file_io.h"

namespace MapGis {

static_assert(std::endian::native == std::endian::little, "library records are read by block copy");

// ------------------------------------------------------------------------------------------------
// Colour library.
// ------------------------------------------------------------------------------------------------

std::int32_t MapGis_ColorLib::LoadColors(const std::filesystem::path& path) {
  head_ = COLORLIB_HEAD{};
  colors_.clear();
  colors_.shrink_to_fit();

  RandomAccessFile file;
  if (!file.Open(path.c_str())) return Status::CannotOpen;
  COLORLIB_HEAD head{};
  if (!file.ReadAt(0, &head, sizeof head)) return Status::ReadFailed;
  if (std::memcmp(head.magic, kColourLibraryMagic, sizeof head.magic) != 0) return Status::BadMagic;
  if (head.colorCount < 0) return Status::ReadFailed;

  // Only whole records that the file holds are taken: a library that ends early keeps the
  // colours it has instead of inventing cleared (white) ones.
  const std::int64_t stored = (file.Size() - static_cast<std::int64_t>(sizeof head)) /
                              static_cast<std::int64_t>(sizeof(MAPGIS_Color));
  const std::int64_t count = std::min<std::int64_t>(head.colorCount, stored);
  std::vector<MAPGIS_Color> colors(static_cast<std::size_t>(count));
  if (count > 0 && !file.ReadAt(sizeof head, colors.data(), count * static_cast<std::int64_t>(sizeof(MAPGIS_Color)))) {
    return Status::ReadFailed;
  }
  head_ = head;
  colors_ = std::move(colors);
  return static_cast<std::int32_t>(colors_.size());
}

std::int32_t MapGis_ColorLib::GetColorNum() const { return static_cast<std::int32_t>(colors_.size()); }

std::int32_t MapGis_ColorLib::GetInkNum() const { return head_.inkCount; }

const MAPGIS_Color* MapGis_ColorLib::GetColor(std::int32_t n) const {
  if (n < 1 || static_cast<std::size_t>(n) > colors_.size()) return nullptr;
  return &colors_[static_cast<std::size_t>(n) - 1];
}

RGBTRIPLE MapGis_ColorLib::GetRGB(std::int32_t n) const {
  const MAPGIS_Color* color = GetColor(n);
  if (!color) return RGBTRIPLE{};
  return CMYK2RGB(MAPGISCLR2CMYK(*color, head_));
}

CMYKQUAD MapGis_ColorLib::GetCMYK(std::int32_t n) const {
  const MAPGIS_Color* color = GetColor(n);
  if (!color) return CMYKQUAD{};
  CMYKQUAD mixed = MAPGISCLR2CMYK(*color, head_);
  auto percent = [](std::uint8_t c) { return static_cast<std::uint8_t>(c * 100 / 255); };
  return CMYKQUAD{percent(mixed.cmykBlack), percent(mixed.cmykCyan), percent(mixed.cmykMagenta),
                  percent(mixed.cmykYellow)};
}

// ------------------------------------------------------------------------------------------------
// Legend.
// ------------------------------------------------------------------------------------------------

MapGis_Legend::MapGis_Legend() = default;
MapGis_Legend::~MapGis_Legend() = default;
MapGis_Legend::MapGis_Legend(MapGis_Legend&&) noexcept = default;
MapGis_Legend& MapGis_Legend::operator=(MapGis_Legend&&) noexcept = default;

void MapGis_Legend::Close() {
  file_.reset();
  head_ = LEGEND_HEAD{};
  items_.clear();
  items_.shrink_to_fit();
}

std::int32_t MapGis_Legend::Open(const std::filesystem::path& path) {
  Close();
  auto file = std::make_unique<RandomAccessFile>();
  if (!file->Open(path.c_str())) return Status::CannotOpen;
  LEGEND_HEAD head{};
  if (!file->ReadAt(0, &head, sizeof head)) return Status::ReadFailed;
  if (std::memcmp(head.magic, kLegendMagic, sizeof head.magic) != 0) return Status::BadMagic;
  if (head.entryCount < 0) return Status::ReadFailed;

  const std::int64_t bytes = static_cast<std::int64_t>(head.entryCount) * static_cast<std::int64_t>(sizeof(MAPGIS_LegendItem));
  if (!file->Contains(sizeof head, bytes)) return Status::ReadFailed;
  std::vector<MAPGIS_LegendItem> items(static_cast<std::size_t>(head.entryCount));
  if (bytes > 0 && !file->ReadAt(sizeof head, items.data(), bytes)) return Status::ReadFailed;

  file_ = std::move(file);
  head_ = head;
  items_ = std::move(items);
  return head.entryCount;
}

bool MapGis_Legend::IsOpen() const { return file_ != nullptr; }

std::int32_t MapGis_Legend::GetLegendNum() const { return static_cast<std::int32_t>(items_.size()); }

std::int32_t MapGis_Legend::GetLegendInfo(int index, MAPGIS_LegendItem* item, PNT_INFOstruct* point,
                                          LIN_INFOstruct* line, REG_INFOstruct* region) const {
  if (!file_ || index < 0 || static_cast<std::size_t>(index) >= items_.size()) return Status::ReadFailed;
  const MAPGIS_LegendItem& entry = items_[static_cast<std::size_t>(index)];
  if (item) *item = entry;

  void* buffer = nullptr;
  std::int64_t size = 0;
  switch (entry.kind) {
    case LegendPoint: buffer = point; size = sizeof(PNT_INFOstruct); break;
    case LegendLine: buffer = line; size = sizeof(LIN_INFOstruct); break;
    case LegendRegion: buffer = region; size = sizeof(REG_INFOstruct); break;
    default: return entry.kind;
  }
  if (!buffer) return entry.kind;
  // A block lies inside the parameter area: a negative offset would read the entries themselves.
  if (entry.paramOffset < 0) return Status::ReadFailed;
  const std::int64_t area = static_cast<std::int64_t>(sizeof(LEGEND_HEAD)) +
                            static_cast<std::int64_t>(items_.size()) * static_cast<std::int64_t>(sizeof(MAPGIS_LegendItem));
  // ReadAt refuses a block that does not end inside the file.
  if (!file_->ReadAt(area + entry.paramOffset, buffer, size)) return Status::ReadFailed;
  return entry.kind;
}

// ------------------------------------------------------------------------------------------------
// Symbol library.
// ------------------------------------------------------------------------------------------------

MapGis_Symbol::MapGis_Symbol() = default;
MapGis_Symbol::~MapGis_Symbol() = default;
MapGis_Symbol::MapGis_Symbol(MapGis_Symbol&&) noexcept = default;
MapGis_Symbol& MapGis_Symbol::operator=(MapGis_Symbol&&) noexcept = default;

std::int32_t MapGis_Symbol::Open(const std::filesystem::path& path) {
  Close();
  auto file = std::make_unique<RandomAccessFile>();
  if (!file->Open(path.c_str())) return Status::CannotOpen;
  SYMBOL_HEAD head{};
  if (!file->ReadAt(0, &head, sizeof head)) return Status::ReadFailed;
  file_ = std::move(file);
  head_ = head;
  return 0;
}

void MapGis_Symbol::Close() {
  file_.reset();
  head_ = SYMBOL_HEAD{};
}

bool MapGis_Symbol::IsOpen() const { return file_ != nullptr; }

}  // namespace MapGis
