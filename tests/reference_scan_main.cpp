// palvane with the plain pair scan forced, so tests can compare whole runs of
// the fast scan against the reference.
#include "ibd/pair_scan_kernels.h"
#include "setup/entry_point.h"

int main(int argc, char** argv) {
  force_scan_kernel(ScanKernel::reference);
  return palvane_main(argc, argv);
}
