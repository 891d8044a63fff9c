#include "io/gltf_io.h"

#include <tiny_gltf.h>

#include <cfloat>
#include <climits>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/number_format.h"

namespace vorrel::io {
namespace {

constexpr int kModeTriangles = 4;

MeshIoError gltf_error(std::string_view text) { return MeshIoError::obj_parse(fmt::format("glTF: {}", text)); }

// ---- Import ----------------------------------------------------------------

// Images decoded so far, by image index. Pixels are dropped right after
// decoding: only success matters.
struct ImageDecoding {
  std::vector<bool> decoded;
};

bool decode_image(tinygltf::Image* image, int index, std::string* err, std::string* warn, const unsigned char* bytes,
                  int size, ImageDecoding& state) {
  if (!tinygltf::LoadImageData(image, index, err, warn, 0, 0, bytes, size, nullptr)) return false;
  image->image = {};
  if (static_cast<size_t>(index) >= state.decoded.size()) state.decoded.resize(static_cast<size_t>(index) + 1);
  state.decoded[static_cast<size_t>(index)] = true;
  return true;
}

// Images in buffer views are decoded after the import, once their ranges are
// checked: the importer would hand the decoder an unchecked range.
bool image_loader(tinygltf::Image* image, const int index, std::string* err, std::string* warn, int, int,
                  const unsigned char* bytes, int size, void* user_data) {
  if (image->bufferView >= 0) return true;
  return decode_image(image, index, err, warn, bytes, size, *static_cast<ImageDecoding*>(user_data));
}

// Container checks the importer leaves out or reports only as "Invalid glTF
// binary.": the version must be 2 and the first chunk JSON, and the binary
// chunk's data must not end past the container (the importer allows up to its
// 8-byte header more).
std::optional<std::string> glb_header_problem(const FileContent& file) {
  const auto u32 = [&](size_t offset) {
    uint32_t value = 0;
    std::memcpy(&value, file.begin() + offset, 4);
    return uint64_t{value};
  };
  if (file.size >= 8 && u32(4) != 2) return "unsupported version";
  if (file.size < 20) return std::nullopt;
  if (std::memcmp(file.begin() + 16, "JSON", 4) != 0) return "unknown chunk type";
  const uint64_t length = std::min<uint64_t>(u32(8), file.size);
  const uint64_t json_end = 20 + u32(12);
  if (json_end + 8 > length) return std::nullopt;
  if (json_end + 8 + u32(json_end) > length) return "BIN chunk exceeds the GLB container";
  return std::nullopt;
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

IoResult<tinygltf::Model> import_asset(const std::string& path) {
  auto file = read_whole_file(path);
  if (!file) return gltf_error(MeshIoError::os(file.error().error_number).detail);
  if (file->size > UINT_MAX) return gltf_error("file larger than 4 GiB");
  const bool binary = file->size >= 4 && std::memcmp(file->begin(), "glTF", 4) == 0;
  if (binary) {
    if (auto problem = glb_header_problem(*file)) return gltf_error(*problem);
  }

  tinygltf::TinyGLTF importer;
  ImageDecoding images;
  importer.SetImageLoader(image_loader, &images);
  tinygltf::Model model;
  std::string err, warn;
  const std::string base_dir = std::filesystem::path(path).parent_path().string();
  bool ok = false;
  try {
    const auto size = static_cast<unsigned int>(file->size);
    ok = binary ? importer.LoadBinaryFromMemory(&model, &err, &warn, reinterpret_cast<const unsigned char*>(file->begin()),
                                                size, base_dir)
                : importer.LoadASCIIFromString(&model, &err, &warn, file->begin(), size, base_dir);
  } catch (const std::exception& e) {
    // The importer indexes some containers with bounds-checked access.
    return gltf_error(e.what());
  }
  if (!ok) return gltf_error(err.empty() ? "invalid glTF document" : trimmed(err));

  for (size_t i = 0; i < model.images.size(); ++i) {
    tinygltf::Image& image = model.images[i];
    if (image.bufferView >= 0) {
      if (static_cast<size_t>(image.bufferView) >= model.bufferViews.size()) return gltf_error("image buffer view out of range");
      const tinygltf::BufferView& view = model.bufferViews[static_cast<size_t>(image.bufferView)];
      if (view.buffer < 0 || static_cast<size_t>(view.buffer) >= model.buffers.size()) return gltf_error("image buffer out of range");
      const std::vector<unsigned char>& data = model.buffers[static_cast<size_t>(view.buffer)].data;
      if (view.byteOffset > data.size() || view.byteLength > data.size() - view.byteOffset || view.byteLength > INT_MAX) {
        return gltf_error(fmt::format("image {} buffer view exceeds its buffer", i));
      }
      if (!decode_image(&image, static_cast<int>(i), &err, &warn, data.data() + view.byteOffset,
                        static_cast<int>(view.byteLength), images)) {
        return gltf_error(trimmed(err));
      }
    }
    if (i >= images.decoded.size() || !images.decoded[i]) {
      return gltf_error(fmt::format("image {} could not be loaded{}{}", i, image.uri.empty() ? "" : ": ", image.uri));
    }
  }
  return model;
}

// ---- Accessors ------------------------------------------------------------

// A validated accessor: element i starts at data + i * stride and is readable.
struct AccessorView {
  const unsigned char* data = nullptr;
  size_t count = 0;
  size_t stride = 0;
  int component_type = 0;
  int components = 0;
};

size_t component_size(int component_type) {
  switch (component_type) {
    case TINYGLTF_COMPONENT_TYPE_BYTE:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return 1;
    case TINYGLTF_COMPONENT_TYPE_SHORT:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: return 2;
    case TINYGLTF_COMPONENT_TYPE_INT:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
    case TINYGLTF_COMPONENT_TYPE_FLOAT: return 4;
    case TINYGLTF_COMPONENT_TYPE_DOUBLE: return 8;
    default: return 0;
  }
}

int component_count(int type) {
  switch (type) {
    case TINYGLTF_TYPE_SCALAR: return 1;
    case TINYGLTF_TYPE_VEC2: return 2;
    case TINYGLTF_TYPE_VEC3: return 3;
    case TINYGLTF_TYPE_VEC4: return 4;
    default: return 0;
  }
}

// The accessor's elements, nullopt when it has no data (no buffer view), or an
// error when any element would lie outside its buffer view or buffer.
IoResult<std::optional<AccessorView>> view_accessor(const tinygltf::Model& model, int index) {
  if (index < 0 || static_cast<size_t>(index) >= model.accessors.size()) {
    return gltf_error(fmt::format("accessor {} does not exist", index));
  }
  const tinygltf::Accessor& accessor = model.accessors[static_cast<size_t>(index)];
  if (accessor.bufferView < 0) return std::optional<AccessorView>();
  const auto fail = [&](std::string_view what) { return gltf_error(fmt::format("accessor {} {}", index, what)); };
  if (static_cast<size_t>(accessor.bufferView) >= model.bufferViews.size()) return fail("refers to a missing buffer view");
  const tinygltf::BufferView& view = model.bufferViews[static_cast<size_t>(accessor.bufferView)];
  if (view.buffer < 0 || static_cast<size_t>(view.buffer) >= model.buffers.size()) return fail("refers to a missing buffer");
  const std::vector<unsigned char>& buffer = model.buffers[static_cast<size_t>(view.buffer)].data;
  if (view.byteOffset > buffer.size() || view.byteLength > buffer.size() - view.byteOffset) {
    return fail("has a buffer view that exceeds its buffer");
  }
  const size_t element_size = component_size(accessor.componentType) * static_cast<size_t>(component_count(accessor.type));
  if (element_size == 0) return fail("has an unknown component or element type");
  const size_t stride = view.byteStride != 0 ? view.byteStride : element_size;
  if (stride < element_size) return fail("has a stride smaller than its elements");
  if (accessor.count > 0) {
    const size_t available = view.byteLength;
    const bool fits = accessor.byteOffset <= available && element_size <= available - accessor.byteOffset &&
                      (accessor.count - 1) <= (available - accessor.byteOffset - element_size) / stride;
    if (!fits) return fail("exceeds its buffer view");
  }
  return std::optional<AccessorView>(AccessorView{buffer.data() + view.byteOffset + accessor.byteOffset, accessor.count,
                                                  stride, accessor.componentType, component_count(accessor.type)});
}

template <class T>
T load_component(const unsigned char* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// Attribute accessor of the primitive if it exists and holds float VEC-n data
// (or, for texture coordinates, the integer types that normalise to floats).
IoResult<std::optional<AccessorView>> attribute_view(const tinygltf::Model& model, const tinygltf::Primitive& primitive,
                                                     const std::string& name, int components, bool integer_allowed) {
  const auto it = primitive.attributes.find(name);
  if (it == primitive.attributes.end()) return std::optional<AccessorView>();
  auto view = view_accessor(model, it->second);
  if (!view || !*view) return view;
  const AccessorView& v = **view;
  const bool float_data = v.component_type == TINYGLTF_COMPONENT_TYPE_FLOAT;
  const bool integer_data = v.component_type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE ||
                            v.component_type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
  if (v.components != components || !(float_data || (integer_allowed && integer_data))) {
    return std::optional<AccessorView>();
  }
  return view;
}

// Component c of element i, converted to float; unsigned byte and short
// components map to [0, 1].
float float_component(const AccessorView& view, size_t i, int c) {
  const unsigned char* p = view.data + i * view.stride;
  switch (view.component_type) {
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return static_cast<float>(p[c]) * (1.0f / 255.0f);
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
      return static_cast<float>(load_component<uint16_t>(p + 2 * c)) * (1.0f / 65535.0f);
    default: return load_component<float>(p + 4 * c);
  }
}

IoResult<std::optional<std::vector<uint32_t>>> read_indices(const tinygltf::Model& model, const tinygltf::Primitive& primitive) {
  if (primitive.indices < 0) return std::optional<std::vector<uint32_t>>();
  auto view = view_accessor(model, primitive.indices);
  if (!view) return view.error();
  if (!*view) return std::optional<std::vector<uint32_t>>();
  const AccessorView& v = **view;
  if (v.components != 1) return gltf_error(fmt::format("accessor {} holds indices that are not scalars", primitive.indices));
  std::vector<uint32_t> indices(v.count);
  for (size_t i = 0; i < v.count; ++i) {
    const unsigned char* p = v.data + i * v.stride;
    switch (v.component_type) {
      case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: indices[i] = p[0]; break;
      case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: indices[i] = load_component<uint16_t>(p); break;
      case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: indices[i] = load_component<uint32_t>(p); break;
      default: return gltf_error(fmt::format("accessor {} has an index component type that is not unsigned", primitive.indices));
    }
  }
  return std::optional<std::vector<uint32_t>>(std::move(indices));
}

// The data of one selected primitive.
struct PrimitiveViews {
  AccessorView positions;
  std::optional<AccessorView> texcoords;
  std::optional<AccessorView> normals;
};

// nullopt for primitives that are skipped: not TRIANGLES, or without
// readable float positions.
IoResult<std::optional<PrimitiveViews>> select_primitive(const tinygltf::Model& model, const tinygltf::Primitive& primitive) {
  if (primitive.mode != kModeTriangles) return std::optional<PrimitiveViews>();
  auto positions = attribute_view(model, primitive, "POSITION", 3, false);
  if (!positions) return positions.error();
  if (!*positions) return std::optional<PrimitiveViews>();
  auto texcoords = attribute_view(model, primitive, "TEXCOORD_0", 2, true);
  if (!texcoords) return texcoords.error();
  auto normals = attribute_view(model, primitive, "NORMAL", 3, false);
  if (!normals) return normals.error();
  return std::optional<PrimitiveViews>(PrimitiveViews{**positions, *texcoords, *normals});
}

// ---- Merge ----------------------------------------------------------------

IoStatus append_primitive(const tinygltf::Model& model, const tinygltf::Primitive& primitive, const PrimitiveViews& views,
                          MeshWithAttributes& out) {
  const size_t base_count = out.positions.size();
  if (views.positions.count > kMaxVertices - base_count) {
    return MeshIoError::too_large("vertex", kMaxVertices + 1, kMaxVertices);
  }
  const uint32_t base = static_cast<uint32_t>(base_count);
  out.positions.reserve(base_count + views.positions.count);
  for (size_t i = 0; i < views.positions.count; ++i) {
    out.positions.push_back({float_component(views.positions, i, 0), float_component(views.positions, i, 1),
                             float_component(views.positions, i, 2)});
  }

  auto read = read_indices(model, primitive);
  if (!read) return read.error();
  std::vector<uint32_t> indices;
  if (*read) {
    indices = std::move(**read);
  } else {
    indices.resize(views.positions.count);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint32_t>(i);
  }
  const uint64_t triangle_total = out.indices.size() + indices.size() / 3;
  if (triangle_total > kMaxTriangles) return MeshIoError::too_large("triangle", triangle_total, kMaxTriangles);

  for (size_t t = 0; t + 2 < indices.size(); t += 3) {
    out.indices.push_back({base + indices[t], base + indices[t + 1], base + indices[t + 2]});
    for (size_t k = t; k < t + 3; ++k) {
      const uint32_t i = indices[k];
      if (out.uvs) {
        const bool present = views.texcoords && i < views.texcoords->count;
        out.uvs->push_back(present ? Uv{float_component(*views.texcoords, i, 0), float_component(*views.texcoords, i, 1)}
                                   : Uv{0.0f, 0.0f});
      }
      if (out.normals) {
        const bool present = views.normals && i < views.normals->count;
        out.normals->push_back(present ? Vec3{float_component(*views.normals, i, 0), float_component(*views.normals, i, 1),
                                              float_component(*views.normals, i, 2)}
                                       : Vec3{});
      }
    }
  }
  return std::nullopt;
}

// ---- GLB output -----------------------------------------------------------

constexpr std::string_view kJsonTemplate =
    R"({"asset":{"version":"2.0","generator":"vorrel"},"buffers":[{"byteLength":{}}],"bufferViews":[{"buffer":0,"byteOffset":{},"byteLength":{},"target":34962},{"buffer":0,"byteOffset":{},"byteLength":{},"target":34963}],"accessors":[{"bufferView":0,"componentType":5126,"count":{},"type":"VEC3","max":[{},{},{}],"min":[{},{},{}]},{"bufferView":1,"componentType":5125,"count":{},"type":"SCALAR"}],"materials":[{"doubleSided":true,"pbrMetallicRoughness":{"baseColorFactor":[0.8,0.8,0.8,1.0]}}],"meshes":[{"primitives":[{"attributes":{"POSITION":0},"indices":1,"material":0}]}],"nodes":[{"mesh":0}],"scenes":[{"nodes":[0]}],"scene":0})";

// Replaces each "{}" of the template, in order, with the next value.
std::string fill_template(std::string_view text, std::initializer_list<std::string> values) {
  std::string out;
  auto value = values.begin();
  for (size_t pos = 0;;) {
    const size_t hole = text.find("{}", pos);
    if (hole == std::string_view::npos || value == values.end()) {
      out.append(text.substr(pos));
      return out;
    }
    out.append(text.substr(pos, hole - pos));
    out += *value++;
    pos = hole + 2;
  }
}

uint64_t padded_to_4(uint64_t n) { return (n + 3) / 4 * 4; }

struct Bounds {
  float max[3] = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
  float min[3] = {FLT_MAX, FLT_MAX, FLT_MAX};
};

// NaN coordinates fail both comparisons and leave the bounds unchanged.
Bounds float_bounds(const std::vector<Vec3>& positions) {
  Bounds bounds;
  for (const Vec3& p : positions) {
    for (int axis = 0; axis < 3; ++axis) {
      const float value = static_cast<float>(p[axis]);
      if (value > bounds.max[axis]) bounds.max[axis] = value;
      if (value < bounds.min[axis]) bounds.min[axis] = value;
    }
  }
  return bounds;
}

std::string glb_json(uint64_t position_bytes, uint64_t index_bytes, uint64_t binary_length, const MeshWithAttributes& mesh) {
  const Bounds bounds = float_bounds(mesh.positions);
  const auto number = [](auto value) { return fmt::format("{}", value); };
  return fill_template(kJsonTemplate,
                       {number(binary_length), number(0), number(position_bytes), number(position_bytes),
                        number(index_bytes), number(mesh.positions.size()), format_shortest(bounds.max[0]),
                        format_shortest(bounds.max[1]), format_shortest(bounds.max[2]), format_shortest(bounds.min[0]),
                        format_shortest(bounds.min[1]), format_shortest(bounds.min[2]), number(3 * mesh.indices.size())});
}

void write_binary_chunk_data(FileWriter& file, const MeshWithAttributes& mesh) {
  for (const Vec3& p : mesh.positions) {
    const float xyz[3] = {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)};
    file.write(xyz, sizeof xyz);
  }
  // 12-byte elements keep both sections multiples of 4: no padding needed.
  file.write(mesh.indices.data(), mesh.indices.size() * sizeof(Triangle));
}

}  // namespace

IoResult<MeshWithAttributes> read_gltf(const std::string& path) {
  auto model = import_asset(path);
  if (!model) return model.error();

  MeshWithAttributes out;
  bool any_texcoords = false;
  bool any_normals = false;
  for (const tinygltf::Mesh& mesh : model->meshes) {
    for (const tinygltf::Primitive& primitive : mesh.primitives) {
      auto views = select_primitive(*model, primitive);
      if (!views) return views.error();
      if (!*views) continue;
      any_texcoords = any_texcoords || (*views)->texcoords.has_value();
      any_normals = any_normals || (*views)->normals.has_value();
    }
  }
  if (any_texcoords) out.uvs.emplace();
  if (any_normals) out.normals.emplace();

  for (const tinygltf::Mesh& mesh : model->meshes) {
    for (const tinygltf::Primitive& primitive : mesh.primitives) {
      auto views = select_primitive(*model, primitive);
      if (!*views) continue;
      if (auto failure = append_primitive(*model, primitive, **views, out)) return *failure;
    }
  }
  if (out.positions.empty()) return MeshIoError::obj_parse("no triangle meshes found in glTF");
  return out;
}

IoStatus write_glb(const std::string& path, const MeshWithAttributes& mesh) {
  const uint64_t position_bytes = 12 * uint64_t{mesh.positions.size()};
  const uint64_t index_bytes = 12 * uint64_t{mesh.indices.size()};
  const uint64_t binary_length = padded_to_4(position_bytes) + padded_to_4(index_bytes);
  std::string json = glb_json(position_bytes, index_bytes, binary_length, mesh);
  const uint64_t json_length = padded_to_4(json.size());
  json.resize(json_length, ' ');
  const uint64_t total = 28 + json_length + binary_length;
  if (total > UINT32_MAX) return MeshIoError::io("mesh too large for a GLB container");

  auto file = FileWriter::create(path);
  if (!file) return file.error();
  file->write("glTF");
  file->write_u32(2);
  file->write_u32(static_cast<uint32_t>(total));
  file->write_u32(static_cast<uint32_t>(json_length));
  file->write("JSON");
  file->write(json);
  file->write_u32(static_cast<uint32_t>(binary_length));
  file->write(std::string_view("BIN\0", 4));
  write_binary_chunk_data(*file, mesh);
  return file->finish();
}

}  // namespace vorrel::io
