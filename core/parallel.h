#pragma once
// Data-parallel loops on the process-wide oneTBB pool. Every helper splits the
// index range with TBB's default partitioner; callers keep results independent
// of the split by writing disjoint outputs or combining order-independently, so
// results are identical for any number of worker threads.

#include <cstddef>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/task_arena.h>
#include <tbb/parallel_for.h>

namespace vorrel {

// fn(i) for every i in [begin, end).
template <class Fn>
void parallel_for(size_t begin, size_t end, Fn&& fn) {
  if (begin >= end) return;
  tbb::parallel_for(tbb::blocked_range<size_t>(begin, end), [&](const tbb::blocked_range<size_t>& r) {
    for (size_t i = r.begin(); i != r.end(); ++i) fn(i);
  });
}

// fn(lo, hi) for sub-ranges that together cover [begin, end) exactly once; for
// loops that keep scratch memory per chunk.
template <class Fn>
void parallel_for_chunks(size_t begin, size_t end, Fn&& fn) {
  if (begin >= end) return;
  tbb::parallel_for(tbb::blocked_range<size_t>(begin, end),
                    [&](const tbb::blocked_range<size_t>& r) { fn(r.begin(), r.end()); });
}

// out[i] = fn(i) for every slot of a preallocated output.
template <class T, class Fn>
void parallel_map(std::vector<T>& out, Fn&& fn) {
  T* data = out.data();
  parallel_for(0, out.size(), [&](size_t i) { data[i] = fn(i); });
}

// The results fn(0), …, fn(n − 1) in index order, whatever order they finish in.
template <class T, class Fn>
std::vector<T> parallel_collect(size_t n, Fn&& fn) {
  std::vector<T> results(n);
  parallel_for(0, n, [&](size_t i) { results[i] = fn(i); });
  return results;
}

// Number of threads the pool may use for a parallel loop started now.
inline size_t worker_count() { return static_cast<size_t>(tbb::this_task_arena::max_concurrency()); }

}  // namespace vorrel
