#include "ibd/analysis_driver.h"

#include <gtest/gtest.h>
#include <htslib/bgzf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ibd/transposed_matrix.h"
#include "setup/run_settings.h"
#include "tests/test_util.h"

#if defined(__SANITIZE_ADDRESS__)
// htslib loses a small block when a threaded reader that met an error is
// closed; that leak is the library's.
extern "C" const char* __lsan_default_suppressions() { return "leak:libhts.so\n"; }
#endif

namespace {

TEST(OpenOutputFile, ReplacesReadOnlyFilesAndLinksAndFailsWithStatus2) {
  TempDir dir;
  const std::string saved = RunSettings::output_prefix;
  snprintf(RunSettings::output_prefix, RunSettings::kTextSize, "%s/run", dir.path.c_str());
  write_file(dir.file("run.ibd"), "old rows");
  chmod(dir.file("run.ibd").c_str(), 0444);
  write_file(dir.file("target"), "keep");
  ASSERT_EQ(symlink(dir.file("target").c_str(), dir.file("run.segments").c_str()), 0);
  for (const char* suffix : {".ibd", ".segments"}) close(open_output_file(suffix));
  // The link was replaced, not followed.
  EXPECT_EQ(read_file(dir.file("run.ibd")) + read_file(dir.file("target")), "keep");
  struct stat st;
  EXPECT_TRUE(lstat(dir.file("run.segments").c_str(), &st) == 0 && S_ISREG(st.st_mode));
  snprintf(RunSettings::output_prefix, RunSettings::kTextSize, "%s/missing/run", dir.path.c_str());
  EXPECT_EXIT(open_output_file(".ibd"), testing::ExitedWithCode(2),
              "^open: No such file or directory\n$");
  snprintf(RunSettings::output_prefix, RunSettings::kTextSize, "%s", saved.c_str());
}

// The last result of reading a whole BGZF file as the driver does: 0 at a
// sound end, -1 on an error.
int64_t read_to_end(const std::string& path, bool threaded) {
  BGZF* input = bgzf_open(path.c_str(), "r");
  if (threaded) bgzf_mt(input, 8, 64);
  std::vector<uint8_t> block(65536);
  int64_t n;
  while ((n = read_input_block(input, block.data(), 65536)) > 0) {
  }
  bgzf_close(input);
  return n;
}

TEST(ReadInputBlock, TruncatedOrDamagedInputIsAnErrorWithOrWithoutThreads) {
  TempDir dir;
  std::string text;
  for (int64_t i = 0; text.size() < 3000000; ++i) text += std::to_string(i * 7919 % 1000003) + "\n";
  const std::string path = dir.file("in.vcf.gz");
  write_bgzf(path, text);
  const std::string whole = read_file(path);
  std::string damaged = whole;
  for (size_t i = whole.size() / 3; i < whole.size() / 3 + 64; ++i) damaged[i] ^= 0x5a;
  for (bool threaded : {false, true}) {
    write_file(path, whole);
    EXPECT_EQ(read_to_end(path, threaded), 0);
    write_file(path, whole.substr(0, whole.size() / 2));  // cut inside a block
    EXPECT_EQ(read_to_end(path, threaded), -1) << "threaded " << threaded;
    write_file(path, damaged);
    EXPECT_EQ(read_to_end(path, threaded), -1) << "threaded " << threaded;
  }
}

TEST(TransposedMatrix, SizeInMegabytesIsComputedIn64Bits) {
  EXPECT_EQ(transposed_matrix_megabytes(3001, 2000000), 5723);
}

}  // namespace
