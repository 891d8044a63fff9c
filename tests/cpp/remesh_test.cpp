#include "core/remesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "core/marching_cubes.h"
#include "core/remesh_ops.h"
#include "core/sdf.h"
#include "sphere_field.h"
#include "volume_fixtures.h"

namespace vorrel {
namespace {

constexpr double kDegree = std::numbers::pi / 180.0;

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// Runs the remesher and returns its result with the lines it wrote.
struct RemeshRun {
  Mesh mesh;
  std::vector<std::string> lines;
};

RemeshRun remesh(const Mesh& input, const RemeshParams& params) {
  ::testing::internal::CaptureStderr();
  Expected<Mesh> result = isotropic_remesh(input.positions, input.indices, params, nullptr);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(result.ok());
  return {result.ok() ? std::move(result).value() : Mesh{}, split_lines(err)};
}

struct IterLine {
  uint64_t k, splits, collapses, flips, before, after;
};

std::vector<IterLine> iteration_lines(const std::vector<std::string>& lines) {
  std::vector<IterLine> parsed;
  for (const std::string& line : lines) {
    IterLine l{};
    if (std::sscanf(line.c_str(), "    Iter %lu: %lu splits, %lu collapses, %lu flips, %lu -> %lu tris", &l.k,
                    &l.splits, &l.collapses, &l.flips, &l.before, &l.after) == 6) {
      parsed.push_back(l);
    }
  }
  return parsed;
}

Mesh regular_tetrahedron() {
  return {{{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}}, {{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}}};
}

// Closed unit icosphere; `levels` midpoint subdivisions of the icosahedron.
Mesh icosphere(int levels) {
  const double p = (1.0 + std::sqrt(5.0)) / 2.0;
  Mesh mesh{{{-1, p, 0}, {1, p, 0}, {-1, -p, 0}, {1, -p, 0}, {0, -1, p}, {0, 1, p},
             {0, -1, -p}, {0, 1, -p}, {p, 0, -1}, {p, 0, 1}, {-p, 0, -1}, {-p, 0, 1}},
            {{0, 11, 5}, {0, 5, 1}, {0, 1, 7}, {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
             {11, 10, 2}, {10, 7, 6}, {7, 1, 8}, {3, 9, 4}, {3, 4, 2}, {3, 2, 6}, {3, 6, 8},
             {3, 8, 9}, {4, 9, 5}, {2, 4, 11}, {6, 2, 10}, {8, 6, 7}, {9, 8, 1}}};
  for (int level = 0; level < levels; ++level) {
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> midpoints;
    auto midpoint = [&](uint32_t a, uint32_t b) {
      auto [it, inserted] = midpoints.try_emplace({std::min(a, b), std::max(a, b)}, 0);
      if (inserted) {
        mesh.positions.push_back((mesh.positions[a] + mesh.positions[b]) / 2.0);
        it->second = static_cast<uint32_t>(mesh.positions.size() - 1);
      }
      return it->second;
    };
    std::vector<Triangle> finer;
    for (const Triangle& t : mesh.indices) {
      const uint32_t ab = midpoint(t[0], t[1]), bc = midpoint(t[1], t[2]), ca = midpoint(t[2], t[0]);
      finer.insert(finer.end(), {{t[0], ab, ca}, {t[1], bc, ab}, {t[2], ca, bc}, {ab, bc, ca}});
    }
    mesh.indices = std::move(finer);
  }
  for (Vec3& q : mesh.positions) q = q / norm(q);
  return mesh;
}

// (n + 1) × (n + 1) vertices in the z = 0 plane, spacing 1, every square cut
// by the same diagonal, all triangles facing +z.
Mesh flat_grid(uint32_t n) {
  Mesh mesh;
  for (uint32_t y = 0; y <= n; ++y) {
    for (uint32_t x = 0; x <= n; ++x) mesh.positions.push_back({double(x), double(y), 0.0});
  }
  for (uint32_t y = 0; y < n; ++y) {
    for (uint32_t x = 0; x < n; ++x) {
      const uint32_t v = y * (n + 1) + x;
      mesh.indices.push_back({v, v + 1, v + n + 2});
      mesh.indices.push_back({v, v + n + 2, v + n + 1});
    }
  }
  return mesh;
}

RemeshMesh working(const Mesh& mesh) { return RemeshMesh::copy_of(mesh.positions, mesh.indices); }

std::vector<Triangle> live_triangles(const RemeshMesh& mesh) {
  std::vector<Triangle> live;
  for (uint32_t t = 0; t < mesh.triangles.size(); ++t) {
    if (mesh.is_live(t)) live.push_back(mesh.triangles[t]);
  }
  return live;
}

// ---- driver lines and stop rules ------------------------------------------

TEST(RemeshDriver, ZeroIterationsStillWritesTheLineAndCleansUp) {
  // A degenerate triangle and an unused vertex must both be gone afterwards.
  Mesh input = regular_tetrahedron();
  input.positions.push_back({9, 9, 9});
  input.indices.push_back({0, 0, 1});
  RemeshRun run = remesh(input, {.target_edge = 1.0, .iterations = 0});
  EXPECT_EQ(run.lines, std::vector<std::string>{
                           "    Remeshing: target_edge=1.0000, high=1.3333, low=0.8000, 0 iterations"});
  EXPECT_EQ(run.mesh.positions, regular_tetrahedron().positions);
  EXPECT_EQ(run.mesh.indices, regular_tetrahedron().indices);
}

TEST(RemeshDriver, AdaptiveZeroIterationsWritesOnlyItsLine) {
  RemeshRun run = remesh(regular_tetrahedron(), {.target_edge = 1.0, .iterations = 0, .adaptive = true});
  EXPECT_EQ(run.lines, std::vector<std::string>{"    Adaptive remeshing: base_target=1.0000, min_factor=0.25, "
                                                "max_factor=3.00, 0 iterations"});
  EXPECT_EQ(run.mesh.indices.size(), 4u);
}

TEST(RemeshDriver, TargetEdgeDefaultsToTheMeanDistinctEdgeLength) {
  // Sides 3, 4 and 5; each side is listed once although two triangles share one.
  const Mesh single{{{0, 0, 0}, {3, 0, 0}, {3, 4, 0}}, {{0, 1, 2}}};
  EXPECT_EQ(remesh(single, {.iterations = 0}).lines[0],
            "    Remeshing: target_edge=4.0000, high=5.3333, low=3.2000, 0 iterations");
  const Mesh doubled{{{0, 0, 0}, {3, 0, 0}, {3, 4, 0}}, {{0, 1, 2}, {0, 2, 1}}};
  EXPECT_EQ(remesh(doubled, {.iterations = 0}).lines[0],
            "    Remeshing: target_edge=4.0000, high=5.3333, low=3.2000, 0 iterations");
}

TEST(RemeshDriver, GivenTargetIsHeldToAQuarterOfTheMeanEdge) {
  // Mean edge 4: a target of 1e-12 (a target-face request on a zero-area
  // input) or anything below 1 becomes 1; a longer one is kept.
  const Mesh single{{{0, 0, 0}, {3, 0, 0}, {3, 4, 0}}, {{0, 1, 2}}};
  for (const auto& [given, line] : std::vector<std::pair<double, std::string>>{
           {1e-12, "    Remeshing: target_edge=1.0000, high=1.3333, low=0.8000, 0 iterations"},
           {0.5, "    Remeshing: target_edge=1.0000, high=1.3333, low=0.8000, 0 iterations"},
           {1.5, "    Remeshing: target_edge=1.5000, high=2.0000, low=1.2000, 0 iterations"}}) {
    EXPECT_EQ(remesh(single, {.target_edge = given, .iterations = 0}).lines[0], line) << given;
  }
}

TEST(RemeshDriver, StopsAfterAnIterationThatChangesNothing) {
  // All edges at the target; every flip would create an existing diagonal;
  // relaxation of a regular tetrahedron is purely normal and so removed.
  const Mesh tetra = regular_tetrahedron();
  RemeshRun run = remesh(tetra, {.target_edge = norm(tetra.positions[0] - tetra.positions[1]), .iterations = 5});
  ASSERT_EQ(run.lines.size(), 2u);
  EXPECT_EQ(run.lines[1], "    Iter 1: 0 splits, 0 collapses, 0 flips, 4 -> 4 tris");
}

TEST(RemeshDriver, AdaptiveRunsEveryIteration) {
  RemeshRun run = remesh(Mesh{}, {.iterations = 3, .adaptive = true});
  ASSERT_EQ(run.lines.size(), 4u);
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(run.lines[k], "    Iter " + std::to_string(k) + ": 0 splits, 0 collapses, 0 flips, 0 -> 0 tris");
  }
  // The uniform driver stops after the first of them.
  EXPECT_EQ(remesh(Mesh{}, {.iterations = 3}).lines.size(), 2u);
}

TEST(RemeshDriver, TargetFacesRaisesTheIterationCountAndStopsEarly) {
  const Mesh sphere = icosphere(3);
  const uint64_t target_faces = 200;
  RemeshRun run = remesh(sphere, {.target_edge = 0.35, .target_faces = target_faces, .iterations = 3});
  EXPECT_EQ(run.lines[0], "    Remeshing: target_edge=0.3500, high=0.4667, low=0.2800, 25 iterations");
  const std::vector<IterLine> iters = iteration_lines(run.lines);
  ASSERT_FALSE(iters.empty());
  for (size_t i = 0; i + 1 < iters.size(); ++i) EXPECT_GT(double(iters[i].after), 1.15 * target_faces);
  EXPECT_LE(double(iters.back().after), 1.15 * target_faces);
  EXPECT_LT(iters.size(), 25u);

  // A target that is already met stops after the first iteration, changes or not.
  const std::vector<IterLine> met =
      iteration_lines(remesh(icosphere(1), {.target_edge = 0.2, .target_faces = 10000, .iterations = 3}).lines);
  ASSERT_EQ(met.size(), 1u);
  EXPECT_GT(met[0].splits, 0u);

  // Adaptive mode ignores the target face count.
  RemeshRun adaptive = remesh(icosphere(1), {.target_faces = 10000, .iterations = 3, .adaptive = true});
  EXPECT_EQ(iteration_lines(adaptive.lines).size(), 3u);
}

TEST(RemeshDriver, OutOfRangeIndexIsAnInternalError) {
  const Mesh bad{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 3, 1}}};
  Expected<Mesh> result = isotropic_remesh(bad.positions, bad.indices, {.iterations = 2}, nullptr);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().message, "index out of range: the index is 3 but the length is 3");
}

