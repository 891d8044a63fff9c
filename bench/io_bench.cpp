// Read and write throughput of the OBJ reader and writer, and of the glTF
// reader and GLB writer, on the sample scans and any files given.
//
//   io_bench [--generate PATH] [FILE ...]
//
// --generate writes a grid OBJ of about 2 million triangles to PATH and exits.
// Otherwise each FILE (default: the sample OBJs) is read, then written back
// to a scratch file, best of three runs; one tab-separated line per figure:
//   read|write <TAB> file <TAB> bytes <TAB> seconds <TAB> MB/s

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "io/gltf_io.h"
#include "io/obj.h"

namespace {

using vorrel::io::MeshWithAttributes;

constexpr int kRuns = 3;

// A (n + 1) × (n + 1) vertex height field with 2n² triangles.
MeshWithAttributes grid(uint32_t n) {
  MeshWithAttributes mesh;
  for (uint32_t j = 0; j <= n; ++j) {
    for (uint32_t i = 0; i <= n; ++i) {
      const double x = i / double(n), y = j / double(n);
      mesh.positions.push_back({x, y, 0.1 * x * y + 0.01 * ((i * 7 + j * 13) % 17)});
    }
  }
  for (uint32_t j = 0; j < n; ++j) {
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t a = j * (n + 1) + i, b = a + 1, c = a + n + 1, d = c + 1;
      mesh.indices.push_back({a, b, d});
      mesh.indices.push_back({a, d, c});
    }
  }
  return mesh;
}

template <class Fn>
double best_seconds(Fn&& fn) {
  double best = 1e300;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    if (!fn()) return -1.0;
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

void report(const char* what, const std::string& file, uintmax_t bytes, double seconds) {
  if (seconds < 0) {
    fmt::print("{}\t{}\tfailed\n", what, file);
    return;
  }
  fmt::print("{}\t{}\t{}\t{:.4f}\t{:.1f}\n", what, file, bytes, seconds, bytes / 1e6 / seconds);
}

void bench_file(const std::string& path, const std::string& scratch_dir) {
  const bool gltf = path.ends_with(".gltf") || path.ends_with(".glb");
  const auto read = [&] { return gltf ? vorrel::io::read_gltf(path) : vorrel::io::read_obj(path); };
  auto mesh = read();
  if (!mesh.ok()) {
    fmt::print(stderr, "{}: {}\n", path, mesh.error().text());
    return;
  }
  report("read", path, std::filesystem::file_size(path), best_seconds([&] { return read().ok(); }));
  const std::string out = scratch_dir + (gltf ? "/out.glb" : "/out.obj");
  const double seconds = best_seconds([&] {
    return !(gltf ? vorrel::io::write_glb(out, *mesh) : vorrel::io::write_obj(out, *mesh));
  });
  report("write", path, std::filesystem::file_size(out), seconds);
  std::filesystem::remove(out);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files(argv + 1, argv + argc);
  if (files.size() == 2 && files[0] == "--generate") {
    auto status = vorrel::io::write_obj(files[1], grid(1000));
    if (status) fmt::print(stderr, "{}\n", status->text());
    return status ? 1 : 0;
  }
  if (files.empty()) {
    const std::filesystem::path data = VORREL_SOURCE_DIR "/../shared/data/obj";
    if (std::filesystem::is_directory(data)) {
      for (const auto& entry : std::filesystem::directory_iterator(data)) {
        if (entry.path().extension() == ".obj") files.push_back(entry.path().string());
      }
    }
    std::sort(files.begin(), files.end());
  }
  const std::string scratch = std::filesystem::temp_directory_path().string();
  for (const std::string& file : files) bench_file(file, scratch);
  return 0;
}
