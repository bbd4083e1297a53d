#!/usr/bin/env bash
# Fuzzes palvane for a given time:
#   afl        AFL++ over the palvane binary, one VCF input per run: eight
#              instances (AFL_INSTANCES below), plain and sanitizer builds,
#              the three pair scans, one and several workers;
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
# and UndefinedBehaviorSanitizer (many times slower) whose instances share the
# plain ones' queues and find what only the sanitizers see.
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

# The meta line and column-header line of a VCF of samples S1 ... S$1.
vcf_header() {
  printf '##fileformat=VCFv4.2\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT'
  printf '\tS%d' $(seq "$1")
  printf '\n'
}

# A VCF of `samples` samples and `variants` variants, 100 kb apart, that
# completes a run: samples 1 and 2 carry the same two haplotypes (IBD2
# throughout), sample 3 one of theirs over the first 80% of the variants
# (an IBD1 segment that ends inside chromosome 1), the others none. With
# `chroms` 2, the last 10% lie on chromosome 2. Every 40th line has a missing
# call (of the last sample) and every 40th (offset 20) no alternative allele,
# which the default filters drop. Park-Miller draws give the same text under any awk.
related_vcf() {
  local samples=$1 variants=$2 chroms=${3:-1}
  vcf_header "$samples"
  awk -v n="$samples" -v m="$variants" -v c="$chroms" '
    function draw() { x = (x * 16807) % 2147483647; return x / 2147483647 }
    BEGIN {
      x = 12345
      for (v = 0; v < m; v++) {
        chrom = c == 2 && v >= 0.9 * m ? 2 : 1
        if (chrom != last) { k = 0; last = chrom }
        p = 0.3 + 0.4 * draw()
        for (h = 1; h <= 2 * n + 8; h++) hap[h] = draw() < p
        printf "%d\t%d\t.\tA\tG\t.\t.\t.\tGT", chrom, 100000 * ++k
        for (s = 1; s <= n; s++) {
          a = hap[2 * s - 1]; b = hap[2 * s]
          if (s == 2) { a = hap[1]; b = hap[2] }
          if (s == 3 && v < 0.8 * m) a = hap[1]
          if (v % 40 == 39 && s == n) call = "./."
          else if (v % 40 == 19) call = "0/0"
          else call = a (v % 3 ? "/" : "|") b
          printf "\t%s", call
        }
        printf "\n"
      }
    }'
}

# A VCF of `samples` samples and `variants` lines of one-character fields,
# too few to analyse: short shapes for the reader.
tiny_vcf() {
  local samples=$1 variants=$2
  vcf_header "$samples"
  awk -v n="$samples" -v m="$variants" 'BEGIN {
    split("0/0 0/1 1/1 ./. 1|0 0", calls, " ")
    for (v = 0; v < m; v++) {
      printf "1\t%d\t.\tA\tG\t.\tPASS\t.\tGT", 1000 * (v + 1)
      for (s = 1; s <= n; s++) printf "\t%s", calls[1 + (v * 7 + s * 3) % (s % 3 ? 3 : 6)]
      printf "\n"
    }
  }'
}

