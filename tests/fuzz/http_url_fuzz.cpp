// Addresses and header values come from the server (manifest URLs, reply headers):
// the splitter and the header parsers must take any text and keep their promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/http_download_plan.h"
#include "net/http_url.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring text;
  for (size_t i = 0; i < size; ++i) text += static_cast<wchar_t>(data[i]);

  UrlParts parts;
  if (SplitUrl(text, parts)) {
    Check(!parts.host.empty() && parts.host.size() < kMaxUrlHostChars);
    Check(!parts.path.empty() && parts.path[0] == L'/' && parts.path.size() < kMaxUrlPathChars);
    Check(parts.path.find(L'#') == std::wstring::npos && parts.port != 0);
    for (wchar_t c : parts.host) Check(c > L' ' && c != 0x7F && c != L'@');
  }

  int64_t length = -1;
  if (ParseContentLength(text, length)) Check(length >= 0);
  ContentRange range;
  if (ParseContentRange(text, range))
    Check(range.first >= 0 && range.last >= range.first && (range.complete == -1 || range.complete > range.last));
  const int64_t offset = size > 0 ? data[0] * 1000 : 0;
  const DownloadStart start = PlanDownload(206, offset, text, text);
  Check(start.accepted ? start.bytes_so_far == offset && (start.total == -1 || start.total >= offset)
                       : !start.error.empty());
  return 0;
}
