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

std::string text_of(const FileBytes& bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The text of the file through either reader: read into memory, or mapped
// where the file allows it.
Expected<std::string, FileReadFailure> read_text(bool mapped, const std::string& path) {
  if (mapped) {
    auto bytes = map_whole_file(path);
    if (!bytes) return bytes.error();
    return text_of(*bytes);
  }
  auto content = read_whole_file(path);
  if (!content) return content.error();
  return text_of(*content);
}

TEST(FileReader, ReadsToTheEnd) {
  test::TempDir dir;
  const std::string big(200000, 'x');
  for (const std::string& content : {std::string(), std::string("v 0 0 0\n"), big}) {
    auto read = read_whole_file(dir.write("file.obj", content));
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(text_of(*read), content);
    EXPECT_EQ(read->begin()[read->size], '\0');
    EXPECT_EQ(read_text(true, dir.file("file.obj")).value(), content);
  }
}

// Pipes and /proc files report a size of 0 but hold data; they cannot be
// mapped either.
TEST(FileReader, FilesOfUnknownSize) {
  for (const bool mapped : {false, true}) {
    SCOPED_TRACE(mapped);
    EXPECT_NE(read_text(mapped, "/proc/self/status").value().find("Pid:"), std::string::npos);

    test::TempDir dir;
    const std::string fifo = dir.file("pipe.obj");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string content(100000, 'p');
    std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << content; });
    auto read = read_text(mapped, fifo);
    writer.join();
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(*read, content);
  }
}

TEST(FileReader, Failures) {
  for (const bool mapped : {false, true}) {
    SCOPED_TRACE(mapped);
    test::TempDir dir;
    const FileReadFailure missing = read_text(mapped, dir.file("missing.obj")).error();
    EXPECT_TRUE(missing.opening);
    EXPECT_EQ(missing.error_number, ENOENT);
    const FileReadFailure directory = read_text(mapped, dir.file("")).error();
    EXPECT_FALSE(directory.opening);
    EXPECT_EQ(directory.error_number, EISDIR);
  }
}

// Moving hands a mapping over; the moved-to object releases what it held.
TEST(FileBytes, MovesMappings) {
  test::TempDir dir;
  FileBytes held = map_whole_file(dir.write("first.usdc", std::string(300000, 'm'))).value();
  FileBytes taken = std::move(held);
  EXPECT_EQ(text_of(taken), std::string(300000, 'm'));
  taken = map_whole_file(dir.write("other.usdc", "abc")).value();
  EXPECT_EQ(text_of(taken), "abc");
}

}  // namespace
}  // namespace vorrel::io
