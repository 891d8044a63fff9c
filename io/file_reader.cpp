#include "io/file_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

namespace vorrel::io {
namespace {

struct FdCloser {
  int fd;
  ~FdCloser() { ::close(fd); }
};

Expected<FileContent, FileReadFailure> read_open_file(int fd, const struct stat& info) {
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

// Opens the file and hands its descriptor and status to `use`; the
// descriptor is closed when `use` returns.
template <class Use>
auto with_open_file(const std::string& path, Use&& use) -> decltype(use(0, std::declval<const struct stat&>())) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FileReadFailure{true, errno};
  FdCloser closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) return FileReadFailure{false, errno};
  return use(fd, info);
}

Expected<FileBytes, FileReadFailure> map_open_file(int fd, const struct stat& info) {
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    // The whole file is decoded, so its pages are mapped in one call up front
    // instead of faulting them in one by one.
    const size_t size = static_cast<size_t>(info.st_size);
    void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (mapping != MAP_FAILED) return FileBytes(mapping, size);
  }
  Expected<FileContent, FileReadFailure> content = read_open_file(fd, info);
  if (!content) return content.error();
  return FileBytes(std::move(content).value());
}

}  // namespace

Expected<FileContent, FileReadFailure> read_whole_file(const std::string& path) {
  return with_open_file(path, read_open_file);
}

FileBytes::FileBytes(FileBytes&& other) noexcept
    : mapping_(std::exchange(other.mapping_, nullptr)),
      mapped_size_(std::exchange(other.mapped_size_, 0)),
      content_(std::move(other.content_)) {}

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
  // What this held is released with `other`.
  std::swap(mapping_, other.mapping_);
  std::swap(mapped_size_, other.mapped_size_);
  std::swap(content_, other.content_);
  return *this;
}

FileBytes::~FileBytes() {
  if (mapping_) ::munmap(const_cast<void*>(mapping_), mapped_size_);
}

const uint8_t* FileBytes::data() const {
  return static_cast<const uint8_t*>(mapping_ ? mapping_ : static_cast<const void*>(content_.begin()));
}

Expected<FileBytes, FileReadFailure> map_whole_file(const std::string& path) {
  return with_open_file(path, map_open_file);
}

}  // namespace vorrel::io
