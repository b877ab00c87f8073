#!/usr/bin/env bash
# Check benchmark: `dbutool check` of an NTX order and of a CDX tag against `dbutool index`
# building the same order, on tables of 1,000,000 and 10,000,000 records, with wall-clock time
# and peak memory (maximum resident set size from /usr/bin/time -v) of each, measured in one
# run.
#
#   bench/check.sh [RECORDS...]        (default 1000000 10000000)
#
# Goal: check within 3x of the build's time and under 100 MB at any table size. Tables are
# made once in bench/out/check-data (NAME C20 of deterministic names, AMOUNT N10.2) and kept.
# Each timing is the best of REPS runs (default 3) on a warm page cache. Results go to stdout
# and to bench/out/check-<date>.txt.
#
# Environment: DBUTOOL (a built dbutool; default: build it in build-bench/), REPS.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/bench/common.sh"
out_dir="$root/bench/out"
work="$out_dir/check-data"
mkdir -p "$work"
ensure_dbutool
[[ -x /usr/bin/time ]] || { echo "check: /usr/bin/time missing (apt-get install time)" >&2; exit 1; }
report="$out_dir/check-$(date +%Y%m%d-%H%M%S).txt"
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(1000000 10000000)

# The best wall time and the largest peak memory (kB) of $reps runs of a command.
measure() {
  local best="" peak=0 r t kb log="$work/time.log"
  for ((r = 0; r < reps; r++)); do
    /usr/bin/time -v -o "$log" "$@" >/dev/null
    t=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0;
          for (i = 1; i <= n; i++) s = s * 60 + p[i]; printf "%.3f", s }' "$log")
    kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$log")
    if [[ -z "$best" ]] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
    ((kb > peak)) && peak=$kb
  done
  echo "$best $peak"
}

{
  printf "%-10s %-11s %9s %9s   %s\n" records step seconds "peak MB" "check/index"
  for n in "${sizes[@]}"; do
    table="$work/t$n.dbf"
    if [[ ! -f "$table" ]]; then
      "$DBUTOOL" create "$table" NAME:C:20 AMOUNT:N:10:2 >/dev/null
      awk -v n="$n" 'BEGIN { print "NAME,AMOUNT"; seed = 20240229
        for (i = 1; i <= n; i++) { seed = (seed * 16807) % 2147483647
          printf "N%09d,%d.%02d\n", seed % 1000000000, seed % 100000, seed % 100 } }' \
        >"$work/t$n.csv"
      "$DBUTOOL" append "$table" --csv "$work/t$n.csv" --exclusive >/dev/null
      rm -f "$work/t$n.csv"
    fi
    cat "$table" >/dev/null
    for ext in ntx cdx; do
      bag="$work/t$n.$ext"
      if [[ $ext == ntx ]]; then
        driver=DBFNTX
        read -r ti mi < <(measure "$DBUTOOL" index "$table" "$bag" NAME)
      else
        # A tag goes into an existing CDX bag: each build starts without one.
        driver=DBFCDX
        read -r ti mi < <(measure sh -c 'rm -f "$1" && exec "$2" index "$3" "$1" NAME --tag NAME \
          --driver DBFCDX' _ "$bag" "$DBUTOOL" "$table")
      fi
      read -r tc mc < <(measure "$DBUTOOL" check "$table" "$bag" --driver "$driver")
      printf "%-10s %-11s %9s %9d\n" "$n" "$ext index" "$ti" $((mi / 1024))
      printf "%-10s %-11s %9s %9d   %s\n" "$n" "$ext check" "$tc" $((mc / 1024)) \
        "$(ratio "$tc" "$ti")"
    done
  done
} | tee "$report"
