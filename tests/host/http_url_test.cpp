#include "net/http_url.h"

#include <gtest/gtest.h>

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

UrlParts Split(const std::wstring& url) {
  UrlParts parts;
  EXPECT_TRUE(SplitUrl(url, parts)) << Narrow(url);
  return parts;
}

const std::wstring kLongestHost(kMaxUrlHostChars - 1, L'h');
const std::wstring kLongestPath = L"/" + std::wstring(kMaxUrlPathChars - 2, L'p');

TEST(SplitUrl, TakesSchemeHostPortAndPath) {
  const UrlParts secure = Split(L"HTTPS://cdn.example.org/files/a.mpq");
  EXPECT_TRUE(secure.secure);
  EXPECT_EQ(secure.host, L"cdn.example.org");
  EXPECT_EQ(secure.port, 443);
  EXPECT_EQ(secure.path, L"/files/a.mpq");

  const UrlParts plain = Split(L"http://127.0.0.1:8405/a/b.bin?cut=10&x=%20y#section");
  EXPECT_FALSE(plain.secure);
  EXPECT_EQ(plain.host, L"127.0.0.1");
  EXPECT_EQ(plain.port, 8405);
  EXPECT_EQ(plain.path, L"/a/b.bin?cut=10&x=%20y");

  EXPECT_EQ(Split(L"http://host#top").path, L"/");
  EXPECT_EQ(Split(L"http://host?q=1").path, L"/?q=1");
  EXPECT_EQ(Split(L"http://host:/x").port, 80);
  EXPECT_EQ(Split(L"https://host:65535/").port, 65535);
  EXPECT_EQ(Split(L"http://[::1]:9000/x").host, L"::1");
  EXPECT_EQ(Split(L"http://" + kLongestHost + L"/").host, kLongestHost);
  EXPECT_EQ(Split(L"http://host" + kLongestPath).path, kLongestPath);
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
        L"http://host/a\nb", L"http://[::1/x", L"http://[::1]x/"}) {
    EXPECT_TRUE(rejected(url)) << Narrow(url);
  }
  EXPECT_TRUE(rejected(L"http://" + kLongestHost + L"h/"));
  EXPECT_TRUE(rejected(L"http://host" + kLongestPath + L"p"));
}

}  // namespace