// ---- maps -------------------------------------------------------------------

TEST(RemeshMaps, EdgeFaceMapListsLiveTrianglesPerSortedEdge) {
  RemeshMesh mesh = working(Mesh{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{3, 2, 1}, {0, 1, 2}, {1, 0, 3}}});
  mesh.removed[2] = 1;
  EdgeFaceMap edges;
  edges.build(mesh);
  std::vector<std::pair<uint32_t, uint32_t>> keys;
  for (uint64_t e = 0; e < edges.size(); ++e) keys.emplace_back(edges.lo(e), edges.hi(e));
  EXPECT_EQ(keys, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 1}, {0, 2}, {1, 2}, {1, 3}, {2, 3}}));
  const uint64_t shared = edges.find(2, 1);
  ASSERT_NE(shared, EdgeFaceMap::kNone);
  EXPECT_EQ(std::vector<uint32_t>(edges.faces(shared).begin(), edges.faces(shared).end()),
            (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(edges.find(0, 3), EdgeFaceMap::kNone);  // only in the removed triangle

  // Mapping the listed live triangles only gives the same edges and faces.
  EdgeFaceMap listed;
  const std::vector<uint32_t> live = {0, 1};
  listed.build_from(mesh, live);
  ASSERT_EQ(listed.size(), edges.size());
  for (uint64_t e = 0; e < edges.size(); ++e) {
    EXPECT_EQ(listed.lo(e), edges.lo(e));
    EXPECT_EQ(listed.hi(e), edges.hi(e));
    EXPECT_EQ(std::vector<uint32_t>(listed.faces(e).begin(), listed.faces(e).end()),
              std::vector<uint32_t>(edges.faces(e).begin(), edges.faces(e).end()));
  }
  EXPECT_EQ(listed.find(3, 2), edges.find(2, 3));

  VertexFaceMap vertex_faces;
  vertex_faces.build(mesh);
  EXPECT_EQ(std::vector<uint32_t>(vertex_faces.faces(1).begin(), vertex_faces.faces(1).end()),
            (std::vector<uint32_t>{0, 1}));
  std::vector<uint32_t> neighbours;
  ring(mesh, vertex_faces, 1, neighbours);
  EXPECT_EQ(neighbours, (std::vector<uint32_t>{0, 2, 3}));
}

// Marching-cubes sphere of about 50,000 triangles: enough for the maps and
// scans to split their work over several tasks.
Mesh large_sphere_proxy(DistanceField& field) {
  field = unit_sphere_field(112, 1.25);
  const double h = field.cell_size;
  return extract_iso_surface(field.values, 112, 112, 112, field.origin, h, 0.5 * h);
}

TEST(RemeshMaps, LargeMapsMatchAReferenceOnAnyThreadCount) {
  DistanceField field;
  RemeshMesh mesh = working(large_sphere_proxy(field));
  ASSERT_GT(mesh.triangles.size(), 40000u);
  for (size_t t = 0; t < mesh.triangles.size(); t += 7) mesh.removed[t] = 1;
  mesh.triangles[1] = {mesh.triangles[1][0], mesh.triangles[1][0], mesh.triangles[1][2]};  // repeats a corner

  std::map<std::pair<uint32_t, uint32_t>, std::vector<uint32_t>> edge_faces;
  std::vector<std::vector<uint32_t>> vertex_faces(mesh.positions.size());
  for (uint32_t t = 0; t < mesh.triangles.size(); ++t) {
    if (!mesh.is_live(t)) continue;
    const Triangle& tri = mesh.triangles[t];
    for (int i = 0; i < 3; ++i) {
      edge_faces[{std::min(tri[i], tri[(i + 1) % 3]), std::max(tri[i], tri[(i + 1) % 3])}].push_back(t);
      vertex_faces[tri[i]].push_back(t);
    }
  }
  for (auto& [key, faces] : edge_faces) std::sort(faces.begin(), faces.end());

  auto build = [&] {
    EdgeFaceMap edges;
    edges.build(mesh);
    VertexFaceMap by_vertex;
    by_vertex.build(mesh);
    std::map<std::pair<uint32_t, uint32_t>, std::vector<uint32_t>> built_edges;
    for (uint64_t e = 0; e < edges.size(); ++e) {
      EXPECT_TRUE(e == 0 || std::make_pair(edges.lo(e - 1), edges.hi(e - 1)) < std::make_pair(edges.lo(e), edges.hi(e)));
      EXPECT_EQ(edges.find(edges.hi(e), edges.lo(e)), e);
      built_edges[{edges.lo(e), edges.hi(e)}].assign(edges.faces(e).begin(), edges.faces(e).end());
    }
    std::vector<std::vector<uint32_t>> built_vertices;
    for (uint32_t v = 0; v < mesh.positions.size(); ++v) {
      built_vertices.emplace_back(by_vertex.faces(v).begin(), by_vertex.faces(v).end());
    }
    return std::make_pair(built_edges, built_vertices);
  };
  const auto [single, multi] = testing::single_and_multi_threaded(build);
  EXPECT_TRUE(single.first == edge_faces);
  EXPECT_TRUE(multi.first == edge_faces);
  EXPECT_TRUE(single.second == vertex_faces);
  EXPECT_TRUE(multi.second == vertex_faces);
}

// ---- split ------------------------------------------------------------------

TEST(RemeshSplit, SplitKeepsWindingAndWorksOnBoundaryEdges) {
  // Two triangles sharing (1, 2); (0, 1) is an open boundary edge.
  RemeshMesh mesh = working(Mesh{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{0, 1, 2}, {1, 3, 2}}});
  EdgeFaceMap edges;
  edges.build(mesh);
  split_edge(mesh, edges, edges.find(1, 2));
  EXPECT_EQ(mesh.positions.back(), (Vec3{0.5, 0.5, 0}));
  EXPECT_EQ(live_triangles(mesh), (std::vector<Triangle>{{1, 4, 0}, {4, 2, 0}, {2, 4, 3}, {4, 1, 3}}));

  edges.build(mesh);
  split_edge(mesh, edges, edges.find(0, 1));
  EXPECT_EQ(mesh.positions.back(), (Vec3{0.5, 0, 0}));
  EXPECT_EQ(mesh.live_count(), 5u);
}

