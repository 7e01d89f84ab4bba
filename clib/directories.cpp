// Directories: `opendir`, `readdir` and `closedir` over the platform's
// directory layer. A stream is the address of its entry record, carried as
// an integer; the program closes it.
#include "clib/bind.h"
#include "clib/family.h"
#include "platform/directory.h"

namespace tove::clib {

namespace {

using namespace platform;
constexpr BuiltinSpec kMembers[] = {
    member<+[](const char* path) { return open_directory(path); }>("opendir"),
    member<+[](DirectoryStream* stream) { return read_directory(stream); }>("readdir"),
    member<+[](DirectoryStream* stream) { return close_directory(stream); }>("closedir"),
};

}  // namespace

std::span<const BuiltinSpec> directory_members() { return kMembers; }

}  // namespace tove::clib
