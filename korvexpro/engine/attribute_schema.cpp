#include "engine/attribute_schema.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "vordex/status.h"

namespace Kvx {
namespace {

using MapGis::FieldType;

// Below this a reader answer is a status, not a type code (type codes are stored in one byte).
constexpr std::int32_t kLowestTypeCode = -128;

template <typename T>
T TakeValue(const char* bytes, std::int32_t size) {
  T value;
  std::memset(&value, 0, sizeof value);
  if (bytes && size > 0) std::memcpy(&value, bytes, std::min<std::size_t>(sizeof value, static_cast<std::size_t>(size)));
  return value;
}

// The value of an integer field as its type stores it (a byte is unsigned).
std::int64_t IntegerValue(std::int32_t type, const char* value, std::int32_t size) {
  if (type == MapGis::FieldByte) return TakeValue<std::uint8_t>(value, size);
  if (type == MapGis::FieldShort) return TakeValue<std::int16_t>(value, size);
  return TakeValue<std::int32_t>(value, size);
}

// "%04.2f" without the locale: two decimals, padded on the left to four characters.
int FormatSeconds(double seconds, char* out, std::size_t capacity) {
  char text[400];
  const auto r = std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed, 2);
  std::size_t length = r.ec == std::errc{} ? static_cast<std::size_t>(r.ptr - text) : 0;
  const char pad = std::isfinite(seconds) ? '0' : ' ';
  std::size_t padding = length < 4 ? 4 - length : 0;
  if (padding + length + 1 > capacity) return 0;
  std::size_t at = 0;
  // Zero padding goes after a sign, as printf puts it.
  if (pad == '0' && padding > 0 && length > 0 && text[0] == '-') {
    out[at++] = '-';
    std::memmove(text, text + 1, --length);
  }
  for (std::size_t i = 0; i < padding; ++i) out[at++] = pad;
  std::memcpy(out + at, text, length);
  at += length;
  out[at] = 0;
  return static_cast<int>(at);
}

}  // namespace

bool PlanField(std::int32_t type, int size, int width, int decimals, FieldPlan* plan) {
  FieldPlan p;
  p.type = type;
  switch (type) {
    case MapGis::FieldString:
    case MapGis::FieldText:
      p.kind = ValueKind::Text;
      p.dbfType = FTString;
      if (width < 0) {
        p.width = kDbfTextMax;  // not given
      } else if (width == 0) {
        // shapelib refuses a field of width 0; the stored size says how long the values are.
        p.width = std::clamp(size, 1, kDbfTextMax);
      } else {
        p.width = std::min(width, kDbfTextMax);
      }
      p.textLimit = width > 0 ? std::min(width, p.width) : p.width;
      break;
    case MapGis::FieldByte:
    case MapGis::FieldShort:
    case MapGis::FieldLong:
      p.kind = ValueKind::Integer;
      p.dbfType = FTInteger;
      // The stored width; AttributeTransfer widens it to the widest value of the layer.
      p.width = std::min(width < 1 ? 4 : width, kDbfTextMax);
      break;
    case MapGis::FieldFloat:
    case MapGis::FieldDouble:
      p.kind = ValueKind::Real;
      p.dbfType = FTDouble;
      p.width = std::min(width < 1 ? 16 : width, kDbfTextMax);
      p.decimals = decimals < 1 ? 5 : decimals;
      break;
    case MapGis::FieldDate:
    case MapGis::FieldTime:
    case MapGis::FieldTimeStamp:
      p.kind = type == MapGis::FieldDate ? ValueKind::Date : type == MapGis::FieldTime ? ValueKind::Time : ValueKind::TimeStamp;
      p.dbfType = FTString;
      p.width = kDbfDateWidth;
      p.textLimit = kDbfDateWidth;
      break;
    case MapGis::FieldBool:
      p.kind = ValueKind::Logical;
      p.dbfType = FTLogical;
      p.width = std::min(width < 1 ? 4 : width, kDbfTextMax);
      break;
    case 10: case 11: case 12: case 13: case 14: case 15: case 17: case 18:
      // No DBF equivalent: a text field that keeps the field positions and holds nulls.
      p.kind = ValueKind::Null;
      p.dbfType = FTString;
      p.width = std::clamp(width, 1, kDbfTextMax);
      break;
    default:
      return false;
  }
  *plan = p;
  return true;
}

