// Measures, checks and repairs of Geometry: ring orientation, ring closing, bounds handling and
// the guards against part starts that lie outside the vertex range.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "vordex/conversions.h"
#include "vordex/geometry.h"

namespace {

using MapGis::Geometry;
using GeoPtr = std::unique_ptr<Geometry, MapGis::GeometryDeleter>;

struct P {
  double x;
  double y;
};
using Ring = std::vector<P>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <typename T>
T* CAlloc(std::size_t n) {
  return static_cast<T*>(std::calloc(n == 0 ? 1 : n, sizeof(T)));
}

// A geometry with the given vertices and raw part starts (which may be malformed on purpose).
// z holds 100 + the vertex index and m 200 + the index, so that tests can see them travel.
GeoPtr MakeRaw(std::int32_t type, const std::vector<std::int32_t>& starts, const std::vector<P>& pts,
               bool withZM = true) {
  GeoPtr g(MapGis::CreateGeometry());
  g->shapeType = type;
  g->partCount = static_cast<std::int32_t>(starts.size());
  if (!starts.empty()) {
    g->partStart = CAlloc<std::int32_t>(starts.size());
    g->partType = CAlloc<std::int32_t>(starts.size());
    for (std::size_t p = 0; p < starts.size(); ++p) {
      g->partStart[p] = starts[p];
      g->partType[p] = p == 0 ? 5 : 3;
    }
  }
  g->vertexCount = static_cast<std::int32_t>(pts.size());
  if (!pts.empty()) {
    g->x = CAlloc<double>(pts.size());
    g->y = CAlloc<double>(pts.size());
    if (withZM) {
      g->z = CAlloc<double>(pts.size());
      g->m = CAlloc<double>(pts.size());
    }
    g->xMin = g->xMax = pts[0].x;
    g->yMin = g->yMax = pts[0].y;
    for (std::size_t i = 0; i < pts.size(); ++i) {
      g->x[i] = pts[i].x;
      g->y[i] = pts[i].y;
      if (withZM) {
        g->z[i] = 100.0 + static_cast<double>(i);
        g->m[i] = 200.0 + static_cast<double>(i);
      }
      g->xMin = std::min(g->xMin, pts[i].x);
      g->xMax = std::max(g->xMax, pts[i].x);
      g->yMin = std::min(g->yMin, pts[i].y);
      g->yMax = std::max(g->yMax, pts[i].y);
    }
  }
  return g;
}

// A geometry with one part per ring.
GeoPtr Make(std::int32_t type, const std::vector<Ring>& rings, bool withZM = true) {
  std::vector<std::int32_t> starts;
  std::vector<P> pts;
  for (const Ring& r : rings) {
    starts.push_back(static_cast<std::int32_t>(pts.size()));
    pts.insert(pts.end(), r.begin(), r.end());
  }
  return MakeRaw(type, starts, pts, withZM);
}

void ExpectVertices(const Geometry* g, const std::vector<P>& want) {
  ASSERT_EQ(g->vertexCount, static_cast<std::int32_t>(want.size()));
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(g->x[i], want[i].x) << "vertex " << i;
    EXPECT_EQ(g->y[i], want[i].y) << "vertex " << i;
  }
}

// Signed area of part p, as a plain reference for orientation checks.
double PartArea(const Geometry* g, std::int32_t p) {
  const std::int32_t s = g->partStart[p];
  const std::int32_t e = p + 1 < g->partCount ? g->partStart[p + 1] : g->vertexCount;
  double sum = 0.0;
  for (std::int32_t i = s; i < e; ++i) {
    const std::int32_t j = i + 1 == e ? s : i + 1;
    sum += g->x[i] * g->y[j] - g->x[j] * g->y[i];
  }
  return 0.5 * sum;
}

