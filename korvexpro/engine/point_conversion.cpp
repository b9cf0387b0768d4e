#include "engine/point_conversion.h"

#include <array>
#include <string>

#include "styles/label_markup.h"
#include "vordex/conversions.h"
#include "vordex/status.h"

namespace Kvx {
namespace {

namespace Status = MapGis::Status;

constexpr std::uint8_t kTextPoint = 0;
constexpr std::uint8_t kSymbolPoint = 1;
constexpr std::uint8_t kTextBlock = 5;

bool IsTextPoint(std::uint8_t type) { return type == kTextPoint || type == kTextBlock; }

// ---- Fields ---------------------------------------------------------------------------------------

constexpr std::array<StyleField, 7> kSymbolParameterFields{{
    {"KVX_SUBNO", FTInteger, 11, 0, "I__增加图示表达参数字段[KVX_SUBNO]\n"},
    {"KVX_SHEIH", FTDouble, 8, 3, "I__增加图示表达参数字段[KVX_SHEIH]\n"},
    {"KVX_SWIDH", FTDouble, 8, 3, "I__增加图示表达参数字段[KVX_SWIDH]\n"},
    {"KVX_ANGLE", FTDouble, 8, 3, "I__增加图示表达参数字段[KVX_ANGLE]\n"},
    {"KVX_SCOLR", FTInteger, 11, 0, "I__增加图示表达参数字段[KVX_SCOLR]\n"},
    {"KVX_LAYER", FTInteger, 6, 0, "I__增加图示表达参数字段[KVX_LAYER]\n"},
    {"KVX_TRANS", FTInteger, 4, 0, "I__增加图示表达参数字段[KVX_TRANS]\n"},
}};
constexpr std::array<StyleField, 2> kSymbolLegendFields{{
    {"KVX_LEGEND", FTString, 32, 0, "I__增加图示表达编码字段[KVX_LEGEND]\n"},
    {"KVX_ANGLE", FTDouble, 8, 3, "I__增加图示表达参数字段[KVX_ANGLE]\n"},
}};
constexpr std::array<StyleField, 2> kSymbolCodeFields{{
    {"KVX_SYMBOL", FTString, 32, 0, "I__增加图示表达编码字段[KVX_SYMBOL]\n"},
    {"KVX_ANGLE", FTDouble, 8, 3, "I__增加图示表达参数字段[KVX_ANGLE]\n"},
}};

constexpr StyleField kPointLabelField{"KVX_LABEL", FTString, 254, 0, "I__增加图示表达参数字段[KVX_LABEL]\n"};
constexpr std::array<StyleField, 5> kAllPointParameterFields{{
    kPointLabelField,
    {"KVX_PTYPE", FTInteger, 4, 0, "I__增加图示表达参数字段[KVX_PTYPE]\n"},
    {"KVX_SCOLR", FTInteger, 11, 0, "I__增加图示表达参数字段[KVX_SCOLR]\n"},
    {"KVX_LAYER", FTInteger, 6, 0, "I__增加图示表达参数字段[KVX_LAYER]\n"},
    {"KVX_TRANS", FTInteger, 4, 0, "I__增加图示表达参数字段[KVX_TRANS]\n"},
}};
constexpr std::array<StyleField, 2> kAllPointLegendFields{{
    kPointLabelField,
    {"KVX_LEGEND", FTString, 32, 0, "I__增加图示表达编码字段[KVX_LEGEND]\n"},
}};
constexpr std::array<StyleField, 2> kAllPointCodeFields{{
    kPointLabelField,
    {"KVX_SYMBOL", FTString, 32, 0, "I__增加图示表达编码字段[KVX_SYMBOL]\n"},
}};

// The annotation text field has no log line. The log lines of KVX_TRANS, KVX_ALIGN and KVX_LAYER
// name them TRAN, ALGN and LAYR.
constexpr StyleField kNoteTextStyleField{kNoteTextField, FTString, 254, 0, {}};
constexpr StyleField kNoteLabelField{"KVX_LABEL", FTString, 254, 0, "I__增加注释参数字段[KVX_LABEL]\n"};
constexpr std::array<StyleField, 1> kNoteTextOnly{{kNoteTextStyleField}};
constexpr std::array<StyleField, 13> kNoteParameterFields{{
    kNoteTextStyleField,
    kNoteLabelField,
    {"KVX_AHEI", FTDouble, 8, 3, "I__增加注释参数字段[KVX_AHEI]\n"},
    {"KVX_AWID", FTDouble, 8, 3, "I__增加注释参数字段[KVX_AWID]\n"},
    {"KVX_ASPA", FTDouble, 8, 3, "I__增加注释参数字段[KVX_ASPA]\n"},
    {"KVX_ANGLE", FTDouble, 8, 3, "I__增加注释参数字段[KVX_ANGLE]\n"},
    {"KVX_CFNT", FTInteger, 6, 0, "I__增加注释参数字段[KVX_CFNT]\n"},
    {"KVX_EFNT", FTInteger, 6, 0, "I__增加注释参数字段[KVX_EFNT]\n"},
    {"KVX_CFNX", FTInteger, 4, 0, "I__增加注释参数字段[KVX_CFNX]\n"},
    {"KVX_ACLR", FTInteger, 11, 0, "I__增加注释参数字段[KVX_ACLR]\n"},
    {"KVX_TRANS", FTInteger, 4, 0, "I__增加注释参数字段[KVX_TRAN]\n"},
    {"KVX_ALIGN", FTInteger, 4, 0, "I__增加注释参数字段[KVX_ALGN]\n"},
    {"KVX_LAYER", FTInteger, 6, 0, "I__增加注释参数字段[KVX_LAYR]\n"},
}};
constexpr std::array<StyleField, 4> kNoteLabelFields{{
    kNoteTextStyleField,
    kNoteLabelField,
    {"KVX_ALIGN", FTInteger, 4, 0, "I__增加注释参数字段[KVX_ALIGN]\n"},
    {"KVX_ANGLE", FTDouble, 8, 3, "I__增加注释参数字段[KVX_ANGLE]\n"},
}};

std::span<const StyleField> AllPointStyleFields(std::int32_t symbolType) {
  switch (symbolType) {
    case 2: return kAllPointParameterFields;
    case 4: return kAllPointLegendFields;
    case 1: return kAllPointCodeFields;
    default: return {};
  }
}

std::span<const StyleField> NoteStyleFields(std::int32_t symbolType) {
  switch (symbolType) {
    case 2: return kNoteParameterFields;
    case 4:
    case 1: return kNoteLabelFields;
    default: return kNoteTextOnly;
  }
}

// Only the SymbolTypes with drawing-parameter fields have a label field to write to.
bool HasLabelField(std::int32_t symbolType) { return symbolType == 2 || symbolType == 4 || symbolType == 1; }

// ---- Rules --------------------------------------------------------------------------------------

FrameRules PointRules() {
  FrameRules r;
  r.layerKind = MapGis::KindPoint;
  r.count = CountOperation::Points;
  r.shapeType = 1;
  r.schema = SchemaLines{kLogUnsupportedTypeE, kLogInvalidStructure, false};
  r.legendFile = AvlKind::Marker;
  return r;
}

FrameRules SymbolPointRules() {
  FrameRules r = PointRules();
  r.wrongKindLine = kLogWrongKindBracket;
  r.readErrorsLine = kLogReadErrorsNote;
  r.compareWithValid = false;  // only a selection of the points is written
  return r;
}

FrameRules AllPointRules() {
  FrameRules r = PointRules();
  r.schema = SchemaLines{kLogUnsupportedTypeW, kLogInvalidStructure, false};
  r.readErrorsLine = kLogReadErrorsSource;
  return r;
}

FrameRules NoteRules() {
  FrameRules r = PointRules();
  r.readErrorsLine = kLogReadErrorsSourceNote;
  r.compareWithValid = false;  // only a selection of the points is written
  r.legendFile.reset();
  return r;
}

// ---- Hooks --------------------------------------------------------------------------------------

// Keeps the record of the point just read and, where the conversion needs it, its text.
class PointHooksBase : public ConversionHooks {
 public:
  explicit PointHooksBase(FrameRules rules) : rules_(rules) {}
  const FrameRules& Rules() const override { return rules_; }

