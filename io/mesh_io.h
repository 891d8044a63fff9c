#pragma once
// The file layer's shared record and error: every reader returns a
// MeshWithAttributes and every writer takes one; every failure is a MeshIoError
// value whose text is what the module shows its users.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/mesh.h"

namespace vorrel::io {

using Uv = std::array<float, 2>;

// Positions and triangles plus optional face-varying attributes: entry 3t + k
// belongs to corner k of triangle t.
struct MeshWithAttributes {
  std::vector<Vec3> positions;
  std::vector<Triangle> indices;
  std::optional<std::vector<Uv>> uvs;
  std::optional<std::vector<Vec3>> normals;
};

enum class MeshIoErrorKind { UnsupportedFormat, Io, ObjParse, UsdParse, TooLarge };

struct MeshIoError {
  MeshIoErrorKind kind;
  std::string detail;  // the payload text; for TooLarge, "vertex" or "triangle"
  uint64_t count = 0;  // TooLarge only
  uint64_t limit = 0;  // TooLarge only

  static MeshIoError unsupported_format(std::string extension);
  static MeshIoError io(std::string text);
  // "{description} (os error {errno})" for a failure the operating system reported.
  static MeshIoError os(int error_number);
  static MeshIoError obj_parse(std::string text);
  static MeshIoError usd_parse(std::string text);
  static MeshIoError too_large(std::string what, uint64_t count, uint64_t limit);

  // The user-facing text, e.g. "unsupported format: stl".
  std::string text() const;
};

template <class T>
using IoResult = Expected<T, MeshIoError>;
// Success (nullopt) or the failure.
using IoStatus = std::optional<MeshIoError>;

// Count limits enforced by the readers.
inline constexpr uint64_t kMaxVertices = 200000000;
inline constexpr uint64_t kMaxTriangles = 400000000;

}  // namespace vorrel::io
