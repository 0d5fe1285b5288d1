#!/usr/bin/env bash
# Time from process start to the first painted frame of the 3D view, and to the frame that
# shows the document given on the command line, under Xvfb with software OpenGL.
#   bash bench/StartupBench.sh [build folder] [part file]
# The program logs its own times (since the top of main) with QORCAD_TIMING=1; this script adds
# the wall-clock time from launching the process to the first frame.
set -euo pipefail
if [ -z "${QOR_IN_XVFB:-}" ]; then
    QOR_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" bash "$0" "$@"
fi
build="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}"
part="${2:-}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

run() {
    local start
    start=$(date +%s%N)
    QORCAD_TIMING=1 "$build/qorcad" "$@" --screenshot "$work/shot.png" --size 1280x800 2>&1 |
        while IFS= read -r line; do
            case "$line" in
            "qorcad: Erstes Bild"*)
                echo "$line (Prozessstart bis Bild: $((($(date +%s%N) - start) / 1000000)) ms)" ;;
            "qorcad: "*) echo "$line" ;;
            esac
        done
}

echo "--demo bracket:"
run --demo bracket
if [ -n "$part" ]; then
    echo "$part:"
    run "$part"
fi
