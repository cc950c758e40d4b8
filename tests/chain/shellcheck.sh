#!/usr/bin/env bash
# Every shell script of the source tree (every file whose first line starts
# it with bash or sh, outside build folders) is clean under shellcheck, and
# so is every golden case's `run` fragment (bash, without a first line of
# its own; the files it sources are followed from its folder). The
# fragments list folders of names they made themselves with ls (SC2012).
#
#   bash tests/chain/shellcheck.sh SOURCEDIR
set -u
src=$(cd "$1" && pwd)
command -v shellcheck >/dev/null 2>&1 || { echo "skipped: shellcheck is missing (apt-get install shellcheck)"; exit 77; }
scripts=()
while IFS= read -r -d '' f; do
  IFS= read -r first <"$f" 2>/dev/null || continue
  [[ $first =~ ^#!.*[/\ ](ba)?sh([[:space:]]|$) ]] && scripts+=("$f")
done < <(find "$src" \( -name .git -o -name 'build*' -o -name demo-out \) -prune -o -type f -print0 | sort -z)
[ ${#scripts[@]} -gt 0 ] || { echo "no scripts found under $src"; exit 1; }
printf 'checking %s\n' "${scripts[@]#"$src"/}"
status=0
shellcheck -x "${scripts[@]}" || status=1
fragments=()
while IFS= read -r -d '' f; do fragments+=("$f"); done < <(find "$src/tests" -path '*/cases/*/run' -type f -print0 | sort -z)
[ ${#fragments[@]} -gt 0 ] || { echo "no golden case fragments found under $src/tests"; exit 1; }
echo "checking ${#fragments[@]} golden case fragments"
shellcheck -s bash -x -P SCRIPTDIR -e SC2012 "${fragments[@]}" || status=1
exit $status
