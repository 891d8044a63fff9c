#pragma once
// USD text layers: a tolerant reader that takes the three mesh arrays out of the
// first `def Mesh` block (it is not a USD parser: everything else is ignored),
// and a writer of a fixed one-prim layer. Also the face triangulation and the
// extent shared with the crate format.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/mesh_io.h"

namespace vorrel::io {

// Positions and triangles; never attributes. No count limits apply and the
// triangles are not checked against the number of points.
IoResult<MeshWithAttributes> read_usda(const std::string& path);

// Writes the mesh as the "/proxy" Mesh prim; attributes, when present, are
// written face-varying, normals before texture coordinates.
IoStatus write_usda(const std::string& path, const MeshWithAttributes& mesh);

// Fans every face from its first index. Fails with a text for a count below 3
// or above the index total, for too few indices, and for an index outside
// [0, 2^32). Indices left after the last face are ignored.
Expected<std::vector<Triangle>, std::string> triangulate_faces(std::span<const int64_t> counts,
                                                               std::span<const int64_t> indices);
// The same for the 32-bit arrays of crate files.
Expected<std::vector<Triangle>, std::string> triangulate_faces(std::span<const int32_t> counts,
                                                               std::span<const int32_t> indices);

// Minimum x, y, z then maximum x, y, z, rounded to float32; not-a-number
// coordinates never win; six zeros for no positions.
std::array<float, 6> compute_extent(std::span<const Vec3> positions);

// The text strictly between the brackets of `name = [ ... ]`, found by first
// occurrences only (so `name` may match inside a longer word).
std::optional<std::string_view> find_array_text(std::string_view text, std::string_view name);
// Comma-separated signed 64-bit integers; empty pieces are skipped; any
// malformed piece makes the whole array absent.
std::optional<std::vector<int64_t>> parse_int_array(std::string_view text, std::string_view name);
// The "(x, y, z)" tuples of the `points` array; any malformed tuple makes the
// whole array absent.
std::optional<std::vector<Vec3>> parse_point_array(std::string_view text);

}  // namespace vorrel::io
