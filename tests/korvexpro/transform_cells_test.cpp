// The cell interpolation of a transformation: where it interpolates, where it leaves vertices to the
// exact transformation, and that a vertex's image depends on its coordinates alone.

#include "projection/transform_cells.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

namespace {

using Kvx::TransformCells;
using PointFunction = std::function<void(double& x, double& y)>;

TransformCells::Exact Pointwise(PointFunction f) {
  return [f](double* x, double* y, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) f(x[i], y[i]);
  };
}

struct Points {
  std::vector<double> x, y;
};

Points Random(std::size_t n, double x0, double x1, double y0, double y1, unsigned seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> ux(x0, x1), uy(y0, y1);
  Points p;
  for (std::size_t i = 0; i < n; ++i) {
    p.x.push_back(ux(random));
    p.y.push_back(uy(random));
  }
  return p;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(TransformCells, InterpolatesWhereTheFunctionIsSmoothAndDefersWhereItIsNot) {
  const struct Case {
    const char* name;
    PointFunction f;
    double cellSize;
    double tolerance;
    double x0, x1, y0, y1;
    bool allInterpolated;  // every cell interpolated
    bool noneInterpolated;  // every cell left to the exact function
    double largestError;  // against the exact function, on points that have an image
  } cases[] = {
      {"quadratic: reproduced", [](double& x, double& y) {
         const double u = x, v = y;
         x = 3 + 2 * u + 0.001 * u * v - 0.002 * v * v;
         y = -1 + v + 0.0005 * u * u;
       },
       10, 1e-9, -50, 50, -50, 50, true, false, 1e-9},
      {"smooth, small cells: within the tolerance", [](double& x, double& y) {
         const double u = x, v = y;
         x = std::sin(u / 100) * 1000;
         y = std::exp(v / 200) * 1000;
       },
       0.5, 1e-5, 0, 40, 0, 40, true, false, 1e-5},
      {"smooth, cells too large: every vertex exact", [](double& x, double& y) {
         const double u = x, v = y;
         x = std::sin(u) * 1000;
         y = std::cos(v) * 1000;
       },
       50, 1e-6, 0, 400, 0, 400, false, true, 0},
      {"a kink inside one column of cells", [](double& x, double& y) { x = std::fabs(x - 12.3) + y; },
       10, 1e-9, -40, 40, 0, 9.99, false, false, 1e-9},
      {"no image left of x = 5", [](double& x, double& y) {
         if (x < 5) x = kInf;
         else y = y * 2;
       },
       10, 1e-9, -40, 40, 0, 9.99, false, false, 1e-9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TransformCells cells(Pointwise(c.f), c.cellSize, c.tolerance);
    Points p = Random(5000, c.x0, c.x1, c.y0, c.y1, 7);
    const Points source = p;
    cells.Apply(p.x.data(), p.y.data(), p.x.size());
    ASSERT_GT(cells.CellsBuilt(), 0u);
    if (c.allInterpolated) {
      EXPECT_EQ(cells.CellsExact(), 0u);
    } else if (c.noneInterpolated) {
      EXPECT_EQ(cells.CellsExact(), cells.CellsBuilt());
    } else {
      EXPECT_GT(cells.CellsExact(), 0u);
      EXPECT_LT(cells.CellsExact(), cells.CellsBuilt());
    }
    for (std::size_t i = 0; i < p.x.size(); ++i) {
      double ex = source.x[i], ey = source.y[i];
      c.f(ex, ey);
      if (!std::isfinite(ex) || !std::isfinite(ey)) {
        EXPECT_FALSE(std::isfinite(p.x[i]) && std::isfinite(p.y[i])) << i;
        continue;
      }
      EXPECT_NEAR(p.x[i], ex, c.largestError) << i;
      EXPECT_NEAR(p.y[i], ey, c.largestError) << i;
    }
  }
}

TEST(TransformCells, VerticesOutsideAnyCellGoToTheExactFunction) {
  int calls = 0;
  TransformCells cells(
      [&calls](double* x, double* y, std::size_t n) {
        ++calls;
        for (std::size_t i = 0; i < n; ++i) {
          x[i] = x[i] + 1;
          y[i] = y[i] - 1;
        }
      },
      1000, 1e-9);
  double x[] = {std::nan(""), 1e300, -kInf, 5};
  double y[] = {0, 0, 0, 5};
  cells.Apply(x, y, 4);
  EXPECT_TRUE(std::isnan(x[0]));
  EXPECT_EQ(x[1], 1e300);
  EXPECT_EQ(y[1], -1);
  EXPECT_EQ(x[2], -kInf);
  EXPECT_NEAR(x[3], 6, 1e-12);
  EXPECT_NEAR(y[3], 4, 1e-12);
  EXPECT_EQ(cells.CellsBuilt(), 1u);
  // One call builds the cell, one takes the three vertices it could not place.
  EXPECT_EQ(calls, 2);
}

TEST(TransformCells, AVertexLandsOnTheSamePointWhateverCameBefore) {
  const PointFunction f = [](double& x, double& y) {
    const double u = x, v = y;
    x = u + std::sin(v / 3000) * 100;
    y = v + std::cos(u / 5000) * 100;
  };
  const Points probe = Random(200, 0, 3000, 0, 3000, 11);

  // Once alone, once after a wide sweep that has filled (and emptied) the cache many times over.
  TransformCells alone(Pointwise(f), 100, 1e-6);
  Points a = probe;
  alone.Apply(a.x.data(), a.y.data(), a.x.size());

  TransformCells busy(Pointwise(f), 100, 1e-6);
  Points sweep = Random(20000, -500000, 500000, -500000, 500000, 12);
  busy.Apply(sweep.x.data(), sweep.y.data(), sweep.x.size());
  Points b = probe;
  for (std::size_t i = b.x.size(); i-- > 0;) busy.Apply(&b.x[i], &b.y[i], 1);

  for (std::size_t i = 0; i < a.x.size(); ++i) {
    EXPECT_TRUE(SameBits(a.x[i], b.x[i])) << i;
    EXPECT_TRUE(SameBits(a.y[i], b.y[i])) << i;
  }

  // Neighbouring cells meet without a gap: both sides of an edge give the same point.
  TransformCells edge(Pointwise(f), 100, 1e-6);
  double x[] = {std::nextafter(200.0, 0.0), 200.0, 150, 150};
  double y[] = {150, 150, std::nextafter(300.0, 0.0), 300.0};
  edge.Apply(x, y, 4);
  EXPECT_EQ(edge.CellsBuilt(), 4u);
  EXPECT_NEAR(x[0], x[1], 1e-9);
  EXPECT_NEAR(y[0], y[1], 1e-9);
  EXPECT_NEAR(x[2], x[3], 1e-9);
  EXPECT_NEAR(y[2], y[3], 1e-9);
}

}  // namespace
