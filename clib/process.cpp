// Constants, process and environment, character tests, integer functions,
// conversions from text and mathematics.
#include <arpa/inet.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "clib/bind.h"
#include "clib/family.h"
#include "platform/crt.h"
#include "platform/platform.h"

namespace tove::clib {

namespace {

// The character tests and mappings take any int; outside -1 .. 255 the
// host's tables must not be indexed, and the runtime answers "no" and
// leaves the character as it is.
bool in_character_range(int c) { return c >= -1 && c <= 255; }

template <int (*Test)(int)>
bool character_test(int32_t c) {
  return in_character_range(c) && Test(c) != 0;
}

template <int (*Map)(int)>
int32_t character_map(int32_t c) {
  return in_character_range(c) ? Map(c) : c;
}

// The line number the runtime's assert reports for a failed program check.
constexpr int kAssertLine = 242;

using namespace platform;
constexpr BuiltinSpec kMembers[] = {
    // constants: errno values, record sizes, socket values
    constant<13>("eacces"),
    constant<9>("ebadf"),
    constant<106>("econnaborted"),
    constant<14>("efault"),
    constant<4>("eintr"),
    constant<22>("einval"),
    constant<5>("eio"),
    constant<24>("emfile"),
    constant<23>("enfile"),
    constant<19>("enodev"),
    constant<12>("enomem"),
    constant<128>("enotsock"),
    constant<6>("enxio"),
    constant<130>("eopnotsupp"),
    constant<132>("eoverflow"),
    constant<140>("ewouldblock"),
    constant<48>("addrinfo"),
    constant<296>("dirent"),
    constant<8>("time_t"),
    constant<0>("af_unspec"),
    constant<1>("ai_passive"),
    constant<1>("sock_stream"),
    constant<kRandMax>("rand_max"),

    // process and environment
    member<+[]() { std::abort(); }>("abort"),
    member<+[](int64_t status) {
      // Ends at once, as C's exit does, once the output is checked.
      std::_Exit(finish_output(static_cast<int>(status)));
    }>("exit"),
    member<+[](bool holds) {
      if (!holds) fatal_assertion("l", kAssertLine);
    }>("assert"),
    member<+[]() { return current_crt_errno(); }>("errno"),
    member<+[](Str name) { return std::getenv(name); }>("getenv"),
    member<+[](Str command) { return crt_system(command); }>("system"),
    member<+[](Str prefix) { std::perror(prefix); }>("perror"),
    member<+[](int32_t signal) { return crt_raise(signal); }>("raise"),
    member<+[]() { return crt_rand(); }>("rand"),
    member<+[](uint32_t seed) { crt_srand(seed); }>("srand"),
    member<+[]() { return std::getchar(); }>("getchar"),
    member<+[]() { return stdout; }>("stdout"),
    member<+[]() { return stderr; }>("stderr"),
    member<+[]() { return std::tmpfile(); }>("tmpfile"),

    // character tests and mappings
    member<character_test<isalnum>>("isalnum"),
    member<character_test<isalpha>>("isalpha"),
    member<character_test<isblank>>("isblank"),
    member<character_test<isdigit>>("isdigit"),
    member<character_test<isgraph>>("isgraph"),
    member<character_test<islower>>("islower"),
    member<character_test<isprint>>("isprint"),
    member<character_test<ispunct>>("ispunct"),
    member<character_test<isspace>>("isspace"),
    member<character_test<isupper>>("isupper"),
    member<+[](uint32_t c) { return c < 128; }>("isascii"),
    member<character_map<tolower>>("tolower"),
    member<character_map<toupper>>("toupper"),
    member<+[](int32_t c) { return c & 0x7F; }>("toascii"),

    // integers: abs of all 64 bits, labs of a 32-bit long, byte order
    member<+[](int64_t n) {
      const auto u = static_cast<uint64_t>(n);
      return static_cast<int64_t>(n < 0 ? 0 - u : u);
    }>("abs"),
    member<+[](int32_t n) {
      const auto u = static_cast<uint32_t>(n);
      return static_cast<int32_t>(n < 0 ? 0 - u : u);
    }>("labs"),
    member<+[](uint32_t n) { return static_cast<int32_t>(htonl(n)); }>("htonl"),
    member<+[](uint32_t n) { return static_cast<int32_t>(htons(static_cast<uint16_t>(n))); }>("htons"),
    member<+[](uint32_t n) { return ntohl(n); }>("ntohl"),
    member<+[](uint32_t n) { return ntohs(static_cast<uint16_t>(n)); }>("ntohs"),

    // conversions from text
    member<+[](Str text) { return atoi32(text); }>("atoi"),
    member<+[](Str text) { return atoi32(text); }>("atol"),
    member<+[](Str text) { return std::atof(text); }>("atof"),
    member<+[](Str text, char** end) { return std::strtod(text, end); }>("strtod"),
    member<+[](Str text, char** end, int32_t base) { return strtol32(text, end, base); }>("strtol"),
    member<+[](Str text, char** end, int32_t base) { return strtoul32(text, end, base); }>("strtoul"),

    // mathematics: reals only
    member<+[](double x) { return std::acos(x); }>("acos"),
    member<+[](double x) { return std::asin(x); }>("asin"),
    member<+[](double x) { return std::atan(x); }>("atan"),
    member<+[](double x) { return std::ceil(x); }>("ceil"),
    member<+[](double x) { return std::cos(x); }>("cos"),
    member<+[](double x) { return std::cosh(x); }>("cosh"),
    member<+[](double x) { return std::erf(x); }>("erf"),
    member<+[](double x) { return std::erfc(x); }>("erfc"),
    member<+[](double x) { return std::exp(x); }>("exp"),
    member<+[](double x) { return std::fabs(x); }>("fabs"),
    member<+[](double x) { return std::floor(x); }>("floor"),
    member<+[](double x) { return std::log(x); }>("log"),
    member<+[](double x) { return std::sin(x); }>("sin"),
    member<+[](double x) { return std::sinh(x); }>("sinh"),
    member<+[](double x) { return std::sqrt(x); }>("sqrt"),
    member<+[](double x) { return std::tan(x); }>("tan"),
    member<+[](double x) { return std::tanh(x); }>("tanh"),
    member<+[](double x, double y) { return std::fmod(x, y); }>("fmod"),
    member<+[](double x, double y) { return std::hypot(x, y); }>("hypot"),
    member<+[](double x, double y) { return std::nextafter(x, y); }>("nextafter"),
    member<+[](double x, double y) { return std::pow(x, y); }>("pow"),
    member<+[](double x, int32_t exponent) { return std::ldexp(x, exponent); }>("ldexp"),
    member<+[](double x, int32_t* exponent) { return std::frexp(x, exponent); }>("frexp"),
    member<+[](double x, double* integral) { return std::modf(x, integral); }>("modf"),
};

}  // namespace

std::span<const BuiltinSpec> process_members() { return kMembers; }

}  // namespace tove::clib
