#!/usr/bin/env bash
# Runs bench's MeshSweep over KiCad's inductor and transformer models, several
# files at once, and sums up per format the open edges the written files hold
# (with the worst file) and the export CPU time.
# SWEEP_JOBS files run at once (default 3).
# Usage: mesh-sweep.sh [SWEEP-BINARY] [OUT.tsv]
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sweep="${1:-$root/build/bench/MeshSweep}"
out="${2:-/tmp/mesh-sweep.tsv}"
models=/work/kicad/root/usr/share/kicad/3dmodels
export sweep
: >"$out"
for folder in Inductor_THT Inductor_SMD Transformer_THT Transformer_SMD; do
  find "$models/$folder.3dshapes" -name '*.step'
done | LC_ALL=C sort | tr '\n' '\0' | xargs -0 -P "${SWEEP_JOBS:-3}" -I{} bash -c \
  'line="$(QT_QPA_PLATFORM=offscreen timeout 900 "$sweep" "$1" 2>/dev/null)" || line="$1	crash-or-timeout"; printf "%s\n" "$line"' _ {} >>"$out"
awk -F'\t' '
  NF < 12 { failed++; next }
  { files++
    for (f = 0; f < 5; f++) {
      open = $(3 + 2 * f); ms = $(4 + 2 * f)
      sum[f] += open; cpu[f] += ms
      if (open > worst[f]) { worst[f] = open; where[f] = $1 }
      if (open > 0) files_open[f]++
    } }
  END {
    split("STL OBJ PLY GLB 3MF", name, " ")
    printf "%d files (%d failed or timed out)\n", files, failed
    for (f = 0; f < 5; f++) {
      w = where[f]; sub(/.*\//, "", w)
      printf "%s: %d open edges in %d files, worst %d (%s), export CPU %.1f s\n",
        name[f + 1], sum[f], files_open[f], worst[f], w, cpu[f] / 1000
    }
  }' "$out"