// Rings used throughout. "Ccw" and "Cw" name the orientation with the y axis up.
const Ring kUnitCcw = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
const Ring kUnitCw = {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}};
const Ring kSquare2Ccw = {{2, 0}, {3, 0}, {3, 1}, {2, 1}, {2, 0}};
const Ring kOuter10Cw = {{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}};
const Ring kOuter10Ccw = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};
const Ring kHoleACcw = {{1, 1}, {2, 1}, {2, 2}, {1, 2}, {1, 1}};
const Ring kHoleBCcw = {{5, 1}, {6, 1}, {6, 2}, {5, 2}, {5, 1}};
const Ring kHoleACw = {{1, 1}, {1, 2}, {2, 2}, {2, 1}, {1, 1}};
const Ring kFlat = {{0, 0}, {1, 0}, {3, 0}, {0, 0}};  // collinear: area 0

// ---------------------------------------------------------------------------------------------
// Measures.
// ---------------------------------------------------------------------------------------------

struct MeasureCase {
  const char* name;
  GeoPtr (*make)();
  double length;
  double perimeter;
  double area;
  double cx;
  double cy;
};

const MeasureCase kMeasureCases[] = {
    {"unit square counter-clockwise", [] { return Make(5, {kUnitCcw}); }, 4, 4, 1, 0.5, 0.5},
    {"unit square clockwise", [] { return Make(5, {kUnitCw}); }, 4, 4, -1, 0.5, 0.5},
    {"two closed squares as two parts", [] { return Make(5, {kUnitCcw, kSquare2Ccw}); }, 8, 8, 2, 1.5, 0.5},
    // Three rings: the part starts (0,0), (1,1), (5,1) span a triangle of area 2 that a single
    // run over all vertices would wrongly add.
    {"outer ring and two holes", [] { return Make(5, {kOuter10Cw, kHoleACcw, kHoleBCcw}); }, 48, 48, -98,
     493.0 / 98.0, 497.0 / 98.0},
    {"two-part line: no jump between parts", [] { return Make(3, {{{0, 0}, {3, 4}}, {{10, 0}, {10, 2}}}); }, 7, 7,
     // each part is a ring of area 0: the centroid of the edges
     0, (1.5 * 10 + 10 * 4) / 14.0, (2 * 10 + 1 * 4) / 14.0},
    {"vertices without parts are one run", [] { return MakeRaw(5, {}, {{0, 0}, {3, 4}, {3, 0}}); }, 9, 0, -6, 2,
     4.0 / 3.0},
    {"collinear ring: centroid of its edges", [] { return Make(5, {kFlat}); }, 6, 6, 0, 1.5, 0},
    {"coincident vertices: the point itself", [] { return Make(5, {{{2, 2}, {2, 2}, {2, 2}}}); }, 0, 0, 0, 2, 2},
    {"unit square far from the origin",
     [] { return Make(5, {{{5e6, 3e6}, {5e6 + 1, 3e6}, {5e6 + 1, 3e6 + 1}, {5e6, 3e6 + 1}, {5e6, 3e6}}}); }, 4, 4, 1,
     5e6 + 0.5, 3e6 + 0.5},
    {"single point", [] { return MakeRaw(1, {}, {{7, 8}}); }, 0, 0, 0, 7, 8},
    {"fresh geometry", [] { return GeoPtr(MapGis::CreateGeometry()); }, 0, 0, 0, 0, 0},
    // Malformed part starts: only the parts inside the vertex range are measured.
    {"parts after the first run past the vertices",
     [] {
       std::vector<P> pts(kUnitCcw.begin(), kUnitCcw.end());
       pts.insert(pts.end(), kSquare2Ccw.begin(), kSquare2Ccw.end());
       return MakeRaw(5, {0, 5, 99}, pts);
     },
     4, 4, 1, 0.5, 0.5},
    {"only part ends past the vertices", [] { return MakeRaw(5, {0, 99}, kUnitCcw); }, 0, 0, 0, 0, 0},
    {"first part starts before the vertices", [] { return MakeRaw(5, {-4, 5}, kUnitCcw); }, 0, 0, 0, 0, 0},
    {"parts without coordinate arrays",
     [] {
       GeoPtr g = Make(5, {kUnitCcw});
       std::free(g->x);
       g->x = nullptr;
       return g;
     },
     0, 0, 0, 0, 0},
};

