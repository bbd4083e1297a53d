// Small VCF texts for end-to-end tests: a cohort whose variants all pass
// palvane's default filters, with a hook to change any data line.
#pragma once
#include <functional>
#include <string>
#include <vector>

inline const char* const kCalls[] = {"0/0", "0/1", "1/1"};

// The column-header line for samples of the given names.
inline std::string header_line(const std::vector<std::string>& names) {
  std::string line = "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
  for (const std::string& name : names) line += "\t" + name;
  return line + "\n";
}

// ... for samples prefix0, prefix1, ...
inline std::string header_line(int samples, const std::string& prefix = "S") {
  std::vector<std::string> names;
  for (int s = 0; s < samples; ++s) names.push_back(prefix + std::to_string(s));
  return header_line(names);
}

// A data line of an A/G variant with a GT column and the given calls.
inline std::string data_line(const std::string& chrom, int pos,
                             const std::vector<std::string>& calls) {
  std::string line = chrom + "\t" + std::to_string(pos) + "\t.\tA\tG\t.\tPASS\t.\tGT";
  for (const std::string& call : calls) line += "\t" + call;
  return line + "\n";
}

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
    std::string out = "##fileformat=VCFv4.2\n" + header_line(samples, name_prefix);
    out.replace(out.size() - 1, 1, eol);
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
