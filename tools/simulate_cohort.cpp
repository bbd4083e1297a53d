// simulate_cohort: writes a VCF of a simulated cohort with known relatives.
//
// Founders draw each allele from the variant's allele frequency; each child
// copies one haplotype from each parent, recombined at crossovers placed as a
// Poisson process (1 cM per Mb). Genotypes are printed phased ("0|1"), with
// "./." for a missing call. The same arguments give the same VCF text on every
// machine (and, with the same htslib, the same compressed bytes): all
// randomness comes from the seeded generator of cohort_random.h, and floating
// point is never contracted (see CMakeLists.txt).
#include <htslib/bgzf.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cohort_genome.h"
#include "cohort_pedigree.h"
#include "cohort_random.h"

namespace {

using namespace cohort;

struct Settings {
  int samples = 200;
  uint64_t variants = 50000;
  int chromosomes = 4;
  int families = -1;  // -1: default_family_count(samples)
  uint64_t seed = 1;
  double missing = 0.005;  // probability that a genotype is "./."
  std::string out = "cohort.vcf.gz";
  std::string truth;       // related pairs file, none when empty
  bool plain = false;      // uncompressed text instead of BGZF
  int threads = 4;         // compression threads
  int level = 1;           // compression level: 1 is many times faster than 6 on this text
};

const char kUsage[] =
    "Usage: simulate_cohort [options]\n"
    "  --samples N      number of samples (default 200)\n"
    "  --variants M     number of variants (default 50000)\n"
    "  --chromosomes C  number of chromosomes, 100-250 Mb each (default 4)\n"
    "  --families K     families of 12 related samples (default samples / 30)\n"
    "  --seed S         random seed (default 1)\n"
    "  --missing RATE   probability of a missing genotype (default 0.005)\n"
    "  --out FILE       output VCF, BGZF-compressed unless --plain; - for standard\n"
    "                   output (default cohort.vcf.gz)\n"
    "  --truth FILE     write the related pairs with their expected kinship and IBD\n"
    "  --plain          write uncompressed text\n"
    "  --threads T      compression threads (default 4)\n"
    "  --level L        compression level 0-9 (default 1)\n";

[[noreturn]] void fail(const char* format, const char* what) {
  std::fprintf(stderr, "simulate_cohort: ");
  std::fprintf(stderr, format, what);
  std::fprintf(stderr, "\n");
  std::exit(1);
}

uint64_t parse_count(const char* option, const char* text, uint64_t min, uint64_t max) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno || end == text || *end || text[0] == '-' || value < min || value > max) {
    std::fprintf(stderr, "simulate_cohort: %s needs a whole number from %" PRIu64 " to %" PRIu64
                         ", not '%s'\n", option, min, max, text);
    std::exit(1);
  }
  return value;
}

Settings parse_settings(int argc, char** argv) {
  Settings s;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (option == "--plain") {
      s.plain = true;
      continue;
    }
    if (i + 1 >= argc) fail("%s needs a value", argv[i]);
    const char* value = argv[++i];
    if (option == "--samples") s.samples = static_cast<int>(parse_count(argv[i - 1], value, 1, 10'000'000));
    else if (option == "--variants") s.variants = parse_count(argv[i - 1], value, 0, 1ull << 40);
    else if (option == "--chromosomes") s.chromosomes = static_cast<int>(parse_count(argv[i - 1], value, 1, 9999));
    else if (option == "--families") s.families = static_cast<int>(parse_count(argv[i - 1], value, 0, 1'000'000));
    else if (option == "--seed") s.seed = parse_count(argv[i - 1], value, 0, UINT64_MAX);
    else if (option == "--threads") s.threads = static_cast<int>(parse_count(argv[i - 1], value, 0, 256));
    else if (option == "--level") s.level = static_cast<int>(parse_count(argv[i - 1], value, 0, 9));
    else if (option == "--out") s.out = value;
    else if (option == "--truth") s.truth = value;
    else if (option == "--missing") {
      char* end = nullptr;
      s.missing = std::strtod(value, &end);
      if (end == value || *end || !(s.missing >= 0 && s.missing <= 1))
        fail("--missing needs a rate from 0 to 1, not '%s'", value);
    } else {
      std::fputs(kUsage, stderr);
      fail("unknown option '%s'", argv[i - 1]);
    }
  }
  if (s.families < 0) s.families = default_family_count(s.samples);
  if (static_cast<int64_t>(s.families) * kFamilySize > s.samples)
    fail("%s: the families do not fit in the samples (12 samples per family)",
         std::to_string(s.families).c_str());
  return s;
}

