#include "platform/sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#include "platform/crt.h"
#include "platform/wide.h"

namespace tove::platform {

namespace {

struct ValuePair {
  int crt;
  int host;
};

// Flag words: each runtime bit and the host bit it stands for.
constexpr ValuePair kMessageFlags[] = {{1, MSG_OOB}, {2, MSG_PEEK}, {4, MSG_DONTROUTE}, {8, MSG_WAITALL}};
constexpr ValuePair kAddrinfoFlags[] = {{0x1, AI_PASSIVE},     {0x2, AI_CANONNAME}, {0x4, AI_NUMERICHOST},
                                        {0x8, AI_NUMERICSERV}, {0x100, AI_ALL},     {0x400, AI_ADDRCONFIG},
                                        {0x800, AI_V4MAPPED}};
constexpr ValuePair kNameinfoFlags[] = {
    {1, NI_NOFQDN}, {2, NI_NUMERICHOST}, {4, NI_NAMEREQD}, {8, NI_NUMERICSERV}, {16, NI_DGRAM}};

// Resolver errors: the host's EAI_* code and the socket library's number.
constexpr ValuePair kResolverErrors[] = {
    {11001, EAI_NONAME},   {11002, EAI_AGAIN},    {11003, EAI_FAIL}, {11004, EAI_NODATA},
    {10022, EAI_BADFLAGS}, {10047, EAI_FAMILY},   {8, EAI_MEMORY},   {10109, EAI_SERVICE},
    {10044, EAI_SOCKTYPE}, {10014, EAI_OVERFLOW},
};
constexpr int kWsaNoRecovery = 11003;  // any host failure without a number of its own
constexpr int kWsaInvalid = 10022;     // bad flags
constexpr int kWsaNoFamily = 10047;    // unsupported family

// Socket options: level, option, and how the value is laid out.
enum class OptionValue { kInteger, kLinger, kMilliseconds };
struct SocketOption {
  int crt_level;
  int crt_option;
  int host_level;
  int host_option;
  OptionValue value;
};
constexpr int kCrtSolSocket = 0xFFFF;
constexpr SocketOption kSocketOptions[] = {
    {kCrtSolSocket, 0x0004, SOL_SOCKET, SO_REUSEADDR, OptionValue::kInteger},
    {kCrtSolSocket, 0x0008, SOL_SOCKET, SO_KEEPALIVE, OptionValue::kInteger},
    {kCrtSolSocket, 0x0020, SOL_SOCKET, SO_BROADCAST, OptionValue::kInteger},
    {kCrtSolSocket, 0x0080, SOL_SOCKET, SO_LINGER, OptionValue::kLinger},
    {kCrtSolSocket, 0x1001, SOL_SOCKET, SO_SNDBUF, OptionValue::kInteger},
    {kCrtSolSocket, 0x1002, SOL_SOCKET, SO_RCVBUF, OptionValue::kInteger},
    {kCrtSolSocket, 0x1005, SOL_SOCKET, SO_SNDTIMEO, OptionValue::kMilliseconds},
    {kCrtSolSocket, 0x1006, SOL_SOCKET, SO_RCVTIMEO, OptionValue::kMilliseconds},
    {6, 1, IPPROTO_TCP, TCP_NODELAY, OptionValue::kInteger},
    {41, 27, IPPROTO_IPV6, IPV6_V6ONLY, OptionValue::kInteger},
};

// A runtime flag word in host bits; none when it holds a bit the host
// cannot stand for.
std::optional<int> host_flags(int crt, std::span<const ValuePair> table) {
  int host = 0;
  for (const ValuePair& pair : table) {
    if (crt & pair.crt) {
      host |= pair.host;
      crt &= ~pair.crt;
    }
  }
  if (crt != 0) return std::nullopt;
  return host;
}

int crt_flags(int host, std::span<const ValuePair> table) {
  int crt = 0;
  for (const ValuePair& pair : table) {
    if (host & pair.host) crt |= pair.crt;
  }
  return crt;
}

// Send and receive flags in host bits; none (errno EOPNOTSUPP) for a bit
// the host cannot stand for.
std::optional<int> message_flags(int crt) {
  std::optional<int> host = host_flags(crt, kMessageFlags);
  if (!host) errno = EOPNOTSUPP;
  return host;
}

// The descriptor of a handle; -1, which the host refuses, for a handle
// outside the descriptors' range.
int descriptor(int64_t socket) { return socket >= 0 && socket <= INT_MAX ? static_cast<int>(socket) : -1; }

// The room a program gives for a received address; none (errno EFAULT)
// when its length is missing or negative while the address is given.
std::optional<socklen_t> receiving_room(const void* address, const int32_t* length) {
  if (address == nullptr) return 0;
  if (length == nullptr || *length < 0) {
    errno = EFAULT;
    return std::nullopt;
  }
  return static_cast<socklen_t>(*length);
}

// A call that sends to or binds a program's address, given as a host one.
template <typename Call>
int with_host_address(const void* address, int length, Call call) {
  if (address == nullptr) return call(nullptr, static_cast<socklen_t>(length));
  sockaddr_storage host;
  std::optional<socklen_t> size = host_address(address, length, host);
  if (!size) return -1;
  return call(reinterpret_cast<const sockaddr*>(&host), *size);
}

// A call that receives an address, stored back into the program's record.
template <typename Call>
auto with_received_address(void* address, int32_t* length, Call call) -> decltype(call(nullptr, nullptr)) {
  std::optional<socklen_t> room = receiving_room(address, length);
  if (!room) return -1;
  sockaddr_storage host{};
  socklen_t size = sizeof host;
  const auto result = call(reinterpret_cast<sockaddr*>(&host), &size);
  if (result >= 0 && address != nullptr) store_address(host, size, address, length);
  return result;
}

// The result of a host call that waits for a peer, with a call that would
// block reported as the runtime's EWOULDBLOCK.
int transfer_result(ssize_t result) {
  if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) errno = kSocketWouldBlockErrno;
  return static_cast<int>(result);
}

}  // namespace

