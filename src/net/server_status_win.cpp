#include <utility>

#include "net/http_client.h"
#include "net/login_port_probe_win.h"
#include "net/server_status.h"

namespace {
constexpr std::uint32_t kStatusTimeoutMs = 5000;
constexpr std::uint64_t kStatusMaxBytes = 64 << 10;
}  // namespace

void ServerStatus::Start(StatusCycle::Published published) {
  const StatusTarget& target = target_;
  cycle_.Start(
      [&target] {
        // The connect test first, then the document, which decides when it can be read.
        const std::int32_t latency = MeasureConnectMs(target.host, target.port);
        return DecideStatus(latency, HttpClient::Get(target.status_url, kStatusTimeoutMs, kStatusMaxBytes));
      },
      std::move(published));
}
