#!/usr/bin/env bash
# Installs what is missing, builds the optimised program (build-release/, a
# folder of its own: the sanitizer build of ./test.sh stays in build/), and
# runs it on the embedded demo server: the menu when a display is available,
# otherwise a walk through every task with ovsqlcli.
# Each step prints one line; what the package manager and the compiler say
# goes to build-release/run.log, which a failed step names.
set -euo pipefail
cd "$(dirname "$0")"
build=build-release
mkdir -p "$build"
log=$build/run.log
: >"$log"

# step TEXT COMMAND...: prints "run.sh: TEXT", runs the command with its
# output in the log, and on failure ends naming the log and showing its end.
step() {
  local text=$1
  shift
  echo "run.sh: $text"
  if ! {
    echo "== $text"
    "$@"
  } >>"$log" 2>&1; then
    echo "run.sh: failed: $text; the details are in $log, which ends:" >&2
    tail -n 15 "$log" >&2
    exit 1
  fi
}

missing=$(./scripts/install-deps.sh --missing)
if [[ -n $missing ]]; then
  read -r -a names <<<"$missing"
  step "installing ${#names[@]} packages (${missing})" ./scripts/install-deps.sh
else
  step "checking the installed packages" ./scripts/install-deps.sh
fi
step "building the optimised program in $build/" ./scripts/build.sh release

bin=$build/bin
# The demo configuration points at the embedded engine, with its databases in
# a folder of the program folder. It is made once; an existing one is kept.
if [[ ! -e $bin/OrvaneSqlConfig.ini ]]; then
  (umask 077 && printf '[MAIN]\r\nDBServer=sqlite:demo-data\r\nDBName=OrvaneCrm\r\nDBIsTrustMode=1\r\nDBUser=sa\r\nDBPasswd=\r\n' \
    >"$bin/OrvaneSqlConfig.ini")
  echo "run.sh: made $bin/OrvaneSqlConfig.ini for the embedded demo server (sqlite:demo-data)"
fi
mkdir -p "$bin/demo-data"

if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
  echo "run.sh: running $bin/OVSqlUpdateDB"
  exec "$bin/OVSqlUpdateDB" "$@"
fi
echo "run.sh: no display; walking through the tasks with ovsqlcli instead."
exec ./scripts/walkthrough.sh "$bin"
