#!/usr/bin/env bash
# Runs bench's ExportSweep over KiCad's transformer, sensor and connector models
# and the shared reader files, several files at once, and sums up. The
# connectors come folder by folder in turn, each folder in a fixed shuffled
# order, so that a sweep cut short has tried every folder alike and each across
# its kinds. SWEEP_EVERY=N takes every N-th connector only (default all);
# SWEEP_JOBS files run at once (default 3). SWEEP_EVEN=N sweeps instead an even
# sample of the whole library: the first and every N-th after it of all its
# STEP models in byte order, and lists them.
# SWEEP_EVEN=300 gives 21 of 6,227 models; its summary line "checked/bare STEP
# CPU (all)" then gives the median and the worst file.
# Usage: export-sweep.sh [SWEEP-BINARY] [OUT.tsv]
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sweep="${1:-$root/build/bench/ExportSweep}"
out="${2:-/tmp/export-sweep.tsv}"
models=/work/kicad/root/usr/share/kicad/3dmodels
files=/work/shared/files/readers
list="$(mktemp)"
if [ -n "${SWEEP_EVEN:-}" ]; then
  find "$models" -name '*.step' | LC_ALL=C sort | awk -v every="$SWEEP_EVEN" 'NR % every == 1' >"$list"
  echo "even sample, every ${SWEEP_EVEN}th model:"
  sed "s|^$models/|  |" "$list"
else {
  find "$models" -path '*Transformer*' -name '*.step' | sort
  find "$models" -path '*Sensor*' -name '*.step' | sort
  find "$files" -maxdepth 1 -type f ! -name '*.md' ! -name '*.tsv' ! -name '*.txt' | sort
  # The n-th file of every connector folder, then the (n+1)-th.
  find "$models" -path '*Connector*' -name '*.step' | sort \
    | awk -F/ 'BEGIN { srand(46) } { printf "%s\t%.9f\t%s\n", $(NF - 1), rand(), $0 }' \
    | sort -t$'\t' -k1,1 -k2,2g \
    | awk -v every="${SWEEP_EVERY:-1}" -F'\t' '
        { rank = ++seen[$1] }
        (rank - 1) % every == 0 { print rank "\t" $3 }' \
    | sort -t$'\t' -k1,1n -s | cut -f2-
} >"$list"
fi
export sweep
: >"$out"
tr '\n' '\0' <"$list" | xargs -0 -P "${SWEEP_JOBS:-3}" -I{} bash -c \
  'line="$(QT_QPA_PLATFORM=offscreen timeout 900 "$sweep" "$1" 2>/dev/null)" || line="$1	crash-or-timeout"; printf "%s\n" "$line"' _ {} >>"$out"
rm -f "$list"
bash "$root/scripts/export-sweep-summary.sh" "$out"
