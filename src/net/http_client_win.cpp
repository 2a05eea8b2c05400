#include "net/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "log/log.h"
#include "log/log_format.h"
#include "net/http_download_plan.h"
#include "net/http_url.h"
#include "net/winhttp_handle_win.h"

namespace {

constexpr const wchar_t* kUserAgent = L"OstrelLauncher/1.0";
constexpr DWORD kDownloadBufferBytes = 65536;

enum class OpenFailure { None, Session, Connect, Request, Send };

// The WinHTTP call that failed and the system error code it left, so that a
// request that got no reply can say why in the log.
struct CallFailure {
  const wchar_t* call = nullptr;
  DWORD code = 0;
};

// Call right after the failing call, before anything else can change the last error.
void Record(CallFailure& failure, const wchar_t* call) {
  failure.call = call;
  failure.code = GetLastError();
}

// Logs the failing call next to the caller's own line (which keeps its short text).
// A TLS failure is an ERROR: it is either an attack or a server that needs mending.
void LogFailure(const CallFailure& failure, const std::wstring& url) {
  const std::wstring line =
      std::wstring(failure.call) + L" failed: " + std::to_wstring(failure.code) + L" (" + url + L")";
  if (ClassifyTlsError(failure.code) == TlsFailure::None) {
    Log::Warn(line);
  } else {
    Log::Error(L"TLS failure: " + line);
  }
}

// The short text of a request that got no reply: a TLS failure's own, else `plain`.
const char* NoReplyText(const CallFailure& failure, const char* plain) {
  const char* tls = TlsFailureText(ClassifyTlsError(failure.code));
  return tls ? tls : plain;
}

// The process's one session. WinHTTP keeps the connections of a session open
// between requests and hands them to the next request for the same host, so
// a run of many small files pays for one connect, not one per file. The
// handle lives until the process ends; one that failed to open is tried again.
HINTERNET Session(CallFailure& failure) {
  static std::mutex mutex;
  static WinHttpHandle session;
  std::lock_guard<std::mutex> lock(mutex);
  if (!session) {
    session = WinHttpHandle(
        WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) Record(failure, L"WinHttpOpen");
  }
  return session.get();
}

// The connection and request handles of one request on the shared session.
// Members are destroyed in reverse order: the request closes first.
struct RequestHandles {
  WinHttpHandle connection;
  WinHttpHandle request;
};

OpenFailure OpenGetRequest(const UrlParts& url, RequestHandles& h, CallFailure& failure) {
  const HINTERNET session = Session(failure);
  if (!session) return OpenFailure::Session;
  h.connection = WinHttpHandle(WinHttpConnect(session, url.host.c_str(), url.port, 0));
  if (!h.connection) {
    Record(failure, L"WinHttpConnect");
    return OpenFailure::Connect;
  }
  h.request =
      WinHttpHandle(WinHttpOpenRequest(h.connection.get(), L"GET", url.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES, url.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!h.request) {
    Record(failure, L"WinHttpOpenRequest");
    return OpenFailure::Request;
  }
  // Never from https down to http; WinHTTP's default already, stated so that
  // no default elsewhere can weaken it. A refused redirect fails the request.
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  WinHttpSetOption(h.request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
  return OpenFailure::None;
}

// The time-out bounds the wait for the reply's headers as well as for each piece
// of the body; Wine applies the receive time-out to the body only.
void SetReceiveTimeout(HINTERNET request, DWORD timeout) {
  WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
  WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &timeout, sizeof timeout);
}

bool SendAndReceive(HINTERNET request, CallFailure& failure) {
  if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
    Record(failure, L"WinHttpSendRequest");
    return false;
  }
  if (!WinHttpReceiveResponse(request, nullptr)) {
    Record(failure, L"WinHttpReceiveResponse");
    return false;
  }
  return true;
}

// A kept connection the server closed meanwhile fails the request that uses it
// before any reply: a fresh connection is tried once then.
bool DroppedConnection(const CallFailure& failure) {
  return failure.code == ERROR_WINHTTP_INVALID_SERVER_RESPONSE || failure.code == ERROR_WINHTTP_CONNECTION_ERROR;
}

// Opens a GET of `url` (with the request header `range` unless empty) and waits for the reply's headers.
OpenFailure Send(const UrlParts& url, DWORD timeout, const std::wstring& range, RequestHandles& h,
                 CallFailure& failure) {
  for (int attempt = 0;; ++attempt) {
    const OpenFailure open = OpenGetRequest(url, h, failure);
    if (open != OpenFailure::None) return open;
    SetReceiveTimeout(h.request.get(), timeout);
    if (!range.empty()) {
      WinHttpAddRequestHeaders(h.request.get(), range.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD);
    }
    if (SendAndReceive(h.request.get(), failure)) return OpenFailure::None;
    if (attempt > 0 || !DroppedConnection(failure)) return OpenFailure::Send;
  }
}

DWORD QueryStatus(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &status, &size, WINHTTP_NO_HEADER_INDEX);
  return status;
}

