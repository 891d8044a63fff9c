// Prints marching-cubes throughput on distance-like fields and the distance
// field stage times for a real scan.
//
//   volume_bench [OBJ]                 throughput and stage times (default: the bunny scan)
//   volume_bench --field OBJ RES [N]  the distance field alone (close 1, band 2 cells, far field to
//                                      one cell), N runs: the fastest build and far-field times and
//                                      the peak resident bytes per cell the field added
//   volume_bench --dump DIR OBJ RES    the pipeline's field of OBJ at RES (close 1, band 2 cells,
//                                      iso one cell) for side-by-side runs of other libraries:
//                                      DIR/field.f32 (values after the far field, x fastest),
//                                      DIR/seeds.u8 (1 on band cells) and one line of key=value
//                                      figures on stdout
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "core/marching_cubes.h"
#include "core/sdf.h"
#include "io/obj.h"

using namespace vorrel;

namespace {

// A memory figure of this process in MiB from /proc/self/status: "VmHWM:"
// (peak resident set size) or "VmRSS:" (resident set size now).
double status_mib(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::stod(line.substr(key.size())) / 1024.0;
  }
  return 0.0;
}

double peak_resident_mib() { return status_mib("VmHWM:"); }

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

// The pipeline's default field (close 1, band 2 cells) and the seconds its
// build took; none, with the error printed, when it cannot be built.
std::optional<DistanceField> build_default_field(const Mesh& mesh, uint64_t voxel_res, double& seconds) {
  const auto start = std::chrono::steady_clock::now();
  auto field = build_distance_field(mesh.positions, mesh.indices, voxel_res, 1, 2.0);
  seconds = seconds_since(start);
  if (!field) {
    std::printf("error: %s\n", field.error().message.c_str());
    return std::nullopt;
  }
  return std::move(*field);
}

void bench_distance_field(const Mesh& mesh, uint64_t voxel_res) {
  double build = 0.0;
  std::optional<DistanceField> field = build_default_field(mesh, voxel_res, build);
  if (!field) return;
  auto start = std::chrono::steady_clock::now();
  compute_far_field(*field, field->cell_size);
  const double far = seconds_since(start);
  const double cells = double(field->nx * field->ny * field->nz);
  std::printf("distance field at %llu: %llux%llux%llu cells, band + sign %.3f s, far field %.3f s, "
              "field %.0f MiB (13 B/cell), peak resident so far %.0f MiB\n",
              static_cast<unsigned long long>(voxel_res), static_cast<unsigned long long>(field->nx),
              static_cast<unsigned long long>(field->ny), static_cast<unsigned long long>(field->nz), build, far,
              cells * 13 / 1048576.0, peak_resident_mib());
}

// The peak is taken before any other large allocation of this process, so the
// growth of the high-water mark over the resident size at the start is the
// field's own peak.
int bench_field_only(const Mesh& mesh, uint64_t voxel_res, int runs) {
  const double base_mib = status_mib("VmRSS:");
  double best_build = 1e30, best_far = 1e30, cells = 0.0, peak_mib = 0.0;
  for (int run = 0; run < runs; ++run) {
    double build = 0.0;
    std::optional<DistanceField> field = build_default_field(mesh, voxel_res, build);
    if (!field) return 1;
    const auto start = std::chrono::steady_clock::now();
    compute_far_field(*field, field->cell_size);
    best_far = std::min(best_far, seconds_since(start));
    best_build = std::min(best_build, build);
    cells = double(field->nx * field->ny * field->nz);
    if (run == 0) peak_mib = peak_resident_mib();
  }
  std::printf("distance field at %llu: %.0f cells, band + sign %.3f s, far field %.3f s (fastest of %d), "
              "peak %.1f B/cell over the start\n",
              static_cast<unsigned long long>(voxel_res), cells, best_build, best_far, runs,
              (peak_mib - base_mib) * 1048576.0 / cells);
  return 0;
}

template <class T>
bool write_raw(const std::string& path, const std::vector<T>& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size() * sizeof(T)));
  return static_cast<bool>(out);
}

// The same field, far field and extraction as the proxy pipeline's defaults.
int dump_field(const std::string& dir, const Mesh& mesh, uint64_t voxel_res) {
  double band_sign = 0.0;
  std::optional<DistanceField> built = build_default_field(mesh, voxel_res, band_sign);
  if (!built) return 1;
  DistanceField& field = *built;
  std::vector<uint8_t> seeds(field.band_distance.size());
  for (size_t i = 0; i < seeds.size(); ++i) seeds[i] = std::isfinite(field.band_distance[i]) ? 1 : 0;
  const double iso = field.cell_size;
  auto start = std::chrono::steady_clock::now();
  compute_far_field(field, iso);
  const double far = seconds_since(start);
  start = std::chrono::steady_clock::now();
  const Mesh proxy = extract_iso_surface(field.values, field.nx, field.ny, field.nz, field.origin, field.cell_size, iso);
  const double mc = seconds_since(start);
  if (!write_raw(dir + "/field.f32", field.values) || !write_raw(dir + "/seeds.u8", seeds)) {
    std::printf("error: cannot write to %s\n", dir.c_str());
    return 1;
  }
  std::printf("nx=%llu ny=%llu nz=%llu cell_size=%.17g iso=%.17g band_sign_s=%.4f far_field_s=%.4f mc_s=%.4f "
              "mc_vertices=%zu mc_triangles=%zu\n",
              static_cast<unsigned long long>(field.nx), static_cast<unsigned long long>(field.ny),
              static_cast<unsigned long long>(field.nz), field.cell_size, iso, band_sign, far, mc,
              proxy.positions.size(), proxy.indices.size());
  return 0;
}

bool read_mesh(const std::string& path, Mesh& mesh) {
  auto read = io::read_obj(path);
  if (!read.ok()) {
    std::printf("cannot read %s: %s\n", path.c_str(), read.error().text().c_str());
    return false;
  }
  mesh.positions = std::move(read->positions);
  mesh.indices = std::move(read->indices);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--dump") {
    Mesh mesh;
    if (!read_mesh(argv[3], mesh)) return 1;
    return dump_field(argv[2], mesh, std::strtoull(argv[4], nullptr, 10));
  }
  if ((argc == 4 || argc == 5) && std::string(argv[1]) == "--field") {
    Mesh mesh;
    if (!read_mesh(argv[2], mesh)) return 1;
    const int runs = argc == 5 ? std::max(1, std::atoi(argv[4])) : 3;
    return bench_field_only(mesh, std::strtoull(argv[3], nullptr, 10), runs);
  }
  bench_marching_cubes(256);
  bench_marching_cubes(512);
  const std::string path = argc > 1 ? argv[1] : VORREL_SOURCE_DIR "/../shared/data/obj/stanford-bunny.obj";
  Mesh mesh;
  if (!read_mesh(path, mesh)) return 1;
  std::printf("%s: %zu vertices, %zu triangles\n", path.c_str(), mesh.positions.size(), mesh.indices.size());
  bench_distance_field(mesh, 128);
  bench_distance_field(mesh, 256);
  return 0;
}
