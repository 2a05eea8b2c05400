#include "net/http_download_plan.h"

#include <limits>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring Trimmed(const std::wstring& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Non-negative decimal number without sign, overflow refused.
bool ParseCount(const std::wstring& text, int64_t& value) {
  if (text.empty()) return false;
  int64_t result = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    const int digit = c - L'0';
    if (result > (std::numeric_limits<int64_t>::max() - digit) / 10) return false;
    result = result * 10 + digit;
  }
  value = result;
  return true;
}

// Counts near the limit only come from nonsense headers; they must not overflow.
int64_t SaturatingAdd(int64_t a, int64_t b) {
  return b > std::numeric_limits<int64_t>::max() - a ? std::numeric_limits<int64_t>::max() : a + b;
}

}  // namespace

std::wstring RangeHeader(int64_t offset) { return L"Range: bytes=" + std::to_wstring(offset) + L"-"; }

std::wstring RangeHeader(int64_t first, int64_t last) { return RangeHeader(first) + std::to_wstring(last); }

bool ParseContentLength(const std::wstring& text, int64_t& length) { return ParseCount(Trimmed(text), length); }

bool ParseContentRange(const std::wstring& text, ContentRange& range) {
  const std::wstring value = Trimmed(text);
  const std::wstring unit = L"bytes ";
  if (value.compare(0, unit.size(), unit) != 0) return false;
  const size_t dash = value.find(L'-', unit.size());
  const size_t slash = value.find(L'/', unit.size());
  if (dash == std::wstring::npos || slash == std::wstring::npos || slash < dash) return false;
  ContentRange parsed;
  if (!ParseCount(Trimmed(value.substr(unit.size(), dash - unit.size())), parsed.first)) return false;
  if (!ParseCount(value.substr(dash + 1, slash - dash - 1), parsed.last)) return false;
  const std::wstring complete = value.substr(slash + 1);
  if (complete != L"*" && !ParseCount(complete, parsed.complete)) return false;
  if (parsed.last < parsed.first) return false;
  if (parsed.complete >= 0 && parsed.last >= parsed.complete) return false;
  range = parsed;
  return true;
}

DownloadStart PlanDownload(uint32_t status, int64_t resume_offset, const std::optional<std::wstring>& content_length,
                           const std::optional<std::wstring>& content_range) {
  DownloadStart start;
  if (status != 200 && status != 206) {
    start.error = "HTTP " + std::to_string(status);
    return start;
  }
  int64_t length = -1;
  if (content_length && !ParseContentLength(*content_length, length)) length = -1;
  start.body_length = length;

  const int64_t offset = resume_offset > 0 ? resume_offset : 0;
  if (status == 200) {
    // The whole file, whatever was asked for.
    start.accepted = true;
    start.total = length;
    return start;
  }

  // 206: the body continues the file at the offset. A reply for another range would
  // splice the wrong bytes onto the file, so it is refused.
  ContentRange range;
  const bool has_range = content_range && ParseContentRange(*content_range, range);
  if (has_range && range.first != offset) {
    start.error = "Server sent bytes from " + std::to_string(range.first) + " instead of " + std::to_string(offset);
    return start;
  }
  start.accepted = true;
  start.append = offset > 0;
  start.bytes_so_far = offset;
  if (length >= 0) {
    start.total = SaturatingAdd(offset, length);
  } else if (has_range) {
    start.total = range.complete;
  }
  return start;
}

RangeStart PlanRangeReply(uint32_t status, int64_t first, int64_t last, int64_t total,
                          const std::optional<std::wstring>& content_length,
                          const std::optional<std::wstring>& content_range) {
  RangeStart start;
  const auto refuse = [&](DownloadFailure failure, std::string error) {
    start.failure = failure;
    start.error = std::move(error);
    return start;
  };
  if (status == 200) return refuse(DownloadFailure::Ranges, "Server sent the whole file instead of a range");
  if (status != 206) return refuse(DownloadFailure::Status, "HTTP " + std::to_string(status));
  const std::string asked = std::to_string(first) + "-" + std::to_string(last);
  ContentRange range;
  if (!content_range || !ParseContentRange(*content_range, range)) {
    return refuse(DownloadFailure::Ranges, "Server sent no readable Content-Range for bytes " + asked);
  }
  if (range.first != first || range.last != last) {
    return refuse(DownloadFailure::Ranges, "Server sent bytes " + std::to_string(range.first) + "-" +
                                               std::to_string(range.last) + " instead of " + asked);
  }
  if (range.complete != total) {
    return refuse(DownloadFailure::Ranges,
                  "Server gives the file " +
                      (range.complete < 0 ? std::string("no size") : std::to_string(range.complete) + " bytes") +
                      " instead of " + std::to_string(total));
  }
  int64_t length = -1;
  if (content_length && (!ParseContentLength(*content_length, length) || length != last - first + 1)) {
    return refuse(DownloadFailure::Ranges, "Server announced another length than bytes " + asked);
  }
  start.accepted = true;
  return start;
}

