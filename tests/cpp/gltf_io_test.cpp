#include "io/gltf_io.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_files.h"

namespace vorrel::io {
namespace {

using test::read_file;
using test::TempDir;

// Little-endian bytes of the given values, for hand-made buffers.
template <class T>
std::string bytes_of(std::initializer_list<T> values) {
  std::string out;
  for (T v : values) out.append(reinterpret_cast<const char*>(&v), sizeof v);
  return out;
}

// The three corners of a unit right triangle at height z, as float32.
std::string triangle_positions(float z) { return bytes_of<float>({0, 0, z, 1, 0, z, 0, 1, z}); }

// A .gltf document whose single buffer is the file "data.bin" holding `bin`.
std::string write_asset(const TempDir& dir, const std::string& bin, const std::string& body) {
  dir.write("data.bin", bin);
  return dir.write("asset.gltf", R"({"asset":{"version":"2.0"},"buffers":[{"uri":"data.bin","byteLength":)" +
                                     std::to_string(bin.size()) + "}]," + body + "}");
}

std::string load_error(const std::string& path) {
  auto result = read_gltf(path);
  return result.ok() ? "loaded" : result.error().text();
}

MeshWithAttributes load(const std::string& path) {
  auto result = read_gltf(path);
  EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().text());
  return result.ok() ? std::move(result).value() : MeshWithAttributes{};
}

const char* kOnePositionAccessor =
    R"("bufferViews":[{"buffer":0,"byteLength":36}],)"
    R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"}],)";

TEST(GltfRead, PrimitiveWithoutIndices) {
  TempDir dir;
  auto mesh = load(write_asset(dir, triangle_positions(2),
                               std::string(kOnePositionAccessor) + R"("meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}])"));
  EXPECT_EQ(mesh.positions, (std::vector<Vec3>{{0, 0, 2}, {1, 0, 2}, {0, 1, 2}}));
  EXPECT_EQ(mesh.indices, (std::vector<Triangle>{{0, 1, 2}}));
  EXPECT_FALSE(mesh.uvs);
  EXPECT_FALSE(mesh.normals);
}

TEST(GltfRead, MeshesMergeInOrderWithoutNodeTransforms) {
  TempDir dir;
  const std::string bin = triangle_positions(0) + triangle_positions(1) + bytes_of<uint16_t>({2, 1, 0, 0});
  auto mesh = load(write_asset(dir, bin, R"(
    "bufferViews":[{"buffer":0,"byteLength":72},{"buffer":0,"byteOffset":72,"byteLength":6}],
    "accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"},
                 {"bufferView":0,"byteOffset":36,"componentType":5126,"count":3,"type":"VEC3"},
                 {"bufferView":1,"componentType":5123,"count":3,"type":"SCALAR"}],
    "meshes":[{"primitives":[{"attributes":{"POSITION":0},"indices":2}]},
              {"primitives":[{"attributes":{"POSITION":1},"indices":2}]}],
    "nodes":[{"mesh":1,"translation":[10,20,30]},{"mesh":0,"scale":[3,3,3]}],
    "scenes":[{"nodes":[0,1]}],"scene":0)"));
  EXPECT_EQ(mesh.positions.size(), 6u);
  EXPECT_EQ(mesh.positions[0], (Vec3{0, 0, 0}));
  EXPECT_EQ(mesh.positions[4], (Vec3{1, 0, 1}));
  EXPECT_EQ(mesh.indices, (std::vector<Triangle>{{2, 1, 0}, {5, 4, 3}}));
}

TEST(GltfRead, OnlyTrianglesCount) {
  TempDir dir;
  const std::string strip = write_asset(
      dir, triangle_positions(0), std::string(kOnePositionAccessor) + R"("meshes":[{"primitives":[{"attributes":{"POSITION":0},"mode":5}]}])");
  EXPECT_EQ(load_error(strip), "OBJ parse error: no triangle meshes found in glTF");
  const std::string no_positions = write_asset(
      dir, triangle_positions(0), std::string(kOnePositionAccessor) + R"("meshes":[{"primitives":[{"attributes":{"NORMAL":0}}]}])");
  EXPECT_EQ(load_error(no_positions), "OBJ parse error: no triangle meshes found in glTF");
}

