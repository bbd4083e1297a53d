// The VCF reader: takes the lines of the line queue in file order, reads the
// column-header line into SampleNames, and for each data line checks its
// form, packs its genotypes, applies the variant filters and records the
// variants it keeps.
#include "input/vcf_reader.h"
#include "setup/run_messages.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "input/genotype_calls.h"
#include "input/genotype_store.h"
#include "input/line_queue.h"
#include "input/line_tokens.h"
#include "setup/id_table.h"
#include "setup/run_settings.h"

namespace {
constexpr int32_t kFixedColumns = 9;  // CHROM .. FORMAT; samples start at column 10

// Format errors of the input, on standard output, each ending the process.
[[noreturn]] void fail_format_not_gt() {
  printf("Error: Bad or not supported VCF format. Column 8 should start with 'GT' field.%c\n", ' ');
  exit(1);
}

[[noreturn]] void fail_column_count(int32_t expected, int32_t found) {
  printf("Error: VCF file seems corrupted. Expected %d items in line but got %d\n", expected, found);
  exit(2);
}

[[noreturn]] void fail_data_before_header(int32_t line_number) {
  printf("Error: VCF file seems corrupted. Data line %d comes before the column header line\n",
         line_number);
  exit(1);
}

[[noreturn]] void fail_second_header(int32_t line_number) {
  printf("Error: VCF file seems corrupted. Second column header line at line %d\n", line_number);
  exit(1);
}

[[noreturn]] void fail_short_header(int32_t found) {
  printf("Error: VCF file seems corrupted. Column header line has %d items but needs at least %d\n",
         found, kFixedColumns);
  exit(1);
}

// Position of the last retained variant, for the distance filter; kept
// across chromosome changes.
int32_t last_kept_pos = 0;
int32_t current_markers = 0;  // retained variants of the current chromosome
char last_chrom[sizeof(VariantRecord::chrom)] = "-";
int32_t max_missing_count = -1;
int32_t kept = 0;  // variants retained so far

// The column-header line has been read once it has set the sample count.
bool header_read() { return SampleNames::count >= 0; }

// One token record serves every line: it is only ever used by this thread.
LineTokens* tokens = nullptr;

// Each sample's genotype sum on the line being read. Never destroyed: an
// input error ends the process from the main thread while this thread may
// still be reading queued lines.
std::vector<uint8_t>& call_sums = *new std::vector<uint8_t>();

std::vector<int32_t> sample_selected;
int32_t selected_count = 0;

struct GenotypeTally {
  int32_t missing = 0;
  int32_t called = 0;
  int32_t alt = 0;  // non-reference alleles of the called genotypes
};

// Each sample's genotype sum, the sum of the allele codes of its column: a
// column's first and third characters are its alleles; a one-character
// column is a haploid call, counted as homozygous so that its frequency
// weighs like a diploid one; so is one whose allele is followed by the ':' of
// further FORMAT fields ("1:35"), or by the carriage return of a CRLF line
// end, which the tokenizer leaves in the last column.
void column_sums(char* const* column, const int32_t* width, int32_t samples, uint8_t* sums) {
  for (int32_t s = 0; s < samples; ++s) {
    const unsigned char* g = reinterpret_cast<const unsigned char*>(column[s]);
    const int32_t w = width[s];
    const bool haploid = w == 1 || (w >= 2 && (g[1] == ':' || (w == 2 && g[1] == '\r')));
    int32_t sum;
    if (haploid) {
      sum = 2 * genotype_code_table[g[0]];
    } else if (w >= 3) {
      sum = genotype_code_table[g[0]] + genotype_code_table[g[2]];
    } else {
      sum = 32;  // an empty or other two-character column is no call
    }
    sums[s] = static_cast<uint8_t>(sum);
  }
}

// Shifts each sample's code of this variant into its byte of the row: its
// sum, or 3 (no call) when a non-allele character makes the sum 16 or more.
GenotypeTally pack_genotypes(uint8_t* row, const uint8_t* sums, int32_t samples) {
  int32_t missing = 0;
  int32_t alt = 0;
  for (int32_t s = 0; s < samples; ++s) {
    const int32_t sum = sums[s];
    const bool no_call = (sum & 0x30) != 0;
    missing += no_call;
    alt += no_call ? 0 : sum;
    row[s] = static_cast<uint8_t>((row[s] << 2) | (no_call ? 3 : sum));
  }
  GenotypeTally tally;
  tally.missing = missing;
  tally.called = samples - missing;
  tally.alt = alt;
  return tally;
}

// Removes the codes just packed, leaving the row as it was before the line.
void unpack_genotypes(uint8_t* row, int32_t samples) {
  for (int32_t s = 0; s < samples; ++s) row[s] = static_cast<uint8_t>(row[s] >> 2);
}

// The most missing genotypes a kept variant may have: samples x rate in
// single precision, rounded. A rate so large (or not a number) that the count
// passes the int32 range allows every sample to be missing, rather than
// converting to a negative count that would reject every variant.
int32_t missing_count_limit(int32_t samples, float rate) {
  double rounded = static_cast<double>(static_cast<float>(samples) * rate) + 0.5;
  if (!(rounded < 2147483648.0)) return INT32_MAX;
  if (rounded <= -2147483649.0) return INT32_MIN;
  return static_cast<int32_t>(rounded);
}

void read_column_header(const char* line, int32_t length, int32_t ntok) {
  int32_t line_number = variants_read.load(std::memory_order_relaxed);
  if (header_read()) fail_second_header(line_number);
  if (ntok < kFixedColumns) fail_short_header(ntok);

  // The names must outlive the line buffer, so they live in a copy of it.
  char* header = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
  if (header == nullptr) fail_allocation(static_cast<int64_t>(length) + 1);
  memcpy(header, line, static_cast<size_t>(length));
  header[length] = '\0';
  int32_t count = ntok - kFixedColumns;
  size_t table_bytes = sizeof(char*) * static_cast<size_t>(count > 0 ? count : 1);
  char** names = static_cast<char**>(malloc(table_bytes));
  if (names == nullptr) fail_allocation(static_cast<int64_t>(table_bytes));
  for (int32_t s = 0; s < count; ++s) names[s] = header + (tokens->token[kFixedColumns + s] - line);
  // The carriage return of a CRLF line end stays in the last column: it is
  // not part of the last sample's name.
  if (count > 0) {
    char* last = names[count - 1];
    const size_t n = strlen(last);
    if (n > 0 && last[n - 1] == '\r') last[n - 1] = '\0';
  }
  SampleNames::header = header;
  SampleNames::names = names;
  SampleNames::count = count;
  call_sums.assign(static_cast<size_t>(count > 0 ? count : 0), 0);

  printf("%s Number of samples: %d\n\n", kDetail, count);
  GenotypeMatrix::allocate();
  if (RunSettings::subset_flag > 0) mark_selected_samples();

  max_missing_count = missing_count_limit(count, RunSettings::max_missing_rate);
  printf("%s Excluding variants with missing rate > %.3f (%d samples)\n\n", kDetail,
         static_cast<double>(RunSettings::max_missing_rate), max_missing_count);
  // Written as two ordered tests so that a min_maf that is not a number prints nothing.
  if (RunSettings::min_maf < -1.0 || RunSettings::min_maf > -1.0)
    printf("%s Excluding variants with allele frequency  < %.3f\n\n", kDetail,
           RunSettings::min_maf);
  if (RunSettings::min_distance > 0)
    printf("%s Excluding variants closer than %d base pairs\n\n", kDetail,
           RunSettings::min_distance);
}

void record_retained_variant(int32_t pos, const char* chrom, double maf) {
  last_kept_pos = pos;
  VariantRecord record{};
  record.pos = pos;
  memcpy(record.chrom, chrom, strnlen(chrom, sizeof(record.chrom) - 1));
  variant_records.append(record);
  allele_freqs.append(static_cast<float>(maf));

  // The first retained variant always opens chromosome 1, whatever its name.
  if (ChromosomeTable::count == 0 || strcmp(record.chrom, last_chrom) != 0) {
    printf("%s Reading chromosome %s (pos=%d)\n", kDetail, record.chrom, kept);
    memcpy(last_chrom, record.chrom, sizeof(last_chrom));
    if (ChromosomeTable::count > 0)
      ChromosomeTable::close_entry(ChromosomeTable::count, current_markers);
    current_markers = 0;
    ++ChromosomeTable::count;
  }
  ++current_markers;
  ++kept;
  variants_kept.store(kept, std::memory_order_release);
}

// Reads a data line split into ntok tokens; with sums_ready, the line is one
// of fixed-width calls whose sums are already in call_sums.
void read_data_line(int32_t ntok, bool sums_ready) {
  if (!header_read()) fail_data_before_header(variants_read.load(std::memory_order_relaxed));
  const int32_t samples = SampleNames::count;
  RunSettings::people_count = samples;
  if (kept >= GenotypeMatrix::capacity) GenotypeMatrix::grow();

  char* const* column = tokens->token;
  const int32_t* width = tokens->length;
  if (ntok >= kFixedColumns && (column[8][0] != 'G' || column[8][1] != 'T')) fail_format_not_gt();
  if (ntok != samples + kFixedColumns) fail_column_count(samples + kFixedColumns, ntok);

  int32_t pos = static_cast<int32_t>(strtol(column[1], nullptr, 10));
  // int32 difference with wrap-around, as the positions are int32.
  int32_t distance = static_cast<int32_t>(static_cast<uint32_t>(pos) -
                                          static_cast<uint32_t>(last_kept_pos));
  if (distance > 0 && distance < RunSettings::min_distance) return;

  uint8_t* row = GenotypeMatrix::rows[kept / 2];
  // A row holds no retained variant yet when kept is even, so it is all 0.
  // Writing it first lets the kernel map fresh zeroed pages in one fault,
  // instead of mapping the shared zero page for the packing's read and then
  // copying it (with a TLB shootdown to every core) at the write.
  if (kept % 2 == 0) memset(row, 0, static_cast<size_t>(samples));
  if (!sums_ready)
    column_sums(column + kFixedColumns, width + kFixedColumns, samples, call_sums.data());
  GenotypeTally tally = pack_genotypes(row, call_sums.data(), samples);

  // Single-precision frequency, widened; a variant without a called
  // genotype has none and is always rejected.
  double maf = 0.0;
  bool rejected = tally.called == 0;
  if (!rejected) {
    float af = static_cast<float>(tally.alt) / static_cast<float>(tally.called + tally.called);
    double widened = static_cast<double>(af);
    maf = widened > 0.5 ? 1.0 - widened : widened;
    if (maf > RunSettings::max_maf || RunSettings::min_maf > maf) rejected = true;
  }
  if (tally.missing > max_missing_count) rejected = true;
  // With --thin, one draw for every line that gets here, whatever the tests
  // above decided.
  if (RunSettings::thin_level > 0 && lrand48() % 1024 > RunSettings::thin_level) rejected = true;

  if (rejected) {
    unpack_genotypes(row, samples);
    return;
  }
  record_retained_variant(pos, column[0], maf);
}
}  // namespace

