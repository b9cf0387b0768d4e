#include "engine/geometry_repair.h"

#include <geos_c.h>

#include <cstdlib>
#include <limits>
#include <vector>

namespace Kvx {

bool IsZeroLengthLine(const MapGis::Geometry& g) {
  if (g.vertexCount < 1 || !g.x || !g.y) return false;
  for (std::int32_t i = 1; i < g.vertexCount; ++i)
    if (g.x[i] != g.x[0] || g.y[i] != g.y[0]) return false;
  return true;
}

namespace {

struct Ring {
  std::vector<double> x, y;
};

// The closed ring of vertices [s, e), or an empty ring when it has fewer than three points.
GEOSGeometry* RingOf(GEOSContextHandle_t h, const MapGis::Geometry& g, std::int32_t s, std::int32_t e) {
  const std::int32_t n = e - s;
  if (n < 1) return nullptr;
  const bool closed = g.x[s] == g.x[e - 1] && g.y[s] == g.y[e - 1];
  const std::uint32_t size = static_cast<std::uint32_t>(n + (closed ? 0 : 1));
  // A ring needs four points; shorter ones are padded with their first point, which GEOS then
  // reports as invalid and collapses.
  const std::uint32_t stored = size < 4 ? 4 : size;
  GEOSCoordSequence* seq = GEOSCoordSeq_create_r(h, stored, 2);
  if (!seq) return nullptr;
  for (std::uint32_t i = 0; i < stored; ++i) {
    const std::int32_t v = i < static_cast<std::uint32_t>(n) ? s + static_cast<std::int32_t>(i) : s;
    GEOSCoordSeq_setXY_r(h, seq, i, g.x[v], g.y[v]);
  }
  return GEOSGeom_createLinearRing_r(h, seq);
}

GEOSGeometry* PolygonOf(GEOSContextHandle_t h, const MapGis::Geometry& g) {
  std::vector<GEOSGeometry*> rings;
  for (std::int32_t p = 0; p < g.partCount; ++p) {
    const std::int32_t s = g.partStart[p];
    const std::int32_t e = p + 1 < g.partCount ? g.partStart[p + 1] : g.vertexCount;
    if (s < 0 || e > g.vertexCount || s >= e) continue;
    GEOSGeometry* ring = RingOf(h, g, s, e);
    if (!ring) {
      for (GEOSGeometry* r : rings) GEOSGeom_destroy_r(h, r);
      return nullptr;
    }
    rings.push_back(ring);
  }
  if (rings.empty()) return nullptr;
  std::vector<GEOSGeometry*> holes(rings.begin() + 1, rings.end());
  return GEOSGeom_createPolygon_r(h, rings[0], holes.data(), static_cast<unsigned>(holes.size()));
}

void AddRing(GEOSContextHandle_t h, const GEOSGeometry* ring, std::vector<Ring>* out) {
  const GEOSCoordSequence* seq = GEOSGeom_getCoordSeq_r(h, ring);
  unsigned size = 0;
  if (!seq || !GEOSCoordSeq_getSize_r(h, seq, &size) || size == 0) return;
  Ring r;
  r.x.resize(size);
  r.y.resize(size);
  for (unsigned i = 0; i < size; ++i) GEOSCoordSeq_getXY_r(h, seq, i, &r.x[i], &r.y[i]);
  out->push_back(std::move(r));
}

// The rings of every polygon in `geom` (a polygon, a multipolygon or a collection), in order.
void CollectRings(GEOSContextHandle_t h, const GEOSGeometry* geom, std::vector<Ring>* out) {
  const int type = GEOSGeomTypeId_r(h, geom);
  if (type == GEOS_POLYGON) {
    if (GEOSisEmpty_r(h, geom) == 1) return;
    AddRing(h, GEOSGetExteriorRing_r(h, geom), out);
    const int holes = GEOSGetNumInteriorRings_r(h, geom);
    for (int i = 0; i < holes; ++i) AddRing(h, GEOSGetInteriorRingN_r(h, geom, i), out);
  } else if (type == GEOS_MULTIPOLYGON || type == GEOS_GEOMETRYCOLLECTION) {
    const int n = GEOSGetNumGeometries_r(h, geom);
    for (int i = 0; i < n; ++i) CollectRings(h, GEOSGetGeometryN_r(h, geom, i), out);
  }
}

// Puts `rings` into the geometry in place of its own; the bounds follow the new vertices.
bool Replace(MapGis::Geometry* g, const std::vector<Ring>& rings) {
  std::size_t total = 0;
  for (const Ring& r : rings) total += r.x.size();
  if (total == 0 || total > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return false;
  auto* starts = static_cast<std::int32_t*>(std::calloc(rings.size(), sizeof(std::int32_t)));
  auto* types = static_cast<std::int32_t*>(std::calloc(rings.size(), sizeof(std::int32_t)));
  double* arrays[4] = {};
  bool ok = starts && types;
  for (double*& a : arrays) {
    a = static_cast<double*>(std::calloc(total, sizeof(double)));
    ok = ok && a;
  }
  if (!ok) {
    std::free(starts);
    std::free(types);
    for (double* a : arrays) std::free(a);
    return false;
  }
  std::size_t at = 0;
  double xMin = std::numeric_limits<double>::max(), yMin = xMin, xMax = -xMin, yMax = -xMin;
  for (std::size_t p = 0; p < rings.size(); ++p) {
    starts[p] = static_cast<std::int32_t>(at);
    types[p] = p == 0 ? 5 : 3;
    for (std::size_t i = 0; i < rings[p].x.size(); ++i, ++at) {
      arrays[0][at] = rings[p].x[i];
      arrays[1][at] = rings[p].y[i];
      if (arrays[0][at] < xMin) xMin = arrays[0][at];
      if (arrays[0][at] > xMax) xMax = arrays[0][at];
      if (arrays[1][at] < yMin) yMin = arrays[1][at];
      if (arrays[1][at] > yMax) yMax = arrays[1][at];
    }
  }
  // The old arrays go the way the library frees them; the new ones take their place.
  const std::int32_t shapeType = g->shapeType;
  MapGis::EmptyGeometry(g);
  g->shapeType = shapeType;
  g->partStart = starts;
  g->partType = types;
  g->x = arrays[0];
  g->y = arrays[1];
  g->z = arrays[2];
  g->m = arrays[3];
  g->partCount = static_cast<std::int32_t>(rings.size());
  g->vertexCount = static_cast<std::int32_t>(total);
  g->xMin = xMin;
  g->yMin = yMin;
  g->xMax = xMax;
  g->yMax = yMax;
  return true;
}

}  // namespace

RegionRepairer::RegionRepairer() : context_(GEOS_init_r()) {}

RegionRepairer::~RegionRepairer() {
  if (context_) GEOS_finish_r(static_cast<GEOSContextHandle_t>(context_));
}

RegionRepair RegionRepairer::Repair(MapGis::Geometry* g) {
  auto h = static_cast<GEOSContextHandle_t>(context_);
  if (!h || !g || g->shapeType != 5 || g->partCount < 1 || g->vertexCount < 1 || !g->partStart || !g->x || !g->y)
    return RegionRepair::Valid;
  GEOSGeometry* polygon = PolygonOf(h, *g);
  if (!polygon) return RegionRepair::Failed;
  if (GEOSisValid_r(h, polygon) == 1) {
    GEOSGeom_destroy_r(h, polygon);
    return RegionRepair::Valid;
  }
  GEOSGeometry* valid = GEOSMakeValid_r(h, polygon);
  GEOSGeom_destroy_r(h, polygon);
  if (!valid) return RegionRepair::Failed;
  // Outer rings clockwise and holes counter-clockwise, as shapefiles store them.
  GEOSNormalize_r(h, valid);
  std::vector<Ring> rings;
  CollectRings(h, valid, &rings);
  GEOSGeom_destroy_r(h, valid);
  if (rings.empty() || !Replace(g, rings)) return RegionRepair::Failed;
  return RegionRepair::Repaired;
}

}  // namespace Kvx
