#include "io/usd.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vorrel::io {
namespace {

namespace fs = std::filesystem;

std::string temp_path(const std::string& name) {
  return (fs::path(::testing::TempDir()) / (std::to_string(::getpid()) + "_" + name)).string();
}

std::string write_text(const std::string& name, const std::string& content) {
  const std::string path = temp_path(name);
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A layer with one Mesh block whose arrays are given as text.
std::string mesh_layer(const std::string& counts, const std::string& indices, const std::string& points) {
  return "#usda 1.0\ndef Xform \"root\" {\n  def Mesh \"m\"\n  {\n    int[] faceVertexCounts = [" + counts +
         "]\n    int[] faceVertexIndices = [" + indices + "]\n    point3f[] points = [" + points + "]\n  }\n}\n";
}

const std::string kFourPoints = "(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)";

TEST(UsdaRead, QuadIsFanned) {
  const auto mesh = read_usda(write_text("quad.usda", mesh_layer("4", "0, 1, 2, 3", kFourPoints)));
  ASSERT_TRUE(mesh.ok()) << mesh.error().text();
  EXPECT_EQ(mesh->positions.size(), 4u);
  EXPECT_EQ(mesh->positions[2], (Vec3{1, 1, 0}));
  EXPECT_EQ(mesh->indices, (std::vector<Triangle>{{0, 1, 2}, {0, 2, 3}}));
  EXPECT_FALSE(mesh->normals || mesh->uvs);
}

TEST(UsdaRead, FailureTexts) {
  struct Case {
    std::string content;
    std::string text;
  };
  const std::vector<Case> cases = {
      {mesh_layer("3, 2", "0, 1, 2, 0, 1", kFourPoints), "bad faceVertexCounts entry"},
      {mesh_layer("3, 3", "0, 1, 2, 0, 1", kFourPoints), "faceVertexIndices truncated"},
      {mesh_layer("3", "0, -1, 2", kFourPoints), "vertex index out of range"},
      {mesh_layer("3", "0, 1, 4294967296", kFourPoints), "vertex index out of range"},
      {mesh_layer("3, x", "0, 1, 2", kFourPoints), "faceVertexCounts missing"},
      {mesh_layer("3", "0, 1, 2.5", kFourPoints), "faceVertexIndices missing"},
      {mesh_layer("3", "0, 1, 99999999999999999999", kFourPoints), "faceVertexIndices missing"},
      {mesh_layer("3", "0, 1, 2", "(0, 0, 0), (1, 0, 0,), (0, 1, 0)"), "points missing"},
      {mesh_layer("3", "0, 1, 2", "(0, 0, 0), (1, 0, 0"), "points missing"},
      {mesh_layer("3", "0, 1, 2", "(0, 0, zero)"), "points missing"},
      {"#usda 1.0\ndef Xform \"x\" {}\n", "no `def Mesh` found"},
      {"#usda 1.0\ndef Mesh \"m\"\n", "malformed Mesh block"},
      // The first block is unbalanced; text further on never closes it.
      {"def Mesh \"a\" {\n  { int[] faceVertexCounts = [3]\n}\n", "unclosed Mesh block"},
      // Checks run in step order: counts before indices before points.
      {"def Mesh \"m\" { }", "faceVertexCounts missing"},
      {"def Mesh \"m\" { int[] faceVertexCounts = [3] }", "faceVertexIndices missing"},
      {"def Mesh \"m\" { int[] faceVertexCounts = [1]\n int[] faceVertexIndices = [0] }", "points missing"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto mesh = read_usda(write_text("fail" + std::to_string(i) + ".usda", cases[i].content));
    ASSERT_FALSE(mesh.ok()) << cases[i].content;
    EXPECT_EQ(mesh.error().kind, MeshIoErrorKind::UsdParse);
    EXPECT_EQ(mesh.error().detail, cases[i].text) << cases[i].content;
  }
}

TEST(UsdaRead, TolerantCases) {
  // An index past the points is not checked; empty count entries are skipped.
  auto mesh = read_usda(write_text("tolerant1.usda", mesh_layer("3, , 3", "0, 1, 99, 1, 2, 3", kFourPoints)));
  ASSERT_TRUE(mesh.ok()) << mesh.error().text();
  EXPECT_EQ(mesh->indices, (std::vector<Triangle>{{0, 1, 99}, {1, 2, 3}}));

  // Signs, exponents and the infinity and not-a-number words; text between
  // tuples is ignored; white space includes non-ASCII spaces.
  mesh = read_usda(write_text("tolerant2.usda", mesh_layer("+3", "0,\xC2\xA0" "1, 2", "(-1.5e1, .5, 1.), x (inf, -Infinity, NaN)")));
  ASSERT_TRUE(mesh.ok()) << mesh.error().text();
  ASSERT_EQ(mesh->positions.size(), 2u);
  EXPECT_EQ(mesh->positions[0], (Vec3{-15, 0.5, 1}));
  EXPECT_TRUE(std::isinf(mesh->positions[1].x) && mesh->positions[1].y < 0 && std::isnan(mesh->positions[1].z));
}

TEST(UsdaRead, WindowsLineEndsReadLikeUnix) {
  const std::string unix_text = mesh_layer("4", "0, 1,\n 2, 3", kFourPoints);
  std::string windows_text;
  for (const char c : unix_text) windows_text += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const auto a = read_usda(write_text("unix.usda", unix_text));
  const auto b = read_usda(write_text("windows.usda", windows_text));
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_EQ(a->indices, b->indices);
  EXPECT_EQ(a->positions, b->positions);
}

TEST(UsdaRead, FileFailuresAreIo) {
  auto mesh = read_usda(write_text("bad_utf8.usda", mesh_layer("3", "0, 1, 2", kFourPoints) + "# \xC3\x28\n"));
  ASSERT_FALSE(mesh.ok());
  EXPECT_EQ(mesh.error().text(), "I/O error: stream did not contain valid UTF-8");
  mesh = read_usda(temp_path("does_not_exist.usda"));
  ASSERT_FALSE(mesh.ok());
  EXPECT_EQ(mesh.error().kind, MeshIoErrorKind::Io);
  EXPECT_NE(mesh.error().text().find("(os error 2)"), std::string::npos);
}

TEST(UsdaScanner, FirstOccurrenceWins) {
  // "points" first occurs inside a longer name on an unrelated line.
  const std::string body = "float[] widthpoints = [7]\npoint3f[] points = [(1, 2, 3)]";
  EXPECT_EQ(find_array_text(body, "points"), "7");
  EXPECT_EQ(parse_point_array(body)->size(), 0u);
  EXPECT_FALSE(find_array_text("points = [1, 2", "points"));
  EXPECT_FALSE(find_array_text("points [1]", "points"));
  EXPECT_EQ(parse_int_array("a = [ 1 ,2,,-3 ]", "a"), (std::vector<int64_t>{1, 2, -3}));
  EXPECT_FALSE(parse_int_array("a = [1, +-2]", "a"));
  EXPECT_FALSE(parse_int_array("a = [1, -]", "a"));
}

TEST(UsdTriangulate, FansAndIgnoresLeftoverIndices) {
  const std::vector<int64_t> counts = {5, 3};
  const std::vector<int64_t> indices = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const auto triangles = triangulate_faces(counts, indices);
  ASSERT_TRUE(triangles.ok());
  EXPECT_EQ(triangles.value(), (std::vector<Triangle>{{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {5, 6, 7}}));
  const std::vector<int64_t> too_many = {11};
  EXPECT_EQ(triangulate_faces(too_many, indices).error(), "bad faceVertexCounts entry");
  const std::vector<int64_t> max_index = {0, 1, 4294967295};
  const std::vector<int64_t> one_face = {3};
  EXPECT_EQ(triangulate_faces(one_face, max_index).value()[0][2], 4294967295u);
}

TEST(UsdTriangulate, AllTriangleFaces) {
  const std::vector<int64_t> counts = {3, 3};
  const std::vector<int64_t> indices = {0, 1, 2, 2, 1, 3, 9};
  EXPECT_EQ(triangulate_faces(counts, indices).value(), (std::vector<Triangle>{{0, 1, 2}, {2, 1, 3}}));
  const std::vector<int32_t> counts32 = {3, 3};
  std::vector<int32_t> indices32 = {0, 1, 2, 2, 1, 3};
  EXPECT_EQ(triangulate_faces(counts32, indices32).value(), (std::vector<Triangle>{{0, 1, 2}, {2, 1, 3}}));
  indices32[5] = -1;
  EXPECT_EQ(triangulate_faces(counts32, indices32).error(), "vertex index out of range");
  indices32.pop_back();
  EXPECT_EQ(triangulate_faces(counts32, indices32).error(), "faceVertexIndices truncated");
  const std::vector<int64_t> too_large = {0, 1, 4294967296};
  EXPECT_EQ(triangulate_faces(std::vector<int64_t>{3}, too_large).error(), "vertex index out of range");
}

TEST(UsdExtent, IgnoresNotANumber) {
  EXPECT_EQ(compute_extent({}), (std::array<float, 6>{}));
  const std::vector<Vec3> points = {{NAN, 2, -1}, {1, NAN, 3}, {-2, 5, NAN}};
  EXPECT_EQ(compute_extent(points), (std::array<float, 6>{-2, 2, -1, 1, 5, 3}));
}

TEST(UsdaWrite, OneTriangleLayout) {
  MeshWithAttributes mesh;
  mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  mesh.indices = {{0, 1, 2}};
  const std::string path = temp_path("one.usda");
  ASSERT_FALSE(write_usda(path, mesh));
  EXPECT_EQ(read_text(path),
            "#usda 1.0\n(\n    defaultPrim = \"proxy\"\n    metersPerUnit = 1\n    upAxis = \"Y\"\n)\n\n"
            "def Mesh \"proxy\"\n{\n"
            "    uniform token subdivisionScheme = \"none\"\n"
            "    uniform token purpose = \"proxy\"\n"
            "    float3[] extent = [(0.000000, 0.000000, 0.000000), (1.000000, 1.000000, 0.000000)]\n"
            "    int[] faceVertexCounts = [3]\n"
            "    int[] faceVertexIndices = [0, 1, 2]\n"
            "    point3f[] points = [(0.000000, 0.000000, 0.000000), (1.000000, 0.000000, 0.000000), "
            "(0.000000, 1.000000, 0.000000)]\n"
            "}\n");
}

TEST(UsdaWrite, EmptyMeshAndAttributes) {
  const std::string empty_path = temp_path("empty.usda");
  ASSERT_FALSE(write_usda(empty_path, MeshWithAttributes{}));
  const std::string empty = read_text(empty_path);
  EXPECT_NE(empty.find("    float3[] extent = [(0.000000, 0.000000, 0.000000), (0.000000, 0.000000, 0.000000)]\n"
                       "    int[] faceVertexCounts = []\n    int[] faceVertexIndices = []\n    point3f[] points = []\n}\n"),
            std::string::npos);

  MeshWithAttributes mesh;
  mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  mesh.indices = {{0, 1, 2}};
  mesh.normals = std::vector<Vec3>{{0, 0, 1}, {0, 0, 1}, {0, 0, -0.0}};
  mesh.uvs = std::vector<Uv>{{0.1f, 0}, {1, 0}, {0, 1}};
  const std::string path = temp_path("attributes.usda");
  ASSERT_FALSE(write_usda(path, mesh));
  EXPECT_NE(read_text(path).find(
                "    normal3f[] normals = [(0.000000, 0.000000, 1.000000), (0.000000, 0.000000, 1.000000), "
                "(0.000000, 0.000000, -0.000000)] (\n        interpolation = \"faceVarying\"\n    )\n"
                "    texCoord2f[] primvars:st = [(0.100000, 0.000000), (1.000000, 0.000000), (0.000000, 1.000000)] (\n"
                "        interpolation = \"faceVarying\"\n    )\n}\n"),
            std::string::npos);
}

TEST(UsdaWrite, RoundTripRoundsToSixDecimals) {
  MeshWithAttributes mesh;
  mesh.positions = {{0.1234564, -2.5, 1e-9}, {3, 4.0000005, 5}, {-0.0000004, 7, 8}, {1, 1, 1}};
  mesh.indices = {{0, 1, 2}, {2, 1, 3}};
  const std::string path = temp_path("roundtrip.usda");
  ASSERT_FALSE(write_usda(path, mesh));
  const auto back = read_usda(path);
  ASSERT_TRUE(back.ok()) << back.error().text();
  EXPECT_EQ(back->indices, mesh.indices);
  ASSERT_EQ(back->positions.size(), mesh.positions.size());
  for (size_t i = 0; i < mesh.positions.size(); ++i) {
    for (int axis = 0; axis < 3; ++axis) {
      EXPECT_EQ(back->positions[i][axis], std::round(mesh.positions[i][axis] * 1e6) / 1e6);
    }
  }
}

TEST(UsdaRead, SharedSamples) {
  const fs::path dir = fs::path(VORREL_SOURCE_DIR).parent_path() / "shared" / "data" / "usd";
  struct Sample {
    const char* name;
    size_t points, triangles;
    Triangle first;
  };
  const Sample samples[] = {{"sedanGeo.usda", 218, 415, {0, 40, 84}}, {"UtahTeapot.usd", 1286, 2472, {0, 7, 8}}};
  for (const Sample& sample : samples) {
    const fs::path path = dir / sample.name;
    if (!fs::exists(path)) GTEST_SKIP() << path << " absent";
    const auto mesh = read_usda(path.string());
    ASSERT_TRUE(mesh.ok()) << mesh.error().text();
    EXPECT_EQ(mesh->positions.size(), sample.points) << sample.name;
    EXPECT_EQ(mesh->indices.size(), sample.triangles) << sample.name;
    EXPECT_EQ(mesh->indices[0], sample.first) << sample.name;
  }
}

}  // namespace
}  // namespace vorrel::io