TEST(GeoMeasures, Table) {
  for (const MeasureCase& c : kMeasureCases) {
    SCOPED_TRACE(c.name);
    GeoPtr g = c.make();
    EXPECT_NEAR(MapGis::GetGeoLength(g.get()), c.length, 1e-9);
    EXPECT_NEAR(MapGis::GetGeoPerimeter(g.get()), c.perimeter, 1e-9);
    EXPECT_NEAR(MapGis::GetGeoArea(g.get()), c.area, 1e-9);
    const Vec2d centroid = MapGis::GetGeoCentroid(g.get());
    EXPECT_NEAR(centroid.v[0], c.cx, 1e-9);
    EXPECT_NEAR(centroid.v[1], c.cy, 1e-9);
  }
}

TEST(GeoMeasures, NearlyCollinearRingHasFiniteCentroidInsideItsBox) {
  // Rounding leaves a tiny non-zero area here; the centroid must not blow up.
  GeoPtr g = Make(5, {{{0.1, 0.1}, {0.3, 0.3}, {0.7, 0.7}, {0.1, 0.1}}});
  const Vec2d c = MapGis::GetGeoCentroid(g.get());
  EXPECT_TRUE(std::isfinite(c.v[0]) && std::isfinite(c.v[1]));
  EXPECT_GE(c.v[0], 0.1);
  EXPECT_LE(c.v[0], 0.7);
  EXPECT_NEAR(c.v[0], c.v[1], 1e-12);
}

// ---------------------------------------------------------------------------------------------
// Null and empty input for every function.
// ---------------------------------------------------------------------------------------------

TEST(GeoNullAndEmpty, EveryFunctionAcceptsNull) {
  EXPECT_EQ(MapGis::GetGeoLength(nullptr), 0.0);
  EXPECT_EQ(MapGis::GetGeoPerimeter(nullptr), 0.0);
  EXPECT_EQ(MapGis::GetGeoArea(nullptr), 0.0);
  const Vec2d c = MapGis::GetGeoCentroid(nullptr);
  EXPECT_EQ(c.v[0], 0.0);
  EXPECT_EQ(c.v[1], 0.0);
  MapGis::ReScaleGeometry(nullptr, 2.0);
  MapGis::OffsetGeometry(nullptr, MapGis::D_3DOT{1, 2, 3});
  MapGis::FixGeoTopo(nullptr);
  MapGis::FixUnclosedRing(nullptr);
  EXPECT_TRUE(MapGis::CheckEmptyGeo(nullptr));
  EXPECT_FALSE(MapGis::CheckEmptyParts(nullptr));
  EXPECT_FALSE(MapGis::CheckUnRingOrder(nullptr));
  EXPECT_EQ(MapGis::CheckUnclosedRing(nullptr, 0.0), 0);
  EXPECT_FALSE(MapGis::CheckSelfIntersect(nullptr));
  EXPECT_FALSE(MapGis::CheckShortSegment(nullptr, 1.0));
}

struct EmptinessCase {
  const char* name;
  GeoPtr (*make)();
  bool emptyGeo;
  bool emptyParts;
};

const EmptinessCase kEmptinessCases[] = {
    {"fresh geometry (type 0)", [] { return GeoPtr(MapGis::CreateGeometry()); }, true, false},
    {"polygon with two rings", [] { return Make(5, {kUnitCcw, kSquare2Ccw}); }, false, false},
    {"point without parts", [] { return MakeRaw(1, {}, {{1, 2}}); }, true, false},
    {"repeated part start", [] { return MakeRaw(5, {0, 5, 5}, {kUnitCcw[0], kUnitCcw[1], kUnitCcw[2], kUnitCcw[3],
                                                              kUnitCcw[4], {2, 0}, {3, 0}, {2, 0}}); },
     false, true},
    {"part start past the vertices", [] { return MakeRaw(5, {0, 20}, kUnitCcw); }, false, true},
    {"decreasing part starts", [] { return MakeRaw(5, {3, 1}, kUnitCcw); }, false, true},
    {"negative part start", [] { return MakeRaw(5, {0, -3}, kUnitCcw); }, false, true},
    {"parts but no vertices", [] { return MakeRaw(5, {0}, {}); }, true, true},
};

