#!/usr/bin/env bash
# Walks through every task that exists with ovsqlcli on the embedded demo
# server of the program folder given as $1, printing what each step did.
# Ends non-zero at the first step that fails.
set -uo pipefail
bin=${1:-build-release/bin}
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

# The demo database on the configured server, made anew on every run; the
# update that follows finds every version block already applied.
step "Create the demo database (replacing the one of an earlier run)" create --database OrvaneCrm --demo --replace --yes
step "Which version blocks an update would run over it" update --dry-run
step "Update the demo database" update --no-backup
step "Check that the database holds what its version says" check --database OrvaneCrm

# Backup and restore need the demo database; they run once it exists.
if "${cli[@]}" databases 2>/dev/null | grep -qix OrvaneCrm; then
  backup_file="$(cd "$bin" && pwd)/demo-data/OrvaneCrm-walkthrough.dat"
  step "Back up the demo database (replacing the backup of an earlier run)" backup --database OrvaneCrm \
    --to "$backup_file" --replace
  step "What the backup file holds" backup-info --file "$backup_file"
  step "Restore the demo database from it" restore --database OrvaneCrm --from "$backup_file" --replace --yes
fi

# The demo single-user file of the build converted into a database of its
# own, replacing the one of an earlier run. Like the window, a conversion
# points the configuration at the new database; the demo configuration is put
# back afterwards so that every run starts from the same settings.
config="$bin/OrvaneSqlConfig.ini"
saved_config=""
if [[ -e $config ]]; then
  saved_config=$(mktemp)
  trap 'rm -f "$saved_config"' EXIT
  cp "$config" "$saved_config"
fi
step "Convert the demo single-user file" convert --file "$bin/Demo.cdb" --database OrvaneConvertDemo --replace --yes
step "The settings now name the converted database" settings
if [[ -n $saved_config ]]; then
  cp "$saved_config" "$config"
fi

echo
echo "walkthrough: every step succeeded."
