#!/usr/bin/env bash
# Installs everything the project needs on a fresh machine; quick when all is present.
set -euo pipefail

apt_packages=(
  build-essential cmake ninja-build
  libtbb-dev libabsl-dev libfmt-dev liblz4-dev
  libtinygltf-dev nlohmann-json3-dev libstb-dev
  libgtest-dev
  clang  # libFuzzer targets (tools/fuzz.sh)
)
python_packages=(numpy pytest scikit-build-core ninja mypy usd-core pygltflib)

missing=()
for pkg in "${apt_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if ((${#missing[@]})); then
  echo "installing Debian packages: ${missing[*]}" >&2
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

missing_py=()
for pkg in "${python_packages[@]}"; do
  python3 -m pip show -q "$pkg" >/dev/null 2>&1 || missing_py+=("$pkg")
done
if ((${#missing_py[@]})); then
  echo "installing Python packages: ${missing_py[*]}" >&2
  python3 -m pip install -q --root-user-action=ignore "${missing_py[@]}"
fi