// ---- collapse ---------------------------------------------------------------

// Regular hexagon fan around vertex 0, in the z = 0 plane, facing +z.
Mesh hexagon_fan() {
  Mesh mesh{{{0, 0, 0}}, {}};
  for (int i = 0; i < 6; ++i) mesh.positions.push_back({std::cos(i * 60 * kDegree), std::sin(i * 60 * kDegree), 0});
  for (uint32_t i = 0; i < 6; ++i) mesh.indices.push_back({0, 1 + i, 1 + (i + 1) % 6});
  return mesh;
}

TEST(RemeshCollapse, InteriorEdgeCollapsesToItsMidpoint) {
  RemeshMesh mesh = working(hexagon_fan());
  RemeshWorkspace ws;
  ws.edges.build(mesh);
  ws.vertex_faces.build(mesh);
  ASSERT_TRUE(collapse_edge(mesh, ws, 0, 1));
  EXPECT_EQ(mesh.positions[0], (Vec3{0.5, 0, 0}));
  // The edge's two triangles go; the others of vertex 1 now use vertex 0.
  EXPECT_EQ(live_triangles(mesh), (std::vector<Triangle>{{0, 2, 3}, {0, 3, 4}, {0, 4, 5}, {0, 5, 6}}));
}

TEST(RemeshCollapse, RefusalsLeaveTheMeshUntouched) {
  // Boundary edge of the fan: one live triangle.
  // Spike: vertex 4 replaces face (0, 1, 2) of a tetrahedron, so 0 and 1 share
  // the neighbours 2, 3 and 4.
  // Fold-over: the midpoint with a far vertex lies beyond rim edge (2, 3),
  // which turns triangle (0, 2, 3) over.
  Mesh folded = hexagon_fan();
  folded.positions[1] = {0.5, 3, 0};
  struct Case {
    const char* name;
    Mesh mesh;
    uint32_t a, b;
  } cases[] = {
      {"boundary edge", hexagon_fan(), 1, 2},
      {"spike", Mesh{{{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}, {2, 2, -2}},
                     {{0, 3, 1}, {0, 2, 3}, {1, 3, 2}, {4, 0, 1}, {4, 1, 2}, {4, 2, 0}}},
       0, 1},
      {"fold-over", folded, 0, 1},
      {"missing edge", hexagon_fan(), 1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemeshMesh mesh = working(c.mesh);
    RemeshWorkspace ws;
    ws.edges.build(mesh);
    ws.vertex_faces.build(mesh);
    EXPECT_FALSE(collapse_edge(mesh, ws, c.a, c.b));
    EXPECT_EQ(mesh.positions, c.mesh.positions);
    EXPECT_EQ(live_triangles(mesh), c.mesh.indices);
  }
}

TEST(RemeshCollapse, PassNeverCollapsesBoundaryEdges) {
  // Every edge is far below the collapse threshold, but each has only one triangle.
  Mesh strip{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}};
  RemeshMesh mesh = working(strip);
  RemeshWorkspace ws;
  EXPECT_EQ(collapse_pass(mesh, ws, LengthRule{.base = 100.0}), 0u);
  EXPECT_EQ(live_triangles(mesh), strip.indices);
}

