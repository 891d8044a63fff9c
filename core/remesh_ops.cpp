#include "core/remesh_ops.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>

#include <fmt/format.h>

#include "core/progress.h"

namespace vorrel {
namespace {

Vec3 face_normal(Vec3 p0, Vec3 p1, Vec3 p2) { return cross(p1 - p0, p2 - p0); }

Vec3 face_normal(const RemeshMesh& mesh, const Triangle& t) {
  return face_normal(mesh.positions[t[0]], mesh.positions[t[1]], mesh.positions[t[2]]);
}

double edge_length(const RemeshMesh& mesh, uint32_t a, uint32_t b) {
  return norm(mesh.positions[a] - mesh.positions[b]);
}

// Vertices a uint32 corner can name; any beyond are unused and left alone.
uint32_t indexable_vertex_count(const RemeshMesh& mesh) {
  return static_cast<uint32_t>(std::min<size_t>(mesh.positions.size(), std::numeric_limits<uint32_t>::max()));
}

bool repeats_corner(const Triangle& t) { return t[0] == t[1] || t[1] == t[2] || t[2] == t[0]; }

bool contains(std::span<const uint32_t> list, uint32_t value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

// The corner of t that is neither a nor b; none when every corner is a or b.
std::optional<uint32_t> third_corner(const Triangle& t, uint32_t a, uint32_t b) {
  for (uint32_t c : t) {
    if (c != a && c != b) return c;
  }
  return std::nullopt;
}

// Whether t runs along the edge from a to b (rather than from b to a).
bool runs_from(const Triangle& t, uint32_t a, uint32_t b) {
  for (int i = 0; i < 3; ++i) {
    if (t[i] == a && t[(i + 1) % 3] == b) return true;
  }
  return false;
}

uint64_t live_face_count(const RemeshMesh& mesh, std::span<const uint32_t> faces) {
  return static_cast<uint64_t>(std::count_if(faces.begin(), faces.end(), [&](uint32_t t) { return mesh.is_live(t); }));
}

uint32_t valence(const RemeshMesh& mesh, const VertexFaceMap& vertex_faces, uint32_t v, std::vector<uint32_t>& scratch) {
  ring(mesh, vertex_faces, v, scratch);
  return static_cast<uint32_t>(scratch.size());
}

uint32_t append_vertex(RemeshMesh& mesh, Vec3 p) {
  mesh.positions.push_back(p);
  return static_cast<uint32_t>(mesh.positions.size() - 1);
}

void append_triangle(RemeshMesh& mesh, Triangle t) {
  mesh.triangles.push_back(t);
  mesh.removed.push_back(0);
}

// Returns the edges of ws.edges (in key order) whose endpoints and length
// satisfy `keep`.
template <class Keep>
std::vector<EdgeCandidate> mapped_edges_where(const RemeshMesh& mesh, const RemeshWorkspace& ws, Keep&& keep) {
  std::vector<EdgeCandidate> candidates;
  for (uint64_t e = 0; e < ws.edges.size(); ++e) {
    const uint32_t a = ws.edges.lo(e), b = ws.edges.hi(e);
    const double length = edge_length(mesh, a, b);
    if (keep(a, b, length)) candidates.push_back({length, e});
  }
  return candidates;
}

// Builds ws.edges and returns its edges (in key order) whose endpoints and
// length satisfy `keep`.
template <class Keep>
std::vector<EdgeCandidate> edges_where(const RemeshMesh& mesh, RemeshWorkspace& ws, Keep&& keep) {
  ws.edges.build(mesh);
  return mapped_edges_where(mesh, ws, keep);
}

void sort_longest_first(std::vector<EdgeCandidate>& candidates) {
  // Edges are numbered in key order, so the edge index breaks ties by key.
  std::sort(candidates.begin(), candidates.end(), [](const EdgeCandidate& x, const EdgeCandidate& y) {
    return x.length != y.length ? x.length > y.length : x.edge < y.edge;
  });
}

void sort_shortest_first(std::vector<EdgeCandidate>& candidates) {
  std::sort(candidates.begin(), candidates.end(), [](const EdgeCandidate& x, const EdgeCandidate& y) {
    return x.length != y.length ? x.length < y.length : x.edge < y.edge;
  });
}

// The curvature field an adaptive rule reads; a uniform rule reads none.
std::vector<double> curvature_for(const RemeshMesh& mesh, const LengthRule& rule) {
  return rule.adaptive ? curvature_field(mesh) : std::vector<double>{};
}

// Collapse would turn a surrounding triangle of a or b over (outside the
// edge's own triangles) when one of them is moved to m.
bool collapse_folds_over(const RemeshMesh& mesh, const RemeshWorkspace& ws, uint32_t a, uint32_t b,
                         std::span<const uint32_t> edge_faces, Vec3 m) {
  for (uint32_t end : {a, b}) {
    for (uint32_t t : ws.vertex_faces.faces(end)) {
      if (!mesh.is_live(t) || contains(edge_faces, t)) continue;
      const Triangle& tri = mesh.triangles[t];
      Vec3 moved[3];
      for (int i = 0; i < 3; ++i) moved[i] = (tri[i] == a || tri[i] == b) ? m : mesh.positions[tri[i]];
      if (dot(face_normal(mesh, tri), face_normal(moved[0], moved[1], moved[2])) < 0.0) return true;
    }
  }
  return false;
}

uint64_t shared_count(const std::vector<uint32_t>& x, const std::vector<uint32_t>& y) {
  uint64_t count = 0;
  for (size_t i = 0, j = 0; i < x.size() && j < y.size();) {
    if (x[i] < y[j]) {
      ++i;
    } else if (y[j] < x[i]) {
      ++j;
    } else {
      ++count, ++i, ++j;
    }
  }
  return count;
}

void touch_live_corners(const RemeshMesh& mesh, RemeshWorkspace& ws, uint32_t v) {
  for (uint32_t t : ws.vertex_faces.faces(v)) {
    if (!mesh.is_live(t)) continue;
    for (uint32_t c : mesh.triangles[t]) ws.touched.insert(c);
  }
}

// A non-finite length would split forever without getting shorter.
bool splits_at(const LengthRule& rule, std::span<const double> curvature, uint32_t a, uint32_t b, double length) {
  return std::isfinite(length) && length > rule.split_above(curvature, a, b);
}

// Splits the candidates taken from ws.edges in order, skipping any whose
// region an earlier split of the pass touched; returns the number of splits.
uint64_t split_pass(RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule, std::span<const double> curvature,
                    const std::vector<EdgeCandidate>& candidates) {
  ws.touched.clear();
  uint64_t splits = 0;
  for (const EdgeCandidate& candidate : candidates) {
    const uint32_t a = ws.edges.lo(candidate.edge), b = ws.edges.hi(candidate.edge);
    if (ws.touched.contains(a) || ws.touched.contains(b)) continue;
    const std::span<const uint32_t> faces = ws.edges.faces(candidate.edge);
    if (live_face_count(mesh, faces) == 0) continue;
    if (!(edge_length(mesh, a, b) > rule.split_above(curvature, a, b))) continue;
    if (mesh.positions.size() >= std::numeric_limits<uint32_t>::max()) break;  // no index left for a new vertex
    ws.noted.clear();
    for (uint32_t t : faces) {
      if (!mesh.is_live(t)) continue;
      if (auto e = third_corner(mesh.triangles[t], a, b)) ws.noted.push_back(*e);
    }
    // Only triangles repeating a or b are left: splitting would change nothing
    // and the phase would never end.
    if (ws.noted.empty()) continue;
    split_edge(mesh, ws.edges, candidate.edge);
    ws.touched.insert(a);
    ws.touched.insert(b);
    for (uint32_t v : ws.noted) ws.touched.insert(v);
    ++splits;
  }
  return splits;
}

// The curvature field changes with every split, so each pass reads the whole mesh.
uint64_t adaptive_split_phase(RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule) {
  uint64_t total = 0;
  while (true) {
    const std::vector<double> curvature = curvature_field(mesh);
    const uint64_t splits = split_pass(mesh, ws, rule, curvature, split_candidates(mesh, ws, rule, curvature));
    if (splits == 0) return total;
    total += splits;
  }
}

bool has_split_edge(const RemeshMesh& mesh, const LengthRule& rule, const Triangle& t) {
  for (int i = 0; i < 3; ++i) {
    const uint32_t a = t[i], b = t[(i + 1) % 3];
    if (splits_at(rule, {}, a, b, edge_length(mesh, a, b))) return true;
  }
  return false;
}

// Keeps `listed` equal to the live triangles with an edge over the threshold,
// in index order: drops the removed ones and adds those appended from index
// `first_new` on. Vertices do not move during the split phase, so a kept
// triangle never changes its answer.
void update_split_triangles(const RemeshMesh& mesh, const LengthRule& rule, size_t first_new,
                            std::vector<uint32_t>& listed) {
  std::erase_if(listed, [&](uint32_t t) { return !mesh.is_live(t); });
  for (size_t t = first_new; t < mesh.triangles.size(); ++t) {
    if (mesh.is_live(static_cast<uint32_t>(t)) && has_split_edge(mesh, rule, mesh.triangles[t])) {
      listed.push_back(static_cast<uint32_t>(t));
    }
  }
}

// Every live triangle with a split edge is listed, so mapping only the listed
// triangles yields the same candidates, in the same order and with the same
// face lists, as mapping the whole mesh; a pass then costs the size of the
// region still being refined, not of the mesh.
uint64_t uniform_split_phase(RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule) {
  std::vector<uint32_t> listed;
  size_t first_new = 0;
  uint64_t total = 0;
  while (true) {
    update_split_triangles(mesh, rule, first_new, listed);
    first_new = mesh.triangles.size();
    ws.edges.build_from(mesh, listed);
    std::vector<EdgeCandidate> candidates = mapped_edges_where(
        mesh, ws, [&](uint32_t a, uint32_t b, double length) { return splits_at(rule, {}, a, b, length); });
    sort_longest_first(candidates);
    const uint64_t splits = split_pass(mesh, ws, rule, {}, candidates);
    if (splits == 0) return total;
    total += splits;
  }
}

// Whether flipping edge (b, c) of live triangle t0 to the diagonal (a, g) would
// turn a new triangle against t0; fills the two new triangles either way.
bool flip_folds_over(const RemeshMesh& mesh, uint32_t t0, uint32_t a, uint32_t g, uint32_t b, uint32_t c,
                     Triangle& first, Triangle& second) {
  const Triangle& old = mesh.triangles[t0];
  const uint32_t u = runs_from(old, b, c) ? b : c;
  const uint32_t v = u == b ? c : b;
  first = {a, g, v};
  second = {g, a, u};
  const Vec3 n0 = face_normal(mesh, old);
  return dot(face_normal(mesh, first), n0) < 0.0 || dot(face_normal(mesh, second), n0) < 0.0;
}

bool improves_valence(const std::vector<uint32_t>& valence, uint32_t a, uint32_t g, uint32_t b, uint32_t c) {
  auto off = [](uint32_t value, int ideal) { return std::abs(static_cast<int64_t>(value) - ideal); };
  const int64_t before = off(valence[b], 6) + off(valence[c], 6) + off(valence[a], 6) + off(valence[g], 6);
  const int64_t after = off(valence[b], 7) + off(valence[c], 7) + off(valence[a], 5) + off(valence[g], 5);
  return after < before;
}

void mark_boundary_vertices(const RemeshMesh& mesh, RemeshWorkspace& ws) {
  ws.fixed.assign(mesh.positions.size(), 0);
  for (uint64_t e = 0; e < ws.edges.size(); ++e) {
    const uint32_t lo = ws.edges.lo(e), hi = ws.edges.hi(e);
    if (lo == hi || live_face_count(mesh, ws.edges.faces(e)) >= 2) continue;
    ws.fixed[lo] = 1;
    ws.fixed[hi] = 1;
  }
}

// Sum of the live triangles' unnormalised normals at each vertex.
void accumulate_vertex_normals(const RemeshMesh& mesh, std::vector<Vec3>& normals) {
  normals.assign(mesh.positions.size(), Vec3{});
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    if (!mesh.is_live(static_cast<uint32_t>(t))) continue;
    const Triangle& tri = mesh.triangles[t];
    const Vec3 n = face_normal(mesh, tri);
    for (uint32_t c : tri) normals[c] += n;
  }
}

uint64_t remove_inverted(RemeshMesh& mesh, RemeshWorkspace& ws) {
  accumulate_vertex_normals(mesh, ws.normals);
  uint64_t count = 0;
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    if (!mesh.is_live(static_cast<uint32_t>(t))) continue;
    const Triangle& tri = mesh.triangles[t];
    const Vec3 corners = ws.normals[tri[0]] + ws.normals[tri[1]] + ws.normals[tri[2]];
    if (dot(face_normal(mesh, tri), corners) < 0.0) {
      mesh.removed[t] = 1;
      ++count;
    }
  }
  return count;
}

uint64_t remove_surplus_non_manifold(RemeshMesh& mesh, RemeshWorkspace& ws) {
  ws.edges.build(mesh);
  uint64_t count = 0;
  for (uint64_t e = 0; e < ws.edges.size(); ++e) {
    uint64_t kept = 0;
    for (uint32_t t : ws.edges.faces(e)) {
      if (!mesh.is_live(t)) continue;
      if (++kept > 2) {
        mesh.removed[t] = 1;
        ++count;
      }
    }
  }
  return count;
}

void remove_degenerate(RemeshMesh& mesh) {
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    if (!mesh.is_live(static_cast<uint32_t>(t))) continue;
    const Triangle& tri = mesh.triangles[t];
    if (repeats_corner(tri) || norm_squared(face_normal(mesh, tri)) < 1e-20) mesh.removed[t] = 1;
  }
}

