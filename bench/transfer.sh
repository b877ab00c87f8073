#!/usr/bin/env bash
# Record transfer benchmark of dbutool copy and import against peers, measured in one run.
#
#   bench/transfer.sh [RECORDS] [BIG_RECORDS]      (default 1000000 and 10000000)
#
# The tables are the scan benchmark's (NAME C20, CITY C30, AMOUNT N10.2, DAY D, FLAG L,
# QTY N6), loaded with dbutool create + append --exclusive.
# 1. BIG_RECORDS: dbutool copy to DBF (whole records) against cp of the file (goal: within 3x),
#    and against cp followed by an fsync of the copy (dbutool commits the table it wrote).
#    BIG_RECORDS=0 skips it.
# 2. RECORDS: dbutool copy to SDF and to CSV against pgdbf (goal: faster); copy to SQLite
#    against the sqlite3 shell importing the same data as CSV in one transaction (goal: within
#    1.5x); dbutool import of the SDF and the CSV file back into an empty table (exclusive)
#    against that same sqlite3 import (goal: faster).
# Each timing is the best of REPS runs (default 3) on a warm page cache. Results go to stdout
# and to bench/out/transfer-<date>.txt. Peers come from `scripts/setup.sh bench`.
#
# Environment: DBUTOOL (a built dbutool; default: build it in build-bench/), REPS.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/bench/common.sh"
records="${1:-1000000}"
big_records="${2:-10000000}"
out_dir="$root/bench/out"
work="$out_dir/transfer-data"
mkdir -p "$work"

ensure_dbutool

for tool in pgdbf sqlite3; do
  if ! command -v "$tool" >/dev/null; then
    echo "transfer: $tool missing (scripts/setup.sh bench)" >&2
    exit 1
  fi
done

fields=(NAME:C:20 CITY:C:30 AMOUNT:N:10:2 DAY:D:8 FLAG:L:1 QTY:N:6)
report="$out_dir/transfer-$(date +%Y%m%d-%H%M%S).txt"

# make_table N FILE: the scan table of N records.
make_table() {
  local csv="$work/load.csv"
  make_scan_csv "$1" "$csv"
  rm -f "$2"
  "$DBUTOOL" create "$2" "${fields[@]}"
  "$DBUTOOL" append "$2" --csv "$csv" --exclusive
  rm -f "$csv"
}

table="$work/transfer.dbf"
big="$work/big.dbf"
make_table "$records" "$table"
if ((big_records > 0)); then make_table "$big_records" "$big"; fi

copy_dbf() { rm -f "$work/copy.dbf"; "$DBUTOOL" copy "$big" "$work/copy.dbf"; }
cp_dbf() { rm -f "$work/cp.dbf"; cp "$big" "$work/cp.dbf"; }
# dbutool commits the new table to the disk when it closes it (the hard-commit setting); cp
# followed by an fsync of its copy does the same work.
cp_sync_dbf() { cp_dbf; sync "$work/cp.dbf"; }
copy_sdf() { "$DBUTOOL" copy "$table" "$work/out.txt"; }
copy_csv() { "$DBUTOOL" copy "$table" "$work/out.csv"; }
pgdbf_sql() { pgdbf "$table" > "$work/pgdbf.sql"; }
copy_sqlite() { rm -f "$work/out.sqlite"; "$DBUTOOL" copy "$table" "$work/out.sqlite"; }
sqlite_import() {
  rm -f "$work/peer.sqlite"
  sqlite3 "$work/peer.sqlite" \
    "CREATE TABLE transfer(NAME TEXT, CITY TEXT, AMOUNT REAL, DAY TEXT, FLAG INTEGER, QTY INTEGER)" \
    "BEGIN" ".import --csv --skip 1 $work/out.csv transfer" "COMMIT"
}
empty_table() { rm -f "$work/back.dbf"; "$DBUTOOL" create "$work/back.dbf" "${fields[@]}"; }
import_sdf() { empty_table; "$DBUTOOL" import "$work/back.dbf" "$work/out.txt" --exclusive; }
import_csv() { empty_table; "$DBUTOOL" import "$work/back.dbf" "$work/out.csv" --exclusive; }