// A header's text, or nothing when the reply has none (or it does not fit 128 bytes,
// far more than any length or range needs).
std::optional<std::wstring> QueryHeaderText(HINTERNET request, DWORD query) {
  wchar_t buffer[64] = {};
  DWORD size = sizeof buffer;
  if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, buffer, &size, WINHTTP_NO_HEADER_INDEX)) {
    return std::nullopt;
  }
  return std::wstring(buffer, size / sizeof(wchar_t));
}

int64_t AnnouncedLength(HINTERNET request) {
  int64_t length = -1;
  const auto text = QueryHeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH);
  if (!text || !ParseContentLength(*text, length)) return -1;
  return length;
}

// Opens the target either from empty or positioned after the bytes already there.
UniqueHandle OpenDestination(const std::wstring& path, bool append) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.valid() && append) {
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(file.get(), zero, nullptr, FILE_END)) file.Close();
  }
  return file;
}

// False with the system's error code when the bytes could not all be written.
bool WriteAll(HANDLE file, const char* data, DWORD size, DWORD& code) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(file, data, size, &written, nullptr) || written == 0) {
      code = GetLastError();
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

DownloadResult Failed(DownloadFailure failure, std::string error) {
  DownloadResult result;
  result.failure = failure;
  result.error = std::move(error);
  return result;
}

DownloadResult WriteFailed(DWORD code, const std::wstring& path) {
  return WriteFailure(code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL, NarrowLogText(path));
}

// A download request that got no reply: logged, and its kind for the retry.
DownloadResult NoReply(const CallFailure& failure, const std::wstring& url) {
  LogFailure(failure, url);
  const TlsFailure tls = ClassifyTlsError(failure.code);
  return Failed(tls == TlsFailure::None ? DownloadFailure::Network : DownloadFailure::Tls,
                NoReplyText(failure, kRequestSendFailed));
}

// A reply that is not taken, with what a retry needs to know of it.
DownloadResult Refused(HINTERNET request, DWORD status, DownloadFailure failure, const std::string& error) {
  DownloadResult refused = Failed(failure, error);
  refused.status = status;
  if (const auto after = QueryHeaderText(request, WINHTTP_QUERY_RETRY_AFTER))
    refused.retry_after_s = ParseRetryAfter(*after);
  return refused;
}

// How reading a body ended.
struct BodyEnd {
  int64_t received = 0;
  bool read_failed = false;
  bool stopped = false;
  bool too_long = false;  // more came than the limit
  bool write_failed = false;
};

// Reads a body, at most `limit` bytes of it (-1: no limit). Pieces are gathered in
// the one buffer and handed to `write` when it is full and at the end, also after a
// failure, so what arrived is kept: WinHTTP hands out small pieces (at most 8 KiB
// under Wine, where a 1 GiB file written in 8 KiB pieces takes 1.0 s against 0.4 s
// in 64 KiB ones). `received` is told the count after every piece; whatever it has
// been told is written when the call returns (unless a write failed).
BodyEnd ReadBody(HINTERNET request, int64_t limit, const std::function<bool(const char*, DWORD)>& write,
                 const std::function<void(int64_t)>& received, const DownloadStop& stop) {
  std::vector<char> buffer(kDownloadBufferBytes);
  DWORD filled = 0;
  const auto flush = [&] {
    const bool written = filled == 0 || write(buffer.data(), filled);
    filled = 0;
    return written;
  };
  BodyEnd end;
  for (;;) {
    if (stop && stop()) {
      end.stopped = true;
      break;
    }
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) {
      end.read_failed = true;
      break;
    }
    if (available == 0) break;
    DWORD want = std::min(available, kDownloadBufferBytes - filled);
    if (limit >= 0) {
      if (end.received == limit) {
        end.too_long = true;
        break;
      }
      want = static_cast<DWORD>(std::min<int64_t>(want, limit - end.received));
    }
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer.data() + filled, want, &read)) {
      end.read_failed = true;
      break;
    }
    if (read == 0) break;
    filled += read;
    end.received += read;
    if (filled == kDownloadBufferBytes && !flush()) {
      end.write_failed = true;
      return end;
    }
    if (received) received(end.received);
  }
  end.write_failed = !flush();
  return end;
}

}  // namespace

