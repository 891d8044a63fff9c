#include "io/file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
  const size_t expected = info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;

  FileContent content;
  content.bytes.reset(new (std::nothrow) char[expected + 1]);
  if (!content.bytes) return FileReadFailure{false, ENOMEM};
  // Large reads: the kernel fills the buffer directly, no intermediate copy.
  constexpr size_t kMaxRead = size_t{1} << 30;
  while (content.size < expected) {
    const size_t want = std::min(expected - content.size, kMaxRead);
    const ssize_t got = ::read(fd, content.bytes.get() + content.size, want);
    if (got < 0) {
      if (errno == EINTR) continue;
      return FileReadFailure{false, errno};
    }
    if (got == 0) break;
    content.size += static_cast<size_t>(got);
  }
  content.bytes[content.size] = '\0';
  return content;
}

}  // namespace vorrel::io