TEST(GeoChecks, EmptyGeometryAndEmptyParts) {
  for (const EmptinessCase& c : kEmptinessCases) {
    SCOPED_TRACE(c.name);
    GeoPtr g = c.make();
    EXPECT_EQ(MapGis::CheckEmptyGeo(g.get()), c.emptyGeo);
    EXPECT_EQ(MapGis::CheckEmptyParts(g.get()), c.emptyParts);
  }
}

// ---------------------------------------------------------------------------------------------
// Ring orientation repair.
// ---------------------------------------------------------------------------------------------

struct TopoCase {
  const char* name;
  std::vector<Ring> rings;
  bool wrongBefore;
  std::vector<bool> reversed;  // per ring
};

const TopoCase kTopoCases[] = {
    {"outer ring counter-clockwise", {kUnitCcw}, true, {true}},
    {"outer ring clockwise", {kUnitCw}, false, {false}},
    {"outer and hole both counter-clockwise", {kOuter10Ccw, kHoleACcw}, true, {true, false}},
    {"outer and hole both clockwise", {kOuter10Cw, kHoleACw}, true, {false, true}},
    {"outer clockwise, hole counter-clockwise", {kOuter10Cw, kHoleACcw}, false, {false, false}},
    {"everything the wrong way round", {kOuter10Ccw, kHoleACw, {{5, 1}, {5, 2}, {6, 2}, {6, 1}, {5, 1}}}, true,
     {true, true, true}},
    {"zero-area outer ring is left alone", {kFlat}, false, {false}},
    {"zero-area hole is left alone", {kOuter10Cw, kFlat}, false, {false, false}},
    {"open ring (not closed) counter-clockwise", {{{0, 0}, {4, 0}, {4, 3}}}, true, {true}},
};

TEST(GeoFixTopo, OuterClockwiseHolesCounterClockwise) {
  for (const TopoCase& c : kTopoCases) {
    SCOPED_TRACE(c.name);
    GeoPtr g = Make(5, c.rings);
    EXPECT_EQ(MapGis::CheckUnRingOrder(g.get()), c.wrongBefore);

    MapGis::FixGeoTopo(g.get());

    EXPECT_FALSE(MapGis::CheckUnRingOrder(g.get()));
    std::int32_t at = 0;
    for (std::size_t r = 0; r < c.rings.size(); ++r) {
      const Ring& in = c.rings[r];
      const double area = PartArea(g.get(), static_cast<std::int32_t>(r));
      if (area != 0.0) {
        EXPECT_EQ(area < 0.0, r == 0) << "ring " << r;
      }
      for (std::size_t k = 0; k < in.size(); ++k) {
        const std::size_t from = c.reversed[r] ? in.size() - 1 - k : k;
        const std::int32_t i = at + static_cast<std::int32_t>(k);
        EXPECT_EQ(g->x[i], in[from].x) << "ring " << r << " vertex " << k;
        EXPECT_EQ(g->y[i], in[from].y) << "ring " << r << " vertex " << k;
        // z and m travel with their vertex.
        EXPECT_EQ(g->z[i], 100.0 + static_cast<double>(at) + static_cast<double>(from));
        EXPECT_EQ(g->m[i], 200.0 + static_cast<double>(at) + static_cast<double>(from));
      }
      at += static_cast<std::int32_t>(in.size());
    }
  }
}

