#!/usr/bin/env bash
# "cpack -G DEB" from the build tree: the package's contents, its version and the dependencies
# computed from the binaries; the programs unpacked from it run.
#   deb_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "deb_test: $*" >&2; exit 1; }

cpack -G DEB -B "$scratch" --config "$build/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
version=$(sed -n 's/^project(voskdbu VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
deb="$scratch/voskdbu_${version}_$(dpkg --print-architecture).deb"
[[ -s "$deb" ]] || fail "no $(basename "$deb") in: $(ls "$scratch")"

[[ "$(dpkg-deb --field "$deb" Package)" == voskdbu ]] || fail "package name"
[[ "$(dpkg-deb --field "$deb" Version)" == "$version" ]] || fail "package version"
depends=$(dpkg-deb --field "$deb" Depends)
names=$(sed -e 's/ ([^)]*)//g' -e 's/, /\n/g' <<<"$depends")
for dep in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
  grep -qxF "$dep" <<<"$names" || fail "Depends lacks $dep: $depends"
done

dpkg-deb --contents "$deb" >"$scratch/contents"
for f in usr/bin/voskdbu usr/bin/dbutool usr/share/applications/voskdbu.desktop \
         usr/share/icons/hicolor/scalable/apps/voskdbu.svg \
         usr/share/man/man1/voskdbu.1.gz usr/share/man/man1/dbutool.1.gz \
         usr/share/bash-completion/completions/dbutool usr/share/doc/voskdbu/README.md; do
  grep -q " \./$f\$" "$scratch/contents" || fail "package lacks /$f"
done
# Owned by root, programs executable by all, nothing else executable.
awk '$2 != "root/root" { print; bad = 1 } END { exit bad }' "$scratch/contents" ||
  fail "files not owned by root"
grep -E '^-rwxr-xr-x .* \./usr/bin/(voskdbu|dbutool)$' "$scratch/contents" | wc -l | grep -qx 2 ||
  fail "programs not mode 755"
! grep -E '^-..x.* \./usr/share/' "$scratch/contents" || fail "executable data files"

dpkg-deb -x "$deb" "$scratch/x"
[[ "$("$scratch/x/usr/bin/dbutool" --version)" == "dbutool (VOSK Software DBU) $version" ]] ||
  fail "unpacked dbutool --version"
echo "deb_test: ok ($(basename "$deb"); Depends: $depends)"
