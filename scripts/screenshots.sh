#!/usr/bin/env bash
# Redraws the pictures of README.md and docs/GUIDA.md with the program itself, on the sample
# tables, without a screen (Qt's offscreen platform). After a build:
#   scripts/screenshots.sh [BUILD-DIR [OUT-DIR]]     (defaults: build, docs/screenshots)
# The program runs from a scratch folder on a copy of the samples, with its own settings file
# there, so neither the tree nor the settings of the build change. The read-only picture needs
# a file system mounted read-only, so root: without it that picture is left as it is.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$root/docs/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)

# A fixed folder, so that the paths the dialogs show do not change from one run to the next.
work=${TMPDIR:-/tmp}/voskdbu-esempi
cleanup() {
  if mountpoint -q "$work/ro" 2>/dev/null; then umount "$work/ro"; fi
  rm -rf "$work"
}
cleanup
trap cleanup EXIT
mkdir -p "$work"
cp "$build/gui/voskdbu" "$work/"  # its settings file VOSKDBU.INI goes beside it
cp "$root"/samples/*.DBF "$root"/samples/*.DBT "$work/"
cd "$work"
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8

# The window's size for the next shots: [Parametri] of VOSKDBU.INI.
window() {  # window WIDTH HEIGHT
  printf '[Parametri]\nMaximized=No\nTop=0\nLeft=0\nWidth=%s\nHeight=%s\n' "$1" "$2" \
    >VOSKDBU.INI
}
# Fails when the picture is not written or the program finds a text cut in it.
shot() {  # shot FILE.png TABLE [SCENE]
  rm -f "$out/$1"
  local status=0
  ./voskdbu --screenshot "$out/$1" ${3:+--scene "$3"} "$2" 2>stderr.txt || status=$?
  if grep '^voskdbu:' stderr.txt | sed "s/^/$1: /" >&2; then return 1; fi
  if ((status != 0)) || [[ ! -s $out/$1 ]]; then
    echo "screenshots: $1 not written (status $status)" >&2
    return 1
  fi
}

window 800 500
shot main-window.png CLIENTI.DBF
# The dialogs: picture, table, scene.
while read -r png table scene; do
  shot "$png" "$table" "$scene"
done <<'EOF'
column-chooser.png CLIENTI.DBF vistacol
memo-editor.png ORDINI.DBF memo
structure-editor.png CLIENTI.DBF struttura
modprop.png CLIENTI.DBF modprop
index-dialog.png CLIENTI.DBF creaind
vaialrec.png CLIENTI.DBF vaialrec
cercacol.png CLIENTI.DBF cercacol
filtro.png CLIENTI.DBF filtro
sostval.png CLIENTI.DBF sostval
cancrec.png CLIENTI.DBF cancrec
copiatab.png CLIENTI.DBF copiatab
importarec.png CLIENTI.DBF importarec
password.png CLIENTI.DBF password
infos.png CLIENTI.DBF infos
EOF

# Tables the samples do not cover, written by an independent DBF library (Debian python3-dbf):
# a Visual FoxPro table with integer and currency columns, and a table marked Windows-1251.
/usr/bin/python3 - <<'EOF'
import datetime
import dbf

t = dbf.Table("ARTICOLI.DBF", "CODICE I; DESCR C(30); CONFEZ C(24); PREZZO Y; GIACENZA I; "
              "ORDINATI I; DATAAGG D; ATTIVO L", dbf_type="vfp", codepage="cp1252")
t.open(dbf.READ_WRITE)
for row in [
    (1, "Olio extravergine d'oliva", "6 bottiglie da 1 l", 54.9, 120, 0, (2024, 3, 1), True),
    (2, "Pasta di semola", "24 pacchi da 500 g", 21.6, 340, 100, (2024, 2, 12), True),
    (3, "Caffè in grani", "6 kg", 118.75, 18, 24, (2023, 11, 30), True),
    (4, "Parmigiano stagionato", "forma intera", 612.4, 4, 2, (2024, 1, 9), True),
    (5, "Aceto balsamico", "12 bottiglie da 250 ml", 89.1234, 36, 0, (2022, 6, 20), False),
    (6, "Riso Carnaroli", "10 sacchetti da 1 kg", 32.5, 75, 50, (2024, 3, 4), True),
]:
    t.append(row[:6] + (datetime.date(*row[6]), row[7]))
t.close()

t = dbf.Table("CITTA.DBF", "NOME C(20); ABITANTI N(9,0); NOTE C(12)", codepage="cp1251")
t.open(dbf.READ_WRITE)
for row in [("Москва", 12600000, "столица"), ("Санкт-Петербург", 5380000, "Нева"),
            ("Новосибирск", 1620000, "Сибирь"), ("Kazan", 1300000, "Tatarstan")]:
    t.append(row)
t.close()
EOF
window 640 512
shot cp1251.png CITTA.DBF
window 1180 320
shot visual-foxpro.png ARTICOLI.DBF

# A table on read-only media: a small tmpfs, remounted read-only.
mkdir ro
if [[ $(id -u) -eq 0 ]] && mount -t tmpfs -o size=1m tmpfs ro 2>/dev/null; then
  cp CLIENTI.DBF ro/
  mount -o remount,ro ro
  window 1180 320
  shot read-only.png ro/CLIENTI.DBF
else
  echo "screenshots: read-only.png left as it is (no read-only mount without root)" >&2
fi
echo "screenshots: written to $out"
