#!/usr/bin/env bash
# Configures and builds into build/ with Ninja and ccache.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# The cache lives outside the clone; base dir and no-hash-dir let a clone in
# another folder hit the same entries.
export CCACHE_DIR="${CCACHE_DIR:-/var/cache/qorcad-ccache}"
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"
mkdir -p "$CCACHE_DIR"

cmake -S "$root" -B "$root/build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build "$root/build" -j"${QOR_JOBS:-$(nproc)}"
