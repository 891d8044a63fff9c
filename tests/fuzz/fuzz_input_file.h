#pragma once
// The readers take paths, so each fuzz input is written to a scratch file in a
// directory of its own (inputs may name neighbouring files) before it is read.

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

namespace vorrel::fuzz {

// Path of the scratch file with the given extension, in a per-process directory.
inline const std::string& scratch_path(const char* extension) {
  static const std::string path = [extension] {
    std::string dir = "/tmp/vorrel-fuzz-" + std::to_string(::getpid());
    ::mkdir(dir.c_str(), 0700);
    return dir + "/input." + extension;
  }();
  return path;
}

inline const std::string& write_input(const uint8_t* data, size_t size, const char* extension) {
  const std::string& path = scratch_path(extension);
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                 static_cast<std::streamsize>(size));
  return path;
}

}  // namespace vorrel::fuzz