double corner_angle(Vec3 e, Vec3 f) {
  const double le = norm(e), lf = norm(f);
  if (!(le > 1e-12 && lf > 1e-12)) return 0.0;
  return std::acos(std::clamp(dot(e, f) / (le * lf), -1.0, 1.0));
}

}  // namespace

RemeshMesh RemeshMesh::copy_of(std::span<const Vec3> positions, std::span<const Triangle> triangles) {
  RemeshMesh mesh;
  mesh.positions.assign(positions.begin(), positions.end());
  mesh.triangles.assign(triangles.begin(), triangles.end());
  mesh.removed.assign(triangles.size(), 0);
  return mesh;
}

uint64_t RemeshMesh::live_count() const {
  return static_cast<uint64_t>(std::count(removed.begin(), removed.end(), uint8_t{0}));
}

void EdgeFaceMap::build(const RemeshMesh& mesh) {
  const size_t n = mesh.positions.size();
  bucket_start_.assign(n + 1, 0);
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    if (!mesh.is_live(static_cast<uint32_t>(t))) continue;
    const Triangle& tri = mesh.triangles[t];
    for (int i = 0; i < 3; ++i) ++bucket_start_[std::min(tri[i], tri[(i + 1) % 3]) + 1];
  }
  for (size_t v = 0; v < n; ++v) bucket_start_[v + 1] += bucket_start_[v];
  half_edges_.resize(bucket_start_[n]);
  cursor_.assign(bucket_start_.begin(), bucket_start_.end() - 1);
  // Triangles are visited in index order, so each bucket lists them increasingly.
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    if (!mesh.is_live(static_cast<uint32_t>(t))) continue;
    const Triangle& tri = mesh.triangles[t];
    for (int i = 0; i < 3; ++i) {
      const uint32_t x = tri[i], y = tri[(i + 1) % 3];
      half_edges_[cursor_[std::min(x, y)]++] = {std::max(x, y), static_cast<uint32_t>(t)};
    }
  }
  lo_.clear();
  hi_.clear();
  faces_.clear();
  face_start_.clear();
  for (size_t v = 0; v < n; ++v) {
    const auto first = half_edges_.begin() + static_cast<ptrdiff_t>(bucket_start_[v]);
    const auto last = half_edges_.begin() + static_cast<ptrdiff_t>(bucket_start_[v + 1]);
    std::sort(first, last, [](HalfEdge x, HalfEdge y) { return x.hi != y.hi ? x.hi < y.hi : x.face < y.face; });
    append_edges_of(static_cast<uint32_t>(v), {first, last});
  }
  face_start_.push_back(faces_.size());
}

