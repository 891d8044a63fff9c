#pragma once
// Smoothing filters for the proxy surface. Both move vertex positions only
// (connectivity is untouched), update all vertices simultaneously from the
// previous pass, and accumulate neighbour sums in a fixed order, so results
// are identical for any number of threads.
//
// Each vertex's neighbours are its one-ring in order of first appearance when
// the triangles are visited in order, a triangle (a, b, c) contributing in the
// order b→a, a→b, c→b, b→c, a→c, c→a (x→y: x joins y's ring). A vertex used by
// no triangle has no neighbours and never moves.
//
// With no vertices or no iterations both filters return at once without
// starting a stage (no index is read then). Otherwise they first check every
// triangle index against the vertex count and report the first one out of
// range without touching the positions.

#include <cstdint>
#include <span>

#include "core/error.h"
#include "core/mesh.h"
#include "core/progress.h"

namespace vorrel {

// Taubin's shrink-free smoothing: per iteration one uniform Laplacian step
// p += λ (mean of neighbours − p), then one with μ = −λ / (1 − 0.1 λ).
// A step whose factor is not finite is skipped: at λ = 10 the pass-band rule
// has no μ, so only the λ steps run (and a NaN or infinite λ moves nothing),
// instead of turning every position into NaN.
// Reports the stage "Taubin smooth" with one item per iteration.
Status taubin_smooth(std::span<Vec3> positions, std::span<const Triangle> indices, uint64_t iterations,
                     double lambda, const ProgressIo& io = ProgressIo::standard());

// Feature-preserving smoothing: per iteration each vertex moves fully to
// p + Σ w d / Σ w over its neighbours (d = neighbour − p), with
// w = exp(−|d|² / 2σc²) · exp(−max(1 − n_u·n_v, 0) / 2σn²), σc the current mean
// edge length and n the area-weighted unit vertex normals. A weight sum not
// above 1e-12 leaves the vertex in place. With sigma_n = 0 the normal weight
// takes its limit: 1 for equal normals, 0 otherwise.
// Reports the stage "bilateral smooth" with one item per iteration.
Status bilateral_smooth(std::span<Vec3> positions, std::span<const Triangle> indices, uint64_t iterations,
                        double sigma_n, const ProgressIo& io = ProgressIo::standard());

}  // namespace vorrel
