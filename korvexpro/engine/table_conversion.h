#pragma once

// Attribute tables without shapes:
//
//   ConvertWB2DBF  a stand-alone MapGIS table (.wb) into "<base>.dbf" with the log "<base>.log".
//                  Fields and values as for the layer conversions; a text field wider than 254
//                  bytes is cut to 254 and reported as a diagnostic trace, not in the log; every
//                  value of a type without a DBF equivalent is written as null with its own line.
//   ConvertWB2XLS  the default attribute table of a layer into "<base>.xls" (see xls_writer.h):
//                  row 0 the field names, record i in row i + 1, field j in column j.
//
// Both return kConvertSuccess, kConvertEmpty for a table without records, or the failure codes of
// the conversion frame (open status, kConvertBadRecordCount, kConvertBadStructure,
// kConvertOutputFailed).

#include <cstdint>
#include <filesystem>

#include "engine/conversion_frame.h"

namespace Kvx {

inline constexpr std::string_view kLogUnsupportedValue = "I__字段类型SHAPE格式不支持,写入空值\n";

// What the table conversions read from the settings.
struct TableSettings {
  std::int32_t codePage = 0;
  std::int32_t logLevel = 0;  // the level of the width trace: 7 - logLevel for 0..3, no trace otherwise

  // The values of a settings snapshot.
  static TableSettings From(const Settings& settings);
};

std::int32_t ConvertWB2DBF(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                           Notifier& notifier, const TableSettings& settings);

// The XLS stream carries the stored text bytes; it has no code page of its own.
std::int32_t ConvertWB2XLS(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                           Notifier& notifier);

}  // namespace Kvx