void EdgeFaceMap::build_from(const RemeshMesh& mesh, std::span<const uint32_t> triangles) {
  keyed_.clear();
  for (uint32_t t : triangles) {
    const Triangle& tri = mesh.triangles[t];
    for (int i = 0; i < 3; ++i) {
      const uint32_t x = tri[i], y = tri[(i + 1) % 3];
      keyed_.push_back({std::min(x, y), std::max(x, y), t});
    }
  }
  std::sort(keyed_.begin(), keyed_.end(), [](KeyedHalfEdge x, KeyedHalfEdge y) {
    return x.lo != y.lo ? x.lo < y.lo : (x.hi != y.hi ? x.hi < y.hi : x.face < y.face);
  });
  half_edges_.resize(keyed_.size());
  std::transform(keyed_.begin(), keyed_.end(), half_edges_.begin(),
                 [](KeyedHalfEdge h) { return HalfEdge{h.hi, h.face}; });
  lo_.clear();
  hi_.clear();
  faces_.clear();
  face_start_.clear();
  for (size_t first = 0; first < keyed_.size();) {
    size_t last = first;
    while (last < keyed_.size() && keyed_[last].lo == keyed_[first].lo) ++last;
    append_edges_of(keyed_[first].lo, std::span<const HalfEdge>(half_edges_).subspan(first, last - first));
    first = last;
  }
  face_start_.push_back(faces_.size());
}

