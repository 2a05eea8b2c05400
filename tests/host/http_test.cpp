// Addresses and reply headers from the server: how they are split, and how a
// reply to a (range) request is taken.
#include <gtest/gtest.h>

#include <cwchar>
#include <tuple>

#include "net/http_download_plan.h"
#include "net/http_url.h"

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

const std::wstring kLongestHost(kMaxUrlHostChars - 1, L'h');
const std::wstring kLongestPath = L"/" + std::wstring(kMaxUrlPathChars - 2, L'p');

// Shown as "s host port path" (s: 1 for https); the fragment never reaches the server.
TEST(SplitUrl, TakesSchemeHostPortAndPath) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"HTTPS://cdn.example.org/files/a.mpq", L"1 cdn.example.org 443 /files/a.mpq"},
      {L"http://127.0.0.1:8405/a/b.bin?cut=10&x=%20y#section", L"0 127.0.0.1 8405 /a/b.bin?cut=10&x=%20y"},
      {L"http://host#top", L"0 host 80 /"},
      {L"http://host?q=1", L"0 host 80 /?q=1"},
      {L"http://host:/x", L"0 host 80 /x"},
      {L"https://host:65535/", L"1 host 65535 /"},
      {L"http://[::1]:9000/x", L"0 ::1 9000 /x"},
      {L"http://" + kLongestHost + L"/", L"0 " + kLongestHost + L" 80 /"},
      {L"http://host" + kLongestPath, L"0 host 80 " + kLongestPath},
  };
  for (const auto& [url, shown] : cases) {
    UrlParts p;
    EXPECT_TRUE(SplitUrl(url, p)) << Narrow(url);
    EXPECT_EQ(std::to_wstring(p.secure) + L" " + p.host + L" " + std::to_wstring(p.port) + L" " + p.path, shown);
  }
}

TEST(SplitUrl, RejectsMalformedAddressesAndLeavesPartsAlone) {
  const auto rejected = [](const std::wstring& url) {
    UrlParts parts;
    parts.host = L"untouched";
    return !SplitUrl(url, parts) && parts.host == L"untouched";
  };
  for (const wchar_t* url :
       {L"", L"updates.example.org/manifest.php", L"ftp://host/x", L"http:/host/x", L"http:///path", L"http://:80/x",
        L"http://user:pw@host/x", L"http://host:0/", L"http://host:65536/", L"http://host:8a/", L"http://ho st/",
        L"http://host/a\nb", L"http://[::1/x", L"http://[::1]x/"})
    EXPECT_TRUE(rejected(url)) << Narrow(url);
  EXPECT_TRUE(rejected(L"http://" + kLongestHost + L"h/"));
  EXPECT_TRUE(rejected(L"http://host" + kLongestPath + L"p"));
}

TEST(HttpDownloadPlan, ParsesHeaderValues) {
  EXPECT_EQ(RangeHeader(5368709120), L"Range: bytes=5368709120-");  // good values are read in the plans below
  int64_t length = -7;
  for (const wchar_t* bad : {L"", L"-1", L"+5", L"12a", L"1 2", L"9223372036854775808"})
    EXPECT_FALSE(ParseContentLength(bad, length)) << Narrow(bad);

  ContentRange range;
  for (const wchar_t* bad : {L"", L"bytes */1500", L"items 0-9/10", L"bytes 9-0/10", L"bytes 0-10/10", L"bytes 0-9"})
    EXPECT_FALSE(ParseContentRange(bad, range)) << Narrow(bad);
}

// Shown as "append|write <bytes so far> <total> <body length>", or the refusal.
std::string Show(const DownloadStart& s) {
  if (!s.accepted) return "!" + s.error;
  return (s.append ? "append " : "write ") + std::to_string(s.bytes_so_far) + " " + std::to_string(s.total) + " " +
         std::to_string(s.body_length);
}

// A whole-file 200 to a range request rewrites the file from its start; a 206 for
// another range is refused; an absurd length must not overflow the total.
TEST(HttpDownloadPlan, HowAReplyIsTaken) {
  const std::optional<std::wstring> none;
  const std::tuple<uint32_t, int64_t, std::optional<std::wstring>, std::optional<std::wstring>, std::string> cases[] = {
      {404, 0, L"10", none, "!HTTP 404"},
      {416, 1000, L"10", none, "!HTTP 416"},
      {200, 0, L" 4096 ", none, "write 0 4096 4096"},
      {200, 0, L"lots", none, "write 0 -1 -1"},
      {200, 1000, L"1500", none, "write 0 1500 1500"},
      {206, 1000, L"500", L"bytes 1000-1499/1500", "append 1000 1500 500"},
      {206, 1000, none, L"bytes 1000-1499/1500", "append 1000 1500 -1"},
      {206, 1000, none, L"bytes 1000-1499/*", "append 1000 -1 -1"},
      {206, 1000, L"9223372036854775807", none, "append 1000 9223372036854775807 9223372036854775807"},
      {206, 1000, L"1500", L"bytes 0-1499/1500", "!Server sent bytes from 0 instead of 1000"},
      {206, 0, L"10", L"bytes 5-14/15", "!Server sent bytes from 5 instead of 0"},
      {206, -3, L"10", L"bytes 0-9/10", "write 0 10 10"},
  };
  for (const auto& [status, offset, length, range, shown] : cases)
    EXPECT_EQ(Show(PlanDownload(status, offset, length, range)), shown) << status << " at " << offset;
}

TEST(HttpDownloadPlan, BodyEndErrors) {
  EXPECT_EQ(BodyEndError("Download", 0, 500, 500, false), "");
  EXPECT_EQ(BodyEndError("Download", 0, 12345, -1, false), "");
  EXPECT_EQ(BodyEndError("Download", 1000, 200, 500, false), "Download incomplete: 1200 of 1500 bytes arrived");
  EXPECT_EQ(BodyEndError("Reply", 0, 70, -1, true), "Reply interrupted after 70 bytes");
  // A failed read is a failure even when every announced byte had already arrived.
  EXPECT_EQ(BodyEndError("Download", 0, 500, 500, true), "Download interrupted after 500 of 500 bytes");
}

}  // namespace
