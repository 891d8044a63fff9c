#pragma once
// Signed distance field of the input on a padded regular grid: an exact narrow
// band, a gap-closing sign classification and the field values at cell centres;
// its far-field completion by a distance transform; the geometric queries used
// by the refinement stages; and the two field-based vertex projections.
//
// The field is built once per proxy call and is read only afterwards: the
// queries and projections may run from many threads at once.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/error.h"
#include "core/mesh.h"
#include "core/voxelize.h"

namespace vorrel {

struct DistanceField {
  std::vector<float> values;            // sampled by extraction and `sample`
  std::vector<CellState> states;        // Surface, Inside or Outside
  std::vector<float> band_distance;     // +inf off the band
  std::vector<uint32_t> nearest_triangle;  // 0xFFFFFFFF off the band
  uint64_t nx = 0, ny = 0, nz = 0;
  Vec3 origin;                          // corner of cell (0, 0, 0)
  double cell_size = 1.0;
  double band_cells = 1.0;              // band half-width in cells, at least 1
  double half_diagonal = 0.0;           // h · √3 / 2
  bool far_field_done = false;
  // The band's 8-byte words, kept after the band is built so that the far-field
  // transform can use them as its working array; that transform releases them.
  std::vector<uint64_t> transform_scratch;
};

inline constexpr uint32_t kNoTriangle = 0xFFFFFFFFu;

// Peak bytes per cell of the distance-field path. The field keeps 13 (state 1,
// band distance 4, nearest triangle 4, value 4); building the band adds its
// 8-byte packed entries, which stay until the far-field transform has used them
// as its working array (21 in all).
inline constexpr uint64_t kDistanceFieldPeakBytesPerCell = 21;

// Field value of a cell from its state and distance d (float32 throughout):
// surface cells hold at most H, inside cells fall below H with depth, outside
// cells hold their distance. H is float32(half_diagonal).
inline float field_value(CellState state, float d, float H) {
  switch (state) {
    case CellState::Surface: return H < d ? H : d;
    case CellState::Inside: return (H + H) - d;
    default: return d;
  }
}

// Builds the band ("sdf band") and the sign ("sdf sign") and the band values,
// on a grid padded by close + ceil(band) + 2 + `extra_pad` cells per side.
// Fails with an internal error when a triangle index is not below the vertex
// count, and with an allocation failure when the peak memory of the field and
// its far-field transform exceeds what the process can obtain.
Expected<DistanceField> build_distance_field(std::span<const Vec3> positions, std::span<const Triangle> triangles,
                                             uint64_t voxel_res, uint64_t close, double band, uint64_t extra_pad = 0);

// Recomputes every value by a squared Euclidean distance transform seeded with
// the band ("sdf far field (EDT)"), unless the band already covers `reach`.
// Fails, leaving the field unchanged, when its working array cannot be allocated.
Status compute_far_field(DistanceField& field, double reach);

// Scratch of the one-dimensional transform, reused across the lines of one task.
struct EdtScratch {
  std::vector<double> positions, heights, lifted, boundaries;
  std::vector<uint64_t> counts;
};
// Squared distance transform of one line: out[q] = min over finite f[p] of
// (q − p)² + f[p] (lower envelope of parabolas); +inf when no sample is finite.
// `out` has the length of `f` and must not alias it.
void edt_1d(std::span<const double> f, std::span<double> out, EdtScratch& scratch);

// Closest point of triangle (a, b, c) to p, by Voronoi regions.
Vec3 closest_point_on_triangle(Vec3 p, Vec3 a, Vec3 b, Vec3 c);

// Trilinear field value at world point p (clamped at the grid border).
double sample(const DistanceField& field, Vec3 p);
// Central-difference gradient of `sample` with a half-cell step.
Vec3 gradient(const DistanceField& field, Vec3 p);

struct SurfacePoint {
  Vec3 point;
  double squared_distance;
};
// Nearest input surface point among the triangles recorded in the 3×3×3 cells
// around p; none off the band. `positions`/`triangles` are the field's input.
Expected<std::optional<SurfacePoint>> nearest_surface_point(const DistanceField& field,
                                                           std::span<const Vec3> positions,
                                                           std::span<const Triangle> triangles, Vec3 p);

// Moves every vertex to `offset` from its nearest input surface point, by at
// most `max_displacement` (world units). Parallel over vertices.
Status project_to_offset_surface(std::span<Vec3> vertices, const DistanceField& field,
                                 std::span<const Vec3> input_positions, std::span<const Triangle> input_triangles,
                                 double offset, double max_displacement);

// Walks every vertex along the field gradient onto the `iso` level, at most
// `max_steps` cell-sized steps and `max_displacement` in all. Parallel over vertices.
void project_to_iso_surface(std::span<Vec3> vertices, const DistanceField& field, uint64_t max_steps, double iso,
                            double max_displacement);

}  // namespace vorrel
