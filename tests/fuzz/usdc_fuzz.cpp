// libFuzzer target: arbitrary bytes as a USD crate file.
#include "io/usdc.h"
#include "fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto mesh = vorrel::io::read_usdc(vorrel::fuzz::write_input(data, size, "usdc"));
  if (mesh.ok()) {
    for (const vorrel::Triangle& t : mesh->indices) {
      for (const uint32_t corner : t) {
        if (corner >= mesh->positions.size()) __builtin_trap();
      }
    }
  }
  return 0;
}
