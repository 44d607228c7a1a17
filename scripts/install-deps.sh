#!/usr/bin/env bash
# Installs what the build, the tests and the tools need on Debian 12.
# Idempotent: a package is installed only when it is missing, so a second
# run costs about a second. With --missing it only prints what it would
# install, on one line.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config git clang-format
  # Qt 6 (widgets, the offscreen and xcb platform plugins, uic/moc)
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  # fonts that render the Chinese user interface, and Qt's own Chinese texts
  # for its standard buttons and dialogs
  fonts-noto-cjk qt6-translations-l10n
  # data access: unixODBC, the FreeTDS ODBC driver and db-lib, SQLite and its ODBC driver
  unixodbc unixodbc-dev odbcinst tdsodbc freetds-dev freetds-bin
  sqlite3 libsqlite3-dev libsqliteodbc
  # SHA-256 of the embedded engine's backups (libcrypto)
  libssl-dev
  # Jet (.cdb) files
  mdbtools mdbtools-dev libglib2.0-dev
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # the check of the CI workflow file (YAML); the scripted SQL Server of the
  # tests (tests/support/tdspeer.py) and python3-tds, a client that checks it
  python3 python3-yaml python3-tds
  # sanitizers and fuzzing with clang
  clang libclang-rt-14-dev
)
# The machine may carry its own Node.js; Debian's npm is needed only without one.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# --missing: print the missing packages (none: an empty line) and stop.
if [[ ${1:-} == --missing ]]; then
  echo "${missing[*]}"
  exit 0
fi

if ((${#missing[@]})); then
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  echo "install-deps: installing ${missing[*]}" >&2
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

# Microsoft's ODBC Driver 18 for SQL Server, for the CI runs against real
# servers with both drivers (OV_WITH_MSODBCSQL18=1): from Microsoft's own
# Debian 12 repository, accepting its licence as the package requires.
if [[ ${OV_WITH_MSODBCSQL18:-} == 1 ]] &&
   ! dpkg-query -W -f='${Status}' msodbcsql18 2>/dev/null | grep -q 'install ok installed'; then
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  echo "install-deps: installing msodbcsql18 from packages.microsoft.com" >&2
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends curl gpg ca-certificates >&2
  curl -fsSL https://packages.microsoft.com/keys/microsoft.asc |
    "${sudo[@]}" gpg --dearmor --yes -o /usr/share/keyrings/microsoft-prod.gpg
  curl -fsSL https://packages.microsoft.com/config/debian/12/prod.list |
    "${sudo[@]}" tee /etc/apt/sources.list.d/mssql-release.list >/dev/null
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" env ACCEPT_EULA=Y DEBIAN_FRONTEND=noninteractive apt-get install -y -qq msodbcsql18 >&2
fi

# npm packages the tests need, kept in a folder of the build tree and never
# installed globally: mdb-reader 3 reads back the Jet files that the project
# writes. The tests look for it in build/npm (elsewhere: OV_NPM_DIR here and
# -DOV_NPM_DIR=... for CMake).
npm_dir=${OV_NPM_DIR:-$(cd "$(dirname "$0")/.." && pwd)/build/npm}
if ! grep -qs '"version": *"3\.' "$npm_dir/node_modules/mdb-reader/package.json"; then
  echo "install-deps: installing mdb-reader@3 into $npm_dir" >&2
  mkdir -p "$npm_dir"
  npm install --prefix "$npm_dir" mdb-reader@3 --no-audit --no-fund --loglevel=error >&2
fi