TEST(GeoFixTopo, UnitSquareAreaChangesSign) {
  GeoPtr g = Make(5, {kUnitCcw});
  EXPECT_DOUBLE_EQ(MapGis::GetGeoArea(g.get()), 1.0);
  MapGis::FixGeoTopo(g.get());
  EXPECT_DOUBLE_EQ(MapGis::GetGeoArea(g.get()), -1.0);
}

TEST(GeoFixTopo, MalformedPartsAreSkippedAndOthersRepaired) {
  // Part 1 runs from 5 past the end; part 2 starts before the first vertex.
  std::vector<P> pts(kUnitCcw.begin(), kUnitCcw.end());
  pts.insert(pts.end(), kHoleACw.begin(), kHoleACw.end());
  GeoPtr g = MakeRaw(5, {0, 5, -2}, pts);
  MapGis::FixGeoTopo(g.get());
  EXPECT_FALSE(MapGis::CheckUnRingOrder(g.get()));
  std::vector<P> want(kUnitCcw.rbegin(), kUnitCcw.rend());
  want.insert(want.end(), kHoleACw.begin(), kHoleACw.end());
  ExpectVertices(g.get(), want);
}

TEST(GeoFixTopo, WithoutZAndM) {
  GeoPtr g = Make(5, {kUnitCcw}, /*withZM=*/false);
  MapGis::FixGeoTopo(g.get());
  ExpectVertices(g.get(), Ring(kUnitCcw.rbegin(), kUnitCcw.rend()));
}

// ---------------------------------------------------------------------------------------------
// Ring closing and the unclosed-ring count.
// ---------------------------------------------------------------------------------------------

struct CloseCase {
  const char* name;
  std::vector<std::int32_t> starts;
  std::vector<P> before;
  std::int32_t unclosed;  // CheckUnclosedRing(tolerance 0) before the repair
  std::vector<P> after;
};

const CloseCase kCloseCases[] = {
    {"open ring loses its last vertex", {0}, {{0, 0}, {1, 0}, {1, 1}, {0, 1}}, 1, {{0, 0}, {1, 0}, {1, 1}, {0, 0}}},
    {"closed ring unchanged", {0}, {{0, 0}, {1, 0}, {1, 1}, {0, 0}}, 0, {{0, 0}, {1, 0}, {1, 1}, {0, 0}}},
    {"two open rings", {0, 3}, {{0, 0}, {1, 0}, {1, 1}, {5, 5}, {6, 5}, {6, 6}}, 2,
     {{0, 0}, {1, 0}, {0, 0}, {5, 5}, {6, 5}, {5, 5}}},
    // The second ring would end past the vertices: counting and closing stop before it.
    {"end past the vertices", {0, 3, 40}, {{0, 0}, {1, 0}, {1, 1}, {5, 5}, {6, 5}, {6, 6}}, 1,
     {{0, 0}, {1, 0}, {0, 0}, {5, 5}, {6, 5}, {6, 6}}},
    {"start at the vertex count: the rings before it count", {0, 3, 6},
     {{0, 0}, {1, 0}, {1, 1}, {5, 5}, {6, 5}, {6, 6}}, 2, {{0, 0}, {1, 0}, {0, 0}, {5, 5}, {6, 5}, {5, 5}}},
    {"negative first start", {-1, 3}, {{0, 0}, {1, 0}, {1, 1}, {5, 5}, {6, 5}, {6, 6}}, 0,
     {{0, 0}, {1, 0}, {1, 1}, {5, 5}, {6, 5}, {6, 6}}},
    {"huge start", {0, 2147483647}, {{0, 0}, {1, 0}, {1, 1}}, 0, {{0, 0}, {1, 0}, {1, 1}}},
    // A part without vertices must not overwrite the last vertex of the ring before it.
    {"empty part in the middle", {0, 3, 3}, {{0, 0}, {1, 0}, {0, 0}, {5, 5}, {6, 5}, {6, 6}}, 1,
     {{0, 0}, {1, 0}, {0, 0}, {5, 5}, {6, 5}, {5, 5}}},
    {"decreasing starts", {0, 4, 2}, {{0, 0}, {1, 0}, {1, 1}, {0, 0}, {7, 7}, {8, 8}}, 1,
     {{0, 0}, {1, 0}, {1, 1}, {0, 0}, {7, 7}, {1, 1}}},
    {"single-vertex ring", {0}, {{3, 4}}, 0, {{3, 4}}},
};

