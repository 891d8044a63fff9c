#include "core/remesh_ops.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>

#include <fmt/format.h>
#include <tbb/parallel_sort.h>

#include "core/parallel.h"
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

// Up to this many neighbours a linear search dedupes faster than sorting.
constexpr uint32_t kShortRing = 32;

// The size of ring(v), counted without sorting while the ring is short.
uint32_t valence(const RemeshMesh& mesh, const VertexFaceMap& vertex_faces, uint32_t v, std::vector<uint32_t>& scratch) {
  uint32_t seen[kShortRing];
  uint32_t count = 0;
  for (uint32_t t : vertex_faces.faces(v)) {
    if (!mesh.is_live(t)) continue;
    for (uint32_t c : mesh.triangles[t]) {
      if (c == v || std::find(seen, seen + count, c) != seen + count) continue;
      if (count == kShortRing) {
        ring(mesh, vertex_faces, v, scratch);
        return static_cast<uint32_t>(scratch.size());
      }
      seen[count++] = c;
    }
  }
  return count;
}

uint32_t append_vertex(RemeshMesh& mesh, Vec3 p) {
  mesh.positions.push_back(p);
  return static_cast<uint32_t>(mesh.positions.size() - 1);
}

void append_triangle(RemeshMesh& mesh, Triangle t) {
  mesh.triangles.push_back(t);
  mesh.removed.push_back(0);
}

// Indices scanned per task by append_where.
constexpr size_t kScanBlock = 4096;

// Appends to `out` the values pick(i) has for i in [begin, end), in index
// order: blocks are scanned in parallel and their finds appended in block order.
template <class T, class Pick>
void append_where(size_t begin, size_t end, std::vector<T>& out, Pick&& pick) {
  if (begin >= end) return;
  const size_t blocks = (end - begin + kScanBlock - 1) / kScanBlock;
  const std::vector<std::vector<T>> found = parallel_collect<std::vector<T>>(blocks, [&](size_t block) {
    std::vector<T> kept;
    for (size_t i = begin + block * kScanBlock; i < std::min(end, begin + (block + 1) * kScanBlock); ++i) {
      if (std::optional<T> value = pick(i)) kept.push_back(*value);
    }
    return kept;
  });
  for (const std::vector<T>& block : found) out.insert(out.end(), block.begin(), block.end());
}

// Returns the edges of ws.edges (in key order) whose endpoints and length
// satisfy `keep`.
template <class Keep>
std::vector<EdgeCandidate> mapped_edges_where(const RemeshMesh& mesh, const RemeshWorkspace& ws, Keep&& keep) {
  std::vector<EdgeCandidate> candidates;
  append_where(0, ws.edges.size(), candidates, [&](size_t e) -> std::optional<EdgeCandidate> {
    const uint32_t a = ws.edges.lo(e), b = ws.edges.hi(e);
    const double length = edge_length(mesh, a, b);
    if (!keep(a, b, length)) return {};
    return EdgeCandidate{length, e};
  });
  return candidates;
}

// Builds ws.vertex_faces and ws.edges from the current mesh.
void build_maps(const RemeshMesh& mesh, RemeshWorkspace& ws) {
  ws.vertex_faces.build(mesh);
  ws.edges.build(mesh);
}

// Both orders are strict total orders (edge indices are distinct and numbered
// in key order, so they break length ties by key): the sorted sequence is
// unique, whatever algorithm and thread count produce it.
void sort_longest_first(std::vector<EdgeCandidate>& candidates) {
  tbb::parallel_sort(candidates.begin(), candidates.end(), [](const EdgeCandidate& x, const EdgeCandidate& y) {
    return x.length != y.length ? x.length > y.length : x.edge < y.edge;
  });
}

void sort_shortest_first(std::vector<EdgeCandidate>& candidates) {
  tbb::parallel_sort(candidates.begin(), candidates.end(), [](const EdgeCandidate& x, const EdgeCandidate& y) {
    return x.length != y.length ? x.length < y.length : x.edge < y.edge;
  });
}

// A non-finite length would split forever without getting shorter.
bool splits_at(const LengthRule& rule, std::span<const double> curvature, uint32_t a, uint32_t b, double length) {
  return std::isfinite(length) && length > rule.split_above(curvature, a, b);
}

// Builds both maps and returns the curvature field an adaptive rule reads,
// computed from the vertex map; a uniform rule reads none.
std::vector<double> build_maps_and_curvature(const RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule) {
  build_maps(mesh, ws);
  if (!rule.adaptive) return {};
  return curvature_field(mesh, ws.vertex_faces);
}

