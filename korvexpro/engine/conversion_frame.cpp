#include "engine/conversion_frame.h"

#include <algorithm>
#include <memory>
#include <system_error>

#include "settings/settings.h"
#include "engine/geometry_repair.h"
#include "engine/logger.h"
#include "projection/projection_writer.h"
#include "styles/qml_writer.h"
#include "vordex/text_encoding.h"
#include "vordex/conversions.h"
#include "vordex/status.h"

namespace Kvx {

namespace Status = MapGis::Status;

std::string_view OpenFailureLine(std::int32_t status) {
  switch (status) {
    case Status::NotMapGis: return kLogOpenNotMapGis;
    case Status::DamagedHead: return kLogOpenDamaged;
    case Status::UnknownKind: return kLogOpenWrongType;
    case Status::CannotOpen: return kLogOpenFailed;
    case Status::OlderVariant: return kLogOpenOlderVariant;
    default: return kLogOpenUnknown;
  }
}

FrameSettings FrameSettings::From(const Settings& s) {
  FrameSettings f;
  f.codePage = s.CodePage;
  f.symbolType = s.SymbolType;
  f.colorModel = s.ColorModel;
  f.rotateType = s.RotateType;
  f.exportProjection = s.ExportProjection;
  f.maxErrors = s.MaxErrors;
  f.qgisStyle = s.QgisStyle;
  f.repairGeometry = s.RepairGeometry;
  f.outputFormat = s.Format;
  f.exportEmptyFile = s.ExportEmptyFile;
  f.symbolFontName = s.SymbolFontName;
  f.labels.fontAdjust = s.FontAdjust;
  f.labels.singleFont = MapGis::Utf8ToGbk(s.SingleFont);
  f.reprojection.targetCrs = s.TargetCrs;
  f.reprojection.sourceCrs = s.SourceCrs;
  f.reprojection.toWgs84 = s.SevenParameters;
  f.reprojection.requireDatumShift = s.RequireDatumShift != 0;
  return f;
}

void StyleRow::Text(int field, const char* gbk, int limit) {
  char text[kDbfTextMax + 1];
  const int fit = std::min({limit, kDbfTextMax, dbf_.FieldWidth(first_ + field)});
  dbf_.WriteString(row_, first_ + field, gbk ? encoder_.EncodeDbfText(gbk, text, fit) : nullptr);
}

void StyleRow::TextW(int field, std::string_view utf8, int size) {
  char text[kDbfTextMax + 1];
  const int fit = std::min({size, kDbfTextMax + 1, dbf_.FieldWidth(first_ + field) + 1});
  dbf_.WriteString(row_, first_ + field, encoder_.EncodeDbfTextW(utf8, text, fit));
}

void StyleRow::Legend(int field, const LegendEntry& probe) {
  if (!legend_) {
    Null(field);
    return;
  }
  const LegendCode code = legend_->Collect(probe);
  // The code is converted like any program text into the field (254 bytes at most).
  TextW(field, code.View(), kDbfTextMax);
}

namespace {

std::int32_t CountOf(const MapGis::MapGis_FastReader& reader, CountOperation op, int* slots) {
  switch (op) {
    case CountOperation::Points: return reader.GetPointCount(slots);
    case CountOperation::Arcs: return reader.GetArcCount(slots);
    case CountOperation::Polygons: return reader.GetPolygonCount(slots);
  }
  return -1;
}

// The record section the count operation counts.
MapGis::SlotSection SectionOf(const FrameRules& rules) {
  switch (rules.count) {
    case CountOperation::Points:
      return rules.layerKind == MapGis::KindNetwork ? MapGis::SlotSection::Nodes : MapGis::SlotSection::Points;
    case CountOperation::Arcs: return MapGis::SlotSection::Lines;
    case CountOperation::Polygons: return MapGis::SlotSection::Regions;
  }
  return MapGis::SlotSection::Lines;
}


// The summary line and result once the loop is done.
std::int32_t Summarise(CLogger& log, const FrameRules& rules, std::int32_t written, std::int32_t errors,
                       std::int32_t valid, bool damaged) {
  if (damaged) {
    // The claimed records beyond the section are read errors of the file, never an empty result.
    if (written == 0) {
      log.WriteString(kLogOpenDamaged);
      return kConvertDamaged;
    }
    log.WriteFormat(rules.readErrorsLine.data(), written, valid);
    return kConvertReadErrors;
  }
  if (written == 0) {
    log.WriteString(kLogEmptyResult);
    return kConvertEmpty;
  }
  if (errors > 0) {
    log.WriteFormat(rules.readErrorsLine.data(), written, valid);
    return kConvertReadErrors;
  }
  if (!rules.compareWithValid || written == valid) {
    log.WriteFormat(kLogAllConverted.data(), written, valid);
    return kConvertSuccess;
  }
  log.WriteFormat(kLogCountMismatch.data(), written, valid);
  return kConvertCountMismatch;
}

bool HasDrawingParameters(std::int32_t symbolType) { return symbolType == 1 || symbolType == 2 || symbolType == 4; }

// The RGB of a legend entry's packed colour: RGB in legend mode; in symbol mode the packed CMYK of
// a colour number, whose RGB is that of the first colour number of the library with this CMYK.
QmlColour EntryColour(std::int32_t packed, LegendMode mode, const StyleContext& styles) {
  if (mode == LegendMode::Legend) return QmlColourOfPackedRgb(packed);
  for (std::int32_t n = 1; n <= styles.ColourCount(); ++n)
    if (styles.PackedCMYK(n) == packed) return QmlColourOfPackedRgb(styles.PackedRGB(n));
  return QmlColour{};
}

QmlStyle StyleOf(const FrameRules& rules, const FrameSettings& settings, const StyleContext& styles,
                 const LegendCollector* legend, std::vector<QmlField> fields) {
  QmlStyle style;
  style.geometry = rules.shapeType == 1 ? QmlGeometry::Marker : rules.shapeType == 5 ? QmlGeometry::Region : QmlGeometry::Line;
  style.rotateType = settings.rotateType;
  style.rgbColourFields = settings.colorModel == 0;
  style.fields = std::move(fields);
  if (const QmlField* text = FindQmlField(style.fields, "注释文字")) {
    style.labels = true;
    style.labelField = text->name;
  }
  if (legend) {
    const QmlField* codes = FindQmlField(style.fields, legend->Mode() == LegendMode::Legend ? "KVX_LEGEND" : "KVX_SYMBOL");
    if (codes) {
      style.renderer = QmlRenderer::Categorized;
      style.classField = codes->name;
      for (const LegendEntry& e : legend->Entries()) {
        QmlCategory c;
        c.value = e.GetLegendCode().Str();
        c.colour = EntryColour(e.colour, legend->Mode(), styles);
        c.secondColour = EntryColour(e.secondColour, legend->Mode(), styles);
        c.symbol = style.geometry == QmlGeometry::Region ? e.symbol : 0;
        // Lines: the width; markers: the height (the width when no height is given).
        c.size = style.geometry == QmlGeometry::Marker && e.size2 > 0 ? e.size2 : e.size1;
        style.categories.push_back(std::move(c));
      }
    }
  } else if (settings.symbolType == 2 && settings.colorModel == 0) {
    style.renderer = QmlRenderer::DataDefined;
  }
  return style;
}

}  // namespace

std::int32_t RunConversion(const std::filesystem::path& source, const std::filesystem::path& outputBase,
                           ConversionHooks& hooks, const ConversionServices& services, const FrameSettings& settings) {
  const FrameRules& rules = hooks.Rules();

  // The log, then the layer.
  CLogger log(LogPathFor(outputBase));
  MapGis::MapGis_FastReader reader;
  const std::int32_t opened = reader.Open(source.c_str());
  if (opened < 0) {
    log.WriteString(OpenFailureLine(opened));
    return opened;
  }

  // The layer kind.
  if (reader.GetShapeType() != rules.layerKind) {
    log.WriteString(rules.wrongKindLine);
    return kConvertWrongKind;
  }

  // The valid count and the slot count.
  int slots = 0;
  const std::int32_t valid = CountOf(reader, rules.count, &slots);
  if (valid != slots) log.WriteString(kLogNotCompacted);
  // Only the slots the record section holds are visited: a damaged count never makes the loop
  // run over slots that cannot exist.
  const std::int32_t held = reader.HeldSlots(SectionOf(rules));
  const bool damaged = held < slots;
  if (damaged) {
    log.WriteFormat(kLogClaimsMoreRecords.data(), held, slots);
    slots = held;
  }

  // The attribute table and its structure.
  if (rules.attributeType >= 0) reader.SetAttributeType(rules.attributeType);
  const std::int32_t records = reader.GetRecordCount();
  if (records < 0) {
    log.WriteString(kLogBadRecordCount);
    return kConvertBadRecordCount;
  }
  if (records != slots) log.WriteString(rules.recordMismatchIsError ? kLogRecordMismatchE : kLogRecordMismatchW);
  const std::int32_t fields = reader.GetFieldCount();
  if (fields < 0) {
    log.WriteString(kLogBadStructure);
    return kConvertBadStructure;
  }

  // The projection step: the .prj and the coordinate scale.
  MapGis::MAP_PARAstruct para{};
  reader.GetProjectionInfo(&para);
  const bool geoPackage = settings.outputFormat == 1;
  const ProjectionStepResult projection =
      RunProjectionStep(para, outputBase, settings.exportProjection, settings.reprojection, !geoPackage);
  for (std::string_view line : projection.logLines) log.WriteString(line);
  if (projection.reprojectionFailed) return kConvertNotReprojected;
  const double scale = projection.coordinateScale;
  if (projection.reprojection) {
    // The layer's box from its head and its vertices: one a slot for points, else at most one
    // for every 16 bytes of the file.
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    reader.GetExtentInfo(&x0, &y0, &x1, &y1);
    const double vertices = rules.shapeType == 1 ? static_cast<double>(slots)
                                                 : std::max(2.0 * slots, static_cast<double>(reader.GetFileSize()) / 16);
    projection.reprojection->ExpectLayer(std::min(x0 * scale, x1 * scale), std::min(y0 * scale, y1 * scale),
                                         std::max(x0 * scale, x1 * scale), std::max(y0 * scale, y1 * scale), vertices);
  }
  const Reprojection* reprojection = projection.reprojection.get();
  const bool styled = settings.qgisStyle != 0 && HasDrawingParameters(settings.symbolType);

  // The table.
  DbfTextEncoder encoder(settings.codePage);
  std::unique_ptr<FeatureSink> sink;
  std::filesystem::path tablePath = WithExtension(outputBase, ".dbf");
  if (geoPackage) {
    const GeoPackageTarget target = services.geoPackage ? *services.geoPackage : OwnGeoPackage(outputBase);
    tablePath = target.file;
    sink = OpenGeoPackageSink(target, {rules.shapeType, !encoder.Utf8(), projection.systemText, styled});
  } else {
    sink = CreateShapefileSink(outputBase, encoder.CodePageText(), rules.shapeType);
  }
  if (!sink) {
    if (geoPackage) {
      if (const std::string why = GeoPackageSupportError(); !why.empty())
        log.WriteFormat(kLogNoGeoPackageModule.data(), why.c_str());
    }
    log.WriteFormat(kLogCannotCreate.data(), tablePath.c_str());
    return kConvertOutputFailed;
  }
  FeatureSink& dbf = *sink;

  // The layer's own fields.
  AttributeTransfer transfer(reader, dbf, encoder, log, settings.maxErrors);
  // Records beyond the slots are never written; slots beyond the records get empty values.
  switch (transfer.AddFields(fields, rules.schema, std::min(records, slots))) {
    case SchemaStatus::Done: break;
    case SchemaStatus::InvalidType: return kConvertBadStructure;
    case SchemaStatus::FieldRefused: return kConvertOutputFailed;
  }

  // The drawing-parameter fields, and the row-number field of a table that has none at all.
  std::vector<QmlField> qmlFields;
  for (const AttributeTransfer::FieldNames& n : transfer.Names()) qmlFields.push_back({n.stored, n.whole});
  for (const StyleField& field : hooks.StyleFields(settings)) {
    char name[16];
    encoder.EncodeDbfTextW(field.name, name, 11);
    const int added = dbf.AddField(DbfField(name, field.name, field.type, field.width, field.decimals));
    if (added < 0) {
      log.WriteFormat(kLogFieldRefused.data(), std::string(field.name).c_str());
      return kConvertOutputFailed;
    }
    std::string stored = dbf.WholeName(added);
    if (stored.empty()) stored = encoder.Utf8() ? std::string(name) : encoder.GbkToUtf8(name);
    qmlFields.push_back({std::move(stored), std::string(field.name)});
    if (!field.logLine.empty()) log.WriteString(field.logLine);
  }

  const bool rowNumbers = dbf.FieldCount() == 0;
  if (rowNumbers && dbf.AddField({kRowNumberField, kRowNumberField, FTInteger, 11, 0, ValueKind::Integer}) < 0) {
    log.WriteFormat(kLogFieldRefused.data(), kRowNumberField);
    return kConvertOutputFailed;
  }
  if (rowNumbers) qmlFields.push_back({kRowNumberField, kRowNumberField});

  // The shapes.
  if (!dbf.BeginFeatures()) {
    log.WriteFormat(kLogCannotCreate.data(), dbf.ShapePath().c_str());
    return kConvertOutputFailed;
  }

  // The record loop: every slot, deleted ones included.
  std::optional<LegendCollector> legend;
  if (const auto mode = LegendModeFor(settings.symbolType)) legend.emplace(*mode);
  StyleRow row(dbf, encoder, settings, services.styles, legend ? &*legend : nullptr);
  row.first_ = fields;
  PercentProgress progress(services.notifier, slots);
  std::int32_t written = 0;
  std::int32_t errors = 0;
  std::int32_t zeroLength = 0;
  std::int32_t repaired = 0;
  std::int32_t notRepaired = 0;
  std::optional<RegionRepairer> repairer;
  if (settings.repairGeometry != 0 && rules.shapeType == 5) repairer.emplace();
  for (int k = 0; k < slots; ++k) {
    std::unique_ptr<MapGis::Geometry, MapGis::GeometryDeleter> geometry(MapGis::CreateGeometry());
    const std::int32_t status = geometry ? hooks.ReadFeature(reader, k, geometry.get()) : Status::OutOfMemory;
    if (status == Status::Success) {
      if (hooks.SelectFeature(k)) {
        MapGis::ReScaleGeometry(geometry.get(), scale);
        hooks.PrepareGeometry(geometry.get());
        if (rules.shapeType == 3 && IsZeroLengthLine(*geometry)) ++zeroLength;
        if (repairer) {
          const RegionRepair r = repairer->Repair(geometry.get());
          if (r == RegionRepair::Repaired) ++repaired;
          if (r == RegionRepair::Failed) ++notRepaired;
        }
        if (reprojection && !reprojection->Transform(geometry.get())) {
          // A feature with no place in the target system is not written: counted like one that
          // could not be read.
          ++errors;
          if (errors <= settings.maxErrors) log.WriteFormat(kLogFeatureNotTransformed.data(), k);
          if (errors == settings.maxErrors) log.WriteString(kLogTooManyErrors);
          progress.Done(k);
          continue;
        }
        if (!dbf.Append(reinterpret_cast<SHPObject*>(geometry.get()))) {
          log.WriteFormat(kLogCannotWrite.data(), dbf.ShapePath().c_str());
          return kConvertOutputFailed;
        }
        transfer.WriteRow(k, written);
        row.row_ = written;
        hooks.WriteStyleValues(row, k);
        if (rowNumbers) dbf.WriteInteger(written, 0, written);
        ++written;
      }
    } else if (status != Status::Deleted) {
      ++errors;
      if (errors <= settings.maxErrors) log.WriteFormat(kLogFeatureError.data(), k);
      if (errors == settings.maxErrors) log.WriteString(kLogTooManyErrors);
    }
    geometry.reset();
    progress.Done(k);
  }

  if (zeroLength > 0) log.WriteFormat(kLogZeroLengthLines.data(), zeroLength);
  if (repaired > 0) log.WriteFormat(kLogRegionsRepaired.data(), repaired);
  if (notRepaired > 0) log.WriteFormat(kLogRegionsNotRepaired.data(), notRepaired);

  // A GeoPackage keeps the style in its table of styles, written with the features.
  const bool discard = written == 0 && settings.exportEmptyFile == 0;
  std::optional<QmlStyle> style;
  if (styled) style = StyleOf(rules, settings, services.styles, legend ? &*legend : nullptr, std::move(qmlFields));
  bool styleFailed = false;
  if (style && dbf.StoresStyle() && !discard) styleFailed = !dbf.StoreStyle(BuildQml(*style));

  // Close everything.
  const bool outputWritten = dbf.Close(discard);
  reader.Close();
  if (!outputWritten) {
    log.WriteFormat(kLogCannotWrite.data(), dbf.FailedPath().c_str());
    return kConvertOutputFailed;
  }

  // The legend file.
  bool legendFailed = false;
  if (settings.symbolType == 4 && rules.legendFile && legend) {
    const AvlWriteResult avl = WriteAvl(*rules.legendFile, outputBase, legend->Colours(), legend->Entries(),
                                        settings.symbolFontName);
    if (avl.ok) {
      log.WriteString(kLogAvlWritten);
    } else {
      log.WriteString(kLogAvlFailed);
      legendFailed = true;
    }
  }

  // The QGIS style.
  if (style) {
    if (style->renderer == QmlRenderer::Single && settings.symbolType == 2 && !style->labels)
      log.WriteString(kLogQmlPlainColour);
    if (!dbf.StoresStyle() && !WriteQml(outputBase, *style)) styleFailed = true;
    if (styleFailed) log.WriteString(kLogQmlFailed);
  }

  // Summary and result. The shapefile is complete, but a requested .prj, .avl or .qml that could
  // not be written (its error line is in the log) makes the conversion a failure all the same.
  const std::int32_t result = Summarise(log, rules, written, errors, valid, damaged);
  const bool projectionFailed = projection.projectionRequested && !projection.ProjectionWritten();
  return legendFailed || projectionFailed || styleFailed ? kConvertOutputFailed : result;
}

}  // namespace Kvx