TEST(GeoCloseRings, FixAndCount) {
  for (const CloseCase& c : kCloseCases) {
    SCOPED_TRACE(c.name);
    GeoPtr g = MakeRaw(5, c.starts, c.before);
    EXPECT_EQ(MapGis::CheckUnclosedRing(g.get(), 0.0), c.unclosed);
    MapGis::FixUnclosedRing(g.get());
    ExpectVertices(g.get(), c.after);
    EXPECT_EQ(g->vertexCount, static_cast<std::int32_t>(c.before.size()));
    // Every vertex is whole: x, y, z and m all come from one vertex of the input.
    for (std::size_t i = 0; i < c.after.size(); ++i) {
      const double from = g->z[i] - 100.0;
      ASSERT_EQ(g->m[i] - 200.0, from) << "vertex " << i;
      ASSERT_GE(from, 0.0);
      ASSERT_LT(from, static_cast<double>(c.before.size()));
      const P& source = c.before[static_cast<std::size_t>(from)];
      EXPECT_EQ(g->x[i], source.x) << "vertex " << i;
      EXPECT_EQ(g->y[i], source.y) << "vertex " << i;
    }
  }
}

TEST(GeoCloseRings, WithoutZAndM) {
  GeoPtr g = MakeRaw(5, {0}, {{0, 0}, {1, 0}, {1, 1}}, /*withZM=*/false);
  MapGis::FixUnclosedRing(g.get());
  ExpectVertices(g.get(), {{0, 0}, {1, 0}, {0, 0}});
}

struct ToleranceCase {
  double dx;
  double dy;
  double tolerance;
  std::int32_t unclosed;
};

const ToleranceCase kToleranceCases[] = {
    {0.0, 0.0, 0.0, 0},   {0.5, 0.0, 0.0, 1},   {0.5, 0.0, 0.5, 0},   {0.5, 0.0, 0.4, 1},
    {0.0, 0.5, 0.4, 1},   {-0.5, 0.0, 0.4, 1},  {0.0, -0.5, 0.5, 0},  {0.25, 0.25, 0.25, 0},
    {0.0, 0.0, -1.0, 1},  // a negative tolerance counts every ring
};

TEST(GeoCloseRings, Tolerance) {
  for (const ToleranceCase& c : kToleranceCases) {
    SCOPED_TRACE(testing::Message() << "dx " << c.dx << " dy " << c.dy << " tolerance " << c.tolerance);
    GeoPtr g = MakeRaw(5, {0}, {{1, 1}, {3, 1}, {3, 3}, {1 + c.dx, 1 + c.dy}});
    EXPECT_EQ(MapGis::CheckUnclosedRing(g.get(), c.tolerance), c.unclosed);
  }
}

// ---------------------------------------------------------------------------------------------
// Scaling and offset.
// ---------------------------------------------------------------------------------------------

struct TransformCase {
  const char* name;
  bool offset;        // OffsetGeometry with (dx, dy, scale), else ReScaleGeometry(scale)
  double dx, dy, scale;
  P in;
  P out;
  double xMin, yMin, xMax, yMax;  // box after the transform (box before: (1,1)-(3,5))
};

