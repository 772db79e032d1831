#!/usr/bin/env bash
# Installs what building and testing need, from Debian 12's packages and the
# npm registry. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(g++ cmake ninja-build ccache pkg-config libboost1.81-dev nlohmann-json3-dev libsqlite3-dev sqlite3
          libgtest-dev libgmock-dev libbenchmark-dev git hostname curl wrk)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Node.js may come from elsewhere than Debian; only install it when absent.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ "${1:-}" = "--with-interop" ]; then
  here="$(cd "$(dirname "$0")/.." && pwd)"
  (cd "$here/tests/interop" && npm ci --no-audit --no-fund --loglevel=error)
fi
