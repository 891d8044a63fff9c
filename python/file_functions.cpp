#include "python/file_functions.h"

#include <chrono>
#include <string>
#include <variant>

#include "core/attribute_transfer.h"
#include "core/progress.h"
#include "core/proxy.h"
#include "io/dispatch.h"
#include "python/args.h"
#include "python/boundary.h"
#include "python/mesh_object.h"
#include "python/proxy_functions.h"

namespace vorrel::py {
namespace {

const Signature kLoad{"load", {"path"}, 1, 1};
const Signature kSave{"save", {"mesh", "path"}, 2, 2};
const Signature kProxyFromPath{
    "proxy_from_path",
    {"input_path", "output_path", "quality", "target_faces", "voxel_res", "offset", "close", "smooth",
     "smooth_lambda", "remesh", "adaptive_remesh", "bilateral", "bilateral_sigma_n", "project", "use_sdf",
     "transfer_normals", "transfer_uvs"},
    2,
    2};

// A str path as the file system's bytes (lone surrogates from undecodable file
// names map back to their original bytes). A path with a zero byte names no
// file, and the file layer would see only the part before it, so it is refused
// with the interpreter's own ValueError, as open() does.
std::string path_argument(PyObject* value, const char* name) {
  if (!value || !PyUnicode_Check(value)) {
    throw_argument_error(name, "expected str, got " + (value ? type_name(value) : std::string("nothing")));
  }
  PyObject* converted = nullptr;
  if (!PyUnicode_FSConverter(value, &converted)) throw ErrorAlreadySet{};
  Ref bytes = Ref::steal(converted);
  return std::string(PyBytes_AS_STRING(bytes.get()), static_cast<size_t>(PyBytes_GET_SIZE(bytes.get())));
}

template <class T>
std::optional<std::span<const T>> optional_span(const std::optional<std::vector<T>>& values) {
  if (!values) return std::nullopt;
  return std::span<const T>(*values);
}

// What the unlocked part of proxy_from_path hands back to the locked part.
struct FileProxyRun {
  uint64_t input_vertices = 0, input_faces = 0, output_vertices = 0, output_faces = 0;
};
struct FailureMessage {
  std::string text;  // raised as ValueError
};
// An internal error while resolving the options is reported like any other
// resolution failure, as ValueError "settings: {type name}: {message}"; the
// type name is read once the lock is held again.
struct SettingsInternalError {
  InternalError error;
};
using FileProxyOutcome = std::variant<FileProxyRun, FailureMessage, InternalError, SettingsInternalError>;

FileProxyOutcome run_file_proxy(const std::string& input_path, const std::string& output_path,
                                const ProxyOptions& options, bool transfer_normals, bool transfer_uvs) {
  io::IoResult<io::MeshWithAttributes> loaded = io::load_mesh_file(input_path);
  if (!loaded.ok()) return FailureMessage{"load " + input_path + ": " + loaded.error().text()};
  const io::MeshWithAttributes& input = loaded.value();

  ResolveResult resolved = resolve_settings(options, input.positions, input.indices);
  if (auto* error = std::get_if<OptionError>(&resolved)) return FailureMessage{"settings: ValueError: " + error->message};
  if (auto* error = std::get_if<InternalError>(&resolved)) return SettingsInternalError{*error};

  Expected<Mesh> proxy = build_proxy(input.positions, input.indices, std::get<ProxySettings>(resolved));
  if (!proxy.ok()) return proxy.error();

  TransferredAttributes transferred =
      transfer_attributes(input.positions, input.indices, optional_span(input.normals), optional_span(input.uvs),
                          proxy->positions, proxy->indices, transfer_normals, transfer_uvs);
  FileProxyRun run{input.positions.size(), input.indices.size(), proxy->positions.size(), proxy->indices.size()};
  io::MeshWithAttributes output{std::move(proxy->positions), std::move(proxy->indices), std::move(transferred.uvs),
                                std::move(transferred.normals)};
  if (io::IoStatus failure = io::save_mesh_file(output_path, output)) {
    return FailureMessage{"save " + output_path + ": " + failure->text()};
  }
  return run;
}

std::string settings_internal_error_text(const InternalError& error) {
  Ref name = Ref::steal(check(PyObject_GetAttrString(internal_error_type(), "__name__")));
  const char* text = PyUnicode_AsUTF8(name.get());
  if (!text) throw ErrorAlreadySet{};
  return "settings: " + std::string(text) + ": " + error.message;
}

Ref result_dict(PyObject* input_path, PyObject* output_path, const FileProxyRun& run, double wall_seconds) {
  Ref dict = Ref::steal(check(PyDict_New()));
  auto set = [&](const char* key, Ref value) {
    check(value.get());
    check_status(PyDict_SetItemString(dict.get(), key, value.get()));
  };
  set("input_path", Ref::borrow(input_path));
  set("output_path", Ref::borrow(output_path));
  set("input_vertices", Ref::steal(PyLong_FromUnsignedLongLong(run.input_vertices)));
  set("input_faces", Ref::steal(PyLong_FromUnsignedLongLong(run.input_faces)));
  set("output_vertices", Ref::steal(PyLong_FromUnsignedLongLong(run.output_vertices)));
  set("output_faces", Ref::steal(PyLong_FromUnsignedLongLong(run.output_faces)));
  set("wall_seconds", Ref::steal(PyFloat_FromDouble(wall_seconds)));
  return dict;
}

}  // namespace

PyObject* load(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    Arguments arguments(kLoad, args, kwargs);
    const std::string path = path_argument(arguments["path"], "path");
    io::IoResult<io::MeshWithAttributes> loaded = io::load_mesh_file(path);
    if (!loaded.ok()) raise_value_error(loaded.error().text());
    io::MeshWithAttributes& file = loaded.value();
    return wrap_mesh(Mesh{std::move(file.positions), std::move(file.indices)}).release();
  });
}

