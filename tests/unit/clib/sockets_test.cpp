#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <string>

#include "calls.h"
#include "platform/crt.h"
#include "platform/sockets.h"

using namespace tove;
using namespace tove::platform;
using namespace tove::testing;

namespace {

// A runtime sockaddr_in for 127.0.0.1 and a port.
struct RuntimeInet {
  uint16_t family = 2;
  uint16_t port;
  uint32_t address;
  uint8_t zero[8] = {};
};
static_assert(sizeof(RuntimeInet) == 16);

RuntimeInet loopback(uint16_t port) { return {2, htons(port), htonl(INADDR_LOOPBACK), {}}; }

// A listening socket on a free loopback port, a client connected to it and
// the accepted end, all through the runtime's members.
struct Connection {
  int64_t listener = -1, client = -1, server = -1;
  Connection() {
    listener = crt_socket(2, SOCK_STREAM, 0);
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    RuntimeInet any = loopback(0);
    EXPECT_EQ(crt_bind(listener, &any, sizeof any), 0);
    EXPECT_EQ(getsockname(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&bound), &size), 0);
    EXPECT_EQ(crt_listen(listener, 1), 0);
    client = crt_socket(2, SOCK_STREAM, 0);
    RuntimeInet to = loopback(ntohs(bound.sin_port));
    EXPECT_EQ(crt_connect(client, &to, sizeof to), 0);
    server = crt_accept(listener, nullptr, nullptr);
    EXPECT_GE(server, 0);
  }
  ~Connection() {
    for (int64_t s : {listener, client, server}) {
      if (s >= 0) crt_closesocket(s);
    }
  }
};

TEST(Families, Inet6IsTwentyThreeInBothDirections) {
  EXPECT_EQ(host_family(23), AF_INET6);
  EXPECT_EQ(host_family(2), AF_INET);
  EXPECT_EQ(host_family(0), AF_UNSPEC);
  EXPECT_EQ(host_family(1), AF_UNIX);
  EXPECT_FALSE(host_family(10).has_value()) << "10 is not the runtime's AF_INET6";
  EXPECT_EQ(crt_family(AF_INET6), 23);
  EXPECT_EQ(crt_family(AF_INET), 2);
}

TEST(Families, ASocketOfAnUnknownFamilyIsRefused) {
  errno = 0;
  EXPECT_EQ(crt_socket(10, SOCK_STREAM, 0), -1);
  EXPECT_EQ(errno, EAFNOSUPPORT);
  const int64_t s = crt_socket(23, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_storage info{};
  socklen_t size = sizeof info;
  ASSERT_EQ(getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&info), &size), 0);
  EXPECT_EQ(info.ss_family, AF_INET6);
  crt_closesocket(s);
}

TEST(Addresses, AProgramsAddressIsCopiedNeverConverted) {
  unsigned char record[28] = {};
  record[0] = 23;  // family, little-endian 16 bits
  record[2] = 0x1F;
  const std::string before(reinterpret_cast<char*>(record), sizeof record);
  sockaddr_storage host;
  std::optional<socklen_t> size = host_address(record, sizeof record, host);
  ASSERT_TRUE(size.has_value());
  EXPECT_EQ(*size, 28u);
  EXPECT_EQ(host.ss_family, AF_INET6);
  EXPECT_EQ(reinterpret_cast<sockaddr_in6&>(host).sin6_port, htons(0x1F00));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record), sizeof record), before);
}

TEST(Addresses, LengthsBeyondTheHostRecordAreRefused) {
  static unsigned char big[512] = {2};
  sockaddr_storage host;
  errno = 0;
  EXPECT_FALSE(host_address(big, sizeof(sockaddr_storage) + 1, host).has_value());
  EXPECT_EQ(errno, EINVAL);
  EXPECT_FALSE(host_address(big, -1, host).has_value());
  big[0] = 10;
  errno = 0;
  EXPECT_FALSE(host_address(big, 16, host).has_value());
  EXPECT_EQ(errno, EAFNOSUPPORT);
}