// Edges of the built maps over the rule's split threshold, longest first.
std::vector<EdgeCandidate> mapped_split_candidates(const RemeshMesh& mesh, const RemeshWorkspace& ws,
                                                   const LengthRule& rule, std::span<const double> curvature) {
  std::vector<EdgeCandidate> candidates = mapped_edges_where(
      mesh, ws, [&](uint32_t a, uint32_t b, double length) { return splits_at(rule, curvature, a, b, length); });
  sort_longest_first(candidates);
  return candidates;
}

// Edges of the built maps under the rule's collapse threshold, shortest first.
std::vector<EdgeCandidate> mapped_collapse_candidates(const RemeshMesh& mesh, const RemeshWorkspace& ws,
                                                      const LengthRule& rule, std::span<const double> curvature) {
  std::vector<EdgeCandidate> candidates = mapped_edges_where(mesh, ws, [&](uint32_t a, uint32_t b, double length) {
    return a != b && length < rule.collapse_below(curvature, a, b);
  });
  sort_shortest_first(candidates);
  return candidates;
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
    const std::vector<double> curvature = build_maps_and_curvature(mesh, ws, rule);
    const uint64_t splits = split_pass(mesh, ws, rule, curvature, mapped_split_candidates(mesh, ws, rule, curvature));
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
  append_where(first_new, mesh.triangles.size(), listed, [&](size_t t) -> std::optional<uint32_t> {
    if (!mesh.is_live(static_cast<uint32_t>(t)) || !has_split_edge(mesh, rule, mesh.triangles[t])) return {};
    return static_cast<uint32_t>(t);
  });
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

// The quad of map edge e, when it has exactly two live triangles with
// distinct opposite corners.
std::optional<FlipQuad> flip_quad(const RemeshMesh& mesh, const EdgeFaceMap& edges, uint64_t e) {
  const uint32_t b = edges.lo(e), c = edges.hi(e);
  uint32_t live[2];
  uint64_t live_count = 0;
  for (uint32_t t : edges.faces(e)) {
    if (!mesh.is_live(t)) continue;
    if (live_count < 2) live[live_count] = t;
    ++live_count;
  }
  if (b == c || live_count != 2) return std::nullopt;
  const std::optional<uint32_t> a = third_corner(mesh.triangles[live[0]], b, c);
  const std::optional<uint32_t> g = third_corner(mesh.triangles[live[1]], b, c);
  // Equal opposite corners would make the new diagonal a loop.
  if (!a || !g || *a == *g) return std::nullopt;
  return FlipQuad{b, c, *a, *g, live[0], live[1]};
}

// The two triangles replacing the quad's, wound like t0.
std::pair<Triangle, Triangle> flipped_triangles(const RemeshMesh& mesh, const FlipQuad& q) {
  const uint32_t u = runs_from(mesh.triangles[q.t0], q.b, q.c) ? q.b : q.c;
  const uint32_t v = u == q.b ? q.c : q.b;
  return {{q.a, q.g, v}, {q.g, q.a, u}};
}

// Whether a new triangle would turn against t0.
bool flip_folds_over(const RemeshMesh& mesh, const FlipQuad& q) {
  const auto [first, second] = flipped_triangles(mesh, q);
  const Vec3 n0 = face_normal(mesh, mesh.triangles[q.t0]);
  return dot(face_normal(mesh, first), n0) < 0.0 || dot(face_normal(mesh, second), n0) < 0.0;
}

// Whether the flip brings the four valences closer to 6; valence_of(v) gives
// the valence of v.
template <class ValenceOf>
bool improves_valence(const FlipQuad& q, ValenceOf&& valence_of) {
  auto off = [](uint32_t value, int ideal) { return std::abs(static_cast<int64_t>(value) - ideal); };
  const uint32_t vb = valence_of(q.b), vc = valence_of(q.c), va = valence_of(q.a), vg = valence_of(q.g);
  const int64_t before = off(vb, 6) + off(vc, 6) + off(va, 6) + off(vg, 6);
  const int64_t after = off(vb, 7) + off(vc, 7) + off(va, 5) + off(vg, 5);
  return after < before;
}

// Whether `edge` is a map edge (not kNone) with a live triangle.
bool in_use(const RemeshMesh& mesh, const EdgeFaceMap& edges, uint64_t edge) {
  return edge != EdgeFaceMap::kNone && live_face_count(mesh, edges.faces(edge)) > 0;
}

// Whether the quad is flipped: its new diagonal is not a mapped edge with a
// live triangle, the valences improve and no triangle folds over.
template <class ValenceOf>
bool flip_wanted(const RemeshMesh& mesh, const EdgeFaceMap& edges, const FlipQuad& q, ValenceOf&& valence_of) {
  return !in_use(mesh, edges, edges.find(q.a, q.g)) && improves_valence(q, valence_of) && !flip_folds_over(mesh, q);
}

// Removal is the only change a flip pass makes to mapped triangles, so live
// face counts only fall: an edge with fewer than two live triangles, or two
// that make no quad, stays unflippable, and a quad stays the same while both
// its triangles live. Only an edge with more than two live triangles can turn
// into a quad later. The fold-over test is left for later unless the quad
// improves the valences as they are now, since most quads never get that far.
FlipPlan plan_flip(const RemeshMesh& mesh, const EdgeFaceMap& edges, const std::vector<uint32_t>& valence,
                   uint64_t e) {
  uint64_t live = 0;
  for (uint32_t t : edges.faces(e)) live += mesh.is_live(t) ? 1 : 0;
  if (live > 2 && edges.lo(e) != edges.hi(e)) return {.kind = FlipPlan::kRejudge};
  const std::optional<FlipQuad> quad = flip_quad(mesh, edges, e);
  if (!quad) return {.kind = FlipPlan::kNever};
  const uint64_t diagonal = edges.find(quad->a, quad->g);
  const bool improves = improves_valence(*quad, [&](uint32_t v) { return valence[v]; });
  return {.quad = *quad,
          .diagonal = in_use(mesh, edges, diagonal) ? diagonal : EdgeFaceMap::kNone,
          .kind = FlipPlan::kQuad,
          .fold = !improves ? FlipPlan::kUntested : flip_folds_over(mesh, *quad) ? FlipPlan::kFolds : FlipPlan::kKeeps};
}

// Edges of fewer than two live triangles fix both their ends; several edges
// may mark one vertex, each storing the same 1.
void mark_boundary_vertices(const RemeshMesh& mesh, RemeshWorkspace& ws) {
  ws.fixed.resize(mesh.positions.size());
  parallel_for(0, ws.fixed.size(), [&](size_t v) { ws.fixed[v] = 0; });
  parallel_for(0, ws.edges.size(), [&](size_t e) {
    const uint32_t lo = ws.edges.lo(e), hi = ws.edges.hi(e);
    if (lo == hi || live_face_count(mesh, ws.edges.faces(e)) >= 2) return;
    std::atomic_ref<uint8_t>(ws.fixed[lo]).store(1, std::memory_order_relaxed);
    std::atomic_ref<uint8_t>(ws.fixed[hi]).store(1, std::memory_order_relaxed);
  });
}

// The unnormalised normal of every live triangle (removed ones are not read).
void compute_face_normals(const RemeshMesh& mesh, std::vector<Vec3>& face_normals) {
  face_normals.resize(mesh.triangles.size());
  parallel_for(0, mesh.triangles.size(), [&](size_t t) {
    if (mesh.is_live(static_cast<uint32_t>(t))) face_normals[t] = face_normal(mesh, mesh.triangles[t]);
  });
}

// Sum of the normals of v's live triangles, added in increasing triangle
// order and once per corner v takes: the same additions, in the same order,
// as scattering every triangle's normal to its corners in index order.
Vec3 vertex_normal_sum(const VertexFaceMap& vertex_faces, std::span<const Vec3> face_normals, uint32_t v) {
  Vec3 sum{};
  for (uint32_t t : vertex_faces.faces(v)) sum += face_normals[t];
  return sum;
}

// v moved by `weight` towards the centre of its ring, along the tangent
// plane of its normal; v itself when its ring is empty.
Vec3 umbrella_step(const RemeshMesh& mesh, const VertexFaceMap& vertex_faces, std::span<const Vec3> face_normals,
                   uint32_t v, double weight, std::vector<uint32_t>& neighbours) {
  ring(mesh, vertex_faces, v, neighbours);
  if (neighbours.empty()) return mesh.positions[v];
  Vec3 centre{};
  for (uint32_t w : neighbours) centre += mesh.positions[w];
  centre = centre / static_cast<double>(neighbours.size());
  const Vec3 d = weight * (centre - mesh.positions[v]);
  Vec3 n = vertex_normal_sum(vertex_faces, face_normals, v);
  const double length = norm(n);
  if (length > 1e-12) n = n / length;
  return mesh.positions[v] + d - n * dot(n, d);
}

uint64_t remove_inverted(RemeshMesh& mesh, RemeshWorkspace& ws) {
  ws.vertex_faces.build(mesh);
  compute_face_normals(mesh, ws.face_normals);
  ws.normals.resize(mesh.positions.size());
  parallel_map(ws.normals,
               [&](size_t v) { return vertex_normal_sum(ws.vertex_faces, ws.face_normals, static_cast<uint32_t>(v)); });
  // The normals are summed before any removal, and a test reads no other
  // triangle's flag, so the tests are independent.
  const uint64_t live_before = mesh.live_count();
  parallel_for(0, mesh.triangles.size(), [&](size_t t) {
    if (!mesh.is_live(static_cast<uint32_t>(t))) return;
    const Triangle& tri = mesh.triangles[t];
    const Vec3 corners = ws.normals[tri[0]] + ws.normals[tri[1]] + ws.normals[tri[2]];
    if (dot(ws.face_normals[t], corners) < 0.0) mesh.removed[t] = 1;
  });
  return live_before - mesh.live_count();
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
  parallel_for(0, mesh.triangles.size(), [&](size_t t) {
    if (!mesh.is_live(static_cast<uint32_t>(t))) return;
    const Triangle& tri = mesh.triangles[t];
    if (repeats_corner(tri) || norm_squared(face_normal(mesh, tri)) < 1e-20) mesh.removed[t] = 1;
  });
}

double corner_angle(Vec3 e, Vec3 f) {
  const double le = norm(e), lf = norm(f);
  if (!(le > 1e-12 && lf > 1e-12)) return 0.0;
  return std::acos(std::clamp(dot(e, f) / (le * lf), -1.0, 1.0));
}

// Sum of the corner angles at v of its live triangles, added in increasing
// triangle order and corner order: the order a scatter over the triangles in
// index order would add them in.
double angle_sum(const RemeshMesh& mesh, const VertexFaceMap& vertex_faces, uint32_t v) {
  const std::span<const uint32_t> faces = vertex_faces.faces(v);
  double sum = 0.0;
  for (size_t i = 0; i < faces.size(); ++i) {
    if (i > 0 && faces[i] == faces[i - 1]) continue;  // listed once per corner; all corners are visited below
    const Triangle& tri = mesh.triangles[faces[i]];
    for (int j = 0; j < 3; ++j) {
      if (tri[j] != v) continue;
      const Vec3 p = mesh.positions[tri[j]];
      sum += corner_angle(mesh.positions[tri[(j + 1) % 3]] - p, mesh.positions[tri[(j + 2) % 3]] - p);
    }
  }
  return sum;
}

}  // namespace

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

