#include "io/obj.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/parallel.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/number_format.h"

namespace vorrel::io {
namespace {

// Blocks are parsed independently; their boundaries depend only on the file
// content, never on the number of threads.
constexpr size_t kBlockSize = size_t{1} << 20;
constexpr uint32_t kAbsent = UINT32_MAX;
// An index that resolved below zero or past what uint32 can hold: it is out of
// bounds of any array, which the merge reports.
constexpr uint32_t kUnreachable = UINT32_MAX - 1;

struct Corner {
  uint32_t v = kAbsent;
  uint32_t vt = kAbsent;
  uint32_t vn = kAbsent;
};
using CornerTriangle = std::array<Corner, 3>;

struct Counts {
  uint64_t positions = 0;
  uint64_t texcoords = 0;
  uint64_t normals = 0;
};

enum class Statement { Position, Texcoord, Normal, Face, Line, Point, Group, Other };

// The file's data statements, each stream in file order.
struct DataArrays {
  std::vector<float> positions;  // xyz per vertex
  std::vector<float> texcoords;  // uv per entry
  std::vector<float> normals;    // xyz per entry
};

struct BlockResult {
  std::vector<CornerTriangle> triangles;
  std::vector<uint64_t> group_marks;  // block triangle count at each `o` / `g`
  const char* error = nullptr;        // first failure in the block
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

const char* skip_blanks(const char* p, const char* end) {
  while (p < end && is_blank(*p)) ++p;
  return p;
}

bool at_token_end(const char* p, const char* end) { return p == end || is_blank(*p); }

// Reads the keyword and leaves `p` after it.
Statement classify(const char*& p, const char* end) {
  p = skip_blanks(p, end);
  const char* start = p;
  while (p < end && !is_blank(*p)) ++p;
  const std::string_view keyword(start, static_cast<size_t>(p - start));
  if (keyword == "v") return Statement::Position;
  if (keyword == "vt") return Statement::Texcoord;
  if (keyword == "vn") return Statement::Normal;
  if (keyword == "f") return Statement::Face;
  if (keyword == "l") return Statement::Line;
  if (keyword == "p") return Statement::Point;
  if (keyword == "o" || keyword == "g") return Statement::Group;
  return Statement::Other;
}

template <class Fn>
void for_each_line(const char* begin, const char* end, Fn&& fn) {
  while (begin < end) {
    const void* newline = std::memchr(begin, '\n', static_cast<size_t>(end - begin));
    const char* line_end = newline ? static_cast<const char*>(newline) : end;
    if (!fn(begin, line_end)) return;
    begin = line_end + 1;
  }
}

// Offsets where blocks start, each at a line start, followed by the size.
std::vector<size_t> block_starts(const char* data, size_t size) {
  std::vector<size_t> starts{0};
  for (size_t pos = kBlockSize; pos < size;) {
    const void* newline = std::memchr(data + pos, '\n', size - pos);
    if (!newline) break;
    const size_t next = static_cast<size_t>(static_cast<const char*>(newline) - data) + 1;
    if (next >= size) break;
    starts.push_back(next);
    pos = next + kBlockSize;
  }
  starts.push_back(size);
  return starts;
}

Counts count_data_lines(const char* begin, const char* end) {
  Counts counts;
  for_each_line(begin, end, [&](const char* p, const char* line_end) {
    switch (classify(p, line_end)) {
      case Statement::Position: ++counts.positions; break;
      case Statement::Texcoord: ++counts.texcoords; break;
      case Statement::Normal: ++counts.normals; break;
      default: break;
    }
    return true;
  });
  return counts;
}

// Decimal exponent of the leading significant digit of a number token, for
// telling overflow from underflow; saturates far outside the float range.
int64_t leading_magnitude(const char* p, const char* end) {
  if (p < end && (*p == '-' || *p == '+')) ++p;
  int64_t integer_digits = 0;
  int64_t leading_fraction_zeros = 0;
  bool significant = false;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    significant = significant || *p != '0';
    if (significant) ++integer_digits;
  }
  if (p < end && *p == '.') {
    for (++p; p < end && *p >= '0' && *p <= '9'; ++p) {
      if (integer_digits == 0 && !significant) {
        if (*p == '0') ++leading_fraction_zeros;
        else significant = true;
      }
    }
  }
  int64_t exponent = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) ++p;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) exponent = std::min<int64_t>(exponent * 10 + (*p - '0'), 100000);
    if (negative) exponent = -exponent;
  }
  const int64_t mantissa = integer_digits > 0 ? integer_digits - 1 : -(leading_fraction_zeros + 1);
  return mantissa + exponent;
}