TEST(Addresses, AReceivedAddressIsConvertedAndCutToTheRoomGiven) {
  sockaddr_storage host{};
  auto& six = reinterpret_cast<sockaddr_in6&>(host);
  six.sin6_family = AF_INET6;
  six.sin6_port = htons(443);
  six.sin6_addr.s6_addr[15] = 1;
  unsigned char record[28];
  std::memset(record, 0xAA, sizeof record);
  int32_t length = sizeof record;
  store_address(host, sizeof(sockaddr_in6), record, &length);
  EXPECT_EQ(length, 28);
  EXPECT_EQ(record[0] | record[1] << 8, 23);
  EXPECT_EQ(record[23], 1);

  unsigned char small[8];
  std::memset(small, 0xAA, sizeof small);
  int32_t room = 4;
  store_address(host, sizeof(sockaddr_in6), small, &room);
  EXPECT_EQ(room, 28) << "the full length is stored";
  EXPECT_EQ(small[0], 23);
  EXPECT_EQ(small[4], 0xAA) << "nothing beyond the room given";
}

TEST(Sockets, EchoOnLoopback) {
  Connection c;
  EXPECT_EQ(crt_send(c.client, "ping", 4, 0), 4);
  char buffer[16] = {};
  EXPECT_EQ(crt_recv(c.server, buffer, sizeof buffer, 0), 4);
  EXPECT_STREQ(buffer, "ping");

  unsigned char peer[16];
  int32_t length = sizeof peer;
  ASSERT_EQ(crt_getpeername(c.server, peer, &length), 0);
  EXPECT_EQ(length, 16);
  EXPECT_EQ(peer[0], 2);
  EXPECT_EQ(peer[4], 127);
}

TEST(Sockets, AcceptStoresTheRuntimesAddress) {
  const int64_t listener = crt_socket(23, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in6 any{};
  any.sin6_family = 23;  // the runtime's number, written by a program
  any.sin6_addr = in6addr_loopback;
  if (crt_bind(listener, &any, sizeof any) != 0) GTEST_SKIP() << "no IPv6 loopback here";
  sockaddr_in6 bound{};
  socklen_t size = sizeof bound;
  getsockname(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&bound), &size);
  ASSERT_EQ(crt_listen(listener, 1), 0);
  const int64_t client = crt_socket(23, SOCK_STREAM, 0);
  sockaddr_in6 to = any;
  to.sin6_port = bound.sin6_port;
  ASSERT_EQ(crt_connect(client, &to, sizeof to), 0);
  unsigned char from[28];
  int32_t length = sizeof from;
  const int64_t server = crt_accept(listener, from, &length);
  ASSERT_GE(server, 0);
  EXPECT_EQ(length, 28);
  EXPECT_EQ(from[0] | from[1] << 8, 23);
  for (int64_t s : {listener, client, server}) crt_closesocket(s);
}

TEST(Sockets, AnAddressWithoutItsLengthIsAFault) {
  Connection c;
  unsigned char from[16];
  int32_t negative = -1;
  errno = 0;
  EXPECT_EQ(crt_accept(c.listener, from, &negative), -1);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  EXPECT_EQ(crt_accept(c.listener, from, nullptr), -1);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  EXPECT_EQ(crt_getpeername(c.server, nullptr, &negative), -1);
  EXPECT_EQ(errno, EFAULT);
}

TEST(Sockets, SendingToAClosedPeerAnswersMinusOne) {
  Connection c;
  crt_closesocket(c.server);
  c.server = -1;
  int result = 0;
  for (int i = 0; i < 100 && result >= 0; ++i) {
    result = crt_send(c.client, "data", 4, 0);
    usleep(1000);
  }
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(errno == EPIPE || errno == ECONNRESET) << errno;
}

TEST(Sockets, FlagsTheHostLacksAreRefused) {
  Connection c;
  errno = 0;
  EXPECT_EQ(crt_send(c.client, "x", 1, 0x40), -1);
  EXPECT_EQ(errno, EOPNOTSUPP);
  EXPECT_EQ(crt_send(c.client, "abcd", 4, 0), 4);
  char buffer[8] = {};
  // MSG_PEEK 2 leaves the bytes; MSG_WAITALL 8 waits for all four.
  EXPECT_EQ(crt_recv(c.server, buffer, 4, 2 | 8), 4);
  EXPECT_EQ(crt_recv(c.server, buffer, 4, 0), 4);
  EXPECT_STREQ(buffer, "abcd");
}

