#pragma once

// The frame that every layer conversion runs: one MapGIS layer in, one shapefile set out
// ("<base>.shp/.shx/.dbf", ".cpg" naming the table's encoding, ".prj", ".avl" in legend mode, ".qml"
// with drawing parameters) or, with the GeoPackage format, one table of a GeoPackage (its
// coordinate system and its QGIS style inside; the ".avl" beside it), and always the log
// "<base>.log".
//
// RunConversion owns the whole sequence: the log, opening and checking the layer, the attribute
// structure, the projection step, the DBF schema, the shape file, the record loop with its error
// counting and progress, closing, the legend file and the summary line with the result code. What
// differs between the kinds of layer comes in through ConversionHooks:
//
//   Rules()            constants: layer kind, count operation, attribute table, shape type, the
//                      texts that differ between conversions, the legend file kind
//   StyleFields()      the drawing-parameter fields added after the layer's own fields
//   ReadFeature()      reads slot k: its record (kept by the hook) and its geometry
//   SelectFeature()    whether the feature just read is written at all
//   PrepareGeometry()  changes to the geometry after scaling, before it is written
//   WriteStyleValues() the drawing-parameter values of the feature just written
//
// A conversion routine is a small hooks class plus a call of RunConversion.
//
// Output files: the .shp/.shx/.dbf are created only once the layer has passed its checks; one that
// cannot be created or written gives an error line naming it and kConvertOutputFailed, and no
// feature is written without it. A requested .prj or .avl that cannot be written gives its error
// line and kConvertOutputFailed too, though the shapefile itself is then complete; so does a
// ".qml" that cannot be written. A GeoPackage table is created at the same point (the GeoPackage
// with it when there is none yet); one that cannot be created or written gives the error line
// naming the GeoPackage and kConvertOutputFailed and leaves no table, and an empty result takes
// its table back unless exportEmptyFile keeps it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/attribute_schema.h"
#include "engine/dbf_text.h"
#include "engine/feature_sink.h"
#include "engine/geopackage_sink.h"
#include "engine/shape_output.h"
#include "projection/reprojection.h"
#include "settings/settings.h"
#include "styles/avl_writer.h"
#include "styles/colour_models.h"
#include "styles/label_markup.h"
#include "styles/legend.h"
#include "styles/notifier.h"
#include "vordex/layer_reader.h"

