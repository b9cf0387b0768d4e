// The PROJ half of reprojection, built as the module kvx_reprojection.so: PROJ and the libraries it
// brings (SQLite, libtiff, curl and theirs) load only for a run that reprojects or checks a
// coordinate system.

#include "projection/program_module.h"
#include "projection/reprojection.h"

#include <proj.h>
#include <proj_experimental.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

#include "projection/transform_cells.h"

namespace Kvx {

namespace {

struct ContextDeleter {
  void operator()(PJ_CONTEXT* c) const { proj_context_destroy(c); }
};
struct PjDeleter {
  void operator()(PJ* p) const { proj_destroy(p); }
};
struct ListDeleter {
  void operator()(PJ_OBJ_LIST* l) const { proj_list_destroy(l); }
};
struct FactoryDeleter {
  void operator()(PJ_OPERATION_FACTORY_CONTEXT* f) const { proj_operation_factory_context_destroy(f); }
};
using ContextPtr = std::unique_ptr<PJ_CONTEXT, ContextDeleter>;
using PjPtr = std::unique_ptr<PJ, PjDeleter>;

ContextPtr NewContext() {
  ContextPtr ctx(proj_context_create());
  if (ctx) proj_log_level(ctx.get(), PJ_LOG_NONE);
  return ctx;
}

// A coordinate system from user text or a .prj; null when PROJ does not know it as one.
PjPtr CrsFromText(PJ_CONTEXT* ctx, std::string_view text) {
  if (text.empty()) return nullptr;
  const std::string owned(text);
  PjPtr crs(proj_create(ctx, owned.c_str()));
  if (crs && !proj_is_crs(crs.get())) crs.reset();
  return crs;
}

bool IsLocal(const PJ* crs) { return proj_get_type(crs) == PJ_TYPE_ENGINEERING_CRS; }


// The source system bound to the target's datum by the user's seven parameters (EPSG method 9606,
// position vector), so that PROJ joins the two datums by that shift.
PjPtr BindToTargetDatum(PJ_CONTEXT* ctx, const PJ* source, const PJ* target, const std::array<double, 7>& p) {
  const PjPtr sourceDatum(proj_crs_get_geodetic_crs(ctx, source));
  const PjPtr targetDatum(proj_crs_get_geodetic_crs(ctx, target));
  if (!sourceDatum || !targetDatum) return nullptr;
  constexpr double kArcSecond = 4.84813681109536e-06;
  const PJ_PARAM_DESCRIPTION params[7] = {
      {"X-axis translation", "EPSG", "8605", p[0], "metre", 1.0, PJ_UT_LINEAR},
      {"Y-axis translation", "EPSG", "8606", p[1], "metre", 1.0, PJ_UT_LINEAR},
      {"Z-axis translation", "EPSG", "8607", p[2], "metre", 1.0, PJ_UT_LINEAR},
      {"X-axis rotation", "EPSG", "8608", p[3], "arc-second", kArcSecond, PJ_UT_ANGULAR},
      {"Y-axis rotation", "EPSG", "8609", p[4], "arc-second", kArcSecond, PJ_UT_ANGULAR},
      {"Z-axis rotation", "EPSG", "8610", p[5], "arc-second", kArcSecond, PJ_UT_ANGULAR},
      {"Scale difference", "EPSG", "8611", p[6], "parts per million", 1e-6, PJ_UT_SCALE},
  };
  const PjPtr shift(proj_create_transformation(ctx, "seven-parameter shift", nullptr, nullptr, sourceDatum.get(),
                                               targetDatum.get(), nullptr,
                                               "Position Vector transformation (geog2D domain)", "EPSG", "9606",
                                               7, params, -1.0));
  if (!shift) return nullptr;
  return PjPtr(proj_crs_create_bound_crs(ctx, source, targetDatum.get(), shift.get()));
}

// The unit of a system's first axis: linear (metres per unit) or angular (radians per unit).
struct AxisUnit {
  bool angular = false;
  double factor = 0;  // 0: neither, or unknown
};

AxisUnit UnitOf(PJ_CONTEXT* ctx, const PJ* crs) {
  AxisUnit unit;
  PjPtr base;
  if (proj_get_type(crs) == PJ_TYPE_BOUND_CRS) {
    base.reset(proj_get_source_crs(ctx, crs));
    if (!base) return unit;
    crs = base.get();
  }
  const PjPtr cs(proj_crs_get_coordinate_system(ctx, crs));
  if (!cs) return unit;
  const PJ_COORDINATE_SYSTEM_TYPE type = proj_cs_get_type(ctx, cs.get());
  if (type != PJ_CS_TYPE_CARTESIAN && type != PJ_CS_TYPE_ELLIPSOIDAL) return unit;
  double factor = 0;
  if (!proj_cs_get_axis_info(ctx, cs.get(), 0, nullptr, nullptr, nullptr, &factor, nullptr, nullptr, nullptr))
    return unit;
  if (!(factor > 0) || !std::isfinite(factor)) return unit;
  unit.angular = type == PJ_CS_TYPE_ELLIPSOIDAL;
  unit.factor = factor;
  return unit;
}

// Cells of about a kilometre on the source plane (a hundredth of a degree on a geographic source),
// accepted where the interpolation stays within 0.01 mm (on a geographic target, its angle on a
// sphere of the Earth's radius). At that size the interpolation of the projections and shifts we
// meet is off by micrometres; grids (NTv2 and the like) are bilinear on their own nodes and are
// left to the exact transformation.
constexpr double kCellMetres = 1000.0;
constexpr double kCellRadians = 0.01 * 3.14159265358979323846 / 180.0;
constexpr double kToleranceMetres = 1e-5;
constexpr double kEarthRadius = 6371000.0;

struct Handles {
  ContextPtr ctx;
  PjPtr operation;  // normalised: easting/longitude first on both sides
  std::optional<TransformCells> cells;  // none: every vertex through the exact transformation
  double cellSize = 0;
  bool cellsForThisLayer = true;
};

class ProjReprojection final : public Reprojection {
 public:
  ProjReprojection(std::unique_ptr<Handles> handles, std::string targetWkt, bool ballpark)
      : handles_(std::move(handles)), targetWkt_(std::move(targetWkt)), ballpark_(ballpark) {}
  ~ProjReprojection() override {
    // The operation belongs to the context: destroy it (and what uses it) first.
    handles_->cells.reset();
    handles_->operation.reset();
  }
  ProjReprojection(const ProjReprojection&) = delete;
  ProjReprojection& operator=(const ProjReprojection&) = delete;

