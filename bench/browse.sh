#!/usr/bin/env bash
# Responsiveness of the browse grid on the 1,000,000-record table: open and first page,
# Page Down 1,000 times, End, thumb drags, one offscreen paint. Goal: every single user action
# under 50 ms.
#
#   bench/browse.sh
#
# Runs twice on a copy of bench/out/scan-data/scan.dbf (written by bench/scan.sh; without it
# the benchmark creates its own table): in natural order, and with an NTX order on NAME, built
# first when missing. Results go to stdout and to bench/out/browse-<date>.txt.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/bench/common.sh"
out_dir="$root/bench/out"
mkdir -p "$out_dir/browse-data"
bench="$(build_gui_bench bench_browse)"

table="$out_dir/browse-data/BROWSE.DBF"
if [[ ! -f "$table" && -f "$out_dir/scan-data/scan.dbf" ]]; then
  cp "$out_dir/scan-data/scan.dbf" "$table"
fi
report="$out_dir/browse-$(date +%Y%m%d-%H%M%S).txt"
{
  QT_QPA_PLATFORM=offscreen "$bench" "$table"
  echo
  QT_QPA_PLATFORM=offscreen "$bench" "$table" --index "$out_dir/browse-data/BROWSE_NAME.NTX" \
      --key NAME --drags 20
} | tee "$report"
