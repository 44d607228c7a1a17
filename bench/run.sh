#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench/) and runs each one. Every
# benchmark makes its own data and prints one line per measurement: the
# project's time, the peer's time on the same work in the same run, and their
# ratio (lower is better for the project).
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ! -f build-bench/CMakeCache.txt ]]; then
  cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DOV_BUILD_TESTS=OFF -DOV_BUILD_BENCH=ON >/dev/null
fi
targets=()
for source in bench/*.cpp; do
  targets+=("ovbench_$(basename "$source" .cpp)")
done
if ! log=$(cmake --build build-bench --target "${targets[@]}" -j"$(nproc)" 2>&1); then
  echo "$log" >&2
  exit 1
fi
for target in "${targets[@]}"; do
  "build-bench/bench/$target" "$@"
done