const TransformCase kTransformCases[] = {
    {"rescale by 1000", false, 0, 0, 1000, {1, 1}, {1000, 1000}, 1000, 1000, 3000, 5000},
    {"rescale by -1 keeps the box ordered", false, 0, 0, -1, {1, 1}, {-1, -1}, -3, -5, -1, -1},
    {"offset (10, 20, 2)", true, 10, 20, 2, {1, 1}, {12, 22}, 12, 22, 16, 30},
    {"offset with scale 1 is a shift", true, -1, 0.5, 1, {1, 1}, {0, 1.5}, 0, 1.5, 2, 5.5},
    {"offset with a negative scale keeps the box ordered", true, 10, 0, -2, {1, 1}, {8, -2}, 4, -10, 8, -2},
};

TEST(GeoTransform, VerticesAndBox) {
  for (const TransformCase& c : kTransformCases) {
    SCOPED_TRACE(c.name);
    GeoPtr g = MakeRaw(3, {0}, {{1, 1}, {3, 5}});
    if (c.offset) {
      MapGis::OffsetGeometry(g.get(), MapGis::D_3DOT{c.dx, c.dy, c.scale});
    } else {
      MapGis::ReScaleGeometry(g.get(), c.scale);
    }
    EXPECT_DOUBLE_EQ(g->x[0], c.out.x);
    EXPECT_DOUBLE_EQ(g->y[0], c.out.y);
    EXPECT_DOUBLE_EQ(g->xMin, c.xMin);
    EXPECT_DOUBLE_EQ(g->yMin, c.yMin);
    EXPECT_DOUBLE_EQ(g->xMax, c.xMax);
    EXPECT_DOUBLE_EQ(g->yMax, c.yMax);
    // z, m and their bounds are not touched.
    EXPECT_EQ(g->z[0], 100.0);
    EXPECT_EQ(g->m[1], 201.0);
    EXPECT_EQ(g->zMin, MapGis::kBoundMin);
    EXPECT_EQ(g->mMax, MapGis::kBoundMax);
  }
}

TEST(GeoTransform, EmptyBoxKeepsItsSentinels) {
  for (double scale : {1000.0, -1.0}) {
    GeoPtr g(MapGis::CreateGeometry());
    MapGis::ReScaleGeometry(g.get(), scale);
    MapGis::OffsetGeometry(g.get(), MapGis::D_3DOT{5, 5, scale});
    EXPECT_EQ(g->xMin, MapGis::kBoundMin);
    EXPECT_EQ(g->yMin, MapGis::kBoundMin);
    EXPECT_EQ(g->xMax, MapGis::kBoundMax);
    EXPECT_EQ(g->yMax, MapGis::kBoundMax);
  }
}

// ---------------------------------------------------------------------------------------------
// Self-intersection and short segments.
// ---------------------------------------------------------------------------------------------

struct IntersectCase {
  const char* name;
  std::vector<Ring> parts;
  bool intersects;
};

const IntersectCase kIntersectCases[] = {
    {"closed square", {kUnitCcw}, false},
    {"closed triangle", {{{0, 0}, {4, 0}, {2, 3}, {0, 0}}}, false},
    {"open path", {{{0, 0}, {1, 0}, {1, 1}, {0, 1}}}, false},
    {"bow tie", {{{0, 0}, {2, 2}, {2, 0}, {0, 2}, {0, 0}}}, true},
    {"open line crossing itself", {{{0, 0}, {4, 0}, {4, 2}, {2, 2}, {2, -1}}}, true},
    {"vertex touching a far segment", {{{0, 0}, {4, 0}, {4, 2}, {2, 0.0}}}, true},
    {"ring pinched at a repeated vertex",
     {{{0, 0}, {2, 0}, {1, 1}, {2, 2}, {0, 2}, {1, 1}, {0, 0}}},
     true},
    {"repeated consecutive vertex is no crossing", {{{0, 0}, {1, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 1}, {0, 0}}}, false},
    {"closed ring repeating its start", {{{0, 0}, {0, 0}, {1, 0}, {1, 1}, {0, 0}, {0, 0}}}, false},
    {"straight line through collinear vertices", {{{0, 0}, {1, 0}, {2, 0}, {3, 0}}}, false},
    {"spike running back over the previous segment", {{{0, 0}, {2, 0}, {1, 0}}}, true},
    {"closed ring folded onto a line", {{{0, 0}, {1, 0}, {3, 0}, {0, 0}}}, true},
    {"collinear overlap of far segments", {{{0, 0}, {3, 0}, {3, 1}, {1, 1}, {1, 0}, {2, 0}}}, true},
    {"parts crossing each other are not self-crossing", {{{0, 0}, {2, 2}}, {{0, 2}, {2, 0}}}, false},
    {"second part crosses itself", {kUnitCcw, {{10, 0}, {12, 2}, {12, 0}, {10, 2}, {10, 0}}}, true},
    {"single segment", {{{0, 0}, {1, 1}}}, false},
    {"all vertices equal", {{{1, 1}, {1, 1}, {1, 1}}}, false},
};

