// Writes and reads a proxy-sized mesh (about one million triangles) as a crate
// file and as a text layer and prints the seconds each step takes: the first
// write and read of the process (fresh heap, so every output page is faulted
// in) and the fastest of `repeats` rounds (wall-clock times on a shared
// machine drift, the minimum is the stable figure).
//
//   usd_bench [output-directory [repeats]]   (defaults /tmp, 7)

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "io/usd.h"
#include "io/usdc.h"

namespace {

using namespace vorrel;
using namespace vorrel::io;

// A wavy height field of n x n quads, two triangles each.
MeshWithAttributes wavy_grid(uint32_t n) {
  MeshWithAttributes mesh;
  for (uint32_t i = 0; i <= n; ++i) {
    for (uint32_t j = 0; j <= n; ++j) {
      const double x = double(i) / n, y = double(j) / n;
      mesh.positions.push_back({x, y, 0.05 * std::sin(20 * x) * std::cos(17 * y)});
    }
  }
  for (uint32_t i = 0; i < n; ++i) {
    for (uint32_t j = 0; j < n; ++j) {
      const uint32_t a = i * (n + 1) + j, b = a + 1, c = a + n + 1, d = c + 1;
      mesh.indices.push_back({a, c, b});
      mesh.indices.push_back({b, c, d});
    }
  }
  return mesh;
}

template <class Fn>
double seconds(Fn&& fn) {
  const auto start = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Timing {
  double first = 0;
  double best = 0;

  void add(double s) {
    best = first == 0 ? s : std::min(best, s);
    if (first == 0) first = s;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "/tmp";
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  const MeshWithAttributes mesh = wavy_grid(707);
  std::printf("mesh: %zu vertices, %zu triangles\n", mesh.positions.size(), mesh.indices.size());
  for (const char* extension : {"usdc", "usda"}) {
    const std::string path = dir + "/vorrel_usd_bench." + extension;
    const bool crate = std::string(extension) == "usdc";
    Timing write_s, read_s;
    for (int round = 0; round < repeats; ++round) {
      IoStatus written;
      write_s.add(seconds([&] { written = crate ? write_usdc(path, mesh) : write_usda(path, mesh); }));
      IoResult<MeshWithAttributes> read = MeshWithAttributes{};
      read_s.add(seconds([&] { read = crate ? read_usdc(path) : read_usda(path); }));
      if (written || !read.ok() || read->indices != mesh.indices) {
        std::fprintf(stderr, "%s: round trip failed\n", extension);
        return 1;
      }
    }
    std::printf("vorrel %s: write %.4f s (first %.4f), read %.4f s (first %.4f)\n", extension, write_s.best,
                write_s.first, read_s.best, read_s.first);
  }
  return 0;
}
