#pragma once
// The writers' shared output path: the file is created or truncated with mode
// 0666 before the umask and written through an 8192-byte buffer; every failed
// write is reported as an Io error. A writer that fails part-way leaves what it
// had written.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "io/mesh_io.h"

namespace vorrel::io {

class FileWriter {
 public:
  static constexpr size_t kBufferSize = 8192;

  // Creates or truncates `path`.
  static IoResult<FileWriter> create(const std::string& path);

  FileWriter(FileWriter&& other) noexcept;
  FileWriter& operator=(FileWriter&&) = delete;
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;
  ~FileWriter();  // closes without reporting; call finish() to learn of failures

  // Appends bytes; the first failure sticks and later writes do nothing.
  void write(std::string_view bytes);
  void write(const void* data, size_t size) { write(std::string_view(static_cast<const char*>(data), size)); }
  void write_u32(uint32_t value);  // little-endian
  void write_u64(uint64_t value);  // little-endian

  // Flushes and closes the file; returns the first failure of any write.
  IoStatus finish();

 private:
  explicit FileWriter(int fd);
  void flush_buffer();

  int fd_;
  size_t used_ = 0;
  IoStatus failure_;
  char buffer_[kBufferSize];
};

}  // namespace vorrel::io
