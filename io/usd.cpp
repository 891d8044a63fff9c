#include "io/usd.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>

#include <fmt/format.h>

#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/number_format.h"
#include "io/utf8.h"

namespace vorrel::io {
namespace {

// The whole file, which must be valid UTF-8.
IoResult<FileContent> read_file_text(const std::string& path) {
  Expected<FileContent, FileReadFailure> file = read_whole_file(path);
  if (!file) return MeshIoError::os(file.error().error_number);
  if (!is_valid_utf8(std::string_view(file->begin(), file->size))) {
    return MeshIoError::io("stream did not contain valid UTF-8");
  }
  return std::move(file).value();
}

// Every line with its "\n" or "\r\n" removed and a "\n" put back, so carriage
// returns before line feeds disappear and a non-empty text ends with "\n".
std::string fold_line_ends(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() + 1);
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    if (end != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    text.append(line);
    text.push_back('\n');
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
  }
  return text;
}

std::optional<std::string_view> find_mesh_body(std::string_view text, std::string& failure) {
  const size_t def = text.find("def Mesh");
  if (def == std::string_view::npos) {
    failure = "no `def Mesh` found";
    return std::nullopt;
  }
  const size_t open = text.find('{', def);
  if (open == std::string_view::npos) {
    failure = "malformed Mesh block";
    return std::nullopt;
  }
  int64_t depth = 1;
  for (size_t i = open + 1; i < text.size(); ++i) {
    if (text[i] == '{') ++depth;
    if (text[i] == '}' && --depth == 0) return text.substr(open + 1, i - open - 1);
  }
  failure = "unclosed Mesh block";
  return std::nullopt;
}

std::optional<int64_t> parse_int(std::string_view piece) {
  // from_chars takes a leading "-" but no "+"; after a "+" no second sign may follow.
  if (!piece.empty() && piece.front() == '+') {
    piece.remove_prefix(1);
    if (!piece.empty() && (piece.front() == '-' || piece.front() == '+')) return std::nullopt;
  }
  int64_t value = 0;
  const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
  if (error != std::errc() || end != piece.data() + piece.size()) return std::nullopt;
  return value;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return true;
}

// Digits with at most one point and at least one digit, then an optional
// exponent with at least one digit.
bool is_decimal_number(std::string_view s) {
  size_t i = 0, digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exponent_digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return i == s.size();
}

std::optional<double> parse_double(std::string_view piece) {
  double sign = 1.0;
  if (!piece.empty() && (piece.front() == '+' || piece.front() == '-')) {
    if (piece.front() == '-') sign = -1.0;
    piece.remove_prefix(1);
  }
  if (equals_ignoring_case(piece, "inf") || equals_ignoring_case(piece, "infinity")) {
    return sign * std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_case(piece, "nan")) return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
  if (!is_decimal_number(piece)) return std::nullopt;
  double value = 0.0;
  const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
  if (error == std::errc::result_out_of_range) {
    // Overflow reads as infinity and underflow as zero or a subnormal, which
    // strtod gives for text already known to be a plain decimal number.
    value = std::strtod(std::string(piece).c_str(), nullptr);
  } else if (error != std::errc() || end != piece.data() + piece.size()) {
    return std::nullopt;
  }
  return sign * value;
}

// Calls fn(piece) for every comma-separated, trimmed piece of `text`.
template <class Fn>
void for_each_piece(std::string_view text, Fn&& fn) {
  for (;;) {
    const size_t comma = text.find(',');
    fn(trim_unicode_whitespace(text.substr(0, comma)));
    if (comma == std::string_view::npos) return;
    text.remove_prefix(comma + 1);
  }
}

std::optional<Vec3> parse_tuple(std::string_view inside) {
  std::array<double, 3> values{};
  size_t count = 0;
  bool ok = true;
  for_each_piece(inside, [&](std::string_view piece) {
    if (count >= 3) {
      ok = false;
      return;
    }
    const std::optional<double> value = parse_double(piece);
    if (!value) ok = false;
    values[count++] = value.value_or(0.0);
  });
  if (!ok || count != 3) return std::nullopt;
  return Vec3{values[0], values[1], values[2]};
}

// Appends "({:.6}, {:.6}, ...)" for the components.
template <class T, size_t N>
void append_tuple(std::string& out, const std::array<T, N>& components) {
  out.push_back('(');
  for (size_t i = 0; i < N; ++i) {
    if (i > 0) out.append(", ");
    append_fixed(out, components[i], 6);
  }
  out.push_back(')');
}

// Writes "[e0, e1, ...]" through `writer`, formatting entries with `append`;
// the text goes out in pieces so huge arrays never sit in memory as text.
template <class Range, class Append>
void write_array(FileWriter& writer, const Range& entries, Append&& append) {
  constexpr size_t kFlushSize = 1 << 16;
  std::string out = "[";
  bool first = true;
  for (const auto& entry : entries) {
    if (!first) out.append(", ");
    first = false;
    append(out, entry);
    if (out.size() >= kFlushSize) {
      writer.write(out);
      out.clear();
    }
  }
  out.push_back(']');
  writer.write(out);
}

std::array<double, 3> components(const Vec3& v) { return {v.x, v.y, v.z}; }

}  // namespace

