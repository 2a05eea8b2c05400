#include <windows.h>

#include "net/http_client.h"
#include "net/login_port_probe_win.h"
#include "net/server_status.h"
#include "ui/window_messages.h"

namespace {
constexpr std::uint32_t kStatusTimeoutMs = 5000;
}

void ServerStatus::Start(void* window) {
  const HWND target_window = static_cast<HWND>(window);
  const StatusTarget& target = target_;
  cycle_.Start(
      [&target] {
        // The connect test first, then the document, which decides when it can be read.
        const std::int32_t latency = MeasureConnectMs(target.host, target.port);
        return DecideStatus(latency, HttpClient::Get(target.status_url, kStatusTimeoutMs));
      },
      [target_window] {
        if (target_window) PostMessageW(target_window, WM_SERVER_STATUS, 0, 0);
      });
}
