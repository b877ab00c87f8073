#!/usr/bin/env bash
# Filter benchmark: counting the records that pass a condition over the million-record table
# of bench/scan.sh, dbutool against SQLite's full scan of the same data, in one run.
#
#   bench/filter.sh
#
# Uses bench/out/scan-data/ (scan.dbf and scan.sqlite), running bench/scan.sh first when they
# are missing. Each timing is the best of REPS runs (default 3). Results go to stdout and to
# bench/out/filter-<date>.txt.
#
# Environment: DBUTOOL (a built dbutool; default: build it in build-bench/), REPS.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/bench/common.sh"
out_dir="$root/bench/out"
work="$out_dir/scan-data"
table="$work/scan.dbf"
db="$work/scan.sqlite"

ensure_dbutool
if [[ ! -f "$table" || ! -f "$db" ]]; then
  "$root/bench/scan.sh" >/dev/null
fi

condition='UPPER(LEFT(NAME, 2)) = "RO" .AND. QTY > 500'
query="SELECT count(*) FROM scan WHERE upper(substr(NAME, 1, 2)) = 'RO' AND QTY > 500"


cat "$table" "$db" >/dev/null  # warm the page cache
ours=$("$DBUTOOL" list "$table" --count --for "$condition")
theirs=$(sqlite3 "$db" "$query")
[[ "$ours" == "$theirs" ]] || { echo "filter: dbutool counted $ours, sqlite3 $theirs" >&2; exit 1; }

report="$out_dir/filter-$(date +%Y%m%d-%H%M%S).txt"
{
  echo "filter benchmark: $(sed -n 's/.*"records": \([0-9]*\).*/\1/p' <("$DBUTOOL" info "$table" --json)) records, $ours pass, best of $reps"
  echo "machine: $(nproc) CPUs, $(uname -srm), load $(cut -d' ' -f1 /proc/loadavg)"
  echo "condition: $condition"
  t_tool=$(best_of "$DBUTOOL" list "$table" --count --for "$condition")
  t_sqlite=$(best_of sqlite3 "$db" "$query")
  printf "  %-34s %7s   %s\n" "dbutool list --count --for" "$t_tool" "1.00"
  printf "  %-34s %7s   %s\n" "sqlite3 full scan" "$t_sqlite" \
    "$(awk -v a="$t_sqlite" -v b="$t_tool" 'BEGIN { printf "%.2f", a / b }')"
} | tee "$report"
echo "written to ${report#"$root"/}"