TEST(Sockets, HandlesOutsideTheDescriptorsAreBad) {
  errno = 0;
  EXPECT_EQ(crt_closesocket(int64_t{1} << 32), -1);
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_EQ(crt_listen(-1, 1), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST(SocketOptions, CommonOptionsReachTheHost) {
  Connection c;
  const int fd = static_cast<int>(c.client);
  const int32_t on = 1;
  EXPECT_EQ(crt_setsockopt(c.client, 0xFFFF, 4, &on, 4), 0);
  int value = 0;
  socklen_t size = sizeof value;
  getsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &value, &size);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(crt_setsockopt(c.client, 6, 1, &on, 4), 0);
  getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, &size);
  EXPECT_NE(value, 0);
  EXPECT_EQ(crt_setsockopt(c.client, 0xFFFF, 8, &on, 4), 0);
  getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &value, &size);
  EXPECT_NE(value, 0);
}

TEST(SocketOptions, TimeoutsAreMilliseconds) {
  Connection c;
  const uint32_t ms = 1500;
  ASSERT_EQ(crt_setsockopt(c.client, 0xFFFF, 0x1006, &ms, 4), 0);
  timeval tv{};
  socklen_t size = sizeof tv;
  getsockopt(static_cast<int>(c.client), SOL_SOCKET, SO_RCVTIMEO, &tv, &size);
  EXPECT_EQ(tv.tv_sec, 1);
  EXPECT_EQ(tv.tv_usec, 500000);
  char buffer[4];
  const uint32_t short_wait = 50;
  ASSERT_EQ(crt_setsockopt(c.client, 0xFFFF, 0x1006, &short_wait, 4), 0);
  EXPECT_EQ(crt_recv(c.client, buffer, sizeof buffer, 0), -1) << "nothing arrives within the time";
}

// A program compares errno with ewouldblock after a transfer that would
// block: the two agree, and differ from the runtime's EAGAIN (11).
TEST(Sockets, ATransferThatWouldBlockSetsEwouldblock) {
  Connection c;
  ASSERT_EQ(fcntl(static_cast<int>(c.server), F_SETFL, O_NONBLOCK), 0);
  char buffer[4];
  const std::optional<int64_t> ewouldblock = integer_of(call("ewouldblock"));
  ASSERT_TRUE(ewouldblock.has_value());
  EXPECT_EQ(integer_of(call("recv", number(c.server), address(buffer), number(4), number(0))), -1);
  EXPECT_EQ(integer_of(call("errno")), ewouldblock);
  EXPECT_NE(*ewouldblock, 11);
  EXPECT_STREQ(crt_strerror(static_cast<int>(*ewouldblock)), std::strerror(EWOULDBLOCK));
  // Data waiting is received at once; nothing more would block again.
  ASSERT_EQ(crt_send(c.client, "ping", 4, 0), 4);
  pollfd ready{static_cast<int>(c.server), POLLIN, 0};
  ASSERT_EQ(poll(&ready, 1, 10000), 1);
  EXPECT_EQ(integer_of(call("recv", number(c.server), address(buffer), number(4), number(0))), 4);
  EXPECT_EQ(integer_of(call("recvfrom", number(c.server), address(buffer), number(4), number(0), number(0),
                            number(0))),
            -1);
  EXPECT_EQ(integer_of(call("errno")), ewouldblock);
  // A host EAGAIN from elsewhere keeps the runtime's EAGAIN.
  EXPECT_EQ(crt_errno(EAGAIN), 11);
}

TEST(SocketOptions, LingerIsTwoSixteenBitFields) {
  Connection c;
  const uint16_t fields[2] = {1, 7};
  ASSERT_EQ(crt_setsockopt(c.client, 0xFFFF, 0x80, fields, 4), 0);
  linger host{};
  socklen_t size = sizeof host;
  getsockopt(static_cast<int>(c.client), SOL_SOCKET, SO_LINGER, &host, &size);
  EXPECT_NE(host.l_onoff, 0);
  EXPECT_EQ(host.l_linger, 7);
}

