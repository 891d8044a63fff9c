#include "io/file_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <thread>

#include "test_files.h"

namespace vorrel::io {
namespace {

std::string text_of(const FileContent& content) { return std::string(content.begin(), content.end()); }

TEST(FileReader, ReadsToTheEnd) {
  test::TempDir dir;
  const std::string big(200000, 'x');
  for (const std::string& content : {std::string(), std::string("v 0 0 0\n"), big}) {
    auto read = read_whole_file(dir.write("file.obj", content));
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(text_of(*read), content);
    EXPECT_EQ(read->begin()[read->size], '\0');
  }
}

// Pipes and /proc files report a size of 0 but hold data.
TEST(FileReader, FilesOfUnknownSize) {
  EXPECT_NE(text_of(read_whole_file("/proc/self/status").value()).find("Pid:"), std::string::npos);

  test::TempDir dir;
  const std::string fifo = dir.file("pipe.obj");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string content(100000, 'p');
  std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << content; });
  auto read = read_whole_file(fifo);
  writer.join();
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(text_of(*read), content);
}

TEST(FileReader, Failures) {
  test::TempDir dir;
  const FileReadFailure missing = read_whole_file(dir.file("missing.obj")).error();
  EXPECT_TRUE(missing.opening);
  EXPECT_EQ(missing.error_number, ENOENT);
  const FileReadFailure directory = read_whole_file(dir.file("")).error();
  EXPECT_FALSE(directory.opening);
  EXPECT_EQ(directory.error_number, EISDIR);
}

}  // namespace
}  // namespace vorrel::io