std::optional<std::string_view> find_array_text(std::string_view text, std::string_view name) {
  const size_t at = text.find(name);
  if (at == std::string_view::npos) return std::nullopt;
  const size_t equals = text.find('=', at);
  if (equals == std::string_view::npos) return std::nullopt;
  const size_t open = text.find('[', equals);
  if (open == std::string_view::npos) return std::nullopt;
  const size_t close = text.find(']', open);
  if (close == std::string_view::npos) return std::nullopt;
  return text.substr(open + 1, close - open - 1);
}

std::optional<std::vector<int64_t>> parse_int_array(std::string_view text, std::string_view name) {
  const std::optional<std::string_view> array = find_array_text(text, name);
  if (!array) return std::nullopt;
  std::vector<int64_t> values;
  bool ok = true;
  for_each_piece(*array, [&](std::string_view piece) {
    if (piece.empty() || !ok) return;
    const std::optional<int64_t> value = parse_int(piece);
    if (value) {
      values.push_back(*value);
    } else {
      ok = false;
    }
  });
  if (!ok) return std::nullopt;
  return values;
}

std::optional<std::vector<Vec3>> parse_point_array(std::string_view text) {
  const std::optional<std::string_view> array = find_array_text(text, "points");
  if (!array) return std::nullopt;
  std::vector<Vec3> points;
  std::string_view rest = *array;
  for (;;) {
    const size_t open = rest.find('(');
    if (open == std::string_view::npos) return points;
    const size_t close = rest.find(')', open);
    if (close == std::string_view::npos) return std::nullopt;
    const std::optional<Vec3> point = parse_tuple(rest.substr(open + 1, close - open - 1));
    if (!point) return std::nullopt;
    points.push_back(*point);
    rest.remove_prefix(close + 1);
  }
}

namespace {

// The triangle count of the fan triangulation, or nothing when a face count
// fails the checks below (the fan loop then reports which).
std::optional<uint64_t> fan_triangle_count(auto counts, uint64_t total) {
  uint64_t triangles = 0;
  for (const auto count : counts) {
    if (count < 3 || static_cast<uint64_t>(count) > total) return std::nullopt;
    triangles += static_cast<uint64_t>(count) - 2;
  }
  return triangles;
}

template <class Int>
bool is_vertex_index(Int index) {
  return index >= 0 && int64_t{index} <= int64_t{0xFFFFFFFF};
}

// Faces that are all triangles: the indices are the triangles as they stand,
// checked in one branch-free sweep.
template <class Int>
Expected<std::vector<Triangle>, std::string> copy_triangles(std::span<const Int> indices) {
  std::vector<Triangle> triangles(indices.size() / 3);
  bool all_in_range = true;
  for (size_t i = 0; i < triangles.size(); ++i) {
    const Int a = indices[3 * i], b = indices[3 * i + 1], c = indices[3 * i + 2];
    all_in_range &= is_vertex_index(a) & is_vertex_index(b) & is_vertex_index(c);
    triangles[i] = {static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c)};
  }
  if (!all_in_range) return std::string("vertex index out of range");
  return triangles;
}

template <class Int>
Expected<std::vector<Triangle>, std::string> fan_triangulate(std::span<const Int> counts, std::span<const Int> indices) {
  const uint64_t total = indices.size();
  const std::optional<uint64_t> n = fan_triangle_count(counts, total);
  // Every face contributes at least one triangle, so as many triangles as faces
  // means every face is a triangle.
  if (n && *n == counts.size() && *n <= total / 3) return copy_triangles(indices.first(3 * *n));
  std::vector<Triangle> triangles;
  // Reserved up front only within what the indices can feed, so a hostile count
  // table cannot claim memory the fan loop would refuse anyway.
  if (n && *n <= total) triangles.reserve(*n);
  uint64_t start = 0;
  for (const Int count : counts) {
    if (count < 3 || static_cast<uint64_t>(count) > total) return std::string("bad faceVertexCounts entry");
    const uint64_t size = static_cast<uint64_t>(count);
    if (start + size > total) return std::string("faceVertexIndices truncated");
    for (uint64_t j = 1; j + 1 < size; ++j) {
      const Int a = indices[start], b = indices[start + j], c = indices[start + j + 1];
      if (!is_vertex_index(a) || !is_vertex_index(b) || !is_vertex_index(c)) {
        return std::string("vertex index out of range");
      }
      triangles.push_back({static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c)});
    }
    start += size;
  }
  return triangles;
}

}  // namespace

