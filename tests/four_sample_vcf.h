// A small VCF whose reports can be worked out by hand. Samples A, B, C and D:
// B holds A's genotypes (written phased), D is never called (run with
// --missing 0.25). 551 retained variants g = 0 ... 550: chromosome "1" holds
// g = 0 ... 300 at 1000, 2000, ... bp, chromosome "2" g = 301 ... 550 at
// 1000, 2000, ... bp. A = B = C = 0/1 except: C = 1/1 at g = 20, 40, 60, 80,
// 100 and 400 ... 408 step 2 (an IBS2 break only); A = B = 0/0 and C = 1/1 at
// g = 200 ... 206 step 2, 300 and 550 (an IBS2 and an IBS1 break). The filters
// drop two more lines: a second missing call (after g = 150) and no
// alternative allele (after g = 450).
#pragma once
#include <set>
#include <string>
#include <vector>

#include "tests/test_util.h"
#include "tests/vcf_text.h"

inline std::string four_sample_vcf(bool final_newline = true) {
  std::string text =
      "##fileformat=VCFv4.2\n##source=hand-made\n" + header_line({"A", "B", "C", "D"});
  auto line = [&text](int chrom, int pos, const char* a, const char* c) {
    std::string b = a;
    b[1] = '|';
    text += data_line(std::to_string(chrom), pos, {a, b, c, "./."});
  };
  const std::set<int> opposite = {200, 202, 204, 206, 300, 550};
  const std::set<int> one_apart = {20, 40, 60, 80, 100, 400, 402, 404, 406, 408};
  for (int g = 0; g <= 550; ++g) {
    const int chrom = g <= 300 ? 1 : 2;
    const int pos = chrom == 1 ? 1000 * (g + 1) : 1000 * (g - 300);
    const bool apart = opposite.count(g) || one_apart.count(g);
    line(chrom, pos, opposite.count(g) ? "0/0" : "0/1", apart ? "1/1" : "0/1");
    if (g == 150) line(chrom, pos + 500, "./.", "0/1");  // two missing calls
    if (g == 450) line(chrom, pos + 500, "0/0", "0/0");  // no alternative allele
  }
  if (!final_newline) text.pop_back();
  return text;
}

// The arguments that fix both thresholds (IBD1 100 markers, IBD2 120) and
// admit D's missing calls.
inline std::vector<std::string> four_sample_args(std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"--vcf", "in.vcf",        "--out", "run",           "--missing",
                                   "0.25",  "--ibs1markers", "100",   "--ibs2markers", "120"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

struct Reports {
  RunResult run;
  std::string ibd, segments;
};

// Runs program in dir and reads the reports it wrote under the prefix "run".
inline Reports run_and_read(const TempDir& dir, const std::vector<std::string>& args,
                            const char* program = PALVANE_BIN) {
  Reports r{run_program(program, args, dir.path), "", ""};
  r.ibd = read_file(dir.file("run.ibd"));
  r.segments = read_file(dir.file("run.segments"));
  return r;
}
