#include "io/obj.h"

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <cmath>
#include <vector>

#include "test_files.h"

namespace vorrel::io {
namespace {

using test::read_file;
using test::TempDir;

MeshWithAttributes load(const TempDir& dir, const std::string& content) {
  auto result = read_obj(dir.write("in.obj", content));
  EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().text());
  return result.ok() ? std::move(result).value() : MeshWithAttributes{};
}

std::string load_error(const TempDir& dir, const std::string& content) {
  auto result = read_obj(dir.write("in.obj", content));
  return result.ok() ? "loaded" : result.error().text();
}

const char* kTriangleVertices = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";

TEST(ObjRead, QuadBecomesFan) {
  TempDir dir;
  auto mesh = load(dir, "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n");
  EXPECT_EQ(mesh.indices, (std::vector<Triangle>{{0, 1, 2}, {0, 2, 3}}));
  ASSERT_EQ(mesh.positions.size(), 4u);
  EXPECT_EQ(mesh.positions[2], (Vec3{1, 1, 0}));
  EXPECT_FALSE(mesh.uvs);
  EXPECT_FALSE(mesh.normals);
}

TEST(ObjRead, ModelsKeepTheirOwnPositions) {
  TempDir dir;
  // The second object uses relative indices into the file's vertex list.
  auto two = load(dir, std::string("o a\n") + kTriangleVertices + "f 1 2 3\no b\n" + kTriangleVertices + "f -3 -2 -1\n");
  EXPECT_EQ(two.positions.size(), 6u);
  EXPECT_EQ(two.indices, (std::vector<Triangle>{{0, 1, 2}, {3, 4, 5}}));

  // A vertex shared by two groups is copied into each; unreferenced vertices
  // are dropped; positions follow first reference.
  auto shared = load(dir, "v 9 9 9\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\ng a\nf 3 2 4\ng b\nf 2 4 5\n");
  EXPECT_EQ(shared.positions, (std::vector<Vec3>{{1, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0, 1, 0}, {1, 1, 0}}));
  EXPECT_EQ(shared.indices, (std::vector<Triangle>{{0, 1, 2}, {3, 4, 5}}));

  // Material switches do not split, nor do group statements before any element.
  auto one = load(dir, "o a\ng b\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nusemtl x\nf 1 2 3\nusemtl y\nf 2 4 3\n");
  EXPECT_EQ(one.positions.size(), 4u);
  EXPECT_EQ(one.indices, (std::vector<Triangle>{{0, 1, 2}, {1, 3, 2}}));
}

TEST(ObjRead, TexcoordsOnlyInSecondObject) {
  TempDir dir;
  auto mesh = load(dir, std::string("o a\n") + kTriangleVertices + "f 1 2 3\no b\n" + kTriangleVertices +
                            "vt 0.25 0.5\nvt 0.75 1\nf 4/1 5/2 6/-1\n");
  ASSERT_TRUE(mesh.uvs);
  EXPECT_EQ(*mesh.uvs, (std::vector<Uv>{{0, 0}, {0, 0}, {0, 0}, {0.25f, 0.5f}, {0.75f, 1}, {0.75f, 1}}));
  EXPECT_FALSE(mesh.normals);
}

TEST(ObjRead, NormalsNeedAllThreeCorners) {
  TempDir dir;
  auto mesh = load(dir, std::string(kTriangleVertices) + "v 1 1 0\nvn 0 0 1\nvn 0 0 -1\nf 1//2 2//1 3//1\nf 2//1 4 3//1\n");
  ASSERT_TRUE(mesh.normals);
  EXPECT_EQ(*mesh.normals, (std::vector<Vec3>{{0, 0, -1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}}));
}

TEST(ObjRead, PointsAndLinesBecomeDegenerateTriangles) {
  TempDir dir;
  auto mesh = load(dir, std::string(kTriangleVertices) + "p 1 3\nl 1 2 3\n");
  EXPECT_EQ(mesh.indices, (std::vector<Triangle>{{0, 0, 0}, {1, 1, 1}, {0, 2, 2}, {2, 1, 1}}));
}

TEST(ObjRead, NegativeIndicesCountFromLastElementRead) {
  TempDir dir;
  auto mesh = load(dir,
                   "v 0 0 0\nv 1 0 0\nvt 0 0\nvt 1 0\nvn 1 0 0\n"
                   "v 0 1 0\nvt 0 1\nvn 0 1 0\nf -3/-3/-2 -2/-2/-2 -1/-1/-1\n");
  EXPECT_EQ(mesh.indices, (std::vector<Triangle>{{0, 1, 2}}));
  EXPECT_EQ(*mesh.uvs, (std::vector<Uv>{{0, 0}, {1, 0}, {0, 1}}));
  EXPECT_EQ(*mesh.normals, (std::vector<Vec3>{{1, 0, 0}, {1, 0, 0}, {0, 1, 0}}));
}

TEST(ObjRead, ToleratesCommentsBlanksAndCrLf) {
  TempDir dir;
  auto mesh = load(dir,
                   "# header\r\n\r\nmtllib a.mtl\r\nv 0 0 0 1\r\n  v\t1 0 0 # note\r\nv +0 1e0 -0\r\n"
                   "s off\r\nvp 1\r\nf 1/ 2// 3 # tail\r\n");
  EXPECT_EQ(mesh.indices, (std::vector<Triangle>{{0, 1, 2}}));
  EXPECT_EQ(mesh.positions[2], (Vec3{0, 1, 0}));
  EXPECT_TRUE(std::signbit(mesh.positions[2].z));
}

TEST(ObjRead, OutOfRangeNumbersSaturate) {
  TempDir dir;
  auto mesh = load(dir, "v 1e39 -1e39 1e-50\nv 0 0 0\nv -0.0000000000000000000000000000000000000000000000001 0 0\nf 1 2 3\n");
  EXPECT_EQ(mesh.positions[0].x, INFINITY);
  EXPECT_EQ(mesh.positions[0].y, -INFINITY);
  EXPECT_EQ(mesh.positions[0].z, 0.0);
  EXPECT_EQ(mesh.positions[2].x, 0.0);
  EXPECT_TRUE(std::signbit(mesh.positions[2].x));
}

TEST(ObjRead, FailuresCarryLoaderTexts) {
  TempDir dir;
  const std::string v = kTriangleVertices;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"v 1 2\nf 1 1 1\n", "position parse error"},
      {"v 1 2 x\n", "position parse error"},
      {v + "vt 0.5\n", "texcoord parse error"},
      {v + "vn 0 0\n", "normal parse error"},
      {v + "f 1 two 3\n", "face parse error"},
      {v + "f 0 1 2\n", "face parse error"},
      {v + "f 1/1/1/1 2 3\n", "face parse error"},
      {v + "f 99999999999999999999 1 2\n", "face parse error"},
      {v + "l 1\n", "face parse error"},
      {v + "p\n", "face parse error"},
      {v + "f 1 2\n", "invalid polygon"},
      {v + "f 1 2 4\n", "face vertex index out of bounds"},
      {v + "f 1 2 -4\n", "face vertex index out of bounds"},
      {v + "vt 0 0\nf 1/1 2/2 3/1\n", "face texcoord index out of bounds"},
      {v + "vn 0 0 1\nf 1//1 2//1 3//-2\n", "face normal index out of bounds"},
      {"", "no meshes found in OBJ file"},
      {v + "o only-vertices\n", "no meshes found in OBJ file"},
  };
  for (const auto& [content, text] : cases) {
    EXPECT_EQ(load_error(dir, content), "OBJ parse error: " + text) << content;
  }
  EXPECT_EQ(read_obj(dir.file("missing.obj")).error().text(), "OBJ parse error: open file failed");
  EXPECT_EQ(read_obj(dir.file("")).error().text(), "OBJ parse error: read error");
}

