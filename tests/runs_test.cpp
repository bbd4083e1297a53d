// Whole runs of the built palvane binary, one table row per case: an input
// recipe, the options and the exit status. What a run must leave behind is
// kept in tests/data/runs/NAME.txt: the status, standard output (the figures
// that vary from run to run masked), standard error, and every file the run
// leaves in its folder but the input ("in*"): the reports, the .options file,
// and whatever the recipe put there. Before each run the folder holds reports
// of an earlier run, so each expected file shows what the run did to them: a
// run that completes replaces them, one that fails after creating them leaves
// what it wrote before failing, and one refused before it opens any file
// leaves them as they were.
//
// PALVANE_UPDATE_EXPECTED=1 rewrites the expected files from the current
// binary; review their diff before committing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

using Input = std::function<void(const TempDir&)>;

// How a run's outcome is compared.
enum Check {
  kExact,
  kErrorLines,  // the reader may print on after a failed read: "Error" lines, no standard error
};

struct Case {
  std::string name;
  Input input;  // none: the options are the whole command line
  std::vector<std::string> args;  // after "--vcf in --out out --cpu 1"
  int status;
  Check check = kExact;
  std::vector<std::string> env = {};  // settings for the preloaded fault library
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

const std::string kData = PALVANE_TEST_DATA;

Input data(const std::string& name) {
  return [=](const TempDir& dir) { write_file(dir.file("in"), read_file(kData + "/" + name)); };
}
// The input, and more files beside it.
Input with(Input input, std::function<void(const TempDir&)> more) {
  return [=](const TempDir& dir) {
    input(dir);
    more(dir);
  };
}

// The hand-made four-sample file.
// Samples A, B, C and D: B holds A's genotypes (written phased), D is never
// called (so the rows run with --missing 0.25). 551 retained variants
// g = 0 ... 550: chromosome "1" holds g = 0 ... 300 at 1000, 2000, ... bp,
// chromosome "2" g = 301 ... 550 at 1000, 2000, ... bp. A = B = C = 0/1 except:
// C = 1/1 at g = 20, 40, 60, 80, 100 and 400 ... 408 step 2 (an IBS2 break
// only); A = B = 0/0 and C = 1/1 at g = 200 ... 206 step 2, 300 and 550 (an
// IBS2 and an IBS1 break). The filters drop two more lines: one where A and B
// are missing too (after g = 150), and one with no call of the alternative
// allele (after g = 450).
Input four() { return data("four_samples.vcf"); }

// The options that fix both thresholds (IBD1 100 markers, IBD2 120) and admit D.
std::vector<std::string> fixed(std::vector<std::string> more = {}) {
  more.insert(more.begin(), {"--missing", "0.25", "--ibs1markers", "100", "--ibs2markers", "120"});
  return more;
}

std::vector<Case> cases() {
  const std::string n255(255, 'n'), o246(246, 'o'), t256(256, 't'), t247(247, 'o');
  return {
      // The command line: the banner, the settings echo and the .options file.
      {"NoOptions", nullptr, {}, 1},
      {"LoneStrayWord", nullptr, {"stray_word"}, 1},
      {"MissingValue", nullptr, {"--cpu", "4", "--cpu"}, 1},
      {"MissingSecondPairName", nullptr, {"--pair", "A"}, 1},
      {"OptionTakenAsValue", nullptr, {"--nvar", "--buffer"}, 1},
      {"ScriptMissing", nullptr, {"--script", "absent", "--cpu"}, 1},
      {"SubsetMissing", nullptr, {"--subset", "absent"}, 1},
      {"ValueNotUnderstood", nullptr, {"--out", "--cpu", "4"}, 1},
      {"FlagGivenAValue", nullptr, {"--segments", "1"}, 1},
      {"LastValuesWin", nullptr,
       {"--file", "a.vcf", "--vcf", "b.vcf", "--cpu", "x", "--cpu", "3"}, 1},
      {"PedOverFile", nullptr, {"--ped", "p.vcf", "--file", "f.vcf", "--people", "5"}, 1},
      {"VcfOverPed", nullptr, {"--vcf", "v.vcf", "--ped", "p.vcf"}, 1},
      {"EdgesOfTheRanges", nullptr, {"--cpu", "30", "--buffer", "65075262", "--nvar", "2147483647",
        "--mindist", "-2147483648", "--thin", "2097151.999", "--file", n255, "--pair", n255, "x",
        "--out", o246}, 1},
      {"ThinLowestAccepted", nullptr, {"--thin", "-2097152.0009"}, 1},
      // Values palvane cannot serve: refused before any output.
      {"RefusedFile", nullptr, {"--file", t256}, 1},
      {"RefusedPed", nullptr, {"--ped", t256}, 1},
      {"RefusedVcf", nullptr, {"--vcf", t256}, 1},
      {"RefusedOut", nullptr, {"--out", t247}, 1},
      {"RefusedPairSecond", nullptr, {"--pair", "A", t256}, 1},
      {"RefusedPairFirst", nullptr, {"--pair", t256, "B"}, 1},
      {"RefusedCpuBelow", nullptr, {"--cpu", "-1"}, 1},
      {"RefusedCpuAbove", nullptr, {"--cpu", "31"}, 1},
      {"RefusedNoCpuForPair", nullptr, {"--pair", "A", "B", "--cpu", "x"}, 1},
      {"RefusedBufferZero", nullptr, {"--buffer", "0"}, 1},
      {"RefusedBufferAbove", nullptr, {"--buffer", "65075263"}, 1},
      {"RefusedNvar", nullptr, {"--nvar", "abc"}, 1},
      {"RefusedPeople", nullptr, {"--people", "2147483648"}, 1},
      {"RefusedMindist", nullptr, {"--mindist", "-2147483649"}, 1},
      {"RefusedError", nullptr, {"--error", "99999999999999999999999"}, 1},
      {"RefusedThin", nullptr, {"--thin", "2097152"}, 1},
      {"RefusedThinNaN", nullptr, {"--thin", "nan"}, 1},
      {"RefusedFirstOfSeveral", nullptr,
       {"--subset", "absent", "--nvar", "0", "--cpu", "99", "--buffer", "-4"}, 1},

      // The hand-made file. Thresholds IBD1 100 and IBD2 120 markers. 551
      // variants, scanned as bytes 0-149 (variants 0-299) on chromosome 1 and
      // 150-274 (300-549) on chromosome 2: variant 300 goes with chromosome 2,
      // variant 550 is not scanned. IBD2 is sum2/551 and IBD1 sum1/551 - IBD2.
      // Tolerant scan. A-B and every pair with D match everywhere: one run of
      // each kind per chromosome, closed at its end: segments 2-298 and
      // 302-548. A-C, chromosome 1: the IBS2 run ends at its fifth break
      // (variant 100) at 92; the IBS1 run takes breaks at 200-206 (penalty 70,
      // 139, 208, 277) and ends at the fourth as a run of 200: segment 8-204;
      // at the end the IBS1 run is 92, the IBS2 run 190 (112-298). Chromosome
      // 2: byte 150 breaks both; the fifth IBS2 break (406) ends a run of 98;
      // at the end the IBS1 run is 248 (304-548), the IBS2 run 140 (412-548).
      // Merging scan, A-C: no IBS2 runs merge; the IBS1 run ends at variant
      // 200 as a run of 200 (2-198); only the last IBS2 run (140) passes 120.
      // Strict scan: runs go on across the chromosomes, so pairs that match
      // everywhere have one run of 550 of each kind; A-C gets the merging
      // scan's figures in .ibd; the strict scan writes no segment lines.
      {"FourTolerant", four(), fixed({"--segments", "--error", "2"}), 0},
      {"FourMerging", four(), fixed({"--segments", "--error", "1"}), 0},
      {"FourStrict", four(), fixed({"--segments", "--error", "0"}), 0},
      {"FourStrictAnyOtherMode", four(), fixed({"--segments", "--error", "7"}), 0},
      // Rows below the threshold go, their segments stay.
      {"FourReportThreshold", four(), fixed({"--segments", "--report-ibd", "0.9"}), 0},
      {"FourNoSegments", four(), fixed(), 0},
      // One pair, scanned by one worker whatever --cpu says.
      {"FourPair", four(), fixed({"--segments", "--pair", "A", "C", "--cpu", "3"}), 0},
      {"FourPairUnknown", four(), fixed({"--segments", "--pair", "A", "nobody"}), 1},
      {"FourPairFirstUnknown", four(), fixed({"--pair", "nobody", "C"}), 1},
      {"FourPairBothUnknown", four(), fixed({"--pair", "nobody", "none"}), 1},
      {"FourNoWorkers", four(), fixed({"--segments", "--cpu", "0"}), 0},
      // The same reports without the last newline, as gzip and as BGZF, from
      // blocks of 2 bytes (two progress lines), and from BGZF with a line
      // longer than a line buffer (an INFO of 3,100,000 bytes at 101000).
      {"FourPlainNoLastNewline", data("inputs/FourNoLastNewline.vcf"), fixed(), 0},
      {"FourGzipNoLastNewline", data("inputs/FourNoLastNewline.vcf.gz"), fixed({"--segments"}), 0},
      {"FourBgzfNoLastNewline", data("inputs/FourNoLastNewline.bgz"), fixed({"--segments"}), 0},
      {"FourTinyBlocks", data("inputs/FourNoLastNewline.bgz"),
       fixed({"--segments", "--buffer", "2"}), 0},
      {"FourLongLine", data("inputs/FourLongLine.bgz"), fixed({"--segments"}), 0},
      // A line of 7,000,042 bytes (an INFO of 7,000,000) in one block of
      // 8,000,000: the line buffer grows past twice its size at once.
      {"FourLongerLine", data("inputs/FourLongerLine.vcf.gz"), fixed({"--buffer", "8000000"}), 0},
      // A matrix that grows, odd sizes included.
      {"FourMatrixGrows", four(), fixed({"--segments", "--nvar", "100"}), 0},
      {"FourMatrixGrowsOdd", four(), fixed({"--segments", "--nvar", "101"}), 0},
      // Thresholds: estimated (with the genome-size floor), scaled, given as
      // fractions or in markers; IBD1 never below 0 when IBD2 outgrows it.
      {"FourEstimated", four(), {"--missing", "0.25", "--segments"}, 0},
      {"FourScaled", four(), {"--missing", "0.25", "--L", "2", "--S", "3"}, 0},
      {"FourScaleOff", four(), {"--missing", "0.25", "--S", "-1"}, 0},
      {"FourIbs1Fraction", four(), {"--missing", "0.25", "--ibs1", "10"}, 0},
      {"FourIbs2BeforeIbs1", four(), {"--missing", "0.25", "--ibs2", "150", "--ibs1", "600"}, 0},
      {"FourIbs1MarkersAlone", four(), {"--missing", "0.25", "--ibs1markers", "100"}, 0},
      {"FourIbs2MarkersOne", four(),
       {"--missing", "0.25", "--ibs1markers", "100", "--ibs2markers", "1"}, 0},
      {"FourIbd2Only", four(), fixed({"--ibs1markers", "100000", "--ibs2markers", "10"}), 0},
      {"FourReportZero", four(), fixed({"--ibs1markers", "100000", "--ibs2markers", "100000",
                                        "--report-ibd", "0"}), 0},
      {"FourMinorAlleleBounds", four(), fixed({"--maf", "-1", "--maxmaf", "0.5"}), 0},
      // A sample list: names of any length, CR and other blanks between them,
      // a name cut at a NUL byte ("C\0ut" is C).
      {"FourSubset", with(four(), [](const TempDir& d) {
         const std::string names("B\r\nD\tB\vC\0ut ", 12);
         write_file(d.file("in.keep"), names + std::string(5000, 'x'));
       }), fixed({"--subset", "in.keep"}), 0},
      // Script words follow the command line, whatever blanks part them.
      {"FourScript", with(four(), [](const TempDir& d) {
         write_file(d.file("in.script"), "  --segments\t--cpu 1\r\n--buffer\v999\n--error \"1#\"");
       }), fixed({"--nvar", "7", "--script", "in.script"}), 0},
      // Reports replace a link or a read-only file at their names (the link's
      // target stays as it was); a folder in the way fails the run.
      {"FourReportsReplaceLinks", with(four(), [](const TempDir& d) {
         write_file(d.file("target"), "kept\n");
         symlink("target", d.file("out.ibd").c_str());
         write_file(d.file("out.segments"), "read-only\n");
         chmod(d.file("out.segments").c_str(), 0444);
       }), fixed(), 0},
      {"FourReportIsAFolder", with(four(), [](const TempDir& d) {
         mkdir(d.file("out.ibd").c_str(), 0700);
       }), fixed(), 2},
      {"FourOptionsFileFull", with(four(), [](const TempDir& d) {
         symlink("/dev/full", d.file("out.options").c_str());
       }), fixed(), 1},
      {"OutputFolderMissing", four(), {"--out", "missing/out"}, 1},
      {"InputMissing", nullptr, {"--vcf", "missing.vcf", "--out", "out"}, 1},
      {"InputIsAFolder", with(four(), [](const TempDir& d) {
         mkdir(d.file("in.d").c_str(), 0700);
       }), {"--vcf", "in.d"}, 1},

      // Broken and unusual inputs. Those in tests/data/inputs are described
      // here (Empty.vcf has no bytes); most follow Retained500's rule with other
      // counts of samples and lines. Here and below, data lines count from 0.
      {"EmptyFile", data("inputs/Empty.vcf"), {}, 2},
      {"NotVcfText", data("bad/not_vcf.txt"), {}, 1},
      {"BinaryGarbage", data("bad/binary_garbage.bin"), {}, 1},
      {"HeaderLineOnly", data("bad/header_only.vcf"), {}, 2},
      {"NineColumnHeader", data("bad/no_samples.vcf"), {}, 2},
      {"ShortHeader", data("bad/short_header.vcf"), {}, 1},
      {"DataBeforeHeader", data("bad/data_before_header.vcf"), {}, 1},
      {"SecondHeader", data("bad/second_header.vcf"), {}, 1},
      {"OneColumnTooMany", data("bad/one_column_too_many.vcf"), {}, 2},
      {"OneColumnTooFew", data("bad/one_column_too_few.vcf"), {}, 2},
      {"FormatNotGt", data("bad/format_not_gt.vcf"), {}, 1},
      // 2 samples; line 1 has the nine fixed columns alone, FORMAT "DP": the
      // FORMAT test comes first.
      {"NineColumnsNotGt", data("inputs/NineColumnsNotGt.vcf"), {}, 1},
      // Cohorts of 3 samples that pass the filters: sample s on line v is
      // called 0/0, 0/1 or 1/1 as (s + v) % 3 is 0, 1 or 2, at 1000 (v + 1) bp.
      {"Retained499", data("inputs/Retained499.vcf.gz"), {}, 2},
      {"Retained500", data("inputs/Retained500.vcf.gz"), {}, 0},
      // 3000 variants as gzip, cut in half.
      {"TruncatedGzip", data("inputs/TruncatedGzip.vcf.gz"), {}, 1, kErrorLines},
      // About 150 BGZF blocks (lines with an INFO of 16,000 bytes), cut at
      // three quarters. With threaded decompression htslib hands over nothing
      // of a batch of 64 blocks that holds a damaged one, so the data must run
      // well past the first batch.
      {"TruncatedBgzfMidBlock", data("inputs/TruncatedBgzfMidBlock.vcf.gz"),
       {"--buffer", "512", "--cpu", "2"}, 1, kErrorLines},
      // The same without its end-of-file block: nothing else tells this cut from
      // a whole file, so htslib's warning, the user's only sign, must get through.
      {"BgzfCutBetweenBlocks", data("inputs/BgzfCutBetweenBlocks.vcf.gz"), {}, 0},
      // Line 300 has FORMAT "AB" and a column too few: the FORMAT test comes first.
      {"WrongFormatAndColumns", data("inputs/WrongFormatAndColumns.vcf.gz"), {}, 1},
      // Line 300 is empty.
      {"EmptyLineAmongData", data("inputs/EmptyLineAmongData.vcf.gz"), {}, 2},
      // 20 samples of common calls; line 300 has an empty POS (so FORMAT holds a
      // call), a column too many, or FORMAT "DP": each as the general reading says.
      {"EmptyPosAmongCommonCalls", data("inputs/EmptyPosAmongCommonCalls.vcf.gz"), {}, 1},
      {"CommonCallsOneTooMany", data("inputs/CommonCallsOneTooMany.vcf.gz"), {}, 2},
      {"CommonCallsWithoutGt", data("inputs/CommonCallsWithoutGt.vcf.gz"), {}, 1},
      // INFO is "A\0B" on every line; line 7 has the call "\0/1", a no-call
      // (which fails the missing rate), not an end of line.
      {"NulBytesInsideLines", data("inputs/NulBytesInsideLines.vcf.gz"), {}, 0},
      // POS is "pos", which strtol reads as 0: a genome of no length, so no
      // genome-size floor.
      {"PosNotANumber", data("inputs/PosNotANumber.vcf.gz"), {}, 0},
      // 29,992 samples with a column too many in the second line (30,002
      // items); 30,001 samples in 3 lines.
      {"MoreThan30000Columns", data("inputs/MoreThan30000Columns.vcf.gz"), {}, 2},
      {"MoreThan30000Samples", data("inputs/MoreThan30000Samples.vcf.gz"), {"--nvar", "4"}, 2},
      // 4 samples; every odd line ends in a haploid call. CR line ends ("1\r")
      // read as LF ones; --pair finds the last sample, though the header's CR
      // follows its name.
      {"CrlfLines", data("inputs/CrlfLines.vcf.gz"), {"--pair", "S0", "S3"}, 0},
      {"CrlfLinesAllPairs", data("inputs/CrlfLines.vcf.gz"), {}, 0},
      // 4 samples with names of 3002 characters: rows and segment lines longer
      // than any fixed line buffer.
      {"LongSampleNames", data("inputs/LongSampleNames.vcf.gz"),
       {"--segments", "--ibs1markers", "100", "--ibs2markers", "100"}, 0},
      // 300 chromosomes of two variants each, more than the first table holds.
      {"ManyChromosomes", data("inputs/ManyChromosomes.vcf.gz"), {}, 0},
      // Chromosomes "-", "scaffold_12", "scaffold_13" (the same in the 7
      // characters palvane keeps: one chromosome), "chr1", "chr10", "chr1"
      // again, 100 lines each.
      {"ChromosomeNames", data("inputs/ChromosomeNames.vcf.gz"),
       {"--segments", "--ibs1markers", "30", "--ibs2markers", "30"}, 0},
      // 70 samples drawn from a hash of sample and variant, so that no two
      // share a long IBS2 run by chance (some pass 0.5 through IBD1 all the
      // same); samples 60 ... 69 copy samples 0 ... 9, across the
      // 64-sample tiles of the transposition. 2415 pairs: a progress line at
      // the worker's 2000th pair, and the pairs dealt after it.
      {"SeventySamples", data("inputs/SeventySamples.vcf.gz"),
       {"--segments", "--report-ibd", "0.5", "--ibs1markers", "100", "--ibs2markers", "100"}, 0},
      // A --pair name that starts like a sample's is not that sample.
      {"PairNameLongerThanASample", data("inputs/SeventySamples.vcf.gz"),
       {"--pair", "S10extra", "S60"}, 1},

      // The filters. 25 samples: a 2% missing rate is one half, rounded up to
      // one call. Line 5 misses one call (kept), line 6 two.
      {"MissingCountRounds", data("inputs/MissingCountRounds.vcf.gz"),
       {"--missing", "0.02", "--cpu", "0"}, 0},
      // A rate whose count leaves int32 admits any number of missing calls (a
      // negative count would reject every line). Line 8 misses 24 of 25 calls;
      // its one call, 1/1, fails the frequency filter.
      {"MissingRateNotANumber", data("inputs/MissingRateNotANumber.vcf.gz"),
       {"--missing", "nan", "--cpu", "0"}, 0},
      // Frequencies in single precision against double bounds, 50 samples in
      // turn: 6 of 100 alleles (just under 0.06), 94 (1 - 0.94 just over),
      // 25 (equal to --maxmaf 0.25, kept) and 27.
      {"AlleleFrequencyEdges", data("inputs/AlleleFrequencyEdges.vcf.gz"),
       {"--maxmaf", "0.25", "--cpu", "0"}, 0},
      // Positions 50, 1000, 1050, 1000, 900, 1000, 1099, then 1100, 8000,
      // 9000, ... on chromosome 2. The distance counts from the last kept
      // position (0 at first), across chromosomes; one at or before it is no
      // distance; a distance equal to --mindist keeps.
      {"MinimumDistance", data("inputs/MinimumDistance.vcf.gz"), {"--mindist", "100"}, 0},
      // Every line that passes the distance draws once, whatever the other
      // filters decide (every 7th line here is all 0/0); a draw equal to the
      // level keeps.
      {"Thinning", data("inputs/Thinning.vcf.gz"), {"--thin", "0.5"}, 0},
      {"ThinningWithDistance", data("inputs/ThinningWithDistance.vcf.gz"),
       {"--thin", "0.7", "--mindist", "1500"}, 0},

      // Faults of the system: report writes interrupted by signals and cut
      // short (the reports must come out whole all the same), a disk that runs
      // full under the reports (no room, room for part of them), and a read
      // error half-way through the input.
      {"FourWritesCut", four(), fixed({"--segments"}), 0, kExact, {"PALVANE_WRITES_CUT=1"}},
      // DiskFull: 80 samples, 600 variants. ReadError: 20 samples, 2000
      // variants plain, 20,000 as gzip and as BGZF.
      {"DiskFull", data("inputs/DiskFull.vcf.gz"), {"--segments"}, 1, kExact,
       {"PALVANE_DISK_ROOM=0"}},
      {"DiskFullPartWay", data("inputs/DiskFull.vcf.gz"), {"--segments"}, 1, kExact,
       {"PALVANE_DISK_ROOM=20000"}},
      {"ReadErrorPlain", data("inputs/ReadErrorPlain.vcf"), {"--cpu", "2"}, 1, kErrorLines,
       {"PALVANE_READ_HALF=1"}},
      {"ReadErrorGzip", data("inputs/ReadError.vcf.gz"), {"--cpu", "2"}, 1, kErrorLines,
       {"PALVANE_READ_HALF=1"}},
      {"ReadErrorBgzf", data("inputs/ReadError.bgz"), {"--cpu", "2"}, 1, kErrorLines,
       {"PALVANE_READ_HALF=1"}},
      // A read error ends the process from the main thread while the reader
      // still works through the lines it has queued, here closing a chromosome
      // every other line (chromosome v / 2 on line v of 40,000; BGZF cut at
      // three quarters): nothing it writes may have been freed by then (a fault
      // shows only in the sanitizer builds).
      {"ReadErrorWhileClosingChromosomes", data("inputs/ReadErrorWhileClosingChromosomes.bgz"),
       {"--cpu", "2"}, 1, kErrorLines},
  };
}

// The figures of text that vary from run to run as '#' (with the blanks
// before them): those that a unit of time or speed or a count of variants read
// follows, and the pair rate.
std::string masked(const std::string& text) {
  const auto digit = [&text](size_t i) { return isdigit(static_cast<unsigned char>(text[i])); };
  static const char* const units[] = {" ms ", " minutes ", " seconds", " variants ", " MB - ",
                                      " MB/sec"};
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const size_t start = std::min(text.find_first_not_of(' ', i), text.size());
    size_t end = start;
    while (end < text.size() && (digit(end) || (text[end] == '.' && end > start && digit(end + 1))))
      ++end;
    bool varies = out.ends_with("Pairs/sec =");
    for (const char* unit : units) varies = varies || text.compare(end, strlen(unit), unit) == 0;
    if (end > start && digit(start) && varies) {
      out += " #";
      i = end;
    } else {
      out += text[i++];
    }
  }
  // The main thread's reading progress interleaves with the reader's lines: it goes last.
  std::istringstream lines(out);
  std::string kept, progress;
  for (std::string line; std::getline(lines, line);)
    (line.find(" variants read ") == std::string::npos ? kept : progress) += line + "\n";
  return kept + progress;
}