// The VCF text goes either through BGZF compression or straight to a file.
class VcfSink {
 public:
  explicit VcfSink(const Settings& s) : path_(s.out) {
    if (s.plain) {
      file_ = s.out == "-" ? stdout : std::fopen(s.out.c_str(), "w");
      if (!file_) fail("cannot create %s", s.out.c_str());
      std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
      return;
    }
    const char mode[3] = {'w', static_cast<char>('0' + s.level), '\0'};
    bgzf_ = bgzf_open(s.out.c_str(), mode);
    if (!bgzf_) fail("cannot create %s", s.out.c_str());
    if (s.threads > 1 && bgzf_mt(bgzf_, s.threads, 256) != 0)
      fail("cannot start compression threads for %s", s.out.c_str());
  }

  void write(const char* data, size_t size) {
    bytes_ += size;
    const bool ok = bgzf_ ? bgzf_write(bgzf_, data, size) == static_cast<ssize_t>(size)
                          : std::fwrite(data, 1, size, file_) == size;
    if (!ok) fail("write to %s failed", path_.c_str());
  }
  void write(const std::string& text) { write(text.data(), text.size()); }

  void close() {
    const bool ok = bgzf_ ? bgzf_close(bgzf_) == 0 : std::fclose(file_) == 0;
    if (!ok) fail("closing %s failed", path_.c_str());
  }

  uint64_t bytes() const { return bytes_; }

 private:
  std::string path_;
  BGZF* bgzf_ = nullptr;
  FILE* file_ = nullptr;
  uint64_t bytes_ = 0;
};

std::string vcf_header(const Settings& s, const std::vector<Chromosome>& chromosomes,
                       const std::vector<Sample>& pedigree) {
  char model[256];
  std::snprintf(model, sizeof model,
                "##source=simulate_cohort --samples %d --variants %" PRIu64
                " --chromosomes %d --families %d --seed %" PRIu64 " --missing %g\n",
                s.samples, s.variants, s.chromosomes, s.families, s.seed, s.missing);
  std::string header = "##fileformat=VCFv4.2\n";
  header += model;
  for (const Chromosome& c : chromosomes)
    header += "##contig=<ID=" + c.name + ",length=" + std::to_string(c.length) + ">\n";
  header += "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n";
  header += "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
  for (const Sample& sample : pedigree) header += "\t" + sample.name;
  header += "\n";
  return header;
}

void write_truth(const std::string& path, const std::vector<Sample>& pedigree) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) fail("cannot create %s", path.c_str());
  std::fprintf(f, "# Related pairs of the simulated cohort; pairs not listed are unrelated.\n"
                  "#sample1\tsample2\trelationship\tkinship\tibd0\tibd1\tibd2\n");
  const Kinship kinship(pedigree);
  for (const RelatedPair& p : kinship.related_pairs())
    std::fprintf(f, "%s\t%s\t%s\t%.4f\t%.4f\t%.4f\t%.4f\n", pedigree[p.first].name.c_str(),
                 pedigree[p.second].name.c_str(), p.relationship, p.sharing.kinship,
                 p.sharing.ibd0, p.sharing.ibd1, p.sharing.ibd2);
  if (std::ferror(f) | std::fclose(f)) fail("write to %s failed", path.c_str());
}

// Writes every variant line, chromosome after chromosome.
class CohortWriter {
 public:
  CohortWriter(const Settings& s, const std::vector<Sample>& pedigree)
      : pedigree_(pedigree),
        layout_(s.seed, 1),
        meiosis_(s.seed, 2),
        founder_alleles_(s.seed, 3),
        missing_calls_(s.seed, 4),
        missing_threshold_(probability_threshold(s.missing)),
        alleles_(2 * pedigree.size()),
        line_(64 + 4 * pedigree.size()) {
    for (size_t i = 0; i < pedigree.size(); ++i) {
      if (pedigree[i].founder()) {
        founders_.push_back(static_cast<int>(i));
      } else {
        children_.push_back(static_cast<int>(i));
        transmissions_.emplace_back();
        transmissions_.back().parent = pedigree[i].parent_a;
        transmissions_.emplace_back();
        transmissions_.back().parent = pedigree[i].parent_b;
      }
    }
  }

