#!/usr/bin/env bash
# Whole runs of palvane on one generated cohort with several --cpu values:
# wall time, speed-up over the first value, and each phase's time as palvane
# reports it. Prints figures only.
#
# Usage: bench/end_to_end_bench.sh [BUILD_DIR]
# Environment: SAMPLES (1000), VARIANTS (300000), CPUS ("1 2 4 8"), SEED (1),
# GEN_THREADS (8).
set -euo pipefail
export LC_ALL=C
# shellcheck source=bench/bench_common.sh
source "$(dirname "$0")/bench_common.sh"

SAMPLES=${SAMPLES:-1000}
VARIANTS=${VARIANTS:-300000}
CPUS=${CPUS:-1 2 4 8}

bench_setup "${1:-./build}"
generate_cohort "$SAMPLES" "$VARIANTS" cohort.vcf.gz
echo "pairs: $(awk -v n="$SAMPLES" 'BEGIN { printf "%d", n * (n - 1) / 2 }')"
echo

# Phases from palvane's messages: reading ("Finished reading input files"),
# pre-processing (reading + thresholds + transposition, "Genotype
# pre-processing duration"), its total, and the pair scans as the total less
# the pre-processing.
printf '%5s %10s %9s %12s %14s %11s %11s %9s %7s\n' \
  "--cpu" "wall s" "speed-up" "reading s" "pre-process s" "pairs s" "palvane s" ".ibd rows" "status"
seconds() { if [[ -n $1 ]]; then awk -v ms="$1" 'BEGIN { printf "%.2f", ms / 1000 }'; else echo "n/a"; fi; }
base_wall=""
for cpu in $CPUS; do
  start=$(now_ns)
  status=0
  "$PALVANE" --vcf cohort.vcf.gz --out "run$cpu" --cpu "$cpu" > "run$cpu.log" 2>&1 || status=$?
  end=$(now_ns)
  wall=$(seconds_between "$start" "$end")
  [[ -z $base_wall ]] && base_wall=$wall

  reading_ms=$(palvane_figure "run$cpu.log" "Finished reading input files")
  prep_ms=$(palvane_figure "run$cpu.log" "Genotype pre-processing duration")
  total_s=$(palvane_total_seconds "run$cpu.log")
  pairs_s="n/a"
  if [[ -n $prep_ms && -n $total_s ]]; then
    # The total is printed to 0.1 s: a short pair phase can come out below 0.
    pairs_s=$(awk -v t="$total_s" -v p="$prep_ms" 'BEGIN { d = t - p / 1000; printf "%.2f", (d > 0 ? d : 0) }')
  fi
  rows="n/a"
  # The first line of the .ibd file is its header.
  [[ -f run$cpu.ibd ]] && rows=$(($(wc -l < "run$cpu.ibd") > 0 ? $(wc -l < "run$cpu.ibd") - 1 : 0))

  printf '%5s %10s %9s %12s %14s %11s %11s %9s %7s\n' "$cpu" "$wall" "$(ratio "$base_wall" "$wall")" \
    "$(seconds "$reading_ms")" "$(seconds "$prep_ms")" "$pairs_s" "$(or_na "$total_s")" "$rows" "$status"
  if ((status != 0)); then
    tail -n 3 "run$cpu.log" | sed 's/^/      | /'
  fi
  rm -f "run$cpu.ibd" "run$cpu.segments"
done
