#pragma once
// Proxy functions of the module and the option reading they share with the
// file-to-file function.

#include "core/proxy_settings.h"
#include "python/args.h"

namespace vorrel::py {

// Reads the proxy options (quality … use_sdf) with their defaults.
ProxyOptions read_proxy_options(const Arguments& arguments);

PyObject* generate_proxy(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* generate_lod_chain(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace vorrel::py
