#include "io/dispatch.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vorrel::io {
namespace {

TEST(Dispatch, ExtensionOfTheFinalComponent) {
  struct Case {
    std::string path;
    std::optional<std::string> extension;
  };
  const Case cases[] = {
      {"mesh.obj", "obj"},
      {"dir.v2/mesh.tar.usdc", "usdc"},
      {"dir.obj/mesh", std::nullopt},
      {"mesh.obj//", "obj"},
      {"mesh.", ""},
      {".obj", std::nullopt},
      {"dir/..", std::nullopt},
      {"dir/...", ""},
      {"mesh.\xC3\xA9", "\xC3\xA9"},
      {"mesh.\xFF", std::nullopt},          // not UTF-8
      {"mesh.\xC0\xAF", std::nullopt},      // overlong form
      {"mesh.\xED\xA0\x80", std::nullopt},  // surrogate
  };
  for (const Case& c : cases) EXPECT_EQ(extension_of(c.path), c.extension) << c.path;
}

TEST(Dispatch, UnknownFormatsTouchNoFile) {
  EXPECT_EQ(format_of("MESH.OBJ"), std::nullopt);
  EXPECT_EQ(format_of("mesh.usd"), MeshFormat::Usdc);
  EXPECT_EQ(load_mesh_file("/nonexistent/mesh.\xFF").error().text(), "unsupported format: ");
  EXPECT_EQ(save_mesh_file("/nonexistent/mesh.stl", {}).value().text(), "unsupported format: stl");
}

}  // namespace
}  // namespace vorrel::io
