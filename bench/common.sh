# Helpers shared by the benchmark scripts (sourced, not run). Expects $root, the source tree.
#
#   ensure_dbutool     sets and exports DBUTOOL: the given one, or one built in build-bench/
#   best_of CMD...     the best wall-clock seconds of $reps runs of CMD (REPS, default 3)
#   ratio A B          A / B with two decimals

reps="${REPS:-3}"

ensure_dbutool() {
  if [[ -z "${DBUTOOL:-}" ]]; then
    cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DVOSK_BUILD_GUI=OFF -DVOSK_BUILD_TESTS=OFF >/dev/null
    cmake --build "$root/build-bench" --target dbutool >/dev/null
    DBUTOOL="$root/build-bench/cli/dbutool"
  fi
  export DBUTOOL
}

best_of() {
  local best="" t0 t1 t r
  for ((r = 0; r < reps; r++)); do
    t0=$(date +%s.%N)
    "$@" >/dev/null || { echo "$(basename "$0"): $* failed" >&2; return 1; }
    t1=$(date +%s.%N)
    t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
    if [[ -z "$best" ]] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
  done
  echo "$best"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
