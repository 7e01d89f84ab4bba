#include "platform/crt.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace tove::platform {

// ---- errno ------------------------------------------------------------------------------

namespace {

struct ErrnoPair {
  int host;
  int crt;
};

// Host values above 34 and their runtime numbers; 1 to 34 are shared.
constexpr ErrnoPair kErrnoTable[] = {
    {EDEADLK, 36},       {ENAMETOOLONG, 38},     {ENOLCK, 39},       {ENOSYS, 40},
    {ENOTEMPTY, 41},     {EILSEQ, 42},           {EADDRINUSE, 100},  {EADDRNOTAVAIL, 101},
    {EAFNOSUPPORT, 102}, {EALREADY, 103},        {EBADMSG, 104},     {ECANCELED, 105},
    {ECONNABORTED, 106}, {ECONNREFUSED, 107},    {ECONNRESET, 108},  {EDESTADDRREQ, 109},
    {EHOSTUNREACH, 110}, {EIDRM, 111},           {EINPROGRESS, 112}, {EISCONN, 113},
    {ELOOP, 114},        {EMSGSIZE, 115},        {ENETDOWN, 116},    {ENETRESET, 117},
    {ENETUNREACH, 118},  {ENOBUFS, 119},         {ENODATA, 120},     {ENOLINK, 121},
    {ENOMSG, 122},       {ENOPROTOOPT, 123},     {ENOSR, 124},       {ENOSTR, 125},
    {ENOTCONN, 126},     {ENOTRECOVERABLE, 127}, {ENOTSOCK, 128},    {EOPNOTSUPP, 130},
    {EOVERFLOW, 132},    {EOWNERDEAD, 133},      {EPROTO, 134},      {EPROTONOSUPPORT, 135},
    {EPROTOTYPE, 136},   {ETIME, 137},           {ETIMEDOUT, 138},
};

constexpr int kSharedErrnoLimit = 34;  // ERANGE, the last number every system shares
constexpr int kCrtOther = 131;         // EOTHER
// The host's ETXTBSY sits inside the shared range but is 139 in the runtime.
constexpr int kCrtTextBusy = 139;
constexpr int kCrtWouldBlock = 140;

}  // namespace

int crt_errno(int host) {
  if (host == ETXTBSY) return kCrtTextBusy;
  if (host == kSocketWouldBlockErrno) return kCrtWouldBlock;
  if (host >= 0 && host <= kSharedErrnoLimit) return host;
  for (const ErrnoPair& pair : kErrnoTable) {
    if (pair.host == host) return pair.crt;
  }
  return kCrtOther;
}

int host_errno(int crt) {
  if (crt == kCrtTextBusy) return ETXTBSY;
  if (crt >= 0 && crt <= kSharedErrnoLimit && crt != ETXTBSY) return crt;
  for (const ErrnoPair& pair : kErrnoTable) {
    if (pair.crt == crt) return pair.host;
  }
  return -1;
}

int current_crt_errno() { return crt_errno(errno); }

const char* crt_strerror(int crt) {
  const int host = crt == kCrtWouldBlock ? EWOULDBLOCK : host_errno(crt);
  if (host <= 0) return crt == 0 ? "No error" : "Unknown error";
  return std::strerror(host);
}

// ---- 32-bit long ----------------------------------------------------------------------------

// errno changes only when the conversion fails, as for the C functions.
int32_t strtol32(const char* text, char** end, int base) {
  const int saved = errno;
  errno = 0;
  const long long wide = std::strtoll(text, end, base);
  if (errno == 0) errno = saved;
  if (wide > INT32_MAX) {
    errno = ERANGE;
    return INT32_MAX;
  }
  if (wide < INT32_MIN) {
    errno = ERANGE;
    return INT32_MIN;
  }
  return static_cast<int32_t>(wide);
}

uint32_t strtoul32(const char* text, char** end, int base) {
  const int saved = errno;
  errno = 0;
  const unsigned long long wide = std::strtoull(text, end, base);
  if (errno == ERANGE) return UINT32_MAX;
  errno = saved;
  // strtoull negates a "-" text in 64 bits; the 32-bit rule looks at the
  // magnitude first and negates in 32 bits.
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const bool negative = *p == '-';
  const unsigned long long magnitude = negative ? 0 - wide : wide;
  if (magnitude > UINT32_MAX) {
    errno = ERANGE;
    return UINT32_MAX;
  }
  const auto low = static_cast<uint32_t>(magnitude);
  return negative ? 0 - low : low;
}

int32_t atoi32(const char* text) { return strtol32(text, nullptr, 10); }

// ---- rand ----------------------------------------------------------------------------------

namespace {
uint32_t g_rand_state = 1;
}  // namespace

int crt_rand() {
  g_rand_state = g_rand_state * 214013u + 2531011u;
  return static_cast<int>((g_rand_state >> 16) & 0x7FFF);
}

void crt_srand(uint32_t seed) { g_rand_state = seed; }

// ---- records ------------------------------------------------------------------------------