// ---- flips ------------------------------------------------------------------

// Edge (0, 1) between triangles (0, 1, 2) and (1, 0, 3); three loose fan blades
// at vertex 0 raise its valence so that the flip to (2, 3) gains.
Mesh flip_fixture(Vec3 apex_a, Vec3 apex_g) {
  return {{{0, 0, 0}, {1, 0, 0}, apex_a, apex_g, {-1, 0.2, 0}, {-1, 0.4, 0}, {-1, -0.2, 0}, {-1, -0.4, 0},
           {-0.2, -1, 0}, {-0.4, -1, 0}},
          {{0, 1, 2}, {1, 0, 3}, {0, 5, 4}, {0, 6, 7}, {0, 8, 9}}};
}

TEST(RemeshFlip, ConvexGainingFlipAndItsRefusals) {
  Mesh with_diagonal = flip_fixture({0.5, 1, 0}, {0.5, -1, 0});
  with_diagonal.positions.push_back({0.5, 0, 5});
  with_diagonal.indices.push_back({2, 3, 10});
  struct Case {
    const char* name;
    Mesh mesh;
    uint64_t flips;
  } cases[] = {
      {"convex", flip_fixture({0.5, 1, 0}, {0.5, -1, 0}), 1},
      {"not convex", flip_fixture({1.5, 1, 0}, {1.5, -1, 0}), 0},
      {"existing diagonal", with_diagonal, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemeshMesh mesh = working(c.mesh);
    RemeshWorkspace ws;
    EXPECT_EQ(flip_pass(mesh, ws), c.flips);
    std::vector<Triangle> expected = c.mesh.indices;
    if (c.flips == 1) {
      expected.erase(expected.begin(), expected.begin() + 2);
      expected.insert(expected.end(), {{2, 3, 1}, {3, 2, 0}});
    }
    EXPECT_EQ(live_triangles(mesh), expected);
  }
}

TEST(RemeshFlip, FlipPassIsBlindToItsOwnNewTriangles) {
  // Every spoke of an 8-fan gains; a spoke next to an earlier flip has lost a
  // listed triangle and is skipped.
  Mesh fan{{{0, 0, 0}}, {}};
  for (int i = 0; i < 8; ++i) fan.positions.push_back({std::cos(i * 45 * kDegree), std::sin(i * 45 * kDegree), 0});
  for (uint32_t i = 0; i < 8; ++i) fan.indices.push_back({0, 1 + i, 1 + (i + 1) % 8});
  RemeshMesh mesh = working(fan);
  RemeshWorkspace ws;
  const uint64_t flips = flip_pass(mesh, ws);
  EXPECT_GE(flips, 1u);
  EXPECT_LE(flips, 4u);
  EXPECT_EQ(mesh.live_count(), 8u);
}

// ---- relaxation -------------------------------------------------------------

TEST(RemeshRelax, MovesInteriorVerticesTangentiallyAndKeepsBoundaries) {
  Mesh fan = hexagon_fan();
  fan.positions[0] = {0.3, 0.2, 0};
  RemeshMesh mesh = working(fan);
  RemeshWorkspace ws;
  relax_tangential(mesh, ws, 0.5);
  EXPECT_NEAR(mesh.positions[0].x, 0.15, 1e-12);
  EXPECT_NEAR(mesh.positions[0].y, 0.1, 1e-12);
  EXPECT_EQ(mesh.positions[0].z, 0.0);
  for (uint32_t v = 1; v <= 6; ++v) EXPECT_EQ(mesh.positions[v], fan.positions[v]);

  // Lifted centre: the umbrella step is along the normal only, so nothing moves.
  Mesh tent = hexagon_fan();
  tent.positions[0] = {0, 0, 1};
  RemeshMesh lifted = working(tent);
  relax_tangential(lifted, ws, 0.5);
  EXPECT_NEAR(norm(lifted.positions[0] - tent.positions[0]), 0.0, 1e-12);
}

// ---- cleanup and compaction ---------------------------------------------------

TEST(RemeshCleanup, CountsOnlyInvertedAndSurplusTriangles) {
  Mesh mesh = flat_grid(2);  // 9 vertices, 8 triangles
  std::swap(mesh.indices[1][1], mesh.indices[1][2]);  // inverted, at the centre's corner square
  mesh.indices.push_back({4, 4, 5});                  // repeated corner
  mesh.positions.push_back({0.5, 0.5, 0});
  mesh.indices.push_back({0, 9, 4});  // zero area
  for (double z : {1.0, 2.0, 3.0}) {  // three fins on boundary edge (0, 1): four triangles there
    mesh.positions.push_back({0.5, 0, z});
    mesh.indices.push_back({0, 1, static_cast<uint32_t>(mesh.positions.size() - 1)});
  }
  RemeshMesh working_mesh = working(mesh);
  RemeshWorkspace ws;
  ::testing::internal::CaptureStderr();
  const Mesh result = cleanup_remesh(working_mesh, ws);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "    Cleanup: removed 3 bad triangles\n");
  EXPECT_EQ(result.indices.size(), 8u);  // 7 grid triangles and the first fin

  RemeshMesh clean = working(regular_tetrahedron());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(cleanup_remesh(clean, ws).indices.size(), 4u);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(RemeshCompact, KeepsReferencedVerticesInOrder) {
  RemeshMesh mesh = working(Mesh{{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}},
                                 {{4, 1, 5}, {0, 2, 3}, {5, 3, 1}}});
  mesh.removed[1] = 1;
  compact(mesh);
  EXPECT_EQ(mesh.positions, (std::vector<Vec3>{{1, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}}));
  EXPECT_EQ(mesh.triangles, (std::vector<Triangle>{{2, 0, 3}, {3, 1, 0}}));
  EXPECT_EQ(mesh.removed, (std::vector<uint8_t>{0, 0}));
}

