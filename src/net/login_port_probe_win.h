// The TCP half of the realm probe: how long a connection to the login port
// takes to be established.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

constexpr std::chrono::milliseconds kLoginConnectLimit{3000};

// Whole milliseconds until a connection to `host` (an IPv4 literal or a name
// resolved to IPv4) on `port` was established, or -1 when none was within
// `limit` (refused, unreachable, unresolvable). The connection is closed at
// once; nothing is sent. Leaves Winsock started for the rest of the process, so
// that no probe can end socket use on other threads.
std::int32_t MeasureConnectMs(const std::string& host, std::uint16_t port,
                              std::chrono::milliseconds limit = kLoginConnectLimit);
