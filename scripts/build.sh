#!/usr/bin/env bash
# Configures (once) and builds the project into build/. Shared by run.sh and
# test.sh so both use one build: Debug with AddressSanitizer and
# UndefinedBehaviorSanitizer, the build that CI tests.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ! -f build/CMakeCache.txt ]]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOV_SANITIZE=ON >/dev/null
fi
cmake --build build -j"$(nproc)"
