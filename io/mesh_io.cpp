#include "io/mesh_io.h"

#include <cstring>

#include <fmt/format.h>

namespace vorrel::io {

MeshIoError MeshIoError::unsupported_format(std::string extension) {
  return {MeshIoErrorKind::UnsupportedFormat, std::move(extension)};
}

MeshIoError MeshIoError::io(std::string text) { return {MeshIoErrorKind::Io, std::move(text)}; }

MeshIoError MeshIoError::os(int error_number) {
  char buffer[256];
  // GNU strerror_r returns the description, which may or may not live in buffer.
  const char* description = strerror_r(error_number, buffer, sizeof buffer);
  return io(fmt::format("{} (os error {})", description, error_number));
}

MeshIoError MeshIoError::obj_parse(std::string text) { return {MeshIoErrorKind::ObjParse, std::move(text)}; }

MeshIoError MeshIoError::usd_parse(std::string text) { return {MeshIoErrorKind::UsdParse, std::move(text)}; }

MeshIoError MeshIoError::too_large(std::string what, uint64_t count, uint64_t limit) {
  return {MeshIoErrorKind::TooLarge, std::move(what), count, limit};
}

std::string MeshIoError::text() const {
  switch (kind) {
    case MeshIoErrorKind::UnsupportedFormat:
      return "unsupported format: " + detail;
    case MeshIoErrorKind::Io:
      return "I/O error: " + detail;
    case MeshIoErrorKind::ObjParse:
      return "OBJ parse error: " + detail;
    case MeshIoErrorKind::UsdParse:
      return "USD parse error: " + detail;
    case MeshIoErrorKind::TooLarge:
      return fmt::format("mesh too large: {} count {} exceeds limit {}", detail, count, limit);
  }
  return detail;
}

}  // namespace vorrel::io