TEST(GeoSelfIntersect, Table) {
  for (const IntersectCase& c : kIntersectCases) {
    SCOPED_TRACE(c.name);
    GeoPtr g = Make(5, c.parts);
    EXPECT_EQ(MapGis::CheckSelfIntersect(g.get()), c.intersects);
  }
}

TEST(GeoSelfIntersect, MalformedPartStartsAreNotRead) {
  // The bow tie sits in part 0; part 1 claims vertices beyond the arrays.
  GeoPtr g = MakeRaw(5, {0, 3, 500}, {{0, 0}, {2, 2}, {2, 0}, {0, 2}, {0, 0}});
  EXPECT_FALSE(MapGis::CheckSelfIntersect(g.get()));  // 0..2 alone does not cross
  GeoPtr h = MakeRaw(5, {0, 500}, {{0, 0}, {2, 2}, {2, 0}, {0, 2}, {0, 0}});
  EXPECT_FALSE(MapGis::CheckSelfIntersect(h.get()));  // part 0 ends past the vertices
}

struct ShortCase {
  const char* name;
  std::vector<Ring> parts;
  double length;
  bool shortSegment;
};

const ShortCase kShortCases[] = {
    {"unit square, limit 1", {kUnitCcw}, 1.0, false},
    {"unit square, limit just above 1", {kUnitCcw}, 1.0001, true},
    {"limit 0", {kUnitCcw}, 0.0, false},
    {"negative limit", {kUnitCcw}, -1.0, false},
    {"not-a-number limit", {kUnitCcw}, kNaN, false},
    {"repeated vertex", {{{0, 0}, {5, 0}, {5, 0}, {5, 5}}}, 0.001, true},
    {"short segment in the second part", {kOuter10Cw, {{1, 1}, {1.05, 1}, {2, 2}, {1, 1}}}, 0.1, true},
    {"short jump between parts is no segment", {{{0, 0}, {5, 0}}, {{5.01, 0}, {10, 0}}}, 0.1, false},
    {"3-4-5 segment against 5", {{{0, 0}, {3, 4}}}, 5.0, false},
    {"3-4-5 segment against 5.000001", {{{0, 0}, {3, 4}}}, 5.000001, true},
};

TEST(GeoShortSegment, Table) {
  for (const ShortCase& c : kShortCases) {
    SCOPED_TRACE(c.name);
    GeoPtr g = Make(3, c.parts);
    EXPECT_EQ(MapGis::CheckShortSegment(g.get(), c.length), c.shortSegment);
  }
}

TEST(GeoShortSegment, PartsOutsideTheVerticesAreNotRead) {
  GeoPtr g = MakeRaw(3, {0, 2, 1000}, {{0, 0}, {5, 0}, {5, 0.01}, {9, 0}});
  // Part 1 would hold the 0.01 segment, but it ends past the vertices.
  EXPECT_FALSE(MapGis::CheckShortSegment(g.get(), 0.1));
  EXPECT_NEAR(MapGis::GetGeoLength(g.get()), 5.0, 1e-12);
}

}  // namespace
