#!/usr/bin/env bash
# Index benchmark: NTX orders and CDX tags over the million-record table of bench/scan.sh,
# against GNU sort and SQLite on the same data, measured in one run.
#
#   bench/index.sh
#
# 1. Build: `dbutool index` on NAME (C 20) and on AMOUNT (N 10.2), into an NTX file and into a
#    CDX bag (a fresh bag each run), against `sort --parallel=1` of the same keys with their
#    record numbers (extracted to a file beforehand, untimed) and against SQLite's CREATE INDEX
#    on the same column; the size of each index file.
# 2. 100,000 random seeks of existing names (`dbutool seek --keys`) through the NTX file and
#    through the CDX tag, against the same lookups through SQLite's index in one sqlite3 run.
# 3. Full scans of the table opened shared, each pair doing the same work: the record number
#    and NAME of every record in key order (`dbutool list --index`, NTX and CDX) against
#    SQLite's rowid and NAME ORDER BY NAME over its index, and against the same listing in
#    natural order; then whole records in key order against SQLite's whole rows.
# Goals: NTX build within 1.5x of sort and at least 2x faster than CREATE INDEX; CDX build
# within 1.2x of the NTX build of the same key; seeks faster than SQLite's indexed lookups;
# the CDX tag on NAME at most half the size of the NTX file; a scan in key order within 3x of
# the natural-order listing. Each timing is the best of REPS runs (default 3) on a warm page
# cache. Results go to stdout and to bench/out/index-<date>.txt.
#
# Environment: DBUTOOL (a built dbutool; default: build it in build-bench/), REPS.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/bench/common.sh"
out_dir="$root/bench/out"
data="$out_dir/scan-data"
work="$out_dir/index-data"
table="$data/scan.dbf"
db="$work/scan.sqlite"
mkdir -p "$work"

ensure_dbutool
for tool in sqlite3 sort shuf; do
  command -v "$tool" >/dev/null || { echo "index: $tool missing (scripts/setup.sh bench)" >&2; exit 1; }
done
if [[ ! -f "$table" || ! -f "$data/scan.sqlite" ]]; then
  # The table and its SQLite copy as bench/scan.sh makes them (without that script's timings).
  mkdir -p "$data"
  make_scan_csv 1000000 "$data/scan.csv"
  "$DBUTOOL" create "$table" NAME:C:20 CITY:C:30 AMOUNT:N:10:2 DAY:D:8 FLAG:L:1 QTY:N:6 >/dev/null
  "$DBUTOOL" append "$table" --csv "$data/scan.csv" --exclusive >/dev/null
  sqlite3 "$data/scan.sqlite" \
    "CREATE TABLE scan(NAME TEXT, CITY TEXT, AMOUNT REAL, DAY TEXT, FLAG TEXT, QTY INTEGER)" \
    "BEGIN" ".import --csv --skip 1 $data/scan.csv scan" "COMMIT"
fi
cp "$data/scan.sqlite" "$db"  # our own copy: its indexes come and go

seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(b == "" || a < b) }'; }

# CREATE INDEX timed alone: the previous index is dropped before each run, untimed.
sqlite_create() {
  local column=$1 best="" t0 t
  for ((r = 0; r < reps; r++)); do
    sqlite3 "$db" "DROP INDEX IF EXISTS i_$column"
    t0=$(date +%s.%N)
    sqlite3 "$db" "CREATE INDEX i_$column ON scan($column)"
    t=$(seconds "$t0" "$(date +%s.%N)")
    if smaller "$t" "$best"; then best=$t; fi
  done
  echo "$best"
}

cat "$table" "$db" >/dev/null  # warm the page cache
# The keys with their record numbers, as the sort peer gets them.
"$DBUTOOL" list "$table" --recno --fields NAME | tail -n +2 |
  awk -F'\t' '{ print $2 "\t" $1 }' > "$work/name_keys.txt"
"$DBUTOOL" list "$table" --recno --fields AMOUNT | tail -n +2 |
  awk -F'\t' '{ print $2 "\t" $1 }' > "$work/amount_keys.txt"
records=$(wc -l < "$work/name_keys.txt")
# 100,000 names that exist (plain ASCII, so that both sides receive the same bytes).
cut -f1 "$work/name_keys.txt" | LC_ALL=C grep -v '[^ -~]' | sed 's/ *$//' |
  shuf -n 100000 --random-source=<(yes) > "$work/seek_keys.txt"
awk '{ gsub(/'\''/, "'\'''\''"); print "SELECT rowid FROM scan WHERE NAME = '\''" $0 "'\'' LIMIT 1;" }' \
  "$work/seek_keys.txt" > "$work/seek_keys.sql"
seeks=$(wc -l < "$work/seek_keys.txt")

# A CDX tag built into a fresh bag.
cdx_build() {
  rm -f "$work/$1.cdx"
  "$DBUTOOL" index "$table" "$work/$1.cdx" "$2" --tag "$2" --exclusive
}
size_of() { stat -c %s "$1"; }

sort_name() { LC_ALL=C sort --parallel=1 -s -t$'\t' -k1,1 "$work/name_keys.txt" -o "$work/sorted.txt"; }
sort_amount() { LC_ALL=C sort --parallel=1 -s -t$'\t' -k1,1n "$work/amount_keys.txt" -o "$work/sorted.txt"; }

