#pragma once

// Geometry checks and repairs of the outputs: lines of zero length (every vertex the same point),
// which GIS tools call invalid but which are kept as stored and only counted, and regions made
// valid with GEOS when the user asks for it.

#include <cstdint>

#include "vordex/geometry.h"

namespace Kvx {

// True for a line with at least one vertex whose vertices are all the same point.
bool IsZeroLengthLine(const MapGis::Geometry& geometry);

enum class RegionRepair {
  Valid,     // already valid (or nothing to check): left as it is
  Repaired,  // made valid; the geometry now holds the valid rings
  Failed,    // invalid, and GEOS gave no polygon for it: left as stored
};

// Makes regions valid with GEOS (GEOSMakeValid). One object serves one conversion; it owns its
// GEOS context.
class RegionRepairer {
 public:
  RegionRepairer();
  ~RegionRepairer();
  RegionRepairer(const RegionRepairer&) = delete;
  RegionRepairer& operator=(const RegionRepairer&) = delete;

  // Checks the polygon `geometry` (first ring the outer one, every further ring a hole) and, when
  // it is invalid, replaces its rings by those of the valid polygons GEOS makes of it: outer rings
  // clockwise, holes counter-clockwise, each closed.
  RegionRepair Repair(MapGis::Geometry* geometry);

 private:
  void* context_;
};

}  // namespace Kvx
