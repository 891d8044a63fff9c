// libFuzzer target: arbitrary small meshes and settings through the whole proxy
// pipeline (see proxy_fuzz_case.h for how the bytes are read).
#include "proxy_fuzz_case.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!vorrel::fuzz::run_proxy_case(vorrel::fuzz::decode_proxy_case(data, size))) __builtin_trap();
  return 0;
}
