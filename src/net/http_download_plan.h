// The decisions of an HTTP download that need no network: what to ask for, whether
// a reply can be taken, where writing starts, and whether the body was complete.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Failure texts of HttpClient.
constexpr const char* kInvalidUrl = "Invalid URL";
constexpr const char* kSessionFailed = "WinHttpOpen failed";
constexpr const char* kConnectFailed = "WinHttpConnect failed";
constexpr const char* kOpenRequestFailed = "WinHttpOpenRequest failed";
constexpr const char* kRequestFailed = "Request failed";
constexpr const char* kRequestSendFailed = "Request send failed";
constexpr const char* kCannotOpenDest = "Cannot open dest file";
constexpr const char* kCannotWriteDest = "Cannot write dest file";
constexpr const char* kDownloadCancelled = "Cancelled";

// What kind of trouble ended a download, for the decision to try again.
enum class DownloadFailure {
  None,      // the whole body arrived
  Network,   // no reply (connect, send, receive, time-out) or a body cut short
  Status,    // a reply that cannot be taken (its status, a wrong range)
  DiskFull,  // the volume has no room for the bytes
  Tls,       // no trusted secure connection came about: trying again does not mend a certificate
  Local,     // anything else on this side (a bad address, a file that cannot be opened or written)
  Ranges,    // a reply to a range request that does not fit it: the file must come over one connection
};

struct DownloadResult {
  bool ok = false;
  std::string error;  // why not, when not ok
  DownloadFailure failure = DownloadFailure::None;
  uint32_t status = 0;         // the refused reply's status
  int64_t retry_after_s = -1;  // its Retry-After in seconds, -1 when none (or a date)
};

// A write of downloaded bytes that failed: for lack of space (its text names
// `path`, as the player needs to hear it) or otherwise (kCannotWriteDest).
DownloadResult WriteFailure(bool disk_full, const std::string& path);

// The pauses before the automatic retries of one file, in seconds.
struct RetryPauses {
  double seconds[3] = {2, 8, 30};
};
constexpr int kDownloadRetries = 3;
constexpr int64_t kLongestRetryAfter = 60;

// The pause before retry number `retry` (1 for the first) after `result`, or
// -1 when it is not retried: network trouble, 5xx, 408 and 429 are (a server's
// Retry-After, capped at a minute, replaces the planned pause); other replies,
// a full disk, TLS failures and local faults are not.
double RetryPause(const DownloadResult& result, int retry, const RetryPauses& pauses);

// "reply larger than 1 MiB": a bounded reply that went past its bound.
std::string ReplyTooLargeError(uint64_t max_bytes);

// A Retry-After value in seconds; -1 for a date or anything else.
int64_t ParseRetryAfter(const std::wstring& text);

// A request that got no reply because no trusted secure connection came about.
// They reach the player as they are (the status line, an update run's error).
constexpr const char* kCertificateNotTrusted = "Update server certificate not trusted.";
constexpr const char* kSecureConnectionFailed = "Secure connection to the update server failed.";

// What a WinHTTP error code says about TLS. Certificate: the server's certificate
// was refused (issuer not trusted, another name, expired, revoked, wrong use).
// Channel: no secure connection came about for another reason (handshake,
// protocol); Wine reports refused certificates this way too.
enum class TlsFailure { None, Certificate, Channel };
TlsFailure ClassifyTlsError(uint32_t winhttp_error);
// The player's text for a TLS failure; nullptr for None.
const char* TlsFailureText(TlsFailure failure);

// "Range: bytes=<offset>-": the rest of the file from `offset` on.
std::wstring RangeHeader(int64_t offset);
// "Range: bytes=<first>-<last>": exactly those bytes, both included.
std::wstring RangeHeader(int64_t first, int64_t last);

// A Content-Length value: decimal digits only (surrounding blanks allowed).
bool ParseContentLength(const std::wstring& text, int64_t& length);

// A Content-Range value "bytes FIRST-LAST/COMPLETE" or "bytes FIRST-LAST/*".
struct ContentRange {
  int64_t first = 0;
  int64_t last = 0;
  int64_t complete = -1;  // -1 for "*"
};
bool ParseContentRange(const std::wstring& text, ContentRange& range);

// How a reply to a download request is taken.
struct DownloadStart {
  bool accepted = false;
  std::string error;         // why not, when not accepted
  bool append = false;       // keep the bytes on disk and write after them; otherwise write from empty
  int64_t bytes_so_far = 0;  // where progress counting starts
  int64_t total = -1;        // the complete file's size, -1 when unknown
  int64_t body_length = -1;  // body bytes announced by the reply, -1 when unknown
};

// Only 200 and 206 are taken. A 206 continues the file at `resume_offset` (and must
// start where it was asked to); a 200 is the whole file, even when a range was asked
// for, so the file is then rewritten from its start.
DownloadStart PlanDownload(uint32_t status, int64_t resume_offset, const std::optional<std::wstring>& content_length,
                           const std::optional<std::wstring>& content_range);

// How a reply to "bytes=first-last" of a file of `total` bytes is taken: only a
// 206 for exactly that range of a file of exactly that size, announcing (when it
// announces a length) the range's length. Anything else is refused, with
// `failure` Ranges for a reply that does not fit (a 200, another range, another
// total) and Status for a status that is no reply to a range at all (404, 503).
struct RangeStart {
  bool accepted = false;
  std::string error;  // why not, when not accepted
  DownloadFailure failure = DownloadFailure::None;
};
RangeStart PlanRangeReply(uint32_t status, int64_t first, int64_t last, int64_t total,
                          const std::optional<std::wstring>& content_length,
                          const std::optional<std::wstring>& content_range);

// Why a body that ended after `received` bytes is not complete, or "" when it is.
// `what` names the transfer in the text ("Download", "Reply"); `base` is the count of
// bytes that were present before this body (the resumed part), so the text counts
// bytes of the whole file.
std::string BodyEndError(const char* what, int64_t base, int64_t received, int64_t body_length, bool read_failed);
