#include "python/functions.h"

namespace vorrel::py {

PyMethodDef* module_functions() {
  static PyMethodDef functions[] = {
      {nullptr, nullptr, 0, nullptr},
  };
  return functions;
}

}  // namespace vorrel::py