// Flips are committed one by one in edge order, each seeing the ones before.
// What does not change during the pass (the quad, whether it folds over, the
// diagonal's map edge) is worked out for all edges in parallel first; the sequence then
// checks only liveness and valences, which earlier flips change.
uint64_t flip_pass(RemeshMesh& mesh, RemeshWorkspace& ws) {
  build_maps(mesh, ws);
  // Valences as ring() would give them at query time: a flip removes two
  // triangles listed only for its four vertices, so only those go stale.
  const size_t indexable = indexable_vertex_count(mesh);
  ws.valence.resize(mesh.positions.size());
  ws.stale.resize(mesh.positions.size());
  parallel_for_chunks(0, mesh.positions.size(), [&](size_t first, size_t last) {
    std::vector<uint32_t> scratch;
    for (size_t v = first; v < last; ++v) {
      ws.valence[v] = v < indexable ? valence(mesh, ws.vertex_faces, static_cast<uint32_t>(v), scratch) : 0;
      ws.stale[v] = 0;
    }
  });
  ws.flip_plans.resize(ws.edges.size());
  parallel_for(0, ws.edges.size(), [&](size_t e) { ws.flip_plans[e] = plan_flip(mesh, ws.edges, ws.valence, e); });

  const auto current_valence = [&](uint32_t v) {
    if (ws.stale[v]) {
      ws.valence[v] = valence(mesh, ws.vertex_faces, v, ws.ring_a);
      ws.stale[v] = 0;
    }
    return ws.valence[v];
  };
  uint64_t flips = 0;
  for (uint64_t e = 0; e < ws.edges.size(); ++e) {
    const FlipPlan& plan = ws.flip_plans[e];
    std::optional<FlipQuad> quad;
    if (plan.kind == FlipPlan::kQuad) {
      const FlipQuad& q = plan.quad;
      if (!mesh.is_live(q.t0) || !mesh.is_live(q.t1) || plan.fold == FlipPlan::kFolds) continue;
      if (in_use(mesh, ws.edges, plan.diagonal) || !improves_valence(q, current_valence)) continue;
      if (plan.fold == FlipPlan::kUntested && flip_folds_over(mesh, q)) continue;
      quad = q;
    } else if (plan.kind == FlipPlan::kRejudge) {
      quad = flip_quad(mesh, ws.edges, e);
      if (!quad || !flip_wanted(mesh, ws.edges, *quad, current_valence)) continue;
    } else {
      continue;
    }
    const auto [first, second] = flipped_triangles(mesh, *quad);
    mesh.removed[quad->t0] = 1;
    mesh.removed[quad->t1] = 1;
    append_triangle(mesh, first);
    append_triangle(mesh, second);
    for (uint32_t v : {quad->a, quad->g, quad->b, quad->c}) ws.stale[v] = 1;
    ++flips;
  }
  return flips;
}

