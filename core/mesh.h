#pragma once
// The triangle mesh value every part of the system exchanges: positions and
// triangle corner indices, nothing else. Indices are not checked on
// construction; stages that read them check them (see error.h).

#include <array>
#include <cstdint>
#include <vector>

#include "core/vec3.h"

namespace vorrel {

using Triangle = std::array<uint32_t, 3>;

struct Mesh {
  std::vector<Vec3> positions;
  std::vector<Triangle> indices;

  uint64_t vertex_count() const { return positions.size(); }
  uint64_t face_count() const { return indices.size(); }
};

static_assert(sizeof(Vec3) == 3 * sizeof(double), "positions are packed float64 triples");
static_assert(sizeof(Triangle) == 3 * sizeof(uint32_t), "indices are packed uint32 triples");

}  // namespace vorrel
