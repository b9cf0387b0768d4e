// Geometry is handed to shapelib as an SHPObject: every field must sit where shapelib looks for
// it. The layout is checked at compile time, and a point, a line and a polygon go through
// SHPWriteObject and come back unchanged.

#include <gtest/gtest.h>
#include <shapefil.h>

#include <cstddef>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

#include "support/layer_builder.h"
#include "vordex/geometry.h"

namespace {

using MapGis::Geometry;

static_assert(std::is_standard_layout_v<Geometry>);
static_assert(sizeof(Geometry) == sizeof(SHPObject));
static_assert(offsetof(Geometry, shapeType) == offsetof(SHPObject, nSHPType));
static_assert(offsetof(Geometry, shapeId) == offsetof(SHPObject, nShapeId));
static_assert(offsetof(Geometry, partCount) == offsetof(SHPObject, nParts));
static_assert(offsetof(Geometry, partStart) == offsetof(SHPObject, panPartStart));
static_assert(offsetof(Geometry, partType) == offsetof(SHPObject, panPartType));
static_assert(offsetof(Geometry, vertexCount) == offsetof(SHPObject, nVertices));
static_assert(offsetof(Geometry, x) == offsetof(SHPObject, padfX));
static_assert(offsetof(Geometry, y) == offsetof(SHPObject, padfY));
static_assert(offsetof(Geometry, z) == offsetof(SHPObject, padfZ));
static_assert(offsetof(Geometry, m) == offsetof(SHPObject, padfM));
static_assert(offsetof(Geometry, xMin) == offsetof(SHPObject, dfXMin));
static_assert(offsetof(Geometry, yMin) == offsetof(SHPObject, dfYMin));
static_assert(offsetof(Geometry, zMin) == offsetof(SHPObject, dfZMin));
static_assert(offsetof(Geometry, mMin) == offsetof(SHPObject, dfMMin));
static_assert(offsetof(Geometry, xMax) == offsetof(SHPObject, dfXMax));
static_assert(offsetof(Geometry, yMax) == offsetof(SHPObject, dfYMax));
static_assert(offsetof(Geometry, zMax) == offsetof(SHPObject, dfZMax));
static_assert(offsetof(Geometry, mMax) == offsetof(SHPObject, dfMMax));
static_assert(offsetof(Geometry, measureIsUsed) == offsetof(SHPObject, bMeasureIsUsed));
static_assert(offsetof(Geometry, fastModeReadObject) == offsetof(SHPObject, bFastModeReadObject));

using GeomPtr = std::unique_ptr<Geometry, MapGis::GeometryDeleter>;

// Fills a geometry the way the reader does: C-heap arrays, z and m zero.
GeomPtr Make(int type, std::initializer_list<int> starts, std::initializer_list<std::pair<double, double>> xy) {
  GeomPtr g(MapGis::CreateGeometry());
  g->shapeType = type;
  g->partCount = static_cast<int>(starts.size());
  if (g->partCount > 0) {
    g->partStart = static_cast<int*>(std::calloc(starts.size(), sizeof(int)));
    g->partType = static_cast<int*>(std::calloc(starts.size(), sizeof(int)));
    int k = 0;
    for (int s : starts) {
      g->partStart[k] = s;
      g->partType[k] = k == 0 || type == 3 ? 5 : 3;
      ++k;
    }
  }
  g->vertexCount = static_cast<int>(xy.size());
  g->x = static_cast<double*>(std::calloc(xy.size(), sizeof(double)));
  g->y = static_cast<double*>(std::calloc(xy.size(), sizeof(double)));
  g->z = static_cast<double*>(std::calloc(xy.size(), sizeof(double)));
  g->m = static_cast<double*>(std::calloc(xy.size(), sizeof(double)));
  int i = 0;
  for (auto [x, y] : xy) {
    g->x[i] = x;
    g->y[i] = y;
    g->xMin = std::min(g->xMin, x);
    g->yMin = std::min(g->yMin, y);
    g->xMax = std::max(g->xMax, x);
    g->yMax = std::max(g->yMax, y);
    ++i;
  }
  return g;
}

TEST(GeometryLayout, FreshGeometryHasTheSentinelBounds) {
  GeomPtr g(MapGis::CreateGeometry());
  EXPECT_EQ(g->shapeType, 0);
  EXPECT_EQ(g->shapeId, -1);
  EXPECT_EQ(g->partStart, nullptr);
  std::uint64_t lo, hi;
  std::memcpy(&lo, &g->xMin, 8);
  std::memcpy(&hi, &g->mMax, 8);
  EXPECT_EQ(lo, 0x7FB99999999999AAull);
  EXPECT_EQ(hi, 0xFFB99999999999AAull);
  MapGis::EmptyGeometry(nullptr);
  MapGis::DestroyGeometry(nullptr);
}

TEST(GeometryLayout, ShapelibWritesAGeometryUnchanged) {
  struct Case {
    int type;
    GeomPtr geom;
  };
  Case cases[] = {
      {SHPT_POINT, Make(1, {}, {{10.5, 20.25}})},
      {SHPT_ARC, Make(3, {0}, {{0, 0}, {1, 2}, {3, 1}})},
      {SHPT_POLYGON, Make(5, {0, 5}, {{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}, {2, 2}, {4, 2}, {4, 4}, {2, 2}})},
  };
  KvxTest::TempDir dir;
  for (Case& c : cases) {
    SCOPED_TRACE(c.type);
    const std::string base = (dir / ("shape" + std::to_string(c.type))).string();
    SHPHandle out = SHPCreate(base.c_str(), c.type);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(SHPWriteObject(out, -1, reinterpret_cast<SHPObject*>(c.geom.get())), 0);
    SHPClose(out);

    SHPHandle in = SHPOpen(base.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    SHPObject* back = SHPReadObject(in, 0);
    ASSERT_NE(back, nullptr);
    const Geometry& g = *c.geom;
    EXPECT_EQ(back->nSHPType, c.type);
    ASSERT_EQ(back->nVertices, g.vertexCount);
    ASSERT_EQ(back->nParts, g.partCount);
    for (int p = 0; p < g.partCount; ++p) EXPECT_EQ(back->panPartStart[p], g.partStart[p]);
    for (int i = 0; i < g.vertexCount; ++i) {
      EXPECT_EQ(back->padfX[i], g.x[i]);
      EXPECT_EQ(back->padfY[i], g.y[i]);
    }
    EXPECT_EQ(back->dfXMin, g.xMin);
    EXPECT_EQ(back->dfYMax, g.yMax);
    SHPDestroyObject(back);
    SHPClose(in);
  }
}

}  // namespace