std::tm host_tm(const CrtTm& tm) {
  std::tm host{};
  host.tm_sec = tm.tm_sec;
  host.tm_min = tm.tm_min;
  host.tm_hour = tm.tm_hour;
  host.tm_mday = tm.tm_mday;
  host.tm_mon = tm.tm_mon;
  host.tm_year = tm.tm_year;
  host.tm_wday = tm.tm_wday;
  host.tm_yday = tm.tm_yday;
  host.tm_isdst = tm.tm_isdst;
  return host;
}

CrtTm crt_tm(const std::tm& tm) {
  return {tm.tm_sec,  tm.tm_min,  tm.tm_hour, tm.tm_mday, tm.tm_mon,
          tm.tm_year, tm.tm_wday, tm.tm_yday, tm.tm_isdst};
}

int64_t crt_mktime(CrtTm* tm) {
  std::tm host = host_tm(*tm);
  const std::time_t t = std::mktime(&host);
  if (t == static_cast<std::time_t>(-1)) return -1;
  *tm = crt_tm(host);
  return static_cast<int64_t>(t);
}

namespace {

CrtTm* convert_time(const int64_t* time, std::tm* (*convert)(const std::time_t*, std::tm*), CrtTm* record) {
  const std::time_t t = static_cast<std::time_t>(*time);
  std::tm host{};
  if (convert(&t, &host) == nullptr) return nullptr;
  *record = crt_tm(host);
  return record;
}

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr size_t kTimeTextSize = 26;

char* format_time_text(const CrtTm& tm, char* buffer) {
  const int64_t year = int64_t{tm.tm_year} + 1900;
  if (tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 || tm.tm_mon > 11 || year < 0 || year > 9999 ||
      tm.tm_mday < 0 || tm.tm_mday > 99 || tm.tm_hour < 0 || tm.tm_hour > 99 || tm.tm_min < 0 ||
      tm.tm_min > 99 || tm.tm_sec < 0 || tm.tm_sec > 99) {
    errno = EINVAL;
    return nullptr;
  }
  std::snprintf(buffer, kTimeTextSize, "%s %s %02d %02d:%02d:%02d %04d\n", kDayNames[tm.tm_wday],
                kMonthNames[tm.tm_mon], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(year));
  return buffer;
}

}  // namespace

CrtTm* crt_gmtime(const int64_t* time) {
  static CrtTm record;
  return convert_time(time, gmtime_r, &record);
}

CrtTm* crt_localtime(const int64_t* time) {
  static CrtTm record;
  return convert_time(time, localtime_r, &record);
}

char* crt_asctime(const CrtTm* tm) {
  static char buffer[kTimeTextSize];
  return format_time_text(*tm, buffer);
}

char* crt_ctime(const int64_t* time) {
  static char buffer[kTimeTextSize];
  CrtTm record;
  if (convert_time(time, localtime_r, &record) == nullptr) return nullptr;
  return format_time_text(record, buffer);
}

size_t crt_strftime(char* buffer, size_t size, const char* format, const CrtTm* tm) {
  const std::tm host = host_tm(*tm);
  return std::strftime(buffer, size, format, &host);
}

// ---- streams and files ----------------------------------------------------------------------

int crt_fgetpos(std::FILE* stream, void* position) {
  const off_t offset = ftello(stream);
  if (offset < 0) return -1;
  const int64_t stored = offset;
  std::memcpy(position, &stored, kPositionRecordSize);
  return 0;
}

int crt_fsetpos(std::FILE* stream, const void* position) {
  int64_t offset;
  std::memcpy(&offset, position, kPositionRecordSize);
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0 ? 0 : -1;
}

void crt_setbuf(std::FILE* stream, char* buffer) {
  if (buffer == nullptr) {
    std::setvbuf(stream, nullptr, _IONBF, 0);
  } else {
    std::setvbuf(stream, buffer, _IOFBF, kStreamBufferSize);
  }
}

char* crt_tmpnam(char* buffer) {
  static char own[kTempNameLimit];
  static unsigned serial = 0;
  char* out = buffer != nullptr ? buffer : own;
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || *folder == '\0') folder = "/tmp";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    char name[kTempNameLimit];
    const int n =
        std::snprintf(name, sizeof name, "%s/tv%d.%u", folder, static_cast<int>(getpid()), ++serial);
    if (n < 0 || static_cast<size_t>(n) >= sizeof name) return nullptr;
    struct stat info;
    if (lstat(name, &info) == 0) continue;
    std::memcpy(out, name, static_cast<size_t>(n) + 1);
    return out;
  }
  return nullptr;
}

// ---- process ------------------------------------------------------------------------------

int crt_system(const char* command) {
  const int status = std::system(command);
  if (command == nullptr || status == -1) return status;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return -1;
}

int crt_raise(int signal) {
  int host;
  switch (signal) {
    case 2: host = SIGINT; break;
    case 4: host = SIGILL; break;
    case 8: host = SIGFPE; break;
    case 11: host = SIGSEGV; break;
    case 15: host = SIGTERM; break;
    case 6:
    case 22: host = SIGABRT; break;
    default: errno = EINVAL; return -1;
  }
  return std::raise(host);
}

}  // namespace tove::platform
