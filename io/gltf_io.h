#pragma once
// glTF 2.0 input (.gltf JSON with its buffers, or a binary .glb container,
// told apart by content) and GLB output.
//
// Reading merges the TRIANGLES primitives of all meshes, in mesh and
// primitive order, into one triangle list; the scene graph is ignored, so
// node transforms are not applied and every mesh counts once. Every image the
// asset references is decoded, so a missing or broken image fails the load.
// Accessor, buffer view and buffer ranges are validated before any data is
// read; a range that leaves its buffer fails the load. Failures are ObjParse
// with "glTF: {}" or "no triangle meshes found in glTF", or TooLarge.
//
// Writing produces one mesh with one primitive (positions and indices only),
// whatever the extension of the path.

#include <string>

#include "io/mesh_io.h"

namespace vorrel::io {

IoResult<MeshWithAttributes> read_gltf(const std::string& path);

// Io when the file cannot be written, or when the container would not fit the
// 32-bit lengths of the GLB header (no file is created then).
IoStatus write_glb(const std::string& path, const MeshWithAttributes& mesh);

}  // namespace vorrel::io
