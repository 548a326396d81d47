#!/usr/bin/env bash
# The desktop files pass their validators, the man pages format without a warning, and the
# man page and the shell completion offer exactly the verbs tarvel-cli takes.
# usage: check_files.sh SOURCE_DIR TARVEL_CLI VERSION
set -euo pipefail
src=$1 cli=$2 version=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

desktop-file-validate "$src/packaging/tarvel.desktop"
appstreamcli validate --no-net "$src"/packaging/*.metainfo.xml
newest=$(grep -o -m1 '<release version="[^"]*"' "$src"/packaging/*.metainfo.xml | cut -d'"' -f2)
[ "$newest" = "$version" ] || fail "newest release in the metainfo is $newest, the project is $version"

for page in "$src"/packaging/man/*.1; do
  warnings=$(groff -ww -man -Tutf8 -z "$page" 2>&1; MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

# "verb" and "verb sub-verb" lines, sorted, from each source.
from_usage() {
  "$cli" --help | sed -n 's/^  \([a-z]\)/\1/p' | sed 's/  .*//' |
    awk '{ print $1; if ($2 ~ /^[a-z]+$/) print $1, $2 }' | sort -u
}
from_man() {
  awk '/^\.SH VERBS/ { inside = 1; next } /^\.SH/ { inside = 0 }
       inside && after_tp { gsub(/^\.BI? |"/, ""); print $1; if ($2 ~ /^[a-z]+$/) print $1, $2 }
       { after_tp = inside && /^\.TP/ }' "$src/packaging/man/tarvel-cli.1" | sort -u
}
from_completion() {
  # shellcheck disable=SC1091
  source "$src/packaging/bash-completion/tarvel-cli"
  COMP_WORDS=(tarvel-cli "") COMP_CWORD=1
  _tarvel_cli
  local verbs=("${COMPREPLY[@]}")
  for verb in "${verbs[@]}"; do
    echo "$verb"
    COMP_WORDS=(tarvel-cli "$verb" "") COMP_CWORD=2
    _tarvel_cli
    for sub in "${COMPREPLY[@]}"; do echo "$verb $sub"; done
  done | sort -u
}
usage=$(from_usage)
[ -n "$usage" ] || fail "no verbs in tarvel-cli --help"
diff <(echo "$usage") <(from_man) || fail "the verbs of tarvel-cli.1 (>) differ from tarvel-cli --help (<)"
diff <(echo "$usage") <(from_completion) || fail "the completion's verbs (>) differ from tarvel-cli --help (<)"
echo "desktop entry, metainfo, man pages and completion agree"
