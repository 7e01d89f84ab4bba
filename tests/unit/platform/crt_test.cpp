#include "platform/crt.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

using namespace tove::platform;

namespace {

TEST(Errno, SharedNumbersStayAndTheRestAreTranslatedBothWays) {
  EXPECT_EQ(crt_errno(ENOENT), 2);
  EXPECT_EQ(crt_errno(ERANGE), 34);
  EXPECT_EQ(crt_errno(EDEADLK), 36);
  EXPECT_EQ(crt_errno(ENAMETOOLONG), 38);
  EXPECT_EQ(crt_errno(ENOLCK), 39);
  EXPECT_EQ(crt_errno(ENOSYS), 40);
  EXPECT_EQ(crt_errno(ENOTEMPTY), 41);
  EXPECT_EQ(crt_errno(EILSEQ), 42);
  EXPECT_EQ(crt_errno(EADDRINUSE), 100);
  EXPECT_EQ(crt_errno(ECONNABORTED), 106);
  EXPECT_EQ(crt_errno(ECONNREFUSED), 107);
  EXPECT_EQ(crt_errno(ECONNRESET), 108);
  EXPECT_EQ(crt_errno(ENOTSOCK), 128);
  EXPECT_EQ(crt_errno(EOPNOTSUPP), 130);
  EXPECT_EQ(crt_errno(EOVERFLOW), 132);
  EXPECT_EQ(crt_errno(ETIMEDOUT), 138);
  EXPECT_EQ(crt_errno(ETXTBSY), 139);
  EXPECT_EQ(crt_errno(ELOOP), 114);
  // A host number without an equivalent is "other".
  EXPECT_EQ(crt_errno(EHWPOISON), 131);

  // Every number goes back to where it came from.
  for (int host = 1; host < 200; ++host) {
    const int crt = crt_errno(host);
    if (crt == 131) continue;
    EXPECT_EQ(host_errno(crt), host) << "host errno " << host << " went to " << crt;
  }
  EXPECT_EQ(host_errno(131), -1);
  EXPECT_EQ(host_errno(26), -1) << "26 is not a runtime number";
  EXPECT_EQ(host_errno(140), -1) << "EWOULDBLOCK is EAGAIN on the host";
}

TEST(Errno, MessagesFollowTheRuntimeNumbering) {
  EXPECT_STREQ(crt_strerror(2), std::strerror(ENOENT));
  EXPECT_STREQ(crt_strerror(38), std::strerror(ENAMETOOLONG));
  EXPECT_STREQ(crt_strerror(107), std::strerror(ECONNREFUSED));
  EXPECT_STREQ(crt_strerror(0), "No error");
  EXPECT_STREQ(crt_strerror(131), "Unknown error");
  EXPECT_STREQ(crt_strerror(-5), "Unknown error");
}

TEST(Long32, StrtolSaturatesAtThirtyTwoBits) {
  char* end = nullptr;
  errno = 0;
  EXPECT_EQ(strtol32("2147483647", &end, 10), 2147483647);
  EXPECT_EQ(errno, 0);
  errno = 5;
  EXPECT_EQ(strtol32("12", &end, 10), 12);
  EXPECT_EQ(errno, 5) << "a conversion that succeeds leaves errno alone";
  EXPECT_EQ(strtol32("2147483648", &end, 10), 2147483647);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_STREQ(end, "");
  errno = 0;
  EXPECT_EQ(strtol32("-2147483649x", &end, 10), -2147483647 - 1);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_STREQ(end, "x");
  EXPECT_EQ(strtol32("99999999999999999999999", nullptr, 10), 2147483647);
  EXPECT_EQ(strtol32("ff", &end, 16), 255);
  EXPECT_EQ(strtol32("  -0x10", nullptr, 0), -16);
  EXPECT_EQ(strtol32("[12]", &end, 10), 0);
  EXPECT_STREQ(end, "[12]");
}

TEST(Long32, StrtoulNegatesInThirtyTwoBitsAndSaturates) {
  errno = 0;
  EXPECT_EQ(strtoul32("-1", nullptr, 10), 4294967295u);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(strtoul32("4294967295", nullptr, 10), 4294967295u);
  EXPECT_EQ(strtoul32("4294967296", nullptr, 10), 4294967295u);
  EXPECT_EQ(errno, ERANGE);
  errno = 0;
  EXPECT_EQ(strtoul32("-4294967296", nullptr, 10), 4294967295u);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ(strtoul32(" -2", nullptr, 10), 4294967294u);
  errno = 0;
  EXPECT_EQ(strtoul32("99999999999999999999", nullptr, 10), 4294967295u);
  EXPECT_EQ(errno, ERANGE);
}

TEST(Long32, AtoiSaturates) {
  errno = 7;
  EXPECT_EQ(atoi32("12abc"), 12);
  EXPECT_EQ(errno, 7);
  EXPECT_EQ(atoi32("3000000000"), 2147483647);
  EXPECT_EQ(atoi32("-3000000000"), -2147483647 - 1);
  EXPECT_EQ(errno, ERANGE);
}

TEST(Rand, FollowsTheRuntimeGenerator) {
  crt_srand(1);
  EXPECT_EQ(crt_rand(), 41);
  EXPECT_EQ(crt_rand(), 18467);
  EXPECT_EQ(crt_rand(), 6334);
  crt_srand(1);
  EXPECT_EQ(crt_rand(), 41);
  // state = 42 * 214013 + 2531011 = 11519557; bits 16-30 give 175.
  crt_srand(42);
  EXPECT_EQ(crt_rand(), 175);
  for (int i = 0; i < 1000; ++i) {
    const int r = crt_rand();
    ASSERT_GE(r, 0);
    ASSERT_LE(r, kRandMax);
  }
}

TEST(Records, TimeRecordsAreConvertedFieldByField) {
  const int64_t epoch = 0;
  CrtTm* tm = crt_gmtime(&epoch);
  ASSERT_NE(tm, nullptr);
  EXPECT_EQ(tm->tm_year, 70);
  EXPECT_EQ(tm->tm_mday, 1);
  EXPECT_EQ(tm->tm_wday, 4);
  EXPECT_STREQ(crt_asctime(tm), "Thu Jan 01 00:00:00 1970\n");

  // The record is the function's own, overwritten by the next call.
  const int64_t later = 951782400;  // 2000-02-29
  EXPECT_EQ(crt_gmtime(&later), tm);
  EXPECT_EQ(tm->tm_mon, 1);
  EXPECT_EQ(tm->tm_mday, 29);
  EXPECT_EQ(tm->tm_yday, 59);

  // A record of exactly 36 bytes: mktime normalises it in place, strftime
  // reads it, and nothing past its end is touched.
  auto block = std::make_unique<unsigned char[]>(sizeof(CrtTm) + 4);
  std::memset(block.get(), 0xAB, sizeof(CrtTm) + 4);
  CrtTm record{0, 0, 12, 31, 0, 100, 0, 0, 0};
  record.tm_mday = 32;  // 1 February 2000
  std::memcpy(block.get(), &record, sizeof record);
  auto* in_block = reinterpret_cast<CrtTm*>(block.get());
  EXPECT_NE(crt_mktime(in_block), -1);
  EXPECT_EQ(in_block->tm_mon, 1);
  EXPECT_EQ(in_block->tm_mday, 1);
  EXPECT_EQ(in_block->tm_wday, 2);
  for (size_t i = sizeof(CrtTm); i < sizeof(CrtTm) + 4; ++i) EXPECT_EQ(block[i], 0xAB);
  char text[32];
  EXPECT_EQ(crt_strftime(text, sizeof text, "%Y-%m-%d", in_block), 10u);
  EXPECT_STREQ(text, "2000-02-01");
  EXPECT_EQ(crt_strftime(text, 4, "%Y-%m-%d", in_block), 0u);
}

TEST(Records, TimeTextRefusesFieldsItCannotShow) {
  CrtTm odd{0, 0, 0, 1, 12, 70, 0, 0, 0};  // month 12 has no name
  EXPECT_EQ(crt_asctime(&odd), nullptr);
  EXPECT_EQ(errno, EINVAL);
  CrtTm far{0, 0, 0, 1, 0, 9000, 0, 0, 0};  // year 10900
  EXPECT_EQ(crt_asctime(&far), nullptr);
}

TEST(Records, StreamPositionsAreEightBytes) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fputs("hello world", file);
  unsigned char position[kPositionRecordSize + 2];
  std::memset(position, 0xCD, sizeof position);
  std::fseek(file, 6, SEEK_SET);
  EXPECT_EQ(crt_fgetpos(file, position), 0);
  EXPECT_EQ(position[0], 6);
  EXPECT_EQ(position[kPositionRecordSize], 0xCD);
  EXPECT_EQ(position[kPositionRecordSize + 1], 0xCD);
  std::rewind(file);
  EXPECT_EQ(crt_fsetpos(file, position), 0);
  EXPECT_EQ(std::fgetc(file), 'w');
  std::fclose(file);
}

