// One download with the automatic retries of transient failures, shared by the
// update runs and the client installation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/http_client.h"

// One try from `offset` on.
using DownloadAttempt = std::function<DownloadResult(std::int64_t offset)>;

// Calls `attempt` from `offset`; after a failure RetryPause allows, waits (a
// stop ends the wait at once) and calls it again from `resume_from()` (the
// bytes already written that stay), logging one WARN line per retry that
// names `name`, the reason and the attempt. Gives the last try's result.
DownloadResult DownloadWithRetries(const std::string& name, std::int64_t offset, const DownloadAttempt& attempt,
                                   const std::function<std::int64_t()>& resume_from, const RetryPauses& pauses,
                                   const DownloadStop& stop);

// Where a download of a file of `expected` bytes (0 when unknown) restarts when
// `present` bytes of it are on disk: after them when the file is shorter, from
// the start otherwise (a longer or unknown file cannot be trusted as a start).
std::int64_t ResumeOffset(std::int64_t present, std::int64_t expected);
