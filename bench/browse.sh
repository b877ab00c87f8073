#!/usr/bin/env bash
# Responsiveness of the browse grid on the 1,000,000-record table: open and first page,
# Page Down 1,000 times, End, thumb drags, one offscreen paint. Goal: every single user action
# under 50 ms.
#
#   bench/browse.sh [--index BAG]
#
# Uses bench/out/scan-data/scan.dbf when bench/scan.sh has written it, else the benchmark
# creates bench/out/browse-data/browse.dbf itself. Results go to stdout and to
# bench/out/browse-<date>.txt.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
out_dir="$root/bench/out"
mkdir -p "$out_dir/browse-data"
cmake -S "$root" -B "$root/build-bench-gui" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DVOSK_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build-bench-gui" --target bench_browse >/dev/null

table="$out_dir/scan-data/scan.dbf"
[[ -f "$table" ]] || table="$out_dir/browse-data/browse.dbf"
report="$out_dir/browse-$(date +%Y%m%d-%H%M%S).txt"
QT_QPA_PLATFORM=offscreen "$root/build-bench-gui/bench/bench_browse" "$table" "$@" | tee "$report"
