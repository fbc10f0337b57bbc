#!/usr/bin/env bash
# Prints the snapshot JSON of one page: snapshot.sh PAGE.html [--url URL [--origin ORIGIN]...] [--out FILE]
# Installs Debian's chromium and the npm packages on first use.
set -euo pipefail
DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

if [ ! -x "${PAGESNAP_CHROMIUM:-/usr/bin/chromium}" ]; then
  echo "pagesnap: installing chromium" >&2
  as_root apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends chromium >&2
fi
if [ ! -d "$DIR/node_modules/playwright-core" ]; then
  echo "pagesnap: installing npm packages" >&2
  (cd "$DIR" && npm ci --no-audit --no-fund --silent) >&2
fi
exec node "$DIR/pagesnap.js" "$@"
