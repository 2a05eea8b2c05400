// What one probe of the realm found, and how its two halves (a TCP connect
// to the login port and the status document) combine into it.
#pragma once

#include <cstdint>
#include <string>

struct HttpResponse;

struct StatusSnapshot {
  bool online = false;
  std::int32_t population = 0;
  std::int32_t latency_ms = -1;  // -1: no connection within the limit
};

// Where a probe looks: the status document's address and the login port's
// host and port. The defaults are the update server's.
struct StatusTarget {
  std::wstring status_url;
  std::string host;  // an IPv4 literal or a host name
  std::uint16_t port = 0;
};
StatusTarget DefaultStatusTarget();

// A readable status document (200, non-empty, valid JSON) decides: "online"
// must be true (absent reads as offline), "population" is truncated to an
// integer. Without one the realm is online when the login port answered.
StatusSnapshot DecideStatus(std::int32_t latency_ms, const HttpResponse& status_reply);
