#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer build with every test
# (build/; ./run.sh builds its own optimised one) and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
build=$(./scripts/build.sh test)
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
