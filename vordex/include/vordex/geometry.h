#pragma once

// Records that mirror the stored MapGIS records byte for byte, and the geometry container that
// is handed to shapelib unchanged.

#include <cstddef>
#include <cstdint>

#include "vordex/export.h"

#pragma pack(push, 1)

// Two single-precision components. Index 0 and 1 select them; any other index throws int 0.
struct VORDEX_API Vec2f {
  float v[2];
  Vec2f(float a, float b) : v{a, b} {}
  float& operator[](std::int16_t i);
  const float& operator[](std::int16_t i) const;
};

// Two double-precision components, (0, 0) when default-constructed.
struct VORDEX_API Vec2d {
  double v[2];
  Vec2d() : v{0.0, 0.0} {}
  Vec2d(double a, double b) : v{a, b} {}
  double& operator[](std::int16_t i);
  const double& operator[](std::int16_t i) const;
};

namespace MapGis {

// One point or annotation (93 bytes). The parameter block starts at byte 31; its meaning
// depends on pointType (0 and 5 annotation text, 1 symbol).
struct MAPGIS_PntInfo {
  std::uint8_t flag;          // 1 = live
  std::int16_t textLength;    // < 1: no text
  std::int32_t textOffset;    // relative to the data area
  double x;
  double y;
  std::uint8_t reserved[8];
  std::uint8_t pointType;     // 0 annotation, 1 symbol, 5 annotation (second kind)
  std::int8_t transparent;
  union {
    std::int32_t symbolNo;    // type 1
    float textHeight;         // types 0 and 5
  };
  union {
    float height;             // type 1
    float textWidth;          // types 0 and 5
  };
  union {
    float width;              // type 1
    float spacing;            // types 0 and 5
  };
  float angle;
  std::int16_t chineseFont;
  std::int16_t westernFont;
  std::int8_t fontStyle;
  std::int8_t alignment;      // type 0
  std::uint8_t unused55[11];
  std::int8_t alignment5;     // type 5
  std::uint8_t unused67[8];
  std::int32_t color;
  std::uint8_t unused79[4];
  std::int16_t layer;
  std::uint8_t unused85[8];
};

// One line, also each arc of a region file (57 bytes).
struct MAPGIS_LineInfo {
  std::uint8_t flag;
  std::uint8_t unused1[9];
  std::int32_t pointCount;
  std::int32_t dataOffset;    // relative to the data area
  std::uint8_t unused18[4];
  std::int16_t lineType;
  std::int8_t auxType;
  std::int8_t transparent;
  std::int32_t color;
  float width;
  std::int8_t lineClass;
  float xScale;
  float yScale;
  std::int32_t auxColor;
  std::int16_t layer;
  std::uint8_t unused49[8];
};

// One region (40 bytes).
struct MAPGIS_RegInfo {
  std::uint8_t flag;
  std::int32_t arcListLength;  // words in the arc list, the vertex-total word included
  std::int32_t arcListOffset;  // relative to the data area
  std::int32_t fillColor;
  std::int16_t patternNo;
  float patternHeight;
  float patternWidth;
  std::int32_t patternColor;
  std::uint8_t unused27[2];
  std::int8_t transparent;
  std::int16_t layer;
  std::uint8_t unused32[8];
};

// One node of a network file (55 bytes).
struct MAPGIS_NetPntInfo {
  double x;
  double y;
  std::uint8_t unused16[8];
  std::uint8_t flag;
  std::uint8_t unused25[5];
  std::int32_t infoOffset;    // 94-byte parameter block, relative to the data area
  std::uint8_t unused34[21];
};

// Topology of one arc (24 bytes).
struct MAPGIS_Topology {
  std::int32_t value0;
  std::int32_t value1;
  std::int32_t leftRegion;
  std::int32_t rightRegion;
  std::int32_t value4;
  std::int32_t value5;
};

// One tic (control point), carried as stored (32 bytes).
struct MAPGIS_Tic_Info {
  std::uint8_t data[32];
};

// Head of a layer file (20 bytes).
struct MAPGIS_HEAD {
  char magic[8];
  std::uint16_t kind;
  std::int16_t reserved;
  std::int32_t partOffset;
  std::int32_t partCount;
};

// One entry of the section directory (10 bytes).
struct MAPGIS_Part {
  std::int32_t offset;
  std::int32_t length;
  std::int16_t tag;
};

// Element counts of a layer (44 bytes).
struct MAPGIS_Element {
  std::int32_t liveCount;
  std::int32_t slotCount;
  std::int32_t liveNodeCount;
  std::int32_t nodeSlotCount;
  std::int32_t liveRegionCount;
  std::int32_t regionSlotCount;
  std::int32_t reserved6;
  std::int32_t reserved7;
  std::int32_t reserved8;
  std::int32_t reserved9;
  std::int32_t reserved10;
};

// Coordinate system and projection parameters (169 bytes).
struct MAP_PARAstruct {
  std::int8_t coordKind;           // 0 plane, 1 geographic, 3 projected, ...
  std::int8_t unit;                // 0 to 16
  std::uint8_t unused2[16];
  std::int8_t projType;            // 0 to 20
  std::int8_t ellipsoid;           // 0 to 14
  std::uint8_t unused20[32];
  double scale;                    // stored units -> ground units
  double centralMeridian;          // packed DMS
  std::uint8_t unused68[16];
  double originLatitude;           // packed DMS
  double standardParallel1;        // packed DMS
  double standardParallel2;        // packed DMS
  std::uint8_t unused108[17];
  double height;
  std::uint8_t unused133[8];
  double factor141;                // 1.0 in a new record
  std::uint8_t unused149[4];
  double factor153;                // 1.0 in a new record
  double factor161;                // 1.0 in a new record
};

// Head of an attribute structure (348 bytes).
struct MAPGIS_FieldHead {
  std::uint8_t signature[6];       // 60 44 DC 07 05 16 in new files
  std::uint8_t unused6[6];
  std::int32_t recordsOffset;      // record 0, relative to the area start
  std::uint8_t reserved16[24];
  std::uint8_t unused40[280];
  std::uint16_t headTag;           // 17504 in new files
  std::int16_t fieldCount;
  std::int32_t recordCount;        // placeholder record 0 included
  std::int32_t recordLength;
  std::uint8_t unused332[16];
};

// One field definition (39 bytes).
struct MAPGIS_Field {
  char name[20];                   // NUL-padded; the first blank-separated word counts
  std::int8_t type;                // field type code
  std::int32_t offset;             // of the value within a record
  std::int16_t size;               // bytes of the value
  std::int16_t width;              // display width
  std::int8_t decimals;
  std::uint8_t flag30;             // 1 in new files
  std::uint16_t unused31;
  std::uint16_t ordinal;           // zero-based field position
  std::uint32_t unused35;
};

// A point belonging to a region (16 bytes).
struct MAPGIS_RegExt {
  double x;
  double y;
};

struct ATTINFO_HEAD {
  std::uint8_t data[32];
};

struct MAPGIS_Tic_Stru {
  std::uint8_t data[8];
};

struct DATE_STRUstruct {
  std::int16_t year;
  std::int8_t month;
  std::int8_t day;
};

struct TIME_STRUstruct {
  std::int8_t hour;
  std::int8_t minute;
  double second;
};

struct TIMESTAMPstruct {
  std::int16_t year;
  std::int16_t month;
  std::int16_t day;
  std::int16_t hour;
  std::int16_t minute;
  std::int16_t second;
  std::int32_t fraction;
};

struct Point2D {
  double x;
  double y;
};

// An offset handed to OffsetGeometry: x and y offsets, and a scale applied before them.
struct D_3DOT {
  double x;
  double y;
  double z;
};

struct LinearRing {
  std::int32_t pointCount;
  Point2D* points;
};

struct WKBPoint {
  std::uint8_t byteOrder;
  std::uint32_t wkbType;
  Point2D point;
};

struct WKBLineString {
  std::uint8_t byteOrder;
  std::uint32_t wkbType;
  std::uint32_t numPoints;
  Point2D* points;
};

struct WKBPolygon {
  std::uint8_t byteOrder;
  std::uint32_t wkbType;
  std::uint32_t numRings;
  LinearRing* rings;
};

}  // namespace MapGis