// ---- curvature-adaptive -------------------------------------------------------

// Loose triangles, one with angles 10°, 85°, 85° and the rest equilateral,
// plus unused vertices (deficit 2π each, above every corner's deficit).
RemeshMesh loose_triangles(uint32_t triangle_count, uint32_t unused_count) {
  RemeshMesh mesh;
  for (uint32_t i = 0; i < triangle_count; ++i) {
    const Vec3 offset{10.0 * i, 0, 0};
    const double apex = i == 0 ? 10 * kDegree : 60 * kDegree;
    const uint32_t first = static_cast<uint32_t>(mesh.positions.size());
    mesh.positions.insert(mesh.positions.end(), {offset, offset + Vec3{1, 0, 0},
                                                 offset + Vec3{std::cos(apex), std::sin(apex), 0}});
    mesh.triangles.push_back({first, first + 1, first + 2});
  }
  for (uint32_t i = 0; i < unused_count; ++i) mesh.positions.push_back({-5, 0, 0});
  mesh.removed.assign(mesh.triangles.size(), 0);
  return mesh;
}

TEST(RemeshCurvature, ReferenceIsTheDeficitAtThe95thPercentilePosition) {
  const double two_pi = 2 * std::numbers::pi;
  // 20 positive deficits: position min(19, 19), the largest one (2π).
  const std::vector<double> k20 = curvature_field(loose_triangles(6, 2));
  EXPECT_NEAR(k20[0], (two_pi - 10 * kDegree) / two_pi, 1e-12);
  EXPECT_NEAR(k20[3], (two_pi - 60 * kDegree) / two_pi, 1e-12);
  EXPECT_EQ(k20[18], 1.0);
  // 100: position 95, the 96th smallest, which is the 10° corner; the unused
  // vertices lie above it and get exactly 1.
  const std::vector<double> k100 = curvature_field(loose_triangles(32, 4));
  EXPECT_EQ(k100[0], 1.0);
  EXPECT_NEAR(k100[3], (two_pi - 60 * kDegree) / (two_pi - 10 * kDegree), 1e-12);
  EXPECT_NEAR(k100[1], (two_pi - 85 * kDegree) / (two_pi - 10 * kDegree), 1e-12);
  for (uint32_t v = 96; v < 100; ++v) EXPECT_EQ(k100[v], 1.0);
}