TEST(ObjRead, CountLimits) {
  EXPECT_FALSE(check_obj_counts(200000000, 400000000));
  auto vertices = check_obj_counts(200000001, 400000001);
  ASSERT_TRUE(vertices);
  EXPECT_EQ(vertices->kind, MeshIoErrorKind::TooLarge);
  EXPECT_EQ(vertices->text(), "mesh too large: vertex count 200000001 exceeds limit 200000000");
  auto triangles = check_obj_counts(3, 400000001);
  ASSERT_TRUE(triangles);
  EXPECT_EQ(triangles->text(), "mesh too large: triangle count 400000001 exceeds limit 400000000");
}

// Several parse blocks, relative indices and models that span block
// boundaries: the result must equal the absolute-index version and must not
// depend on the thread count.
TEST(ObjRead, BlocksMergeInFileOrder) {
  TempDir dir;
  std::string relative, absolute;
  const int quads = 60000;  // about 3 MB of text
  for (int i = 0; i < quads; ++i) {
    if (i % 7000 == 0) {
      relative += "g part\n";
      absolute += "g part\n";
    }
    std::string vertices;
    for (int k = 0; k < 4; ++k) vertices += "v " + std::to_string(i) + ".5 " + std::to_string(k) + " 0.125\n";
    vertices += "vt 0.5 0.25\n";
    relative += vertices + "f -4/-1 -3/-1 -2/-1 -1/-1\n";
    const int b = 4 * i + 1;
    absolute += vertices + "f " + std::to_string(b) + "/" + std::to_string(i + 1) + " " + std::to_string(b + 1) + "/" +
                std::to_string(i + 1) + " " + std::to_string(b + 2) + "/" + std::to_string(i + 1) + " " +
                std::to_string(b + 3) + "/" + std::to_string(i + 1) + "\n";
  }
  const std::string relative_path = dir.write("relative.obj", relative);
  auto parallel = read_obj(relative_path);
  ASSERT_TRUE(parallel.ok());
  auto reference = read_obj(dir.write("absolute.obj", absolute));
  ASSERT_TRUE(reference.ok());
  IoResult<MeshWithAttributes> serial = MeshIoError::io("not run");
  {
    tbb::global_control one_thread(tbb::global_control::max_allowed_parallelism, 1);
    serial = read_obj(relative_path);
  }
  ASSERT_TRUE(serial.ok());
  EXPECT_EQ(parallel->positions.size(), 4u * quads);
  EXPECT_EQ(parallel->indices.size(), 2u * quads);
  EXPECT_EQ(parallel->indices[2 * 12345 + 1], (Triangle{4 * 12345, 4 * 12345 + 2, 4 * 12345 + 3}));
  for (const auto* other : {&*reference, &*serial}) {
    EXPECT_EQ(parallel->positions, other->positions);
    EXPECT_EQ(parallel->indices, other->indices);
    EXPECT_EQ(parallel->uvs, other->uvs);
  }
}

