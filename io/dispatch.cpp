#include "io/dispatch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "io/gltf_io.h"
#include "io/obj.h"
#include "io/usd.h"
#include "io/usdc.h"
#include "io/utf8.h"

namespace vorrel::io {
namespace {

std::string unsupported_text(std::string_view path) { return extension_of(path).value_or(""); }

constexpr char kUsdzRefusal[] = "usdz packages are not supported; unzip or run `usdcat in.usdz -o out.usdc` first";

}  // namespace

std::optional<std::string> extension_of(std::string_view path) {
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (name == "..") return std::nullopt;
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  const std::string_view extension = name.substr(dot + 1);
  if (!is_valid_utf8(extension)) return std::nullopt;
  return std::string(extension);
}

std::optional<MeshFormat> format_of(std::string_view path) {
  const std::optional<std::string> extension = extension_of(path);
  if (!extension) return std::nullopt;
  if (*extension == "obj") return MeshFormat::Obj;
  if (*extension == "gltf" || *extension == "glb") return MeshFormat::Gltf;
  if (*extension == "usda") return MeshFormat::Usda;
  if (*extension == "usdc" || *extension == "usd") return MeshFormat::Usdc;
  return std::nullopt;
}

IoResult<MeshWithAttributes> load_mesh_file(const std::string& path) {
  const std::optional<MeshFormat> format = format_of(path);
  if (!format) return MeshIoError::unsupported_format(unsupported_text(path));
  switch (*format) {
    case MeshFormat::Obj:
      return read_obj(path);
    case MeshFormat::Gltf:
      return read_gltf(path);
    case MeshFormat::Usda:
    case MeshFormat::Usdc:
      return read_usd(path);
  }
  return MeshIoError::unsupported_format(unsupported_text(path));
}

IoStatus save_mesh_file(const std::string& path, const MeshWithAttributes& mesh) {
  const std::optional<MeshFormat> format = format_of(path);
  if (!format) return MeshIoError::unsupported_format(unsupported_text(path));
  switch (*format) {
    case MeshFormat::Obj:
      return write_obj(path, mesh);
    case MeshFormat::Gltf:
      return write_glb(path, mesh);
    case MeshFormat::Usda:
      return write_usda(path, mesh);
    case MeshFormat::Usdc:
      return write_usdc(path, mesh);
  }
  return MeshIoError::unsupported_format(unsupported_text(path));
}

IoResult<MeshWithAttributes> read_usd(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return MeshIoError::os(errno);
  char head[8] = {};
  ssize_t n;
  do {
    n = ::read(fd, head, sizeof head);
  } while (n < 0 && errno == EINTR);
  const int read_errno = errno;
  ::close(fd);
  if (n < 0) return MeshIoError::os(read_errno);
  if (n >= 8 && std::memcmp(head, "PXR-USDC", 8) == 0) return read_usdc(path);
  if (n >= 2 && head[0] == 'P' && head[1] == 'K') return MeshIoError::usd_parse(kUsdzRefusal);
  return read_usda(path);
}

}  // namespace vorrel::io
