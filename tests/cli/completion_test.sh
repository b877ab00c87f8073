#!/usr/bin/env bash
# The bash completion that dbutool writes, loaded into bash with the bash-completion library
# and asked as the shell asks at a Tab: commands, options, option values, and table and index
# file names by their extension at each argument's place.
#   completion_test.sh DBUTOOL
set -uo pipefail
dbutool=$1
library=/usr/share/bash-completion/bash_completion
if [[ ! -r $library ]]; then
  echo "completion_test: bash-completion not installed" >&2
  exit 77
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$dbutool" --bash-completion >"$scratch/dbutool.bash" || { echo "no completion script" >&2; exit 1; }
mkdir "$scratch/files" "$scratch/files/sub"
touch "$scratch/files/"{a.dbf,B.DBF,c.ntx,d.CDX,e.csv,f.txt}

# shellcheck disable=SC1090
source "$library"
source "$scratch/dbutool.bash"
cd "$scratch/files" || exit 1

# The words offered for a command line whose last word is being completed, sorted, one line.
offered() {
  local line="$1"
  COMP_LINE=$line
  COMP_POINT=${#line}
  read -r -a COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _dbutool dbutool "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

failures=0
check() {
  local got
  got=$(offered "$1")
  if [[ "$got" != "$2" ]]; then
    echo "completion_test: '$1': offered [$got], expected [$2]" >&2
    failures=$((failures + 1))
  fi
}

check "dbutool li" "list"
check "dbutool re" "reindex restructure"
check "dbutool --v" "--version"
check "dbutool list " "B.DBF a.dbf sub"
check "dbutool list a.dbf --fi" "--fields"
check "dbutool list a.dbf --index " "c.ntx d.CDX sub"
check "dbutool list a.dbf --index=" "c.ntx d.CDX sub"
check "dbutool list a.dbf --for " ""
check "dbutool list a.dbf --driver DBFC" "DBFCDX"
check "dbutool seek a.dbf " "c.ntx d.CDX sub"
check "dbutool seek --tag T a.dbf " "c.ntx d.CDX sub"
check "dbutool seek a.dbf c.ntx --keys " "B.DBF a.dbf c.ntx d.CDX e.csv f.txt sub"
check "dbutool index a.dbf c.ntx " ""
check "dbutool append a.dbf --csv " "e.csv sub"
check "dbutool append a.dbf --e" "--exclusive"
check "dbutool create x.dbf --kind " "db3 db4 vfp"
check "dbutool create x.dbf --kind=v" "vfp"
check "dbutool create x.dbf --memo " "DBT FPT"
check "dbutool create x.dbf NAME:C:10 " ""
check "dbutool eval a.dbf --r" "--recno"
check "dbutool check a.dbf " "c.ntx d.CDX sub"
check "dbutool pack --p" "--password"
if ((failures)); then exit 1; fi
echo "completion_test: ok"
