#!/usr/bin/env bash
# Reading speed: palvane's reading phase (a run with --cpu 0, which scans no
# pair) against plain multi-threaded BGZF decompression of the same file
# (bgzip -dc -@ 8 to /dev/null). The goal is a ratio of at most 1.5: parsing
# and packing keep pace with decompression. Prints figures only.
#
# Usage: bench/reading_bench.sh [BUILD_DIR]
# Environment: SAMPLES (2000), VARIANTS (135000, just over 1 GiB of text),
# RUNS (3, the best run of each is reported), SEED (1), GEN_THREADS (8).
set -euo pipefail
export LC_ALL=C
# shellcheck source=bench/bench_common.sh
source "$(dirname "$0")/bench_common.sh"

SAMPLES=${SAMPLES:-2000}
VARIANTS=${VARIANTS:-135000}
RUNS=${RUNS:-3}

require_program bgzip tabix
bench_setup "${1:-./build}"

generate_cohort "$SAMPLES" "$VARIANTS" cohort.vcf.gz

best_bgzip="" best_wall="" best_reading=""
for ((run = 1; run <= RUNS; run++)); do
  start=$(now_ns)
  bgzip -dc -@ 8 cohort.vcf.gz > /dev/null
  end=$(now_ns)
  t=$(seconds_between "$start" "$end")
  best_bgzip=$(awk -v a="$t" -v b="$best_bgzip" 'BEGIN { print (b == "" || a < b) ? a : b }')

  start=$(now_ns)
  status=0
  "$PALVANE" --vcf cohort.vcf.gz --out read --cpu 0 > palvane.log 2>&1 || status=$?
  end=$(now_ns)
  if ((status != 0)); then
    echo "palvane run $run ended with status $status; last lines:"
    tail -n 5 palvane.log
  fi
  t=$(seconds_between "$start" "$end")
  best_wall=$(awk -v a="$t" -v b="$best_wall" 'BEGIN { print (b == "" || a < b) ? a : b }')
  ms=$(palvane_figure palvane.log "Finished reading input files")
  if [[ -n $ms ]]; then
    t=$(awk -v ms="$ms" 'BEGIN { printf "%.3f", ms / 1000 }')
    best_reading=$(awk -v a="$t" -v b="$best_reading" 'BEGIN { print (b == "" || a < b) ? a : b }')
  fi
done

mb=$(awk -v b="$VCF_BYTES" 'BEGIN { printf "%.1f", b / 1e6 }')
speed() { if [[ -n $1 ]]; then awk -v mb="$mb" -v s="$1" 'BEGIN { printf "%.1f", (s > 0) ? mb / s : 0 }'; else echo "n/a"; fi; }

echo
echo "best of $RUNS runs, $mb MB of VCF text (MB = 10^6 bytes)"
printf '  %-44s %10s s  %8s MB/s\n' "bgzip -dc -@ 8 > /dev/null" "$best_bgzip" "$(speed "$best_bgzip")"
printf '  %-44s %10s s  %8s MB/s\n' "palvane reading phase (its own figure)" "$(or_na "$best_reading")" "$(speed "$best_reading")"
printf '  %-44s %10s s  %8s MB/s\n' "palvane --cpu 0, whole run (wall)" "$best_wall" "$(speed "$best_wall")"
echo "  ratio reading phase / bgzip: $(ratio "$best_reading" "$best_bgzip")   (goal: at most 1.5)"
echo "  ratio whole run / bgzip:     $(ratio "$best_wall" "$best_bgzip")"