std::string BodyEndError(const char* what, int64_t base, int64_t received, int64_t body_length, bool read_failed) {
  const std::string got = std::to_string(SaturatingAdd(base, received));
  const std::string of = body_length >= 0 ? " of " + std::to_string(SaturatingAdd(base, body_length)) : "";
  if (read_failed) return std::string(what) + " interrupted after " + got + of + " bytes";
  if (body_length >= 0 && received < body_length)
    return std::string(what) + " incomplete: " + got + of + " bytes arrived";
  return "";
}

DownloadResult WriteFailure(bool disk_full, const std::string& path) {
  DownloadResult result;
  result.failure = disk_full ? DownloadFailure::DiskFull : DownloadFailure::Local;
  result.error = disk_full ? "Not enough disk space while writing " + path : kCannotWriteDest;
  return result;
}

double RetryPause(const DownloadResult& result, int retry, const RetryPauses& pauses) {
  if (retry < 1 || retry > kDownloadRetries) return -1;
  const double planned = pauses.seconds[retry - 1];
  switch (result.failure) {
    case DownloadFailure::Network: return planned;
    case DownloadFailure::Status: {
      const uint32_t status = result.status;
      if (status != 408 && status != 429 && (status < 500 || status > 599)) return -1;
      if (result.retry_after_s < 0) return planned;
      return static_cast<double>(result.retry_after_s < kLongestRetryAfter ? result.retry_after_s : kLongestRetryAfter);
    }
    default: return -1;
  }
}

int64_t ParseRetryAfter(const std::wstring& text) {
  int64_t seconds = -1;
  return ParseCount(Trimmed(text), seconds) ? seconds : -1;
}

std::string ReplyTooLargeError(uint64_t max_bytes) {
  const auto in = [&](uint64_t unit, const char* name) { return std::to_string(max_bytes / unit) + name; };
  const std::string size = max_bytes % (1u << 20) == 0 ? in(1u << 20, " MiB")
                           : max_bytes % 1024 == 0     ? in(1024, " KiB")
                                                       : in(1, " bytes");
  return "reply larger than " + size;
}

TlsFailure ClassifyTlsError(uint32_t winhttp_error) {
  switch (winhttp_error) {
    case 12037:  // ERROR_WINHTTP_SECURE_CERT_DATE_INVALID
    case 12038:  // ERROR_WINHTTP_SECURE_CERT_CN_INVALID
    case 12045:  // ERROR_WINHTTP_SECURE_INVALID_CA
    case 12057:  // ERROR_WINHTTP_SECURE_CERT_REV_FAILED
    case 12169:  // ERROR_WINHTTP_SECURE_INVALID_CERT
    case 12170:  // ERROR_WINHTTP_SECURE_CERT_REVOKED
    case 12175:  // ERROR_WINHTTP_SECURE_FAILURE: Windows' code for any refused certificate
    case 12179:  // ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE
      return TlsFailure::Certificate;
    case 12044:  // ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED
    case 12157:  // ERROR_WINHTTP_SECURE_CHANNEL_ERROR
      return TlsFailure::Channel;
    default: return TlsFailure::None;
  }
}

const char* TlsFailureText(TlsFailure failure) {
  switch (failure) {
    case TlsFailure::Certificate: return kCertificateNotTrusted;
    case TlsFailure::Channel: return kSecureConnectionFailed;
    case TlsFailure::None: break;
  }
  return nullptr;
}