  Random& layout() { return layout_; }

  void write_chromosome(const Chromosome& chrom, VcfSink& sink) {
    for (Transmission& t : transmissions_) t.draw_meiosis(chrom, meiosis_);
    VariantStream variants(chrom, layout_);
    while (!variants.done()) {
      const Variant v = variants.next();
      draw_alleles(v);
      sink.write(line_.data(), format_line(chrom, v));
    }
  }

 private:
  void draw_alleles(const Variant& v) {
    for (int i : founders_) {
      const uint64_t r = founder_alleles_.next();
      alleles_[2 * i] = (r & 0xFFFFFFFFu) < v.alt_threshold;
      alleles_[2 * i + 1] = (r >> 32) < v.alt_threshold;
    }
    // Parents precede their children, so their alleles are already drawn.
    for (size_t k = 0; k < children_.size(); ++k) {
      const int i = children_[k];
      for (int h = 0; h < 2; ++h) {
        Transmission& t = transmissions_[2 * k + h];
        alleles_[2 * i + h] = alleles_[2 * t.parent + t.source_at(v.position)];
      }
    }
  }

  // Fills line_ with the variant's line and returns its length.
  size_t format_line(const Chromosome& chrom, const Variant& v) {
    static constexpr char kCalls[5][4] = {{'0', '|', '0', '\t'}, {'0', '|', '1', '\t'},
                                          {'1', '|', '0', '\t'}, {'1', '|', '1', '\t'},
                                          {'.', '/', '.', '\t'}};
    char* p = line_.data();
    p += std::snprintf(p, 64, "%s\t%" PRIu64 "\t.\t%c\t%c\t.\tPASS\t.\tGT\t", chrom.name.c_str(),
                       v.position, v.ref, v.alt);
    const size_t n = pedigree_.size();
    uint64_t missing_bits = 0;
    for (size_t i = 0; i < n; ++i) {
      int call = alleles_[2 * i] * 2 + alleles_[2 * i + 1];
      if (missing_threshold_) {
        // One draw serves two samples.
        if (i % 2 == 0) missing_bits = missing_calls_.next();
        else missing_bits >>= 32;
        if ((missing_bits & 0xFFFFFFFFu) < missing_threshold_) call = 4;
      }
      std::memcpy(p, kCalls[call], 4);
      p += 4;
    }
    p[-1] = '\n';
    return static_cast<size_t>(p - line_.data());
  }

  const std::vector<Sample>& pedigree_;
  Random layout_, meiosis_, founder_alleles_, missing_calls_;
  uint64_t missing_threshold_;
  std::vector<int> founders_, children_;
  std::vector<Transmission> transmissions_;  // two per child, in children_ order
  std::vector<uint8_t> alleles_;             // two per sample: haplotypes 0 and 1
  std::vector<char> line_;
};

}  // namespace

int main(int argc, char** argv) {
  const Settings settings = parse_settings(argc, argv);
  const std::vector<Sample> pedigree = build_pedigree(settings.samples, settings.families);
  CohortWriter writer(settings, pedigree);
  const std::vector<Chromosome> chromosomes =
      build_chromosomes(settings.chromosomes, settings.variants, writer.layout());

  VcfSink sink(settings);
  sink.write(vcf_header(settings, chromosomes, pedigree));
  for (const Chromosome& chrom : chromosomes) writer.write_chromosome(chrom, sink);
  sink.close();
  if (!settings.truth.empty()) write_truth(settings.truth, pedigree);

  std::fprintf(stderr,
               "simulate_cohort: %d samples (%d families, %d unrelated), %" PRIu64
               " variants on %d chromosomes, %" PRIu64 " bytes of VCF text written to %s\n",
               settings.samples, settings.families,
               settings.samples - settings.families * kFamilySize, settings.variants,
               settings.chromosomes, sink.bytes(), settings.out.c_str());
  return 0;
}
