#include "engine/shape_output.h"

#include "engine/buffered_io.h"
#include "engine/dbf_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace Kvx {
namespace {

static_assert(sizeof(SHPObject) == sizeof(MapGis::Geometry), "a Geometry is handed to shapelib as an SHPObject");
static_assert(offsetof(SHPObject, nVertices) == offsetof(MapGis::Geometry, vertexCount));
static_assert(offsetof(SHPObject, padfX) == offsetof(MapGis::Geometry, x));
static_assert(offsetof(SHPObject, dfXMin) == offsetof(MapGis::Geometry, xMin));
static_assert(offsetof(SHPObject, dfMMax) == offsetof(MapGis::Geometry, mMax));
static_assert(offsetof(SHPObject, bMeasureIsUsed) == offsetof(MapGis::Geometry, measureIsUsed));

// Widest field text: a DBF field holds at most 255 characters.
constexpr int kMaxFieldWidth = 255;

bool WriteCodePageFile(const std::filesystem::path& file, std::string_view text) {
  std::FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && written;
}

}  // namespace

std::filesystem::path WithExtension(const std::filesystem::path& outputBase, std::string_view extension) {
  std::string name = outputBase.native();
  name.append(extension);
  return std::filesystem::path(std::move(name));
}

// ---- DBF ---------------------------------------------------------------------------------------

DbfTable DbfTable::Create(const std::filesystem::path& outputBase, const char* codePage) {
  DbfTable table;
  const bool gbk = codePage && std::strcmp(codePage, kDbfCodePageAnsi) == 0;
  const bool utf8 = codePage && std::strncmp(codePage, "LDID/", 5) != 0;
  const std::filesystem::path cpg = WithExtension(outputBase, ".cpg");
  if (!utf8) {
    std::error_code ec;
    std::filesystem::remove(cpg, ec);
  }
  // The name is given with its extension: shapelib strips only that, so a dot inside the base
  // name survives.
  table.file_ = WithExtension(outputBase, ".dbf");
  SAHooks hooks = BufferedFileHooks();
  table.handle_.reset(DBFCreateLL(table.file_.c_str(), codePage, &hooks));
  if (table.handle_ && gbk && !WriteCodePageFile(cpg, kGbkCodePageFileText)) {
    // A GBK table without its .cpg is read as Latin-1 by GDAL and QGIS: not a usable result.
    table.handle_.reset();
    std::error_code ec;
    std::filesystem::remove(table.file_, ec);
    std::filesystem::remove(cpg, ec);
  }
  return table;
}

bool DbfTable::Close() {
  if (!handle_) return false;
  handle_.reset();
  std::error_code ec;
  return !failed_ && std::filesystem::exists(file_, ec);
}

int DbfTable::AddField(const char* name, DBFFieldType type, int width, int decimals) {
  if (!handle_) return -1;
  const int index = DBFAddField(handle_.get(), name, type, width, decimals);
  if (index < 0) return -1;
  if (static_cast<std::size_t>(index) >= fields_.size()) fields_.resize(static_cast<std::size_t>(index) + 1);
  fields_[static_cast<std::size_t>(index)] = Field{type, width, type == FTDouble ? decimals : 0};
  return index;
}

bool DbfTable::WriteNumberText(int row, int field, const char* text, std::size_t length) {
  // Numbers stand right-aligned in their field.
  const int width = fields_[static_cast<std::size_t>(field)].width;
  char padded[kMaxFieldWidth + 1];
  const std::size_t w = static_cast<std::size_t>(width);
  std::memset(padded, ' ', w - length);
  std::memcpy(padded + (w - length), text, length);
  padded[w] = 0;
  return Check(DBFWriteAttributeDirectly(handle_.get(), row, field, padded));
}

bool DbfTable::WriteInteger(int row, int field, std::int64_t value) {
  if (!handle_ || field < 0 || field >= FieldCount()) return false;
  const Field& f = fields_[static_cast<std::size_t>(field)];
  if (f.type == FTDouble) return WriteDouble(row, field, static_cast<double>(value));
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  const auto length = static_cast<std::size_t>(end - text);
  if (ec != std::errc{} || f.width < 1 || length > static_cast<std::size_t>(f.width) || f.width > kMaxFieldWidth)
    return WriteNull(row, field);
  return WriteNumberText(row, field, text, length);
}

bool DbfTable::WriteDouble(int row, int field, double value) {
  if (!handle_ || field < 0 || field >= FieldCount()) return false;
  const Field& f = fields_[static_cast<std::size_t>(field)];
  if (f.width < 1 || f.width > kMaxFieldWidth) return WriteNull(row, field);
  char text[kMaxFieldWidth + 1];
  const int length = FormatDbfReal(value, f.width, f.decimals, text);
  if (length < 0) return WriteNull(row, field);
  return WriteNumberText(row, field, text, static_cast<std::size_t>(length));
}

bool DbfTable::WriteString(int row, int field, const char* text) {
  if (!handle_ || field < 0 || field >= FieldCount()) return false;
  if (!text) return WriteNull(row, field);
  return Check(DBFWriteStringAttribute(handle_.get(), row, field, text));
}

bool DbfTable::WriteLogical(int row, int field, bool value) {
  if (!handle_ || field < 0 || field >= FieldCount()) return false;
  return Check(DBFWriteLogicalAttribute(handle_.get(), row, field, value ? 'T' : 'F'));
}

bool DbfTable::WriteNull(int row, int field) {
  if (!handle_ || field < 0 || field >= FieldCount()) return false;
  return Check(DBFWriteNULLAttribute(handle_.get(), row, field));
}

int FormatDbfReal(double value, int width, int decimals, char* out) {
  if (!std::isfinite(value) || width < 1) return -1;
  // Large enough for any double in fixed notation with up to 255 decimals.
  char text[700];
  for (int d = std::min(std::max(decimals, 0), kMaxFieldWidth); d >= 0; --d) {
    const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, d);
    if (r.ec != std::errc{}) continue;
    const auto length = static_cast<int>(r.ptr - text);
    if (length <= width) {
      std::memcpy(out, text, static_cast<std::size_t>(length));
      return length;
    }
    // Dropping decimals cannot help once the integer part alone is too wide.
    const char* point = static_cast<const char*>(std::memchr(text, '.', static_cast<std::size_t>(length)));
    if ((point ? static_cast<int>(point - text) : length) > width) break;
  }
  for (int p = std::min(width, 17); p >= 0; --p) {
    const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, p);
    if (r.ec != std::errc{}) continue;
    const auto length = static_cast<int>(r.ptr - text);
    if (length <= width) {
      std::memcpy(out, text, static_cast<std::size_t>(length));
      return length;
    }
  }
  return -1;
}

// ---- SHP ---------------------------------------------------------------------------------------

ShapeFile ShapeFile::Create(const std::filesystem::path& outputBase, int shapeType) {
  ShapeFile file;
  file.base_ = outputBase;
  SAHooks hooks = BufferedFileHooks();
  file.handle_.reset(SHPCreateLL(WithExtension(outputBase, ".shp").c_str(), shapeType, &hooks));
  return file;
}

bool ShapeFile::Close() {
  if (!handle_) return false;
  handle_.reset();
  std::error_code ec;
  return std::filesystem::exists(WithExtension(base_, ".shp"), ec) && std::filesystem::exists(WithExtension(base_, ".shx"), ec);
}

bool ShapeFile::Append(MapGis::Geometry* geometry) {
  if (!handle_ || !geometry) return false;
  return SHPWriteObject(handle_.get(), -1, reinterpret_cast<SHPObject*>(geometry)) >= 0;
}

}  // namespace Kvx