Expected<std::vector<Triangle>, std::string> triangulate_faces(std::span<const int64_t> counts,
                                                               std::span<const int64_t> indices) {
  return fan_triangulate(counts, indices);
}

Expected<std::vector<Triangle>, std::string> triangulate_faces(std::span<const int32_t> counts,
                                                               std::span<const int32_t> indices) {
  return fan_triangulate(counts, indices);
}

std::array<float, 6> compute_extent(std::span<const Vec3> positions) {
  if (positions.empty()) return {};
  constexpr double kInf = std::numeric_limits<double>::infinity();
  std::array<double, 3> lo{kInf, kInf, kInf}, hi{-kInf, -kInf, -kInf};
  for (const Vec3& p : positions) {
    for (int axis = 0; axis < 3; ++axis) {
      // A not-a-number coordinate fails both comparisons and so never wins;
      // equal values keep the bound already held.
      lo[axis] = p[axis] < lo[axis] ? p[axis] : lo[axis];
      hi[axis] = p[axis] > hi[axis] ? p[axis] : hi[axis];
    }
  }
  return {static_cast<float>(lo[0]), static_cast<float>(lo[1]), static_cast<float>(lo[2]),
          static_cast<float>(hi[0]), static_cast<float>(hi[1]), static_cast<float>(hi[2])};
}

IoResult<MeshWithAttributes> read_usda(const std::string& path) {
  IoResult<FileContent> file = read_file_text(path);
  if (!file) return file.error();
  const std::string text = fold_line_ends(std::string_view(file->begin(), file->size));

  std::string failure;
  const std::optional<std::string_view> body = find_mesh_body(text, failure);
  if (!body) return MeshIoError::usd_parse(failure);
  const std::optional<std::vector<int64_t>> counts = parse_int_array(*body, "faceVertexCounts");
  if (!counts) return MeshIoError::usd_parse("faceVertexCounts missing");
  const std::optional<std::vector<int64_t>> indices = parse_int_array(*body, "faceVertexIndices");
  if (!indices) return MeshIoError::usd_parse("faceVertexIndices missing");
  std::optional<std::vector<Vec3>> points = parse_point_array(*body);
  if (!points) return MeshIoError::usd_parse("points missing");
  Expected<std::vector<Triangle>, std::string> triangles = triangulate_faces(*counts, *indices);
  if (!triangles) return MeshIoError::usd_parse(triangles.error());

  MeshWithAttributes mesh;
  mesh.positions = std::move(*points);
  mesh.indices = std::move(triangles).value();
  return mesh;
}

IoStatus write_usda(const std::string& path, const MeshWithAttributes& mesh) {
  IoResult<FileWriter> created = FileWriter::create(path);
  if (!created) return created.error();
  FileWriter& writer = *created;

  writer.write(
      "#usda 1.0\n(\n    defaultPrim = \"proxy\"\n    metersPerUnit = 1\n    upAxis = \"Y\"\n)\n\n"
      "def Mesh \"proxy\"\n{\n"
      "    uniform token subdivisionScheme = \"none\"\n"
      "    uniform token purpose = \"proxy\"\n");

  const std::array<float, 6> extent = compute_extent(mesh.positions);
  std::string line = "    float3[] extent = [";
  append_tuple(line, std::array<float, 3>{extent[0], extent[1], extent[2]});
  line.append(", ");
  append_tuple(line, std::array<float, 3>{extent[3], extent[4], extent[5]});
  line.append("]\n");
  writer.write(line);

  writer.write("    int[] faceVertexCounts = ");
  write_array(writer, mesh.indices, [](std::string& out, const Triangle&) { out.push_back('3'); });
  writer.write("\n    int[] faceVertexIndices = ");
  write_array(writer, mesh.indices, [](std::string& out, const Triangle& t) {
    fmt::format_to(std::back_inserter(out), "{}, {}, {}", t[0], t[1], t[2]);
  });
  writer.write("\n    point3f[] points = ");
  write_array(writer, mesh.positions, [](std::string& out, const Vec3& p) { append_tuple(out, components(p)); });
  writer.write("\n");
  if (mesh.normals) {
    writer.write("    normal3f[] normals = ");
    write_array(writer, *mesh.normals, [](std::string& out, const Vec3& n) { append_tuple(out, components(n)); });
    writer.write(" (\n        interpolation = \"faceVarying\"\n    )\n");
  }
  if (mesh.uvs) {
    writer.write("    texCoord2f[] primvars:st = ");
    write_array(writer, *mesh.uvs, [](std::string& out, const Uv& uv) { append_tuple(out, uv); });
    writer.write(" (\n        interpolation = \"faceVarying\"\n    )\n");
  }
  writer.write("}\n");
  return writer.finish();
}

}  // namespace vorrel::io