TEST(RemeshCurvature, FlatGridInteriorEdgesAreCollapseCandidatesOnly) {
  const Mesh grid = flat_grid(6);
  RemeshMesh mesh = working(grid);
  const std::vector<double> curvature = curvature_field(mesh);
  const LengthRule rule{.base = 1.0, .adaptive = true, .min_factor = 0.25, .max_factor = 3.0};
  RemeshWorkspace ws;
  auto interior = [](Vec3 p) { return p.x > 0 && p.x < 6 && p.y > 0 && p.y < 6; };
  for (uint32_t v = 0; v < grid.positions.size(); ++v) {
    if (interior(grid.positions[v])) EXPECT_NEAR(curvature[v], 0.0, 1e-9);
  }
  for (const EdgeCandidate& c : split_candidates(mesh, ws, rule, curvature)) {
    EXPECT_FALSE(interior(grid.positions[ws.edges.lo(c.edge)]) && interior(grid.positions[ws.edges.hi(c.edge)]));
  }
  const std::vector<EdgeCandidate> collapses = collapse_candidates(mesh, ws, rule, curvature);
  uint64_t interior_edges = 0;
  for (uint64_t e = 0; e < ws.edges.size(); ++e) {
    interior_edges += interior(grid.positions[ws.edges.lo(e)]) && interior(grid.positions[ws.edges.hi(e)]);
  }
  uint64_t interior_candidates = 0;
  for (const EdgeCandidate& c : collapses) {
    interior_candidates +=
        interior(grid.positions[ws.edges.lo(c.edge)]) && interior(grid.positions[ws.edges.hi(c.edge)]);
  }
  EXPECT_EQ(interior_candidates, interior_edges);
  EXPECT_GT(interior_edges, 0u);
  EXPECT_TRUE(std::is_sorted(collapses.begin(), collapses.end(),
                             [](const EdgeCandidate& x, const EdgeCandidate& y) { return x.length < y.length; }));
}

