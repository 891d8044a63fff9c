#!/usr/bin/env bash
# Builds every tests/fuzz/*_fuzz.cpp as a libFuzzer program (address and
# undefined-behaviour sanitizers) and runs each for a bounded time.
#
#   tools/fuzz.sh [seconds-per-target] [target-name ...]
#
# FUZZ_TIMEOUT sets the per-input limit in seconds (default 20); whole-pipeline
# inputs run ten times slower under the sanitizers than in a release build.
# Targets are compiled against the core/ and io/ sources directly, plus
# tests/fuzz/support/*.cpp (an instrumented build of the glTF importer). Seeds come
# from tests/fuzz/seeds/<name>/ when present; the growing corpus and any
# crashing inputs stay under build/fuzz/. Needs clang (Debian package "clang").
# Exits non-zero if any target found a failure.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift $(($# > 0 ? 1 : 0))
out="$root/build/fuzz"
cxx=${CXX_FUZZ:-clang++}
mkdir -p "$out/objects" "$out/corpus" "$out/crashes"

common=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined
        -fno-sanitize-recover=undefined -I"$root" -I/usr/include/stb -I/usr/include/nlohmann)
libs=(-lstb -ltbb -lfmt -llz4 $(pkg-config --libs absl_flat_hash_map absl_flat_hash_set absl_hash))

# The library sources, compiled once and recompiled when a source is newer.
objects=()
for source in "$root"/core/*.cpp "$root"/io/*.cpp "$root"/tests/fuzz/support/*.cpp; do
  object="$out/objects/$(basename "$(dirname "$source")")_$(basename "$source" .cpp).o"
  if [[ ! -e "$object" || "$source" -nt "$object" || -n "$(find "$root/core" "$root/io" -name '*.h' -newer "$object" -print -quit)" ]]; then
    echo "compiling $source" >&2
    "$cxx" "${common[@]}" -fsanitize=fuzzer-no-link -c "$source" -o "$object"
  fi
  objects+=("$object")
done

targets=("$@")
if ((${#targets[@]} == 0)); then
  for source in "$root"/tests/fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

failed=()
for name in "${targets[@]}"; do
  source="$root/tests/fuzz/$name.cpp"
  binary="$out/$name"
  echo "building $name" >&2
  "$cxx" "${common[@]}" -fsanitize=fuzzer "$source" "${objects[@]}" "${libs[@]}" -o "$binary"
  corpus="$out/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [[ -d "$root/tests/fuzz/seeds/${name%_fuzz}" ]] && seeds=("$root/tests/fuzz/seeds/${name%_fuzz}")
  echo "running $name for ${seconds}s" >&2
  if ! "$binary" "$corpus" "${seeds[@]}" -max_total_time="$seconds" -timeout="${FUZZ_TIMEOUT:-20}" -rss_limit_mb=3072 \
      -malloc_limit_mb=2048 -artifact_prefix="$out/crashes/$name-" -print_final_stats=1 2>"$out/$name.log"; then
    failed+=("$name")
    tail -n 40 "$out/$name.log" >&2
  fi
done

if ((${#failed[@]})); then
  echo "failures in: ${failed[*]} (inputs under $out/crashes/)" >&2
  exit 1
fi
echo "no failures" >&2
