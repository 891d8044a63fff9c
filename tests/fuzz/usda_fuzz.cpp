// libFuzzer target: arbitrary bytes as a USD text layer.
#include "io/usd.h"
#include "fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto mesh = vorrel::io::read_usda(vorrel::fuzz::write_input(data, size, "usda"));
  if (mesh.ok() && (mesh->normals || mesh->uvs)) __builtin_trap();
  return 0;
}