namespace Kvx {

// ---- Result codes -----------------------------------------------------------------------------

inline constexpr std::int32_t kConvertSuccess = 99999;         // every live feature was converted
inline constexpr std::int32_t kConvertEmpty = 10;              // nothing was written
inline constexpr std::int32_t kConvertReadErrors = -9979;      // features that could not be read were skipped
inline constexpr std::int32_t kConvertCountMismatch = -9983;   // written count differs from the valid count
inline constexpr std::int32_t kConvertBadRecordCount = -9977;  // negative attribute record count
inline constexpr std::int32_t kConvertBadStructure = -9980;    // unusable attribute structure
inline constexpr std::int32_t kConvertWrongKind = -9997;       // not the layer kind the conversion takes
inline constexpr std::int32_t kConvertOutputFailed = -9982;    // an output file could not be created or written
inline constexpr std::int32_t kConvertNotReprojected = -9960;  // no transformation to the target system: nothing written
inline constexpr std::int32_t kConvertDamaged = -9999;         // the file claims records it does not hold, none could be read
// Any other negative result is the reader's status from opening the layer.

// ---- Log lines of the frame ---------------------------------------------------------------------

inline constexpr std::string_view kLogOpenNotMapGis = "E__原文件错误-非系统文件错误\n";
inline constexpr std::string_view kLogOpenDamaged = "E__原文件错误-数据校验错误\n";
inline constexpr std::string_view kLogOpenWrongType = "E__原文件错误-要素几何类型错误\n";
inline constexpr std::string_view kLogOpenFailed = "E__原文件错误-文件打开失败\n";
inline constexpr std::string_view kLogOpenUnknown = "E__原文件错误-发生未知错误\n";
inline constexpr std::string_view kLogOpenOlderVariant = "E__原文件错误-不支持的MapGIS旧版图层格式\n";
inline constexpr std::string_view kLogWrongKind = "E__文件几何类型错误\n";
// The stored slot count claims more records than the record section holds: only the held ones
// are converted (held count, claimed count).
inline constexpr std::string_view kLogClaimsMoreRecords = "E__文件声明的记录数多于实际存储的记录数(%d/%d)\n";
inline constexpr std::string_view kLogNotCompacted = "W__文件未压缩存盘，可能存在错误信息\n";
inline constexpr std::string_view kLogBadRecordCount = "E__文件属性记录数量错误\n";
inline constexpr std::string_view kLogRecordMismatchW = "W__文件图形记录与属性记录数量不匹配\n";
inline constexpr std::string_view kLogRecordMismatchE = "E__文件图形记录与属性记录数量不匹配\n";
inline constexpr std::string_view kLogBadStructure = "E__文件属性结构定义错误\n";
inline constexpr std::string_view kLogFeatureError = "F__第[%d]号图元信息错误，已跳过\n";
inline constexpr std::string_view kLogTooManyErrors = "F__图元信息错误过多，跳过全部错误\n";
inline constexpr std::string_view kLogAvlWritten = "I__输出AVL图例文件\n";
inline constexpr std::string_view kLogEmptyResult = "W__输出结果文件为空文件\n";
inline constexpr std::string_view kLogReadErrors = "E__原文件存在错误(%d/%d)\n";
inline constexpr std::string_view kLogCountMismatch = "E__图元与属性不匹配(%d/%d)\n";
inline constexpr std::string_view kLogAllConverted = "I__全部正确转换(%d/%d)\n";
// The texts by which some conversions differ from the ones above (FrameRules picks them).
inline constexpr std::string_view kLogWrongKindBracket = "E__文件几何类型错误]\n";
inline constexpr std::string_view kLogReadErrorsSource = "E__源文件存在错误(%d/%d)\n";
inline constexpr std::string_view kLogReadErrorsNote = "I__原文件存在错误(%d/%d)\n";
inline constexpr std::string_view kLogReadErrorsSourceNote = "I__源文件存在错误(%d/%d)\n";
// Output files that cannot be created or written (the path is named).
inline constexpr std::string_view kLogCannotCreate = "E__输出文件无法创建[%s]\n";
inline constexpr std::string_view kLogNoGeoPackageModule = "E__GeoPackage输出模块无法载入：%s\n";
inline constexpr std::string_view kLogCannotWrite = "E__输出文件写入失败[%s]\n";
inline constexpr std::string_view kLogAvlFailed = "E__AVL图例文件输出失败\n";
// The QGIS style: one that cannot be written, and parameter mode without RGB colour fields.
inline constexpr std::string_view kLogQmlFailed = "E__QGIS样式文件输出失败\n";
// Geometry the user's GIS tools call invalid: lines of zero length, kept as stored; regions made
// valid on request.
inline constexpr std::string_view kLogZeroLengthLines = "W__文件中有%d条线长度为零(全部顶点重合)，已按原样输出\n";
inline constexpr std::string_view kLogRegionsRepaired = "W__文件中有%d个区几何无效(如边界自相交)，已修复为有效区\n";
inline constexpr std::string_view kLogRegionsNotRepaired = "W__文件中有%d个区几何无效且无法修复，已按原样输出\n";
inline constexpr std::string_view kLogQmlPlainColour = "W__颜色模型不是RGB，QGIS样式使用单一颜色\n";

// A table needs one field to hold a row per shape (shapelib writes no row without a field, and
// readers drop the shapes that have no row). A layer without fields and without drawing-parameter
// fields gets this one, holding the row number.
inline constexpr const char* kRowNumberField = "KVX_FID";

// The open-failure line for a reader status.
std::string_view OpenFailureLine(std::int32_t status);

// ---- What a conversion is given ----------------------------------------------------------------

// The settings a conversion reads. Its caller takes them from a settings snapshot when the
// conversion starts and hands them in; nothing in the engine reads the process-wide settings.
struct FrameSettings {
  std::int32_t codePage = 0;
  std::int32_t symbolType = 0;
  std::int32_t colorModel = 0;
  std::int32_t rotateType = 0;
  std::int32_t exportProjection = 1;
  std::int32_t maxErrors = 64;
  // Non-zero: a QGIS style "<base>.qml" beside outputs written with drawing parameters. The
  // setting's default is 1; a FrameSettings made by hand writes none unless asked.
  std::int32_t qgisStyle = 0;
  // Non-zero: regions are made valid with GEOS before they are written (setting
  // Output/RepairGeometry, default 0).
  std::int32_t repairGeometry = 0;
  // 0: a shapefile set; 1: a table of a GeoPackage (setting Output/Format).
  std::int32_t outputFormat = 0;
  // Non-zero: an empty result is kept (setting General/ExportEmptyFile). A GeoPackage takes the
  // table of an empty result back unless it is kept; a shapefile set is left to the caller.
  std::int32_t exportEmptyFile = 0;
  std::string symbolFontName;
  LabelSettings labels;  // FontAdjust and SingleFont of label markup
  ReprojectionSettings reprojection;  // the target system of the run, if any

