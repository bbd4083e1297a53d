#include "setup/entry_point.h"

#include <sys/time.h>

#include <cstdio>
#include <cstdlib>

#include "ibd/analysis_driver.h"
#include "ibd/pair_worker.h"
#include "setup/options.h"
#include "setup/run_messages.h"
#include "setup/run_settings.h"

namespace {
// Records the command line as invoked in PREFIX.options.
void write_options_file(int argc, char** argv) {
  char name[500];
  std::snprintf(name, sizeof name, "%s.options", RunSettings::output_prefix);
  FILE* file = std::fopen(name, "w");
  if (file == nullptr) {
    std::perror("Cannot write to the output files");
    std::exit(1);
  }
  std::string text = options_file_text(argc, argv);
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    std::perror("Cannot write to the output files");
    std::exit(1);
  }
}
}  // namespace

int palvane_main(int argc, char** argv) {
  options opts(argc, argv);
  apply_options(opts);
  std::fputs(banner_text().c_str(), stdout);
  opts.check_unused();
  std::fputs("\n\n", stdout);
  std::fputs(settings_echo_text().c_str(), stdout);
  write_options_file(argc, argv);
  build_pair_ibs_table(pair_ibs_table);
  timeval before;
  timeval after;
  gettimeofday(&before, nullptr);
  run_analysis(RunSettings::input_path);
  gettimeofday(&after, nullptr);
  std::fputs(total_time_text(before, after).c_str(), stdout);
  return final_exit_status.load();
}
