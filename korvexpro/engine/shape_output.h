#pragma once

// The shapefile set of one conversion, written through shapelib: owning handles for the ".shp/.shx"
// and the ".dbf" (closed when they go), and the DBF value writers. The files are written through
// the buffered hooks of buffered_io.h.
//
// Numbers are written by this code, not by shapelib's printf, so that a value never silently
// becomes another number and never depends on the process locale: the text always uses '.', an
// integer that does not fit its field is written as null, and a real number that does not fit is
// written with fewer decimals, or in exponent form, rather than cut. Non-finite reals are null.

#include <shapefil.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vordex/geometry.h"

namespace Kvx {

// The ".cpg" text of a GBK (code page 936) table.
inline constexpr std::string_view kGbkCodePageFileText = "936";

// "<base><extension>": the base with the extension added, never replacing a dot-part of the base.
std::filesystem::path WithExtension(const std::filesystem::path& outputBase, std::string_view extension);

class DbfTable {
 public:
  DbfTable() = default;
  DbfTable(DbfTable&&) = default;
  DbfTable& operator=(DbfTable&&) = default;

  // Creates "<base>.dbf" with the code-page text "LDID/87" or "UTF-8". Both get a "<base>.cpg"
  // naming their encoding, which GDAL, QGIS and ArcGIS read: "936" (GBK, as ArcGIS writes it) beside
  // an "LDID/87" table, "UTF-8" (written by shapelib) beside a UTF-8 one. An earlier "<base>.cpg" is
  // removed for any other code page, so that it cannot mislabel the new table. Not open on failure,
  // also when the GBK table's ".cpg" cannot be written.
  static DbfTable Create(const std::filesystem::path& outputBase, const char* codePage);

  bool IsOpen() const { return handle_ != nullptr; }
  DBFHandle Handle() const { return handle_.get(); }

  // Adds a field; returns its index, or -1 when shapelib refuses it.
  int AddField(const char* name, DBFFieldType type, int width, int decimals);
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // Width of a field; 0 for a field that does not exist.
  int FieldWidth(int field) const {
    return field >= 0 && field < FieldCount() ? fields_[static_cast<std::size_t>(field)].width : 0;
  }

  bool WriteInteger(int row, int field, std::int64_t value);
  bool WriteDouble(int row, int field, double value);
  // `text` goes in as it is (already encoded and cut by the caller); null writes a null.
  bool WriteString(int row, int field, const char* text);
  bool WriteLogical(int row, int field, bool value);
  bool WriteNull(int row, int field);

  // Some write was refused by shapelib (a full disk, a file grown past what a DBF can address).
  bool Failed() const { return failed_; }

  // Closes the file (also done when the object goes). False when the table could not be written
  // whole (it is then removed).
  bool Close();

 private:
  struct Closer {
    void operator()(DBFHandle h) const { DBFClose(h); }
  };
  struct Field {
    DBFFieldType type;
    int width;
    int decimals;
  };
  bool WriteNumberText(int row, int field, const char* text, std::size_t length);
  bool Check(int ok) {
    if (!ok) failed_ = true;
    return ok != 0;
  }

  std::unique_ptr<DBFInfo, Closer> handle_;
  std::filesystem::path file_;
  std::vector<Field> fields_;
  bool failed_ = false;
};

class ShapeFile {
 public:
  ShapeFile() = default;
  ShapeFile(ShapeFile&&) = default;
  ShapeFile& operator=(ShapeFile&&) = default;

  // Creates "<base>.shp" and "<base>.shx" for shapes of `shapeType` (1, 3 or 5). Not open on
  // failure.
  static ShapeFile Create(const std::filesystem::path& outputBase, int shapeType);

  bool IsOpen() const { return handle_ != nullptr; }
  SHPHandle Handle() const { return handle_.get(); }

  // Appends the geometry as a new shape; a Geometry has the layout of shapelib's SHPObject.
  bool Append(MapGis::Geometry* geometry);

  // Closes the files (also done when the object goes). False when they could not be written whole
  // (they are then removed).
  bool Close();

 private:
  struct Closer {
    void operator()(SHPHandle h) const { SHPClose(h); }
  };
  std::unique_ptr<SHPInfo, Closer> handle_;
  std::filesystem::path base_;
};

// The text of a real number for a numeric field of `width` and `decimals`: fixed notation with the
// field's decimals when it fits, else with fewer decimals, else exponent notation with as many
// digits as fit. Writes at most `width` characters to `out` (not terminated) and returns the
// count, or -1 when nothing fits or the value is not finite.
int FormatDbfReal(double value, int width, int decimals, char* out);

}  // namespace Kvx