HttpResponse HttpClient::Get(const std::wstring& url, uint32_t receive_timeout_ms, uint64_t max_bytes) {
  HttpResponse response;
  UrlParts parts;
  if (!SplitUrl(url, parts)) {
    response.error = kInvalidUrl;
    return response;
  }
  RequestHandles h;
  CallFailure failure;
  const OpenFailure open = Send(parts, receive_timeout_ms, L"", h, failure);
  if (open != OpenFailure::None) LogFailure(failure, url);
  switch (open) {
    case OpenFailure::Session: response.error = kSessionFailed; return response;
    case OpenFailure::Connect: response.error = kConnectFailed; return response;
    case OpenFailure::Request: response.error = kOpenRequestFailed; return response;
    case OpenFailure::Send:
      response.tls = ClassifyTlsError(failure.code);
      response.error = NoReplyText(failure, kRequestFailed);
      return response;
    case OpenFailure::None: break;
  }
  response.status = QueryStatus(h.request.get());
  const int64_t announced = AnnouncedLength(h.request.get());
  // A reply past its bound is not read at all when it says so, and not kept when it
  // does not: memory stays flat whatever the server sends.
  if (announced >= 0 && static_cast<uint64_t>(announced) > max_bytes) {
    response.error = ReplyTooLargeError(max_bytes);
    response.refused = true;
    return response;
  }

  bool read_failed = false;
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(h.request.get(), &available)) {
      read_failed = true;
      break;
    }
    if (available == 0) break;
    if (response.body.size() + available > max_bytes) {
      response.body.clear();
      response.body.shrink_to_fit();
      response.error = ReplyTooLargeError(max_bytes);
      response.refused = true;
      return response;
    }
    const size_t old_size = response.body.size();
    response.body.resize(old_size + available);
    DWORD read = 0;
    const BOOL read_ok = WinHttpReadData(h.request.get(), &response.body[old_size], available, &read);
    response.body.resize(old_size + (read_ok ? read : 0));
    if (!read_ok) {
      read_failed = true;
      break;
    }
    if (read == 0) break;
  }
  // A cut-off document (a manifest missing its tail) must not pass for the whole one.
  response.error = BodyEndError("Reply", 0, static_cast<int64_t>(response.body.size()), announced, read_failed);
  response.ok = response.status == 200 && response.error.empty();
  return response;
}

