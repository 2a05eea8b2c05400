// The news thread: fetches the realm's news once per start, keeps the reply
// in the launcher's cache folder and hands the entries to the window.
#pragma once

#include <functional>
#include <string>

#include "app/launcher_window.h"
#include "net/http_client.h"

// Fetches the news document (the Windows build: FetchNews, which bounds the
// reply and checks its signature when the build has a key).
using NewsFetch = std::function<HttpResponse()>;

// Body of the news thread. A reply that is not ok, or empty, leaves the news
// (and the cached copy) as it was, with a WARN line saying why ("News fetch
// failed or empty: <reason>", or "News not used: <reason>" for a reply the
// fetch refused); any other
// body is written to `cache_path` (replacing it; a failed write is ignored)
// and parsed; the entries replace the window's news whole, and the window is
// told. Never throws.
void RunNewsThread(LauncherWindow& window, const NewsFetch& fetch, const std::wstring& cache_path);