int IntegerTextWidth(std::int64_t value) {
  char text[24];
  const auto r = std::to_chars(text, text + sizeof text, value);
  return static_cast<int>(r.ptr - text);
}

SchemaStatus AttributeTransfer::AddFields(int fieldCount, const SchemaLines& lines, int records) {
  struct Planned {
    std::string name;       // GBK, as stored
    std::int32_t type = 0;
    int width = 0;          // -1 when not given
    bool valid = false;
    FieldPlan plan;
  };
  // Every definition first: the integer widths depend on the values of the whole layer.
  std::vector<Planned> planned(static_cast<std::size_t>(std::max(fieldCount, 0)));
  bool allValid = true;
  for (int j = 0; j < fieldCount; ++j) {
    Planned& f = planned[static_cast<std::size_t>(j)];
    char name[32] = {0};
    int size = 0, width = 0, decimals = 0;
    std::int32_t type = reader_.GetFieldInfo(j, name, &size, &width, &decimals);
    if (type < kLowestTypeCode) {
      // A negative size, width or decimals count is refused by the reader; take what it gives.
      type = reader_.GetFieldInfo(j, name, nullptr, nullptr, nullptr);
      if (reader_.GetFieldInfo(j, nullptr, &size, nullptr, nullptr) < kLowestTypeCode) size = -1;
      if (reader_.GetFieldInfo(j, nullptr, nullptr, &width, nullptr) < kLowestTypeCode) width = -1;
      if (reader_.GetFieldInfo(j, nullptr, nullptr, nullptr, &decimals) < kLowestTypeCode) decimals = -1;
    }
    f.name = name;
    f.type = type;
    f.width = width;
    f.valid = type >= kLowestTypeCode && PlanField(type, size, width, decimals, &f.plan);
    if (!f.valid) {
      allValid = false;
      break;
    }
  }

  // One pass over the records: an integer field keeps its stored width when every value fits,
  // else it gets the width of its widest value, so no value is cut and a field stays as narrow
  // as its values allow.
  if (allValid && records > 0) {
    std::vector<int> integers;
    for (int j = 0; j < fieldCount; ++j)
      if (planned[static_cast<std::size_t>(j)].plan.kind == ValueKind::Integer) integers.push_back(j);
    for (int record = 0; record < records && !integers.empty(); ++record) {
      for (int j : integers) {
        FieldPlan& plan = planned[static_cast<std::size_t>(j)].plan;
        const char* value = reader_.ReadAttribute(record, j, plan.type);
        const std::int32_t size = value ? reader_.GetLastValueSize() : 0;
        plan.width = std::max(plan.width, IntegerTextWidth(IntegerValue(plan.type, value, size)));
      }
    }
  }

  plans_.clear();
  plans_.reserve(planned.size());
  names_.clear();
  for (int j = 0; j < fieldCount; ++j) {
    const Planned& f = planned[static_cast<std::size_t>(j)];
    const std::string shownName = encoder_.GbkToUtf8(f.name);
    if (!f.valid) {
      log_.WriteFormat(std::string(lines.invalidType).c_str(), shownName.c_str());
      return SchemaStatus::InvalidType;
    }
    const FieldPlan& plan = f.plan;
    if (plan.kind == ValueKind::Text && f.width > kDbfTextMax) log_.WriteFormat(kLogFieldTooWide.data(), shownName.c_str());
    char dbfName[16];
    encoder_.EncodeDbfText(f.name.c_str(), dbfName, 10);
    const SinkField field{dbfName, shownName, plan.dbfType, plan.width, plan.decimals, plan.kind};
    if (dbf_.AddField(field) != j) {
      log_.WriteFormat(kLogFieldRefused.data(), shownName.c_str());
      return SchemaStatus::FieldRefused;
    }
    std::string stored = dbf_.WholeName(j);
    if (stored.empty()) stored = encoder_.Utf8() ? std::string(dbfName) : encoder_.GbkToUtf8(dbfName);
    names_.push_back({std::move(stored), shownName});
    if (plan.kind == ValueKind::Null) log_.WriteFormat(std::string(lines.unsupportedType).c_str(), shownName.c_str());
    if (lines.logDateAsText &&
        (plan.kind == ValueKind::Date || plan.kind == ValueKind::Time || plan.kind == ValueKind::TimeStamp))
      log_.WriteFormat(kLogDateAsText.data(), shownName.c_str());
    plans_.push_back(plan);
  }
  return SchemaStatus::Done;
}

