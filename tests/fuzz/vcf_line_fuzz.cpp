// Fuzzes the VCF reader's line handling in process: the column-header line,
// the checks of each data line, the genotype codes, the packing and its undo,
// matrix growth and the chromosome table.
//
// The reader ends the process on a malformed line (by design: that is how
// palvane reports it), so the harness only feeds lines that pass its checks:
// each line is judged first, on a copy split by an independent tokenizer, and
// a line the reader would refuse is left out (a second column-header line, a
// data line with the wrong column count or a FORMAT not starting with GT).
// Those refusals are rows of the whole-run table (tests/runs_test.cpp). If the
// reader still exits on a line the harness admitted, the fuzzer (in the suite,
// the test program) stops there and reports it.
//
// The filters are opened wide (any frequency, any missing rate, no distance
// or thinning), so a data line is retained exactly when it has a called
// genotype; what the reader stored is then compared with the codes and
// chromosome runs decoded here from the same lines.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "input/genotype_store.h"
#include "input/vcf_reader.h"
#include "setup/run_settings.h"
#include "tests/fuzz/reference_tokens.h"

namespace {

constexpr size_t kFixedColumns = 9;

std::vector<std::string> columns_of(const std::string& line) {
  std::vector<std::string> columns;
  for (const ReferenceToken& t : reference_tokens(line.data(), line.size()))
    columns.push_back(line.substr(t.start, t.length));
  return columns;
}

// Alternative alleles of one allele character, or -1 when it is no allele.
int allele(char c) {
  if (c == '0') return 0;
  if (c >= '1' && c <= '3') return 1;
  return -1;
}

// Genotype code 0-2, or 3 for no call: first and third characters; a single
// character, or one followed by ':' or by a lone carriage return, is a
// haploid call.
int expected_code(const std::string& column) {
  const bool haploid =
      column.size() == 1 || (column.size() >= 2 && (column[1] == ':' || column.substr(1) == "\r"));
  if (haploid) return allele(column[0]) < 0 ? 3 : 2 * allele(column[0]);
  if (column.size() < 3) return 3;
  int a = allele(column[0]), b = allele(column[2]);
  return a < 0 || b < 0 ? 3 : a + b;
}

// The reader keeps the first 7 bytes of CHROM, up to a NUL inside them.
std::string stored_chrom(const std::string& column) {
  std::string name = column.substr(0, 7);
  return name.substr(0, strnlen(name.c_str(), name.size()));
}

struct Expected {
  std::vector<std::vector<int>> codes;  // per retained variant, per sample
  std::vector<float> mafs;
  std::vector<int32_t> chromosome_ends;  // cumulative counts
};

void feed(std::string line) {
  const int32_t length = static_cast<int32_t>(line.size());
  line.push_back('\0');  // the reader's spare byte
  process_vcf_line(line.data(), length);
}

[[noreturn]] void fail(const char* what, size_t index) {
  fprintf(stderr, "reader mismatch: %s at %zu\n", what, index);
  abort();
}

void check_store(const Expected& want, int32_t samples) {
  const size_t kept = want.codes.size();
  if (GenotypeMatrix::nvars != static_cast<int32_t>(kept)) fail("retained count", kept);
  for (size_t v = 0; v < kept; ++v) {
    if (allele_freqs.data[v] != want.mafs[v]) fail("frequency", v);
    for (int32_t s = 0; s < samples; ++s) {
      const uint8_t byte = GenotypeMatrix::rows[v / 2][s];
      const bool low = v % 2 == 1 || v + 1 == kept;  // an odd last variant sits alone
      if ((low ? byte & 3 : byte >> 2) != want.codes[v][s]) fail("genotype code", v);
      if (byte > 15) fail("packed byte", v);
    }
  }
  // Rows past the last retained variant hold nothing: every rejection was undone.
  for (int32_t r = static_cast<int32_t>((kept + 1) / 2); r < GenotypeMatrix::capacity; ++r)
    for (int32_t s = 0; s < GenotypeMatrix::npeople; ++s)
      if (GenotypeMatrix::rows[r][s] != 0) fail("undone row", static_cast<size_t>(r));
  const size_t chromosomes = want.chromosome_ends.size();
  if (ChromosomeTable::count != static_cast<int32_t>(chromosomes ? chromosomes + 1 : 0))
    fail("chromosome count", chromosomes);
  for (size_t k = 0; k < chromosomes; ++k)
    if (ChromosomeTable::cumulative[k + 1] != want.chromosome_ends[k]) fail("cumulative", k);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!freopen("/dev/null", "w", stdout)) return 0;  // the reader's messages
  RunSettings::variant_capacity = 2;  // grows the matrix early and often
  RunSettings::min_maf = -1.0;
  RunSettings::max_missing_rate = 1.0f;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> lines;
  for (size_t p = 0; p < size;) {
    const uint8_t* nl = static_cast<const uint8_t*>(memchr(data + p, '\n', size - p));
    const size_t end = nl ? static_cast<size_t>(nl - data) + 1 : size;
    std::string line(reinterpret_cast<const char*>(data + p), end - p);
    if (!nl) line.push_back('\n');  // as the splitter passes on a last line
    lines.push_back(line);
    p = end;
  }

  reset_genotype_store();
  start_vcf_reading();
  if (lines.empty() || lines[0][0] != '#' || lines[0][1] == '#' ||
      columns_of(lines[0]).size() < kFixedColumns)
    lines.insert(lines.begin(), "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ta\tb\tc\n");
  feed(lines[0]);
  const size_t samples = columns_of(lines[0]).size() - kFixedColumns;

  Expected want;
  std::string last_chrom;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line[0] == '#') {
      if (line[1] == '#') feed(line);  // meta lines may come anywhere
      continue;
    }
    const std::vector<std::string> columns = columns_of(line);
    if (columns.size() != samples + kFixedColumns || columns[8].compare(0, 2, "GT") != 0)
      continue;
    feed(line);
    std::vector<int> codes;
    int called = 0, alt = 0;
    for (size_t s = 0; s < samples; ++s) {
      codes.push_back(expected_code(columns[kFixedColumns + s]));
      if (codes.back() != 3) {
        ++called;
        alt += codes.back();
      }
    }
    if (called == 0) continue;
    const float af = static_cast<float>(alt) / static_cast<float>(2 * called);
    want.mafs.push_back(af > 0.5f ? 1.0f - af : af);
    want.codes.push_back(codes);
    const std::string chrom = stored_chrom(columns[0]);
    if (want.chromosome_ends.empty() || chrom != last_chrom) want.chromosome_ends.push_back(0);
    last_chrom = chrom;
    want.chromosome_ends.back() = static_cast<int32_t>(want.codes.size());
  }
  finish_vcf_input();
  check_store(want, static_cast<int32_t>(samples));
  return 0;
}
