#include <gtest/gtest.h>

#include "cells/report.h"

using namespace tove;

namespace {

void expect_fields(const ErrorReport& report, const char* type_word, const char* message,
                   const char* location, int64_t position) {
  EXPECT_EQ(report.type_word, type_word);
  EXPECT_EQ(report.message, message);
  EXPECT_EQ(report.location, location);
  EXPECT_EQ(report.position, position);
}

TEST(Report, FailFillsEveryFieldAndResetEmptiesThem) {
  ErrorReport report;
  EXPECT_FALSE(report.failed());
  expect_fields(report, "Empty", "", "", -1);

  fail(report, "Lower", "text", "name", 12);
  EXPECT_TRUE(report.failed());
  expect_fields(report, "Lower", "text", "name", 12);

  // Nothing of an earlier failure shows through a later one.
  fail(report, "Range", "other");
  expect_fields(report, "Range", "other", "", -1);

  report.reset();
  EXPECT_FALSE(report.failed());
  expect_fields(report, "Empty", "", "", -1);
}

}  // namespace