// Appends the edges of one smaller endpoint from its half-edges sorted by
// larger endpoint and face.
void EdgeFaceMap::append_edges_of(uint32_t lo, std::span<const HalfEdge> sorted) {
  for (size_t i = 0; i < sorted.size(); ++i) {
    if (i == 0 || sorted[i - 1].hi != sorted[i].hi) {
      face_start_.push_back(faces_.size());
      lo_.push_back(lo);
      hi_.push_back(sorted[i].hi);
    }
    faces_.push_back(sorted[i].face);
  }
}

uint64_t EdgeFaceMap::find(uint32_t a, uint32_t b) const {
  const uint32_t lo = std::min(a, b), hi = std::max(a, b);
  uint64_t first = 0, count = lo_.size();
  while (count > 0) {  // lower bound of (lo, hi) in key order
    const uint64_t half = count / 2, mid = first + half;
    if (lo_[mid] < lo || (lo_[mid] == lo && hi_[mid] < hi)) {
      first = mid + 1;
      count -= half + 1;
    } else {
      count = half;
    }
  }
  return first < lo_.size() && lo_[first] == lo && hi_[first] == hi ? first : kNone;
}

void VertexFaceMap::build(const RemeshMesh& mesh) {
  const size_t n = mesh.positions.size();
  start_.assign(n + 1, 0);
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    if (!mesh.is_live(static_cast<uint32_t>(t))) continue;
    for (uint32_t c : mesh.triangles[t]) ++start_[c + 1];
  }
  for (size_t v = 0; v < n; ++v) start_[v + 1] += start_[v];
  faces_.resize(start_[n]);
  // The start array doubles as the fill cursor; afterwards entry v holds the
  // start of v + 1, so shifting it by one slot restores it.
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    if (!mesh.is_live(static_cast<uint32_t>(t))) continue;
    for (uint32_t c : mesh.triangles[t]) faces_[start_[c]++] = static_cast<uint32_t>(t);
  }
  for (size_t v = n; v > 0; --v) start_[v] = start_[v - 1];
  start_[0] = 0;
}