TEST(ObjRead, SampleScans) {
  const std::string data = test::sample_data_dir();
  if (data.empty()) GTEST_SKIP() << "sample data not present";
  auto bunny = read_obj(data + "/obj/stanford-bunny.obj");
  ASSERT_TRUE(bunny.ok());
  EXPECT_EQ(bunny->positions.size(), 34834u);  // unreferenced vertices dropped
  EXPECT_EQ(bunny->indices.size(), 69451u);
  auto spot = read_obj(data + "/obj/spot.obj");
  ASSERT_TRUE(spot.ok());
  EXPECT_EQ(spot->indices.size(), 5856u);
  ASSERT_TRUE(spot->uvs);
  EXPECT_EQ(spot->uvs->size(), 3u * 5856);
}

MeshWithAttributes one_quad() {
  MeshWithAttributes mesh;
  mesh.positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {-0.0, 1, 0.5}};
  mesh.indices = {{0, 1, 2}, {0, 2, 3}};
  return mesh;
}

TEST(ObjWrite, FixedLayouts) {
  TempDir dir;
  MeshWithAttributes mesh;
  mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  mesh.indices = {{0, 1, 2}};
  ASSERT_FALSE(write_obj(dir.file("plain.obj"), mesh));
  EXPECT_EQ(read_file(dir.file("plain.obj")),
            "# Generated by vorrel\n"
            "v 0.00000000 0.00000000 0.00000000\n"
            "v 1.00000000 0.00000000 0.00000000\n"
            "v 0.00000000 1.00000000 0.00000000\n"
            "f 1 2 3\n");

  mesh = one_quad();
  mesh.uvs = std::vector<Uv>{{0.1f, 0.5f}, {1, 0}, {0, 1}, {0, 0}, {0, 0}, {0, 0}};
  ASSERT_FALSE(write_obj(dir.file("uvs.obj"), mesh));
  const std::string header =
      "# Generated by vorrel\n"
      "v 0.00000000 0.00000000 0.00000000\n"
      "v 1.00000000 0.00000000 0.00000000\n"
      "v 1.00000000 1.00000000 0.00000000\n"
      "v -0.00000000 1.00000000 0.50000000\n";
  const std::string uv_lines = "vt 0.100000 0.500000\nvt 1.000000 0.000000\nvt 0.000000 1.000000\n"
                               "vt 0.000000 0.000000\nvt 0.000000 0.000000\nvt 0.000000 0.000000\n";
  EXPECT_EQ(read_file(dir.file("uvs.obj")), header + uv_lines + "f 1/1 2/2 3/3\nf 1/4 3/5 4/6\n");

  mesh.normals = std::vector<Vec3>(6, Vec3{0, -0.0, 1});
  ASSERT_FALSE(write_obj(dir.file("both.obj"), mesh));
  std::string normal_lines;
  for (int i = 0; i < 6; ++i) normal_lines += "vn 0.000000 -0.000000 1.000000\n";
  EXPECT_EQ(read_file(dir.file("both.obj")), header + uv_lines + normal_lines + "f 1/1/1 2/2/2 3/3/3\nf 1/4/4 3/5/5 4/6/6\n");

  mesh.uvs.reset();
  ASSERT_FALSE(write_obj(dir.file("normals.obj"), mesh));
  EXPECT_EQ(read_file(dir.file("normals.obj")), header + normal_lines + "f 1//1 2//2 3//3\nf 1//4 3//5 4//6\n");
}

