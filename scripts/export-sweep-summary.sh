#!/usr/bin/env bash
# Sums up a table written by export-sweep.sh.
set -euo pipefail
out="$1"
awk -F'\t' '
  NF < 3 { skipped++; next }
  { n++; silent += ($8 > 0); wolf += ($9 > 0); changed += ($6 > 0); differ += ($5 == 0);
    silentBodies += $8; wolfBodies += $9; changedBodies += $6
    if ($10 != "") failed++ }
  END {
    printf "files %d (not read or crashed %d)\n", n, skipped
    printf "files with a body changed in STEP %d (bodies %d), changed without a note %d (bodies %d), notes for exact bodies %d (bodies %d)\n", changed, changedBodies, silent, silentBodies, wolf, wolfBodies
    printf "files whose three STEP runs differ %d, files with a failed export %d\n", differ, failed
  }' "$out"
# The median of checked over bare write, CPU time.
awk -F'\t' 'NF >= 4 && $3 > 0 { print $4 / $3 }' "$out" | sort -g | awk '
  { r[NR] = $1 } END { if (NR) printf "checked/bare STEP CPU: median %.2f over %d files\n", (NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2), NR }'