// Parses one blank-delimited float; values beyond the float range become
// ±inf, values too small for it ±0.
bool parse_float(const char*& p, const char* end, float& out) {
  p = skip_blanks(p, end);
  if (p < end && *p == '+' && p + 1 < end && *(p + 1) != '-') ++p;
  auto [next, ec] = std::from_chars(p, end, out);
  if (ec == std::errc::invalid_argument) return false;
  if (ec == std::errc::result_out_of_range) {
    const float magnitude = leading_magnitude(p, next) > 0 ? HUGE_VALF : 0.0f;
    out = *p == '-' ? -magnitude : magnitude;
  }
  p = next;
  return at_token_end(p, end);
}

// Parses one block; its data statements go to their places in the file-wide
// arrays, which the counting pass sized.
class BlockParser {
 public:
  BlockParser(Counts base, DataArrays& data) : counts_(base), data_(data) {}

  BlockResult parse(const char* begin, const char* end) {
    for_each_line(begin, end, [&](const char* p, const char* line_end) {
      result_.error = parse_line(p, line_end);
      return result_.error == nullptr;
    });
    return std::move(result_);
  }

 private:
  const char* parse_line(const char* p, const char* end) {
    switch (classify(p, end)) {
      case Statement::Position:
        return parse_floats(p, end, 3, &data_.positions[3 * counts_.positions++]) ? nullptr : "position parse error";
      case Statement::Texcoord:
        return parse_floats(p, end, 2, &data_.texcoords[2 * counts_.texcoords++]) ? nullptr : "texcoord parse error";
      case Statement::Normal:
        return parse_floats(p, end, 3, &data_.normals[3 * counts_.normals++]) ? nullptr : "normal parse error";
      case Statement::Face:
        if (!parse_corners(p, end)) return "face parse error";
        if (corners_.size() < 3) return "invalid polygon";
        for (size_t i = 1; i + 1 < corners_.size(); ++i) {
          result_.triangles.push_back({corners_[0], corners_[i], corners_[i + 1]});
        }
        return nullptr;
      case Statement::Line:
        if (!parse_corners(p, end) || corners_.size() < 2) return "face parse error";
        for (size_t i = 0; i + 1 < corners_.size(); ++i) {
          result_.triangles.push_back({corners_[i], corners_[i + 1], corners_[i + 1]});
        }
        return nullptr;
      case Statement::Point:
        if (!parse_corners(p, end) || corners_.empty()) return "face parse error";
        for (const Corner& c : corners_) result_.triangles.push_back({c, c, c});
        return nullptr;
      case Statement::Group:
        result_.group_marks.push_back(result_.triangles.size());
        return nullptr;
      case Statement::Other:
        return nullptr;
    }
    return nullptr;
  }

  // The first `n` numbers; any further values (w, vertex colours) are ignored.
  static bool parse_floats(const char* p, const char* end, int n, float* out) {
    for (int i = 0; i < n; ++i) {
      if (!parse_float(p, end, out[i])) return false;
    }
    return true;
  }

  bool parse_corners(const char* p, const char* end) {
    corners_.clear();
    while (true) {
      p = skip_blanks(p, end);
      if (p == end || *p == '#') return true;
      Corner corner;
      if (!parse_corner(p, end, corner)) return false;
      corners_.push_back(corner);
    }
  }

  // "v", "v/vt", "v//vn" or "v/vt/vn".
  bool parse_corner(const char*& p, const char* end, Corner& corner) const {
    if (!parse_index(p, end, counts_.positions, corner.v)) return false;
    if (p < end && *p == '/') {
      ++p;
      if (p < end && *p != '/' && !is_blank(*p) && !parse_index(p, end, counts_.texcoords, corner.vt)) return false;
      if (p < end && *p == '/') {
        ++p;
        if (!at_token_end(p, end) && !parse_index(p, end, counts_.normals, corner.vn)) return false;
      }
    }
    return at_token_end(p, end);
  }

  // 1-based, or negative counting back from `count` (the elements read so far).
  static bool parse_index(const char*& p, const char* end, uint64_t count, uint32_t& out) {
    int64_t raw = 0;
    auto [next, ec] = std::from_chars(p, end, raw);
    if (ec != std::errc() || raw == 0) return false;
    p = next;
    const int64_t index = raw > 0 ? raw - 1 : static_cast<int64_t>(count) + raw;
    out = index < 0 || index >= int64_t{kUnreachable} ? kUnreachable : static_cast<uint32_t>(index);
    return true;
  }

