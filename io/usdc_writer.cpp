// The crate writer: builds the tables of the one-prim "/proxy" layer in a fixed
// order, so token, field and fieldset numbering is the same on every run, and
// lays the file out as header, values, sections and table of contents.

#include <array>
#include <cstring>

#include "io/file_writer.h"
#include "io/usd.h"
#include "io/usdc.h"

namespace vorrel::io::usdc {
namespace {

constexpr int32_t kFieldsetEnd = -1;
// Int arrays this long or longer are stored with the integer coding.
constexpr size_t kMinCodedInts = 16;

void append_bytes(Bytes& out, ByteView bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

// u64 size of the chunk-framed block, then the block.
void append_compressed_block(Bytes& out, ByteView content) {
  const Bytes block = compress_chunked(content);
  append_le<uint64_t>(out, block.size());
  append_bytes(out, block);
}

struct Attribute {
  std::string_view name;
  std::string_view type_name;
  ValueRep value;
  bool uniform = false;
  bool face_varying = false;
};

// The attribute values in the order they go to the data: extent, face arrays,
// normals, points, texture coordinates; then the two token values.
std::vector<Attribute> write_attribute_values(CrateWriter& crate, const MeshWithAttributes& mesh) {
  const std::array<float, 6> extent = compute_extent(mesh.positions);
  const ValueRep extent_rep = crate.write_float_tuples(ValueType::Float3, extent);

  const std::vector<int32_t> counts(mesh.indices.size(), 3);
  const ValueRep counts_rep = crate.write_int_array(counts);
  std::vector<int32_t> corners;
  corners.reserve(3 * mesh.indices.size());
  for (const Triangle& t : mesh.indices) {
    for (const uint32_t corner : t) corners.push_back(static_cast<int32_t>(corner));
  }
  const ValueRep indices_rep = crate.write_int_array(corners);

  std::optional<ValueRep> normals_rep;
  if (mesh.normals) normals_rep = crate.write_float3_array(*mesh.normals);
  const ValueRep points_rep = crate.write_float3_array(mesh.positions);
  std::optional<ValueRep> uvs_rep;
  if (mesh.uvs) {
    std::vector<float> uv_components;
    uv_components.reserve(2 * mesh.uvs->size());
    for (const Uv& uv : *mesh.uvs) uv_components.insert(uv_components.end(), {uv[0], uv[1]});
    uvs_rep = crate.write_float_tuples(ValueType::Float2, uv_components);
  }
  const ValueRep purpose_rep = token_value(crate.intern_token("proxy"));
  const ValueRep scheme_rep = token_value(crate.intern_token("none"));

  std::vector<Attribute> attributes = {
      {"extent", "float3[]", extent_rep},
      {"faceVertexCounts", "int[]", counts_rep},
      {"faceVertexIndices", "int[]", indices_rep},
  };
  if (normals_rep) attributes.push_back({"normals", "normal3f[]", *normals_rep, false, true});
  attributes.push_back({"points", "point3f[]", points_rep});
  if (uvs_rep) attributes.push_back({"primvars:st", "texCoord2f[]", *uvs_rep, false, true});
  attributes.push_back({"purpose", "token", purpose_rep, true});
  attributes.push_back({"subdivisionScheme", "token", scheme_rep, true});
  return attributes;
}

void add_attribute_spec(CrateWriter& crate, const Attribute& attribute, int32_t path_index) {
  std::vector<int32_t> fields;
  fields.push_back(crate.intern_field("typeName", token_value(crate.intern_token(attribute.type_name))));
  if (attribute.uniform) fields.push_back(crate.intern_field("variability", kVariabilityUniform));
  fields.push_back(crate.intern_field("default", attribute.value));
  if (attribute.face_varying) {
    fields.push_back(crate.intern_field("interpolation", token_value(crate.intern_token("faceVarying"))));
  }
  crate.add_spec(path_index, crate.intern_fieldset(fields), SpecType::Attribute);
}

Bytes tokens_section(const CrateTables& t) {
  Bytes text;
  for (const std::string& token : t.tokens) {
    append_bytes(text, ByteView(reinterpret_cast<const uint8_t*>(token.data()), token.size()));
    text.push_back(0);
  }
  Bytes out;
  append_le<uint64_t>(out, t.tokens.size());
  append_le<uint64_t>(out, text.size());
  append_compressed_block(out, text);
  return out;
}

Bytes fields_section(const CrateTables& t) {
  std::vector<int32_t> names;
  Bytes reps;
  for (const CrateField& field : t.fields) {
    names.push_back(static_cast<int32_t>(field.name));
    append_le(reps, field.rep.bits);
  }
  Bytes out;
  append_le<uint64_t>(out, t.fields.size());
  write_compressed_ints(names, out);
  append_compressed_block(out, reps);
  return out;
}

Bytes paths_section(const CrateTables& t) {
  Bytes out;
  append_le<uint64_t>(out, t.path_indices.size());
  append_le<uint64_t>(out, t.path_indices.size());
  write_compressed_ints(t.path_indices, out);
  write_compressed_ints(t.element_tokens, out);
  write_compressed_ints(t.jumps, out);
  return out;
}

Bytes specs_section(const CrateTables& t) {
  std::vector<int32_t> paths, fieldsets, types;
  for (const CrateSpec& spec : t.specs) {
    paths.push_back(spec.path);
    fieldsets.push_back(spec.fieldset);
    types.push_back(static_cast<int32_t>(spec.type));
  }
  Bytes out;
  append_le<uint64_t>(out, t.specs.size());
  write_compressed_ints(paths, out);
  write_compressed_ints(fieldsets, out);
  write_compressed_ints(types, out);
  return out;
}

Bytes fieldsets_section(const CrateTables& t) {
  Bytes out;
  append_le<uint64_t>(out, t.fieldsets.size());
  write_compressed_ints(t.fieldsets, out);
  return out;
}

Bytes strings_section() {
  Bytes out;
  append_le<uint64_t>(out, 0);
  return out;
}

}  // namespace

ValueRep token_value(uint32_t token_index) { return ValueRep::inlined(ValueType::Token, token_index); }

uint32_t CrateWriter::intern_token(std::string_view text) {
  const auto it = token_index_.find(absl::string_view(text.data(), text.size()));
  if (it != token_index_.end()) return it->second;
  const uint32_t index = static_cast<uint32_t>(tables_.tokens.size());
  tables_.tokens.emplace_back(text);
  token_index_.emplace(tables_.tokens.back(), index);
  return index;
}

uint32_t CrateWriter::intern_field(std::string_view name, ValueRep rep) {
  const uint32_t name_token = intern_token(name);
  const auto [it, inserted] =
      field_index_.try_emplace(std::pair{name_token, rep.bits}, static_cast<uint32_t>(tables_.fields.size()));
  if (inserted) tables_.fields.push_back({name_token, rep});
  return it->second;
}

int32_t CrateWriter::intern_fieldset(const std::vector<int32_t>& field_indices) {
  const auto [it, inserted] =
      fieldset_start_.try_emplace(field_indices, static_cast<int32_t>(tables_.fieldsets.size()));
  if (inserted) {
    tables_.fieldsets.insert(tables_.fieldsets.end(), field_indices.begin(), field_indices.end());
    tables_.fieldsets.push_back(kFieldsetEnd);
  }
  return it->second;
}

ValueRep CrateWriter::write_token_vector(std::span<const std::string_view> names) {
  const uint64_t offset = kHeaderSize + tables_.data.size();
  std::vector<uint32_t> indices;
  for (const std::string_view name : names) indices.push_back(intern_token(name));
  append_le<uint64_t>(tables_.data, indices.size());
  for (const uint32_t index : indices) append_le(tables_.data, index);
  return ValueRep::make(ValueType::TokenVector, 0, offset);
}

ValueRep CrateWriter::write_float_tuples(ValueType type, std::span<const float> components) {
  const uint64_t offset = kHeaderSize + tables_.data.size();
  const size_t tuple_size = type == ValueType::Float2 ? 2 : 3;
  append_le<uint64_t>(tables_.data, components.size() / tuple_size);
  append_bytes(tables_.data, ByteView(reinterpret_cast<const uint8_t*>(components.data()), 4 * components.size()));
  return ValueRep::make(type, ValueRep::kArray, offset);
}

ValueRep CrateWriter::write_float3_array(std::span<const Vec3> vectors) {
  const uint64_t offset = kHeaderSize + tables_.data.size();
  append_le<uint64_t>(tables_.data, vectors.size());
  const size_t at = tables_.data.size();
  tables_.data.resize(at + 12 * vectors.size());
  uint8_t* out = tables_.data.data() + at;
  for (const Vec3& v : vectors) {
    const std::array<float, 3> xyz = {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
    std::memcpy(out, xyz.data(), sizeof xyz);
    out += sizeof xyz;
  }
  return ValueRep::make(ValueType::Float3, ValueRep::kArray, offset);
}

ValueRep CrateWriter::write_int_array(std::span<const int32_t> values) {
  const uint64_t offset = kHeaderSize + tables_.data.size();
  append_le<uint64_t>(tables_.data, values.size());
  if (values.size() < kMinCodedInts) {
    for (const int32_t v : values) append_le(tables_.data, v);
    return ValueRep::make(ValueType::Int, ValueRep::kArray, offset);
  }
  write_compressed_ints(values, tables_.data);
  return ValueRep::make(ValueType::Int, ValueRep::kArray | ValueRep::kCompressed, offset);
}

void CrateWriter::add_path(int32_t path_index, int32_t element_token, int32_t jump) {
  tables_.path_indices.push_back(path_index);
  tables_.element_tokens.push_back(element_token);
  tables_.jumps.push_back(jump);
}

void CrateWriter::add_spec(int32_t path_index, int32_t fieldset, SpecType type) {
  tables_.specs.push_back({path_index, fieldset, type});
}

CrateWriter build_proxy_crate(const MeshWithAttributes& mesh) {
  CrateWriter crate;
  // Indices 0 and 1 are fixed by convention of the format.
  crate.intern_token(";-)");
  crate.intern_token("");

  const uint32_t up_axis = crate.intern_field("upAxis", token_value(crate.intern_token("Y")));
  const uint32_t meters_per_unit = crate.intern_field("metersPerUnit", kMetersPerUnitOne);
  const std::array<std::string_view, 1> children = {"proxy"};
  const uint32_t prim_children = crate.intern_field("primChildren", crate.write_token_vector(children));
  const uint32_t default_prim = crate.intern_field("defaultPrim", token_value(crate.intern_token("proxy")));
  const int32_t layer_fieldset = crate.intern_fieldset(
      {int32_t(up_axis), int32_t(meters_per_unit), int32_t(prim_children), int32_t(default_prim)});

  const std::vector<Attribute> attributes = write_attribute_values(crate, mesh);

  const uint32_t specifier = crate.intern_field("specifier", kSpecifierDef);
  const uint32_t type_name = crate.intern_field("typeName", token_value(crate.intern_token("Mesh")));
  std::vector<std::string_view> names;
  for (const Attribute& attribute : attributes) names.push_back(attribute.name);
  const uint32_t properties = crate.intern_field("properties", crate.write_token_vector(names));
  const int32_t prim_fieldset = crate.intern_fieldset({int32_t(specifier), int32_t(type_name), int32_t(properties)});

  crate.add_path(0, static_cast<int32_t>(crate.intern_token("")), -1);
  crate.add_path(1, static_cast<int32_t>(crate.intern_token("proxy")), -1);
  for (size_t i = 0; i < attributes.size(); ++i) {
    const bool last = i + 1 == attributes.size();
    crate.add_path(static_cast<int32_t>(i + 2), -static_cast<int32_t>(crate.intern_token(attributes[i].name)),
                   last ? -2 : 0);
  }

  crate.add_spec(0, layer_fieldset, SpecType::PseudoRoot);
  crate.add_spec(1, prim_fieldset, SpecType::Prim);
  for (size_t i = 0; i < attributes.size(); ++i) add_attribute_spec(crate, attributes[i], static_cast<int32_t>(i + 2));
  return crate;
}

IoStatus save_crate(const std::string& path, const CrateTables& tables) {
  struct Section {
    const char* name;
    Bytes bytes;
  };
  const std::array<Section, 6> sections = {{
      {"TOKENS", tokens_section(tables)},
      {"STRINGS", strings_section()},
      {"FIELDS", fields_section(tables)},
      {"FIELDSETS", fieldsets_section(tables)},
      {"PATHS", paths_section(tables)},
      {"SPECS", specs_section(tables)},
  }};

  Bytes toc;
  append_le<uint64_t>(toc, sections.size());
  uint64_t offset = kHeaderSize + tables.data.size();
  for (const Section& section : sections) {
    std::array<uint8_t, 16> name{};
    std::memcpy(name.data(), section.name, std::strlen(section.name));
    append_bytes(toc, name);
    append_le<uint64_t>(toc, offset);
    append_le<uint64_t>(toc, section.bytes.size());
    offset += section.bytes.size();
  }

  Bytes header(kHeaderSize, 0);
  std::memcpy(header.data(), kMagic.data(), kMagic.size());
  header[9] = 8;  // version 0.8.0
  std::memcpy(header.data() + 16, &offset, 8);

  IoResult<FileWriter> created = FileWriter::create(path);
  if (!created) return created.error();
  FileWriter& writer = *created;
  writer.write(header.data(), header.size());
  writer.write(tables.data.data(), tables.data.size());
  for (const Section& section : sections) writer.write(section.bytes.data(), section.bytes.size());
  writer.write(toc.data(), toc.size());
  return writer.finish();
}

}  // namespace vorrel::io::usdc

namespace vorrel::io {

IoStatus write_usdc(const std::string& path, const MeshWithAttributes& mesh) {
  const usdc::CrateWriter crate = usdc::build_proxy_crate(mesh);
  return usdc::save_crate(path, crate.tables());
}

}  // namespace vorrel::io
