#include "core/proxy_settings.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace vorrel {
namespace {

struct Preset {
  const char* name;
  uint64_t voxel_res, smooth, remesh;
};

constexpr Preset kPresets[] = {
    {"balanced", 128, 5, 3},
    {"fast", 64, 3, 0},
    {"high", 256, 5, 5},
};

constexpr uint64_t kMaxTargetFaces = 4294967295u;
constexpr uint64_t kMinTargetFaces = 16;

// Only A–Z change, so non-ASCII text is shown back exactly as given.
std::string ascii_lowercase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// ⌈x⌉ as an unsigned count, saturating; NaN gives 0.
uint64_t saturating_ceil(double x) {
  if (std::isnan(x) || x <= 0.0) return 0;
  double c = std::ceil(x);
  if (c >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(c);
}

}  // namespace

Expected<TargetResolution> target_face_resolution(std::span<const Vec3> positions,
                                                  std::span<const Triangle> triangles, uint64_t target_faces) {
  Vec3 lo{DBL_MAX, DBL_MAX, DBL_MAX};
  Vec3 hi{-DBL_MAX, -DBL_MAX, -DBL_MAX};
  for (const Vec3& p : positions) {
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], p[a]);
      hi[a] = std::max(hi[a], p[a]);
    }
  }
  if (Status bad = check_triangle_indices(triangles, positions.size())) return *bad;
  double area = 0.0;
  for (const Triangle& t : triangles) {
    Vec3 p0 = positions[t[0]], p1 = positions[t[1]], p2 = positions[t[2]];
    area += 0.5 * norm(cross(p1 - p0, p2 - p0));
  }
  const double target = static_cast<double>(std::max(target_faces, kMinTargetFaces));
  const double edge = std::max(std::sqrt(4.0 * area / (target * std::sqrt(3.0))), 1e-12);
  const double longest = std::max({hi.x - lo.x, hi.y - lo.y, hi.z - lo.z, 1e-12});
  uint64_t resolution = saturating_ceil(2.0 * longest / edge);
  resolution = std::clamp<uint64_t>(resolution, 32, 512);
  return TargetResolution{resolution, edge};
}

ResolveResult resolve_settings(const ProxyOptions& options, std::span<const Vec3> positions,
                               std::span<const Triangle> triangles) {
  ProxySettings settings;
  settings.voxel_res = options.voxel_res;
  settings.offset = options.offset;
  settings.close = options.close;
  settings.smooth = options.smooth;
  settings.smooth_lambda = options.smooth_lambda;
  settings.remesh = options.remesh;
  settings.bilateral_sigma_n = options.bilateral_sigma_n;
  settings.project = options.project;
  settings.adaptive_remesh = options.adaptive_remesh;
  settings.bilateral = options.bilateral;
  settings.use_sdf = options.use_sdf;

  if (options.quality) {
    std::string lowered = ascii_lowercase(*options.quality);
    const Preset* preset = nullptr;
    for (const Preset& p : kPresets) {
      if (lowered == p.name) preset = &p;
    }
    if (!preset) return OptionError{"unknown quality preset " + lowered + "; expected fast/balanced/high"};
    settings.voxel_res = preset->voxel_res;
    settings.smooth = preset->smooth;
    settings.remesh = preset->remesh;
  }

  if (options.target_faces) {
    const uint64_t target = std::max(std::min(*options.target_faces, kMaxTargetFaces), kMinTargetFaces);
    Expected<TargetResolution> rule = target_face_resolution(positions, triangles, target);
    if (!rule.ok()) return rule.error();
    settings.voxel_res = rule->voxel_res;
    settings.target_edge = rule->edge;
    settings.target_faces = target;
    settings.remesh = std::max<uint64_t>(settings.remesh, 3);
  }
  return settings;
}

}  // namespace vorrel
