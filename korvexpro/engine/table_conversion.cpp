#include "engine/table_conversion.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <source_location>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "engine/attribute_schema.h"
#include "engine/logger.h"
#include "engine/shape_output.h"
#include "engine/xls_writer.h"
#include "vordex/layer_reader.h"
#include "vordex/text_encoding.h"

namespace Kvx {
namespace {

// Below this a reader answer is a status, not a type code.
constexpr std::int32_t kLowestTypeCode = -128;
// The last row a spreadsheet row number can address.
constexpr std::int32_t kXlsLastRow = 0xFFFF;


// The log, the reader and the table's counts, as both conversions start.
struct OpenedTable {
  explicit OpenedTable(const std::filesystem::path& outputBase) : log(LogPathFor(outputBase)) {}
  CLogger log;
  MapGis::MapGis_FastReader reader;
  std::int32_t records = 0;
  std::int32_t fields = 0;
};

// Opens the table; 0 when it can be converted, otherwise the result (its line is logged).
std::int32_t OpenTable(const std::filesystem::path& source, OpenedTable& t) {
  const std::int32_t opened = t.reader.Open(source.c_str());
  if (opened < 0) {
    t.log.WriteString(OpenFailureLine(opened));
    return opened;
  }
  t.records = t.reader.GetRecordCount();
  if (t.records < 0) {
    t.log.WriteString(kLogBadRecordCount);
    return kConvertBadRecordCount;
  }
  t.fields = t.reader.GetFieldCount();
  if (t.fields < 0) {
    t.log.WriteString(kLogBadStructure);
    return kConvertBadStructure;
  }
  return 0;
}

std::int32_t Summarise(CLogger& log, std::int32_t records) {
  if (records == 0) {
    log.WriteString(kLogEmptyResult);
    return kConvertEmpty;
  }
  log.WriteFormat(kLogAllConverted.data(), records, records);
  return kConvertSuccess;
}

// The field's name as the reader gives it (GBK) and its type code.
std::int32_t FieldNameAndType(MapGis::MapGis_FastReader& reader, int field, std::string* gbkName) {
  char name[32] = {0};
  const std::int32_t type = reader.GetFieldInfo(field, name, nullptr, nullptr, nullptr);
  *gbkName = std::string(name, strnlen(name, sizeof name));
  return type;
}

std::string FormatLine(std::string_view format, const std::string& text) {
  const std::string f(format);
  const int n = std::snprintf(nullptr, 0, f.c_str(), text.c_str());
  std::string out(static_cast<std::size_t>(std::max(n, 0)) + 1, '\0');
  std::snprintf(out.data(), out.size(), f.c_str(), text.c_str());
  out.resize(static_cast<std::size_t>(std::max(n, 0)));
  return out;
}

template <typename T>
T TakeValue(const char* bytes, std::int32_t size) {
  T value;
  std::memset(&value, 0, sizeof value);
  if (bytes && size > 0) std::memcpy(&value, bytes, std::min<std::size_t>(sizeof value, static_cast<std::size_t>(size)));
  return value;
}

// The date and time texts of the DBF fields, locale-free.
std::string DateText(const char* value, std::int32_t size, std::int32_t type) {
  char text[128];
  if (type == MapGis::FieldDate) {
    const auto d = TakeValue<MapGis::DATE_STRUstruct>(value, size);
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
    return text;
  }
  if (type == MapGis::FieldTime) {
    const auto t = TakeValue<MapGis::TIME_STRUstruct>(value, size);
    std::snprintf(text, sizeof text, "%02d:%02d:", t.hour, t.minute);
    std::string out = text;
    char seconds[400];
    const auto r = std::to_chars(seconds, seconds + sizeof seconds, t.second, std::chars_format::fixed, 2);
    std::string s(seconds, r.ec == std::errc{} ? r.ptr : seconds);
    // "%04.2f": padded on the left to four characters, zeros after a sign.
    const bool negative = !s.empty() && s[0] == '-';
    if (s.size() < 4) s.insert(negative ? 1 : 0, 4 - s.size(), std::isfinite(t.second) ? '0' : ' ');
    return out + s;
  }
  const auto s = TakeValue<MapGis::TIMESTAMPstruct>(value, size);
  std::snprintf(text, sizeof text, "%04d-%02d-%02d_%02d:%02d:%02d.%08d", s.year, s.month, s.day, s.hour, s.minute,
                s.second, s.fraction);
  return text;
}

}  // namespace

TableSettings TableSettings::From(const Settings& s) {
  TableSettings t;
  t.codePage = s.CodePage;
  t.logLevel = s.LogLevel;
  return t;
}

// ---- ConvertWB2DBF ----------------------------------------------------------------------------

std::int32_t ConvertWB2DBF(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                           Notifier& notifier, const TableSettings& settings) {
  OpenedTable t(outputBase);
  if (const std::int32_t failed = OpenTable(source, t); failed != 0) return failed;

  DbfTextEncoder encoder(settings.codePage);
  DbfTable dbf = DbfTable::Create(outputBase, encoder.CodePageText());
  if (!dbf.IsOpen()) {
    t.log.WriteFormat(kLogCannotCreate.data(), WithExtension(outputBase, ".dbf").c_str());
    return kConvertOutputFailed;
  }

  // The fields. The transfer's own lines go nowhere: this conversion reports the width warning
  // as a trace rather than in the log, and a null value on every occasion without a limit, so it
  // writes its schema lines itself, in the transfer's order.
  CLogger discard("/dev/null");
  const std::unique_ptr<FeatureSink> rows = DbfRowsOf(dbf);
  AttributeTransfer transfer(t.reader, *rows, encoder, discard, 0);
  const SchemaStatus schema =
      transfer.AddFields(t.fields, SchemaLines{kLogUnsupportedTypeE, kLogInvalidStructure, false}, t.records);
  const std::vector<FieldPlan>& plans = transfer.Plans();
  const int traceLevel = settings.logLevel >= 0 && settings.logLevel <= 3 ? 7 - settings.logLevel : 0;
  std::string name;
  for (int j = 0; j < static_cast<int>(plans.size()); ++j) {
    FieldNameAndType(t.reader, j, &name);
    const std::string shown = encoder.GbkToUtf8(name);
    int width = 0;
    if (plans[static_cast<std::size_t>(j)].kind == ValueKind::Text && traceLevel != 0 &&
        t.reader.GetFieldInfo(j, nullptr, nullptr, &width, nullptr) >= kLowestTypeCode && width > kDbfTextMax) {
      notifier.Trace(traceLevel, FormatLine(kLogFieldTooWide, shown), Kvx::SourceLocation::current());
    }
    if (plans[static_cast<std::size_t>(j)].kind == ValueKind::Null)
      t.log.WriteFormat(std::string(kLogUnsupportedTypeE).c_str(), shown.c_str());
  }
  if (schema != SchemaStatus::Done) {
    FieldNameAndType(t.reader, static_cast<int>(plans.size()), &name);
    const std::string shown = encoder.GbkToUtf8(name);
    if (schema == SchemaStatus::InvalidType) {
      t.log.WriteFormat(std::string(kLogInvalidStructure).c_str(), shown.c_str());
      return kConvertBadStructure;
    }
    t.log.WriteFormat(kLogFieldRefused.data(), shown.c_str());
    return kConvertOutputFailed;
  }
  // shapelib writes no row into a table without fields: such a table gets the row number.
  const bool rowNumbers = dbf.FieldCount() == 0;
  if (rowNumbers && dbf.AddField(kRowNumberField, FTInteger, 11, 0) < 0) {
    t.log.WriteFormat(kLogFieldRefused.data(), kRowNumberField);
    return kConvertOutputFailed;
  }

  // The records.
  PercentProgress progress(notifier, t.records);
  for (int i = 0; i < t.records; ++i) {
    transfer.WriteRow(i, i);
    for (const FieldPlan& plan : plans)
      if (plan.kind == ValueKind::Null) t.log.WriteString(kLogUnsupportedValue);
    if (rowNumbers) dbf.WriteInteger(i, 0, i);
    progress.Done(i);
  }

  const bool written = dbf.Close();
  t.reader.Close();
  if (!written) {
    t.log.WriteFormat(kLogCannotWrite.data(), WithExtension(outputBase, ".dbf").c_str());
    return kConvertOutputFailed;
  }
  return Summarise(t.log, t.records);
}

// ---- ConvertWB2XLS ----------------------------------------------------------------------------

std::int32_t ConvertWB2XLS(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                           Notifier& notifier) {
  OpenedTable t(outputBase);
  if (const std::int32_t failed = OpenTable(source, t); failed != 0) return failed;

  const std::filesystem::path file = WithExtension(outputBase, ".xls");
  XlsWriter xls(file);
  if (!xls.IsOpen()) {
    t.log.WriteFormat(kLogCannotCreate.data(), file.c_str());
    return kConvertOutputFailed;
  }
  xls.Bof();

  // Row 0: the field names. A column number has 16 bits, like a row number.
  const int columns = std::min(t.fields, 0x10000);
  std::vector<std::int32_t> types(static_cast<std::size_t>(columns));
  std::string name;
  for (int j = 0; j < columns; ++j) {
    types[static_cast<std::size_t>(j)] = FieldNameAndType(t.reader, j, &name);
    xls.Label(0, static_cast<std::uint16_t>(j), name);
  }

  // A record whose row number would not fit 16 bits cannot be written; those are counted as lost.
  const std::int32_t rows = std::min(t.records, kXlsLastRow);
  PercentProgress progress(notifier, t.records);
  for (int i = 0; i < rows; ++i) {
    const auto row = static_cast<std::uint16_t>(i + 1);
    for (int j = 0; j < columns; ++j) {
      const auto column = static_cast<std::uint16_t>(j);
      const std::int32_t type = types[static_cast<std::size_t>(j)];
      const char* value = t.reader.ReadAttribute(i, j, type);
      const std::int32_t size = value ? t.reader.GetLastValueSize() : 0;
      switch (type) {
        case MapGis::FieldString:
        case MapGis::FieldText:
          // A missing text is an empty cell, still a label, so every row has all its columns.
          xls.Label(row, column, value && size > 0 ? std::string_view(value, strnlen(value, static_cast<std::size_t>(size)))
                                                   : std::string_view());
          break;
        case MapGis::FieldByte: xls.Number(row, column, TakeValue<std::uint8_t>(value, size)); break;
        case MapGis::FieldShort: xls.Number(row, column, TakeValue<std::int16_t>(value, size)); break;
        case MapGis::FieldLong: xls.Number(row, column, TakeValue<std::int32_t>(value, size)); break;
        case MapGis::FieldFloat: xls.Number(row, column, TakeValue<float>(value, size)); break;
        case MapGis::FieldDouble: xls.Number(row, column, TakeValue<double>(value, size)); break;
        case MapGis::FieldBool: xls.Number(row, column, TakeValue<std::uint8_t>(value, size) != 0 ? 1.0 : 0.0); break;
        case MapGis::FieldDate:
        case MapGis::FieldTime:
        case MapGis::FieldTimeStamp: xls.Label(row, column, DateText(value, size, type)); break;
        default:
          xls.Label(row, column, {});
          t.log.WriteString(kLogUnsupportedValue);
          break;
      }
    }
    progress.Done(i);
  }
  xls.Eof();

  const bool written = xls.Close();
  t.reader.Close();
  if (!written) {
    t.log.WriteFormat(kLogCannotWrite.data(), file.c_str());
    return kConvertOutputFailed;
  }
  if (rows < t.records) {
    t.log.WriteFormat(kLogCountMismatch.data(), rows, t.records);
    return kConvertCountMismatch;
  }
  return Summarise(t.log, t.records);
}

}  // namespace Kvx