void start_vcf_reading() {
  variants_read.store(0, std::memory_order_release);
  memcpy(last_chrom, "-", 2);
  kept = 0;
  allele_freqs.reset(256000);
  SampleNames::count = -1;
  // In a run these already hold their initial values (the reader runs once).
  last_kept_pos = 0;
  current_markers = 0;
  max_missing_count = -1;
  if (tokens == nullptr) tokens = new LineTokens();
}

void process_vcf_line(char* line, int32_t length) {
  variants_read.store(variants_read.load(std::memory_order_relaxed) + 1,
                      std::memory_order_release);
  if (length > 0 && line[0] == '#') {
    if (length > 1 && line[1] == '#') return;  // meta line
    read_column_header(line, length, tokens->split(line, length));
    return;
  }
  // The common layout: nine tab-ended fixed columns, then only three-character
  // calls, 4 bytes a sample with the newline. Nothing is written into the line
  // before it is known to qualify.
  const int32_t samples = SampleNames::count;
  const int64_t calls_at = length - 4 * static_cast<int64_t>(samples);
  if (samples > 0 && calls_at > 0 && line[calls_at - 1] == '\t' &&
      fixed_width_sums(line + calls_at, samples, call_sums.data()) &&
      tokens->split_tab_columns(line, static_cast<int32_t>(calls_at), kFixedColumns)) {
    read_data_line(samples + kFixedColumns, true);
    return;
  }
  read_data_line(tokens->split(line, length), false);
}

