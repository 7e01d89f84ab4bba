// Memory blocks and calendar time. Blocks come from the C allocator and are
// the program's to free. Time values are 64 bits; a `struct tm` is the
// runtime's 36-byte record, converted to and from the host's around each
// call, never written by the host directly.
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "clib/bind.h"
#include "clib/family.h"
#include "platform/crt.h"

namespace tove::clib {

namespace {

using namespace platform;
constexpr BuiltinSpec kMembers[] = {
    // memory
    member<+[](Size size) { return std::malloc(size); }>("malloc"),
    member<+[](Size count, Size size) { return std::calloc(count, size); }>("calloc"),
    member<+[](void* block, Size size) { return std::realloc(block, size); }>("realloc"),
    member<+[](void* block) { std::free(block); }>("free"),
    member<+[](void* to, const void* from, Size n) { return std::memcpy(to, from, n); }>("memcpy"),
    member<+[](void* to, const void* from, Size n) { return std::memmove(to, from, n); }>("memmove"),
    member<+[](void* to, int32_t byte, Size n) { return std::memset(to, byte, n); }>("memset"),
    member<+[](const void* block, int32_t byte, Size n) { return std::memchr(block, byte, n); }>("memchr"),
    member<+[](const void* a, const void* b, Size n) {
      const int difference = std::memcmp(a, b, n);
      return static_cast<int32_t>((difference > 0) - (difference < 0));
    }>("memcmp"),
    member<+[](void* block, Size n) { std::memset(block, 0, n); }>("bzero"),

    // time
    member<+[](int64_t* stored) {
      const auto now = static_cast<int64_t>(std::time(nullptr));
      if (stored != nullptr) *stored = now;
      return now;
    }>("time"),
    member<+[](const int64_t* time) { return crt_ctime(time); }>("ctime"),
    member<+[](const int64_t* time) { return crt_gmtime(time); }>("gmtime"),
    member<+[](const int64_t* time) { return crt_localtime(time); }>("localtime"),
    member<+[](const CrtTm* tm) { return crt_asctime(tm); }>("asctime"),
    member<+[](CrtTm* tm) { return crt_mktime(tm); }>("mktime"),
    member<+[](int64_t later, int64_t earlier) {
      return std::difftime(static_cast<std::time_t>(later), static_cast<std::time_t>(earlier));
    }>("difftime"),
    member<+[](char* buffer, Size size, Str format, const CrtTm* tm) {
      return crt_strftime(buffer, size, format, tm);
    }>("strftime"),
};

}  // namespace

std::span<const BuiltinSpec> memory_members() { return kMembers; }

}  // namespace tove::clib
