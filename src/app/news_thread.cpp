#include "app/news_thread.h"

#include <exception>
#include <filesystem>
#include <fstream>
#include <utility>

#include "base/text.h"
#include "data/news.h"
#include "log/log.h"

namespace {

// The body as received, byte for byte; the launcher never reads it back.
void WriteCache(const std::wstring& path, const std::string& body) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  if (out) out.write(body.data(), static_cast<std::streamsize>(body.size()));
}

}  // namespace

void RunNewsThread(LauncherWindow& window, const NewsFetch& fetch, const std::wstring& cache_path) {
  try {
    Log::Info(L"News thread started");
    const HttpResponse reply = fetch();
    if (!reply.ok || reply.body.empty()) {
      const std::string why = reply.ok              ? "empty reply"
                              : reply.error.empty() ? "HTTP " + std::to_string(reply.status)
                                                    : reply.error;
      Log::Warn(L"News not used: " + Widen(why));
      return;
    }
    WriteCache(cache_path, reply.body);
    // Built here, swapped in whole: the user-interface thread never sees a half list.
    std::vector<NewsItem> news = ParseNews(reply.body);
    const std::size_t count = news.size();
    window.SetNews(std::move(news));
    Log::Info(L"News loaded: " + std::to_wstring(count) + L" items");
    window.NewsLoaded();
  } catch (const std::exception& e) {
    Log::Error(L"Exception in news thread: " + Widen(e.what()));
  } catch (...) {
    Log::Error(L"Unknown exception in news thread");
  }
}
