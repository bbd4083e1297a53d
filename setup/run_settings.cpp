#include "setup/run_settings.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "setup/id_table.h"
#include "setup/options.h"

namespace RunSettings {
char input_path[kTextSize] = "(nofile)";
char output_prefix[kTextSize] = "palvane";
int32_t buffer_size = 65536;
int32_t thread_count = 6;
int32_t people_count = 102;
double ibd1_threshold = 0.002;
double ibd2_threshold = 0.001;
int32_t threshold_mode = 2;
double threshold_scale = 1.0;
double report_threshold = -999.0;
double min_maf = 0.06;
double max_maf = 32768.0;
int32_t min_distance = 0;
int32_t thin_level = 0;
float max_missing_rate = 0.02f;
int32_t variant_capacity = 200000;
int32_t report_segments = 0;
int32_t scan_mode = 2;
int32_t pair_mode = 0;
char pair_name1[kTextSize] = "";
char pair_name2[kTextSize] = "";
int32_t subset_flag = 0;
IdTable* subset_table = nullptr;
}  // namespace RunSettings

namespace {

using namespace RunSettings;

constexpr int32_t kMaxCpu = 30;                   // 32 thread slots, two for the input stages
constexpr long kMaxBufferSize = INT32_MAX / 33;   // a slot's 33 blocks stay within the int32 range
constexpr size_t kMaxTextLength = kTextSize - 1;  // text settings keep a terminating NUL
constexpr size_t kMaxOutputPrefixLength = 246;    // longest prefix the report file names allow

// A value read with strtol in base 10: what it reads as, and whether that
// fits an int32 (strtol saturates and sets ERANGE beyond the range of long).
struct WholeNumber {
  long number;
  bool fits_int32;
};

WholeNumber read_whole_number(const char* text) {
  errno = 0;
  long number = std::strtol(text, nullptr, 10);
  bool fits = errno != ERANGE && number >= INT32_MIN && number <= INT32_MAX;
  return {number, fits};
}

int32_t to_int32(const char* text) { return static_cast<int32_t>(read_whole_number(text).number); }

// --thin sets thin_level to value x 1024, truncated; the product must fit an int32.
bool thin_product_fits(double product) {
  return product > static_cast<double>(INT32_MIN) - 1.0 &&
         product < static_cast<double>(INT32_MAX) + 1.0;
}

// Copies a text value whole; a value too long for the array is left out and
// refused once every option has been looked up.
void copy_text(char* setting, const char* text) {
  size_t length = std::strlen(text);
  if (length <= kMaxTextLength) std::memcpy(setting, text, length + 1);
}

// The words given for the options whose values are checked after the lookups.
struct GivenWords {
  std::optional<std::string> file, ped, out, vcf;
  std::optional<std::string> buffer, cpu, people, mindist, thin, nvar, error;
  std::optional<std::string> pair1, pair2;
};

[[noreturn]] void refuse(const char* option, const std::string& word, const std::string& accepted) {
  std::fprintf(stderr, "Error: Option %s value '%s' is out of range; accepted: %s.\n", option,
               word.c_str(), accepted.c_str());
  std::exit(1);
}

void check_text_length(const char* option, const std::optional<std::string>& word,
                       size_t max_length) {
  if (word && word->size() > max_length) {
    refuse(option, *word, "at most " + std::to_string(max_length) + " characters");
  }
}

void check_whole_number(const char* option, const std::optional<std::string>& word, long low,
                        long high) {
  if (!word) return;
  WholeNumber value = read_whole_number(word->c_str());
  if (!value.fits_int32 || value.number < low || value.number > high) {
    refuse(option, *word, std::to_string(low) + " to " + std::to_string(high));
  }
}

// Refuses, in lookup order, the first value the rest of the run cannot serve.
void refuse_unservable_values(const GivenWords& given) {
  check_text_length("--file", given.file, kMaxTextLength);
  check_text_length("--ped", given.ped, kMaxTextLength);
  check_text_length("--out", given.out, kMaxOutputPrefixLength);
  check_text_length("--vcf", given.vcf, kMaxTextLength);
  check_whole_number("--buffer", given.buffer, 1, kMaxBufferSize);
  check_whole_number("--cpu", given.cpu, 0, kMaxCpu);
  // With no worker slot the --pair pair would never be scanned.
  if (given.cpu && given.pair1 && read_whole_number(given.cpu->c_str()).number == 0) {
    refuse("--cpu", *given.cpu, "1 to " + std::to_string(kMaxCpu) + " together with --pair");
  }
  check_whole_number("--people", given.people, INT32_MIN, INT32_MAX);
  check_whole_number("--mindist", given.mindist, INT32_MIN, INT32_MAX);
  if (given.thin && !thin_product_fits(std::strtod(given.thin->c_str(), nullptr) * 1024.0)) {
    refuse("--thin", *given.thin, "values whose product with 1024 lies in " +
                                      std::to_string(INT32_MIN) + " to " +
                                      std::to_string(INT32_MAX));
  }
  check_whole_number("--nvar", given.nvar, 1, INT32_MAX);
  check_whole_number("--error", given.error, INT32_MIN, INT32_MAX);
  check_text_length("--pair", given.pair1, kMaxTextLength);
  check_text_length("--pair", given.pair2, kMaxTextLength);
}

// Looks a text option up: its word is kept for the checks and copied into the setting.
void take_text(options& opts, const char* name, std::optional<std::string>& given, char* setting) {
  if (!opts.check_option(name, 1)) return;
  given = opts.value[0];
  copy_text(setting, opts.value[0]);
}

// Looks a strtol option up: its word is kept for the checks and stored as an int32.
void take_whole_number(options& opts, const char* name, std::optional<std::string>& given,
                       int32_t& setting) {
  if (!opts.check_option(name, 1)) return;
  given = opts.value[0];
  setting = to_int32(opts.value[0]);
}

}  // namespace

