#!/usr/bin/env bash
# Configures and builds into build/ with Ninja and ccache.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

source "$root/scripts/ccache-env.sh"

cmake -S "$root" -B "$root/build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build "$root/build" -j"${QOR_JOBS:-$(nproc)}"