// ---- values ---------------------------------------------------------------------------------

std::optional<int> host_family(int crt) {
  switch (crt) {
    case 0: return AF_UNSPEC;
    case 1: return AF_UNIX;
    case 2: return AF_INET;
    case kCrtInet6: return AF_INET6;
    default: return std::nullopt;
  }
}

int crt_family(int host) { return host == AF_INET6 ? kCrtInet6 : host; }

int crt_resolver_error(int host) {
  if (host == 0) return 0;
  for (const ValuePair& pair : kResolverErrors) {
    if (pair.host == host) return pair.crt;
  }
  return kWsaNoRecovery;
}

std::optional<socklen_t> host_address(const void* address, int length, sockaddr_storage& host) {
  if (length < 0 || static_cast<size_t>(length) > sizeof host) {
    errno = EINVAL;
    return std::nullopt;
  }
  std::memset(&host, 0, sizeof host);
  std::memcpy(&host, address, static_cast<size_t>(length));
  if (static_cast<size_t>(length) >= sizeof(sa_family_t)) {
    std::optional<int> family = host_family(host.ss_family);
    if (!family) {
      errno = EAFNOSUPPORT;
      return std::nullopt;
    }
    host.ss_family = static_cast<sa_family_t>(*family);
  }
  return static_cast<socklen_t>(length);
}

void store_address(const sockaddr_storage& host, socklen_t size, void* address, int32_t* length) {
  sockaddr_storage converted = host;
  converted.ss_family = static_cast<sa_family_t>(crt_family(host.ss_family));
  const size_t room = static_cast<size_t>(*length);
  std::memcpy(address, &converted, std::min<size_t>({room, size, sizeof converted}));
  *length = static_cast<int32_t>(size);
}

// ---- members --------------------------------------------------------------------------------

int64_t crt_socket(int family, int type, int protocol) {
  std::optional<int> host = host_family(family);
  if (!host) {
    errno = EAFNOSUPPORT;
    return -1;
  }
  return ::socket(*host, type, protocol);
}

int crt_bind(int64_t socket, const void* address, int length) {
  return with_host_address(address, length, [&](const sockaddr* host, socklen_t size) {
    return ::bind(descriptor(socket), host, size);
  });
}

int crt_connect(int64_t socket, const void* address, int length) {
  return with_host_address(address, length, [&](const sockaddr* host, socklen_t size) {
    return ::connect(descriptor(socket), host, size);
  });
}

int64_t crt_accept(int64_t socket, void* address, int32_t* length) {
  return with_received_address(address, length, [&](sockaddr* host, socklen_t* size) -> int64_t {
    return transfer_result(::accept(descriptor(socket), host, size));
  });
}

int crt_getpeername(int64_t socket, void* address, int32_t* length) {
  if (address == nullptr) {
    errno = EFAULT;
    return -1;
  }
  return with_received_address(address, length, [&](sockaddr* host, socklen_t* size) {
    return ::getpeername(descriptor(socket), host, size);
  });
}