TEST(GltfRead, TrailingIndicesAreDropped) {
  TempDir dir;
  const std::string bin = triangle_positions(0) + bytes_of<uint8_t>({0, 1, 2, 2, 1, 0, 1, 0});
  auto mesh = load(write_asset(dir, bin, R"(
    "bufferViews":[{"buffer":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":7}],
    "accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"},
                 {"bufferView":1,"componentType":5121,"count":7,"type":"SCALAR"}],
    "meshes":[{"primitives":[{"attributes":{"POSITION":0},"indices":1}]}])"));
  EXPECT_EQ(mesh.indices, (std::vector<Triangle>{{0, 1, 2}, {2, 1, 0}}));
}

TEST(GltfRead, TexcoordsOnlyInSecondPrimitive) {
  TempDir dir;
  // Second primitive: normalized unsigned short coordinates and float normals.
  const std::string bin = triangle_positions(0) + bytes_of<uint16_t>({0, 65535, 65535, 0, 0, 0}) +
                          bytes_of<float>({0, 0, 1, 0, 0, 1});
  auto mesh = load(write_asset(dir, bin, R"(
    "bufferViews":[{"buffer":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":12},
                   {"buffer":0,"byteOffset":48,"byteLength":24}],
    "accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"},
                 {"bufferView":1,"componentType":5123,"normalized":true,"count":3,"type":"VEC2"},
                 {"bufferView":2,"componentType":5126,"count":2,"type":"VEC3"}],
    "meshes":[{"primitives":[{"attributes":{"POSITION":0}},
                             {"attributes":{"POSITION":0,"TEXCOORD_0":1,"NORMAL":2}}]}])"));
  ASSERT_EQ(mesh.indices.size(), 2u);
  ASSERT_TRUE(mesh.uvs);
  EXPECT_EQ(*mesh.uvs, (std::vector<Uv>{{0, 0}, {0, 0}, {0, 0}, {0, 1}, {1, 0}, {0, 0}}));
  // Normal 2 is past the two normals the accessor holds.
  ASSERT_TRUE(mesh.normals);
  EXPECT_EQ(*mesh.normals, (std::vector<Vec3>{{}, {}, {}, {0, 0, 1}, {0, 0, 1}, {0, 0, 0}}));
}

TEST(GltfRead, ImagesMustDecode) {
  TempDir dir;
  const std::string body = std::string(kOnePositionAccessor) +
                           R"("meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],"images":[{"uri":"texture.png"}])";
  const std::string path = write_asset(dir, triangle_positions(0), body);
  EXPECT_EQ(load_error(path), "OBJ parse error: glTF: image 0 could not be loaded: texture.png");
  dir.write("texture.png", "not a png at all");
  EXPECT_NE(load_error(path).find("OBJ parse error: glTF: "), std::string::npos);
  EXPECT_NE(load_error(path), "loaded");
}

