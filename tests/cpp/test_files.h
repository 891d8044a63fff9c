#pragma once
// Scratch files for the file-layer tests: a fresh directory per test, removed
// with everything in it when the test ends.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vorrel::test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vorrel-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
    EXPECT_FALSE(path_.empty());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string file(const std::string& name) const { return path_ + "/" + name; }

  // Writes `content` to `name` and returns its path.
  std::string write(const std::string& name, const std::string& content) const {
    std::ofstream(file(name), std::ios::binary) << content;
    return file(name);
  }

 private:
  std::string path_;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Directory of the shared sample data, or empty when it is not checked out.
inline std::string sample_data_dir() {
  const std::string dir = VORREL_SOURCE_DIR "/../shared/data";
  return std::filesystem::is_directory(dir) ? dir : std::string();
}

}  // namespace vorrel::test
