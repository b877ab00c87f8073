#!/usr/bin/env bash
# "cmake --install" into a scratch root, as a package would install: the files a user gets, the
# version of both programs, the desktop entry, the man pages, and an installed voskdbu started by
# an ordinary user that keeps its settings in the user's configuration folder.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
fail() { echo "install_test: $*" >&2; exit 1; }

DESTDIR="$scratch/root" cmake --install "$build" --prefix /usr >"$scratch/install.log" ||
  { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }
usr="$scratch/root/usr"

for f in bin/voskdbu bin/dbutool \
         share/applications/voskdbu.desktop \
         share/icons/hicolor/scalable/apps/voskdbu.svg \
         share/man/man1/voskdbu.1.gz share/man/man1/dbutool.1.gz \
         share/bash-completion/completions/dbutool \
         share/doc/voskdbu/README.md share/doc/voskdbu/screenshots/main-window.png; do
  [[ -s "$usr/$f" ]] || fail "missing $f"
done
for f in "$source"/docs/*.md; do  # the guides, whichever there are
  [[ -e "$f" ]] || continue
  cmp -s "$f" "$usr/share/doc/voskdbu/$(basename "$f")" || fail "guide $(basename "$f") not installed"
done
# The installed README's pictures are found beside it.
grep -o '](screenshots/[^)]*)' "$usr/share/doc/voskdbu/README.md" | sed 's/^](\(.*\))$/\1/' |
  while read -r png; do [[ -s "$usr/share/doc/voskdbu/$png" ]] || fail "README shows missing $png"; done

# One version, set in the top CMakeLists.txt.
version=$(sed -n 's/^project(voskdbu VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
[[ -n "$version" ]] || fail "no version in CMakeLists.txt"
[[ "$("$usr/bin/dbutool" --version)" == "dbutool (VOSK Software DBU) $version" ]] ||
  fail "dbutool --version: $("$usr/bin/dbutool" --version)"
[[ "$("$usr/bin/voskdbu" --version)" == "voskdbu (VOSK Software DBU) $version" ]] ||
  fail "voskdbu --version: $("$usr/bin/voskdbu" --version)"

# An option voskdbu does not know: one Italian line and the usage, status 2, no window.
set +e
mkdir -m 700 "$scratch/runtime"
XDG_RUNTIME_DIR="$scratch/runtime" QT_QPA_PLATFORM=offscreen "$usr/bin/voskdbu" --codepage 850 >/dev/null 2>"$scratch/err"
status=$?
set -e
[[ $status -eq 2 && "$(head -n 1 "$scratch/err")" == "voskdbu: opzione sconosciuta --codepage" ]] ||
  fail "voskdbu --codepage: status $status, $(cat "$scratch/err")"
sed -n 2p "$scratch/err" | grep -q '^uso: voskdbu ' || fail "voskdbu error without usage"

desktop="$usr/share/applications/voskdbu.desktop"
desktop-file-validate "$desktop" || fail "desktop entry not valid"
grep -qx 'MimeType=application/x-dbf;' "$desktop" || fail "desktop entry without the DBF type"
grep -qx 'Exec=voskdbu %f' "$desktop" || fail "desktop entry does not pass the file"
# The type is the one the system's MIME database gives to .dbf files.
if [[ -r /usr/share/mime/packages/freedesktop.org.xml ]]; then
  grep -q '<mime-type type="application/x-dbf">' /usr/share/mime/packages/freedesktop.org.xml ||
    fail "application/x-dbf unknown to shared-mime-info"
fi
python3 -c 'import sys, xml.dom.minidom as m; m.parse(sys.argv[1])' \
  "$usr/share/icons/hicolor/scalable/apps/voskdbu.svg" || fail "icon is not well-formed SVG"

# Each man page renders without a warning of groff or man.
for page in "$usr"/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [[ -z "$warnings" ]] || fail "$(basename "$page"): $warnings"
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "$version" ||
    fail "$(basename "$page") does not name version $version"
done

# An installed voskdbu started by an ordinary user cannot write beside its executable: it keeps
# VOSKDBU.INI in $XDG_CONFIG_HOME/voskdbu/. (Run as nobody when the test runs as root.)
home="$scratch/home"
mkdir -p "$home"
cp "$source/samples/CLIENTI.DBF" "$home/"
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  chown -R nobody:nogroup "$home"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
[[ -w "$usr/bin" && ${#as_user[@]} -eq 0 ]] && chmod a-w "$usr/bin"
"${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/cfg" \
    XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=offscreen \
    timeout 60 "$usr/bin/voskdbu" --screenshot "$home/shot.png" "$home/CLIENTI.DBF" >"$scratch/run.log" 2>&1 ||
  { cat "$scratch/run.log" >&2; fail "installed voskdbu did not start"; }
[[ -s "$home/shot.png" ]] || fail "installed voskdbu drew no window"
[[ -s "$home/cfg/voskdbu/VOSKDBU.INI" ]] || fail "no settings in \$XDG_CONFIG_HOME/voskdbu"
grep -q 'CLIENTI.DBF' "$home/cfg/voskdbu/VOSKDBU.INI" || fail "the opened table is not in the settings"
[[ ! -e "$usr/bin/VOSKDBU.INI" ]] || fail "settings written beside the installed program"
echo "install_test: ok ($version)"
