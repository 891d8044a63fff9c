#include "io/file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace vorrel::io {
namespace {

struct FdCloser {
  int fd;
  ~FdCloser() { ::close(fd); }
};

}  // namespace

Expected<FileContent, FileReadFailure> read_whole_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FileReadFailure{true, errno};
  FdCloser closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) return FileReadFailure{false, errno};
  if (S_ISDIR(info.st_mode)) return FileReadFailure{false, EISDIR};
  // The size at opening is only the first guess: files whose size the system
  // does not know (pipes, /proc) report 0, and a file may grow meanwhile.
  size_t capacity = info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;

  FileContent content;
  content.bytes.reset(new (std::nothrow) char[capacity + 1]);
  if (!content.bytes) return FileReadFailure{false, ENOMEM};
  // Large reads: the kernel fills the buffer directly, no intermediate copy.
  // Once the buffer is full, a small probe tells the end from more data, so
  // files of known size are read without growing the buffer.
  constexpr size_t kMaxRead = size_t{1} << 30;
  constexpr size_t kMinGrowth = size_t{1} << 16;
  char probe[4096];
  for (;;) {
    const bool full = content.size == capacity;
    char* target = full ? probe : content.bytes.get() + content.size;
    const ssize_t got = ::read(fd, target, full ? sizeof probe : std::min(capacity - content.size, kMaxRead));
    if (got < 0) {
      if (errno == EINTR) continue;
      return FileReadFailure{false, errno};
    }
    if (got == 0) break;
    if (full) {
      const size_t grown = capacity + std::max(capacity, kMinGrowth);
      std::unique_ptr<char[]> larger(new (std::nothrow) char[grown + 1]);
      if (!larger) return FileReadFailure{false, ENOMEM};
      std::memcpy(larger.get(), content.bytes.get(), content.size);
      std::memcpy(larger.get() + content.size, probe, static_cast<size_t>(got));
      content.bytes = std::move(larger);
      capacity = grown;
    }
    content.size += static_cast<size_t>(got);
  }
  content.bytes[content.size] = '\0';
  return content;
}

}  // namespace vorrel::io
