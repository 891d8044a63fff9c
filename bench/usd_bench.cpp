// Writes and reads a proxy-sized mesh (about one million triangles) as a crate
// file and as a text layer and prints the seconds each step takes.
//
//   usd_bench [output-directory]   (default /tmp)

#include <chrono>
#include <cmath>
#include <cstdio>
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

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "/tmp";
  const MeshWithAttributes mesh = wavy_grid(707);
  std::printf("mesh: %zu vertices, %zu triangles\n", mesh.positions.size(), mesh.indices.size());
  for (const char* extension : {"usdc", "usda"}) {
    const std::string path = dir + "/vorrel_usd_bench." + extension;
    const bool crate = std::string(extension) == "usdc";
    IoStatus written;
    const double write_s = seconds([&] { written = crate ? write_usdc(path, mesh) : write_usda(path, mesh); });
    IoResult<MeshWithAttributes> read = MeshWithAttributes{};
    const double read_s = seconds([&] { read = crate ? read_usdc(path) : read_usda(path); });
    if (written || !read.ok() || read->indices != mesh.indices) {
      std::fprintf(stderr, "%s: round trip failed\n", extension);
      return 1;
    }
    std::printf("vorrel %s: write %.3f s, read %.3f s\n", extension, write_s, read_s);
  }
  return 0;
}
