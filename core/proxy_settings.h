#pragma once
// The proxy options as a caller passes them, and their resolution into the
// settings the pipeline runs with: quality presets and the target-face rule.
// Shared by the array functions and the file-to-file function of the module.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "core/error.h"
#include "core/mesh.h"

namespace vorrel {

struct ProxyOptions {
  std::optional<std::string> quality;
  std::optional<uint64_t> target_faces;
  uint64_t voxel_res = 128;
  double offset = 0.1;
  uint64_t close = 1;
  uint64_t smooth = 5;
  double smooth_lambda = 0.5;
  uint64_t remesh = 0;
  bool adaptive_remesh = false;
  bool bilateral = false;
  double bilateral_sigma_n = 0.3;
  double project = 2.0;
  bool use_sdf = true;
};

struct ProxySettings {
  std::optional<double> target_edge;     // world units; only with target_faces
  std::optional<uint64_t> target_faces;  // clamped to 2^32 − 1 and raised to 16
  uint64_t voxel_res = 128;
  double offset = 0.1;
  uint64_t close = 1;
  uint64_t smooth = 5;
  double smooth_lambda = 0.5;
  uint64_t remesh = 0;
  double bilateral_sigma_n = 0.3;
  double project = 2.0;
  bool adaptive_remesh = false;
  bool bilateral = false;
  bool use_sdf = true;
};

// A rejected option (shown to users as ValueError with this message).
struct OptionError {
  std::string message;
};

// Resolution fails with an OptionError for an unknown preset, or with an
// InternalError when the target-face rule meets a triangle index out of range.
using ResolveResult = std::variant<ProxySettings, OptionError, InternalError>;

ResolveResult resolve_settings(const ProxyOptions& options, std::span<const Vec3> positions,
                               std::span<const Triangle> triangles);

struct TargetResolution {
  uint64_t voxel_res;
  double edge;
};

// Grid resolution and edge length that make about `target_faces` equilateral
// triangles of the input's surface area (resolution within 32 … 512).
Expected<TargetResolution> target_face_resolution(std::span<const Vec3> positions,
                                                  std::span<const Triangle> triangles, uint64_t target_faces);

}  // namespace vorrel
