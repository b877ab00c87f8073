#!/usr/bin/env bash
# scripts/screenshots.sh draws every picture that README.md and docs/*.md show, and every scene
# that voskdbu offers, as a PNG of a dialog's or window's size with something drawn in it.
#   screenshots_test.sh BUILD-DIR SOURCE-DIR
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
out=$scratch/out
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Its own scratch folder, beside no other run's.
TMPDIR=$scratch "$source/scripts/screenshots.sh" "$build" "$out" 2>"$scratch/log" ||
  fail "screenshots.sh: $(cat "$scratch/log")"
cat "$scratch/log"

# Every scene of the program is one of the pictures.
scenes=$("$build/gui/voskdbu" --help | sed -n 's/^scene: //p')
[[ -n $scenes ]] || fail "voskdbu --help lists no scene"
for scene in $scenes; do
  grep -qE "^[a-z0-9-]+\.png [A-Z]+\.DBF $scene\$" "$source/scripts/screenshots.sh" ||
    fail "scene $scene is drawn by no picture of screenshots.sh"
done

# A scene the program does not know, or one without a picture to draw, is refused before any
# window opens.
for args in "--screenshot $scratch/x.png --scene nessuna" "--scene filtro"; do
  status=0
  # shellcheck disable=SC2086
  QT_QPA_PLATFORM=offscreen "$build/gui/voskdbu" $args "$source/samples/CLIENTI.DBF" \
    >/dev/null 2>"$scratch/err" || status=$?
  ((status == 2)) || fail "voskdbu $args: status $status"
  grep -q '^uso: voskdbu' "$scratch/err" || fail "voskdbu $args: no usage on stderr"
  [[ ! -e $scratch/x.png ]] || fail "voskdbu $args drew a picture"
done

# A scene whose command opens no dialog (no other table to import from) says so and fails.
mkdir "$scratch/lone"
cp "$source/samples/CLIENTI.DBF" "$scratch/lone/"
cp "$build/gui/voskdbu" "$scratch/lone/"  # its settings file beside it, not the build's
status=0
(cd "$scratch/lone" && QT_QPA_PLATFORM=offscreen ./voskdbu --screenshot "$scratch/x.png" \
  --scene importarec CLIENTI.DBF >/dev/null 2>"$scratch/err") || status=$?
((status == 1)) || fail "importarec with no other table: status $status"
grep -q 'non ha aperto la sua finestra' "$scratch/err" || fail "importarec: $(cat "$scratch/err")"
[[ ! -e $scratch/x.png ]] || fail "importarec with no other table drew a picture"

# PNG width and height, from the IHDR chunk.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}'; }

shopt -s nullglob
pages=("$source/README.md" "$source"/docs/*.md)
pictures=$(cat "${pages[@]}" |
           grep -o '](\(docs/\)\?screenshots/[^)]*\.png)' | sed 's#.*screenshots/\(.*\))#\1#' | sort -u)
[[ -n $pictures ]] || fail "no picture found in ${pages[*]}"
for png in $pictures; do
  if [[ $png == read-only.png ]] && grep -q "read-only.png left" "$scratch/log"; then
    continue  # no read-only mount could be made here
  fi
  f=$out/$png
  [[ -s $f ]] || fail "$png not drawn"
  [[ $(od -An -tx1 -N8 "$f" | tr -d ' ') == 89504e470d0a1a0a ]] || fail "$png is not a PNG"
  read -r width height < <(png_size "$f")
  ((width >= 120 && width <= 1600 && height >= 50 && height <= 1000)) ||
    fail "$png is ${width}x${height}"
  # A blank picture of that size compresses to a few hundred bytes.
  (($(stat -c %s "$f") > 1500)) || fail "$png holds nearly nothing ($(stat -c %s "$f") bytes)"
done
echo "screenshots: $(wc -w <<<"$pictures") pictures, scenes: $scenes"
