// Verifies a client folder against a manifest the way the launcher does (the
// real update run: file checks with MD5 over every file) and prints the time.
//   verify_bench <manifest.json> <client folder> [--threads N] [--log FILE] [--record FILE [--full]] [--update]
// prints "verify_seconds=<s> files=<n> downloads=<n> private_bytes_before=<n> peak_private_bytes=<n>
// result=<Done|Error...>": private bytes before the run and their peak during it (sampled every 10 ms).
// --threads sets how many files are checked at once (default: the launcher's
// own choice); --log writes launcher.log lines to FILE as the launcher does;
// --record keeps the record of verified files in FILE as the launcher keeps
// launcher_cache\verified.dat (--full: a "Check all files" run); --update lets the
// run fetch what is missing or wrong (bench/patch_update.py) instead of failing on it.
//
//   verify_bench profile <manifest.json> <client folder> <log file>
// times, per file of the manifest, each piece of work a check and its report
// are made of, one piece at a time over all files, and prints "<piece>_us=<µs>".
#include <windows.h>
// These need windows.h first.
#include <bcrypt.h>
#include <psapi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "data/manifest.h"
#include "log/log.h"
#include "net/file_digest.h"
#include "update/updater.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

size_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof counters)) {
    return 0;
  }
  // PagefileUsage is the private commit charge on Windows; Wine fills it (not PrivateUsage).
  return std::max<size_t>(counters.PrivateUsage, counters.PagefileUsage);
}

