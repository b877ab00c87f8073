#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test suite through CTest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 "$@"
