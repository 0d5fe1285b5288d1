#!/usr/bin/env bash
# Runs bench's MeshSweep over KiCad's inductor and transformer models, several
# files at once, and sums up per format the open edges the written files hold
# at exact coordinates (with the worst file), whether the notes name them, and
# the export CPU time.
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
  NF < 22 { failed++; next }
  { files++
    for (f = 0; f < 5; f++) {
      open = $(3 + 4 * f); exact = $(4 + 4 * f); noted = $(5 + 4 * f); ms = $(6 + 4 * f)
      sum[f] += open; sumExact[f] += exact; cpu[f] += ms
      if (exact > worst[f]) { worst[f] = exact; where[f] = $1 }
      if (exact > 0) withOpen[f]++
      if (exact != noted) unnamed[f]++
    } }
  END {
    split("STL OBJ PLY GLB 3MF", name, " ")
    printf "%d files (%d failed or timed out)\n", files, failed
    for (f = 0; f < 5; f++) {
      w = where[f]; sub(/.*\//, "", w)
      printf "%s: %d open edges (%d joined within 0.001 mm) in %d files, worst %d (%s), %d files whose note does not name them all, export CPU %.1f s\n",
        name[f + 1], sumExact[f], sum[f], withOpen[f], worst[f], w, unnamed[f], cpu[f] / 1000
    }
  }' "$out"
