#!/usr/bin/env bash
# Restructure benchmark: dbutool restructure of the scan table (one field widened, one added)
# next to dbutool copy of the same table to DBF, measured in one run.
#
#   bench/restructure.sh [RECORDS]      (default 1000000)
#
# The table is the scan benchmark's (NAME C20, CITY C30, AMOUNT N10.2, DAY D, FLAG L,
# QTY N6), loaded with dbutool create + append --exclusive. The restructure widens NAME to
# C30 and adds NOTE C10 at the end (goal: under 3 s for 1,000,000 records); every run starts
# from a fresh copy of the table, made outside the timing. Each timing is the best of REPS
# runs (default 3) on a warm page cache. Results go to stdout and to
# bench/out/restructure-<date>.txt.
#
# Environment: DBUTOOL (a built dbutool; default: build it in build-bench/), REPS.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/bench/common.sh"
records="${1:-1000000}"
out_dir="$root/bench/out"
work="$out_dir/restructure-data"
mkdir -p "$work"

ensure_dbutool

fields=(NAME:C:20 CITY:C:30 AMOUNT:N:10:2 DAY:D:8 FLAG:L:1 QTY:N:6)
new_fields=(NAME:C:30 CITY:C:30 AMOUNT:N:10:2 DAY:D:8 FLAG:L:1 QTY:N:6 NOTE:C:10)
report="$out_dir/restructure-$(date +%Y%m%d-%H%M%S).txt"

table="$work/source.dbf"
csv="$work/load.csv"
make_scan_csv "$records" "$csv"
rm -f "$table"
"$DBUTOOL" create "$table" "${fields[@]}"
"$DBUTOOL" append "$table" --csv "$csv" --exclusive
rm -f "$csv"

check_count() {
  local n
  n=$("$DBUTOOL" info "$1" --json | sed -n 's/.*"records": \([0-9]*\).*/\1/p')
  [[ "$n" == "$2" ]] || { echo "restructure: $1 holds $n records, expected $2" >&2; exit 1; }
}

copy_dbf() { rm -f "$work/copy.dbf"; "$DBUTOOL" copy "$table" "$work/copy.dbf"; }
# Each restructure takes a fresh copy of the table; the copy's time is measured apart and taken
# off, so that both rows time the command alone.
fresh() { rm -f "$work"/t*.dbf; cp "$table" "$work/t.dbf"; }
restructure() { "$DBUTOOL" restructure "$work/t.dbf" "${new_fields[@]}"; }
fresh_restructure() { fresh; restructure; }

{
  echo "restructure benchmark: $records records, best of $reps, $(date -u +%Y-%m-%dT%H:%M:%SZ)"
  echo "machine: $(nproc) CPUs, $(uname -srm), load $(cut -d' ' -f1 /proc/loadavg)"
  echo
  cat "$table" >/dev/null
  t_copy=$(best_of copy_dbf)
  check_count "$work/copy.dbf" "$records"
  t_fresh=$(best_of fresh)
  t_both=$(best_of fresh_restructure)
  check_count "$work/t.dbf" "$records"
  check_count "$work/t_ORIGINALE.dbf" "$records"
  t_restructure=$(awk -v a="$t_both" -v b="$t_fresh" 'BEGIN { printf "%.3f", a - b }')
  echo "$(du -h "$table" | cut -f1) table: NAME widened to C30, NOTE C10 added"
  echo "                                  seconds   ratio to copy"
  printf "  %-30s %7s   %s (goal: under 3 s)\n" "dbutool restructure" "$t_restructure" \
         "$(ratio "$t_restructure" "$t_copy")"
  printf "  %-30s %7s   %s\n" "dbutool copy to DBF" "$t_copy" "1.00"
  printf "  %-30s %7s\n" "(cp of the table, taken off)" "$t_fresh"
} | tee "$report"
rm -f "$work"/*.dbf
echo "written to ${report#"$root"/}"