void AttributeTransfer::WriteRow(int record, int row) {
  char text[kDbfTextMax + 1];
  char formatted[128];
  const int count = static_cast<int>(plans_.size());
  for (int j = 0; j < count; ++j) {
    const FieldPlan& plan = plans_[static_cast<std::size_t>(j)];
    const char* value = reader_.ReadAttribute(record, j, plan.type);
    const std::int32_t size = value ? reader_.GetLastValueSize() : 0;
    switch (plan.kind) {
      case ValueKind::Text:
        dbf_.WriteString(row, j, value ? encoder_.EncodeDbfText(value, text, plan.textLimit) : nullptr);
        break;
      case ValueKind::Integer: {
        dbf_.WriteInteger(row, j, IntegerValue(plan.type, value, size));
        break;
      }
      case ValueKind::Real: {
        if (plan.type == MapGis::FieldFloat) {
          dbf_.WriteFloat(row, j, TakeValue<float>(value, size));
        } else {
          dbf_.WriteDouble(row, j, TakeValue<double>(value, size));
        }
        break;
      }
      case ValueKind::Date: {
        const auto d = TakeValue<MapGis::DATE_STRUstruct>(value, size);
        std::snprintf(formatted, sizeof formatted, "%04d-%02d-%02d", d.year, d.month, d.day);
        dbf_.WriteDate(row, j, encoder_.EncodeDbfText(formatted, text, kDbfDateWidth), d);
        break;
      }
      case ValueKind::Time: {
        const auto t = TakeValue<MapGis::TIME_STRUstruct>(value, size);
        const int head = std::snprintf(formatted, sizeof formatted, "%02d:%02d:", t.hour, t.minute);
        const double seconds = t.second;
        FormatSeconds(seconds, formatted + head, sizeof formatted - static_cast<std::size_t>(head));
        dbf_.WriteString(row, j, encoder_.EncodeDbfText(formatted, text, kDbfDateWidth));
        break;
      }
      case ValueKind::TimeStamp: {
        const auto s = TakeValue<MapGis::TIMESTAMPstruct>(value, size);
        std::snprintf(formatted, sizeof formatted, "%04d-%02d-%02d_%02d:%02d:%02d.%08d", s.year, s.month, s.day, s.hour,
                      s.minute, s.second, s.fraction);
        dbf_.WriteTimeStamp(row, j, encoder_.EncodeDbfText(formatted, text, kDbfDateWidth), s);
        break;
      }
      case ValueKind::Logical:
        dbf_.WriteLogical(row, j, TakeValue<std::uint8_t>(value, size) != 0);
        break;
      case ValueKind::Null:
        dbf_.WriteNull(row, j);
        ++nulls_;
        if (nulls_ <= maxErrors_) log_.WriteFormat(kLogNullValue.data(), record, j);
        if (nulls_ == maxErrors_) log_.WriteString(kLogTooManyNulls);
        break;
    }
  }
}

}  // namespace Kvx
