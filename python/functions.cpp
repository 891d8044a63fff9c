#include "python/functions.h"

#include "python/docstrings.h"
#include "python/file_functions.h"
#include "python/proxy_functions.h"

namespace vorrel::py {
namespace {

template <PyObject* (*Fn)(PyObject*, PyObject*, PyObject*)>
PyCFunction with_keywords() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Fn));
}

constexpr int kKeywordCall = METH_VARARGS | METH_KEYWORDS;

}  // namespace

PyMethodDef* module_functions() {
  static PyMethodDef functions[] = {
      {"load", with_keywords<load>(), kKeywordCall, docs::kLoad},
      {"save", with_keywords<save>(), kKeywordCall, docs::kSave},
      {"generate_proxy", with_keywords<generate_proxy>(), kKeywordCall, docs::kGenerateProxy},
      {"generate_lod_chain", with_keywords<generate_lod_chain>(), kKeywordCall, docs::kGenerateLodChain},
      {"proxy_from_path", with_keywords<proxy_from_path>(), kKeywordCall, docs::kProxyFromPath},
      {nullptr, nullptr, 0, nullptr},
  };
  return functions;
}

}  // namespace vorrel::py
