#include "setup/run_messages.h"

#include <cstdint>
#include <cstdio>

#include "setup/run_settings.h"

namespace {
constexpr const char* kPhase = "[*] ";

// One formatted line; 512 bytes hold the longest (a 255-character input
// path, or a reporting threshold of the largest double).
template <typename... Args>
std::string format(const char* pattern, Args... args) {
  char line[512];
  std::snprintf(line, sizeof line, pattern, args...);
  return line;
}
}  // namespace

std::string banner_text() {
  return std::string("\n") +
         "   ####     #    #      #   #    #    #   #  #####\n"
         "   #   #   # #   #      #   #   # #   ##  #  #\n"
         "   ####   #   #  #      #   #  #   #  # # #  ####\n"
         "   #      #####  #       # #   #####  #  ##  #\n"
         "   #      #   #  #       # #   #   #  #   #  #\n"
         "   #      #   #  #####    #    #   #  #   #  #####\n"
         "        \n"
         "PALVANE version " PALVANE_VERSION ": IBD between all pairs of samples of a VCF file\n"
         "\n\n" "\n"
         "*** PALVANE estimates the IBD0, IBD1 and IBD2 fractions of every pair of\n"
         "*** samples from the runs of markers on which their genotypes agree.\n"
         "*** Run lengths that count as IBD are derived from the allele frequencies\n"
         "*** of the data unless --ibs1, --ibs2, --ibs1markers or --ibs2markers fix them.\n"
         "*** Reports: PREFIX.ibd (a row per pair), PREFIX.segments (IBD segments\n"
         "*** with --segments) and PREFIX.options (the command line that was run).\n"
         "*** Options may also be read from a file with --script FILE.\n";
}

std::string settings_echo_text() {
  using namespace RunSettings;
  std::string text = format("%s Options in effect: \n%s", kPhase, "");
  text += format("%s Input file: %s\n", kDetail, input_path);
  if (subset_flag > 0) text += format("%s Sample subset: true%s\n", kDetail, " ");
  text += format("%s Buffer size: %d\n", kDetail, buffer_size);
  text += format("%s Number of CPUs: %d\n\n", kDetail, thread_count - 2);
  if (report_threshold < 0.0) {
    text += format("%s Reporting threshold: %s\n\n", kDetail, "all pairs");
  } else {
    text += format("%s Reporting threshold: %.3f\n\n", kDetail, report_threshold);
  }
  text += format("%s Segment reporting: %s\n\n", kDetail, report_segments != 0 ? "YES" : "NO");
  return text;
}

std::string options_file_text(int argc, char** argv) {
  std::string text = "\n";
  for (int i = 0; i < argc; ++i) {
    text += argv[i];
    text += ' ';
  }
  return text + "\n";
}

std::string total_time_text(const timeval& before, const timeval& after) {
  int64_t seconds = static_cast<int64_t>(after.tv_sec) - static_cast<int64_t>(before.tv_sec);
  int64_t micros = static_cast<int64_t>(after.tv_usec) - static_cast<int64_t>(before.tv_usec);
  if (micros < 0) {
    seconds -= 1;
    micros += 1000000;
  }
  // Kept in single precision, as the reported figures have always been.
  float millis = static_cast<float>(static_cast<double>(micros) * 0.001 +
                                    static_cast<double>(seconds) * 1000.0);
  double wide = millis;
  return format("%s Total time for analysis was %.2f minutes (%.1f seconds)\n\n", kDetail,
                wide * 1.6666666666666667e-05, wide * 0.001);
}
