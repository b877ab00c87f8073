#!/usr/bin/env bash
# Memo benchmark: writing and then reading memos in a Visual FoxPro table with an FPT file,
# dbutool against python3-dbf doing the same in one run on the same data.
#
#   bench/memo.sh [MEMOS]        (default 100000)
#
# The data: MEMOS records (NAME C10, NOTE M4), each memo 200 to 4,000 bytes of printable text
# from a deterministic generator, in a CSV file.
# 1. Write: dbutool create + append --exclusive from the CSV, against python3-dbf creating the
#    same table and appending the same rows.
# 2. Read: both sides read every record of the same table (the one dbutool wrote) and write it
#    whole as CSV (NAME and NOTE, header row, CR LF, quoted where needed) to /dev/null:
#    dbutool list --csv against python3-dbf with Python's csv module. The two outputs are
#    compared byte for byte; the run fails when they differ.
# Each side also reads the other's table once, to the same total memo length. Each timing is
# the best of REPS runs (default 3). Results go to stdout and to bench/out/memo-<date>.txt.
#
# Environment: DBUTOOL (a built dbutool; default: build it in build-bench/), REPS.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/bench/common.sh"
memos="${1:-100000}"
out_dir="$root/bench/out"
work="$out_dir/memo-data"
mkdir -p "$work"
py=/usr/bin/python3

ensure_dbutool
"$py" -c 'import dbf' 2>/dev/null || { echo "memo: python3-dbf missing (scripts/setup.sh bench)" >&2; exit 1; }

csv="$work/memo.csv"
report="$out_dir/memo-$(date +%Y%m%d-%H%M%S).txt"

# Deterministic memos: a Park-Miller generator picks each length and a text offset.
"$py" - "$memos" "$csv" <<'PY'
import sys
n, path = int(sys.argv[1]), sys.argv[2]
alphabet = ''.join(chr(c) for c in range(32, 127) if chr(c) not in '",')
pool = (alphabet * 100)
seed = 20240229
with open(path, 'w', newline='') as f:
    f.write('NAME,NOTE\r\n')
    for i in range(n):
        seed = seed * 16807 % 2147483647
        length = 200 + seed % 3801
        seed = seed * 16807 % 2147483647
        start = seed % (len(pool) - 4001)
        f.write('R%09d,%s\r\n' % (i, pool[start:start + length]))
PY

peer="$work/peer.py"
cat >"$peer" <<'PY'
import csv, sys, dbf
mode, table = sys.argv[1], sys.argv[2]
if mode == 'write':
    t = dbf.Table(table, 'name C(10); note M', dbf_type='vfp', codepage='cp1252')
    t.open(dbf.READ_WRITE)
    with open(sys.argv[3], newline='') as f:
        r = csv.reader(f)
        next(r)
        for name, note in r:
            t.append((name, note))
    t.close()
elif mode == 'csv':
    # The listing dbutool writes: names and text as UTF-8, trailing blanks of character fields
    # dropped, deleted records left out.
    out = open(sys.stdout.fileno(), 'w', encoding='utf-8', newline='', buffering=1 << 20,
               closefd=False)
    t = dbf.Table(table, codepage='cp1252')
    t.open(dbf.READ_ONLY)
    w = csv.writer(out, lineterminator='\r\n')
    w.writerow([name.upper() for name in t.field_names])
    for rec in t:
        if dbf.is_deleted(rec):
            continue
        w.writerow([rec['name'].rstrip(' '), rec['note']])
    t.close()
    out.flush()
else:
    t = dbf.Table(table, codepage='cp1252')
    t.open(dbf.READ_ONLY)
    total = 0
    for rec in t:
        total += len(rec['note'])
    t.close()
    print(total)
PY


ours="$work/ours.dbf"
theirs="$work/theirs.dbf"
write_ours() {
  rm -f "$ours" "${ours%.dbf}.fpt"
  "$DBUTOOL" create "$ours" NAME:C:10 NOTE:M:4 --kind vfp --memo FPT
  "$DBUTOOL" append "$ours" --csv "$csv" --exclusive
}
write_theirs() {
  rm -f "$theirs" "${theirs%.dbf}.fpt"
  "$py" "$peer" write "$theirs" "$csv"
}

t_write_ours=$(best_of write_ours)
t_write_theirs=$(best_of write_theirs)
# Like for like: the same table read and listed whole by both sides, to the same bytes.
"$DBUTOOL" list "$ours" --csv >"$work/ours.csv"
"$py" "$peer" csv "$ours" >"$work/theirs.csv"
cmp -s "$work/ours.csv" "$work/theirs.csv" || {
  echo "memo: the two listings differ: $(cmp "$work/ours.csv" "$work/theirs.csv" 2>&1)" >&2; exit 1; }
rm -f "$work/ours.csv" "$work/theirs.csv"
t_read_ours=$(best_of "$DBUTOOL" list "$ours" --csv)
t_read_theirs=$(best_of "$py" "$peer" csv "$ours")

# Cross-check: each side reads the other's table to the same total memo length.
ours_total=$("$DBUTOOL" list "$theirs" --csv --fields NOTE | tail -n +2 | tr -d '\r\n' | wc -c)
theirs_total=$("$py" "$peer" read "$ours")
csv_total=$(tail -n +2 "$csv" | cut -d, -f2- | tr -d '\r\n' | wc -c)

{
  echo "memo benchmark, $(date -Is), $memos memos of 200-4000 bytes, best of $reps"
  echo "memo file sizes: ours $(stat -c %s "${ours%.dbf}.fpt") bytes, python3-dbf $(stat -c %s "${theirs%.dbf}.fpt") bytes"
  printf '%-28s %10s %10s %8s\n' "" "dbutool" "python3-dbf" "ratio"
  printf '%-28s %10.3f %10.3f %8.1f\n' "write (create + append)" "$t_write_ours" "$t_write_theirs" \
         "$(ratio "$t_write_theirs" "$t_write_ours")"
  printf '%-28s %10.3f %10.3f %8.1f\n' "read + list as CSV" "$t_read_ours" "$t_read_theirs" \
         "$(ratio "$t_read_theirs" "$t_read_ours")"
  echo "memo bytes: csv $csv_total, dbutool reading python3-dbf's table $ours_total, python3-dbf reading ours $theirs_total"
} | tee "$report"
