#!/usr/bin/env bash
# Builds and installs the extension module into the current Python (incremental).
set -euo pipefail
cd "$(dirname "$0")/.."
python3 -m pip install -q --no-build-isolation --root-user-action=ignore .
