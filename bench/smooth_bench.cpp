// Seconds per smoothing iteration (Taubin and bilateral), per shrink-fit and
// per normal transfer on subdivided icospheres of about 100k and 1M triangles.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string_view>

#include <absl/container/flat_hash_map.h>
#include <fmt/format.h>

#include "core/attribute_transfer.h"
#include "core/undirected_edge.h"
#include "core/mesh.h"
#include "core/parallel.h"
#include "core/shrink_fit.h"
#include "core/smooth.h"

namespace vorrel {
namespace {

Mesh icosahedron() {
  const double t = (1.0 + std::sqrt(5.0)) / 2.0;
  Mesh m;
  m.positions = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
                 {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
  m.indices = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
               {11, 10, 2}, {10, 7, 6}, {7, 1, 8},  {3, 9, 4},  {3, 4, 2},   {3, 2, 6}, {3, 6, 8},
               {3, 8, 9},  {4, 9, 5},  {2, 4, 11},  {6, 2, 10}, {8, 6, 7},   {9, 8, 1}};
  return m;
}

Mesh subdivide(const Mesh& in) {
  Mesh out{in.positions, {}};
  absl::flat_hash_map<UndirectedEdge, uint32_t> midpoints;
  auto midpoint = [&](uint32_t a, uint32_t b) {
    auto [it, inserted] = midpoints.try_emplace(make_undirected_edge(a, b), static_cast<uint32_t>(out.positions.size()));
    if (inserted) {
      Vec3 m = (in.positions[a] + in.positions[b]) * 0.5;
      out.positions.push_back(m / norm(m));
    }
    return it->second;
  };
  for (const Triangle& t : in.indices) {
    uint32_t ab = midpoint(t[0], t[1]), bc = midpoint(t[1], t[2]), ca = midpoint(t[2], t[0]);
    out.indices.insert(out.indices.end(), {{t[0], ab, ca}, {ab, t[1], bc}, {ca, bc, t[2]}, {ab, bc, ca}});
  }
  return out;
}

// A unit icosphere with a deterministic bump pattern, so smoothing has work to do.
Mesh bumpy_icosphere(int levels) {
  Mesh m = icosahedron();
  for (Vec3& p : m.positions) p = p / norm(p);
  for (int i = 0; i < levels; ++i) m = subdivide(m);
  for (size_t i = 0; i < m.positions.size(); ++i) m.positions[i] = m.positions[i] * (1.0 + 0.01 * std::sin(12.9898 * i));
  return m;
}

const ProgressIo& silent() {
  static const ProgressIo io{[](void*) { return ProgressIo::Clock::now(); }, [](void*, std::string_view) {}, nullptr};
  return io;
}

template <class Fn>
double seconds(Fn&& fn) {
  auto start = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Per-iteration cost from the difference of a 1- and a 6-iteration run, so the
// one-ring construction is reported separately.
template <class Filter>
void time_filter(const char* name, const Mesh& mesh, Filter filter, double parameter) {
  std::vector<Vec3> p = mesh.positions;
  double one = seconds([&] { (void)filter(p, mesh.indices, 1, parameter, silent()); });
  p = mesh.positions;
  double six = seconds([&] { (void)filter(p, mesh.indices, 6, parameter, silent()); });
  double per_iteration = (six - one) / 5.0;
  fmt::print("  {:<10} {:.4f} s/iteration, setup {:.4f} s\n", name, per_iteration, one - per_iteration);
}

void run(int levels) {
  Mesh mesh = bumpy_icosphere(levels);
  fmt::print("icosphere: {} vertices, {} triangles, {} threads\n", mesh.positions.size(), mesh.indices.size(),
             worker_count());
  time_filter("Taubin", mesh, taubin_smooth, 0.5);
  time_filter("bilateral", mesh, bilateral_smooth, 0.3);
  Mesh proxy = bumpy_icosphere(levels - 1);
  for (Vec3& p : proxy.positions) p = p * 1.02;
  double fit = seconds([&] { shrink_fit(proxy.positions, mesh.positions, 0.05); });
  fmt::print("  shrink-fit {:.4f} s for {} proxy vertices\n", fit, proxy.positions.size());
  double transfer = seconds([&] {
    (void)transfer_attributes(mesh.positions, mesh.indices, std::nullopt, std::nullopt, proxy.positions,
                              proxy.indices, true, false);
  });
  fmt::print("  transfer   {:.4f} s for {} proxy corners\n", transfer, 3 * proxy.indices.size());
}

}  // namespace
}  // namespace vorrel

int main() {
  vorrel::run(6);  // 81 920 triangles
  vorrel::run(8);  // 1 310 720 triangles
  return 0;
}