 protected:
  // Reads the point; then its text when `wantText` says so for the record just read. A text that
  // cannot be read makes the feature unreadable (a deleted-slot status from the text read would
  // hide it, so it counts as a read failure).
  template <typename WantText>
  std::int32_t ReadPoint(MapGis::MapGis_FastReader& reader, int slot, MapGis::Geometry* geometry, WantText wantText) {
    text_[0] = '\0';
    const std::int32_t status = reader.ReadPointInfo(slot, &point_, geometry);
    if (status != Status::Success || !wantText(point_)) return status;
    const std::int32_t textStatus = reader.GetNoteInfo(slot, text_.data());
    if (textStatus == Status::Success) return Status::Success;
    text_[0] = '\0';
    return textStatus == Status::Deleted ? Status::ReadFailed : textStatus;
  }

  FrameRules rules_;
  MapGis::MAPGIS_PntInfo point_{};
  std::array<char, 260> text_{};
};

class SymbolPointHooks final : public PointHooksBase {
 public:
  SymbolPointHooks() : PointHooksBase(SymbolPointRules()) {}

  std::span<const StyleField> StyleFields(const FrameSettings& settings) const override {
    return SymbolPointStyleFields(settings.symbolType);
  }
  std::int32_t ReadFeature(MapGis::MapGis_FastReader& reader, int slot, MapGis::Geometry* geometry) override {
    return ReadPoint(reader, slot, geometry, [](const MapGis::MAPGIS_PntInfo&) { return false; });
  }
  bool SelectFeature(int) override { return point_.pointType == kSymbolPoint; }
  void WriteStyleValues(StyleRow& row, int) override { WriteSymbolPointStyleValues(row, point_); }
};

class AllPointHooks final : public PointHooksBase {
 public:
  explicit AllPointHooks(std::int32_t symbolType) : PointHooksBase(AllPointRules()), labelled_(HasLabelField(symbolType)) {}