void TouchedSet::clear() {
  if (++current_ == 0) {
    std::fill(stamp_.begin(), stamp_.end(), 0u);
    current_ = 1;
  }
}

void TouchedSet::insert(uint32_t v) {
  if (v >= stamp_.size()) stamp_.resize(std::max<size_t>(v + size_t{1}, stamp_.size() * 2), 0u);
  stamp_[v] = current_;
}

double LengthRule::target(std::span<const double> curvature, uint32_t a, uint32_t b) const {
  if (!adaptive) return base;
  return base * (max_factor + (min_factor - max_factor) * (curvature[a] + curvature[b]) / 2.0);
}

void ring(const RemeshMesh& mesh, const VertexFaceMap& vertex_faces, uint32_t v, std::vector<uint32_t>& out) {
  out.clear();
  for (uint32_t t : vertex_faces.faces(v)) {
    if (!mesh.is_live(t)) continue;
    for (uint32_t c : mesh.triangles[t]) {
      if (c != v) out.push_back(c);
    }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
}

void split_edge(RemeshMesh& mesh, const EdgeFaceMap& edges, uint64_t e) {
  const uint32_t a = edges.lo(e), b = edges.hi(e);
  const uint32_t m = append_vertex(mesh, (mesh.positions[a] + mesh.positions[b]) / 2.0);
  for (uint32_t t : edges.faces(e)) {
    if (!mesh.is_live(t)) continue;
    const Triangle tri = mesh.triangles[t];
    // A triangle repeating a or b has no opposite corner; it is left for the cleanup.
    const std::optional<uint32_t> opposite = third_corner(tri, a, b);
    if (!opposite) continue;
    const uint32_t u = runs_from(tri, a, b) ? a : b;
    const uint32_t v = u == a ? b : a;
    mesh.removed[t] = 1;
    append_triangle(mesh, {u, m, *opposite});
    append_triangle(mesh, {m, v, *opposite});
  }
}

bool collapse_edge(RemeshMesh& mesh, RemeshWorkspace& ws, uint32_t a, uint32_t b) {
  if (a == b) return false;
  const uint64_t e = ws.edges.find(a, b);
  if (e == EdgeFaceMap::kNone) return false;
  const std::span<const uint32_t> edge_faces = ws.edges.faces(e);
  if (live_face_count(mesh, edge_faces) < 2) return false;
  ring(mesh, ws.vertex_faces, a, ws.ring_a);
  ring(mesh, ws.vertex_faces, b, ws.ring_b);
  if (shared_count(ws.ring_a, ws.ring_b) != 2) return false;
  const Vec3 m = (mesh.positions[a] + mesh.positions[b]) / 2.0;
  if (collapse_folds_over(mesh, ws, a, b, edge_faces, m)) return false;

  mesh.positions[a] = m;
  for (uint32_t t : edge_faces) mesh.removed[t] = 1;
  for (uint32_t t : ws.vertex_faces.faces(b)) {
    if (!mesh.is_live(t)) continue;
    Triangle& tri = mesh.triangles[t];
    for (uint32_t& c : tri) {
      if (c == b) c = a;
    }
    if (repeats_corner(tri)) mesh.removed[t] = 1;
  }
  return true;
}

uint64_t flip_pass(RemeshMesh& mesh, RemeshWorkspace& ws) {
  ws.edges.build(mesh);
  ws.vertex_faces.build(mesh);
  // Valences as ring() would give them at query time: a flip removes two
  // triangles listed only for its four vertices, so only those are refreshed.
  ws.valence.assign(mesh.positions.size(), 0);
  for (uint32_t v = 0; v < indexable_vertex_count(mesh); ++v) ws.valence[v] = valence(mesh, ws.vertex_faces, v, ws.ring_a);

  uint64_t flips = 0;
  for (uint64_t e = 0; e < ws.edges.size(); ++e) {
    const uint32_t b = ws.edges.lo(e), c = ws.edges.hi(e);
    uint32_t live[2];
    uint64_t live_count = 0;
    for (uint32_t t : ws.edges.faces(e)) {
      if (!mesh.is_live(t)) continue;
      if (live_count < 2) live[live_count] = t;
      ++live_count;
    }
    if (b == c || live_count != 2) continue;
    const std::optional<uint32_t> a = third_corner(mesh.triangles[live[0]], b, c);
    const std::optional<uint32_t> g = third_corner(mesh.triangles[live[1]], b, c);
    // Equal opposite corners would make the new diagonal a loop.
    if (!a || !g || *a == *g) continue;
    const uint64_t diagonal = ws.edges.find(*a, *g);
    if (diagonal != EdgeFaceMap::kNone && live_face_count(mesh, ws.edges.faces(diagonal)) > 0) continue;
    if (!improves_valence(ws.valence, *a, *g, b, c)) continue;
    Triangle first, second;
    if (flip_folds_over(mesh, live[0], *a, *g, b, c, first, second)) continue;

    mesh.removed[live[0]] = 1;
    mesh.removed[live[1]] = 1;
    append_triangle(mesh, first);
    append_triangle(mesh, second);
    for (uint32_t v : {*a, *g, b, c}) ws.valence[v] = valence(mesh, ws.vertex_faces, v, ws.ring_a);
    ++flips;
  }
  return flips;
}

void relax_tangential(RemeshMesh& mesh, RemeshWorkspace& ws, double weight) {
  ws.vertex_faces.build(mesh);
  ws.edges.build(mesh);
  mark_boundary_vertices(mesh, ws);
  accumulate_vertex_normals(mesh, ws.normals);
  for (Vec3& n : ws.normals) {
    const double length = norm(n);
    if (length > 1e-12) n = n / length;
  }
  ws.relaxed.assign(mesh.positions.begin(), mesh.positions.end());
  for (uint32_t v = 0; v < indexable_vertex_count(mesh); ++v) {
    if (ws.fixed[v]) continue;
    ring(mesh, ws.vertex_faces, v, ws.ring_a);
    if (ws.ring_a.empty()) continue;
    Vec3 centre{};
    for (uint32_t w : ws.ring_a) centre += mesh.positions[w];
    centre = centre / static_cast<double>(ws.ring_a.size());
    const Vec3 d = weight * (centre - mesh.positions[v]);
    const Vec3 n = ws.normals[v];
    ws.relaxed[v] = mesh.positions[v] + d - n * dot(n, d);
  }
  mesh.positions.swap(ws.relaxed);
}

std::vector<double> curvature_field(const RemeshMesh& mesh) {
  std::vector<double> angle_sum(mesh.positions.size(), 0.0);
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    if (!mesh.is_live(static_cast<uint32_t>(t))) continue;
    const Triangle& tri = mesh.triangles[t];
    for (int i = 0; i < 3; ++i) {
      const Vec3 p = mesh.positions[tri[i]];
      const Vec3 next = mesh.positions[tri[(i + 1) % 3]];
      const Vec3 prev = mesh.positions[tri[(i + 2) % 3]];
      angle_sum[tri[i]] += corner_angle(next - p, prev - p);
    }
  }
  std::vector<double> curvature(angle_sum.size());
  std::vector<double> positive;
  for (size_t v = 0; v < angle_sum.size(); ++v) {
    curvature[v] = std::abs(2.0 * std::numbers::pi - angle_sum[v]);
    if (curvature[v] > 0.0) positive.push_back(curvature[v]);
  }
  if (positive.empty()) return curvature;
  const size_t c = positive.size();
  const size_t position = std::min(c - 1, static_cast<size_t>(std::floor(0.95 * static_cast<double>(c))));
  std::nth_element(positive.begin(), positive.begin() + static_cast<ptrdiff_t>(position), positive.end());
  const double reference = std::max(positive[position], 1e-10);
  for (double& k : curvature) k = std::clamp(k / reference, 0.0, 1.0);
  return curvature;
}

