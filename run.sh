#!/usr/bin/env bash
# Installs what is missing, builds in Release, and starts the program on the given table, or on
# the sample table when none is given.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/setup.sh"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$here/build" --target voskdbu dbutool
table="${1:-$here/samples/CLIENTI.DBF}"
exec "$here/build/gui/voskdbu" "$table"
