#!/usr/bin/env bash
# Fuzzes palvane for a given time:
#   afl        AFL++ over the palvane binary, one VCF input per run, on two
#              cores (a plain build fuzzing, a sanitizer build checking);
#   libfuzzer  the in-process harness of tests/fuzz (the VCF reader against its
#              model) on one core;
#   all        first the one, then the other, each for SECONDS.
#
# Usage: tools/fuzz.sh [afl|libfuzzer|all] SECONDS [WORK_DIR]
#
# Builds go to build-afl, build-afl-asan and build-fuzz beside the sources.
# Everything else (seeds, fuzzer state, palvane's report files) goes to
# WORK_DIR, by default a fresh folder under /tmp that is kept for inspection. Each crash or hang
# is copied to WORK_DIR/findings; the script prints them and exits with
# status 1 when there is any.
set -euo pipefail
export LC_ALL=C

mode=${1:-}
seconds=${2:-}
if [[ ! $mode =~ ^(afl|libfuzzer|all)$ || ! $seconds =~ ^[0-9]+$ ]]; then
  echo "usage: $0 [afl|libfuzzer|all] SECONDS [WORK_DIR]" >&2
  exit 2
fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK=${3:-$(mktemp -d "${TMPDIR:-/tmp}/palvane_fuzz.XXXXXX")}
mkdir -p "$WORK/findings"
WORK=$(cd "$WORK" && pwd)
JOBS=${FUZZ_BUILD_JOBS:-4}
failed=0

# Two AFL++ builds: a plain one that fuzzes fast, and one with AddressSanitizer
# and UndefinedBehaviorSanitizer (many times slower: palvane allocates a large
# buffer per input line) that runs every input the plain one keeps.
build_afl() {
  command -v afl-clang-fast++ > /dev/null || { echo "error: afl++ is not installed" >&2; exit 1; }
  local dir sanitize
  for dir in build-afl build-afl-asan; do
    # afl-clang-fast turns a sanitizer on when its variable is set at all.
    sanitize=(env -u AFL_USE_ASAN -u AFL_USE_UBSAN)
    [[ $dir == build-afl-asan ]] && sanitize=(env AFL_USE_ASAN=1 AFL_USE_UBSAN=1)
    "${sanitize[@]}" CC=afl-clang-fast CXX=afl-clang-fast++ AFL_QUIET=1 \
      cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DPALVANE_BENCH=OFF > "$WORK/$dir.log" 2>&1 &&
      "${sanitize[@]}" AFL_QUIET=1 cmake --build "$ROOT/$dir" -j "$JOBS" \
        --target palvane simulate_cohort >> "$WORK/$dir.log" 2>&1 ||
      { tail -n 20 "$WORK/$dir.log"; exit 1; }
  done
}

build_libfuzzer() {
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$ROOT/build-fuzz" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DPALVANE_FUZZ=ON -DPALVANE_BENCH=OFF > "$WORK/build-fuzz.log" 2>&1 &&
    cmake --build "$ROOT/build-fuzz" -j "$JOBS" --target vcf_line_fuzz simulate_cohort \
      >> "$WORK/build-fuzz.log" 2>&1 || { tail -n 20 "$WORK/build-fuzz.log"; exit 1; }
}

# A VCF of `samples` samples and `variants` variants of one-character fields.
tiny_vcf() {
  local samples=$1 variants=$2 chroms=${3:-1}
  awk -v n="$samples" -v m="$variants" -v c="$chroms" 'BEGIN {
    printf "##fileformat=VCFv4.2\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT"
    for (s = 1; s <= n; s++) printf "\tS%d", s
    printf "\n"
    split("0/0 0/1 1/1 ./. 1|0 0", calls, " ")
    for (v = 0; v < m; v++) {
      printf "%d\t%d\t.\tA\tG\t.\tPASS\t.\tGT", 1 + int(v * c / m), 1000 * (v + 1)
      for (s = 1; s <= n; s++) printf "\t%s", calls[1 + (v * 7 + s * 3) % (s % 3 ? 3 : 6)]
      printf "\n"
    }
  }'
}

