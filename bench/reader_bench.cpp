// kvx_reader_bench generate DIR [LINES POINTS]  -- writes bench_lines.wl and bench_points.wt
// kvx_reader_bench read FILE...                  -- reads every feature with its attributes
//
// The read mode walks a layer the way a conversion does: one Geometry per feature, the feature
// read, then every attribute value of the feature, and prints features per second.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/layer_builder.h"
#include "vordex/layer_reader.h"

namespace {

using namespace MapGis;

void AddFields(KvxTest::AttributeArea& area, int records) {
  area.AddField("ID", FieldLong);
  area.AddField("NAME", FieldString, 20);
  area.AddField("LENGTH", FieldDouble);
  area.AddField("CLASS", FieldShort);
  area.SetRecordCount(records);
  for (int r = 0; r < records; ++r) {
    area.SetValue<std::int32_t>(r, 0, r);
    area.SetText(r, 1, "\xB5\xD8\xD6\xCA bench");
    area.SetValue<double>(r, 2, r * 0.5);
    area.SetValue<std::int16_t>(r, 3, static_cast<std::int16_t>(r % 100));
  }
}

int Generate(const std::string& dir, int lines, int points) {
  {
    KvxTest::LayerBuilder b(KindLine);
    std::vector<Point2D> v(20);
    for (int i = 0; i < lines; ++i) {
      for (int k = 0; k < 20; ++k) v[k] = Point2D{i * 10.0 + k, k * 3.0 + (i % 7)};
      b.AddLine(v);
    }
    AddFields(b.Attributes(KvxTest::EntryPrimaryAttr), lines);
    if (!b.WriteTo(dir + "/bench_lines.wl")) return 1;
  }
  {
    KvxTest::LayerBuilder b(KindPoint);
    for (int i = 0; i < points; ++i) b.AddPoint(i * 1.0, i * 2.0);
    AddFields(b.Attributes(KvxTest::EntryPrimaryAttr), points);
    if (!b.WriteTo(dir + "/bench_points.wt")) return 1;
  }
  return 0;
}

int Read(const char* path) {
  auto start = std::chrono::steady_clock::now();
  MapGis_FastReader reader;
  std::int32_t st = reader.Open(path);
  if (st != Status::Success) {
    std::fprintf(stderr, "%s: %s\n", path, Status::Describe(st));
    return 1;
  }
  int slots = 0;
  const int kind = reader.GetShapeType();
  if (kind == KindPoint) reader.GetPointCount(&slots);
  else reader.GetArcCount(&slots);
  const int fields = reader.GetFieldCount();
  std::vector<int> types(static_cast<std::size_t>(std::max(fields, 0)));
  for (int f = 0; f < fields; ++f) {
    char name[32];
    int size, width, decimals;
    types[static_cast<std::size_t>(f)] = reader.GetFieldInfo(f, name, &size, &width, &decimals);
  }
  long long features = 0, vertices = 0, values = 0;
  double checksum = 0;
  for (int i = 0; i < slots; ++i) {
    Geometry* g = CreateGeometry();
    st = kind == KindPoint ? reader.ReadPointInfo(i, nullptr, g) : reader.ReadArcInfo(i, nullptr, g);
    if (st == Status::Success) {
      ++features;
      vertices += g->vertexCount;
      checksum += g->xMax;
      for (int f = 0; f < fields; ++f) {
        int width = 0;
        reader.GetFieldInfo(f, nullptr, nullptr, &width, nullptr);
        if (reader.ReadAttribute(i, f, types[static_cast<std::size_t>(f)])) ++values;
      }
    }
    DestroyGeometry(g);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %lld features, %lld vertices, %lld values in %.3f s = %.0f features/s (checksum %g)\n", path,
              features, vertices, values, seconds, features / seconds, checksum);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "generate") == 0) {
    int lines = argc > 3 ? std::atoi(argv[3]) : 1000000;
    int points = argc > 4 ? std::atoi(argv[4]) : 1000000;
    return Generate(argv[2], lines, points);
  }
  if (argc >= 3 && std::strcmp(argv[1], "read") == 0) {
    int rc = 0;
    for (int i = 2; i < argc; ++i) rc |= Read(argv[i]);
    return rc;
  }
  std::fprintf(stderr, "usage: kvx_reader_bench generate DIR [LINES POINTS] | read FILE...\n");
  return 2;
}
