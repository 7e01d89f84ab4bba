// Sockets and name resolution as programs see them: the values and records
// of the platform the language comes from, over the host's sockets.
//
// Conversions at this boundary, in both directions:
//   - address family AF_INET6 is 23 (host 10); AF_UNSPEC 0, AF_UNIX 1 and
//     AF_INET 2 are shared, any other family is unsupported;
//   - a socket address a program passes is copied into a host record with
//     the family converted, never converted in the program's memory; a
//     received address is converted back into the program's record, cut to
//     the room it gives, with its full length stored;
//   - setsockopt levels and options: SOL_SOCKET 0xFFFF with SO_REUSEADDR 4,
//     SO_KEEPALIVE 8, SO_BROADCAST 0x20, SO_LINGER 0x80 (two 16-bit fields),
//     SO_SNDBUF 0x1001, SO_RCVBUF 0x1002, SO_SNDTIMEO 0x1005 and SO_RCVTIMEO
//     0x1006 (32-bit milliseconds); IPPROTO_TCP 6 with TCP_NODELAY 1;
//     IPPROTO_IPV6 41 with IPV6_V6ONLY 27;
//   - send and receive flags MSG_OOB 1, MSG_PEEK 2, MSG_DONTROUTE 4,
//     MSG_WAITALL 8; sending never raises a signal;
//   - getaddrinfo flags AI_PASSIVE 1, AI_CANONNAME 2, AI_NUMERICHOST 4,
//     AI_NUMERICSERV 8, AI_ALL 0x100, AI_ADDRCONFIG 0x400, AI_V4MAPPED 0x800;
//     getnameinfo flags NI_NOFQDN 1, NI_NUMERICHOST 2, NI_NAMEREQD 4,
//     NI_NUMERICSERV 8, NI_DGRAM 16; their error codes are the socket
//     library's numbers (11001 for an unknown host, ...).
//
// A socket is carried as a 64-bit handle, -1 for none; the host's
// descriptor is the handle itself, and a handle outside the descriptors'
// range reaches the host as -1, which it refuses.
//
// Ownership: `crt_getaddrinfo` allocates every record of its result list
// (one block per record, holding its socket address and canonical name)
// and `crt_freeaddrinfo` frees the list. The `gai_strerror` text lives in
// one process-wide buffer that every call overwrites.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tove::platform {

// ---- records --------------------------------------------------------------------------------

// The runtime's socklen_t: a 32-bit int, the type of every address length.
using CrtSocklen = int32_t;
static_assert(sizeof(CrtSocklen) == 4);

// The address-information record: ai_canonname before ai_addr, unlike the
// host's.
struct CrtAddrinfo {
  int32_t ai_flags;
  int32_t ai_family;
  int32_t ai_socktype;
  int32_t ai_protocol;
  uint64_t ai_addrlen;
  char* ai_canonname;
  void* ai_addr;
  CrtAddrinfo* ai_next;
};
static_assert(sizeof(CrtAddrinfo) == 48, "the runtime's address-information record is 48 bytes");
static_assert(offsetof(CrtAddrinfo, ai_addrlen) == 16);
static_assert(offsetof(CrtAddrinfo, ai_canonname) == 24);
static_assert(offsetof(CrtAddrinfo, ai_addr) == 32);
static_assert(offsetof(CrtAddrinfo, ai_next) == 40);

// A socket set: a 32-bit count and 64 handles of 64 bits from offset 8.
inline constexpr uint32_t kFdSetCapacity = 64;
struct CrtFdSet {
  uint32_t fd_count;
  uint32_t padding;
  int64_t fd_array[kFdSetCapacity];
};
static_assert(sizeof(CrtFdSet) == 520, "the runtime's fd_set is 520 bytes");
static_assert(offsetof(CrtFdSet, fd_array) == 8);

// ---- values ---------------------------------------------------------------------------------

inline constexpr int kCrtInet6 = 23;

// The host family of a runtime one, or none when the host has no match.
std::optional<int> host_family(int crt);
// The runtime family of a host one (families without a runtime number pass
// unchanged).
int crt_family(int host);

// The getaddrinfo / getnameinfo error code of the socket library for a
// host EAI_* code (0 stays 0).
int crt_resolver_error(int host);

// A runtime socket address of `length` bytes copied into a host record;
// none (errno set) for a length the record cannot hold or a family the
// host lacks.
std::optional<socklen_t> host_address(const void* address, int length, sockaddr_storage& host);
// A host socket address of `size` bytes stored into a program's record of
// `*length` bytes (cut to fit), with `*length` set to the full size.
void store_address(const sockaddr_storage& host, socklen_t size, void* address, CrtSocklen* length);

// ---- members --------------------------------------------------------------------------------

int64_t crt_socket(int family, int type, int protocol);
int crt_bind(int64_t socket, const void* address, int length);
int crt_connect(int64_t socket, const void* address, int length);
int64_t crt_accept(int64_t socket, void* address, CrtSocklen* length);
int crt_getpeername(int64_t socket, void* address, CrtSocklen* length);
int crt_listen(int64_t socket, int backlog);
int crt_shutdown(int64_t socket, int how);
int crt_closesocket(int64_t socket);
int crt_setsockopt(int64_t socket, int level, int option, const void* value, int length);
int crt_recv(int64_t socket, void* buffer, int length, int flags);
int crt_recvfrom(int64_t socket, void* buffer, int length, int flags, void* from, CrtSocklen* from_length);
int crt_send(int64_t socket, const void* buffer, int length, int flags);
int crt_sendto(int64_t socket, const void* buffer, int length, int flags, const void* to, int to_length);
int crt_gethostname(char* buffer, int size);

int crt_getaddrinfo(const char* node, const char* service, const CrtAddrinfo* hints, CrtAddrinfo** result);
void crt_freeaddrinfo(CrtAddrinfo* list);
int crt_getnameinfo(const void* address, int length, char* host, int host_size, char* service,
                    int service_size, int flags);
const char* crt_inet_ntop(int family, const void* source, char* buffer, int size);
int crt_inet_pton(int family, const char* text, void* destination);
// The message for a resolver error code, as 16-bit units in the one
// process-wide buffer of 1024 units.
const char16_t* crt_gai_strerror(int code);
inline constexpr size_t kResolverMessageUnits = 1024;

// FD_SET: adds the socket unless it is among the first `fd_count` handles
// or the set is full.
void crt_fd_set(int64_t socket, CrtFdSet* set);

}  // namespace tove::platform
