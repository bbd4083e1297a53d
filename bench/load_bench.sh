#!/usr/bin/env bash
# Memory under load: a whole palvane run on a large generated cohort, with its
# run time and peak resident memory (/usr/bin/time -v) next to the sizes of
# the genotype matrix and the transposed matrix that palvane prints. The goal
# is a peak within 1.3 x (both matrices) + 200 MB. Prints figures only.
#
# Usage: bench/load_bench.sh [BUILD_DIR]
# Environment: SAMPLES (5000), VARIANTS (100000), CPU (8), SEED (1),
# GEN_THREADS (8).
set -euo pipefail
export LC_ALL=C
# shellcheck source=bench/bench_common.sh
source "$(dirname "$0")/bench_common.sh"

SAMPLES=${SAMPLES:-5000}
VARIANTS=${VARIANTS:-100000}
CPU=${CPU:-8}

require_program /usr/bin/time time
bench_setup "${1:-./build}"
generate_cohort "$SAMPLES" "$VARIANTS" cohort.vcf.gz

status=0
/usr/bin/time -v -o time.txt "$PALVANE" --vcf cohort.vcf.gz --out load --cpu "$CPU" > palvane.log 2>&1 ||
  status=$?
if ((status != 0)); then
  echo "palvane ended with status $status; last lines:"
  tail -n 5 palvane.log | sed 's/^/      | /'
fi

# Elapsed time is h:mm:ss or m:ss; peak memory is in KiB. Sizes below are in
# MiB, as palvane's allocation messages are.
wall=$(sed -n 's/.*Elapsed (wall clock) time.*: \([0-9:.]*\)$/\1/p' time.txt |
  awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.2f", s }')
peak_mb=$(sed -n 's/.*Maximum resident set size (kbytes): \([0-9]*\).*/\1/p' time.txt |
  awk '{ printf "%.0f", $1 / 1024 }')
# The matrix may grow while the input is read; its last allocation is its size.
matrix_mb=$(palvane_figure palvane.log "GenotypeMatrix: allocating")
transposed_mb=$(palvane_figure palvane.log "GenotypeMatrixTransposed: allocating")

echo
echo "run with --cpu $CPU: exit status $status"
echo "  wall time:                   $(or_na "$wall") s"
echo "  palvane's total:             $(or_na "$(palvane_total_seconds palvane.log)") s"
echo "  peak resident memory:        $(or_na "$peak_mb") MB"
echo "  genotype matrix:             $(or_na "$matrix_mb") MB"
echo "  transposed matrix:           $(or_na "$transposed_mb") MB"
if [[ -n $matrix_mb && -n $transposed_mb && -n $peak_mb ]]; then
  goal=$(awk -v a="$matrix_mb" -v b="$transposed_mb" 'BEGIN { printf "%.0f", 1.3 * (a + b) + 200 }')
  verdict=$(awk -v p="$peak_mb" -v g="$goal" 'BEGIN { print (p <= g) ? "within the goal" : "over the goal" }')
  echo "  goal 1.3 x matrices + 200:   $goal MB"
  echo "  peak / goal:                 $(ratio "$peak_mb" "$goal") ($verdict)"
else
  echo "  goal: n/a (palvane printed no matrix sizes)"
fi
