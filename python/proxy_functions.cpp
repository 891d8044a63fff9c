// generate_proxy and generate_lod_chain: proxies built from a Mesh object.

#include "python/proxy_functions.h"

#include <algorithm>

#include "core/proxy.h"
#include "python/args.h"
#include "python/boundary.h"
#include "python/mesh_object.h"

namespace vorrel::py {
namespace {

const Signature kGenerateProxy{
    "generate_proxy",
    {"mesh", "quality", "target_faces", "voxel_res", "offset", "close", "smooth", "smooth_lambda", "remesh",
     "adaptive_remesh", "bilateral", "bilateral_sigma_n", "project", "use_sdf"},
    1,
    1};

const Signature kGenerateLodChain{
    "generate_lod_chain", {"mesh", "levels", "base_res", "smooth", "remesh", "offset", "close", "project"}, 1, 1};

// Runs the pipeline with the interpreter lock released; the lock is taken back
// on every exit path before any error is raised.
Mesh build_without_lock(const Mesh& input, const ProxySettings& settings) {
  Expected<Mesh> result = [&] {
    GilRelease unlocked;
    return build_proxy(input.positions, input.indices, settings);
  }();
  return unwrap(std::move(result));
}

}  // namespace

ProxyOptions read_proxy_options(const Arguments& arguments) {
  ProxyOptions options;
  options.quality = to_optional_str(arguments["quality"], "quality");
  options.target_faces = to_optional_count(arguments["target_faces"], "target_faces");
  options.voxel_res = to_count(arguments["voxel_res"], "voxel_res", options.voxel_res);
  options.offset = to_float(arguments["offset"], "offset", options.offset);
  options.close = to_count(arguments["close"], "close", options.close);
  options.smooth = to_count(arguments["smooth"], "smooth", options.smooth);
  options.smooth_lambda = to_float(arguments["smooth_lambda"], "smooth_lambda", options.smooth_lambda);
  options.remesh = to_count(arguments["remesh"], "remesh", options.remesh);
  options.adaptive_remesh = to_bool(arguments["adaptive_remesh"], "adaptive_remesh", options.adaptive_remesh);
  options.bilateral = to_bool(arguments["bilateral"], "bilateral", options.bilateral);
  options.bilateral_sigma_n =
      to_float(arguments["bilateral_sigma_n"], "bilateral_sigma_n", options.bilateral_sigma_n);
  options.project = to_float(arguments["project"], "project", options.project);
  options.use_sdf = to_bool(arguments["use_sdf"], "use_sdf", options.use_sdf);
  return options;
}

PyObject* generate_proxy(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    Arguments arguments(kGenerateProxy, args, kwargs);
    const Mesh& mesh = mesh_argument(arguments["mesh"], "mesh");
    ProxyOptions options = read_proxy_options(arguments);
    ResolveResult resolved = resolve_settings(options, mesh.positions, mesh.indices);
    if (auto* error = std::get_if<OptionError>(&resolved)) raise_value_error(error->message);
    if (auto* error = std::get_if<InternalError>(&resolved)) {
      set_internal_error(*error);
      throw ErrorAlreadySet{};
    }
    // The caller's Mesh object is immutable, so the pipeline reads its arrays
    // directly while the lock is released.
    return wrap_mesh(build_without_lock(mesh, std::get<ProxySettings>(resolved))).release();
  });
}

PyObject* generate_lod_chain(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    Arguments arguments(kGenerateLodChain, args, kwargs);
    const Mesh& mesh = mesh_argument(arguments["mesh"], "mesh");
    const uint64_t levels = to_count(arguments["levels"], "levels", 4);
    const uint64_t base_res = to_count(arguments["base_res"], "base_res", 128);
    ProxySettings settings;
    settings.smooth = to_count(arguments["smooth"], "smooth", 5);
    settings.remesh = to_count(arguments["remesh"], "remesh", 3);
    settings.offset = to_float(arguments["offset"], "offset", 0.1);
    settings.close = to_count(arguments["close"], "close", 1);
    settings.project = to_float(arguments["project"], "project", 2.0);

    Ref chain = Ref::steal(check(PyList_New(0)));
    if (levels == 0) return chain.release();
    check_status(PyList_Append(chain.get(), wrap_mesh(mesh).get()));
    for (uint64_t k = 1; k < levels; ++k) {
      // Shifting by 64 or more halves past zero: such levels use the floor of 8.
      const uint64_t shift = k - 1;
      settings.voxel_res = std::max<uint64_t>(shift < 64 ? base_res >> shift : 0, 8);
      check_status(PyList_Append(chain.get(), wrap_mesh(build_without_lock(mesh, settings)).get()));
    }
    return chain.release();
  });
}

}  // namespace vorrel::py
