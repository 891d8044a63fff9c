#include "io/usdc.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vorrel::io {
namespace {

namespace fs = std::filesystem;
using namespace usdc;

std::string temp_path(const std::string& name) {
  return (fs::path(::testing::TempDir()) / (std::to_string(::getpid()) + "_" + name)).string();
}

Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::string read_failure(const std::string& path) {
  const auto mesh = read_usdc(path);
  if (mesh.ok()) return "read succeeded";
  EXPECT_EQ(mesh.error().kind, MeshIoErrorKind::UsdParse) << mesh.error().text();
  return mesh.error().detail;
}

MeshWithAttributes one_triangle() {
  MeshWithAttributes mesh;
  mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  mesh.indices = {{0, 1, 2}};
  return mesh;
}

MeshWithAttributes strip(size_t triangles) {
  MeshWithAttributes mesh;
  for (size_t i = 0; i < triangles + 2; ++i) mesh.positions.push_back({0.1 * double(i), double(i % 2), 1.0 / 3.0});
  for (uint32_t i = 0; i < triangles; ++i) mesh.indices.push_back({i, i + 1 + i % 2, i + 2 - i % 2});
  return mesh;
}

// Values whose deltas take every payload width in an irregular order.
std::vector<int32_t> mixed_widths(size_t count) {
  std::vector<int32_t> values;
  uint32_t state = 12345;
  for (size_t i = 0; i < count; ++i) {
    state = state * 1664525u + 1013904223u;
    const int shift = std::array{0, 8, 20, 28}[state >> 30];
    values.push_back(static_cast<int32_t>(state) >> shift);
  }
  return values;
}

// The chunk-framed content of a stored integer coding.
Bytes encoded_buffer(std::span<const int32_t> values) {
  Bytes stored;
  write_compressed_ints(values, stored);
  uint64_t size = 0;
  std::memcpy(&size, stored.data(), 8);
  EXPECT_EQ(stored.size(), 8 + size);
  return decompress_chunked(ByteView(stored).subspan(8), 1 << 20).value();
}

TEST(UsdcIntCoding, CountingValues) {
  std::vector<int32_t> values(100);
  for (int32_t i = 0; i < 100; ++i) values[i] = i;
  const Bytes buffer = encoded_buffer(values);
  ASSERT_EQ(buffer.size(), 4u + 25 + 1);
  int32_t common = 0;
  std::memcpy(&common, buffer.data(), 4);
  EXPECT_EQ(common, 1);
  EXPECT_EQ(buffer[4], 0x01);  // value 0: code 1; values 1-3: code 0
  for (size_t i = 5; i < 29; ++i) EXPECT_EQ(buffer[i], 0);
  EXPECT_EQ(buffer[29], 0);  // the int8 payload of the first delta
}

TEST(UsdcIntCoding, CommonValuePrefersSmallDeltas) {
  // Deltas 5, -305 and 100000 occur once each: -305 is the smallest in [-512, 511].
  const std::vector<int32_t> values = {5, -300, 99700};
  const Bytes buffer = encoded_buffer(values);
  int32_t common = 0;
  std::memcpy(&common, buffer.data(), 4);
  EXPECT_EQ(common, -305);
  EXPECT_EQ(buffer[4], 0x01 | (0x0 << 2) | (0x3 << 4));
  ASSERT_EQ(buffer.size(), 4u + 1 + 1 + 4);
  EXPECT_EQ(int8_t(buffer[5]), 5);

  // A far delta wins only when strictly more frequent.
  const std::vector<int32_t> far = {1000, 2000, 3000, 3001};
  std::memcpy(&common, encoded_buffer(far).data(), 4);
  EXPECT_EQ(common, 1000);
}

TEST(UsdcIntCoding, CommonValueOfLongArrays) {
  // Long arrays count some far deltas in a table and the rest in a map; the
  // choice must not depend on which: 700 and 100000 tie, the smaller wins over
  // the less frequent near delta 5.
  const auto common_of = [](const std::vector<int32_t>& deltas) {
    std::vector<int32_t> values;
    uint32_t running = 0;
    for (const int32_t d : deltas) values.push_back(static_cast<int32_t>(running += static_cast<uint32_t>(d)));
    Bytes stored;
    write_compressed_ints(values, stored);
    int32_t common = 0;
    std::memcpy(&common, decompress_chunked(ByteView(stored).subspan(8), 1 << 22).value().data(), 4);
    return common;
  };
  std::vector<int32_t> deltas;
  for (int i = 0; i < 40000; ++i) deltas.insert(deltas.end(), {100000, 700, 5});
  deltas.resize(deltas.size() - 1);
  EXPECT_EQ(common_of(deltas), 700);
  for (int i = 0; i < 2; ++i) deltas.push_back(100000);
  EXPECT_EQ(common_of(deltas), 100000);
  for (int i = 0; i < 3; ++i) deltas.push_back(5);
  EXPECT_EQ(common_of(deltas), 5);
}

TEST(UsdcIntCoding, RoundTrips) {
  const std::vector<std::vector<int32_t>> cases = {
      {},
      {7},
      {INT32_MIN, INT32_MAX, 0, -1, 127, -128, 128, 32767, -32768, 32768},
      std::vector<int32_t>(1000, 42),
      mixed_widths(1003),
  };
  for (const auto& values : cases) {
    Bytes stored;
    write_compressed_ints(values, stored);
    stored.push_back(0xAB);  // trailing bytes of the file stay unread
    ByteCursor cursor(stored);
    const auto decoded = read_compressed_ints(cursor, values.size());
    ASSERT_TRUE(decoded.ok()) << decoded.error();
    EXPECT_EQ(decoded.value(), values);
    EXPECT_EQ(cursor.position(), stored.size() - 1);
  }
}

// Decoding in runs, as the reader does for large face arrays, gives the values
// of decoding all at once, for runs of whole groups and a last partial one,
// and for codings whose last groups take few or no payload bytes.
TEST(UsdcIntCoding, DecodesInRuns) {
  std::vector<int32_t> threes(1001, 3);
  std::vector<int32_t> wide_then_common = mixed_widths(40);
  wide_then_common.resize(500, wide_then_common.back());
  for (const std::vector<int32_t>& values : {mixed_widths(1003), threes, wide_then_common}) {
    const Bytes coding = encoded_buffer(values);
    for (const size_t run : {4, 12, 3072}) {
      IntDecoder decoder(coding, values.size());
      std::vector<int32_t> decoded;
      while (decoder.remaining() > 0) {
        std::vector<int32_t> part(std::min<uint64_t>(run, decoder.remaining()));
        ASSERT_FALSE(decoder.next(part));
        decoded.insert(decoded.end(), part.begin(), part.end());
      }
      EXPECT_EQ(decoded, values) << "run " << run;
    }
  }
  // Runs out of step with the groups, or past the end, are refused untouched.
  const Bytes coding = encoded_buffer(threes);
  IntDecoder decoder(coding, 10);
  std::vector<int32_t> part(11, -1);
  EXPECT_TRUE(decoder.next(part));
  ASSERT_FALSE(decoder.next(std::span(part).first(6)));
  EXPECT_TRUE(decoder.next(std::span(part).first(4)));
  EXPECT_EQ(part[6], -1);
}

TEST(UsdcIntCoding, EmptyArrayStillStoresABlockThatIsNeverDecoded) {
  Bytes stored;
  write_compressed_ints({}, stored);
  EXPECT_GT(stored.size(), 8u);
  EXPECT_LT(stored.size(), 16u);
  // A garbage block of the declared size is skipped when no values are wanted.
  Bytes garbage = {5, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  ByteCursor cursor(garbage);
  EXPECT_TRUE(read_compressed_ints(cursor, 0).ok());
  EXPECT_EQ(cursor.position(), garbage.size());
}

TEST(UsdcIntCoding, HostileBlocks) {
  const auto failure = [](const Bytes& file, uint64_t count) {
    ByteCursor cursor(file);
    const auto values = read_compressed_ints(cursor, count);
    return values.ok() ? std::string("ok") : values.error();
  };
  Bytes longer_than_file = {100, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(failure(longer_than_file, 1), "compressed blob size out of bounds");
  Bytes past_end = {9, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(failure(past_end, 1), "unexpected end of file");
  EXPECT_EQ(failure({1, 0}, 1), "unexpected end of file");

  // A valid block whose content is too short for the codes of 40 values.
  Bytes short_content;
  const Bytes block = compress_chunked(Bytes{0, 0, 0, 0, 0});
  append_le<uint64_t>(short_content, block.size());
  short_content.insert(short_content.end(), block.begin(), block.end());
  EXPECT_EQ(failure(short_content, 40), "compressed ints truncated");

  // Codes promise int32 payloads that are not there.
  Bytes missing_payload;
  const Bytes codes = compress_chunked(Bytes{0, 0, 0, 0, 0xFF});
  append_le<uint64_t>(missing_payload, codes.size());
  missing_payload.insert(missing_payload.end(), codes.begin(), codes.end());
  EXPECT_EQ(failure(missing_payload, 4), "int payload truncated");

  // A payload cut short after many whole groups.
  Bytes content = encoded_buffer(mixed_widths(1003));
  content.resize(content.size() - 3);
  Bytes cut_payload;
  const Bytes cut_block = compress_chunked(content);
  append_le<uint64_t>(cut_payload, cut_block.size());
  cut_payload.insert(cut_payload.end(), cut_block.begin(), cut_block.end());
  EXPECT_EQ(failure(cut_payload, 1003), "int payload truncated");

  // The last whole groups, with fewer payload bytes left than a group can
  // take, are checked too: a common-value group, then one promising an int32
  // of which two bytes are there.
  Bytes short_tail;
  const Bytes tail_block = compress_chunked(Bytes{0, 0, 0, 0, 0x00, 0xC0, 1, 2});
  append_le<uint64_t>(short_tail, tail_block.size());
  short_tail.insert(short_tail.end(), tail_block.begin(), tail_block.end());
  EXPECT_EQ(failure(short_tail, 8), "int payload truncated");

  // A count far beyond what the block can hold is refused, not allocated.
  EXPECT_EQ(failure(short_content, 1600000000), "compressed ints truncated");
}

TEST(UsdcChunks, Framing) {
  Bytes content(5000);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7 % 13);
  const Bytes block = compress_chunked(content);
  ASSERT_EQ(block[0], 0);
  EXPECT_EQ(decompress_chunked(block, content.size()).value(), content);
  EXPECT_EQ(decompress_chunked(block, 100).error().rfind("lz4: ", 0), 0u);  // output bounded
  EXPECT_TRUE(decompress_chunked({}, 10).value().empty());

  // Two chunks concatenate; a second chunk whose size points past the block fails.
  const ByteView lz4(block.data() + 1, block.size() - 1);
  Bytes two = {2};
  for (int chunk = 0; chunk < 2; ++chunk) {
    append_le<uint32_t>(two, static_cast<uint32_t>(lz4.size()));
    two.insert(two.end(), lz4.begin(), lz4.end());
  }
  Bytes doubled = content;
  doubled.insert(doubled.end(), content.begin(), content.end());
  EXPECT_EQ(decompress_chunked(two, 2 * content.size()).value(), doubled);
  Bytes out_of_bounds = {2};
  append_le<uint32_t>(out_of_bounds, static_cast<uint32_t>(lz4.size()));
  out_of_bounds.insert(out_of_bounds.end(), lz4.begin(), lz4.end());
  append_le<uint32_t>(out_of_bounds, 1000);
  out_of_bounds.insert(out_of_bounds.end(), 10, 0);
  EXPECT_EQ(decompress_chunked(out_of_bounds, 1 << 20).error(), "lz4 chunk out of bounds");
  EXPECT_EQ(decompress_chunked(Bytes{1, 0, 0}, 10).error(), "unexpected end of file");
  EXPECT_EQ(decompress_chunked(Bytes{0, 0xF0, 1, 2}, 10).error().rfind("lz4: ", 0), 0u);
}

// Raw blocks (behind a chunk count of 0) that the codec must refuse with its
// own text, and well-formed blocks whose last match fills the output exactly.
TEST(UsdcChunks, CodecFailuresAreNamed) {
  struct Case {
    Bytes lz4;
    uint64_t capacity;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{0x10}, 10, "lz4: literal is out of bounds of the input"},
      {{0xF0}, 10, "lz4: expected another byte, found none"},
      {{0x10, 'a', 0x01}, 10, "lz4: expected another byte, found none"},
      {{0x1F, 'a', 0x01, 0x00}, 30, "lz4: expected another byte, found none"},
      {{0x10, 'a', 0x01, 0x00}, 10, "lz4: expected another byte, found none"},  // ends after a match
      {{0x10, 'a', 0x00, 0x00, 0x00}, 10, "lz4: 0 is not a valid match offset"},
      {{0x00, 0x00, 0x00}, 0, "lz4: 0 is not a valid match offset"},  // no literals, no room
      {{0x10, 'a', 0x02, 0x00, 0x00}, 10, "lz4: the offset to copy is not contained in the decompressed buffer"},
      {{0x30, 'a', 'b', 'c'}, 2, "lz4: provided output is too small for the decompressed data, actual 2, expected 3"},
      {{0x10, 'a', 0x01, 0x00, 0x00}, 3,
       "lz4: provided output is too small for the decompressed data, actual 3, expected 5"},
  };
  for (const Case& c : cases) {
    Bytes block = {0};
    block.insert(block.end(), c.lz4.begin(), c.lz4.end());
    EXPECT_EQ(decompress_chunked(block, c.capacity).error(), c.error) << c.error;
  }
  EXPECT_EQ(decompress_chunked(Bytes{0, 0x10, 'a', 0x01, 0x00, 0x00}, 5).value(), Bytes(5, 'a'));
  EXPECT_EQ(decompress_chunked(Bytes{0, 0x12, 'a', 0x01, 0x00, 0x00}, 7).value(), Bytes(7, 'a'));
}

TEST(UsdcCursor, BoundedByFile) {
  const Bytes file(12, 1);
  ByteCursor cursor(file);
  EXPECT_EQ(cursor.read_u64().value(), 0x0101010101010101u);
  EXPECT_EQ(cursor.read_u64().error(), "unexpected end of file");
  EXPECT_EQ(cursor.take(5).error(), "unexpected end of file");
  EXPECT_EQ(cursor.take(4).value().size(), 4u);
  ByteCursor beyond(file, 1000);
  EXPECT_EQ(beyond.take(0).error(), "unexpected end of file");
  ByteCursor huge(file, 4);
  EXPECT_EQ(huge.take(UINT64_MAX).error(), "unexpected end of file");
}

// ---- Writer tables ----

ValueRep default_of(const CrateTables& t, size_t spec) {
  for (size_t p = static_cast<size_t>(t.specs[spec].fieldset); t.fieldsets[p] != -1; ++p) {
    const CrateField& field = t.fields[static_cast<size_t>(t.fieldsets[p])];
    if (t.tokens[field.name] == "default") return field.rep;
  }
  ADD_FAILURE() << "no default in spec " << spec;
  return {};
}

TEST(UsdcWriter, OneTriangleTables) {
  const CrateWriter crate = build_proxy_crate(one_triangle());
  const CrateTables& t = crate.tables();
  EXPECT_EQ(t.tokens, (std::vector<std::string>{
                          ";-)", "", "Y", "upAxis", "metersPerUnit", "proxy", "primChildren", "defaultPrim", "none",
                          "specifier", "Mesh", "typeName", "extent", "faceVertexCounts", "faceVertexIndices", "points",
                          "purpose", "subdivisionScheme", "properties", "float3[]", "default", "int[]", "point3f[]",
                          "token", "variability"}));
  ASSERT_EQ(t.fields.size(), 18u);
  const std::vector<std::pair<std::string, uint64_t>> expected_fields = {
      {"upAxis", token_value(2).bits},
      {"metersPerUnit", 0x400900003F800000},
      {"primChildren", ValueRep::make(ValueType::TokenVector, 0, 88).bits},
      {"defaultPrim", token_value(5).bits},
      {"specifier", kSpecifierDef.bits},
      {"typeName", token_value(10).bits},
  };
  for (size_t i = 0; i < expected_fields.size(); ++i) {
    EXPECT_EQ(t.tokens[t.fields[i].name], expected_fields[i].first);
    EXPECT_EQ(t.fields[i].rep.bits, expected_fields[i].second) << i;
  }
  std::vector<std::string> names;
  for (const CrateField& field : t.fields) names.push_back(t.tokens[field.name]);
  EXPECT_EQ(names, (std::vector<std::string>{"upAxis", "metersPerUnit", "primChildren", "defaultPrim", "specifier",
                                             "typeName", "properties", "typeName", "default", "typeName", "default",
                                             "default", "typeName", "default", "typeName", "variability", "default",
                                             "default"}));
  EXPECT_EQ(t.fields[15].rep, kVariabilityUniform);
  EXPECT_EQ(t.fields[16].rep, token_value(5));  // purpose "proxy"
  EXPECT_EQ(t.fields[17].rep, token_value(8));  // subdivisionScheme "none"

  EXPECT_EQ(t.fieldsets, (std::vector<int32_t>{0, 1, 2, 3, -1, 4, 5, 6, -1, 7, 8, -1, 9, 10, -1, 9, 11, -1, 12, 13,
                                               -1, 14, 15, 16, -1, 14, 15, 17, -1}));
  std::vector<int32_t> starts, types, spec_paths;
  for (const CrateSpec& spec : t.specs) {
    starts.push_back(spec.fieldset);
    types.push_back(static_cast<int32_t>(spec.type));
    spec_paths.push_back(spec.path);
  }
  EXPECT_EQ(starts, (std::vector<int32_t>{0, 5, 9, 12, 15, 18, 21, 25}));
  EXPECT_EQ(types, (std::vector<int32_t>{7, 6, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(spec_paths, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(t.path_indices, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(t.element_tokens, (std::vector<int32_t>{1, 5, -12, -13, -14, -15, -16, -17}));
  EXPECT_EQ(t.jumps, (std::vector<int32_t>{-1, -1, 0, 0, 0, 0, 0, -2}));

  // primChildren's token vector opens the data: count 1, token 5.
  ASSERT_GE(t.data.size(), 12u);
  EXPECT_EQ(Bytes(t.data.begin(), t.data.begin() + 12), (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0}));
}

TEST(UsdcWriter, AttributeTokensAndOrder) {
  MeshWithAttributes mesh = one_triangle();
  mesh.normals = std::vector<Vec3>(3, Vec3{0, 0, 1});
  mesh.uvs = std::vector<Uv>(3, Uv{0.5f, 0.25f});
  const CrateWriter crate = build_proxy_crate(mesh);
  const CrateTables& t = crate.tables();
  const std::vector<std::string> tail(t.tokens.begin() + 12, t.tokens.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"extent", "faceVertexCounts", "faceVertexIndices", "normals", "points",
                                            "primvars:st", "purpose", "subdivisionScheme", "properties", "float3[]",
                                            "default", "int[]", "normal3f[]", "faceVarying", "interpolation",
                                            "point3f[]", "texCoord2f[]", "token", "variability"}));
  EXPECT_EQ(t.specs.size(), 10u);
  EXPECT_EQ(default_of(t, 7).type(), static_cast<uint8_t>(ValueType::Float2));  // primvars:st
}

TEST(UsdcWriter, IndexArraysSwitchToIntegerCodingAtSixteen) {
  for (const size_t triangles : {5, 6}) {
    const CrateWriter crate = build_proxy_crate(strip(triangles));
    const CrateTables& t = crate.tables();
    const ValueRep counts = default_of(t, 3), indices = default_of(t, 4);
    EXPECT_TRUE(counts.is_array() && counts.has_type(ValueType::Int));
    EXPECT_FALSE(counts.is_compressed());
    EXPECT_EQ(indices.is_compressed(), triangles == 6);
    // Raw arrays are the count followed by the int32 values.
    const size_t at = counts.payload() - kHeaderSize;
    uint64_t count = 0;
    std::memcpy(&count, t.data.data() + at, 8);
    EXPECT_EQ(count, triangles);
    EXPECT_EQ(indices.payload(), counts.payload() + 8 + 4 * triangles);
  }
}

TEST(UsdcWriter, EmptyMesh) {
  const CrateWriter crate = build_proxy_crate(MeshWithAttributes{});
  const CrateTables& t = crate.tables();
  const ValueRep extent = default_of(t, 2);
  Bytes expected_extent;
  append_le<uint64_t>(expected_extent, 2);
  expected_extent.resize(8 + 24, 0);
  const size_t at = extent.payload() - kHeaderSize;
  EXPECT_EQ(Bytes(t.data.begin() + at, t.data.begin() + at + 32), expected_extent);
  for (const size_t spec : {3, 4, 5}) {  // counts, indices, points: zero-length arrays
    uint64_t count = 1;
    std::memcpy(&count, t.data.data() + default_of(t, spec).payload() - kHeaderSize, 8);
    EXPECT_EQ(count, 0u);
  }
  const std::string path = temp_path("empty.usdc");
  ASSERT_FALSE(write_usdc(path, MeshWithAttributes{}));
  const auto back = read_usdc(path);
  ASSERT_TRUE(back.ok()) << back.error().text();
  EXPECT_TRUE(back->positions.empty() && back->indices.empty());
}

TEST(UsdcWriter, RoundTripThroughReader) {
  for (const size_t triangles : {1, 5, 6, 2000}) {
    MeshWithAttributes mesh = strip(triangles);
    mesh.normals = std::vector<Vec3>(3 * triangles, Vec3{0, 1, 0});
    const std::string path = temp_path("roundtrip.usdc");
    ASSERT_FALSE(write_usdc(path, mesh));
    const Bytes file = read_bytes(path);
    ASSERT_EQ(std::string(file.begin(), file.begin() + 11), std::string("PXR-USDC\0\x08\0", 11));
    const auto back = read_usdc(path);
    ASSERT_TRUE(back.ok()) << back.error().text();
    EXPECT_EQ(back->indices, mesh.indices);
    ASSERT_EQ(back->positions.size(), mesh.positions.size());
    for (size_t i = 0; i < mesh.positions.size(); ++i) {
      for (int axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(back->positions[i][axis], static_cast<double>(static_cast<float>(mesh.positions[i][axis])));
      }
    }
    EXPECT_FALSE(back->normals || back->uvs);
  }
}

// ---- Reader on patched and hand-built files ----

// The table of contents of a file written by write_usdc.
struct Toc {
  uint64_t offset;
  size_t entry(const Bytes& file, const char* name) const {
    for (size_t i = 0; i < 6; ++i) {
      if (std::strcmp(reinterpret_cast<const char*>(file.data() + offset + 8 + 32 * i), name) == 0) {
        return offset + 8 + 32 * i;
      }
    }
    ADD_FAILURE() << name;
    return 0;
  }
};

Toc toc_of(const Bytes& file) {
  uint64_t offset = 0;
  std::memcpy(&offset, file.data() + 16, 8);
  return {offset};
}

TEST(UsdcReader, HeaderAndTableOfContents) {
  const std::string path = temp_path("patched.usdc");
  ASSERT_FALSE(write_usdc(path, one_triangle()));
  const Bytes good = read_bytes(path);
  const Toc toc = toc_of(good);
  const auto patched = [&](auto&& edit) {
    Bytes file = good;
    edit(file);
    write_bytes(path, file);
    return read_failure(path);
  };
  EXPECT_EQ(patched([](Bytes& f) { f[9] = 3; }), "crate file version 0.3 unsupported (need 0.4.0+)");
  EXPECT_EQ(patched([](Bytes& f) { f[8] = 1, f[9] = 0; }), "crate file version 1.0 unsupported (need 0.4.0+)");
  EXPECT_EQ(patched([](Bytes& f) { f[0] = 'X'; }), "not a USD crate file");
  EXPECT_EQ(patched([](Bytes& f) { f.resize(87); }), "not a USD crate file");
  EXPECT_EQ(patched([&](Bytes& f) { f[toc.offset] = 65; }), "implausible section count");
  EXPECT_EQ(patched([&](Bytes& f) { f[toc.offset] = 7; }), "unexpected end of file");
  EXPECT_EQ(patched([](Bytes& f) { std::memset(f.data() + 16, 0xFF, 8); }), "unexpected end of file");
  EXPECT_EQ(patched([&](Bytes& f) { f[toc.entry(f, "SPECS") + 24 + 7] = 0x80; }), "section SPECS out of bounds");
  // Sections are read in a fixed order: TOKENS and FIELDS succeed first.
  EXPECT_EQ(patched([&](Bytes& f) { f[toc.entry(f, "FIELDSETS")] = 'X'; }), "missing FIELDSETS section");
  EXPECT_EQ(patched([&](Bytes& f) {
              f[toc.entry(f, "PATHS")] = 'X';
              f[toc.entry(f, "FIELDSETS")] = 'X';
            }),
            "missing FIELDSETS section");
  EXPECT_EQ(patched([&](Bytes& f) { f[toc.entry(f, "TOKENS")] = 'X'; }), "missing TOKENS section");
  // A later entry with the same name replaces an earlier one.
  EXPECT_EQ(patched([&](Bytes& f) { std::memcpy(f.data() + toc.entry(f, "STRINGS"), "SPECS\0\0", 8); }),
            "read succeeded");
  EXPECT_EQ(patched([&](Bytes& f) { std::memcpy(f.data() + toc.entry(f, "SPECS"), "STRINGS", 8); }),
            "missing SPECS section");
}

// A crate built by hand: prims with optional mesh arrays, path indices chosen
// by the test, specs in the given order.
struct TestPrim {
  int32_t path_index;
  std::string type_name = "Mesh";
  std::vector<float> points = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  std::vector<int32_t> counts = {3};
  std::vector<int32_t> indices = {0, 1, 2};
  std::optional<std::string> orientation;
  bool compressed_points = false;
};

std::string write_test_crate(const std::string& name, const std::vector<TestPrim>& prims) {
  CrateWriter crate;
  crate.intern_token(";-)");
  crate.add_path(0, static_cast<int32_t>(crate.intern_token("")), -1);
  crate.add_spec(0, crate.intern_fieldset({}), SpecType::PseudoRoot);
  for (size_t p = 0; p < prims.size(); ++p) {
    const TestPrim& prim = prims[p];
    ValueRep points = crate.write_float_tuples(ValueType::Float3, prim.points);
    if (prim.compressed_points) points.bits |= ValueRep::kCompressed;
    std::vector<std::pair<std::string, ValueRep>> attributes = {
        {"points", points},
        {"faceVertexCounts", crate.write_int_array(prim.counts)},
        {"faceVertexIndices", crate.write_int_array(prim.indices)},
    };
    if (prim.orientation) attributes.push_back({"orientation", token_value(crate.intern_token(*prim.orientation))});
    const bool last_prim = p + 1 == prims.size();
    const int32_t prim_name = static_cast<int32_t>(crate.intern_token("prim" + std::to_string(p)));
    crate.add_path(prim.path_index, prim_name, last_prim ? -1 : static_cast<int32_t>(attributes.size() + 1));
    const int32_t prim_fieldset = crate.intern_fieldset(
        {int32_t(crate.intern_field("specifier", kSpecifierDef)),
         int32_t(crate.intern_field("typeName", token_value(crate.intern_token(prim.type_name))))});
    crate.add_spec(prim.path_index, prim_fieldset, SpecType::Prim);
    for (size_t a = 0; a < attributes.size(); ++a) {
      const int32_t path = 1000 + 10 * prim.path_index + static_cast<int32_t>(a);
      crate.add_path(path, -static_cast<int32_t>(crate.intern_token(attributes[a].first)),
                     a + 1 == attributes.size() ? -2 : 0);
      crate.add_spec(path, crate.intern_fieldset({int32_t(crate.intern_field("default", attributes[a].second))}),
                     SpecType::Attribute);
    }
  }
  const std::string path = temp_path(name);
  EXPECT_FALSE(save_crate(path, crate.tables()));
  return path;
}

TEST(UsdcReader, HandBuiltPrims) {
  auto mesh = read_usdc(write_test_crate("plain.usdc", {{1}}));
  ASSERT_TRUE(mesh.ok()) << mesh.error().text();
  EXPECT_EQ(mesh->indices, (std::vector<Triangle>{{0, 1, 2}}));

  TestPrim left{1};
  left.orientation = "leftHanded";
  mesh = read_usdc(write_test_crate("left.usdc", {left}));
  ASSERT_TRUE(mesh.ok()) << mesh.error().text();
  EXPECT_EQ(mesh->indices, (std::vector<Triangle>{{0, 2, 1}}));
  left.orientation = "rightHanded";
  EXPECT_EQ(read_usdc(write_test_crate("right.usdc", {left}))->indices, (std::vector<Triangle>{{0, 1, 2}}));

  // The Mesh prim with the lower path index wins, whatever the order of the SPECS table.
  TestPrim high{5}, low{2};
  low.points = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
  low.indices = {1, 3, 2};
  mesh = read_usdc(write_test_crate("two.usdc", {high, low}));
  ASSERT_TRUE(mesh.ok()) << mesh.error().text();
  EXPECT_EQ(mesh->positions.size(), 4u);
  EXPECT_EQ(mesh->indices, (std::vector<Triangle>{{1, 3, 2}}));
  // A lower-numbered prim of another type is not a mesh.
  TestPrim xform{1};
  xform.type_name = "Xform";
  xform.indices = {5, 5, 5};
  EXPECT_EQ(read_usdc(write_test_crate("xform_first.usdc", {xform, high}))->indices,
            (std::vector<Triangle>{{0, 1, 2}}));
}

// A strip of triangles over faces + 2 points. Six faces give enough indices
// for the integer coding; sixteen or more code the face counts too.
TestPrim coded_strip(int32_t faces = 6) {
  TestPrim prim{1};
  prim.points.clear();
  for (int32_t i = 0; i < faces + 2; ++i) prim.points.insert(prim.points.end(), {float(i), float(i % 2), 0});
  prim.counts.assign(faces, 3);
  prim.indices.clear();
  for (int32_t i = 0; i < faces; ++i) prim.indices.insert(prim.indices.end(), {i, i + 1, i + 2});
  return prim;
}

TEST(UsdcReader, CodedFaceArrays) {
  for (const int32_t faces : {6, 20, 3000}) {
    SCOPED_TRACE(faces);
    std::vector<Triangle> strip;
    for (uint32_t i = 0; i < uint32_t(faces); ++i) strip.push_back({i, i + 1, i + 2});
    TestPrim prim = coded_strip(faces);
    EXPECT_EQ(read_usdc(write_test_crate("coded.usdc", {prim}))->indices, strip);

    prim.orientation = "leftHanded";
    std::vector<Triangle> flipped = strip;
    for (Triangle& t : flipped) std::swap(t[1], t[2]);
    EXPECT_EQ(read_usdc(write_test_crate("coded_left.usdc", {prim}))->indices, flipped);

    prim = coded_strip(faces);
    prim.indices.push_back(7);  // left over after the last face
    EXPECT_EQ(read_usdc(write_test_crate("coded_leftover.usdc", {prim}))->indices, strip);

    // Faults anywhere in the arrays, also after many good faces, are named.
    for (const size_t at : {size_t{4}, 3 * size_t(faces) - 1}) {
      prim = coded_strip(faces);
      prim.indices[at] = -1;
      EXPECT_EQ(read_failure(write_test_crate("coded_negative.usdc", {prim})), "vertex index out of range");
      prim.indices[at] = faces + 2;
      EXPECT_EQ(read_failure(write_test_crate("coded_range.usdc", {prim})), "faceVertexIndices out of range");
      prim = coded_strip(faces);
      prim.counts[at / 3] = 2;
      EXPECT_EQ(read_failure(write_test_crate("coded_counts.usdc", {prim})), "bad faceVertexCounts entry");
    }
  }

  TestPrim prim = coded_strip();
  prim.counts = {4, 4, 4, 3, 3};
  EXPECT_EQ(read_usdc(write_test_crate("coded_quads.usdc", {prim}))->indices,
            (std::vector<Triangle>{{0, 1, 2}, {0, 2, 1}, {2, 3, 2}, {2, 2, 3}, {4, 3, 4}, {4, 4, 5},
                                   {4, 5, 6}, {5, 6, 7}}));
}

TEST(UsdcReader, HandBuiltFailures) {
  TestPrim compressed{1};
  compressed.compressed_points = true;
  EXPECT_EQ(read_failure(write_test_crate("compressed.usdc", {compressed})), "compressed vec arrays not supported");

  TestPrim out_of_range{1};
  out_of_range.indices = {0, 1, 3};
  EXPECT_EQ(read_failure(write_test_crate("range.usdc", {out_of_range})), "faceVertexIndices out of range");

  TestPrim bad_counts{1};
  bad_counts.counts = {3, 2};
  EXPECT_EQ(read_failure(write_test_crate("counts.usdc", {bad_counts})), "bad faceVertexCounts entry");

  TestPrim xform{1};
  xform.type_name = "Xform";
  EXPECT_EQ(read_failure(write_test_crate("nomesh.usdc", {xform})), "no Mesh prim found");
}

TEST(UsdcReader, MalformedPathTrees) {
  struct Case {
    std::vector<int32_t> elements, jumps;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{1, 1}, {-1, 0}, "malformed path tree"},        // the walk runs off the end
      {{1, 1}, {-1, 5}, "malformed path tree"},        // a sibling past the end
      {{1, 1, 1}, {1, 1, -2}, "malformed path tree"},  // a sibling jump that revisits entries
      {{1, 99}, {-1, -2}, "path entry out of range"},
      {{1, -2}, {-1, -2}, "no Mesh prim found"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    CrateWriter crate;
    crate.intern_token(";-)");
    crate.intern_token("");
    crate.intern_token("x");
    for (size_t e = 0; e < cases[i].elements.size(); ++e) {
      crate.add_path(static_cast<int32_t>(e), cases[i].elements[e], cases[i].jumps[e]);
    }
    const std::string path = temp_path("paths" + std::to_string(i) + ".usdc");
    ASSERT_FALSE(save_crate(path, crate.tables()));
    EXPECT_EQ(read_failure(path), cases[i].text) << i;
  }
}

TEST(UsdcReader, FilesWrittenByPxr) {
  const fs::path dir = fs::path(VORREL_SOURCE_DIR) / "tests" / "data" / "usd";
  struct Fixture {
    const char* name;
    size_t points;
    std::vector<Triangle> triangles;
  };
  std::vector<Triangle> strip_triangles;
  for (uint32_t i = 0; i < 8; ++i) {
    strip_triangles.push_back(i % 2 == 0 ? Triangle{i, i + 1, i + 2} : Triangle{i, i + 2, i + 1});
  }
  const std::vector<Fixture> fixtures = {
      {"quads_and_triangle.usdc", 7, {{0, 1, 4}, {0, 4, 3}, {1, 2, 5}, {1, 5, 4}, {3, 4, 6}}},
      {"left_handed.usdc", 3, {{0, 2, 1}}},
      {"strip.usdc", 10, strip_triangles},
  };
  for (const Fixture& fixture : fixtures) {
    const auto mesh = read_usdc((dir / fixture.name).string());
    ASSERT_TRUE(mesh.ok()) << fixture.name << ": " << mesh.error().text();
    EXPECT_EQ(mesh->positions.size(), fixture.points) << fixture.name;
    EXPECT_EQ(mesh->indices, fixture.triangles) << fixture.name;
  }
}

TEST(UsdcReader, SharedSamples) {
  const fs::path dir = fs::path(VORREL_SOURCE_DIR).parent_path() / "shared" / "data" / "usd";
  struct Sample {
    const char* name;
    size_t points, triangles;
    Triangle first;
  };
  // The rook is left-handed, so its first face (12, 8574, 2862) turns over.
  const Sample samples[] = {{"Rook_geom.usd", 15270, 30528, {12, 2862, 8574}},
                            {"SoC-ElephantWithMonochord.usdc", 1312, 2064, {1, 0, 2}}};
  for (const Sample& sample : samples) {
    const fs::path path = dir / sample.name;
    if (!fs::exists(path)) GTEST_SKIP() << path << " absent";
    const auto mesh = read_usdc(path.string());
    ASSERT_TRUE(mesh.ok()) << mesh.error().text();
    EXPECT_EQ(mesh->positions.size(), sample.points) << sample.name;
    EXPECT_EQ(mesh->indices.size(), sample.triangles) << sample.name;
    EXPECT_EQ(mesh->indices[0], sample.first) << sample.name;
  }
}

// Inputs the fuzzer found, with the outcome each must keep.
TEST(UsdcReader, FuzzFindings) {
  const fs::path dir = fs::path(VORREL_SOURCE_DIR) / "tests" / "data" / "usd" / "fuzz";
  // Its faceVertexCounts is an empty raw int array: nothing to copy, no triangles.
  const auto mesh = read_usdc((dir / "empty_raw_int_array.usdc").string());
  ASSERT_TRUE(mesh.ok()) << mesh.error().text();
  EXPECT_EQ(mesh->positions.size(), 3u);
  EXPECT_TRUE(mesh->indices.empty());
  // An empty token text whose block starts without literals: nothing may be
  // copied into the empty output before the bad match is named.
  EXPECT_EQ(read_failure((dir / "tokens_without_text.usdc").string()), "lz4: 0 is not a valid match offset");
}

TEST(UsdcReader, MissingFileIsIo) {
  const auto mesh = read_usdc(temp_path("absent.usdc"));
  ASSERT_FALSE(mesh.ok());
  EXPECT_EQ(mesh.error().kind, MeshIoErrorKind::Io);
}

}  // namespace
}  // namespace vorrel::io
