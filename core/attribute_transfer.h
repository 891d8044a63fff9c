#pragma once
// Carrying per-corner normals and texture coordinates from an input mesh to
// a proxy built from it, through the nearest input vertex of every proxy
// corner; and the bucket grid that answers those nearest-vertex queries.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/mesh.h"

namespace vorrel {

// Uniform grid of cubic cells over a point set (about 25 points per cell)
// with an exact nearest-point query. Owns a copy of the points.
struct NearestVertexGrid {
  // Point indices of cell (x, y, z) = x + nx·(y + ny·z) are
  // cell_points[cell_starts[cell] … cell_starts[cell + 1]), in increasing order.
  std::vector<size_t> cell_starts;
  std::vector<uint32_t> cell_points;
  std::vector<Vec3> points;
  double cell_size = 1.0;
  double inv_cell_size = 1.0;
  Vec3 min;
  uint64_t nx = 1, ny = 1, nz = 1;

  // Cells of edge max(∛(L³ / max(P / 25, 1)), L / 1024), L the largest extent
  // of the points' bounding box (at least 1e-12). Without points: one empty cell.
  static NearestVertexGrid build(std::span<const Vec3> points);

  // Index of the stored point nearest to q, or nothing when there are no
  // points. Cells are searched in shells of growing Chebyshev distance around
  // q's (clamped) cell, each shell by increasing z, y, x; among equal
  // distances the first point visited wins.
  std::optional<uint32_t> nearest_vertex(Vec3 q) const;
};

struct TransferredAttributes {
  std::optional<std::vector<Vec3>> normals;                 // 3 per proxy triangle
  std::optional<std::vector<std::array<float, 2>>> uvs;    // 3 per proxy triangle
};

// Gives every proxy corner (slot 3·f + j) the normal and/or UV of the input
// vertex nearest to it. Input vertex normals are the normalised sums of the
// input's corner normals, or area-weighted face normals when it has none;
// an input vertex takes the UV of its first corner in triangle order. UVs are
// transferred only when asked for and present in the input. When neither is
// transferred the result holds the proxy's own area-weighted normals instead.
// Degenerate normal sums become (0, 1, 0); corners with no nearest input
// vertex stay zero.
//
// Never fails: corner slots past the end of a shorter input attribute array
// are ignored, input triangles with a corner index out of range add no face
// normal, and a proxy corner whose index is out of range stays zero.
TransferredAttributes transfer_attributes(std::span<const Vec3> input_positions,
                                          std::span<const Triangle> input_triangles,
                                          std::optional<std::span<const Vec3>> input_normals,
                                          std::optional<std::span<const std::array<float, 2>>> input_uvs,
                                          std::span<const Vec3> proxy_positions,
                                          std::span<const Triangle> proxy_triangles, bool transfer_normals,
                                          bool transfer_uvs);

}  // namespace vorrel
