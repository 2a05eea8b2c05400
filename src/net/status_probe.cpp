#include "net/status_probe.h"

#include <exception>

#include "base/text.h"
#include "data/json.h"
#include "data/json_number.h"
#include "net/http_client.h"
#include "net/update_server.h"

StatusTarget DefaultStatusTarget() {
  StatusTarget target;
  target.status_url = Widen(StatusUrl());
  target.host = UpdateServerHost();
  target.port = kLoginPort;
  return target;
}

StatusSnapshot DecideStatus(std::int32_t latency_ms, const HttpResponse& status_reply) {
  StatusSnapshot snapshot;
  snapshot.latency_ms = latency_ms;
  snapshot.online = latency_ms >= 0;
  if (status_reply.ok && !status_reply.body.empty()) {
    try {
      const JsonValue document = ParseJson(status_reply.body);
      snapshot.online = document.Get("online").boolean;
      snapshot.population = TruncateToInt32(document.Get("population").number);
    } catch (const std::exception&) {
      // An unreadable document counts as none: the connect test decides.
    }
  }
  return snapshot;
}
