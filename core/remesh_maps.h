#pragma once
// The remesher's working mesh and the adjacency maps derived from its live
// triangles. Maps are built in parallel, yet their contents depend only on the
// mesh: every list comes out in a fixed order (sorted keys, increasing
// triangle indices) whatever the number of threads.

#include <cstdint>
#include <span>
#include <vector>

#include "core/mesh.h"
#include "core/vec3.h"

namespace vorrel {

struct RemeshMesh {
  std::vector<Vec3> positions;
  std::vector<Triangle> triangles;
  std::vector<uint8_t> removed;  // 1 = removed, one per triangle

  static RemeshMesh copy_of(std::span<const Vec3> positions, std::span<const Triangle> triangles);
  bool is_live(uint32_t t) const { return removed[t] == 0; }
  uint64_t live_count() const;
};

// Live triangles of every vertex in increasing index order, as prefix-sum
// arrays; a triangle that repeats a corner is listed once per corner.
class VertexFaceMap {
 public:
  void build(const RemeshMesh& mesh);
  std::span<const uint32_t> faces(uint32_t v) const {
    if (v + uint64_t{1} >= start_.size()) return {};
    return {faces_.data() + start_[v], faces_.data() + start_[v + 1]};
  }

 private:
  std::vector<uint64_t> start_;
  std::vector<uint64_t> cursor_;
  std::vector<uint32_t> faces_;
};

// Undirected edges of the live triangles in increasing (smaller, larger) index
// order, each with the live triangles having it in increasing index order.
class EdgeFaceMap {
 public:
  static constexpr uint64_t kNone = ~uint64_t{0};

  // Buckets the half-edges on their smaller endpoint (a counting sort), so
  // building is linear and allocates nothing once the buffers have grown.
  void build(const RemeshMesh& mesh);
  // Only the edges of the listed triangles (live, in increasing index order),
  // at a cost in the list's length rather than the mesh's size. An edge every
  // live triangle of which is listed gets the same face list as from build.
  void build_from(const RemeshMesh& mesh, std::span<const uint32_t> triangles);
  uint64_t size() const { return lo_.size(); }
  uint32_t lo(uint64_t e) const { return lo_[e]; }
  uint32_t hi(uint64_t e) const { return hi_[e]; }
  std::span<const uint32_t> faces(uint64_t e) const {
    return {faces_.data() + face_start_[e], faces_.data() + face_start_[e + 1]};
  }
  // The edge joining a and b, or kNone.
  uint64_t find(uint32_t a, uint32_t b) const;

 private:
  struct HalfEdge {
    uint32_t hi;
    uint32_t face;
  };
  struct KeyedHalfEdge {
    uint32_t lo, hi, face;
  };
  static uint64_t sort_bucket(HalfEdge* first, HalfEdge* last);
  void append_edges_of(uint32_t lo, std::span<const HalfEdge> sorted);

  std::vector<uint64_t> bucket_start_;  // half-edges by smaller endpoint
  std::vector<uint64_t> cursor_;
  std::vector<HalfEdge> half_edges_;
  std::vector<uint64_t> edge_start_;    // edges by smaller endpoint; empty after build_from
  std::vector<KeyedHalfEdge> keyed_;
  std::vector<uint32_t> lo_, hi_;
  std::vector<uint64_t> face_start_;
  std::vector<uint32_t> faces_;
};

}  // namespace vorrel
