// Replays the fuzz seeds and every input a fuzzing run found failing
// (tests/fuzz/regressions/<target>/) through the code the target drives, so a
// fixed finding stays fixed. Runs under the sanitizer build of the tests too.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "io/gltf_io.h"
#include "io/obj.h"
#include "io/usd.h"
#include "io/usdc.h"
#include "tests/fuzz/proxy_fuzz_case.h"

namespace vorrel {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputs_of(const std::string& target) {
  std::vector<fs::path> files;
  for (const char* dir : {"seeds", "regressions"}) {
    const fs::path root = fs::path(VORREL_SOURCE_DIR) / "tests" / "fuzz" / dir / target;
    if (!fs::is_directory(root)) continue;
    for (const auto& entry : fs::directory_iterator(root)) files.push_back(entry.path());
  }
  return files;
}

std::vector<uint8_t> bytes_of(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A loaded mesh indexes only its own vertices and has one attribute per corner.
void expect_consistent(const io::IoResult<io::MeshWithAttributes>& loaded, const fs::path& input) {
  if (!loaded.ok()) return;
  EXPECT_TRUE(fuzz::indices_in_range(Mesh{loaded->positions, loaded->indices})) << input;
  if (loaded->normals) EXPECT_EQ(loaded->normals->size(), 3 * loaded->indices.size()) << input;
  if (loaded->uvs) EXPECT_EQ(loaded->uvs->size(), 3 * loaded->indices.size()) << input;
}

TEST(FuzzRegression, ReadersHandleEveryRecordedInput) {
  using Reader = std::function<io::IoResult<io::MeshWithAttributes>(const std::string&)>;
  const std::vector<std::pair<std::string, Reader>> readers = {
      {"obj", io::read_obj}, {"gltf", io::read_gltf}, {"usda", io::read_usda}, {"usdc", io::read_usdc}};
  for (const auto& [target, read] : readers) {
    for (const fs::path& input : inputs_of(target)) expect_consistent(read(input.string()), input);
  }
}

void replay_proxy_cases(const std::vector<fs::path>& inputs) {
  ASSERT_FALSE(inputs.empty());
  for (const fs::path& input : inputs) {
    const std::vector<uint8_t> bytes = bytes_of(input);
    EXPECT_TRUE(fuzz::run_proxy_case(fuzz::decode_proxy_case(bytes.data(), bytes.size()))) << input;
  }
}

TEST(FuzzRegression, BuildProxyHandlesEveryRecordedInput) { replay_proxy_cases(inputs_of("build_proxy")); }

}  // namespace
}  // namespace vorrel
