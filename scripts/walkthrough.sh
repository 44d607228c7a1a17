#!/usr/bin/env bash
# Walks through every task that exists with ovsqlcli on the embedded demo
# server of the program folder given as $1, printing what each step did.
# Ends non-zero at the first step that fails.
set -uo pipefail
bin=${1:-build/bin}
cli=("$bin/ovsqlcli")

step() {
  local title=$1
  shift
  echo
  echo "== $title"
  echo "\$ ovsqlcli $*"
  if ! "${cli[@]}" "$@"; then
    echo "walkthrough: step \"$title\" failed" >&2
    exit 1
  fi
}

step "The connection settings of the program folder" settings

echo
echo "walkthrough: every step succeeded."