TEST(SocketOptions, UnknownOptionsAndShortValuesAreRefused) {
  Connection c;
  const int32_t on = 1;
  errno = 0;
  EXPECT_EQ(crt_setsockopt(c.client, SOL_SOCKET, SO_REUSEADDR, &on, 4), -1)
      << "the host's level is not 0xFFFF";
  EXPECT_EQ(errno, ENOPROTOOPT);
  errno = 0;
  EXPECT_EQ(crt_setsockopt(c.client, 0xFFFF, 4, &on, 2), -1);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  EXPECT_EQ(crt_setsockopt(c.client, 0xFFFF, 4, nullptr, 4), -1);
  EXPECT_EQ(errno, EFAULT);
}

TEST(FdSet, AddsEachSocketOnceAndStopsWhenFull) {
  CrtFdSet set{};
  crt_fd_set(7, &set);
  crt_fd_set(7, &set);
  EXPECT_EQ(set.fd_count, 1u);
  EXPECT_EQ(set.fd_array[0], 7);
  for (int64_t s = 100; s < 164; ++s) crt_fd_set(s, &set);
  EXPECT_EQ(set.fd_count, 64u);
  EXPECT_EQ(set.fd_array[63], 162) << "the 65th distinct socket is not added";
}

TEST(FdSet, ACountBeyondTheRecordReadsNoFurther) {
  CrtFdSet set{};
  set.fd_count = 1000;
  set.fd_array[5] = 9;
  crt_fd_set(9, &set);
  crt_fd_set(11, &set);
  EXPECT_EQ(set.fd_count, 1000u);
}

TEST(Resolver, NumericAddressesGiveRuntimeRecords) {
  CrtAddrinfo hints{};
  hints.ai_flags = 4 | 8;  // AI_NUMERICHOST, AI_NUMERICSERV
  hints.ai_family = 2;
  hints.ai_socktype = SOCK_STREAM;
  CrtAddrinfo* list = nullptr;
  ASSERT_EQ(crt_getaddrinfo("127.0.0.1", "8080", &hints, &list), 0);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->ai_family, 2);
  EXPECT_EQ(list->ai_socktype, SOCK_STREAM);
  EXPECT_EQ(list->ai_addrlen, 16u);
  EXPECT_EQ(list->ai_canonname, nullptr);
  EXPECT_EQ(list->ai_next, nullptr);
  const auto* address = static_cast<const unsigned char*>(list->ai_addr);
  EXPECT_EQ(address[0], 2);
  EXPECT_EQ(address[2] << 8 | address[3], 8080);
  EXPECT_EQ(address[4], 127);
  crt_freeaddrinfo(list);
}

TEST(Resolver, Inet6RecordsCarryTwentyThree) {
  CrtAddrinfo hints{};
  hints.ai_flags = 4;
  hints.ai_family = 23;
  hints.ai_socktype = SOCK_DGRAM;
  CrtAddrinfo* list = nullptr;
  ASSERT_EQ(crt_getaddrinfo("::1", "53", &hints, &list), 0);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->ai_family, 23);
  EXPECT_EQ(list->ai_addrlen, 28u);
  EXPECT_EQ(static_cast<const unsigned char*>(list->ai_addr)[0], 23);
  crt_freeaddrinfo(list);
}

TEST(Resolver, CanonicalNameSitsBeforeTheAddress) {
  CrtAddrinfo hints{};
  hints.ai_flags = 2 | 4;  // AI_CANONNAME, AI_NUMERICHOST
  hints.ai_family = 2;
  hints.ai_socktype = SOCK_STREAM;
  CrtAddrinfo* list = nullptr;
  ASSERT_EQ(crt_getaddrinfo("127.0.0.1", nullptr, &hints, &list), 0);
  ASSERT_NE(list, nullptr);
  ASSERT_NE(list->ai_canonname, nullptr);
  EXPECT_STREQ(list->ai_canonname, "127.0.0.1");
  EXPECT_EQ(list->ai_flags & 2, 2);
  crt_freeaddrinfo(list);
}

