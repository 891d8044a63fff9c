#pragma once
// Whole-file input for the readers: one open, reads in large blocks straight
// into one allocation, no per-line work. Each reader turns a failure into its
// own error text.

#include <cstddef>
#include <memory>
#include <string>

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

}  // namespace vorrel::io