  Counts counts_;
  DataArrays& data_;
  BlockResult result_;
  std::vector<Corner> corners_;  // reused for every element line
};

std::vector<BlockResult> parse_blocks(const FileContent& file, DataArrays& data) {
  const std::vector<size_t> starts = block_starts(file.begin(), file.size);
  const size_t block_count = starts.size() - 1;
  std::vector<Counts> counts = parallel_collect<Counts>(block_count, [&](size_t b) {
    return count_data_lines(file.begin() + starts[b], file.begin() + starts[b + 1]);
  });
  Counts running;
  for (Counts& c : counts) {
    const Counts block = c;
    c = running;
    running.positions += block.positions;
    running.texcoords += block.texcoords;
    running.normals += block.normals;
  }
  data.positions.resize(3 * running.positions);
  data.texcoords.resize(2 * running.texcoords);
  data.normals.resize(3 * running.normals);
  return parallel_collect<BlockResult>(block_count, [&](size_t b) {
    return BlockParser(counts[b], data).parse(file.begin() + starts[b], file.begin() + starts[b + 1]);
  });
}

// Triangle numbers where a new model starts: at an `o` / `g` statement that
// follows elements of the current model.
std::vector<uint64_t> model_starts(const std::vector<BlockResult>& blocks) {
  std::vector<uint64_t> starts;
  uint64_t current = 0;
  uint64_t block_base = 0;
  for (const BlockResult& b : blocks) {
    for (uint64_t mark : b.group_marks) {
      if (block_base + mark > current) {
        current = block_base + mark;
        starts.push_back(current);
      }
    }
    block_base += b.triangles.size();
  }
  return starts;
}

struct Gathered {
  std::vector<Vec3> positions;
  std::vector<Triangle> triangles;
  bool has_texcoords = false;
  bool has_normals = false;
};

// Copies each model's referenced positions in order of first reference and
// rewrites the corners against them; checks every index against its stream.
IoResult<Gathered> gather_models(const std::vector<BlockResult>& blocks, const std::vector<float>& positions,
                                 const Counts& totals) {
  const std::vector<uint64_t> starts = model_starts(blocks);
  Gathered out;
  uint64_t triangle_count = 0;
  for (const BlockResult& b : blocks) triangle_count += b.triangles.size();
  out.triangles.resize(triangle_count);
  out.positions.reserve(totals.positions);
  std::vector<uint32_t> owner(totals.positions, kAbsent);
  std::vector<uint32_t> local(totals.positions);

  uint32_t model = 0;
  size_t next_start = 0;
  uint32_t base = 0;
  uint64_t t = 0;
  for (const BlockResult& b : blocks) {
    for (const CornerTriangle& corners : b.triangles) {
      if (next_start < starts.size() && starts[next_start] == t) {
        ++next_start;
        ++model;
        base = static_cast<uint32_t>(out.positions.size());
      }
      for (int k = 0; k < 3; ++k) {
        const Corner& c = corners[k];
        if (c.v >= totals.positions) return MeshIoError::obj_parse("face vertex index out of bounds");
        if (c.vt != kAbsent && c.vt >= totals.texcoords) return MeshIoError::obj_parse("face texcoord index out of bounds");
        if (c.vn != kAbsent && c.vn >= totals.normals) return MeshIoError::obj_parse("face normal index out of bounds");
        out.has_texcoords = out.has_texcoords || c.vt != kAbsent;
        out.has_normals = out.has_normals || c.vn != kAbsent;
        if (owner[c.v] != model) {
          owner[c.v] = model;
          local[c.v] = static_cast<uint32_t>(out.positions.size()) - base;
          const float* p = &positions[3 * size_t{c.v}];
          out.positions.push_back({p[0], p[1], p[2]});
        }
        out.triangles[t][k] = base + local[c.v];
      }
      ++t;
    }
  }
  return out;
}

// Per-corner attribute values, written block by block in parallel; a triangle
// takes its corners' entries only if all three corners reference one.
template <class Entry, class Fetch>
std::vector<Entry> corner_attribute(const std::vector<BlockResult>& blocks, uint32_t Corner::*index, Fetch&& fetch) {
  std::vector<size_t> first(blocks.size() + 1, 0);
  for (size_t b = 0; b < blocks.size(); ++b) first[b + 1] = first[b] + blocks[b].triangles.size();
  std::vector<Entry> out(3 * first.back());
  parallel_for(0, blocks.size(), [&](size_t b) {
    Entry* dst = out.data() + 3 * first[b];
    for (const CornerTriangle& corners : blocks[b].triangles) {
      const bool complete = corners[0].*index != kAbsent && corners[1].*index != kAbsent && corners[2].*index != kAbsent;
      for (int k = 0; k < 3; ++k) *dst++ = complete ? fetch(corners[k].*index) : Entry{};
    }
  });
  return out;
}

