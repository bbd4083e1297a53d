// Small VCF texts for end-to-end tests: a cohort whose variants all pass
// palvane's default filters, with a hook to change any data line.
#pragma once
#include <functional>
#include <string>
#include <vector>

inline const char* const kCalls[] = {"0/0", "0/1", "1/1"};

// A VCF text whose variants all pass the default filters: sample s of
// variant v is called kCalls[(s + v) % 3], so samples s and s + 3 agree.
struct Cohort {
  explicit Cohort(int samples_ = 3, int variants_ = 600) : samples(samples_), variants(variants_) {}
  int samples;
  int variants;
  std::string eol = "\n";
  std::string name_prefix = "S";
  // Changes the columns of data line v before it is joined.
  std::function<void(int v, std::vector<std::string>& columns)> edit;

  std::string text() const {
    std::string out = "##fileformat=VCFv4.2\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
    for (int s = 0; s < samples; ++s) out += "\t" + name_prefix + std::to_string(s);
    out += eol;
    for (int v = 0; v < variants; ++v) {
      std::vector<std::string> columns = {"1", std::to_string(1000 * (v + 1)), ".", "A", "G", ".",
                                          "PASS", ".", "GT"};
      for (int s = 0; s < samples; ++s) columns.push_back(kCalls[(s + v) % 3]);
      if (edit) edit(v, columns);
      for (size_t c = 0; c < columns.size(); ++c) out += (c ? "\t" : "") + columns[c];
      out += eol;
    }
    return out;
  }
};

inline Cohort edited(int samples, int variants,
                     std::function<void(int v, std::vector<std::string>& columns)> edit) {
  Cohort c(samples, variants);
  c.edit = std::move(edit);
  return c;
}