check_count() {
  local n
  n=$("$DBUTOOL" info "$1" --json | sed -n 's/.*"records": \([0-9]*\).*/\1/p')
  [[ "$n" == "$2" ]] || { echo "transfer: $1 holds $n records, expected $2" >&2; exit 1; }
}

{
  echo "transfer benchmark: $records records ($big_records for DBF), best of $reps, $(date -u +%Y-%m-%dT%H:%M:%SZ)"
  echo "machine: $(nproc) CPUs, $(uname -srm), load $(cut -d' ' -f1 /proc/loadavg)"
  echo "ratio = peer's time / dbutool's time (above 1: dbutool is faster)"
  echo
  if ((big_records > 0)); then
    cat "$big" >/dev/null
    t_copy=$(best_of copy_dbf)
    check_count "$work/copy.dbf" "$big_records"
    cmp -s <(tail -c +33 "$big") <(tail -c +33 "$work/copy.dbf") ||
      echo "  (note: the copy differs from the original past the header)"
    t_cp=$(best_of cp_dbf)
    t_cp_sync=$(best_of cp_sync_dbf)
    echo "copy $(du -h "$big" | cut -f1) table to DBF   seconds   ratio (goal: 0.33 or more)"
    printf "  %-28s %7s   %s\n" "dbutool copy" "$t_copy" "1.00"
    printf "  %-28s %7s   %s\n" "cp" "$t_cp" "$(ratio "$t_cp" "$t_copy")"
    printf "  %-28s %7s   %s\n" "cp + fsync of the copy" "$t_cp_sync" "$(ratio "$t_cp_sync" "$t_copy")"
    echo
    rm -f "$work/cp.dbf" "$work/copy.dbf"
  fi

  cat "$table" >/dev/null
  t_sdf=$(best_of copy_sdf)
  t_csv=$(best_of copy_csv)
  t_pgdbf=$(best_of pgdbf_sql)
  t_sqlite=$(best_of copy_sqlite)
  t_peer=$(best_of sqlite_import)
  [[ $(sqlite3 "$work/out.sqlite" "SELECT count(*) FROM transfer") == "$records" ]] ||
    { echo "transfer: the SQLite copy lacks records" >&2; exit 1; }
  t_isdf=$(best_of import_sdf)
  check_count "$work/back.dbf" "$records"
  t_icsv=$(best_of import_csv)
  check_count "$work/back.dbf" "$records"

  echo "copy $(du -h "$table" | cut -f1) table            seconds   ratio"
  printf "  %-28s %7s   %s\n" "dbutool copy to SDF" "$t_sdf" "$(ratio "$t_pgdbf" "$t_sdf") (pgdbf; goal: above 1)"
  printf "  %-28s %7s   %s\n" "dbutool copy to CSV" "$t_csv" "$(ratio "$t_pgdbf" "$t_csv") (pgdbf; goal: above 1)"
  printf "  %-28s %7s\n" "pgdbf" "$t_pgdbf"
  printf "  %-28s %7s   %s\n" "dbutool copy to SQLite" "$t_sqlite" "$(ratio "$t_peer" "$t_sqlite") (sqlite3 .import; goal: 0.67 or more)"
  printf "  %-28s %7s\n" "sqlite3 .import of the CSV" "$t_peer"
  echo
  echo "import $records records       seconds   ratio"
  printf "  %-28s %7s   %s\n" "dbutool import SDF" "$t_isdf" "$(ratio "$t_peer" "$t_isdf") (sqlite3 .import; goal: above 1)"
  printf "  %-28s %7s   %s\n" "dbutool import CSV" "$t_icsv" "$(ratio "$t_peer" "$t_icsv") (sqlite3 .import; goal: above 1)"
} | tee "$report"
echo "written to ${report#"$root"/}"
