#pragma once

// Free helpers of Vordex: measures, checks and repairs of a Geometry, and the small stateless
// conversions of angles, units, colours and font names. None of them throws or keeps state.

#include <cstddef>
#include <cstdint>

#include "vordex/export.h"
#include "vordex/geometry.h"

namespace MapGis {

// ---------------------------------------------------------------------------------------------
// Geometry measures, checks and repairs.
//
// Part p covers the vertices from partStart[p] up to, not including, partStart[p + 1] (or
// vertexCount for the last part). A part whose range does not lie inside the vertex range, or that
// holds no vertex, is never read or written. A null geometry gives 0, false or no change.
// ---------------------------------------------------------------------------------------------

// Sum of the segment lengths inside each part (no jump between parts is counted). A geometry
// with vertices but no parts is measured as one run over all of its vertices.
VORDEX_API double GetGeoLength(const Geometry* g);

// Sum over the parts of the segment lengths from the part's first to its last vertex; no closing
// segment is added. No parts give 0.
VORDEX_API double GetGeoPerimeter(const Geometry* g);

// Signed area: the sum of the signed areas of the rings, each ring closed implicitly. Positive
// for counter-clockwise rings (y axis up). A geometry with vertices but no parts is one ring.
VORDEX_API double GetGeoArea(const Geometry* g);

// Area centroid of the rings. When the signed area is 0 (collinear or coincident vertices) the
// centroid of the ring edges is given instead, and for zero-length edges the mean of the
// vertices, so the result is finite for finite input. A null or empty geometry gives (0, 0).
VORDEX_API Vec2d GetGeoCentroid(const Geometry* g);

// Multiplies every x and y by `factor`, and the bounding box with them (kept ordered, min <= max,
// for a negative factor). An empty box (min > max, such as the fresh sentinels) is left alone.
VORDEX_API void ReScaleGeometry(Geometry* g, double factor);

// Maps every (x, y) to (x * offset.z + offset.x, y * offset.z + offset.y): offset.z is a scale
// applied before the shift. The bounding box follows as in ReScaleGeometry.
VORDEX_API void OffsetGeometry(Geometry* g, D_3DOT offset);

// Makes the first ring clockwise and every later ring counter-clockwise by reversing the rings
// that are the other way round. Rings of area 0 are left alone. Each vertex keeps its z and m.
VORDEX_API void FixGeoTopo(Geometry* g);

// Closes every ring by overwriting its last vertex (x, y, and z and m where present) with its
// first. Stops at the first part whose start or end lies outside the vertex range; skips parts
// without vertices.
VORDEX_API void FixUnclosedRing(Geometry* g);

// True for null, type 0, no vertices or no parts.
VORDEX_API bool CheckEmptyGeo(const Geometry* g);

// True when some part holds no vertex inside the vertex range. False for null or no parts.
VORDEX_API bool CheckEmptyParts(const Geometry* g);

// True when some ring breaks the orientation rule of FixGeoTopo (first ring of area > 0, or a
// later ring of area < 0). False for null or no parts.
VORDEX_API bool CheckUnRingOrder(const Geometry* g);

// Number of rings whose first and last vertices differ by more than `tolerance` in x or in y.
// Counting stops at the first part whose start or end lies outside the vertex range; parts
// without vertices are not counted. Null gives 0.
VORDEX_API std::int32_t CheckUnclosedRing(const Geometry* g, double tolerance);

// True when two non-adjacent segments of one part touch or cross, or two adjacent segments run
// back over each other. Repeated vertices (zero-length segments) are not intersections, and in a
// closed part the first and last segments count as adjacent. Null gives false.
VORDEX_API bool CheckSelfIntersect(const Geometry* g);

// True when some segment of some part is shorter than `length`. Null gives false.
VORDEX_API bool CheckShortSegment(const Geometry* g, double length);

// ---------------------------------------------------------------------------------------------
// Colour records.
// ---------------------------------------------------------------------------------------------

#pragma pack(push, 1)

// An RGB colour in the memory order blue, green, red.
struct RGBTRIPLE {
  std::uint8_t rgbtBlue;
  std::uint8_t rgbtGreen;
  std::uint8_t rgbtRed;
};

// An RGB colour in the memory order blue, green, red, reserved.
struct RGBQUAD {
  std::uint8_t rgbBlue;
  std::uint8_t rgbGreen;
  std::uint8_t rgbRed;
  std::uint8_t rgbReserved;
};

// Ink coverages 0 (none) to 255 (full) in the memory order black, cyan, magenta, yellow.
struct CMYKQUAD {
  std::uint8_t cmykBlack;
  std::uint8_t cmykCyan;
  std::uint8_t cmykMagenta;
  std::uint8_t cmykYellow;
};

inline constexpr int kColorInkAmounts = 28;  // inks a colour record can use
inline constexpr int kColorLibInkTable = 36;  // entries of the library's ink table

// One colour of a MapGIS colour library (32 bytes): a base colour and the amount 0..255 of each
// of the library's first 28 inks.
struct MAPGIS_Color {
  CMYKQUAD base;
  std::uint8_t inks[kColorInkAmounts];
};

// Head of a MapGIS colour library file (156 bytes).
struct COLORLIB_HEAD {
  char magic[8];                       // "PCOLOR 3"
  std::int16_t colorCount;
  std::int16_t inkCount;
  CMYKQUAD inkTable[kColorLibInkTable];
};

#pragma pack(pop)

static_assert(sizeof(RGBTRIPLE) == 3);
static_assert(sizeof(RGBQUAD) == 4);
static_assert(sizeof(CMYKQUAD) == 4);
static_assert(sizeof(MAPGIS_Color) == 32);
static_assert(sizeof(COLORLIB_HEAD) == 156);
static_assert(offsetof(COLORLIB_HEAD, colorCount) == 8);
static_assert(offsetof(COLORLIB_HEAD, inkCount) == 10);
static_assert(offsetof(COLORLIB_HEAD, inkTable) == 12);

// ---------------------------------------------------------------------------------------------
// Angles and units.
// ---------------------------------------------------------------------------------------------

// Packed degrees-minutes-seconds DDDMMSS.ss to decimal degrees (1173000 gives 117.5; the sign
// carries through: -1173000 gives -117.5).
VORDEX_API double DMS2Degree(double packed);

// MapGIS graphic angle to the arithmetic angle (counter-clockwise from east): 0 gives 90, 270
// gives 0, 360 gives 90. Inputs beyond +-360 are reduced first, negative ones turned positive.
VORDEX_API double Graphic2Arithmetic(double angle);

// Graphic angle to the geographic angle (clockwise from north): 360 minus the reduced angle, so
// 0 gives 360 and 360 gives 0.
VORDEX_API double Graphic2Geographic(double angle);

// Arithmetic angle to the geographic angle: 45 gives 45, 90 gives 0, 180 gives 270, and both 0
// and 360 give 90. Not-a-number stays not-a-number.
VORDEX_API double Arithmetic2Geographic(double angle);

// Size of one unit of a MapGIS unit code in metres (linear units) or radians (angular units);
// codes outside 0..16 give 1.0.
VORDEX_API double QueryUnitScale(std::int32_t unit);

// ---------------------------------------------------------------------------------------------
// Colour models.
// ---------------------------------------------------------------------------------------------

// K 0, C 255 - red, M 255 - green, Y 255 - blue, for every colour.
VORDEX_API CMYKQUAD RGB2CMYK(RGBTRIPLE rgb);
VORDEX_API CMYKQUAD RGBA2CMYK(RGBQUAD rgb);  // the reserved byte is ignored

// red = (255 - C) * (255 - K) / 255 and so on, integer division.
VORDEX_API RGBTRIPLE CMYK2RGB(CMYKQUAD cmyk);
VORDEX_API RGBQUAD CMYK2RGBA(CMYKQUAD cmyk);  // reserved byte 255

// The base colour of a library colour mixed with its inks: each component plus ink component *
// amount / 255 (integer division), saturating at 255, over the head's ink count (at most the 28
// inks a record can hold).
VORDEX_API CMYKQUAD MAPGISCLR2CMYK(MAPGIS_Color color, COLORLIB_HEAD head);

// The mixed colour of MAPGISCLR2CMYK turned into RGB with CMYK2RGB.
VORDEX_API RGBTRIPLE MAPGISCLR2RGB(MAPGIS_Color color, COLORLIB_HEAD head);

// ---------------------------------------------------------------------------------------------
// Font and font-style names, GBK text.
// ---------------------------------------------------------------------------------------------

// The longest name with its terminating zero fits in this many bytes.
inline constexpr std::size_t kFontNameBufferSize = 9;

// Writes the name of a MapGIS font number into `name` (at least kFontNameBufferSize bytes), zero
// terminated, and returns `index` unchanged. Unknown numbers give the name of font 2. A null
// buffer is not written.
VORDEX_API std::int32_t GetFontName(std::int32_t index, char* name);
// The same into a buffer of `size` bytes: a longer name is cut before the character that does
// not fit, and the text is always zero terminated when size > 0.
VORDEX_API std::int32_t GetFontName(std::int32_t index, char* name, std::size_t size);

// Writes the name of a MapGIS font-style code into `name` (at least kFontNameBufferSize bytes),
// zero terminated, and returns `index` unchanged. Unknown codes give the name of style 0.
VORDEX_API std::int32_t GetFontStyle(std::int32_t index, char* name);
VORDEX_API std::int32_t GetFontStyle(std::int32_t index, char* name, std::size_t size);

}  // namespace MapGis
