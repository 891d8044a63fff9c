#!/usr/bin/env bash
# Installs what the benchmark suite needs, builds the reference programs and
# the C++ benchmarks, and runs the suite; tables go to standard output.
#
#   bash bench/run.sh [--quick] [--groups e2e,resolution,size,threads,peers,stages,io]
#
# Uses the vorrel module that Python imports (install it with
# scripts/build_module.sh, or put a build on PYTHONPATH). The reference programs
# are built with ../shared/peers/build.sh (Debian packages: OpenVDB, CGAL) into
# $PEERS_BUILD (default build/peers); dense inputs and proxies go to build/bench-work.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

pip_quiet() { python3 -m pip install -q --disable-pip-version-check "$@" 2>&1 | grep -v "Running pip as the 'root' user" || true; }

python3 -c "import skimage, scipy, trimesh, pymeshlab, pxr" 2>/dev/null ||
  pip_quiet scikit-image scipy trimesh pymeshlab usd-core
# rapidobj's wheels need Python 3.12 or later; the suite runs it in such an
# interpreter when the main one is older.
if ! python3 -c "import rapidobj" 2>/dev/null; then
  for py in python3.13 python3.12 $(ls -d ~/.pyenv/versions/3.1[2-9]*/bin/python3 2>/dev/null); do
    if command -v "$py" >/dev/null && "$py" -c "import sys" 2>/dev/null; then
      "$py" -c "import rapidobj" 2>/dev/null || "$py" -m pip install -q --disable-pip-version-check rapidobj 2>&1 |
        grep -v "Running pip as the 'root' user" || true
      break
    fi
  done
fi

# GNU time reports each run's peak memory; taskset sets the thread series' affinity.
command -v taskset >/dev/null && [ -x /usr/bin/time ] ||
  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time util-linux >/dev/null; }

export PEERS_BUILD=${PEERS_BUILD:-$root/build/peers}
for program in proxy/vdb_proxy proxy/aw_proxy quality/proxy_quality tools/mesh_subdivide; do
  if [ ! -x "$PEERS_BUILD/$program" ]; then
    "$root/../shared/peers/build.sh" >&2
    break
  fi
done

cmake -S . -B build/bench -G Ninja -DVORREL_BUILD_MODULE=OFF -DVORREL_BUILD_TESTS=OFF -DVORREL_BUILD_BENCH=ON >/dev/null
cmake --build build/bench -j"$(nproc)" --target volume_bench >/dev/null

exec python3 bench/suite.py --peers-build "$PEERS_BUILD" --bench-build build/bench "$@"