void append_unsigned(std::string& out, uint64_t value) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

}  // namespace

IoStatus check_obj_counts(uint64_t vertex_count, uint64_t triangle_count) {
  if (vertex_count > kMaxVertices) return MeshIoError::too_large("vertex", vertex_count, kMaxVertices);
  if (triangle_count > kMaxTriangles) return MeshIoError::too_large("triangle", triangle_count, kMaxTriangles);
  return std::nullopt;
}

IoResult<MeshWithAttributes> read_obj(const std::string& path) {
  auto file = read_whole_file(path);
  if (!file) return MeshIoError::obj_parse(file.error().opening ? "open file failed" : "read error");

  DataArrays data;
  std::vector<BlockResult> blocks = parse_blocks(*file, data);
  file->bytes.reset();
  for (const BlockResult& b : blocks) {
    if (b.error) return MeshIoError::obj_parse(b.error);
  }
  const std::vector<float>& positions = data.positions;
  const std::vector<float>& texcoords = data.texcoords;
  const std::vector<float>& normals = data.normals;
  const Counts totals{positions.size() / 3, texcoords.size() / 2, normals.size() / 3};

  auto gathered = gather_models(blocks, positions, totals);
  if (!gathered) return gathered.error();
  if (gathered->triangles.empty()) return MeshIoError::obj_parse("no meshes found in OBJ file");
  if (auto too_large = check_obj_counts(gathered->positions.size(), gathered->triangles.size())) return *too_large;

  MeshWithAttributes mesh;
  mesh.positions = std::move(gathered->positions);
  mesh.indices = std::move(gathered->triangles);
  if (gathered->has_texcoords) {
    mesh.uvs = corner_attribute<Uv>(blocks, &Corner::vt, [&](uint32_t i) {
      return Uv{texcoords[2 * size_t{i}], texcoords[2 * size_t{i} + 1]};
    });
  }
  if (gathered->has_normals) {
    mesh.normals = corner_attribute<Vec3>(blocks, &Corner::vn, [&](uint32_t i) {
      const float* n = &normals[3 * size_t{i}];
      return Vec3{n[0], n[1], n[2]};
    });
  }
  return mesh;
}

IoStatus write_obj(const std::string& path, const MeshWithAttributes& mesh) {
  auto file = FileWriter::create(path);
  if (!file) return file.error();
  // Lines are formatted into one reused buffer and handed over in large pieces.
  constexpr size_t kFlushAt = 1 << 16;
  std::string text;
  text.reserve(kFlushAt + 256);
  auto line_done = [&] {
    text += '\n';
    if (text.size() >= kFlushAt) {
      file->write(text);
      text.clear();
    }
  };

  text += "# Generated by vorrel";
  line_done();
  for (const Vec3& p : mesh.positions) {
    text += 'v';
    for (double value : {p.x, p.y, p.z}) {
      text += ' ';
      append_fixed(text, value, 8);
    }
    line_done();
  }
  if (mesh.uvs) {
    for (const Uv& uv : *mesh.uvs) {
      text += "vt";
      for (float value : uv) {
        text += ' ';
        append_fixed(text, value, 6);
      }
      line_done();
    }
  }
  if (mesh.normals) {
    for (const Vec3& n : *mesh.normals) {
      text += "vn";
      for (double value : {n.x, n.y, n.z}) {
        text += ' ';
        append_fixed(text, value, 6);
      }
      line_done();
    }
  }
  const bool uvs = mesh.uvs.has_value();
  const bool normals = mesh.normals.has_value();
  uint64_t corner = 0;
  for (const Triangle& triangle : mesh.indices) {
    text += 'f';
    for (uint32_t index : triangle) {
      ++corner;
      text += ' ';
      append_unsigned(text, static_cast<uint32_t>(index + 1u));
      if (uvs || normals) text += '/';
      if (uvs) append_unsigned(text, corner);
      if (normals) {
        text += '/';
        append_unsigned(text, corner);
      }
    }
    line_done();
  }
  file->write(text);
  return file->finish();
}

}  // namespace vorrel::io
