// libFuzzer target: arbitrary bytes as an OBJ file.
#include "io/obj.h"
#include "fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto mesh = vorrel::io::read_obj(vorrel::fuzz::write_input(data, size, "obj"));
  if (mesh.ok() && mesh->uvs && mesh->uvs->size() != 3 * mesh->indices.size()) __builtin_trap();
  return 0;
}
