// Run-time choice of the tolerant batch kernel: the widest instruction set
// that the processor (and the operating system) offers.
#include <atomic>

#include "ibd/pair_scan_kernels.h"

namespace {

// -1: no kernel forced; otherwise the ScanKernel a test asked for.
std::atomic<int> forced_kernel{-1};

}  // namespace

bool scan_kernel_supported(ScanKernel kernel) {
  switch (kernel) {
    case ScanKernel::reference:
      return true;
    case ScanKernel::avx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
    case ScanKernel::avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx2") &&
             __builtin_cpu_supports("bmi2");
  }
  return false;
}

const char* scan_kernel_name(ScanKernel kernel) {
  switch (kernel) {
    case ScanKernel::reference:
      return "reference";
    case ScanKernel::avx2:
      return "avx2";
    case ScanKernel::avx512:
      return "avx512bw";
  }
  return "unknown";
}

ScanKernel best_scan_kernel() {
  static const ScanKernel best = [] {
    if (scan_kernel_supported(ScanKernel::avx512)) return ScanKernel::avx512;
    if (scan_kernel_supported(ScanKernel::avx2)) return ScanKernel::avx2;
    return ScanKernel::reference;
  }();
  return best;
}

TolerantBatchScan tolerant_batch_kernel(ScanKernel kernel) {
  switch (kernel) {
    case ScanKernel::avx2:
      return scan_tolerant_batch_avx2;
    case ScanKernel::avx512:
      return scan_tolerant_batch_avx512;
    case ScanKernel::reference:
      break;
  }
  return scan_tolerant_batch_ref;
}

ScanKernel active_scan_kernel() {
  const int forced = forced_kernel.load(std::memory_order_acquire);
  return forced >= 0 ? static_cast<ScanKernel>(forced) : best_scan_kernel();
}

void force_scan_kernel(ScanKernel kernel) {
  forced_kernel.store(static_cast<int>(kernel), std::memory_order_release);
}

void reset_scan_kernel() { forced_kernel.store(-1, std::memory_order_release); }
