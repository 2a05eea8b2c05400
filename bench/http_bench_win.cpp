// Timing helper for bench/run: one measurement per invocation, results as
// "key=value" lines on stdout.
//   http_bench md5 PATH                 FileMd5 of PATH
//   http_bench download URL DEST        HttpClient::DownloadFile, with a progress callback
//   http_bench bare URL                 a bare WinHTTP read loop that keeps nothing
//   http_bench bare-write URL DEST      the same loop writing each piece to DEST
//   http_bench many URL DEST N T        N downloads of URL (a small file) into DEST, over T threads
//   http_bench fetch URL DEST SIZE [MD5 [PIECE_KIB [CONNECTIONS]]]
//                                       FileFetch of one file as an update run fetches it (a big one in
//                                       pieces, resumed from its part), checked against MD5 when given
#include <windows.h>
// These need windows.h first.
#include <psapi.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/file_digest.h"
#include "net/http_client.h"
#include "net/http_url.h"
#include "net/winhttp_handle_win.h"
#include "update/file_fetch.h"
#include "update/updater_backend.h"

namespace {

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// User plus kernel time of this process so far, in seconds.
double CpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  const auto ticks = [](const FILETIME& t) {
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) / 1e7;
}

struct Memory {
  uint64_t working_set = 0;
  uint64_t peak_working_set = 0;
};

Memory ProcessMemory() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  Memory memory;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    memory.working_set = counters.WorkingSetSize;
    memory.peak_working_set = counters.PeakWorkingSetSize;
  }
  return memory;
}

void PrintMemory(const Memory& before, const Memory& after) {
  std::printf("working_set_before=%llu\npeak_working_set_after=%llu\npeak_growth=%lld\n",
              static_cast<unsigned long long>(before.working_set),
              static_cast<unsigned long long>(after.peak_working_set),
              static_cast<long long>(after.peak_working_set) - static_cast<long long>(before.working_set));
}

class OutFile {
 public:
  explicit OutFile(const std::wstring& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr)) {}
  ~OutFile() {
    if (valid()) CloseHandle(handle_);
  }
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Write(const char* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(handle_, data, size, &written, nullptr) && written == size;
  }

 private:
  HANDLE handle_;
};

int RunMd5(const std::wstring& path) {
  const double start = Now();
  const std::string digest = FileMd5(path);
  std::printf("seconds=%.3f\nmd5=%s\n", Now() - start, digest.c_str());
  return 0;
}

int RunDownload(const std::wstring& url, const std::wstring& dest) {
  const Memory before = ProcessMemory();
  int64_t last_done = 0;
  int64_t calls = 0;
  std::string error;
  const double cpu_start = CpuSeconds();
  const double start = Now();
  const DownloadResult result = HttpClient::DownloadFile(url, dest, 0, [&](int64_t done, int64_t) {
    last_done = done;
    ++calls;
  });
  const bool ok = result.ok;
  error = result.error;
  const double seconds = Now() - start;
  const double cpu = CpuSeconds() - cpu_start;
  const Memory after = ProcessMemory();
  std::printf("ok=%d\nerror=%s\nseconds=%.3f\ncpu_seconds=%.3f\nbytes=%lld\nprogress_calls=%lld\n", ok ? 1 : 0,
              error.c_str(), seconds, cpu, static_cast<long long>(last_done), static_cast<long long>(calls));
  PrintMemory(before, after);
  return ok ? 0 : 1;
}

