#!/usr/bin/env bash
# Runs bench's ExportSweep over KiCad's transformer, sensor and barrel-jack
# models, every 40th other connector model and the shared reader files, several
# files at once, and sums up. Usage: export-sweep.sh [SWEEP-BINARY] [OUT.tsv]
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sweep="${1:-$root/build/bench/ExportSweep}"
out="${2:-/tmp/export-sweep.tsv}"
models=/work/kicad/root/usr/share/kicad/3dmodels
files=/work/shared/files/readers
list="$(mktemp)"
{
  find "$models" -path '*Transformer*' -name '*.step' | sort
  find "$models" -path '*Sensor*' -name '*.step' | sort
  find "$models" -path '*Connector_BarrelJack*' -name '*.step' | sort
  find "$models" -path '*Connector*' -not -path '*BarrelJack*' -name '*.step' | sort | awk 'NR % 40 == 1'
  find "$files" -maxdepth 1 -type f ! -name '*.md' ! -name '*.tsv' ! -name '*.txt' | sort
} >"$list"
export sweep
: >"$out"
tr '\n' '\0' <"$list" | xargs -0 -P "${SWEEP_JOBS:-3}" -I{} bash -c \
  'line="$(QT_QPA_PLATFORM=offscreen timeout 900 "$sweep" "$1" 2>/dev/null)" || line="$1	crash-or-timeout"; printf "%s\n" "$line"' _ {} >>"$out"
rm -f "$list"
bash "$root/scripts/export-sweep-summary.sh" "$out"
