// A small VCF whose reports can be worked out by hand, for the end-to-end
// tests. Samples A, B, C and D; B holds A's genotypes (written phased), C
// differs from A at a few variants, D is never called, so every variant has
// one missing call (run with --missing 0.25, which allows one of four).
//
// 551 retained variants, numbered g = 0 ... 550 in file order:
//   chromosome "1": g = 0 ... 300 at 1000, 2000, ..., 301000 bp;
//   chromosome "2": g = 301 ... 550 at 1000, 2000, ..., 250000 bp.
// A = B = 0/1 and C = 0/1 everywhere except:
//   C = 1/1 at g = 20, 40, 60, 80, 100 and 400, 402, 404, 406, 408
//     (A and C one allele apart: an IBS2 break, no IBS1 break);
//   A = B = 0/0 and C = 1/1 at g = 200, 202, 204, 206, 300 and 550
//     (opposite homozygotes: an IBS2 and an IBS1 break).
// Two more data lines are dropped by the filters: one with a second missing
// call (after g = 150) and one without an alternative allele (after g = 450).
#pragma once
#include <initializer_list>
#include <string>
#include <vector>

inline std::string four_sample_vcf(bool final_newline = true) {
  std::string text =
      "##fileformat=VCFv4.2\n"
      "##source=hand-made\n"
      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tA\tB\tC\tD\n";
  auto line = [&text](int chrom, int pos, const char* a, const char* c) {
    std::string b = a;
    b[1] = '|';
    text += std::to_string(chrom) + "\t" + std::to_string(pos) + "\t.\tA\tG\t.\tPASS\t.\tGT\t" + a +
            "\t" + b + "\t" + c + "\t./.\n";
  };
  auto in = [](int g, std::initializer_list<int> set) {
    for (int x : set)
      if (g == x) return true;
    return false;
  };
  for (int g = 0; g <= 550; ++g) {
    const int chrom = g <= 300 ? 1 : 2;
    const int pos = chrom == 1 ? 1000 * (g + 1) : 1000 * (g - 300);
    if (in(g, {200, 202, 204, 206, 300, 550}))
      line(chrom, pos, "0/0", "1/1");
    else if (in(g, {20, 40, 60, 80, 100, 400, 402, 404, 406, 408}))
      line(chrom, pos, "0/1", "1/1");
    else
      line(chrom, pos, "0/1", "0/1");
    if (g == 150) line(chrom, pos + 500, "./.", "0/1");  // two missing calls
    if (g == 450) line(chrom, pos + 500, "0/0", "0/0");  // no alternative allele
  }
  if (!final_newline) text.pop_back();
  return text;
}

// The arguments that fix both thresholds (IBD1 100 markers, IBD2 120) and
// admit D's missing calls.
inline std::vector<std::string> four_sample_args(std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"--vcf", "in.vcf", "--out", "run", "--missing", "0.25",
                                   "--ibs1markers", "100", "--ibs2markers", "120"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}