DownloadResult HttpClient::DownloadFile(const std::wstring& url, const std::wstring& dest_path, int64_t resume_offset,
                                        const DownloadProgress& progress, const DownloadStop& stop, uint32_t stall_ms) {
  UrlParts parts;
  if (!SplitUrl(url, parts)) return Failed(DownloadFailure::Local, kInvalidUrl);
  RequestHandles h;
  CallFailure failure;
  const std::wstring range = resume_offset > 0 ? RangeHeader(resume_offset) : L"";
  if (Send(parts, stall_ms, range, h, failure) != OpenFailure::None) return NoReply(failure, url);

  const DWORD status = QueryStatus(h.request.get());
  const DownloadStart start =
      PlanDownload(status, resume_offset, QueryHeaderText(h.request.get(), WINHTTP_QUERY_CONTENT_LENGTH),
                   QueryHeaderText(h.request.get(), WINHTTP_QUERY_CONTENT_RANGE));
  if (!start.accepted) return Refused(h.request.get(), status, DownloadFailure::Status, start.error);

  // Declared after the request handles, so it is closed before them.
  UniqueHandle file = OpenDestination(dest_path, start.append);
  if (!file.valid()) {
    const DWORD code = GetLastError();
    return code == ERROR_DISK_FULL ? WriteFailed(code, dest_path) : Failed(DownloadFailure::Local, kCannotOpenDest);
  }
  DWORD write_error = 0;
  const BodyEnd end = ReadBody(
      h.request.get(), -1, [&](const char* data, DWORD size) { return WriteAll(file.get(), data, size, write_error); },
      [&](int64_t received) {
        if (progress) progress(start.bytes_so_far + received, start.total);
      },
      stop);
  if (end.write_failed) return WriteFailed(write_error, dest_path);
  file.Close();
  if (end.stopped) return Failed(DownloadFailure::Local, kDownloadCancelled);

  // What arrived stays on disk: the next attempt resumes from it.
  const std::string error =
      BodyEndError("Download", start.bytes_so_far, end.received, start.body_length, end.read_failed);
  if (!error.empty()) return Failed(DownloadFailure::Network, error);
  DownloadResult whole;
  whole.ok = true;
  return whole;
}

DownloadResult HttpClient::DownloadRange(const std::wstring& url, int64_t first, int64_t last, int64_t total,
                                         RangeSink& sink, const DownloadProgress& progress, const DownloadStop& stop,
                                         uint32_t stall_ms) {
  UrlParts parts;
  if (!SplitUrl(url, parts)) return Failed(DownloadFailure::Local, kInvalidUrl);
  RequestHandles h;
  CallFailure failure;
  if (Send(parts, stall_ms, RangeHeader(first, last), h, failure) != OpenFailure::None) return NoReply(failure, url);

  const DWORD status = QueryStatus(h.request.get());
  const RangeStart start =
      PlanRangeReply(status, first, last, total, QueryHeaderText(h.request.get(), WINHTTP_QUERY_CONTENT_LENGTH),
                     QueryHeaderText(h.request.get(), WINHTTP_QUERY_CONTENT_RANGE));
  if (!start.accepted) return Refused(h.request.get(), status, start.failure, start.error);

  const int64_t length = last - first + 1;
  int64_t written = 0;
  DownloadResult write_failure;
  const BodyEnd end = ReadBody(
      h.request.get(), length,
      [&](const char* data, DWORD size) {
        if (!sink.WriteAt(first + written, data, size, write_failure)) return false;
        written += size;
        return true;
      },
      [&](int64_t received) {
        if (progress) progress(received, length);
      },
      stop);
  if (end.write_failed) return write_failure;
  if (end.stopped) return Failed(DownloadFailure::Local, kDownloadCancelled);
  if (end.too_long)
    return Failed(DownloadFailure::Ranges, "Server sent more than the " + std::to_string(length) + " bytes asked");
  const std::string error = BodyEndError("Download", first, end.received, length, end.read_failed);
  if (!error.empty()) return Failed(DownloadFailure::Network, error);
  DownloadResult whole;
  whole.ok = true;
  return whole;
}
