// Measures, checks and repairs of a Geometry. Every loop stays inside the vertex range: a part
// whose start or end lies outside it is never read or written, and missing coordinate arrays
// count as no vertices. Nothing here allocates.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "vordex/conversions.h"

namespace MapGis {
namespace {

using Index = std::int64_t;  // wide enough that part arithmetic never overflows

// Vertices that can be read: none when the x or y array is missing.
Index ReadableVertices(const Geometry* g) {
  if (g == nullptr || g->x == nullptr || g->y == nullptr || g->vertexCount < 1) return 0;
  return g->vertexCount;
}

// Parts that can be looked up: none when the start array is missing.
std::int32_t ReadableParts(const Geometry* g) {
  if (g == nullptr || g->partStart == nullptr || g->partCount < 1) return 0;
  return g->partCount;
}

enum class PartState { Valid, Empty, Outside };

// The vertex range [s, e) of part p. Outside: the start or the end is not within the n readable
// vertices. Empty: both are, but the part holds no vertex (starts not increasing).
PartState PartRange(const Geometry* g, Index n, std::int32_t p, Index* s, Index* e) {
  *s = g->partStart[p];
  *e = (p + 1 < g->partCount) ? Index{g->partStart[p + 1]} : Index{g->vertexCount};
  if (*s < 0 || *s >= n || *e < 1 || *e > n) return PartState::Outside;
  if (*e <= *s) return PartState::Empty;
  return PartState::Valid;
}

// Calls visit(s, e) for every part that holds readable vertices, or once for all vertices when
// the geometry has vertices but no parts. Stops and returns true as soon as visit returns true.
template <typename Visit>
bool ForEachRun(const Geometry* g, Visit&& visit) {
  const Index n = ReadableVertices(g);
  if (n == 0) return false;
  const std::int32_t parts = ReadableParts(g);
  if (parts == 0) return visit(Index{0}, n);
  for (std::int32_t p = 0; p < parts; ++p) {
    Index s = 0, e = 0;
    if (PartRange(g, n, p, &s, &e) == PartState::Valid && visit(s, e)) return true;
  }
  return false;
}

double Distance(const Geometry* g, Index i, Index j) {
  const double dx = g->x[j] - g->x[i];
  const double dy = g->y[j] - g->y[i];
  return std::sqrt(dx * dx + dy * dy);
}

// Sum of the segment lengths from vertex s to vertex e - 1.
double RunLength(const Geometry* g, Index s, Index e) {
  double total = 0.0;
  for (Index i = s; i + 1 < e; ++i) total += Distance(g, i, i + 1);
  return total;
}

// Twice the signed area of the ring s..e-1, closed implicitly. Coordinates are taken relative to
// the ring's first vertex, which gives the same value as the plain formula without the
// cancellation that large map coordinates cause.
double RingCross(const Geometry* g, Index s, Index e) {
  const double ox = g->x[s];
  const double oy = g->y[s];
  double sum = 0.0;
  for (Index i = s; i < e; ++i) {
    const Index j = (i + 1 == e) ? s : i + 1;
    sum += (g->x[i] - ox) * (g->y[j] - oy) - (g->x[j] - ox) * (g->y[i] - oy);
  }
  return sum;
}

// Reverses the vertex order of s..e-1; every vertex keeps its z and m.
void ReverseRun(Geometry* g, Index s, Index e) {
  for (Index i = s, j = e - 1; i < j; ++i, --j) {
    std::swap(g->x[i], g->x[j]);
    std::swap(g->y[i], g->y[j]);
    if (g->z != nullptr) std::swap(g->z[i], g->z[j]);
    if (g->m != nullptr) std::swap(g->m[i], g->m[j]);
  }
}

// Orientation rule: the first ring clockwise (area < 0), later rings counter-clockwise.
bool BreaksRingOrder(std::int32_t part, double cross) { return part == 0 ? cross > 0.0 : cross < 0.0; }

// Maps the range [lo, hi] through v * scale + shift, keeping lo <= hi. An empty range (lo > hi,
// or not a number) is left as it is.
void TransformRange(double* lo, double* hi, double scale, double shift) {
  if (!(*lo <= *hi)) return;
  double a = *lo * scale + shift;
  double b = *hi * scale + shift;
  if (scale < 0.0) std::swap(a, b);
  *lo = a;
  *hi = b;
}

// --- self-intersection -----------------------------------------------------------------------

struct Pt {
  double x;
  double y;
};

Pt At(const Geometry* g, Index i) { return {g->x[i], g->y[i]}; }

bool SamePoint(const Geometry* g, Index i, Index j) { return g->x[i] == g->x[j] && g->y[i] == g->y[j]; }

// Segment i joins vertex i and vertex i + 1; a repeated vertex gives a segment of length 0.
bool ZeroSegment(const Geometry* g, Index i) { return SamePoint(g, i, i + 1); }

int Orientation(Pt a, Pt b, Pt c) {
  const double v = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
  return (v > 0.0) - (v < 0.0);
}

// c is known to lie on the line through a and b: is it on the segment?
bool WithinBox(Pt a, Pt b, Pt c) {
  return std::min(a.x, b.x) <= c.x && c.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= c.y &&
         c.y <= std::max(a.y, b.y);
}

// Do the closed segments ab and cd share at least one point?
bool SegmentsMeet(Pt a, Pt b, Pt c, Pt d) {
  if (std::max(a.x, b.x) < std::min(c.x, d.x) || std::max(c.x, d.x) < std::min(a.x, b.x) ||
      std::max(a.y, b.y) < std::min(c.y, d.y) || std::max(c.y, d.y) < std::min(a.y, b.y)) {
    return false;
  }
  const int o1 = Orientation(a, b, c);
  const int o2 = Orientation(a, b, d);
  const int o3 = Orientation(c, d, a);
  const int o4 = Orientation(c, d, b);
  if (o1 != o2 && o3 != o4) return true;
  return (o1 == 0 && WithinBox(a, b, c)) || (o2 == 0 && WithinBox(a, b, d)) || (o3 == 0 && WithinBox(c, d, a)) ||
         (o4 == 0 && WithinBox(c, d, b));
}

// Two segments that share an end point overlap beyond it only when the second runs back along
// the first: parallel and pointing the other way.
bool RunsBack(const Geometry* g, Index i, Index j) {
  const double ux = g->x[i + 1] - g->x[i];
  const double uy = g->y[i + 1] - g->y[i];
  const double vx = g->x[j + 1] - g->x[j];
  const double vy = g->y[j + 1] - g->y[j];
  return ux * vy - uy * vx == 0.0 && ux * vx + uy * vy < 0.0;
}

bool RunSelfIntersects(const Geometry* g, Index s, Index e) {
  Index first = -1;
  Index last = -1;
  for (Index i = s; i + 1 < e; ++i) {
    if (ZeroSegment(g, i)) continue;
    if (first < 0) first = i;
    last = i;
  }
  if (first < 0) return false;
  // In a closed part the last segment ends where the first begins.
  const bool closed = SamePoint(g, s, e - 1);
  for (Index i = first; i <= last; ++i) {
    if (ZeroSegment(g, i)) continue;
    bool following = true;  // the next segment of non-zero length shares vertex i + 1
    for (Index j = i + 1; j <= last; ++j) {
      if (ZeroSegment(g, j)) continue;
      if (following) {
        following = false;
        if (RunsBack(g, i, j)) return true;
      } else if (closed && i == first && j == last) {
        if (RunsBack(g, j, i)) return true;
      } else if (SegmentsMeet(At(g, i), At(g, i + 1), At(g, j), At(g, j + 1))) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

double GetGeoLength(const Geometry* g) {
  double total = 0.0;
  ForEachRun(g, [&](Index s, Index e) {
    total += RunLength(g, s, e);
    return false;
  });
  return total;
}

double GetGeoPerimeter(const Geometry* g) {
  if (ReadableParts(g) == 0) return 0.0;
  return GetGeoLength(g);
}

double GetGeoArea(const Geometry* g) {
  double cross = 0.0;
  ForEachRun(g, [&](Index s, Index e) {
    cross += RingCross(g, s, e);
    return false;
  });
  return 0.5 * cross;
}

Vec2d GetGeoCentroid(const Geometry* g) {
  if (ReadableVertices(g) == 0) return Vec2d(0.0, 0.0);

  // One origin for all rings (the first readable vertex) so that their moments add up.
  bool haveOrigin = false;
  double ox = 0.0, oy = 0.0;
  double cross = 0.0, magnitude = 0.0, mx = 0.0, my = 0.0;
  ForEachRun(g, [&](Index s, Index e) {
    if (!haveOrigin) {
      ox = g->x[s];
      oy = g->y[s];
      haveOrigin = true;
    }
    for (Index i = s; i < e; ++i) {
      const Index j = (i + 1 == e) ? s : i + 1;
      const double xi = g->x[i] - ox, yi = g->y[i] - oy;
      const double xj = g->x[j] - ox, yj = g->y[j] - oy;
      const double c = xi * yj - xj * yi;
      cross += c;
      magnitude += std::fabs(xi * yj) + std::fabs(xj * yi);
      mx += (xi + xj) * c;
      my += (yi + yj) * c;
    }
    return false;
  });
  if (!haveOrigin) return Vec2d(0.0, 0.0);

  // An area that is zero, or no more than rounding noise of the products it sums, has no area
  // centroid: fall back to the centroid of the ring edges, then of the vertices.
  if (std::fabs(cross) > 1e-12 * magnitude) return Vec2d(ox + mx / (3.0 * cross), oy + my / (3.0 * cross));

  double length = 0.0, lx = 0.0, ly = 0.0, vx = 0.0, vy = 0.0;
  Index vertices = 0;
  ForEachRun(g, [&](Index s, Index e) {
    for (Index i = s; i < e; ++i) {
      const Index j = (i + 1 == e) ? s : i + 1;
      const double d = Distance(g, i, j);
      length += d;
      lx += d * 0.5 * ((g->x[i] - ox) + (g->x[j] - ox));
      ly += d * 0.5 * ((g->y[i] - oy) + (g->y[j] - oy));
      vx += g->x[i] - ox;
      vy += g->y[i] - oy;
      ++vertices;
    }
    return false;
  });
  if (length > 0.0) return Vec2d(ox + lx / length, oy + ly / length);
  return Vec2d(ox + vx / static_cast<double>(vertices), oy + vy / static_cast<double>(vertices));
}

void ReScaleGeometry(Geometry* g, double factor) {
  if (g == nullptr) return;
  const Index n = ReadableVertices(g);
  for (Index i = 0; i < n; ++i) {
    g->x[i] *= factor;
    g->y[i] *= factor;
  }
  TransformRange(&g->xMin, &g->xMax, factor, 0.0);
  TransformRange(&g->yMin, &g->yMax, factor, 0.0);
}

void OffsetGeometry(Geometry* g, D_3DOT offset) {
  if (g == nullptr) return;
  const Index n = ReadableVertices(g);
  for (Index i = 0; i < n; ++i) {
    g->x[i] = g->x[i] * offset.z + offset.x;
    g->y[i] = g->y[i] * offset.z + offset.y;
  }
  TransformRange(&g->xMin, &g->xMax, offset.z, offset.x);
  TransformRange(&g->yMin, &g->yMax, offset.z, offset.y);
}

void FixGeoTopo(Geometry* g) {
  const Index n = ReadableVertices(g);
  const std::int32_t parts = ReadableParts(g);
  for (std::int32_t p = 0; p < parts; ++p) {
    Index s = 0, e = 0;
    if (PartRange(g, n, p, &s, &e) != PartState::Valid) continue;
    if (BreaksRingOrder(p, RingCross(g, s, e))) ReverseRun(g, s, e);
  }
}

void FixUnclosedRing(Geometry* g) {
  const Index n = ReadableVertices(g);
  const std::int32_t parts = ReadableParts(g);
  for (std::int32_t p = 0; p < parts; ++p) {
    Index s = 0, e = 0;
    const PartState state = PartRange(g, n, p, &s, &e);
    if (state == PartState::Outside) return;
    // A part without vertices has no last vertex of its own; e - 1 would belong to another ring.
    if (state == PartState::Empty) continue;
    const Index last = e - 1;
    g->x[last] = g->x[s];
    g->y[last] = g->y[s];
    if (g->z != nullptr) g->z[last] = g->z[s];
    if (g->m != nullptr) g->m[last] = g->m[s];
  }
}

bool CheckEmptyGeo(const Geometry* g) {
  return g == nullptr || g->shapeType == 0 || g->vertexCount < 1 || g->partCount < 1;
}

bool CheckEmptyParts(const Geometry* g) {
  if (g == nullptr || g->partCount < 1) return false;
  if (g->partStart == nullptr) return true;  // parts without any start hold no vertex
  const Index n = ReadableVertices(g);
  for (std::int32_t p = 0; p < g->partCount; ++p) {
    const Index s = std::clamp<Index>(g->partStart[p], 0, n);
    const Index e = std::clamp<Index>((p + 1 < g->partCount) ? g->partStart[p + 1] : g->vertexCount, 0, n);
    if (e - s < 1) return true;
  }
  return false;
}

bool CheckUnRingOrder(const Geometry* g) {
  const Index n = ReadableVertices(g);
  const std::int32_t parts = ReadableParts(g);
  for (std::int32_t p = 0; p < parts; ++p) {
    Index s = 0, e = 0;
    if (PartRange(g, n, p, &s, &e) != PartState::Valid) continue;
    if (BreaksRingOrder(p, RingCross(g, s, e))) return true;
  }
  return false;
}

std::int32_t CheckUnclosedRing(const Geometry* g, double tolerance) {
  const Index n = ReadableVertices(g);
  const std::int32_t parts = ReadableParts(g);
  std::int32_t count = 0;
  for (std::int32_t p = 0; p < parts; ++p) {
    Index s = 0, e = 0;
    const PartState state = PartRange(g, n, p, &s, &e);
    if (state == PartState::Outside) return count;
    if (state == PartState::Empty) continue;
    const Index last = e - 1;
    if (std::fabs(g->x[s] - g->x[last]) > tolerance || std::fabs(g->y[s] - g->y[last]) > tolerance) ++count;
  }
  return count;
}

bool CheckSelfIntersect(const Geometry* g) {
  return ForEachRun(g, [&](Index s, Index e) { return RunSelfIntersects(g, s, e); });
}

bool CheckShortSegment(const Geometry* g, double length) {
  if (!(length > 0.0)) return false;  // no distance is shorter than 0 (or than not-a-number)
  return ForEachRun(g, [&](Index s, Index e) {
    for (Index i = s; i + 1 < e; ++i) {
      if (Distance(g, i, i + 1) < length) return true;
    }
    return false;
  });
}

}  // namespace MapGis
