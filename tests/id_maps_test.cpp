// The --subset sample list and the global name registry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "setup/global_id_maps.h"
#include "setup/id_table.h"
#include "tests/test_util.h"

namespace {
// Reads content as a --subset file; returns the echo printed while reading.
std::string read_list(IdTable& table, const std::string& content) {
  TempDir dir;
  write_file(dir.file("list"), content);
  testing::internal::CaptureStdout();
  table.read_file(dir.file("list").c_str());
  return testing::internal::GetCapturedStdout();
}

// The registry is process-wide: every test starts and ends with it empty.
class GlobalIdMapsTest : public ::testing::Test {
 protected:
  void SetUp() override { clear(); }
  void TearDown() override { clear(); }
  static void clear() {
    GlobalIdMaps::name_to_id.clear();
    GlobalIdMaps::id_to_name.clear();
    GlobalIdMaps::next_id = 0;
  }
};
}  // namespace

TEST(IdTable, NumbersNamesInOrderAndReadsLongNamesWhole) {
  IdTable table;
  const std::string long_name(100000, 'x');
  EXPECT_EQ(read_list(table, "S1 S2\n\tS1\r\n\n  " + long_name),
            "R= .S1.\nR= .S2.\nR= .S1.\nR= ." + long_name + ".\n");
  EXPECT_EQ(table.lookup("S1"), 1);
  EXPECT_EQ(table.lookup("S2"), 2);
  EXPECT_EQ(table.lookup(long_name.c_str()), 3);  // last name, no line end after it
  EXPECT_EQ(table.next_id, 4);
  EXPECT_EQ(table.lookup("s1"), -1);  // case matters
  EXPECT_EQ(table.lookup("S"), -1);
  EXPECT_EQ(table.name_to_id.size(), 3u);  // lookups never insert

  IdTable empty;
  EXPECT_EQ(read_list(empty, " \n\t\v\f\r\n"), "");
  EXPECT_EQ(empty.lookup(""), -1);
  EXPECT_EQ(empty.next_id, 1);
}

TEST_F(GlobalIdMapsTest, InternNumbersNewNamesFromZero) {
  EXPECT_EQ(max_name_length(), 3);
  EXPECT_STREQ(name_of_id(5), "");  // leaves an empty name for 5
  EXPECT_TRUE(GlobalIdMaps::name_to_id.empty());
  for (const char* name : {"rs1", "rs2", "rs1", "", "d", "e"}) intern_name(name);
  EXPECT_EQ(intern_name("rs1"), 0);
  EXPECT_STREQ(name_of_id(1), "rs2");
  EXPECT_EQ(intern_name(""), 2);
  EXPECT_EQ(intern_name("thirteen_char"), 5);  // replaces the empty name of 5
  EXPECT_STREQ(name_of_id(5), "thirteen_char");
  EXPECT_EQ(max_name_length(), 13);
}

TEST_F(GlobalIdMapsTest, MissingCodesShareOneNumber) {
  init_missing_codes();
  init_missing_codes();
  EXPECT_EQ(intern_name("0"), 0);
  EXPECT_EQ(intern_name("-9"), 0);
  EXPECT_STREQ(name_of_id(-9), "0");
  EXPECT_EQ(intern_name("next"), 1);

  clear();
  intern_name("x");
  init_missing_codes();
  EXPECT_EQ(intern_name("0"), 1);
  EXPECT_EQ(intern_name("-9"), 0);  // shares x's number
  EXPECT_STREQ(name_of_id(0), "x");
  EXPECT_STREQ(name_of_id(-9), "0");
}

TEST(CopyBytes, CopiesTheBytesAndAllowsNone) {
  char* block = copy_bytes("abc", 3);
  EXPECT_EQ(std::string(block, 3), "abc");
  std::free(block);
  char* empty = copy_bytes(nullptr, 0);
  EXPECT_NE(empty, nullptr);
  std::free(empty);
}
