// The crate reader: decodes the tables of a crate file, finds the Mesh prim with
// the lowest path index and reads its points and face arrays. Every count from
// the file is compared with the file length or a fixed bound before anything
// is allocated for it, and every offset is checked by the byte cursor.

#include <algorithm>
#include <cstring>

#include <fmt/format.h>

#include "core/huge_pages.h"
#include "core/parallel.h"
#include "io/file_reader.h"
#include "io/usd.h"
#include "io/usdc.h"
#include "io/utf8.h"

namespace vorrel::io {
namespace {

using usdc::ByteCursor;
using usdc::Bytes;
using usdc::ByteView;
using usdc::CrateField;
using usdc::Parsed;
using usdc::ValueRep;
using usdc::ValueType;

// Plausibility bounds for counts that are not limited by the file length.
constexpr uint64_t kMaxSections = 64;
constexpr uint64_t kMaxTokenText = uint64_t{8} << 30;
// Int arrays: four values for each triangle the limit allows.
constexpr uint64_t kMaxArrayLength = 1600000000;
constexpr uint64_t kMaxPoints = kMaxVertices;
constexpr uint32_t kFieldsetEnd = 0xFFFFFFFF;

// Section name to the file offset of its first byte.
using SectionStarts = absl::flat_hash_map<std::string, uint64_t>;

struct PathEntry {
  bool has_parent = false;
  uint32_t parent = 0;
  uint32_t element = 0;  // token index
  bool is_property = false;
};

struct CrateSpecEntry {
  uint32_t path = 0;
  uint32_t fieldset = 0;
  int32_t type = 0;
};

struct CrateContents {
  std::vector<std::string> tokens;
  std::vector<CrateField> fields;
  std::vector<int32_t> fieldsets;
  absl::flat_hash_map<uint32_t, PathEntry> paths;
  std::vector<CrateSpecEntry> specs;
};

std::string bytes_text(ByteView bytes) {
  return utf8_lossy(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::optional<std::string> check_header(ByteView file) {
  if (file.size() < usdc::kHeaderSize || std::memcmp(file.data(), usdc::kMagic.data(), 8) != 0) {
    return "not a USD crate file";
  }
  if (file[8] != 0 || file[9] < 4) {
    return fmt::format("crate file version {}.{} unsupported (need 0.4.0+)", file[8], file[9]);
  }
  return std::nullopt;
}

Parsed<SectionStarts> read_table_of_contents(ByteView file) {
  uint64_t toc = 0;
  std::memcpy(&toc, file.data() + 16, 8);
  ByteCursor cursor(file, toc);
  Parsed<uint64_t> count = cursor.read_u64();
  if (!count) return count.error();
  if (*count > kMaxSections) return std::string("implausible section count");
  SectionStarts sections;
  for (uint64_t i = 0; i < *count; ++i) {
    Parsed<ByteView> entry = cursor.take(32);
    if (!entry) return entry.error();
    const ByteView raw_name = entry->subspan(0, 16);
    const size_t name_length = std::find(raw_name.begin(), raw_name.end(), 0) - raw_name.begin();
    std::string name = bytes_text(raw_name.subspan(0, name_length));
    uint64_t start = 0, size = 0;
    std::memcpy(&start, entry->data() + 16, 8);
    std::memcpy(&size, entry->data() + 24, 8);
    if (start > file.size() || size > file.size() - start) return fmt::format("section {} out of bounds", name);
    sections[std::move(name)] = start;
  }
  return sections;
}

Parsed<std::vector<std::string>> read_tokens(ByteCursor& cursor) {
  Parsed<uint64_t> count = cursor.read_u64();
  if (!count) return count.error();
  Parsed<uint64_t> text_size = cursor.read_u64();
  if (!text_size) return text_size.error();
  Parsed<uint64_t> compressed_size = cursor.read_u64();
  if (!compressed_size) return compressed_size.error();
  if (*text_size > kMaxTokenText || *count > *text_size + 1) return std::string("implausible token table");
  Parsed<ByteView> block = cursor.take(*compressed_size);
  if (!block) return block.error();
  Parsed<Bytes> text = usdc::decompress_chunked(*block, *text_size);
  if (!text) return text.error();

  std::vector<std::string> tokens;
  tokens.reserve(std::min<uint64_t>(*count, text->size() + 1));
  const ByteView all(*text);
  size_t piece_start = 0;
  while (tokens.size() < *count) {
    const size_t end = std::find(all.begin() + piece_start, all.end(), 0) - all.begin();
    tokens.push_back(bytes_text(all.subspan(piece_start, end - piece_start)));
    if (end == all.size()) break;
    piece_start = end + 1;
  }
  if (tokens.size() < *count) return std::string("token table truncated");
  return tokens;
}

// A table count, refused when it exceeds the file length: every entry takes at
// least some bytes of the file.
Parsed<uint64_t> read_table_count(ByteCursor& cursor, const char* implausible_text) {
  Parsed<uint64_t> count = cursor.read_u64();
  if (!count) return count.error();
  if (*count > cursor.file_size()) return std::string(implausible_text);
  return *count;
}

Parsed<std::vector<CrateField>> read_fields(ByteCursor& cursor, uint64_t token_count) {
  Parsed<uint64_t> count = read_table_count(cursor, "implausible field count");
  if (!count) return count.error();
  Parsed<std::vector<int32_t>> names = usdc::read_compressed_ints(cursor, *count);
  if (!names) return names.error();
  Parsed<uint64_t> compressed_size = cursor.read_u64();
  if (!compressed_size) return compressed_size.error();
  Parsed<ByteView> block = cursor.take(*compressed_size);
  if (!block) return block.error();
  Parsed<Bytes> reps = usdc::decompress_chunked(*block, 8 * *count);
  if (!reps) return reps.error();
  if (reps->size() < 8 * *count) return std::string("field reps truncated");

  std::vector<CrateField> fields(*count);
  for (uint64_t i = 0; i < *count; ++i) {
    const uint32_t name = static_cast<uint32_t>((*names)[i]);
    if (name >= token_count) return std::string("field token index out of range");
    fields[i].name = name;
    std::memcpy(&fields[i].rep.bits, reps->data() + 8 * i, 8);
  }
  return fields;
}

// Reads `n` values of each of the given arrays, in order.
template <size_t N>
std::optional<std::string> read_int_columns(ByteCursor& cursor, uint64_t n,
                                            std::array<std::vector<int32_t>*, N> columns) {
  for (std::vector<int32_t>* column : columns) {
    Parsed<std::vector<int32_t>> values = usdc::read_compressed_ints(cursor, n);
    if (!values) return values.error();
    *column = std::move(values).value();
  }
  return std::nullopt;
}

// Walks the depth-first path list. The consumed count bounds the total walk by
// the entry count, so a hostile jump table cannot loop or grow the stack
// without end.
Parsed<absl::flat_hash_map<uint32_t, PathEntry>> decode_path_tree(const std::vector<int32_t>& path_indices,
                                                                  const std::vector<int32_t>& element_tokens,
                                                                  const std::vector<int32_t>& jumps,
                                                                  uint64_t token_count) {
  const std::string malformed = "malformed path tree";
  const uint64_t n = path_indices.size();
  absl::flat_hash_map<uint32_t, PathEntry> paths;
  if (n == 0) return paths;
  struct Pending {
    uint64_t start;
    bool has_parent;
    uint32_t parent;
  };
  std::vector<Pending> stack = {{0, false, 0}};
  uint64_t consumed = 0;
  while (!stack.empty()) {
    auto [i, has_parent, parent] = stack.back();
    stack.pop_back();
    if (consumed > n || i >= n) return malformed;
    for (uint64_t walked = 1;; ++i, ++walked) {
      if (i >= n) return malformed;
      const int64_t element = element_tokens[i];
      const uint64_t token = static_cast<uint64_t>(element < 0 ? -element : element);
      if (token >= token_count) return std::string("path entry out of range");
      const uint32_t path = static_cast<uint32_t>(path_indices[i]);
      paths[path] = {has_parent, parent, static_cast<uint32_t>(token), element < 0};
      const int64_t jump = jumps[i];
      if (jump <= -2) {
        consumed += walked;
        break;
      }
      if (jump > 0) stack.push_back({i + static_cast<uint64_t>(jump), has_parent, parent});
      if (jump != 0) has_parent = true, parent = path;
      if (consumed + walked > n) return malformed;
    }
  }
  return paths;
}

Parsed<CrateContents> read_crate_contents(ByteView file) {
  Parsed<SectionStarts> sections = read_table_of_contents(file);
  if (!sections) return sections.error();
  const auto cursor_at = [&](const char* name) -> Parsed<ByteCursor> {
    const auto it = sections->find(name);
    if (it == sections->end()) return fmt::format("missing {} section", name);
    return ByteCursor(file, it->second);
  };
  CrateContents crate;

  Parsed<ByteCursor> tokens_cursor = cursor_at("TOKENS");
  if (!tokens_cursor) return tokens_cursor.error();
  Parsed<std::vector<std::string>> tokens = read_tokens(*tokens_cursor);
  if (!tokens) return tokens.error();
  crate.tokens = std::move(tokens).value();
  const uint64_t k = crate.tokens.size();

  Parsed<ByteCursor> fields_cursor = cursor_at("FIELDS");
  if (!fields_cursor) return fields_cursor.error();
  Parsed<std::vector<CrateField>> fields = read_fields(*fields_cursor, k);
  if (!fields) return fields.error();
  crate.fields = std::move(fields).value();

  Parsed<ByteCursor> fieldsets_cursor = cursor_at("FIELDSETS");
  if (!fieldsets_cursor) return fieldsets_cursor.error();
  Parsed<uint64_t> fieldset_count = read_table_count(*fieldsets_cursor, "implausible fieldset count");
  if (!fieldset_count) return fieldset_count.error();
  Parsed<std::vector<int32_t>> fieldsets = usdc::read_compressed_ints(*fieldsets_cursor, *fieldset_count);
  if (!fieldsets) return fieldsets.error();
  crate.fieldsets = std::move(fieldsets).value();

  Parsed<ByteCursor> paths_cursor = cursor_at("PATHS");
  if (!paths_cursor) return paths_cursor.error();
  Parsed<uint64_t> path_count = paths_cursor->read_u64();
  if (!path_count) return path_count.error();
  Parsed<uint64_t> entry_count = read_table_count(*paths_cursor, "implausible path count");
  if (!entry_count) return entry_count.error();
  std::vector<int32_t> path_indices, element_tokens, jumps;
  if (auto failure = read_int_columns<3>(*paths_cursor, *entry_count, {&path_indices, &element_tokens, &jumps})) {
    return *failure;
  }
  Parsed<absl::flat_hash_map<uint32_t, PathEntry>> paths = decode_path_tree(path_indices, element_tokens, jumps, k);
  if (!paths) return paths.error();
  crate.paths = std::move(paths).value();

  Parsed<ByteCursor> specs_cursor = cursor_at("SPECS");
  if (!specs_cursor) return specs_cursor.error();
  Parsed<uint64_t> spec_count = read_table_count(*specs_cursor, "implausible spec count");
  if (!spec_count) return spec_count.error();
  std::vector<int32_t> spec_paths, spec_fieldsets, spec_types;
  if (auto failure = read_int_columns<3>(*specs_cursor, *spec_count, {&spec_paths, &spec_fieldsets, &spec_types})) {
    return *failure;
  }
  crate.specs.resize(*spec_count);
  for (uint64_t i = 0; i < *spec_count; ++i) {
    crate.specs[i] = {static_cast<uint32_t>(spec_paths[i]), static_cast<uint32_t>(spec_fieldsets[i]), spec_types[i]};
  }
  return crate;
}

// Finds the first field called `name` in the fieldset starting at a given
// position (field indices past the field table are skipped). One backward
// sweep answers every start, so lookups cost the same however long or
// unterminated hostile fieldsets are.
class FieldFinder {
 public:
  FieldFinder(const CrateContents& crate, std::string_view name) : crate_(crate) {
    first_.assign(crate.fieldsets.size() + 1, kNone);
    for (size_t p = crate.fieldsets.size(); p-- > 0;) {
      const uint32_t field = static_cast<uint32_t>(crate.fieldsets[p]);
      if (field == kFieldsetEnd) continue;
      const bool named = field < crate.fields.size() && crate.tokens[crate.fields[field].name] == name;
      first_[p] = named ? field : first_[p + 1];
    }
  }

  std::optional<ValueRep> find(uint32_t start) const {
    if (start >= crate_.fieldsets.size() || first_[start] == kNone) return std::nullopt;
    return crate_.fields[first_[start]].rep;
  }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  const CrateContents& crate_;
  std::vector<uint32_t> first_;
};

bool is_token(const CrateContents& crate, const std::optional<ValueRep>& rep, std::string_view text) {
  return rep && rep->is_inlined() && rep->has_type(ValueType::Token) && rep->payload() < crate.tokens.size() &&
         crate.tokens[rep->payload()] == text;
}

// The path index of the Mesh prim spec with the lowest path index.
std::optional<uint32_t> find_mesh_prim(const CrateContents& crate) {
  const FieldFinder type_names(crate, "typeName");
  std::optional<uint32_t> mesh;
  for (const CrateSpecEntry& spec : crate.specs) {
    if (spec.type != static_cast<int32_t>(usdc::SpecType::Prim)) continue;
    if (!is_token(crate, type_names.find(spec.fieldset), "Mesh")) continue;
    if (!mesh || spec.path < *mesh) mesh = spec.path;
  }
  return mesh;
}

absl::flat_hash_map<std::string_view, uint32_t> property_fieldsets(const CrateContents& crate, uint32_t prim) {
  absl::flat_hash_map<std::string_view, uint32_t> properties;
  for (const CrateSpecEntry& spec : crate.specs) {
    if (spec.type != static_cast<int32_t>(usdc::SpecType::Attribute)) continue;
    const auto it = crate.paths.find(spec.path);
    if (it == crate.paths.end()) continue;
    const PathEntry& entry = it->second;
    if (!entry.has_parent || !entry.is_property || entry.parent != prim) continue;
    properties[crate.tokens[entry.element]] = spec.fieldset;
  }
  return properties;
}

struct MeshProperties {
  const CrateContents& crate;
  absl::flat_hash_map<std::string_view, uint32_t> fieldsets;
  FieldFinder defaults{crate, "default"};

  Parsed<ValueRep> default_value(std::string_view name) const {
    const auto it = fieldsets.find(name);
    if (it == fieldsets.end()) return fmt::format("Mesh prim has no {}", name);
    const std::optional<ValueRep> rep = defaults.find(it->second);
    if (!rep) return fmt::format("{} has no default value", name);
    return *rep;
  }

  bool is_left_handed() const {
    const auto it = fieldsets.find("orientation");
    return it != fieldsets.end() && is_token(crate, defaults.find(it->second), "leftHanded");
  }
};

// The stored point triples, checked to lie wholly inside the file.
struct StoredPoints {
  ByteView bytes;
  uint64_t count = 0;
  bool is_float = false;
};

Parsed<StoredPoints> locate_points(ByteView file, ValueRep rep) {
  const bool is_float = rep.has_type(ValueType::Float3);
  if (!rep.is_array() || !(is_float || rep.has_type(ValueType::Double3))) {
    return std::string("points must be float3[] or double3[]");
  }
  if (rep.is_compressed()) return std::string("compressed vec arrays not supported");
  ByteCursor cursor(file, rep.payload());
  Parsed<uint64_t> count = cursor.read_u64();
  if (!count) return count.error();
  if (*count > kMaxPoints) return std::string("implausible point count");
  Parsed<ByteView> bytes = cursor.take(*count * (is_float ? 12 : 24));
  if (!bytes) return bytes.error();
  return StoredPoints{*bytes, *count, is_float};
}

// Values handled per block by the readers below: whole triangles and whole
// groups of the integer coding, small enough to stay in the first-level cache.
constexpr size_t kBlockValues = 3 * 1024;

// The triples widened to float64 through a small block, so the positions are
// written once instead of being zero-filled first.
template <class T>
std::vector<Vec3> widen_triples(ByteView bytes, uint64_t count) {
  std::vector<Vec3> points;
  points.reserve(count);
  advise_huge_pages(points.data(), count * sizeof(Vec3));
  std::array<Vec3, kBlockValues / 3> block;
  for (uint64_t start = 0; start < count; start += block.size()) {
    const uint64_t n = std::min<uint64_t>(block.size(), count - start);
    const uint8_t* stored = bytes.data() + start * 3 * sizeof(T);
    for (uint64_t i = 0; i < n; ++i) {
      T xyz[3];
      std::memcpy(xyz, stored + i * sizeof xyz, sizeof xyz);
      block[i] = {static_cast<double>(xyz[0]), static_cast<double>(xyz[1]), static_cast<double>(xyz[2])};
    }
    points.insert(points.end(), block.begin(), block.begin() + static_cast<ptrdiff_t>(n));
  }
  return points;
}

std::vector<Vec3> widen_points(const StoredPoints& points) {
  return points.is_float ? widen_triples<float>(points.bytes, points.count)
                         : widen_triples<double>(points.bytes, points.count);
}

// The value count of an int[] value and the cursor at its stored values.
Parsed<std::pair<uint64_t, ByteCursor>> open_int_array(ByteView file, ValueRep rep) {
  if (!rep.is_array() || !rep.has_type(ValueType::Int)) return std::string("expected an int[] value");
  ByteCursor cursor(file, rep.payload());
  Parsed<uint64_t> count = cursor.read_u64();
  if (!count) return count.error();
  if (*count > kMaxArrayLength) return std::string("implausible array length");
  return std::pair{*count, cursor};
}

Parsed<std::vector<int32_t>> read_int_array(ByteView file, ValueRep rep) {
  Parsed<std::pair<uint64_t, ByteCursor>> array = open_int_array(file, rep);
  if (!array) return array.error();
  auto& [count, cursor] = *array;
  if (rep.is_compressed()) return usdc::read_compressed_ints(cursor, count);
  Parsed<ByteView> bytes = cursor.take(count * 4);
  if (!bytes) return bytes.error();
  std::vector<int32_t> values(count);
  if (!values.empty()) std::memcpy(values.data(), bytes->data(), bytes->size());
  return values;
}

// Whether every face of the counts value has three corners; false for any
// fault of the value, which the general reader then names.
bool all_faces_are_triangles(ByteView file, ValueRep rep) {
  Parsed<std::pair<uint64_t, ByteCursor>> array = open_int_array(file, rep);
  if (!array) return false;
  auto& [count, cursor] = *array;
  const auto is_three = [](int32_t corners) { return corners == 3; };
  if (!rep.is_compressed()) {
    Parsed<ByteView> bytes = cursor.take(count * 4);
    if (!bytes) return false;
    for (uint64_t i = 0; i < count; ++i) {
      int32_t corners = 0;
      std::memcpy(&corners, bytes->data() + 4 * i, 4);
      if (!is_three(corners)) return false;
    }
    return true;
  }
  Parsed<usdc::IntCoding> coding = usdc::read_int_coding(cursor, count);
  if (!coding) return false;
  usdc::IntDecoder decoder(coding->bytes(), count);
  std::array<int32_t, kBlockValues> block;
  while (decoder.remaining() > 0) {
    const std::span<int32_t> values(block.data(), std::min<uint64_t>(block.size(), decoder.remaining()));
    if (decoder.next(values)) return false;
    // Summed over the block rather than stopping at the first other value,
    // so the test runs on whole vectors.
    bool all_three = true;
    for (const int32_t corners : values) all_three &= is_three(corners);
    if (!all_three) return false;
  }
  return true;
}

// Face arrays in the usual form of large meshes: as many coded corners as
// three per face. Whether every face has three corners is checked apart.
struct CodedFaces {
  ValueRep counts;
  ValueRep corners;
  uint64_t face_count = 0;
};

std::optional<CodedFaces> find_coded_faces(ByteView file, const MeshProperties& properties) {
  Parsed<ValueRep> counts_rep = properties.default_value("faceVertexCounts");
  Parsed<ValueRep> corners_rep = properties.default_value("faceVertexIndices");
  if (!counts_rep || !corners_rep || !corners_rep->is_compressed()) return std::nullopt;
  const Parsed<std::pair<uint64_t, ByteCursor>> counts = open_int_array(file, *counts_rep);
  const Parsed<std::pair<uint64_t, ByteCursor>> corners = open_int_array(file, *corners_rep);
  if (!counts || !corners || corners->first != 3 * counts->first) return std::nullopt;
  return CodedFaces{*counts_rep, *corners_rep, counts->first};
}

// The corners of `faces` decoded in small blocks, checked against the point
// count and oriented there, and appended to the result, so the corners are
// never held as an array and every triangle is written once. Nothing when
// anything is wrong with them.
std::optional<std::vector<Triangle>> read_coded_triangles(ByteView file, const CodedFaces& faces, uint64_t point_count,
                                                          bool left_handed) {
  Parsed<std::pair<uint64_t, ByteCursor>> array = open_int_array(file, faces.corners);
  if (!array) return std::nullopt;
  Parsed<usdc::IntCoding> coding = usdc::read_int_coding(array->second, array->first);
  if (!coding) return std::nullopt;

  std::vector<Triangle> triangles;
  triangles.reserve(faces.face_count);
  advise_huge_pages(triangles.data(), faces.face_count * sizeof(Triangle));
  usdc::IntDecoder decoder(coding->bytes(), array->first);
  std::array<Triangle, kBlockValues / 3> block;
  static_assert(sizeof(Triangle) == 3 * sizeof(int32_t));
  while (decoder.remaining() > 0) {
    const uint64_t n = std::min<uint64_t>(block.size(), decoder.remaining() / 3);
    const std::span<int32_t> corners(reinterpret_cast<int32_t*>(block.data()), 3 * n);
    if (decoder.next(corners)) return std::nullopt;
    // Negative corners read as unsigned are out of range too.
    bool in_range = true;
    for (const int32_t corner : corners) in_range &= static_cast<uint32_t>(corner) < point_count;
    if (!in_range) return std::nullopt;
    if (left_handed) {
      for (uint64_t i = 0; i < n; ++i) std::swap(block[i][1], block[i][2]);
    }
    triangles.insert(triangles.end(), block.begin(), block.begin() + static_cast<ptrdiff_t>(n));
  }
  return triangles;
}

// The faces fanned into triangles, oriented and checked against the point
// count; the general reader, which names every fault.
Parsed<std::vector<Triangle>> read_triangles(ByteView file, const MeshProperties& properties, uint64_t point_count) {
  Parsed<ValueRep> counts_rep = properties.default_value("faceVertexCounts");
  if (!counts_rep) return counts_rep.error();
  Parsed<std::vector<int32_t>> counts = read_int_array(file, *counts_rep);
  if (!counts) return counts.error();
  Parsed<ValueRep> indices_rep = properties.default_value("faceVertexIndices");
  if (!indices_rep) return indices_rep.error();
  Parsed<std::vector<int32_t>> indices = read_int_array(file, *indices_rep);
  if (!indices) return indices.error();
  Parsed<std::vector<Triangle>> triangles =
      triangulate_faces(std::span<const int32_t>(*counts), std::span<const int32_t>(*indices));
  if (!triangles) return triangles.error();
  const bool left_handed = properties.is_left_handed();
  for (Triangle& t : *triangles) {
    if (left_handed) std::swap(t[1], t[2]);
    if (t[0] >= point_count || t[1] >= point_count || t[2] >= point_count) {
      return std::string("faceVertexIndices out of range");
    }
  }
  return triangles;
}

IoResult<MeshWithAttributes> read_mesh(ByteView file) {
  if (std::optional<std::string> failure = check_header(file)) return MeshIoError::usd_parse(*failure);
  Parsed<CrateContents> crate = read_crate_contents(file);
  if (!crate) return MeshIoError::usd_parse(crate.error());
  const std::optional<uint32_t> prim = find_mesh_prim(*crate);
  if (!prim) return MeshIoError::usd_parse("no Mesh prim found");
  const MeshProperties properties{*crate, property_fieldsets(*crate, *prim)};

  Parsed<ValueRep> points_rep = properties.default_value("points");
  if (!points_rep) return MeshIoError::usd_parse(points_rep.error());
  Parsed<StoredPoints> stored_points = locate_points(file, *points_rep);
  if (!stored_points) return MeshIoError::usd_parse(stored_points.error());
  const uint64_t point_count = stored_points->count;

  // Once the points are known to be readable, widening them cannot fail. It
  // runs beside the faces, together with the check that every face is a
  // triangle when the corners take the coded form, so the two tasks take
  // about the same time. Coded triangles are kept only if that check holds
  // and nothing was wrong with them; otherwise the general reader reads the
  // faces again and names the fault.
  const std::optional<CodedFaces> coded_faces = find_coded_faces(file, properties);
  MeshWithAttributes mesh;
  bool all_triangles = false;
  std::optional<std::vector<Triangle>> coded;
  std::optional<Parsed<std::vector<Triangle>>> triangles;
  parallel_for(0, 2, [&](size_t task) {
    if (task == 0) {
      mesh.positions = widen_points(*stored_points);
      all_triangles = coded_faces && all_faces_are_triangles(file, coded_faces->counts);
    } else if (coded_faces) {
      coded = read_coded_triangles(file, *coded_faces, point_count, properties.is_left_handed());
    } else {
      triangles = read_triangles(file, properties, point_count);
    }
  });
  if (coded_faces) {
    triangles = all_triangles && coded ? std::move(*coded) : read_triangles(file, properties, point_count);
  }
  if (!*triangles) return MeshIoError::usd_parse(triangles->error());
  if (point_count > kMaxVertices) return MeshIoError::too_large("vertex", point_count, kMaxVertices);
  mesh.indices = std::move(*triangles).value();
  if (mesh.indices.size() > kMaxTriangles) {
    return MeshIoError::too_large("triangle", mesh.indices.size(), kMaxTriangles);
  }
  return mesh;
}

}  // namespace

IoResult<MeshWithAttributes> read_usdc(const std::string& path) {
  // Read, not mapped: a mapped file that another process truncates meanwhile
  // would kill the process with SIGBUS instead of failing the read.
  Expected<FileContent, FileReadFailure> file = read_whole_file(path);
  if (!file) return MeshIoError::os(file.error().error_number);
  return read_mesh(ByteView(reinterpret_cast<const uint8_t*>(file->begin()), file->size));
}

}  // namespace vorrel::io