// The least a WinHTTP client can do: one session, one request, read until the end.
int RunBare(const std::wstring& url, const std::wstring* dest) {
  UrlParts parts;
  if (!SplitUrl(url, parts)) return 2;
  std::unique_ptr<OutFile> file;
  if (dest) {
    file = std::make_unique<OutFile>(*dest);
    if (!file->valid()) return 2;
  }
  const Memory before = ProcessMemory();
  const double cpu_start = CpuSeconds();
  const double start = Now();
  WinHttpRequestHandles h;
  h.session = WinHttpHandle(WinHttpOpen(L"OstrelLauncher/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0));
  h.connection = WinHttpHandle(WinHttpConnect(h.session.get(), parts.host.c_str(), parts.port, 0));
  h.request =
      WinHttpHandle(WinHttpOpenRequest(h.connection.get(), L"GET", parts.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES, parts.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!h.request ||
      !WinHttpSendRequest(h.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(h.request.get(), nullptr)) {
    return 1;
  }
  std::vector<char> buffer(65536);
  int64_t total = 0;
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(h.request.get(), &available) || available == 0) break;
    DWORD read = 0;
    if (!WinHttpReadData(h.request.get(), buffer.data(), std::min<DWORD>(available, 65536), &read) || read == 0) break;
    if (file && !file->Write(buffer.data(), read)) return 1;
    total += read;
  }
  const double seconds = Now() - start;
  const double cpu = CpuSeconds() - cpu_start;
  const Memory after = ProcessMemory();
  std::printf("ok=1\nseconds=%.3f\ncpu_seconds=%.3f\nbytes=%lld\n", seconds, cpu, static_cast<long long>(total));
  PrintMemory(before, after);
  return 0;
}

// Counts what a fetch tells: the bytes held at its start, the last count, the reports.
class CountingReport : public FetchReport {
 public:
  void Begin(size_t, int64_t held) override { held_ = held; }
  void Bytes(size_t, int64_t bytes) override {
    last_ = bytes;
    ++calls_;
  }
  void End(size_t) override {}
  int64_t held_ = 0, last_ = 0, calls_ = 0;
};

int RunFetch(const std::wstring& url, const std::wstring& dest, int64_t size, const std::string& md5, int piece_kib,
             int connections) {
  FetchTuning tuning;
  if (piece_kib > 0) tuning.smallest_piece = tuning.largest_piece = int64_t{piece_kib} << 10;
  if (connections > 0) tuning.connections = static_cast<size_t>(connections);
  const std::shared_ptr<UpdaterBackend> backend = MakeSystemUpdaterBackend();
  const std::atomic<bool> cancelled{false};
  const Memory before = ProcessMemory();
  const double cpu_start = CpuSeconds();
  const double start = Now();
  FileFetch fetch(*backend, {{"bench", url, dest, size, md5, ""}}, tuning, cancelled);
  CountingReport report;
  report.held_ = fetch.Held(0);
  FetchFailure failure;
  const bool ok = fetch.Run({0}, report, failure);
  const double seconds = Now() - start;
  const double cpu = CpuSeconds() - cpu_start;
  const Memory after = ProcessMemory();
  std::printf("ok=%d\nerror=%s\nseconds=%.3f\ncpu_seconds=%.3f\nheld=%lld\nfetched=%lld\nprogress_calls=%lld\n",
              ok ? 1 : 0, failure.error.c_str(), seconds, cpu, static_cast<long long>(report.held_),
              static_cast<long long>(size - report.held_), static_cast<long long>(report.calls_));
  PrintMemory(before, after);
  return ok ? 0 : 1;
}

}  // namespace

// The fixed cost of one file: N downloads of one small file, T at a time.
int RunMany(const std::wstring& url, const std::wstring& dest, int count, int threads) {
  std::atomic<int> next{0}, failed{0};
  const double start = Now();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      const std::wstring path = dest + L"." + std::to_wstring(t);
      while (next++ < count) {
        if (!HttpClient::DownloadFile(url, path, 0, DownloadProgress()).ok) ++failed;
      }
    });
  }
  for (std::thread& w : workers) w.join();
  const double seconds = Now() - start;
  std::printf("seconds=%.3f\nper_file_ms=%.2f\nfailed=%d\n", seconds, seconds * 1000 / count, failed.load());
  return failed == 0 ? 0 : 1;
}

int wmain(int argc, wchar_t** argv) {
  try {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"md5" && argc == 3) return RunMd5(argv[2]);
    if (mode == L"download" && argc == 4) return RunDownload(argv[2], argv[3]);
    if (mode == L"bare" && argc == 3) return RunBare(argv[2], nullptr);
    if (mode == L"many" && argc == 6) return RunMany(argv[2], argv[3], _wtoi(argv[4]), _wtoi(argv[5]));
    if (mode == L"fetch" && argc >= 5 && argc <= 8) {
      std::string md5;
      for (const wchar_t* c = argc > 5 ? argv[5] : L""; *c; ++c) md5 += static_cast<char>(*c);
      return RunFetch(argv[2], argv[3], _wtoi64(argv[4]), md5, argc > 6 ? _wtoi(argv[6]) : 0,
                      argc > 7 ? _wtoi(argv[7]) : 0);
    }
    if (mode == L"bare-write" && argc == 4) {
      const std::wstring dest = argv[3];
      return RunBare(argv[2], &dest);
    }
    std::fprintf(stderr,
                 "usage: http_bench md5 PATH | download URL DEST | bare URL | bare-write URL DEST | many URL DEST N T"
                 " | fetch URL DEST SIZE [MD5 [PIECE_KIB [CONNECTIONS]]]\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }
}
