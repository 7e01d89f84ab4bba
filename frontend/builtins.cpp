// The registry of built-in primitives: every name with its arity. Each
// family of primitives announces its handlers with add_builtin_family; a
// built-in whose family is not installed answers "Z".
#include <array>
#include <span>
#include <string_view>
#include <vector>

#include "cells/tables.h"

namespace tove {

namespace {

struct BuiltinName {
  std::string_view name;
  uint8_t arity;
};

constexpr std::array<BuiltinName, 223> kBuiltinNames = {{
    // run-time loading of program text
    {"load", 1},
    // arithmetic
    {"cent", 2}, {"dash", 2}, {"mult", 2}, {"over", 2}, {"plus", 2}, {"powa", 2}, {"wave", 1},
    // comparison
    {"cmpr", 2}, {"diff", 2}, {"gteq", 2}, {"less", 2}, {"same", 2},
    // conversion to real, size and sign
    {"buck", 1}, {"rank", 1}, {"real", 1},
    // value inspection
    {"leaf", 1}, {"leak", 1}, {"left", 1}, {"lisp", 1}, {"raws", 2}, {"rght", 1}, {"tern", 1},
    {"type", 1},
    // raw memory and byte-level editing
    {"cape", 1}, {"copy", 2}, {"cork", 3}, {"gets", 1}, {"gett", 1}, {"getu", 1}, {"getv", 1},
    {"getw", 1}, {"getx", 1}, {"gety", 1}, {"getz", 1}, {"look", 2}, {"sett", 2}, {"setu", 2},
    {"setw", 2}, {"setx", 2},
    // conversions between value kinds, and slices
    {"init", 1}, {"lits", 1}, {"lots", 1}, {"trim", 3}, {"zits", 1},
    // C library: constants, process, characters and mathematics
    {"abort", 0}, {"abs", 1}, {"acos", 1}, {"asin", 1}, {"assert", 1}, {"atan", 1}, {"atof", 1},
    {"atoi", 1}, {"atol", 1}, {"ceil", 1}, {"cos", 1}, {"cosh", 1}, {"eacces", 0}, {"ebadf", 0},
    {"econnaborted", 0}, {"efault", 0}, {"eintr", 0}, {"einval", 0}, {"eio", 0}, {"emfile", 0},
    {"enfile", 0}, {"enodev", 0}, {"enomem", 0}, {"enotsock", 0}, {"enxio", 0},
    {"eopnotsupp", 0}, {"eoverflow", 0}, {"erf", 1}, {"erfc", 1}, {"errno", 0},
    {"ewouldblock", 0}, {"exit", 1}, {"exp", 1}, {"fabs", 1}, {"floor", 1}, {"fmod", 2},
    {"frexp", 2}, {"getenv", 1}, {"hypot", 2}, {"isalnum", 1}, {"isalpha", 1}, {"isascii", 1},
    {"isblank", 1}, {"isdigit", 1}, {"isgraph", 1}, {"islower", 1}, {"isprint", 1},
    {"ispunct", 1}, {"isspace", 1}, {"isupper", 1}, {"labs", 1}, {"ldexp", 2}, {"log", 1},
    {"modf", 2}, {"nextafter", 2}, {"perror", 1}, {"pow", 2}, {"raise", 1}, {"rand", 0},
    {"rand_max", 0}, {"sin", 1}, {"sinh", 1}, {"sqrt", 1}, {"srand", 1}, {"strtod", 2},
    {"strtol", 3}, {"strtoul", 3}, {"system", 1}, {"tan", 1}, {"tanh", 1}, {"toascii", 1},
    {"tolower", 1}, {"toupper", 1},
    // C library: files, text, memory and time
    {"asctime", 1}, {"bzero", 2}, {"calloc", 2}, {"clearerr", 1}, {"ctime", 1}, {"difftime", 2},
    {"fclose", 1}, {"fdopen", 2}, {"feof", 1}, {"ferror", 1}, {"fflush", 1}, {"fgetc", 1},
    {"fgetpos", 2}, {"fgets", 3}, {"fileno", 1}, {"fopen", 2}, {"fputc", 2}, {"fputs", 2},
    {"fread", 4}, {"free", 1}, {"fseek", 3}, {"fsetpos", 2}, {"ftell", 1}, {"fwrite", 4},
    {"getc", 1}, {"getchar", 0}, {"gmtime", 1}, {"localtime", 1}, {"malloc", 1}, {"memchr", 3},
    {"memcmp", 3}, {"memcpy", 3}, {"memmove", 3}, {"memset", 3}, {"mktime", 1}, {"putc", 2},
    {"putchar", 1}, {"puts", 1}, {"read", 3}, {"realloc", 2}, {"remove", 1}, {"rename", 2},
    {"rewind", 1}, {"setbuf", 2}, {"stderr", 0}, {"stdout", 0}, {"strcasecmp", 2},
    {"strcat", 2}, {"strchr", 2}, {"strcmp", 2}, {"strcpy", 2}, {"strdup", 1}, {"strerror", 1},
    {"strftime", 4}, {"strlen", 1}, {"strncasecmp", 3}, {"strncat", 3}, {"strncmp", 3},
    {"strncpy", 3}, {"strnlen", 2}, {"strpbrk", 2}, {"strrchr", 2}, {"strspn", 2},
    {"strstr", 2}, {"strtok", 2}, {"strtok_r", 3}, {"time", 1}, {"time_t", 0}, {"tmpfile", 0},
    {"tmpnam", 1}, {"ungetc", 2}, {"write", 3},
    // C library: directories, sockets and name resolution
    {"accept", 3}, {"addrinfo", 0}, {"af_unspec", 0}, {"ai_passive", 0}, {"bind", 3},
    {"closedir", 1}, {"closesocket", 1}, {"connect", 3}, {"dirent", 0}, {"fd_set", 2},
    {"freeaddrinfo", 1}, {"gai_strerror", 1}, {"getaddrinfo", 4}, {"gethostname", 2},
    {"getnameinfo", 7}, {"getpeername", 3}, {"htonl", 1}, {"htons", 1}, {"inet_ntop", 4},
    {"inet_pton", 3}, {"listen", 2}, {"ntohl", 1}, {"ntohs", 1}, {"opendir", 1}, {"readdir", 1},
    {"recv", 4}, {"recvfrom", 6}, {"send", 4}, {"sendto", 6}, {"setsockopt", 5},
    {"shutdown", 2}, {"sock_stream", 0}, {"socket", 3},
}};

constexpr bool names_distinct() {
  for (size_t i = 0; i < kBuiltinNames.size(); ++i) {
    for (size_t j = i + 1; j < kBuiltinNames.size(); ++j) {
      if (kBuiltinNames[i].name == kBuiltinNames[j].name) return false;
    }
  }
  return true;
}
static_assert(names_distinct());
static_assert(kBuiltinNames.back().name == "socket", "every entry is filled");

// The announced families, in order of announcement; kept so that a table
// refilled at start-up gets every handler again.
std::vector<std::span<const BuiltinSpec>>& families() {
  static auto* list = new std::vector<std::span<const BuiltinSpec>>;
  return *list;
}

void install(std::span<const BuiltinSpec> family) {
  BuiltinTable& table = builtin_table();
  for (const BuiltinSpec& member : family) {
    auto it = table.find(member.name);
    TOVE_ASSERT(it != table.end());
    TOVE_ASSERT(it->second.arity == member.arity);
    TOVE_ASSERT(member.handler != nullptr);
    it->second.handler = member.handler;
  }
}

}  // namespace

void add_builtin_family(std::span<const BuiltinSpec> family) {
  families().push_back(family);
  if (!builtin_table().empty()) install(family);
}

void register_builtins() {
  BuiltinTable& table = builtin_table();
  if (!table.empty()) return;
  for (const BuiltinName& builtin : kBuiltinNames) {
    table.emplace(std::string(builtin.name), BuiltinEntry{builtin.arity, answer_z});
  }
  for (std::span<const BuiltinSpec> family : families()) install(family);
}

}  // namespace tove
