#!/usr/bin/env bash
# Installs what is missing, builds the optimised program (build-release/, a
# folder of its own: the sanitizer build of ./test.sh stays in build/), and
# runs it on the embedded demo server: the menu when a display is available,
# otherwise a walk through every task with ovsqlcli.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
build=$(./scripts/build.sh release)

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
  exec "$bin/OVSqlUpdateDB" "$@"
fi
echo "run.sh: no display; walking through the tasks with ovsqlcli instead."
exec ./scripts/walkthrough.sh "$bin"
