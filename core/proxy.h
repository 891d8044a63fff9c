#pragma once
// The proxy pipeline driver: orders the stages that turn an input triangle mesh
// into its closed offset proxy, converts cell units into world units once the
// grid exists, and writes the pipeline's summary lines to standard error.

#include <span>

#include "core/error.h"
#include "core/mesh.h"
#include "core/proxy_settings.h"

namespace vorrel {

// Builds the proxy of (positions, indices). The inputs are only read. Fails
// only with an internal error, e.g. when a triangle index is not below the
// vertex count. Must be called without touching any interpreter object.
Expected<Mesh> build_proxy(std::span<const Vec3> positions, std::span<const Triangle> indices,
                           const ProxySettings& settings);

}  // namespace vorrel
