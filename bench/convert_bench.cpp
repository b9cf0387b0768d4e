// kvx_convert_bench generate DIR [LINES]        -- writes DIR/bench_lines.wl: LINES lines (default
//                                                  1,000,000) of 20 vertices, 8 attribute fields
// kvx_convert_bench generate-regions DIR [REGIONS] -- DIR/bench_regions.wp: REGIONS regions (default
//                                                  200,000), each a ring of three arcs
// kvx_convert_bench generate-points DIR [POINTS] -- DIR/bench_points.wt: POINTS annotations (default
//                                                  1,000,000) with Chinese text
// kvx_convert_bench convert SOURCE OUTBASE [SYMBOLTYPE]
//                                               -- converts the layer (lines, regions or points by
//                                                  the extension) to OUTBASE.shp/.dbf and prints the
//                                                  result code and the time taken
// kvx_convert_bench convert-gpkg SOURCE OUTBASE [SYMBOLTYPE]
//                                               -- the same into the table OUTBASE of OUTBASE.gpkg
//
// The conversion runs with the default settings (GBK tables, no projection file), or with the
// drawing-parameter fields of the given SymbolType.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/line_conversion.h"
#include "engine/point_conversion.h"
#include "engine/region_conversion.h"
#include "support/layer_builder.h"

namespace {

using namespace MapGis;

int Generate(const std::string& dir, int lines) {
  KvxTest::LayerBuilder b(KindLine);
  std::vector<Point2D> v(20);
  for (int i = 0; i < lines; ++i) {
    for (int k = 0; k < 20; ++k) v[static_cast<std::size_t>(k)] = Point2D{i * 10.0 + k * 0.5, k * 3.0 + (i % 7)};
    const int n = b.AddLine(v);
    MAPGIS_LineInfo& l = b.Line(n);
    l.lineType = static_cast<std::int16_t>(i % 12);
    l.color = i % 200;
    l.width = 0.1f * static_cast<float>(i % 5);
    l.layer = static_cast<std::int16_t>(i % 30);
  }
  KvxTest::AttributeArea& a = b.Attributes(KvxTest::EntryPrimaryAttr);
  a.AddField("ID", FieldLong, 4, 10);
  a.AddField("NAME", FieldString, 20, 20);
  a.AddField("LENGTH", FieldDouble, 8, 14, 3);
  a.AddField("CLASS", FieldShort, 2, 6);
  a.AddField("CODE", FieldString, 10, 10);
  a.AddField("WIDTH", FieldFloat, 4, 10, 2);
  a.AddField("BUILT", FieldDate, 4);
  a.AddField("LEVEL", FieldByte, 1, 3);
  a.SetRecordCount(lines);
  char code[16];
  for (int r = 0; r < lines; ++r) {
    a.SetValue<std::int32_t>(r, 0, r);
    a.SetText(r, 1, "\xB5\xC0\xC2\xB7 bench");  // 道路
    a.SetValue<double>(r, 2, r * 0.5 + 0.125);
    a.SetValue<std::int16_t>(r, 3, static_cast<std::int16_t>(r % 100));
    std::snprintf(code, sizeof code, "C%07d", r);
    a.SetText(r, 4, code);
    a.SetValue<float>(r, 5, static_cast<float>(r % 1000) * 0.25f);
    a.SetValue(r, 6, DATE_STRUstruct{static_cast<std::int16_t>(1990 + r % 30), static_cast<std::int8_t>(1 + r % 12),
                                      static_cast<std::int8_t>(1 + r % 28)});
    a.SetValue<std::uint8_t>(r, 7, static_cast<std::uint8_t>(r % 256));
  }
  return b.WriteTo(dir + "/bench_lines.wl") ? 0 : 1;
}

// Three fields of every kind of table the other layers carry.
void AddSmallTable(KvxTest::AttributeArea& a, int records) {
  a.AddField("ID", FieldLong, 4, 10);
  a.AddField("NAME", FieldString, 20, 20);
  a.AddField("AREA", FieldDouble, 8, 14, 3);
  a.SetRecordCount(records);
  for (int r = 0; r < records; ++r) {
    a.SetValue<std::int32_t>(r, 0, r);
    a.SetText(r, 1, "\xB5\xD8\xB2\xE3 bench");  // 地层
    a.SetValue<double>(r, 2, r * 0.25);
  }
}

// Region i is a hexagon split into three arcs of three vertices (arcs 3i+1 to 3i+3).
int GenerateRegions(const std::string& dir, int regions) {
  KvxTest::LayerBuilder b(KindRegion);
  for (int i = 0; i < regions; ++i) {
    const double cx = (i % 1000) * 10.0, cy = (i / 1000) * 10.0;
    const Point2D p[6] = {{cx, cy}, {cx + 2, cy - 3}, {cx + 6, cy - 3}, {cx + 8, cy}, {cx + 6, cy + 3}, {cx + 2, cy + 3}};
    b.AddLine({p[0], p[1], p[2]});
    b.AddLine({p[2], p[3], p[4]});
    b.AddLine({p[4], p[5], p[0]});
    const int n = b.AddRegion({3 * i + 1, 3 * i + 2, 3 * i + 3});
    b.Region(n).fillColor = i % 300;
    b.Region(n).patternNo = static_cast<std::int16_t>(i % 20);
  }
  AddSmallTable(b.Attributes(KvxTest::EntryRegionAttr), regions);
  return b.WriteTo(dir + "/bench_regions.wp") ? 0 : 1;
}

int GeneratePoints(const std::string& dir, int points) {
  KvxTest::LayerBuilder b(KindPoint);
  for (int i = 0; i < points; ++i) {
    const int n = b.AddPoint((i % 1000) * 5.0, (i / 1000) * 5.0, "\xB2\xC9\xD1\xF9\xB5\xE3 H#+2#=O");  // 采样点
    MAPGIS_PntInfo& p = b.Point(n);
    p.textHeight = 3.0f;
    p.textWidth = 3.0f;
    p.spacing = 0.5f;
    p.color = i % 50;
    p.chineseFont = 1;
  }
  AddSmallTable(b.Attributes(KvxTest::EntryPrimaryAttr), points);
  return b.WriteTo(dir + "/bench_points.wt") ? 0 : 1;
}

bool EndsWith(const std::string& s, const char* suffix) {
  const std::size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Samples the process's resident memory at every percent of progress: anonymous memory (heap:
// the reader's record sections and attribute area, the conversion's buffers) apart from the
// pages of the mapped source file, which the kernel can drop at any time.
class MemorySampler : public Kvx::Notifier {
 public:
  void Progress(std::int64_t, std::int64_t) override {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, f)) {
      if (std::sscanf(line, "RssAnon: %ld kB", &kb) == 1) peakAnonKb = std::max(peakAnonKb, kb);
      if (std::sscanf(line, "RssFile: %ld kB", &kb) == 1) peakFileKb = std::max(peakFileKb, kb);
    }
    std::fclose(f);
  }
  long peakAnonKb = 0;
  long peakFileKb = 0;
};