std::string error_lines(const std::string& text) {
  std::string kept;
  for (const std::string& line : sorted_lines(text))
    if (line.rfind("Error", 0) == 0) kept += line + "\n";
  return kept;
}

// The outcome of a run as one text: standard output and error, then every
// file in the folder but the input, each as "--- NAME (N bytes)" and its bytes.
std::string outcome(const Case& c, const RunResult& run, const TempDir& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
    const std::string name = entry.path().filename();
    if (name.rfind("in", 0) == 0) continue;
    if (entry.is_symlink()) {
      files[name + " -> " + std::filesystem::read_symlink(entry.path()).string()] = "";
    } else if (entry.is_directory()) {
      files[name + "/"] = "";
    } else {
      std::string content = read_file(entry.path());
      for (size_t at; (at = content.find(PALVANE_BIN)) != std::string::npos;)
        content.replace(at, sizeof PALVANE_BIN - 1, "palvane");
      files[name] = content;
    }
  }
  files["standard output"] = c.check == kExact ? masked(run.out) : error_lines(run.out);
  files["standard error"] = c.check == kExact ? run.err : "(not compared)";
  std::string text = "status " + std::to_string(run.status) + "\n";
  for (const auto& [name, content] : files)
    text += "--- " + name + " (" + std::to_string(content.size()) + " bytes)\n" + content + "\n";
  return text;
}