  std::span<const StyleField> StyleFields(const FrameSettings& settings) const override {
    return AllPointStyleFields(settings.symbolType);
  }
  std::int32_t ReadFeature(MapGis::MapGis_FastReader& reader, int slot, MapGis::Geometry* geometry) override {
    return ReadPoint(reader, slot, geometry,
                     [this](const MapGis::MAPGIS_PntInfo& p) { return labelled_ && IsTextPoint(p.pointType); });
  }
  void WriteStyleValues(StyleRow& row, int) override {
    if (!labelled_) return;
    const StyleContext& styles = row.Styles();
    const std::int32_t rgb = styles.PackedRGB(point_.color);
    if (point_.pointType == kTextPoint) {
      char font[MapGis::kFontNameBufferSize] = {0};
      MapGis::GetFontName(point_.chineseFont, font, sizeof font);
      row.Text(0, FormatTextLabel(&point_, text_.data(), font, rgb, row.Settings().labels).c_str(), kDbfTextMax);
    } else if (point_.pointType == kTextBlock) {
      row.Text(0, FormatBlockLabel(&point_, text_.data(), rgb, row.Settings().labels).c_str(), kDbfTextMax);
    } else {
      row.Null(0);
    }

    if (row.Settings().symbolType == 2) {
      row.Integer(1, point_.pointType);
      row.Integer(2, styles.GetColorValue(point_.color, row.Settings().colorModel));
      row.Integer(3, point_.layer);
      row.Integer(4, point_.transparent);
    } else if (const auto mode = row.Mode()) {
      row.Legend(1, PointTypeLegendEntry(point_, styles, *mode));
    }
  }