# Seeds: the broken inputs of tests/data/bad, small generated cohorts (plain, gzip, BGZF)
# that get past the 500-variant check, and a few short line shapes.
make_seeds() {
  local seeds=$1 simulate=$2
  mkdir -p "$seeds"
  cp "$ROOT"/tests/data/bad/* "$seeds"/ 2> /dev/null || true
  tiny_vcf 2 520 > "$seeds/two_samples.vcf"
  tiny_vcf 3 510 3 | gzip -1 > "$seeds/three_samples.vcf.gz"
  "$simulate" --samples 4 --variants 600 --chromosomes 2 --seed 7 --threads 1 \
    --out "$seeds/cohort.vcf.gz" > /dev/null 2>&1
  "$simulate" --samples 3 --variants 520 --seed 3 --plain --threads 1 \
    --out "$seeds/cohort.vcf" > /dev/null 2>&1
  tiny_vcf 2 8 > "$seeds/few.vcf"
  # More than 16 samples: lines of three-character calls take the reader's
  # 16-at-a-time path.
  tiny_vcf 37 12 > "$seeds/wide.vcf"
  printf '#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tA\n1\t5\t.\tA\tG\t.\t.\t.\tGT\t1\n' \
    > "$seeds/haploid.vcf"
}

# The plain build fuzzes as the main instance; the sanitizer build runs as a
# secondary instance that picks up and runs every input the main one keeps.
run_afl() {
  local seconds=$1 seeds="$WORK/afl-seeds" out="$WORK/afl"
  make_seeds "$seeds" "$ROOT/build-afl/tools/simulate_cohort"
  # Words of the format, for mutations that keep a line a VCF line.
  printf '%s\n' '"#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT"' '"##"' '"\t"' \
    '"\n"' '"\r\n"' '" "' '"GT"' '"GT:DP"' '"0/0"' '"0/1"' '"1|1"' '"./."' '"2/3"' '"\t1\t"' \
    '"PASS"' '"\x00"' > "$WORK/vcf.dict"
  echo "AFL++: $seconds s over build-afl/palvane and build-afl-asan/palvane, state in $out"
  local instance dir pids=()
  for instance in main asan; do
    dir=$([[ $instance == main ]] && echo build-afl || echo build-afl-asan)
    mkdir -p "$WORK/afl-run-$instance"
    # A run starts threads and polls in short sleeps, so it takes a few
    # milliseconds (a few hundred under the sanitizers); 5 s marks a hang.
    AFL_SKIP_CPUFREQ=1 AFL_NO_UI=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 \
      AFL_FORKSRV_INIT_TMOUT=20000 AFL_SKIP_CRASHES=1 \
      afl-fuzz -V "$seconds" "$([[ $instance == main ]] && echo -M || echo -S)" "$instance" \
      -i "$seeds" -o "$out" -x "$WORK/vcf.dict" -m none -t 5000 -- \
      "$ROOT/$dir/palvane" --vcf @@ --out "$WORK/afl-run-$instance/r" --cpu 1 --nvar 256 \
      --segments > "$WORK/afl-$instance.log" 2>&1 &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do
    wait "$pid" || echo "afl-fuzz ended with status $? (see $WORK/afl-*.log)"
  done
  for instance in main asan; do
    local stats="$out/$instance/fuzzer_stats"
    echo "  $instance:"
    [[ -f $stats ]] && grep -E '^(execs_done|execs_per_sec|corpus_count|saved_crashes|saved_hangs|stability) ' "$stats" | sed 's/^/    /'
    for kind in crashes hangs; do
      for f in "$out/$instance/$kind"/id:*; do
        [[ -e $f ]] && cp "$f" "$WORK/findings/afl-$instance-$kind-$(basename "$f" | cut -d, -f1 | tr : _)"
      done
    done
  done
  return 0
}

run_libfuzzer() {
  local seconds=$1
  local target=vcf_line_fuzz
  local corpus="$WORK/$target-corpus"
  mkdir -p "$corpus"
  [[ -z $(ls -A "$corpus") ]] && make_seeds "$corpus" "$ROOT/build-fuzz/tools/simulate_cohort" &&
    rm -f "$corpus"/*.gz
  echo "libFuzzer: $seconds s of $target, corpus in $corpus"
  ASAN_OPTIONS=detect_leaks=1 "$ROOT/build-fuzz/tests/fuzz/$target" -max_total_time="$seconds" \
    -max_len=65536 -timeout=10 -print_final_stats=1 -artifact_prefix="$WORK/findings/$target-" \
    "$corpus" > "$WORK/$target.log" 2>&1 || {
    echo "$target failed (see $WORK/$target.log):"
    grep -E 'ERROR|mismatch|SUMMARY' "$WORK/$target.log" | head -n 5
    failed=1
  }
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|^Done' "$WORK/$target.log" || true
}

case $mode in
  afl) build_afl; run_afl "$seconds" ;;
  libfuzzer) build_libfuzzer; run_libfuzzer "$seconds" ;;
  all) build_afl; build_libfuzzer; run_afl "$seconds"; run_libfuzzer "$seconds" ;;
esac

if [[ -n $(ls -A "$WORK/findings") || $failed == 1 ]]; then
  echo "findings in $WORK/findings:"
  ls -l "$WORK/findings"
  exit 1
fi
echo "no crash or hang found (work folder $WORK)"