class Runs : public testing::TestWithParam<Case> {};

TEST_P(Runs, LeaveTheExpectedOutputAndStatus) {
  const Case& c = GetParam();
  TempDir dir;
  std::vector<std::string> args = c.args;
  if (c.input) {
    c.input(dir);
    args.insert(args.begin(), {"--vcf", "in", "--out", "out", "--cpu", "1"});
  }
  for (const char* report : {"out.ibd", "out.segments"})
    if (!std::filesystem::exists(std::filesystem::symlink_status(dir.file(report))))
      write_file(dir.file(report), "rows of an earlier run\n");
  std::vector<std::string> env = c.env;
  if (!env.empty()) {
    // The fault library comes before the sanitizer runtimes in the library order.
    const char* asan = getenv("ASAN_OPTIONS");
    env.push_back(std::string("LD_PRELOAD=") + IO_FAULT_SHIM);
    env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
  }
  const RunResult run = run_program(PALVANE_BIN, args, dir.path, env, 120);
  EXPECT_EQ(run.status, c.status) << run.err.substr(0, 2000);
  const std::string got = outcome(c, run, dir);
  const std::string expected_path = kData + "/runs/" + c.name + ".txt";
  if (getenv("PALVANE_UPDATE_EXPECTED")) write_file(expected_path, got);
  EXPECT_EQ(read_file(expected_path), got) << expected_path;
}

INSTANTIATE_TEST_SUITE_P(Table, Runs, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
