#!/usr/bin/env bash
# Installs what is missing, builds and starts QorCAD; arguments go to the program.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"
exec "$root/build/qorcad" "$@"