void apply_options(options& opts) {
  GivenWords given;
  const char* const* value = opts.value;
  // Fixed lookup order: where two options write one setting, the later lookup wins.
  take_text(opts, "--file", given.file, input_path);
  take_text(opts, "--ped", given.ped, input_path);
  take_text(opts, "--out", given.out, output_prefix);
  take_text(opts, "--vcf", given.vcf, input_path);
  take_whole_number(opts, "--buffer", given.buffer, buffer_size);
  if (opts.check_option("--cpu", 1)) {
    given.cpu = value[0];
    WholeNumber cpu = read_whole_number(value[0]);
    if (cpu.fits_int32) thread_count = static_cast<int32_t>(static_cast<int64_t>(cpu.number) + 2);
  }
  take_whole_number(opts, "--people", given.people, people_count);
  if (opts.check_option("--ibs1", 1)) {
    ibd1_threshold = std::strtod(value[0], nullptr) * 0.001;
    ibd2_threshold = 0.0;
    threshold_mode = 0;
  }
  if (opts.check_option("--ibs2", 1)) {
    ibd2_threshold = std::strtod(value[0], nullptr) * 0.001;
    threshold_mode = 0;
  }
  if (opts.check_option("--ibs1markers", 1)) {
    ibd1_threshold = std::strtod(value[0], nullptr);
    threshold_mode = 1;
  }
  if (opts.check_option("--ibs2markers", 1)) {
    ibd2_threshold = std::strtod(value[0], nullptr);
    threshold_mode = 1;
  }
  if (opts.check_option("--S", 1)) threshold_scale = std::strtod(value[0], nullptr);
  if (opts.check_option("--L", 1)) threshold_scale = std::strtod(value[0], nullptr);
  if (opts.check_option("--report-ibd", 1)) report_threshold = std::strtod(value[0], nullptr);
  if (opts.check_option("--maf", 1)) min_maf = std::strtod(value[0], nullptr);
  if (opts.check_option("--maxmaf", 1)) max_maf = std::strtod(value[0], nullptr);
  take_whole_number(opts, "--mindist", given.mindist, min_distance);
  if (opts.check_option("--thin", 1)) {
    given.thin = value[0];
    double product = std::strtod(value[0], nullptr) * 1024.0;
    if (thin_product_fits(product)) thin_level = static_cast<int32_t>(product);
  }
  if (opts.check_option("--missing", 1)) {
    max_missing_rate = static_cast<float>(std::strtod(value[0], nullptr));
  }
  take_whole_number(opts, "--nvar", given.nvar, variant_capacity);
  if (opts.check_option("--segments", 0)) report_segments = 1;
  take_whole_number(opts, "--error", given.error, scan_mode);
  if (opts.check_option("--pair", 2)) {
    given.pair1 = value[0];
    given.pair2 = value[1];
    pair_mode = 1;
    copy_text(pair_name1, value[0]);
    copy_text(pair_name2, value[1]);
  }
  bool subset_given = opts.check_option("--subset", 1) != 0;
  refuse_unservable_values(given);
  if (subset_given) {
    subset_flag = 1;
    subset_table = new IdTable;
    subset_table->read_file(value[0]);
  }
}
