#!/usr/bin/env bash
# The window's long commands on the 1,000,000-record table, from the command to the first page
# painted, with the progress bar watched: replace one field in every record (goal under 2 s),
# replace by an expression, delete by condition, pack.
#
#   bench/record_commands.sh
#
# Works on a copy of bench/out/scan-data/scan.dbf (written by bench/scan.sh); without it the
# table is created by bench_browse. No other process has the copy open. Results go to stdout
# and to bench/out/record-commands-<date>.txt.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
out_dir="$root/bench/out"
mkdir -p "$out_dir/record-commands-data"
cmake -S "$root" -B "$root/build-bench-gui" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DVOSK_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build-bench-gui" --target bench_browse bench_record_commands >/dev/null

source_table="$out_dir/scan-data/scan.dbf"
if [[ ! -f "$source_table" ]]; then
  source_table="$out_dir/record-commands-data/SOURCE.DBF"
  [[ -f "$source_table" ]] ||
    QT_QPA_PLATFORM=offscreen "$root/build-bench-gui/bench/bench_browse" "$source_table" \
        --pages 1 --drags 1 >/dev/null
fi
table="$out_dir/record-commands-data/COMMANDS.DBF"
cp "$source_table" "$table"
report="$out_dir/record-commands-$(date +%Y%m%d-%H%M%S).txt"
{
  echo "record commands: $(date -u +%Y-%m-%dT%H:%M:%SZ), load average $(cut -d' ' -f1-3 /proc/loadavg)"
  QT_QPA_PLATFORM=offscreen "$root/build-bench-gui/bench/bench_record_commands" "$table"
} | tee "$report"
rm -f "$table"
