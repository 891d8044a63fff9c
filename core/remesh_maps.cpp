#include "core/remesh_maps.h"

#include <algorithm>

#include <tbb/parallel_sort.h>

#include "core/parallel.h"

namespace vorrel {
namespace {

// Each triangle range of a bucket fill keeps one cursor per bucket, so ranges
// are only worth it when they are much longer than a few thousand triangles,
// and a handful of them keeps the cursors small.
constexpr size_t kMinTrianglesPerRange = 16384;
constexpr size_t kMaxTriangleRanges = 8;

size_t triangle_range_count(size_t triangles) {
  return std::clamp<size_t>(std::min(worker_count(), triangles / kMinTrianglesPerRange), 1, kMaxTriangleRanges);
}

// Turns per-slot counts in values[1..n] into start offsets in place.
void prefix_sum(std::vector<uint64_t>& values) {
  for (size_t i = 1; i < values.size(); ++i) values[i] += values[i - 1];
}

// A counting sort of the items the live triangles emit into `buckets`
// buckets: emit(t, put) calls put(bucket, item) for each item of triangle t.
// Consecutive triangle ranges are counted and filled in parallel, each into
// its own slots of every bucket, so every bucket lists its items in triangle
// order. `cursor` is scratch.
template <class Item, class Emit>
void fill_buckets(const RemeshMesh& mesh, size_t buckets, Emit&& emit, std::vector<uint64_t>& start,
                  std::vector<uint64_t>& cursor, std::vector<Item>& items) {
  const size_t m = mesh.triangles.size();
  const size_t ranges = triangle_range_count(m);
  const auto range_begin = [&](size_t r) { return m * r / ranges; };
  const auto for_each_live = [&](size_t r, auto&& fn) {
    for (size_t t = range_begin(r); t < range_begin(r + 1); ++t) {
      if (mesh.is_live(static_cast<uint32_t>(t))) fn(static_cast<uint32_t>(t));
    }
  };
  // Counts, then fill cursors, of range r for bucket b at r·buckets + b.
  cursor.resize(ranges * buckets);
  parallel_for(0, ranges, [&](size_t r) {
    uint64_t* count = cursor.data() + r * buckets;
    std::fill(count, count + buckets, 0);
    for_each_live(r, [&](uint32_t t) { emit(t, [&](uint32_t b, const Item&) { ++count[b]; }); });
  });
  start.resize(buckets + 1);
  uint64_t total = 0;
  for (size_t b = 0; b < buckets; ++b) {
    start[b] = total;
    for (size_t r = 0; r < ranges; ++r) {
      const uint64_t count = cursor[r * buckets + b];
      cursor[r * buckets + b] = total;
      total += count;
    }
  }
  start[buckets] = total;
  items.resize(total);
  parallel_for(0, ranges, [&](size_t r) {
    uint64_t* next = cursor.data() + r * buckets;
    for_each_live(r, [&](uint32_t t) { emit(t, [&](uint32_t b, const Item& item) { items[next[b]++] = item; }); });
  });
}

}  // namespace

RemeshMesh RemeshMesh::copy_of(std::span<const Vec3> positions, std::span<const Triangle> triangles) {
  RemeshMesh mesh;
  mesh.positions.assign(positions.begin(), positions.end());
  mesh.triangles.assign(triangles.begin(), triangles.end());
  mesh.removed.assign(triangles.size(), 0);
  return mesh;
}

uint64_t RemeshMesh::live_count() const {
  return static_cast<uint64_t>(std::count(removed.begin(), removed.end(), uint8_t{0}));
}

void VertexFaceMap::build(const RemeshMesh& mesh) {
  fill_buckets(
      mesh, mesh.positions.size(),
      [&](uint32_t t, auto&& put) {
        for (uint32_t c : mesh.triangles[t]) put(c, t);
      },
      start_, cursor_, faces_);
}

void EdgeFaceMap::build(const RemeshMesh& mesh) {
  const size_t n = mesh.positions.size();
  fill_buckets(
      mesh, n,
      [&](uint32_t t, auto&& put) {
        const Triangle& tri = mesh.triangles[t];
        for (int i = 0; i < 3; ++i) {
          const uint32_t x = tri[i], y = tri[(i + 1) % 3];
          put(std::min(x, y), HalfEdge{std::max(x, y), t});
        }
      },
      bucket_start_, cursor_, half_edges_);
  edge_start_.resize(n + 1);
  edge_start_[0] = 0;
  parallel_for(0, n, [&](size_t v) {
    edge_start_[v + 1] = sort_bucket(half_edges_.data() + bucket_start_[v], half_edges_.data() + bucket_start_[v + 1]);
  });
  prefix_sum(edge_start_);
  lo_.resize(edge_start_[n]);
  hi_.resize(edge_start_[n]);
  face_start_.resize(edge_start_[n] + 1);
  faces_.resize(bucket_start_[n]);
  // Face lists are the sorted buckets laid end to end.
  parallel_for(0, n, [&](size_t v) {
    uint64_t e = edge_start_[v];
    for (uint64_t i = bucket_start_[v]; i < bucket_start_[v + 1]; ++i) {
      if (i == bucket_start_[v] || half_edges_[i - 1].hi != half_edges_[i].hi) {
        lo_[e] = static_cast<uint32_t>(v);
        hi_[e] = half_edges_[i].hi;
        face_start_[e++] = i;
      }
      faces_[i] = half_edges_[i].face;
    }
  });
  face_start_.back() = faces_.size();
}

// Sorts one bucket, filled in triangle order, by larger endpoint and face;
// returns the number of distinct edges in it. Most buckets hold a handful of
// half-edges, for which a stable insertion sort on the endpoint (keeping the
// faces increasing) is the cheapest; a vertex of high valence gets a full sort.
uint64_t EdgeFaceMap::sort_bucket(HalfEdge* first, HalfEdge* last) {
  constexpr ptrdiff_t kShortBucket = 32;
  if (last - first > kShortBucket) {
    std::sort(first, last, [](HalfEdge x, HalfEdge y) { return x.hi != y.hi ? x.hi < y.hi : x.face < y.face; });
  }
  for (HalfEdge* h = first; h != last; ++h) {
    const HalfEdge moving = *h;
    HalfEdge* at = h;
    for (; at != first && at[-1].hi > moving.hi; --at) *at = at[-1];
    *at = moving;
  }
  uint64_t edges = 0;
  for (const HalfEdge* h = first; h != last; ++h) edges += (h == first || h[-1].hi != h->hi) ? 1 : 0;
  return edges;
}

void EdgeFaceMap::build_from(const RemeshMesh& mesh, std::span<const uint32_t> triangles) {
  keyed_.clear();
  for (uint32_t t : triangles) {
    const Triangle& tri = mesh.triangles[t];
    for (int i = 0; i < 3; ++i) {
      const uint32_t x = tri[i], y = tri[(i + 1) % 3];
      keyed_.push_back({std::min(x, y), std::max(x, y), t});
    }
  }
  // Equal keys are equal records, so any sort gives the same sequence.
  tbb::parallel_sort(keyed_.begin(), keyed_.end(), [](KeyedHalfEdge x, KeyedHalfEdge y) {
    return x.lo != y.lo ? x.lo < y.lo : (x.hi != y.hi ? x.hi < y.hi : x.face < y.face);
  });
  half_edges_.resize(keyed_.size());
  std::transform(keyed_.begin(), keyed_.end(), half_edges_.begin(),
                 [](KeyedHalfEdge h) { return HalfEdge{h.hi, h.face}; });
  lo_.clear();
  hi_.clear();
  faces_.clear();
  face_start_.clear();
  edge_start_.clear();
  for (size_t first = 0; first < keyed_.size();) {
    size_t last = first;
    while (last < keyed_.size() && keyed_[last].lo == keyed_[first].lo) ++last;
    append_edges_of(keyed_[first].lo, std::span<const HalfEdge>(half_edges_).subspan(first, last - first));
    first = last;
  }
  face_start_.push_back(faces_.size());
}

// Appends the edges of one smaller endpoint from its half-edges sorted by
// larger endpoint and face.
void EdgeFaceMap::append_edges_of(uint32_t lo, std::span<const HalfEdge> sorted) {
  for (size_t i = 0; i < sorted.size(); ++i) {
    if (i == 0 || sorted[i - 1].hi != sorted[i].hi) {
      face_start_.push_back(faces_.size());
      lo_.push_back(lo);
      hi_.push_back(sorted[i].hi);
    }
    faces_.push_back(sorted[i].face);
  }
}

uint64_t EdgeFaceMap::find(uint32_t a, uint32_t b) const {
  const uint32_t lo = std::min(a, b), hi = std::max(a, b);
  uint64_t first = 0, count = lo_.size();
  if (lo + uint64_t{1} < edge_start_.size()) {  // built per vertex: search only lo's edges
    first = edge_start_[lo];
    count = edge_start_[lo + 1] - first;
  } else if (!edge_start_.empty()) {
    return kNone;
  }
  while (count > 0) {  // lower bound of (lo, hi) in key order
    const uint64_t half = count / 2, mid = first + half;
    if (lo_[mid] < lo || (lo_[mid] == lo && hi_[mid] < hi)) {
      first = mid + 1;
      count -= half + 1;
    } else {
      count = half;
    }
  }
  return first < lo_.size() && lo_[first] == lo && hi_[first] == hi ? first : kNone;
}

}  // namespace vorrel
