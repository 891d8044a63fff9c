#pragma once
// Decodes fuzz bytes into a small proxy job (mesh and settings) and checks what
// build_proxy makes of it. Shared by the libFuzzer target and the regression
// test that replays the committed inputs.
//
// Layout: 16 setting bytes, one vertex-count byte, then per vertex a mode byte
// and its coordinates (small lattice values or raw float64 bits, so NaN,
// infinities, huge and tiny values all occur), then triangles of three indices
// (mostly below the vertex count + 1, sometimes raw 32-bit values).
// Resolutions stay at most 24 and iteration counts at most 3 so a run is quick.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "core/proxy.h"
#include "core/proxy_settings.h"

namespace vorrel::fuzz {

class ByteSource {
 public:
  ByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return position_ >= size_; }
  uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
  // The next sizeof(T) bytes as the bits of a T (little-endian).
  template <class T>
  T raw() {
    static_assert(sizeof(T) <= 8);
    uint64_t bits = 0;
    for (size_t i = 0; i < sizeof(T); ++i) bits |= uint64_t{byte()} << (8 * i);
    T value;
    std::memcpy(&value, &bits, sizeof(T));
    return value;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

struct ProxyCase {
  Mesh input;
  ProxySettings settings;
};

// A float option: a few telling values, or raw bits (any double at all).
inline double option_value(ByteSource& in) {
  static constexpr double kChoices[] = {0.0, 0.1, 0.5, 1.0, 2.0, 5.0, -1.0, 1e300};
  const uint8_t pick = in.byte();
  if (pick < 200) return kChoices[pick % 8];
  if (pick < 230) return (pick - 200) * 0.25;
  return in.raw<double>();
}

inline double coordinate(ByteSource& in, uint8_t mode) {
  if (mode < 224) return (static_cast<int>(in.byte()) - 128) / 16.0;
  return in.raw<double>();
}

inline ProxyCase decode_proxy_case(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  ProxyOptions options;
  const uint8_t flags = in.byte();
  options.voxel_res = in.byte() % 25;
  options.offset = option_value(in);
  options.close = in.byte() % 4;
  options.smooth = in.byte() % 4;
  options.smooth_lambda = option_value(in);
  options.remesh = in.byte() % 3;
  options.bilateral_sigma_n = option_value(in);
  options.project = option_value(in);
  options.adaptive_remesh = flags & 1;
  options.bilateral = flags & 2;
  options.use_sdf = !(flags & 4);
  if (flags & 8) options.target_faces = in.raw<uint16_t>();
  for (int unused = 0; unused < 4; ++unused) in.byte();

  ProxyCase job;
  const uint32_t vertex_count = in.byte() % 40;
  for (uint32_t v = 0; v < vertex_count; ++v) {
    const uint8_t mode = in.byte();
    const double x = coordinate(in, mode), y = coordinate(in, mode), z = coordinate(in, mode);
    job.input.positions.push_back({x, y, z});
  }
  while (!in.empty() && job.input.indices.size() < 200) {
    Triangle t{};
    for (uint32_t& corner : t) {
      const uint8_t pick = in.byte();
      corner = pick < 250 ? pick % (vertex_count + 1) : in.raw<uint32_t>();
    }
    job.input.indices.push_back(t);
  }

  ResolveResult resolved = resolve_settings(options, job.input.positions, job.input.indices);
  if (auto* settings = std::get_if<ProxySettings>(&resolved)) {
    job.settings = *settings;
  } else {
    job.settings = ProxySettings{};
  }
  // The target-face rule picks 32 … 512; keep each run small, and the target
  // edge in the same proportion to the cell size as the rule made it.
  if (job.settings.voxel_res > 24) {
    if (job.settings.target_edge) *job.settings.target_edge *= static_cast<double>(job.settings.voxel_res) / 24.0;
    job.settings.voxel_res = 24;
  }
  if (job.settings.remesh > 3) job.settings.remesh = 3;
  return job;
}

inline bool indices_in_range(const Mesh& mesh) {
  for (const Triangle& t : mesh.indices) {
    for (uint32_t corner : t) {
      if (corner >= mesh.positions.size()) return false;
    }
  }
  return true;
}

// False when build_proxy broke its contract: it must fail exactly when an input
// index is out of range, and a proxy must index only its own vertices.
inline bool run_proxy_case(const ProxyCase& job) {
  Expected<Mesh> proxy = build_proxy(job.input.positions, job.input.indices, job.settings);
  if (proxy.ok() != indices_in_range(job.input)) return false;
  return !proxy.ok() || indices_in_range(*proxy);
}

}  // namespace vorrel::fuzz
