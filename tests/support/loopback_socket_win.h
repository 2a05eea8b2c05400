// Loopback TCP helpers for Windows tests: a port that accepts connections and
// one that refuses them, on 127.0.0.1.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>

namespace testutil {

// Keeps Winsock started for as long as it lives.
class WinsockScope {
 public:
  WinsockScope() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockScope() {
    if (started_) WSACleanup();
  }
  WinsockScope(const WinsockScope&) = delete;
  WinsockScope& operator=(const WinsockScope&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

// A socket bound to a free port on 127.0.0.1; listening when asked to. The
// system completes connections into the backlog, so nothing needs to accept.
class LoopbackSocket {
 public:
  explicit LoopbackSocket(bool listening) {
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    int length = sizeof address;
    if (bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        (listening && listen(socket_, SOMAXCONN) != 0)) {
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackSocket() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  std::uint16_t port() const { return port_; }  // 0 when the socket could not be set up

 private:
  SOCKET socket_ = INVALID_SOCKET;
  std::uint16_t port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on (it was free a moment ago).
inline std::uint16_t ClosedLoopbackPort() {
  const LoopbackSocket probe(false);
  return probe.port();
}

}  // namespace testutil
