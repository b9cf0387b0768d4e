#pragma once

// Where a layer conversion's features go: a shapefile set ("<base>.shp/.shx/.dbf") or one table of
// a GeoPackage. The conversions write through this interface only, so every conversion writes
// either output without a second copy of its code.
//
// The order of calls is fixed: AddField for every field, BeginFeatures once, then per feature
// Append and the value writers of its row (rows are numbered from 0 in the order of Append), and
// Close last. Text values come in the table's encoding (GBK or UTF-8, as DbfTextEncoder gives them),
// already cut by the caller.

#include <shapefil.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "vordex/geometry.h"

namespace Kvx {

// How the values of one field are carried.
enum class ValueKind : std::uint8_t { Text, Integer, Real, Date, Time, TimeStamp, Logical, Null };

struct SinkField {
  const char* dbfName = "";      // in the table's encoding, cut for a DBF (10 bytes at most)
  std::string_view wholeName;    // UTF-8, whole
  DBFFieldType dbfType = FTString;
  int width = 0;
  int decimals = 0;
  ValueKind kind = ValueKind::Text;
};

// A field of DBF type `type`, its value kind following the type (integer, real, logical, else text).
SinkField DbfField(const char* dbfName, std::string_view wholeName, DBFFieldType type, int width, int decimals);

class FeatureSink {
 public:
  virtual ~FeatureSink() = default;

  // The file that failure lines name for the table and for the shapes.
  virtual std::filesystem::path TablePath() const = 0;
  virtual std::filesystem::path ShapePath() const = 0;

  // Adds a field; returns its index, or -1 when it is refused.
  virtual int AddField(const SinkField& field) = 0;
  virtual int FieldCount() const = 0;
  // The width a field's text values are cut to; 0 for a field that does not exist.
  virtual int FieldWidth(int field) const = 0;
  // The name of a field as the output holds it (UTF-8) when the output keeps whole names; empty
  // when it holds the DBF names.
  virtual std::string WholeName(int field) const = 0;

  // After the last field, before the first feature. False when the output cannot be created.
  virtual bool BeginFeatures() = 0;
  // Appends a feature with this shape (a Geometry has the layout of an SHPObject); its values
  // follow in row `n` for the n-th shape appended.
  virtual bool Append(SHPObject* shape) = 0;

  virtual bool WriteInteger(int row, int field, std::int64_t value) = 0;
  virtual bool WriteDouble(int row, int field, double value) = 0;
  // A single-precision value; an output that holds doubles keeps the decimal value the float stands for.
  virtual bool WriteFloat(int row, int field, float value) { return WriteDouble(row, field, static_cast<double>(value)); }
  virtual bool WriteString(int row, int field, const char* text) = 0;  // null writes a null
  virtual bool WriteLogical(int row, int field, bool value) = 0;
  virtual bool WriteNull(int row, int field) = 0;
  // A date or timestamp: its text (for outputs without date types) and its parts.
  virtual bool WriteDate(int row, int field, const char* text, const MapGis::DATE_STRUstruct& date) = 0;
  virtual bool WriteTimeStamp(int row, int field, const char* text, const MapGis::TIMESTAMPstruct& stamp) = 0;

  // Whether the output keeps the QGIS style itself (else it is a ".qml" beside it).
  virtual bool StoresStyle() const { return false; }
  // Keeps `qml` as the default style of the table (only when StoresStyle()).
  virtual bool StoreStyle(std::string_view qml) {
    (void)qml;
    return false;
  }

  // Ends the output. `discard`: nothing was written that is kept (an empty result that is not
  // exported); an output that can take its table back does. False when the output could not be
  // written whole; FailedPath() then names the file.
  virtual bool Close(bool discard) = 0;
  virtual std::filesystem::path FailedPath() const = 0;
};

class DbfTable;

// The rows of a DBF table alone (a table without shapes): the table is the caller's, and the
// shape calls fail.
std::unique_ptr<FeatureSink> DbfRowsOf(DbfTable& dbf);

// The shapefile set "<outputBase>.shp/.shx/.dbf" (with its ".cpg"): the table is created here (null
// when it cannot be), the shapes of `shapeType` (1, 3 or 5) by BeginFeatures.
std::unique_ptr<FeatureSink> CreateShapefileSink(const std::filesystem::path& outputBase, const char* codePage,
                                                 int shapeType);

}  // namespace Kvx
