// Prints marching-cubes throughput on distance-like fields and the distance
// field stage times for a real scan. Usage: volume_bench [obj path]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/marching_cubes.h"
#include "core/sdf.h"

using namespace vorrel;

namespace {

// Peak resident set size of this process in MiB, from /proc.
double peak_resident_mib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return 0.0;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Distance to a wavy sphere, so that every slab holds surface.
std::vector<float> distance_like_field(uint64_t n) {
  std::vector<float> values(n * n * n);
  const double c = n / 2.0, r = n * 0.35;
  for (uint64_t z = 0; z < n; ++z)
    for (uint64_t y = 0; y < n; ++y)
      for (uint64_t x = 0; x < n; ++x) {
        const double dx = x - c, dy = y - c, dz = z - c;
        const double wave = 0.05 * r * std::sin(dx * 0.2) * std::cos(dy * 0.15);
        values[x + n * (y + n * z)] = static_cast<float>(std::sqrt(dx * dx + dy * dy + dz * dz) - r + wave);
      }
  return values;
}

void bench_marching_cubes(uint64_t n) {
  const std::vector<float> values = distance_like_field(n);
  const auto start = std::chrono::steady_clock::now();
  const Mesh mesh = extract_iso_surface(values, n, n, n, {0, 0, 0}, 1.0, 0.0);
  const double s = seconds_since(start);
  std::printf("marching cubes %llu^3: %.3f s, %.1f M cells/s, %zu vertices, %zu triangles\n",
              static_cast<unsigned long long>(n), s, double((n - 1) * (n - 1) * (n - 1)) / s / 1e6,
              mesh.positions.size(), mesh.indices.size());
}

// Vertices and faces of an OBJ file, faces fanned into triangles.
bool read_obj(const std::string& path, Mesh& mesh) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    std::string tag;
    s >> tag;
    if (tag == "v") {
      Vec3 p;
      s >> p.x >> p.y >> p.z;
      mesh.positions.push_back(p);
    } else if (tag == "f") {
      std::vector<uint32_t> face;
      std::string corner;
      while (s >> corner) face.push_back(static_cast<uint32_t>(std::stoul(corner) - 1));
      for (size_t k = 1; k + 1 < face.size(); ++k) mesh.indices.push_back({face[0], face[k], face[k + 1]});
    }
  }
  return true;
}

void bench_distance_field(const Mesh& mesh, uint64_t voxel_res) {
  auto start = std::chrono::steady_clock::now();
  auto field = build_distance_field(mesh.positions, mesh.indices, voxel_res, 1, 2.0);
  const double build = seconds_since(start);
  if (!field) {
    std::printf("error: %s\n", field.error().message.c_str());
    return;
  }
  start = std::chrono::steady_clock::now();
  compute_far_field(*field, field->cell_size);
  const double far = seconds_since(start);
  const double cells = double(field->nx * field->ny * field->nz);
  std::printf("distance field at %llu: %llux%llux%llu cells, band + sign %.3f s, far field %.3f s, "
              "field %.0f MiB (13 B/cell), peak resident so far %.0f MiB\n",
              static_cast<unsigned long long>(voxel_res), static_cast<unsigned long long>(field->nx),
              static_cast<unsigned long long>(field->ny), static_cast<unsigned long long>(field->nz), build, far,
              cells * 13 / 1048576.0, peak_resident_mib());
}

}  // namespace

int main(int argc, char** argv) {
  bench_marching_cubes(256);
  bench_marching_cubes(512);
  const std::string path = argc > 1 ? argv[1] : VORREL_SOURCE_DIR "/../shared/data/obj/stanford-bunny.obj";
  Mesh mesh;
  if (!read_obj(path, mesh)) {
    std::printf("cannot read %s\n", path.c_str());
    return 1;
  }
  std::printf("%s: %zu vertices, %zu triangles\n", path.c_str(), mesh.positions.size(), mesh.indices.size());
  bench_distance_field(mesh, 128);
  bench_distance_field(mesh, 256);
  return 0;
}
