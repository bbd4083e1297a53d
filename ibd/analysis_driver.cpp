// Temporary: replaced by the analysis driver.
#include "ibd/analysis_driver.h"

std::atomic<int32_t> final_exit_status{0};

void run_analysis(const char*) {}
