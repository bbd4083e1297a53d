// The simulated cohort's pedigree: families of twelve built from one
// three-generation template, then unrelated samples; and the expected
// kinship and IBD sharing of every related pair.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace cohort {

struct Sample {
  std::string name;
  int parent_a = -1;  // sample index of the parent giving haplotype 0, -1 for a founder
  int parent_b = -1;  // sample index of the parent giving haplotype 1
  int family = -1;    // family number from 0, -1 for an unrelated sample
  bool founder() const { return parent_a < 0; }
};

// One family: grandparents G1 and G2; their children P1 and P2 (full
// siblings); mates M1, M2, M3 from outside; P1 x M1 gives C1 and C2, P1 x M3
// gives H1 (half sibling of C1 and C2), P2 x M2 gives C3 and C4 (first
// cousins of C1, C2 and H1). Parents come before their children.
struct TemplateMember {
  const char* role;
  int parent_a;  // index in the template, -1 for a founder
  int parent_b;
};
inline constexpr TemplateMember kFamilyTemplate[] = {
    {"G1", -1, -1}, {"G2", -1, -1}, {"P1", 0, 1},  {"P2", 0, 1},
    {"M1", -1, -1}, {"M2", -1, -1}, {"M3", -1, -1}, {"C1", 2, 4},
    {"C2", 2, 4},   {"H1", 2, 6},   {"C3", 3, 5},  {"C4", 3, 5},
};
inline constexpr int kFamilySize = sizeof(kFamilyTemplate) / sizeof(kFamilyTemplate[0]);

// The default share of related samples: one family per 30 samples, so 200
// samples hold 6 families (72 related) and 128 unrelated samples.
inline int default_family_count(int samples) { return samples / 30; }

// Families first (F1_G1, F1_G2, ...), then unrelated samples U0001, U0002, ...
inline std::vector<Sample> build_pedigree(int samples, int families) {
  std::vector<Sample> pedigree;
  pedigree.reserve(samples);
  for (int f = 0; f < families; ++f) {
    const int base = static_cast<int>(pedigree.size());
    for (const TemplateMember& m : kFamilyTemplate) {
      Sample s;
      char name[32];
      std::snprintf(name, sizeof name, "F%d_%s", f + 1, m.role);
      s.name = name;
      s.parent_a = m.parent_a < 0 ? -1 : base + m.parent_a;
      s.parent_b = m.parent_b < 0 ? -1 : base + m.parent_b;
      s.family = f;
      pedigree.push_back(s);
    }
  }
  const int unrelated = samples - static_cast<int>(pedigree.size());
  for (int u = 1; u <= unrelated; ++u) {
    char name[32];
    std::snprintf(name, sizeof name, "U%04d", u);
    pedigree.push_back(Sample{name, -1, -1, -1});
  }
  return pedigree;
}

// Expected sharing of a pair: kinship coefficient and the probabilities of
// sharing 0, 1 or 2 alleles identical by descent at a locus. Mates are
// unrelated and nobody is inbred, so k1 = 4 kinship - 2 k2.
struct PairSharing {
  double kinship = 0, ibd0 = 1, ibd1 = 0, ibd2 = 0;
};

struct RelatedPair {
  int first, second;  // sample indices, first < second
  const char* relationship;
  PairSharing sharing;
};

class Kinship {
 public:
  explicit Kinship(const std::vector<Sample>& pedigree) : ped_(pedigree) {}

  // Recursive kinship: a sample with itself 1/2; otherwise the later sample
  // (a descendant is always later) is replaced by the mean over its parents.
  double kinship(int i, int j) const {
    if (i < 0 || j < 0) return 0;
    if (i == j) return 0.5;
    if (i < j) std::swap(i, j);
    if (ped_[i].founder()) return 0;
    return 0.5 * (kinship(ped_[i].parent_a, j) + kinship(ped_[i].parent_b, j));
  }

  PairSharing sharing(int i, int j) const {
    PairSharing s;
    s.kinship = kinship(i, j);
    const Sample& a = ped_[i];
    const Sample& b = ped_[j];
    if (!a.founder() && !b.founder())
      s.ibd2 = kinship(a.parent_a, b.parent_a) * kinship(a.parent_b, b.parent_b) +
               kinship(a.parent_a, b.parent_b) * kinship(a.parent_b, b.parent_a);
    s.ibd1 = 4 * s.kinship - 2 * s.ibd2;
    s.ibd0 = 1 - s.ibd1 - s.ibd2;
    return s;
  }

  const char* relationship(int i, int j) const {
    if (is_parent(i, j) || is_parent(j, i)) return "parent-offspring";
    const Sample& a = ped_[i];
    const Sample& b = ped_[j];
    const int shared_parents = (!a.founder() && !b.founder())
                                   ? (a.parent_a == b.parent_a || a.parent_a == b.parent_b) +
                                         (a.parent_b == b.parent_a || a.parent_b == b.parent_b)
                                   : 0;
    if (shared_parents == 2) return "full-siblings";
    if (shared_parents == 1) return "half-siblings";
    if (is_grandparent(i, j) || is_grandparent(j, i)) return "grandparent-grandchild";
    if (is_avuncular(i, j) || is_avuncular(j, i)) return "avuncular";
    if (!a.founder() && !b.founder())
      for (int pa : {a.parent_a, a.parent_b})
        for (int pb : {b.parent_a, b.parent_b})
          if (full_siblings(pa, pb)) return "first-cousins";
    return "other";
  }

  // Every pair of the same family with a positive kinship, in column order.
  std::vector<RelatedPair> related_pairs() const {
    std::vector<RelatedPair> pairs;
    const int n = static_cast<int>(ped_.size());
    for (int i = 0; i < n; ++i) {
      if (ped_[i].family < 0) continue;
      for (int j = i + 1; j < n && ped_[j].family == ped_[i].family; ++j) {
        PairSharing s = sharing(i, j);
        if (s.kinship > 0) pairs.push_back({i, j, relationship(i, j), s});
      }
    }
    return pairs;
  }

 private:
  bool is_parent(int parent, int child) const {
    return ped_[child].parent_a == parent || ped_[child].parent_b == parent;
  }
  bool is_grandparent(int g, int child) const {
    const Sample& c = ped_[child];
    return !c.founder() && (is_parent(g, c.parent_a) || is_parent(g, c.parent_b));
  }
  bool full_siblings(int i, int j) const {
    const Sample& a = ped_[i];
    const Sample& b = ped_[j];
    return i != j && !a.founder() && !b.founder() &&
           ((a.parent_a == b.parent_a && a.parent_b == b.parent_b) ||
            (a.parent_a == b.parent_b && a.parent_b == b.parent_a));
  }
  bool is_avuncular(int uncle, int child) const {
    const Sample& c = ped_[child];
    return !c.founder() && (full_siblings(uncle, c.parent_a) || full_siblings(uncle, c.parent_b));
  }

  const std::vector<Sample>& ped_;
};

}  // namespace cohort
