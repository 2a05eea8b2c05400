#include "net/http_url.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

UrlParts Split(const std::wstring& url) {
  UrlParts parts;
  EXPECT_TRUE(SplitUrl(url, parts)) << std::string(url.begin(), url.end());
  return parts;
}

bool Rejected(const std::wstring& url) {
  UrlParts parts;
  parts.host = L"untouched";
  const bool ok = SplitUrl(url, parts);
  return !ok && parts.host == L"untouched";
}

TEST(SplitUrl, SchemesAndDefaultPorts) {
  UrlParts plain = Split(L"http://updates.example.org/launcher/manifest.php");
  EXPECT_FALSE(plain.secure);
  EXPECT_EQ(plain.host, L"updates.example.org");
  EXPECT_EQ(plain.port, 80);
  EXPECT_EQ(plain.path, L"/launcher/manifest.php");

  UrlParts secure = Split(L"HTTPS://cdn.example.org/files/a.mpq");
  EXPECT_TRUE(secure.secure);
  EXPECT_EQ(secure.port, 443);
  EXPECT_EQ(secure.path, L"/files/a.mpq");
}

TEST(SplitUrl, PortsPathsAndQueries) {
  UrlParts parts = Split(L"http://127.0.0.1:8405/a/b.bin?cut=10&x=%20y#section");
  EXPECT_EQ(parts.host, L"127.0.0.1");
  EXPECT_EQ(parts.port, 8405);
  EXPECT_EQ(parts.path, L"/a/b.bin?cut=10&x=%20y");

  EXPECT_EQ(Split(L"http://host").path, L"/");
  EXPECT_EQ(Split(L"http://host#top").path, L"/");
  EXPECT_EQ(Split(L"http://host?q=1").path, L"/?q=1");
  EXPECT_EQ(Split(L"http://host:/x").port, 80);
  EXPECT_EQ(Split(L"https://host:65535/").port, 65535);

  UrlParts v6 = Split(L"http://[::1]:9000/x");
  EXPECT_EQ(v6.host, L"::1");
  EXPECT_EQ(v6.port, 9000);
}

TEST(SplitUrl, RejectsMalformedAddresses) {
  for (const wchar_t* url : {L"", L"updates.example.org/manifest.php", L"ftp://host/x", L"http:/host/x", L"http://",
                             L"http:///path", L"http://:80/x", L"http://user:pw@host/x", L"http://host:0/",
                             L"http://host:65536/", L"http://host:8a/", L"http://host:123456/", L"http://ho st/",
                             L"http://host/a\nb", L"http://[::1/x", L"http://[::1]x/", L"http://[]/x"}) {
    EXPECT_TRUE(Rejected(url)) << std::string(url, url + std::wcslen(url));
  }
}

TEST(SplitUrl, LengthLimitsOfHostAndPath) {
  const std::wstring longest_host(kMaxUrlHostChars - 1, L'h');
  EXPECT_EQ(Split(L"http://" + longest_host + L"/").host, longest_host);
  EXPECT_TRUE(Rejected(L"http://" + longest_host + L"h/"));

  const std::wstring longest_path = L"/" + std::wstring(kMaxUrlPathChars - 2, L'p');
  EXPECT_EQ(Split(L"http://host" + longest_path).path, longest_path);
  EXPECT_TRUE(Rejected(L"http://host" + longest_path + L"p"));
}

}  // namespace
