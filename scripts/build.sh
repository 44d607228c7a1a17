#!/usr/bin/env bash
# Configures (once) and builds one of the project's two builds:
#   scripts/build.sh [test]   build/: Debug with AddressSanitizer and
#                             UndefinedBehaviorSanitizer, every test and the
#                             benchmark programs, the build that ./test.sh
#                             and CI run
#   scripts/build.sh release  build-release/: optimised, without the tests,
#                             the build that ./run.sh starts
#   scripts/build.sh opt      build-opt/: optimised (Release) with every
#                             test, so that the suite also runs against
#                             the code the users get
# Prints the build folder on stdout when it is done; the compiler's output
# goes to stderr. ccache is used when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-test}
case $kind in
  test)
    dir=build
    # The benchmarks are built too (not run), so that a change that breaks
    # them fails here and not at the next measurement.
    options=(-DCMAKE_BUILD_TYPE=Debug -DOV_SANITIZE=ON -DOV_BUILD_BENCH=ON)
    ;;
  release)
    dir=build-release
    options=(-DCMAKE_BUILD_TYPE=Release -DOV_BUILD_TESTS=OFF)
    ;;
  opt)
    dir=build-opt
    options=(-DCMAKE_BUILD_TYPE=Release -DOV_BUILD_TESTS=ON)
    ;;
  *)
    echo "usage: scripts/build.sh [test|release|opt]" >&2
    exit 2
    ;;
esac
if command -v ccache >/dev/null 2>&1; then
  options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if [[ ! -f $dir/CMakeCache.txt ]]; then
  cmake -S . -B "$dir" -G Ninja "${options[@]}" >&2
fi
cmake --build "$dir" -j"$(nproc)" >&2
echo "$dir"