int crt_listen(int64_t socket, int backlog) { return ::listen(descriptor(socket), backlog); }

int crt_shutdown(int64_t socket, int how) { return ::shutdown(descriptor(socket), how); }

int crt_closesocket(int64_t socket) { return ::close(descriptor(socket)); }

int crt_setsockopt(int64_t socket, int level, int option, const void* value, int length) {
  const SocketOption* known = nullptr;
  for (const SocketOption& candidate : kSocketOptions) {
    if (candidate.crt_level == level && candidate.crt_option == option) known = &candidate;
  }
  if (known == nullptr) {
    errno = ENOPROTOOPT;
    return -1;
  }
  // Every value the runtime takes is 32 bits: an integer, two 16-bit
  // linger fields, or milliseconds.
  if (value == nullptr || length < 4) {
    errno = EFAULT;
    return -1;
  }
  uint32_t word;
  std::memcpy(&word, value, sizeof word);
  const int fd = descriptor(socket);
  switch (known->value) {
    case OptionValue::kInteger: {
      const int host = static_cast<int>(word);
      return ::setsockopt(fd, known->host_level, known->host_option, &host, sizeof host);
    }
    case OptionValue::kLinger: {
      uint16_t fields[2];
      std::memcpy(fields, value, sizeof fields);
      const linger host{fields[0], fields[1]};
      return ::setsockopt(fd, known->host_level, known->host_option, &host, sizeof host);
    }
    case OptionValue::kMilliseconds: {
      const timeval host{static_cast<time_t>(word / 1000), static_cast<suseconds_t>(word % 1000 * 1000)};
      return ::setsockopt(fd, known->host_level, known->host_option, &host, sizeof host);
    }
  }
  return -1;
}

int crt_recv(int64_t socket, void* buffer, int length, int flags) {
  std::optional<int> host = message_flags(flags);
  if (!host) return -1;
  return transfer_result(::recv(descriptor(socket), buffer, static_cast<size_t>(length), *host));
}

int crt_recvfrom(int64_t socket, void* buffer, int length, int flags, void* from, int32_t* from_length) {
  std::optional<int> host = message_flags(flags);
  if (!host) return -1;
  return with_received_address(from, from_length, [&](sockaddr* address, socklen_t* size) {
    return transfer_result(
        ::recvfrom(descriptor(socket), buffer, static_cast<size_t>(length), *host, address, size));
  });
}

int crt_send(int64_t socket, const void* buffer, int length, int flags) {
  std::optional<int> host = message_flags(flags);
  if (!host) return -1;
  return transfer_result(
      ::send(descriptor(socket), buffer, static_cast<size_t>(length), *host | MSG_NOSIGNAL));
}

int crt_sendto(int64_t socket, const void* buffer, int length, int flags, const void* to, int to_length) {
  std::optional<int> host = message_flags(flags);
  if (!host) return -1;
  return with_host_address(to, to_length, [&](const sockaddr* address, socklen_t size) {
    return transfer_result(::sendto(descriptor(socket), buffer, static_cast<size_t>(length),
                                    *host | MSG_NOSIGNAL, address, size));
  });
}

int crt_gethostname(char* buffer, int size) { return ::gethostname(buffer, static_cast<size_t>(size)); }

// ---- name resolution --------------------------------------------------------------------------

namespace {

// One record of a result list in one block: the record, then its socket
// address, then its canonical name.
CrtAddrinfo* make_record(const addrinfo& host) {
  const size_t address_size = host.ai_addr != nullptr ? host.ai_addrlen : 0;
  const size_t name_size = host.ai_canonname != nullptr ? std::strlen(host.ai_canonname) + 1 : 0;
  auto* block = static_cast<unsigned char*>(std::calloc(1, sizeof(CrtAddrinfo) + address_size + name_size));
  if (block == nullptr) return nullptr;
  auto* record = reinterpret_cast<CrtAddrinfo*>(block);
  record->ai_flags = crt_flags(host.ai_flags, kAddrinfoFlags);
  record->ai_family = crt_family(host.ai_family);
  record->ai_socktype = host.ai_socktype;
  record->ai_protocol = host.ai_protocol;
  record->ai_addrlen = address_size;
  if (address_size != 0) {
    unsigned char* address = block + sizeof(CrtAddrinfo);
    std::memcpy(address, host.ai_addr, address_size);
    const auto family = static_cast<sa_family_t>(crt_family(host.ai_addr->sa_family));
    std::memcpy(address, &family, sizeof family);
    record->ai_addr = address;
  }
  if (name_size != 0) {
    record->ai_canonname = reinterpret_cast<char*>(block + sizeof(CrtAddrinfo) + address_size);
    std::memcpy(record->ai_canonname, host.ai_canonname, name_size);
  }
  return record;
}

}  // namespace