# Seeds (7 to 25 kB each where they complete a run):
# - related.vcf (4 samples, 600 lines, 2 chromosomes, plain), related.vcf.gz
#   (20 samples, gzip: lines of three-character calls take the reader's
#   16-at-a-time path) and family.vcf.gz (a simulated family of 12, BGZF)
#   complete a run under every instance's options, with segment lines where
#   the scan writes them;
# - pair.vcf (2 samples) completes one only with the filters off: with the
#   default filters it keeps fewer than 500 variants;
# - the broken inputs of tests/data/bad and a few short shapes, for the reader.
make_seeds() {
  local seeds=$1 simulate=$2
  mkdir -p "$seeds"
  cp "$ROOT"/tests/data/bad/* "$seeds"/ 2> /dev/null || true
  related_vcf 4 600 2 > "$seeds/related.vcf"
  related_vcf 20 600 2 | gzip -9 > "$seeds/related.vcf.gz"
  related_vcf 2 600 > "$seeds/pair.vcf"
  "$simulate" --samples 12 --families 1 --variants 640 --chromosomes 1 --missing 0.001 \
    --seed 7 --threads 1 --out "$seeds/family.vcf.gz" > /dev/null 2>&1
  tiny_vcf 2 8 > "$seeds/few.vcf"
  tiny_vcf 37 12 > "$seeds/wide.vcf"
  printf '#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tA\n1\t5\t.\tA\tG\t.\t.\t.\tGT\t1\n' \
    > "$seeds/haploid.vcf"
}

# The AFL++ instances: name, build, options beyond --vcf, --out, --nvar 256
# (the genotype matrix grows while reading) and --segments. Between them they
# run the tolerant, merging and strict scans in both builds, on one worker and
# on several; the instances that keep the default filters fuzz them too, the
# others (--maf -1 --missing 1) keep every line with a called genotype. The first runs as
# AFL's main instance.
AFL_INSTANCES=(
  "main build-afl --cpu 1"
  "asan build-afl-asan --cpu 2"
  "merging build-afl --error 1 --cpu 2 --maf -1 --missing 1"
  "asan-merging build-afl-asan --error 1 --cpu 1"
  "strict build-afl --error 0 --cpu 1 --maf -1 --missing 1"
  "asan-strict build-afl-asan --error 0 --cpu 2 --maf -1 --missing 1"
  "workers build-afl --cpu 4 --maf -1 --missing 1"
  "strict-filters build-afl --error 7 --cpu 3"
)

# Prints how many of the queue entries in $1 complete a run (status 0 and
# rows in .ibd), how many of those write segment lines, and the statuses the
# others end with (124: over 20 s), run with the command that follows: the
# plain build, which is faster (what only the sanitizers see, AFL saves as a
# crash of the sanitizer instance).
count_completing() {
  local queue=$1
  shift
  find "$queue" -maxdepth 1 -type f -name 'id:*' -print0 |
    xargs -0 -r -n 1 -P "$(nproc)" bash -c '
      work=$1 input=${!#}
      shift
      dir=$(mktemp -d "$work/count.XXXXXX")
      timeout 20 "${@:1:$#-1}" --vcf "$input" --out "$dir/r" > /dev/null 2>&1
      status=$?
      if ((status != 0)); then
        echo "$status"
      elif (($(wc -l < "$dir/r.ibd") > 1)); then
        (($(wc -l < "$dir/r.segments") > 1)) && echo segments || echo rows
      else
        echo "0 (no row)"
      fi
      rm -rf "$dir"' count "$WORK" "$@" |
    sort | uniq -c | awk '
      { all += $1; label = $0; sub(/^ *[0-9]+ /, "", label) }
      label == "rows" || label == "segments" { done += $1; if (label == "segments") seg = $1; next }
      { other = other sprintf(", status %s: %d", label, $1) }
      END { printf "%d of %d complete a run, %d of them with segment lines%s\n",
        done, all, seg, other }'
}

# Runs every instance of AFL_INSTANCES at once, one per core (or all of them
# on fewer cores, unbound), then reports each one's figures and copies its
# crashes and hangs to findings/.
run_afl() {
  local seconds=$1 seeds="$WORK/afl-seeds" out="$WORK/afl"
  make_seeds "$seeds" "$ROOT/build-afl/tools/simulate_cohort"
  # Words of the format, for mutations that keep a line a VCF line.
  printf '%s\n' '"#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT"' '"##"' '"\t"' \
    '"\n"' '"\r\n"' '" "' '"GT"' '"GT:DP"' '"0/0"' '"0/1"' '"1|1"' '"./."' '"2/3"' '"\t1\t"' \
    '"PASS"' '"\x00"' > "$WORK/vcf.dict"
  local affinity=()
  ((${#AFL_INSTANCES[@]} > $(nproc))) && affinity=(AFL_NO_AFFINITY=1)
  echo "AFL++: $seconds s, ${#AFL_INSTANCES[@]} instances, state in $out"
  local row name dir options role=-M pids=()
  for row in "${AFL_INSTANCES[@]}"; do
    read -r name dir options <<< "$row"
    mkdir -p "$WORK/afl-run-$name"
    # A run starts threads and polls in short sleeps, so it takes about 15 ms
    # (about 400 under the sanitizers); 5 s marks a hang.
    # shellcheck disable=SC2086  # options are words
    # The instances share their finds every minute (AFL's default is 30).
    env "${affinity[@]}" AFL_SKIP_CPUFREQ=1 AFL_NO_UI=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 \
      AFL_FORKSRV_INIT_TMOUT=20000 AFL_SKIP_CRASHES=1 AFL_SYNC_TIME=1 \
      afl-fuzz -V "$seconds" "$role" "$name" -i "$seeds" -o "$out" -x "$WORK/vcf.dict" -m none \
      -t 5000 -- "$ROOT/$dir/palvane" --vcf @@ --out "$WORK/afl-run-$name/r" --nvar 256 \
      --segments $options > "$WORK/afl-$name.log" 2>&1 &
    pids+=($!)
    role=-S
  done
  for pid in "${pids[@]}"; do
    wait "$pid" || echo "afl-fuzz ended with status $? (see $WORK/afl-*.log)"
  done
  local stats kind f
  for row in "${AFL_INSTANCES[@]}"; do
    read -r name dir options <<< "$row"
    stats="$out/$name/fuzzer_stats"
    echo "  $name: $dir/palvane --nvar 256 --segments $options"
    [[ -f $stats ]] && awk '$1 ~ /^(execs_done|execs_per_sec|corpus_count|saved_crashes|saved_hangs)$/ {
      printf "%s %s, ", $1, $3 } END { printf "\n" }' "$stats" | sed 's/^/    /; s/, $//'
    # shellcheck disable=SC2086
    echo "    queue: $(count_completing "$out/$name/queue" "$ROOT/build-afl/palvane" --nvar 256 \
      --segments $options)"
    for kind in crashes hangs; do
      for f in "$out/$name/$kind"/id:*; do
        [[ -e $f ]] && cp "$f" "$WORK/findings/afl-$name-$kind-$(basename "$f" | cut -d, -f1 | tr : _)"
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
