#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and (with "bench") the benchmarks use.
# Idempotent: packages already present are skipped, and nothing is fetched when all are there.
#   scripts/setup.sh          build + tests
#   scripts/setup.sh bench    also the peers measured by bench/
set -euo pipefail

build_pkgs=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev
            qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
            fonts-liberation xvfb xauth
            libsqlite3-dev libxlsxwriter-dev sqlite3
            python3 python3-dbf python3-dbfread python3-openpyxl libdbd-xbase-perl pgdbf
            desktop-file-utils man-db dpkg-dev file bash-completion shared-mime-info)
bench_pkgs=(dbview gdal-bin sqlite3 hyperfine coreutils)

want=("${build_pkgs[@]}")
if [[ "${1:-}" == "bench" ]]; then want+=("${bench_pkgs[@]}"); fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
