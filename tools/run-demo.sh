#!/usr/bin/env bash
# Installs what is missing, builds, puts the demo database beside the program (never over an
# existing one) and starts the program.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/tools/install-deps.sh"
bash "$root/tools/build.sh"
program_dir="${BUILD_DIR:-$root/build}/ZOVedevUvoVivOD"
database="$program_dir/OLBRAData.mdb"
if [ ! -e "$database" ]; then
  sqlite3 "$database" < "$root/demo/OLBRAData.sql"
  echo "Demo database made: $database"
fi
exec "$program_dir/OLBRADURADIRURI"