TEST(ObjWrite, RoundTripsThroughReader) {
  TempDir dir;
  MeshWithAttributes mesh = one_quad();
  mesh.uvs = std::vector<Uv>{{0.25f, 0.5f}, {1, 0}, {0, 1}, {0.5f, 0.5f}, {0, 0}, {1, 1}};
  mesh.normals = std::vector<Vec3>{{0, 0, 1}, {0, 1, 0}, {1, 0, 0}, {0, 0, -1}, {0, -1, 0}, {-1, 0, 0}};
  ASSERT_FALSE(write_obj(dir.file("out.obj"), mesh));
  auto back = read_obj(dir.file("out.obj"));
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back->positions, mesh.positions);
  EXPECT_EQ(back->indices, mesh.indices);
  EXPECT_EQ(back->uvs, mesh.uvs);
  EXPECT_EQ(back->normals, mesh.normals);
}

TEST(ObjWrite, UncreatableFileIsIoError) {
  TempDir dir;
  auto status = write_obj(dir.file("no-such-dir/out.obj"), one_quad());
  ASSERT_TRUE(status);
  EXPECT_EQ(status->kind, MeshIoErrorKind::Io);
  EXPECT_EQ(status->text(), "I/O error: No such file or directory (os error 2)");
}

}  // namespace
}  // namespace vorrel::io
