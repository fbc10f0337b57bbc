#!/usr/bin/env bash
# Regenerates the committed snapshot of every fixture page listed in tests/pages/pages.list
# ("PAGE.html URL [--origin ORIGIN]..." per line; frames and other files of a page are served from
# beside it, also under each named origin).
set -euo pipefail
DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PAGES="$DIR/../../tests/pages"
while read -r page url rest; do
  case "$page" in ''|'#'*) continue ;; esac
  out="$PAGES/${page%.html}.json"
  read -r -a origins <<<"$rest"
  echo "snapshot: $page as $url${rest:+ $rest}" >&2
  "$DIR/snapshot.sh" "$PAGES/$page" --url "$url" "${origins[@]}" --out "$out"
done < "$PAGES/pages.list"