#pragma pack(pop)

namespace MapGis {

static_assert(sizeof(MAPGIS_PntInfo) == 93);
static_assert(offsetof(MAPGIS_PntInfo, textLength) == 1);
static_assert(offsetof(MAPGIS_PntInfo, textOffset) == 3);
static_assert(offsetof(MAPGIS_PntInfo, x) == 7);
static_assert(offsetof(MAPGIS_PntInfo, y) == 15);
static_assert(offsetof(MAPGIS_PntInfo, pointType) == 31);
static_assert(offsetof(MAPGIS_PntInfo, transparent) == 32);
static_assert(offsetof(MAPGIS_PntInfo, symbolNo) == 33);
static_assert(offsetof(MAPGIS_PntInfo, height) == 37);
static_assert(offsetof(MAPGIS_PntInfo, width) == 41);
static_assert(offsetof(MAPGIS_PntInfo, angle) == 45);
static_assert(offsetof(MAPGIS_PntInfo, chineseFont) == 49);
static_assert(offsetof(MAPGIS_PntInfo, westernFont) == 51);
static_assert(offsetof(MAPGIS_PntInfo, fontStyle) == 53);
static_assert(offsetof(MAPGIS_PntInfo, alignment) == 54);
static_assert(offsetof(MAPGIS_PntInfo, alignment5) == 66);
static_assert(offsetof(MAPGIS_PntInfo, color) == 75);
static_assert(offsetof(MAPGIS_PntInfo, layer) == 83);

static_assert(sizeof(MAPGIS_LineInfo) == 57);
static_assert(offsetof(MAPGIS_LineInfo, pointCount) == 10);
static_assert(offsetof(MAPGIS_LineInfo, dataOffset) == 14);
static_assert(offsetof(MAPGIS_LineInfo, lineType) == 22);
static_assert(offsetof(MAPGIS_LineInfo, auxType) == 24);
static_assert(offsetof(MAPGIS_LineInfo, transparent) == 25);
static_assert(offsetof(MAPGIS_LineInfo, color) == 26);
static_assert(offsetof(MAPGIS_LineInfo, width) == 30);
static_assert(offsetof(MAPGIS_LineInfo, lineClass) == 34);
static_assert(offsetof(MAPGIS_LineInfo, xScale) == 35);
static_assert(offsetof(MAPGIS_LineInfo, yScale) == 39);
static_assert(offsetof(MAPGIS_LineInfo, auxColor) == 43);
static_assert(offsetof(MAPGIS_LineInfo, layer) == 47);

static_assert(sizeof(MAPGIS_RegInfo) == 40);
static_assert(offsetof(MAPGIS_RegInfo, arcListLength) == 1);
static_assert(offsetof(MAPGIS_RegInfo, arcListOffset) == 5);
static_assert(offsetof(MAPGIS_RegInfo, fillColor) == 9);
static_assert(offsetof(MAPGIS_RegInfo, patternNo) == 13);
static_assert(offsetof(MAPGIS_RegInfo, patternHeight) == 15);
static_assert(offsetof(MAPGIS_RegInfo, patternWidth) == 19);
static_assert(offsetof(MAPGIS_RegInfo, patternColor) == 23);
static_assert(offsetof(MAPGIS_RegInfo, transparent) == 29);
static_assert(offsetof(MAPGIS_RegInfo, layer) == 30);

static_assert(sizeof(MAPGIS_NetPntInfo) == 55);
static_assert(offsetof(MAPGIS_NetPntInfo, flag) == 24);
static_assert(offsetof(MAPGIS_NetPntInfo, infoOffset) == 30);

static_assert(sizeof(MAPGIS_Topology) == 24);
static_assert(offsetof(MAPGIS_Topology, leftRegion) == 8);
static_assert(offsetof(MAPGIS_Topology, rightRegion) == 12);
static_assert(sizeof(MAPGIS_Tic_Info) == 32);
static_assert(sizeof(MAPGIS_HEAD) == 20);
static_assert(offsetof(MAPGIS_HEAD, kind) == 8);
static_assert(offsetof(MAPGIS_HEAD, partOffset) == 12);
static_assert(sizeof(MAPGIS_Part) == 10);
static_assert(sizeof(MAPGIS_Element) == 44);

static_assert(sizeof(MAP_PARAstruct) == 169);
static_assert(offsetof(MAP_PARAstruct, projType) == 18);
static_assert(offsetof(MAP_PARAstruct, ellipsoid) == 19);
static_assert(offsetof(MAP_PARAstruct, scale) == 52);
static_assert(offsetof(MAP_PARAstruct, centralMeridian) == 60);
static_assert(offsetof(MAP_PARAstruct, originLatitude) == 84);
static_assert(offsetof(MAP_PARAstruct, standardParallel1) == 92);
static_assert(offsetof(MAP_PARAstruct, standardParallel2) == 100);
static_assert(offsetof(MAP_PARAstruct, height) == 125);
static_assert(offsetof(MAP_PARAstruct, factor141) == 141);
static_assert(offsetof(MAP_PARAstruct, factor153) == 153);
static_assert(offsetof(MAP_PARAstruct, factor161) == 161);

static_assert(sizeof(MAPGIS_FieldHead) == 348);
static_assert(offsetof(MAPGIS_FieldHead, recordsOffset) == 12);
static_assert(offsetof(MAPGIS_FieldHead, headTag) == 320);
static_assert(offsetof(MAPGIS_FieldHead, fieldCount) == 322);
static_assert(offsetof(MAPGIS_FieldHead, recordCount) == 324);
static_assert(offsetof(MAPGIS_FieldHead, recordLength) == 328);

static_assert(sizeof(MAPGIS_Field) == 39);
static_assert(offsetof(MAPGIS_Field, type) == 20);
static_assert(offsetof(MAPGIS_Field, offset) == 21);
static_assert(offsetof(MAPGIS_Field, size) == 25);
static_assert(offsetof(MAPGIS_Field, width) == 27);
static_assert(offsetof(MAPGIS_Field, decimals) == 29);
static_assert(offsetof(MAPGIS_Field, ordinal) == 33);

static_assert(sizeof(MAPGIS_RegExt) == 16);
static_assert(sizeof(ATTINFO_HEAD) == 32);
static_assert(sizeof(MAPGIS_Tic_Stru) == 8);
static_assert(sizeof(DATE_STRUstruct) == 4);
static_assert(sizeof(TIME_STRUstruct) == 10);
static_assert(sizeof(TIMESTAMPstruct) == 16);
static_assert(sizeof(LinearRing) == 4 + sizeof(void*));
static_assert(sizeof(WKBPoint) == 21);
static_assert(sizeof(WKBLineString) == 9 + sizeof(void*));
static_assert(sizeof(WKBPolygon) == 9 + sizeof(void*));

// Bounds of a fresh geometry: 1.79769313486232e307 and its negative (not the largest double).
inline constexpr double kBoundMin = 1.79769313486232e307;
inline constexpr double kBoundMax = -1.79769313486232e307;

class Geometry;
VORDEX_API Geometry* CreateGeometry();
VORDEX_API void EmptyGeometry(Geometry* g);
VORDEX_API void DestroyGeometry(Geometry* g);

// One feature's geometry. The leading fields are laid out exactly as shapelib's SHPObject, so a
// Geometry* is passed to SHPWriteObject unchanged. The six arrays are owned by the object and
// come from the C heap (zero-filled). Assignment is shallow: both objects then share the arrays.
class VORDEX_API Geometry {
 public:
  std::int32_t shapeType;      // 0 empty, 1 point, 3 arc, 5 polygon
  std::int32_t shapeId;        // always -1
  std::int32_t partCount;
  std::int32_t* partStart;
  std::int32_t* partType;      // 5 first ring / arc part, 3 further rings
  std::int32_t vertexCount;
  double* x;
  double* y;
  double* z;
  double* m;
  double xMin, yMin, zMin, mMin;
  double xMax, yMax, zMax, mMax;
  // The two trailing members of SHPObject, kept 0 so that shapelib never reads past the object.
  std::int32_t measureIsUsed;
  std::int32_t fastModeReadObject;

  Geometry& operator=(const Geometry&) = default;
  Geometry(const Geometry&) = delete;

 private:
  Geometry();
  ~Geometry() = default;
  friend VORDEX_API Geometry* CreateGeometry();
  friend VORDEX_API void DestroyGeometry(Geometry* g);
};

// Owns one Geometry for the length of a scope.
struct GeometryDeleter {
  void operator()(Geometry* g) const { DestroyGeometry(g); }
};

}  // namespace MapGis
