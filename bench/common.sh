# Helpers shared by the benchmark scripts (sourced, not run). Expects $root, the source tree.
#
#   ensure_dbutool     sets and exports DBUTOOL: the given one, or one built in build-bench/
#   build_gui_bench T  builds the benchmark program T (which links the window) in
#                      build-bench-gui/ and prints its path
#   best_of CMD...     the best wall-clock seconds of $reps runs of CMD (REPS, default 3)
#   ratio A B          A / B with two decimals
#   make_scan_csv N F  writes the deterministic N-row CSV of the scan table to F

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

build_gui_bench() {
  cmake -S "$root" -B "$root/build-bench-gui" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DVOSK_BUILD_TESTS=OFF >/dev/null
  cmake --build "$root/build-bench-gui" --target "$1" >/dev/null
  echo "$root/build-bench-gui/bench/$1"
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

make_scan_csv() {
  # Deterministic data: a Park-Miller generator (products stay below 2^53, so every awk
  # computes the same sequence).
  awk -v n="$1" 'BEGIN {
    seed = 20240229
    nc = split("Roma Milano Napoli Torino Palermo Genova Bologna Firenze Bari Catania Venezia Verona Messina Padova Trieste Forlì", city, " ")
    ns = split("Rossi Russo Ferrari Esposito Bianchi Romano Colombo Ricci Marino Greco Bruno Gallo Conti Mancini Costa Giordano Rizzo Lombardi Moretti Barbieri Fontana Santoro Mariani Rinaldi Caruso Ferrara Galli Martini Leone Longo Gentile Martinelli Vitale Lombardo Serra Coppola Marchetti Parisi Villa Conte Ferraro Ferri Fabbri Bianco Marini Grasso Valentini Sala Gatti Pellegrini", surname, " ")
    print "NAME,CITY,AMOUNT,DAY,FLAG,QTY"
    for (i = 1; i <= n; i++) {
      seed = (seed * 16807) % 2147483647; a = seed
      seed = (seed * 16807) % 2147483647; b = seed
      seed = (seed * 16807) % 2147483647; c = seed
      seed = (seed * 16807) % 2147483647; d = seed
      name = surname[a % ns + 1] " " (a % 9973)
      if (a % 10 == 0) name = name " é"
      amount = (b % 110000000 - 10000000) / 100
      day = sprintf("%04d-%02d-%02d", 1950 + c % 100, 1 + int(c / 100) % 12, 1 + int(c / 1200) % 28)
      flag = d % 3 == 0 ? "" : (d % 3 == 1 ? "T" : "F")
      qty = d % 1099999 - 99999
      printf "%s,%s,%.2f,%s,%s,%d\n", name, city[b % nc + 1], amount, day, flag, qty
    }
  }' > "$2"
}