TEST(GltfRead, HostileRangesFailCleanly) {
  TempDir dir;
  const std::string mesh = R"("meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}])";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"("bufferViews":[{"buffer":0,"byteLength":36}],"accessors":[{"bufferView":0,"componentType":5126,"count":4611686018427387904,"type":"VEC3"}],)",
       "accessor 0 exceeds its buffer view"},
      {R"("bufferViews":[{"buffer":0,"byteOffset":8,"byteLength":36}],"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"}],)",
       "accessor 0 has a buffer view that exceeds its buffer"},
      {R"("bufferViews":[{"buffer":0,"byteLength":36,"byteStride":4}],"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"}],)",
       "accessor 0 has a stride smaller than its elements"},
      {R"("bufferViews":[{"buffer":0,"byteLength":36}],"accessors":[{"bufferView":0,"byteOffset":4,"componentType":5126,"count":3,"type":"VEC3"}],)",
       "accessor 0 exceeds its buffer view"},
  };
  for (const auto& [views, text] : cases) {
    const std::string error = load_error(write_asset(dir, triangle_positions(0), views + mesh));
    EXPECT_NE(error.find(text), std::string::npos) << error;
  }
  // A GLB whose binary chunk data runs 8 bytes past the container (its length
  // leaves out the chunk header): rejected before the importer reads it.
  std::string glb = bytes_of<uint32_t>({0x46546C67, 2, 36, 4, 0x4E4F534A}) + "{}  " + bytes_of<uint32_t>({12, 0x004E4942}) + "abcd";
  EXPECT_EQ(load_error(dir.write("lying.glb", glb)), "OBJ parse error: glTF: BIN chunk exceeds the GLB container");
  EXPECT_NE(load_error(dir.write("garbage.glb", "glTF\x02\0\0\0garbage")).find("OBJ parse error: glTF: "), std::string::npos);
  // Container headers: only version 2 with a leading JSON chunk is glTF 2.0.
  const std::string valid = glb;
  EXPECT_EQ(load_error(dir.write("v1.glb", valid.substr(0, 4) + bytes_of<uint32_t>({1}) + valid.substr(8))),
            "OBJ parse error: glTF: unsupported version");
  EXPECT_EQ(load_error(dir.write("chunk.glb", valid.substr(0, 16) + "JSOX" + valid.substr(20))),
            "OBJ parse error: glTF: unknown chunk type");
  EXPECT_EQ(load_error(dir.file("missing.gltf")), "OBJ parse error: glTF: No such file or directory (os error 2)");
}

MeshWithAttributes one_triangle() {
  MeshWithAttributes mesh;
  mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, -2.5}};
  mesh.indices = {{0, 1, 2}};
  return mesh;
}

uint32_t u32_at(const std::string& bytes, size_t offset) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data() + offset, 4);
  return value;
}

std::string expected_json(const std::string& buffer, const std::string& views, const std::string& counts_and_bounds,
                          const std::string& index_count) {
  return R"({"asset":{"version":"2.0","generator":"vorrel"},"buffers":[{"byteLength":)" + buffer +
         R"(}],"bufferViews":[)" + views + R"(],"accessors":[{"bufferView":0,"componentType":5126,"count":)" +
         counts_and_bounds + R"(},{"bufferView":1,"componentType":5125,"count":)" + index_count +
         R"(,"type":"SCALAR"}],"materials":[{"doubleSided":true,"pbrMetallicRoughness":{"baseColorFactor":[0.8,0.8,0.8,1.0]}}],"meshes":[{"primitives":[{"attributes":{"POSITION":0},"indices":1,"material":0}]}],"nodes":[{"mesh":0}],"scenes":[{"nodes":[0]}],"scene":0})";
}

TEST(GlbWrite, OneTriangleLayout) {
  TempDir dir;
  ASSERT_FALSE(write_glb(dir.file("out.glb"), one_triangle()));
  const std::string file = read_file(dir.file("out.glb"));
  const std::string json = expected_json(
      "48", R"({"buffer":0,"byteOffset":0,"byteLength":36,"target":34962},{"buffer":0,"byteOffset":36,"byteLength":12,"target":34963})",
      R"(3,"type":"VEC3","max":[1,1,0],"min":[0,0,-2.5])", "3");
  const uint32_t j = static_cast<uint32_t>((json.size() + 3) / 4 * 4);
  ASSERT_EQ(file.size(), 28u + j + 48);
  EXPECT_EQ(file.substr(0, 4), "glTF");
  EXPECT_EQ(u32_at(file, 4), 2u);
  EXPECT_EQ(u32_at(file, 8), file.size());
  EXPECT_EQ(u32_at(file, 12), j);
  EXPECT_EQ(file.substr(16, 4), "JSON");
  EXPECT_EQ(file.substr(20, j), json + std::string(j - json.size(), ' '));
  EXPECT_EQ(u32_at(file, 20 + j), 48u);
  EXPECT_EQ(file.substr(24 + j, 4), std::string("BIN\0", 4));
  EXPECT_EQ(file.substr(28 + j), triangle_positions(0).substr(0, 24) + bytes_of<float>({0, 1, -2.5f}) +
                                     bytes_of<uint32_t>({0, 1, 2}));
}

