#!/usr/bin/env bash
# Runs every test: the C++ core and file layer (GoogleTest through CTest) and the
# Python module (pytest). Does all set-up first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
bash scripts/build_module.sh

jobs=$(nproc)
cmake -S . -B build/cpp -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORREL_BUILD_MODULE=OFF >/dev/null
cmake --build build/cpp -j "$jobs"
status=0
ctest --test-dir build/cpp --output-on-failure -j "$jobs" || status=1
# The core and the file layer once more under AddressSanitizer and
# UndefinedBehaviorSanitizer (any finding fails its test).
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORREL_SANITIZE=ON \
  -DVORREL_BUILD_MODULE=OFF >/dev/null
cmake --build build/asan -j "$jobs"
ctest --test-dir build/asan --output-on-failure -j "$jobs" || status=1
python3 -m pytest -q tests/python || status=1
exit $status