int Convert(const char* source, const char* base, int symbolType, const char* targetCrs, const char* sourceCrs,
            int format = 0) {
  Kvx::FrameSettings settings;
  settings.exportProjection = 0;
  settings.outputFormat = format;
  if (targetCrs && *targetCrs) settings.reprojection = {targetCrs, sourceCrs ? sourceCrs : "", "", false};
  settings.symbolType = symbolType;
  settings.colorModel = 2;
  Kvx::StyleContext styles;
  MemorySampler memory;
  const auto start = std::chrono::steady_clock::now();
  const std::string src = source;
  const std::int32_t result =
      EndsWith(src, ".wp") ? Kvx::ConvertWP2SHP(source, base, {styles, memory}, settings)
      : EndsWith(src, ".wt") ? Kvx::ConvertWT2SHP(source, base, {styles, memory}, settings)
                             : Kvx::ConvertWL2SHP(source, base, {styles, memory}, settings);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("result %d in %.3f s\n", result, seconds);
  std::fprintf(stderr, "peak anonymous memory %ld MB, peak mapped file pages %ld MB\n", memory.peakAnonKb / 1024,
               memory.peakFileKb / 1024);
  return result == Kvx::kConvertSuccess ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "generate" && argc >= 3) return Generate(argv[2], argc > 3 ? std::atoi(argv[3]) : 1000000);
  if (mode == "generate-regions" && argc >= 3) return GenerateRegions(argv[2], argc > 3 ? std::atoi(argv[3]) : 200000);
  if (mode == "generate-points" && argc >= 3) return GeneratePoints(argv[2], argc > 3 ? std::atoi(argv[3]) : 1000000);
  if (mode == "convert-gpkg" && argc >= 4)
    return Convert(argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 0, nullptr, nullptr, 1);
  if (mode == "convert" && argc >= 4)
    return Convert(argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 0, argc > 5 ? argv[5] : nullptr,
                   argc > 6 ? argv[6] : nullptr);
  std::fprintf(stderr,
               "usage: kvx_convert_bench generate DIR [LINES]\n"
               "       kvx_convert_bench generate-regions DIR [REGIONS]\n"
               "       kvx_convert_bench generate-points DIR [POINTS]\n"
               "       kvx_convert_bench convert SOURCE OUTBASE [SYMBOLTYPE [TARGET_CRS [SOURCE_CRS]]]\n"
               "       kvx_convert_bench convert-gpkg SOURCE OUTBASE [SYMBOLTYPE]\n");
  return 2;
}