std::vector<EdgeCandidate> split_candidates(const RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule,
                                            std::span<const double> curvature) {
  std::vector<EdgeCandidate> candidates = edges_where(mesh, ws, [&](uint32_t a, uint32_t b, double length) {
    return splits_at(rule, curvature, a, b, length);
  });
  sort_longest_first(candidates);
  return candidates;
}

std::vector<EdgeCandidate> collapse_candidates(const RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule,
                                               std::span<const double> curvature) {
  std::vector<EdgeCandidate> candidates = edges_where(mesh, ws, [&](uint32_t a, uint32_t b, double length) {
    return a != b && length < rule.collapse_below(curvature, a, b);
  });
  sort_shortest_first(candidates);
  return candidates;
}

uint64_t split_phase(RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule) {
  return rule.adaptive ? adaptive_split_phase(mesh, ws, rule) : uniform_split_phase(mesh, ws, rule);
}

uint64_t collapse_pass(RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule) {
  const std::vector<double> curvature = curvature_for(mesh, rule);
  const std::vector<EdgeCandidate> candidates = collapse_candidates(mesh, ws, rule, curvature);
  ws.vertex_faces.build(mesh);
  ws.touched.clear();
  uint64_t collapses = 0;
  for (const EdgeCandidate& candidate : candidates) {
    const uint32_t a = ws.edges.lo(candidate.edge), b = ws.edges.hi(candidate.edge);
    if (ws.touched.contains(a) || ws.touched.contains(b)) continue;
    if (!collapse_edge(mesh, ws, a, b)) continue;
    ws.touched.insert(a);
    ws.touched.insert(b);
    touch_live_corners(mesh, ws, a);
    touch_live_corners(mesh, ws, b);
    ++collapses;
  }
  return collapses;
}

