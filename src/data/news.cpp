#include "data/news.h"

#include "base/text.h"
#include "data/json.h"

std::wstring DecodeNewsText(const std::string& bytes) {
  std::wstring text;
  // Encoded surrogates are no text a server means to send.
  if (WideFromUtf8(bytes, text, /*allow_encoded_surrogates=*/false)) return text;
  return Widen(bytes);
}

std::vector<NewsItem> ParseNews(const std::string& body) {
  const JsonValue root = ParseJson(body);
  std::vector<NewsItem> news;
  if (root.kind != JsonKind::Array) return news;
  news.reserve(root.items.size());
  for (const JsonValue& entry : root.items) {
    // A non-string member reads as empty: its `text` is empty.
    news.push_back({DecodeNewsText(entry.Get("date").text), DecodeNewsText(entry.Get("title").text),
                    DecodeNewsText(entry.Get("body").text)});
  }
  return news;
}
