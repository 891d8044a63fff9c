#pragma once
// Working structures and local operations of the remesher, shared by its two
// iteration drivers (remesh.cpp) and reachable by the tests.
//
// The working mesh never deletes a triangle or reuses an index during the
// iterations: removal flags a triangle, creation appends. Derived maps are
// rebuilt from the live triangles at the start of a pass and are not updated
// during it; touched sets keep one pass from editing a region twice. Every
// visiting order is fixed by sorted edge keys and triangle indices, so results
// never depend on hashing or on the thread count.

#include <cstdint>
#include <span>
#include <vector>

#include "core/mesh.h"
#include "core/remesh_maps.h"
#include "core/vec3.h"

namespace vorrel {

// A set of vertex indices emptied in constant time by moving to a new stamp.
class TouchedSet {
 public:
  void clear();
  void insert(uint32_t v);
  bool contains(uint32_t v) const { return v < stamp_.size() && stamp_[v] == current_; }

 private:
  std::vector<uint32_t> stamp_;
  uint32_t current_ = 1;
};

// Edge (b, c) with its two live triangles t0 and t1 and their opposite
// corners a and g.
struct FlipQuad {
  uint32_t b, c, a, g, t0, t1;
};

// What a flip pass finds out about one map edge before flipping any.
struct FlipPlan {
  enum Kind : uint8_t { kNever, kQuad, kRejudge };
  enum Fold : uint8_t { kUntested, kFolds, kKeeps };
  FlipQuad quad{};
  uint64_t diagonal = 0;  // the new diagonal's map edge if it had a live triangle, else EdgeFaceMap::kNone
  Kind kind = kNever;
  Fold fold = kUntested;
};

// One per remesh call; every pass reuses these buffers.
struct RemeshWorkspace {
  EdgeFaceMap edges;
  VertexFaceMap vertex_faces;
  TouchedSet touched;
  std::vector<uint32_t> ring_a, ring_b, noted;
  std::vector<uint32_t> valence;
  std::vector<uint8_t> stale;  // valence entries to recount before use
  std::vector<FlipPlan> flip_plans;
  std::vector<uint8_t> fixed;
  std::vector<Vec3> face_normals, normals, relaxed;
};

// Local target edge length: a constant in the uniform driver; in the adaptive
// driver it shrinks from max_factor · base on flat regions to min_factor · base
// where the curvature field reaches 1.
struct LengthRule {
  double base = 1.0;
  bool adaptive = false;
  double min_factor = 0.25;
  double max_factor = 3.0;

  double target(std::span<const double> curvature, uint32_t a, uint32_t b) const;
  double split_above(std::span<const double> curvature, uint32_t a, uint32_t b) const {
    return target(curvature, a, b) * 4.0 / 3.0;
  }
  double collapse_below(std::span<const double> curvature, uint32_t a, uint32_t b) const {
    return target(curvature, a, b) * 4.0 / 5.0;
  }
};

struct EdgeCandidate {
  double length;
  uint64_t edge;  // index in the EdgeFaceMap the candidates were taken from
};

// Distinct vertices other than v of v's listed triangles that are live now.
void ring(const RemeshMesh& mesh, const VertexFaceMap& vertex_faces, uint32_t v, std::vector<uint32_t>& out);

// Splits map edge e at its midpoint; each live listed triangle with a third
// corner is replaced by two with the same winding.
void split_edge(RemeshMesh& mesh, const EdgeFaceMap& edges, uint64_t e);
// Moves a to the midpoint of (a, b) and retires b, unless the edge has fewer
// than two live triangles, the rings of a and b do not share exactly two
// vertices, or a surrounding triangle would flip. Needs both maps built.
bool collapse_edge(RemeshMesh& mesh, RemeshWorkspace& ws, uint32_t a, uint32_t b);
// Flips the edges whose flip brings the four valences closer to 6.
uint64_t flip_pass(RemeshMesh& mesh, RemeshWorkspace& ws);
// Umbrella step of every interior vertex with its normal component removed.
void relax_tangential(RemeshMesh& mesh, RemeshWorkspace& ws, double weight);

// Per-vertex angle-deficit curvature in [0, 1], normalised by the deficit at
// the 95th percentile.
std::vector<double> curvature_field(const RemeshMesh& mesh);
// As above with `vertex_faces` built from the same mesh.
std::vector<double> curvature_field(const RemeshMesh& mesh, const VertexFaceMap& vertex_faces);

// Edges longer than the rule's split threshold, longest first (ties by key).
// Builds ws.vertex_faces and ws.edges.
std::vector<EdgeCandidate> split_candidates(const RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule,
                                            std::span<const double> curvature);
// Edges shorter than the rule's collapse threshold, shortest first (ties by
// key). Builds ws.vertex_faces and ws.edges.
std::vector<EdgeCandidate> collapse_candidates(const RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule,
                                               std::span<const double> curvature);

// Split passes until one splits nothing; returns the number of splits. Under
// a uniform rule a pass maps only the triangles with an edge over the
// threshold: around a vertex of high valence each pass splits one of its
// edges, so the passes can number in the thousands while the mesh is large.
uint64_t split_phase(RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule);
// One collapse pass; returns the number of collapses.
uint64_t collapse_pass(RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule);

// Removes degenerate triangles silently and inverted and surplus non-manifold
// triangles with a count line, then returns the compacted mesh.
Mesh cleanup_remesh(RemeshMesh& mesh, RemeshWorkspace& ws);
// Drops removed triangles and unreferenced vertices, keeping relative orders.
void compact(RemeshMesh& mesh);

}  // namespace vorrel