// ---- whole-surface properties -------------------------------------------------

struct SurfaceStats {
  double edges_near_target;  // share of edges within [0.5, 1.5] × target
  double valence_5_to_7;     // share of vertices with valence 5, 6 or 7
};

SurfaceStats surface_stats(const Mesh& mesh, double target) {
  std::map<std::pair<uint32_t, uint32_t>, int> edge_uses;
  for (const Triangle& t : mesh.indices) {
    for (int i = 0; i < 3; ++i) ++edge_uses[{std::min(t[i], t[(i + 1) % 3]), std::max(t[i], t[(i + 1) % 3])}];
  }
  std::vector<int> valence(mesh.positions.size(), 0);
  uint64_t near = 0;
  for (const auto& [edge, uses] : edge_uses) {
    const double length = norm(mesh.positions[edge.first] - mesh.positions[edge.second]);
    near += length >= 0.5 * target && length <= 1.5 * target;
    ++valence[edge.first];
    ++valence[edge.second];
  }
  const auto regular = std::count_if(valence.begin(), valence.end(), [](int v) { return v >= 5 && v <= 7; });
  return {double(near) / double(edge_uses.size()), double(regular) / double(valence.size())};
}

Mesh jittered_sphere() {
  Mesh sphere = icosphere(3);
  for (size_t v = 0; v < sphere.positions.size(); ++v) {
    const double s = 0.02 * std::sin(double(v) * 12.9898);
    sphere.positions[v] = sphere.positions[v] * (1.0 + s);
  }
  return sphere;
}

