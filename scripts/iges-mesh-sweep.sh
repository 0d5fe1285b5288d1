#!/usr/bin/env bash
# Runs bench's IgesMeshSweep over an even sample of KiCad's STEP models (the
# first and every SWEEP_EVEN-th after it in byte order, default 61: 103 of
# 6,227), several files at once, and counts per format the files whose every
# directed edge pairs at the coordinates written.
# SWEEP_JOBS files run at once (default 3).
# Usage: iges-mesh-sweep.sh [SWEEP-BINARY] [OUT.tsv]
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sweep="${1:-$root/build/bench/IgesMeshSweep}"
out="${2:-/tmp/iges-mesh-sweep.tsv}"
models=/work/kicad/root/usr/share/kicad/3dmodels
export sweep
: >"$out"
find "$models" -name '*.step' | LC_ALL=C sort | awk -v every="${SWEEP_EVEN:-61}" 'NR % every == 1' \
  | tr '\n' '\0' | xargs -0 -P "${SWEEP_JOBS:-3}" -I{} bash -c \
  'line="$(QT_QPA_PLATFORM=offscreen timeout 900 "$sweep" "$1" 2>/dev/null)" || line="$1	crash-or-timeout"; printf "%s\n" "$line"' _ {} >>"$out"
awk -F'\t' '
  NF < 7 || $2 == 0 { failed++; next }
  { files++
    for (f = 0; f < 5; f++) if ($(3 + f) == 0) paired[f]++ }
  END {
    split("STL PLY GLB OBJ 3MF", name, " ")
    printf "%d models read back from IGES (%d failed or empty)\n", files, failed
    for (f = 0; f < 5; f++)
      printf "  %s: %d of %d with every directed edge paired at the coordinates written\n",
             name[f + 1], paired[f], files
  }' "$out"
