#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "driver/driver.h"
#include "platform/platform.h"

#include <csignal>

using namespace tove;

namespace {

TEST(Report, EmptyReportSaysNoErrors) {
  ErrorReport report;
  EXPECT_EQ(format_report(report), "No errors.\n");
}

TEST(Report, NameLineOnlyWithALocation) {
  ErrorReport report;
  report.type_word = "Lower";
  report.message = "m";
  EXPECT_EQ(format_report(report), "Error.\n Type: Lower\nm\n\\/\n");
  report.location = "gg";
  report.position = 12;  // never printed
  EXPECT_EQ(format_report(report), "Error.\n Type: Lower\n Name: gg\nm\n\\/\n");
}

TEST(Report, ColourTextSwitchesOnlyWhenTheClassChanges) {
  EXPECT_EQ(colour_text(""), "");
  EXPECT_EQ(colour_text("plain text\n"), "plain text\n");
  EXPECT_EQ(colour_text("x\xC1y"), "x\033[31mA\033[my");
  EXPECT_EQ(colour_text("\xC1"), "\033[31mA\033[m");
  EXPECT_EQ(colour_text(std::string("\x00\x01\x1B\x1F\x7F\x96\x97\x9F\xFF", 9)), "\033[32mJA([~?08]\033[m");
  EXPECT_EQ(colour_text("\xC1\x01"), "\033[31mA\033[32mA\033[m");
  // 0xA0 shows as a red space rather than stopping the report.
  EXPECT_EQ(colour_text("\xA0"), "\033[31m \033[m");
  EXPECT_EQ(colour_text("\x0B\x1A"), "\033[32mKZ\033[m");
}

TEST(Report, EscapeNameWritesHexForUnprintableAndBrackets) {
  EXPECT_EQ(escape_name("prog.tv"), "prog.tv");
  EXPECT_EQ(escape_name("a[b]\n\x7F\xFF"), "a[5B]b[5D][0A][7F][FF]");
}

TEST(Report, ReadProgramFileKeepsZeroBytesAndLargeFiles) {
  std::string path = ::testing::TempDir() + "tove_read_test.tv";
  std::string content(10000, 'x');
  content[5] = '\0';
  content[4095] = '\0';
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
  auto text = read_program_file(path);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, content);
  std::remove(path.c_str());
  EXPECT_FALSE(read_program_file(path).has_value());
  EXPECT_FALSE(read_program_file("/").has_value());
}

TEST(Report, ReadProgramStreamTakesTheRestOfAnOpenStream) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::string content(9000, 'y');
  content[0] = '\0';
  content[8999] = '\n';
  std::fwrite(content.data(), 1, content.size(), f);
  std::fseek(f, 100, SEEK_SET);
  auto text = read_program_stream(f);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, content.substr(100));
  // At the end of the stream nothing is left: an empty program, not a failure.
  auto rest = read_program_stream(f);
  ASSERT_TRUE(rest.has_value());
  EXPECT_EQ(*rest, "");
  std::fclose(f);
}

TEST(Report, ReadProgramStreamFailsOnAReadError) {
  std::FILE* f = std::fopen("/", "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(read_program_stream(f).has_value());
  std::fclose(f);
}

}  // namespace

namespace {

TEST(MemorySize, DigitsWithABinarySuffix) {
  EXPECT_EQ(parse_memory_size("4096"), 4096u);
  EXPECT_EQ(parse_memory_size("64k"), size_t{64} << 10);
  EXPECT_EQ(parse_memory_size("64M"), size_t{64} << 20);
  EXPECT_EQ(parse_memory_size("3G"), size_t{3} << 30);
  EXPECT_EQ(parse_memory_size("2t"), size_t{2} << 40);
  EXPECT_EQ(parse_memory_size("0"), 0u);
}

TEST(MemorySize, AnythingElseIsRefused) {
  EXPECT_EQ(parse_memory_size(""), std::nullopt);
  EXPECT_EQ(parse_memory_size("M"), std::nullopt);
  EXPECT_EQ(parse_memory_size("64MB"), std::nullopt);
  EXPECT_EQ(parse_memory_size("6 4"), std::nullopt);
  EXPECT_EQ(parse_memory_size("-1"), std::nullopt);
  EXPECT_EQ(parse_memory_size("18446744073709551616"), std::nullopt);
  EXPECT_EQ(parse_memory_size("16777216T"), std::nullopt);
}

TEST(MemorySize, DefaultCeilingLeavesAQuarterOfTheMachine) {
  const size_t ceiling = default_memory_ceiling();
  EXPECT_GT(ceiling, 0u);
  EXPECT_LT(ceiling, platform::physical_memory());
  EXPECT_EQ(ceiling, platform::physical_memory() / 4 * 3);  // no address-space limit here
}

TEST(MemorySize, SpaceReportNamesThePhase) {
  ErrorReport report = space_report(MemoryPhase::compiling);
  EXPECT_EQ(format_report(report),
            "Error.\n Type: Space\nMemory ran out while compiling the program.\n\\/\n");
  EXPECT_EQ(space_report(MemoryPhase::reading).message, "Memory ran out while reading the program.");
  EXPECT_EQ(space_report(MemoryPhase::evaluating).message, "Memory ran out while evaluating the program.");
  EXPECT_EQ(space_report(MemoryPhase::printing).message, "Memory ran out while printing the result.");
}

TEST(FaultMessage, NamesTheSignal) {
  EXPECT_STREQ(platform::fault_message(SIGSEGV),
               "tove: the program ended with signal SIGSEGV (an access to memory it does not own)\n");
  EXPECT_NE(std::string(platform::fault_message(SIGBUS)).find("SIGBUS"), std::string::npos);
  EXPECT_STREQ(platform::fault_message(SIGTERM), "");
}

}  // namespace
