#pragma once

// A coordinate transformation evaluated through small cells of the source plane.
//
// The exact transformation (PROJ) costs 100 to 200 ns a vertex; a layer of a million lines has
// twenty million vertices. Within a cell of about a kilometre every map projection and datum shift
// we meet is a smooth function, so each cell is transformed exactly at nine nodes (its corners,
// edge midpoints and centre) and its vertices are interpolated between them (biquadratic Lagrange
// interpolation). Before a cell is used, the interpolation is compared with the exact result at
// four more points; a cell whose interpolation is off by more than the tolerance anywhere there, or
// where any node has no image, is never interpolated: its vertices go through the exact
// transformation one by one.
//
// Each vertex's image depends on its coordinates only (never on the order of the features or the
// state of the cache), so a vertex shared by two features lands on the same point in both (as in
// two layers that both go through cells); and cells join without gaps, since neighbours share
// their edge nodes.
//
// One object serves one thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace Kvx {

class TransformCells {
 public:
  // Transforms n vertices in place; a vertex without an image becomes non-finite.
  using Exact = std::function<void(double* x, double* y, std::size_t n)>;

  // `cellSize`: the side of a cell in source units; `tolerance`: the largest difference from the
  // exact result accepted at a cell's check points, in target units.
  TransformCells(Exact exact, double cellSize, double tolerance);

  void Apply(double* x, double* y, std::size_t n);

  // How the cells came out so far: built, and of those, the ones left to the exact transformation.
  std::size_t CellsBuilt() const { return built_; }
  std::size_t CellsExact() const { return refused_; }

 private:
  struct Cell {
    std::int64_t cx = 0, cy = 0;
    bool used = false;
    bool interpolate = false;
    // Images of the nodes, row by row (v = 0, 1/2, 1; u = 0, 1/2, 1), less the centre's image.
    double fx[9] = {}, fy[9] = {};
    double centreX = 0, centreY = 0;
  };

  Cell& CellAt(std::int64_t cx, std::int64_t cy);
  void Build(Cell& cell, std::int64_t cx, std::int64_t cy);

  Exact exact_;
  double size_;
  double inverse_;
  double tolerance_;
  std::vector<Cell> slots_;
  std::vector<std::size_t> pending_;
  std::vector<double> pendingX_, pendingY_;
  std::size_t built_ = 0;
  std::size_t refused_ = 0;
};

}  // namespace Kvx
