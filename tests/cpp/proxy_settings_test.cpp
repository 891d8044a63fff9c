#include "core/proxy_settings.h"

#include <gtest/gtest.h>

namespace vorrel {
namespace {

Mesh unit_cube() {
  Mesh m;
  m.positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  m.indices = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
               {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
  return m;
}

TEST(TargetFaceRule, UnitCubeWorkedNumbers) {
  Mesh cube = unit_cube();
  struct Case {
    uint64_t target, resolution;
    double edge;
  } cases[] = {{10000, 54, 0.0372242}, {1000, 32, 0.1177132}, {200000, 241, 0.0}};
  for (const Case& c : cases) {
    auto rule = target_face_resolution(cube.positions, cube.indices, c.target);
    ASSERT_TRUE(rule.ok());
    EXPECT_EQ(rule->voxel_res, c.resolution) << c.target;
    if (c.edge > 0) EXPECT_NEAR(rule->edge, c.edge, 5e-8) << c.target;
  }
}

TEST(TargetFaceRule, EmptyAndDegenerateInputs) {
  auto empty = target_face_resolution({}, {}, 1000);
  ASSERT_TRUE(empty.ok());
  EXPECT_EQ(empty->edge, 1e-12);  // no area
  EXPECT_EQ(empty->voxel_res, 32u);
  Mesh bad = unit_cube();
  bad.indices[3][1] = 8;
  auto rule = target_face_resolution(bad.positions, bad.indices, 1000);
  ASSERT_FALSE(rule.ok());
  EXPECT_NE(rule.error().message.find("8"), std::string::npos);
}

ProxySettings resolved(const ProxyOptions& options) {
  Mesh cube = unit_cube();
  ResolveResult r = resolve_settings(options, cube.positions, cube.indices);
  EXPECT_TRUE(std::holds_alternative<ProxySettings>(r));
  return std::get<ProxySettings>(r);
}

TEST(ResolveSettings, PresetsOverrideExplicitValues) {
  ProxyOptions options;
  options.quality = "fast";
  options.voxel_res = 300;
  options.remesh = 9;
  ProxySettings s = resolved(options);
  EXPECT_EQ(s.voxel_res, 64u);
  EXPECT_EQ(s.smooth, 3u);
  EXPECT_EQ(s.remesh, 0u);
  options.quality = "HIGH";
  EXPECT_EQ(resolved(options).voxel_res, 256u);
  options.quality = "Balanced";
  EXPECT_EQ(resolved(options).remesh, 3u);
}

TEST(ResolveSettings, UnknownPresetShowsTheLowercasedText) {
  Mesh cube = unit_cube();
  ProxyOptions options;
  options.quality = " FAST";
  ResolveResult r = resolve_settings(options, cube.positions, cube.indices);
  ASSERT_TRUE(std::holds_alternative<OptionError>(r));
  EXPECT_EQ(std::get<OptionError>(r).message, "unknown quality preset  fast; expected fast/balanced/high");
}

TEST(ResolveSettings, TargetFacesWinsForResolutionAndRaisesRemesh) {
  ProxyOptions options;
  options.quality = "fast";
  options.target_faces = 10000;
  ProxySettings s = resolved(options);
  EXPECT_EQ(s.voxel_res, 54u);
  EXPECT_EQ(s.smooth, 3u);
  EXPECT_EQ(s.remesh, 3u);
  ASSERT_TRUE(s.target_edge.has_value());
  EXPECT_EQ(s.target_faces, 10000u);

  options.target_faces = 0;  // behaves as 16
  EXPECT_EQ(resolved(options).target_faces, 16u);
  options.target_faces = UINT64_MAX;
  EXPECT_EQ(resolved(options).target_faces, 4294967295u);
}

TEST(ResolveSettings, WithoutTargetNothingIsDerived) {
  ProxyOptions options;
  options.voxel_res = 77;
  options.remesh = 1;
  ProxySettings s = resolved(options);
  EXPECT_EQ(s.voxel_res, 77u);
  EXPECT_EQ(s.remesh, 1u);
  EXPECT_FALSE(s.target_edge.has_value());
  EXPECT_FALSE(s.target_faces.has_value());
}

}  // namespace
}  // namespace vorrel