void finish_vcf_input() {
  if (ChromosomeTable::count > 0) {
    ChromosomeTable::close_entry(ChromosomeTable::count, current_markers);
    ++ChromosomeTable::count;
  }
  for (int32_t k = 1; k < ChromosomeTable::count; ++k)
    printf("%s Chromosome %3d    Markers %8d    Cumulative %8d\n", kDetail, k,
           ChromosomeTable::markers[k], ChromosomeTable::cumulative[k]);
  GenotypeMatrix::nvars = kept;
}

void vcf_reader_job(ThreadSlot*, Job*) {
  start_vcf_reading();
  while (true) {
    LineEntry entry = line_queue.getdata();
    if (entry.sequence < 0) break;  // the end marker stays queued
    process_vcf_line(entry.line, entry.length);
    free(entry.line);
    line_queue.dequeue();
  }
  finish_vcf_input();
}

void mark_selected_samples() {
  int32_t count = SampleNames::count > 0 ? SampleNames::count : 0;
  sample_selected.assign(static_cast<size_t>(count), 0);
  selected_count = 0;
  for (int32_t s = 0; s < count; ++s) {
    bool listed = RunSettings::subset_table != nullptr &&
                  RunSettings::subset_table->lookup(SampleNames::names[s]) != -1;
    sample_selected[s] = listed ? 1 : 0;
    selected_count += sample_selected[s];
  }
  for (int32_t s = 0; s < count; ++s) fprintf(stderr, "%d ", sample_selected[s]);
  fprintf(stderr, " (%d)\n\n", selected_count);
}
