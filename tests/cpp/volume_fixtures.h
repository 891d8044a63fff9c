#pragma once
// Small meshes and checks shared by the volume-stage tests.

#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include <tbb/global_control.h>

#include "core/mesh.h"

namespace vorrel::testing {

// Axis-aligned box [lo, hi]³ with outward triangles; `skip_top` leaves out the
// two triangles of the +z face.
inline Mesh box_mesh(double lo, double hi, bool skip_top = false) {
  Mesh m;
  for (int i = 0; i < 8; ++i) m.positions.push_back({i & 1 ? hi : lo, i & 2 ? hi : lo, i & 4 ? hi : lo});
  const std::vector<Triangle> faces = {{0, 2, 1}, {1, 2, 3},   // -z
                                       {4, 5, 6}, {5, 7, 6},   // +z
                                       {0, 1, 4}, {1, 5, 4},   // -y
                                       {2, 6, 3}, {3, 6, 7},   // +y
                                       {0, 4, 2}, {2, 4, 6},   // -x
                                       {1, 3, 5}, {3, 7, 5}};  // +x
  for (size_t f = 0; f < faces.size(); ++f) {
    if (skip_top && (f == 2 || f == 3)) continue;
    m.indices.push_back(faces[f]);
  }
  return m;
}

// Latitude-longitude sphere with outward triangles.
inline Mesh sphere_mesh(Vec3 centre, double radius, uint32_t rings = 16, uint32_t segments = 32) {
  Mesh m;
  const double pi = 3.14159265358979323846;
  m.positions.push_back(centre + Vec3{0, 0, radius});
  for (uint32_t r = 1; r < rings; ++r) {
    const double theta = pi * r / rings;
    for (uint32_t s = 0; s < segments; ++s) {
      const double phi = 2 * pi * s / segments;
      m.positions.push_back(centre + Vec3{std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
                                          std::cos(theta)} * radius);
    }
  }
  m.positions.push_back(centre - Vec3{0, 0, radius});
  const uint32_t south = static_cast<uint32_t>(m.positions.size() - 1);
  const auto ring = [&](uint32_t r, uint32_t s) { return 1 + (r - 1) * segments + s % segments; };
  for (uint32_t s = 0; s < segments; ++s) m.indices.push_back({0, ring(1, s), ring(1, s + 1)});
  for (uint32_t r = 1; r + 1 < rings; ++r) {
    for (uint32_t s = 0; s < segments; ++s) {
      m.indices.push_back({ring(r, s), ring(r + 1, s), ring(r + 1, s + 1)});
      m.indices.push_back({ring(r, s), ring(r + 1, s + 1), ring(r, s + 1)});
    }
  }
  for (uint32_t s = 0; s < segments; ++s) m.indices.push_back({south, ring(rings - 1, s + 1), ring(rings - 1, s)});
  return m;
}

inline double signed_volume(const Mesh& m) {
  double v = 0;
  for (const Triangle& t : m.indices) {
    v += dot(m.positions[t[0]], cross(m.positions[t[1]], m.positions[t[2]])) / 6.0;
  }
  return v;
}

// Every directed edge appears once and its reverse once: closed and consistently wound.
inline bool is_closed_and_oriented(const Mesh& m) {
  std::map<std::pair<uint32_t, uint32_t>, int> directed;
  for (const Triangle& t : m.indices) {
    for (int k = 0; k < 3; ++k) ++directed[{t[k], t[(k + 1) % 3]}];
  }
  for (const auto& [edge, count] : directed) {
    if (count != 1) return false;
    const auto reverse = directed.find({edge.second, edge.first});
    if (reverse == directed.end() || reverse->second != 1) return false;
  }
  return true;
}

// Runs fn once on one worker thread and once on the default pool.
template <class Fn>
auto single_and_multi_threaded(Fn&& fn) {
  auto single = [&] {
    tbb::global_control one(tbb::global_control::max_allowed_parallelism, 1);
    return fn();
  }();
  return std::make_pair(std::move(single), fn());
}

}  // namespace vorrel::testing
