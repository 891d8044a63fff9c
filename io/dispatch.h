#pragma once
// The file layer's front door: a format chosen from the path's extension
// (exact, case-sensitive), and for USD input from the file's first bytes.

#include <optional>
#include <string>
#include <string_view>

#include "io/mesh_io.h"

namespace vorrel::io {

enum class MeshFormat { Obj, Gltf, Usda, Usdc };

// The text after the last dot of the path's final component (trailing
// separators ignored), provided that dot is not the component's first
// character; nullopt when there is none or it is not valid UTF-8.
std::optional<std::string> extension_of(std::string_view path);

// The format for the path's extension; nullopt when unknown.
std::optional<MeshFormat> format_of(std::string_view path);

IoResult<MeshWithAttributes> load_mesh_file(const std::string& path);
IoStatus save_mesh_file(const std::string& path, const MeshWithAttributes& mesh);

// USD input by content: crate files ("PXR-USDC"), refused usdz packages ("PK"),
// and text layers otherwise.
IoResult<MeshWithAttributes> read_usd(const std::string& path);

}  // namespace vorrel::io
