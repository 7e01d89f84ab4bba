// NUL-terminated text. A pointer into a string argument (strchr, strstr,
// strpbrk, strtok) points into the cell that holds the text and is valid
// while the program holds the value. Comparisons answer -1, 0 or 1, the
// sign alone, whatever difference the host's functions return.
#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "clib/bind.h"
#include "clib/family.h"
#include "platform/crt.h"

namespace tove::clib {

namespace {

int32_t sign_of(int difference) { return (difference > 0) - (difference < 0); }

using namespace platform;
constexpr BuiltinSpec kMembers[] = {
    member<+[](Str s) { return static_cast<int64_t>(std::strlen(s)); }>("strlen"),
    member<+[](Str s, Size limit) { return static_cast<int64_t>(strnlen(s, limit)); }>("strnlen"),
    member<+[](Str a, Str b) { return sign_of(std::strcmp(a, b)); }>("strcmp"),
    member<+[](Str a, Str b) { return sign_of(strcasecmp(a, b)); }>("strcasecmp"),
    member<+[](Str a, Str b, Size n) { return sign_of(std::strncmp(a, b, n)); }>("strncmp"),
    member<+[](Str a, Str b, Size n) { return sign_of(strncasecmp(a, b, n)); }>("strncasecmp"),
    member<+[](char* to, Str from) { return std::strcpy(to, from); }>("strcpy"),
    member<+[](char* to, Str from) { return std::strcat(to, from); }>("strcat"),
    member<+[](char* to, const char* from, Size n) { return std::strncpy(to, from, n); }>("strncpy"),
    member<+[](char* to, Str from, Size n) { return std::strncat(to, from, n); }>("strncat"),
    member<+[](Str s, int32_t c) { return std::strchr(s.text, c); }>("strchr"),
    member<+[](Str s, int32_t c) { return std::strrchr(s.text, c); }>("strrchr"),
    member<+[](Str s, Str wanted) { return std::strstr(s.text, wanted); }>("strstr"),
    member<+[](Str s, Str set) { return std::strpbrk(s.text, set); }>("strpbrk"),
    member<+[](Str s, Str set) { return static_cast<int64_t>(std::strspn(s, set)); }>("strspn"),
    member<+[](Str s) { return strdup(s); }>("strdup"),
    member<+[](int32_t number) { return crt_strerror(number); }>("strerror"),
    member<+[](char* text, Str delimiters) { return std::strtok(text, delimiters); }>("strtok"),
    member<+[](char* text, Str delimiters, char** save) { return strtok_r(text, delimiters, save); }>(
        "strtok_r"),
};

}  // namespace

std::span<const BuiltinSpec> text_members() { return kMembers; }

}  // namespace tove::clib
