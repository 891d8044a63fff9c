#!/usr/bin/env bash
# The main job on a sample: installs what is needed, builds the module and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
bash scripts/build_module.sh
python3 examples/quickstart.py "$@"
