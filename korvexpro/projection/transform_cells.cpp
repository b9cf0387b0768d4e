#include "projection/transform_cells.h"

#include <cmath>
#include <utility>

namespace Kvx {

namespace {

constexpr std::size_t kSlotBits = 10;
// Cell indices beyond this are left to the exact transformation (far outside any map, and the
// index would lose its integer meaning).
constexpr double kLargestIndex = 1e15;

// Weights of the nodes at t = 0, 1/2, 1 for a point at t in [0, 1].
inline void Weights(double t, double w[3]) {
  w[0] = (2 * t - 1) * (t - 1);
  w[1] = 4 * t * (1 - t);
  w[2] = t * (2 * t - 1);
}

inline void Interpolate(const double fx[9], const double fy[9], double u, double v, double& x, double& y) {
  double wu[3], wv[3];
  Weights(u, wu);
  Weights(v, wv);
  double sx = 0, sy = 0;
  for (int j = 0; j < 3; ++j) {
    const double rx = wu[0] * fx[j * 3] + wu[1] * fx[j * 3 + 1] + wu[2] * fx[j * 3 + 2];
    const double ry = wu[0] * fy[j * 3] + wu[1] * fy[j * 3 + 1] + wu[2] * fy[j * 3 + 2];
    sx += wv[j] * rx;
    sy += wv[j] * ry;
  }
  x = sx;
  y = sy;
}

}  // namespace

TransformCells::TransformCells(Exact exact, double cellSize, double tolerance)
    : exact_(std::move(exact)),
      size_(cellSize),
      inverse_(1.0 / cellSize),
      tolerance_(tolerance),
      slots_(std::size_t{1} << kSlotBits) {}

TransformCells::Cell& TransformCells::CellAt(std::int64_t cx, std::int64_t cy) {
  const std::uint64_t h = (static_cast<std::uint64_t>(cx) * 0x9E3779B97F4A7C15ull) ^
                          (static_cast<std::uint64_t>(cy) * 0xC2B2AE3D27D4EB4Full);
  Cell& cell = slots_[h >> (64 - kSlotBits)];
  if (!cell.used || cell.cx != cx || cell.cy != cy) Build(cell, cx, cy);
  return cell;
}

void TransformCells::Build(Cell& cell, std::int64_t cx, std::int64_t cy) {
  ++built_;
  cell.cx = cx;
  cell.cy = cy;
  cell.used = true;
  cell.interpolate = false;
  // Nine nodes, then four check points at the centres of the cell's quarters.
  constexpr double kChecks[4][2] = {{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}};
  double x[13], y[13];
  const double x0 = static_cast<double>(cx), y0 = static_cast<double>(cy);
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      x[j * 3 + i] = (x0 + 0.5 * i) * size_;
      y[j * 3 + i] = (y0 + 0.5 * j) * size_;
    }
  for (int k = 0; k < 4; ++k) {
    x[9 + k] = (x0 + kChecks[k][0]) * size_;
    y[9 + k] = (y0 + kChecks[k][1]) * size_;
  }
  exact_(x, y, 13);
  for (int k = 0; k < 13; ++k)
    if (!std::isfinite(x[k]) || !std::isfinite(y[k])) {
      ++refused_;
      return;
    }
  // Offsets from the centre keep the interpolation's rounding at the size of the differences.
  cell.centreX = x[4];
  cell.centreY = y[4];
  for (int k = 0; k < 9; ++k) {
    cell.fx[k] = x[k] - x[4];
    cell.fy[k] = y[k] - y[4];
  }
  for (int k = 0; k < 4; ++k) {
    double ix = 0, iy = 0;
    Interpolate(cell.fx, cell.fy, kChecks[k][0], kChecks[k][1], ix, iy);
    if (!(std::fabs(cell.centreX + ix - x[9 + k]) <= tolerance_) ||
        !(std::fabs(cell.centreY + iy - y[9 + k]) <= tolerance_)) {
      ++refused_;
      return;
    }
  }
  cell.interpolate = true;
}

void TransformCells::Apply(double* x, double* y, std::size_t n) {
  pending_.clear();
  for (std::size_t i = 0; i < n; ++i) {
    const double gx = x[i] * inverse_, gy = y[i] * inverse_;
    if (!(std::fabs(gx) < kLargestIndex) || !(std::fabs(gy) < kLargestIndex)) {
      pending_.push_back(i);
      continue;
    }
    const double fx = std::floor(gx), fy = std::floor(gy);
    const Cell& cell = CellAt(static_cast<std::int64_t>(fx), static_cast<std::int64_t>(fy));
    if (!cell.interpolate) {
      pending_.push_back(i);
      continue;
    }
    double ix = 0, iy = 0;
    Interpolate(cell.fx, cell.fy, gx - fx, gy - fy, ix, iy);
    x[i] = cell.centreX + ix;
    y[i] = cell.centreY + iy;
  }
  if (pending_.empty()) return;
  pendingX_.resize(pending_.size());
  pendingY_.resize(pending_.size());
  for (std::size_t k = 0; k < pending_.size(); ++k) {
    pendingX_[k] = x[pending_[k]];
    pendingY_[k] = y[pending_[k]];
  }
  exact_(pendingX_.data(), pendingY_.data(), pending_.size());
  for (std::size_t k = 0; k < pending_.size(); ++k) {
    x[pending_[k]] = pendingX_[k];
    y[pending_[k]] = pendingY_[k];
  }
}

}  // namespace Kvx
