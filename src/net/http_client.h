// The launcher's HTTP access: small documents into memory, downloads into a
// file with resume. Blocking; call from worker threads only. All calls share
// one WinHTTP session for the process, so a connection to a host is kept open
// and used again by the next request; calls may run side by side. A request that
// fails before any reply arrives logs a WARN line naming the failing WinHTTP call
// and its system error code; the returned texts stay short for the player.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "net/http_download_plan.h"

struct HttpResponse {
  uint32_t status = 0;                // 0 when no reply arrived
  std::string body;                   // byte for byte as received, whatever the status
  bool ok = false;                    // status 200 and the whole body arrived
  std::string error;                  // why the request or the body could not be completed; empty for a whole
                                      // reply, whatever its status
  TlsFailure tls = TlsFailure::None;  // no reply because no trusted secure connection came about
  bool refused = false;               // a reply came but is not used (past its bound, or a bad signature)
};

// (bytes of the file present so far, counting a resumed part; total size or -1 when unknown).
// Called on the downloading thread once per piece written.
using DownloadProgress = std::function<void(int64_t bytes_so_far, int64_t total)>;
// Asked between two pieces of a body: true stops the download ("Cancelled").
using DownloadStop = std::function<bool()>;

// Where the body of a range goes: one file that several connections write at
// once, each its own range.
class RangeSink {
 public:
  virtual ~RangeSink() = default;
  // Writes all `size` bytes at `offset`; false with `failure` filled in (its kind
  // DiskFull or Local, and its text) when they could not all be written.
  virtual bool WriteAt(int64_t offset, const char* data, size_t size, DownloadResult& failure) = 0;
};

// How long a download may wait for the next piece before it counts as stalled.
constexpr uint32_t kDownloadStallMs = 30000;

class HttpClient {
 public:
  // One GET; the body is collected whatever the status. Never throws for network trouble.
  // A reply longer than `max_bytes` (by its Content-Length, or by count while reading) is
  // not kept: `error` says "reply larger than <max_bytes>" and `body` stays empty.
  static HttpResponse Get(const std::wstring& url, uint32_t receive_timeout_ms, uint64_t max_bytes);

  // One GET whose body goes to `dest_path`. With `resume_offset` > 0 asks for the rest
  // of the file from that offset and appends to what is on disk (a server that ignores
  // the range and sends the whole file gets the file rewritten from its start).
  // `ok` only when the whole body arrived and was written; otherwise `error` says why and
  // `failure` what kind of trouble it was, and whatever did arrive stays on disk so a
  // later call can resume.
  static DownloadResult DownloadFile(const std::wstring& url, const std::wstring& dest_path, int64_t resume_offset,
                                     const DownloadProgress& progress, const DownloadStop& stop = {},
                                     uint32_t stall_ms = kDownloadStallMs);

  // One GET of bytes `first` to `last` (both included) of a file of `total` bytes,
  // written through `sink` at their own offsets and never past `last`. Only a reply
  // PlanRangeReply takes is read; a body longer than the range fails too (both with
  // DownloadFailure::Ranges). `progress` gets (bytes of the range received, its
  // length). Whatever arrived is written when the call returns, so a later call can
  // ask for the rest.
  static DownloadResult DownloadRange(const std::wstring& url, int64_t first, int64_t last, int64_t total,
                                      RangeSink& sink, const DownloadProgress& progress, const DownloadStop& stop = {},
                                      uint32_t stall_ms = kDownloadStallMs);
};
