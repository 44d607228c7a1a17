#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs each one for SECONDS
# seconds, one after the other. The seeds in fuzz/corpus/<target> are read and
# never written: what a run learns goes to build-fuzz/corpus/<target>, crashes
# to build-fuzz/artifacts/<target>/. Ends non-zero when a target found a crash.
#
#   fuzz/run.sh SECONDS [TARGET...]      (default: every target)
#
# A summary line per target gives its executions, coverage (edges), features
# and corpus size.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift

all_targets=(fuzz_ini_file fuzz_unscramble fuzz_format_template fuzz_ceval fuzz_split_path
  fuzz_script_line fuzz_script_runner fuzz_tab_file fuzz_jet_reader fuzz_list_file)
targets=("$@")
((${#targets[@]})) || targets=("${all_targets[@]}")

build=${OV_FUZZ_BUILD:-$root/build-fuzz}
if [[ ! -f $build/CMakeCache.txt ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DOV_BUILD_FUZZ=ON -DOV_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j"${OV_FUZZ_BUILD_JOBS:-$(nproc)}" --target "${targets[@]}"

max_len() {
  case $1 in
    fuzz_jet_reader) echo 65536 ;;
    fuzz_script_runner | fuzz_tab_file | fuzz_ini_file) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

dict() {
  case $1 in
    fuzz_script_runner | fuzz_script_line) echo $root/fuzz/dict/script.dict ;;
    fuzz_ini_file) echo $root/fuzz/dict/ini.dict ;;
    fuzz_format_template) echo $root/fuzz/dict/format.dict ;;
    fuzz_ceval) echo $root/fuzz/dict/ceval.dict ;;
  esac
}

status=0
summary=()
for t in "${targets[@]}"; do
  work=$build/corpus/$t
  artifacts=$build/artifacts/$t/
  mkdir -p "$work" "$artifacts"
  args=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -max_len="$(max_len "$t")"
    -print_final_stats=1 -artifact_prefix="$artifacts")
  d=$(dict "$t")
  [[ -n $d ]] && args+=(-dict="$d")
  log=$build/$t.log
  echo "== $t: ${seconds}s" >&2
  seeds=$root/fuzz/corpus/$t
  [[ -d $seeds ]] || seeds=
  if ! ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
    "$build/fuzz/$t" "${args[@]}" "$work" ${seeds:+"$seeds"} >"$log" 2>&1; then
    status=1
    echo "!! $t found a crash; input in $artifacts, output in $log" >&2
    grep -m5 -E 'ERROR|SUMMARY|property failed' "$log" >&2 || true
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  files=$(find "$work" -type f | wc -l)
  summary+=("$(printf '%-22s execs %-10s cov %-6s ft %-7s corpus %s' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$files")")
done
printf '%s\n' "${summary[@]}"
exit $status
