// Sockets and name resolution. A socket is its handle, carried as an
// integer (-1 for none); socket addresses, address-information records and
// socket sets are the program's memory in the runtime's layouts, converted
// to and from the host's by the platform layer around each call. Lengths
// a program gives are refused unless they fit a C `int` from 0 up, so no
// truncated length can reach past the memory meant.
#include "platform/sockets.h"
#include "clib/bind.h"
#include "clib/family.h"

namespace tove::clib {

namespace {

using namespace platform;
constexpr BuiltinSpec kMembers[] = {
    member<+[](int32_t family, int32_t type, int32_t protocol) {
      return crt_socket(family, type, protocol);
    }>("socket"),
    member<+[](int64_t s, const void* address, Count length) { return crt_bind(s, address, length); }>(
        "bind"),
    member<+[](int64_t s, const void* address, Count length) { return crt_connect(s, address, length); }>(
        "connect"),
    member<+[](int64_t s, void* address, int32_t* length) { return crt_accept(s, address, length); }>(
        "accept"),
    member<+[](int64_t s, void* address, int32_t* length) { return crt_getpeername(s, address, length); }>(
        "getpeername"),
    member<+[](int64_t s, int32_t backlog) { return crt_listen(s, backlog); }>("listen"),
    member<+[](int64_t s, int32_t how) { return crt_shutdown(s, how); }>("shutdown"),
    member<+[](int64_t s) { return crt_closesocket(s); }>("closesocket"),
    member<+[](int64_t s, int32_t level, int32_t option, const void* value, Count length) {
      return crt_setsockopt(s, level, option, value, length);
    }>("setsockopt"),
    member<+[](int64_t s, void* buffer, Count length, int32_t flags) {
      return crt_recv(s, buffer, length, flags);
    }>("recv"),
    member<+[](int64_t s, void* buffer, Count length, int32_t flags, void* from, int32_t* from_length) {
      return crt_recvfrom(s, buffer, length, flags, from, from_length);
    }>("recvfrom"),
    member<+[](int64_t s, Bytes buffer, Count length, int32_t flags) -> std::optional<int32_t> {
      if (!buffer.holds(1, static_cast<size_t>(length.value))) return std::nullopt;
      return crt_send(s, buffer.text, length, flags);
    }>("send"),
    member<+[](int64_t s, Bytes buffer, Count length, int32_t flags, const void* to,
               Count to_length) -> std::optional<int32_t> {
      if (!buffer.holds(1, static_cast<size_t>(length.value))) return std::nullopt;
      return crt_sendto(s, buffer.text, length, flags, to, to_length);
    }>("sendto"),
    member<+[](char* buffer, Count size) { return crt_gethostname(buffer, size); }>("gethostname"),
    member<+[](const char* node, const char* service, const CrtAddrinfo* hints, CrtAddrinfo** result) {
      return crt_getaddrinfo(node, service, hints, result);
    }>("getaddrinfo"),
    member<+[](CrtAddrinfo* list) { crt_freeaddrinfo(list); }>("freeaddrinfo"),
    member<+[](const void* address, Count length, char* host, Count host_size, char* service,
               Count service_size, int32_t flags) {
      return crt_getnameinfo(address, length, host, host_size, service, service_size, flags);
    }>("getnameinfo"),
    member<+[](int32_t family, const void* source, char* buffer, Count size) {
      return crt_inet_ntop(family, source, buffer, size);
    }>("inet_ntop"),
    member<+[](int32_t family, const char* text, void* destination) {
      return crt_inet_pton(family, text, destination);
    }>("inet_pton"),
    member<+[](int32_t code) { return crt_gai_strerror(code); }>("gai_strerror"),
    member<+[](int64_t s, CrtFdSet* set) { crt_fd_set(s, set); }>("fd_set"),
};

}  // namespace

std::span<const BuiltinSpec> socket_members() { return kMembers; }

}  // namespace tove::clib
