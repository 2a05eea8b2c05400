// The realm's news: the document served at /launcher/api/news.php, a JSON
// array of {"date", "title", "body"} objects, read into wide texts.
#pragma once

#include <string>
#include <vector>

struct NewsItem {
  std::wstring date;   // free text, shown as the server writes it
  std::wstring title;  // headline
  std::wstring body;   // short text under the headline
};

// A news text: UTF-8 when the bytes are valid UTF-8 (what a server sending
// accented letters means), else each byte widened to one unit (older
// Latin-1 documents keep their letters that way too).
std::wstring DecodeNewsText(const std::string& bytes);

// Reads a news document. A root that is not an array gives no entries; an
// element that is not an object gives an entry of three empty texts; a missing
// or non-string member gives an empty text. Malformed JSON throws
// std::runtime_error with the parser's message.
std::vector<NewsItem> ParseNews(const std::string& body);