  bool Transform(MapGis::Geometry* geometry) const override;
  void ExpectLayer(double xMin, double yMin, double xMax, double yMax, double vertices) override;
  bool UsesCells() const override { return handles_->cells && handles_->cellsForThisLayer; }
  bool TransformBox(double& xMin, double& yMin, double& xMax, double& yMax) const override;
  const std::string& TargetEsriWkt() const override { return targetWkt_; }
  bool WithoutDatumShift() const override { return ballpark_; }

 private:
  std::unique_ptr<Handles> handles_;  // the cells change as vertices come: one thread
  std::string targetWkt_;
  bool ballpark_ = false;
};

std::string CheckWithProj(std::string_view text) {
  const ContextPtr ctx = NewContext();
  if (!ctx) return "PROJ could not be started";
  if (text.empty()) return "the coordinate system is empty";
  if (!CrsFromText(ctx.get(), text)) return "PROJ does not know \"" + std::string(text) + "\" as a coordinate system";
  return {};
}

Reprojection::Created CreateWithProj(std::string_view layerSystem, bool layerIsLocal,
                                     const ReprojectionSettings& settings) {
  using Created = Reprojection::Created;
  Created out;
  auto handles = std::make_unique<Handles>();
  handles->ctx = NewContext();
  PJ_CONTEXT* ctx = handles->ctx.get();
  if (!ctx) {
    out.errorLine = "E__无法启动坐标转换库PROJ\n";
    return out;
  }

  const PjPtr target = CrsFromText(ctx, settings.targetCrs);
  if (!target) {
    out.errorLine = ReprojectionLogLine("E__目标坐标系无法识别：%s\n", settings.targetCrs);
    return out;
  }
  PjPtr source;
  if (!settings.sourceCrs.empty()) {
    source = CrsFromText(ctx, settings.sourceCrs);
    if (!source) {
      out.errorLine = ReprojectionLogLine("E__源坐标系无法识别：%s\n", settings.sourceCrs);
      return out;
    }
  } else if (!layerIsLocal) {
    source = CrsFromText(ctx, layerSystem);
  }
  if (!source || IsLocal(source.get()) || IsLocal(target.get())) {
    out.errorLine = std::string(kLogNoSourceSystem);
    return out;
  }

  if (!settings.toWgs84.empty()) {
    const auto seven = ParseSevenParameters(settings.toWgs84);
    if (!seven) {
      out.errorLine = ReprojectionLogLine("E__七参数格式错误（应为dx,dy,dz,rx,ry,rz,ds）：%s\n", settings.toWgs84);
      return out;
    }
    source = BindToTargetDatum(ctx, source.get(), target.get(), *seven);
    if (!source) {
      out.errorLine = "E__七参数无法用于源坐标系与目标坐标系\n";
      return out;
    }
  }

  // The best operation PROJ has whose grids are here.
  const std::unique_ptr<PJ_OPERATION_FACTORY_CONTEXT, FactoryDeleter> factory(
      proj_create_operation_factory_context(ctx, nullptr));
  if (!factory) {
    out.errorLine = "E__找不到从源坐标系到目标坐标系的转换\n";
    return out;
  }
  proj_operation_factory_context_set_grid_availability_use(ctx, factory.get(),
                                                          PROJ_GRID_AVAILABILITY_DISCARD_OPERATION_IF_MISSING_GRID);
  proj_operation_factory_context_set_spatial_criterion(ctx, factory.get(),
                                                       PROJ_SPATIAL_CRITERION_PARTIAL_INTERSECTION);
  const std::unique_ptr<PJ_OBJ_LIST, ListDeleter> operations(
      proj_create_operations(ctx, source.get(), target.get(), factory.get()));
  if (!operations || proj_list_get_count(operations.get()) < 1) {
    out.errorLine = "E__找不到从源坐标系到目标坐标系的转换\n";
    return out;
  }
  const PjPtr best(proj_list_get(ctx, operations.get(), 0));
  if (!best) {
    out.errorLine = "E__找不到从源坐标系到目标坐标系的转换\n";
    return out;
  }
  const bool ballpark = proj_coordoperation_has_ballpark_transformation(ctx, best.get()) != 0;
  handles->operation.reset(proj_normalize_for_visualization(ctx, best.get()));
  if (!handles->operation) {
    out.errorLine = "E__找不到从源坐标系到目标坐标系的转换\n";
    return out;
  }
  if (ballpark && settings.requireDatumShift) {
    out.errorLine = std::string(kLogDatumShiftRequired);
    return out;
  }

  const char* esri = proj_as_wkt(ctx, target.get(), PJ_WKT1_ESRI, nullptr);
  if (!esri) esri = proj_as_wkt(ctx, target.get(), PJ_WKT1_GDAL, nullptr);
  if (!esri) {
    out.errorLine = ReprojectionLogLine("E__目标坐标系无法写成投影信息文件：%s\n", settings.targetCrs);
    return out;
  }
  std::string wkt = esri;

  const char* sourceName = proj_get_name(source.get());
  const char* targetName = proj_get_name(target.get());
  out.infoLine = "I__坐标转换：" + std::string(sourceName ? sourceName : "?") + " → " +
                 std::string(targetName ? targetName : "?") + "\n";
  if (ballpark) out.warningLine = std::string(kLogNoDatumShift);

  const AxisUnit from = UnitOf(ctx, source.get());
  const AxisUnit to = UnitOf(ctx, target.get());
  if (from.factor > 0 && to.factor > 0 && proj_coordoperation_get_grid_used_count(ctx, best.get()) == 0) {
    const double cell = (from.angular ? kCellRadians : kCellMetres) / from.factor;
    const double tolerance = (to.angular ? kToleranceMetres / kEarthRadius : kToleranceMetres) / to.factor;
    PJ* op = handles->operation.get();
    handles->cells.emplace(
        [op](double* x, double* y, std::size_t n) {
          proj_trans_generic(op, PJ_FWD, x, sizeof(double), n, y, sizeof(double), n, nullptr, 0, 0, nullptr, 0, 0);
        },
        cell, tolerance);
    handles->cellSize = cell;
  }
  out.transform = std::make_unique<ProjReprojection>(std::move(handles), std::move(wkt), ballpark);
  return out;
}

bool ProjReprojection::Transform(MapGis::Geometry* g) const {
  if (!g || g->vertexCount <= 0) return true;
  PJ* op = handles_->operation.get();
  const auto n = static_cast<std::size_t>(g->vertexCount);
  proj_errno_reset(op);
  if (UsesCells())
    handles_->cells->Apply(g->x, g->y, n);
  else
    proj_trans_generic(op, PJ_FWD, g->x, sizeof(double), n, g->y, sizeof(double), n, nullptr, 0, 0, nullptr, 0, 0);
  double xMin = std::numeric_limits<double>::infinity(), yMin = xMin;
  double xMax = -xMin, yMax = -xMin;
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(g->x[i]) || !std::isfinite(g->y[i])) return false;
    xMin = std::min(xMin, g->x[i]);
    xMax = std::max(xMax, g->x[i]);
    yMin = std::min(yMin, g->y[i]);
    yMax = std::max(yMax, g->y[i]);
  }
  g->xMin = xMin;
  g->yMin = yMin;
  g->xMax = xMax;
  g->yMax = yMax;
  return true;
}