TEST(GlbWrite, EmptyMeshKeepsStartingBounds) {
  TempDir dir;
  ASSERT_FALSE(write_glb(dir.file("empty.glb"), MeshWithAttributes{}));
  const std::string file = read_file(dir.file("empty.glb"));
  const std::string big = "340282350000000000000000000000000000000";
  const std::string json = expected_json(
      "0", R"({"buffer":0,"byteOffset":0,"byteLength":0,"target":34962},{"buffer":0,"byteOffset":0,"byteLength":0,"target":34963})",
      R"(0,"type":"VEC3","max":[-)" + big + ",-" + big + ",-" + big + R"(],"min":[)" + big + "," + big + "," + big + "]",
      "0");
  const uint32_t j = static_cast<uint32_t>((json.size() + 3) / 4 * 4);
  ASSERT_EQ(file.size(), 28u + j);
  EXPECT_EQ(file.substr(20, json.size()), json);
  EXPECT_EQ(u32_at(file, 20 + j), 0u);
  EXPECT_EQ(file.substr(24 + j, 4), std::string("BIN\0", 4));
}

TEST(GlbWrite, GltfPathGetsTheSameContainer) {
  TempDir dir;
  MeshWithAttributes mesh = one_triangle();
  mesh.positions.push_back({0.1, std::nan(""), 7});
  mesh.indices.push_back({1, 3, 2});
  mesh.uvs = std::vector<Uv>(6);  // ignored by the writer
  ASSERT_FALSE(write_glb(dir.file("a.glb"), mesh));
  ASSERT_FALSE(write_glb(dir.file("a.gltf"), mesh));
  EXPECT_EQ(read_file(dir.file("a.glb")), read_file(dir.file("a.gltf")));
  auto back = load(dir.file("a.gltf"));
  EXPECT_EQ(back.indices, mesh.indices);
  ASSERT_EQ(back.positions.size(), 4u);
  EXPECT_EQ(back.positions[3].x, static_cast<double>(0.1f));
  EXPECT_TRUE(std::isnan(back.positions[3].y));
  EXPECT_FALSE(back.uvs);
}

TEST(GlbWrite, UncreatableFileIsIoError) {
  TempDir dir;
  auto status = write_glb(dir.file("missing/out.glb"), one_triangle());
  ASSERT_TRUE(status);
  EXPECT_EQ(status->kind, MeshIoErrorKind::Io);
}

TEST(GltfRead, Samples) {
  const std::string data = test::sample_data_dir();
  if (data.empty()) GTEST_SKIP() << "sample data not present";
  for (const char* box : {"/gltf/BoxTextured-glTF-Binary/BoxTextured.glb", "/gltf/BoxTextured-glTF/BoxTextured.gltf",
                          "/gltf/BoxTextured-glTF-Embedded/BoxTextured.gltf"}) {
    auto mesh = load(data + box);
    EXPECT_EQ(mesh.positions.size(), 24u) << box;
    EXPECT_EQ(mesh.indices.size(), 12u) << box;
    ASSERT_TRUE(mesh.uvs && mesh.normals) << box;
    EXPECT_EQ(mesh.uvs->size(), 36u);
    EXPECT_EQ(mesh.normals->size(), 36u);
  }
  auto engine = load(data + "/gltf/2CylinderEngine-glTF-Binary/2CylinderEngine.glb");
  EXPECT_EQ(engine.positions.size(), 55843u);
  EXPECT_EQ(engine.indices.size(), 75730u);
  EXPECT_TRUE(engine.normals && !engine.uvs);
  auto morph = load(data + "/gltf/MorphPrimitivesTest/MorphPrimitivesTest.gltf");
  EXPECT_EQ(morph.positions.size(), 30u);
  EXPECT_EQ(morph.indices.size(), 32u);
  EXPECT_TRUE(morph.uvs && morph.normals);
  for (const char* name : {"11", "12", "01"}) {
    EXPECT_EQ(load_error(data + "/gltf/Mesh_PrimitiveMode/Mesh_PrimitiveMode_" + name + ".gltf"),
              "OBJ parse error: no triangle meshes found in glTF");
  }
}

}  // namespace
}  // namespace vorrel::io