int crt_getaddrinfo(const char* node, const char* service, const CrtAddrinfo* hints, CrtAddrinfo** result) {
  if (result == nullptr) return kWsaInvalid;
  *result = nullptr;
  addrinfo host_hints{};
  if (hints != nullptr) {
    std::optional<int> flags = host_flags(hints->ai_flags, kAddrinfoFlags);
    if (!flags) return kWsaInvalid;
    std::optional<int> family = host_family(hints->ai_family);
    if (!family) return kWsaNoFamily;
    host_hints.ai_flags = *flags;
    host_hints.ai_family = *family;
    host_hints.ai_socktype = hints->ai_socktype;
    host_hints.ai_protocol = hints->ai_protocol;
  }
  addrinfo* found = nullptr;
  const int error = ::getaddrinfo(node, service, hints != nullptr ? &host_hints : nullptr, &found);
  if (error != 0) return crt_resolver_error(error);
  CrtAddrinfo** tail = result;
  for (const addrinfo* host = found; host != nullptr; host = host->ai_next) {
    CrtAddrinfo* record = make_record(*host);
    if (record == nullptr) {
      ::freeaddrinfo(found);
      crt_freeaddrinfo(*result);
      *result = nullptr;
      return crt_resolver_error(EAI_MEMORY);
    }
    *tail = record;
    tail = &record->ai_next;
  }
  ::freeaddrinfo(found);
  return 0;
}

void crt_freeaddrinfo(CrtAddrinfo* list) {
  while (list != nullptr) {
    CrtAddrinfo* next = list->ai_next;
    std::free(list);
    list = next;
  }
}

int crt_getnameinfo(const void* address, int length, char* host, int host_size, char* service,
                    int service_size, int flags) {
  std::optional<int> host_flag_word = host_flags(flags, kNameinfoFlags);
  if (!host_flag_word) return kWsaInvalid;
  if (address == nullptr) return kWsaInvalid;
  sockaddr_storage host_address_record;
  std::optional<socklen_t> size = host_address(address, length, host_address_record);
  if (!size) return errno == EAFNOSUPPORT ? kWsaNoFamily : kWsaInvalid;
  const int error = ::getnameinfo(reinterpret_cast<const sockaddr*>(&host_address_record), *size, host,
                                  static_cast<socklen_t>(host_size), service,
                                  static_cast<socklen_t>(service_size), *host_flag_word);
  return crt_resolver_error(error);
}

const char* crt_inet_ntop(int family, const void* source, char* buffer, int size) {
  std::optional<int> host = host_family(family);
  if (!host) {
    errno = EAFNOSUPPORT;
    return nullptr;
  }
  return ::inet_ntop(*host, source, buffer, static_cast<socklen_t>(size));
}

int crt_inet_pton(int family, const char* text, void* destination) {
  std::optional<int> host = host_family(family);
  if (!host) {
    errno = EAFNOSUPPORT;
    return -1;
  }
  return ::inet_pton(*host, text, destination);
}

const char16_t* crt_gai_strerror(int code) {
  static char16_t buffer[kResolverMessageUnits];
  const char* message = "Unknown error";
  if (code == 0) {
    message = ::gai_strerror(0);
  } else {
    for (const ValuePair& pair : kResolverErrors) {
      if (pair.crt == code) message = ::gai_strerror(pair.host);
    }
  }
  const std::u16string units = to_utf16(message);
  const size_t n = std::min(units.size(), kResolverMessageUnits - 1);
  std::copy_n(units.begin(), n, buffer);
  buffer[n] = 0;
  return buffer;
}

void crt_fd_set(int64_t socket, CrtFdSet* set) {
  const uint32_t count = std::min(set->fd_count, kFdSetCapacity);
  for (uint32_t i = 0; i < count; ++i) {
    if (set->fd_array[i] == socket) return;
  }
  if (set->fd_count < kFdSetCapacity) {
    set->fd_array[set->fd_count] = socket;
    ++set->fd_count;
  }
}

}  // namespace tove::platform
