#pragma once

// The layer's own attribute fields in the DBF: one DBF field per MapGIS field, in the same order,
// so that DBF field j is always MapGIS field j; and, for every feature written, its attribute
// record in the same DBF row.
//
//   MapGIS type               DBF field                       width                          decimals
//   0 string, 9 text          C                               the MapGIS width, at most 254  0
//   1 byte, 2 short, 3 long   N integer                       the MapGIS width, 4 below 1;   0
//                                                             the widest value's when wider
//   4 float, 5 double         N real                          the MapGIS width, 16 below 1   the MapGIS decimals, 5 below 1
//   6 date, 7 time, 16 stamp  C, formatted text               50                             0
//   8 boolean                 L                               the MapGIS width, 4 below 1    0
//   10..15, 17, 18            C, always null                  the MapGIS width, 1..254       0
//   above 18 (or negative)    none: the conversion stops with -9980

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dbf_text.h"
#include "engine/feature_sink.h"
#include "engine/logger.h"
#include "engine/shape_output.h"
#include "vordex/layer_reader.h"

namespace Kvx {

// Log lines of the schema that differ between conversions.
struct SchemaLines {
  std::string_view unsupportedType;  // "W__[%s]字段类型SHAPE格式不支持\n" or its E form
  std::string_view invalidType;      // "E__[%s]字段类型定义错误\n" or "E__[%s]字段结构定义存在严重错误\n"
  bool logDateAsText = false;        // "W__[%s]字段类型转换为字符型\n" for date and time fields
};

inline constexpr std::string_view kLogUnsupportedTypeW = "W__[%s]字段类型SHAPE格式不支持\n";
inline constexpr std::string_view kLogUnsupportedTypeE = "E__[%s]字段类型SHAPE格式不支持\n";
inline constexpr std::string_view kLogInvalidType = "E__[%s]字段类型定义错误\n";
inline constexpr std::string_view kLogInvalidStructure = "E__[%s]字段结构定义存在严重错误\n";
inline constexpr std::string_view kLogFieldTooWide = "W__[%s]字段长度大于255字节被截断\n";
inline constexpr std::string_view kLogDateAsText = "W__[%s]字段类型转换为字符型\n";
inline constexpr std::string_view kLogNullValue = "I__第[%d]条记录第[%d]字段写入空值\n";
inline constexpr std::string_view kLogTooManyNulls = "I__不支持字段过多，全部写入空值\n";
// A field that shapelib refuses (the DBF row would grow beyond 65535 bytes).
inline constexpr std::string_view kLogFieldRefused = "E__[%s]字段无法写入属性表\n";

// Characters of an integer written in a DBF field, sign included.
int IntegerTextWidth(std::int64_t value);

// Width of a DBF text field and the widest text a field takes.
inline constexpr int kDbfTextMax = 254;
// Width of the formatted date and time fields.
inline constexpr int kDbfDateWidth = 50;

struct FieldPlan {
  std::int32_t type = 0;        // MapGIS type code
  ValueKind kind = ValueKind::Null;
  DBFFieldType dbfType = FTString;
  int width = 0;                // DBF width
  int decimals = 0;             // DBF decimals
  int textLimit = 0;            // bytes of text a value keeps (text fields)
};

// The plan of one field from its MapGIS definition (an integer field with its stored width); false for a type above 18 (or negative).
// `width` and `decimals` below 0 mean "not given" (the reader refused to report them).
bool PlanField(std::int32_t type, int size, int width, int decimals, FieldPlan* plan);

enum class SchemaStatus {
  Done,            // every field was added
  InvalidType,     // a type above 18: its line was written, the conversion stops with -9980
  FieldRefused,    // shapelib refused a field: its line was written, the conversion stops
};

class AttributeTransfer {
 public:
  AttributeTransfer(MapGis::MapGis_FastReader& reader, FeatureSink& dbf, DbfTextEncoder& encoder, CLogger& log,
                    std::int32_t maxErrors)
      : reader_(reader), dbf_(dbf), encoder_(encoder), log_(log), maxErrors_(maxErrors) {}

  // Adds the layer's `fieldCount` fields to the DBF in order, with their log lines. Integer fields
  // are widened to the widest value of attribute records 0 .. records - 1 (read once, here).
  SchemaStatus AddFields(int fieldCount, const SchemaLines& lines, int records);

  // Writes the values of attribute record `record` into DBF row `row`. A value the reader cannot
  // give is written as the type's empty value.
  void WriteRow(int record, int row);

  // Values written as null because their type has no DBF equivalent.
  std::int32_t NullCount() const { return nulls_; }
  const std::vector<FieldPlan>& Plans() const { return plans_; }
  // For each field added: its name as the output holds it and its whole MapGIS name, both UTF-8.
  struct FieldNames {
    std::string stored;
    std::string whole;
  };
  const std::vector<FieldNames>& Names() const { return names_; }

 private:
  MapGis::MapGis_FastReader& reader_;
  FeatureSink& dbf_;
  DbfTextEncoder& encoder_;
  CLogger& log_;
  std::int32_t maxErrors_;
  std::vector<FieldPlan> plans_;
  std::vector<FieldNames> names_;
  std::int32_t nulls_ = 0;
};

}  // namespace Kvx