 private:
  bool labelled_;
};

class NoteHooks final : public PointHooksBase {
 public:
  NoteHooks() : PointHooksBase(NoteRules()) {}

  std::span<const StyleField> StyleFields(const FrameSettings& settings) const override {
    return NoteStyleFields(settings.symbolType);
  }
  std::int32_t ReadFeature(MapGis::MapGis_FastReader& reader, int slot, MapGis::Geometry* geometry) override {
    return ReadPoint(reader, slot, geometry, [](const MapGis::MAPGIS_PntInfo& p) { return IsTextPoint(p.pointType); });
  }
  bool SelectFeature(int) override { return IsTextPoint(point_.pointType); }
  void WriteStyleValues(StyleRow& row, int) override {
    row.Text(0, text_.data(), kDbfTextMax);
    const std::int32_t symbolType = row.Settings().symbolType;
    if (!HasLabelField(symbolType)) return;
    const StyleContext& styles = row.Styles();
    row.Text(1, FormatNoteLabel(&point_, text_.data(), styles.PackedRGB(point_.color), row.Settings().labels).c_str(), kDbfTextMax);

    const std::int32_t alignment = point_.pointType == kTextBlock ? point_.alignment5 : point_.alignment;
    const double angle = ConvertAngle(2, point_.angle);  // annotations keep their stored angle
    if (symbolType == 2) {
      row.Real(2, point_.textHeight);
      row.Real(3, point_.textWidth);
      row.Real(4, point_.spacing);
      row.Real(5, angle);
      row.Integer(6, point_.chineseFont);
      row.Integer(7, point_.westernFont);
      row.Integer(8, point_.fontStyle);
      row.Integer(9, styles.GetColorValue(point_.color, row.Settings().colorModel));
      row.Integer(10, point_.transparent);
      row.Integer(11, alignment);
      row.Integer(12, point_.layer);
    } else {
      row.Integer(2, alignment);
      row.Real(3, angle);
    }
  }
};

}  // namespace

std::span<const StyleField> SymbolPointStyleFields(std::int32_t symbolType) {
  switch (symbolType) {
    case 2: return kSymbolParameterFields;
    case 4: return kSymbolLegendFields;
    case 1: return kSymbolCodeFields;
    default: return {};
  }
}

void WriteSymbolPointStyleValues(StyleRow& row, const MapGis::MAPGIS_PntInfo& point) {
  const FrameSettings& settings = row.Settings();
  const StyleContext& styles = row.Styles();
  const double angle = ConvertAngle(settings.rotateType, point.angle);
  if (settings.symbolType == 2) {
    row.Integer(0, point.symbolNo);
    row.Real(1, point.height);
    row.Real(2, point.width);
    row.Real(3, angle);
    row.Integer(4, styles.GetColorValue(point.color, settings.colorModel));
    row.Integer(5, point.layer);
    row.Integer(6, point.transparent);
  } else if (const auto mode = row.Mode()) {
    row.Legend(0, SymbolLegendEntry(point, styles, *mode));
    row.Real(1, angle);
  }
}

std::int32_t ConvertWTPoint2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                                const ConversionServices& services, const FrameSettings& settings) {
  SymbolPointHooks hooks;
  return RunConversion(source, outputBase, hooks, services, settings);
}

std::int32_t ConvertWT2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                           const ConversionServices& services, const FrameSettings& settings) {
  AllPointHooks hooks(settings.symbolType);
  return RunConversion(source, outputBase, hooks, services, settings);
}

std::int32_t ConvertWTNote2SHP(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                               const ConversionServices& services, const FrameSettings& settings) {
  NoteHooks hooks;
  return RunConversion(source, outputBase, hooks, services, settings);
}

}  // namespace Kvx
