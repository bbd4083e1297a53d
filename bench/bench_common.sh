# shellcheck shell=bash
# Shared by the benchmark scripts (sourced, not run): locating the built
# programs, a scratch folder that is removed on exit, generating a cohort,
# timing, and reading figures out of palvane's messages.
#
# Every script takes the build directory as its first argument (default
# ./build) and writes only inside its scratch folder.

bench_setup() {
  BUILD_DIR=${1:-./build}
  PALVANE="$BUILD_DIR/palvane"
  SIMULATE="$BUILD_DIR/tools/simulate_cohort"
  for program in "$PALVANE" "$SIMULATE"; do
    if [[ ! -x $program ]]; then
      echo "error: $program not found; build first (cmake --build $BUILD_DIR)" >&2
      exit 1
    fi
  done
  PALVANE=$(cd "$(dirname "$PALVANE")" && pwd)/palvane
  SIMULATE=$(cd "$(dirname "$SIMULATE")" && pwd)/simulate_cohort
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/palvane_bench.XXXXXX")
  trap 'rm -rf "$WORK"' EXIT
  trap 'exit 130' INT TERM
  cd "$WORK" || exit 1
}

require_program() {  # name, Debian package
  if ! command -v "$1" > /dev/null; then
    echo "error: $1 not found (Debian package $2)" >&2
    exit 1
  fi
}

# generate_cohort SAMPLES VARIANTS FILE: writes a BGZF cohort, sets VCF_BYTES
# to its decompressed size and prints one line about it.
generate_cohort() {
  local start end summary
  start=$(now_ns)
  summary=$("$SIMULATE" --samples "$1" --variants "$2" --seed "${SEED:-1}" \
              --threads "${GEN_THREADS:-8}" --out "$3" 2>&1 > /dev/null) || {
    echo "error: the generator failed: $summary" >&2
    exit 1
  }
  end=$(now_ns)
  VCF_BYTES=$(sed -n 's/.* \([0-9][0-9]*\) bytes of VCF text.*/\1/p' <<< "$summary")
  printf 'cohort: %s samples x %s variants, %.1f MB of VCF text, %.1f MB compressed, generated in %.2f s\n' \
    "$1" "$2" "$(awk -v b="$VCF_BYTES" 'BEGIN { print b / 1e6 }')" \
    "$(awk -v b="$(stat -c %s "$3")" 'BEGIN { print b / 1e6 }')" "$(seconds_between "$start" "$end")"
}

now_ns() { date +%s%N; }
seconds_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'; }

# palvane_figure LOG TEXT: the number that follows TEXT on the last line of
# LOG holding it, or nothing.
palvane_figure() {
  { grep -F -- "$2" "$1" || true; } | tail -n 1 | sed -n "s/.*$2[: ]*\([0-9][0-9.]*\).*/\1/p"
}

# Seconds from "Total time for analysis was M minutes (S seconds)".
palvane_total_seconds() {
  { grep -F 'Total time for analysis was' "$1" || true; } | tail -n 1 | sed -n 's/.*(\([0-9][0-9.]*\) seconds).*/\1/p'
}

or_na() { if [[ -n $1 ]]; then echo "$1"; else echo "n/a"; fi; }

# ratio A B with 2 decimals, n/a when either is missing or B is 0.
ratio() {
  if [[ -z $1 || -z $2 ]]; then echo "n/a"; return; fi
  awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "n/a"; else printf "%.2f", a / b }'
}