// The highest private byte count seen while it lives, sampled every 10 ms.
class PeakPrivateBytes {
 public:
  PeakPrivateBytes()
      : sampler_([this] {
          while (!stop_) {
            peak_ = std::max(peak_.load(), PrivateBytes());
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
        }) {}
  ~PeakPrivateBytes() { Stop(); }
  size_t Stop() {
    stop_ = true;
    if (sampler_.joinable()) sampler_.join();
    return std::max(peak_.load(), PrivateBytes());
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<size_t> peak_{0};
  std::thread sampler_;
};

bool LoadManifest(const wchar_t* path, Manifest& manifest) {
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string error;
  if (!ParseManifest(text, manifest, error)) {
    std::fprintf(stderr, "manifest: %s\n", error.c_str());
    return false;
  }
  return true;
}

int Verify(const Manifest& manifest, const std::wstring& client, int threads, const std::wstring& record, bool full,
           bool update) {
  UpdaterProgress last;
  int downloads = 0;
  auto updater = std::make_shared<Updater>(client, MakeSystemUpdaterBackend(), threads);
  if (!record.empty()) updater->UseRecord(record, full);
  const size_t before = PrivateBytes();
  PeakPrivateBytes peak;
  const auto start = std::chrono::steady_clock::now();
  updater->Run(manifest, [&](const UpdaterProgress& p) {
    last = p;
    if (p.phase == UpdaterPhase::Downloading) ++downloads;
  });
  const double seconds = Seconds(start);
  std::printf("verify_seconds=%.3f files=%zu downloads=%d private_bytes_before=%zu peak_private_bytes=%zu result=%s\n",
              seconds, manifest.game_files.size(), downloads, before, peak.Stop(),
              last.phase == UpdaterPhase::Done ? "Done" : ("Error: " + last.error).c_str());
  return last.phase == UpdaterPhase::Done && (update || downloads == 0) ? 0 : 1;
}

// A window on a thread of its own that paints a little on each WM_PAINT, as
// the launcher's window does, so that InvalidateRect costs what it costs there.
// The thread is left to the end of the process (under Wine, joining it after
// the window was closed from this thread hung now and then).
HWND StartPaintingWindow() {
  std::atomic<HWND> window{nullptr};
  std::atomic<bool> made{false};
  std::thread([&window, &made] {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = [](HWND hwnd, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
      if (msg != WM_PAINT) return DefWindowProcW(hwnd, msg, w, l);
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      EndPaint(hwnd, &ps);
      return 0;
    };
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VerifyBenchPaint";
    RegisterClassW(&wc);
    window = CreateWindowExW(0, wc.lpszClassName, L"bench", WS_POPUP | WS_VISIBLE, 0, 0, 1280, 720, nullptr, nullptr,
                             wc.hInstance, nullptr);
    made = true;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  }).detach();
  while (!made) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return window;
}

int Profile(const Manifest& manifest, const std::wstring& client, const std::wstring& log_file) {
  std::vector<std::wstring> targets;
  for (const GameFile& entry : manifest.game_files) targets.push_back(ClientTargetPath(client, entry.path));
  const double files = static_cast<double>(targets.size());
  const auto piece = [&](const char* name, const std::function<void(size_t)>& work) {
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < targets.size(); ++i) work(i);
    std::printf("%s_us=%.1f\n", name, Seconds(start) * 1e6 / files);
    std::fflush(stdout);
  };
  const auto open = [](const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  };
  DigestBuffer buffer(1 << 20);

  piece("attributes", [&](size_t i) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    GetFileAttributesExW(targets[i].c_str(), GetFileExInfoStandard, &data);
  });
  piece("open_close", [&](size_t i) { CloseHandle(open(targets[i])); });
  piece("open_read_close", [&](size_t i) {
    HANDLE file = open(targets[i]);
    DWORD read = 0;
    while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read > 0) {
    }
    CloseHandle(file);
  });
  piece("md5_provider_open_close", [&](size_t) {
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCryptOpenAlgorithmProvider(&provider, BCRYPT_MD5_ALGORITHM, nullptr, 0);
    BCryptCloseAlgorithmProvider(provider, 0);
  });
  BCRYPT_ALG_HANDLE provider = nullptr;
  BCryptOpenAlgorithmProvider(&provider, BCRYPT_MD5_ALGORITHM, nullptr, 0);
  piece("md5_hash_of_16_bytes", [&](size_t) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0);
    BCryptHashData(hash, buffer.data(), 16, 0);
    UCHAR digest[16];
    BCryptFinishHash(hash, digest, sizeof digest, 0);
    BCryptDestroyHash(hash);
  });
  BCryptCloseAlgorithmProvider(provider, 0);
  piece("file_md5", [&](size_t i) { DigestFile(targets[i], true, false, buffer, nullptr); });
  piece("check_file", [&](size_t i) {
    const GameFile& entry = manifest.game_files[i];
    CheckFile(targets[i], entry.size, entry.md5, entry.sha256, buffer, nullptr);
  });
  piece("debugger_line", [&](size_t i) { OutputDebugStringW((L"[INFO] OK: " + targets[i] + L"\n").c_str()); });
  {
    std::FILE* file = _wfopen((log_file + L".plain").c_str(), L"ab");
    piece("file_line_flushed", [&](size_t i) {
      const std::string line = "[2026-01-01 00:00:00] [INFO] OK: " + manifest.game_files[i].path + "\r\n";
      std::fwrite(line.data(), 1, line.size(), file);
      std::fflush(file);
    });
    std::fclose(file);
    DeleteFileW((log_file + L".plain").c_str());
  }
  Log::Init(log_file);
  piece("log_info", [&](size_t i) { Log::Info(L"OK: " + Widen(manifest.game_files[i].path)); });
  {
    std::mutex mutex;
    UpdaterProgress shared, record;
    record.count = static_cast<int32_t>(targets.size());
    piece("report_copy", [&](size_t i) {
      record.index = static_cast<int32_t>(i + 1);
      record.file = manifest.game_files[i].path;
      std::lock_guard<std::mutex> lock(mutex);
      shared = record;
    });
  }
  const HWND window = StartPaintingWindow();
  piece("invalidate_rect", [&](size_t) { InvalidateRect(window, nullptr, FALSE); });
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool profile = argc == 5 && std::wstring(argv[1]) == L"profile";
  const int first = profile ? 2 : 1;
  if (argc < first + 2) {
    std::fprintf(stderr,
                 "usage: verify_bench <manifest.json> <client folder> [--threads N] [--log FILE]\n"
                 "       verify_bench profile <manifest.json> <client folder> <log file>\n");
    return 2;
  }
  Manifest manifest;
  if (!LoadManifest(argv[first], manifest)) return 1;
  if (profile) return Profile(manifest, argv[first + 1], argv[first + 2]);

  int threads = 0;
  std::wstring record;
  bool full = false, update = false;
  for (int i = 3; i < argc; ++i) {
    const std::wstring option = argv[i];
    if (option == L"--full") full = true;
    if (option == L"--update") update = true;
    if (i + 1 == argc) break;
    if (option == L"--threads") threads = _wtoi(argv[++i]);
    if (option == L"--log") Log::Init(argv[++i]);
    if (option == L"--record") record = argv[++i];
  }
  return Verify(manifest, argv[2], threads, record, full, update);
}
