#!/usr/bin/env bash
# Checks an installed varnika package (CI runs it after
# "apt-get install ./build/varnika_*.deb"): the programs from PATH, the
# files the package holds, the validators, and the bash completion.
#   packaging/check_installed.sh FIXTURE.mdb
set -euo pipefail
fixture=$1
fail() { echo "check_installed: $*" >&2; exit 1; }

varnika-db --version
[ "$(command -v varnika-db)" = /usr/bin/varnika-db ] || fail "varnika-db is not the installed one"
[ -x /usr/bin/varnika ] || fail "no /usr/bin/varnika"
varnika-db tables "$fixture"
[ -n "$(varnika-db tables "$fixture")" ] || fail "no tables listed"

for f in /usr/share/applications/varnika.desktop /usr/share/man/man1/varnika.1.gz /usr/share/man/man1/varnika-db.1.gz \
         /usr/share/bash-completion/completions/varnika-db /usr/share/icons/hicolor/16x16/apps/varnika.png \
         /usr/share/icons/hicolor/48x48/apps/varnika.png /usr/share/icons/hicolor/256x256/apps/varnika.png \
         /usr/share/icons/hicolor/scalable/apps/varnika.svg; do
  [ -s "$f" ] || fail "$f is missing"
done
desktop-file-validate /usr/share/applications/varnika.desktop
appstreamcli validate --no-net $(dpkg -L varnika | grep "/metainfo/.*\.metainfo\.xml$")
dpkg-query -W -f='${Depends}\n' varnika | grep -q libqt6widgets6 || fail "Depends does not name Qt"

# Every command and option of the tool is in its manual page.
page=$(zcat /usr/share/man/man1/varnika-db.1.gz | sed 's/\\-/-/g')
for word in $(varnika-db --help | awk '/^  [a-z]/ {print $1}') $(for c in export replace titlecase delete-all create; do
               varnika-db "$c" --help | grep -o -- '--[a-z][a-z0-9-]*'; done | sort -u); do
  grep -q -- "$word" <<<"$page" || fail "varnika-db.1 does not mention $word"
done

# The completion offers commands, options and the file's tables.
complete_words() {
  bash -c 'source /usr/share/bash-completion/completions/varnika-db
           COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _varnika_db; printf "%s\n" "${COMPREPLY[@]}"' sh "$@"
}
complete_words varnika-db ex | grep -qx export || fail "completion: no command"
complete_words varnika-db replace "$fixture" --dry | grep -qx -- --dry-run || fail "completion: no option"
first_table=$(varnika-db tables "$fixture" | head -n 1)
complete_words varnika-db replace "$fixture" --table "" | grep -qx "$first_table" || fail "completion: no table"
echo "check_installed: the package is sound"
