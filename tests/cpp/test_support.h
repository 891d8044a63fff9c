#pragma once
// Fixtures shared by the C++ tests.

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/mesh.h"
#include "core/progress.h"

namespace vorrel::test {

// A clock the test moves by hand and a sink that records every write call.
struct FakeConsole {
  ProgressIo::Clock::time_point time{std::chrono::seconds(1000)};
  std::vector<std::string> writes;
  ProgressIo io{[](void* c) { return static_cast<FakeConsole*>(c)->time; },
                [](void* c, std::string_view line) { static_cast<FakeConsole*>(c)->writes.emplace_back(line); },
                this};
};

// A closed torus of rings × segments vertices with a deterministic wobble,
// so that smoothing and nearest-point queries have uneven work to do.
inline Mesh wobbly_torus(uint32_t rings, uint32_t segments) {
  const double pi = 3.14159265358979323846;
  Mesh mesh;
  for (uint32_t i = 0; i < rings; ++i) {
    for (uint32_t j = 0; j < segments; ++j) {
      double a = 2 * pi * i / rings;
      double b = 2 * pi * j / segments;
      double r = 0.5 + 0.05 * std::sin(7.0 * i + 3.0 * j);
      mesh.positions.push_back({(1 + r * std::cos(b)) * std::cos(a), (1 + r * std::cos(b)) * std::sin(a), r * std::sin(b)});
    }
  }
  auto at = [&](uint32_t i, uint32_t j) { return (i % rings) * segments + j % segments; };
  for (uint32_t i = 0; i < rings; ++i) {
    for (uint32_t j = 0; j < segments; ++j) {
      mesh.indices.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
      mesh.indices.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
    }
  }
  return mesh;
}

}  // namespace vorrel::test
