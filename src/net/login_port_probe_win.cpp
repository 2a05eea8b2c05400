#include "net/login_port_probe_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <limits>
#include <memory>

namespace {

// Winsock stays started for the rest of the process once the first probe has
// started it. A WSACleanup that brings the count to zero closes every socket
// of the process, and under Wine that includes the sockets WinHTTP is using
// on other threads at that moment (a manifest fetch or a download then fails
// with WSAENOTSOCK), so the probe never cleans up.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started_) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

 private:
  bool started_ = false;
};

class UniqueSocket {
 public:
  explicit UniqueSocket(SOCKET s) : socket_(s) {}
  ~UniqueSocket() {
    if (valid()) closesocket(socket_);
  }
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;

  SOCKET get() const { return socket_; }
  bool valid() const { return socket_ != INVALID_SOCKET; }

 private:
  SOCKET socket_;
};

struct AddrInfoFree {
  void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

// The host's IPv4 address: a literal as written, else the first address a
// name resolves to. False when neither works.
bool ResolveIpv4(const std::string& host, in_addr& address) {
  bool found = inet_pton(AF_INET, host.c_str(), &address) == 1;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &raw) == 0) {
    const std::unique_ptr<addrinfo, AddrInfoFree> results(raw);
    if (results && results->ai_addr && results->ai_family == AF_INET) {
      address = reinterpret_cast<const sockaddr_in*>(results->ai_addr)->sin_addr;
      found = true;
    }
  }
  return found;
}

std::int32_t WholeMilliseconds(std::chrono::steady_clock::duration elapsed) {
  const auto ms = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 1000000;
  return ms > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                       : static_cast<std::int32_t>(ms);
}

}  // namespace

std::int32_t MeasureConnectMs(const std::string& host, std::uint16_t port, std::chrono::milliseconds limit) {
  static const WinsockSession winsock;  // thread-safe first use, kept until exit
  const UniqueSocket sock(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!sock.valid()) return -1;

  u_long non_blocking = 1;
  if (ioctlsocket(sock.get(), FIONBIO, &non_blocking) != 0) return -1;

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  // Connecting to 0.0.0.0 instead would reach this machine on some systems.
  if (!ResolveIpv4(host, address.sin_addr)) return -1;

  const auto started = std::chrono::steady_clock::now();
  if (connect(sock.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    return -1;  // failed at once; an accepted start completes during the wait
  }

  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(sock.get(), &writable);
  FD_SET(sock.get(), &failed);
  const auto limit_us = std::chrono::duration_cast<std::chrono::microseconds>(limit).count();
  timeval wait{};
  wait.tv_sec = static_cast<long>(limit_us / 1000000);
  wait.tv_usec = static_cast<long>(limit_us % 1000000);
  // A refused connect shows in the failure set, ending the wait early.
  const int ready = select(0, nullptr, &writable, &failed, &wait);
  const auto elapsed = std::chrono::steady_clock::now() - started;
  if (ready <= 0 || !FD_ISSET(sock.get(), &writable)) return -1;

  // Only an established connection counts, whatever the wait reported.
  int socket_error = 0;
  int length = sizeof socket_error;
  if (getsockopt(sock.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&socket_error), &length) != 0 ||
      socket_error != 0) {
    return -1;
  }
  return WholeMilliseconds(elapsed);
}
