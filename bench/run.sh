#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench/), runs each one and prints
# every measurement in one table: the work, the project's figure, the peer's
# figure on the same work in the same run, their ratio (lower is better for
# the project) and the ratio it must not exceed. Ends non-zero when a ratio
# is above its target or a benchmark fails. bench/README.md says how to read
# the table.
#
#   bench/run.sh [NAME...]     (NAME: Startup, BulkLoad, ...; default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ! -f build-bench/CMakeCache.txt ]]; then
  cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DOV_BUILD_TESTS=OFF -DOV_BUILD_BENCH=ON >/dev/null
fi
names=("$@")
if ((${#names[@]} == 0)); then
  for source in bench/*.cpp; do
    names+=("$(basename "$source" .cpp)")
  done
fi
targets=()
for name in "${names[@]}"; do
  targets+=("ovbench_$name")
done
if ! log=$(cmake --build build-bench --target "${targets[@]}" -j"$(nproc)" 2>&1); then
  echo "$log" >&2
  exit 1
fi

# The ratio each measurement must stay under, by the start of its work text.
target_for() {
  case $1 in
    "transfer on the wire, bytes"*) echo 3.00 ;;
    "bulk copy on the wire, bytes"*) echo 1.00 ;;
    "transfer peak memory"* | "import peak memory"* | "schema check peak memory"*) echo 1.50 ;;
    "start-up peak memory"*) echo 1.20 ;;
    start-up*) echo 1.20 ;;
    "update runner peak memory"*) echo 1.50 ;;
    "update runner"*) echo 1.00 ;;
    "update "*" databases, --parallel 1"*) echo 1.25 ;;
    "update "*" databases, --parallel 2"*) echo 0.90 ;;
    bulk-load*) echo 0.75 ;;
    "jet read"*) echo 0.35 ;;
    transfer*) echo 0.70 ;;
    import*) echo 0.75 ;;
    backup* | restore*) echo 1.00 ;;
    *) echo "" ;;
  esac
}

# Work that no tool does has a ceiling in seconds instead of a ratio: the
# schema check's reference runs after every update, so it stays well under
# a second for the shipped scripts.
ceiling_for() {
  case $1 in
    "schema reference"*) echo 1.00 ;;
    *) echo "" ;;
  esac
}

status=0
rows=()
for target in "${targets[@]}"; do
  if ! out=$("build-bench/bench/$target"); then
    echo "$target failed" >&2
    status=1
  fi
  while IFS= read -r line; do
    # "<work>: ours <figure>, no peer": work no tool does; its time is shown
    # and has no ratio to keep.
    if [[ $line == *": ours "*", no peer" ]]; then
      work=${line%%: *}
      ours=${line#*: ours }
      ours=${ours%, no peer}
      ceiling=$(ceiling_for "$work")
      if [[ -z $ceiling ]]; then
        rows+=("$work"$'\t'"$ours"$'\t'"(none)"$'\t'"-"$'\t'"-"$'\t'"time only")
        continue
      fi
      verdict=ok
      if awk -v t="${ours% s}" -v c="$ceiling" 'BEGIN { exit !(t > c) }'; then
        verdict=ABOVE
        status=1
      fi
      rows+=("$work"$'\t'"$ours"$'\t'"(none)"$'\t'"-"$'\t'"<= $ceiling s"$'\t'"$verdict")
      continue
    fi
    # "<work>: ours <count>, at most <limit>": a count on the wire, which
    # holds exactly on any machine; its limit is in the target column.
    if [[ $line == *": ours "*", at most "* ]]; then
      work=${line%%: *}
      limit=${line##*, at most }
      ours=${line#*: ours }
      ours=${ours%, at most *}
      verdict=ok
      if awk -v n="$ours" -v l="$limit" 'BEGIN { exit !(n > l) }'; then
        verdict=ABOVE
        status=1
      fi
      rows+=("$work"$'\t'"$ours"$'\t'"(none)"$'\t'"-"$'\t'"<= $limit"$'\t'"$verdict")
      continue
    fi
    [[ $line == *", ratio "* ]] || continue
    # "<work>: ours <figure>, <peer> <figure>, ratio <r>"
    work=${line%%: *}
    rest=${line#*: }
    ratio=${rest##*, ratio }
    figures=${rest%, ratio *}
    ours=${figures%%, *}
    peer=${figures#*, }
    ours=${ours#ours }
    goal=$(target_for "$work")
    verdict=ok
    if [[ -z $goal ]]; then
      verdict="no target"
      status=1
    elif awk -v r="$ratio" -v g="$goal" 'BEGIN { exit !(r > g) }'; then
      verdict=ABOVE
      status=1
    fi
    rows+=("$work"$'\t'"$ours"$'\t'"$peer"$'\t'"$ratio"$'\t'"${goal:--}"$'\t'"$verdict")
  done <<<"$out"
done

{
  printf 'work\tours\tpeer\tratio\ttarget\t\n'
  printf '%s\n' "${rows[@]}"
} | column -t -s $'\t'
exit $status
