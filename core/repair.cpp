#include "core/repair.h"

#include <algorithm>
#include <limits>
#include <optional>

#include <absl/container/flat_hash_map.h>

#include "core/undirected_edge.h"

namespace vorrel {
namespace {

using EdgeUses = absl::flat_hash_map<UndirectedEdge, uint32_t>;
// For each vertex v, the start vertices u of the boundary half-edges u → v in
// the order they were found; used as stacks.
using BoundaryStacks = absl::flat_hash_map<uint32_t, std::vector<uint32_t>>;
using Loop = std::vector<uint32_t>;

void add_edge_uses(EdgeUses& uses, const Triangle& t) {
  for (int c = 0; c < 3; ++c) ++uses[make_undirected_edge(t[c], t[(c + 1) % 3])];
}

EdgeUses count_edge_uses(const std::vector<Triangle>& triangles) {
  EdgeUses uses;
  uses.reserve(triangles.size() * 3 / 2 + 1);
  for (const Triangle& t : triangles) add_edge_uses(uses, t);
  return uses;
}

uint32_t use_count(const EdgeUses& uses, uint32_t u, uint32_t v) {
  auto it = uses.find(make_undirected_edge(u, v));
  return it == uses.end() ? 0 : it->second;
}

BoundaryStacks collect_boundary_half_edges(const std::vector<Triangle>& triangles, const EdgeUses& uses) {
  BoundaryStacks stacks;
  for (const Triangle& t : triangles) {
    for (int c = 0; c < 3; ++c) {
      uint32_t u = t[c];
      uint32_t v = t[(c + 1) % 3];
      if (use_count(uses, u, v) == 1) stacks[v].push_back(u);
    }
  }
  return stacks;
}

std::optional<uint32_t> pop(BoundaryStacks& stacks, uint32_t v) {
  auto it = stacks.find(v);
  if (it == stacks.end() || it->second.empty()) return std::nullopt;
  uint32_t u = it->second.back();
  it->second.pop_back();
  return u;
}

// Follows boundary half-edges backwards from s, consuming every half-edge it
// pops whether or not the loop is kept. Returns the closed loop without its
// repeated start, or nothing when it is open, too long or shorter than three.
std::optional<Loop> trace_loop(BoundaryStacks& stacks, uint32_t s, uint64_t max_loop) {
  std::optional<uint32_t> e = pop(stacks, s);
  if (!e || max_loop == 0) return std::nullopt;
  Loop loop{s, *e};
  if (*e != s) {
    for (uint64_t step = 1;; ++step) {
      std::optional<uint32_t> x = pop(stacks, loop.back());
      if (!x) return std::nullopt;
      loop.push_back(*x);
      if (step == max_loop) return std::nullopt;
      if (*x == s) break;
    }
  }
  loop.pop_back();
  if (loop.size() < 3 || loop.size() > max_loop) return std::nullopt;
  return loop;
}

// Number of fan diagonals from loop vertex j that are already shared.
uint64_t shared_diagonals(const Loop& loop, size_t j, const EdgeUses& uses) {
  size_t k = loop.size();
  uint64_t count = 0;
  for (size_t l = 2; l + 2 <= k; ++l) {
    if (use_count(uses, loop[j], loop[(j + l) % k]) > 1) ++count;
  }
  return count;
}

size_t choose_apex(const Loop& loop, const EdgeUses& uses) {
  if (loop.size() < 4) return 0;
  size_t apex = 0;
  uint64_t fewest = std::numeric_limits<uint64_t>::max();
  for (size_t j = 0; j < loop.size(); ++j) {
    uint64_t count = shared_diagonals(loop, j, uses);
    if (count < fewest) {
      fewest = count;
      apex = j;
    }
    if (count == 0) break;
  }
  return apex;
}

void fill_with_fan(const Loop& loop, std::vector<Triangle>& triangles, EdgeUses& uses) {
  size_t k = loop.size();
  size_t apex = choose_apex(loop, uses);
  auto rotated = [&](size_t i) { return loop[(i + apex) % k]; };
  for (size_t i = 1; i + 1 < k; ++i) {
    Triangle t{rotated(0), rotated(i), rotated(i + 1)};
    triangles.push_back(t);
    add_edge_uses(uses, t);
  }
}

std::vector<uint32_t> sorted_start_vertices(const BoundaryStacks& stacks) {
  std::vector<uint32_t> starts;
  starts.reserve(stacks.size());
  for (const auto& [v, list] : stacks) starts.push_back(v);
  std::sort(starts.begin(), starts.end());
  return starts;
}

}  // namespace

uint64_t seal_pinholes(std::vector<Triangle>& triangles, uint64_t max_loop) {
  if (triangles.empty()) return 0;
  EdgeUses uses = count_edge_uses(triangles);
  // Built once: the fans' own edges never become boundary half-edges here.
  BoundaryStacks stacks = collect_boundary_half_edges(triangles, uses);
  if (stacks.empty()) return 0;

  uint64_t filled = 0;
  for (uint32_t s : sorted_start_vertices(stacks)) {
    while (!stacks.find(s)->second.empty()) {
      std::optional<Loop> loop = trace_loop(stacks, s, max_loop);
      if (!loop) continue;
      fill_with_fan(*loop, triangles, uses);
      ++filled;
    }
  }
  return filled;
}

}  // namespace vorrel
