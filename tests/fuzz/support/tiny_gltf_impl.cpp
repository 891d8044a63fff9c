// The glTF importer compiled from its header with the fuzzers' instrumentation,
// so coverage guidance reaches into the importer; it replaces the shared
// library in fuzz builds only.
#define TINYGLTF_IMPLEMENTATION
#include <tiny_gltf.h>
