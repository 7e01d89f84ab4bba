#include <gtest/gtest.h>

#include <string>

#include "eval/eval.h"
#include "eval/run.h"
#include "frontend/frontend.h"
#include "numbers/numbers.h"

using namespace tove;

namespace {

ErrorReport run_text(const std::string& program) {
  load_prelude();
  ErrorReport report;
  read_program(report, program);
  EXPECT_FALSE(report.failed()) << report.message;
  run_program(report, 12345);
  return report;
}

TEST(Run, WorkOutsideTheStepsCountsAgainstTheStepLimit) {
  // A load's reading and compiling is charged against the limit set last,
  // and a new limit starts that count afresh.
  set_step_limit(total_steps() + 100);
  EXPECT_NO_THROW(charge_work(60));
  EXPECT_THROW(charge_work(60), StepLimitReached);
  set_step_limit(total_steps() + 100);
  EXPECT_NO_THROW(charge_work(60));
  set_step_limit(total_steps() + 500);
  EXPECT_THROW(run_text("a\\ll 0,ll\\x\\load[ll 0]"), StepLimitReached);
  set_step_limit(UINT64_MAX);
  EXPECT_NO_THROW(charge_work(1000000));
}

TEST(Run, MainProgramReceivesTheArgumentAddress) {
  ErrorReport report = run_text("a\\a");
  ASSERT_FALSE(report.failed()) << report.message;
  EXPECT_EQ(integer_to_int64(definitions().find("")->get()), 12345);
}

TEST(Run, RangeReportsShowAtMost56Characters) {
  ErrorReport report = run_text("a\\[0123456789012345678901234567890123456789012345678901234567890]");
  EXPECT_EQ(report.type_word, "Range");
  EXPECT_EQ(report.location, "[0123456789012345678901234567890123456789012345678901...");
  EXPECT_EQ(report.message,
            "The program must return an integer. Instead we encountered:\n"
            "[0123456789012345678901234567890123456789012345678901234567890]");
  ErrorReport exact = run_text("a\\[012345678901234567890123456789012345678901234567890123]");
  EXPECT_EQ(exact.location, "[012345678901234567890123456789012345678901234567890123]");
}

TEST(Run, RangeReportPrintsAMillionDeepValue) {
  std::string program = "a\\";
  for (int i = 0; i < 1'000'000; ++i) program += "[x]";
  ErrorReport report = run_text(program);
  EXPECT_EQ(report.type_word, "Range");
  EXPECT_EQ(report.location.size(), 56u);
  std::string_view message = report.message;
  EXPECT_EQ(
      message.size(),
      std::string_view("The program must return an integer. Instead we encountered:\n").size() + 3'000'000);
  EXPECT_EQ(message.substr(message.size() - 6), "[x][x]");
}

TEST(Run, EmptyListCountsAsAnInteger) {
  ErrorReport report = run_text("a\\K");
  EXPECT_FALSE(report.failed()) << report.message;
  EXPECT_EQ(integer_to_int64(definitions().find("")->get()), 0);
}

TEST(Run, CycleReportNamesTheConstant) {
  ErrorReport report = run_text("a\\cc,cc\\dd,dd\\I cc");
  EXPECT_EQ(report.type_word, "Cycle");
  EXPECT_EQ(report.location, "cc");
  EXPECT_EQ(report.message, "Cycle detected on function [cc].");
}

}  // namespace