void relax_tangential(RemeshMesh& mesh, RemeshWorkspace& ws, double weight) {
  build_maps(mesh, ws);
  mark_boundary_vertices(mesh, ws);
  compute_face_normals(mesh, ws.face_normals);
  const size_t indexable = indexable_vertex_count(mesh);
  ws.relaxed.resize(mesh.positions.size());
  // Each step reads the positions from before the pass only.
  parallel_for_chunks(0, mesh.positions.size(), [&](size_t first, size_t last) {
    std::vector<uint32_t> neighbours;
    for (size_t v = first; v < last; ++v) {
      ws.relaxed[v] = v < indexable && !ws.fixed[v]
                          ? umbrella_step(mesh, ws.vertex_faces, ws.face_normals, static_cast<uint32_t>(v), weight,
                                          neighbours)
                          : mesh.positions[v];
    }
  });
  mesh.positions.swap(ws.relaxed);
}

std::vector<double> curvature_field(const RemeshMesh& mesh) {
  VertexFaceMap vertex_faces;
  vertex_faces.build(mesh);
  return curvature_field(mesh, vertex_faces);
}

std::vector<double> curvature_field(const RemeshMesh& mesh, const VertexFaceMap& vertex_faces) {
  std::vector<double> curvature(mesh.positions.size());
  parallel_map(curvature, [&](size_t v) {
    return std::abs(2.0 * std::numbers::pi - angle_sum(mesh, vertex_faces, static_cast<uint32_t>(v)));
  });
  std::vector<double> positive;
  for (double k : curvature) {
    if (k > 0.0) positive.push_back(k);
  }
  if (positive.empty()) return curvature;
  const size_t c = positive.size();
  const size_t position = std::min(c - 1, static_cast<size_t>(std::floor(0.95 * static_cast<double>(c))));
  std::nth_element(positive.begin(), positive.begin() + static_cast<ptrdiff_t>(position), positive.end());
  const double reference = std::max(positive[position], 1e-10);
  parallel_for(0, curvature.size(), [&](size_t v) { curvature[v] = std::clamp(curvature[v] / reference, 0.0, 1.0); });
  return curvature;
}

std::vector<EdgeCandidate> split_candidates(const RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule,
                                            std::span<const double> curvature) {
  build_maps(mesh, ws);
  return mapped_split_candidates(mesh, ws, rule, curvature);
}

std::vector<EdgeCandidate> collapse_candidates(const RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule,
                                               std::span<const double> curvature) {
  build_maps(mesh, ws);
  return mapped_collapse_candidates(mesh, ws, rule, curvature);
}

uint64_t split_phase(RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule) {
  return rule.adaptive ? adaptive_split_phase(mesh, ws, rule) : uniform_split_phase(mesh, ws, rule);
}

uint64_t collapse_pass(RemeshMesh& mesh, RemeshWorkspace& ws, const LengthRule& rule) {
  const std::vector<double> curvature = build_maps_and_curvature(mesh, ws, rule);
  const std::vector<EdgeCandidate> candidates = mapped_collapse_candidates(mesh, ws, rule, curvature);
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