TEST(Records, SetbufUsesTheProgramsFiveHundredTwelveBytes) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  // Guard bytes after the program's buffer must survive a large write.
  auto buffer = std::make_unique<char[]>(kStreamBufferSize + 16);
  std::memset(buffer.get() + kStreamBufferSize, 0x5A, 16);
  crt_setbuf(file, buffer.get());
  const std::string text(5000, 'x');
  for (int i = 0; i < 4; ++i) std::fwrite(text.data(), 1, text.size(), file);
  std::fputs("tail", file);
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(buffer[kStreamBufferSize + i], 0x5A);
  std::fflush(file);
  EXPECT_EQ(std::ftell(file), 20004);
  std::fclose(file);
}

TEST(Files, TemporaryNamesAreFreshAndShort) {
  char first[kTempNameLimit];
  ASSERT_NE(crt_tmpnam(first), nullptr);
  EXPECT_LT(std::strlen(first), kTempNameLimit);
  char* own = crt_tmpnam(nullptr);
  ASSERT_NE(own, nullptr);
  EXPECT_STRNE(own, first);
  std::FILE* made = std::fopen(own, "wx");
  ASSERT_NE(made, nullptr) << own;
  std::fclose(made);
  const std::string taken = own;
  EXPECT_STRNE(crt_tmpnam(nullptr), taken.c_str());
  std::remove(taken.c_str());
}

TEST(Process, SystemAnswersTheCommandsExitCode) {
  EXPECT_EQ(crt_system("exit 3"), 3);
  EXPECT_EQ(crt_system("true"), 0);
  EXPECT_NE(crt_system(nullptr), 0);
  EXPECT_EQ(crt_system("kill -9 $$"), -1);
}

TEST(Process, RaiseRefusesSignalsTheHostLacks) {
  errno = 0;
  EXPECT_EQ(crt_raise(21), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(crt_raise(3), -1);
}

}  // namespace