report="$out_dir/index-$(date +%Y%m%d-%H%M%S).txt"
{
  echo "index benchmark: $records records, best of $reps, $(date -u +%Y-%m-%dT%H:%M:%SZ)"
  echo "machine: $(nproc) CPUs, $(uname -srm), load $(cut -d' ' -f1 /proc/loadavg)"
  echo

  t_build_name=$(best_of "$DBUTOOL" index "$table" "$work/name.ntx" NAME --exclusive)
  t_build_amount=$(best_of "$DBUTOOL" index "$table" "$work/amount.ntx" AMOUNT --exclusive)
  t_cdx_name=$(best_of cdx_build name NAME)
  t_cdx_amount=$(best_of cdx_build amount AMOUNT)
  for bag in name.ntx amount.ntx name.cdx amount.cdx; do
    "$DBUTOOL" check "$table" "$work/$bag" >/dev/null || { echo "index: $bag fails check" >&2; exit 1; }
  done
  t_sort_name=$(best_of sort_name)
  t_sort_amount=$(best_of sort_amount)
  t_sqlite_amount=$(sqlite_create AMOUNT)
  t_sqlite_name=$(sqlite_create NAME)
  echo "build                              seconds   sort/ours  sqlite/ours  ntx/ours      bytes"
  # build_rows LABEL BAG NTX_SECONDS CDX_SECONDS SORT_SECONDS SQLITE_SECONDS SORT_LABEL
  build_rows() {
    printf "  %-32s %7s   %9s  %11s  %8s  %9s\n" "dbutool index $1 NTX" "$3" \
      "$(ratio "$5" "$3")" "$(ratio "$6" "$3")" "" "$(size_of "$work/$2.ntx")"
    printf "  %-32s %7s   %9s  %11s  %8s  %9s\n" "dbutool index $1 CDX" "$4" \
      "$(ratio "$5" "$4")" "$(ratio "$6" "$4")" "$(ratio "$3" "$4")" "$(size_of "$work/$2.cdx")"
    printf "  %-32s %7s\n" "$7" "$5" "sqlite3 CREATE INDEX ${1%% *}" "$6"
  }
  build_rows "NAME (C 20)" name "$t_build_name" "$t_cdx_name" "$t_sort_name" "$t_sqlite_name" \
    "sort --parallel=1 NAME"
  build_rows "AMOUNT (N 10.2)" amount "$t_build_amount" "$t_cdx_amount" "$t_sort_amount" \
    "$t_sqlite_amount" "sort --parallel=1 -n AMOUNT"
  echo "  goals: NTX sort/ours >= 0.67 (within 1.5x of sort), sqlite/ours >= 2;"
  echo "         CDX ntx/ours >= 0.83 (within 1.2x of NTX); CDX NAME bytes <= half of NTX"
  echo

  for bag in name.ntx name.cdx; do
    found=$("$DBUTOOL" seek "$table" "$work/$bag" --keys "$work/seek_keys.txt" | grep -vc EOF || true)
    [[ "$found" == "$seeks" ]] || { echo "index: $found of $seeks seeks found in $bag" >&2; exit 1; }
  done
  t_seek=$(best_of "$DBUTOOL" seek "$table" "$work/name.ntx" --keys "$work/seek_keys.txt")
  t_cdx_seek=$(best_of "$DBUTOOL" seek "$table" "$work/name.cdx" --keys "$work/seek_keys.txt")
  t_sqlite_seek=$(best_of sqlite3 "$db" ".read $work/seek_keys.sql")
  echo "$seeks random seeks               seconds   sqlite/ours"
  printf "  %-32s %7s   %9s\n" "dbutool seek --keys NTX" "$t_seek" "$(ratio "$t_sqlite_seek" "$t_seek")"
  printf "  %-32s %7s   %9s\n" "dbutool seek --keys CDX" "$t_cdx_seek" "$(ratio "$t_sqlite_seek" "$t_cdx_seek")"
  printf "  %-32s %7s\n" "sqlite3 indexed lookups" "$t_sqlite_seek"
  echo "  goal: sqlite/ours > 1"
  echo

  # scan_rows TITLE SQLITE_LABEL SQLITE_QUERY [LIST OPTIONS...]: natural order, then NTX and
  # CDX key order, then SQLite, each pair doing the same work.
  scan_rows() {
    local title=$1 sqlite_label=$2 query=$3 natural ntx cdx lite
    shift 3
    natural=$(best_of "$DBUTOOL" list "$table" "$@")
    ntx=$(best_of "$DBUTOOL" list "$table" --index "$work/name.ntx" "$@")
    cdx=$(best_of "$DBUTOOL" list "$table" --index "$work/name.cdx" "$@")
    lite=$(best_of sqlite3 -separator $'\t' "$db" "$query")
    printf "%-34s seconds   sqlite/ours  ours/natural\n" "$title"
    printf "  %-32s %7s\n" "dbutool list (natural order)" "$natural"
    printf "  %-32s %7s   %9s    %10s\n" "dbutool list --index NTX" "$ntx" \
      "$(ratio "$lite" "$ntx")" "$(ratio "$ntx" "$natural")"
    printf "  %-32s %7s   %9s    %10s\n" "dbutool list --index CDX" "$cdx" \
      "$(ratio "$lite" "$cdx")" "$(ratio "$cdx" "$natural")"
    printf "  %-32s %7s\n" "$sqlite_label" "$lite"
  }
  scan_rows "record number and NAME, shared" "sqlite3 ORDER BY NAME (index)" \
    "SELECT rowid, NAME FROM scan ORDER BY NAME" --recno --fields NAME
  echo "  goal: ours/natural <= 3"
  echo
  scan_rows "whole records, shared" "sqlite3 ORDER BY NAME, whole rows" \
    "SELECT rowid, * FROM scan ORDER BY NAME" --recno
} | tee "$report"
rm -f "$work/sorted.txt"
echo "written to ${report#"$root"/}"
