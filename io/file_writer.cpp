#include "io/file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace vorrel::io {

IoResult<FileWriter> FileWriter::create(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return MeshIoError::os(errno);
  return FileWriter(fd);
}

FileWriter::FileWriter(int fd) : fd_(fd) {}

FileWriter::FileWriter(FileWriter&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), used_(std::exchange(other.used_, 0)), failure_(std::move(other.failure_)) {
  std::memcpy(buffer_, other.buffer_, used_);
}

FileWriter::~FileWriter() {
  if (fd_ >= 0) {
    flush_buffer();
    ::close(fd_);
  }
}

void FileWriter::flush_buffer() {
  const char* data = buffer_;
  size_t left = used_;
  used_ = 0;
  while (left > 0 && !failure_) {
    ssize_t n = ::write(fd_, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      failure_ = MeshIoError::os(errno);
    } else if (n == 0) {
      failure_ = MeshIoError::io("failed to write whole buffer");
    } else {
      data += n;
      left -= static_cast<size_t>(n);
    }
  }
}

void FileWriter::write(std::string_view bytes) {
  if (failure_) return;
  while (!bytes.empty()) {
    if (used_ == kBufferSize) flush_buffer();
    if (failure_) return;
    size_t n = std::min(bytes.size(), kBufferSize - used_);
    std::memcpy(buffer_ + used_, bytes.data(), n);
    used_ += n;
    bytes.remove_prefix(n);
  }
}

void FileWriter::write_u32(uint32_t value) {
  unsigned char bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
  write(bytes, 4);
}

void FileWriter::write_u64(uint64_t value) {
  unsigned char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
  write(bytes, 8);
}

IoStatus FileWriter::finish() {
  if (fd_ < 0) return failure_;
  flush_buffer();
  if (::close(std::exchange(fd_, -1)) != 0 && !failure_) failure_ = MeshIoError::os(errno);
  return failure_;
}

}  // namespace vorrel::io
