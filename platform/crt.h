// The C runtime as programs see it: the conventions of the platform the
// language comes from, given over the host's C library. Programs compare
// errno with fixed numbers, seed a generator and expect its sequence, and
// allocate records of fixed sizes, so these hold whatever the host does:
//
//   - C `int` and `long` are 32 bits: conversions saturate at the 32-bit
//     limits and `labs` works on the low 32 bits;
//   - errno values use the runtime's own numbering (1 to 34 as on every
//     system, then EDEADLK 36, ENAMETOOLONG 38, ..., the 100-140 block);
//   - `rand` is the runtime's linear congruential generator;
//   - `struct tm` is nine 32-bit fields (36 bytes), a stream position 8;
//   - a stream buffer given to `setbuf` is 512 bytes, a temporary name at
//     most 260;
//   - signal numbers: SIGABRT is 22 (6 also accepted).
// Host records are never written into a program's smaller ones: they are
// converted field by field at this boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace tove::platform {

// ---- errno ------------------------------------------------------------------------------

// The runtime's number for a host errno value; host values without an
// equivalent give 131 (EOTHER).
int crt_errno(int host);
// The host errno value for a runtime number, or -1 when it has none.
int host_errno(int crt);
// The current errno in the runtime's numbering.
int current_crt_errno();
// The runtime tells a socket call that would block (EWOULDBLOCK, 140) from
// other resources being unavailable (EAGAIN, 11); the host writes one number
// for both. A socket call that would block leaves this value in errno, which
// no host call writes and crt_errno turns into 140.
inline constexpr int kSocketWouldBlockErrno = 0x10000;
// The message text for a runtime error number (library storage).
const char* crt_strerror(int crt);

// ---- 32-bit long ----------------------------------------------------------------------------

// strtol and strtoul of a 32-bit `long`: saturate at the 32-bit limits and
// set ERANGE; strtoul of a negative text is the 32-bit negation.
int32_t strtol32(const char* text, char** end, int base);
uint32_t strtoul32(const char* text, char** end, int base);
// atoi and atol: decimal strtol32.
int32_t atoi32(const char* text);

// ---- rand ----------------------------------------------------------------------------------

inline constexpr int kRandMax = 32767;
// state = state * 214013 + 2531011 (mod 2^32); the result is bits 16-30.
int crt_rand();
void crt_srand(uint32_t seed);

// ---- records ------------------------------------------------------------------------------

// The runtime's size_t and time_t are 64 bits.
using CrtSize = uint64_t;
using CrtTime = int64_t;
static_assert(sizeof(CrtSize) == 8 && sizeof(CrtTime) == 8);

// struct tm with 32-bit fields, in the C order.
struct CrtTm {
  int32_t tm_sec, tm_min, tm_hour, tm_mday, tm_mon, tm_year, tm_wday, tm_yday, tm_isdst;
};
static_assert(sizeof(CrtTm) == 36, "the runtime's struct tm is nine 32-bit fields");

std::tm host_tm(const CrtTm& tm);
CrtTm crt_tm(const std::tm& tm);

// A stream position record: the 64-bit offset alone.
inline constexpr size_t kPositionRecordSize = 8;
inline constexpr size_t kStreamBufferSize = 512;  // the buffer setbuf installs
inline constexpr size_t kTempNameLimit = 260;     // bytes tmpnam may write

// mktime on a program's record: normalises it in place as the C function
// does; -1 when the time cannot be represented.
CrtTime crt_mktime(CrtTm* tm);
// gmtime and localtime into the one record each function owns (overwritten
// by its next call); null when the time cannot be converted.
CrtTm* crt_gmtime(const CrtTime* time);
CrtTm* crt_localtime(const CrtTime* time);
// The 26-byte text "Wed Jan 02 02:03:55 1980\n" in one buffer per
// function; null when the year has more than four digits.
char* crt_asctime(const CrtTm* tm);
char* crt_ctime(const CrtTime* time);
size_t crt_strftime(char* buffer, size_t size, const char* format, const CrtTm* tm);

// ---- streams and files ----------------------------------------------------------------------

int crt_fgetpos(std::FILE* stream, void* position);
int crt_fsetpos(std::FILE* stream, const void* position);
// setbuf: a 512-byte fully buffered stream, or unbuffered for a null buffer.
void crt_setbuf(std::FILE* stream, char* buffer);
// A fresh name for a temporary file, written into `buffer` (at most 260
// bytes) or into the function's own buffer when it is null; null when no
// name could be made.
char* crt_tmpnam(char* buffer);

// ---- process ------------------------------------------------------------------------------

// system: the command's exit code, -1 when it did not end normally; a null
// command asks whether a shell is there (non-zero when it is).
int crt_system(const char* command);
// raise of a runtime signal number; -1 with EINVAL for one the host lacks.
int crt_raise(int signal);

}  // namespace tove::platform
