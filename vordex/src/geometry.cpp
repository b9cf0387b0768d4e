#include "vordex/geometry.h"

#include <cstdlib>
#include <new>

float& Vec2f::operator[](std::int16_t i) {
  if (i != 0 && i != 1) throw 0;
  return v[i];
}
const float& Vec2f::operator[](std::int16_t i) const {
  if (i != 0 && i != 1) throw 0;
  return v[i];
}
double& Vec2d::operator[](std::int16_t i) {
  if (i != 0 && i != 1) throw 0;
  return v[i];
}
const double& Vec2d::operator[](std::int16_t i) const {
  if (i != 0 && i != 1) throw 0;
  return v[i];
}

namespace MapGis {

Geometry::Geometry()
    : shapeType(0),
      shapeId(-1),
      partCount(0),
      partStart(nullptr),
      partType(nullptr),
      vertexCount(0),
      x(nullptr),
      y(nullptr),
      z(nullptr),
      m(nullptr),
      xMin(kBoundMin),
      yMin(kBoundMin),
      zMin(kBoundMin),
      mMin(kBoundMin),
      xMax(kBoundMax),
      yMax(kBoundMax),
      zMax(kBoundMax),
      mMax(kBoundMax),
      measureIsUsed(0),
      fastModeReadObject(0) {}

Geometry* CreateGeometry() { return new (std::nothrow) Geometry(); }

void EmptyGeometry(Geometry* g) {
  if (!g) return;
  g->shapeType = 0;
  g->shapeId = -1;
  g->partCount = 0;
  g->vertexCount = 0;
  std::free(g->partStart);
  std::free(g->partType);
  std::free(g->x);
  std::free(g->y);
  std::free(g->z);
  std::free(g->m);
  g->partStart = g->partType = nullptr;
  g->x = g->y = g->z = g->m = nullptr;
  g->xMin = g->yMin = g->zMin = g->mMin = kBoundMin;
  g->xMax = g->yMax = g->zMax = g->mMax = kBoundMax;
}

void DestroyGeometry(Geometry* g) {
  if (!g) return;
  EmptyGeometry(g);
  delete g;
}

}  // namespace MapGis