TEST(RemeshSurface, SphereProxyEndsWithEdgesNearTargetAndValencesNearSix) {
  const DistanceField field = unit_sphere_field(40, 1.5);
  const double h = field.cell_size, iso = 0.5 * h;
  const Mesh proxy = extract_iso_surface(field.values, 40, 40, 40, field.origin, h, iso);
  const RemeshProjection projection{field, iso, 1.5 * h};
  const RemeshParams params{.target_edge = h, .iterations = 4};
  auto run = [&] {
    ::testing::internal::CaptureStderr();
    Expected<Mesh> result = isotropic_remesh(proxy.positions, proxy.indices, params, &projection);
    ::testing::internal::GetCapturedStderr();
    return result.ok() ? std::move(result).value() : Mesh{};
  };
  const auto [single, multi] = testing::single_and_multi_threaded(run);
  EXPECT_EQ(single.positions, multi.positions);
  EXPECT_EQ(single.indices, multi.indices);

  EXPECT_TRUE(testing::is_closed_and_oriented(single));
  const SurfaceStats stats = surface_stats(single, h);
  EXPECT_GT(stats.edges_near_target, 0.95);
  EXPECT_GT(stats.valence_5_to_7, 0.85);
  // The last projection left every vertex close to the iso level.
  double worst = 0.0;
  for (const Vec3& p : single.positions) worst = std::max(worst, std::abs(sample(field, p) - iso));
  EXPECT_LT(worst, 0.1 * h);
}

TEST(RemeshSurface, LargeProxyIsIdenticalOnOneThreadAndOnThePool) {
  DistanceField field;
  const Mesh proxy = large_sphere_proxy(field);
  const double h = field.cell_size;
  const RemeshProjection projection{field, 0.5 * h, 1.5 * h};
  for (bool adaptive : {false, true}) {
    SCOPED_TRACE(adaptive ? "adaptive" : "uniform");
    // The adaptive target shrinks to a quarter of the base on a sphere, so a
    // larger base keeps its mesh near the input's size.
    const RemeshParams params{.target_edge = adaptive ? 4.0 * h : h, .iterations = 2, .adaptive = adaptive};
    auto run = [&] {
      ::testing::internal::CaptureStderr();
      Expected<Mesh> result = isotropic_remesh(proxy.positions, proxy.indices, params, &projection);
      const std::string lines = ::testing::internal::GetCapturedStderr();
      return std::make_pair(result.ok() ? std::move(result).value() : Mesh{}, lines);
    };
    const auto [single, multi] = testing::single_and_multi_threaded(run);
    EXPECT_GT(single.first.indices.size(), 0u);
    EXPECT_EQ(single.second, multi.second);
    EXPECT_EQ(single.first.positions, multi.first.positions);
    EXPECT_EQ(single.first.indices, multi.first.indices);
  }
}

TEST(RemeshSurface, UnprojectedSphereEndsWithEdgesNearTarget) {
  const double target = 0.12;
  RemeshRun run = remesh(jittered_sphere(), {.target_edge = target, .iterations = 6});
  EXPECT_TRUE(testing::is_closed_and_oriented(run.mesh));
  const SurfaceStats stats = surface_stats(run.mesh, target);
  EXPECT_GT(stats.edges_near_target, 0.95);
  EXPECT_GT(stats.valence_5_to_7, 0.85);
}

TEST(RemeshSurface, AdaptiveSphereStaysClosed) {
  RemeshRun run = remesh(jittered_sphere(), {.target_edge = 0.12, .iterations = 4, .adaptive = true});
  EXPECT_EQ(iteration_lines(run.lines).size(), 4u);
  EXPECT_TRUE(testing::is_closed_and_oriented(run.mesh));
  EXPECT_GT(run.mesh.indices.size(), 0u);
}

TEST(RemeshSurface, HostileInputsEndWithValidIndices) {
  // Open boundary, a non-manifold fan of fins, repeated corners, a zero-area
  // sliver, coincident vertices and a non-finite vertex.
  Mesh messy = flat_grid(4);
  for (double z : {1.0, 2.0, 3.0}) {
    messy.positions.push_back({0.5, 0, z});
    messy.indices.push_back({0, 1, static_cast<uint32_t>(messy.positions.size() - 1)});
  }
  messy.indices.push_back({6, 6, 7});
  messy.indices.push_back({6, 6, 6});
  messy.positions.push_back({0.5, 0, 0});
  messy.indices.push_back({0, 1, static_cast<uint32_t>(messy.positions.size() - 1)});
  messy.positions.push_back({0, 0, 0});
  messy.indices.push_back({0, 5, static_cast<uint32_t>(messy.positions.size() - 1)});
  messy.positions.push_back({INFINITY, 0, 0});
  messy.indices.push_back({2, 3, static_cast<uint32_t>(messy.positions.size() - 1)});
  for (bool adaptive : {false, true}) {
    for (double target : {0.3, 1.0, 4.0}) {
      SCOPED_TRACE(::testing::Message() << "adaptive " << adaptive << ", target " << target);
      RemeshRun run = remesh(messy, {.target_edge = target, .iterations = 4, .adaptive = adaptive});
      for (const Triangle& t : run.mesh.indices) {
        for (uint32_t c : t) EXPECT_LT(c, run.mesh.positions.size());
      }
    }
  }
}

}  // namespace
}  // namespace vorrel