Mesh cleanup_remesh(RemeshMesh& mesh, RemeshWorkspace& ws) {
  remove_degenerate(mesh);
  uint64_t count = remove_inverted(mesh, ws);
  count += remove_surplus_non_manifold(mesh, ws);
  if (count > 0) write_console(fmt::format("    Cleanup: removed {} bad triangles\n", count));
  compact(mesh);
  return Mesh{std::move(mesh.positions), std::move(mesh.triangles)};
}

void compact(RemeshMesh& mesh) {
  constexpr uint32_t kUnused = std::numeric_limits<uint32_t>::max();
  std::vector<uint32_t> renumber(mesh.positions.size(), kUnused);
  size_t kept_triangles = 0;
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    if (!mesh.is_live(static_cast<uint32_t>(t))) continue;
    for (uint32_t c : mesh.triangles[t]) renumber[c] = 0;
    mesh.triangles[kept_triangles++] = mesh.triangles[t];
  }
  mesh.triangles.resize(kept_triangles);
  uint32_t kept_vertices = 0;
  for (size_t v = 0; v < renumber.size(); ++v) {
    if (renumber[v] == kUnused) continue;
    renumber[v] = kept_vertices;
    mesh.positions[kept_vertices++] = mesh.positions[v];
  }
  mesh.positions.resize(kept_vertices);
  for (Triangle& tri : mesh.triangles) {
    for (uint32_t& c : tri) c = renumber[c];
  }
  mesh.removed.assign(kept_triangles, 0);
}

}  // namespace vorrel
