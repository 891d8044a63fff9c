#pragma once
// Whole-file input for the readers: one open, reads in large blocks straight
// into one allocation, no per-line work. Each reader turns a failure into its
// own error text.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "core/error.h"

namespace vorrel::io {

struct FileContent {
  std::unique_ptr<char[]> bytes;
  size_t size = 0;

  const char* begin() const { return bytes.get(); }
  const char* end() const { return bytes.get() + size; }
};

struct FileReadFailure {
  bool opening;      // true when the file could not be opened, false for a failed read
  int error_number;  // errno of the failed call
};

// The bytes the file holds when it is read to its end, also for files whose
// size the system does not report (pipes, /proc).
Expected<FileContent, FileReadFailure> read_whole_file(const std::string& path);

// The bytes of a whole file for readers that only look at them: a read-only
// mapping of a regular file (no copy, no buffer to fault in), or the file read
// into memory where the system cannot map it (pipes, /proc, empty files).
// Reads must stay within `size` bytes: the mapping ends there.
class FileBytes {
 public:
  FileBytes() = default;
  explicit FileBytes(FileContent content) : content_(std::move(content)) {}
  // Takes over a read-only mapping of `size` bytes made with mmap.
  FileBytes(const void* mapping, size_t size) : mapping_(mapping), mapped_size_(size) {}
  FileBytes(FileBytes&& other) noexcept;
  FileBytes& operator=(FileBytes&& other) noexcept;
  ~FileBytes();

  const uint8_t* data() const;
  size_t size() const { return mapping_ ? mapped_size_ : content_.size; }

 private:
  const void* mapping_ = nullptr;
  size_t mapped_size_ = 0;
  FileContent content_;
};

Expected<FileBytes, FileReadFailure> map_whole_file(const std::string& path);

}  // namespace vorrel::io
