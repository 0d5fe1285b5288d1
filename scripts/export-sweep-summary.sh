#!/usr/bin/env bash
# Sums up a table written by export-sweep.sh: the whole, then folder by folder.
set -euo pipefail
out="$1"
awk -F'\t' '
  function folder(path, parts, n) { n = split(path, parts, "/"); return parts[n - 1] }
  NF < 3 { skipped++; skippedIn[folder($1)]++; next }
  { n++; bodies += $2; silent += ($8 > 0); wolf += ($9 > 0); changed += ($6 > 0); differ += ($5 == 0)
    silentBodies += $8; wolfBodies += $9; changedBodies += $6; named += $7; readBack += ($11 > 0)
    if ($10 != "") failed++
    f = folder($1); filesIn[f]++; bodiesIn[f] += $2; changedIn[f] += $6; namedIn[f] += $7
    silentIn[f] += $8; wolfIn[f] += $9; differIn[f] += ($5 == 0); failedIn[f] += ($10 != "") }
  END {
    printf "files %d (not read or crashed %d), bodies %d, files with a body read back %d\n", n, skipped, bodies, readBack
    printf "files with a body changed in STEP %d (bodies %d), bodies named %d, changed without a note %d (bodies %d), notes for exact bodies %d (bodies %d)\n", changed, changedBodies, named, silent, silentBodies, wolf, wolfBodies
    printf "files whose three STEP runs differ %d, files with a failed export %d\n", differ, failed
    printf "%-40s %6s %6s %6s %6s %6s %6s %6s %6s %6s\n", "folder", "files", "bad", "bodies", "chgd", "named", "silent", "wolf", "differ", "failed"
    for (f in filesIn)
      printf "%-40s %6d %6d %6d %6d %6d %6d %6d %6d %6d\n", f, filesIn[f], skippedIn[f], bodiesIn[f], changedIn[f], namedIn[f], silentIn[f], wolfIn[f], differIn[f], failedIn[f] | "sort"
  }' "$out"
# Checked over bare write, CPU time: median and quartiles, over all files and
# apart for files with and without a body the check reads back.
for part in all read-back not-read-back; do
  awk -F'\t' -v part="$part" 'NF >= 4 && $3 > 0 && (part == "all" || (part == "read-back") == ($11 > 0)) { print $4 / $3 }' "$out" \
    | sort -g | awk -v part="$part" '
      function at(q,  k) { k = q * (NR - 1) + 1; return r[int(k)] + (k - int(k)) * (r[int(k) + 1] - r[int(k)]) }
      { r[NR] = $1 }
      END { if (NR) printf "checked/bare STEP CPU (%s): median %.2f, quartiles %.2f-%.2f, 10-90 %% %.2f-%.2f, worst %.2f, over %d files\n", part, at(0.5), at(0.25), at(0.75), at(0.1), at(0.9), r[NR], NR }'
done
# The file the check costs most on, against the bare write.
awk -F'\t' 'NF >= 4 && $3 > 0 && $4 / $3 > worst { worst = $4 / $3; line = $1 " (" $3 " ms bare, " $4 " ms checked)" }
  END { if (line != "") printf "worst: %.2f x, %s\n", worst, line }' "$out"
# Every file side by side: bare write and checked export, CPU ms.
awk -F'\t' 'NF >= 4 { printf "  %8d %8d %6.2f  %s\n", $3, $4, ($3 > 0 ? $4 / $3 : 0), $1 }' "$out" | sort -k4
