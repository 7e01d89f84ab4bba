// Streams, files and descriptors. A stream is its FILE address, carried as
// an integer; the program opens and closes it. Offsets are 64 bits wide, so
// a position past 2 GiB is neither truncated nor refused.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "clib/bind.h"
#include "clib/family.h"
#include "platform/crt.h"

namespace tove::clib {

namespace {

using namespace platform;
using std::FILE;
constexpr BuiltinSpec kMembers[] = {
    member<+[](Str path, Str mode) { return std::fopen(path, mode); }>("fopen"),
    member<+[](int32_t descriptor, Str mode) { return fdopen(descriptor, mode); }>("fdopen"),
    member<+[](FILE* stream) { return std::fclose(stream); }>("fclose"),
    member<+[](FILE* stream) { return std::fflush(stream); }>("fflush"),
    member<+[](FILE* stream) { return std::feof(stream); }>("feof"),
    member<+[](FILE* stream) { return std::ferror(stream); }>("ferror"),
    member<+[](FILE* stream) { return std::fgetc(stream); }>("fgetc"),
    member<+[](FILE* stream) { return std::getc(stream); }>("getc"),
    member<+[](FILE* stream) { return fileno(stream); }>("fileno"),
    member<+[](FILE* stream) { return static_cast<int64_t>(ftello(stream)); }>("ftell"),
    member<+[](FILE* stream) { std::clearerr(stream); }>("clearerr"),
    member<+[](FILE* stream) { std::rewind(stream); }>("rewind"),
    member<+[](char* buffer, Count size, FILE* stream) { return std::fgets(buffer, size, stream); }>("fgets"),
    member<+[](int32_t c, FILE* stream) { return std::fputc(c, stream); }>("fputc"),
    member<+[](int32_t c, FILE* stream) { return std::putc(c, stream); }>("putc"),
    member<+[](const char* text, FILE* stream) { return std::fputs(text, stream); }>("fputs"),
    member<+[](int32_t c, FILE* stream) { return std::ungetc(c, stream); }>("ungetc"),
    member<+[](void* buffer, Size size, Size count, FILE* stream) {
      return std::fread(buffer, size, count, stream);
    }>("fread"),
    member<+[](Bytes buffer, Size size, Size count, FILE* stream) -> std::optional<int64_t> {
      if (!buffer.holds(size, count)) return std::nullopt;
      return static_cast<int64_t>(std::fwrite(buffer.text, size, count, stream));
    }>("fwrite"),
    member<+[](FILE* stream, int64_t offset, int32_t origin) {
      return fseeko(stream, static_cast<off_t>(offset), origin);
    }>("fseek"),
    member<+[](FILE* stream, void* position) { return crt_fgetpos(stream, position); }>("fgetpos"),
    member<+[](FILE* stream, void* position) { return crt_fsetpos(stream, position); }>("fsetpos"),
    member<+[](FILE* stream, char* buffer) { crt_setbuf(stream, buffer); }>("setbuf"),
    member<+[](Str text) { return std::puts(text); }>("puts"),
    member<+[](int32_t c) { return std::putchar(c); }>("putchar"),
    member<+[](int32_t descriptor, void* buffer, Count count) {
      return static_cast<int32_t>(::read(descriptor, buffer, static_cast<size_t>(count.value)));
    }>("read"),
    member<+[](int32_t descriptor, Bytes buffer, Count count) -> std::optional<int32_t> {
      if (!buffer.holds(1, static_cast<size_t>(count.value))) return std::nullopt;
      return static_cast<int32_t>(::write(descriptor, buffer.text, static_cast<size_t>(count.value)));
    }>("write"),
    member<+[](Str path) { return std::remove(path); }>("remove"),
    member<+[](Str from, Str to) { return std::rename(from, to); }>("rename"),
    member<+[](char* buffer) { return crt_tmpnam(buffer); }>("tmpnam"),
};

}  // namespace

std::span<const BuiltinSpec> stream_members() { return kMembers; }

}  // namespace tove::clib
