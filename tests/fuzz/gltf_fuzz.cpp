// libFuzzer target: arbitrary bytes as a glTF document or GLB container.
#include "io/gltf_io.h"
#include "fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto mesh = vorrel::io::read_gltf(vorrel::fuzz::write_input(data, size, "gltf"));
  if (mesh.ok() && mesh->normals && mesh->normals->size() != 3 * mesh->indices.size()) __builtin_trap();
  return 0;
}
