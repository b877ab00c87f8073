#!/usr/bin/env bash
# The window's long commands on the 1,000,000-record table, each from the command to the first
# page painted: sort by a character column, filter with a condition, filter on a unique key,
# one type-ahead keystroke in a sorted view (and the record commands added to the table of
# cases in bench/commands.cpp). Goals: sort and filter under 1 s, a keystroke under 50 ms, the
# progress bar advancing throughout (the longest time the window waited is reported).
#
#   bench/commands.sh
#
# Runs under DBFCDX and DBFNTX on a fresh copy of bench/out/scan-data/scan.dbf (written by
# bench/scan.sh; without it the benchmark creates its own table), which no other process has
# open. Results go to stdout and to bench/out/commands-<date>.txt.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/bench/common.sh"
out_dir="$root/bench/out"
work="$out_dir/commands-data"
mkdir -p "$work"
bench="$(build_gui_bench bench_commands)"

source_table="$work/SOURCE.DBF"
if [[ ! -f "$source_table" && -f "$out_dir/scan-data/scan.dbf" ]]; then
  cp "$out_dir/scan-data/scan.dbf" "$source_table"
fi
if [[ ! -f "$source_table" ]]; then
  QT_QPA_PLATFORM=offscreen "$bench" "$source_table" --only "(none)" >/dev/null
fi
report="$out_dir/commands-$(date +%Y%m%d-%H%M%S).txt"
{
  echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
  for driver in DBFCDX DBFNTX; do
    # A fresh copy for every run: commands that change the table leave the next run alone.
    cp "$source_table" "$work/COMMANDS.DBF"
    cat "$work/COMMANDS.DBF" >/dev/null  # warm the page cache
    QT_QPA_PLATFORM=offscreen "$bench" "$work/COMMANDS.DBF" --driver "$driver" || true
    echo
  done
} | tee "$report"
