// Fuzz target: the fuzzer's bytes as a MapGIS layer file. Every reader opens it and reads what it
// holds (features with their geometry, texts, tics, topology, attributes); every conversion of
// its kind converts it in each symbol mode (regions also repaired) and into a GeoPackage table;
// `info` describes it.

#include <algorithm>
#include <cstdint>
#include <string>
#include <system_error>

#include "engine/conversion_frame.h"
#include "engine/line_conversion.h"
#include "engine/node_conversion.h"
#include "engine/point_conversion.h"
#include "engine/region_conversion.h"
#include "engine/table_conversion.h"
#include "fuzz_common.h"
#include "settings/settings.h"
#include "shell/info_layer.h"
#include "styles/colour_models.h"
#include "vordex/layer_reader.h"

namespace {

using namespace MapGis;

// Reads are bounded by what the sections hold; a cap keeps one input's work small all the same.
constexpr int kMaxReads = 2048;

template <typename Reader>
void ReadAttributes(Reader& r) {
  const std::int32_t fields = r.GetFieldCount();
  const std::int32_t records = r.GetRecordCount();
  for (int f = 0; f < std::min(fields, 64); ++f) {
    char name[32] = {0};
    int size = 0, width = 0, decimals = 0;
    (void)r.FieldInfo(f, name, &size, &width, &decimals);
  }
  for (int i = 0; i < std::min(records, kMaxReads); ++i) {
    for (int f = 0; f < std::min(fields, 64); ++f) {
      (void)r.ReadAttribute(i, f, f % 19);
      (void)r.ReadDoubleAttribute(i, f);
      (void)r.ReadTimeStampAttribute(i, f);
    }
  }
}

// The reads every reader shares.
template <typename Reader>
void ReadGeometry(Reader& r) {
  for (int i = 0; i < std::min(r.HeldSlots(SlotSection::Lines), kMaxReads); ++i) {
    Geometry* g = CreateGeometry();
    MAPGIS_LineInfo line;
    (void)r.ReadArcInfo(i, &line, g);
    DestroyGeometry(g);
  }
  for (int i = 0; i < std::min(r.HeldSlots(SlotSection::Regions), kMaxReads); ++i) {
    Geometry* g = CreateGeometry();
    MAPGIS_RegInfo region;
    (void)r.ReadPolygonInfo(i, &region, g);
    DestroyGeometry(g);
  }
  for (int i = 0; i < std::min(r.HeldSlots(SlotSection::Points), kMaxReads); ++i) {
    char text[260];
    (void)r.GetNoteInfo(i, text);
  }
  for (int i = 0; i < std::min(r.GetTicCount(), kMaxReads); ++i) {
    MAPGIS_Tic_Info tic;
    (void)r.GetTicInfo(i, &tic);
  }
}

struct Core : MapGis_FastReader {
  using MapGis_LayerCore::FieldInfo;
};

void Readers(const std::filesystem::path& path) {
  {
    Core r;
    if (r.Open(path.c_str()) == Status::Success) {
      ReadGeometry(r);
      const int points = std::max(r.HeldSlots(SlotSection::Points), r.HeldSlots(SlotSection::Nodes));
      for (int i = 0; i < std::min(points, kMaxReads); ++i) {
        Geometry* g = CreateGeometry();
        MAPGIS_PntInfo info;
        WKBPoint wkb;
        (void)r.ReadPointInfo(i, &info, g);
        (void)r.ReadPointWKB(i, &info, &wkb);
        DestroyGeometry(g);
      }
      for (int i = 0; i < std::min(r.HeldSlots(SlotSection::Lines) + 1, kMaxReads); ++i) {
        MAPGIS_Topology topo;
        (void)r.GetTopoInfo(i, &topo);
      }
      for (int type : {0, 1, 2, 7}) {
        r.SetAttributeType(type);
        ReadAttributes(r);
      }
    }
  }
  {
    struct Rw : MapGis_Reader {
      using MapGis_LayerCore::FieldInfo;
    } r;
    if (r.Open(path) == Status::Success) {
      int slots = 0, shape = 0, tics = 0;
      (void)r.GetInfo(&slots, &shape, &tics);
      ReadGeometry(r);
      for (int i = 0; i < std::min(r.HeldSlots(SlotSection::Regions), 16); ++i) {
        MAPGIS_RegExt label;
        (void)r.GetPolyLab(i, &label);
      }
      ReadAttributes(r);
    }
  }
  {
    struct Mem : MapGis_MemReader {
      using MapGis_LayerCore::FieldInfo;
    } r;
    if (r.Open(path) == Status::Success) {
      for (int i = 0; i < std::min(r.HeldSlots(SlotSection::Nodes), kMaxReads); ++i) {
        Geometry* g = CreateGeometry();
        MAPGIS_PntInfo info;
        (void)r.ReadNetPointInfo(i, &info, g);
        DestroyGeometry(g);
      }
      ReadAttributes(r);
      r.ReadAsPolyArc();
      ReadGeometry(r);
    }
  }
}

using Routine = std::int32_t (*)(const std::filesystem::path&, const std::filesystem::path&, const Kvx::ConversionServices&,
                                 const Kvx::FrameSettings&);

void Conversions(const std::filesystem::path& path, std::int32_t kind, const Kvx::StyleContext& styles) {
  Routine routines[3] = {};
  switch (kind) {
    case KindLine: routines[0] = Kvx::ConvertWL2SHP; break;
    case KindPoint:
      routines[0] = Kvx::ConvertWTPoint2SHP;
      routines[1] = Kvx::ConvertWT2SHP;
      routines[2] = Kvx::ConvertWTNote2SHP;
      break;
    case KindRegion:
      routines[0] = Kvx::ConvertWP2SHP;
      routines[1] = Kvx::ConvertWPArc2SHP;
      break;
    case KindNetwork:
      routines[0] = Kvx::ConvertWN2SHP;
      routines[1] = Kvx::ConvertWNNode2SHP;
      break;
    default: break;
  }
  const Kvx::ConversionServices services{styles, Kvx::SilentNotifier()};
  const std::filesystem::path out = KvxFuzz::Scratch() / "out";
  for (Routine routine : routines) {
    if (!routine) continue;
    for (int symbolType : {0, 2, 4}) {
      Kvx::FrameSettings settings;
      settings.symbolType = symbolType;
      settings.exportProjection = symbolType == 0 ? 0 : 1;
      settings.codePage = symbolType == 2 ? 1 : 0;
      settings.colorModel = symbolType == 2 ? 0 : 2;
      settings.qgisStyle = symbolType == 4 ? 1 : 0;
      settings.repairGeometry = symbolType == 4 ? 1 : 0;
      settings.maxErrors = 4;
      (void)routine(path, out, services, settings);
    }
    // Into a table of a new GeoPackage, with its style and its spatial index.
    std::error_code ec;
    std::filesystem::remove(KvxFuzz::Scratch() / "out.gpkg", ec);
    Kvx::FrameSettings geoPackage;
    geoPackage.symbolType = 4;
    geoPackage.exportProjection = 1;
    geoPackage.qgisStyle = 1;
    geoPackage.outputFormat = 1;
    geoPackage.exportEmptyFile = 1;
    geoPackage.maxErrors = 4;
    (void)routine(path, out, services, geoPackage);
  }
  Kvx::TableSettings table;
  (void)Kvx::ConvertWB2DBF(path, out, Kvx::SilentNotifier(), table);
  (void)Kvx::ConvertWB2XLS(path, out, Kvx::SilentNotifier());
}

// The demo colour library, so that the legend modes look colours up.
const Kvx::StyleContext& Styles() {
  static const Kvx::StyleContext* styles = [] {
    auto* s = new Kvx::StyleContext;
    Kvx::Settings settings;
    settings.LibPath = KVX_FUZZ_LIBRARY;
    settings.SymbolType = 4;
    (void)s->ConvertLoadRules(settings, Kvx::SilentNotifier());
    return s;
  }();
  return *styles;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path path = KvxFuzz::Scratch() / "in.wl";
  if (!KvxFuzz::WriteInput(path, data, size)) return 0;
  Readers(path);
  std::int32_t kind = -1;
  {
    MapGis_FastReader r;
    if (r.Open(path.c_str()) == Status::Success) kind = r.GetShapeType();
  }
  Conversions(path, kind, Styles());
  (void)Kvx::DescribeLayer(path).dump();
  KvxFuzz::ClearScratch();
  return 0;
}