PyObject* save(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    Arguments arguments(kSave, args, kwargs);
    const Mesh& mesh = mesh_argument(arguments["mesh"], "mesh");
    const std::string path = path_argument(arguments["path"], "path");
    io::MeshWithAttributes file{mesh.positions, mesh.indices, std::nullopt, std::nullopt};
    if (io::IoStatus failure = io::save_mesh_file(path, file)) raise_value_error(failure->text());
    Py_RETURN_NONE;
  });
}

PyObject* proxy_from_path(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    Arguments arguments(kProxyFromPath, args, kwargs);
    PyObject* input_object = arguments["input_path"];
    PyObject* output_object = arguments["output_path"];
    const std::string input_path = path_argument(input_object, "input_path");
    const std::string output_path = path_argument(output_object, "output_path");
    const ProxyOptions options = read_proxy_options(arguments);
    const bool transfer_normals = to_bool(arguments["transfer_normals"], "transfer_normals", true);
    const bool transfer_uvs = to_bool(arguments["transfer_uvs"], "transfer_uvs", false);

    const auto start = ProgressIo::Clock::now();
    FileProxyOutcome outcome = [&] {
      GilRelease unlocked;
      return run_file_proxy(input_path, output_path, options, transfer_normals, transfer_uvs);
    }();
    const double wall_seconds = seconds_between(start, ProgressIo::Clock::now());

    if (auto* failure = std::get_if<FailureMessage>(&outcome)) raise_value_error(failure->text);
    if (auto* failure = std::get_if<SettingsInternalError>(&outcome)) {
      raise_value_error(settings_internal_error_text(failure->error));
    }
    if (auto* error = std::get_if<InternalError>(&outcome)) {
      set_internal_error(*error);
      throw ErrorAlreadySet{};
    }
    return result_dict(input_object, output_object, std::get<FileProxyRun>(outcome), wall_seconds).release();
  });
}

}  // namespace vorrel::py