  // The values of a settings snapshot.
  static FrameSettings From(const Settings& settings);
};

// What a conversion uses besides its files: the colour library of the run, whom to tell about
// progress, and with the GeoPackage format the GeoPackage and table the output goes into (null: the
// output's own "<base>.gpkg" holding the table named after the base).
struct ConversionServices {
  const StyleContext& styles;
  Notifier& notifier;
  const GeoPackageTarget* geoPackage = nullptr;
};

// ---- The hooks --------------------------------------------------------------------------------

enum class CountOperation { Points, Arcs, Polygons };

class ConversionHooks;

struct FrameRules {
  std::int32_t layerKind = 0;                   // MapGis::LayerKind the conversion takes
  CountOperation count = CountOperation::Arcs;  // GetPointCount, GetArcCount or GetPolygonCount
  std::int32_t attributeType = -1;              // SetAttributeType before the counts; -1 the default table
  std::int32_t shapeType = 3;                   // 1 point, 3 polyline, 5 polygon
  std::string_view wrongKindLine = kLogWrongKind;
  bool recordMismatchIsError = false;           // "E__..." instead of "W__..." for R != N
  SchemaLines schema;
  std::string_view readErrorsLine = kLogReadErrors;
  bool compareWithValid = true;                 // W != V gives kConvertCountMismatch
  std::optional<AvlKind> legendFile;            // the ".avl" written with SymbolType 4, if any
};

// One drawing-parameter field: added after the layer's fields, then its log line (if any).
struct StyleField {
  std::string_view name;  // UTF-8; encoded like a layer field name, 10 bytes at most
  DBFFieldType type;
  int width;
  int decimals;
  std::string_view logLine;
};

// Writes the drawing-parameter values of one feature into its DBF row. Fields are numbered from 0,
// the first field of StyleFields().
class StyleRow {
 public:
  StyleRow(FeatureSink& dbf, DbfTextEncoder& encoder, const FrameSettings& settings, const StyleContext& styles,
           LegendCollector* legend)
      : dbf_(dbf), encoder_(encoder), settings_(settings), styles_(styles), legend_(legend) {}

  const FrameSettings& Settings() const { return settings_; }
  const StyleContext& Styles() const { return styles_; }
  // Legend mode (SymbolType 4) or symbol mode (SymbolType 1); none otherwise.
  std::optional<LegendMode> Mode() const { return legend_ ? std::optional(legend_->Mode()) : std::nullopt; }

  void Integer(int field, std::int64_t value) { dbf_.WriteInteger(row_, first_ + field, value); }
  void Real(int field, double value) { dbf_.WriteDouble(row_, first_ + field, value); }
  void Null(int field) { dbf_.WriteNull(row_, first_ + field); }
  // GBK text, encoded and cut to `limit` bytes as layer text.
  void Text(int field, const char* gbk, int limit);
  // Program text (UTF-8), encoded into a buffer of `size` bytes.
  void TextW(int field, std::string_view utf8, int size);
  // Collects the feature's legend entry (Mode() must be set) and writes its code into `field`.
  void Legend(int field, const LegendEntry& probe);

 private:
  friend std::int32_t RunConversion(const std::filesystem::path&, const std::filesystem::path&, ConversionHooks&,
                                    const ConversionServices&, const FrameSettings&);
  FeatureSink& dbf_;
  DbfTextEncoder& encoder_;
  const FrameSettings& settings_;
  const StyleContext& styles_;
  LegendCollector* legend_;
  int row_ = 0;
  int first_ = 0;
};

class ConversionHooks {
 public:
  virtual ~ConversionHooks() = default;

  virtual const FrameRules& Rules() const = 0;

  // The fields added after the layer's own fields, by the settings of this conversion.
  virtual std::span<const StyleField> StyleFields(const FrameSettings& settings) const {
    (void)settings;
    return {};
  }

  // Reads slot `slot` (0-based; stored slot + 1) into `geometry` and keeps its record for the calls
  // that follow. Returns the reader's status: success, MapGis::Status::Deleted for a deleted slot,
  // anything else for a feature that cannot be read.
  virtual std::int32_t ReadFeature(MapGis::MapGis_FastReader& reader, int slot, MapGis::Geometry* geometry) = 0;

  // Whether the feature just read is written (no shape, no row and no count otherwise).
  virtual bool SelectFeature(int slot) {
    (void)slot;
    return true;
  }

  // The geometry after scaling, before it is written.
  virtual void PrepareGeometry(MapGis::Geometry* geometry) { (void)geometry; }

  // The drawing-parameter values of the feature just written.
  virtual void WriteStyleValues(StyleRow& row, int slot) {
    (void)row;
    (void)slot;
  }
};

// Converts the layer `source` to the outputs "<outputBase>.*" and returns the result code.
std::int32_t RunConversion(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                           ConversionHooks& hooks, const ConversionServices& services, const FrameSettings& settings);

// Tells the progress indicator the percentage of items done (0-based item index), each time it
// changes, so a long loop does not call the indicator per item.
class PercentProgress {
 public:
  PercentProgress(Notifier& notifier, std::int64_t total) : notifier_(notifier), total_(total) {}
  void Done(std::int64_t item) {
    const std::int64_t percent = total_ > 0 ? 100 * (item + 1) / total_ : 100;
    if (percent != last_) {
      last_ = percent;
      notifier_.Progress(percent, 100);
    }
  }

 private:
  Notifier& notifier_;
  std::int64_t total_;
  std::int64_t last_ = -1;
};

}  // namespace Kvx