TEST(Resolver, ErrorsAreTheSocketLibrarysNumbers) {
  CrtAddrinfo hints{};
  hints.ai_flags = 4;
  hints.ai_family = 2;
  CrtAddrinfo* list = reinterpret_cast<CrtAddrinfo*>(1);
  EXPECT_EQ(crt_getaddrinfo("not an address", nullptr, &hints, &list), 11001);
  EXPECT_EQ(list, nullptr);
  hints.ai_flags = 0x10;  // no such flag in the runtime
  EXPECT_EQ(crt_getaddrinfo("127.0.0.1", nullptr, &hints, &list), 10022);
  hints.ai_flags = 0;
  hints.ai_family = 10;
  EXPECT_EQ(crt_getaddrinfo("127.0.0.1", nullptr, &hints, &list), 10047);
  EXPECT_EQ(crt_resolver_error(EAI_NONAME), 11001);
  EXPECT_EQ(crt_resolver_error(EAI_AGAIN), 11002);
  EXPECT_EQ(crt_resolver_error(EAI_SERVICE), 10109);
  EXPECT_EQ(crt_resolver_error(0), 0);
}

TEST(Resolver, NameInfoWithNumericFlags) {
  RuntimeInet address = loopback(8080);
  char host[64] = {};
  char service[16] = {};
  EXPECT_EQ(crt_getnameinfo(&address, sizeof address, host, sizeof host, service, sizeof service, 2 | 8), 0);
  EXPECT_STREQ(host, "127.0.0.1");
  EXPECT_STREQ(service, "8080");
  EXPECT_EQ(crt_getnameinfo(&address, sizeof address, host, 4, service, sizeof service, 2 | 8), 10014)
      << "a host buffer too small";
  EXPECT_EQ(crt_getnameinfo(&address, sizeof address, host, sizeof host, service, sizeof service, 32), 10022);
}

TEST(Resolver, MessagesAreSixteenBitText) {
  const char16_t* message = crt_gai_strerror(11001);
  const std::string expected = gai_strerror(EAI_NONAME);
  std::string narrow;
  for (const char16_t* p = message; *p != 0; ++p) narrow.push_back(static_cast<char>(*p));
  EXPECT_EQ(narrow, expected);
  EXPECT_EQ(crt_gai_strerror(10022), message) << "one buffer, overwritten by each call";
  EXPECT_NE(std::u16string(message), u"");
}

TEST(TextAddresses, PresentationAndNumericFormsRoundTrip) {
  unsigned char numeric[16] = {};
  EXPECT_EQ(crt_inet_pton(23, "::1", numeric), 1);
  EXPECT_EQ(numeric[15], 1);
  char text[64] = {};
  EXPECT_EQ(crt_inet_ntop(23, numeric, text, sizeof text), text);
  EXPECT_STREQ(text, "::1");
  EXPECT_EQ(crt_inet_pton(2, "10.1.2.3", numeric), 1);
  EXPECT_EQ(crt_inet_ntop(2, numeric, text, 4), nullptr) << "no room";
  errno = 0;
  EXPECT_EQ(crt_inet_pton(10, "::1", numeric), -1);
  EXPECT_EQ(errno, EAFNOSUPPORT);
}

TEST(SocketMembers, LengthsThatDoNotFitAreRefused) {
  RuntimeInet address = loopback(1);
  EXPECT_EQ(text_of(call("bind", number(3), tove::testing::address(&address), number(-1))), "Z");
  EXPECT_EQ(text_of(call("bind", number(3), tove::testing::address(&address), number(int64_t{1} << 31))),
            "Z");
  EXPECT_EQ(text_of(call("send", number(3), bytes("x"), number(-1), number(0))), "Z");
  EXPECT_EQ(text_of(call("recv", number(3), number(0), number(int64_t{1} << 32), number(0))), "Z");
  EXPECT_EQ(text_of(call("getaddrinfo", bytes("localhost"), number(0), number(0), number(0))), "Z")
      << "the host name is an address";
}

TEST(SocketMembers, SendTakesAByteString) {
  Connection c;
  EXPECT_EQ(integer_of(call("send", number(c.client), bytes("hello"), number(5), number(0))), 5);
  char buffer[8] = {};
  EXPECT_EQ(integer_of(call("recv", number(c.server), tove::testing::address(buffer), number(8), number(0))),
            5);
  EXPECT_STREQ(buffer, "hello");
  CrtFdSet set{};
  EXPECT_EQ(text_of(call("fd_set", number(c.client), tove::testing::address(&set))), "I");
  EXPECT_EQ(set.fd_count, 1u);
  EXPECT_EQ(set.fd_array[0], c.client);
}

}  // namespace
