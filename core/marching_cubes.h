#pragma once
// Marching-cubes extraction of a closed-ish triangle surface from a binary
// voxel grid or from a scalar field sampled at cell centres. Slabs of one cube
// layer along z are extracted in parallel and welded in slab order, so the
// output is identical for any number of worker threads. Output triangles are
// counter-clockwise seen from outside.

#include <array>
#include <cstdint>
#include <span>

#include "core/mesh.h"
#include "core/vec3.h"
#include "core/voxelize.h"

namespace vorrel {

// A lattice edge: the coordinates of its lower end and its axis (0 x, 1 y, 2 z).
struct EdgeKey {
  uint32_t x = 0, y = 0, z = 0;
  uint8_t axis = 0;

  friend bool operator==(const EdgeKey&, const EdgeKey&) = default;
  template <class H>
  friend H AbslHashValue(H h, const EdgeKey& k) {
    return H::combine(std::move(h), k.x, k.y, k.z, k.axis);
  }
};

// Surface between solid (Surface or Inside) and non-solid lattice points; the
// state of cell (x, y, z) sits at origin + cell_size·(x, y, z) and every vertex
// at the midpoint of its lattice edge.
Mesh extract_voxel_surface(const VoxelGrid& grid);

// Level set `iso` of float32 samples at cell centres origin + cell_size·(i + 0.5);
// a sample below the level is inside. A `values` array shorter than nx·ny·nz
// gives an empty mesh.
Mesh extract_iso_surface(std::span<const float> values, uint64_t nx, uint64_t ny, uint64_t nz, Vec3 origin,
                         double cell_size, double iso);

// The classic case tables for corners numbered 0 (0,0,0), 1 (1,0,0), 2 (1,1,0),
// 3 (0,1,0), 4..7 the same at z + 1, and edges 0..3 around the bottom face,
// 4..7 around the top face, 8..11 vertical from corners 0..3. Bit i of a case
// is corner i inside; triangle rows wind towards the inside corners.
const std::array<uint16_t, 256>& marching_cubes_edge_table();
const std::array<std::array<int8_t, 16>, 256>& marching_cubes_triangle_table();

}  // namespace vorrel
