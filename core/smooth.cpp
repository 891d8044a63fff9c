#include "core/smooth.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/parallel.h"
#include "core/vertex_normals.h"

namespace vorrel {
namespace {

// One list per vertex in one flat array: vertex v's list is
// items[offsets[v] … offsets[v + 1]).
struct VertexLists {
  std::vector<size_t> offsets;
  std::vector<uint32_t> items;

  std::span<const uint32_t> of(size_t v) const { return {items.data() + offsets[v], items.data() + offsets[v + 1]}; }
};

using OneRings = VertexLists;

// The triangles using each vertex in increasing order, a triangle listed once
// per corner it occupies.
VertexLists incident_triangles(size_t vertex_count, std::span<const Triangle> triangles) {
  VertexLists incidence;
  incidence.offsets.assign(vertex_count + 1, 0);
  for (const Triangle& t : triangles) {
    for (uint32_t v : t) ++incidence.offsets[v + 1];
  }
  for (size_t v = 0; v < vertex_count; ++v) incidence.offsets[v + 1] += incidence.offsets[v];
  incidence.items.resize(incidence.offsets[vertex_count]);
  std::vector<size_t> next(incidence.offsets.begin(), incidence.offsets.end() - 1);
  for (size_t f = 0; f < triangles.size(); ++f) {
    for (uint32_t v : triangles[f]) incidence.items[next[v]++] = static_cast<uint32_t>(f);
  }
  return incidence;
}

void insert_unique(uint32_t* ring, size_t& size, uint32_t u) {
  if (std::find(ring, ring + size, u) == ring + size) ring[size++] = u;
}

// Replays, for vertex v only, the six ring insertions of each triangle in
// triangle order; other vertices' insertions cannot affect v's ring, so every
// ring can be built independently.
size_t fill_ring(uint32_t v, std::span<const uint32_t> incident, std::span<const Triangle> triangles,
                 uint32_t* ring) {
  size_t size = 0;
  for (size_t i = 0; i < incident.size(); ++i) {
    if (i > 0 && incident[i] == incident[i - 1]) continue;
    auto [a, b, c] = triangles[incident[i]];
    if (a == v) insert_unique(ring, size, b);
    if (b == v) insert_unique(ring, size, a);
    if (b == v) insert_unique(ring, size, c);
    if (c == v) insert_unique(ring, size, b);
    if (c == v) insert_unique(ring, size, a);
    if (a == v) insert_unique(ring, size, c);
  }
  return size;
}

// Indices must be below vertex_count.
OneRings build_one_rings(size_t vertex_count, std::span<const Triangle> triangles) {
  VertexLists incidence = incident_triangles(vertex_count, triangles);
  // Each incidence adds at most two neighbours: rings are filled in place with
  // that capacity and then packed.
  std::vector<uint32_t> slots(2 * incidence.items.size());
  std::vector<size_t> sizes(vertex_count);
  parallel_for(0, vertex_count, [&](size_t v) {
    sizes[v] = fill_ring(static_cast<uint32_t>(v), incidence.of(v), triangles, slots.data() + 2 * incidence.offsets[v]);
  });
  OneRings rings;
  rings.offsets.assign(vertex_count + 1, 0);
  for (size_t v = 0; v < vertex_count; ++v) rings.offsets[v + 1] = rings.offsets[v] + sizes[v];
  rings.items.resize(rings.offsets[vertex_count]);
  parallel_for(0, vertex_count, [&](size_t v) {
    const uint32_t* ring = slots.data() + 2 * incidence.offsets[v];
    std::copy(ring, ring + sizes[v], rings.items.begin() + static_cast<std::ptrdiff_t>(rings.offsets[v]));
  });
  return rings;
}

// new = p + f · (mean of neighbours − p), all vertices from the same pass.
void laplacian_step(std::span<Vec3> positions, std::vector<Vec3>& scratch, const OneRings& rings, double f) {
  if (!std::isfinite(f)) return;
  parallel_for(0, positions.size(), [&](size_t v) {
    std::span<const uint32_t> ring = rings.of(v);
    Vec3 p = positions[v];
    if (ring.empty()) {
      scratch[v] = p;
      return;
    }
    Vec3 sum;
    for (uint32_t u : ring) sum += positions[u];
    Vec3 mean = sum / static_cast<double>(ring.size());
    scratch[v] = p + f * (mean - p);
  });
  std::copy(scratch.begin(), scratch.end(), positions.begin());
}

// Pass-band rule with pass-band frequency 0.1.
double taubin_mu(double lambda) { return -lambda / (1.0 - 0.1 * lambda); }

std::vector<Vec3> unit_vertex_normals(std::span<const Vec3> positions, std::span<const Triangle> triangles) {
  std::vector<Vec3> normals = area_weighted_normal_sums(positions, triangles);
  for (Vec3& n : normals) {
    double length = norm(n);
    if (length > 1e-12) n = n / length;
  }
  return normals;
}

// Mean length of the undirected edges, each counted once from its lower
// vertex, summed in vertex and ring order; 1.0 for a mesh without edges.
double mean_edge_length(std::span<const Vec3> positions, const OneRings& rings) {
  double sum = 0.0;
  uint64_t count = 0;
  for (size_t v = 0; v < positions.size(); ++v) {
    for (uint32_t u : rings.of(v)) {
      if (u <= v) continue;
      sum += norm(positions[u] - positions[v]);
      ++count;
    }
  }
  return count == 0 ? 1.0 : sum / static_cast<double>(count);
}

// exp(−x / two_sigma_sq) for x > 0, and its limit 1 otherwise (x = 0, or a
// negative or NaN x that stands for no difference), also when two_sigma_sq is 0.
double gaussian_falloff(double x, double two_sigma_sq) { return x > 0.0 ? std::exp(-x / two_sigma_sq) : 1.0; }

void bilateral_step(std::span<Vec3> positions, std::span<const Triangle> triangles, std::vector<Vec3>& scratch,
                    const OneRings& rings, double two_sigma_n_sq) {
  std::vector<Vec3> normals = unit_vertex_normals(positions, triangles);
  double sigma_c = mean_edge_length(positions, rings);
  double two_sigma_c_sq = 2.0 * (sigma_c * sigma_c);
  parallel_for(0, positions.size(), [&](size_t v) {
    Vec3 p = positions[v];
    double weight_sum = 0.0;
    Vec3 weighted_offsets;
    for (uint32_t u : rings.of(v)) {
      Vec3 d = positions[u] - p;
      double spatial = gaussian_falloff(norm_squared(d), two_sigma_c_sq);
      double similarity = gaussian_falloff(1.0 - dot(normals[u], normals[v]), two_sigma_n_sq);
      double w = spatial * similarity;
      weight_sum += w;
      weighted_offsets += w * d;
    }
    scratch[v] = weight_sum > 1e-12 ? p + weighted_offsets / weight_sum : p;
  });
  std::copy(scratch.begin(), scratch.end(), positions.begin());
}

}  // namespace

Status taubin_smooth(std::span<Vec3> positions, std::span<const Triangle> indices, uint64_t iterations,
                     double lambda, const ProgressIo& io) {
  if (positions.empty() || iterations == 0) return std::nullopt;
  if (Status error = check_triangle_indices(indices, positions.size())) return error;
  OneRings rings = build_one_rings(positions.size(), indices);
  double mu = taubin_mu(lambda);
  std::vector<Vec3> scratch(positions.size());
  StageProgress stage = StageProgress::start("Taubin smooth", iterations, io);
  for (uint64_t i = 0; i < iterations; ++i) {
    stage.update(i);
    laplacian_step(positions, scratch, rings, lambda);
    laplacian_step(positions, scratch, rings, mu);
  }
  stage.finish();
  return std::nullopt;
}

Status bilateral_smooth(std::span<Vec3> positions, std::span<const Triangle> indices, uint64_t iterations,
                        double sigma_n, const ProgressIo& io) {
  if (positions.empty() || iterations == 0) return std::nullopt;
  if (Status error = check_triangle_indices(indices, positions.size())) return error;
  OneRings rings = build_one_rings(positions.size(), indices);
  std::vector<Vec3> scratch(positions.size());
  StageProgress stage = StageProgress::start("bilateral smooth", iterations, io);
  double two_sigma_n_sq = 2.0 * (sigma_n * sigma_n);
  for (uint64_t i = 0; i < iterations; ++i) {
    stage.update(i);
    bilateral_step(positions, indices, scratch, rings, two_sigma_n_sq);
  }
  stage.finish();
  return std::nullopt;
}

}  // namespace vorrel
