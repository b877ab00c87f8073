#!/usr/bin/env bash
# Scan and load benchmark of dbutool against independent DBF readers, measured in one run on
# the same file.
#
#   bench/scan.sh [RECORDS]        (default 1000000)
#
# 1. Generates a deterministic CSV (NAME C20, CITY C30, AMOUNT N10.2, DAY D, FLAG L, QTY N6)
#    and loads it with `dbutool create` + `dbutool append --exclusive`, timed against the
#    sqlite3 shell importing the same CSV in one transaction.
# 2. Times a full export of the table to CSV (or the peer's own text form) into /dev/null:
#    dbutool list --csv, pgdbf, dbview -b -t, ogr2ogr -f CSV, python3-dbfread + csv, and cat
#    of the file as the floor of reading it at all.
# Each timing is the best of REPS runs (default 3) on a warm page cache. Results go to stdout
# and to bench/out/scan-<date>.txt. Peers come from `scripts/setup.sh bench`.
#
# Environment: DBUTOOL (a built dbutool; default: build it in build-bench/), REPS.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/bench/common.sh"
records="${1:-1000000}"
out_dir="$root/bench/out"
work="$out_dir/scan-data"
mkdir -p "$work"

ensure_dbutool

for tool in pgdbf dbview ogr2ogr sqlite3; do
  if ! command -v "$tool" >/dev/null; then
    echo "scan: $tool missing (scripts/setup.sh bench)" >&2
    exit 1
  fi
done

csv="$work/scan.csv"
table="$work/scan.dbf"
report="$out_dir/scan-$(date +%Y%m%d-%H%M%S).txt"

make_scan_csv "$records" "$csv"


create_table() {
  rm -f "$table"
  "$DBUTOOL" create "$table" NAME:C:20 CITY:C:30 AMOUNT:N:10:2 DAY:D:8 FLAG:L:1 QTY:N:6
  "$DBUTOOL" append "$table" --csv "$csv" --exclusive
}

sqlite_import() {
  rm -f "$work/scan.sqlite"
  sqlite3 "$work/scan.sqlite" \
    "CREATE TABLE scan(NAME TEXT, CITY TEXT, AMOUNT REAL, DAY TEXT, FLAG TEXT, QTY INTEGER)" \
    "BEGIN" ".import --csv --skip 1 $csv scan" "COMMIT"
}

# dbfread has no command-line front end: the few lines a user would write.
dbfread_csv() {
  /usr/bin/python3 - "$table" <<'EOF'
import csv, sys, dbfread
table = dbfread.DBF(sys.argv[1], encoding="cp1252")
out = csv.writer(sys.stdout)
out.writerow(table.field_names)
for record in table:
    out.writerow(record.values())
EOF
}


{
  echo "scan benchmark: $records records, best of $reps, $(date -u +%Y-%m-%dT%H:%M:%SZ)"
  echo "machine: $(nproc) CPUs, $(uname -srm), load $(cut -d' ' -f1 /proc/loadavg)"
  echo "ratio = time / dbutool's time (above 1: slower than dbutool)"
  echo

  t_create=$(best_of create_table)
  t_sqlite=$(best_of sqlite_import)
  rows=$("$DBUTOOL" info "$table" --json | sed -n 's/.*"records": \([0-9]*\).*/\1/p')
  sqlite_rows=$(sqlite3 "$work/scan.sqlite" "SELECT count(*) FROM scan")
  [[ "$rows" == "$records" && "$sqlite_rows" == "$records" ]] || {
    echo "scan: loaded $rows (dbutool) and $sqlite_rows (sqlite3) records, expected $records" >&2
    exit 1
  }
  echo "load $(du -h "$csv" | cut -f1) of CSV    seconds   ratio to dbutool"
  printf "  %-28s %7s   %s\n" "dbutool create + append" "$t_create" "1.00"
  printf "  %-28s %7s   %s\n" "sqlite3 .import (1 txn)" "$t_sqlite" \
    "$(ratio "$t_sqlite" "$t_create")"
  echo

  cat "$table" >/dev/null  # warm the page cache
  listed=$("$DBUTOOL" list "$table" --csv | wc -l)
  [[ "$listed" == $((records + 1)) ]] || { echo "scan: dbutool listed $listed lines" >&2; exit 1; }
  t_tool=$(best_of "$DBUTOOL" list "$table" --csv)
  t_cat=$(best_of cat "$table")
  t_pgdbf=$(best_of pgdbf "$table")
  t_dbview=$(best_of dbview -b -t "$table")
  t_ogr=$(best_of ogr2ogr -f CSV /vsistdout/ "$table")
  t_dbfread=$(best_of dbfread_csv)

  echo "export $(du -h "$table" | cut -f1) table        seconds   ratio to dbutool"
  printf "  %-28s %7s   %s\n" "dbutool list --csv" "$t_tool" "1.00"
  printf "  %-28s %7s   %s\n" "cat (floor)" "$t_cat" "$(ratio "$t_cat" "$t_tool")"
  printf "  %-28s %7s   %s\n" "pgdbf" "$t_pgdbf" "$(ratio "$t_pgdbf" "$t_tool")"
  printf "  %-28s %7s   %s\n" "dbview -b -t" "$t_dbview" "$(ratio "$t_dbview" "$t_tool")"
  printf "  %-28s %7s   %s\n" "ogr2ogr -f CSV" "$t_ogr" "$(ratio "$t_ogr" "$t_tool")"
  printf "  %-28s %7s   %s\n" "python3-dbfread + csv" "$t_dbfread" "$(ratio "$t_dbfread" "$t_tool")"
} | tee "$report"
echo "written to ${report#"$root"/}"