void ProjReprojection::ExpectLayer(double xMin, double yMin, double xMax, double yMax, double vertices) {
  handles_->cellsForThisLayer = true;
  const double h = handles_->cellSize;
  if (!handles_->cells || !(h > 0)) return;
  // A box that is no box (a damaged or empty head) says nothing: cells, as for any map.
  if (!std::isfinite(xMin) || !std::isfinite(yMin) || !std::isfinite(xMax) || !std::isfinite(yMax) || xMax < xMin ||
      yMax < yMin)
    return;
  const double columns = std::floor(xMax / h) - std::floor(xMin / h) + 1;
  const double rows = std::floor(yMax / h) - std::floor(yMin / h) + 1;
  // Building a cell costs 13 exact transformations: with 16 vertices to a cell of the box, the
  // cells cost less than the exact transformation of those vertices even if every cell is used.
  handles_->cellsForThisLayer = vertices >= 16.0 * columns * rows;
}

bool ProjReprojection::TransformBox(double& xMin, double& yMin, double& xMax, double& yMax) const {
  double a = 0, b = 0, c = 0, d = 0;
  if (!proj_trans_bounds(handles_->ctx.get(), handles_->operation.get(), PJ_FWD, xMin, yMin, xMax, yMax, &a, &b,
                         &c, &d, 21))
    return false;
  if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c) || !std::isfinite(d)) return false;
  xMin = a;
  yMin = b;
  xMax = c;
  yMax = d;
  return true;
}

}  // namespace

}  // namespace Kvx

extern "C" KVX_MODULE_ENTRY const void* kvx_reprojection_module() {
  static const Kvx::ReprojectionModule module{Kvx::ReprojectionModule::kName.version, Kvx::CreateWithProj,
                                                Kvx::CheckWithProj};
  return &module;
}
