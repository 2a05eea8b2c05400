#include "app/news_thread.h"

#include <exception>
#include <utility>

#include "base/file_replace.h"
#include "base/text.h"
#include "data/news.h"
#include "log/log.h"

void RunNewsThread(LauncherWindow& window, const NewsFetch& fetch, const std::wstring& cache_path) {
  try {
    Log::Info(L"News thread started");
    const HttpResponse reply = fetch();
    if (!reply.ok || reply.body.empty()) {
      const std::string why = reply.ok              ? "empty reply"
                              : reply.error.empty() ? "HTTP " + std::to_string(reply.status)
                                                    : reply.error;
      // A reply that came whole but is refused (past its bound, or not signed
      // by the realm) is told apart from one that did not come.
      Log::Warn((reply.refused ? L"News not used: " : L"News fetch failed or empty: ") + Widen(why));
      return;
    }
    // Byte for byte as received, replaced whole (the launcher never reads it back).
    ReplaceWholeFile(cache_path, reply.body);
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
