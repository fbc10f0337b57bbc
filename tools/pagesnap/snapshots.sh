#!/usr/bin/env bash
# Regenerates the committed snapshot of every fixture page listed in tests/pages/pages.list
# ("PAGE.html URL" per line; frames and other files of a page are served from beside it).
set -euo pipefail
DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PAGES="$DIR/../../tests/pages"
while read -r page url; do
  case "$page" in ''|'#'*) continue ;; esac
  out="$PAGES/${page%.html}.json"
  echo "snapshot: $page as $url" >&2
  "$DIR/snapshot.sh" "$PAGES/$page" --url "$url" --out "$out"
done < "$PAGES/pages.list"
